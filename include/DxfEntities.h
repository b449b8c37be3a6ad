/* Entity dispatcher: walks one byte range of a BLOCKS or ENTITIES section entity by
 * entity, turning text entities into records and passing over the rest. */
#ifndef DXF_ENTITIES_H
#define DXF_ENTITIES_H

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* nextEntity results. */
enum {
    /* A group could not be read or did not move the stream (a host that cannot seek), or
     * a text entity failed: its records queued so far stay, and the next call goes on
     * from there, a text entity with a new start record. */
    EntityError = 0,
    /* The stream stands at or past the end of the range. */
    EntityRangeDone = 1,
    /* One listed entity was dealt with: a text entity queued its records, any other was
     * passed over. */
    EntityHandled = 2
};

typedef struct DxfEntities DxfEntities;
struct DxfEntities {
    /* The walker's private state. */
    void* context; /* word 0 */
    /* Deals with the next entity whose name (exact, with case) is in dxfEntityNames,
     * passing over unlisted entities and groups of other codes than "0" before it. TEXT,
     * ATTDEF, ATTRIB and BLOCK each put a start record at the head of the source's queue,
     * then append one text record per code "1" or "2" group and an end record (also at the
     * end of the range). Returns a result above; `queue` is not used. */
    int32_t (*nextEntity)(DxfEntities* self, uintptr_t* queue); /* slot 1 */
};
WQ_SLOT(DxfEntities, context, 0);
WQ_SLOT(DxfEntities, nextEntity, 1);
WQ_WORDS(DxfEntities, 2);

/* Makes a walker of the bytes [`start`, `end`) and sets the line stream to `start`. Each
 * null collaborator is made and owned, from `source`'s services and stream, in the order
 * storage, utilities, group table, line stream (which opens the document); the walker
 * also makes its own pair reader, hash and escape decoder. Null for a null `source` or
 * one without services, when setPosition to `start` answers 0, or when something cannot
 * be made, having given back what it made (a hash keeps its blocks in use in a storage
 * the walker did not make). */
WQ_API DxfEntities* newDxfEntities(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                   DxfFileStrmIo* lines, DxfGrpId* groups, int32_t start,
                                   int32_t end);
/* Deletes its pair reader, hash and escape decoder, returns its name nodes, context and
 * handle to the storage as free blocks (the hash's two blocks stay in use), then deletes
 * the collaborators it made. Null, and a handle without context, are accepted. */
WQ_API void deleteDxfEntities(DxfEntities* entities);

WQ_EXTERN_C_END

#endif
