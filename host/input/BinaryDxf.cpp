// Binary DXF to ASCII DXF: groups decoded from a fixed input buffer and written as text
// into a fixed output buffer, the one refilled and the other drained in whole blocks.
#include "BinaryDxf.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace wqhost {
namespace {

// The type of a group's value, fixed by its code.
enum class Value : std::uint8_t { String, Double, Int16, Int32, Int64, Boolean, Chunk };

// The peers read a few codes otherwise, none of which a CAD program writes in a binary
// drawing: ezdxf reads 169 as a string (its 64-bit codes stop at 168); libdxfrw reads the
// unnamed 80-89, 101-109 and 150-159 as 16-bit integers, 180-269 as one-byte booleans and
// 1009 as a double, gives up at codes above 1071, and reads a code 90 value again as 16 bits
// when the next code comes out above 2000, for some early writer. Here every code not named
// below is a string, as ezdxf has it: a string at least ends where its zero byte says, so
// a misread code costs one group, not the rest of the drawing.
constexpr Value valueOf(unsigned code) {
    if (code <= 9) return Value::String;
    if (code <= 59) return Value::Double;
    if (code <= 79) return Value::Int16;
    if (code >= 90 && code <= 99) return Value::Int32;
    if (code >= 110 && code <= 149) return Value::Double;
    if (code >= 160 && code <= 169) return Value::Int64;
    if (code >= 170 && code <= 179) return Value::Int16;
    if (code >= 210 && code <= 239) return Value::Double;
    if (code >= 270 && code <= 289) return Value::Int16;
    if (code >= 290 && code <= 299) return Value::Boolean;
    if (code >= 310 && code <= 319) return Value::Chunk;
    if (code >= 370 && code <= 389) return Value::Int16;
    if (code >= 400 && code <= 409) return Value::Int16;
    if (code >= 420 && code <= 429) return Value::Int32;
    if (code >= 440 && code <= 459) return Value::Int32;
    if (code >= 460 && code <= 469) return Value::Double;
    if (code == 1004) return Value::Chunk;
    if (code >= 1010 && code <= 1059) return Value::Double;
    if (code >= 1060 && code <= 1070) return Value::Int16;
    if (code == 1071) return Value::Int32;
    return Value::String;
}

// Codes below this come from a table, with their line ready to copy; all above are strings.
constexpr unsigned kTableCodes = 1072;

// A code's line ("1071\n"), its value's type and the bytes a value of fixed size takes
// (0 for a string); eight bytes, so that one fixed-size copy puts the line out (the bytes
// after it are overwritten by the value).
struct CodeEntry {
    char line[5];
    std::uint8_t length;
    Value value;
    std::uint8_t fixedBytes;
};
struct CodeTable {
    CodeEntry codes[kTableCodes];
};

constexpr CodeTable makeCodeTable() {
    CodeTable table{};
    for (unsigned code = 0; code < kTableCodes; ++code) {
        CodeEntry& entry = table.codes[code];
        unsigned digits = 1;
        for (unsigned rest = code / 10; rest != 0; rest /= 10) ++digits;
        unsigned rest = code;
        for (unsigned i = digits; i-- > 0; rest /= 10)
            entry.line[i] = static_cast<char>('0' + rest % 10);
        entry.line[digits] = '\n';
        entry.length = static_cast<std::uint8_t>(digits + 1);
        entry.value = valueOf(code);
        constexpr std::uint8_t kBytes[] = {0, 8, 2, 4, 8, 1, 1};  // in the order of Value
        entry.fixedBytes = kBytes[static_cast<int>(entry.value)];
    }
    return table;
}
constexpr CodeTable kCodeTable = makeCodeTable();
static_assert(sizeof(CodeEntry) == 8, "a code's entry is copied out as eight bytes");

// Bytes wanted in the input buffer at the start of a group: enough for any group but a
// string (an escaped code, a chunk's length and 255 bytes), so only strings can run past
// what the buffer holds and every other check against the end of the data is a cut.
constexpr std::size_t kGroupLookahead = 512;
// Room kept free in the output buffer at the start of a group: enough for any group but a
// string (a five-digit code line and a chunk of 255 bytes as 510 digits).
constexpr std::size_t kGroupOutputRoom = 1024;
static_assert(kGroupLookahead * 8 <= kBinaryDxfBufferBytes &&
                  kGroupOutputRoom * 8 <= kBinaryDxfBufferBytes,
              "a buffer holds many groups");

// Little-endian loads, whatever the machine's order; compilers make each a single load.
inline std::uint16_t load16(const char* at) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(at);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}
inline std::uint32_t load32(const char* at) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(at);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}
inline std::uint64_t load64(const char* at) {
    const std::uint64_t low = load32(at), high = load32(at + 4);
    return low | high << 32;
}

