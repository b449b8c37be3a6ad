// Block storage: a pool over the host's memory services. Freed blocks stay in the pool,
// zero-filled, for reuse; host memory goes back only when the whole pool is deleted.
#include "DxfPublicStorage.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

struct BlockRecord {
    BlockRecord* next;   // created after this one; null for the newest
    BlockRecord* older;  // created before this one; null for the oldest
    int32_t capacity;    // usable bytes, fixed when the record is made
    int32_t requested;   // size the block was last handed out for
    int32_t isFree;
    unsigned char* memory;
    // Bytes the host actually holds for `memory`: capacity + 1 until a growth enlarges
    // it. Only a growth of a block still in use reads it, so that it never shrinks.
    int32_t memoryBytes;
};

struct StorageContext {
    HostServices* services;
    int32_t blocksInUse;  // kept for debugging; nothing reads it
    BlockRecord* firstBlock;
    BlockRecord* newestBlock;
    BlockRecord* lastBlock;
    int32_t mode;
    BlockRecord* (*findBlock)(DxfPublicStorage* self, const void* address);
    BlockRecord* (*findFreeBlock)(DxfPublicStorage* self);
    int32_t (*roundSize)(DxfPublicStorage* self, int32_t size);
};

StorageContext* contextOf(DxfPublicStorage* self) {
    return static_cast<StorageContext*>(self->context);
}

// The record whose range [memory, memory + capacity) holds the address, free or not; null
// when none does. A block of capacity 0 holds no address and is never found.
BlockRecord* findBlock(DxfPublicStorage* self, const void* address) {
    const uintptr_t place = reinterpret_cast<uintptr_t>(address);
    for (BlockRecord* record = contextOf(self)->newestBlock; record != nullptr;
         record = record->older) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(record->memory);
        if (base <= place && place - base < static_cast<uintptr_t>(record->capacity)) {
            return record;
        }
    }
    return nullptr;
}

// The most recently created free record, whatever its capacity, or null. Taking the newest
// rather than the best fit keeps reuse to one short walk.
BlockRecord* findFreeBlock(DxfPublicStorage* self) {
    for (BlockRecord* record = contextOf(self)->newestBlock; record != nullptr;
         record = record->older) {
        if (record->isFree) return record;
    }
    return nullptr;
}

// The capacity a request of `size` bytes gets: exactly the size in mode 1; otherwise small
// sizes are rounded up to a few fixed steps so that a freed block fits later requests.
int32_t roundSize(DxfPublicStorage* self, int32_t size) {
    if (contextOf(self)->mode == StorageExactSizes) return size;
    if (size < 128) return 256;
    if (size < 256) return 512;
    if (size < 512) return 1024;
    if (size < 1024) return 1536;
    // Larger sizes go up to the next multiple of 512, in line with the steps above; near
    // the top of the range, where that would overflow, the size is kept as it is.
    const int64_t rounded = (static_cast<int64_t>(size) + 511) / 512 * 512;
    return rounded > INT32_MAX ? size : static_cast<int32_t>(rounded);
}

// The record's memory, enlarged so that it has room for `extra` bytes beyond its requested
// size, or null when the size would overflow or the host cannot resize it (the block then
// keeps its old memory).
void* growRecord(DxfPublicStorage* self, BlockRecord* record, int32_t extra) {
    StorageContext* ctx = contextOf(self);
    if (extra < 0) return nullptr;
    const int64_t wanted = static_cast<int64_t>(record->requested) + extra;
    if (record->capacity >= wanted) return record->memory;
    int64_t newBytes = static_cast<int64_t>(record->capacity) + ctx->roundSize(self, extra);
    // A free block is being handed out afresh, so its old contents are dropped and it is
    // resized to exactly capacity + rounded extra. A block still in use (only an outside
    // caller grows one) keeps its contents, never gets smaller than the host memory it has,
    // and always gets room for requested + extra plus the spare byte.
    const bool inUse = record->isFree == 0;
    if (inUse && newBytes < wanted + 1) newBytes = wanted + 1;
    if (newBytes > INT32_MAX) return nullptr;
    if (inUse && newBytes <= record->memoryBytes) return record->memory;
    void* moved =
        ctx->services->reallocMem(ctx->services, record->memory, static_cast<int32_t>(newBytes));
    // On failure the host still holds the old memory, which the record keeps: teardown
    // gives it back, and the block stays as it was.
    if (moved == nullptr) return nullptr;
    const int32_t keep = inUse ? record->memoryBytes : 0;
    record->memory = static_cast<unsigned char*>(moved);
    record->memoryBytes = static_cast<int32_t>(newBytes);
    std::memset(record->memory + keep, 0, static_cast<size_t>(newBytes - keep));
    return record->memory;
}

// The memory of the block holding `address`, grown as growRecord does; null when no block
// holds the address.
void* growBlock(DxfPublicStorage* self, void* address, int32_t extra) {
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    return record == nullptr ? nullptr : growRecord(self, record, extra);
}

