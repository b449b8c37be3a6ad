// Group code table: every code with its index and value type, texts that must not be found,
// and what construction and destruction give back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "DxfGrpId.h"
#include "DxfVocabulary.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

// The code ranges of the DXF group table with their value types, in table order.
constexpr struct {
    int first, last, type;
} kRanges[] = {
    {-5, -1, 0},     {0, 9, 1},       {10, 18, 2},     {20, 28, 2},     {30, 58, 2},
    {60, 60, 3},     {62, 62, 3},     {66, 78, 3},     {90, 99, 4},     {100, 100, 1},
    {102, 102, 1},   {105, 105, 1},   {210, 210, 2},   {220, 220, 2},   {230, 230, 2},
    {280, 298, 6},   {299, 369, 1},   {370, 389, 6},   {390, 399, 1},   {400, 409, 3},
    {410, 419, 1},   {999, 999, 1},   {1000, 1005, 1}, {1010, 1013, 7}, {1020, 1023, 7},
    {1030, 1033, 7}, {1040, 1042, 7}, {1070, 1071, 4},
};

TEST(DxfGrpId, EveryCodeIsFoundWithItsIndexAndTypeAndNoOtherText) {
    wqtest::FakeHost host;
    DxfGrpId* groups = newDxfGrpId(host.services(), nullptr);
    ASSERT_NE(groups, nullptr);
    int32_t index = 0;
    for (const auto& range : kRanges) {
        for (int c = range.first; c <= range.last; ++c, ++index) {
            const std::string code = std::to_string(c);
            SCOPED_TRACE(code);
            ASSERT_LT(index, GroupCodeCount);
            EXPECT_STREQ(groupCodeTable[index], code.c_str());
            EXPECT_EQ(groupTypeTable[index], range.type);
            GroupInfo info{-1, -1, nullptr};
            ASSERT_EQ(groups->findGroupId(groups, code.c_str(), &info), 1);
            // The table's own text, not a copy.
            EXPECT_TRUE(info.index == index && info.valueType == range.type &&
                        info.code == groupCodeTable[index]);
        }
    }
    EXPECT_EQ(index, GroupCodeCount);
    EXPECT_STREQ(groupCodeTable[GroupCodeCount], "");
    for (const char* code : {"19", "29", "59", "61", "1006", "1009", "-6", "1072", " 10", "10 ",
                             "010", "", "00", "01", "+0", "-0", "1\t"}) {
        GroupInfo info{7, 7, "x"};
        EXPECT_EQ(findGroupId(groups, code, &info), 0) << '"' << code << '"';
        EXPECT_TRUE(info.index == 0 && info.valueType == 0 && info.code == nullptr);
    }
    deleteDxfGrpId(groups);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

TEST(DxfGrpId, EveryFailedAllocationIsUndone) {
    EXPECT_EQ(newDxfGrpId(nullptr, nullptr), nullptr);
    wqtest::sweepOwnAndSharedStorage([](wqtest::FakeHost& host, DxfPublicStorage* pool) {
        DxfGrpId* groups = newDxfGrpId(host.services(), pool);
        EXPECT_EQ(groups == nullptr, host.allocFault.injected != 0);
        GroupInfo info{};
        EXPECT_TRUE(groups == nullptr || findGroupId(groups, "1071", &info) == 1);
        deleteDxfGrpId(groups);
    });
}
