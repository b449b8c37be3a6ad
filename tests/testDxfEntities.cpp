// Entity dispatcher and text handler over the byte range of a section body: which
// entities give records, in what order and at which queue position, what is passed over
// within one call, failure and resumption, and clean undo of every failed allocation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DxfEntities.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"
#include "Transcript.hpp"

namespace {

using wqtest::FakeHost;

// A dispatcher over a section body (the document holds the body, then "0"/"ENDSEC"), on
// the storage, string utilities and line stream the section phases give it, or on
// collaborators it makes itself.
struct Walk {
    FakeHost& host;
    DxfSource source;
    DxfPublicStorage* storage = nullptr;
    DxfStrEtc* strings = nullptr;
    DxfFileStrmIo* lines = nullptr;
    DxfEntities* entities = nullptr;

    Walk(FakeHost& testHost, bool shared) : host(testHost), source(wqtest::bareSource(testHost)) {
        host.logCalls = true;
        if (!shared) return;
        storage = newDxfPublicStorage(host.services(), 1);
        strings = newDxfStrEtc(host.services(), storage);
        lines = newDxfFileStrmIo(host.services(), host.stream(), strings, storage);
    }
    ~Walk() {
        deleteDxfEntities(entities);
        deleteDxfFileStrmIo(lines);
        deleteDxfStrEtc(strings);
        deleteDxfPublicStorage(storage);
    }
    bool make(int32_t end) {
        entities = newDxfEntities(&source, storage, strings, lines, nullptr, 0, end);
        return entities != nullptr;
    }
    int32_t next() { return entities->nextEntity(entities, &source.recordQueue); }
    // The queue position `record` was last put at.
    int64_t positionOf(const OutputRecord* record) const {
        for (auto call = host.log.rbegin(); call != host.log.rend(); ++call)
            if (call->op == wqtest::Op::PutRecord && call->pointer == record) return call->a;
        return 99;
    }
    // The records queued so far, taken: "S" (a start record put at the head, word 12 = 12),
    // "[text]" (appended, word 7 = 0), "E" (appended); "?" follows a record placed or
    // written otherwise.
    std::string taken() {
        std::string out;
        HostServices* services = host.services();
        while (OutputRecord* record = services->takeRecord(services, &source.recordQueue, 0)) {
            const wqtest::Record r = FakeHost::view(record);
            const bool start = r.kind == RecordTextStart;
            const bool text = r.kind == RecordText;
            const int64_t at = positionOf(record);
            if (!out.empty()) out += ' ';
            out += start ? "S" : text ? '[' + r.text + ']' : "E";
            if (start ? r.word12 != 12 || at != QueueAtHead
                      : (text ? r.word7 != 0 : r.kind != RecordTextEnd) || at != QueueAppend)
                out += '?';
            host.release(record);
        }
        host.log.clear();
        return out;
    }
};

struct Step {
    int32_t result;
    std::string records;
};  // what one call answers and queues

const std::string kLineThenText = "0\nLINE\n8\n0\n10\n0.0\n0\nTEXT\n8\n0\n40\n2.5\n1\nHello\n";
// Codes 8, 7, 70 and 3 give nothing; "  1" is code 1; BLOCK's code 1 is empty.
const std::string kTextGroups =
    "0\nTEXT\n8\nNOTES\n1\nLabel\n7\nSTANDARD\n0\nATTRIB\n  1\nA-101\n2\nDWGNO\n70\n0\n"
    "0\nBLOCK\n2\nTITLE\n3\nTITLE\n1\n\n";

TEST(DxfEntities, EachCallHandlesOneListedEntity) {
    const std::string longest(2047, 'x');
    const struct Case {
        std::string body;
        std::vector<Step> steps;
    } cases[] = {
        {kLineThenText, {{2, ""}, {2, "S [Hello] E"}, {1, ""}, {1, ""}}},
        {kTextGroups,
         {{2, "S [Label] E"}, {2, "S [A-101] [DWGNO] E"}, {2, "S [TITLE] [] E"}, {1, ""}}},
        // A comment group opens the range; MTEXT, INSERT, SEQEND and VERTEX are listed and
        // passed over one per call. ENDBLK, "text" and "TEXT " are not listed: the same call
        // goes on to the TEXT.
        {"999\nby hand\n0\nMTEXT\n1\nmulti\n0\nINSERT\n2\nT\n0\nSEQEND\n0\nVERTEX\n10\n1\n"
         "0\nENDBLK\n8\n0\n0\ntext\n1\nlower\n0\nTEXT \n1\nblank\n0\nTEXT\n1\nfound\n",
         {{2, ""}, {2, ""}, {2, ""}, {2, ""}, {2, "S [found] E"}, {1, ""}}},
        // An unknown code fails the entity after what it queued; the next call goes on
        // from there with a new start record.
        {"0\nTEXT\n1\nbefore\n420\n16711680\n1\nafter\n0\nLINE\n10\n0\n",
         {{0, "S [before]"}, {2, "S [after] E"}, {2, ""}, {1, ""}}},
        // Decoded values end at their first zero byte; a value of the longest line is whole.
        {"0\nTEXT\n1\n\\M+18140\\M+18141\n1\n\\M+18140\\M+10041\n1\n\\m+1\n1\n" + longest + "\n",
         {{2, "S [\x81\x40\x81\x41] [\x81\x40] [\\m+1] [" + longest + "] E"}, {1, ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 30));
        FakeHost host(c.body + "0\nENDSEC\n");
        Walk w(host, true);
        ASSERT_TRUE(w.make(static_cast<int32_t>(c.body.size())));
        for (const Step& step : c.steps) {
            EXPECT_EQ(w.next(), step.result);
            EXPECT_EQ(w.taken(), step.records);
        }
    }
}

// A host that stops seeking makes every line read as an empty one without moving the
// stream: whether it stops before an entity, inside a skipped one or inside a text, the
// call fails instead of going round forever, and calls after it fail too.
TEST(DxfEntities, AHostThatStopsSeekingFailsTheCall) {
    for (int32_t seeksBeforeFailing : {0, 3, 9, 12}) {
        SCOPED_TRACE(seeksBeforeFailing);
        FakeHost host(kLineThenText + "0\nENDSEC\n");
        Walk w(host, true);
        ASSERT_TRUE(w.make(static_cast<int32_t>(kLineThenText.size())));
        host.seekFault = {host.seekFault.calls + seeksBeforeFailing, true};
        int32_t result = EntityHandled;
        for (int call = 0; call < 3 && result == EntityHandled; ++call) result = w.next();
        EXPECT_EQ(result, EntityError);
        EXPECT_EQ(w.next(), EntityError);
        w.taken();
    }
}

// Every host allocation of making and walking a dispatcher fails in turn: a failure gives
// null or 0, a later call goes on, and nothing stays allocated.
TEST(DxfEntities, EveryFailedAllocationIsUndone) {
    const std::string body = kLineThenText + kTextGroups + "0\nTEXT\n1\n\\M+18140\n";
    const std::string document = body + "0\nENDSEC\n";
    for (bool shared : {true, false}) {
        wqtest::sweepAllocations(document, [&](FakeHost& host, const wqtest::Fault& fault) {
            Walk w(host, shared);
            host.allocFault = fault;
            int32_t result = EntityError;
            if (w.make(static_cast<int32_t>(body.size()))) {
                for (int call = 0; call < 20 && result != EntityRangeDone; ++call) {
                    result = w.next();
                    w.taken();
                    if (result == EntityError && fault.persistent) break;
                }
                EXPECT_TRUE(fault.persistent || result == EntityRangeDone);
            }
            EXPECT_TRUE(host.allocFault.injected > 0 || result == EntityRangeDone);
            EXPECT_EQ(host.badPositions, 0);
        });
    }
}

}  // namespace
