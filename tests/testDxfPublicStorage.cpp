// Block storage: the exact host requests, reuse of the newest free block, growth, lookups
// by address (also against a plain walk over every block, at random), untracked host
// memory and the order of teardown.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "DxfPublicStorage.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

namespace {

using wqtest::Op;

bool allZero(const unsigned char* p, int32_t bytes) {
    return std::all_of(p, p + bytes, [](unsigned char c) { return c == 0; });
}

// A storage on a logging fake host, deleted (and checked for leaks) at the end of a test.
struct Pool {
    wqtest::FakeHost host;
    DxfPublicStorage* pool;
    explicit Pool(int32_t mode = StorageExactSizes)
        : pool(newDxfPublicStorage(host.services(), mode)) {
        host.logCalls = true;
    }
    ~Pool() {
        deleteDxfPublicStorage(pool);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.foreignFrees, 0);
    }
    unsigned char* alloc(int32_t size) {
        return static_cast<unsigned char*>(pool->allocBlock(pool, size));
    }
    void free(void* p) { pool->freeBlock(pool, p); }
    int32_t length(void* p) { return pool->blockLength(pool, p); }
    int64_t lastSize() const { return host.log.back().a * host.log.back().b; }  // calloc's
};

TEST(DxfPublicStorage, NewBlocksAskForARecordAndOneSpareByte) {
    Pool p;
    unsigned char* block = p.alloc(40);
    ASSERT_EQ(p.host.log.size(), 2u);  // the record, then its memory
    EXPECT_EQ(p.lastSize(), 41);
    EXPECT_EQ(p.host.log[1].result, block);
    EXPECT_TRUE(allZero(block, 41));
    EXPECT_EQ(p.length(block + 39), 40);
    EXPECT_EQ(p.length(block + 40), 0);  // the spare byte lies outside the block
    // Impossible sizes fail without asking the host.
    p.host.log.clear();
    EXPECT_EQ(p.alloc(-1), nullptr);
    EXPECT_EQ(p.alloc(INT32_MAX), nullptr);  // no room for the spare byte
    EXPECT_EQ(p.pool->hostAlloc(p.pool, -1), nullptr);
    EXPECT_EQ(p.pool->growBlock(p.pool, block, -1), nullptr);
    EXPECT_EQ(p.pool->growBlock(p.pool, block, INT32_MAX), nullptr);
    EXPECT_TRUE(p.host.log.empty());
    EXPECT_EQ(p.length(block), 40);
}

TEST(DxfPublicStorage, ReuseTakesTheNewestFreeBlockZeroFilled) {
    for (bool freeNewestFirst : {false, true}) {  // newest by creation, not by freeing
        Pool p;
        unsigned char* older = p.alloc(60);
        unsigned char* newer = p.alloc(100);
        std::fill(older, older + 60, 'x');
        std::fill(newer, newer + 100, 'y');
        p.free(freeNewestFirst ? newer : older + 59);  // any address inside frees it
        p.free(freeNewestFirst ? older + 59 : newer + 50);
        p.host.log.clear();
        EXPECT_EQ(p.alloc(60), newer);  // although the older one fits exactly
        EXPECT_TRUE(allZero(newer, 100));
        EXPECT_EQ(p.length(newer + 99), 60);  // capacity still 100, length the request
        EXPECT_EQ(p.alloc(60), older);
        EXPECT_TRUE(allZero(older, 60));
        EXPECT_TRUE(p.host.log.empty());
    }
}

