// Reader entry, end to end through the test host: the source record, what a run delivers
// and in which order, errors that stop delivery or are retried, the host's work buffer,
// and every host allocation failing in turn from start to shutdown.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "DxfSource.h"
#include "FakeHost.hpp"
#include "Transcript.hpp"

namespace {

using wqtest::FakeHost;
using wqtest::Record;
using Lines = std::vector<std::string>;

extern const char kTitleBlock[];
extern const char kNoText[];
extern const char kEmptyEntities[];
extern const char kNoEofAtEnd[];
extern const char kHeaderUnclosedAfterText[];
extern const char kBlocksUnclosed[];
extern const char kEntitiesUnclosed[];
extern const char kEntitiesBeforeBlocks[];
extern const char kUnknownCodeInBlocks[];
extern const char kNoSections[];

constexpr const char* kNoMemory = "Memory allocation error";

const Lines kTitleBlockRecords = {
    "S", "T 5449544c45", "E",                      // BLOCK TITLE
    "S", "T 44454641554c54", "T 544147", "E",      // ATTDEF DEFAULT, TAG
    "S", "T 48656c6c6f", "E",                      // TEXT Hello
    "S", "T 56616c7565", "T 544147", "E",          // ATTRIB Value, TAG
    "S", "T 81408141", "E",                        // TEXT of two \M+ escapes
    "D"};

std::vector<std::string> transcribe(const std::string& document) {
    FakeHost host(document);
    return wqtest::transcribe(host, wqtest::linkedEntryPoints());
}

std::string withLineEnds(const std::string& document, const char* eol) {
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

// A whole run that goes on after a call without a record, as a host retrying would.
struct ReaderRun {
    bool started = false;
    Lines records;     // transcript lines of the records received
    int32_t nulls = 0;  // calls that returned no record
    bool ended = false;  // the end-of-document record arrived
};

// Starts, calls getDXFobject until the end-of-document record, `patience` nulls in a
// row, or a cap on the calls, then shuts down. After the end-of-document record one more
// call must give nothing.
ReaderRun runDocument(FakeHost& host, int32_t patience) {
    ReaderRun run;
    DxfSource* source = startSrcDXF(host.stream(), host.params());
    if (source == nullptr) return run;
    run.started = true;
    int32_t nullsInARow = 0;
    for (int32_t calls = 0; calls < 100000 && nullsInARow < patience; ++calls) {
        OutputRecord* record = getDXFobject(source);
        if (record == nullptr) {
            ++run.nulls;
            ++nullsInARow;
            continue;
        }
        nullsInARow = 0;
        const Record seen = FakeHost::view(record);
        host.release(record);
        run.records.push_back(wqtest::transcriptLine(seen));
        if (seen.kind == RecordEndOfDocument) {
            run.ended = true;
            EXPECT_EQ(getDXFobject(source), nullptr);
            break;
        }
    }
    shutDownDXFsrc(source);
    return run;
}

// What a run may deliver when host calls fail: start records open an entity (a new start
// may cut one short, as a retried entity does, and so may the end of document), texts only
// inside an entity and in the clean run's order with some missing, the end of document at
// most once and last. A failed seek reads as an empty line, so where seeks fail an empty
// text may stand anywhere.
void expectAllowedRecords(const Lines& got, const Lines& clean, bool emptyTexts = false) {
    bool open = false;
    size_t nextText = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const std::string& line = got[i];
        SCOPED_TRACE(::testing::Message() << "record " << i << ": " << line);
        if (line == "S") {
            open = true;
        } else if (line == "E") {
            EXPECT_TRUE(open);
            open = false;
        } else if (line == "D") {
            EXPECT_EQ(i + 1, got.size());
        } else {
            ASSERT_EQ(line[0], 'T');
            EXPECT_TRUE(open);
            if (emptyTexts && line == "T") continue;
            while (nextText < clean.size() && clean[nextText] != line) ++nextText;
            ASSERT_LT(nextText, clean.size()) << "a text the clean run does not give here";
            ++nextText;
        }
    }
}

TEST(ReaderEntry, AFreshSourceHoldsItsWordsAndTheHostParamsAreSet) {
    FakeHost host(kTitleBlock);
    HostParams* params = host.params();
    params->hostValue = 0x5157;
    DxfSource* source = startSrcDXF(host.stream(), params);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->tag, 4536);
    EXPECT_EQ(source->stream, host.stream());
    EXPECT_EQ(source->params, params);
    EXPECT_EQ(source->getDXFobject, getDXFobject);
    EXPECT_EQ(source->shutDownDXFsrc, shutDownDXFsrc);
    EXPECT_NE(source->allocBufDXFsrc, nullptr);
    EXPECT_EQ(source->reserved6, 0u);
    EXPECT_EQ(source->reserved7, 0u);
    EXPECT_EQ(source->services, host.services());
    EXPECT_EQ(source->hostValue, 0x5157u);
    EXPECT_EQ(source->phase, 2);
    EXPECT_EQ(source->workStart, nullptr);
    EXPECT_EQ(source->workCursor, nullptr);
    EXPECT_EQ(source->workEnd, nullptr);
    EXPECT_EQ(source->recordQueue, 0u);
    EXPECT_EQ(source->lastRecord, nullptr);
    EXPECT_NE(source->sections, nullptr);
    EXPECT_NE(source->storage, nullptr);
    EXPECT_EQ(params->word2, 48);
    EXPECT_EQ(params->word4, 1);
    EXPECT_EQ(params->word24, 1);
    EXPECT_EQ(params->word32, 0);
    EXPECT_EQ(_lib_version, 1);

