/* Line stream: the host's document stream as a line reader with random access by byte
 * offset. Accepts LF, CR LF and a lone CR as line ends. */
#ifndef DXF_FILE_STRM_IO_H
#define DXF_FILE_STRM_IO_H

#include "DxfStrEtc.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfFileStrmIo DxfFileStrmIo;
struct DxfFileStrmIo {
    /* The stream's private state. */
    void* context; /* word 0 */
    /* Makes `offset` the place the next readLine reads from and seeks the host there; 1
     * when the host's seek answered 1. 0 when that seek failed (the position is set all
     * the same), and for an offset below 0 or past fileSize (the position stays); fileSize
     * itself is allowed and reads as the end of data. */
    int32_t (*setPosition)(DxfFileStrmIo* self, int32_t offset); /* slot 1 */
    /* Reads the line at the position into `buffer`, without its line end, and moves past
     * it. An LF ends a line, dropping one CR before it; only when no LF comes before the
     * first zero byte read does the first CR before that byte end it. With neither (a zero
     * byte read first hides the line ends after it) all bytes read, at most `size` - 1,
     * are the line, so a long line comes in pieces. The length of the line read into
     * `buffer`, counting any bytes past such a zero byte (0 for an empty line and for a
     * failed host seek, which leaves `buffer` empty and does not move the position); -1 at
     * the end of data, on a failed read, for a null `buffer` or when `size` < 2. */
    int32_t (*readLine)(DxfFileStrmIo* self, char* buffer, int32_t size); /* slot 2 */
    /* The document's size in bytes, measured once when the stream was made; never 0. */
    int32_t (*fileSize)(DxfFileStrmIo* self); /* slot 3 */
    /* The offset the next readLine reads from; 0 at first. */
    int32_t (*position)(DxfFileStrmIo* self); /* slot 4 */
    /* The position the most recent readLine started from, whatever it returned; 0 before
     * the first. */
    int32_t (*lineStart)(DxfFileStrmIo* self); /* slot 5 */
};
WQ_SLOT(DxfFileStrmIo, context, 0);
WQ_SLOT(DxfFileStrmIo, setPosition, 1);
WQ_SLOT(DxfFileStrmIo, readLine, 2);
WQ_SLOT(DxfFileStrmIo, fileSize, 3);
WQ_SLOT(DxfFileStrmIo, position, 4);
WQ_SLOT(DxfFileStrmIo, lineStart, 5);
WQ_WORDS(DxfFileStrmIo, 6);

/* Every line buffer of the reader holds this many bytes, and every readLine asks for it. */
enum { DxfLineBytes = 2048 };

/* Makes a line stream on the host's `stream`, opens it and measures its size. With a null
 * `storage` it makes and owns one, with null `strings` its own utilities. Null for a null
 * `services` or `stream`, when the stream has no open or it fails, when the size cannot be
 * measured or is 0, or when memory runs out; an opened stream is closed again and what was
 * made given back (utilities made on a given storage keep their blocks in use there). */
WQ_API DxfFileStrmIo* newDxfFileStrmIo(HostServices* services, HostStream* stream,
                                       DxfStrEtc* strings, DxfPublicStorage* storage);
/* Closes the host stream (when it has a close) and deletes the utilities and the storage
 * the line stream made. With a given storage nothing is freed: its blocks, and those of
 * utilities it made, stay in use until that storage is deleted. Null is accepted. */
WQ_API void deleteDxfFileStrmIo(DxfFileStrmIo* lines);

WQ_EXTERN_C_END

#endif
