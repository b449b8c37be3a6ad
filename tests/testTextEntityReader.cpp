// The host's reader of the text entities the plug-in passes over, and MTEXT made plain:
// the project's drawings, every chunking of them, damaged input, and the real corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DrawingFiles.hpp"
#include "MtextPlain.hpp"
#include "TextEntityReader.hpp"
#include "Transcript.hpp"

namespace {

using namespace std::string_literals;
using wqhost::plainMtext;
using wqtest::section;
using Entities = std::vector<std::string>;  // "KIND:text|text" each

// Hands out the document `chunk` bytes at a time (0: as much as asked for), then `atEnd`
// (0, or negative for a read error), and counts calls after that.
struct Source {
    std::string_view bytes;
    std::size_t chunk = 0;
    std::int64_t atEnd = 0;
    std::size_t offset = 0;
    int callsAfterEnd = 0;
    bool over = false;

    std::int64_t read(char* buffer, std::size_t size) {
        callsAfterEnd += over;
        std::size_t take = std::min(size, bytes.size() - offset);
        if (chunk != 0) take = std::min(take, chunk);
        if (take == 0) return over = true, atEnd;
        std::copy_n(bytes.data() + offset, take, buffer);
        offset += take;
        return static_cast<std::int64_t>(take);
    }
};

Entities readAll(Source& source) {
    wqhost::TextEntityReader reader([&source](char* b, std::size_t n) { return source.read(b, n); });
    Entities all;
    wqhost::HostEntity entity;  // one entity for the whole run, as a caller that reuses it
    while (reader.next(&entity)) {
        std::string line = std::string(entity.kind) + ":";
        for (std::size_t i = 0; i < entity.texts.size(); ++i) line += (i ? "|" : "") + entity.texts[i];
        all.push_back(line);
    }
    EXPECT_FALSE(reader.next(&entity));  // the end stays the end
    EXPECT_EQ(entity.kind, nullptr);
    EXPECT_EQ(source.callsAfterEnd, 0);
    return all;
}

Entities readAll(std::string_view bytes, std::size_t chunk = 0) {
    Source source{bytes, chunk};
    return readAll(source);
}

std::string drawing(const char* name) {
    std::string bytes;
    EXPECT_TRUE(wqhost::readFile(std::string(WQ_SOURCE_DIR) + "/tests/drawings/" + name, &bytes));
    return bytes;
}

const Entities kKinds = {
    "MTEXT:Block note",
    "MTEXT:GENERAL NOTES\n1. ALL DIMENSIONS IN MM.\n2. DO NOT SCALE.\n3. FINISHES: SEE SCHEDULE",
    "DIMENSION: TYP.", "DIMENSION:2X \\U+230012", "MULTILEADER:DETAIL A\nSECOND LINE",
    "ARCALIGNEDTEXT:ARC \x81\x40 TEXT", "ACAD_TABLE:*T1|Title||Cell\nthree",
    "RTEXT:C:\\Drawings\\Title.txt", "MTEXT:"};

TEST(TextEntityReaderDrawings, EachKindAndEveryFormattingCodeInEveryChunking) {
    // The kinds drawing also holds what must be left out: the plug-in's own kinds, empty
    // dimensions, block-content multileaders, text groups outside BLOCKS and ENTITIES.
    const std::string kinds = drawing("entities_kinds.dxf");
    const Entities formatting = {
        "MTEXT:line one\nline two", "MTEXT:no\\U+00A0break", "MTEXT:back\\slash {braces}",
        "MTEXT:outer inner deep", "MTEXT:aligned", "MTEXT:under over strike colnext dimbelow",
        "MTEXT:1/2 3/4 5/8 +0.1/-0.2", "MTEXT:a;b/c", "MTEXT:\\U+00B0 \\U+00B1 \\U+2300 % 50%",
        "MTEXT:tab\tcol\nnext^caret", "MTEXT:\\U+00E9t\\U+00E9", "MTEXT:\x81\x40\x83\x8A",
        "MTEXT:before",
        // Chunks that end inside `\fArial;` and inside a `\M+` escape: joined first.
        "MTEXT:first chunk bold \x81\x40 end\\"};
    // The kinds again with every code line padded with blanks and CR LF line ends.
    std::string padded;
    std::istringstream lines(kinds);
    bool code = true;
    for (std::string line; std::getline(lines, line); code = !code) {
        padded += (code ? "  " + line + " \t" : line) + "\r\n";
    }
    const std::pair<std::string, Entities> documents[] = {
        {kinds, kKinds}, {padded, kKinds}, {drawing("entities_formatting.dxf"), formatting}};
    // Chunk sizes up to past the longest line: every line and CR LF pair is cut everywhere.
    for (const auto& [document, want] : documents) {
        for (std::size_t chunk = 0; chunk <= 160; ++chunk)
            ASSERT_EQ(readAll(document, chunk), want) << chunk;
    }
}

TEST(TextEntityReaderLines, MegabyteValuesAreKeptWhenWantedAndSkippedOtherwise) {
    const std::string big(3u << 20, 'x'), wanted = "A" + big + "Z";
    const std::string document = section(
        "ENTITIES", "0\nLINE\n1000\n" + big + "\n310\n" + big + "\n" +  // values nobody reads
                        big + "\n" + big + "\n" +                       // a code that is no number
                        "0\n" + big + "\n1\nnot an MTEXT\n" +           // an entity name
                        "0\nMTEXT\n3\n" + big + "\n1\n" + wanted + "\n" +
                        "0\nDIMENSION\n1\n" + wanted + "<>\n");
    const Entities want = {"MTEXT:" + big + wanted, "DIMENSION:" + wanted};
    for (std::size_t chunk : {0u, 1000u, 65535u, 65537u})
        EXPECT_TRUE(readAll(document, chunk) == want) << chunk;
}

TEST(TextEntityReaderBadInput, EveryPrefixYieldsTheEntitiesReadSoFar) {
    // Cut anywhere, the document yields the entities before the cut unchanged and at most
    // the one the cut fell in (" 10" cut to " 1" is a text group); it reads up to the cut.
    const std::string document = drawing("entities_kinds.dxf");
    for (std::size_t size = 0; size <= document.size(); ++size) {
        Source source{std::string_view(document).substr(0, size), 7};
        const Entities got = readAll(source);
        ASSERT_LE(got.size(), kKinds.size() + 1) << size;
        for (std::size_t i = 0; i + 1 < got.size(); ++i) ASSERT_EQ(got[i], kKinds[i]) << size;
        ASSERT_EQ(source.offset, size);
    }
}

TEST(TextEntityReaderBadInput, DamagedDocumentsYieldWhatCanBeRead) {
    const std::string mtext = "0\nMTEXT\n1\nnote\n", open = "0\nSECTION\n2\nENTITIES\n";
    const Entities one = {"MTEXT:note"};
    const struct {
        const char* name;
        std::string document;
        Entities want;
    } cases[] = {
        {"empty", "", {}},
        {"no sections", mtext + "0\nEOF\n", {}},
        {"no ENDSEC, no EOF", open + mtext, one},
        {"a section without ENDSEC ends at the next SECTION",
         open + mtext + section("OBJECTS", mtext), one},
        {"a SECTION without its name pair", "0\nSECTION\n1\nENTITIES\n" + mtext, {}},
        {"section names compare exactly", section("entities", mtext) + section("ENTITIESX", mtext), {}},
        {"a code line that is no number", section("ENTITIES", "0\nMTEXT\nx1\nno\n1\nyes\n"),
         {"MTEXT:yes"}},
        {"code 0 with no value line", section("ENTITIES", mtext) + "0", one},
        {"a value cut by the end", open + "0\nMTEXT\n3\nhalf\n1\nwa", {"MTEXT:halfwa"}},
        {"NUL and binary bytes kept in the text", section("ENTITIES", "0\nMTEXT\n1\na\0b\xff\x01\n"s),
         {"MTEXT:a\0b\xff\x01"s}},
        {"binary bytes in codes and names", section("ENTITIES", "\0\n\xff\n0\nLINE\0\n1\nx\n"s + mtext),
         one},
        {"only the CR before LF is a line end",
         section("ENTITIES", "0\nMTEXT\n1\ncr\rinside\n0\nMTEXT\n1\ntwo crs\r\r\n"),
         {"MTEXT:cr\rinside", "MTEXT:two crs\r"}},
        {"between sections nothing is read",
         section("ENTITIES", "") + mtext + section("HEADER", "9\n$ACADVER\n1\nAC1015\n"), {}},
        // Only the start of a long line is kept aside: it must not be judged by that.
        {"a long code line is no code 0",
         section("ENTITIES", "0\nLINE\n0" + std::string(200, ' ') + "5\nMTEXT\n1\nx\n"), {}},
        {"a long name line is no name",
         section("ENTITIES", "0\nMTEXT" + std::string(200, ' ') + "X\n1\nx\n"), {}},
        // A line is judged by its whole length, and its CR is no part of that length.
        {"a code 0 padded past the short length is no code",
         section("ENTITIES", "0\nLINE\n 0" + std::string(140, ' ') + "\nMTEXT\n1\nx\n"), {}},
        {"a name of the full short length ending in CR is a name",
         section("ENTITIES", "0\r\nMTEXT" + std::string(123, ' ') + "\r\n1\r\nx\r\n"), {"MTEXT:x"}},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {0u, 1u, 5u}) EXPECT_EQ(readAll(c.document, chunk), c.want) << c.name;
    }
    // Nothing past the EOF line is read; a read error ends the document like its end.
    const std::string body = section("ENTITIES", mtext) + "0\nEOF\n", more = body + open + mtext;
    Source source{more, 1}, failing{std::string_view(more).substr(0, 40), 3, -1};
    EXPECT_EQ(readAll(source), one);
    EXPECT_EQ(source.offset, body.size());
    EXPECT_EQ(readAll(failing), one);
}

