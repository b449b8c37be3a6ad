// Line stream: line ends of every kind with the offsets after each line, lines longer than
// the buffer, positioning, host faults while reading, and clean construction failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DxfFileStrmIo.h"
#include "FakeHost.hpp"

namespace {

constexpr int32_t kSize = DxfLineBytes;

struct Line {
    int32_t length;
    std::string text;   // the bytes up to the terminator the stream wrote
    int32_t position;   // after the call
    int32_t lineStart;  // after the call
    bool operator==(const Line& o) const {
        return length == o.length && text == o.text && position == o.position &&
               lineStart == o.lineStart;
    }
};
std::ostream& operator<<(std::ostream& out, const Line& l) {
    return out << "{" << l.length << ", \"" << l.text << "\", pos " << l.position << ", start "
               << l.lineStart << "}";
}

class Lines {
public:
    explicit Lines(const std::string& document) : host(document) {
        lines = newDxfFileStrmIo(host.services(), host.stream(), nullptr, nullptr);
    }
    ~Lines() {
        deleteDxfFileStrmIo(lines);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.closes, host.opens);
    }
    // One readLine. Every result of 0 or more must leave a terminated string within the
    // buffer, and the stream writes nothing past that terminator (the fake host's 0xA5
    // fill past the bytes it read would show a missing one).
    Line read() {
        std::memset(buffer, 0x5A, sizeof buffer);
        const int32_t before = lines->position(lines);
        const int32_t length = lines->readLine(lines, buffer, kSize);
        if (length < 0) {
            EXPECT_EQ(lines->position(lines), before) << "a failed read must not move";
            return Line{length, "", lines->position(lines), lines->lineStart(lines)};
        }
        EXPECT_LT(length, kSize);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(lines->lineStart(lines), before);
        return Line{length, std::string(buffer, std::strlen(buffer)), lines->position(lines),
                    lines->lineStart(lines)};
    }
    std::vector<Line> readAll() {
        std::vector<Line> all;
        for (int guard = 0; guard < 100; ++guard) {
            all.push_back(read());
            if (all.back().length < 0) break;
        }
        return all;
    }
    wqtest::FakeHost host;
    DxfFileStrmIo* lines = nullptr;
    char buffer[kSize + 16];
};

