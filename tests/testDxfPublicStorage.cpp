// Block storage: the exact host requests, reuse of the newest free block, growth, lookups by
// address (also against a walk over every block, at random); tests/golden holds teardown order.
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

bool allZero(const unsigned char* p, int32_t n) { return std::count(p, p + n, 0) == n; }

// A storage on a logging fake host, deleted (and checked for leaks) at the end of a test.
struct Pool {
    wqtest::FakeHost host;
    DxfPublicStorage* pool;
    explicit Pool(int32_t mode = StorageExactSizes)
        : pool(newDxfPublicStorage(host.services(), mode)) { host.logCalls = true; }
    ~Pool() {
        deleteDxfPublicStorage(pool);
        EXPECT_TRUE(host.poolBlocksLive() == 0 && host.foreignFrees == 0);
    }
    static unsigned char* bytes(void* p) { return static_cast<unsigned char*>(p); }
    unsigned char* alloc(int32_t n) { return bytes(pool->allocBlock(pool, n)); }
    unsigned char* grow(void* p, int32_t n) { return bytes(pool->growBlock(pool, p, n)); }
    void* base(void* p, int32_t* offset) { return pool->blockBase(pool, offset, p); }
    void free(void* p) { pool->freeBlock(pool, p); }
    int32_t length(void* p) { return pool->blockLength(pool, p); }
    const wqtest::HostCall& last() const { return host.log.back(); }
    int64_t lastSize() const { return last().a * last().b; }  // calloc's
};

// A new block asks for a record and its memory, with one spare byte outside the block;
// impossible sizes and addresses in no block (an empty one, untracked host memory, the
// stack) are refused without asking the host, and an empty block is never reused.
TEST(DxfPublicStorage, NewBlocksImpossibleSizesAndAddressesInNoBlock) {
    Pool p;
    unsigned char* block = p.alloc(40);
    ASSERT_EQ(p.host.log.size(), 2u);
    EXPECT_TRUE(p.lastSize() == 41 && p.last().result == block && allZero(block, 41));
    EXPECT_TRUE(p.length(block + 39) == 40 && p.length(block + 40) == 0);
    unsigned char* empty = p.alloc(0);
    EXPECT_EQ(p.lastSize(), 1);
    void* raw = p.pool->hostAlloc(p.pool, 2048);  // the record's receiver frees it
    EXPECT_TRUE(p.last().op == Op::RawAlloc && p.last().a == 2048);
    p.host.log.clear();
    EXPECT_TRUE(!p.alloc(-1) && !p.alloc(INT32_MAX) && !p.pool->hostAlloc(p.pool, -1));
    EXPECT_TRUE(!p.grow(block, -1) && !p.grow(block, INT32_MAX) && p.length(block) == 40);
    int32_t outside = 0;
    for (void* address : {static_cast<void*>(&outside), static_cast<void*>(empty), raw}) {
        int32_t offset = -5;
        EXPECT_TRUE(!p.base(address, &offset) && offset == 0 && p.length(address) == 0);
        EXPECT_EQ(p.grow(address, 8), nullptr);
        p.free(address);
    }
    EXPECT_TRUE(p.host.log.empty());
    EXPECT_NE(p.alloc(0), empty);
    EXPECT_EQ(p.host.rawBlocksLive(), 1);
}

// Reuse takes the newest free block by creation, not by freeing, although the older one
// fits exactly; one too small is resized to capacity + request, zero-filled, capacity kept.
TEST(DxfPublicStorage, ReuseOfTheNewestFreeBlockAndGrowth) {
    Pool p;
    unsigned char* older = p.alloc(60);
    unsigned char* newer = p.alloc(100);
    std::fill(newer, newer + 100, 'y');
    p.free(newer + 50);  // any address inside frees it
    p.free(older);
    p.host.log.clear();
    EXPECT_EQ(p.alloc(60), newer);
    EXPECT_TRUE(allZero(newer, 100) && p.length(newer + 99) == 60);  // capacity stays 100
    EXPECT_EQ(p.alloc(60), older);
    EXPECT_TRUE(p.host.log.empty());
    std::fill(newer, newer + 100, 'x');
    p.free(newer);
    unsigned char* grown = p.alloc(300);
    ASSERT_EQ(p.host.log.size(), 1u);
    EXPECT_TRUE(p.last().op == Op::Realloc && p.last().pointer == newer && p.last().a == 400);
    EXPECT_TRUE(allZero(grown, 400) && p.length(grown + 99) == 300 && !p.length(grown + 100));
    EXPECT_EQ(p.grow(grown, 5), grown);  // its memory holds 100 + 300 bytes: left as it is
    EXPECT_EQ(p.host.log.size(), 1u);
    // A failed resize leaves the block free with its memory, found and reused when it fits.
    p.free(grown);
    p.host.allocFault.failAt = p.host.allocFault.calls;
    EXPECT_EQ(p.alloc(500), nullptr);
    int32_t offset = -1;
    EXPECT_TRUE(p.base(grown + 10, &offset) == grown && offset == 10);
    EXPECT_EQ(p.alloc(100), grown);
    // A block in use keeps its contents and gets room for the extra bytes and the spare one.
    std::fill(grown, grown + 100, 'a');
    grown = p.grow(grown + 3, 400);
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(std::count(grown, grown + 100, 'a') == 100 && allZero(grown + 100, 401));
}

