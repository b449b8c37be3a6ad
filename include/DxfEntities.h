/* Entity dispatcher: walks one byte range of a BLOCKS or ENTITIES section entity by
 * entity, turning text entities into records and passing over the rest. */
#ifndef DXF_ENTITIES_H
#define DXF_ENTITIES_H

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* nextEntity results. */
enum { EntityError = 0, EntityRangeDone = 1, EntityHandled = 2 };

typedef struct DxfEntities DxfEntities;
struct DxfEntities {
    void* context;                                              /* word 0 */
    int32_t (*nextEntity)(DxfEntities* self, uintptr_t* queue); /* slot 1 */
};
WQ_SLOT(DxfEntities, context, 0);
WQ_SLOT(DxfEntities, nextEntity, 1);
WQ_WORDS(DxfEntities, 2);

WQ_API DxfEntities* newDxfEntities(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                   DxfFileStrmIo* lines, DxfGrpId* groups, int32_t start,
                                   int32_t end);
WQ_API void deleteDxfEntities(DxfEntities* entities);

WQ_EXTERN_C_END

#endif
