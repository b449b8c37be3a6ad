// The binary DXF converter: each value type at its edges, the width of codes, drawings
// written as binary and converted back, and cut, damaged or refused input and output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "BinaryDxf.hpp"
#include "DrawingFiles.hpp"
#include "ReadAll.hpp"

namespace {

using namespace std::string_literals;
using wqhost::BinaryDxfOutcome;
using wqhost::BinaryDxfStatus;
using wqhost::convertBinaryDxf;
using wqhost::kBinaryDxfBufferBytes;

const std::string kSentinel("AutoCAD Binary DXF\r\n\x1a\0", 22);

// ---- The test's own reading of what a code's value is, kept apart from the converter's.

enum class Kind { String, Real, Int16, Int32, Int64, Boolean, Chunk };

struct KindRange {
    unsigned first, last;
    Kind kind;
};
constexpr KindRange kKinds[] = {
    {10, 59, Kind::Real},      {60, 79, Kind::Int16},    {90, 99, Kind::Int32},
    {110, 149, Kind::Real},    {160, 169, Kind::Int64},  {170, 179, Kind::Int16},
    {210, 239, Kind::Real},    {270, 289, Kind::Int16},  {290, 299, Kind::Boolean},
    {310, 319, Kind::Chunk},   {370, 389, Kind::Int16},  {400, 409, Kind::Int16},
    {420, 429, Kind::Int32},   {440, 459, Kind::Int32},  {460, 469, Kind::Real},
    {1004, 1004, Kind::Chunk}, {1010, 1059, Kind::Real}, {1060, 1070, Kind::Int16},
    {1071, 1071, Kind::Int32},
};

Kind kindOf(unsigned code) {
    for (const KindRange& range : kKinds) {
        if (code >= range.first && code <= range.last) return range.kind;
    }
    return Kind::String;
}

// ---- Binary DXF built by hand: each value's bytes are given, so a test states the width
// it expects instead of asking anyone's table.

class Bytes {
  public:
    explicit Bytes(int codeBytes) : codeBytes_(codeBytes), bytes_(kSentinel) {}

    Bytes& code(unsigned code) {
        starts_.push_back(bytes_.size());
        if (codeBytes_ == 2) return le(code, 2);
        if (code < 255) return le(code, 1);
        bytes_ += '\xff';
        return le(code, 2);
    }
    Bytes& text(std::string_view value) {
        bytes_ += value;
        bytes_ += '\0';
        return *this;
    }
    Bytes& int16(int value) { return le(static_cast<std::uint64_t>(value), 2); }
    Bytes& int32(std::int64_t value) { return le(static_cast<std::uint64_t>(value), 4); }
    Bytes& int64(std::int64_t value) { return le(static_cast<std::uint64_t>(value), 8); }
    Bytes& byte(unsigned value) { return le(value, 1); }
    Bytes& real(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return le(bits, 8);
    }
    Bytes& chunk(std::string_view data) {
        bytes_ += static_cast<char>(data.size());
        bytes_ += data;
        return *this;
    }
    Bytes& raw(std::string_view data) {
        bytes_ += data;
        return *this;
    }

    const std::string& bytes() const { return bytes_; }
    // Where each group ends, the last one at the end of the bytes.
    std::vector<std::size_t> groupEnds() const {
        std::vector<std::size_t> ends(starts_.begin() + (starts_.empty() ? 0 : 1), starts_.end());
        if (!starts_.empty()) ends.push_back(bytes_.size());
        return ends;
    }

  private:
    Bytes& le(std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) bytes_ += static_cast<char>((value >> (8 * i)) & 0xff);
        return *this;
    }

    int codeBytes_;
    std::string bytes_;
    std::vector<std::size_t> starts_;
};

// ---- Running the converter.

struct Conversion {
    BinaryDxfOutcome outcome;
    std::string ascii;             // everything write accepted
    std::size_t largestRead = 0;   // the most bytes read was asked for at once
    std::size_t largestWrite = 0;  // the most bytes write was handed at once
    int callsAfterEnd = 0;         // reads after the one that ended the data or failed
};

// Converts `bytes`, handed over `chunk` bytes a read (0: as many as asked for); the read
// fails (returns -1) instead of handing over byte `failAt`, and write refuses its call
// number `refuseWrite` (counting from 1; 0: never).
Conversion convert(std::string_view bytes, std::size_t chunk = 0, std::size_t failAt = SIZE_MAX,
                   int refuseWrite = 0) {
    Conversion run;
    std::size_t offset = 0;
    bool over = false;
    int writes = 0;
    bool refused = false;
    run.outcome = convertBinaryDxf(
        [&](char* buffer, std::size_t size) -> std::int64_t {
            run.callsAfterEnd += over;
            run.largestRead = std::max(run.largestRead, size);
            if (offset == failAt) return over = true, -1;
            std::size_t take = std::min({size, bytes.size() - offset, failAt - offset});
            if (chunk != 0) take = std::min(take, chunk);
            if (take == 0) return over = true, 0;
            std::memcpy(buffer, bytes.data() + offset, take);
            offset += take;
            return static_cast<std::int64_t>(take);
        },
        [&](const char* data, std::size_t size) {
            EXPECT_FALSE(refused) << "write called again after it refused";
            EXPECT_GT(size, 0u);
            run.largestWrite = std::max(run.largestWrite, size);
            if (++writes == refuseWrite) return !(refused = true);
            run.ascii.append(data, size);
            return true;
        });
    EXPECT_EQ(run.callsAfterEnd, 0);
    EXPECT_EQ(run.outcome.asciiBytes, static_cast<std::int64_t>(run.ascii.size()));
    EXPECT_EQ(run.outcome.ok(), run.outcome.message.empty()) << run.outcome.message;
    EXPECT_LE(run.largestRead, kBinaryDxfBufferBytes);
    EXPECT_LE(run.largestWrite, kBinaryDxfBufferBytes);
    return run;
}

