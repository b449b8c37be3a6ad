// A HostStream over a file on disk, opened when the reader asks for it.
#ifndef WQHOST_FILE_STREAM_HPP
#define WQHOST_FILE_STREAM_HPP

#include <cstdint>

#include "DxfHost.h"

namespace wqhost {

// The table comes first, so the reader's HostStream* is the FileStream*. The path is
// not copied; it must outlive the stream.
struct FileStream {
    HostStream table;
    const char* path;
    int fd;            // -1 while closed
    int32_t lastError;  // errno of the last failed system call, 0 if none
};

// Fills every slot the reader uses; reportError stays null (set it to receive messages).
void initFileStream(FileStream* stream, const char* path);
// Closes the file if the reader left it open (a reader that failed to start may have).
void finishFileStream(FileStream* stream);

}  // namespace wqhost

#endif
