// The binary DXF converter as its callers see it: the ASCII each value type comes out as, the
// width of codes, and what cut, damaged or refused input and output leave behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "BinaryDxf.hpp"
#include "ReadAll.hpp"

namespace {

using namespace std::string_literals;
using wqhost::BinaryDxfOutcome;
using wqhost::BinaryDxfStatus;
using wqhost::convertBinaryDxf;
using wqhost::kBinaryDxfBufferBytes;

const std::string kSentinel("AutoCAD Binary DXF\r\n\x1a\0", 22);

// The test's own table of what a code's value is, kept apart from the converter's.
enum class Kind { String, Real, Int16, Int32, Int64, Boolean, Chunk };

Kind kindOf(unsigned code) {
    static constexpr struct {
        unsigned first, last;
        Kind kind;
    } kKinds[] = {{10, 59, Kind::Real},      {60, 79, Kind::Int16},    {90, 99, Kind::Int32},
                  {110, 149, Kind::Real},    {160, 169, Kind::Int64},  {170, 179, Kind::Int16},
                  {210, 239, Kind::Real},    {270, 289, Kind::Int16},  {290, 299, Kind::Boolean},
                  {310, 319, Kind::Chunk},   {370, 389, Kind::Int16},  {400, 409, Kind::Int16},
                  {420, 429, Kind::Int32},   {440, 459, Kind::Int32},  {460, 469, Kind::Real},
                  {1004, 1004, Kind::Chunk}, {1010, 1059, Kind::Real}, {1060, 1070, Kind::Int16},
                  {1071, 1071, Kind::Int32}};
    for (const auto& range : kKinds) {
        if (code >= range.first && code <= range.last) return range.kind;
    }
    return Kind::String;
}

// Binary DXF built by hand: each value's bytes are given, so a test states the width it
// expects instead of asking anyone's table.
class Bytes {
  public:
    explicit Bytes(int codeBytes) : codeBytes_(codeBytes), bytes_(kSentinel) {}

    Bytes& code(unsigned code) {
        starts_.push_back(bytes_.size());
        if (codeBytes_ == 1 && code >= 255) bytes_ += '\xff';
        return le(code, codeBytes_ == 1 && code < 255 ? 1 : 2);
    }
    Bytes& text(std::string_view value) { return raw(value).raw("\0"s); }
    Bytes& int16(int value) { return le(static_cast<std::uint64_t>(value), 2); }
    Bytes& int32(std::int64_t value) { return le(static_cast<std::uint64_t>(value), 4); }
    Bytes& int64(std::int64_t value) { return le(static_cast<std::uint64_t>(value), 8); }
    Bytes& byte(unsigned value) { return le(value, 1); }
    Bytes& real(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return le(bits, 8);
    }
    Bytes& chunk(std::string_view data) { return le(data.size(), 1).raw(data); }
    Bytes& raw(std::string_view data) { return bytes_ += data, *this; }

