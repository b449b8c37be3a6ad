// The test host: toolkit stream and services behind wrappers that inject faults, log
// calls and count live blocks.
#include "FakeHost.hpp"

#include <algorithm>
#include <cstring>

namespace wqtest {

// The wrappers find their FakeHost through a host word of each table the toolkit leaves free.
struct FakeHostCalls {
    static constexpr int kStreamBackWord = 7, kServicesBackWord = 3;
    static FakeHost* of(HostStream* s) {
        return reinterpret_cast<FakeHost*>(s->hostWords0to7[kStreamBackWord]);
    }
    static FakeHost* of(HostServices* s) {
        return reinterpret_cast<FakeHost*>(s->hostWords0to3[kServicesBackWord]);
    }
    // Logs a call (when logging) and gives back the host, so a wrapper reads in one line.
    template <class Table>
    static FakeHost* note(Table* s, Op op, const void* pointer, int64_t a, int64_t b = 0,
                          const void* result = nullptr) {
        FakeHost* h = of(s);
        if (h->logCalls) h->log.push_back(HostCall{op, pointer, a, b, result});
        return h;
    }

    static int32_t open(HostStream* s) {
        FakeHost* h = note(s, Op::Open, nullptr, 0);
        const int32_t result = h->openFault.trip() ? 0 : h->innerStream.open(s);
        h->opens += result != 0;
        return result;
    }
    // Fills the window asked for, up to the end of the document, as a plain host does: the
    // toolkit's stream may stop after the line the reader keeps, and the rest comes straight
    // from the document, so the reader's tests see every byte after a line end that
    // another host may hand it.
    static int32_t fillWindow(FakeHost* h, HostStream* s, void* buffer, int32_t size) {
        const int32_t got = h->innerStream.read(s, buffer, size);
        wqhost::MemoryStream& m = h->memory;
        if (got <= 0 || got >= size || m.offset >= m.size) return got;
        const int32_t rest = std::min(size - got, m.size - m.offset);
        std::memcpy(static_cast<char*>(buffer) + got, m.data + m.offset, static_cast<size_t>(rest));
        m.offset += rest;
        return got + rest;
    }
    static int32_t read(HostStream* s, void* buffer, int32_t size) {
        FakeHost* h = note(s, Op::Read, buffer, size);
        const int32_t got = h->readFault.trip() ? -1 : fillWindow(h, s, buffer, size);
        const int32_t kept = got > 0 ? got : 0;
        if (size > kept) std::memset(static_cast<char*>(buffer) + kept, 0xA5, size_t(size - kept));
        return got;
    }
    static int32_t seek(HostStream* s, int32_t offset, int32_t whence) {
        FakeHost* h = note(s, Op::Seek, nullptr, offset, whence);
        return h->seekFault.trip() ? 0 : h->innerStream.seek(s, offset, whence);
    }
    static int32_t tell(HostStream* s) {
        FakeHost* h = note(s, Op::Tell, nullptr, 0);
        return h->tellFault.trip() ? -1 : h->innerStream.tell(s);
    }
    static int32_t close(HostStream* s) {
        FakeHost* h = note(s, Op::Close, nullptr, 0);
        ++h->closes;
        return h->innerStream.close(s);
    }
    static void report(HostStream* s, const char* message, int32_t zero) {
        note(s, Op::Report, message, zero)->reported.push_back(message ? message : "(null)");
    }

