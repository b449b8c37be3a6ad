// Block storage: the exact host requests, reuse of freed blocks, growth, lookups by
// address, untracked host memory and the order of teardown.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "DxfPublicStorage.h"
#include "FakeHost.hpp"

namespace {

using wqtest::FakeHost;
using wqtest::HostCall;
using wqtest::Op;

std::vector<HostCall> callsOf(const FakeHost& host, Op op) {
    std::vector<HostCall> calls;
    for (const HostCall& call : host.log) {
        if (call.op == op) calls.push_back(call);
    }
    return calls;
}

bool allZero(const void* memory, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(memory);
    for (size_t i = 0; i < bytes; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// A storage on a logging fake host, deleted (and checked for leaks) at the end of a test.
struct Pool {
    FakeHost host;
    DxfPublicStorage* pool;
    explicit Pool(int32_t mode = 1) {
        host.logCalls = true;
        pool = newDxfPublicStorage(host.services(), mode);
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
    size_t callocs() const { return callsOf(host, Op::Calloc).size(); }
};

TEST(DxfPublicStorage, ExactModeAsksForARecordAndOneSpareByte) {
    Pool p;
    ASSERT_NE(p.pool, nullptr);
    p.host.log.clear();
    unsigned char* block = p.alloc(40);
    ASSERT_NE(block, nullptr);
    const auto callocs = callsOf(p.host, Op::Calloc);
    ASSERT_EQ(callocs.size(), 2u);
    EXPECT_EQ(callocs[0].a, 1);  // the record: one of its own size
    EXPECT_EQ(callocs[1].a, 1);
    EXPECT_EQ(callocs[1].b, 41);
    EXPECT_EQ(callocs[1].result, block);
    EXPECT_TRUE(allZero(block, 41));
    EXPECT_EQ(p.pool->blockLength(p.pool, block), 40);
    EXPECT_EQ(p.pool->blockLength(p.pool, block + 39), 40);
    EXPECT_EQ(p.pool->blockLength(p.pool, block + 40), 0);  // the spare byte is outside
}

TEST(DxfPublicStorage, ReuseTakesTheNewestFreeBlockZeroFilled) {
    for (bool freeNewestFirst : {false, true}) {
        Pool p;
        unsigned char* fits = p.alloc(60);
        unsigned char* newer = p.alloc(100);
        std::memset(fits, 'x', 60);
        std::memset(newer, 'y', 100);
        p.free(freeNewestFirst ? newer : fits);
        p.free(freeNewestFirst ? fits + 59 : newer + 50);  // any address inside frees it
        const size_t before = p.callocs();
        // The newer block is taken although the older one fits exactly.
        unsigned char* again = p.alloc(60);
        EXPECT_EQ(again, newer);
        EXPECT_TRUE(allZero(again, 100));
        EXPECT_EQ(p.pool->blockLength(p.pool, again), 60);
        EXPECT_EQ(p.pool->blockLength(p.pool, again + 99), 60);  // capacity still 100
        EXPECT_EQ(p.alloc(60), fits);
        EXPECT_TRUE(allZero(fits, 60));
        EXPECT_EQ(p.callocs(), before);
        EXPECT_NE(p.alloc(1), nullptr);  // nothing free any more: a new block
        EXPECT_EQ(p.callocs(), before + 2);
    }
}

TEST(DxfPublicStorage, TooSmallFreeBlockIsResizedToCapacityPlusRequest) {
    Pool p;
    unsigned char* block = p.alloc(100);
    std::memset(block, 'x', 100);
    p.free(block);
    p.host.log.clear();
    unsigned char* grown = p.alloc(300);
    ASSERT_NE(grown, nullptr);
    const auto reallocs = callsOf(p.host, Op::Realloc);
    ASSERT_EQ(reallocs.size(), 1u);
    EXPECT_EQ(reallocs[0].pointer, block);
    EXPECT_EQ(reallocs[0].a, 400);
    EXPECT_EQ(reallocs[0].result, grown);
    EXPECT_EQ(callsOf(p.host, Op::Calloc).size(), 0u);
    EXPECT_TRUE(allZero(grown, 400));
    EXPECT_EQ(p.pool->blockLength(p.pool, grown), 300);
    // The capacity is still 100: the block's range ends there.
    EXPECT_EQ(p.pool->blockLength(p.pool, grown + 99), 300);
    EXPECT_EQ(p.pool->blockLength(p.pool, grown + 100), 0);

    // Freed again and reused for a request that fits the capacity: no host call.
    std::memset(grown, 'z', 300);
    p.free(grown);
    p.host.log.clear();
    EXPECT_EQ(p.alloc(100), grown);
    EXPECT_TRUE(allZero(grown, 100));
    EXPECT_TRUE(p.host.log.empty());
}

TEST(DxfPublicStorage, FailedResizeKeepsTheFreeBlockAndItsMemory) {
    Pool p;
    unsigned char* block = p.alloc(100);
    p.free(block);
    p.host.allocFault.failAt = p.host.allocFault.calls;  // the resize
    EXPECT_EQ(p.alloc(300), nullptr);
    EXPECT_EQ(p.host.allocFault.injected, 1);
    // Still free, still the same memory: it is found, and handed out again when it fits.
    int32_t offset = -1;
    EXPECT_EQ(p.pool->blockBase(p.pool, &offset, block + 10), block);
    EXPECT_EQ(offset, 10);
    const size_t before = p.callocs();
    EXPECT_EQ(p.alloc(100), block);
    EXPECT_EQ(p.callocs(), before);
}

TEST(DxfPublicStorage, GrowingABlockInUseKeepsItsContents) {
    Pool p;
    unsigned char* block = p.alloc(10);
    std::memcpy(block, "abcdefghij", 10);
    unsigned char* grown = static_cast<unsigned char*>(p.pool->growBlock(p.pool, block + 3, 100));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "abcdefghij", 10), 0);
    EXPECT_TRUE(allZero(grown + 10, 101));  // room for 110 bytes and the spare byte

    // A block the pool enlarged for a reuse (capacity 100, 400 bytes of memory) that is
    // grown by less than it already has is not shrunk.
    unsigned char* reused = p.alloc(100);
    p.free(reused);
    reused = p.alloc(300);
    std::memset(reused, 'r', 300);
    p.host.log.clear();
    EXPECT_EQ(p.pool->growBlock(p.pool, reused, 50), reused);
    EXPECT_TRUE(callsOf(p.host, Op::Realloc).empty());
    unsigned char* bigger = static_cast<unsigned char*>(p.pool->growBlock(p.pool, reused, 200));
    ASSERT_NE(bigger, nullptr);
    const auto reallocs = callsOf(p.host, Op::Realloc);
    ASSERT_EQ(reallocs.size(), 1u);
    EXPECT_GE(reallocs[0].a, 501);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(bigger[i], 'r') << i;
    EXPECT_TRUE(allZero(bigger + 300, 201));
    EXPECT_EQ(p.pool->blockLength(p.pool, bigger), 300);
}

TEST(DxfPublicStorage, AddressesInNoBlockAreIgnored) {
    Pool p;
    unsigned char* block = p.alloc(16);
    int32_t outside = 0;
    int32_t offset = -5;
    EXPECT_EQ(p.pool->blockBase(p.pool, &offset, &outside), nullptr);
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(p.pool->blockLength(p.pool, &outside), 0);
    EXPECT_EQ(p.pool->growBlock(p.pool, &outside, 8), nullptr);
    p.free(&outside);
    EXPECT_EQ(p.pool->blockBase(p.pool, &offset, block + 15), block);
    EXPECT_EQ(offset, 15);

    // A block of capacity 0 holds no address: it is never found, so never freed or reused.
    unsigned char* empty = p.alloc(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(callsOf(p.host, Op::Calloc).back().b, 1);
    offset = -5;
    EXPECT_EQ(p.pool->blockBase(p.pool, &offset, empty), nullptr);
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(p.pool->blockLength(p.pool, empty), 0);
    p.free(empty);
    const size_t before = p.callocs();
    EXPECT_NE(p.alloc(0), empty);
    EXPECT_EQ(p.callocs(), before + 2);
}

TEST(DxfPublicStorage, HostAllocIsPassedThroughUntracked) {
    FakeHost host;
    host.logCalls = true;
    DxfPublicStorage* pool = newDxfPublicStorage(host.services(), 1);
    void* raw = pool->hostAlloc(pool, 2048);
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(host.log.back().op, Op::RawAlloc);
    EXPECT_EQ(host.log.back().a, 2048);
    pool->freeBlock(pool, raw);
    EXPECT_EQ(pool->blockLength(pool, raw), 0);
    EXPECT_NE(pool->allocBlock(pool, 8), raw);
    deleteDxfPublicStorage(pool);
    for (const HostCall& call : host.log) EXPECT_NE(call.pointer, raw);
    EXPECT_EQ(host.rawBlocksLive(), 1);  // the receiver gives it back to the host
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(DxfPublicStorage, TeardownGoesNewestFirstMemoryBeforeRecord) {
    FakeHost host;
    host.logCalls = true;
    DxfPublicStorage* pool = newDxfPublicStorage(host.services(), 1);
    void* a = pool->allocBlock(pool, 10);
    void* b = pool->allocBlock(pool, 20);
    pool->freeBlock(pool, b);
    void* bGrown = pool->allocBlock(pool, 50);  // b's memory moves; teardown frees the new one
    void* c = pool->allocBlock(pool, 30);
    ASSERT_TRUE(a && bGrown && c);

    // Handle, context, then record and memory of each block, as the host handed them out.
    std::vector<const void*> made;
    for (const HostCall& call : callsOf(host, Op::Calloc)) made.push_back(call.result);
    ASSERT_EQ(made.size(), 8u);
    const void* handle = made[0];
    const void* context = made[1];
    host.log.clear();
    deleteDxfPublicStorage(pool);
    std::vector<const void*> freed;
    for (const HostCall& call : callsOf(host, Op::Free)) freed.push_back(call.pointer);
    const std::vector<const void*> expected = {c, made[6], bGrown, made[4], a, made[2],
                                               context, handle};
    EXPECT_EQ(freed, expected);
    EXPECT_EQ(host.poolBlocksLive(), 0);
    EXPECT_EQ(host.foreignFrees, 0);
}

TEST(DxfPublicStorage, OtherModesRoundSmallSizesUp) {
    Pool p(0);
    // Request -> bytes asked of the host (capacity + 1).
    const int32_t cases[][2] = {{0, 257},     {100, 257},   {127, 257},  {128, 513},
                                {255, 513},   {256, 1025},  {511, 1025}, {512, 1537},
                                {1023, 1537}};
    for (const auto& c : cases) {
        p.host.log.clear();
        ASSERT_NE(p.alloc(c[0]), nullptr);
        EXPECT_EQ(callsOf(p.host, Op::Calloc).back().b, c[1]) << c[0];
    }
    for (int32_t size : {1024, 1025, 5000, 100000}) {
        p.host.log.clear();
        ASSERT_NE(p.alloc(size), nullptr);
        EXPECT_GT(callsOf(p.host, Op::Calloc).back().b, size) << size;
    }
    // A freed 256-byte block serves a later request of 200 without the host.
    unsigned char* block = p.alloc(100);
    p.free(block);
    p.host.log.clear();
    EXPECT_EQ(p.alloc(200), block);
    EXPECT_TRUE(p.host.log.empty());
    // And grows by the rounded request when too small: 256 + 1024.
    p.free(block);
    ASSERT_NE(p.alloc(300), nullptr);
    EXPECT_EQ(callsOf(p.host, Op::Realloc).back().a, 1280);
}

TEST(DxfPublicStorage, ImpossibleSizesFailWithoutAskingTheHost) {
    Pool p;
    p.host.log.clear();
    EXPECT_EQ(p.alloc(-1), nullptr);
    EXPECT_EQ(p.alloc(INT32_MIN), nullptr);
    EXPECT_EQ(p.alloc(INT32_MAX), nullptr);  // no room for the spare byte
    EXPECT_EQ(p.pool->hostAlloc(p.pool, -1), nullptr);
    EXPECT_TRUE(p.host.log.empty());
    unsigned char* block = p.alloc(8);
    EXPECT_EQ(p.pool->growBlock(p.pool, block, -1), nullptr);
    EXPECT_EQ(p.pool->growBlock(p.pool, block, INT32_MAX), nullptr);
    EXPECT_EQ(p.pool->blockLength(p.pool, block), 8);
}

TEST(DxfPublicStorage, EveryFailedHostAllocationIsUndone) {
    EXPECT_EQ(newDxfPublicStorage(nullptr, 1), nullptr);
    // The constructor's two allocations, then a block's record and its memory.
    for (int32_t failAt = 0; failAt < 4; ++failAt) {
        FakeHost host;
        host.allocFault.failAt = failAt;
        DxfPublicStorage* pool = newDxfPublicStorage(host.services(), 1);
        if (failAt < 2) {
            EXPECT_EQ(pool, nullptr);
        } else {
            ASSERT_NE(pool, nullptr);
            EXPECT_EQ(pool->allocBlock(pool, 24), nullptr);
            EXPECT_EQ(host.poolBlocksLive(), 2);  // nothing of the failed block is left
            void* block = pool->allocBlock(pool, 24);  // the fault was a single one
            EXPECT_NE(block, nullptr);
            EXPECT_EQ(pool->blockLength(pool, block), 24);
            deleteDxfPublicStorage(pool);
        }
        EXPECT_EQ(host.allocFault.injected, 1);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.foreignFrees, 0);
    }
}

}  // namespace
