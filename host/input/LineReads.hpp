// How much of a read the toolkit's streams hand over: enough for the one line the plug-in
// keeps of it, or the whole window when the plug-in needs every byte of it.
#ifndef WQHOST_LINE_READS_HPP
#define WQHOST_LINE_READS_HPP

#include <cstdint>
#include <cstring>

#include "DxfLineWords.h"

namespace wqhost {

// The plug-in seeks to the start of every line and asks for a whole line buffer (2 KiB)
// to keep one line of a few bytes; copying the rest was half the time of a document. What
// it does with the block it gets decides what can be left out:
// - It ends the line at the first line feed of the block unless a zero byte comes first,
//   drops one CR right before it, and reads on from the byte after it. It neither looks
//   at nor counts anything after that line feed, so any first part of the window that
//   holds it gives the same line, length and next position as the whole window. A CR
//   earlier in the line changes nothing: a line feed anywhere in the block wins over it.
// - With no line feed in the block, it looks for a CR across the whole block (files with
//   lone CR line ends), else takes the whole block as the line: a piece of a line longer
//   than the buffer, or the last line of a file that does not end in a line end, whose
//   length is the number of bytes read. Those need the whole window.
// - A zero byte before the first line feed ends its search there, the line feed goes
//   unseen, and the rules of a block without one apply: the whole window again.
// So a read delivers a first part of the window holding its first line feed and no zero
// byte, or all of it. It delivers at least one byte whenever the window has one, and less
// than the window only when that part holds a line feed, so the plug-in never takes a
// short read for the end of the data.

// How many bytes a first look covers: most lines of a drawing are a few bytes, so they
// end within it, and delivering all of it is one fixed-size copy.
constexpr int32_t kLineReadFirstLook = 16;

// The number of the `count` bytes at `window` that a read delivers, as above: the whole
// first look when its first LF or zero byte is an LF, else the bytes up to and including
// the first line feed when no zero byte comes before it, else all of them.
inline int32_t lineReadBytes(const void* window, int32_t count) {
    const char* bytes = static_cast<const char*>(window);
    if (count >= kLineReadFirstLook) {
        uint64_t first, second;
        std::memcpy(&first, bytes, sizeof first);
        std::memcpy(&second, bytes + 8, sizeof second);
        uint64_t marks = dxfMarkLineFeedOrZero(first);
        int32_t at = 0;
        if (marks == 0) {
            marks = dxfMarkLineFeedOrZero(second);
            at = 8;
        }
        if (marks != 0) {
            at += dxfFirstMarked(marks);
            return bytes[at] == '\n' ? kLineReadFirstLook : count;
        }
    }
    const void* lineFeed = std::memchr(bytes, '\n', static_cast<size_t>(count));
    if (lineFeed == nullptr) return count;
    const int32_t line = static_cast<int32_t>(static_cast<const char*>(lineFeed) - bytes) + 1;
    return std::memchr(bytes, '\0', static_cast<size_t>(line - 1)) == nullptr ? line : count;
}

// Copies the `count` bytes a read delivers; the first look, the most common count by far,
// is copied as a fixed size without a call.
inline void copyLineRead(void* out, const void* from, int32_t count) {
    if (count == kLineReadFirstLook) {
        std::memcpy(out, from, kLineReadFirstLook);
    } else {
        std::memcpy(out, from, static_cast<size_t>(count));
    }
}

}  // namespace wqhost

#endif