    // The memory calls are logged after they are made, with what they handed out.
    static void* rawAlloc(HostServices* s, int32_t size) {
        FakeHost* h = of(s);
        void* result = h->allocFault.trip() ? nullptr : h->innerServices.rawAlloc(s, size);
        return note(s, Op::RawAlloc, nullptr, size, 0, result), result;
    }
    static void* callocMem(HostServices* s, int32_t count, int32_t size) {
        FakeHost* h = of(s);
        void* result = h->allocFault.trip() ? nullptr : h->innerServices.callocMem(s, count, size);
        if (result != nullptr) h->poolLive.insert(result);
        return note(s, Op::Calloc, nullptr, count, size, result), result;
    }
    static void* reallocMem(HostServices* s, void* pointer, int32_t size) {
        FakeHost* h = of(s);
        if (pointer != nullptr && h->poolLive.count(pointer) == 0) ++h->foreignFrees;
        void* result =
            h->allocFault.trip() ? nullptr : h->innerServices.reallocMem(s, pointer, size);
        if (result != nullptr) {
            h->poolLive.erase(pointer);
            h->poolLive.insert(result);
        }
        return note(s, Op::Realloc, pointer, size, 0, result), result;
    }
    static void freeMem(HostServices* s, void* pointer) {
        FakeHost* h = note(s, Op::Free, pointer, 0);
        if (pointer == nullptr) return;
        if (h->poolLive.erase(pointer) != 0) return h->innerServices.freeMem(s, pointer);
        ++h->foreignFrees;  // never handed out, or freed twice: must not reach free()
    }
    static OutputRecord* newRecord(HostServices* s, int32_t kind) {
        FakeHost* h = of(s);
        OutputRecord* result = h->allocFault.trip() ? nullptr : h->innerServices.newRecord(s, kind);
        if (result != nullptr) std::memset(result, 0xA5, sizeof *result);
        return note(s, Op::NewRecord, nullptr, kind, 0, result), result;
    }
    static int32_t putRecord(HostServices* s, uintptr_t* queue, OutputRecord* record,
                             int32_t position) {
        FakeHost* h = note(s, Op::PutRecord, record, position);
        if (position != 0 && position != -1) ++h->badPositions;
        if (position == 0 && queue != nullptr && *queue != 0) ++h->badPositions;
        return h->innerServices.putRecord(s, queue, record, position);
    }
    static OutputRecord* takeRecord(HostServices* s, uintptr_t* queue, int32_t zero) {
        OutputRecord* result = of(s)->innerServices.takeRecord(s, queue, zero);
        return note(s, Op::TakeRecord, queue, zero, 0, result), result;
    }
};

FakeHost::FakeHost(const std::string& bytes) : document(bytes) {
    wqhost::initMemoryStream(&memory, document.data(), static_cast<int32_t>(document.size()));
    innerStream = memory.table;
    memory.table.hostWords0to7[FakeHostCalls::kStreamBackWord] = reinterpret_cast<uintptr_t>(this);
    memory.table.open = FakeHostCalls::open;
    memory.table.read = FakeHostCalls::read;
    memory.table.seek = FakeHostCalls::seek;
    memory.table.tell = FakeHostCalls::tell;
    memory.table.close = FakeHostCalls::close;
    memory.table.reportError = FakeHostCalls::report;

    wqhost::initMallocServices(&malloced);
    innerServices = malloced.table;
    malloced.table.hostWords0to3[FakeHostCalls::kServicesBackWord] =
        reinterpret_cast<uintptr_t>(this);
    malloced.table.rawAlloc = FakeHostCalls::rawAlloc;
    malloced.table.callocMem = FakeHostCalls::callocMem;
    malloced.table.reallocMem = FakeHostCalls::reallocMem;
    malloced.table.freeMem = FakeHostCalls::freeMem;
    malloced.table.newRecord = FakeHostCalls::newRecord;
    malloced.table.putRecord = FakeHostCalls::putRecord;
    malloced.table.takeRecord = FakeHostCalls::takeRecord;

    wqhost::initHostParams(&hostParams, &malloced);
}

std::string FakeHost::textOf(const OutputRecord* r) {
    const bool text = wqhost::recordKind(r) == RecordText && r->text != nullptr;
    return text ? std::string(r->text, size_t(std::clamp<intptr_t>(r->textLength, 0, 2048))) : "";
}

}  // namespace wqtest
