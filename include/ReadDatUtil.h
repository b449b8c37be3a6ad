/* Group pair reader: reads a DXF document one group (code line, value line) at a time,
 * with one group of push-back. */
#ifndef READ_DAT_UTIL_H
#define READ_DAT_UTIL_H

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Both strings live in the reader's buffers until its next readPair. */
typedef struct GroupPair {
    char* code;  /* blanks removed */
    char* value; /* exactly as read */
} GroupPair;

typedef struct ReadDatUtil ReadDatUtil;
struct ReadDatUtil {
    void* context;                                           /* word 0 */
    int32_t (*isCode0)(ReadDatUtil* self);                   /* slot 1 */
    int32_t (*isCode9)(ReadDatUtil* self);                   /* slot 2 */
    int32_t (*readPair)(ReadDatUtil* self, GroupPair* pair); /* slot 3 */
    int32_t (*backToValue)(ReadDatUtil* self);               /* slot 4 */
    int32_t (*backToPair)(ReadDatUtil* self);                /* slot 5 */
};
WQ_SLOT(ReadDatUtil, context, 0);
WQ_SLOT(ReadDatUtil, isCode0, 1);
WQ_SLOT(ReadDatUtil, isCode9, 2);
WQ_SLOT(ReadDatUtil, readPair, 3);
WQ_SLOT(ReadDatUtil, backToValue, 4);
WQ_SLOT(ReadDatUtil, backToPair, 5);
WQ_WORDS(ReadDatUtil, 6);

WQ_API ReadDatUtil* newReadDatUtil(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                   DxfFileStrmIo* lines, DxfGrpId* groups);
WQ_API void deleteReadDatUtil(ReadDatUtil* reader);

WQ_EXTERN_C_END

#endif
