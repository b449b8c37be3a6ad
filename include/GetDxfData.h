/* Section index: where each DXF section of a document lies, found by one scan at start,
 * and the phase handlers that work through the sections one after another. */
#ifndef GET_DXF_DATA_H
#define GET_DXF_DATA_H

#include "DxfFileStrmIo.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Phase handler results. */
enum {
    /* The phase failed; the delivery loop returns null and runs it again next time. */
    PhaseError = 0,
    /* The section is done, absent, or passed over: the next phase follows. */
    PhaseFinished = 1,
    /* One entity was dealt with; the same phase runs again. */
    PhaseGoOn = 2
};

/* Slot k holds the handler of the section with index k - 1; SECTION and ENDSEC have none.
 * A section's body starts after its "0", "SECTION", "2", name lines (a section met twice
 * keeps its later start; the search stops at "0", "EOF") and ends at the first "0" line
 * followed by an "ENDSEC" line. Both are found line by line, not group by group: a value
 * "0" just before the closing pair hides it, and the end found is then a later section's,
 * or none. */
struct GetDxfData {
    /* The index's private state. */
    void* context; /* word 0 */
    /* No handler: SECTION is no phase. */
    int32_t (*sectionSlot)(GetDxfData* self); /* slot 1: always null */
    /* No handler: ENDSEC is no phase. */
    int32_t (*endsecSlot)(GetDxfData* self); /* slot 2: always null */
    /* Checks HEADER's framing only: PhaseFinished when it is absent or closed; PhaseError,
     * on every call, when it has no closing "0", "ENDSEC". */
    int32_t (*doHeader)(GetDxfData* self); /* slot 3 */
    /* As doHeader, for CLASSES. */
    int32_t (*doClasses)(GetDxfData* self); /* slot 4 */
    /* As doHeader, for TABLES. */
    int32_t (*doTables)(GetDxfData* self); /* slot 5 */
    /* Walks BLOCKS one listed entity per call: PhaseGoOn after each, PhaseFinished when it
     * is absent or its range is done. PhaseError when it has no closing pair (on every
     * call), when its walker cannot be made, or when an entity fails (the next call goes
     * on with the same walker). */
    int32_t (*doBlocks)(GetDxfData* self); /* slot 6 */
    /* As doBlocks, for ENTITIES, except that ENTITIES without its closing pair is passed
     * over: PhaseFinished. */
    int32_t (*doEntities)(GetDxfData* self); /* slot 7 */
    /* Does not read OBJECTS: PhaseFinished when it is absent or unclosed, or once the line
     * stream is set to its start; PhaseError when setPosition answers 0. */
    int32_t (*doObjects)(GetDxfData* self); /* slot 8 */
    /* Appends one end-of-document record to the source's queue, whether or not the
     * document ends with "0", "EOF"; PhaseFinished, or PhaseError when the host gives no
     * record. */
    int32_t (*doEnd)(GetDxfData* self); /* slot 9 */
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

/* Makes the section index of `source`'s document. A null `lines` is made and owned, which
 * opens the document, and so are a null `storage` and `strings`. The whole document is
 * scanned once from the line stream's position for section starts, then from each start
 * for its end. Null for a null `source`, or one without stream or services, and when no
 * section is found ("Illigal DXF file" goes to the stream's reportError when it has one),
 * the document cannot be opened or is empty, or memory runs out ("Memory allocation
 * error", except when its own storage or a name node cannot be made). What it made is
 * given back, though in a given storage some of its blocks stay in use. */
WQ_API GetDxfData* newGetDxfData(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                 DxfFileStrmIo* lines);
/* Returns its section-name nodes to the storage as free blocks and deletes the line stream
 * (closing the document), utilities and storage it made. Its context, handle and hash,
 * and a BLOCKS or ENTITIES walker still running, are not given back: they go with the
 * storage. Null, and a handle without context, are accepted. */
WQ_API void deleteGetDxfData(GetDxfData* data);

WQ_EXTERN_C_END

#endif