TEST(DxfPublicStorage, OtherModesRoundSmallSizesUp) {
    Pool p(0);
    // Request -> bytes asked of the host (capacity + 1).
    const int32_t cases[][2] = {{0, 257},    {127, 257},  {128, 513},  {255, 513},
                                {256, 1025}, {511, 1025}, {512, 1537}, {1023, 1537}};
    for (const auto& c : cases) EXPECT_TRUE(p.alloc(c[0]) && p.lastSize() == c[1]) << c[0];
    p.free(p.alloc(100));  // 256 bytes: too small for 300, grown by 1024
    ASSERT_NE(p.alloc(300), nullptr);
    EXPECT_TRUE(p.last().op == Op::Realloc && p.last().a == 1280);
}

// Random allocations, frees (of any address, twice, or of none), growths and failed host
// allocations, checked against a walk over every block, newest first: the block reused,
// the memory resized, and the block found for addresses in, around and between blocks.
// The first half looks up only the blocks' starts, as the library does, so blocks move
// and are found before any lookup of another address has the storage build its tree.
TEST(DxfPublicStorage, LookupsAgreeWithAWalkOverEveryBlock) {
    struct Block { unsigned char* memory; int32_t capacity, requested; bool isFree; };
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto below = [&](size_t n) { return static_cast<int32_t>(random() % n); };
        Pool p;
        std::vector<Block> made;  // in creation order
        auto holder = [&](uintptr_t at) -> Block* {
            for (auto b = made.rbegin(); b != made.rend(); ++b)
                if (at - reinterpret_cast<uintptr_t>(b->memory) < size_t(b->capacity)) return &*b;
            return nullptr;
        };
        bool startsOnly = true;
        auto someAddress = [&]() {  // in a block, a byte before or after one, or in none
            if (made.empty()) return startsOnly ? 0 : reinterpret_cast<uintptr_t>(&made);
            const Block& b = made[size_t(below(made.size()))];  // null is no block's start
            const auto at = reinterpret_cast<uintptr_t>(b.memory);
            if (startsOnly) return at;
            if (below(16) == 0) return reinterpret_cast<uintptr_t>(&made);
            return at - 1 + size_t(below(size_t(b.capacity) + 2));  // a byte before to one after
        };
        auto resized = [&](const unsigned char* memory) {  // by the host's last call
            return !p.host.log.empty() && p.last().op == Op::Realloc && p.last().pointer == memory;
        };
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE(step);
            startsOnly = step < 1500;
            p.host.log.clear();
            if (below(20) == 0) p.host.allocFault.failAt = p.host.allocFault.calls;
            const int32_t action = below(3);
            if (action == 0) {  // the newest free block, grown when too small, else a new one
                const int32_t size = below(8) == 0 ? 0 : below(300);
                auto reuse = std::find_if(made.rbegin(), made.rend(),
                                          [](const Block& b) { return b.isFree; });
                unsigned char* got = p.alloc(size);
                const bool reused = reuse != made.rend();
                ASSERT_TRUE(!reused || (reuse->capacity < size ? resized(reuse->memory)
                                                               : got == reuse->memory));
                if (got == nullptr) continue;  // the host failed: a reused block stays free
                ASSERT_TRUE(allZero(got, size));
                std::fill(got, got + size, 0xEE);
                if (reused) *reuse = Block{got, reuse->capacity, size, false};
                else made.push_back(Block{got, size, size, false});
            } else if (action == 1) {
                const uintptr_t address = someAddress();
                if (Block* b = holder(address)) b->isFree = true;
                p.free(reinterpret_cast<void*>(address));
            } else if (Block* b = holder(someAddress()); b != nullptr && !b->isFree) {
                const size_t inside = startsOnly ? 0 : size_t(below(size_t(b->capacity)));
                unsigned char* got = p.grow(b->memory + inside, below(400));
                ASSERT_TRUE(got == nullptr || got == b->memory || resized(b->memory));
                if (got != nullptr) b->memory = got;  // a block in use may move
            }
            for (int probe = 0; probe < 4; ++probe) {
                void* address = reinterpret_cast<void*>(someAddress());
                const Block* expected = holder(reinterpret_cast<uintptr_t>(address));
                int32_t offset;
                ASSERT_EQ(p.base(address, &offset), expected ? expected->memory : nullptr);
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
