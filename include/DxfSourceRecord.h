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
    intptr_t tag;                                                  /* word 0: 4536 while live */
    HostStream* stream;                                            /* word 1 */
    HostParams* params;                                            /* word 2 */
    OutputRecord* (*getDXFobject)(DxfSource* source);              /* word 3 */
    void (*shutDownDXFsrc)(DxfSource* source);                     /* word 4 */
    int32_t (*allocBufDXFsrc)(DxfSource* source, int32_t request); /* word 5 */
    uintptr_t reserved6;                                           /* word 6: stays 0 */
    uintptr_t reserved7;                                           /* word 7: stays 0 */
    HostServices* services;                                        /* word 8: params word 30 */
    uintptr_t hostValue;                                           /* word 9: params word 31 */
    intptr_t phase;                                                /* word 10: 2 to 9 */
    char* workStart;                                               /* word 11 */
    char* workCursor;                                              /* word 12 */
    char* workEnd;                                                 /* word 13 */
    uintptr_t recordQueue;                                         /* word 14: 0 = empty */
    OutputRecord* lastRecord;                                      /* word 15 */
    GetDxfData* sections;                                          /* word 16 */
    struct DxfPublicStorage* storage;                              /* word 17 */
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
    DxfWorkBufferBytes = 3072
};

WQ_EXTERN_C_END

#endif
