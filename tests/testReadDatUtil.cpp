// Group pair reader: blanks removed from code lines only, values kept as read, codes 0
// and 9 recognised through the group table, one level of push-back, clean construction.
#include <gtest/gtest.h>

#include <string>

#include "FakeHost.hpp"
#include "ReadDatUtil.h"

namespace {

using wqtest::FakeHost;

extern const char kOddCodeLines[];
extern const char kThreeGroups[];
extern const char kDanglingCode[];

// A reader that makes every collaborator itself, over a test host's document.
struct Reader {
    FakeHost host;
    DxfSource source{};
    ReadDatUtil* reader = nullptr;
    GroupPair pair{};

    explicit Reader(const std::string& document) : host(document) {
        source.stream = host.stream();
        source.services = host.services();
        reader = newReadDatUtil(&source, nullptr, nullptr, nullptr, nullptr);
    }
    ~Reader() { deleteReadDatUtil(reader); }
    bool read() { return reader->readPair(reader, &pair) == 1; }
    std::string code() const { return pair.code; }
    std::string value() const { return pair.value; }
};

TEST(ReadDatUtil, CodeLinesLoseEveryBlankValuesStayAsRead) {
    Reader r(kOddCodeLines);
    ASSERT_NE(r.reader, nullptr);
    struct Expected { const char* code; const char* value; int32_t is0; int32_t is9; } groups[] = {
        {"0", "LINE", 1, 0},   {"0", "  lead", 1, 0},  {"0", "trail  ", 1, 0},
        {"10", "1.5", 0, 0},   {"0\t", "TAB", 0, 0},   {"00", "ZEROS", 0, 0},
        {"+0", "PLUS", 0, 0},  {"", "", 0, 0},         {"9", "$ACADVER", 0, 1},
    };
    for (const Expected& g : groups) {
        SCOPED_TRACE(g.value);
        ASSERT_TRUE(r.read());
        EXPECT_EQ(r.code(), g.code);
        EXPECT_EQ(r.value(), g.value);
        EXPECT_EQ(r.reader->isCode0(r.reader), g.is0);
        EXPECT_EQ(r.reader->isCode9(r.reader), g.is9);
    }
    EXPECT_FALSE(r.read());
}

TEST(ReadDatUtil, StepsBackOneGroupOrOneValueLineOnce) {
    Reader r(kThreeGroups);
    ASSERT_NE(r.reader, nullptr);
    ReadDatUtil* reader = r.reader;
    EXPECT_EQ(reader->backToPair(reader), 0);  // nothing read yet
    EXPECT_EQ(reader->backToValue(reader), 0);

    ASSERT_TRUE(r.read());
    ASSERT_TRUE(r.read());  // "  1" / "first"
    EXPECT_EQ(reader->backToPair(reader), 1);
    EXPECT_EQ(reader->backToPair(reader), 0);  // one level only; the stream stays put
    ASSERT_TRUE(r.read());
    EXPECT_EQ(r.code(), "1");
    EXPECT_EQ(r.value(), "first");

    // Back to the value line: it is read again, now as a code line.
    EXPECT_EQ(reader->backToValue(reader), 1);
    EXPECT_EQ(reader->backToValue(reader), 0);
    ASSERT_TRUE(r.read());
    EXPECT_EQ(r.code(), "first");
    EXPECT_EQ(r.value(), "2");
    EXPECT_EQ(reader->isCode0(reader), 0);
}

TEST(ReadDatUtil, GroupWithoutValueLineFails) {
    Reader r(kDanglingCode);
    ASSERT_TRUE(r.read());
    EXPECT_FALSE(r.read());  // a code line "0" but no value line
    EXPECT_FALSE(r.read());  // the end: the host filled the code buffer with 0xA5 bytes
    EXPECT_EQ(r.reader->isCode0(r.reader), 0);
}

TEST(ReadDatUtil, EveryFailedAllocationIsUndone) {
    for (bool persistent : {false, true}) {
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(failAt);
            FakeHost host(kThreeGroups);
            host.allocFault = {failAt, persistent};
            DxfSource source{};
            source.stream = host.stream();
            source.services = host.services();
            ReadDatUtil* reader = newReadDatUtil(&source, nullptr, nullptr, nullptr, nullptr);
            if (reader != nullptr) {
                GroupPair pair{};
                EXPECT_EQ(reader->readPair(reader, &pair), 1);
                EXPECT_STREQ(pair.value, "SECTION");
            }
            deleteReadDatUtil(reader);
            EXPECT_EQ(host.poolBlocksLive(), 0);
            EXPECT_EQ(host.opens, host.closes);
            if (host.allocFault.injected == 0) {
                EXPECT_NE(reader, nullptr);
                break;
            }
            EXPECT_EQ(reader, nullptr);
        }
    }
}

// Each group: code line, value line. Blanks around and inside codes, a tab after a code,
// codes the table lacks, an empty group, and values with blanks of their own.
const char kOddCodeLines[] =
    "0\nLINE\n"
    "  0\n  lead\n"
    "0  \ntrail  \n"
    " 1 0\n1.5\n"
    "0\t\nTAB\n"
    "00\nZEROS\n"
    "+0\nPLUS\n"
    "\n\n"
    "9\n$ACADVER\n";

const char kThreeGroups[] = "0\nSECTION\n  1\nfirst\n2\nsecond\n";

const char kDanglingCode[] = "2\nHEADER\n0\n";

}  // namespace