    const std::string& bytes() const { return bytes_; }
    // Where each group ends, the last one at the end of the bytes.
    std::vector<std::size_t> groupEnds() const {
        if (starts_.empty()) return {};
        std::vector<std::size_t> ends(starts_.begin() + 1, starts_.end());
        ends.push_back(bytes_.size());
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

struct Conversion {
    BinaryDxfOutcome outcome;
    std::string ascii;  // everything write accepted
};

// Converts `bytes`, handed over `chunk` bytes a read (0: as many as asked for); the read
// fails (returns -1) instead of handing over byte `failAt`, and write refuses its call
// number `refuseWrite` (counting from 1; 0: never). Whatever happens, no read or write may
// pass the buffer size, nor read come after the data ended or failed, nor write after it
// refused: that is what keeps a caller's memory and input bounded.
Conversion convert(std::string_view bytes, std::size_t chunk = 0, std::size_t failAt = SIZE_MAX,
                   int refuseWrite = 0) {
    Conversion run;
    std::size_t offset = 0;
    bool over = false, refused = false;
    int writes = 0;
    run.outcome = convertBinaryDxf(
        [&](char* buffer, std::size_t size) -> std::int64_t {
            EXPECT_FALSE(over) << "read again after the data ended or failed";
            EXPECT_LE(size, kBinaryDxfBufferBytes);
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
            EXPECT_LE(size, kBinaryDxfBufferBytes);
            if (++writes == refuseWrite) return !(refused = true);
            run.ascii.append(data, size);
            return true;
        });
    EXPECT_EQ(run.outcome.asciiBytes, static_cast<std::int64_t>(run.ascii.size()));
    EXPECT_EQ(run.outcome.ok(), run.outcome.message.empty()) << run.outcome.message;
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

// A drawing of `entities` entities holding a group of every type, both kinds of escape and
// an empty string, opening with a comment as many writers put one, which tells the width of
// codes as 0/SECTION does; everyTypeAscii() is what it converts to.
Bytes everyType(int codeBytes, int entities = 1) {
    Bytes b(codeBytes);
    b.code(999).text("made by hand").code(0).text("SECTION").code(2).text("ENTITIES");
    for (int i = 0; i < entities; ++i) {
        b.code(0).text("TEXT").code(1).text("").code(1).text(
            "\x93\xfa\x96\x7b \xe2\x80\x94 \\M+18140");
        b.code(10).real(1).code(20).real(-0.0).code(30).real(0.1).code(40).real(1e300);
        b.code(50).real(5e-324).code(62).int16(-1).code(70).int16(-32768).code(71).int16(32767);
        b.code(90).int32(-2147483648LL).code(91).int32(2147483647).code(160).int64(INT64_MIN);
        b.code(290).byte(1).code(291).byte(0).code(292).byte(255);
        b.code(310).chunk("\x00\xab\xff"s).code(311).chunk("");
        b.code(312).chunk(std::string(255, 'U'));
        b.code(255).text("code 255 needs the escape too").code(1001).text("ACAD");
        b.code(1000).text("xdata").code(1004).chunk("\x7f").code(1040).real(-2.5);
        b.code(1070).int16(-7).code(1071).int32(-70000).code(4000).text("unknown");
    }
    b.code(0).text("ENDSEC").code(0).text("EOF");
    return b;
}

std::string everyTypeAscii(int entities = 1) {
    std::string ascii = "999\nmade by hand\n0\nSECTION\n2\nENTITIES\n";
    for (int i = 0; i < entities; ++i) {
        ascii +=
            "0\nTEXT\n1\n\n1\n\x93\xfa\x96\x7b \xe2\x80\x94 \\M+18140\n"
            "10\n1.0\n20\n-0.0\n30\n0.1\n40\n1e+300\n50\n5e-324\n62\n-1\n70\n-32768\n"
            "71\n32767\n90\n-2147483648\n91\n2147483647\n160\n-9223372036854775808\n"
            "290\n1\n291\n0\n292\n255\n310\n00ABFF\n311\n\n312\n" +
            std::string(510, '5') +
            "\n255\ncode 255 needs the escape too\n1001\nACAD\n1000\nxdata\n"
            "1004\n7F\n1040\n-2.5\n1070\n-7\n1071\n-70000\n4000\nunknown\n";
    }
    return ascii + "0\nENDSEC\n0\nEOF\n";
}

// `ascii` written as binary with codes of `codeBytes` bytes by tests/binaryDxf.py, the
// writer the end-to-end checks use too.
std::string toBinary(std::string_view ascii, int codeBytes) {
    char folder[] = "/tmp/testBinaryDxf.XXXXXX";
    EXPECT_NE(mkdtemp(folder), nullptr) << "no temporary folder";
    const std::string in = folder + "/in.dxf"s, out = folder + "/out.dxf"s;
    EXPECT_TRUE(std::ofstream(in, std::ios::binary) << ascii) << in;
    const std::string command = "/usr/bin/python3 '" WQ_SOURCE_DIR "/tests/binaryDxf.py' '" + in +
                                "' '" + out + "'" + (codeBytes == 1 ? " --r12" : "");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::string bytes;
    EXPECT_TRUE(wqhost::readFile(out, &bytes)) << out;
    for (const std::string& path : {in, out}) std::remove(path.c_str());
    rmdir(folder);
    return bytes;
}

// ---- Values.

TEST(BinaryDxfValues, EveryTypeInBothCodeWidthsAndEveryChunking) {
    // One entity in reads of every size, so that a chunk of 255 bytes comes in pieces too;
    // then some 1 MiB of ASCII, whose groups and values straddle every boundary of both
    // buffers.
    const std::pair<int, std::vector<std::size_t>> runs[] = {{1, {0, 1, 7, 300}},
                                                             {1400, {0, 1, 4093, 65535, 65537}}};
    for (const auto& [entities, chunks] : runs) {
        const std::string ascii = everyTypeAscii(entities);
        for (int width : {1, 2}) {
            const Bytes b = everyType(width, entities);
            for (std::size_t chunk : chunks) {
                SCOPED_TRACE(std::to_string(entities) + " entities, codes of " +
                             std::to_string(width) + " bytes, reads of " + std::to_string(chunk));
                const Conversion run = convert(b.bytes(), chunk);
                ASSERT_TRUE(run.outcome.ok()) << run.outcome.message;
                EXPECT_TRUE(run.ascii == ascii);
                EXPECT_EQ(run.outcome.codeBytes, width);
                EXPECT_EQ(run.outcome.groups, static_cast<std::int64_t>(b.groupEnds().size()));
                EXPECT_TRUE(run.outcome.endedAtEof);
                EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(b.bytes().size()));
            }
        }
    }
}

TEST(BinaryDxfValues, EveryCodeReadsAsManyBytesAsItsTypeHolds) {
    // A value of its kind (listed in the order of Kind) after each code: a value of the wrong
    // width throws the groups after it out of step, so the ENDSEC after it comes out only
    // when the group took its own bytes exactly.
    const struct {
        Bytes& (*put)(Bytes&);
        const char* text;
    } kSamples[] = {
        {[](Bytes& b) -> Bytes& { return b.text("v"); }, "v"},
        {[](Bytes& b) -> Bytes& { return b.real(-2.5); }, "-2.5"},
        {[](Bytes& b) -> Bytes& { return b.int16(-2); }, "-2"},
        {[](Bytes& b) -> Bytes& { return b.int32(-70000); }, "-70000"},
        {[](Bytes& b) -> Bytes& { return b.int64(-5000000000LL); }, "-5000000000"},
        {[](Bytes& b) -> Bytes& { return b.byte(1); }, "1"},
        {[](Bytes& b) -> Bytes& { return b.chunk("\x01\xfe"); }, "01FE"},
    };
    std::vector<unsigned> codes;
    for (unsigned code = 0; code <= 1100; ++code) codes.push_back(code);
    for (unsigned code : {1200u, 4096u, 32767u, 32768u, 65535u}) codes.push_back(code);
    for (int width : {1, 2}) {
        for (unsigned code : codes) {
            const auto& sample = kSamples[static_cast<int>(kindOf(code))];
            Bytes b(width);
            sample.put(b.code(0).text("SECTION").code(code)).code(0).text("ENDSEC");
            EXPECT_EQ(asciiOf(b.bytes()),
                      "0\nSECTION\n" + std::to_string(code) + "\n" + sample.text + "\n0\nENDSEC\n")
                << "code " << code << ", codes of " << width << " bytes";
        }
    }
}

// The value lines of a drawing of one code 10 group for each of `values`.
std::vector<std::string> realLines(const std::vector<double>& values) {
    Bytes b(2);
    b.code(0).text("S");
    for (double value : values) b.code(10).real(value);
    std::istringstream ascii(asciiOf(b.bytes()).substr(4));  // past "0\nS\n"
    std::vector<std::string> lines;
    for (std::string code, value; std::getline(ascii, code) && std::getline(ascii, value);)
        lines.push_back(value);
    EXPECT_EQ(lines.size(), values.size());
    return lines;
}

TEST(BinaryDxfValues, RealsComeOutShortestAndReadBackExactly) {
    // Where to_chars turns from the fixed form to the exponent form, and the ends of doubles.
    std::string known;
    for (const std::string& line :
         realLines({1,         -0.0,      100,          0.1,
                    0.1 + 0.2, 1e16,      123456789012, -1.5e-7,
                    INFINITY,  -INFINITY, NAN,          1.7976931348623157e308,
                    99999,     100000,    1e5 + 0.5,    -0.001,
                    0.00012,   0.0001,    123.456,      -2.5,
                    1e15 - 0.5}))
        known += line + " ";
    EXPECT_EQ(known,
              "1.0 -0.0 100.0 0.1 0.30000000000000004 1e+16 123456789012.0 -1.5e-07 inf -inf nan "
              "1.7976931348623157e+308 99999.0 1e+05 100000.5 -0.001 0.00012 1e-04 123.456 -2.5 "
              "999999999999999.5 ");

    // Whatever the bits: reads back as the same double, as to_chars has it with ".0" after
    // the digits of a whole number.
    std::mt19937_64 random(20240229);
    std::vector<double> values;
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
        char text[40];
        std::string shortest(text, std::to_chars(text, text + sizeof text, values[i]).ptr);
        if (std::isfinite(values[i]) && shortest.find_first_of(".e") == std::string::npos)
            shortest += ".0";
        ASSERT_EQ(all[i], shortest);
    }
}

// ---- The width of codes, what is not binary DXF, and where conversion ends.

TEST(BinaryDxfWidth, WhatIsNotABinaryDrawingIsRefusedWithoutAGroup) {
    EXPECT_TRUE(wqhost::isBinaryDxf(kSentinel));
    EXPECT_TRUE(wqhost::isBinaryDxf(everyType(2).bytes()));
    for (const std::string& head : {kSentinel.substr(0, 21), "AutoCAD Binary DXF\r\n\x1a "s,
                                    "0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n"s, ""s})
        EXPECT_FALSE(wqhost::isBinaryDxf(head)) << head;

    const struct {
        std::string bytes;
        BinaryDxfStatus status;
        const char* says;
    } cases[] = {
        {"", BinaryDxfStatus::NotBinaryDxf, "empty"},
        {"0\nSECTION\n2\nHEADER\n0\nENDSEC\n0\nEOF\n", BinaryDxfStatus::NotBinaryDxf,
         "not binary DXF"},
        {"AutoCAD Binary DXF\n\x1a"s + std::string(8, '\0'), BinaryDxfStatus::NotBinaryDxf,
         "not binary DXF"},
        {kSentinel + "garbage that is no group", BinaryDxfStatus::Malformed, "neither 0"},
        {kSentinel + "\xff\xe8\x03"s + "xdata first", BinaryDxfStatus::Malformed, "neither 0"},
        {kSentinel + "\x01\x00"s + "TEXT", BinaryDxfStatus::Malformed, "byte 22"},
        {kSentinel.substr(0, 11), BinaryDxfStatus::CutShort, "sentinel"},
        {kSentinel, BinaryDxfStatus::Converted, ""},  // a drawing of no groups
    };
    for (const auto& c : cases) {
        const Conversion run = convert(c.bytes);
        EXPECT_EQ(run.outcome.status, c.status) << c.bytes;
        EXPECT_NE(run.outcome.message.find(c.says), std::string::npos) << run.outcome.message;
        EXPECT_EQ(run.ascii, "");
        EXPECT_EQ(run.outcome.groups, 0);
        EXPECT_TRUE(!run.outcome.ok() || run.outcome.offset == 22) << run.outcome.offset;
    }
}

TEST(BinaryDxfWidth, ConversionEndsAtTheEofGroup) {
    // Junk after 0/EOF (here a string that never ends) is not read; an EOF that is not a
    // code 0 value, or not exactly "EOF", is an ordinary group.
    const Bytes b = Bytes(2).code(0).text("SECTION").code(1).text("EOF").code(0).text("EOF ");
    const std::string bytes = b.bytes() + "\0\0EOF\0"s;  // 0/EOF
    const Conversion run = convert(bytes + "\x01\x00 no terminating zero"s);
    ASSERT_TRUE(run.outcome.ok()) << run.outcome.message;
    EXPECT_TRUE(run.outcome.endedAtEof);
    EXPECT_EQ(run.ascii, "0\nSECTION\n1\nEOF\n0\nEOF \n0\nEOF\n");
    EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(bytes.size()));
    const Conversion noEof = convert(b.bytes());
    EXPECT_TRUE(noEof.outcome.ok() && !noEof.outcome.endedAtEof);
}

// ---- Drawings converted whole.

TEST(BinaryDxfRoundTrip, DrawingsComeBackAsTheyWereWritten) {
    // The writer's bytes are those built by hand, escapes and all; so a drawing it writes
    // comes back when the ASCII converted from it is written as the same bytes again. A few
    // drawings will do: tests/checkBinary.py takes every one end to end.
    for (int width : {1, 2})
        EXPECT_TRUE(toBinary(everyTypeAscii(), width) == everyType(width).bytes());
    for (const char* name : {"samples/title_block.dxf", "tests/drawings/shiftjis.dxf",
                             "tests/drawings/entities_kinds.dxf"}) {
        std::string ascii;
        ASSERT_TRUE(wqhost::readFile(WQ_SOURCE_DIR "/"s + name, &ascii)) << name;
        for (int width : {1, 2}) {
            SCOPED_TRACE(name + ", codes of "s + std::to_string(width) + " bytes");
            const std::string binary = toBinary(ascii, width);
            const Conversion whole = convert(binary);
            ASSERT_TRUE(whole.outcome.ok()) << whole.outcome.message;
            EXPECT_EQ(whole.outcome.codeBytes, width);
            EXPECT_EQ(whole.outcome.offset, static_cast<std::int64_t>(binary.size()));
            EXPECT_EQ(whole.outcome.groups,
                      static_cast<std::int64_t>(asciiGroupEnds(whole.ascii).size()));
            EXPECT_TRUE(toBinary(whole.ascii, width) == binary);
            for (std::size_t chunk : {1u, 7u}) EXPECT_EQ(convert(binary, chunk).ascii, whole.ascii);
        }
    }
}

// ---- Cut, damaged and refused input and output.

// The data of `b` cut at every byte, or its read failing there: a cut between groups converts
// what comes before it; a cut inside one, or a failed read, is reported where it falls, after
// the whole groups before it have been written exactly as the full conversion writes them.
void expectEveryCut(const Bytes& b) {
    const std::string& bytes = b.bytes();
    const std::vector<std::size_t> groupEnds = b.groupEnds();
    const std::string full = asciiOf(bytes);
    const std::vector<std::size_t> asciiEnds = asciiGroupEnds(full);
    ASSERT_EQ(asciiEnds.size(), groupEnds.size());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const Conversion run = convert(std::string_view(bytes).substr(0, cut));
        const Conversion failed = convert(bytes, 3, cut);
        EXPECT_EQ(failed.outcome.status, BinaryDxfStatus::ReadFailed);
        EXPECT_NE(failed.outcome.message.find("reading the input failed"), std::string::npos);
        EXPECT_EQ(failed.outcome.offset, static_cast<std::int64_t>(cut));
        if (cut < 22) {
            EXPECT_EQ(run.outcome.status,
                      cut == 0 ? BinaryDxfStatus::NotBinaryDxf : BinaryDxfStatus::CutShort);
            EXPECT_EQ(run.ascii + failed.ascii, "");
            continue;
        }
        const std::size_t whole = static_cast<std::size_t>(
            std::upper_bound(groupEnds.begin(), groupEnds.end(), cut) - groupEnds.begin());
        const std::size_t wholeEnd = whole == 0 ? 22 : groupEnds[whole - 1];
        for (const Conversion* c : {&run, &failed}) {
            EXPECT_EQ(c->ascii, full.substr(0, whole == 0 ? 0 : asciiEnds[whole - 1]));
            EXPECT_EQ(c->outcome.groups, static_cast<std::int64_t>(whole));
            EXPECT_EQ(c->outcome.wholeGroupsEnd, static_cast<std::int64_t>(wholeEnd));
            EXPECT_EQ(c->outcome.asciiWholeGroupsEnd, c->outcome.asciiBytes);
        }
        if (cut == wholeEnd) {
            EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
            continue;
        }
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::CutShort);
        EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(cut));
        for (const std::string& says : {"cut short at byte " + std::to_string(cut),
                                        "starts at byte " + std::to_string(wholeEnd)})
            EXPECT_NE(run.outcome.message.find(says), std::string::npos) << run.outcome.message;
    }
}