std::string asciiOf(std::string_view bytes) {
    const Conversion run = convert(bytes);
    EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
    return run.ascii;
}

// Where each group of converted ASCII ends.
std::vector<std::size_t> asciiGroupEnds(std::string_view ascii) {
    std::vector<std::size_t> ends;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        if (ascii[i] == '\n' && ++lines % 2 == 0) ends.push_back(i + 1);
    }
    return ends;
}

// ---- Reading ASCII groups, to write a drawing as binary and to compare what comes back.

struct AsciiGroup {
    unsigned code;
    std::string_view value;  // in the drawing's bytes
    std::size_t line;        // of the code, from 1
};

std::string_view trimmed(std::string_view text) {
    const char* const space = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isInteger(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return isDigits(text);
}

// A real as DXF writers write one: digits with a point somewhere or none, an exponent.
bool isReal(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    std::size_t mantissa = text.find_first_of("eE");
    std::string_view digits = text.substr(0, mantissa);
    const std::size_t point = digits.find('.');
    if (point != std::string_view::npos) {
        const std::string_view before = digits.substr(0, point), after = digits.substr(point + 1);
        if (!(before.empty() || isDigits(before)) || !(after.empty() || isDigits(after)))
            return false;
        if (before.empty() && after.empty()) return false;
    } else if (!isDigits(digits)) {
        return false;
    }
    if (mantissa == std::string_view::npos) return true;
    return isInteger(text.substr(mantissa + 1));
}

unsigned long codeOf(std::string_view digits) {
    unsigned long code = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), code);
    return code;
}

// The groups of an ASCII drawing through its 0/EOF; false with the reason when a code line
// is not a number or has no value line.
bool asciiGroups(std::string_view text, std::vector<AsciiGroup>* groups, std::string* why) {
    std::vector<std::string_view> lines;
    lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    while (!lines.empty() && trimmed(lines.back()).empty()) lines.pop_back();
    groups->reserve(lines.size() / 2);
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string_view codeText = trimmed(lines[i]);
        if (!isDigits(codeText) || codeText.size() > 9 || codeOf(codeText) > 0xFFFF) {
            *why = "line " + std::to_string(i + 1) + ": the code is not a number from 0 to 65535";
            return false;
        }
        if (i + 1 == lines.size()) {
            *why = "line " + std::to_string(i + 1) + ": a code without its value";
            return false;
        }
        std::string_view value = lines[i + 1];
        if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
        groups->push_back({static_cast<unsigned>(codeOf(codeText)), value, i + 1});
        if (groups->back().code == 0 && trimmed(value) == "EOF") break;
    }
    return true;
}

// A real as strtod reads it, as Python's float() does (a real too large is infinite).
double realOf(std::string_view text) {
    char copy[64];
    if (text.size() >= sizeof copy) return std::strtod(std::string(text).c_str(), nullptr);
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return std::strtod(copy, nullptr);
}

// The integer an ASCII value gives a code that wants one: decimal, or a real with nothing
// after the point.
bool integerOf(std::string_view text, long double* value) {
    text = trimmed(text);
    if (isInteger(text)) {
        long long whole = 0;
        if (text[0] == '+') text.remove_prefix(1);
        const bool fits =
            std::from_chars(text.data(), text.data() + text.size(), whole).ec == std::errc();
        *value = fits ? static_cast<long double>(whole) : text[0] == '-' ? -1e30L : 1e30L;
        return true;
    }
    if (!isReal(text)) return false;
    const double real = realOf(text);
    *value = real;
    return std::floor(real) == real;
}

// ---- Drawings written as binary by the tests' writer, tests/binaryDxf.py (which the
// end-to-end checks use too; its bytes are held to those built by hand below).

struct Binary {
    std::string bytes;
    std::vector<std::size_t> groupEnds;  // where each group ends in `bytes`
    std::string refusal;                 // why the writer refused the drawing; "" when written
};

