// The host's reader of the text entities the plug-in passes over, and MTEXT made plain:
// the project's drawings, every chunking of them, damaged input, and the real corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "MtextPlain.hpp"
#include "TextEntityReader.hpp"
#include "Transcript.hpp"

namespace {

namespace fs = std::filesystem;
using wqhost::HostEntity;
using wqhost::plainMtext;
using wqhost::TextEntityReader;

struct Entity {
    std::string kind;
    std::vector<std::string> texts;
    bool operator==(const Entity& other) const {
        return kind == other.kind && texts == other.texts;
    }
};

void PrintTo(const Entity& e, std::ostream* os) {
    *os << e.kind << ":";
    for (const std::string& t : e.texts) *os << " [" << t << "]";
}

// Hands out the document `chunk` bytes at a time (0: as much as asked for), and notes
// whether the reader came back after being told the bytes were over.
struct Source {
    std::string_view bytes;
    std::size_t chunk = 0;
    std::int64_t atEnd = 0;  // what to answer at the end: 0, or negative for a read error
    std::size_t offset = 0;
    int callsAfterEnd = 0;
    bool over = false;

    std::int64_t read(char* buffer, std::size_t size) {
        if (over) ++callsAfterEnd;
        std::size_t take = std::min(size, bytes.size() - offset);
        if (chunk != 0) take = std::min(take, chunk);
        if (take == 0) {
            over = true;
            return atEnd;
        }
        std::copy_n(bytes.data() + offset, take, buffer);
        offset += take;
        return static_cast<std::int64_t>(take);
    }
};

std::vector<Entity> readAll(TextEntityReader& reader) {
    std::vector<Entity> all;
    HostEntity entity;  // one entity for the whole run, as a caller that reuses it passes
    while (reader.next(&entity)) all.push_back({entity.kind, entity.texts});
    EXPECT_FALSE(reader.next(&entity));  // the end stays the end
    EXPECT_EQ(entity.kind, nullptr);
    return all;
}

std::vector<Entity> readAll(Source& source) {
    TextEntityReader reader([&source](char* b, std::size_t n) { return source.read(b, n); });
    std::vector<Entity> all = readAll(reader);
    EXPECT_EQ(source.callsAfterEnd, 0);
    return all;
}

std::vector<Entity> readAll(std::string_view bytes, std::size_t chunk = 0) {
    Source source{bytes, chunk};
    return readAll(source);
}

std::string drawing(const char* name) {
    const fs::path path = fs::path(__FILE__).parent_path() / "drawings" / name;
    std::string bytes;
    EXPECT_TRUE(wqhost::readFile(path.string(), &bytes)) << path;
    return bytes;
}

// The bytes of a literal, NULs included.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// Every code line padded with blanks on both sides, and CR LF line ends.
std::string paddedCrLf(const std::string& lfDocument) {
    std::string out;
    bool codeLine = true;
    std::size_t start = 0;
    for (std::size_t lf; (lf = lfDocument.find('\n', start)) != std::string::npos; start = lf + 1) {
        const std::string line = lfDocument.substr(start, lf - start);
        out += codeLine ? "  " + line + " \t" : line;
        out += "\r\n";
        codeLine = !codeLine;
    }
    return out;
}

const std::vector<Entity> kKindsExpected = {
    {"MTEXT", {"Block note"}},
    {"MTEXT",
     {"GENERAL NOTES\n1. ALL DIMENSIONS IN MM.\n2. DO NOT SCALE.\n3. FINISHES: SEE SCHEDULE"}},
    {"DIMENSION", {" TYP."}},
    {"DIMENSION", {"2X \\U+230012"}},
    {"MULTILEADER", {"DETAIL A\nSECOND LINE"}},
    {"ARCALIGNEDTEXT", {"ARC \x81\x40 TEXT"}},
    {"ACAD_TABLE", {"*T1", "Title", "", "Cell\nthree"}},
    {"RTEXT", {"C:\\Drawings\\Title.txt"}},
    {"MTEXT", {""}},
};

TEST(TextEntityReaderDrawings, EachKindInBlocksAndEntitiesAndNothingElse) {
    // Left out: TEXT, ATTDEF, ATTRIB and BLOCK; dimensions whose text is empty, blank,
    // the measurement alone or missing; a multileader with block content (its only 304
    // inside the context opens a leader line); an MTEXT without a text group; the text
    // groups of HEADER, TABLES and OBJECTS.
    EXPECT_EQ(readAll(drawing("entities_kinds.dxf")), kKindsExpected);
}

TEST(TextEntityReaderDrawings, EveryFormattingCodeWithCrLfAndBlanksAroundCodes) {
    const std::vector<std::string> expected = {
        "line one\nline two",
        "no\\U+00A0break",
        "back\\slash {braces}",
        "outer inner deep",
        "aligned",
        "under over strike colnext dimbelow",
        "1/2 3/4 5/8 +0.1/-0.2",
        "a;b/c",
        "\\U+00B0 \\U+00B1 \\U+2300 % 50%",
        "tab\tcol\nnext^caret",
        "\\U+00E9t\\U+00E9",
        "\x81\x40\x83\x8A",
        "before",
        // Chunks that end inside `\fArial;` and inside a `\M+` escape: joined first.
        "first chunk bold \x81\x40 end\\",
    };
    std::vector<Entity> want;
    for (const std::string& text : expected) want.push_back({"MTEXT", {text}});
    EXPECT_EQ(readAll(drawing("entities_formatting.dxf")), want);
}

TEST(TextEntityReaderLines, EveryChunkingAndLineEndGivesTheSameEntities) {
    const std::string kinds = drawing("entities_kinds.dxf");
    const std::vector<std::string> documents = {kinds, paddedCrLf(kinds),
                                                drawing("entities_formatting.dxf")};
    for (const std::string& document : documents) {
        const std::vector<Entity> whole = readAll(document);
        ASSERT_FALSE(whole.empty());
        if (document != documents.back()) {
            EXPECT_EQ(whole, kKindsExpected);
        }
        // Chunk sizes up to past the longest line, so every line and every CR LF pair
        // falls across a boundary at every place in it.
        for (std::size_t chunk = 1; chunk <= 160; ++chunk) {
            SCOPED_TRACE(chunk);
            ASSERT_EQ(readAll(document, chunk), whole);
        }
    }
}

TEST(TextEntityReaderLines, MegabyteValuesAreKeptWhenWantedAndSkippedOtherwise) {
    const std::string big(3u << 20, 'x');
    std::string wanted = big;
    wanted[0] = 'A';
    wanted.back() = 'Z';
    const std::string document = wqtest::section(
        "ENTITIES",
        "0\nLINE\n1000\n" + big + "\n310\n" + big + "\n" +     // values nobody reads
            big + "\n" + big + "\n" +                          // a code line that is no number
            "0\n" + big + "\n1\nnot an MTEXT\n" +              // an entity name
            "0\nMTEXT\n3\n" + big + "\n1\n" + wanted + "\n" +  // a text of two long values
            "0\nDIMENSION\n1\n" + wanted + "<>\n");
    for (std::size_t chunk : {0u, 1000u, 65535u, 65537u}) {
        SCOPED_TRACE(chunk);
        const std::vector<Entity> all = readAll(document, chunk);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].kind, "MTEXT");
        ASSERT_EQ(all[0].texts.size(), 1u);
        EXPECT_TRUE(all[0].texts[0] == big + wanted);
        EXPECT_TRUE(all[1].texts == std::vector<std::string>{wanted});
    }
}