TEST(MtextPlain, CodesCutByTheEndAndOtherEdges) {
    const std::string cases[][2] = {
        // A code whose `;` never comes takes the rest of the value as its argument.
        {"text\\fArial", "text"}, {"text\\H2.5x", "text"}, {"a\\", "a\\"},
        // A stack without its `;` is text all the same; `\S` inside a stack is dropped.
        {"\\S1/2", "1/2"}, {"\\S1\\S2^3;4", "12/34"}, {"\\S1^2^3;", "1/2^3"},
        // `\M+`: four digits at most, fewer when the value ends or a non-digit follows.
        {"\\M+18140A", "\x81\x40" "A"}, {"\\M+1a1b2", "\xa1\xb2"}, {"\\M+141", "\0\x41"s},
        {"x\\M+1", "x"}, {"x\\M+", "x"}, {"\\M+1zz", "zz"}, {"\\m+18140", "\\m+18140"},
        // A literal backslash before `U+` is escaped itself, else the converter would
        // read an escape where the drawing shows characters.
        {"\\\\U+0041", "\\U+005CU+0041"}, {"\\\\U", "\\U"}, {"\\U+", "\\U+"},
        {"\\u+00e9 \\Z \\1", "\\u+00e9 \\Z \\1"}, {"%%D%%p%%x%%O%%u%%", "\\U+00B0\\U+00B1%%x%%"},
        {"50%", "50%"}, {"^M^@^_^a^1 x^", "^a^1 x^"}, {"{}{{}}\\{", "{"}};
    for (const auto& c : cases) EXPECT_EQ(plainMtext(c[0]), c[1]) << c[0];
    // Decoding `\M+` alone leaves everything else as written.
    std::string out = "kept:";
    wqhost::appendMultibyteDecoded("C:\\Text\\P\\{a} %%d ^J 3F \\M+18140\\M+18141x\\M+", &out);
    EXPECT_EQ(out, "kept:C:\\Text\\P\\{a} %%d ^J 3F \x81\x40\x81\x41x");
}