// Where each group ends once written, as the test reckons the width of codes and values.
std::vector<std::size_t> binaryGroupEnds(std::string_view ascii, int codeBytes) {
    std::vector<AsciiGroup> groups;
    std::string why;
    EXPECT_TRUE(asciiGroups(ascii, &groups, &why)) << why;
    std::vector<std::size_t> ends;
    std::size_t at = kSentinel.size();
    for (const AsciiGroup& group : groups) {
        at += codeBytes == 2 ? 2 : group.code < 255 ? 1 : 3;
        switch (kindOf(group.code)) {
            case Kind::String: at += group.value.size() + 1; break;
            case Kind::Real: case Kind::Int64: at += 8; break;
            case Kind::Int32: at += 4; break;
            case Kind::Int16: at += 2; break;
            case Kind::Boolean: at += 1; break;
            case Kind::Chunk: at += 1 + trimmed(group.value).size() / 2; break;
        }
        ends.push_back(at);
    }
    return ends;
}

// `ascii` written as binary with codes of `codeBytes` bytes by tests/binaryDxf.py.
Binary toBinary(std::string_view ascii, int codeBytes) {
    Binary out;
    char folder[] = "/tmp/testBinaryDxf.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        ADD_FAILURE() << "no temporary folder";
        return out;
    }
    const std::string in = folder + "/in.dxf"s, written = folder + "/out.dxf"s,
                      errors = folder + "/errors"s;
    std::FILE* file = std::fopen(in.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        std::fwrite(ascii.data(), 1, ascii.size(), file);
        std::fclose(file);
    }
    const std::string command = "/usr/bin/python3 '" WQ_SOURCE_DIR "/tests/binaryDxf.py' '" +
                                in + "' '" + written + "'" + (codeBytes == 1 ? " --r12" : "") +
                                " 2>'" + errors + "'";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
        wqhost::readFile(errors, &out.refusal);
        if (out.refusal.empty()) out.refusal = "refused without a reason";
        EXPECT_NE(access(written.c_str(), F_OK), 0) << "a refused drawing leaves no file";
    } else {
        EXPECT_EQ(status, 0) << command;
        EXPECT_TRUE(wqhost::readFile(written, &out.bytes)) << written;
        out.groupEnds = binaryGroupEnds(ascii, codeBytes);
        EXPECT_EQ(out.groupEnds.empty() ? 0 : out.groupEnds.back(), out.bytes.size())
            << "the writer's groups are not as wide as their codes want";
    }
    for (const std::string& path : {in, written, errors}) std::remove(path.c_str());
    rmdir(folder);
    return out;
}

// Why converted ASCII differs from the drawing's groups, or "" when every group comes back:
// codes equal, strings byte for byte, numbers as numbers, chunks as bytes.
std::string differences(const std::vector<AsciiGroup>& want, std::string_view converted) {
    std::vector<AsciiGroup> got;
    std::string why;
    if (!asciiGroups(converted, &got, &why)) return "the converted ASCII does not parse: " + why;
    if (got.size() != want.size()) {
        return std::to_string(got.size()) + " groups come back of " + std::to_string(want.size());
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        const AsciiGroup &a = want[i], &b = got[i];
        const auto where = [&] {
            return "group " + std::to_string(i) + " (line " + std::to_string(a.line) + ", code " +
                   std::to_string(a.code) + "): ";
        };
        if (a.code != b.code) return where() + "comes back as code " + std::to_string(b.code);
        bool same = true;
        switch (kindOf(a.code)) {
            case Kind::String:
                same = a.value == b.value;
                break;
            case Kind::Real: {
                const double x = realOf(trimmed(a.value)), y = realOf(b.value);
                same = (x == y && std::signbit(x) == std::signbit(y)) ||
                       (std::isnan(x) && std::isnan(y));
                same = same && b.value.find_first_of(".en") != std::string_view::npos;  // a real
                break;
            }
            case Kind::Chunk: {
                std::string upper(trimmed(a.value));
                for (char& c : upper)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                same = upper == b.value;
                break;
            }
            default: {
                long double x = 0;
                integerOf(a.value, &x);
                same = isInteger(b.value) && b.value[0] != '+' &&
                       std::to_string(static_cast<long long>(x)) == b.value;
            }
        }
        if (!same) {
            return where() + "'" + std::string(a.value) + "' comes back as '" +
                   std::string(b.value) + "'";
        }
    }
    return "";
}

std::string readDrawing(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(wqhost::readFile(path, &bytes)) << path;
    return bytes;
}

std::vector<std::string> projectDrawings() {
    std::vector<std::string> paths;
    for (const char* folder : {"/samples", "/tests/drawings"}) {
        std::string error;
        EXPECT_TRUE(wqhost::findDrawings(std::string(WQ_SOURCE_DIR) + folder, &paths, &error))
            << error;
    }
    return paths;
}

