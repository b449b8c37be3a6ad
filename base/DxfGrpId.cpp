// Group code table: finds a DXF group code by its exact text and tells its table index and
// value type. The chained hash table of the shared vocabulary is built once per object; the
// lookup itself reads the code as a number and indexes a table made at compile time from
// the same texts, which answers exactly what a walk of the chains would.
#include "DxfGrpId.h"

#include <cstdint>

#include "Collaborators.hpp"
#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "NameChains.hpp"
#include "Pool.hpp"

namespace {

struct GroupNode {
    GroupNode* next;  // next node of the same bucket
    int32_t bucket;
    int32_t index;
    int32_t valueType;
    const char* code;  // points into groupCodeTable
};

struct GrpIdContext {
    int32_t ownsStorage;  // 1 when newDxfGrpId made the storage
    DxfPublicStorage* storage;
    GroupNode* buckets[GroupBuckets];  // null until built: pool blocks come zero-filled
    DxfHash* hash;
    int32_t (*buildTable)(DxfGrpId* self);
};

GrpIdContext* contextOf(DxfGrpId* self) { return static_cast<GrpIdContext*>(self->context); }

constexpr const char* kCodeTexts[] = {
#include "GroupCodeTexts.inc"
};
static_assert(sizeof kCodeTexts / sizeof kCodeTexts[0] == GroupCodeCount, "one text per code");

constexpr int32_t kNotACode = INT32_MIN;
constexpr int32_t kNumberLimit = 100000000;  // beyond every code, and far from overflowing

// The number a text stands for when it is written the one way the table writes codes:
// decimal digits without a leading zero, a minus only before a number other than 0, and
// nothing else, not a blank or a plus; kNotACode for every other text. No two texts give
// the same number, so two texts with one number are the same text: comparing numbers
// compares texts, and "01", "+1", " 1", "1 " and "-0" match no code.
constexpr int32_t codeNumber(const char* text) {
    const bool negative = *text == '-';
    const char* c = negative ? text + 1 : text;
    if (*c == '0') return c[1] == '\0' && !negative ? 0 : kNotACode;
    int32_t number = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        number = number * 10 + (*c - '0');
        if (number >= kNumberLimit) return kNotACode;
    }
    // No digit at all (the empty text, a lone minus) leaves 0 behind.
    if (*c != '\0' || number == 0) return kNotACode;
    return negative ? -number : number;
}

// The table lists its codes from the lowest number to the highest.
constexpr int32_t kLowestCode = codeNumber(kCodeTexts[0]);
constexpr int32_t kHighestCode = codeNumber(kCodeTexts[GroupCodeCount - 1]);

// The table index of every number from the lowest code to the highest, -1 for the numbers
// the table skips. Made by the compiler; `sound` says that every text was read as a number
// and each number was above the one before, so no two texts share one.
struct CodeIndex {
    bool sound;
    int16_t byNumber[kHighestCode - kLowestCode + 1];
};

constexpr CodeIndex makeCodeIndex() {
    CodeIndex table{true, {}};
    for (int16_t& entry : table.byNumber) entry = -1;
    int32_t previous = kNotACode;
    for (int32_t i = 0; i < GroupCodeCount; ++i) {
        const int32_t number = codeNumber(kCodeTexts[i]);
        if (number == kNotACode || number <= previous) {
            table.sound = false;
            return table;
        }
        table.byNumber[number - kLowestCode] = static_cast<int16_t>(i);
        previous = number;
    }
    return table;
}

constexpr CodeIndex kCodeIndex = makeCodeIndex();
static_assert(kCodeIndex.sound, "every code text is a number written one way, in rising order");

// Releases what exists, in the destructor's order: the hash, the nodes, the context, the
// handle, and last a storage this object made. `ctx` and `self` may be null (not made yet).
DxfGrpId* destroy(const wq::Collaborators& made, GrpIdContext* ctx, DxfGrpId* self) {
    if (ctx != nullptr) {
        deleteDxfHash(ctx->hash);
        wq::freeChains(made.storage, ctx->buckets);
        wq::freeOne(made.storage, ctx);
    }
    wq::freeOne(made.storage, self);
    wq::deleteOwned(made);
    return nullptr;
}

}  // namespace

int32_t _mkGroupTbl(DxfGrpId* groups) {
    GrpIdContext* ctx = contextOf(groups);
    for (int32_t i = 0; i < GroupCodeCount; ++i) {
        GroupNode* node = wq::chainName(ctx->storage, ctx->hash, ctx->buckets, groupCodeTable[i]);
        if (node == nullptr) return 0;  // the nodes inserted so far stay for the caller to free
        node->index = i;
        node->code = groupCodeTable[i];
        node->valueType = groupTypeTable[i];
    }
    return 1;
}

int32_t findGroupId(DxfGrpId* groups, const char* code, GroupInfo* info) {
    if (info != nullptr) *info = GroupInfo{0, 0, nullptr};
    if (groups == nullptr || code == nullptr || info == nullptr) return 0;
    // The chains hold each text of the table in its bucket of the ELF hash (the hash is
    // the table's own, made with it and never handed out), so a walk of the code's bucket
    // would find the one node whose text equals the code. The direct index names the same
    // entry, and the node's fields are that entry's: no hash and no text comparison.
    const int32_t number = codeNumber(code);
    if (number < kLowestCode || number > kHighestCode) return 0;
    const int32_t index = kCodeIndex.byNumber[number - kLowestCode];
    if (index < 0) return 0;
    *info = GroupInfo{index, groupTypeTable[index], groupCodeTable[index]};
    return 1;
}

DxfGrpId* newDxfGrpId(HostServices* services, DxfPublicStorage* storage) {
    if (services == nullptr) return nullptr;
    wq::Collaborators made = {0, storage, 0, nullptr, 0, nullptr, 0, nullptr};
    if (!wq::ensureStorage(&made, services)) return nullptr;
    GrpIdContext* ctx = wq::allocOne<GrpIdContext>(made.storage);
    if (ctx == nullptr) return destroy(made, nullptr, nullptr);
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    ctx->buildTable = _mkGroupTbl;
    // The hash gets the storage argument as it came: without one it makes its own storage,
    // separate from the one made above.
    ctx->hash = newDxfHash(services, storage);
    DxfGrpId* self = ctx->hash != nullptr ? wq::allocOne<DxfGrpId>(made.storage) : nullptr;
    if (self == nullptr) return destroy(made, ctx, nullptr);
    self->context = ctx;
    self->findGroupId = findGroupId;
    if (ctx->buildTable(self) == 0) return destroy(made, ctx, self);
    return self;
}

void deleteDxfGrpId(DxfGrpId* groups) {
    if (groups == nullptr || groups->context == nullptr) return;
    const GrpIdContext* ctx = contextOf(groups);
    wq::Collaborators made = {};
    made.ownsStorage = ctx->ownsStorage;
    made.storage = ctx->storage;
    destroy(made, contextOf(groups), groups);
}
