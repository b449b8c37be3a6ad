// The toolkit's services: blocks from the arena zero-filled and apart, resized in place or by
// copy with their contents, the record queue, and nothing kept after finish.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
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
    char* raw() { return static_cast<char*>(t->rawAlloc(t, 2048)); }
    OutputRecord* make(int32_t kind) { return t->newRecord(t, kind); }
    void put(OutputRecord* r, int32_t at) { t->putRecord(t, &queue, r, at); }
    OutputRecord* take() { return t->takeRecord(t, &queue, 0); }
};

bool allBytes(const void* p, size_t n, char value) {
    const char* c = static_cast<const char*>(p);
    return std::all_of(c, c + n, [value](char b) { return b == value; });
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

TEST(MallocServices, QueueOrderAndReleasedRecordsComeBackNew) {
    Services h;
    OutputRecord *a = h.make(41), *b = h.make(48), *start = h.make(38);
    h.put(a, -1);
    h.put(start, 0);  // goes before what is waiting, and appends still go to the end
    h.put(b, -1);
    for (OutputRecord* want : {start, a, b, static_cast<OutputRecord*>(nullptr)})
        EXPECT_EQ(h.take(), want);
    h.put(a, -1);  // the queue works again once it has run empty
    EXPECT_TRUE(h.take() == a && h.queue == 0u && wqhost::recordKind(a) == 41);
    a->text = h.raw();
    wqhost::releaseRecord(&h.s, a);
    // A record made again from a released one is a new record: its queue links are gone.
    OutputRecord* again = h.make(48);
    h.put(b, -1);
    h.put(again, -1);
    EXPECT_TRUE(h.take() == b && h.take() == again && h.take() == nullptr);
}

// Blocks of every size, across several chunks and above the largest a chunk serves: each
// holds its own bytes, aligned as malloc's, without touching its neighbours. The second
// round gets chunks malloc hands out again after a finish, which must read zero all the same.
TEST(MallocServices, BlocksAreZeroAlignedAndApart) {
    for (int round = 0; round < 2; ++round) {
        Services h;
        std::vector<std::pair<char*, size_t>> blocks;
        for (int32_t i = 0; i < 1500; ++i) {
            const int32_t size = i % 50 == 49 ? 20000 + i : 1 + (i * 37) % 700;
            char* p = h.calloc(size);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
            ASSERT_TRUE(allBytes(p, size_t(size), 0)) << round << " " << size;
            std::memset(p, i % 251 + 1, size_t(size));
            blocks.emplace_back(p, size_t(size));
        }
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_TRUE(allBytes(blocks[i].first, blocks[i].second, char(i % 251 + 1))) << i;
        for (auto& block : blocks) h.t->freeMem(h.t, block.first);
        h.t->freeMem(h.t, nullptr);
        EXPECT_EQ(h.t->callocMem(h.t, -1, 8), nullptr);
        EXPECT_EQ(h.t->callocMem(h.t, 1 << 20, 1 << 20), nullptr);  // past a signed 32-bit size
        // Records released before a finish are gone with it, not handed out again.
        OutputRecord* record = h.make(RecordText);
        ASSERT_TRUE(record != nullptr && allBytes(record, sizeof *record, 0));
        std::memset(record, 0xFF, sizeof *record);
        record->text = nullptr;
        wqhost::releaseRecord(&h.s, record);
    }
}

// A released record and text buffer come back zero-filled when made again.
TEST(MallocServices, ReusedRecordsAreZeroFilled) {
    Services h;
    OutputRecord* record = h.make(RecordText);
    char* text = record->text = h.raw();
    std::memset(text, 'x', 2048);
    std::memset(record->hostWords0to4, 0xFF, sizeof record->hostWords0to4);
    record->textLength = 2048;
    record->startMark = 12;
    wqhost::releaseRecord(&h.s, record);
    OutputRecord* again = h.make(RecordTextStart);
    char* textAgain = h.raw();
    ASSERT_TRUE(again == record && textAgain == text) << "the released ones are reused";
    EXPECT_TRUE(allBytes(again, sizeof *again, 0) && allBytes(textAgain, 2048, 0));
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
    // Blocked by `last`, then past what a chunk serves, then larger and smaller from malloc.
    char* block = first;
    size_t held = 100;
    for (const size_t size : {500u, 100000u, 400000u, 50u}) {
        char* moved = h.realloc(block, int32_t(size));
        const size_t kept = std::min(held, size);
        ASSERT_TRUE(moved != nullptr && moved != first) << size;
        EXPECT_TRUE(allBytes(moved, kept, 'a') && allBytes(moved + kept, size - kept, 0)) << size;
        std::memset(moved, 'a', size);
        block = moved, held = size;
    }
    EXPECT_TRUE(allBytes(last, 30, 'b')) << "the copies left the neighbour alone";
    EXPECT_TRUE(h.realloc(block, 0) == nullptr && allBytes(block, 50, 'a'));
    char* fresh = h.realloc(nullptr, 64);
    EXPECT_TRUE(fresh != nullptr && allBytes(fresh, 64, 0));
}

// Finishing gives malloc back everything: chunks, large blocks, records and text buffers
// released or not; finishing again, and the destructor after it, are harmless.
TEST(MallocServices, FinishReleasesEverything) {
    const size_t before = mallocHolds();
    {
        Services h;
        for (int32_t i = 0; i < 2000; ++i) h.calloc(1 + i % 3000);
        h.realloc(h.calloc(300000), 600000);
        h.calloc(200000);
        OutputRecord* released = h.make(RecordText);
        released->text = h.raw();
        wqhost::releaseRecord(&h.s, released);
        h.make(RecordText);
        h.raw();
        h.t->rawAlloc(h.t, 100000);
        EXPECT_TRUE(!kMallocCounted || mallocHolds() > before + 1000000);
        wqhost::finishMallocServices(&h.s);
        EXPECT_TRUE(!kMallocCounted || mallocHolds() == before);
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
