// The two messages the reader hands the host, spelled as hosts have always received them,
// and the one way they are handed over.
#ifndef WQ_MESSAGES_HPP
#define WQ_MESSAGES_HPP

#include "DxfHost.h"

namespace wq {

constexpr char kIllegalFile[] = "Illigal DXF file";
constexpr char kNoMemory[] = "Memory allocation error";

// Hands `message` to the host, when its stream takes reports at all.
inline void report(HostStream* stream, const char* message) {
    if (stream->reportError != nullptr) stream->reportError(stream, message, 0);
}

}  // namespace wq

#endif
