// String hash: known buckets of the reader's names, unsigned bytes, and the storage the
// hash owns or shares.
#include <gtest/gtest.h>

#include <cstdint>

#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "FakeHost.hpp"

namespace {

using wqtest::FakeHost;

struct Hash {
    FakeHost host;
    DxfHash* hash = newDxfHash(host.services(), nullptr);
    ~Hash() {
        deleteDxfHash(hash);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
    uint32_t operator()(const char* text, uint32_t buckets) {
        return hash->hashString(hash, text, buckets);
    }
};

TEST(DxfHash, KnownNamesLandInTheirBuckets) {
    Hash h;
    ASSERT_NE(h.hash, nullptr);
    EXPECT_EQ(h("SECTION", 11), 3u);  // seven letters: the top four bits come into play
    EXPECT_EQ(h("SECTION", UINT32_MAX), 0x7988e6eu);
    EXPECT_EQ(h("ACAD_PROXY_ENTITY", UINT32_MAX), 0x797b6c9u);
    EXPECT_EQ(h("TEXT", 53), 11u);
    EXPECT_EQ(h("0", 269), 48u);
    // Two section names share bucket 0 of the name table.
    EXPECT_EQ(h(dxfSectionNames[SectionHeader], 11), 0u);
    EXPECT_EQ(h(dxfSectionNames[SectionClasses], 11), 0u);
    for (uint32_t buckets : {1u, 11u, 53u, 269u, UINT32_MAX}) EXPECT_EQ(h("", buckets), 0u);
}

TEST(DxfHash, HighBytesCountAsUnsigned) {
    Hash h;
    // 0xFF then 0x80: (255 << 4) + 128. Read as signed chars the sum would wrap.
    EXPECT_EQ(h("\xff\x80", UINT32_MAX), 4208u);
    EXPECT_EQ(h("\xff\x80", 269), 173u);
    EXPECT_EQ(h("\xff\xff\xff\xff\xff\xff\xff\xff\xff", UINT32_MAX), 0x10fefu);
}

TEST(DxfHash, EveryEntityNameLandsInItsDispatcherBucket) {
    // The dispatcher's table: name, bucket of 53, in index order.
    const struct {
        const char* name;
        uint32_t bucket;
    } table[EntityNameCount] = {
        {"3DFACE", 17},  {"3DSOLID", 24},  {"ACAD_PROXY_ENTITY", 20}, {"ARC", 52},
        {"ARCALIGNEDTEXT", 52}, {"ATTDEF", 10}, {"ATTRIB", 50}, {"BLOCK", 32},
        {"BODY", 25},    {"CIRCLE", 52},   {"DIMENSION", 20}, {"ELLIPSE", 1},
        {"HATCH", 40},   {"IMAGE", 3},     {"INSERT", 20},    {"LEADER", 5},
        {"LINE", 51},    {"LWPOLYLINE", 18}, {"MLINE", 34},   {"MTEXT", 47},
        {"OLEFRAME", 1}, {"OLE2FRAME", 21}, {"POINT", 19},    {"POLYLINE", 27},
        {"RAY", 20},     {"REGION", 32},   {"RTEXT", 28},     {"SEQEND", 4},
        {"SHAPE", 34},   {"SOLID", 33},    {"SPLINE", 43},    {"TEXT", 11},
        {"TOLERANCE", 6}, {"TRACE", 4},    {"VERTEX", 44},    {"VIEWPORT", 16},
        {"WIPEOUT", 48}, {"XLINE", 24},
    };
    Hash h;
    for (int32_t i = 0; i < EntityNameCount; ++i) {
        EXPECT_STREQ(dxfEntityNames[i], table[i].name) << i;
        EXPECT_EQ(h(dxfEntityNames[i], 53), table[i].bucket) << table[i].name;
    }
    const char* sections[SectionCount] = {"SECTION", "ENDSEC", "HEADER", "CLASSES", "TABLES",
                                          "BLOCKS", "ENTITIES", "OBJECTS", "EOF"};
    for (int32_t i = 0; i < SectionCount; ++i) EXPECT_STREQ(dxfSectionNames[i], sections[i]);
}

TEST(DxfHash, ASharedStorageIsLeftUntouched) {
    FakeHost host;
    DxfPublicStorage* pool = newDxfPublicStorage(host.services(), 1);
    DxfHash* hash = newDxfHash(host.services(), pool);
    ASSERT_NE(hash, nullptr);
    EXPECT_EQ(host.poolBlocksLive(), 6);  // the pool, the context and the handle
    host.logCalls = true;
    deleteDxfHash(hash);
    EXPECT_TRUE(host.log.empty());
    // The hash's two blocks are still in use: a new block comes from the host.
    EXPECT_NE(pool->allocBlock(pool, 1), nullptr);
    EXPECT_EQ(host.poolBlocksLive(), 8);
    deleteDxfPublicStorage(pool);
    EXPECT_EQ(host.poolBlocksLive(), 0);

    deleteDxfHash(nullptr);
    EXPECT_EQ(newDxfHash(nullptr, nullptr), nullptr);
}

TEST(DxfHash, FailedConstructionLeavesNothingBehind) {
    for (bool shared : {false, true}) {
        for (bool persistent : {false, true}) {
            for (int32_t failAt = 0;; ++failAt) {
                FakeHost host;
                DxfPublicStorage* pool = shared ? newDxfPublicStorage(host.services(), 1) : nullptr;
                host.allocFault = {failAt, persistent};
                DxfHash* hash = newDxfHash(host.services(), pool);
                if (host.allocFault.injected == 0) {
                    ASSERT_NE(hash, nullptr);
                } else {
                    EXPECT_EQ(hash, nullptr);
                }
                if (hash != nullptr) {
                    EXPECT_EQ(hash->hashString(hash, "TEXT", 53), 11u);
                }
                deleteDxfHash(hash);
                deleteDxfPublicStorage(pool);
                EXPECT_EQ(host.poolBlocksLive(), 0) << failAt;
                EXPECT_EQ(host.foreignFrees, 0) << failAt;
                if (host.allocFault.injected == 0) break;
            }
        }
    }
}

}  // namespace