TEST(TextEntityReaderBadInput, EveryPrefixYieldsTheEntitiesReadSoFar) {
    // Cut anywhere, the document yields the entities before the cut unchanged, and at
    // most one more, the one the cut fell in, with what of it could be read (a code line
    // cut short may even read as a text group: " 10" cut to " 1").
    const std::string document = drawing("entities_kinds.dxf");
    for (std::size_t size = 0; size <= document.size(); ++size) {
        SCOPED_TRACE(size);
        Source source{std::string_view(document).substr(0, size), 7};
        const std::vector<Entity> got = readAll(source);
        ASSERT_LE(got.size(), kKindsExpected.size() + 1);
        for (std::size_t i = 0; i + 1 < got.size(); ++i) ASSERT_EQ(got[i], kKindsExpected[i]);
        ASSERT_EQ(source.offset, size);  // read up to the cut, never past it
    }
}

TEST(TextEntityReaderBadInput, DamagedDocumentsYieldWhatCanBeRead) {
    using wqtest::section;
    const std::string mtext = "0\nMTEXT\n1\nnote\n";
    const std::vector<Entity> one = {{"MTEXT", {"note"}}};
    struct Case {
        const char* name;
        std::string document;
        std::vector<Entity> want;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"no sections", mtext + "0\nEOF\n", {}},
        {"no ENDSEC, no EOF", "0\nSECTION\n2\nENTITIES\n" + mtext, one},
        {"a section without ENDSEC ends at the next SECTION",
         "0\nSECTION\n2\nENTITIES\n" + mtext + section("OBJECTS", mtext), one},
        {"a SECTION without its name pair", "0\nSECTION\n1\nENTITIES\n" + mtext, {}},
        {"section names compare exactly",
         section("entities", mtext) + section("ENTITIESX", mtext),
         {}},
        {"a code line that is no number",
         section("ENTITIES", "0\nMTEXT\nx1\nno\n1\nyes\n"),
         {{"MTEXT", {"yes"}}}},
        {"code 0 with no value line", section("ENTITIES", mtext) + "0", one},
        {"a value cut by the end",
         "0\nSECTION\n2\nENTITIES\n0\nMTEXT\n3\nhalf\n1\nwa",
         {{"MTEXT", {"halfwa"}}}},
        {"NUL and binary bytes kept in the text",
         section("ENTITIES", bytes("0\nMTEXT\n1\na\0b\xff\x01\n")),
         {{"MTEXT", {bytes("a\0b\xff\x01")}}}},
        {"binary bytes in codes and names",
         section("ENTITIES", bytes("\0\n\xff\n0\nLINE\0\n1\nx\n") + mtext), one},
        {"only the CR before LF is a line end",
         section("ENTITIES", "0\nMTEXT\n1\ncr\rinside\n0\nMTEXT\n1\ntwo crs\r\r\n"),
         {{"MTEXT", {"cr\rinside"}}, {"MTEXT", {"two crs\r"}}}},
        {"between sections nothing is read",
         section("ENTITIES", "") + mtext + section("HEADER", "9\n$ACADVER\n1\nAC1015\n"),
         {}},
        // Only the start of a long line is kept aside: it must not be judged by that.
        {"a long code line is no code 0",
         section("ENTITIES", "0\nLINE\n0" + std::string(200, ' ') + "5\nMTEXT\n1\nx\n"),
         {}},
        {"a long name line is no name",
         section("ENTITIES", "0\nMTEXT" + std::string(200, ' ') + "X\n1\nx\n"),
         {}},
        // Long or short, a line is judged by its whole length whether a read ends inside
        // it or not, and its CR is no part of that length.
        {"a code 0 padded past the short length is no code",
         section("ENTITIES", "0\nLINE\n 0" + std::string(140, ' ') + "\nMTEXT\n1\nx\n"),
         {}},
        {"a name of the full short length ending in CR is a name",
         section("ENTITIES", "0\r\nMTEXT" + std::string(123, ' ') + "\r\n1\r\nx\r\n"),
         {{"MTEXT", {"x"}}}},
        {"nothing after EOF is read", section("ENTITIES", mtext) + "0\nEOF\n" + mtext, one},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t chunk : {0u, 1u, 5u}) {
            EXPECT_EQ(readAll(c.document, chunk), c.want) << chunk;
        }
    }
}