// A zero-filled block of at least `size` bytes: the newest free block when there is one
// (grown when it is too small), else a new one; null on a negative size or host failure.
void* allocBlock(DxfPublicStorage* self, int32_t size) {
    StorageContext* ctx = contextOf(self);
    if (size < 0) return nullptr;
    const int32_t rounded = ctx->roundSize(self, size);
    if (rounded == INT32_MAX) return nullptr;  // no room for the spare byte

    BlockRecord* record = ctx->findFreeBlock(self);
    if (record != nullptr) {
        // freeBlock zero-filled the capacity; a grown block comes back zero-filled whole.
        if (record->capacity < size && growRecord(self, record, size) == nullptr) {
            return nullptr;  // the record stays free with its old memory
        }
        record->requested = size;
        record->isFree = 0;
        ++ctx->blocksInUse;
        return record->memory;
    }

    HostServices* services = ctx->services;
    record = static_cast<BlockRecord*>(
        services->callocMem(services, 1, static_cast<int32_t>(sizeof(BlockRecord))));
    if (record == nullptr) return nullptr;
    record->memory = static_cast<unsigned char*>(services->callocMem(services, 1, rounded + 1));
    if (record->memory == nullptr) {
        services->freeMem(services, record);
        return nullptr;
    }
    record->capacity = rounded;
    record->requested = size;
    record->memoryBytes = rounded + 1;
    if (ctx->lastBlock != nullptr) {
        ctx->lastBlock->next = record;
    } else {
        ctx->firstBlock = record;
    }
    ctx->lastBlock = record;
    record->older = ctx->newestBlock;
    ctx->newestBlock = record;
    ++ctx->blocksInUse;
    return record->memory;
}

// Marks the block holding `address` free and clears it for its next user; an address in
// no block is ignored. The memory stays with the pool.
void freeBlock(DxfPublicStorage* self, void* address) {
    StorageContext* ctx = contextOf(self);
    BlockRecord* record = ctx->findBlock(self, address);
    if (record == nullptr) return;
    // A second free of the same block leaves the count alone, so it counts blocks in use.
    if (record->isFree == 0) --ctx->blocksInUse;
    record->isFree = 1;
    std::memset(record->memory, 0, static_cast<size_t>(record->capacity));
}

// The memory of the block holding `address`, with the address's offset in it stored in
// `offset`; null and offset 0 when no block holds it.
void* blockBase(DxfPublicStorage* self, int32_t* offset, void* address) {
    if (offset != nullptr) *offset = 0;
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    if (record == nullptr) return nullptr;
    if (offset != nullptr) {
        *offset = static_cast<int32_t>(static_cast<unsigned char*>(address) - record->memory);
    }
    return record->memory;
}

// The size the block holding `address` was last handed out for, or 0.
int32_t blockLength(DxfPublicStorage* self, void* address) {
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    return record == nullptr ? 0 : record->requested;
}

// Memory straight from the host, untracked: it is meant to be handed on to the host (text
// buffers inside output records), so the pool neither finds nor releases it.
void* hostAlloc(DxfPublicStorage* self, int32_t size) {
    if (size < 0) return nullptr;
    HostServices* services = contextOf(self)->services;
    return services->rawAlloc(services, size);
}

}  // namespace

DxfPublicStorage* newDxfPublicStorage(HostServices* services, int32_t mode) {
    if (services == nullptr) return nullptr;
    auto* self = static_cast<DxfPublicStorage*>(
        services->callocMem(services, 1, static_cast<int32_t>(sizeof(DxfPublicStorage))));
    if (self == nullptr) return nullptr;
    auto* ctx = static_cast<StorageContext*>(
        services->callocMem(services, 1, static_cast<int32_t>(sizeof(StorageContext))));
    if (ctx == nullptr) {
        services->freeMem(services, self);
        return nullptr;
    }
    ctx->services = services;
    ctx->mode = mode;
    ctx->findBlock = findBlock;
    ctx->findFreeBlock = findFreeBlock;
    ctx->roundSize = roundSize;
    self->context = ctx;
    self->allocBlock = allocBlock;
    self->growBlock = growBlock;
    self->freeBlock = freeBlock;
    self->blockBase = blockBase;
    self->blockLength = blockLength;
    self->hostAlloc = hostAlloc;
    return self;
}

void deleteDxfPublicStorage(DxfPublicStorage* storage) {
    if (storage == nullptr) return;
    StorageContext* ctx = contextOf(storage);
    if (ctx != nullptr) {
        HostServices* services = ctx->services;
        BlockRecord* record = ctx->newestBlock;
        while (record != nullptr) {
            BlockRecord* older = record->older;
            services->freeMem(services, record->memory);
            services->freeMem(services, record);
            record = older;
        }
        services->freeMem(services, ctx);
        services->freeMem(services, storage);
    }
}
