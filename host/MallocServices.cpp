// HostServices for one document: the reader's blocks carved from an arena, records and text
// buffers kept on free lists, and the record queue the plug-in fills and the host drains.
#include "MallocServices.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

// Under AddressSanitizer the arena poisons what nobody may touch: a chunk's unused part,
// block headers, freed blocks, records and text buffers on the free lists. A reader that
// uses a block after freeing it is then caught as it would be with malloc.
#if defined(__SANITIZE_ADDRESS__)
#define WQHOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WQHOST_ASAN 1
#endif
#endif
#ifdef WQHOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace wqhost {

// A chunk's first bytes: the list of chunks.
struct ArenaChunk {
    ArenaChunk* next;
};

// In front of a block too large for a chunk: the list that finish walks.
struct LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
};

// In front of every record and raw buffer: the record's kind and its place in a queue or
// on a free list. The queue word holds the head record; the head's header keeps the tail,
// so appending costs the same however long the queue is.
struct alignas(16) ItemHeader {
    OutputRecord* queueNext;
    OutputRecord* queueTail;
    ItemHeader* nextFree;
    int32_t kind;      // 0 for a raw buffer
    int32_t capacity;  // the bytes after the header
};

namespace {

// Blocks are aligned as malloc's are, for whatever the reader keeps in them.
constexpr size_t kAlign = 16;

// The 8 bytes right before every block, from a chunk or from malloc: the size it was last
// asked for, which a copying realloc needs, and the bytes a chunk's block takes with its
// header, which stay when it shrinks; 0 there for a block from malloc.
struct BlockHeader {
    uint32_t bytes;
    uint32_t span;
};
static_assert(sizeof(BlockHeader) == 8, "a header keeps its block 16-aligned in 8 bytes");

constexpr size_t roundUp(size_t bytes) { return (bytes + kAlign - 1) & ~(kAlign - 1); }

// Header and block together, so that the next header again sits 8 bytes before a 16-byte
// boundary: malloc's own rounding, so a document takes as many bytes as it did from malloc.
constexpr size_t spanOf(size_t bytes) { return roundUp(bytes + sizeof(BlockHeader)); }

// Chunks as small as this take no more memory than malloc did for the blocks one by one:
// they fit in what the heap has free, where a larger chunk made it grow (with chunks of 64
// or 128 KiB, dxftext's peak on a 128 MiB drawing was about 100 KiB higher). A document's
// blocks (about 660, 70 KB, whatever its size) take three. Malloc's header brings one to
// 32 KiB.
constexpr size_t kChunkBytes = 32 * 1024 - 16;
// Larger blocks come from malloc, so that freeing one gives its memory back at once and a
// chunk never ends in much unused space. The reader's largest blocks are about 4 KiB.
constexpr size_t kLargestArenaSpan = 8 * 1024;
// The reader's sizes are signed 32-bit.
constexpr uint64_t kLargestBlock = INT32_MAX;
// Where a chunk's first header lies, and a large block's payload.
constexpr size_t kChunkStart = roundUp(sizeof(ArenaChunk)) + sizeof(BlockHeader);
static_assert(kChunkBytes % kAlign == 0 && kChunkBytes - kChunkStart >= kLargestArenaSpan,
              "every block the arena serves fits in a new chunk");
constexpr size_t kLargeHead = roundUp(sizeof(LargeBlock) + sizeof(BlockHeader));

constexpr int32_t kRawBuffer = 0;
// What the reader asks of rawAlloc for every text; smaller requests get as much.
constexpr int32_t kTextBytes = 2048;

#ifdef WQHOST_ASAN
void poison(const void* p, size_t bytes) { ASAN_POISON_MEMORY_REGION(p, bytes); }
void unpoison(const void* p, size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(p, bytes); }
#else
void poison(const void*, size_t) {}
void unpoison(const void*, size_t) {}
#endif

MallocServices* self(HostServices* services) { return reinterpret_cast<MallocServices*>(services); }

// Headers stay poisoned but while the services read or write them.
BlockHeader readHeader(const void* block) {
    const char* at = static_cast<const char*>(block) - sizeof(BlockHeader);
    BlockHeader header;
    unpoison(at, sizeof header);
    std::memcpy(&header, at, sizeof header);
    poison(at, sizeof header);
    return header;
}

void writeHeader(void* block, size_t bytes, size_t span) {
    char* at = static_cast<char*>(block) - sizeof(BlockHeader);
    const BlockHeader header = {static_cast<uint32_t>(bytes), static_cast<uint32_t>(span)};
    unpoison(at, sizeof header);
    std::memcpy(at, &header, sizeof header);
    poison(at, sizeof header);
}

// --- the arena ------------------------------------------------------------------------

bool addChunk(MallocServices* s) {
    auto* chunk = static_cast<ArenaChunk*>(std::malloc(kChunkBytes));
    if (chunk == nullptr) return false;
    chunk->next = s->chunks;
    s->chunks = chunk;
    s->cursor = reinterpret_cast<char*>(chunk) + kChunkStart;
    s->chunkEnd = reinterpret_cast<char*>(chunk) + kChunkBytes;
    // Zero-filled whole, once: the cursor only moves on, so every block carved from it
    // comes zero-filled without a memset of its own, a thousand of which cost more.
    std::memset(s->cursor, 0, static_cast<size_t>(s->chunkEnd - s->cursor));
    poison(s->cursor, static_cast<size_t>(s->chunkEnd - s->cursor));
    return true;
}

LargeBlock* largeOf(void* block) {
    return reinterpret_cast<LargeBlock*>(static_cast<char*>(block) - kLargeHead);
}

void* largeBlock(MallocServices* s, size_t bytes) {
    auto* large = static_cast<LargeBlock*>(std::calloc(1, kLargeHead + bytes));
    if (large == nullptr) return nullptr;
    large->prev = nullptr;
    large->next = s->large;
    if (s->large != nullptr) s->large->prev = large;
    s->large = large;
    void* block = reinterpret_cast<char*>(large) + kLargeHead;
    writeHeader(block, bytes, 0);
    return block;
}

void unlinkLarge(MallocServices* s, LargeBlock* large) {
    if (large->prev != nullptr)
        large->prev->next = large->next;
    else
        s->large = large->next;
    if (large->next != nullptr) large->next->prev = large->prev;
}

// `bytes` (1 to kLargestBlock) zero-filled bytes, as calloc gives them.
void* zeroedBlock(MallocServices* s, size_t bytes) {
    const size_t span = spanOf(bytes);
    if (span > kLargestArenaSpan) return largeBlock(s, bytes);
    if (span > static_cast<size_t>(s->chunkEnd - s->cursor) && !addChunk(s)) return nullptr;
    char* block = s->cursor + sizeof(BlockHeader);
    s->cursor += span;
    writeHeader(block, bytes, span);
    unpoison(block, bytes);
    return block;
}

// A block of a chunk stays where it is until the chunk goes; a large one goes at once.
void releaseBlock(MallocServices* s, void* block) {
    const BlockHeader header = readHeader(block);
    if (header.span != 0) {
        poison(block, header.span - sizeof(BlockHeader));
        return;
    }
    LargeBlock* large = largeOf(block);
    unlinkLarge(s, large);
    unpoison(large, kLargeHead);
    std::free(large);
}

void* resizeLarge(MallocServices* s, void* block, size_t oldBytes, size_t bytes) {
    LargeBlock* large = largeOf(block);
    unpoison(large, kLargeHead);
    auto* moved = static_cast<LargeBlock*>(std::realloc(large, kLargeHead + bytes));
    if (moved == nullptr) {
        writeHeader(block, oldBytes, 0);
        return nullptr;
    }
    if (moved->prev != nullptr)
        moved->prev->next = moved;
    else
        s->large = moved;
    if (moved->next != nullptr) moved->next->prev = moved;
    char* resized = reinterpret_cast<char*>(moved) + kLargeHead;
    if (bytes > oldBytes) std::memset(resized + oldBytes, 0, bytes - oldBytes);
    writeHeader(resized, bytes, 0);
    return resized;
}

// Resizes in place when the block has room, or when it is the newest chunk's last block and
// the chunk has room; otherwise copies. Bytes past the old size read zero.
void* resizeBlock(MallocServices* s, void* block, size_t bytes) {
    const BlockHeader header = readHeader(block);
    const size_t oldBytes = header.bytes;
    if (header.span == 0) return resizeLarge(s, block, oldBytes, bytes);
    char* start = static_cast<char*>(block) - sizeof(BlockHeader);
    size_t span = header.span;
    if (spanOf(bytes) > span) {
        const bool last = start + span == s->cursor;
        if (!last || spanOf(bytes) > kLargestArenaSpan ||
            spanOf(bytes) > static_cast<size_t>(s->chunkEnd - start)) {
            void* moved = zeroedBlock(s, bytes);
            if (moved == nullptr) return nullptr;
            std::memcpy(moved, block, std::min(oldBytes, bytes));
            releaseBlock(s, block);
            return moved;
        }
        span = spanOf(bytes);
        s->cursor = start + span;
    }
    poison(block, span - sizeof(BlockHeader));
    unpoison(block, bytes);
    if (bytes > oldBytes) std::memset(static_cast<char*>(block) + oldBytes, 0, bytes - oldBytes);
    writeHeader(block, bytes, span);
    return block;
}

// --- records and raw buffers ----------------------------------------------------------

ItemHeader* itemOf(const void* payload) {
    return reinterpret_cast<ItemHeader*>(const_cast<void*>(payload)) - 1;
}

// A zero-filled record or raw buffer of `capacity` bytes, `bytes` of them asked for, from
// the free list when there is one and it holds an item.
void* newItem(MallocServices* s, ItemHeader** freeList, int32_t capacity, int32_t bytes,
              int32_t kind) {
    ItemHeader* item = freeList != nullptr ? *freeList : nullptr;
    if (item != nullptr) {
        *freeList = item->nextFree;
        unpoison(item + 1, static_cast<size_t>(capacity));
        std::memset(item + 1, 0, static_cast<size_t>(bytes));
    } else {
        item = static_cast<ItemHeader*>(
            zeroedBlock(s, sizeof(ItemHeader) + static_cast<size_t>(capacity)));
        if (item == nullptr) return nullptr;
    }
    item->queueNext = item->queueTail = nullptr;
    item->nextFree = nullptr;
    item->kind = kind;
    item->capacity = capacity;
    return item + 1;
}

void releaseItem(ItemHeader** freeList, void* payload) {
    ItemHeader* item = itemOf(payload);
    poison(payload, static_cast<size_t>(item->capacity));
    item->nextFree = *freeList;
    *freeList = item;
}

void* rawAlloc(HostServices* services, int32_t size) {
    if (size < 0) return nullptr;
    MallocServices* s = self(services);
    // Only the usual size is kept for reuse; any other is the arena's until finish.
    void* buffer = size <= kTextBytes ? newItem(s, &s->freeTexts, kTextBytes, size, kRawBuffer)
                                      : newItem(s, nullptr, size, size, kRawBuffer);
    if (buffer != nullptr) ++s->rawLive;
    return buffer;
}

void releaseRaw(MallocServices* s, void* buffer) {
    --s->rawLive;
    if (itemOf(buffer)->capacity == kTextBytes)
        releaseItem(&s->freeTexts, buffer);
    else
        releaseBlock(s, itemOf(buffer));
}

// --- the slots ------------------------------------------------------------------------

void* callocMem(HostServices* services, int32_t count, int32_t size) {
    if (count < 0 || size < 0) return nullptr;
    const uint64_t bytes =
        static_cast<uint64_t>(std::max(count, 1)) * static_cast<uint64_t>(std::max(size, 1));
    if (bytes > kLargestBlock) return nullptr;
    MallocServices* s = self(services);
    void* block = zeroedBlock(s, static_cast<size_t>(bytes));
    if (block != nullptr && ++s->poolLive > s->poolPeak) s->poolPeak = s->poolLive;
    return block;
}

// A size of 0 or less is refused rather than taken as a free, as realloc would.
void* reallocMem(HostServices* services, void* pointer, int32_t size) {
    if (size <= 0) return nullptr;
    MallocServices* s = self(services);
    if (pointer == nullptr) return zeroedBlock(s, static_cast<size_t>(size));
    return resizeBlock(s, pointer, static_cast<size_t>(size));
}

void freeMem(HostServices* services, void* pointer) {
    if (pointer == nullptr) return;
    MallocServices* s = self(services);
    --s->poolLive;
    releaseBlock(s, pointer);
}

OutputRecord* newRecord(HostServices* services, int32_t kind) {
    // The host's record is exactly the 13 words the plug-in knows; a zero kind would read
    // as a raw buffer, so it is refused.
    if (kind == kRawBuffer) return nullptr;
    MallocServices* s = self(services);
    constexpr auto bytes = static_cast<int32_t>(sizeof(OutputRecord));
    auto* record = static_cast<OutputRecord*>(newItem(s, &s->freeRecords, bytes, bytes, kind));
    if (record == nullptr) return nullptr;
    ++s->recordsLive;
    // Word 0 is the host's own: the reader neither reads nor writes it. It holds the offset
    // plus one, so that a record without a stamp stays all zeros as every record starts.
    if (kind == RecordTextStart && s->readOffset != nullptr && *s->readOffset >= 0) {
        record->hostWords0to4[0] = static_cast<uintptr_t>(static_cast<intptr_t>(*s->readOffset + 1));
    }
    return record;
}

int32_t putRecord(HostServices*, uintptr_t* queue, OutputRecord* record, int32_t position) {
    if (queue == nullptr || record == nullptr) return 0;
    ItemHeader* item = itemOf(record);
    OutputRecord* head = reinterpret_cast<OutputRecord*>(*queue);
    item->queueNext = nullptr;
    item->queueTail = nullptr;
    if (head == nullptr) {
        item->queueTail = record;
    } else if (position == 0) {
        item->queueNext = head;
        item->queueTail = itemOf(head)->queueTail;
        itemOf(head)->queueTail = nullptr;
    } else {
        ItemHeader* headItem = itemOf(head);
        itemOf(headItem->queueTail)->queueNext = record;
        headItem->queueTail = record;
        return 1;
    }
    *queue = reinterpret_cast<uintptr_t>(record);
    return 1;
}

OutputRecord* takeRecord(HostServices*, uintptr_t* queue, int32_t) {
    if (queue == nullptr || *queue == 0) return nullptr;
    OutputRecord* head = reinterpret_cast<OutputRecord*>(*queue);
    ItemHeader* item = itemOf(head);
    OutputRecord* next = item->queueNext;
    if (next != nullptr) itemOf(next)->queueTail = item->queueTail;
    *queue = reinterpret_cast<uintptr_t>(next);
    item->queueNext = nullptr;
    item->queueTail = nullptr;
    return head;
}

}  // namespace