    // The last record handed out stays in word 15.
    OutputRecord* first = getDXFobject(source);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(source->lastRecord, first);
    host.release(first);
    shutDownDXFsrc(source);
    EXPECT_EQ(host.poolBlocksLive(), 0);
    EXPECT_EQ(host.closes, 1);
    shutDownDXFsrc(nullptr);
}

TEST(ReaderEntry, TextEntitiesOfBlocksAndEntitiesArriveInFileOrderWithAnyLineEnd) {
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        EXPECT_EQ(transcribe(withLineEnds(kTitleBlock, eol)), kTitleBlockRecords);
    }
}

TEST(ReaderEntry, BlocksAreDeliveredBeforeEntitiesWhereverTheyStand) {
    EXPECT_EQ(transcribe(kEntitiesBeforeBlocks),
              (Lines{"S", "T 626c6f636b", "E", "S", "T 656e74697479", "E", "D"}));
}

TEST(ReaderEntry, WithoutTextOnlyTheEndOfDocumentArrivesThenNothingEver) {
    for (const char* doc : {kNoText, kEmptyEntities, kNoEofAtEnd, kEntitiesUnclosed}) {
        FakeHost host(doc);
        const ReaderRun run = runDocument(host, 3);
        EXPECT_EQ(run.records, Lines{"D"}) << doc;
        EXPECT_EQ(run.nulls, 0);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
}

TEST(ReaderEntry, AnUnclosedHeaderOrBlocksSectionStopsDeliveryForGood) {
    for (const char* doc : {kHeaderUnclosedAfterText, kBlocksUnclosed}) {
        FakeHost host(doc);
        const ReaderRun run = runDocument(host, 5);
        EXPECT_TRUE(run.started);
        EXPECT_TRUE(run.records.empty()) << doc;
        EXPECT_EQ(run.nulls, 5);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
}

TEST(ReaderEntry, AfterAHandlerErrorQueuedRecordsComeFirstThenTheSectionResumes) {
    FakeHost host(kUnknownCodeInBlocks);
    DxfSource* source = startSrcDXF(host.stream(), host.params());
    ASSERT_NE(source, nullptr);
    Lines got;
    for (int call = 0; call < 20 && (got.empty() || got.back() != "D"); ++call) {
        OutputRecord* record = getDXFobject(source);
        if (record == nullptr) {
            got.push_back("null");
            continue;
        }
        got.push_back(wqtest::transcriptLine(FakeHost::view(record)));
        host.release(record);
    }
    // The code 420 stops the first TEXT after its first text; the retried handler starts
    // a new entity where the stream stands and finishes it.
    EXPECT_EQ(got, (Lines{"null", "S", "T 6265666f7265", "S", "T 6166746572", "E", "S",
                          "T 6c617374", "E", "D"}));
    shutDownDXFsrc(source);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

// Runs `body` on a thread with a stack of `bytes`, so that a deep recursion shows as a
// crash instead of passing on a large default stack.
void onSmallStack(size_t bytes, void (*body)(void*), void* argument) {
    struct Call {
        void (*body)(void*);
        void* argument;
    } call{body, argument};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
    pthread_t thread;
    const auto run = [](void* raw) -> void* {
        Call* c = static_cast<Call*>(raw);
        c->body(c->argument);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &call), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(ReaderEntry, AWholeSectionWithoutTextIsWalkedInOneCallOnASmallStack) {
    // 60000 entities before the first record: a delivery loop that recursed once per
    // handler call would need megabytes of stack.
    std::string doc = "0\nSECTION\n2\nENTITIES\n";
    for (int i = 0; i < 60000; ++i) doc += "0\nLINE\n8\n0\n";
    doc += "0\nTEXT\n1\nx\n0\nENDSEC\n0\nEOF\n";
    struct Job {
        std::string doc;
        Lines got;
    } job{doc, {}};
    onSmallStack(1 << 20, [](void* raw) {
        Job* j = static_cast<Job*>(raw);
        j->got = transcribe(j->doc);
    }, &job);
    EXPECT_EQ(job.got, (Lines{"S", "T 78", "E", "D"}));
}

TEST(ReaderEntry, WorkBufferIsMadeOnceOnRequestOneOnly) {
    FakeHost host(kNoText);
    DxfSource* source = startSrcDXF(host.stream(), host.params());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->allocBufDXFsrc(source, 2), 0);
    EXPECT_EQ(source->workStart, nullptr);

    host.allocFault = {0, false};  // the next allocation fails, once
    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 0);
    EXPECT_EQ(host.reported, Lines{kNoMemory});
    EXPECT_EQ(source->workStart, nullptr);

    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 1);
    char* const start = source->workStart;
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(source->workCursor, start);
    EXPECT_EQ(source->workEnd, start + 3072);
    source->workCursor = start + 10;  // the host's to move
    EXPECT_EQ(source->allocBufDXFsrc(source, 1), 1);
    EXPECT_EQ(source->workStart, start);
    EXPECT_EQ(source->workCursor, start + 10);
    EXPECT_EQ(source->workEnd, start + 3072);
    EXPECT_EQ(source->allocBufDXFsrc(source, 2), 0);

    OutputRecord* end = getDXFobject(source);
    ASSERT_NE(end, nullptr);
    host.release(end);
    shutDownDXFsrc(source);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(ReaderEntry, AFailedStartLeavesTheHostParamsAloneAndNothingAllocated) {
    struct Case {
        const char* document;
        bool reports;
        Lines messages;
    };
    const Case cases[] = {{kNoSections, true, {"Illigal DXF file"}},
                          {"", true, {kNoMemory}},
                          {kNoSections, false, {}},
                          {"", false, {}}};
    for (const Case& c : cases) {
        FakeHost host(c.document);
        if (!c.reports) host.withoutReportError();
        HostParams* params = host.params();
        params->word2 = params->word4 = params->word24 = params->word32 = 77;
        EXPECT_EQ(startSrcDXF(host.stream(), params), nullptr);
        EXPECT_EQ(host.reported, c.messages);
        EXPECT_EQ(params->word2, 77);
        EXPECT_EQ(params->word4, 77);
        EXPECT_EQ(params->word24, 77);
        EXPECT_EQ(params->word32, 77);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.opens, host.closes);
    }
    FakeHost host(kNoText);
    EXPECT_EQ(startSrcDXF(nullptr, host.params()), nullptr);
    host.params()->services = nullptr;
    EXPECT_EQ(startSrcDXF(host.stream(), host.params()), nullptr);
    EXPECT_EQ(host.opens, 0);
}

// Every host allocation from start to shutdown fails in turn, once and from then on.
TEST(ReaderEntry, EveryFailedAllocationEndsInAnAllowedOutcomeWithoutLeaks) {
    const Lines clean = transcribe(kTitleBlock);
    ASSERT_EQ(clean, kTitleBlockRecords);
    for (bool persistent : {false, true}) {
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(::testing::Message() << "allocation " << failAt
                                              << (persistent ? " and later" : " once"));
            FakeHost host(kTitleBlock);
            host.allocFault = {failAt, persistent};
            const ReaderRun run = runDocument(host, 3);
            if (!run.started) {
                // The document's own storage is made silently; later failures say so once.
                if (failAt == 0) {
                    EXPECT_TRUE(host.reported.empty());
                } else {
                    EXPECT_LE(host.reported.size(), 1u);
                    if (!host.reported.empty()) {
                        EXPECT_EQ(host.reported[0], kNoMemory);
                    }
                }
            } else {
                EXPECT_TRUE(host.reported.empty());
                expectAllowedRecords(run.records, clean);
                if (!persistent) {
                    EXPECT_TRUE(run.ended) << "one failure is retried, so the run ends";
                    EXPECT_LE(run.nulls, host.allocFault.injected);
                }
            }
            EXPECT_EQ(host.poolBlocksLive(), 0);
            EXPECT_EQ(host.foreignFrees, 0);
            EXPECT_EQ(host.badPositions, 0);
            EXPECT_EQ(host.opens, host.closes);
            if (host.allocFault.injected == 0) {
                EXPECT_EQ(run.records, clean);
                break;
            }
        }
    }
}

