// Block storage: a pool over the host's memory services. Freed blocks stay in the pool,
// zero-filled, for reuse; host memory goes back only when the whole pool is deleted.
#include "DxfPublicStorage.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

struct BlockRecord;

// A record's two links in one of the pool's structures.
struct TreeLinks {
    BlockRecord* left;
    BlockRecord* right;
};

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
    uint64_t sequence;     // 1 for the first record made, one more for each later one
    BlockRecord* sameHash; // the next record in its chain of the table by memory
    TreeLinks byAddress;   // in the tree of all records, keyed by memory, once it is built
    TreeLinks bySequence;  // in the heap of free records: first child (left), next sibling
};

// Chains of the table of records by memory. A document's reader makes about 330 blocks
// whatever the document's size, since it reuses the blocks it frees, so a chain holds
// one record or none nearly always. The table costs 4 KiB of the context on 64-bit hosts,
// which keeps the context among the small requests a host serves fastest.
constexpr unsigned kHashBits = 9;
constexpr size_t kHashChains = size_t{1} << kHashBits;

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
    uint64_t recordsMade;      // the sequence of the newest record; 0 while there is none
    BlockRecord* freeRoot;     // every free record
    BlockRecord* addressRoot;  // every record, once an address inside a block was looked up
    int32_t addressTreeBuilt;
    BlockRecord* byMemory[kHashChains];  // every record, chained by the hash of its memory
};

StorageContext* contextOf(DxfPublicStorage* self) {
    return static_cast<StorageContext*>(self->context);
}

// Lookups go through structures threaded through the records themselves and the context,
// so that they need no host memory of their own. All records are in a table chained by the
// hash of their memory (MemoryTable below), and, once an address inside a block has been
// looked up, in a search tree ordered by memory: a treap whose priorities are a fixed
// scramble of each record's sequence, so the same blocks made in the same order always
// give the same tree, with no random source, and the depth stays near the logarithm of the
// number of records in whatever order the addresses come. The free records are in a heap
// ordered by sequence (FreeHeap below).
uint32_t priorityOf(const BlockRecord* record) {
    uint64_t x = record->sequence * 0x9E3779B97F4A7C15u;
    x ^= x >> 29;
    return static_cast<uint32_t>(x >> 32);
}

uint64_t addressKey(const BlockRecord* record) {
    return reinterpret_cast<uintptr_t>(record->memory);
}

// The chain of a block's start: the host's allocations are aligned, so the low bits say
// little, and a multiplication spreads the rest over the top bits.
size_t chainOf(uint64_t place) {
    return static_cast<size_t>(((place >> 4) * 0x9E3779B97F4A7C15u) >> (64 - kHashBits));
}

struct MemoryTable {
    static void insert(StorageContext* ctx, BlockRecord* record) {
        BlockRecord** chain = &ctx->byMemory[chainOf(addressKey(record))];
        record->sameHash = *chain;
        *chain = record;
    }
    static void remove(StorageContext* ctx, BlockRecord* record) {
        BlockRecord** link = &ctx->byMemory[chainOf(addressKey(record))];
        while (*link != record) link = &(*link)->sameHash;
        *link = record->sameHash;
        record->sameHash = nullptr;
    }
};

// The tree of all records, ordered by memory (no two records share it), with the highest
// priority at the root.
struct AddressTree {
    static BlockRecord*& left(BlockRecord* record) { return record->byAddress.left; }
    static BlockRecord*& right(BlockRecord* record) { return record->byAddress.right; }
    static uint64_t keyOf(const BlockRecord* record) { return addressKey(record); }

    // Adds a record that is not in the tree.
    static void insert(BlockRecord** root, BlockRecord* record) {
        const uint64_t key = keyOf(record);
        BlockRecord** link = root;
        while (*link != nullptr && priorityOf(*link) > priorityOf(record)) {
            link = key < keyOf(*link) ? &left(*link) : &right(*link);
        }
        // The record takes this place; what hung here splits around its key.
        BlockRecord* rest = *link;
        BlockRecord** less = &left(record);
        BlockRecord** more = &right(record);
        while (rest != nullptr) {
            if (keyOf(rest) < key) {
                *less = rest;
                less = &right(rest);
                rest = right(rest);
            } else {
                *more = rest;
                more = &left(rest);
                rest = left(rest);
            }
        }
        *less = *more = nullptr;
        *link = record;
    }

