// Line stream: reads the host's document one line per call from any byte offset, taking
// LF, CR LF and a lone CR as line ends. Each call costs one host seek and one host read;
// nothing is buffered between calls.
#include "DxfFileStrmIo.h"

#include <cstdint>
#include <cstring>

#include "Collaborators.hpp"
#include "DxfLineWords.h"
#include "LinePosition.hpp"
#include "Pool.hpp"

namespace wq {

int32_t linePosition(DxfFileStrmIo* self) {
    return static_cast<FileStrmIoContext*>(self->context)->position;
}

}  // namespace wq

namespace {

constexpr int32_t kSeekFromStart = 0;
constexpr int32_t kSeekFromEnd = 2;

using wq::FileStrmIoContext;

FileStrmIoContext* contextOf(DxfFileStrmIo* self) {
    return static_cast<FileStrmIoContext*>(self->context);
}

// 1 when the host moved the stream (its seek answered exactly 1), else 0.
int32_t seekStream(DxfFileStrmIo* self, int32_t offset, int32_t whence) {
    HostStream* stream = contextOf(self)->stream;
    if (stream->seek == nullptr) return 0;
    return stream->seek(stream, offset, whence) == 1 ? 1 : 0;
}

// The host's current offset, or -1 when the stream has no tell.
int32_t tellStream(DxfFileStrmIo* self) {
    HostStream* stream = contextOf(self)->stream;
    return stream->tell == nullptr ? -1 : stream->tell(stream);
}

// Bytes the host read into buffer, 0 at the end of data or on a failed read. A host that
// claims more than it was asked for is held to size, so nothing beyond the buffer is used.
int32_t readStream(DxfFileStrmIo* self, void* buffer, int32_t size) {
    HostStream* stream = contextOf(self)->stream;
    if (stream->read == nullptr) return 0;
    const int32_t got = stream->read(stream, buffer, size);
    if (got < 1) return 0;
    return got > size ? size : got;
}

// The document size, leaving the host stream where it stood; 0 when it cannot be measured.
int32_t measureSize(DxfFileStrmIo* self) {
    FileStrmIoContext* ctx = contextOf(self);
    const int32_t here = ctx->tellStream(self);
    if (here < 0) return 0;
    if (!ctx->seekStream(self, 0, kSeekFromEnd)) return 0;
    const int32_t size = ctx->tellStream(self);
    if (!ctx->seekStream(self, here, kSeekFromStart)) return 0;
    // A tell that fails at the end is as good as no size at all.
    return size < 0 ? 0 : size;
}

int32_t setPosition(DxfFileStrmIo* self, int32_t offset) {
    FileStrmIoContext* ctx = contextOf(self);
    // Compared unsigned, so a negative offset is beyond any document.
    if (static_cast<uint32_t>(offset) > static_cast<uint32_t>(ctx->fileSize)) return 0;
    ctx->position = offset;
    return ctx->seekStream(self, offset, kSeekFromStart);
}

// Index of the first byte c among the first length bytes of bytes, or -1.
int32_t indexIn(const char* bytes, int32_t length, char c) {
    const void* hit = std::memchr(bytes, c, static_cast<size_t>(length));
    return hit == nullptr ? -1 : static_cast<int32_t>(static_cast<const char*>(hit) - bytes);
}

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The eight bytes at bytes, or four at each of two places, as one word whose bytes stand
// in memory order: those at first, then those at second.
uint64_t load8(const char* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}
uint64_t load4And4(const char* first, const char* second) {
    uint32_t a, b;
    std::memcpy(&a, first, sizeof a);
    std::memcpy(&b, second, sizeof b);
    return kLittleEndian ? a | uint64_t{b} << 32 : uint64_t{a} << 32 | b;
}

// Index of the first LF or zero byte among the first length bytes of bytes, or length when
// there is neither: one pass for both, a word of eight bytes at a time. Lines are mostly
// a few bytes, and reads often one line: the first sixteen bytes are searched at once,
// bytes that do not fill a word are searched as a word that overlaps searched ones, and
// reads of four to seven bytes as their first four and last four. Searched bytes hold no
// mark, so an overlap never hides the first one.
int32_t lineFeedOrZero(const char* bytes, int32_t length) {
    if (length < 4) {
        int32_t i = 0;
        while (i < length && bytes[i] != '\n' && bytes[i] != '\0') ++i;
        return i;
    }
    if (length < 8) {
        const uint64_t marks = dxfMarkLineFeedOrZero(load4And4(bytes, bytes + length - 4));
        if (marks == 0) return length;
        const int32_t at = dxfFirstMarked(marks);
        return at < 4 ? at : length - 8 + at;
    }
    const int32_t second = length < 16 ? length - 8 : 8;
    const uint64_t first = dxfMarkLineFeedOrZero(load8(bytes));
    const uint64_t next = dxfMarkLineFeedOrZero(load8(bytes + second));
    if (first != 0) return dxfFirstMarked(first);
    if (next != 0) return second + dxfFirstMarked(next);
    int32_t i = 16;
    for (; length - i >= 8; i += 8) {
        const uint64_t marks = dxfMarkLineFeedOrZero(load8(bytes + i));
        if (marks != 0) return i + dxfFirstMarked(marks);
    }
    if (i >= length) return length;
    const uint64_t marks = dxfMarkLineFeedOrZero(load8(bytes + length - 8));
    return marks == 0 ? length : length - 8 + dxfFirstMarked(marks);
}

// readLine's seek and read, each made directly while the field still holds this module's
// own operation, so that the compiler can put it in place; a field given another operation
// is called as always. The position comes the same way (LinePosition.hpp).
int32_t seekVia(FileStrmIoContext* ctx, DxfFileStrmIo* self, int32_t offset) {
    return ctx->seekStream == seekStream ? seekStream(self, offset, kSeekFromStart)
                                         : ctx->seekStream(self, offset, kSeekFromStart);
}
int32_t readVia(FileStrmIoContext* ctx, DxfFileStrmIo* self, void* buffer, int32_t size) {
    return ctx->readStream == readStream ? readStream(self, buffer, size)
                                         : ctx->readStream(self, buffer, size);
}

// Only a line that is delivered moves the position, and an empty line always moves it past
// its line end: a 0 that leaves the position where it was is how callers tell a failed
// seek, and end their reading when the host cannot move any more.
int32_t readLine(DxfFileStrmIo* self, char* buffer, int32_t size) {
    FileStrmIoContext* ctx = contextOf(self);
    const int32_t start = wq::positionOf(self);
    ctx->lineStart = start;
    if (buffer == nullptr || size < 2) return -1;
    if (!seekVia(ctx, self, start)) {
        buffer[0] = '\0';  // callers take a result of 0 as an empty line in their buffer
        return 0;
    }
    const int32_t got = readVia(ctx, self, buffer, size);
    if (got == 0) return -1;

    // The host does not terminate what it reads, so the search is held to the bytes read,
    // and like a string search it stops at a zero byte among them. An LF anywhere before
    // that wins: a lone CR ends a line only when the searched bytes hold no LF.
    const int32_t stop = lineFeedOrZero(buffer, got);
    int32_t end = stop < got && buffer[stop] == '\n' ? stop : -1;
    if (end < 0) end = indexIn(buffer, stop, '\r');

    if (end < 0) {
        // No line end: the block is the line. Callers take their buffer as a string, so a
        // full block gives up its last byte to the terminator and the next call reads that
        // byte again: a long line comes out in pieces of size-1 bytes, none lost or doubled.
        // A line whose end lies within the block (size-1 bytes and its LF) still comes whole.
        const int32_t length = got < size ? got : size - 1;
        buffer[length] = '\0';
        ctx->position = start + length;
        return length;
    }
    buffer[end] = '\0';
    int32_t length = end;
    if (end > 0 && buffer[end - 1] == '\r') {  // only one CR before the LF is dropped
        buffer[end - 1] = '\0';
        length = end - 1;
    }
    ctx->position = start + end + 1;
    return length;
}

int32_t fileSize(DxfFileStrmIo* self) { return contextOf(self)->fileSize; }

int32_t lineStart(DxfFileStrmIo* self) { return contextOf(self)->lineStart; }

// Releases what exists of a line stream, in the destructor's order: closes the host
// stream when it was opened, then deletes the string utilities and the storage it made.
// A destructor leaves the handle and context in a storage it was given, for that storage
// to take when it is deleted; a failed constructor gives them back to it (`giveBack`).
void destroy(const wq::Collaborators& made, FileStrmIoContext* ctx, DxfFileStrmIo* self,
             bool giveBack) {
    if (ctx != nullptr && ctx->opened && ctx->stream->close != nullptr) {
        ctx->stream->close(ctx->stream);
    }
    if (made.ownsStrings) deleteDxfStrEtc(made.strings);
    if (giveBack && !made.ownsStorage) {
        wq::freeOne(made.storage, self);
        wq::freeOne(made.storage, ctx);
    }
    if (made.ownsStorage) deleteDxfPublicStorage(made.storage);
}

// Fills a new context and handle with this module's operations and a stream not yet opened.
void fill(FileStrmIoContext* ctx, DxfFileStrmIo* self, const wq::Collaborators& made,
          HostStream* stream) {
    ctx->ownsStrings = made.ownsStrings;
    ctx->strings = made.strings;
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    ctx->measureSize = measureSize;
    ctx->seekStream = seekStream;
    ctx->tellStream = tellStream;
    ctx->readStream = readStream;
    ctx->stream = stream;
    // Position, line start and opened start at 0: before any readLine the most recent
    // line is taken to begin where reading begins.
    self->context = ctx;
    self->setPosition = setPosition;
    self->readLine = readLine;
    self->fileSize = fileSize;
    self->position = wq::linePosition;
    self->lineStart = lineStart;
}

}  // namespace

