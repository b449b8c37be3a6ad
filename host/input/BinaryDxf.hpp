// Binary DXF turned into the ASCII DXF the reader understands, as a stream: a document of
// any size passes through two fixed buffers, whatever the length of its values.
#ifndef WQHOST_BINARY_DXF_HPP
#define WQHOST_BINARY_DXF_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace wqhost {

// A binary drawing opens with these 22 bytes: "AutoCAD Binary DXF", CR LF, SUB, NUL.
constexpr std::size_t kBinaryDxfSentinelBytes = 22;
constexpr std::string_view kBinaryDxfSentinel{"AutoCAD Binary DXF\r\n\x1a",
                                              kBinaryDxfSentinelBytes};

// The most bytes asked of `read` and handed to `write` at a time; writes come in blocks
// of nearly this size but the last. A conversion holds one buffer of each.
constexpr std::size_t kBinaryDxfBufferBytes = 64 * 1024;

// Whether `head`, the first bytes of a file, opens with the sentinel. A head shorter than
// the sentinel is not enough to tell, and gives false.
bool isBinaryDxf(std::string_view head);

// How a conversion ended.
enum class BinaryDxfStatus {
    Converted,     // to the end of the data, or to the 0/EOF group
    NotBinaryDxf,  // the sentinel is not there
    Malformed,     // the first group is neither 0 nor 999, so the width of codes cannot be told
    CutShort,      // the data ends inside the sentinel or inside a group
    ReadFailed,    // `read` reported an error, or handed over more than it was asked for,
                   // before the data's end or 0/EOF: converted as if cut there
    WriteStopped   // `write` returned false
};
// "converted", "not binary DXF", "malformed", "cut short", "read failed", "write stopped".
const char* binaryDxfStatusName(BinaryDxfStatus status);

struct BinaryDxfOutcome {
    BinaryDxfStatus status = BinaryDxfStatus::Converted;
    // What went wrong and at which byte of the binary input; empty when converted.
    std::string message;
    // Converted: the binary bytes converted, up to the end of 0/EOF when endedAtEof.
    // Otherwise the byte of the binary input where the fault was found: where the data
    // ends for a cut, where the failed read would have put its first byte, how far the
    // input was converted when the write was refused.
    std::int64_t offset = 0;
    // Where the last whole group ends in the binary input (at least 22 once the sentinel
    // is read): a cut or failed document holds whole groups up to here.
    std::int64_t wholeGroupsEnd = 0;
    std::int64_t groups = 0;      // whole groups converted and written
    std::int64_t asciiBytes = 0;  // bytes `write` accepted
    // Where the ASCII of the last whole group ends: asciiBytes, unless a string value
    // longer than the output buffer was written in part before the data ended inside it.
    std::int64_t asciiWholeGroupsEnd = 0;
    int codeBytes = 0;        // 1 (drawings up to R12) or 2 (R13 on); 0 before known
    bool endedAtEof = false;  // the 0/EOF group was met, and nothing after it read

    bool ok() const { return status == BinaryDxfStatus::Converted; }
};

// Fills `buffer` with up to `size` bytes and returns how many: 0 at the end of the data,
// negative on an error (as TextEntityReader::ReadFunction).
using BinaryDxfRead = std::function<std::int64_t(char* buffer, std::size_t size)>;
// Takes `size` bytes of ASCII; false stops the conversion (a full disk, a reader that has
// seen enough). It is not called again after it returns false.
using BinaryDxfWrite = std::function<bool(const char* bytes, std::size_t size)>;

// Converts a whole binary drawing, sentinel included, into ASCII DXF, group by group: the
// code as a decimal line, then the value line, each ended by LF.
//
// The width of group codes, one byte (drawings up to R12; a byte 255 is followed by the
// code as 16 bits) or two (R13 on), is told by the first group, which in a drawing is
// 0/SECTION, or a 999 comment before it. Code 0 is a zero byte followed by the value's
// first byte in one-byte codes, by a second zero byte in two-byte codes (a first value that
// is empty would read as two-byte codes: no drawing starts with one); 999 is FF E7 03 or
// E7 03. $ACADVER is not consulted: a drawing need not have a HEADER, the rule needs no
// look ahead, and the two agree on every drawing a CAD program writes.
//
// Values: strings byte for byte, in the drawing's own code page (no conversion; a value
// holding a line feed comes out as two lines, as ASCII has no escape for one); integers
// in signed decimal, a one-byte boolean as 0 to 255; doubles as the shortest decimal that
// reads back as the same double, in the fixed or exponent form std::to_chars picks, with
// ".0" added when it has neither a point nor an exponent (1 comes out as 1.0, as DXF
// writers write it; 1e+16 stays), and as to_chars spells them when not finite: "nan",
// "-nan", "inf", "-inf", which strtod reads back; binary chunks as upper-case hexadecimal.
//
// Conversion ends at the end of the data or right after a 0/EOF group: the drawing ends
// there, and readers of ASCII DXF read no further, so bytes after it (padding, junk) are
// not converted, nor read beyond what the input buffer holds already. On a fault, what was
// converted before it has been written: every whole group (a group whose value the data cuts short
// is left out), save that a string value longer than the output buffer may already have been
// written in part; asciiWholeGroupsEnd says where the whole groups end. Memory stays at the two
// buffers whatever the length of a value: strings pass through as they come, without a limit.
BinaryDxfOutcome convertBinaryDxf(const BinaryDxfRead& read, const BinaryDxfWrite& write);
// The same over a document the caller holds in memory.
BinaryDxfOutcome convertBinaryDxf(std::string_view bytes, const BinaryDxfWrite& write);

}  // namespace wqhost

#endif