// The raw texts of the MTEXT with a code 1 or 3 group in BLOCKS and ENTITIES, found by a
// plain walk over the whole file split into lines.
std::vector<std::string> mtextsOf(const std::string& bytes) {
    std::vector<std::string> lines, raws;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (lines.size() % 2 != 0) lines.push_back("");  // a code without its value line
    lines.insert(lines.end(), {"0", "EOF"});
    auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        return s.erase(s.find_last_not_of(" \t") + 1);
    };
    bool inSection = false, sectionStarts = false, inMtext = false;
    std::optional<std::string> raw;
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string code = trim(lines[i]), value = trim(lines[i + 1]);
        if (code == "0") {
            if (raw) raws.push_back(*raw);
            raw.reset();
            if (value == "EOF") break;
            if (value == "SECTION" || value == "ENDSEC") inSection = false;
            sectionStarts = value == "SECTION";
            inMtext = inSection && value == "MTEXT";
            continue;
        }
        if (sectionStarts && code == "2") inSection = value == "BLOCKS" || value == "ENTITIES";
        sectionStarts = false;
        if (inMtext && (code == "1" || code == "3")) raw = raw.value_or("") + lines[i + 1];
    }
    return raws;
}

TEST(TextEntityReaderCorpus, EveryMtextOfBlocksAndEntitiesIsYielded) {
    const std::string folder = std::string(WQ_SHARED_DIR) + "/corpus/real";
    std::vector<std::string> paths;
    std::string error;
    if (!wqhost::findDrawings(folder, &paths, &error)) GTEST_SKIP() << "no corpus: " << error;
    int mtexts = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::string bytes;
        ASSERT_TRUE(wqhost::readFile(path, &bytes));
        Entities want, got;
        for (const std::string& raw : mtextsOf(bytes)) want.push_back("MTEXT:" + plainMtext(raw));
        const Entities all = readAll(bytes);
        for (const std::string& e : all)
            if (e.rfind("MTEXT:", 0) == 0) got.push_back(e);
        EXPECT_EQ(got, want);
        EXPECT_EQ(readAll(bytes, 4093), all);  // a read size that is no power of two
        mtexts += static_cast<int>(want.size());
    }
    std::printf("%zu drawings: %d MTEXT entities with text\n", paths.size(), mtexts);
}

}  // namespace
