// Section index: frames found by name whatever their order and line ends, exact body
// offsets, ends borrowed or hidden, code lines cleaned by the deleteChar of the slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "DxfStrEtc.h"
#include "FakeHost.hpp"
#include "SectionIndex.hpp"
#include "Transcript.hpp"

using wqtest::FakeHost;

// Byte offset of line `line` (from 0) of an LF document once its ends are `eol`; -1 stays.
static int32_t lineOffset(const std::string& lf, int32_t line, const std::string& eol) {
    size_t at = 0;
    for (int32_t k = 0; k < line; ++k) at = lf.find('\n', at) + 1;
    return line < 0 ? -1 : static_cast<int32_t>(wqtest::withLineEnds(lf.substr(0, at), eol).size());
}

// A deleteChar for the slot that takes out tabs as well as blanks.
static void blanksAndTabsOut(DxfStrEtc*, char* s, int) {
    *std::remove_if(s, s + std::strlen(s), [](char c) { return c == ' ' || c == '\t'; }) = '\0';
}

TEST(SectionIndex, FindsEverySectionWithExactBodyOffsetsUnderEveryLineEnd) {
    struct Case {
        std::string document;
        std::vector<std::array<int32_t, 3>> spans;  // section, start and end line (-1: none)
        bool tabsOut = false;  // the scans clean code lines with the deleteChar of the slot
    };
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
        // A value "0" right before the closing pair hides it; the last line needs no end.
        {"0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n70\n0\n0\nENDSEC\n"  // 0-9
         "0\nSECTION\n2\nENTITIES\n0\nENDSEC",                  // 10-15
         {{SectionBlocks, 4, 14}, {SectionEntities, 14, 14}}},
        {"0\t\nSECTION\n2\t\nOBJECTS\n0\t\nENDSEC\n", {{SectionObjects, 4, 4}}, true},
    };
    // Lines longer than the line buffer stand where a frame and an end are looked for.
    for (size_t length : {2047u, 2048u, 5000u}) {
        const std::string longLine(length, 'x');
        cases.push_back({longLine + "\n0\nSECTION\n2\nHEADER\n" + longLine + "\n0\nENDSEC\n",
                         {{SectionHeader, 5, 6}}});
    }
    for (const Case& c : cases) {
        for (const std::string eol : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE((eol == "\n" ? "LF\n" : eol == "\r" ? "CR\n" : "CRLF\n") + c.document);
            // On a storage of its own, so that deleting it must give every block back.
            FakeHost host(wqtest::withLineEnds(c.document, eol));
            DxfSource source = wqtest::bareSource(host);
            DxfStrEtc* strings = c.tabsOut ? newDxfStrEtc(host.services(), nullptr) : nullptr;
            if (strings != nullptr) strings->deleteChar = blanksAndTabsOut;
            GetDxfData* data = newGetDxfData(&source, nullptr, strings, nullptr);
            ASSERT_NE(data, nullptr);
            for (int32_t section = SectionHeader; section < SectionCount; ++section) {
                std::array<int32_t, 3> want{section, -1, -1};
                for (const auto& span : c.spans)
                    if (span[0] == section) want = span;
                const wq::SectionSpan got = wq::sectionIndexOf(data)->sections[section];
                EXPECT_EQ(got.start, lineOffset(c.document, want[1], eol)) << section;
                EXPECT_EQ(got.end, lineOffset(c.document, want[2], eol)) << section;
            }
            deleteGetDxfData(data);
            deleteDxfStrEtc(strings);
            EXPECT_TRUE(host.reported.empty() && host.poolBlocksLive() == 0);
            EXPECT_EQ(host.opens, host.closes);
        }
    }
}
