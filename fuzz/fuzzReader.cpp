// Fuzz target: any byte sequence as a whole document, from startSrcDXF to shutDownDXFsrc.
// Built with libFuzzer under clang (-DWQ_FUZZ=ON); otherwise ReplayMain.cpp replays the
// files given on the command line, which the test suite runs over tests/corpus/.
#include <cstdint>
#include <cstdlib>

#include "DxfFileStrmIo.h"
#include "DxfSource.h"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace {

// Every record sequence the reader may deliver: (S T* E)* D, possibly cut short by a null.
void runDocument(const uint8_t* data, size_t size) {
    if (size > 1 << 24) return;
    wqhost::MemoryStream stream;
    wqhost::initMemoryStream(&stream, data, static_cast<int32_t>(size));
    // The services count their pool blocks, so that a leak aborts the run, not just a sanitizer.
    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    HostParams params;
    wqhost::initHostParams(&params, &services);

    DxfSource* source = startSrcDXF(&stream.table, &params);
    if (source != nullptr) {
        bool inEntity = false;
        // Even with BLOCKS running on into ENTITIES, n bytes give fewer than 2n records: the cap
        // turns a delivery loop into a crash.
        for (size_t calls = 0;; ++calls) {
            if (calls > 2 * size + 16) std::abort();
            OutputRecord* record = getDXFobject(source);
            if (record == nullptr) break;
            const int32_t kind = wqhost::recordKind(record);
            if (kind == RecordTextStart) {
                inEntity = true;
            } else if (kind == RecordText) {
                if (!inEntity || record->textLength < 0 || record->textLength >= DxfLineBytes) std::abort();
            } else if (kind == RecordTextEnd) {
                if (!inEntity) std::abort();
                inEntity = false;
            } else if (kind == RecordEndOfDocument) {
                wqhost::releaseRecord(&services, record);
                if (getDXFobject(source) != nullptr) std::abort();
                break;
            }
            wqhost::releaseRecord(&services, record);
        }
        shutDownDXFsrc(source);
    }
    if (services.poolLive != 0) std::abort();
    wqhost::finishMallocServices(&services);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runDocument(data, size);
    return 0;
}
