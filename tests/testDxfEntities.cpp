// Entity dispatcher and text handler over byte ranges of section bodies: which entities
// give records and in what order, what is passed over within one call, the name table,
// failure and resumption, and clean undo of every failed allocation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../entities/EntitiesContext.hpp"
#include "DxfEntities.h"
#include "FakeHost.hpp"

namespace {

using wqtest::FakeHost;
using wqtest::Record;

extern const char kLineTextEnd[];
extern const char kTextGroups[];
extern const char kPassedOver[];
extern const char kUnknownCode[];
extern const char kEscapes[];
extern const char kTwoTexts[];

// The bytes of a section body: everything before its closing "0" / "ENDSEC" group.
int32_t bodyEnd(const std::string& document) {
    return static_cast<int32_t>(document.rfind("0\nENDSEC\n"));
}

// A dispatcher over part of a document, given the storage, string utilities and stream
// the way the section phases give them, or making them all itself.
struct Walk {
    FakeHost host;
    DxfSource source{};
    DxfPublicStorage* storage = nullptr;
    DxfStrEtc* strings = nullptr;
    DxfFileStrmIo* lines = nullptr;
    DxfEntities* entities = nullptr;

    explicit Walk(const std::string& document, bool shared = true) : host(document) {
        source.stream = host.stream();
        source.services = host.services();
        if (!shared) return;
        storage = newDxfPublicStorage(host.services(), 1);
        strings = newDxfStrEtc(host.services(), storage);
        lines = newDxfFileStrmIo(host.services(), host.stream(), strings, storage);
    }
    bool make(int32_t start, int32_t end) {
        entities = newDxfEntities(&source, storage, strings, lines, nullptr, start, end);
        return entities != nullptr;
    }
    ~Walk() {
        deleteDxfEntities(entities);
        deleteDxfFileStrmIo(lines);
        deleteDxfStrEtc(strings);
        deleteDxfPublicStorage(storage);
    }
    int32_t next() { return entities->nextEntity(entities, &source.recordQueue); }
    // The records queued so far, taken: S (start, word 12 = 12), [text] (text record with
    // word 7 = 0), E (end); a "?" marks a word written wrong.
    std::string taken() {
        std::string out;
        for (const Record& r : host.takeAll(&source.recordQueue)) {
            if (!out.empty()) out += ' ';
            if (r.kind == RecordTextStart) out += r.word12 == 12 ? "S" : "S?";
            else if (r.kind == RecordText) out += "[" + r.text + (r.word7 == 0 ? "]" : "]?");
            else if (r.kind == RecordTextEnd) out += "E";
            else out += "K" + std::to_string(r.kind);
        }
        return out;
    }
    wq::EntitiesContext* context() { return wq::entitiesContextOf(entities); }
};

TEST(DxfEntities, EveryNameSitsInItsBucketLaterNamesFirst) {
    constexpr int32_t kBuckets[EntityNameCount] = {
        17, 24, 20, 52, 52, 10, 50, 32, 25, 52, 20, 1,  40, 3,  20, 5,  51, 18, 34,
        47, 1,  21, 19, 27, 20, 32, 28, 4,  34, 33, 43, 11, 6,  4,  44, 16, 48, 24};
    Walk w(kLineTextEnd);
    ASSERT_TRUE(w.make(0, bodyEnd(kLineTextEnd)));
    wq::EntitiesContext* ctx = w.context();
    int32_t seen[EntityNameCount] = {};
    for (int32_t bucket = 0; bucket < EntityBuckets; ++bucket) {
        int32_t previous = EntityNameCount;
        for (const wq::EntityNode* node = ctx->buckets[bucket]; node; node = node->next) {
            SCOPED_TRACE(node->name);
            ASSERT_GE(node->index, 0);
            ASSERT_LT(node->index, previous);  // later names stand first in a chain
            previous = node->index;
            ++seen[node->index];
            EXPECT_EQ(node->bucket, bucket);
            EXPECT_EQ(kBuckets[node->index], bucket);
            EXPECT_STREQ(node->name, dxfEntityNames[node->index]);
            EXPECT_EQ(node->handler, ctx->handlerSlots[node->index]);
        }
    }
    for (int32_t count : seen) EXPECT_EQ(count, 1);
    EXPECT_EQ(ctx->handlerSlots[EntityText], &wq::textHandler);
}

TEST(DxfEntities, AttdefAttribAndBlockRunWhatTextsSlotHoldsWhenCalled) {
    Walk w(kTextGroups);
    ASSERT_TRUE(w.make(0, bodyEnd(kTextGroups)));
    // Replaced after the name table was built: the forwarding slots follow all the same.
    w.context()->handlerSlots[EntityText] = [](DxfEntities* self) {
        return wq::entitiesContextOf(self)->skipEntity(self);
    };
    // TEXT's own node keeps the handler the table was built with.
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [Label] E");
    for (int i = 0; i < 2; ++i) {  // ATTRIB, BLOCK
        EXPECT_EQ(w.next(), EntityHandled);
        EXPECT_EQ(w.taken(), "");
    }
    EXPECT_EQ(w.next(), EntityRangeDone);
}

TEST(DxfEntities, SkippedEntityThenTextThenRangeEnd) {
    Walk w(kLineTextEnd);
    ASSERT_TRUE(w.make(0, bodyEnd(kLineTextEnd)));
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "");
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [Hello] E");
    EXPECT_EQ(w.next(), EntityRangeDone);
    EXPECT_EQ(w.next(), EntityRangeDone);
    EXPECT_EQ(w.taken(), "");
}

