// Reader entry, end to end through the test host: the source record and work buffer, what a
// run delivers and in which order, and host calls failing at every step from start to shutdown.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DxfSource.h"
#include "FakeHost.hpp"
#include "Outcome.hpp"
#include "Sweep.hpp"
#include "Transcript.hpp"

namespace {

using wqtest::FakeHost;
using wqtest::section;
using Lines = std::vector<std::string>;
using Words = std::vector<intptr_t>;

constexpr const char* kNoMemory = "Memory allocation error";
constexpr const char* kIllegal = "Illigal DXF file";

std::string T(const std::string& text) { return wqtest::textLine(text); }  // a text's line

const std::string kTitleBlock =
    section("HEADER", "9\n$ACADVER\n1\nAC1009\n") +
    section("TABLES", "0\nTABLE\n2\nLAYER\n0\nENDTAB\n") +
    section("BLOCKS",
            "0\nBLOCK\n8\n0\n2\nTITLE\n70\n2\n10\n0.0\n"
            "0\nATTDEF\n8\n0\n40\n2.5\n1\nDEFAULT\n3\nPrompt\n2\nTAG\n70\n0\n0\nENDBLK\n8\nL0\n") +
    section("ENTITIES",
            "0\nTEXT\n8\n0\n10\n1.0\n  1\nHello\n0\nLINE\n8\n0\n11\n1.0\n"
            "0\nINSERT\n66\n1\n2\nTITLE\n0\nATTRIB\n1\nValue\n2\nTAG\n70\n0\n0\nSEQEND\n8\n0\n"
            "0\nTEXT\n1\n\\M+18140\\M+18141\n") +
    "0\nEOF\n";
const Lines kTitleBlockRecords = {"S", T("TITLE"), "E", "S", T("DEFAULT"), T("TAG"), "E", "S",
                                   T("Hello"), "E", "S", T("Value"), T("TAG"), "E",
                                   "S", T("\x81\x40\x81\x41"), "E", "D"};

Lines transcribe(FakeHost& host, int32_t patience = 1) {
    return wqtest::transcribe(host, wqtest::linkedEntryPoints(), patience);
}

Words hostWords(const HostParams* p) { return {p->word2, p->word4, p->word24, p->word32}; }

// Every pool block given back, and the document closed as often as opened.
void expectClean(const FakeHost& h) { EXPECT_TRUE(!h.poolBlocksLive() && h.opens == h.closes); }

// What a run of the title block may deliver when host calls fail (where seeks fail, an
// empty text may stand anywhere), giving back all it took.
void expectAllowedRun(FakeHost& host, const Lines& got, bool emptyTexts = false) {
    const auto rule =
        emptyTexts ? wqtest::TextRule::FromCleanRunOrEmpty : wqtest::TextRule::FromCleanRun;
    EXPECT_EQ(wqtest::disallowedRecords(kTitleBlockRecords, got, rule), "");
    expectClean(host);
}

TEST(ReaderEntry, AFreshSourceHoldsItsWordsAndMakesTheWorkBufferOnRequestOne) {
    FakeHost host(kTitleBlock);
    HostParams* params = host.params();
    params->hostValue = 0x5157;
    DxfSource* source = startSrcDXF(host.stream(), params);
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->tag == 4536 && source->phase == 2 && source->hostValue == 0x5157u);
    EXPECT_TRUE(source->getDXFobject == getDXFobject && source->shutDownDXFsrc == shutDownDXFsrc);
    EXPECT_EQ(source->reserved6 | source->reserved7 | source->recordQueue, 0u);
    EXPECT_TRUE(!source->workStart && !source->workCursor && !source->workEnd);
    EXPECT_EQ(source->lastRecord, nullptr);
    EXPECT_TRUE(hostWords(params) == (Words{48, 1, 1, 0}) && _lib_version == 1);