    // Takes out a record that is in the tree, under the key it was inserted with.
    static void remove(BlockRecord** root, BlockRecord* record) {
        const uint64_t key = keyOf(record);
        BlockRecord** link = root;
        while (*link != record) link = key < keyOf(*link) ? &left(*link) : &right(*link);
        // Its two subtrees, all keys of one below all of the other, merge into its place.
        BlockRecord* a = left(record);
        BlockRecord* b = right(record);
        while (a != nullptr && b != nullptr) {
            if (priorityOf(a) > priorityOf(b)) {
                *link = a;
                link = &right(a);
                a = right(a);
            } else {
                *link = b;
                link = &left(b);
                b = left(b);
            }
        }
        *link = a != nullptr ? a : b;
        left(record) = right(record) = nullptr;
    }
};

// A record enters the structures by memory when it is made and leaves and enters them again
// when its memory moves; the tree only once it has been built.
void indexByMemory(StorageContext* ctx, BlockRecord* record) {
    MemoryTable::insert(ctx, record);
    if (ctx->addressTreeBuilt != 0) AddressTree::insert(&ctx->addressRoot, record);
}

void unindexByMemory(StorageContext* ctx, BlockRecord* record) {
    MemoryTable::remove(ctx, record);
    if (ctx->addressTreeBuilt != 0) AddressTree::remove(&ctx->addressRoot, record);
}

// The free records as a pairing heap with the newest (highest sequence) at the root: each
// record's first child and next sibling are its `bySequence` links, and every child is
// older than its parent. Only the root is ever taken out (allocBlock takes the record
// findFreeBlock gave), so no record needs a link to its parent. A free costs one
// comparison with the root, which matters at teardown, where every block is freed in a row;
// taking the root out pairs up its children, about the logarithm of the heap's size over
// a run of operations.
struct FreeHeap {
    static BlockRecord*& child(BlockRecord* record) { return record->bySequence.left; }
    static BlockRecord*& sibling(BlockRecord* record) { return record->bySequence.right; }

    // Two heaps as one: the older root becomes the newer one's first child. The newer root's
    // sibling link is left as it was, for the caller to set.
    static BlockRecord* meld(BlockRecord* a, BlockRecord* b) {
        if (a->sequence < b->sequence) {
            BlockRecord* newer = b;
            b = a;
            a = newer;
        }
        sibling(b) = child(a);
        child(a) = b;
        return a;
    }

    static void insert(BlockRecord** root, BlockRecord* record) {
        child(record) = sibling(record) = nullptr;
        *root = *root == nullptr ? record : meld(*root, record);
    }

    // Takes out the root. Its children are melded in pairs from the first on, then the
    // pairs from the last back to the first.
    static void removeRoot(BlockRecord** root) {
        BlockRecord* rest = child(*root);
        child(*root) = nullptr;
        BlockRecord* pairs = nullptr;  // the melded pairs, last first, through their siblings
        while (rest != nullptr) {
            BlockRecord* a = rest;
            BlockRecord* b = sibling(a);
            rest = b == nullptr ? nullptr : sibling(b);
            if (b != nullptr) a = meld(a, b);
            sibling(a) = pairs;
            pairs = a;
        }
        BlockRecord* heap = nullptr;
        while (pairs != nullptr) {
            BlockRecord* next = sibling(pairs);
            sibling(pairs) = nullptr;
            heap = heap == nullptr ? pairs : meld(heap, pairs);
            pairs = next;
        }
        *root = heap;
    }
};