TEST(DxfEntities, EmptyRangeIsFinishedAtOnce) {
    Walk w(kLineTextEnd);
    const int32_t text = static_cast<int32_t>(std::string(kLineTextEnd).find("0\nTEXT"));
    ASSERT_TRUE(w.make(text, text));
    EXPECT_EQ(w.next(), EntityRangeDone);
    EXPECT_EQ(w.taken(), "");
}

TEST(DxfEntities, CodesOneAndTwoGiveTextRecordsInFileOrder) {
    Walk w(kTextGroups);
    ASSERT_TRUE(w.make(0, bodyEnd(kTextGroups)));
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [Label] E");  // codes 8 and 7 give nothing
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [A-101] [DWGNO] E");
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [TITLE] [] E");  // code 3 gives nothing, code 1 is empty
    EXPECT_EQ(w.next(), EntityRangeDone);
}

TEST(DxfEntities, UnlistedNamesArePassedOverWithinOneCall) {
    Walk w(kPassedOver);
    ASSERT_TRUE(w.make(0, bodyEnd(kPassedOver)));
    // A comment group opens the range; MTEXT, INSERT, SEQEND and VERTEX are listed and
    // skipped one per call, their code-1 values giving no record.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w.next(), EntityHandled);
        EXPECT_EQ(w.taken(), "");
    }
    // ENDBLK, "text" and "TEXT " are not listed: the same call goes on to the TEXT.
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [found] E");
    EXPECT_EQ(w.next(), EntityRangeDone);
}

TEST(DxfEntities, UnknownCodeFailsAfterQueuedRecordsAndLaterCallResumes) {
    Walk w(kUnknownCode);
    ASSERT_TRUE(w.make(0, bodyEnd(kUnknownCode)));
    EXPECT_EQ(w.next(), EntityError);
    EXPECT_EQ(w.taken(), "S [before]");
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [after] E");
    EXPECT_EQ(w.next(), EntityHandled);  // the LINE
    EXPECT_EQ(w.next(), EntityRangeDone);
    EXPECT_EQ(w.taken(), "");
}

TEST(DxfEntities, ValuesAreDecodedAndMeasuredToTheirFirstZeroByte) {
    const std::string longest(2047, 'x');
    const std::string document = std::string(kEscapes) + "1\n" + longest + "\n0\nENDSEC\n";
    Walk w(document);
    ASSERT_TRUE(w.make(0, bodyEnd(document)));
    EXPECT_EQ(w.next(), EntityHandled);
    EXPECT_EQ(w.taken(), "S [\x81\x40\x81\x41] [\x81\x40] [\\m+18140] [" + longest + "] E");
}

