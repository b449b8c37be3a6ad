/* The tables a host hands to the reader: its document stream, its services (memory and
 * output records), its parameter block, and the output record the reader fills. */
#ifndef DXF_HOST_H
#define DXF_HOST_H

#include "WqExport.h"

WQ_EXTERN_C_BEGIN

typedef struct HostStream HostStream;
typedef struct HostServices HostServices;
typedef struct HostParams HostParams;
typedef struct OutputRecord OutputRecord;

/* The document stream. Words 0 to 7 and 10 are the host's own; the reader calls only
 * the named slots. `reportError` may be null: the reader then fails silently. */
struct HostStream {
    uintptr_t hostWords0to7[8]; /* words 0-7 */
    /* Opens the document when the reader starts; nonzero when it is open. A null slot
     * counts as a failure. */
    int32_t (*open)(HostStream* stream); /* slot 8: nonzero = opened */
    /* Reads up to `size` bytes at the stream's offset into `buffer`; the count read, below
     * 1 at the end of data or on failure. A larger count is taken as `size`; a null slot
     * reads nothing. */
    int32_t (*read)(HostStream* stream, void* buffer, int32_t size); /* slot 9: bytes read */
    uintptr_t hostWord10;                                            /* word 10 */
    /* Moves to `offset` from the start (`whence` 0) or from the end (2); only an answer of
     * exactly 1 counts as done, and a null slot as a failure. */
    int32_t (*seek)(HostStream* stream, int32_t offset, int32_t whence); /* slot 11: 1 = done */
    /* The stream's offset, negative on failure; used only to measure the document when it
     * is opened, which fails with a null slot. */
    int32_t (*tell)(HostStream* stream); /* slot 12: offset */
    /* Closes a document that open opened, once, at shutdown or on a failed start; its
     * answer is ignored, and a null slot is never called. */
    int32_t (*close)(HostStream* stream); /* slot 13 */
    /* Takes the reason a start or a work buffer failed ("Memory allocation error" or
     * "Illigal DXF file"); `zero` is always 0. */
    void (*reportError)(HostStream* stream, const char* message, int32_t zero); /* slot 14 */
};
WQ_SLOT(HostStream, open, 8);
WQ_SLOT(HostStream, read, 9);
WQ_SLOT(HostStream, hostWord10, 10);
WQ_SLOT(HostStream, seek, 11);
WQ_SLOT(HostStream, tell, 12);
WQ_SLOT(HostStream, close, 13);
WQ_SLOT(HostStream, reportError, 14);
WQ_WORDS(HostStream, 15);

/* Memory and record services. `queue` is the address of the source's record-queue word;
 * what the host keeps there, other than 0 for an empty queue, is the host's business. */
struct HostServices {
    uintptr_t hostWords0to3[4]; /* words 0-3 */
    /* `size` bytes for a text buffer the reader hands back inside a record; the reader
     * never frees them. Null when there are none. */
    void* (*rawAlloc)(HostServices* services, int32_t size); /* slot 4 */
    /* `count` zero-filled items of `size` bytes, or null; every block of the reader's
     * storage comes from here. */
    void* (*callocMem)(HostServices* services, int32_t count, int32_t size); /* slot 5 */
    /* Resizes memory from callocMem to `size` bytes, keeping its contents; null when it
     * cannot, the old memory then staying valid. */
    void* (*reallocMem)(HostServices* services, void* pointer, int32_t size); /* slot 6 */
    /* Frees memory from callocMem or reallocMem. */
    void (*freeMem)(HostServices* services, void* pointer); /* slot 7 */
    uintptr_t hostWord8;                                    /* word 8 */
    /* A new output record of `kind` (an OutputRecordKind), or null. */
    OutputRecord* (*newRecord)(HostServices* services, int32_t kind); /* slot 9 */
    uintptr_t hostWord10;                                             /* word 10 */
    /* Puts `record` into the queue at `position` (QueueAtHead or QueueAppend); the
     * answer is ignored. */
    int32_t (*putRecord)(HostServices* services, uintptr_t* queue, OutputRecord* record,
                         int32_t position); /* slot 11 */
    uintptr_t hostWords12to13[2];           /* words 12-13 */
    /* Takes the record at the head of a queue that is not empty, leaving 0 in `*queue`
     * once it is; the reader hands the result on as it is, and asks again while `*queue`
     * is not 0. `zero` is always 0. */
    OutputRecord* (*takeRecord)(HostServices* services, uintptr_t* queue,
                                int32_t zero); /* slot 14 */
};
WQ_SLOT(HostServices, rawAlloc, 4);
WQ_SLOT(HostServices, callocMem, 5);
WQ_SLOT(HostServices, reallocMem, 6);
WQ_SLOT(HostServices, freeMem, 7);
WQ_SLOT(HostServices, newRecord, 9);
WQ_SLOT(HostServices, putRecord, 11);
WQ_SLOT(HostServices, takeRecord, 14);
WQ_WORDS(HostServices, 15);

