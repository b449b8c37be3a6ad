/* Line stream: the host's document stream as a line reader with random access by byte
 * offset. Accepts LF, CR LF and a lone CR as line ends. */
#ifndef DXF_FILE_STRM_IO_H
#define DXF_FILE_STRM_IO_H

#include "DxfStrEtc.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfFileStrmIo DxfFileStrmIo;
struct DxfFileStrmIo {
    void* context;                                                        /* word 0 */
    int32_t (*setPosition)(DxfFileStrmIo* self, int32_t offset);          /* slot 1 */
    int32_t (*readLine)(DxfFileStrmIo* self, char* buffer, int32_t size); /* slot 2 */
    int32_t (*fileSize)(DxfFileStrmIo* self);                             /* slot 3 */
    int32_t (*position)(DxfFileStrmIo* self);                             /* slot 4 */
    int32_t (*lineStart)(DxfFileStrmIo* self);                            /* slot 5 */
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

WQ_API DxfFileStrmIo* newDxfFileStrmIo(HostServices* services, HostStream* stream,
                                       DxfStrEtc* strings, DxfPublicStorage* storage);
WQ_API void deleteDxfFileStrmIo(DxfFileStrmIo* lines);

WQ_EXTERN_C_END

#endif
