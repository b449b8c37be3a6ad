// Group pair reader: blanks removed from code lines only, values kept as read, codes 0
// and 9 recognised through the group table, one level of push-back, clean construction.
#include <gtest/gtest.h>

#include <string>

#include "FakeHost.hpp"
#include "ReadDatUtil.h"
#include "Sweep.hpp"
#include "Transcript.hpp"

namespace {

using wqtest::FakeHost;

// Code line as written, value line, the code readPair gives, isCode0, isCode9.
struct Group {
    const char* codeLine;
    const char* value;
    const char* code;
    int32_t is0, is9;
};
const Group kGroups[] = {
    {"0", "LINE", "0", 1, 0},    {"  0", "  lead", "0", 1, 0}, {"0  ", "trail  ", "0", 1, 0},
    {" 1 0", "1.5", "10", 0, 0}, {"0\t", "TAB", "0\t", 0, 0},  {"00", "ZEROS", "00", 0, 0},
    {"+0", "PLUS", "+0", 0, 0},  {"", "", "", 0, 0},           {"9", "$ACADVER", "9", 0, 1}};

// The groups above, then a last code line "0" without its value line.
std::string groupsDocument() {
    std::string document;
    for (const Group& g : kGroups) document += std::string(g.codeLine) + '\n' + g.value + '\n';
    return document + "0\n";
}

// A reader that makes every collaborator itself, over a test host's document.
struct Reader {
    FakeHost host{groupsDocument()};
    DxfSource source = wqtest::bareSource(host);
    ReadDatUtil* reader = newReadDatUtil(&source, nullptr, nullptr, nullptr, nullptr);
    GroupPair pair{};

    ~Reader() { deleteReadDatUtil(reader); }
    bool read() { return reader->readPair(reader, &pair) == 1; }
};

TEST(ReadDatUtil, CodeLinesLoseEveryBlankValuesStayAsReadTheLastGroupNeedsItsValue) {
    Reader r;
    ASSERT_NE(r.reader, nullptr);
    for (const Group& g : kGroups) {
        SCOPED_TRACE(g.value);
        ASSERT_TRUE(r.read());
        EXPECT_STREQ(r.pair.code, g.code);
        EXPECT_STREQ(r.pair.value, g.value);
        EXPECT_EQ(r.reader->isCode0(r.reader), g.is0);
        EXPECT_EQ(r.reader->isCode9(r.reader), g.is9);
    }
    EXPECT_FALSE(r.read());  // a code line "0" but no value line
    EXPECT_FALSE(r.read());  // past the end the host leaves garbage in the code buffer
    EXPECT_EQ(r.reader->isCode0(r.reader), 0);
}

TEST(ReadDatUtil, StepsBackOneGroupOnce) {
    Reader r;
    ReadDatUtil* reader = r.reader;
    EXPECT_EQ(reader->backToPair(reader), 0);  // nothing read yet
    ASSERT_TRUE(r.read());
    ASSERT_TRUE(r.read());
    EXPECT_EQ(reader->backToPair(reader), 1);
    EXPECT_EQ(reader->backToPair(reader), 0);  // one level only; the stream stays put
    ASSERT_TRUE(r.read());
    EXPECT_STREQ(r.pair.code, "0");
    EXPECT_STREQ(r.pair.value, "  lead");
}

TEST(ReadDatUtil, EveryFailedAllocationIsUndone) {
    wqtest::sweepAllocations(groupsDocument(), [](FakeHost& host, const wqtest::Fault& fault) {
        host.allocFault = fault;
        DxfSource source = wqtest::bareSource(host);
        ReadDatUtil* reader = newReadDatUtil(&source, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(reader == nullptr, host.allocFault.injected > 0);
        GroupPair pair{};
        EXPECT_TRUE(reader == nullptr || reader->readPair(reader, &pair) == 1);
        deleteReadDatUtil(reader);
    });
}

}  // namespace
