// How readers tell a failed host seek from an empty line: the line stream reports the seek
// as a line of length 0, but an empty line always moves its position past the line end.
#ifndef WQ_MOVING_READS_HPP
#define WQ_MOVING_READS_HPP

#include <cstdint>

#include "DxfFileStrmIo.h"
#include "LinePosition.hpp"

namespace wq {

// True when `read` (a readLine or a pair of them through `lines`) succeeded and moved the
// position. A read that leaves the position where it stood comes from a host that cannot
// seek any more: a loop that took it for a line would go round forever on it.
template <class Read>
bool readMoved(DxfFileStrmIo* lines, Read read) {
    const int32_t before = positionOf(lines);
    return read() && positionOf(lines) != before;
}

}  // namespace wq

#endif
