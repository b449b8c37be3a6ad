// The host's encoding module: the code page a header names, text values converted to
// UTF-8 (escapes, bad bytes, long values), and UTF-8 repair and JSON string literals.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "Encoding.hpp"
#include "Json.hpp"

namespace {

using wqhost::TextConverter;

const std::string kFffd = "\xEF\xBF\xBD";  // U+FFFD, the replacement character

// The conversion of `bytes`, given as a view into a longer buffer whose next byte would
// complete an escape ('0') or a two-byte character ('\\'): it must not be looked at.
std::string utf8(const std::string& from, const std::string& bytes) {
    TextConverter converter;
    std::string out[2];
    EXPECT_TRUE(converter.open(from, nullptr)) << from;
    for (int k = 0; k < 2; ++k) {
        const std::string padded = bytes + "0\\"[k];
        converter.toUtf8(std::string_view(padded.data(), bytes.size()), &out[k]);
    }
    EXPECT_EQ(out[0], out[1]);
    return out[0];
}

// Whether glibc's UTF-8 decoder, which refuses overlong forms, surrogates and code points
// past U+10FFFF, takes all of `s`: a check written apart from the code under test.
bool isValidUtf8(std::string_view s) {
    static const iconv_t decoder = iconv_open("UTF-32LE", "UTF-8");
    std::string in(s), out(4 * s.size(), '\0');
    char *from = in.data(), *to = out.data();
    size_t fromLeft = in.size(), toLeft = out.size();
    return iconv(decoder, nullptr, nullptr, nullptr, nullptr),
           iconv(decoder, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
}

// A JSON string literal as a parser takes it: only the escapes the grammar allows, no
// control characters, valid UTF-8.
bool isJsonString(const std::string& s) {
    static const std::regex literal(R"("([^"\\\x01-\x1f]|\\(["\\/bfnrt]|u[0-9a-fA-F]{4}))*")");
    return s.find('\0') == s.npos && std::regex_match(s, literal) && isValidUtf8(s);
}

TEST(HostEncodingHeader, CodePageFromVersionAndDwgCodePageAndItsIconvName) {
    const std::string crLf = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1015\r\n"
                             "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_932\r\n  0\r\nENDSEC\r\n";
    auto scan = [](const std::string& document) {  // exactly its bytes, for the sanitizer
        const std::vector<char> bytes(document.begin(), document.end());
        const wqhost::DrawingEncoding found = wqhost::scanHeader(bytes.data(), bytes.size());
        return found.codePage + "|" + found.dwgCodePage + "|" + found.acadVersion +
               (found.fromHeader ? "|header" : "|default");
    };
    const std::string head = "0\nSECTION\n2\nHEADER\n9\n", to932 = "$DWGCODEPAGE\n3\nANSI_932\n";
    const std::string cases[][2] = {
        {crLf, "CP932|ANSI_932|AC1015|header"}, {"", "CP1252|||default"},
        {"999\nby hand\n\t0 \nSECTION\n 2\nheader\n9\n$dwgcodepage\n3\n  ansi_1251 \n",
         "CP1251|ansi_1251||header"},
        {"0\rSECTION\r2\rHEADER\r9\r$DWGCODEPAGE\r3\rDOS866\r0\rENDSEC\r", "CP866|DOS866||header"},
        {"\xEF\xBB\xBF " + head + "$ACADVER\n1\nAC1021\n9\n" + to932,
         "UTF-8|ANSI_932|AC1021|header"},
        {head + "$DWGCODEPAGE\n3\nANSI_9999\n", "CP1252|ANSI_9999||default"},
        // A header after another section, a code page after the header's end, binary DXF.
        {"0\nSECTION\n2\nENTITIES\n0\nENDSEC\n" + head + to932, "CP1252|||default"},
        {head + "$ACADVER\n1\nAC1009\n0\nENDSEC\n0\nSECTION\n2\nTABLES\n9\n" + to932,
         "CP1252||AC1009|default"},
        {std::string("AutoCAD Binary DXF\r\n\x1A\0", 22), "CP1252|||default"}};
    for (const auto& c : cases) EXPECT_EQ(scan(c[0]), c[1]) << c[0];
    // Every prefix is read as far as its last whole line; a CR ends its line even when the
    // LF after it is cut off.
    const size_t versionEnds = crLf.find("AC1015") + 7, pageEnds = crLf.find("ANSI_932") + 9;
    for (size_t n = 0; n <= crLf.size(); ++n) {
        const std::string page = n >= pageEnds ? "CP932|ANSI_932|" : "CP1252||";
        EXPECT_EQ(scan(crLf.substr(0, n)), page + (n >= versionEnds ? "AC1015" : "") +
                                               (n >= pageEnds ? "|header" : "|default")) << n;
    }
    // Every code page value drawings write maps to a name the converter (so iconv) opens.
    std::vector<std::string> names = {"DOS932", "MACINTOSH", "BIG5", "GB2312", "KSC5601", "JOHAB",
                                      "ASCII", "UTF8", " ansi_932\t"};
    // Negative numbers stand for DOS code pages.
    for (int n : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,
                  1361, -437, -850, -852, -855, -857, -860, -861, -863, -864, -865, -866, -869})
        names.push_back((n < 0 ? "DOS" : "ANSI_") + std::to_string(std::abs(n)));
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 15})
        names.push_back("ISO8859-" + std::to_string(n));
    for (const std::string& name : names) {
        const std::string found = wqhost::iconvNameForCodePage(name);
        EXPECT_TRUE(!found.empty() && TextConverter().open(found, nullptr)) << name << found;
    }
    EXPECT_EQ(wqhost::iconvNameForCodePage("ANSI_1200") + wqhost::iconvNameForCodePage("ANSI_93"), "");
}

