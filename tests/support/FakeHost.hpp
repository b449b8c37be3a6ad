// A host for tests: a memory document and malloc services from the host toolkit, wrapped
// so that any call can be made to fail, every host call can be logged, and every live
// block is counted by the service that made it.
#ifndef WQTEST_FAKE_HOST_HPP
#define WQTEST_FAKE_HOST_HPP

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "DxfHost.h"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace wqtest {

// Fails call number `failAt` (counting from 0) and, when persistent, every later one.
struct Fault {
    int32_t failAt = -1;
    bool persistent = false;
    int32_t calls = 0;     // calls seen so far
    int32_t injected = 0;  // calls made to fail
    bool trip() {          // counts one call; true when it must fail
        const bool fail = failAt >= 0 && (persistent ? calls >= failAt : calls == failAt);
        ++calls;
        injected += fail;
        return fail;
    }
};

// In the order of the golden transcripts' names.
// clang-format off
enum class Op { RawAlloc, Calloc, Realloc, Free, NewRecord, PutRecord, TakeRecord, Open, Read,
                Seek, Tell, Close, Report };
// clang-format on

struct HostCall {
    Op op;
    const void* pointer;  // argument pointer (free, realloc, put, take) or null
    int64_t a;            // size, count, kind, offset or position
    int64_t b;            // second number (calloc size, whence) or 0
    const void* result;   // memory or record handed out, null otherwise
};

class FakeHost {
  public:
    explicit FakeHost(const std::string& document = std::string());
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    HostStream* stream() { return &memory.table; }
    HostServices* services() { return &malloced.table; }
    HostParams* params() { return &hostParams; }  // word 30 = services()

    // One counter over rawAlloc, callocMem, reallocMem and newRecord: the k-th of them fails.
    // Reads fill the caller's buffer past the bytes they give, and new records all through,
    // with 0xA5: the plug-in must not rely on zeros there.
    Fault allocFault;
    Fault openFault, readFault, seekFault, tellFault;

    // Live blocks of callocMem and reallocMem not yet given back with freeMem.
    int64_t poolBlocksLive() const { return static_cast<int64_t>(poolLive.size()); }
    int64_t rawBlocksLive() const { return malloced.rawLive; }  // rawAlloc buffers not released
    int32_t foreignFrees = 0;  // freeMem/reallocMem of memory the pool never got from here
    int32_t badPositions = 0;  // putRecord positions other than 0 (into an empty queue) and -1
    int32_t opens = 0, closes = 0;
    std::vector<std::string> reported;  // reportError messages, in order
    bool logCalls = false;
    std::vector<HostCall> log;  // filled while logCalls is true

    // The text of a text record (up to 2048 bytes), empty for other records.
    static std::string textOf(const OutputRecord* record);
    // Releases a record this host made (its text buffer too).
    void release(OutputRecord* record) { wqhost::releaseRecord(&malloced, record); }
    // Removes the stream's reportError, so that failures are silent.
    void withoutReportError() { memory.table.reportError = nullptr; }

  private:
    std::string document;
    wqhost::MemoryStream memory;
    wqhost::MallocServices malloced;  // gives back whatever is still live when the host goes
    HostParams hostParams;
    HostStream innerStream;  // the toolkit's own slots, called after the fault checks
    HostServices innerServices;
    std::unordered_set<void*> poolLive;  // callocMem/reallocMem blocks handed out, not freed
    friend struct FakeHostCalls;
};

}  // namespace wqtest

#endif
