/* Group pair reader: reads a DXF document one group (code line, value line) at a time,
 * with one group of push-back. */
#ifndef READ_DAT_UTIL_H
#define READ_DAT_UTIL_H

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Both strings live in the reader's buffers until its next readPair; each is at most
 * 2047 bytes and has lost its line end. */
typedef struct GroupPair {
    char* code;  /* every space removed (tabs stay) */
    char* value; /* exactly as read */
} GroupPair;

typedef struct ReadDatUtil ReadDatUtil;
struct ReadDatUtil {
    /* The reader's private state. */
    void* context; /* word 0 */
    /* 1 when the code buffer holds "0" exactly, else 0: after a good readPair that is its
     * code; after a failed one, whatever that read left there; before any, nothing. */
    int32_t (*isCode0)(ReadDatUtil* self); /* slot 1 */
    /* As isCode0, for the code "9". */
    int32_t (*isCode9)(ReadDatUtil* self); /* slot 2 */
    /* Reads the next code line and value line and points `pair` at them; 1, or 0 when
     * either line cannot be read (`pair` is then left alone). A failed host seek reads as
     * an empty line, so it gives 1, empty strings and a position that has not moved. */
    int32_t (*readPair)(ReadDatUtil* self, GroupPair* pair); /* slot 3 */
    /* Sets the line stream back to the last pair's value line, so the next readPair takes
     * it as a code line; 1, or 0 when there is nothing to go back to (no readPair yet, the
     * last one failed, or this step was taken since) or setPosition answered 0 (on a
     * failed host seek the position has moved all the same). */
    int32_t (*backToValue)(ReadDatUtil* self); /* slot 4 */
    /* Sets the line stream back to the last pair's code line, so the next readPair gives
     * that pair again; 1 or 0 as backToValue. Also works after a readPair that failed on
     * the value line. */
    int32_t (*backToPair)(ReadDatUtil* self); /* slot 5 */
};
WQ_SLOT(ReadDatUtil, context, 0);
WQ_SLOT(ReadDatUtil, isCode0, 1);
WQ_SLOT(ReadDatUtil, isCode9, 2);
WQ_SLOT(ReadDatUtil, readPair, 3);
WQ_SLOT(ReadDatUtil, backToValue, 4);
WQ_SLOT(ReadDatUtil, backToPair, 5);
WQ_WORDS(ReadDatUtil, 6);

/* Makes a pair reader that starts at the line stream's position. Each null collaborator is
 * made and owned, from `source`'s services and stream, in the order storage, utilities,
 * line stream (which opens the document), group table; `source` may be null only when
 * all four are given. Null when one cannot be made or memory runs out, having deleted
 * what it made. */
WQ_API ReadDatUtil* newReadDatUtil(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                                   DxfFileStrmIo* lines, DxfGrpId* groups);
/* Returns its handle and context to the storage as free blocks, then deletes the group
 * table, line stream, utilities and storage it made, in that order. Null, and a handle
 * without context, are accepted. */
WQ_API void deleteReadDatUtil(ReadDatUtil* reader);

WQ_EXTERN_C_END

#endif