TEST(HostEncodingConvert, CodePagesBadBytesAndEscapes) {
    const std::string r = kFffd, r5 = r + r + r + r + r;
    const struct {
        const char* from;  // null: every one of CP1252, CP932 and UTF-8
        std::string bytes, expected;
    } cases[] = {
        {"CP932", "\x83\x5C\x81\x40\x95\x5C", "ソ\u3000表"}, {"CP932", "C:\\dir", "C:\\dir"},
        {"CP932", "\x83\x5CU+00E9", "ソU+00E9"},  // a trail byte never opens an escape
        {"CP932", "\x83\x5C\\U+00E9 \xB1", "ソé ｱ"}, {"CP950", "\xA4\x5C", "么"},
        {"SHIFT_JIS", "C:\\dir\\U+00E9~", "C:¥diré‾"},  // 0x5C is the yen sign there
        {"CP1252", "\x80 B\xFCro Ma\xDFstab \x9F", "€ Büro Maßstab Ÿ"},
        {"CP437", "\x81\xE1\\U+00FC", "üßü"}, {"UTF-8", "B\xC3\xBCro \xF0\x9F\x93\x90", "Büro 📐"},
        {"CP1258", "x\xC3", "xĂ"},  // held back to see whether an accent follows
        // Each byte that does not convert is one replacement character.
        {"CP1252", "\x81\x8D\x8F\x90\x9D", r5}, {"CP932", "\x85\\U+00E9", r + "é"},
        {"CP932", "A\x85@B", "A" + r + "@B"},  // the second byte is read again
        {"CP932", "\x83\x5C\x83", "ソ" + r},    // cut short by the end of the value
        {"UTF-8", "\xE2\x82-\xE2\x82\\U+00FC", r + "-" + r + "ü"},
        {"UTF-8", "\xC0\xAF\xED\xA0\x80", r5}, {"UTF-8", "\xF4\x90\x80\x80\xF0\x9F\x93", r5},
        {nullptr, "\\U+00fcber x\\U+00FC5 \\\\U+00FC", "über xü5 \\ü"}, {nullptr, "\\", "\\"},
        {nullptr, "\\U+ \\U+00G1 \\u+00FC \\U+00F", "\\U+ \\U+00G1 \\u+00FC \\U+00F"},
        {nullptr, "\\U+20AC\\U+D83D\\U+DCD0\\U+DBFF\\U+DFFF", "€📐\U0010FFFF"},
        {nullptr, "\\U+D83D", r},
        {nullptr, "\\U+DCD0\\U+D83D\\U+0041\\U+D83Dx\\U+0000", r + r + "A" + r + "x" + r}};
    const std::vector<std::string> all = {"CP1252", "CP932", "UTF-8"};
    for (const auto& c : cases)
        for (const std::string& from : c.from ? std::vector<std::string>{c.from} : all)
            EXPECT_EQ(utf8(from, c.bytes), c.expected) << from << " " << c.bytes;
}