// A drawing with a group of every type, both kinds of escape and an empty string, with
// the ASCII it converts to.
Bytes everyType(int codeBytes) {
    Bytes b(codeBytes);
    b.code(0).text("SECTION").code(2).text("ENTITIES").code(0).text("TEXT");
    b.code(1).text("").code(1).text("\x93\xfa\x96\x7b \xe2\x80\x94 \\M+18140");
    b.code(10).real(1).code(20).real(-0.0).code(30).real(0.1).code(40).real(1e300).code(50).real(
        5e-324);
    b.code(62).int16(-1).code(70).int16(-32768).code(71).int16(32767);
    b.code(90).int32(-2147483648LL).code(91).int32(2147483647).code(160).int64(INT64_MIN);
    b.code(290)
        .byte(1)
        .code(291)
        .byte(0)
        .code(292)
        .byte(255)
        .code(310)
        .chunk("\x00\xab\xff"s)
        .code(311)
        .chunk("");
    b.code(312).chunk(std::string(255, '\x55'));
    b.code(255)
        .text("code 255 needs the escape too")
        .code(1001)
        .text("ACAD")
        .code(1000)
        .text("xdata");
    b.code(1004).chunk("\x7f").code(1040).real(-2.5).code(1070).int16(-7).code(1071).int32(-70000);
    b.code(4000).text("unknown").code(0).text("ENDSEC").code(0).text("EOF");
    return b;
}

const std::string kEveryTypeAscii =
    "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\n\n1\n\x93\xfa\x96\x7b \xe2\x80\x94 \\M+18140\n"
    "10\n1.0\n20\n-0.0\n30\n0.1\n40\n1e+300\n50\n5e-324\n"
    "62\n-1\n70\n-32768\n71\n32767\n90\n-2147483648\n91\n2147483647\n160\n-9223372036854775808\n"
    "290\n1\n291\n0\n292\n255\n310\n00ABFF\n311\n\n312\n" +
    std::string(510, '5') +
    "\n"
    "255\ncode 255 needs the escape too\n1001\nACAD\n1000\nxdata\n"
    "1004\n7F\n1040\n-2.5\n1070\n-7\n1071\n-70000\n4000\nunknown\n0\nENDSEC\n0\nEOF\n";

// ---- Values.

TEST(BinaryDxfValues, EveryTypeInBothCodeWidths) {
    // In reads of every size, so that a chunk of 255 bytes comes in pieces too.
    for (int width : {1, 2}) {
        for (std::size_t chunk : {0u, 1u, 7u, 300u}) {
            SCOPED_TRACE("codes of " + std::to_string(width) + " bytes, reads of " +
                         std::to_string(chunk));
            const Conversion run = convert(everyType(width).bytes(), chunk);
            ASSERT_TRUE(run.outcome.ok()) << run.outcome.message;
            EXPECT_EQ(run.ascii, kEveryTypeAscii);
            EXPECT_EQ(run.outcome.codeBytes, width);
            EXPECT_EQ(run.outcome.groups,
                      static_cast<std::int64_t>(everyType(width).groupEnds().size()));
            EXPECT_TRUE(run.outcome.endedAtEof);
            EXPECT_EQ(run.outcome.offset,
                      static_cast<std::int64_t>(everyType(width).bytes().size()));
        }
    }
}

TEST(BinaryDxfValues, EveryCodeReadsAsManyBytesAsItsTypeHolds) {
    // A value of the wrong width throws the groups after it out of step: the ENDSEC after
    // each group under test comes out only when the group took its own bytes exactly.
    std::vector<unsigned> codes;
    for (unsigned code = 0; code <= 1100; ++code) codes.push_back(code);
    for (unsigned code : {1200u, 4096u, 32767u, 32768u, 65535u}) codes.push_back(code);
    for (int width : {1, 2}) {
        for (unsigned code : codes) {
            Bytes b(width);
            b.code(0).text("SECTION").code(code);
            std::string text;
            switch (kindOf(code)) {
                case Kind::String:
                    b.text("v"), text = "v";
                    break;
                case Kind::Real:
                    b.real(-2.5), text = "-2.5";
                    break;
                case Kind::Int16:
                    b.int16(-2), text = "-2";
                    break;
                case Kind::Int32:
                    b.int32(-70000), text = "-70000";
                    break;
                case Kind::Int64:
                    b.int64(-5000000000LL), text = "-5000000000";
                    break;
                case Kind::Boolean:
                    b.byte(1), text = "1";
                    break;
                case Kind::Chunk:
                    b.chunk("\x01\xfe"), text = "01FE";
                    break;
            }
            b.code(0).text("ENDSEC");
            EXPECT_EQ(asciiOf(b.bytes()),
                      "0\nSECTION\n" + std::to_string(code) + "\n" + text + "\n0\nENDSEC\n")
                << "code " << code << ", codes of " << width << " bytes";
        }
    }
}

// The value lines of a drawing of one code 10 group for each of `values`.
std::vector<std::string> realLines(const std::vector<double>& values) {
    Bytes b(2);
    b.code(0).text("S");
    for (double value : values) b.code(10).real(value);
    const std::string ascii = asciiOf(b.bytes());
    std::vector<std::string> lines;
    for (std::size_t at = 4; at < ascii.size();) {  // past "0\nS\n", then "10\n<value>\n" each
        const std::size_t end = ascii.find('\n', at + 3);
        lines.push_back(ascii.substr(at + 3, end - at - 3));
        at = end + 1;
    }
    EXPECT_EQ(lines.size(), values.size());
    return lines;
}

