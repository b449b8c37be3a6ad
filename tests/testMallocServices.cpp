// The toolkit's services: blocks from the arena zero-filled and apart, resized in place or by
// copy with their contents, the counters, the record queue, and nothing kept after finish.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <vector>

#include "MallocServices.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define WQTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WQTEST_ASAN 1
#endif
#endif

namespace {

struct Services {
    wqhost::MallocServices s;
    HostServices* t = &s.table;
    uintptr_t queue = 0;
    Services() { wqhost::initMallocServices(&s); }
    ~Services() { wqhost::finishMallocServices(&s); }
    char* calloc(int32_t size) { return static_cast<char*>(t->callocMem(t, 1, size)); }
    char* realloc(void* p, int32_t size) { return static_cast<char*>(t->reallocMem(t, p, size)); }
    OutputRecord* make(int32_t kind) { return t->newRecord(t, kind); }
    void put(OutputRecord* r, int32_t at) { t->putRecord(t, &queue, r, at); }
    OutputRecord* take() { return t->takeRecord(t, &queue, 0); }
};

bool allBytes(const char* p, size_t n, char value) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != value) return false;
    return true;
}

// What malloc holds, from the heap and mapped. AddressSanitizer's malloc is not counted
// there: under it, its leak check at exit does the counting.
size_t mallocHolds() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
#ifdef WQTEST_ASAN
constexpr bool kMallocCounted = false;
#else
constexpr bool kMallocCounted = true;
#endif

TEST(MallocServices, QueueOrderAndRecordsCountedUntilReleased) {
    Services h;
    OutputRecord *a = h.make(41), *b = h.make(48), *start = h.make(38);
    h.put(a, -1);
    h.put(start, 0);  // goes before what is waiting, and appends still go to the end
    h.put(b, -1);
    for (OutputRecord* want : {start, a, b, static_cast<OutputRecord*>(nullptr)})
        EXPECT_EQ(h.take(), want);
    h.put(a, -1);  // the queue works again once it has run empty
    EXPECT_TRUE(h.take() == a && h.queue == 0u);
    a->text = static_cast<char*>(h.t->rawAlloc(h.t, 2048));
    h.t->rawAlloc(h.t, 2048);  // a buffer never attached: finishing frees it
    EXPECT_TRUE(wqhost::recordKind(a) == 41 && h.s.recordsLive == 3 && h.s.rawLive == 2);
    wqhost::releaseRecord(&h.s, a);
    EXPECT_TRUE(h.s.recordsLive == 2 && h.s.rawLive == 1);
    // A record made again from a released one is a new record: its queue links are gone.
    OutputRecord* again = h.make(48);
    h.put(b, -1);
    h.put(again, -1);
    EXPECT_TRUE(h.take() == b && h.take() == again && h.take() == nullptr);
}