TEST(BinaryDxfDamage, ACutOrFailedReadAtEveryByteWritesTheWholeGroupsBeforeIt) {
    for (int width : {1, 2}) {
        SCOPED_TRACE(width);
        expectEveryCut(everyType(width));
        expectEveryCut(Bytes(width).code(0).text("SECTION").code(0).text("EOF"));
    }
    // A read that hands over more than it was asked for has gone wrong too.
    const BinaryDxfOutcome greedy = convertBinaryDxf(
        [](char*, std::size_t size) { return static_cast<std::int64_t>(size) + 1; },
        [](const char*, std::size_t) { return true; });
    EXPECT_EQ(greedy.status, BinaryDxfStatus::ReadFailed);
}

TEST(BinaryDxfDamage, AStringLongerThanBothBuffersPassesThroughInBlocks) {
    // Four times the buffers: the value streams through (every read and write at most a
    // buffer, which convert() checks) rather than being gathered first; a cut or a refused
    // write inside it leaves the groups before it whole.
    const std::string value(4 * kBinaryDxfBufferBytes + 3, 'L');
    const std::string ascii = "0\nSECTION\n1\n" + value + "\n0\nEOF\n";
    for (int width : {1, 2}) {
        SCOPED_TRACE(width);
        const std::string bytes =
            Bytes(width).code(0).text("SECTION").code(1).text(value).code(0).text("EOF").bytes();
        for (std::size_t chunk : {0u, 1u, 65537u}) {
            const Conversion run = convert(bytes, chunk);
            EXPECT_TRUE(run.outcome.ok()) << run.outcome.message;
            EXPECT_TRUE(run.ascii == ascii);
            EXPECT_EQ(run.outcome.groups, 3);
        }
        // A short cut or a long one: a long one has had its first part written already.
        const std::size_t start = kSentinel.size() + static_cast<std::size_t>(width) + 8;
        for (std::size_t cut : {start + 7, start + 602, std::size_t{200000}, bytes.size() - 10}) {
            const Conversion run = convert(std::string_view(bytes).substr(0, cut), 1000);
            EXPECT_EQ(run.outcome.status, BinaryDxfStatus::CutShort);
            EXPECT_NE(run.outcome.message.find("string of group 1 that starts at byte " +
                                               std::to_string(start) + " has no terminating zero"),
                      std::string::npos)
                << run.outcome.message;
            EXPECT_EQ(run.outcome.offset, static_cast<std::int64_t>(cut));
            EXPECT_EQ(run.outcome.wholeGroupsEnd, static_cast<std::int64_t>(start));
            EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, 10);  // "0\nSECTION\n"
            EXPECT_EQ(run.outcome.groups, 1);
            if (cut > 2 * kBinaryDxfBufferBytes) {
                EXPECT_GT(run.outcome.asciiBytes, 10) << cut;
            }
            EXPECT_TRUE(run.ascii == ascii.substr(0, run.ascii.size()));
        }
        const Conversion refused = convert(bytes, 0, SIZE_MAX, 2);
        EXPECT_EQ(refused.outcome.status, BinaryDxfStatus::WriteStopped);
        EXPECT_EQ(refused.outcome.asciiWholeGroupsEnd, 10);
        EXPECT_EQ(refused.outcome.groups, 1);
        EXPECT_EQ(refused.outcome.wholeGroupsEnd, static_cast<std::int64_t>(start));
    }
}

