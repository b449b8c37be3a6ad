// The host's reader of the text entities the plug-in passes over, and MTEXT made plain:
// the project's drawings, every chunking of them, damaged input, and the real corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
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
// (0, or negative for a read error); a call after that would read past what the caller gave.
struct Source {
    std::string_view bytes;
    std::size_t chunk = 0;
    std::int64_t atEnd = 0;
    std::size_t offset = 0;
    int callsAfterEnd = 0;
    bool over = false;
    std::int64_t read(char* buffer, std::size_t size) {
        callsAfterEnd += over;
        const std::size_t take = std::min({size, bytes.size() - offset, chunk ? chunk : size});
        if (take == 0) return over = true, atEnd;
        std::copy_n(bytes.data() + offset, take, buffer);
        return offset += take, static_cast<std::int64_t>(take);
    }
};

Entities readAll(Source& source) {
    wqhost::TextEntityReader reader([&source](char* b, std::size_t n) { return source.read(b, n); });
    Entities all;
    wqhost::HostEntity entity;  // one entity for the whole run, as a caller that reuses it
    while (reader.next(&entity)) {
        std::string& line = all.emplace_back(std::string(entity.kind) + ":");
        for (std::size_t i = 0; i < entity.texts.size(); ++i)
            line += (i ? "|" : "") + entity.texts[i];
    }
    EXPECT_FALSE(reader.next(&entity));  // the end stays the end
    EXPECT_EQ(entity.kind, nullptr);
    EXPECT_EQ(source.callsAfterEnd, 0);
    return all;
}

Entities readAll(Source&& source) { return readAll(source); }

std::string drawing(const char* name) {
    std::string s;
    EXPECT_TRUE(wqhost::readFile(std::string(WQ_SOURCE_DIR) + "/tests/drawings/" + name, &s));
    return s;
}

const Entities kKinds = {
    "MTEXT:Block note",
    "MTEXT:GENERAL NOTES\n1. ALL DIMENSIONS IN MM.\n2. DO NOT SCALE.\n3. FINISHES: SEE SCHEDULE",
    "DIMENSION: TYP.", "DIMENSION:2X \\U+230012", "MULTILEADER:DETAIL A\nSECOND LINE",
    "ARCALIGNEDTEXT:ARC \x81\x40 TEXT", "ACAD_TABLE:*T1|Title||Cell\nthree",
    "RTEXT:C:\\Drawings\\Title.txt", "MTEXT:"};