// Fails the k-th host allocation of making and walking a dispatcher, for every k: each
// failure gives null or 0, a later call goes on, and nothing stays allocated.
TEST(DxfEntities, EveryFailedAllocationIsUndone) {
    const int32_t end = bodyEnd(kTwoTexts);
    for (bool shared : {true, false}) {
        for (bool persistent : {false, true}) {
            for (int32_t failAt = 0;; ++failAt) {
                SCOPED_TRACE(testing::Message() << shared << persistent << failAt);
                int32_t result = EntityError;
                int32_t injected = 0;
                {
                    Walk w(kTwoTexts, shared);
                    w.host.allocFault = {failAt, persistent};
                    if (w.make(0, end)) {
                        for (int call = 0; call < 20; ++call) {
                            result = w.next();
                            w.taken();  // as the host would, before the next call
                            if (result == EntityRangeDone) break;
                            if (result == EntityError && persistent) break;
                        }
                        EXPECT_TRUE(persistent || result == EntityRangeDone);
                    }
                    injected = w.host.allocFault.injected;
                    deleteDxfEntities(w.entities);
                    w.entities = nullptr;
                    EXPECT_TRUE(shared || w.host.poolBlocksLive() == 0);
                    deleteDxfFileStrmIo(w.lines);
                    deleteDxfStrEtc(w.strings);
                    deleteDxfPublicStorage(w.storage);
                    w.lines = nullptr;
                    w.strings = nullptr;
                    w.storage = nullptr;
                    EXPECT_EQ(w.host.poolBlocksLive(), 0);
                    EXPECT_EQ(w.host.opens, w.host.closes);
                    EXPECT_EQ(w.host.badPositions, 0);
                }
                if (injected == 0) {
                    EXPECT_EQ(result, EntityRangeDone);
                    break;
                }
            }
        }
    }
}

const char kLineTextEnd[] =
    "0\nLINE\n8\n0\n10\n0.0\n20\n0.0\n11\n5.0\n21\n5.0\n"
    "0\nTEXT\n8\n0\n10\n1.0\n20\n1.0\n40\n2.5\n1\nHello\n"
    "0\nENDSEC\n";

const char kTextGroups[] =
    "0\nTEXT\n8\nNOTES\n10\n0\n20\n0\n30\n0\n40\n1.0\n1\nLabel\n7\nSTANDARD\n"
    "0\nATTRIB\n8\n0\n  1\nA-101\n2\nDWGNO\n70\n0\n"
    "0\nBLOCK\n8\n0\n2\nTITLE\n70\n2\n10\n0\n20\n0\n30\n0\n3\nTITLE\n1\n\n"
    "0\nENDSEC\n";

const char kPassedOver[] =
    "999\nmade by hand\n"
    "0\nMTEXT\n1\nmulti\n"
    "0\nINSERT\n2\nTITLE\n"
    "0\nSEQEND\n"
    "0\nVERTEX\n10\n1\n"
    "0\nENDBLK\n8\n0\n"
    "0\ntext\n1\nlower\n"
    "0\nTEXT \n1\nblank\n"
    "0\nTEXT\n1\nfound\n"
    "0\nENDSEC\n";

const char kUnknownCode[] =
    "0\nTEXT\n1\nbefore\n420\n16711680\n1\nafter\n"
    "0\nLINE\n10\n0\n"
    "0\nENDSEC\n";

// A TEXT of four code-1 values; the test adds a fifth of the longest line and the end.
const char kEscapes[] =
    "0\nTEXT\n1\n\\M+18140\\M+18141\n1\n\\M+18140\\M+10041\n1\n\\m+18140\n";

const char kTwoTexts[] =
    "0\nATTRIB\n1\n\\M+18140\n2\nTAG\n"
    "0\nVIEWPORT\n69\n1\n"
    "0\nENDBLK\n"
    "0\nTEXT\n1\nsecond\n"
    "0\nENDSEC\n";

}  // namespace
