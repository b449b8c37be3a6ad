// Section index: frames found by name whatever their order and line ends, exact body
// offsets, ends borrowed or hidden, the two start-up messages, and streams that stop moving.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DxfPublicStorage.h"
#include "FakeHost.hpp"
#include "GetDxfData.h"
#include "../sections/SectionIndex.hpp"

namespace {

using wqtest::FakeHost;

extern const char kAnyOrder[];
extern const char kBlanksAroundCodes[];
extern const char kBrokenFrames[];
extern const char kSameSectionTwice[];
extern const char kBorrowedEnd[];
extern const char kValueZeroHidesEndsec[];
extern const char kEofBeforeAnySection[];
extern const char kNoFramesAtAll[];
extern const char kHeaderAndEntities[];

constexpr const char* kNoMemory = "Memory allocation error";
constexpr const char* kIllegal = "Illigal DXF file";

// `document` (written with LF) with every LF turned into `eol`.
std::string withLineEnds(const std::string& document, const std::string& eol) {
    std::string out;
    for (char c : document) {
        if (c == '\n') {
            out += eol;
        } else {
            out += c;
        }
    }
    return out;
}

// Byte offset at which line `line` (from 0) of an LF document begins once its line ends
// are `eol`.
int32_t lineOffset(const std::string& lfDocument, int32_t line, const std::string& eol) {
    int32_t offset = 0;
    int32_t seen = 0;
    for (char c : lfDocument) {
        if (seen == line) break;
        if (c == '\n') {
            ++seen;
            offset += static_cast<int32_t>(eol.size());
        } else {
            ++offset;
        }
    }
    return offset;
}

// A section index over a test host's document, made the way the reader makes it but on
// a storage of its own, so that deleting it must give every block back.
struct Index {
    FakeHost host;
    DxfSource source{};
    GetDxfData* data = nullptr;

    explicit Index(const std::string& document, bool reports = true) : host(document) {
        if (!reports) host.withoutReportError();
        source.stream = host.stream();
        source.services = host.services();
    }
    bool build() {
        data = newGetDxfData(&source, nullptr, nullptr, nullptr);
        return data != nullptr;
    }
    wq::SectionSpan span(int32_t index) const { return wq::sectionIndexOf(data)->sections[index]; }
    ~Index() { deleteGetDxfData(data); }
};

// Expected span, as line numbers of the LF document; -1 stays -1.
struct Lines {
    int32_t index;
    int32_t startLine;
    int32_t endLine;
};

void expectSpans(const std::string& lfDocument, const std::vector<Lines>& expected) {
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(eol[0] == '\r' ? (eol[1] ? "CR LF" : "CR") : "LF");
        Index index(withLineEnds(lfDocument, eol));
        ASSERT_TRUE(index.build());
        for (int32_t section = 0; section < SectionCount; ++section) {
            int32_t start = -1;
            int32_t end = -1;
            for (const Lines& e : expected) {
                if (e.index != section) continue;
                start = e.startLine < 0 ? -1 : lineOffset(lfDocument, e.startLine, eol);
                end = e.endLine < 0 ? -1 : lineOffset(lfDocument, e.endLine, eol);
            }
            EXPECT_EQ(index.span(section).start, start) << dxfSectionNames[section];
            EXPECT_EQ(index.span(section).end, end) << dxfSectionNames[section];
        }
        EXPECT_TRUE(index.host.reported.empty());
    }
}

TEST(SectionIndex, LineHelperCountsBytesOfEachLineEnd) {
    const std::string doc = "0\nSECTION\n2\nHEADER\n";
    EXPECT_EQ(lineOffset(doc, 4, "\n"), 19);
    EXPECT_EQ(lineOffset(doc, 4, "\r\n"), 23);
    EXPECT_EQ(withLineEnds(doc, "\r"), "0\rSECTION\r2\rHEADER\r");
}

TEST(SectionIndex, FindsSectionsByNameInAnyOrderWithEveryLineEnd) {
    // HEADER and CLASSES share a bucket of the name table; an unknown name is passed over
    // and a section after "0"/"EOF" is never seen.
    expectSpans(kAnyOrder, {{SectionEntities, 4, 8},
                            {SectionClasses, 14, 14},
                            {SectionHeader, 26, 30}});
}

