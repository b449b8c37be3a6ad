/* Section index: where each DXF section of a document lies, found by one scan at start,
 * and the phase handlers that work through the sections one after another. */
#ifndef GET_DXF_DATA_H
#define GET_DXF_DATA_H

#include "DxfFileStrmIo.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Phase handler results. */
enum { PhaseError = 0, PhaseFinished = 1, PhaseGoOn = 2 };

/* Slot k holds the handler of the section with index k - 1; SECTION and ENDSEC have none. */
struct GetDxfData {
    void* context;                            /* word 0 */
    int32_t (*sectionSlot)(GetDxfData* self); /* slot 1: always null */
    int32_t (*endsecSlot)(GetDxfData* self);  /* slot 2: always null */
    int32_t (*doHeader)(GetDxfData* self);    /* slot 3 */
    int32_t (*doClasses)(GetDxfData* self);   /* slot 4 */
    int32_t (*doTables)(GetDxfData* self);    /* slot 5 */
    int32_t (*doBlocks)(GetDxfData* self);    /* slot 6 */
    int32_t (*doEntities)(GetDxfData* self);  /* slot 7 */
    int32_t (*doObjects)(GetDxfData* self);   /* slot 8 */
    int32_t (*doEnd)(GetDxfData* self);       /* slot 9 */
};
WQ_SLOT(GetDxfData, context, 0);
WQ_SLOT(GetDxfData, sectionSlot, 1);
WQ_SLOT(GetDxfData, endsecSlot, 2);
WQ_SLOT(GetDxfData, doHeader, 3);
WQ_SLOT(GetDxfData, doClasses, 4);
WQ_SLOT(GetDxfData, doTables, 5);
WQ_SLOT(GetDxfData, doBlocks, 6);
WQ_SLOT(GetDxfData, doEntities, 7);
WQ_SLOT(GetDxfData, doObjects, 8);
WQ_SLOT(GetDxfData, doEnd, 9);
WQ_WORDS(GetDxfData, 10);

WQ_API GetDxfData* newGetDxfData(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                 DxfFileStrmIo* lines);
WQ_API void deleteGetDxfData(GetDxfData* data);

WQ_EXTERN_C_END

#endif