// Every prefix of a good file, cut anywhere, ends without crash, hang or leak.
TEST(ReaderEntry, EveryPrefixOfAGoodFileEndsCleanly) {
    const std::string whole = withLineEnds(kTitleBlock, "\r\n");
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        FakeHost host(whole.substr(0, length));
        const ReaderRun run = runDocument(host, 3);
        if (run.started) expectAllowedRecords(run.records, kTitleBlockRecords);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.opens, host.closes);
    }
}

// Seeks and reads that fail from some call on: the run, stopped at the first call without
// a record as a host stops, ends and gives everything back.
TEST(ReaderEntry, AStreamThatStopsWorkingEndsTheRun) {
    for (bool seeks : {true, false}) {
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(::testing::Message() << (seeks ? "seek " : "read ") << failAt);
            FakeHost host(kTitleBlock);
            wqtest::Fault& fault = seeks ? host.seekFault : host.readFault;
            fault = {failAt, true};
            const ReaderRun run = runDocument(host, 1);
            if (run.started) expectAllowedRecords(run.records, kTitleBlockRecords, seeks);
            EXPECT_EQ(host.poolBlocksLive(), 0);
            EXPECT_EQ(host.opens, host.closes);
            if (fault.injected == 0) break;
        }
    }
}

const char kTitleBlock[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"
    "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nENDTAB\n0\nENDSEC\n"
    "0\nSECTION\n2\nBLOCKS\n"
    "0\nBLOCK\n8\n0\n2\nTITLE\n70\n2\n10\n0.0\n20\n0.0\n30\n0.0\n"
    "0\nATTDEF\n8\n0\n10\n0.0\n20\n0.0\n30\n0.0\n40\n2.5\n1\nDEFAULT\n3\nPrompt\n2\nTAG\n70\n0\n"
    "0\nENDBLK\n8\nL0\n"
    "0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n"
    "0\nTEXT\n8\n0\n10\n1.0\n20\n1.0\n30\n0.0\n40\n2.5\n  1\nHello\n"
    "0\nLINE\n8\n0\n10\n0.0\n20\n0.0\n30\n0.0\n11\n1.0\n21\n1.0\n31\n0.0\n"
    "0\nINSERT\n8\n0\n66\n1\n2\nTITLE\n10\n0.0\n20\n0.0\n30\n0.0\n"
    "0\nATTRIB\n8\n0\n10\n0.0\n20\n0.0\n30\n0.0\n40\n2.5\n1\nValue\n2\nTAG\n70\n0\n"
    "0\nSEQEND\n8\n0\n"
    "0\nTEXT\n8\n0\n1\n\\M+18140\\M+18141\n"
    "0\nENDSEC\n"
    "0\nEOF\n";

const char kNoText[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0.0\n0\nMTEXT\n1\nnot read\n0\nENDSEC\n"
    "0\nEOF\n";

const char kEmptyEntities[] = "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";

const char kNoEofAtEnd[] = "0\nSECTION\n2\nENTITIES\n0\nPOINT\n8\nL0\n0\nENDSEC\n";

// ENTITIES comes first and closes; HEADER, checked first, never does.
const char kHeaderUnclosedAfterText[] =
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nlost\n0\nENDSEC\n"
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n";

const char kBlocksUnclosed[] =
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nlost\n0\nENDSEC\n"
    "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n0\nTEXT\n1\nlost too\n";

const char kEntitiesUnclosed[] =
    "0\nSECTION\n2\nHEADER\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\npassed over\n";

const char kEntitiesBeforeBlocks[] =
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nentity\n0\nENDSEC\n"
    "0\nSECTION\n2\nBLOCKS\n0\nTEXT\n1\nblock\n0\nENDSEC\n0\nEOF\n";

const char kUnknownCodeInBlocks[] =
    "0\nSECTION\n2\nBLOCKS\n0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nlast\n0\nENDSEC\n0\nEOF\n";

const char kNoSections[] = "999\ncomment only\n0\nEOF\n";

}  // namespace