TEST(SectionIndex, BlanksLeaveCodeLinesButValueLinesMustMatchExactly) {
    expectSpans(kBlanksAroundCodes, {{SectionTables, 4, 4}, {SectionHeader, 28, 30}});
}

TEST(SectionIndex, ALineThatBreaksAFrameIsNotReadAgainAsTheStartOfTheNext) {
    expectSpans(kBrokenFrames, {{SectionTables, 29, 29}, {SectionClasses, 35, 35}});
}

TEST(SectionIndex, TheLaterOfTwoEqualSectionsIsKept) {
    expectSpans(kSameSectionTwice, {{SectionHeader, 18, 22}, {SectionEntities, 12, 12}});
}

TEST(SectionIndex, ASectionWithoutItsClosingPairBorrowsTheNextOne) {
    // HEADER runs on to ENTITIES' ENDSEC; BLOCKS, last and unclosed, gets no end.
    expectSpans(kBorrowedEnd, {{SectionHeader, 4, 16},
                               {SectionEntities, 12, 16},
                               {SectionBlocks, 22, -1}});
}

TEST(SectionIndex, AValueZeroJustBeforeTheClosingPairHidesIt) {
    expectSpans(kValueZeroHidesEndsec, {{SectionBlocks, 4, 14}, {SectionEntities, 14, 14}});
}

TEST(SectionIndex, FramesNamingSectionOrEofAreCountedButGetNoEndOrANormalOne) {
    Index index("0\nSECTION\n2\nENDSEC\n0\nSECTION\n2\nEOF\n0\nENDSEC\n");
    ASSERT_TRUE(index.build());
    EXPECT_EQ(index.span(SectionEndsec).start, 19);
    EXPECT_EQ(index.span(SectionEndsec).end, -1);
    EXPECT_EQ(index.span(SectionEof).start, 35);
    EXPECT_EQ(index.span(SectionEof).end, 35);
}

TEST(SectionIndex, AFileEndingWithoutALineEndKeepsItsSections) {
    Index index("0\nSECTION\n2\nENTITIES\n0\nENDSEC");
    ASSERT_TRUE(index.build());
    EXPECT_EQ(index.span(SectionEntities).start, 21);
    EXPECT_EQ(index.span(SectionEntities).end, 21);
}

TEST(SectionIndex, LinesLongerThanTheBufferAreSteppedOver) {
    for (size_t length : {2046u, 2047u, 2048u, 2049u, 5000u}) {
        SCOPED_TRACE(length);
        const std::string longLine(length, 'x');
        // The long line stands where a frame and an end are looked for.
        const std::string doc = longLine + "\n0\nSECTION\n2\nHEADER\n" + longLine +
                                "\n0\nENDSEC\n";
        Index index(doc);
        ASSERT_TRUE(index.build());
        const int32_t start = static_cast<int32_t>(length) + 20;
        EXPECT_EQ(index.span(SectionHeader).start, start);
        EXPECT_EQ(index.span(SectionHeader).end, start + static_cast<int32_t>(length) + 1);
    }
}

TEST(SectionIndex, RefusesAFileWithoutSectionsAndReportsOnce) {
    for (const char* doc : {kEofBeforeAnySection, kNoFramesAtAll}) {
        Index index(doc);
        EXPECT_FALSE(index.build());
        EXPECT_EQ(index.host.reported, std::vector<std::string>{kIllegal});
        EXPECT_EQ(index.host.poolBlocksLive(), 0);
        EXPECT_EQ(index.host.opens, 1);
        EXPECT_EQ(index.host.closes, 1);
    }
}

TEST(SectionIndex, AnEmptyOrUnopenableDocumentIsAMemoryError) {
    Index empty("");
    EXPECT_FALSE(empty.build());
    EXPECT_EQ(empty.host.reported, std::vector<std::string>{kNoMemory});
    EXPECT_EQ(empty.host.poolBlocksLive(), 0);
    EXPECT_EQ(empty.host.opens, empty.host.closes);

    Index unopenable(kHeaderAndEntities);
    unopenable.host.openFault = {0, true};
    EXPECT_FALSE(unopenable.build());
    EXPECT_EQ(unopenable.host.reported, std::vector<std::string>{kNoMemory});
    EXPECT_EQ(unopenable.host.poolBlocksLive(), 0);
}

