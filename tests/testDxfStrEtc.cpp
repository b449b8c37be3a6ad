// String utilities the reader calls: substring search, in-place removal of one byte and
// splitting at a delimiter, with their corner cases, and clean construction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DxfStrEtc.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

TEST(StrEtc, SearchesRemovesAndSplits) {
    wqtest::FakeHost host;
    DxfStrEtc* s = newDxfStrEtc(host.services(), nullptr);
    ASSERT_NE(s, nullptr);
    const struct {
        const char *text, *sub;
        int32_t index;
    } searches[] = {{"abcabc", "bc", 1}, {"aab", "ab", 1}, {"abd", "abc", -1}, {"xab", "abc", -1},
                    {"abc", "", -1},     {"", "", -1}};  // never past the end; empty never found
    for (const auto& c : searches) EXPECT_EQ(s->searchString(s, c.text, c.sub), c.index) << c.text;
    const struct {
        const char* text;
        int character;
        const char* left;
    } removals[] = {{"  1 0", ' ' + 0x100, "10"}, {"a\xff" "b\xff", -1, "ab"},  // the low byte
                    {"abc", 0, "abc"}, {"   ", ' ', ""}, {"a b", ' ', "ab"}};
    for (const auto& c : removals) {
        char b[16];
        s->deleteChar(s, std::strcpy(b, c.text), c.character);
        EXPECT_STREQ(b, c.left) << '"' << c.text << '"';
    }
    const struct {
        const char *text, *delimiter;
        std::vector<std::string> pieces;
    } splits[] = {
        {"\\M+1ABCD\\M+1EF01", "\\M+", {"1ABCD", "1EF01"}},
        {"abc\\M+1ABCD", "\\M+", {"abc", "1ABCD"}},
        {"abc\\M+", "\\M+", {"abc", ""}},  // the rest after the last delimiter, even empty
        {"a\\M+\\M+b", "\\M+", {"a", "b"}},
        {"\\M+", "\\M+", {""}},
        {"abc", "\\M+", {}},  // without a delimiter neither the text nor the array changes
    };
    for (const auto& c : splits) {
        SCOPED_TRACE(c.text);
        char buffer[32], *pieces[4] = {};
        int32_t count = -7;
        s->splitString(s, std::strcpy(buffer, c.text), c.delimiter, &count, pieces);
        ASSERT_EQ(count, static_cast<int32_t>(c.pieces.size()));
        for (int32_t i = 0; i < count; ++i) EXPECT_EQ(pieces[i], c.pieces[static_cast<size_t>(i)]);
        EXPECT_EQ(pieces[count], nullptr);  // nothing written past the last piece
        EXPECT_TRUE(count > 0 || std::strcmp(buffer, c.text) == 0);
    }
    deleteDxfStrEtc(s);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(StrEtc, ConstructionFailsCleanlyAndLeavesAGivenStorageAlone) {
    EXPECT_EQ(newDxfStrEtc(nullptr, nullptr), nullptr);
    wqtest::sweepOwnAndSharedStorage([](wqtest::FakeHost& host, DxfPublicStorage* pool) {
        DxfStrEtc* s = newDxfStrEtc(host.services(), pool);
        EXPECT_EQ(s == nullptr, host.allocFault.injected != 0);
        EXPECT_TRUE(s == nullptr || s->searchString(s, "abc", "c") == 2);
        deleteDxfStrEtc(s);
    });
}
