// Group pair reader: blanks out of code lines only, values as read, codes 0 and 9 known
// through the group table, one level of push-back, clean construction.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "FakeHost.hpp"
#include "ReadDatUtil.h"
#include "Sweep.hpp"
#include "Transcript.hpp"

using wqtest::FakeHost;

// Code line as written, value line, the code readPair gives, isCode0, isCode9.
const struct Group {
    const char *codeLine, *value, *code;
    int32_t is0, is9;
} kGroups[] = {
    {"0", "LINE", "0", 1, 0},    {"  0", "  lead", "0", 1, 0}, {"0  ", "trail  ", "0", 1, 0},
    {" 1 0", "1.5", "10", 0, 0}, {"0\t", "TAB", "0\t", 0, 0},  {"00", "ZEROS", "00", 0, 0},
    {"+0", "PLUS", "+0", 0, 0},  {"", "", "", 0, 0},           {"9", "$ACADVER", "9", 0, 1}};

// The groups above, then a last code line "0" without its value line.
static std::string groupsDocument() {
    std::string document;
    for (const Group& g : kGroups) document += std::string(g.codeLine) + '\n' + g.value + '\n';
    return document + "0\n";
}

// Every group read back, with one step back (only one) after the second.
TEST(ReadDatUtil, CodeLinesLoseEveryBlankValuesStayAsReadOneGroupStepsBack) {
    FakeHost host{groupsDocument()};
    DxfSource source = wqtest::bareSource(host);
    ReadDatUtil* reader = newReadDatUtil(&source, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->backToPair(reader), 0);  // nothing read yet
    GroupPair pair{};
    for (size_t i = 0; i < std::size(kGroups); ++i) {
        const Group& g = kGroups[i];
        SCOPED_TRACE(g.value);
        ASSERT_EQ(reader->readPair(reader, &pair), 1);
        const bool back = i == 1;  // one step back, once only; the stream stays put
        ASSERT_TRUE(!back || (reader->backToPair(reader) == 1 && reader->backToPair(reader) == 0 &&
                              reader->readPair(reader, &pair) == 1));
        EXPECT_STREQ(pair.code, g.code);
        EXPECT_STREQ(pair.value, g.value);
        EXPECT_EQ(reader->isCode0(reader), g.is0);
        EXPECT_EQ(reader->isCode9(reader), g.is9);
    }
    EXPECT_EQ(reader->readPair(reader, &pair), 0);  // a code line "0" but no value line
    EXPECT_EQ(reader->readPair(reader, &pair), 0);  // past the end: garbage in the code buffer
    EXPECT_EQ(reader->isCode0(reader), 0);
    deleteReadDatUtil(reader);
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