TEST(SectionIndex, WithoutAReporterFailuresAreSilent) {
    for (const char* doc : {"", kNoFramesAtAll}) {
        Index index(doc, false);
        EXPECT_FALSE(index.build());
        EXPECT_TRUE(index.host.reported.empty());
        EXPECT_EQ(index.host.poolBlocksLive(), 0);
    }
}

TEST(SectionIndex, SharedCollaboratorsAreLeftToTheirOwner) {
    Index index(kHeaderAndEntities);
    DxfPublicStorage* storage = newDxfPublicStorage(index.host.services(), StorageExactSizes);
    ASSERT_NE(storage, nullptr);
    GetDxfData* data = newGetDxfData(&index.source, storage, nullptr, nullptr);
    ASSERT_NE(data, nullptr);
    deleteGetDxfData(data);
    EXPECT_EQ(index.host.closes, 1) << "the line stream it made closes the document";
    EXPECT_GT(index.host.poolBlocksLive(), 0) << "a given storage outlives the index";
    deleteDxfPublicStorage(storage);
    EXPECT_EQ(index.host.poolBlocksLive(), 0);
}

// A stream that stops moving (every seek or every read failing from the k-th on) ends
// the scans: creation finishes for every k, any span it records is the true one or
// unfound, and nothing is left allocated or open.
TEST(SectionIndex, ScansEndWhenTheStreamCannotMove) {
    Index clean(kHeaderAndEntities);
    ASSERT_TRUE(clean.build());
    for (bool seeks : {true, false}) {
        for (bool persistent : {true, false}) {
            for (int32_t failAt = 0;; ++failAt) {
                SCOPED_TRACE(::testing::Message() << (seeks ? "seek " : "read ") << failAt
                                                  << (persistent ? " on" : " once"));
                Index index(kHeaderAndEntities);
                (seeks ? index.host.seekFault : index.host.readFault) = {failAt, persistent};
                const bool built = index.build();
                const wqtest::Fault& fault = seeks ? index.host.seekFault : index.host.readFault;
                if (built) {
                    for (int32_t section = 0; section < SectionCount; ++section) {
                        const wq::SectionSpan got = index.span(section);
                        const wq::SectionSpan want = clean.span(section);
                        EXPECT_TRUE(got.start == want.start || got.start == -1);
                        EXPECT_TRUE(got.end == want.end || got.end == -1);
                    }
                } else {
                    EXPECT_LE(index.host.reported.size(), 1u);
                }
                deleteGetDxfData(index.data);
                index.data = nullptr;
                EXPECT_EQ(index.host.poolBlocksLive(), 0);
                EXPECT_EQ(index.host.opens, index.host.closes);
                if (fault.injected == 0) break;
            }
        }
    }
}

// The handlers of sections that are present but never closed: HEADER to BLOCKS fail on
// every call, ENTITIES and OBJECTS are passed over.
TEST(PhaseHandlers, AnUnclosedSectionFailsOrIsPassedOverByKind) {
    using Handler = int32_t (*)(GetDxfData*);
    struct Case {
        const char* name;
        Handler GetDxfData::*slot;
        int32_t result;
    };
    const Case cases[] = {{"HEADER", &GetDxfData::doHeader, PhaseError},
                          {"CLASSES", &GetDxfData::doClasses, PhaseError},
                          {"TABLES", &GetDxfData::doTables, PhaseError},
                          {"BLOCKS", &GetDxfData::doBlocks, PhaseError},
                          {"ENTITIES", &GetDxfData::doEntities, PhaseFinished},
                          {"OBJECTS", &GetDxfData::doObjects, PhaseFinished}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Index index(std::string("0\nSECTION\n2\n") + c.name + "\n0\nLINE\n8\n0\n");
        ASSERT_TRUE(index.build());
        for (int call = 0; call < 3; ++call) EXPECT_EQ((index.data->*c.slot)(index.data), c.result);
        EXPECT_EQ(index.source.recordQueue, 0u);
    }
}

