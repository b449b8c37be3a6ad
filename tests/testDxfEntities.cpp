// Entity dispatcher and text handler over a section body: which entities give records, in
// what order and queue position, what one call passes over, failure and resumption.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DxfEntities.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"
#include "Transcript.hpp"

using wqtest::FakeHost;

// A dispatcher over a section body (the document holds the body, then "0"/"ENDSEC"), on
// the collaborators the section phases give it, or on ones it makes itself.
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
    bool make(size_t end) {
        const int32_t to = static_cast<int32_t>(end);
        return (entities = newDxfEntities(&source, storage, strings, lines, nullptr, 0, to));
    }
    int32_t next() { return entities->nextEntity(entities, &source.recordQueue); }
    // The records queued so far, taken: "S" (put at the head, word 12 = 12), "[text]"
    // (appended, word 7 = 0), "E" (appended); "?" follows one placed or written otherwise.
    std::string taken() {
        std::string out;
        for (HostServices* h = host.services();
             OutputRecord* r = h->takeRecord(h, &source.recordQueue, 0);) {
            int64_t at = 99;  // the queue position it was last put at
            for (const wqtest::HostCall& call : host.log)
                if (call.op == wqtest::Op::PutRecord && call.pointer == r) at = call.a;
            const int32_t kind = wqhost::recordKind(r);
            const bool start = kind == RecordTextStart, text = kind == RecordText;
            out += out.empty() ? "" : " ";
            out += start ? "S" : text ? '[' + FakeHost::textOf(r) + ']' : "E";
            if (start ? r->startMark != 12 || at != QueueAtHead
                      : (text ? r->textFlags != 0 : kind != RecordTextEnd) || at != QueueAppend)
                out += '?';
            host.release(r);
        }
        host.log.clear();
        return out;
    }
};

// Codes 8, 10, 40, 7, 70 and 3 give nothing; "  1" is code 1; BLOCK's code 1 is empty.
const std::string kBody =
    "0\nLINE\n8\n0\n10\n0.0\n0\nTEXT\n8\n0\n40\n2.5\n1\nHello\n0\nTEXT\n8\nNOTES\n1\nLabel\n"
    "7\nSTANDARD\n0\nATTRIB\n  1\nA-101\n2\nDWGNO\n70\n0\n0\nBLOCK\n2\nTITLE\n3\nTITLE\n1\n\n";

TEST(DxfEntities, EachCallHandlesOneListedEntity) {
    const std::string longest(2047, 'x');
    const struct {
        std::string body;
        std::vector<std::string> steps;  // per call: its answer, then what it queued
    } cases[] = {
        {kBody,
         {"2", "2S [Hello] E", "2S [Label] E", "2S [A-101] [DWGNO] E", "2S [TITLE] [] E", "1",
          "1"}},
        // A comment group opens the range; MTEXT, INSERT, SEQEND and VERTEX are listed and
        // passed over one per call; ENDBLK, "text" and "TEXT " are not: the call goes on.
        {"999\nby hand\n0\nMTEXT\n1\nmulti\n0\nINSERT\n2\nT\n0\nSEQEND\n0\nVERTEX\n10\n1\n"
         "0\nENDBLK\n8\n0\n0\ntext\n1\nlower\n0\nTEXT \n1\nblank\n0\nTEXT\n1\nfound\n",
         {"2", "2", "2", "2", "2S [found] E", "1"}},
        // An unknown code fails the entity after what it queued; the next call goes on.
        {"0\nTEXT\n1\nbefore\n420\n16711680\n1\nafter\n0\nLINE\n10\n0\n",
         {"0S [before]", "2S [after] E", "2", "1"}},
        // Decoded values end at their first zero byte; a value of the longest line is whole.
        {"0\nTEXT\n1\n\\M+18140\\M+10041\n1\n" + longest + "\n",
         {"2S [\x81\x40] [" + longest + "] E", "1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 30));
        FakeHost host(c.body + "0\nENDSEC\n");
        Walk w(host, true);
        ASSERT_TRUE(w.make(c.body.size()));
        for (const std::string& step : c.steps) {
            const int32_t result = w.next();
            EXPECT_EQ(std::to_string(result) + w.taken(), step);
        }
    }
}

// A host that stops seeking (before an entity, inside a skipped one or inside a text) makes
// lines read as empty without moving: that call and later ones fail instead of looping.
TEST(DxfEntities, AHostThatStopsSeekingFailsTheCall) {
    for (int32_t seeksBeforeFailing : {0, 3, 9, 12}) {
        FakeHost host(kBody + "0\nENDSEC\n");
        Walk w(host, true);
        ASSERT_TRUE(w.make(kBody.size()));
        host.seekFault = {host.seekFault.calls + seeksBeforeFailing, true};
        int32_t result = EntityHandled;
        for (int call = 0; call < 3 && result == EntityHandled; ++call) result = w.next();
        EXPECT_EQ(result, EntityError) << seeksBeforeFailing;
        EXPECT_EQ(w.next(), EntityError);
    }
}

// Every allocation of making and walking a dispatcher fails in turn: a failure gives null
// or 0, a later call goes on, and nothing stays allocated.
TEST(DxfEntities, EveryFailedAllocationIsUndone) {
    const std::string body = kBody + "0\nTEXT\n1\n\\M+18140\n", document = body + "0\nENDSEC\n";
    for (bool shared : {true, false}) {
        wqtest::sweepAllocations(document, [&](FakeHost& host, const wqtest::Fault& fault) {
            Walk w(host, shared);
            host.allocFault = fault;
            int32_t result = EntityError;
            if (w.make(body.size())) {
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
