// A HostStream over bytes in memory: the document a host already holds (a mail
// attachment, an archive member) or a test's input.
#ifndef WQHOST_MEMORY_STREAM_HPP
#define WQHOST_MEMORY_STREAM_HPP

#include <cstdint>

#include "DxfHost.h"

namespace wqhost {

class StreamWatch;

// The table comes first, so the reader's HostStream* is the MemoryStream*. The stream
// does not copy the bytes: they must outlive it. A read may stop soon after the first
// line feed of the bytes asked for, as LineReads.hpp says; a caller after more reads again.
struct MemoryStream {
    HostStream table;
    const unsigned char* data;
    int32_t size;
    int32_t offset;
    int32_t isOpen;
    StreamWatch* watch;  // consulted before every read; null: none
};

// Fills every slot the reader uses; reportError stays null (set it to receive messages).
void initMemoryStream(MemoryStream* stream, const void* data, int32_t size);

}  // namespace wqhost

#endif