// What a real must come out as: its shortest decimal, as std::to_chars finds it, with
// ".0" after the digits of a whole number.
std::string shortestOf(double value) {
    char text[40];
    std::string shortest(text, std::to_chars(text, text + sizeof text, value).ptr);
    if (std::isfinite(value) && shortest.find_first_of(".e") == std::string::npos) shortest += ".0";
    return shortest;
}

TEST(BinaryDxfValues, RealsComeOutShortestAndReadBackExactly) {
    const std::pair<double, const char*> known[] = {
        {1, "1.0"},
        {-0.0, "-0.0"},
        {100, "100.0"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e16, "1e+16"},
        {123456789012, "123456789012.0"},
        {-1.5e-7, "-1.5e-07"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        {NAN, "nan"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {99999, "99999.0"},
        {100000, "1e+05"},
        {1e5 + 0.5, "100000.5"},
        {-0.001, "-0.001"},
        {0.00012, "0.00012"},
        {0.0001, "1e-04"},
        {123.456, "123.456"},
        {-2.5, "-2.5"},
        {1e15 - 0.5, "999999999999999.5"},
    };
    std::vector<double> values;
    for (const auto& known1 : known) values.push_back(known1.first);
    const std::vector<std::string> lines = realLines(values);
    for (std::size_t i = 0; i < values.size() && i < lines.size(); ++i)
        EXPECT_EQ(lines[i], known[i].second);

    // Whatever the bits: reads back as the same double, as a real, as to_chars has it.
    std::mt19937_64 random(20240229);
    values.clear();
    while (values.size() < 20000) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isnan(value)) values.push_back(value);
    }
    // And the reals drawings hold: decimals of 1 to 17 digits around the point, whole
    // numbers and halves, and the doubles at and beside powers of ten, where the number of
    // digits before the point changes.
    for (int i = 0; i < 40000; ++i) {
        std::string digits = std::to_string(random() % 9 + 1);
        for (std::uint64_t more = random() % 17; more > 0; --more)
            digits += static_cast<char>('0' + random() % 10);
        const std::string text = (random() % 2 ? "-" : "") + digits.substr(0, 1) + "." +
                                 digits.substr(1) + "e" +
                                 std::to_string(static_cast<int>(random() % 24) - 6);
        values.push_back(std::strtod(text.c_str(), nullptr));
    }
    for (int i = 0; i < 5000; ++i)
        values.push_back(static_cast<double>(random() % 2000000000000000000ull) / 2 - 5e17);
    for (int exponent = -8; exponent <= 22; ++exponent) {
        const double power = std::strtod(("1e" + std::to_string(exponent)).c_str(), nullptr);
        for (double value : {power, std::nextafter(power, 0.0), std::nextafter(power, INFINITY),
                             power * 0.999999}) {
            values.push_back(value);
            values.push_back(-value);
        }
    }
    const std::vector<std::string> all = realLines(values);
    for (std::size_t i = 0; i < values.size() && i < all.size(); ++i) {
        const double back = std::strtod(all[i].c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << all[i];
        ASSERT_EQ(all[i], shortestOf(values[i]));
    }
}

// ---- The width of codes and what is not binary DXF.

TEST(BinaryDxfWidth, TheFirstGroupTellsOneByteFromTwoByteCodes) {
    // The same groups, each width; the one-byte drawing's first value starts with 'S'.
    const std::string one =
        Bytes(1).code(0).text("SECTION").code(9).text("$ACADVER").code(1).text("AC1009").bytes();
    const std::string two =
        Bytes(2).code(0).text("SECTION").code(9).text("$ACADVER").code(1).text("AC1009").bytes();
    const std::string ascii = "0\nSECTION\n9\n$ACADVER\n1\nAC1009\n";
    EXPECT_EQ(convert(one).outcome.codeBytes, 1);
    EXPECT_EQ(convert(two).outcome.codeBytes, 2);
    EXPECT_EQ(asciiOf(one), ascii);
    EXPECT_EQ(asciiOf(two), ascii);
    // The escape takes the code that follows as 16 bits, low byte first, in one-byte mode
    // only; two-byte codes have none, so byte 255 there is the low byte of a code.
    EXPECT_EQ(asciiOf(Bytes(1).code(0).text("S").raw("\xff\xe8\x03"s).text("x").bytes()),
              "0\nS\n1000\nx\n");
    EXPECT_EQ(asciiOf(Bytes(2).code(0).text("S").raw("\xff\x00\x78\x00"s).bytes()),
              "0\nS\n255\nx\n");
    // A comment before the first section, as many writers put one: 999 tells the width too.
    for (int width : {1, 2}) {
        const Conversion run =
            convert(Bytes(width).code(999).text("made by hand").code(0).text("SECTION").bytes());
        EXPECT_EQ(run.outcome.codeBytes, width);
        EXPECT_EQ(run.ascii, "999\nmade by hand\n0\nSECTION\n");
    }
}

TEST(BinaryDxfWidth, WhatIsNotABinaryDrawingIsRefusedWithoutAGroup) {
    EXPECT_TRUE(wqhost::isBinaryDxf(kSentinel));
    EXPECT_TRUE(wqhost::isBinaryDxf(everyType(2).bytes()));
    EXPECT_FALSE(wqhost::isBinaryDxf(kSentinel.substr(0, 21)));
    EXPECT_FALSE(wqhost::isBinaryDxf("AutoCAD Binary DXF\r\n\x1a "));
    EXPECT_FALSE(wqhost::isBinaryDxf("0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n"));
    EXPECT_FALSE(wqhost::isBinaryDxf(""));

    struct Case {
        std::string bytes;
        BinaryDxfStatus status;
        const char* says;
    };
    const Case cases[] = {
        {"", BinaryDxfStatus::NotBinaryDxf, "empty"},
        {"0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n", BinaryDxfStatus::NotBinaryDxf,
         "not binary DXF"},
        {"AutoCAD Binary DXF\n\x1a"s + std::string(8, '\0'), BinaryDxfStatus::NotBinaryDxf,
         "not binary DXF"},
        {kSentinel + "garbage that is no group", BinaryDxfStatus::Malformed, "neither 0"},
        {kSentinel + "\xff\xe8\x03"s + "xdata first", BinaryDxfStatus::Malformed, "neither 0"},
        {kSentinel + "\x01\x00"s + "TEXT", BinaryDxfStatus::Malformed, "byte 22"},
        {kSentinel.substr(0, 11), BinaryDxfStatus::CutShort, "sentinel"},
    };
    for (const Case& c : cases) {
        const Conversion run = convert(c.bytes);
        EXPECT_EQ(run.outcome.status, c.status) << c.bytes;
        EXPECT_NE(run.outcome.message.find(c.says), std::string::npos) << run.outcome.message;
        EXPECT_EQ(run.ascii, "");
        EXPECT_EQ(run.outcome.groups, 0);
    }
    // The sentinel alone is a drawing of no groups.
    const Conversion empty = convert(kSentinel);
    EXPECT_TRUE(empty.outcome.ok());
    EXPECT_EQ(empty.ascii, "");
    EXPECT_EQ(empty.outcome.offset, 22);
}

TEST(BinaryDxfWidth, ConversionEndsAtTheEofGroup) {
    // Junk after 0/EOF (here a string that never ends) is not read; an EOF that is not a
    // code 0 value, or not exactly "EOF", is an ordinary group.
    const Bytes b =
        Bytes(2).code(0).text("SECTION").code(1).text("EOF").code(0).text("EOF ").code(0).text(
            "EOF");
    const Conversion run = convert(b.bytes() + "\x01\x00 no terminating zero"s);
    ASSERT_TRUE(run.outcome.ok()) << run.outcome.message;
    EXPECT_TRUE(run.outcome.endedAtEof);
    EXPECT_EQ(run.ascii, "0\nSECTION\n1\nEOF\n0\nEOF \n0\nEOF\n");
    EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(b.bytes().size()));
    const Conversion noEof = convert(Bytes(2).code(0).text("SECTION").bytes());
    EXPECT_TRUE(noEof.outcome.ok() && !noEof.outcome.endedAtEof);
}

