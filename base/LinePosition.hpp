// The line stream's position read in place: the section scans and the group pair reader ask
// for it several times a line, and those calls through the slot took near a tenth of a read.
#ifndef WQ_LINE_POSITION_HPP
#define WQ_LINE_POSITION_HPP

#include <cstdint>

#include "DxfFileStrmIo.h"

namespace wq {

// The line stream's context, in the order its fields are given; DxfFileStrmIo.cpp fills it.
struct FileStrmIoContext {
    int32_t ownsStrings;  // 1 when newDxfFileStrmIo made the string utilities
    // Held for its owner's sake: readLine finds line ends by the same rules as the string
    // search, but on the unterminated bytes the host read, which a string search would overrun.
    DxfStrEtc* strings;
    int32_t ownsStorage;  // 1 when newDxfFileStrmIo made the storage
    DxfPublicStorage* storage;
    HostStream* stream;
    int32_t opened;     // 1 once the host's open succeeded: the destructor closes only then
    int32_t fileSize;   // measured once, at creation
    int32_t position;   // where the next readLine reads
    int32_t lineStart;  // where the most recent readLine began
    int32_t (*measureSize)(DxfFileStrmIo* self);
    int32_t (*seekStream)(DxfFileStrmIo* self, int32_t offset, int32_t whence);
    int32_t (*tellStream)(DxfFileStrmIo* self);
    int32_t (*readStream)(DxfFileStrmIo* self, void* buffer, int32_t size);
};

// The line stream's own position operation, which its constructor puts in the slot.
int32_t linePosition(DxfFileStrmIo* self);

// What the position slot answers: read from the context while the slot holds the stream's
// own operation, so that the answer is the same; a slot given another operation is called.
inline int32_t positionOf(DxfFileStrmIo* lines) {
    return lines->position == linePosition
               ? static_cast<const FileStrmIoContext*>(lines->context)->position
               : lines->position(lines);
}

}  // namespace wq

#endif