// The powers of ten up to 10^17, which 64-bit integers and doubles both hold exactly.
struct PowersOfTen {
    std::uint64_t whole[18];
    double real[18];
};
constexpr PowersOfTen makePowersOfTen() {
    PowersOfTen powers{};
    std::uint64_t power = 1;
    for (int i = 0; i < 18; ++i, power *= 10) {
        powers.whole[i] = power;
        powers.real[i] = static_cast<double>(power);
    }
    return powers;
}
constexpr PowersOfTen kPowersOfTen = makePowersOfTen();

// Puts the shortest decimal of a real that is not whole, `magnitude` its absolute value,
// when it has at most 15 significant digits and lies in [0.001, 1e15): the digits drawings
// mostly hold, which to_chars takes several times as long to find. Returns null, having
// put nothing, for any other real.
//
// Rounded to 15 significant digits, such a real is its shortest decimal followed by zeros:
// 15-digit decimals lie further apart than two adjacent doubles, so no other lies within
// half a double's step of it. Whether that decimal reads back as the real is decided
// exactly: a whole number below 2^53 divided by a power of ten up to 1e22 is rounded once,
// as a reader's conversion of the decimal is. The fixed form it is written in is the one
// to_chars picks too: from 0.001 on, an exponent is never shorter.
inline char* putShortDecimal(char* out, double magnitude, bool negative) {
    if (!(magnitude >= 1e-3 && magnitude < 1e15)) return nullptr;
    // The power of ten of the first significant digit. The doubles nearest 0.1, 0.01 and
    // 0.001 lie a little above them, so these comparisons are exact too.
    int exponent = magnitude >= 1 ? 0 : magnitude >= 0.1 ? -1 : magnitude >= 0.01 ? -2 : -3;
    if (exponent == 0) {
        while (exponent < 14 && magnitude >= kPowersOfTen.real[exponent + 1]) ++exponent;
    }
    int decimals = 14 - exponent;
    std::uint64_t digits =
        static_cast<std::uint64_t>(magnitude * kPowersOfTen.real[decimals] + 0.5);
    // Trailing zeros off, eight, four, two and one at a time (never more than 14).
    if (decimals >= 8 && digits % 100000000 == 0) digits /= 100000000, decimals -= 8;
    if (decimals >= 4 && digits % 10000 == 0) digits /= 10000, decimals -= 4;
    if (decimals >= 2 && digits % 100 == 0) digits /= 100, decimals -= 2;
    if (decimals >= 1 && digits % 10 == 0) digits /= 10, decimals -= 1;
    if (decimals == 0 || static_cast<double>(digits) / kPowersOfTen.real[decimals] != magnitude)
        return nullptr;
    char text[24];
    const int length = static_cast<int>(std::to_chars(text, text + sizeof text, digits).ptr - text);
    if (negative) *out++ = '-';
    const int before = length > decimals ? length - decimals : 0;  // digits before the point
    if (before == 0) *out++ = '0';
    std::memcpy(out, text, static_cast<std::size_t>(before));
    out += before;
    *out++ = '.';
    for (int zero = length - before; zero < decimals; ++zero) *out++ = '0';
    std::memcpy(out, text + before, static_cast<std::size_t>(length - before));
    out += length - before;
    *out = '\n';
    return out + 1;
}

