// State of one entity dispatcher, shared by the dispatcher and the text handler that
// works on the entities it hands over.
#ifndef WQ_ENTITIES_CONTEXT_HPP
#define WQ_ENTITIES_CONTEXT_HPP

#include <cstdint>

#include "Collaborators.hpp"
#include "DxfEntities.h"
#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "MtextConv.h"
#include "ReadDatUtil.h"

namespace wq {

// Deals with the rest of one entity after its opening group; nonzero when done, 0 on failure.
using EntityHandler = int32_t (*)(DxfEntities* self);

// One entity name in its bucket chain.
struct EntityNode {
    EntityNode* next;  // next node of the same bucket, null at the end
    int32_t bucket;
    int32_t index;  // position in dxfEntityNames
    const char* name;
    EntityHandler handler;
};

struct EntitiesContext {
    DxfSource* source;
    ReadDatUtil* reader;
    // Storage, string utilities, group code table and line stream, each with its
    // owns-flag, in that order.
    Collaborators collaborators;
    int32_t startOffset;
    int32_t endOffset;             // first byte after the range
    EntityHandler currentHandler;  // null between entities
    EntityHandler handlerSlots[EntityNameCount];
    int32_t (*buildEntityTable)(DxfEntities* self);
    int32_t (*selectHandler)(DxfEntities* self, const char* name);
    int32_t (*atRangeEnd)(DxfEntities* self);
    int32_t (*skipEntity)(DxfEntities* self);
    EntityNode* (*findEntity)(DxfEntities* self, const char* name, uint32_t bucket);
    EntityNode* buckets[EntityBuckets];
    DxfHash* hash;
    MtextConv* decoder;
};

inline EntitiesContext* entitiesContextOf(DxfEntities* self) {
    return static_cast<EntitiesContext*>(self->context);
}

// The handler of TEXT, and through the forwarding slots of ATTDEF, ATTRIB and BLOCK: queues
// a start record, one text record per code "1" or "2" group and an end record; 1 when the
// entity is finished, 0 on any failure (records already queued stay queued).
int32_t textHandler(DxfEntities* self);

}  // namespace wq

#endif
