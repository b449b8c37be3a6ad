// HostServices for one document, with the record queue the reader fills: records are put
// at the head (position 0) or appended (position -1) and taken from the head.
#ifndef WQHOST_MALLOC_SERVICES_HPP
#define WQHOST_MALLOC_SERVICES_HPP

#include <cstdint>

#include "DxfHost.h"

namespace wqhost {

struct ArenaChunk;
struct LargeBlock;
struct ItemHeader;

// The table comes first, so the reader's HostServices* is the MallocServices*. The host
// words of the table are left free for whoever wraps these services.
//
// The reader's storage makes hundreds of small blocks per document, keeps the ones it frees
// for itself and gives them all back at shutdown, so they are carved from chunks of an arena
// instead of taken from malloc one by one: freeMem of such a block costs nothing, and the
// chunks go back whole when the services are finished. Blocks above a few kilobytes come
// from malloc and go back at once. Records and text buffers released by the host wait on
// free lists for the next ones. Everything, released or not, goes back at finish, so a
// reader that stops half-way (a failed entity, a host that quits early) leaks nothing.
struct MallocServices {
    HostServices table{};
    int64_t recordsLive = 0;  // records made and not yet released
    int64_t rawLive = 0;      // rawAlloc buffers (record texts) not yet released
    int64_t poolLive = 0;     // callocMem blocks not yet given back with freeMem
    int64_t poolPeak = 0;     // the most poolLive has been: the plug-in's memory high-water mark
    // Where the document's stream notes the offset its latest read started at, or null.
    // Each start record is stamped with it as the reader makes it: the reader has just read
    // the line naming the entity, so the stamp says where in the document the entity is.
    const int64_t* readOffset = nullptr;

    // The arena's state, private to MallocServices.cpp.
    ArenaChunk* chunks = nullptr;  // newest first; blocks are carved from the first
    char* cursor = nullptr;        // where the next block of the newest chunk starts
    char* chunkEnd = nullptr;      // the end of the newest chunk
    LargeBlock* large = nullptr;   // blocks too large for a chunk, from malloc, newest first
    ItemHeader* freeRecords = nullptr;
    ItemHeader* freeTexts = nullptr;  // released text buffers of the usual size

    MallocServices() = default;
    ~MallocServices();  // finishes the services if nobody did
    MallocServices(const MallocServices&) = delete;
    MallocServices& operator=(const MallocServices&) = delete;
};

// Sets up the slots and the counters; memory of an earlier use is released first.
void initMallocServices(MallocServices* services);
// Releases every chunk, large block, record and raw buffer; the services hold nothing after
// it and may be finished again. poolLive and poolPeak keep their values for the caller to
// check whether the reader gave back every block.
void finishMallocServices(MallocServices* services);

// What a record is, as the services made it.
int32_t recordKind(const OutputRecord* record);
// The offset a start record was stamped with (see readOffset); -1 when none was.
int64_t recordReadOffset(const OutputRecord* record);
// Gives back a record taken from the queue, with its text buffer.
void releaseRecord(MallocServices* services, OutputRecord* record);

// The host-side words of the params block a reader starts with: word 30 the services.
void initHostParams(HostParams* params, MallocServices* services);

}  // namespace wqhost

#endif