// The record whose range [memory, memory + capacity) holds the address, free or not; null
// when none does.
//
// Each record's memory is a live host allocation of its own, longer than the range, so no
// record's memory lies in the range of another. Hence at most one record holds the
// address, the one a walk over every record finds in whatever order. The library frees
// blocks by their start, which the table by memory finds at once: a record whose memory is
// the address is the only one that can hold it, and holds it unless its range is empty.
// Any other address can lie only in the record with the highest memory below it, which
// the tree by memory finds; the tree is built at the first such lookup, which only
// callers outside the library make, and kept from then on.
BlockRecord* findBlock(DxfPublicStorage* self, const void* address) {
    StorageContext* ctx = contextOf(self);
    const uint64_t place = reinterpret_cast<uintptr_t>(address);
    if (place == 0) return nullptr;
    for (BlockRecord* record = ctx->byMemory[chainOf(place)]; record != nullptr;
         record = record->sameHash) {
        if (addressKey(record) == place) return record->capacity > 0 ? record : nullptr;
    }
    if (ctx->addressTreeBuilt == 0) {
        for (BlockRecord* record = ctx->newestBlock; record != nullptr; record = record->older) {
            AddressTree::insert(&ctx->addressRoot, record);
        }
        ctx->addressTreeBuilt = 1;
    }
    BlockRecord* below = nullptr;
    for (BlockRecord* record = ctx->addressRoot; record != nullptr;) {
        if (addressKey(record) <= place) {
            below = record;
            record = record->byAddress.right;
        } else {
            record = record->byAddress.left;
        }
    }
    if (below == nullptr || place - addressKey(below) >= static_cast<uint64_t>(below->capacity)) {
        return nullptr;
    }
    return below;
}

// The most recently created free record, whatever its capacity, or null. Taking the newest
// rather than the best fit keeps reuse cheap.
//
// Sequences grow with creation, and the heap holds exactly the records whose isFree is
// set (freeBlock adds a record as it sets the flag, allocBlock takes it out as it clears
// it), so its root is the first free record met going from the newest record to older
// ones.
BlockRecord* findFreeBlock(DxfPublicStorage* self) { return contextOf(self)->freeRoot; }

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
    // The table and the tree are ordered by memory: the record leaves them under its old one.
    unindexByMemory(ctx, record);
    record->memory = static_cast<unsigned char*>(moved);
    indexByMemory(ctx, record);
    record->memoryBytes = static_cast<int32_t>(newBytes);
    std::memset(record->memory + keep, 0, static_cast<size_t>(newBytes - keep));
    return record->memory;
}

void* growBlock(DxfPublicStorage* self, void* address, int32_t extra) {
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    return record == nullptr ? nullptr : growRecord(self, record, extra);
}

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
        // The record is the heap's root: findFreeBlock answers with nothing else.
        FreeHeap::removeRoot(&ctx->freeRoot);
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
    record->sequence = ++ctx->recordsMade;
    indexByMemory(ctx, record);
    ++ctx->blocksInUse;
    return record->memory;
}

void freeBlock(DxfPublicStorage* self, void* address) {
    StorageContext* ctx = contextOf(self);
    BlockRecord* record = ctx->findBlock(self, address);
    if (record == nullptr) return;
    // A second free of the same block leaves the count alone, so it counts blocks in use.
    if (record->isFree == 0) {
        --ctx->blocksInUse;
        FreeHeap::insert(&ctx->freeRoot, record);
    }
    record->isFree = 1;
    std::memset(record->memory, 0, static_cast<size_t>(record->capacity));
}

void* blockBase(DxfPublicStorage* self, int32_t* offset, void* address) {
    if (offset != nullptr) *offset = 0;
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    if (record == nullptr) return nullptr;
    if (offset != nullptr) {
        *offset = static_cast<int32_t>(static_cast<unsigned char*>(address) - record->memory);
    }
    return record->memory;
}

int32_t blockLength(DxfPublicStorage* self, void* address) {
    BlockRecord* record = contextOf(self)->findBlock(self, address);
    return record == nullptr ? 0 : record->requested;
}

// Left untracked because it is handed on to the host (text buffers inside output records):
// the pool must neither find nor release it.
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
