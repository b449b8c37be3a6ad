// String hash: the buckets of the reader's names in their tables' order, unsigned bytes,
// and the storage the hash owns or shares.
#include <gtest/gtest.h>

#include <cstdint>

#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

namespace {

struct Named {
    const char* name;
    uint32_t bucket;
};

// The name tables in index order with each name's bucket: sections among 11 (HEADER and
// CLASSES share bucket 0), entities among the dispatcher's 53.
constexpr Named kSections[SectionCount] = {{"SECTION", 3},  {"ENDSEC", 10}, {"HEADER", 0},
                                           {"CLASSES", 0},  {"TABLES", 5},  {"BLOCKS", 9},
                                           {"ENTITIES", 2}, {"OBJECTS", 6}, {"EOF", 1}};
constexpr Named kEntities[EntityNameCount] = {
    {"3DFACE", 17},    {"3DSOLID", 24},        {"ACAD_PROXY_ENTITY", 20},
    {"ARC", 52},       {"ARCALIGNEDTEXT", 52}, {"ATTDEF", 10},
    {"ATTRIB", 50},    {"BLOCK", 32},          {"BODY", 25},
    {"CIRCLE", 52},    {"DIMENSION", 20},      {"ELLIPSE", 1},
    {"HATCH", 40},     {"IMAGE", 3},           {"INSERT", 20},
    {"LEADER", 5},     {"LINE", 51},           {"LWPOLYLINE", 18},
    {"MLINE", 34},     {"MTEXT", 47},          {"OLEFRAME", 1},
    {"OLE2FRAME", 21}, {"POINT", 19},          {"POLYLINE", 27},
    {"RAY", 20},       {"REGION", 32},         {"RTEXT", 28},
    {"SEQEND", 4},     {"SHAPE", 34},          {"SOLID", 33},
    {"SPLINE", 43},    {"TEXT", 11},           {"TOLERANCE", 6},
    {"TRACE", 4},      {"VERTEX", 44},         {"VIEWPORT", 16},
    {"WIPEOUT", 48},   {"XLINE", 24},
};

TEST(DxfHash, KnownTextsLandInTheirBuckets) {
    wqtest::FakeHost host;
    DxfHash* hash = newDxfHash(host.services(), nullptr);
    ASSERT_NE(hash, nullptr);
    auto h = [&](const char* text, uint32_t n) { return hash->hashString(hash, text, n); };
    for (int32_t i = 0; i < SectionCount; ++i) {
        EXPECT_STREQ(dxfSectionNames[i], kSections[i].name);
        EXPECT_EQ(h(dxfSectionNames[i], SectionBuckets), kSections[i].bucket) << kSections[i].name;
    }
    for (int32_t i = 0; i < EntityNameCount; ++i) {
        EXPECT_STREQ(dxfEntityNames[i], kEntities[i].name);
        EXPECT_EQ(h(dxfEntityNames[i], EntityBuckets), kEntities[i].bucket) << kEntities[i].name;
    }
    const struct {
        const char* text;
        uint32_t buckets, bucket;
    } cases[] = {
        {"ACAD_PROXY_ENTITY", UINT32_MAX, 0x797b6c9u},  // long enough to fold the top bits
        {"0", GroupBuckets, 48},
        {"", EntityBuckets, 0},
        {"\xff\x80", UINT32_MAX, 4208},  // (255 << 4) + 128: signed chars would wrap
        {"\xff\x80", GroupBuckets, 173},
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff", UINT32_MAX, 0x10fefu},
    };
    for (const auto& c : cases) EXPECT_EQ(h(c.text, c.buckets), c.bucket) << c.text;
    deleteDxfHash(hash);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(DxfHash, ConstructionFailsCleanlyAndLeavesASharedStorageAlone) {
    EXPECT_EQ(newDxfHash(nullptr, nullptr), nullptr);
    wqtest::sweepOwnAndSharedStorage([](wqtest::FakeHost& host, DxfPublicStorage* pool) {
        DxfHash* hash = newDxfHash(host.services(), pool);
        EXPECT_EQ(hash == nullptr, host.allocFault.injected != 0);
        EXPECT_TRUE(hash == nullptr || hash->hashString(hash, "TEXT", 53) == 11u);
        host.logCalls = pool != nullptr;  // a shared storage keeps the hash's blocks till its end
        deleteDxfHash(hash);
        EXPECT_TRUE(host.log.empty());
    });
}

}  // namespace