TEST(HostEncodingConvert, LongValuesAcrossTheBufferAndMovedConverters) {
    // 面 is 0x96 0xCA, three bytes in UTF-8; every 2000th is the undefined byte 0xFD
    // instead, so one run of non-ASCII bytes fills the buffer between two bad bytes.
    const size_t fit = TextConverter::kBufferBytes / 3;
    for (size_t count : {fit - 1, fit, fit + 1, 2 * fit + 1, 5 * fit}) {
        std::string bytes = "x", expected = "keptx", out = "kept";
        for (size_t k = 0; k < count; ++k) {
            bytes += k % 2000 == 1999 ? "\xFD" : "\x96\xCA";
            expected += k % 2000 == 1999 ? kFffd : "面";
        }
        TextConverter converter;
        ASSERT_TRUE(converter.open("CP932", nullptr));
        TextConverter(std::move(converter)).toUtf8(bytes, &out);
        EXPECT_EQ(out, expected) << count;
    }
    // The moved-from converter reads UTF-8, as a new one does; a failed open keeps the code
    // page, and code pages that are not ASCII-based fail.
    TextConverter converter, taken;
    std::string out, error;
    ASSERT_TRUE(converter.open("SHIFT_JIS", nullptr));
    taken = std::move(converter);
    converter.toUtf8("~\xFC\\", &out);
    taken.toUtf8("~", &out);
    EXPECT_FALSE(converter.open("NO-SUCH-CODE-PAGE", &error));
    EXPECT_NE(error.find("NO-SUCH-CODE-PAGE"), std::string::npos);
    ASSERT_TRUE(converter.open("CP1252", nullptr));
    EXPECT_FALSE(converter.open("UTF-16LE", &error) || converter.open("ISO-2022-JP", &error));
    converter.toUtf8("\xFC", &out);
    EXPECT_EQ(out, "~" + kFffd + "\\‾ü");
}

TEST(HostEncodingJson, EveryShortByteStringComesOutValidAndEscaped) {
    std::string out;
    wqhost::appendJsonString(&out, std::string(1, 0) + "\x01\b\t\n\x0B\f\r\x1F\"\\/\x7F\xFF\xC3\xA9");
    EXPECT_EQ(out, "\"\\u0000\\u0001\\b\\t\\n\\u000b\\f\\r\\u001f\\\"\\\\/\x7F" + kFffd + "é\"");
    // All two-byte strings, and three- and four-byte ones built on the boundary bytes of
    // each range; what was valid comes out unchanged, what was not comes out repaired.
    const char edges[] = "\x00\x22\x5C\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC2\xE0\xED\xF0\xF4";
    std::vector<std::string> inputs;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
        for (size_t b = 0; b < 16 * 16; ++b) {
            inputs.push_back({static_cast<char>(a), edges[b / 16], edges[b % 16]});
            for (char d : {'\x80', '\xBF', 'A'}) inputs.push_back(inputs.back() + d);
        }
    }
    for (const std::string& input : inputs) {
        std::string repaired, json;
        wqhost::appendValidUtf8(&repaired, input);
        wqhost::appendJsonString(&json, input);
        ASSERT_TRUE(isValidUtf8(repaired)) << testing::PrintToString(input);
        ASSERT_TRUE(isJsonString(json)) << testing::PrintToString(input);
        ASSERT_TRUE(!isValidUtf8(input) || repaired == input) << testing::PrintToString(input);
    }
}

}  // namespace