// ---- Drawings written as binary and converted back.

// Writes `ascii` as binary in both widths, and converts it back in reads of each of
// `chunks` bytes.
void expectRoundTrip(const std::string& path, const std::string& ascii,
                     const std::vector<std::size_t>& chunks) {
    std::vector<AsciiGroup> groups;
    std::string why;
    ASSERT_TRUE(asciiGroups(ascii, &groups, &why)) << path << ": " << why;
    for (int width : {1, 2}) {
        const Binary binary = toBinary(ascii, width);
        ASSERT_EQ(binary.refusal, "") << path;
        for (std::size_t chunk : chunks) {
            const Conversion run = convert(binary.bytes, chunk);
            ASSERT_TRUE(run.outcome.ok()) << path << ": " << run.outcome.message;
            EXPECT_EQ(run.outcome.codeBytes, width);
            EXPECT_EQ(run.outcome.groups, static_cast<std::int64_t>(groups.size()));
            EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(binary.bytes.size()));
            ASSERT_EQ(differences(groups, run.ascii), "")
                << path << ", codes of " << width << " bytes, reads of " << chunk;
        }
    }
}

TEST(BinaryDxfRoundTrip, ProjectDrawingsComeBackGroupForGroupInEveryChunking) {
    // The writer's bytes are those built by hand, escapes and all.
    for (int width : {1, 2})
        EXPECT_TRUE(toBinary(kEveryTypeAscii, width).bytes == everyType(width).bytes());
    int written = 0;
    for (const std::string& path : projectDrawings()) {
        const std::string ascii = readDrawing(path);
        if (path.find("fields_positions") != std::string::npos) {
            // Its positions include words where a number belongs: the writer refuses it
            // rather than make a number up.
            EXPECT_NE(toBinary(ascii, 2).refusal.find("not a number"), std::string::npos);
            continue;
        }
        expectRoundTrip(path, ascii, {0, 1, 2, 3, 7, 511, 513});
        ++written;
    }
    EXPECT_GE(written, 10);
}