// Puts `value`'s line at `out` and returns its end.
inline char* putDouble(char* out, double value) {
    const double magnitude = std::fabs(value);
    // Whole reals below 2^52 fit an integer; from there on every double is whole.
    // (NaN is taken for whole here, and left to to_chars.)
    const bool whole =
        !(magnitude < 0x1p52) || static_cast<double>(static_cast<std::int64_t>(value)) == value;
    if (whole) {
        // A quarter of a drawing's reals are small whole numbers (0.0, 1.0, a height of
        // 250.0). Below 100000 their shortest form is their digits, never an exponent
        // ("1e+04" is no shorter than "10000"); -0.0 keeps its sign.
        if (magnitude < 100000.0 && (value != 0 || !std::signbit(value))) {
            out = std::to_chars(out, out + 8, static_cast<int>(value)).ptr;
            std::memcpy(out, ".0\n", 3);
            return out + 3;
        }
    } else if (char* end = putShortDecimal(out, magnitude, value < 0)) {
        return end;
    }
    char* const start = out;
    out = std::to_chars(out, out + 32, value).ptr;
    // Shortest digits of a whole value may have neither point nor exponent; DXF writers
    // mark a real with ".0", and so does this. Reals that are not finite come out as
    // to_chars writes them, "nan", "-nan", "inf" or "-inf", which strtod reads back.
    if (whole && std::isfinite(value) &&
        std::find_if(start, out, [](char c) { return c == '.' || c == 'e'; }) == out) {
        std::memcpy(out, ".0", 2);
        out += 2;
    }
    *out = '\n';
    return out + 1;
}

template <class Integer>
inline char* putInteger(char* out, Integer value) {
    out = std::to_chars(out, out + 24, value).ptr;
    *out = '\n';
    return out + 1;
}

inline char* putChunk(char* out, const unsigned char* bytes, std::size_t count) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        *out++ = kHex[bytes[i] >> 4];
        *out++ = kHex[bytes[i] & 15];
    }
    *out = '\n';
    return out + 1;
}

// The width of codes, 1 or 2, that the bytes of a drawing's first group tell; 0 when they
// are no drawing's first group, -1 when `count` bytes are too few to tell. A drawing opens
// with 0/SECTION, or with a 999 comment before it:
//   codes of one byte:  00, then the value's first byte (never 0: the value is not empty);
//                       FF E7 03, the escape and 999
//   codes of two bytes: 00 00; E7 03
int codeWidthOf(const unsigned char* first, std::size_t count) {
    if (count == 0) return -1;
    switch (first[0]) {
        case 0x00:
            return count < 2 ? -1 : first[1] == 0 ? 2 : 1;
        case 0xE7:
            return count < 2 ? -1 : first[1] == 0x03 ? 2 : 0;
        case 0xFF:
            if (count >= 2 && first[1] != 0xE7) return 0;
            return count < 3 ? -1 : first[2] == 0x03 ? 1 : 0;
        default:
            return 0;
    }
}

std::string byteText(std::int64_t offset) { return "byte " + std::to_string(offset); }

// One conversion: the two buffers and where each stands.
class Converter {
  public:
    Converter(const BinaryDxfRead& read, const BinaryDxfWrite& write)
        : read_(read),
          write_(write),
          in_(new char[kBinaryDxfBufferBytes]),
          out_(new char[kBinaryDxfBufferBytes]) {}

    BinaryDxfOutcome run();

  private:
    template <int kCodeBytes>
    void convertGroups();
    bool convertLongString(const char* from, std::int64_t groupAt, unsigned code);
    bool appendValueBytes(const char* bytes, std::size_t count);

