// A HostStream over a file on disk, opened when the reader asks for it. Reads go through
// a window of the file kept in memory: the reader seeks back to the start of every line
// and reads a whole line buffer each time, which would otherwise cost two system calls
// per line. A read may stop soon after the first line feed of the bytes asked for, as
// LineReads.hpp says; a caller after more reads again.
//
// The file is not mapped: once reads stop at the line, a mapping saved about 3% of a
// drawing's time over the window, and a file that shrinks while it is mapped ends the
// process (SIGBUS) where a read only fails.
#ifndef WQHOST_FILE_STREAM_HPP
#define WQHOST_FILE_STREAM_HPP

#include <cstdint>

#include "DxfHost.h"

namespace wqhost {

class StreamWatch;

// Bytes of the file held at a time, eight line buffers. A larger window saves only system
// calls, one a window: 64 KiB read the 128 MiB drawing about 3% faster, but it held 48 KiB
// more for as long as a document is read, enough to keep dxftext's peak level with dxflib's.
constexpr int32_t kFileWindowBytes = 1 << 14;

// The table comes first, so the reader's HostStream* is the FileStream*. The path is
// not copied; it must outlive the stream.
struct FileStream {
    HostStream table;
    const char* path;
    int fd;               // -1 while closed
    int32_t lastError;    // errno of the last failed system call, 0 if none
    int64_t size;         // measured at open
    int64_t position;     // where the next read starts
    int64_t windowStart;  // file offset of window[0]
    int32_t windowBytes;  // valid bytes in window
    StreamWatch* watch;   // consulted before every read; null: none
    char window[kFileWindowBytes];
};

// Fills every slot the reader uses; reportError stays null (set it to receive messages).
void initFileStream(FileStream* stream, const char* path);
// Closes the file if the reader left it open (a reader that failed to start may have).
void finishFileStream(FileStream* stream);

}  // namespace wqhost

#endif
