// Section index: frames found by name whatever their order and line ends, exact body
// offsets, ends borrowed or hidden. Its refusals are checked at the reader's start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../sections/SectionIndex.hpp"
#include "DxfStrEtc.h"
#include "FakeHost.hpp"
#include "GetDxfData.h"
#include "Transcript.hpp"

namespace {

using wqtest::FakeHost;

// Byte offset of line `line` (from 0) of an LF document once its line ends are `eol`;
// -1 stays -1.
int32_t lineOffset(const std::string& lf, int32_t line, const std::string& eol) {
    if (line < 0) return -1;
    int32_t offset = 0;
    for (size_t i = 0; line > 0 && i < lf.size(); ++i) {
        if (lf[i] == '\n') --line;
        offset += lf[i] == '\n' ? static_cast<int32_t>(eol.size()) : 1;
    }
    return offset;
}

// A section's start and end as line numbers of an LF document; -1 for none.
struct Span {
    int32_t index, startLine, endLine;
};
// An LF document and its sections; every other section is not found.
struct Case {
    std::string document;
    std::vector<Span> spans;
};

std::vector<Case> spanCases() {
    std::vector<Case> cases = {
        // HEADER and CLASSES share a bucket of the name table; an unknown name is passed
        // over and a section after "0"/"EOF" is never seen.
        {"0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nhi\n0\nENDSEC\n"        // 0-9
         "0\nSECTION\n2\nCLASSES\n0\nENDSEC\n"                         // 10-15
         "0\nSECTION\n2\nTHUMBNAILIMAGE\n0\nENDSEC\n"                  // 16-21
         "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"  // 22-31
         "0\nEOF\n0\nSECTION\n2\nBLOCKS\n0\nENDSEC\n",
         {{SectionEntities, 4, 8}, {SectionClasses, 14, 14}, {SectionHeader, 26, 30}}},
        // Blanks leave code lines, but value lines must match exactly.
        {"  0 \nSECTION\n 2  \nTABLES\n  0\nENDSEC\n"        // 0-5: found, empty body
         "0\nSECTION \n2\nBLOCKS\n0\nENDSEC\n"               // 6-11: value with a blank
         "0\nSECTION\n2\nENTITIES \n0\nENDSEC\n"             // 12-17: name with a blank
         "0\t\nSECTION\n2\nOBJECTS\n0\nENDSEC\n"             // 18-23: a tab is not a blank
         "0\nSECTION\n2\nHEADER\n0\nENDSEC \n0 \nENDSEC\n",  // 24-33: first pair has a blank
         {{SectionTables, 4, 4}, {SectionHeader, 28, 30}}},
        // A line that breaks a frame is not read again as the start of the next.
        {"0\n0\nSECTION\n2\nHEADER\n0\nENDSEC\n"           // 0-6: the second 0 breaks it
         "0\nSECTION\n0\nSECTION\n2\nBLOCKS\n0\nENDSEC\n"  // 7-14: so does a 0 for the 2
         "0\nSECTION\n2\n\n2\nENTITIES\n"                  // 15-20: an empty name line
         "0\nSECTION\n2\nFOO\n"                            // 21-24: an unknown name
         "0\nSECTION\n2\nTABLES\n0\nENDSEC\n"              // 25-30
         "0\nSECTION\n2\nCLASSES\n0\nENDSEC\n",            // 31-36
         {{SectionTables, 29, 29}, {SectionClasses, 35, 35}}},
        // The later of two equal sections is kept.
        {"0\nSECTION\n2\nHEADER\n9\n$A\n0\nENDSEC\n"         // 0-7
         "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n"              // 8-13
         "0\nSECTION\n2\nHEADER\n9\n$B\n1\nx\n0\nENDSEC\n",  // 14-23
         {{SectionHeader, 18, 22}, {SectionEntities, 12, 12}}},
        // HEADER, unclosed, runs on to ENTITIES' ENDSEC; BLOCKS, last and unclosed, gets no end.
        {"0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n"  // 0-7
         "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nx\n"         // 8-15
         "0\nENDSEC\n"                                      // 16-17
         "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nb\n",         // 18-25
         {{SectionHeader, 4, 16}, {SectionEntities, 12, 16}, {SectionBlocks, 22, -1}}},
        // A value "0" right before the closing pair hides it.
        {"0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n70\n0\n0\nENDSEC\n"  // 0-9
         "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n",                // 10-15
         {{SectionBlocks, 4, 14}, {SectionEntities, 14, 14}}},
        // The last line needs no line end.
        {"0\nSECTION\n2\nENTITIES\n0\nENDSEC", {{SectionEntities, 4, 4}}},
    };
    // Lines longer than the line buffer stand where a frame and an end are looked for.
    for (size_t length : {2047u, 2048u, 5000u}) {
        const std::string longLine(length, 'x');
        cases.push_back({longLine + "\n0\nSECTION\n2\nHEADER\n" + longLine + "\n0\nENDSEC\n",
                         {{SectionHeader, 5, 6}}});
    }
    return cases;
}

TEST(SectionIndex, FindsEverySectionWithExactBodyOffsetsUnderEveryLineEnd) {
    for (const Case& c : spanCases()) {
        for (const std::string eol : {"\n", "\r\n", "\r"}) {
            const char* ends = eol == "\n" ? "LF" : eol == "\r" ? "CR" : "CR LF";
            SCOPED_TRACE(::testing::Message() << ends << " ends, document:\n"
                                              << c.document.substr(0, 400));
            // On a storage of its own, so that deleting it must give every block back.
            FakeHost host(wqtest::withLineEnds(c.document, eol));
            DxfSource source = wqtest::bareSource(host);
            GetDxfData* data = newGetDxfData(&source, nullptr, nullptr, nullptr);
            ASSERT_NE(data, nullptr);
            for (int32_t section = SectionHeader; section < SectionCount; ++section) {
                Span want{section, -1, -1};
                for (const Span& span : c.spans)
                    if (span.index == section) want = span;
                const wq::SectionSpan got = wq::sectionIndexOf(data)->sections[section];
                EXPECT_EQ(got.start, lineOffset(c.document, want.startLine, eol)) << section;
                EXPECT_EQ(got.end, lineOffset(c.document, want.endLine, eol)) << section;
            }
            deleteGetDxfData(data);
            EXPECT_TRUE(host.reported.empty());
            EXPECT_EQ(host.poolBlocksLive(), 0);
            EXPECT_EQ(host.opens, host.closes);
        }
    }
}

// The scans clean code lines with whatever deleteChar the string utilities hold: one that
// also takes out tabs makes "0" and a tab a code line "0".
TEST(SectionIndex, ScansCleanCodeLinesWithTheDeleteCharOfTheSlot) {
    FakeHost host("0\t\nSECTION\n2\t\nOBJECTS\n0\t\nENDSEC\n");
    DxfSource source = wqtest::bareSource(host);
    DxfStrEtc* strings = newDxfStrEtc(host.services(), nullptr);
    ASSERT_NE(strings, nullptr);
    strings->deleteChar = [](DxfStrEtc*, char* s, int) {
        *std::remove_if(s, s + std::strlen(s), [](char c) { return c == ' ' || c == '\t'; }) = '\0';
    };
    GetDxfData* data = newGetDxfData(&source, nullptr, strings, nullptr);
    ASSERT_NE(data, nullptr);
    const wq::SectionSpan got = wq::sectionIndexOf(data)->sections[SectionObjects];
    EXPECT_EQ(got.start, 22);
    EXPECT_EQ(got.end, 22);
    deleteGetDxfData(data);
    deleteDxfStrEtc(strings);
}

}  // namespace