MallocServices::~MallocServices() { finishMallocServices(this); }

void initMallocServices(MallocServices* services) {
    finishMallocServices(services);
    services->table = HostServices{};
    services->table.rawAlloc = rawAlloc;
    services->table.callocMem = callocMem;
    services->table.reallocMem = reallocMem;
    services->table.freeMem = freeMem;
    services->table.newRecord = newRecord;
    services->table.putRecord = putRecord;
    services->table.takeRecord = takeRecord;
    services->poolLive = services->poolPeak = 0;
    services->readOffset = nullptr;
}

void finishMallocServices(MallocServices* services) {
    while (LargeBlock* large = services->large) {
        services->large = large->next;
        unpoison(large, kLargeHead);
        std::free(large);
    }
    while (ArenaChunk* chunk = services->chunks) {
        services->chunks = chunk->next;
        unpoison(chunk, kChunkBytes);
        std::free(chunk);
    }
    services->cursor = services->chunkEnd = nullptr;
    services->freeRecords = services->freeTexts = nullptr;
    services->recordsLive = services->rawLive = 0;
}

int32_t recordKind(const OutputRecord* record) { return itemOf(record)->kind; }

int64_t recordReadOffset(const OutputRecord* record) {
    return static_cast<int64_t>(record->hostWords0to4[0]) - 1;
}

void releaseRecord(MallocServices* services, OutputRecord* record) {
    if (record == nullptr) return;
    // Only a text record carries a buffer, and only one this host handed out.
    if (recordKind(record) == RecordText && record->text != nullptr) {
        releaseRaw(services, record->text);
    }
    --services->recordsLive;
    releaseItem(&services->freeRecords, record);
}

void initHostParams(HostParams* params, MallocServices* services) {
    std::memset(params, 0, sizeof *params);
    params->services = &services->table;
}

}  // namespace wqhost