TEST(BinaryDxfRoundTrip, ADrawingOfManyBuffersInEveryChunking) {
    // The title block's entities again and again, some 1 MiB: groups and values straddle
    // every buffer boundary of both buffers, in reads of every size.
    const std::string sample = readDrawing(WQ_SOURCE_DIR "/samples/title_block.dxf");
    const std::size_t entities = sample.find("ENTITIES\n") + 9, endsec = sample.rfind("0\nENDSEC");
    std::string ascii = sample.substr(0, entities);
    while (ascii.size() < (1u << 20)) ascii += sample.substr(entities, endsec - entities);
    ascii += "0\nENDSEC\n0\nEOF\n";
    expectRoundTrip("repeated title block", ascii, {0, 1, 4093, 65535, 65537});
}

// ---- Cut, damaged and refused input and output.

// Every cut of `bytes`, whose groups end at `groupEnds`: a cut between groups converts
// what comes before it; a cut inside one is reported where it falls, after the whole
// groups before it have been written, exactly as the full conversion writes them.
void expectEveryCut(const std::string& bytes, const std::vector<std::size_t>& groupEnds) {
    const std::string full = asciiOf(bytes);
    const std::vector<std::size_t> asciiEnds = asciiGroupEnds(full);
    ASSERT_EQ(asciiEnds.size(), groupEnds.size());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const Conversion run = convert(std::string_view(bytes).substr(0, cut));
        if (cut < 22) {
            EXPECT_EQ(run.outcome.status,
                      cut == 0 ? BinaryDxfStatus::NotBinaryDxf : BinaryDxfStatus::CutShort);
            EXPECT_EQ(run.ascii, "");
            continue;
        }
        const std::size_t whole = static_cast<std::size_t>(
            std::upper_bound(groupEnds.begin(), groupEnds.end(), cut) - groupEnds.begin());
        const std::size_t wholeEnd = whole == 0 ? 22 : groupEnds[whole - 1];
        EXPECT_EQ(run.ascii, full.substr(0, whole == 0 ? 0 : asciiEnds[whole - 1]));
        EXPECT_EQ(run.outcome.groups, static_cast<std::int64_t>(whole));
        EXPECT_EQ(run.outcome.wholeGroupsEnd, static_cast<std::int64_t>(wholeEnd));
        EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, run.outcome.asciiBytes);
        if (cut == wholeEnd) {
            EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
        } else {
            EXPECT_EQ(run.outcome.status, BinaryDxfStatus::CutShort);
            EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(cut));
            EXPECT_NE(run.outcome.message.find("cut short at byte " + std::to_string(cut)),
                      std::string::npos)
                << run.outcome.message;
            EXPECT_NE(run.outcome.message.find("starts at byte " + std::to_string(wholeEnd)),
                      std::string::npos)
                << run.outcome.message;
        }
    }
}

TEST(BinaryDxfDamage, ACutAtEveryByteEndsInsideAGroupWithAnErrorAndAPrefix) {
    for (int width : {1, 2}) {
        SCOPED_TRACE(width);
        const Bytes b = everyType(width);
        expectEveryCut(b.bytes(), b.groupEnds());
        const Bytes comment =
            Bytes(width).code(999).text("c").code(0).text("SECTION").code(0).text("EOF");
        expectEveryCut(comment.bytes(), comment.groupEnds());
        const Binary sample =
            toBinary(readDrawing(WQ_SOURCE_DIR "/samples/title_block.dxf"), width);
        expectEveryCut(sample.bytes, sample.groupEnds);
    }
}

TEST(BinaryDxfDamage, AStringWithoutItsTerminatingZeroIsCutShort) {
    for (std::size_t length : {std::size_t{5}, std::size_t{600}, std::size_t{300000}}) {
        const Bytes b = Bytes(2).code(0).text("SECTION").code(1).raw(std::string(length, 'q'));
        const Conversion run = convert(b.bytes(), 1000);
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::CutShort);
        EXPECT_NE(run.outcome.message.find(
                      "string of group 1 that starts at byte 32 has no terminating zero"),
                  std::string::npos)
            << run.outcome.message;
        EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(b.bytes().size()));
        EXPECT_EQ(run.outcome.wholeGroupsEnd, 32);
        EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, 10);  // "0\nSECTION\n"
        EXPECT_EQ(run.ascii.substr(0, 10), "0\nSECTION\n");
    }
}