TEST(PhaseHandlers, AbsentSectionsFinishAtOnceAndSlotsOneAndTwoAreEmpty) {
    Index index("0\nSECTION\n2\nEOF\n");
    ASSERT_TRUE(index.build());
    EXPECT_EQ(index.data->sectionSlot, nullptr);
    EXPECT_EQ(index.data->endsecSlot, nullptr);
    for (auto slot : {&GetDxfData::doHeader, &GetDxfData::doClasses, &GetDxfData::doTables,
                      &GetDxfData::doBlocks, &GetDxfData::doEntities, &GetDxfData::doObjects}) {
        EXPECT_EQ((index.data->*slot)(index.data), PhaseFinished);
    }
    EXPECT_EQ(index.source.recordQueue, 0u);
    // The end-of-document record does not need an EOF section; a failed record is retried.
    index.host.allocFault = {0, false};  // the next allocation fails
    EXPECT_EQ(index.data->doEnd(index.data), PhaseError);
    EXPECT_EQ(index.source.recordQueue, 0u);
    EXPECT_EQ(index.data->doEnd(index.data), PhaseFinished);
    ASSERT_NE(index.source.lastRecord, nullptr);
    const std::vector<wqtest::Record> queued = index.host.takeAll(&index.source.recordQueue);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].kind, RecordEndOfDocument);
}

// Lines:     0        1          2    3           4    5         6    7    8    9
const char kAnyOrder[] = "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nhi\n0\nENDSEC\n"
                         // 10   11         12   13          14   15
                         "0\nSECTION\n2\nCLASSES\n0\nENDSEC\n"
                         // 16   17         18   19                 20   21
                         "0\nSECTION\n2\nTHUMBNAILIMAGE\n0\nENDSEC\n"
                         // 22   23         24   25         26   27           28   29
                         "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n"
                         // 30   31         32   33
                         "0\nENDSEC\n0\nEOF\n"
                         "0\nSECTION\n2\nBLOCKS\n0\nENDSEC\n";

const char kBlanksAroundCodes[] =
    "  0 \nSECTION\n 2  \nTABLES\n  0\nENDSEC\n"         // 0-5: found, empty body
    "0\nSECTION \n2\nBLOCKS\n0\nENDSEC\n"                // 6-11: value with a blank
    "0\nSECTION\n2\nENTITIES \n0\nENDSEC\n"              // 12-17: name with a blank
    "0\t\nSECTION\n2\nOBJECTS\n0\nENDSEC\n"              // 18-23: a tab is not a blank
    "0\nSECTION\n2\nHEADER\n0\nENDSEC \n0 \nENDSEC\n";  // 24-33: first pair has a blank

const char kBrokenFrames[] =
    "0\n0\nSECTION\n2\nHEADER\n0\nENDSEC\n"           // 0-6: the second 0 breaks the frame
    "0\nSECTION\n0\nSECTION\n2\nBLOCKS\n0\nENDSEC\n"  // 7-14: so does a 0 instead of the 2
    "0\nSECTION\n2\n\n2\nENTITIES\n"                  // 15-20: an empty name line
    "0\nSECTION\n2\nFOO\n"                            // 21-24: an unknown name, and at once
    "0\nSECTION\n2\nTABLES\n0\nENDSEC\n"              // 25-30: a good frame
    "0\nSECTION\n2\nCLASSES\n0\nENDSEC\n";            // 31-36

const char kSameSectionTwice[] =
    "0\nSECTION\n2\nHEADER\n9\n$A\n0\nENDSEC\n"          // 0-7
    "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n"                 // 8-13
    "0\nSECTION\n2\nHEADER\n9\n$B\n1\nx\n0\nENDSEC\n";  // 14-23

const char kBorrowedEnd[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n"  // 0-7
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nx\n"         // 8-15
    "0\nENDSEC\n"                                       // 16-17
    "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nb\n";          // 18-25

const char kValueZeroHidesEndsec[] =
    "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n70\n0\n0\nENDSEC\n"  // 0-9: 70/0 hides the pair
    "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n";                 // 10-15

const char kEofBeforeAnySection[] = "0\nEOF\n0\nSECTION\n2\nHEADER\n0\nENDSEC\n";
const char kNoFramesAtAll[] = "hello\nworld\n0\nSECTION\n2\n";

const char kHeaderAndEntities[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nfirst\n0\nLINE\n8\n0\n0\nENDSEC\n0\nEOF\n";

}  // namespace