TEST(LineStream, EveryKindOfLineEndWithTheOffsetAfterEachLine) {
    struct Case { const char* name; std::string document; std::vector<Line> lines; } cases[] = {
        {"LF", "abc\nde\n\nf\n",
         {{3, "abc", 4, 0}, {2, "de", 7, 4}, {0, "", 8, 7}, {1, "f", 10, 8}, {-1, "", 10, 10}}},
        {"CR LF", "abc\r\ndef\n",
         {{3, "abc", 5, 0}, {3, "def", 9, 5}, {-1, "", 9, 9}}},
        {"CR only", "abc\rdef\r",
         {{3, "abc", 4, 0}, {3, "def", 8, 4}, {-1, "", 8, 8}}},
        {"empty LF lines", "\n\n", {{0, "", 1, 0}, {0, "", 2, 1}, {-1, "", 2, 2}}},
        {"lone CR LF", "\r\n", {{0, "", 2, 0}, {-1, "", 2, 2}}},
        // An LF anywhere in the bytes read wins, so the CR stays inside the line.
        {"CR before LF", std::string("a\rb\nc\r"), {{3, "a\rb", 4, 0}, {1, "c", 6, 4}, {-1, "", 6, 6}}},
        // Only one CR before the LF is dropped.
        {"CR CR LF", "a\r\r\n", {{2, "a\r", 4, 0}, {-1, "", 4, 4}}},
        {"no line end at the end", "0\nEOF", {{1, "0", 2, 0}, {3, "EOF", 5, 2}, {-1, "", 5, 5}}},
        // The search stops at a zero byte: what follows it is not looked at, so the block
        // up to the bytes read is one line whose string ends at the zero.
        {"zero byte", std::string("ab\0cd\nef\n", 9), {{9, "ab", 9, 0}, {-1, "", 9, 9}}},
        {"zero byte before a CR", std::string("ab\0c\rd", 6), {{6, "ab", 6, 0}, {-1, "", 6, 6}}},
        {"zero byte after the line end", std::string("ab\ncd\0\n", 7),
         {{2, "ab", 3, 0}, {4, "cd", 7, 3}, {-1, "", 7, 7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lines s(c.document);
        ASSERT_NE(s.lines, nullptr);
        EXPECT_EQ(s.lines->fileSize(s.lines), static_cast<int32_t>(c.document.size()));
        EXPECT_EQ(s.lines->lineStart(s.lines), 0);  // before any readLine
        EXPECT_EQ(s.readAll(), c.lines);
    }
}

TEST(LineStream, TheLastLineIsTerminatedRightAfterItsBytes) {
    Lines s("EOF");
    ASSERT_NE(s.lines, nullptr);
    EXPECT_EQ(s.read(), (Line{3, "EOF", 3, 0}));
    EXPECT_EQ(static_cast<unsigned char>(s.buffer[4]), 0xA5);  // nothing written past it
}

// A line of `length` bytes in which a lost or doubled byte shows.
std::string patterned(int32_t length) {
    std::string line;
    for (int32_t i = 0; i < length; ++i) line += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return line;
}

TEST(LineStream, LongLinesComeOutInPiecesWithoutLosingAByte) {
    for (int32_t length : {2046, 2047, 2048, 2049, 3000, 4094, 4095, 6000}) {
        SCOPED_TRACE(length);
        const std::string line = patterned(length);
        Lines s(line + "\nnext\n");
        ASSERT_NE(s.lines, nullptr);
        std::string joined;
        int32_t pieces = 0;
        int32_t expectedStart = 0;
        for (Line piece = s.read(); piece.text != "next"; piece = s.read()) {
            ASSERT_GE(piece.length, 0);
            ASSERT_LE(pieces, 4);
            EXPECT_EQ(piece.lineStart, expectedStart);
            EXPECT_EQ(piece.length, static_cast<int32_t>(piece.text.size()));
            joined += piece.text;
            expectedStart = piece.position;
            ++pieces;
        }
        EXPECT_EQ(joined, line);
        // A line that fits with its LF comes out whole; a longer one in pieces of
        // size-1 bytes, the last byte of each full block going to the terminator.
        EXPECT_EQ(pieces, length <= kSize - 1 ? 1 : (length + kSize - 2) / (kSize - 1));
        EXPECT_EQ(s.read().length, -1);
    }
}

TEST(LineStream, CrLfPairAcrossTheEndOfABlock) {
    // The CR is the last byte of a block without an LF: it ends the line there, and the
    // LF comes out as an empty line.
    const std::string first = patterned(kSize - 1);
    Lines straddle(first + "\r\nb\n");
    ASSERT_NE(straddle.lines, nullptr);
    EXPECT_EQ(straddle.read(), (Line{kSize - 1, first, kSize, 0}));
    EXPECT_EQ(straddle.read(), (Line{0, "", kSize + 1, kSize}));
    EXPECT_EQ(straddle.read(), (Line{1, "b", kSize + 3, kSize + 1}));

    // One byte shorter, the pair fits in the block and comes out as one line end.
    const std::string fits = patterned(kSize - 2);
    Lines whole(fits + "\r\nb\n");
    ASSERT_NE(whole.lines, nullptr);
    EXPECT_EQ(whole.read(), (Line{kSize - 2, fits, kSize, 0}));
    EXPECT_EQ(whole.read(), (Line{1, "b", kSize + 2, kSize}));
}

TEST(LineStream, SetPositionStaysWithinTheDocument) {
    Lines s("ab\ncd\n");
    ASSERT_NE(s.lines, nullptr);
    DxfFileStrmIo* l = s.lines;
    EXPECT_EQ(l->setPosition(l, 4), 1);  // mid-line: reading starts there
    EXPECT_EQ(s.read(), (Line{1, "d", 6, 4}));
    EXPECT_EQ(l->setPosition(l, 6), 1);  // the size itself is allowed and reads as the end
    EXPECT_EQ(s.read().length, -1);
    for (int32_t beyond : {7, -1, INT32_MIN}) {
        EXPECT_EQ(l->setPosition(l, beyond), 0);
        EXPECT_EQ(l->position(l), 6);
    }
    EXPECT_EQ(l->setPosition(l, 0), 1);
    EXPECT_EQ(s.read(), (Line{2, "ab", 3, 0}));
}

TEST(LineStream, HostFaultsWhileReading) {
    {  // A read fault mid-file is the end of the data, without moving; the next call retries.
        Lines s("ab\ncd\n");
        ASSERT_NE(s.lines, nullptr);
        s.host.readFault.failAt = s.host.readFault.calls + 1;
        EXPECT_EQ(s.read(), (Line{2, "ab", 3, 0}));
        EXPECT_EQ(s.read(), (Line{-1, "", 3, 3}));
        EXPECT_EQ(s.read(), (Line{2, "cd", 6, 3}));
    }
    {  // One failed seek is an empty line that does not move.
        Lines s("ab\ncd\n");
        ASSERT_NE(s.lines, nullptr);
        s.host.seekFault.failAt = s.host.seekFault.calls + 1;
        EXPECT_EQ(s.read(), (Line{2, "ab", 3, 0}));
        EXPECT_EQ(s.read(), (Line{0, "", 3, 3}));
        EXPECT_EQ(s.read(), (Line{2, "cd", 6, 3}));
    }
    {  // A stream that cannot seek any more ends the reading, so read-to-the-end loops stop;
       // once it can move again, reading goes on from the recorded position.
        Lines s("ab\ncd\n");
        ASSERT_NE(s.lines, nullptr);
        s.host.seekFault.failAt = s.host.seekFault.calls + 1;
        s.host.seekFault.persistent = true;
        EXPECT_EQ(s.read().length, 2);
        EXPECT_EQ(s.read(), (Line{0, "", 3, 3}));
        EXPECT_EQ(s.read(), (Line{-1, "", 3, 3}));
        EXPECT_EQ(s.read(), (Line{-1, "", 3, 3}));
        EXPECT_EQ(s.lines->setPosition(s.lines, 0), 0);  // recorded, but the host did not move
        EXPECT_EQ(s.lines->position(s.lines), 0);
        EXPECT_EQ(s.read().length, -1);
        s.host.seekFault.failAt = -1;
        EXPECT_EQ(s.read(), (Line{2, "ab", 3, 0}));
    }
}

TEST(LineStreamLife, ConstructionFailsCleanlyOnEveryHostFault) {
    const std::string document = "0\nEOF\n";
    {
        wqtest::FakeHost host(document);
        EXPECT_EQ(newDxfFileStrmIo(nullptr, host.stream(), nullptr, nullptr), nullptr);
        EXPECT_EQ(newDxfFileStrmIo(host.services(), nullptr, nullptr, nullptr), nullptr);
        EXPECT_EQ(host.poolBlocksLive(), 0);
    }
    struct Case {
        const char* name;
        std::string document;
        void (*spoil)(wqtest::FakeHost&);
        int32_t closes;  // the stream is closed exactly when it was opened
    } cases[] = {
        {"no open", document, [](wqtest::FakeHost& h) { h.stream()->open = nullptr; }, 0},
        {"open fails", document, [](wqtest::FakeHost& h) { h.openFault.failAt = 0; }, 0},
        {"no tell", document, [](wqtest::FakeHost& h) { h.stream()->tell = nullptr; }, 1},
        {"first tell fails", document, [](wqtest::FakeHost& h) { h.tellFault.failAt = 0; }, 1},
        {"size tell fails", document, [](wqtest::FakeHost& h) { h.tellFault.failAt = 1; }, 1},
        {"seek to end fails", document, [](wqtest::FakeHost& h) { h.seekFault.failAt = 0; }, 1},
        {"seek back fails", document, [](wqtest::FakeHost& h) { h.seekFault.failAt = 1; }, 1},
        {"no seek", document, [](wqtest::FakeHost& h) { h.stream()->seek = nullptr; }, 1},
        {"empty document", "", [](wqtest::FakeHost&) {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wqtest::FakeHost host(c.document);
        c.spoil(host);
        EXPECT_EQ(newDxfFileStrmIo(host.services(), host.stream(), nullptr, nullptr), nullptr);
        EXPECT_EQ(host.poolBlocksLive(), 0);
        EXPECT_EQ(host.closes, c.closes);
        EXPECT_EQ(host.opens, c.closes);
    }
    for (bool persistent : {false, true}) {
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(failAt);
            wqtest::FakeHost host(document);
            host.allocFault.failAt = failAt;
            host.allocFault.persistent = persistent;
            DxfFileStrmIo* lines = newDxfFileStrmIo(host.services(), host.stream(), nullptr, nullptr);
            if (lines == nullptr) {
                EXPECT_EQ(host.opens, 0);  // every block is taken before the document is opened
            } else {
                char buffer[kSize];
                EXPECT_EQ(lines->readLine(lines, buffer, kSize), 1);
                deleteDxfFileStrmIo(lines);
                EXPECT_EQ(host.closes, 1);
            }
            EXPECT_EQ(host.poolBlocksLive(), 0);
            if (host.allocFault.injected == 0) break;
        }
    }
}

TEST(LineStreamLife, GivenCollaboratorsOutliveTheLineStream) {
    wqtest::FakeHost host("ab\n");
    DxfPublicStorage* storage = newDxfPublicStorage(host.services(), StorageExactSizes);
    ASSERT_NE(storage, nullptr);
    DxfStrEtc* strings = newDxfStrEtc(host.services(), storage);
    ASSERT_NE(strings, nullptr);
    DxfFileStrmIo* lines = newDxfFileStrmIo(host.services(), host.stream(), strings, storage);
    ASSERT_NE(lines, nullptr);
    EXPECT_EQ(host.stream()->tell(host.stream()), 0);  // measuring left the host where it was
    deleteDxfFileStrmIo(lines);
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(strings->findString(strings, "abc", "c"), 2);  // still usable
    // Failing on a given storage hands what it took back to that storage.
    wqtest::FakeHost empty("");
    DxfPublicStorage* other = newDxfPublicStorage(empty.services(), StorageExactSizes);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(newDxfFileStrmIo(empty.services(), empty.stream(), nullptr, other), nullptr);
    EXPECT_EQ(empty.closes, 1);
    deleteDxfPublicStorage(other);
    EXPECT_EQ(empty.poolBlocksLive(), 0);
    deleteDxfStrEtc(strings);
    deleteDxfPublicStorage(storage);
    EXPECT_EQ(host.poolBlocksLive(), 0);
}

}  // namespace
