// Group code table: finds a DXF group code by its exact text and tells its table index and
// value type, through a chained hash table built once from the shared vocabulary.
#include "DxfGrpId.h"

#include <cstdint>
#include <cstring>

#include "DxfHash.h"
#include "DxfVocabulary.h"
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

// Gives every node of every bucket back to the storage.
void freeNodes(GrpIdContext* ctx) {
    for (GroupNode*& head : ctx->buckets) {
        GroupNode* node = head;
        while (node != nullptr) {
            GroupNode* next = node->next;  // freeBlock clears the node
            ctx->storage->freeBlock(ctx->storage, node);
            node = next;
        }
        head = nullptr;
    }
}

// Releases what exists, in the destructor's order: the hash, the nodes, the context, the
// handle, and last a storage this object made. `self` may be null (no handle yet).
void destroy(GrpIdContext* ctx, DxfGrpId* self) {
    DxfPublicStorage* storage = ctx->storage;
    const int32_t ownsStorage = ctx->ownsStorage;
    deleteDxfHash(ctx->hash);
    freeNodes(ctx);
    storage->freeBlock(storage, ctx);
    wq::freeOne(storage, self);
    if (ownsStorage) deleteDxfPublicStorage(storage);
}

}  // namespace

int32_t _mkGroupTbl(DxfGrpId* groups) {
    GrpIdContext* ctx = contextOf(groups);
    for (int32_t i = 0; i < GroupCodeCount; ++i) {
        const uint32_t bucket = ctx->hash->hashString(ctx->hash, groupCodeTable[i], GroupBuckets);
        GroupNode* node = wq::allocOne<GroupNode>(ctx->storage);
        if (node == nullptr) return 0;  // the nodes inserted so far stay for the caller to free
        node->index = i;
        node->code = groupCodeTable[i];
        node->bucket = static_cast<int32_t>(bucket);
        node->valueType = groupTypeTable[i];
        node->next = ctx->buckets[bucket];
        ctx->buckets[bucket] = node;
    }
    return 1;
}

int32_t findGroupId(DxfGrpId* groups, const char* code, GroupInfo* info) {
    if (info != nullptr) *info = GroupInfo{0, 0, nullptr};
    if (groups == nullptr || code == nullptr || info == nullptr) return 0;
    GrpIdContext* ctx = contextOf(groups);
    const uint32_t bucket = ctx->hash->hashString(ctx->hash, code, GroupBuckets);
    for (const GroupNode* node = ctx->buckets[bucket]; node != nullptr; node = node->next) {
        if (std::strcmp(node->code, code) == 0) {
            *info = GroupInfo{node->index, node->valueType, node->code};
            return 1;
        }
    }
    return 0;
}

DxfGrpId* newDxfGrpId(HostServices* services, DxfPublicStorage* storage) {
    if (services == nullptr) return nullptr;
    DxfPublicStorage* pool = storage;
    const int32_t ownsStorage = pool == nullptr;
    if (ownsStorage && (pool = newDxfPublicStorage(services, StorageExactSizes)) == nullptr) {
        return nullptr;
    }
    GrpIdContext* ctx = wq::allocOne<GrpIdContext>(pool);
    if (ctx == nullptr) {
        if (ownsStorage) deleteDxfPublicStorage(pool);
        return nullptr;
    }
    ctx->ownsStorage = ownsStorage;
    ctx->storage = pool;
    ctx->buildTable = _mkGroupTbl;
    // The hash gets the storage argument as it came: without one it makes its own storage,
    // separate from the one made above.
    ctx->hash = newDxfHash(services, storage);
    DxfGrpId* self = ctx->hash != nullptr ? wq::allocOne<DxfGrpId>(pool) : nullptr;
    if (self == nullptr) {
        destroy(ctx, nullptr);
        return nullptr;
    }
    self->context = ctx;
    self->findGroupId = findGroupId;
    if (ctx->buildTable(self) == 0) {
        destroy(ctx, self);
        return nullptr;
    }
    return self;
}

void deleteDxfGrpId(DxfGrpId* groups) {
    if (groups == nullptr || groups->context == nullptr) return;
    destroy(contextOf(groups), groups);
}