TEST(BinaryDxfDamage, GarbageAfterTheSentinelEndsCleanly) {
    // Random bytes behind a first code 0, in both widths: whatever they decode to, the
    // conversion ends with an outcome, never reads past the data, and writes whole groups.
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = kSentinel + '\0';
        for (std::size_t length = random() % 400; length > 0; --length) {
            // No line feeds: the groups written are counted by their lines.
            const char byte = static_cast<char>(random() % 4 == 0 ? 0 : random());
            bytes += byte == '\n' ? ' ' : byte;
        }
        const Conversion run = convert(bytes, 1 + random() % 64);
        const BinaryDxfStatus status = run.outcome.status;
        ASSERT_TRUE(status == BinaryDxfStatus::Converted || status == BinaryDxfStatus::CutShort)
            << bytes;
        ASSERT_LE(run.outcome.offset, static_cast<std::int64_t>(bytes.size()));
        const std::vector<std::size_t> ends = asciiGroupEnds(run.ascii);
        ASSERT_EQ(ends.size(), static_cast<std::size_t>(run.outcome.groups));
        ASSERT_EQ(run.ascii.size(), ends.empty() ? 0 : ends.back());
    }
}

TEST(BinaryDxfDamage, AWriteThatRefusesStopsTheConversion) {
    // Some 300 KB of ASCII: several blocks, refused in turn.
    const Bytes b = everyType(2, 400);
    const std::string full = asciiOf(b.bytes());
    for (int refuse = 1; refuse <= 4; ++refuse) {
        const Conversion run = convert(b.bytes(), 0, SIZE_MAX, refuse);
        EXPECT_EQ(run.outcome.status, BinaryDxfStatus::WriteStopped) << refuse;
        EXPECT_NE(run.outcome.message.find("the output was refused"), std::string::npos);
        EXPECT_TRUE(run.ascii == full.substr(0, run.ascii.size()));
        EXPECT_EQ(static_cast<std::size_t>(run.outcome.groups), asciiGroupEnds(run.ascii).size());
        EXPECT_EQ(run.outcome.asciiWholeGroupsEnd, run.outcome.asciiBytes);
    }
}

}  // namespace
