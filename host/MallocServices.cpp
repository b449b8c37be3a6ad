// HostServices over malloc: pool memory for the plug-in, and tracked records and text
// buffers, with the record queue the plug-in fills and the host drains.
#include "MallocServices.hpp"

#include <cstdlib>
#include <cstring>

namespace wqhost {

// Header in front of every record and raw buffer: the tracking list, the record's kind
// and its place in a queue. The queue word holds the head record; the head's header
// keeps the tail, so appending costs the same however long the queue is.
struct alignas(16) TrackedBlock {
    TrackedBlock* prev;
    TrackedBlock* next;
    OutputRecord* queueNext;
    OutputRecord* queueTail;
    int32_t kind;  // 0 for a raw buffer
};

namespace {

constexpr int32_t kRawBuffer = 0;

MallocServices* self(HostServices* services) { return reinterpret_cast<MallocServices*>(services); }

TrackedBlock* headerOf(const void* payload) {
    return reinterpret_cast<TrackedBlock*>(const_cast<char*>(static_cast<const char*>(payload))) -
           1;
}

void* payloadOf(TrackedBlock* block) { return block + 1; }

void* allocTracked(MallocServices* s, size_t bytes, int32_t kind) {
    TrackedBlock* block = static_cast<TrackedBlock*>(std::calloc(1, sizeof(TrackedBlock) + bytes));
    if (block == nullptr) return nullptr;
    block->kind = kind;
    block->next = s->tracked;
    if (s->tracked != nullptr) s->tracked->prev = block;
    s->tracked = block;
    if (kind == kRawBuffer)
        ++s->rawLive;
    else
        ++s->recordsLive;
    return payloadOf(block);
}

void freeTracked(MallocServices* s, void* payload) {
    TrackedBlock* block = headerOf(payload);
    if (block->prev != nullptr)
        block->prev->next = block->next;
    else
        s->tracked = block->next;
    if (block->next != nullptr) block->next->prev = block->prev;
    if (block->kind == kRawBuffer)
        --s->rawLive;
    else
        --s->recordsLive;
    std::free(block);
}

void* rawAlloc(HostServices* services, int32_t size) {
    if (size < 0) return nullptr;
    return allocTracked(self(services), static_cast<size_t>(size), kRawBuffer);
}

void* callocMem(HostServices* services, int32_t count, int32_t size) {
    if (count < 0 || size < 0) return nullptr;
    void* block = std::calloc(static_cast<size_t>(count) ? static_cast<size_t>(count) : 1,
                              static_cast<size_t>(size) ? static_cast<size_t>(size) : 1);
    if (block != nullptr) {
        MallocServices* s = self(services);
        if (++s->poolLive > s->poolPeak) s->poolPeak = s->poolLive;
    }
    return block;
}

// A size of 0 or less is refused rather than passed on: realloc would free the block.
void* reallocMem(HostServices*, void* pointer, int32_t size) {
    if (size <= 0) return nullptr;
    return std::realloc(pointer, static_cast<size_t>(size));
}

void freeMem(HostServices* services, void* pointer) {
    if (pointer != nullptr) --self(services)->poolLive;
    std::free(pointer);
}

OutputRecord* newRecord(HostServices* services, int32_t kind) {
    // The host's record is exactly the 13 words the plug-in knows; a zero kind would read
    // as a raw buffer, so it is refused.
    if (kind == kRawBuffer) return nullptr;
    return static_cast<OutputRecord*>(allocTracked(self(services), sizeof(OutputRecord), kind));
}

int32_t putRecord(HostServices*, uintptr_t* queue, OutputRecord* record, int32_t position) {
    if (queue == nullptr || record == nullptr) return 0;
    TrackedBlock* block = headerOf(record);
    OutputRecord* head = reinterpret_cast<OutputRecord*>(*queue);
    block->queueNext = nullptr;
    block->queueTail = nullptr;
    if (head == nullptr) {
        block->queueTail = record;
    } else if (position == 0) {
        block->queueNext = head;
        block->queueTail = headerOf(head)->queueTail;
        headerOf(head)->queueTail = nullptr;
    } else {
        TrackedBlock* headBlock = headerOf(head);
        headerOf(headBlock->queueTail)->queueNext = record;
        headBlock->queueTail = record;
        return 1;
    }
    *queue = reinterpret_cast<uintptr_t>(record);
    return 1;
}

OutputRecord* takeRecord(HostServices*, uintptr_t* queue, int32_t) {
    if (queue == nullptr || *queue == 0) return nullptr;
    OutputRecord* head = reinterpret_cast<OutputRecord*>(*queue);
    TrackedBlock* block = headerOf(head);
    OutputRecord* next = block->queueNext;
    if (next != nullptr) headerOf(next)->queueTail = block->queueTail;
    *queue = reinterpret_cast<uintptr_t>(next);
    block->queueNext = nullptr;
    block->queueTail = nullptr;
    return head;
}

}  // namespace

void initMallocServices(MallocServices* services) {
    std::memset(services, 0, sizeof *services);
    services->table.rawAlloc = rawAlloc;
    services->table.callocMem = callocMem;
    services->table.reallocMem = reallocMem;
    services->table.freeMem = freeMem;
    services->table.newRecord = newRecord;
    services->table.putRecord = putRecord;
    services->table.takeRecord = takeRecord;
}

void finishMallocServices(MallocServices* services) {
    while (services->tracked != nullptr) freeTracked(services, payloadOf(services->tracked));
}

int32_t recordKind(const OutputRecord* record) { return headerOf(record)->kind; }

void releaseRecord(MallocServices* services, OutputRecord* record) {
    if (record == nullptr) return;
    // Only a text record carries a buffer, and only one this host handed out.
    if (recordKind(record) == RecordText && record->text != nullptr) {
        freeTracked(services, record->text);
    }
    freeTracked(services, record);
}

void initHostParams(HostParams* params, MallocServices* services) {
    std::memset(params, 0, sizeof *params);
    params->services = &services->table;
}

}  // namespace wqhost