TEST(DxfPublicStorage, GrowthOfFreeBlocksAndOfBlocksInUse) {
    Pool p;
    unsigned char* block = p.alloc(100);
    std::fill(block, block + 100, 'x');
    p.free(block);
    p.host.log.clear();
    // Too small for the request: resized to capacity + request, zero-filled, capacity kept.
    unsigned char* grown = p.alloc(300);
    ASSERT_EQ(p.host.log.size(), 1u);
    EXPECT_EQ(p.host.log[0].op, Op::Realloc);
    EXPECT_EQ(p.host.log[0].pointer, block);
    EXPECT_EQ(p.host.log[0].a, 400);
    EXPECT_TRUE(allZero(grown, 400));
    EXPECT_EQ(p.length(grown + 99), 300);
    EXPECT_EQ(p.length(grown + 100), 0);
    // Grown in use by less than its memory holds (100 + 300 bytes): left as it is.
    EXPECT_EQ(p.pool->growBlock(p.pool, grown, 5), grown);
    EXPECT_EQ(p.host.log.size(), 1u);

    // A failed resize leaves the block free with its memory, found and reused when it fits.
    p.free(grown);
    p.host.allocFault.failAt = p.host.allocFault.calls;
    EXPECT_EQ(p.alloc(500), nullptr);
    int32_t offset = -1;
    EXPECT_EQ(p.pool->blockBase(p.pool, &offset, grown + 10), grown);
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(p.alloc(100), grown);

    // A block in use keeps its contents and gets room for the extra bytes and the spare one.
    std::fill(grown, grown + 100, 'a');
    grown = static_cast<unsigned char*>(p.pool->growBlock(p.pool, grown + 3, 400));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::count(grown, grown + 100, 'a'), 100);
    EXPECT_TRUE(allZero(grown + 100, 401));
}

TEST(DxfPublicStorage, AddressesInNoBlockAreIgnored) {
    Pool p;
    unsigned char* empty = p.alloc(0);  // capacity 0 holds no address: never found
    EXPECT_EQ(p.lastSize(), 1);
    void* raw = p.pool->hostAlloc(p.pool, 2048);  // untracked: the record's receiver frees it
    EXPECT_EQ(p.host.log.back().op, Op::RawAlloc);
    EXPECT_EQ(p.host.log.back().a, 2048);
    int32_t outside = 0;
    for (void* address : {static_cast<void*>(&outside), static_cast<void*>(empty), raw}) {
        int32_t offset = -5;
        EXPECT_EQ(p.pool->blockBase(p.pool, &offset, address), nullptr);
        EXPECT_EQ(offset, 0);
        EXPECT_EQ(p.length(address), 0);
        EXPECT_EQ(p.pool->growBlock(p.pool, address, 8), nullptr);
        p.free(address);
    }
    EXPECT_NE(p.alloc(0), empty);  // so never reused either
    EXPECT_EQ(p.host.rawBlocksLive(), 1);
}

TEST(DxfPublicStorage, TeardownGoesNewestFirstMemoryBeforeRecord) {
    Pool p;
    void* a = p.alloc(10);
    p.free(p.alloc(20));
    void* b = p.alloc(50);  // moved by the resize: the new memory is freed
    void* c = p.alloc(30);
    std::vector<const void*> made, freed;  // the record and memory of each block
    for (const auto& call : p.host.log) {
        if (call.op == Op::Calloc) made.push_back(call.result);
    }
    ASSERT_EQ(made.size(), 6u);
    const std::vector<const void*> expected = {c,       made[4],         b,     made[2], a,
                                               made[0], p.pool->context, p.pool};
    p.host.log.clear();
    deleteDxfPublicStorage(p.pool);
    p.pool = nullptr;
    for (const auto& call : p.host.log) freed.push_back(call.pointer);
    EXPECT_EQ(freed, expected);
}

TEST(DxfPublicStorage, OtherModesRoundSmallSizesUp) {
    Pool p(0);
    // Request -> bytes asked of the host (capacity + 1).
    const int32_t cases[][2] = {{0, 257},    {127, 257},  {128, 513},  {255, 513},
                                {256, 1025}, {511, 1025}, {512, 1537}, {1023, 1537}};
    for (const auto& c : cases) {
        ASSERT_NE(p.alloc(c[0]), nullptr);
        EXPECT_EQ(p.lastSize(), c[1]) << c[0];
    }
    p.free(p.alloc(100));  // 256 bytes: too small for 300, grown by 1024
    ASSERT_NE(p.alloc(300), nullptr);
    EXPECT_EQ(p.host.log.back().op, Op::Realloc);
    EXPECT_EQ(p.host.log.back().a, 1280);
}