    void refill(std::size_t want);
    bool drain(std::size_t count);
    bool drainPartGroup();
    void end(BinaryDxfStatus status, std::int64_t offset, std::string message);
    void cut(std::int64_t groupAt, const std::string& what);
    void keepWholeGroups(std::int64_t groupAt);
    std::int64_t inputOffset(const char* at) const { return base_ + (at - in_.get()); }

    const BinaryDxfRead& read_;
    const BinaryDxfWrite& write_;
    BinaryDxfOutcome outcome_;

    std::unique_ptr<char[]> in_;
    std::size_t begin_ = 0;  // the bytes not yet converted are in_[begin_, end_)
    std::size_t end_ = 0;
    std::int64_t base_ = 0;    // the input offset of in_[0]
    bool dataEnded_ = false;   // read has returned 0, or failed
    std::string readFailure_;  // why it failed; empty when it has not

    std::unique_ptr<char[]> out_;
    std::size_t used_ = 0;            // ASCII waiting in out_
    std::size_t groupOut_ = 0;        // where the group being converted starts in out_
    bool partWritten_ = false;        // part of that group has been written (a long string)
    std::int64_t partFrom_ = 0;       // then: where its ASCII starts
    std::int64_t groupsWaiting_ = 0;  // whole groups in out_
};

