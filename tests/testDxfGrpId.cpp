// Group code table: every code with its index and value type, codes that must not be
// found, the bucket spread, and what construction and destruction give back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DxfGrpId.h"
#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "FakeHost.hpp"

namespace {

using wqtest::FakeHost;
using wqtest::HostCall;
using wqtest::Op;

// The code ranges of the DXF group table with their value types, in table order.
struct CodeRange {
    int first, last, type;
};
constexpr CodeRange kRanges[] = {
    {-5, -1, 0},     {0, 9, 1},       {10, 18, 2},     {20, 28, 2},     {30, 58, 2},
    {60, 60, 3},     {62, 62, 3},     {66, 78, 3},     {90, 99, 4},     {100, 100, 1},
    {102, 102, 1},   {105, 105, 1},   {210, 210, 2},   {220, 220, 2},   {230, 230, 2},
    {280, 298, 6},   {299, 369, 1},   {370, 389, 6},   {390, 399, 1},   {400, 409, 3},
    {410, 419, 1},   {999, 999, 1},   {1000, 1005, 1}, {1010, 1013, 7}, {1020, 1023, 7},
    {1030, 1033, 7}, {1040, 1042, 7}, {1070, 1071, 4},
};

struct Code {
    std::string text;
    int type;
};

std::vector<Code> expectedCodes() {
    std::vector<Code> codes;
    for (const CodeRange& range : kRanges) {
        for (int c = range.first; c <= range.last; ++c) codes.push_back({std::to_string(c), range.type});
    }
    return codes;
}

TEST(DxfGrpId, EveryCodeIsFoundWithItsIndexAndType) {
    const std::vector<Code> codes = expectedCodes();
    ASSERT_EQ(codes.size(), 257u);
    EXPECT_STREQ(groupCodeTable[GroupCodeCount], "");
    EXPECT_EQ(groupTypeTable[GroupCodeCount], 0);

    FakeHost host;
    DxfGrpId* groups = newDxfGrpId(host.services(), nullptr);
    ASSERT_NE(groups, nullptr);
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_STREQ(groupCodeTable[i], codes[i].text.c_str()) << i;
        EXPECT_EQ(groupTypeTable[i], codes[i].type) << i;
        GroupInfo info{-1, -1, nullptr};
        ASSERT_EQ(groups->findGroupId(groups, codes[i].text.c_str(), &info), 1) << codes[i].text;
        EXPECT_EQ(info.index, static_cast<int32_t>(i));
        EXPECT_EQ(info.valueType, codes[i].type);
        EXPECT_EQ(info.code, groupCodeTable[i]);  // the table's own text, not a copy
    }
    // The indexes the reader relies on, through the exported lookup.
    const struct {
        const char* code;
        int32_t index, type;
    } known[] = {{"0", GroupCode0, 1},  {"1", GroupCode1, 1}, {"2", GroupCode2, 1},
                 {"9", GroupCode9, 1},  {"10", 15, 2},        {"62", 63, 3},
                 {"299", 112, 1},       {"1042", 254, 7},     {"1070", 255, 4},
                 {"1071", 256, 4},      {"-5", 0, 0}};
    for (const auto& k : known) {
        GroupInfo info{};
        EXPECT_EQ(findGroupId(groups, k.code, &info), 1) << k.code;
        EXPECT_EQ(info.index, k.index) << k.code;
        EXPECT_EQ(info.valueType, k.type) << k.code;
    }
    deleteDxfGrpId(groups);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(DxfGrpId, CodesOutsideTheTableAreNotFound) {
    FakeHost host;
    DxfGrpId* groups = newDxfGrpId(host.services(), nullptr);
    ASSERT_NE(groups, nullptr);
    for (const char* code : {"19", "29", "59", "61", "1006", "1007", "1008", "1009", "-6",
                             "1072", " 10", "10 ", "010", "", "00", "+0", "-0", "1\t"}) {
        GroupInfo info{7, 7, "x"};
        EXPECT_EQ(groups->findGroupId(groups, code, &info), 0) << '"' << code << '"';
        EXPECT_EQ(info.index, 0);
        EXPECT_EQ(info.valueType, 0);
        EXPECT_EQ(info.code, nullptr);
    }
    deleteDxfGrpId(groups);
}

TEST(DxfGrpId, CodesSpreadOverTheBucketsWithShortChains) {
    FakeHost host;
    DxfHash* hash = newDxfHash(host.services(), nullptr);
    ASSERT_NE(hash, nullptr);
    std::vector<int> chain(GroupBuckets, 0);
    for (int32_t i = 0; i < GroupCodeCount; ++i) {
        ++chain[hash->hashString(hash, groupCodeTable[i], GroupBuckets)];
    }
    int used = 0, longest = 0;
    for (int n : chain) {
        used += n > 0;
        longest = n > longest ? n : longest;
    }
    EXPECT_EQ(used, 186);
    EXPECT_EQ(longest, 3);
    deleteDxfHash(hash);
}

TEST(DxfGrpId, DeleteFreesNodesContextAndHandleIntoASharedStorage) {
    FakeHost host;
    DxfPublicStorage* pool = newDxfPublicStorage(host.services(), 1);
    DxfGrpId* groups = newDxfGrpId(host.services(), pool);
    ASSERT_NE(groups, nullptr);
    const int64_t live = host.poolBlocksLive();
    EXPECT_EQ(live, 2 + 2 * (2 + 1 + 1 + GroupCodeCount));  // pool, hash, context, handle, nodes
    deleteDxfGrpId(groups);
    EXPECT_EQ(host.poolBlocksLive(), live);  // blocks go back to the pool, not to the host
    // Exactly the 257 nodes, the context and the handle are free now (the hash's two blocks
    // stay in use): that many requests are served from the pool, the next one is not.
    host.logCalls = true;
    for (int i = 0; i < GroupCodeCount + 2; ++i) ASSERT_NE(pool->allocBlock(pool, 1), nullptr);
    EXPECT_TRUE(host.log.empty());
    ASSERT_NE(pool->allocBlock(pool, 1), nullptr);
    EXPECT_EQ(host.log.size(), 2u);
    deleteDxfPublicStorage(pool);
    EXPECT_EQ(host.poolBlocksLive(), 0);

    deleteDxfGrpId(nullptr);
    EXPECT_EQ(newDxfGrpId(nullptr, nullptr), nullptr);
}

TEST(DxfGrpId, AnOwnedStorageIsDeletedLast) {
    FakeHost host;
    host.logCalls = true;
    DxfGrpId* groups = newDxfGrpId(host.services(), nullptr);
    ASSERT_NE(groups, nullptr);
    // The table's storage is made first, the hash's own storage third (after the context).
    const std::vector<HostCall> made = host.log;
    ASSERT_GE(made.size(), 6u);
    const void* ownHandle = made[0].result;
    const void* ownContext = made[1].result;
    const void* hashPoolHandle = made[4].result;
    host.log.clear();
    deleteDxfGrpId(groups);
    const std::vector<HostCall>& freed = host.log;
    ASSERT_EQ(freed.size(), made.size());
    for (const HostCall& call : freed) EXPECT_EQ(call.op, Op::Free);
    EXPECT_EQ(freed[5].pointer, hashPoolHandle);  // the hash's storage goes first, whole
    EXPECT_EQ(freed[freed.size() - 2].pointer, ownContext);
    EXPECT_EQ(freed.back().pointer, ownHandle);
    EXPECT_EQ(host.poolBlocksLive(), 0);
    EXPECT_EQ(host.foreignFrees, 0);
}

TEST(DxfGrpId, EveryFailedAllocationIsUndone) {
    for (bool shared : {false, true}) {
        for (bool persistent : {false, true}) {
            for (int32_t failAt = 0;; ++failAt) {
                FakeHost host;
                DxfPublicStorage* pool = shared ? newDxfPublicStorage(host.services(), 1) : nullptr;
                host.allocFault = {failAt, persistent};
                DxfGrpId* groups = newDxfGrpId(host.services(), pool);
                const bool failed = host.allocFault.injected != 0;
                EXPECT_EQ(groups == nullptr, failed) << failAt;
                if (groups != nullptr) {
                    GroupInfo info{};
                    EXPECT_EQ(groups->findGroupId(groups, "1071", &info), 1);
                    EXPECT_EQ(info.index, 256);
                }
                deleteDxfGrpId(groups);
                if (!shared) {
                    EXPECT_EQ(host.poolBlocksLive(), 0) << failAt;
                }
                deleteDxfPublicStorage(pool);
                EXPECT_EQ(host.poolBlocksLive(), 0) << failAt;
                EXPECT_EQ(host.foreignFrees, 0) << failAt;
                if (!failed) break;
            }
        }
    }
}

}  // namespace
