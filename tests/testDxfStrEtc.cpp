// String utilities: searches, in-place removals, trimming, splitting and two-byte length,
// with the corner cases callers rely on, and clean construction on a failing host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DxfStrEtc.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

namespace {

class StrEtc : public ::testing::Test {
  protected:
    wqtest::FakeHost host;
    DxfStrEtc* s = newDxfStrEtc(host.services(), nullptr);
    void TearDown() override {
        deleteDxfStrEtc(s);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
};

TEST_F(StrEtc, Searches) {
    ASSERT_NE(s, nullptr);
    struct Case {
        const char* text;
        const char* sub;
        int32_t index;
    } cases[] = {
        {"abcabc", "bc", 1}, {"xyzab", "ab", 3}, {"aab", "ab", 1},
        {"abd", "abc", -1},  {"xab", "abc", -1},                 // never past the end
        {"abc", "", -1},     {"", "", -1},       {"", "a", -1},  // empty never found
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.sub);
        EXPECT_EQ(s->findString(s, c.text, c.sub), c.index);
        EXPECT_EQ(s->searchString(s, c.text, c.sub), c.index);
    }
    EXPECT_EQ(s->findAnyOf(s, "hello world", " o"), 4);
    EXPECT_EQ(s->findAnyOf(s, "hello", ""), -1);
    EXPECT_EQ(s->lastNotOf(s, "a \t", " \t"), 1);  // a length, not an index
    EXPECT_EQ(s->lastNotOf(s, "abc", ""), 3);
    EXPECT_EQ(s->lastNotOf(s, "   ", " "), -1);  // all trimmed is -1, not 0
    EXPECT_EQ(s->lastNotOf(s, "", " "), -1);
    EXPECT_EQ(s->firstNotOf(s, "  ab", " "), 2);  // an index
    EXPECT_EQ(s->firstNotOf(s, "abc", ""), 0);
    EXPECT_EQ(s->firstNotOf(s, "   ", " "), -1);
    const char kanji[] = {'\x81', '\x40', '\x00', '\x41', '\x12', '\x00'};
    EXPECT_EQ(s->wideLength(s, kanji), 2);  // a zero first byte does not end the text
    EXPECT_EQ(s->wideLength(s, "A"), 0);
    EXPECT_EQ(s->wideLength(s, nullptr), 0);
    // Without a context the guarded operations answer "nothing" instead of crashing.
    DxfStrEtc bare = *s;
    bare.context = nullptr;
    char text[] = "abc";
    EXPECT_EQ(bare.findString(&bare, text, "b"), -1);
    EXPECT_EQ(bare.findAnyOf(&bare, text, "b"), -1);
    EXPECT_EQ(bare.deleteString(&bare, text, "b"), nullptr);
    EXPECT_STREQ(text, "abc");
}

TEST_F(StrEtc, InPlaceEdits) {
    ASSERT_NE(s, nullptr);
    enum Op { Chars, String, Trim, Char };
    const struct {
        Op op;
        const char* text;
        const char* arg;
        int character;
        const char* left;
    } cases[] = {
        {Chars, "a \tb\t", " \t", 0, "ab"},
        {Chars, "abcabc", "ca", 0, "bb"},
        {Chars, "aaaa", "a", 0, ""},
        {Chars, "  a  ", "", 0, "  a  "},
        // Left to right without overlap; a new occurrence the join makes before the cut stays.
        {String, "XXX", "XX", 0, "X"},
        {String, "aXXbXX", "XX", 0, "ab"},
        {String, "aabb", "ab", 0, "ab"},
        {String, "xabyab", "ab", 0, "xy"},
        {String, "abab", "ab", 0, ""},
        {String, "abc", "", 0, "abc"},
        {Trim, "ab \t \t", "", 0, "ab"},
        {Trim, " a b ", "", 0, " a b"},
        {Trim, "   ", "", 0, " "},
        {Trim, "\t", "", 0, "\t"},  // the first byte stays
        {Trim, "", "", 0, ""},
        {Char, "  1 0", "", ' ' + 0x100, "10"},
        {Char,
         "a\xff"
         "b\xff",
         "", -1, "ab"},  // low byte
        {Char, "abc", "", 0, "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.op << " \"" << c.text << "\" " << c.arg);
        char b[32];
        std::strcpy(b, c.text);
        switch (c.op) {
            case Chars:
                EXPECT_EQ(s->deleteChars(s, b, c.arg), b);
                break;
            case String:
                EXPECT_EQ(s->deleteString(s, b, c.arg), b);
                break;
            case Trim:
                s->trimRight(s, b);
                break;
            case Char:
                s->deleteChar(s, b, c.character);
                break;
        }
        EXPECT_STREQ(b, c.left);
    }
}

TEST_F(StrEtc, SplitStringInPlace) {
    ASSERT_NE(s, nullptr);
    const struct {
        const char* text;
        const char* delimiter;
        std::vector<std::string> pieces;
    } cases[] = {
        {"\\M+1ABCD\\M+1EF01", "\\M+", {"1ABCD", "1EF01"}},
        {"abc\\M+1ABCD", "\\M+", {"abc", "1ABCD"}},
        {"abc\\M+", "\\M+", {"abc", ""}},  // the rest after the last delimiter, even empty
        {"a\\M+\\M+b", "\\M+", {"a", "b"}},
        {"\\M+", "\\M+", {""}},
        {"abc", "\\M+", {}},  // without a delimiter neither the text nor the array changes
        {"a\\M+b", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[32];
        std::strcpy(buffer, c.text);
        char* pieces[4] = {};
        int32_t count = -7;
        s->splitString(s, buffer, c.delimiter, &count, pieces);
        ASSERT_EQ(count, static_cast<int32_t>(c.pieces.size()));
        for (int32_t i = 0; i < count; ++i) EXPECT_EQ(pieces[i], c.pieces[static_cast<size_t>(i)]);
        EXPECT_EQ(pieces[count], nullptr);  // nothing written past the last piece
        EXPECT_TRUE(count > 0 || std::strcmp(buffer, c.text) == 0);
    }
}

TEST(StrEtcLife, ConstructionFailsCleanlyAndLeavesAGivenStorageAlone) {
    EXPECT_EQ(newDxfStrEtc(nullptr, nullptr), nullptr);
    wqtest::sweepOwnAndSharedStorage([](wqtest::FakeHost& host, DxfPublicStorage* pool) {
        DxfStrEtc* s = newDxfStrEtc(host.services(), pool);
        EXPECT_EQ(s == nullptr, host.allocFault.injected != 0);
        EXPECT_TRUE(s == nullptr || s->findString(s, "abc", "c") == 2);
        deleteDxfStrEtc(s);
    });
}

}  // namespace