// Blocks of every size, across several chunks and above the largest a chunk serves: each
// holds its own bytes, aligned as malloc's, without touching its neighbours.
TEST(MallocServices, BlocksAreZeroAlignedAndApart) {
    Services h;
    std::vector<std::pair<char*, int32_t>> blocks;
    for (int32_t i = 0; i < 1500; ++i) {
        const int32_t size = i % 50 == 49 ? 20000 + i : 1 + (i * 37) % 700;
        char* p = h.calloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        EXPECT_TRUE(allBytes(p, static_cast<size_t>(size), 0)) << size;
        std::memset(p, i % 251 + 1, static_cast<size_t>(size));
        blocks.emplace_back(p, size);
    }
    for (size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(allBytes(blocks[i].first, static_cast<size_t>(blocks[i].second),
                             static_cast<char>(i % 251 + 1)))
            << i;
    EXPECT_TRUE(h.s.poolLive == 1500 && h.s.poolPeak == 1500);
    for (auto& block : blocks) h.t->freeMem(h.t, block.first);
    h.t->freeMem(h.t, nullptr);
    EXPECT_TRUE(h.s.poolLive == 0 && h.s.poolPeak == 1500);
    EXPECT_EQ(h.t->callocMem(h.t, -1, 8), nullptr);
    EXPECT_EQ(h.t->callocMem(h.t, 1 << 20, 1 << 20), nullptr);  // past a signed 32-bit size
    EXPECT_EQ(h.s.poolLive, 0);
}

// Memory comes back zero-filled however it was used before: chunks malloc hands out again
// after a finish, and released records and text buffers.
TEST(MallocServices, ReusedMemoryIsZeroFilled) {
    std::vector<int32_t> sizes;
    for (int32_t i = 0; i < 400; ++i) sizes.push_back(1 + (i * 53) % 600);
    wqhost::MallocServices s;
    HostServices* t = &s.table;
    for (int round = 0; round < 2; ++round) {
        wqhost::initMallocServices(&s);
        for (int32_t size : sizes) {
            char* p = static_cast<char*>(t->callocMem(t, 1, size));
            ASSERT_TRUE(allBytes(p, static_cast<size_t>(size), 0)) << round << " " << size;
            std::memset(p, 0xFF, static_cast<size_t>(size));
        }
        // Records released before a finish are gone with it, not handed out again.
        OutputRecord* record = t->newRecord(t, RecordText);
        ASSERT_TRUE(record != nullptr &&
                    allBytes(reinterpret_cast<char*>(record), sizeof *record, 0));
        std::memset(record, 0xFF, sizeof *record);
        record->text = nullptr;
        wqhost::releaseRecord(&s, record);
        wqhost::finishMallocServices(&s);
    }

    Services h;
    OutputRecord* record = h.make(RecordText);
    record->text = static_cast<char*>(h.t->rawAlloc(h.t, 2048));
    std::memset(record->text, 'x', 2048);
    std::memset(record->hostWords0to4, 0xFF, sizeof record->hostWords0to4);
    record->textLength = 2048;
    record->startMark = 12;
    char* text = record->text;
    wqhost::releaseRecord(&h.s, record);
    OutputRecord* again = h.make(RecordTextStart);
    char* textAgain = static_cast<char*>(h.t->rawAlloc(h.t, 2048));
    ASSERT_TRUE(again == record && textAgain == text) << "the released ones are reused";
    EXPECT_TRUE(allBytes(reinterpret_cast<char*>(again), sizeof *again, 0));
    EXPECT_TRUE(allBytes(textAgain, 2048, 0));
    EXPECT_EQ(wqhost::recordKind(again), RecordTextStart);
}

// reallocMem keeps what the block held, in place when it can, and bytes past the old size
// read zero, also where the block held other bytes before it shrank.
TEST(MallocServices, ResizedBlocksKeepTheirBytesAndZeroTheRest) {
    Services h;
    char* first = h.calloc(100);
    std::memset(first, 'a', 100);
    char* last = h.calloc(30);
    std::memset(last, 'b', 30);
    EXPECT_EQ(h.realloc(last, 3000), last) << "the newest block grows where it is";
    EXPECT_TRUE(allBytes(last, 30, 'b') && allBytes(last + 30, 2970, 0));

    EXPECT_EQ(h.realloc(first, 10), first) << "a block shrinks where it is";
    EXPECT_EQ(h.realloc(first, 100), first) << "and grows back within its rounding";
    EXPECT_TRUE(allBytes(first, 10, 'a') && allBytes(first + 10, 90, 0));
    std::memset(first, 'a', 100);
    char* moved = h.realloc(first, 500);  // blocked by `last`: copied
    ASSERT_TRUE(moved != nullptr && moved != first);
    EXPECT_TRUE(allBytes(moved, 100, 'a') && allBytes(moved + 100, 400, 0));
    EXPECT_TRUE(allBytes(last, 30, 'b')) << "the copy left its neighbour alone";

    char* large = h.realloc(moved, 100000);  // past what a chunk serves: from malloc
    ASSERT_NE(large, nullptr);
    EXPECT_TRUE(allBytes(large, 100, 'a') && allBytes(large + 100, 99900, 0));
    std::memset(large, 'c', 100000);
    char* larger = h.realloc(large, 400000);
    ASSERT_NE(larger, nullptr);
    EXPECT_TRUE(allBytes(larger, 100000, 'c') && allBytes(larger + 100000, 300000, 0));
    char* smaller = h.realloc(larger, 50);
    ASSERT_NE(smaller, nullptr);
    EXPECT_TRUE(allBytes(smaller, 50, 'c'));

    EXPECT_TRUE(h.realloc(smaller, 0) == nullptr && allBytes(smaller, 50, 'c'));
    char* fresh = h.realloc(nullptr, 64);
    EXPECT_TRUE(fresh != nullptr && allBytes(fresh, 64, 0));
    EXPECT_EQ(h.s.poolLive, 2) << "resizing neither makes nor frees a block";
    h.t->freeMem(h.t, smaller);
    h.t->freeMem(h.t, last);
    EXPECT_EQ(h.s.poolLive, 0);
}

// Finishing gives malloc back everything: chunks, large blocks, records and text buffers
// released or not; finishing again, and the destructor after it, are harmless.
TEST(MallocServices, FinishReleasesEverything) {
    const size_t before = mallocHolds();
    {
        wqhost::MallocServices s;
        wqhost::initMallocServices(&s);
        HostServices* t = &s.table;
        for (int32_t i = 0; i < 2000; ++i) t->callocMem(t, 1, 1 + i % 3000);
        void* large = t->callocMem(t, 1, 300000);
        t->callocMem(t, 1, 200000);
        t->reallocMem(t, large, 600000);
        OutputRecord* released = t->newRecord(t, RecordText);
        released->text = static_cast<char*>(t->rawAlloc(t, 2048));
        wqhost::releaseRecord(&s, released);
        t->newRecord(t, RecordText);
        t->rawAlloc(t, 2048);
        t->rawAlloc(t, 100000);
        EXPECT_TRUE(!kMallocCounted || mallocHolds() > before + 1000000);
        wqhost::finishMallocServices(&s);
        EXPECT_TRUE(!kMallocCounted || mallocHolds() == before);
        EXPECT_TRUE(s.recordsLive == 0 && s.rawLive == 0 && s.poolLive == 2002);
        wqhost::finishMallocServices(&s);
    }
    EXPECT_TRUE(!kMallocCounted || mallocHolds() == before);
}

#ifdef WQTEST_ASAN
// Under AddressSanitizer a block the reader freed, and a record the host released, cannot be
// touched unnoticed although their memory stays in the arena.
TEST(MallocServicesDeathTest, FreedArenaMemoryIsPoisoned) {
    Services h;
    char* block = h.calloc(64);
    h.t->freeMem(h.t, block);
    EXPECT_DEATH(static_cast<volatile char*>(block)[10] = 1, "use-after-poison");
    volatile char* next = h.calloc(20);
    EXPECT_DEATH(next[-1] = 1, "use-after-poison") << "the header before a block";
    OutputRecord* record = h.make(RecordTextEnd);
    wqhost::releaseRecord(&h.s, record);
    EXPECT_DEATH(static_cast<volatile intptr_t&>(record->textLength) = 1, "use-after-poison");
}
#endif

}  // namespace
