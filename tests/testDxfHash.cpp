// String hash: buckets of names, the fold of the top bits, unsigned bytes, and the storage
// the hash owns or shares.
#include <gtest/gtest.h>

#include <cstdint>

#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

TEST(DxfHash, TextsLandInTheirBuckets) {
    wqtest::FakeHost host;
    DxfHash* hash = newDxfHash(host.services(), nullptr);
    ASSERT_NE(hash, nullptr);
    const struct {
        const char* text;
        uint32_t buckets, bucket;
    } cases[] = {
        {"HEADER", SectionBuckets, 0}, {"CLASSES", SectionBuckets, 0},  // sharing a bucket
        {"TEXT", EntityBuckets, 11},   {"ATTRIB", EntityBuckets, 50},
        {"0", GroupBuckets, 48},       {"", EntityBuckets, 0},
        {"ACAD_PROXY_ENTITY", UINT32_MAX, 0x797b6c9u},  // long enough to fold the top bits
        {"\xff\x80", UINT32_MAX, 4208},  // (255 << 4) + 128: signed chars would wrap
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff", UINT32_MAX, 0x10fefu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hash->hashString(hash, c.text, c.buckets), c.bucket) << c.text;
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