// Thousands of random allocations, frees (of any address, twice, or of none), growths and
// failed host allocations, checked against a walk over every block, newest first: the
// block reused, the memory resized, and the block found for addresses in, around and
// between blocks.
TEST(DxfPublicStorage, LookupsAgreeWithAWalkOverEveryBlock) {
    struct Block {
        unsigned char* memory;
        int32_t capacity, requested;
        bool isFree;
    };
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto below = [&](int32_t n) {
            return static_cast<int32_t>(random() % static_cast<uint32_t>(n));
        };
        Pool p;
        std::vector<Block> made;  // in creation order
        auto holder = [&](uintptr_t address) -> Block* {
            for (auto b = made.rbegin(); b != made.rend(); ++b) {
                const uintptr_t base = reinterpret_cast<uintptr_t>(b->memory);
                if (base <= address && address - base < static_cast<uintptr_t>(b->capacity))
                    return &*b;
            }
            return nullptr;
        };
        auto someAddress = [&]() {  // in a block, a byte before or after one, or in none
            if (made.empty() || below(16) == 0) return reinterpret_cast<uintptr_t>(&made);
            const Block& b = made[static_cast<size_t>(below(static_cast<int32_t>(made.size())))];
            return reinterpret_cast<uintptr_t>(b.memory) +
                   static_cast<uintptr_t>(below(b.capacity + 2)) - 1;
        };
        auto resized = [&](const unsigned char* memory) {  // by the host's last call
            return !p.host.log.empty() && p.host.log.back().op == Op::Realloc &&
                   p.host.log.back().pointer == memory;
        };
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE(step);
            p.host.log.clear();
            if (below(20) == 0) p.host.allocFault.failAt = p.host.allocFault.calls;
            const int32_t action = below(3);
            if (action == 0) {  // the newest free block, grown when too small, else a new one
                const int32_t size = below(8) == 0 ? 0 : below(300);
                Block* reuse = nullptr;
                for (auto b = made.rbegin(); b != made.rend() && reuse == nullptr; ++b)
                    if (b->isFree) reuse = &*b;
                unsigned char* got = p.alloc(size);
                if (reuse != nullptr) {  // too small, it is resized; else handed out as it is
                    ASSERT_TRUE(reuse->capacity < size ? resized(reuse->memory)
                                                       : got == reuse->memory);
                }
                if (got == nullptr) continue;  // the host failed: a reused block stays free
                ASSERT_TRUE(allZero(got, size));
                std::fill(got, got + size, 0xEE);
                if (reuse != nullptr) {
                    *reuse = Block{got, reuse->capacity, size, false};
                } else {
                    made.push_back(Block{got, size, size, false});
                }
            } else if (action == 1) {
                const uintptr_t address = someAddress();
                if (Block* b = holder(address)) b->isFree = true;
                p.free(reinterpret_cast<void*>(address));
            } else {  // a block in use grows, and may move
                Block* b = holder(someAddress());
                if (b == nullptr || b->isFree) continue;
                void* got = p.pool->growBlock(p.pool, b->memory + below(b->capacity), below(400));
                ASSERT_TRUE(got == nullptr || got == b->memory || resized(b->memory));
                if (got != nullptr) b->memory = static_cast<unsigned char*>(got);
            }
            for (int probe = 0; probe < 4; ++probe) {
                void* address = reinterpret_cast<void*>(someAddress());
                const Block* expected = holder(reinterpret_cast<uintptr_t>(address));
                int32_t offset;
                ASSERT_EQ(p.pool->blockBase(p.pool, &offset, address),
                          expected ? expected->memory : nullptr);
                ASSERT_EQ(p.length(address), expected ? expected->requested : 0);
            }
        }
    }
}

TEST(DxfPublicStorage, EveryFailedHostAllocationIsUndone) {
    EXPECT_EQ(newDxfPublicStorage(nullptr, StorageExactSizes), nullptr);
    wqtest::sweepAllocations("", [](wqtest::FakeHost& host, const wqtest::Fault& fault) {
        host.allocFault = fault;
        DxfPublicStorage* pool = newDxfPublicStorage(host.services(), StorageExactSizes);
        if (pool != nullptr) pool->allocBlock(pool, 24);
        deleteDxfPublicStorage(pool);
    });
}

}  // namespace
