// Line stream: line ends of every kind with the offsets after each line, lines longer than
// the buffer, positioning, host faults while reading, and clean construction failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "DxfFileStrmIo.h"
#include "FakeHost.hpp"
#include "Sweep.hpp"

namespace {

using wqtest::FakeHost;
using namespace std::string_literals;
constexpr int32_t kSize = DxfLineBytes;

// One readLine: its result, the string it left, and the position and line start after it.
using Line = std::tuple<int32_t, std::string, int32_t, int32_t>;

struct Lines {
    explicit Lines(const std::string& document)
        : host(document),
          lines(newDxfFileStrmIo(host.services(), host.stream(), nullptr, nullptr)) {}
    ~Lines() {
        deleteDxfFileStrmIo(lines);
        EXPECT_TRUE(host.poolBlocksLive() == 0 && host.closes == host.opens);
    }
    // A line must be terminated within the buffer; a failed read must not move.
    void expect(const std::vector<Line>& expected) {
        ASSERT_NE(lines, nullptr);
        for (const Line& want : expected) {
            const int32_t before = lines->position(lines);
            const int32_t n = lines->readLine(lines, buffer, kSize);
            EXPECT_TRUE(n < 0 ? lines->position(lines) == before : n < kSize && buffer[n] == '\0');
            EXPECT_EQ(Line(n, n < 0 ? "" : buffer, lines->position(lines), lines->lineStart(lines)),
                      want);
        }
    }
    FakeHost host;
    DxfFileStrmIo* lines;
    char buffer[kSize + 1] = {};  // the last byte stays 0, so a missing terminator cannot overrun
};

// A line of `length` bytes in which a lost or doubled byte shows.
std::string patterned(int32_t length) {
    std::string line;
    for (int32_t i = 0; i < length; ++i) line += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return line;
}

TEST(LineStream, EveryKindOfLineEndWithTheOffsetAfterEachLine) {
    const std::string full = patterned(kSize - 1);  // the CR is the last byte of a block
    const std::string fits = patterned(kSize - 2);  // the CR LF pair fits in the block
    const std::pair<std::string, std::vector<Line>> cases[] = {
        {"abc\nde\n\nf\n", {{3, "abc", 4, 0}, {2, "de", 7, 4}, {0, "", 8, 7}, {1, "f", 10, 8}}},
        {"abc\r\n\r\ndef\n", {{3, "abc", 5, 0}, {0, "", 7, 5}, {3, "def", 11, 7}}},
        {"abc\rdef\r", {{3, "abc", 4, 0}, {3, "def", 8, 4}}},
        // An LF anywhere in the bytes read wins, so the CR stays inside the line.
        {"a\rb\nc\r", {{3, "a\rb", 4, 0}, {1, "c", 6, 4}}},
        {"a\r\r\n", {{2, "a\r", 4, 0}}},  // only one CR is dropped
        {"0\nEOF", {{1, "0", 2, 0}, {3, "EOF", 5, 2}}},
        // The search stops at a zero byte: the block up to the bytes read is one line
        // whose string ends at the zero.
        {"ab\0cd\nef\n"s, {{9, "ab", 9, 0}}},
        {"ab\0c\rd"s, {{6, "ab", 6, 0}}},
        {"ab\ncd\0\n"s, {{2, "ab", 3, 0}, {4, "cd", 7, 3}}},
        // A CR ending a block with no LF ends the line; its LF comes out as an empty line.
        {full + "\r\nb\n",
         {{kSize - 1, full, kSize, 0}, {0, "", kSize + 1, kSize}, {1, "b", kSize + 3, kSize + 1}}},
        {fits + "\r\nb\n", {{kSize - 2, fits, kSize, 0}, {1, "b", kSize + 2, kSize}}},
    };
    for (const auto& [document, lines] : cases) {
        SCOPED_TRACE(document.substr(0, 12));
        Lines s(document);
        const int32_t size = static_cast<int32_t>(document.size());
        EXPECT_TRUE(s.lines && s.lines->lineStart(s.lines) == 0);  // before any readLine
        s.expect(lines);
        s.expect({{-1, "", size, size}});
    }
    // A line end or zero byte at every offset: in a full run of eight bytes, in the bytes
    // after the last run, or as the last byte read. A zero before an LF makes the block the line.
    for (int32_t at = 0; at < 20; ++at) {
        for (const auto& rest : {"\n"s, "\nabcdefgh\n"s, "\rabc"s, "\0\n"s, "\0abcdefgh\n"s}) {
            SCOPED_TRACE(::testing::Message() << at << " " << static_cast<int>(rest[0]));
            const std::string line = patterned(at);
            const int32_t size = static_cast<int32_t>(line.size() + rest.size());
            Lines(line + rest).expect({rest[0] ? Line{at, line, at + 1, 0}
                                               : Line{size, line, size, 0}});
        }
    }
}

// A line that fits with its LF comes out whole; a longer one in pieces of size-1 bytes, the
// last byte of each full block going to the terminator, and no byte lost or read twice.
TEST(LineStream, LongLinesComeOutInPiecesWithoutLosingAByte) {
    for (int32_t length : {2047, 2048, 2049, 4094, 4095, 6000}) {
        SCOPED_TRACE(length);
        const std::string line = patterned(length);
        std::vector<Line> pieces;
        for (int32_t at = 0, n; at < length; at += n) {
            n = std::min(kSize - 1, length - at);
            const int32_t end = at + n + (at + n == length ? 1 : 0);  // past the LF at the end
            pieces.push_back(Line{n, line.substr(size_t(at), size_t(n)), end, at});
        }
        pieces.push_back(Line{4, "next", length + 6, length + 1});
        Lines(line + "\nnext\n").expect(pieces);
    }
}

// A failed read is the end of the data and a failed seek an empty line, however often it
// fails; neither moves, which is how callers tell a failed seek from an empty line, and
// the next call retries. setPosition stays within the document and records the position
// even when its seek fails; readLine starts where the position slot says.
TEST(LineStream, PositioningAndHostFaults) {
    const Line ab{2, "ab", 3, 0}, cd{2, "cd", 6, 3}, empty{0, "", 3, 3}, end{-1, "", 3, 3};
    const std::vector<Line> want[] = {{ab, end, cd}, {ab, empty, cd}, {ab, empty, empty, empty}};
    for (int kind = 0; kind < 3; ++kind) {  // a read, a seek, seeks for good
        SCOPED_TRACE(kind);
        Lines s("ab\ncd\n");
        wqtest::Fault& fault = kind == 0 ? s.host.readFault : s.host.seekFault;
        fault.failAt = fault.calls + 1;
        fault.persistent = kind == 2;
        s.expect(want[kind]);
    }
    Lines s("ab\ncd\n");
    DxfFileStrmIo* l = s.lines;
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->setPosition(l, 4), 1);  // mid-line: reading starts there
    s.expect({{1, "d", 6, 4}});
    EXPECT_EQ(l->setPosition(l, 6), 1);  // the size itself reads as the end
    s.expect({{-1, "", 6, 6}});
    for (int32_t beyond : {7, -1, INT32_MIN})
        EXPECT_TRUE(l->setPosition(l, beyond) == 0 && l->position(l) == 6) << beyond;
    s.host.seekFault = {0, true};
    EXPECT_EQ(l->setPosition(l, 0), 0);
    s.expect({{0, "", 0, 0}});
    s.host.seekFault.failAt = -1;
    s.expect({{2, "ab", 3, 0}});
    l->position = [](DxfFileStrmIo*) { return 3; };
    s.expect({{2, "cd", 3, 3}});
}