TEST(TextEntityReaderBadInput, ReadingStopsAtEofAndAtAReadError) {
    const std::string body = wqtest::section("ENTITIES", "0\nMTEXT\n1\nnote\n") + "0\nEOF\n";
    const std::string document = body + "0\nSECTION\n2\nENTITIES\n0\nMTEXT\n1\nlater\n";
    Source source{document, 1};
    EXPECT_EQ(readAll(source).size(), 1u);
    EXPECT_EQ(source.offset, body.size());  // not a byte past the EOF line

    // A read error ends the document like its end: what came before it is yielded, and
    // the read function is not called again.
    Source failing{std::string_view(document).substr(0, 40), 3, -1};
    TextEntityReader broken([&failing](char* b, std::size_t n) { return failing.read(b, n); });
    HostEntity entity;
    EXPECT_TRUE(broken.next(&entity));
    EXPECT_EQ(entity.texts, std::vector<std::string>{"note"});
    EXPECT_FALSE(broken.next(&entity));
    EXPECT_FALSE(broken.next(&entity));
    EXPECT_EQ(failing.callsAfterEnd, 0);
    EXPECT_EQ(broken.bytesRead(), 40);
}

struct PlainCase {
    const char* raw;
    std::string plain;
};

TEST(MtextPlain, CodesCutByTheEndAndOtherEdges) {
    const PlainCase cases[] = {
        // A code whose `;` never comes takes the rest of the value as its argument.
        {"text\\fArial", "text"},
        {"text\\H2.5x", "text"},
        {"a\\", "a\\"},
        // A stack without its `;` is text all the same; `\S` inside a stack is dropped.
        {"\\S1/2", "1/2"},
        {"\\S1\\S2^3;4", "12/34"},
        {"\\S1^2^3;", "1/2^3"},
        // `\M+`: four digits at most, fewer when the value ends or a non-digit follows.
        {"\\M+18140A",
         "\x81\x40"
         "A"},
        {"\\M+1a1b2", "\xa1\xb2"},
        {"\\M+141", bytes("\0\x41")},
        {"x\\M+1", "x"},
        {"x\\M+", "x"},
        {"\\M+1zz", "zz"},
        {"\\m+18140", "\\m+18140"},
        // A literal backslash before `U+` is escaped itself, else the converter would
        // read an escape where the drawing shows characters.
        {"\\\\U+0041", "\\U+005CU+0041"},
        {"\\\\U", "\\U"},
        {"\\U+", "\\U+"},
        {"\\u+00e9 \\Z \\1", "\\u+00e9 \\Z \\1"},
        {"%%D%%p%%x%%O%%u%%", "\\U+00B0\\U+00B1%%x%%"},
        {"50%", "50%"},
        {"^M^@^_^a^1 x^", "^a^1 x^"},
        {"{}{{}}\\{", "{"},
    };
    for (const PlainCase& c : cases) EXPECT_EQ(plainMtext(c.raw), c.plain) << c.raw;
}