// Reads until `want` bytes wait in the buffer, or the data ends. A failed read ends the
// data where it failed: the groups before it are converted as those of a cut document
// are, and the failure is reported in place of the cut.
void Converter::refill(std::size_t want) {
    if (begin_ != 0) {
        std::memmove(in_.get(), in_.get() + begin_, end_ - begin_);
        base_ += static_cast<std::int64_t>(begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ < want && !dataEnded_) {
        const std::size_t room = kBinaryDxfBufferBytes - end_;
        const std::int64_t got = read_(in_.get() + end_, room);
        if (got <= 0 || static_cast<std::uint64_t>(got) > room) {
            dataEnded_ = true;
            if (got != 0) {
                const std::string at = byteText(base_ + static_cast<std::int64_t>(end_));
                readFailure_ =
                    got < 0 ? "reading the input failed at " + at
                            : "the input handed over more bytes than it was asked for at " + at;
            }
        } else {
            end_ += static_cast<std::size_t>(got);
        }
    }
}

bool Converter::drain(std::size_t count) {
    if (count == 0) return true;
    if (!write_(out_.get(), count)) return false;
    outcome_.asciiBytes += static_cast<std::int64_t>(count);
    outcome_.groups += groupsWaiting_;
    groupsWaiting_ = 0;
    return true;
}

// Writes the whole output buffer while a string value fills it, the groups before it and
// the first part of the value; false when the write is refused.
bool Converter::drainPartGroup() {
    if (!partWritten_) partFrom_ = outcome_.asciiBytes + static_cast<std::int64_t>(groupOut_);
    const bool written = drain(used_);
    if (written) {
        partWritten_ = true;
        used_ = 0;
        groupOut_ = 0;
    }
    return written;
}

void Converter::end(BinaryDxfStatus status, std::int64_t offset, std::string message) {
    outcome_.status = status;
    outcome_.offset = offset;
    outcome_.message = std::move(message);
}

// After a fault in the group that starts at `groupAt`: the whole groups before it are
// written, and the part of it converted so far is left out.
void Converter::keepWholeGroups(std::int64_t groupAt) {
    outcome_.wholeGroupsEnd = groupAt;
    if (!partWritten_ && !drain(groupOut_)) outcome_.message += "; the output was refused too";
    outcome_.asciiWholeGroupsEnd = partWritten_ ? partFrom_ : outcome_.asciiBytes;
}

void Converter::cut(std::int64_t groupAt, const std::string& what) {
    const std::int64_t at = base_ + static_cast<std::int64_t>(end_);
    if (readFailure_.empty()) {
        end(BinaryDxfStatus::CutShort, at, "cut short at " + byteText(at) + ": " + what);
    } else {
        end(BinaryDxfStatus::ReadFailed, at, readFailure_ + ": " + what);
    }
    keepWholeGroups(groupAt);
}

bool Converter::appendValueBytes(const char* bytes, std::size_t count) {
    while (count != 0) {
        if (used_ == kBinaryDxfBufferBytes && !drainPartGroup()) return false;
        const std::size_t take = std::min(count, kBinaryDxfBufferBytes - used_);
        std::memcpy(out_.get() + used_, bytes, take);
        used_ += take;
        bytes += take;
        count -= take;
    }
    return true;
}

// Converts a string value that runs past the bytes the input buffer holds, from `from`
// on, its code line already in the output; false when conversion ends inside it.
bool Converter::convertLongString(const char* from, std::int64_t groupAt, unsigned code) {
    for (;;) {
        const char* const limit = in_.get() + end_;
        const void* zero = std::memchr(from, 0, static_cast<std::size_t>(limit - from));
        const char* const stop = zero != nullptr ? static_cast<const char*>(zero) : limit;
        if (!appendValueBytes(from, static_cast<std::size_t>(stop - from))) break;
        if (zero != nullptr) {
            begin_ = static_cast<std::size_t>(stop + 1 - in_.get());
            if (used_ == kBinaryDxfBufferBytes && !drainPartGroup()) break;
            out_[used_++] = '\n';
            partWritten_ = false;
            return true;
        }
        begin_ = end_;
        refill(1);
        if (begin_ == end_) {
            cut(groupAt, "the string of group " + std::to_string(code) + " that starts at " +
                             byteText(groupAt) + " has no terminating zero");
            return false;
        }
        from = in_.get() + begin_;
    }
    end(BinaryDxfStatus::WriteStopped, inputOffset(from),
        "the output was refused after " + std::to_string(outcome_.asciiBytes) +
            " bytes, inside the string of group " + std::to_string(code) + " that starts at " +
            byteText(groupAt));
    outcome_.wholeGroupsEnd = groupAt;
    outcome_.asciiWholeGroupsEnd = partWritten_ ? partFrom_ : outcome_.asciiBytes;
    return false;
}

template <int kCodeBytes>
void Converter::convertGroups() {
    for (;;) {
        if (kBinaryDxfBufferBytes - used_ < kGroupOutputRoom) {
            if (!drain(used_)) {
                const std::int64_t at = base_ + static_cast<std::int64_t>(begin_);
                end(BinaryDxfStatus::WriteStopped, at,
                    "the output was refused after " + std::to_string(outcome_.asciiBytes) +
                        " bytes, at " + byteText(at) + " of the input");
                outcome_.wholeGroupsEnd = at;
                outcome_.asciiWholeGroupsEnd = outcome_.asciiBytes;
                return;
            }
            used_ = 0;
        }
        groupOut_ = used_;
        if (end_ - begin_ < kGroupLookahead && !dataEnded_) refill(kGroupLookahead);
        const char* const start = in_.get() + begin_;
        const char* const limit = in_.get() + end_;
        if (start == limit) break;

        const char* at = start;
        unsigned code;
        if constexpr (kCodeBytes == 2) {
            if (limit - at < 2)
                return cut(inputOffset(start), "inside the code of the group that starts at " +
                                                   byteText(inputOffset(start)));
            code = load16(at);
            at += 2;
        } else {
            code = static_cast<unsigned char>(*at++);
            if (code == 255) {
                if (limit - at < 2)
                    return cut(inputOffset(start), "inside the code of the group that starts at " +
                                                       byteText(inputOffset(start)));
                code = load16(at);
                at += 2;
            }
        }

        char* out = out_.get() + used_;
        Value value = Value::String;
        std::size_t needs = 0;  // bytes of the value, a chunk's length byte or a string's none
        if (code < kTableCodes) {
            const CodeEntry& entry = kCodeTable.codes[code];
            std::memcpy(out, &entry, sizeof entry);
            out += entry.length;
            value = entry.value;
            needs = entry.fixedBytes;
        } else {
            out = std::to_chars(out, out + 8, code).ptr;
            *out++ = '\n';
        }
        if (static_cast<std::size_t>(limit - at) < needs) {
            return cut(inputOffset(start), "group " + std::to_string(code) + " that starts at " +
                                               byteText(inputOffset(start)) + " needs " +
                                               std::to_string(needs) + " bytes for its value, " +
                                               std::to_string(limit - at) + " remain");
        }
        switch (value) {
            case Value::Double: {
                const std::uint64_t bits = load64(at);
                double number;
                std::memcpy(&number, &bits, sizeof number);
                out = putDouble(out, number);
                break;
            }
            case Value::Int16:
                out = putInteger(out, static_cast<int>(load16(at) ^ 0x8000u) - 0x8000);
                break;
            case Value::Int32: {
                out = putInteger(
                    out, static_cast<std::int64_t>(load32(at) ^ 0x80000000u) - 0x80000000ll);
                break;
            }
            case Value::Int64: {
                const std::uint64_t bits = load64(at);
                std::int64_t number;
                std::memcpy(&number, &bits, sizeof number);
                out = putInteger(out, number);
                break;
            }
            case Value::Boolean:
                out = putInteger(out, static_cast<unsigned>(static_cast<unsigned char>(*at)));
                break;
            case Value::Chunk: {
                needs += static_cast<unsigned char>(*at);
                if (static_cast<std::size_t>(limit - at) < needs) {
                    return cut(inputOffset(start), "the chunk of group " + std::to_string(code) +
                                                       " that starts at " +
                                                       byteText(inputOffset(start)) + " needs " +
                                                       std::to_string(needs - 1) + " bytes, " +
                                                       std::to_string(limit - at - 1) + " remain");
                }
                out = putChunk(out, reinterpret_cast<const unsigned char*>(at + 1), needs - 1);
                break;
            }
            case Value::String: {
                const void* zero = std::memchr(at, 0, static_cast<std::size_t>(limit - at));
                const std::size_t length = static_cast<std::size_t>(
                    (zero != nullptr ? static_cast<const char*>(zero) : limit) - at);
                if (zero == nullptr ||
                    length >= kBinaryDxfBufferBytes - static_cast<std::size_t>(out - out_.get())) {
                    used_ = static_cast<std::size_t>(out - out_.get());
                    if (!convertLongString(at, inputOffset(start), code)) return;
                    ++groupsWaiting_;
                    continue;
                }
                std::memcpy(out, at, length);
                out += length;
                *out++ = '\n';
                needs = length + 1;
                // A drawing ends at 0/EOF: whatever follows is not converted.
                outcome_.endedAtEof = code == 0 && length == 3 && std::memcmp(at, "EOF", 3) == 0;
                break;
            }
        }
        begin_ = static_cast<std::size_t>(at + needs - in_.get());
        used_ = static_cast<std::size_t>(out - out_.get());
        ++groupsWaiting_;
        if (outcome_.endedAtEof) break;
    }
    const std::int64_t at = base_ + static_cast<std::int64_t>(begin_);
    if (!drain(used_)) {
        end(BinaryDxfStatus::WriteStopped, at,
            "the output was refused after " + std::to_string(outcome_.asciiBytes) +
                " bytes, at the end of the input");
    } else if (!readFailure_.empty() && !outcome_.endedAtEof) {
        end(BinaryDxfStatus::ReadFailed, at, readFailure_ + ", after a whole group");
    } else {
        used_ = 0;
        end(BinaryDxfStatus::Converted, at, std::string());
    }
    outcome_.wholeGroupsEnd = at;
    outcome_.asciiWholeGroupsEnd = outcome_.asciiBytes;
}

BinaryDxfOutcome Converter::run() {
    // The sentinel and enough of the first group to tell the width of codes.
    refill(kBinaryDxfSentinelBytes + 3);
    const std::int64_t got = static_cast<std::int64_t>(end_);
    const auto cutShort = [&](const char* where) {
        if (readFailure_.empty()) {
            end(BinaryDxfStatus::CutShort, got, "cut short at " + byteText(got) + ", " + where);
        } else {
            end(BinaryDxfStatus::ReadFailed, got, readFailure_ + ", " + where);
        }
    };
    if (end_ == 0 && readFailure_.empty()) {
        end(BinaryDxfStatus::NotBinaryDxf, 0, "not binary DXF: the input is empty");
    } else if (std::memcmp(in_.get(), kBinaryDxfSentinel.data(),
                           std::min(end_, kBinaryDxfSentinelBytes)) != 0) {
        end(BinaryDxfStatus::NotBinaryDxf, 0,
            "not binary DXF: the input does not open with \"AutoCAD Binary DXF\", CR LF, SUB, NUL");
    } else if (end_ < kBinaryDxfSentinelBytes) {
        cutShort("inside the binary DXF sentinel");
    } else if (end_ == kBinaryDxfSentinelBytes && readFailure_.empty()) {
        // The sentinel and nothing after it: a drawing of no groups.
        end(BinaryDxfStatus::Converted, got, std::string());
        outcome_.wholeGroupsEnd = got;
    } else {
        const int width =
            codeWidthOf(reinterpret_cast<const unsigned char*>(in_.get()) + kBinaryDxfSentinelBytes,
                        end_ - kBinaryDxfSentinelBytes);
        outcome_.wholeGroupsEnd = static_cast<std::int64_t>(kBinaryDxfSentinelBytes);
        if (width < 0) {
            cutShort("inside the first group, which starts at byte 22");
        } else if (width == 0) {
            end(BinaryDxfStatus::Malformed, static_cast<std::int64_t>(kBinaryDxfSentinelBytes),
                "the first group, at byte 22, is neither 0 (SECTION) nor 999 (a comment) in codes "
                "of one byte or "
                "two, so the width of its codes cannot be told");
        } else {
            begin_ = kBinaryDxfSentinelBytes;
            outcome_.codeBytes = width;
            if (width == 2) {
                convertGroups<2>();
            } else {
                convertGroups<1>();
            }
        }
    }
    return outcome_;
}

}  // namespace

bool isBinaryDxf(std::string_view head) {
    return head.size() >= kBinaryDxfSentinelBytes &&
           head.substr(0, kBinaryDxfSentinelBytes) == kBinaryDxfSentinel;
}

const char* binaryDxfStatusName(BinaryDxfStatus status) {
    switch (status) {
        case BinaryDxfStatus::Converted:
            return "converted";
        case BinaryDxfStatus::NotBinaryDxf:
            return "not binary DXF";
        case BinaryDxfStatus::Malformed:
            return "malformed";
        case BinaryDxfStatus::CutShort:
            return "cut short";
        case BinaryDxfStatus::ReadFailed:
            return "read failed";
        case BinaryDxfStatus::WriteStopped:
            return "write stopped";
    }
    return "unknown";
}

BinaryDxfOutcome convertBinaryDxf(const BinaryDxfRead& read, const BinaryDxfWrite& write) {
    return Converter(read, write).run();
}

BinaryDxfOutcome convertBinaryDxf(std::string_view bytes, const BinaryDxfWrite& write) {
    std::size_t offset = 0;
    const BinaryDxfRead read = [bytes, &offset](char* buffer, std::size_t size) {
        const std::size_t take = std::min(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
    return Converter(read, write).run();
}

}  // namespace wqhost
