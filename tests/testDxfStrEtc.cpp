// String utilities: what the reader calls (substring search, in-place removal of one byte,
// splitting at a delimiter), what only hosts call, and clean construction.
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

// The operations the reader leaves to hosts: exported all the same, so held to their word.
TEST(StrEtc, TheOperationsOnlyHostsCall) {
    wqtest::FakeHost host;
    DxfStrEtc* s = newDxfStrEtc(host.services(), nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->findString(s, "xyzab", "ab") == 3 && s->findString(s, "", "a") == -1);
    EXPECT_TRUE(s->findAnyOf(s, "hello world", " o") == 4 && s->findAnyOf(s, "hello", "") == -1);
    // lastNotOf gives a length, firstNotOf an index; all trimmed, or empty, is -1.
    EXPECT_EQ(s->lastNotOf(s, "a \t", " \t") * 10 + s->lastNotOf(s, "abc", ""), 13);
    EXPECT_TRUE(s->lastNotOf(s, "   ", " ") == -1 && s->lastNotOf(s, "", " ") == -1);
    EXPECT_TRUE(s->firstNotOf(s, "  ab", " ") == 2 && s->firstNotOf(s, "abc", "") == 0);
    EXPECT_EQ(s->firstNotOf(s, "   ", " "), -1);
    const char kanji[] = {'\x81', '\x40', '\x00', '\x41', '\x12', '\x00'};  // a zero first byte
    EXPECT_TRUE(s->wideLength(s, kanji) == 2 && s->wideLength(s, "A") == 0 &&
                s->wideLength(s, nullptr) == 0);
    // clang-format off
    const struct {
        int op;  // 0 deleteChars, 1 deleteString, 2 trimRight
        const char *text, *arg, *left;
    } edits[] = {{0, "a \tb\t", " \t", "ab"}, {0, "abcabc", "ca", "bb"}, {0, "  a  ", "", "  a  "},
                 // Left to right; an occurrence the join makes before the cut stays.
                 {1, "XXX", "XX", "X"}, {1, "aabb", "ab", "ab"}, {1, "xabyab", "ab", "xy"},
                 {1, "abc", "", "abc"}, {2, "ab \t \t", "", "ab"}, {2, " a b ", "", " a b"},
                 {2, "   ", "", " "}, {2, "", "", ""}};  // the first byte stays
    // clang-format on
    for (const auto& c : edits) {
        char b[32];
        std::strcpy(b, c.text);
        char* r = c.op == 0 ? s->deleteChars(s, b, c.arg) : b;
        if (c.op == 1) r = s->deleteString(s, b, c.arg);
        if (c.op == 2) s->trimRight(s, b);
        EXPECT_TRUE(r == b && std::strcmp(b, c.left) == 0) << c.op << " \"" << c.text << '"';
    }
    // Without a context the guarded operations answer "nothing" instead of crashing.
    DxfStrEtc bare = *s;
    bare.context = nullptr;
    char text[] = "abc";
    EXPECT_TRUE(bare.findString(&bare, text, "b") == -1 && bare.findAnyOf(&bare, text, "b") == -1);
    EXPECT_TRUE(bare.deleteString(&bare, text, "b") == nullptr && std::strcmp(text, "abc") == 0);
    deleteDxfStrEtc(s);
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
