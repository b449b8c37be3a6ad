// Escape decoder: plain text copied, "\M+" escapes decoded high byte first with the number
// rules of "%x", and hostile texts kept inside the piece array and the output buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "FakeHost.hpp"
#include "MtextConv.h"
#include "Sweep.hpp"

using wqtest::FakeHost;

static std::string repeat(const std::string& piece, size_t times) {
    return times == 0 ? "" : piece + repeat(piece, times - 1);
}

TEST(MtextConv, CopiesPlainTextAndDecodesEscapesReadingNumbersAsScanfHexDoes) {
    const struct {
        std::string text, bytes;
        int32_t result;
    } cases[] = {
        {"ABC", "ABC", 0}, {"\\m+18140", "\\m+18140", 0},  // lower-case m is no escape
        {std::string(2047, 'x'), std::string(2047, 'x'), 0},  // the longest line, whole
        {"\\M+18140\\M+18141", "\x81\x40\x81\x41", 1},
        {"\\M+98140", "\x81\x40", 1},  // the code page digit is not looked at
        {"\\M+1a1b2", "\xA1\xB2", 1}, {"\\M+141", std::string("\0\x41", 2), 1},
        {"ABC\\M+18140", std::string("\0\xBC\x81\x40", 4), 1},  // text before is a piece
        {"\\M+18140ab", "\x40\xAB", 1},  // digits after an escape: the low 16 bits
        {"\\M+", "", 1}, {"\\M+18140\\M+", "\x81\x40", 1},  // nothing after an escape: no bytes
        {"\\M+1zz\\M+18141", "\x81\x41", 1},    // a piece without a number gives no bytes
        {"a\\M+\\M+\\M+18141", "\x81\x41", 1},  // "a" is a code page digit alone
        // Only the first 256 pieces are decoded; the rest cannot overrun the piece array.
        {repeat("\\M+18140", 300), repeat("\x81\x40", 256), 1},
        {"ABC" + repeat("\\M+18140", 300), std::string("\0\xBC", 2) + repeat("\x81\x40", 255), 1},
        {repeat("\\M+", 682), "", 1}, {repeat("a\\M+", 511), "", 1},
    };
    FakeHost host;
    MtextConv* conv = newMtextConv(host.services(), nullptr, nullptr);
    ASSERT_NE(conv, nullptr);
    // Converts a copy of `text` into a 2048-byte buffer with a guard zone after it; the
    // bytes it gave, once the result, their terminator and the guard zone are checked.
    auto convert = [&](std::string text, int32_t expectedResult) {
        char out[2048 + 16];
        std::memset(out, 0x5A, sizeof out);
        int32_t length = -1;
        const int32_t size = static_cast<int32_t>(text.size());
        EXPECT_EQ(conv->convertText(conv, out, &length, &text[0], size), expectedResult);
        EXPECT_EQ(out[length], '\0');
        EXPECT_EQ(std::string(out + 2048, 16), std::string(16, 0x5A));
        return std::string(out, static_cast<size_t>(length));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(convert(c.text, c.result), c.bytes);
    }
    // The number after the code page digit reads as "%x" of sscanf reads it.
    for (const char* number : {"8140", " \t8140", "+8140", "-1", "-0x10", "0X1f", "0x", "0xg",
                               "0x+1", "-", " ", "g12", "12g34", "1ffff", "\v41", "FFFFFFFF"}) {
        SCOPED_TRACE(number);
        unsigned value = 0;
        const bool converted = std::sscanf(number, "%x", &value) == 1;
        const std::string bytes{static_cast<char>(value >> 8), static_cast<char>(value)};
        EXPECT_EQ(convert(std::string("\\M+9") + number, 1), converted ? bytes : "");
    }
    deleteMtextConv(conv);
}

TEST(MtextConv, EveryFailedAllocationIsUndone) {
    EXPECT_EQ(newMtextConv(nullptr, nullptr, nullptr), nullptr);
    wqtest::sweepAllocations("", [](FakeHost& host, const wqtest::Fault& fault) {
        host.allocFault = fault;
        MtextConv* conv = newMtextConv(host.services(), nullptr, nullptr);
        EXPECT_EQ(conv == nullptr, host.allocFault.injected > 0);
        deleteMtextConv(conv);
    });
}