    EXPECT_EQ(source->allocBufDXFsrc(source, 2), 0);
    host.allocFault = {0, false};  // the next allocation fails, once
    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 0);
    EXPECT_TRUE(host.reported == Lines{kNoMemory} && source->workStart == nullptr);
    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 1);
    char* const start = source->workStart;
    ASSERT_TRUE(start != nullptr && source->workCursor == start && source->workEnd == start + 3072);
    source->workCursor = start + 10;                  // the host's to move
    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 1);  // made once
    EXPECT_TRUE(source->workStart == start && source->workCursor == start + 10);
    EXPECT_EQ(source->allocBufDXFsrc(source, 2), 0);

    OutputRecord* first = getDXFobject(source);  // the last record handed out is kept
    ASSERT_TRUE(first != nullptr && source->lastRecord == first);
    host.release(first);
    shutDownDXFsrc(source);
    EXPECT_TRUE(host.poolBlocksLive() == 0 && host.closes == 1);
    shutDownDXFsrc(nullptr);
}

TEST(ReaderEntry, DeliversBlocksThenEntitiesAndStopsWhereTheFramingSays) {
    const std::string lost = section("ENTITIES", "0\nTEXT\n1\nlost\n") + "0\nSECTION\n2\n";
    const Lines kNulls = {"FAIL null", "FAIL null", "FAIL null"};
    // Each document with the calls without a record before its run is given up.
    const struct { std::string document; int32_t patience; Lines records; } cases[] = {
        {kTitleBlock, 1, kTitleBlockRecords},
        {wqtest::withLineEnds(kTitleBlock, "\r\n"), 1, kTitleBlockRecords},
        {wqtest::withLineEnds(kTitleBlock, "\r"), 1, kTitleBlockRecords},
        {section("ENTITIES", "0\nTEXT\n1\nentity\n") + section("BLOCKS", "0\nTEXT\n1\nblock\n"), 1,
         {"S", T("block"), "E", "S", T("entity"), "E", "D"}},
        // No text: only the end of document, then nothing. An ENTITIES section without its
        // closing pair is passed over.
        {section("ENTITIES", "0\nLINE\n8\n0\n0\nMTEXT\n1\nnot read\n") + "0\nEOF\n", 1, {"D"}},
        {section("HEADER", "") + "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\npassed over\n", 1, {"D"}},
        // An unclosed HEADER (checked first, though it stands last) or BLOCKS stops
        // delivery for good.
        {lost + "HEADER\n9\n$ACADVER\n1\nAC1009\n", 3, kNulls},
        {lost + "BLOCKS\n0\nBLOCK\n2\nB\n0\nTEXT\n1\nlost too\n", 3, kNulls},
        // An unknown code stops the first TEXT after its first text: what it queued comes
        // first, then the retried handler starts a new entity where the stream stands.
        {section("BLOCKS", "0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n") +
             section("ENTITIES", "0\nTEXT\n1\nlast\n") + "0\nEOF\n", 2,
         {"FAIL null", "S", T("before"), "S", T("after"), "E", "S", T("last"), "E", "D"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document.substr(0, 60));
        FakeHost host(c.document);
        EXPECT_EQ(transcribe(host, c.patience), c.records);
        expectClean(host);
    }
}

// A document without sections, or one that cannot be read, is refused with one message,
// or silently when the stream takes no reports.
TEST(ReaderEntry, AFailedStartLeavesTheHostParamsAloneAndNothingAllocated) {
    const char* const noSections = "999\ncomment only\n0\nSECTION\n2\n";
    const char* const eofFirst = "0\nEOF\n0\nSECTION\n2\nHEADER\n0\nENDSEC\n";
    const struct { const char* document; bool reports, opens; Lines messages; } cases[] = {
        {noSections, true, true, {kIllegal}}, {eofFirst, true, true, {kIllegal}},
        {"", true, true, {kNoMemory}},        {eofFirst, true, false, {kNoMemory}},
        {noSections, false, true, {}},        {"", false, true, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        FakeHost host(c.document);
        if (!c.reports) host.withoutReportError();
        if (!c.opens) host.openFault = {0, true};
        HostParams* params = host.params();
        params->word2 = params->word4 = params->word24 = params->word32 = 77;
        EXPECT_EQ(startSrcDXF(host.stream(), params), nullptr);
        EXPECT_EQ(host.reported, c.messages);
        EXPECT_EQ(hostWords(params), (Words{77, 77, 77, 77}));
        expectClean(host);
    }
    FakeHost host(noSections);
    EXPECT_EQ(startSrcDXF(nullptr, host.params()), nullptr);
    host.params()->services = nullptr;
    EXPECT_TRUE(startSrcDXF(host.stream(), host.params()) == nullptr && host.opens == 0);
}

// Every host allocation from start to shutdown fails in turn, once and from then on; then
// every prefix of a good file, and seeks or reads that fail from some call on (the run
// stopped at the first call without a record, as a host stops, since a retried entity
// gives a new start record each time): each run ends, gives back all it took, and
// delivers nothing the whole file would not.
TEST(ReaderEntry, HostFaultsAndCutFilesEndInAnAllowedOutcomeWithoutLeaks) {
    wqtest::sweepAllocations(kTitleBlock, [](FakeHost& host, const wqtest::Fault& fault) {
        host.allocFault = fault;
        const Lines got = transcribe(host, 3);
        const int32_t injected = host.allocFault.injected;
        if (got[0].rfind("FAIL refused", 0) == 0) {
            // The document's own storage is made silently; later failures say so once.
            EXPECT_TRUE(got[0] == "FAIL refused" ||
                        (fault.failAt > 0 && got[0] == "FAIL refused " + std::string(kNoMemory)));
            EXPECT_LE(host.reported.size(), 1u);
        } else {
            EXPECT_TRUE(host.reported.empty());
            expectAllowedRun(host, got);
            const auto nulls = std::count(got.begin(), got.end(), "FAIL null");
            EXPECT_TRUE(fault.persistent || (got.back() == "D" && nulls <= injected))
                << "one failure is retried, so the run ends";
        }
        EXPECT_TRUE(injected > 0 || got == kTitleBlockRecords);
        EXPECT_EQ(host.badPositions, 0);
    });
    const std::string whole = wqtest::withLineEnds(kTitleBlock, "\r\n");
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        FakeHost host(whole.substr(0, length));
        expectAllowedRun(host, transcribe(host, 3));
    }
    for (int32_t kind = 0; kind < 4; ++kind) {  // seeks or reads, for good or once
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(::testing::Message() << kind << " " << failAt);
            FakeHost host(kTitleBlock);
            wqtest::Fault& fault = kind < 2 ? host.seekFault : host.readFault;
            fault = {failAt, kind % 2 == 0};
            expectAllowedRun(host, transcribe(host), kind < 2);
            if (fault.injected == 0) break;
        }
    }
}

// 60000 entities before the first record, walked in one call on a 1 MiB stack: a delivery
// loop that recursed once per handler call would need far more and crash.
TEST(ReaderEntry, AWholeSectionWithoutTextIsWalkedInOneCallOnASmallStack) {
    Lines got;
    pthread_attr_t attributes;
    pthread_t thread;
    ASSERT_EQ(pthread_attr_init(&attributes) | pthread_attr_setstacksize(&attributes, 1 << 20), 0);
    const auto run = [](void* out) -> void* {
        std::string body;
        for (int i = 0; i < 60000; ++i) body += "0\nLINE\n8\n0\n";
        FakeHost host(section("ENTITIES", body + "0\nTEXT\n1\nx\n"));
        *static_cast<Lines*>(out) = transcribe(host);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &got), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(got, (Lines{"S", T("x"), "E", "D"}));
}

}  // namespace
