// Entity dispatcher: walks one byte range of a BLOCKS or ENTITIES section entity by entity,
// handing text entities to the text handler and passing over every other entity.
#include "DxfEntities.h"

#include <cstring>

#include "Collaborators.hpp"
#include "EntitiesContext.hpp"
#include "LinePosition.hpp"
#include "MovingReads.hpp"
#include "NameChains.hpp"
#include "Pool.hpp"

namespace {

using wq::EntitiesContext;
using wq::EntityNode;

using wq::Collaborators;

EntitiesContext* contextOf(DxfEntities* self) { return wq::entitiesContextOf(self); }

// ATTDEF, ATTRIB and BLOCK run whatever TEXT's slot holds at the time of the call, so
// replacing that one slot changes the handling of all four names.
int32_t forwardToText(DxfEntities* self) { return contextOf(self)->handlerSlots[EntityText](self); }

// The handler of every other listed name: what skipEntity answers.
int32_t skipHandler(DxfEntities* self) { return contextOf(self)->skipEntity(self); }

// Chains one node per entity name into its bucket, later names first; 0 when a node
// cannot be allocated (the nodes made so far stay chained).
int32_t buildEntityTable(DxfEntities* self) {
    EntitiesContext* ctx = contextOf(self);
    for (int32_t i = 0; i < EntityNameCount; ++i) {
        EntityNode* node =
            wq::chainName(ctx->collaborators.storage, ctx->hash, ctx->buckets, dxfEntityNames[i]);
        if (node == nullptr) return 0;
        node->index = i;
        node->name = dxfEntityNames[i];
        node->handler = ctx->handlerSlots[i];
    }
    return 1;
}

// The node of `name` in `bucket`, matched exactly and with case, or null.
EntityNode* findEntity(DxfEntities* self, const char* name, uint32_t bucket) {
    EntityNode* node = contextOf(self)->buckets[bucket];
    while (node != nullptr && std::strcmp(node->name, name) != 0) node = node->next;
    return node;
}

// Makes the handler of `name` current; 1 when the name is listed, else 0 and no handler.
int32_t selectHandler(DxfEntities* self, const char* name) {
    EntitiesContext* ctx = contextOf(self);
    const uint32_t bucket = ctx->hash->hashString(ctx->hash, name, EntityBuckets);
    const EntityNode* node = ctx->findEntity(self, name, bucket);
    ctx->currentHandler = node != nullptr ? node->handler : nullptr;
    return node != nullptr;
}

// 1 once the stream stands at or past the end of the range, else 0.
int32_t atRangeEnd(DxfEntities* self) {
    EntitiesContext* ctx = contextOf(self);
    DxfFileStrmIo* lines = ctx->collaborators.lines;
    return wq::positionOf(lines) >= ctx->endOffset;
}

// Reads the next group; 1, or 0 when it cannot be read or left the stream where it stood
// (a failed host seek, on which the loops below would go round forever).
int32_t readMovingPair(EntitiesContext* ctx, GroupPair* pair) {
    return wq::readMoved(ctx->collaborators.lines,
                         [&] { return ctx->reader->readPair(ctx->reader, pair) != 0; });
}

// Reads and drops groups up to the next code-0 group, which is pushed back for the next
// entity, or up to the end of the range; 1, or 0 when a group cannot be read.
int32_t skipEntity(DxfEntities* self) {
    EntitiesContext* ctx = contextOf(self);
    ReadDatUtil* reader = ctx->reader;
    if (ctx->atRangeEnd(self)) return 1;
    for (;;) {
        GroupPair pair;
        if (!readMovingPair(ctx, &pair)) return 0;
        if (reader->isCode0(reader)) {
            reader->backToPair(reader);
            ctx->currentHandler = nullptr;
            return 1;
        }
        if (ctx->atRangeEnd(self)) return 1;
    }
}

// A loop, not recursion, so that a long run of unlisted entities costs no stack.
int32_t nextEntity(DxfEntities* self, uintptr_t* /* queue: records go through the source */) {
    EntitiesContext* ctx = contextOf(self);
    ReadDatUtil* reader = ctx->reader;
    for (;;) {
        if (ctx->atRangeEnd(self)) return EntityRangeDone;
        if (ctx->currentHandler == nullptr) {
            GroupPair pair;
            if (!readMovingPair(ctx, &pair)) return EntityError;
            // A group of another code than "0" opens no entity (a comment group at the
            // start of a section, say) and no handler is there to take it: it and the
            // groups after it are passed over up to the next entity, as for an unlisted
            // name. A failed read while skipping shows at the next readPair.
            if (!reader->isCode0(reader) || !ctx->selectHandler(self, pair.value)) {
                ctx->skipEntity(self);
                continue;
            }
        }
        return ctx->currentHandler(self) != 0 ? EntityHandled : EntityError;
    }
}

// Releases what exists of a dispatcher, in the destructor's order: reader, name nodes,
// hash, escape decoder, context and handle, then the collaborators it made. The context
// records what was made inside it (it comes zero-filled); `made` what was made for it.
DxfEntities* destroy(const Collaborators& made, EntitiesContext* ctx, DxfEntities* self) {
    if (ctx != nullptr) {
        if (ctx->reader != nullptr) deleteReadDatUtil(ctx->reader);
        wq::freeChains(made.storage, ctx->buckets);
        if (ctx->hash != nullptr) deleteDxfHash(ctx->hash);
        if (ctx->decoder != nullptr) deleteMtextConv(ctx->decoder);
        wq::freeOne(made.storage, ctx);
    }
    wq::freeOne(made.storage, self);
    wq::deleteOwned(made);
    return nullptr;
}

// Fills a new context with this module's operations and the handlers of the listed names:
// ATTDEF, ATTRIB and BLOCK forward to TEXT's slot, every other name is skipped.
void fill(EntitiesContext* ctx, DxfSource* source, const Collaborators& made, int32_t start,
          int32_t end) {
    ctx->source = source;
    ctx->collaborators = made;
    ctx->startOffset = start;
    ctx->endOffset = end;
    ctx->buildEntityTable = buildEntityTable;
    ctx->selectHandler = selectHandler;
    ctx->atRangeEnd = atRangeEnd;
    ctx->skipEntity = skipEntity;
    ctx->findEntity = findEntity;
    for (wq::EntityHandler& slot : ctx->handlerSlots) slot = skipHandler;
    ctx->handlerSlots[EntityAttdef] = forwardToText;
    ctx->handlerSlots[EntityAttrib] = forwardToText;
    ctx->handlerSlots[EntityBlock] = forwardToText;
    ctx->handlerSlots[EntityText] = wq::textHandler;
}

}  // namespace