DxfFileStrmIo* newDxfFileStrmIo(HostServices* services, HostStream* stream, DxfStrEtc* strings,
                                DxfPublicStorage* storage) {
    if (services == nullptr || stream == nullptr) return nullptr;
    wq::Collaborators made = {0, storage, 0, strings, 0, nullptr, 0, nullptr};
    FileStrmIoContext* ctx = nullptr;
    DxfFileStrmIo* self = nullptr;
    auto fail = [&]() -> DxfFileStrmIo* {
        destroy(made, ctx, self, true);
        return nullptr;
    };
    if (!wq::ensureStorage(&made, services)) return nullptr;
    if ((ctx = wq::allocOne<FileStrmIoContext>(made.storage)) == nullptr) return fail();
    if (!wq::ensureStrings(&made, services)) return fail();
    if ((self = wq::allocOne<DxfFileStrmIo>(made.storage)) == nullptr) return fail();
    fill(ctx, self, made, stream);

    if (stream->open == nullptr || stream->open(stream) == 0) return fail();
    ctx->opened = 1;
    // measureSize gives 0 also when it cannot measure, so this one test refuses both.
    ctx->fileSize = ctx->measureSize(self);
    if (ctx->fileSize == 0) return fail();
    return self;
}

void deleteDxfFileStrmIo(DxfFileStrmIo* lines) {
    if (lines == nullptr) return;
    FileStrmIoContext* ctx = contextOf(lines);
    wq::Collaborators made = {};
    made.ownsStorage = ctx->ownsStorage;
    made.storage = ctx->storage;
    made.ownsStrings = ctx->ownsStrings;
    made.strings = ctx->strings;
    destroy(made, ctx, lines, false);
}