TEST(MtextPlain, MultibyteDecodingLeavesEverythingElseAsWritten) {
    const PlainCase cases[] = {
        {"C:\\Text\\P\\{a}", "C:\\Text\\P\\{a}"},
        {"%%d ^J", "%%d ^J"},
        {"3F \\M+18140\\M+18141", "3F \x81\x40\x81\x41"},
        {"\\M+18140x\\M+", "\x81\x40x"},
    };
    for (const PlainCase& c : cases) {
        std::string out = "kept:";
        wqhost::appendMultibyteDecoded(c.raw, &out);
        EXPECT_EQ(out, "kept:" + c.plain) << c.raw;
    }
}

// The MTEXT of a drawing's BLOCKS and ENTITIES sections, found by a plain walk over the
// whole file split into lines: the raw text of each that has a code 1 or 3 group.
struct MtextCensus {
    std::vector<std::string> raws;
    int withoutText = 0;
};

MtextCensus censusOf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        if (lf == std::string::npos) lf = bytes.size();
        std::string line = bytes.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = lf + 1;
    }
    auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        s.erase(s.find_last_not_of(" \t") + 1);
        return s;
    };
    MtextCensus census;
    bool inTextSection = false, sectionStarts = false, inMtext = false, hasText = false;
    std::string raw;
    auto endMtext = [&] {
        if (inMtext && hasText) census.raws.push_back(raw);
        if (inMtext && !hasText) ++census.withoutText;
        inMtext = hasText = false;
        raw.clear();
    };
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string code = trim(lines[i]);
        const std::string value = i + 1 < lines.size() ? lines[i + 1] : "";
        if (code == "0") {
            endMtext();
            const std::string name = trim(value);
            if (name == "EOF" || i + 1 >= lines.size()) break;
            if (name == "SECTION" || name == "ENDSEC") inTextSection = false;
            sectionStarts = name == "SECTION";
            inMtext = inTextSection && name == "MTEXT";
            continue;
        }
        if (sectionStarts && code == "2") {
            inTextSection = trim(value) == "BLOCKS" || trim(value) == "ENTITIES";
        }
        sectionStarts = false;
        if (inMtext && (code == "1" || code == "3")) {
            raw += value;
            hasText = true;
        }
    }
    endMtext();
    return census;
}

TEST(TextEntityReaderCorpus, EveryMtextOfBlocksAndEntitiesIsYielded) {
    const fs::path folder = fs::path(WQ_SHARED_DIR) / "corpus" / "real";
    std::error_code error;
    if (!fs::is_directory(folder, error)) GTEST_SKIP() << "no corpus at " << folder;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".dxf") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    int drawingsWithMtext = 0, mtexts = 0, withoutText = 0;
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.filename().string());
        std::string bytes;
        ASSERT_TRUE(wqhost::readFile(path.string(), &bytes));
        const MtextCensus census = censusOf(bytes);
        std::vector<std::string> want;
        for (const std::string& raw : census.raws) want.push_back(plainMtext(raw));
        const std::vector<Entity> all = readAll(bytes);
        std::vector<std::string> got;
        for (const Entity& e : all) {
            if (e.kind == "MTEXT") got.insert(got.end(), e.texts.begin(), e.texts.end());
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(readAll(bytes, 4093), all);  // a read size that is no power of two
        drawingsWithMtext += !want.empty();
        mtexts += static_cast<int>(want.size());
        withoutText += census.withoutText;
    }
    std::printf("%zu drawings, %d with MTEXT: %d MTEXT entities, %d more without a text group\n",
                paths.size(), drawingsWithMtext, mtexts, withoutText);
}

}  // namespace
