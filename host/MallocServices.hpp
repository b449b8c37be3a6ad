// HostServices over malloc, with the record queue the reader fills: records are put at
// the head (position 0) or appended (position -1) and taken from the head.
#ifndef WQHOST_MALLOC_SERVICES_HPP
#define WQHOST_MALLOC_SERVICES_HPP

#include <cstdint>

#include "DxfHost.h"

namespace wqhost {

struct TrackedBlock;

// The table comes first, so the reader's HostServices* is the MallocServices*. The host
// words of the table are left free for whoever wraps these services.
// Records and text buffers are tracked until released, so a reader that stops half-way
// (a failed entity, a host that quits early) leaks nothing once finishMallocServices runs.
struct MallocServices {
    HostServices table;
    TrackedBlock* tracked;  // records and rawAlloc buffers not yet released
    int64_t recordsLive;    // records made and not yet released
    int64_t rawLive;        // rawAlloc buffers (record texts) not yet released
    int64_t poolLive;       // callocMem blocks not yet given back with freeMem
    int64_t poolPeak;       // the most poolLive has been: the plug-in's memory high-water mark
};

void initMallocServices(MallocServices* services);
// Releases every record and raw buffer still held; pool blocks are the plug-in's to free.
void finishMallocServices(MallocServices* services);

// What a record is, as the services made it.
int32_t recordKind(const OutputRecord* record);
// Gives back a record taken from the queue, with its text buffer.
void releaseRecord(MallocServices* services, OutputRecord* record);

// The host-side words of the params block a reader starts with: word 30 the services.
void initHostParams(HostParams* params, MallocServices* services);

}  // namespace wqhost

#endif
