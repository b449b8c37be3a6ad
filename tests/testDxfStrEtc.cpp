// String utilities: searches, in-place removals, trimming, splitting and two-byte length,
// with the corner cases callers rely on, and clean construction on a failing host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DxfStrEtc.h"
#include "FakeHost.hpp"

namespace {

class StrEtc : public ::testing::Test {
protected:
    wqtest::FakeHost host;
    DxfStrEtc* s = nullptr;
    // A copy of the handle without a context, for the operations that test for one.
    DxfStrEtc bare{};

    void SetUp() override {
        s = newDxfStrEtc(host.services(), nullptr);
        ASSERT_NE(s, nullptr);
        bare = *s;
        bare.context = nullptr;
    }
    void TearDown() override {
        deleteDxfStrEtc(s);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
    // Runs an in-place edit on a private copy and gives back what is left.
    template <class Edit>
    static std::string edited(const std::string& text, Edit edit) {
        char buffer[64];
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        edit(buffer);
        return buffer;
    }
};

TEST_F(StrEtc, SubstringSearchesFindWholeOccurrencesOnly) {
    struct Case { const char* text; const char* sub; int32_t index; } cases[] = {
        {"abcabc", "bc", 1},   {"abc", "abc", 0},  {"xyzab", "ab", 3},  // at the very end
        {"ab", "abc", -1},     {"xab", "abc", -1},                      // never past the end
        {"abc", "", -1},       {"", "", -1},       {"", "a", -1},       // empty never found
        {"aab", "ab", 1},      {"abd", "abc", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.sub);
        EXPECT_EQ(s->findString(s, c.text, c.sub), c.index);
        EXPECT_EQ(s->searchString(s, c.text, c.sub), c.index);
    }
    EXPECT_EQ(s->findAnyOf(s, "hello world", " o"), 4);
    EXPECT_EQ(s->findAnyOf(s, "hello", "xyz"), -1);
    EXPECT_EQ(s->findAnyOf(s, "hello", ""), -1);
    // Without a context the guarded operations answer "nothing" instead of crashing.
    EXPECT_EQ(bare.findString(&bare, "abc", "b"), -1);
    EXPECT_EQ(bare.findAnyOf(&bare, "abc", "b"), -1);
    char text[] = "abc";
    EXPECT_EQ(bare.deleteString(&bare, text, "b"), nullptr);
    EXPECT_STREQ(text, "abc");
}

TEST_F(StrEtc, DeleteCharsRemovesEveryByteOfTheSet) {
    struct Case { const char* text; const char* set; const char* left; } cases[] = {
        {" a b ", " ", "ab"},       {"a \tb\t", " \t", "ab"},  {"  a  ", "", "  a  "},
        {"aaaa", "a", ""},          {"abcabc", "ca", "bb"},    {"", "a", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(edited(c.text, [&](char* b) { EXPECT_EQ(s->deleteChars(s, b, c.set), b); }),
                  c.left) << c.text << " less " << c.set;
    }
}

TEST_F(StrEtc, DeleteStringRemovesOccurrencesLeftToRightWithoutOverlap) {
    struct Case { const char* text; const char* sub; const char* left; } cases[] = {
        {"XXXX", "XX", ""},   {"XXX", "XX", "X"},   {"aXXbXX", "XX", "ab"},
        {"aabb", "ab", "ab"},  // the join makes a new "ab" that starts before the cut: it stays
        {"abab", "ab", ""},   {"abc", "", "abc"},   {"abc", "x", "abc"},   {"abc", "abc", ""},
        {"xabyab", "ab", "xy"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(edited(c.text, [&](char* b) { EXPECT_EQ(s->deleteString(s, b, c.sub), b); }),
                  c.left) << c.text << " less " << c.sub;
    }
}

TEST_F(StrEtc, NotOfSearchesAndTrimRight) {
    EXPECT_EQ(s->lastNotOf(s, "ab  ", " "), 2);  // a length, not an index
    EXPECT_EQ(s->lastNotOf(s, "   ", " "), -1);  // all trimmed is -1, not 0
    EXPECT_EQ(s->lastNotOf(s, "", " "), -1);
    EXPECT_EQ(s->lastNotOf(s, "abc", ""), 3);
    EXPECT_EQ(s->lastNotOf(s, "a \t", " \t"), 1);
    EXPECT_EQ(s->firstNotOf(s, "  ab", " "), 2);  // an index
    EXPECT_EQ(s->firstNotOf(s, "   ", " "), -1);
    EXPECT_EQ(s->firstNotOf(s, "", " "), -1);
    EXPECT_EQ(s->firstNotOf(s, "abc", ""), 0);

    struct Case { const char* text; const char* left; } trims[] = {
        {"ab  ", "ab"}, {"ab \t \t", "ab"}, {"   ", " "}, {" \t ", " "}, {" ", " "},
        {"", ""},       {"\t", "\t"},       {" a b ", " a b"},   {"ab", "ab"},
    };
    for (const Case& c : trims) {
        EXPECT_EQ(edited(c.text, [&](char* b) { s->trimRight(s, b); }), c.left) << '"' << c.text << '"';
    }
}

TEST_F(StrEtc, WideLengthCountsUnitsUpToAZeroSecondByte) {
    const char kanji[] = {'\x81', '\x40', '\x00', '\x41', '\x12', '\x00'};
    EXPECT_EQ(s->wideLength(s, kanji), 2);  // a zero first byte does not end the text
    EXPECT_EQ(s->wideLength(s, "ABC"), 1);
    EXPECT_EQ(s->wideLength(s, nullptr), 0);
    const char empty[] = {'\x41', '\x00'};
    EXPECT_EQ(s->wideLength(s, empty), 0);
}

TEST_F(StrEtc, SplitStringAtTheEscapeDelimiter) {
    struct Case { const char* text; std::vector<std::string> pieces; } cases[] = {
        {"\\M+1ABCD\\M+1EF01", {"1ABCD", "1EF01"}},
        {"abc\\M+1ABCD", {"abc", "1ABCD"}},
        {"\\M+1ABCD", {"1ABCD"}},
        {"\\M+1ABCD\\M+", {"1ABCD", ""}},
        {"abc\\M+", {"abc", ""}},
        {"a\\M+\\M+b", {"a", "b"}},
        {"\\M+", {""}},
        {"abc", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[64];
        std::strcpy(buffer, c.text);
        char* pieces[8] = {};
        int32_t count = -7;
        s->splitString(s, buffer, "\\M+", &count, pieces);
        ASSERT_EQ(count, static_cast<int32_t>(c.pieces.size()));
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(pieces[i], c.pieces[static_cast<size_t>(i)]);
            EXPECT_TRUE(pieces[i] >= buffer && pieces[i] < buffer + sizeof buffer);  // in place
        }
        EXPECT_EQ(pieces[count], nullptr);  // nothing written past the last piece
    }
    // Without a delimiter (or with an empty one) neither the string nor the array changes.
    char text[] = "a\\M+b";
    char* sentinel = text + 2;
    char* pieces[2] = {sentinel, sentinel};
    int32_t count = 5;
    s->splitString(s, text, "", &count, pieces);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(pieces[0], sentinel);
    EXPECT_STREQ(text, "a\\M+b");
    s->splitString(s, text, "\\X", &count, pieces);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(pieces[0], sentinel);
}

TEST_F(StrEtc, DeleteCharUsesTheLowByte) {
    EXPECT_EQ(edited(" 0 ", [&](char* b) { s->deleteChar(s, b, 32); }), "0");
    EXPECT_EQ(edited("  1 0", [&](char* b) { s->deleteChar(s, b, ' ' + 0x100); }), "10");
    EXPECT_EQ(edited("0\t", [&](char* b) { s->deleteChar(s, b, ' '); }), "0\t");
    EXPECT_EQ(edited("abc", [&](char* b) { s->deleteChar(s, b, 0); }), "abc");
    EXPECT_EQ(edited("", [&](char* b) { s->deleteChar(s, b, 'a'); }), "");
    EXPECT_EQ(edited("a\xff" "b\xff", [&](char* b) { s->deleteChar(s, b, -1); }), "ab");
}

TEST(StrEtcLife, ConstructionFailsCleanlyAndOwnsOnlyItsOwnStorage) {
    {
        EXPECT_EQ(newDxfStrEtc(nullptr, nullptr), nullptr);
        for (bool persistent : {false, true}) {
            for (int32_t failAt = 0;; ++failAt) {
                wqtest::FakeHost faulty;
                faulty.allocFault.failAt = failAt;
                faulty.allocFault.persistent = persistent;
                DxfStrEtc* s = newDxfStrEtc(faulty.services(), nullptr);
                if (s != nullptr) {
                    EXPECT_EQ(s->findString(s, "abc", "c"), 2);
                }
                deleteDxfStrEtc(s);
                EXPECT_EQ(faulty.poolBlocksLive(), 0) << failAt;
                if (faulty.allocFault.injected == 0) break;
            }
        }
    }
    // On a storage it was given, the object leaves the storage alone.
    wqtest::FakeHost host;
    DxfPublicStorage* storage = newDxfPublicStorage(host.services(), StorageExactSizes);
    ASSERT_NE(storage, nullptr);
    DxfStrEtc* s = newDxfStrEtc(host.services(), storage);
    ASSERT_NE(s, nullptr);
    deleteDxfStrEtc(s);
    void* block = storage->allocBlock(storage, 16);
    EXPECT_NE(block, nullptr);
    deleteDxfPublicStorage(storage);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

}  // namespace