TEST(TextEntityReaderDrawings, EveryKindAndFormattingCodeInEveryChunkingAndPrefix) {
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
    for (std::string line; std::getline(lines, line); code = !code)
        padded += (code ? "  " + line + " \t" : line) + "\r\n";
    const std::pair<std::string, Entities> documents[] = {
        {kinds, kKinds}, {padded, kKinds}, {drawing("entities_formatting.dxf"), formatting}};
    // Chunk sizes up to past the longest line: every line and CR LF pair is cut everywhere.
    for (const auto& [document, want] : documents)
        for (std::size_t chunk = 0; chunk <= 160; ++chunk)
            ASSERT_EQ(readAll({document, chunk}), want) << chunk;
    // Cut anywhere, the document yields the entities before the cut unchanged and at most
    // the one the cut fell in (" 10" cut to " 1" is a text group); it reads up to the cut.
    for (std::size_t size = 0; size <= kinds.size(); ++size) {
        Source source{std::string_view(kinds).substr(0, size), 7};
        const Entities got = readAll(source);
        ASSERT_LE(got.size(), kKinds.size() + 1) << size;
        for (std::size_t i = 0; i + 1 < got.size(); ++i) ASSERT_EQ(got[i], kKinds[i]) << size;
        ASSERT_EQ(source.offset, size);
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
        EXPECT_TRUE(readAll({document, chunk}) == want) << chunk;
}

TEST(TextEntityReaderBadInput, DamagedDocumentsYieldWhatCanBeRead) {
    const std::string mtext = "0\nMTEXT\n1\nnote\n", open = "0\nSECTION\n2\nENTITIES\n";
    const auto ents = [](const std::string& body) { return section("ENTITIES", body); };
    const Entities one = {"MTEXT:note"};
    const std::pair<std::string, Entities> cases[] = {
        {"", {}}, {mtext + "0\nEOF\n", {}}, {open + mtext, one}, {ents(mtext) + "0", one},
        {open + mtext + section("OBJECTS", mtext), one},  // the next SECTION ends the last
        {"0\nSECTION\n1\nENTITIES\n" + mtext, {}},        // a SECTION without its name pair
        {section("entities", mtext) + section("ENTITIESX", mtext), {}},
        {ents("0\nMTEXT\nx1\nno\n1\nyes\n"), {"MTEXT:yes"}},  // a code line that is no number
        {open + "0\nMTEXT\n3\nhalf\n1\nwa", {"MTEXT:halfwa"}},  // a value cut by the end
        {ents("0\nMTEXT\n1\na\0b\xff\x01\n"s), {"MTEXT:a\0b\xff\x01"s}},
        {ents("\0\n\xff\n0\nLINE\0\n1\nx\n"s + mtext), one},
        {ents("") + mtext + section("HEADER", "9\n$ACADVER\n1\nAC1015\n"), {}},  // between sections
        // Only the CR before LF is a line end.
        {ents("0\nMTEXT\n1\ncr\rin\n0\nMTEXT\n1\ntwo\r\r\n"), {"MTEXT:cr\rin", "MTEXT:two\r"}},
        // Only the start of a long line is kept aside: it must not be judged by that. A line
        // is judged by its whole length, and its CR is no part of that length.
        {ents("0\nLINE\n0" + std::string(200, ' ') + "5\nMTEXT\n1\nx\n"), {}},
        {ents("0\nMTEXT" + std::string(200, ' ') + "X\n1\nx\n"), {}},
        {ents("0\nLINE\n 0" + std::string(140, ' ') + "\nMTEXT\n1\nx\n"), {}},
        {ents("0\r\nMTEXT" + std::string(123, ' ') + "\r\n1\r\nx\r\n"), {"MTEXT:x"}},
    };
    for (const auto& [document, want] : cases)
        for (std::size_t chunk : {0u, 1u, 5u})
            EXPECT_EQ(readAll({document, chunk}), want) << testing::PrintToString(document);
    // Nothing past the EOF line is read; a read error ends the document like its end.
    const std::string body = ents(mtext) + "0\nEOF\n", more = body + open + mtext;
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
    std::istringstream in(bytes);
    const auto line = [&in] {
        std::string s;
        if (std::getline(in, s) && !s.empty() && s.back() == '\r') s.pop_back();
        return s;
    };
    const auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        return s.erase(s.find_last_not_of(" \t") + 1);
    };
    std::vector<std::string> raws;
    std::optional<std::string> raw;
    bool inSection = false, sectionStarts = false, inMtext = false;
    while (in) {  // a code without its value line has an empty one
        const std::string code = trim(line()), text = line(), value = trim(text);
        if (code == "0") {
            if (raw) raws.push_back(*raw);
            if (raw.reset(), value == "EOF") break;
            if (value == "SECTION" || value == "ENDSEC") inSection = false;
            sectionStarts = value == "SECTION";
            inMtext = inSection && value == "MTEXT";
            continue;
        }
        if (sectionStarts && code == "2") inSection = value == "BLOCKS" || value == "ENTITIES";
        sectionStarts = false;
        if (inMtext && (code == "1" || code == "3")) raw = raw.value_or("") + text;
    }
    if (raw) raws.push_back(*raw);
    return raws;
}

TEST(TextEntityReaderCorpus, EveryMtextOfBlocksAndEntitiesIsYielded) {
    std::vector<std::string> paths;
    std::string error;
    if (!wqhost::findDrawings(std::string(WQ_SHARED_DIR) + "/corpus/real", &paths, &error))
        GTEST_SKIP() << "no corpus: " << error;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::string bytes;
        ASSERT_TRUE(wqhost::readFile(path, &bytes));
        Entities want, got;
        for (const std::string& raw : mtextsOf(bytes)) want.push_back("MTEXT:" + plainMtext(raw));
        const Entities all = readAll({bytes});
        std::copy_if(all.begin(), all.end(), std::back_inserter(got),
                     [](const std::string& e) { return e.rfind("MTEXT:", 0) == 0; });
        EXPECT_EQ(got, want);
        EXPECT_EQ(readAll({bytes, 4093}), all);  // a read size that is no power of two
    }
}

}  // namespace
