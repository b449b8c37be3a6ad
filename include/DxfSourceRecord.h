/* The per-document record the host receives from startSrcDXF. Every module of a document
 * reaches the host's stream, services and the document's storage through it. */
#ifndef DXF_SOURCE_RECORD_H
#define DXF_SOURCE_RECORD_H

#include "DxfHost.h"

WQ_EXTERN_C_BEGIN

typedef struct GetDxfData GetDxfData;
struct DxfPublicStorage; /* the document's block storage, declared by its own header */
typedef struct DxfSource DxfSource;

struct DxfSource {
    /* DxfSourceTag while the reader is live; 0 once shutDownDXFsrc has begun. */
    intptr_t tag; /* word 0: 4536 while live */
    /* The document stream given to startSrcDXF. */
    HostStream* stream; /* word 1 */
    /* The parameter block given to startSrcDXF. */
    HostParams* params; /* word 2 */
    /* The entry point getDXFobject. */
    OutputRecord* (*getDXFobject)(DxfSource* source); /* word 3 */
    /* The entry point shutDownDXFsrc. */
    void (*shutDownDXFsrc)(DxfSource* source); /* word 4 */
    /* With `request` 1 makes the zero-filled work buffer of words 11 to 13 in the storage,
     * once; 1 when it exists, 0 for any other request or when memory runs out (reported
     * through the stream's reportError when it has one). */
    int32_t (*allocBufDXFsrc)(DxfSource* source, int32_t request); /* word 5 */
    /* Unused. */
    uintptr_t reserved6; /* word 6: stays 0 */
    /* Unused. */
    uintptr_t reserved7; /* word 7: stays 0 */
    /* The host's services, from the parameter block. */
    HostServices* services; /* word 8: params word 30 */
    /* Copied from the parameter block and never read. */
    uintptr_t hostValue; /* word 9: params word 31 */
    /* The section index of the phase getDXFobject runs next, from SectionHeader to
     * SectionEof; SectionCount once all have finished. */
    intptr_t phase; /* word 10: 2 to 9 */
    /* Start of the work buffer; null until allocBufDXFsrc makes it. */
    char* workStart; /* word 11 */
    /* Set to workStart with the buffer; the reader never uses the buffer itself. */
    char* workCursor; /* word 12 */
    /* First byte past the work buffer; null until it is made. */
    char* workEnd; /* word 13 */
    /* The record queue, whose address goes to the host's putRecord and takeRecord. */
    uintptr_t recordQueue; /* word 14: 0 = empty */
    /* The record most recently made or taken from the queue; null at start. */
    OutputRecord* lastRecord; /* word 15 */
    /* The document's section index. */
    GetDxfData* sections; /* word 16 */
    /* The document's storage, which holds every block of the reader, this record too. */
    struct DxfPublicStorage* storage; /* word 17 */
};
WQ_SLOT(DxfSource, tag, 0);
WQ_SLOT(DxfSource, stream, 1);
WQ_SLOT(DxfSource, params, 2);
WQ_SLOT(DxfSource, getDXFobject, 3);
WQ_SLOT(DxfSource, shutDownDXFsrc, 4);
WQ_SLOT(DxfSource, allocBufDXFsrc, 5);
WQ_SLOT(DxfSource, reserved6, 6);
WQ_SLOT(DxfSource, reserved7, 7);
WQ_SLOT(DxfSource, services, 8);
WQ_SLOT(DxfSource, hostValue, 9);
WQ_SLOT(DxfSource, phase, 10);
WQ_SLOT(DxfSource, workStart, 11);
WQ_SLOT(DxfSource, workCursor, 12);
WQ_SLOT(DxfSource, workEnd, 13);
WQ_SLOT(DxfSource, recordQueue, 14);
WQ_SLOT(DxfSource, lastRecord, 15);
WQ_SLOT(DxfSource, sections, 16);
WQ_SLOT(DxfSource, storage, 17);
WQ_WORDS(DxfSource, 18);

enum {
    DxfSourceTag = 4536, /* word 0 of a live source */
    /* Bytes of the work buffer allocBufDXFsrc makes. */
    DxfWorkBufferBytes = 3072
};

WQ_EXTERN_C_END

#endif