/* Record kinds the reader makes, and the positions it passes to `putRecord`. */
enum OutputRecordKind {
    /* Appended once, after the last section. */
    RecordEndOfDocument = 1,
    /* Opens a text entity at the head of the queue; its word 12 holds 12. */
    RecordTextStart = 38,
    /* One code "1" or "2" value of a text entity, in words 5 to 7. */
    RecordText = 41,
    /* Closes a text entity. */
    RecordTextEnd = 48
};
enum {
    /* Before every record in the queue. */
    QueueAtHead = 0,
    /* After every record in the queue. */
    QueueAppend = -1
};

/* The host's parameter block. A successful start writes 48, 1, 1 and 0 into words 2, 4,
 * 24 and 32; what they mean is the host's business. */
struct HostParams {
    uintptr_t hostWords0to1[2]; /* words 0-1 */
    intptr_t word2;             /* word 2: 48 after a successful start */
    uintptr_t hostWord3;        /* word 3 */
    intptr_t word4;             /* word 4: 1 after a successful start */
    uintptr_t hostWords5to23[19];
    intptr_t word24; /* word 24: 1 after a successful start */
    uintptr_t hostWords25to29[5];
    /* The services every call of the reader uses; startSrcDXF refuses a null. */
    HostServices* services; /* word 30 */
    uintptr_t hostValue;    /* word 31: kept in the source, never read */
    intptr_t word32;        /* word 32: 0 after a successful start */
};
WQ_SLOT(HostParams, word2, 2);
WQ_SLOT(HostParams, word4, 4);
WQ_SLOT(HostParams, word24, 24);
WQ_SLOT(HostParams, services, 30);
WQ_SLOT(HostParams, hostValue, 31);
WQ_SLOT(HostParams, word32, 32);
WQ_WORDS(HostParams, 33);

/* An output record, laid out by the host (it may be longer). The reader writes only
 * word 12 of a start record and words 5 to 7 of a text record. */
struct OutputRecord {
    uintptr_t hostWords0to4[5]; /* words 0-4: the host's own */
    /* A text record's value, escapes decoded, in a 2048-byte buffer from rawAlloc. Its
     * length counts the bytes before the first zero byte (2048 when there is none), so a
     * decoded character with a zero high byte ends the text early. */
    char* text;          /* word 5: 2048-byte buffer from rawAlloc */
    intptr_t textLength; /* word 6: bytes before the first zero byte */
    intptr_t textFlags;  /* word 7: 0 */
    uintptr_t hostWords8to11[4];
    intptr_t startMark; /* word 12: 12 in a start record */
};
WQ_SLOT(OutputRecord, text, 5);
WQ_SLOT(OutputRecord, textLength, 6);
WQ_SLOT(OutputRecord, textFlags, 7);
WQ_SLOT(OutputRecord, startMark, 12);
WQ_WORDS(OutputRecord, 13);

WQ_EXTERN_C_END

#endif
