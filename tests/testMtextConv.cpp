// Escape decoder: plain text copied, "\M+" escapes decoded high byte first with the number
// rules of "%x", and hostile texts kept inside the piece array and the output buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "FakeHost.hpp"
#include "MtextConv.h"

namespace {

using wqtest::FakeHost;

constexpr int32_t kOutBytes = 2048;
constexpr char kUntouched = '\x5A';

struct Decoder {
    FakeHost host;
    MtextConv* conv = newMtextConv(host.services(), nullptr, nullptr);
    char out[kOutBytes + 16];  // the buffer and a guard zone after it
    int32_t length = -1;

    ~Decoder() { deleteMtextConv(conv); }
    // Converts a copy of `text`; the result, with `out` and `length` filled.
    int32_t convert(const std::string& text) {
        std::string copy = text;
        std::memset(out, kUntouched, sizeof out);
        return conv->convertText(conv, out, &length, &copy[0], static_cast<int32_t>(copy.size()));
    }
    std::string bytes() const { return std::string(out, static_cast<size_t>(length)); }
    bool guardIntact() const {
        for (int32_t i = kOutBytes; i < kOutBytes + 16; ++i)
            if (out[i] != kUntouched) return false;
        return true;
    }
};

TEST(MtextConv, CopiesPlainTextAndDecodesEscapes) {
    struct Case { const char* text; std::string bytes; int32_t result; } cases[] = {
        {"ABC", "ABC", 0},
        {"", "", 0},
        {"\\m+18140", "\\m+18140", 0},  // lower-case m is no escape
        {"\\M+18140", "\x81\x40", 1},
        {"\\M+18140\\M+18141", "\x81\x40\x81\x41", 1},
        {"\\M+98140", "\x81\x40", 1},  // the code page digit is not looked at
        {"\\M+1a1b2", "\xA1\xB2", 1},
        {"\\M+141", std::string("\0\x41", 2), 1},
        {"ABC\\M+18140", std::string("\0\xBC\x81\x40", 4), 1},  // text before is a piece
        {"\\M+18140ab", "\x40\xAB", 1},  // digits after an escape: the low 16 bits
        {"\\M+", "", 1},                 // nothing after the escape: no bytes
        {"\\M+1", "", 1},
        {"\\M+1zz\\M+18141", "\x81\x41", 1},  // a piece without a number gives no bytes
        {"a\\M+\\M+\\M+18141", "\x81\x41", 1},  // "a" is a code page digit alone
    };
    Decoder d;
    ASSERT_NE(d.conv, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(d.convert(c.text), c.result);
        EXPECT_EQ(d.bytes(), c.bytes);
        EXPECT_EQ(d.out[d.length], '\0');
    }
}

// The number after the code page digit reads as "%x" of sscanf reads it.
TEST(MtextConv, NumbersReadAsScanfHexDoes) {
    const char* numbers[] = {"8140",  " \t8140", "+8140", "-1",    "-0x10", "0x1F",  "0X1f",
                             "0x",    "0xg",    "0x+1",  "-",     "+",     " ",     "g12",
                             "12g34", "1ffff",  "\v41",  "-7fff", "0x0",   "00041", "FFFFFFFF"};
    Decoder d;
    for (const char* number : numbers) {
        SCOPED_TRACE(number);
        unsigned value = 0;
        const bool converted = std::sscanf(number, "%x", &value) == 1;
        d.convert(std::string("\\M+9") + number);
        const std::string expected =
            converted ? std::string{static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)}
                      : std::string();
        EXPECT_EQ(d.bytes(), expected);
    }
}

TEST(MtextConv, HostileTextsStayInsideTheirBuffers) {
    std::string escapes;
    for (int i = 0; i < 300; ++i) escapes += "\\M+18140";
    std::string afterText = "ABC" + escapes;
    std::string onlyDelimiters;
    while (onlyDelimiters.size() + 3 < kOutBytes) onlyDelimiters += "\\M+";
    std::string letterPieces;  // 511 one-letter pieces in a 2044-byte value
    while (letterPieces.size() + 4 < kOutBytes) letterPieces += "a\\M+";

    Decoder d;
    // Only the first 256 pieces are decoded: 512 bytes.
    EXPECT_EQ(d.convert(escapes), 1);
    EXPECT_EQ(d.length, 512);
    EXPECT_EQ(d.bytes().substr(508), "\x81\x40\x81\x40");
    EXPECT_EQ(d.convert(afterText), 1);
    EXPECT_EQ(d.length, 512);
    EXPECT_EQ(d.bytes().substr(0, 4), std::string("\0\xBC\x81\x40", 4));
    EXPECT_EQ(d.convert(onlyDelimiters), 1);
    EXPECT_EQ(d.length, 0);
    EXPECT_EQ(d.convert(letterPieces), 1);
    EXPECT_EQ(d.length, 0);  // one letter is only the code page digit
    EXPECT_TRUE(d.guardIntact());
    // A plain value of the longest line is copied whole.
    EXPECT_EQ(d.convert(std::string(2047, 'x')), 0);
    EXPECT_EQ(d.length, 2047);
    EXPECT_EQ(d.out[2047], '\0');
}

TEST(MtextConv, EveryFailedAllocationIsUndone) {
    EXPECT_EQ(newMtextConv(nullptr, nullptr, nullptr), nullptr);
    for (bool persistent : {false, true}) {
        for (int32_t failAt = 0;; ++failAt) {
            FakeHost host;
            host.allocFault = {failAt, persistent};
            MtextConv* conv = newMtextConv(host.services(), nullptr, nullptr);
            deleteMtextConv(conv);
            EXPECT_EQ(host.poolBlocksLive(), 0) << failAt;
            if (host.allocFault.injected == 0) break;
            EXPECT_EQ(conv, nullptr) << failAt;
        }
    }
}

}  // namespace