// Builds a line stream on its own or on given collaborators (made before `arm` spoils the
// host), reads the first line and deletes everything; given ones must stay usable.
template <class Arm>
bool buildAndRead(FakeHost& host, bool given, Arm arm) {
    DxfPublicStorage* pool =
        given ? newDxfPublicStorage(host.services(), StorageExactSizes) : nullptr;
    DxfStrEtc* strings = given ? newDxfStrEtc(host.services(), pool) : nullptr;
    arm(host);
    DxfFileStrmIo* lines = newDxfFileStrmIo(host.services(), host.stream(), strings, pool);
    char buffer[kSize];
    EXPECT_TRUE(lines == nullptr || lines->readLine(lines, buffer, kSize) == 1);
    deleteDxfFileStrmIo(lines);
    EXPECT_TRUE(!given || strings->findString(strings, "abc", "c") == 2);
    deleteDxfStrEtc(strings);
    deleteDxfPublicStorage(pool);
    return lines != nullptr;
}

TEST(LineStreamLife, ConstructionFailsCleanlyOnEveryHostFault) {
    const std::string document = "0\nEOF\n";
    FakeHost none(document);
    EXPECT_EQ(newDxfFileStrmIo(nullptr, none.stream(), nullptr, nullptr), nullptr);
    EXPECT_EQ(newDxfFileStrmIo(none.services(), nullptr, nullptr, nullptr), nullptr);
    // Each spoiling with how often the stream was opened, and so must be closed.
    const std::pair<void (*)(FakeHost&), int32_t> cases[] = {
        {[](FakeHost& h) { h.stream()->open = nullptr; }, 0},
        {[](FakeHost& h) { h.openFault.failAt = 0; }, 0},
        {[](FakeHost& h) { h.stream()->tell = nullptr; }, 1},
        {[](FakeHost& h) { h.tellFault.failAt = 1; }, 1},  // the tell for the size
        {[](FakeHost& h) { h.seekFault.failAt = 0; }, 1},  // to the end
        {[](FakeHost& h) { h.seekFault.failAt = 1; }, 1},  // back to the start
        {[](FakeHost& h) { h.stream()->seek = nullptr; }, 1},
        {nullptr, 1},  // an empty document
    };
    for (bool given : {false, true}) {
        SCOPED_TRACE(given ? "given storage" : "own storage");
        for (const auto& c : cases) {
            SCOPED_TRACE(&c - cases);
            FakeHost host(c.first ? document : "");
            EXPECT_FALSE(buildAndRead(host, given, [&](FakeHost& h) { if (c.first) c.first(h); }));
            EXPECT_TRUE(host.opens == c.second && host.closes == c.second);
            EXPECT_TRUE(host.poolBlocksLive() == 0 && host.foreignFrees == 0);
        }
        wqtest::sweepAllocations(document, [&](FakeHost& host, const wqtest::Fault& fault) {
            const bool built = buildAndRead(host, given, [&](auto& h) { h.allocFault = fault; });
            EXPECT_EQ(built, host.allocFault.injected == 0);
        });
    }
}

}  // namespace