TEST(BinaryDxfDamage, AStringLongerThanBothBuffersPassesThroughInBlocks) {
    // Four times the buffers: the value streams through (every read and write at most a
    // buffer, which convert() checks) rather than being gathered first.
    const std::string value(4 * kBinaryDxfBufferBytes + 3, 'L');
    const Bytes b = Bytes(1).code(0).text("SECTION").code(1).text(value).code(0).text("EOF");
    const std::string ascii = "0\nSECTION\n1\n" + value + "\n0\nEOF\n";
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{65537}}) {
        const Conversion run = convert(b.bytes(), chunk);
        EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
        EXPECT_TRUE(run.ascii == ascii);
        EXPECT_EQ(run.outcome.groups, 3);
    }
    // Cut inside it: its first part has been written already, behind the whole groups.
    for (std::size_t cut : {std::size_t{200000}, b.bytes().size() - 10}) {
        const Conversion run = convert(std::string_view(b.bytes()).substr(0, cut));
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::CutShort);
        EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, 10);
        EXPECT_GT(run.outcome.asciiBytes, 10);
        EXPECT_EQ(run.outcome.groups, 1);
        EXPECT_TRUE(ascii.compare(0, run.ascii.size(), run.ascii) == 0) << "not a prefix";
    }
}

TEST(BinaryDxfDamage, GarbageAfterTheSentinelEndsCleanly) {
    // Random bytes behind a first code 0, in both widths: whatever they decode to, the
    // conversion ends with an outcome, never reads past the data, and writes whole groups.
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = kSentinel + '\0';
        const std::size_t length = random() % 400;
        for (std::size_t i = 0; i < length; ++i) {
            // No line feeds: the groups written are counted by their lines.
            const char byte = static_cast<char>(random() % 4 == 0 ? 0 : random());
            bytes += byte == '\n' ? ' ' : byte;
        }
        const Conversion run = convert(bytes, 1 + random() % 64);
        const BinaryDxfStatus status = run.outcome.status;
        ASSERT_TRUE(status == BinaryDxfStatus::Converted || status == BinaryDxfStatus::CutShort)
            << bytes;
        ASSERT_LE(run.outcome.offset, static_cast<std::int64_t>(bytes.size()));
        ASSERT_EQ(asciiGroupEnds(run.ascii).size(), static_cast<std::size_t>(run.outcome.groups));
        ASSERT_EQ(run.ascii.size(),
                  asciiGroupEnds(run.ascii).empty() ? 0 : asciiGroupEnds(run.ascii).back());
    }
}

TEST(BinaryDxfDamage, AFailedReadStopsAfterTheWholeGroupsBeforeIt) {
    const Bytes b = everyType(2);
    const std::string full = asciiOf(b.bytes());
    const std::vector<std::size_t> ends = b.groupEnds(), asciiEnds = asciiGroupEnds(full);
    for (std::size_t failAt :
         {std::size_t{0}, std::size_t{10}, std::size_t{22}, std::size_t{40}, ends[5] + 1}) {
        const Conversion run = convert(b.bytes(), 3, failAt);
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::ReadFailed) << failAt;
        EXPECT_NE(run.outcome.message.find("reading the input failed"), std::string::npos);
        const std::size_t whole = static_cast<std::size_t>(
            std::upper_bound(ends.begin(), ends.end(), failAt) - ends.begin());
        EXPECT_EQ(run.ascii, full.substr(0, whole == 0 ? 0 : asciiEnds[whole - 1])) << failAt;
    }
    // A read that hands over more than it was asked for has gone wrong too.
    const BinaryDxfOutcome greedy = convertBinaryDxf(
        [](char*, std::size_t size) { return static_cast<std::int64_t>(size) + 1; },
        [](const char*, std::size_t) { return true; });
    EXPECT_EQ(greedy.status, BinaryDxfStatus::ReadFailed);
}

TEST(BinaryDxfDamage, AWriteThatRefusesStopsTheConversion) {
    // Some 300 KB of ASCII: several blocks, refused in turn.
    const std::string sample = readDrawing(WQ_SOURCE_DIR "/samples/title_block.dxf");
    std::string ascii = sample.substr(0, sample.rfind("0\nEOF"));
    while (ascii.size() < 300000) ascii += "999\na comment between sections\n";
    ascii += "0\nEOF\n";
    const Binary binary = toBinary(ascii, 2);
    ASSERT_EQ(binary.refusal, "");
    const std::string full = asciiOf(binary.bytes);
    for (int refuse = 1; refuse <= 4; ++refuse) {
        const Conversion run = convert(binary.bytes, 0, SIZE_MAX, refuse);
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::WriteStopped) << refuse;
        EXPECT_NE(run.outcome.message.find("the output was refused"), std::string::npos);
        EXPECT_TRUE(full.compare(0, run.ascii.size(), run.ascii) == 0);
        EXPECT_EQ(static_cast<std::size_t>(run.outcome.groups), asciiGroupEnds(run.ascii).size());
        EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, run.outcome.asciiBytes);
    }
    // Refused inside a string longer than the output buffer: the groups before it stay whole.
    const std::string value(3 * kBinaryDxfBufferBytes, 'v');
    const Conversion run =
        convert(Bytes(2).code(0).text("SECTION").code(1).text(value).bytes(), 0, SIZE_MAX, 2);
    EXPECT_EQ(run.outcome.status, BinaryDxfStatus::WriteStopped);
    EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, 10);
    EXPECT_EQ(run.outcome.groups, 1);
    EXPECT_EQ(run.outcome.wholeGroupsEnd, 32);
}

}  // namespace