DxfEntities* newDxfEntities(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                            DxfFileStrmIo* lines, DxfGrpId* groups, int32_t start, int32_t end) {
    // Services are needed even with every collaborator given: the hash and the escape
    // decoder are always made here.
    if (source == nullptr || source->services == nullptr) return nullptr;
    HostServices* services = source->services;
    Collaborators made = {0, storage, 0, strings, 0, groups, 0, lines};
    if (!wq::ensureStorage(&made, services) || !wq::ensureStrings(&made, services) ||
        !wq::ensureGroups(&made, services) ||
        !wq::ensureLines(&made, services, source->stream, nullptr)) {
        return destroy(made, nullptr, nullptr);
    }
    EntitiesContext* ctx = wq::allocOne<EntitiesContext>(made.storage);
    if (ctx == nullptr) return destroy(made, nullptr, nullptr);
    fill(ctx, source, made, start, end);
    ctx->reader = newReadDatUtil(source, made.storage, made.strings, made.lines, made.groups);
    if (ctx->reader == nullptr) return destroy(made, ctx, nullptr);
    if ((ctx->hash = newDxfHash(services, made.storage)) == nullptr ||
        (ctx->decoder = newMtextConv(services, made.storage, made.strings)) == nullptr) {
        return destroy(made, ctx, nullptr);
    }
    DxfEntities* self = wq::allocOne<DxfEntities>(made.storage);
    if (self == nullptr) return destroy(made, ctx, nullptr);
    self->context = ctx;
    self->nextEntity = nextEntity;
    if (!ctx->buildEntityTable(self) || !made.lines->setPosition(made.lines, start)) {
        return destroy(made, ctx, self);
    }
    return self;
}

void deleteDxfEntities(DxfEntities* entities) {
    if (entities == nullptr || entities->context == nullptr) return;
    EntitiesContext* ctx = contextOf(entities);
    const Collaborators made = ctx->collaborators;  // a copy: freeing the context clears it
    destroy(made, ctx, entities);
}
