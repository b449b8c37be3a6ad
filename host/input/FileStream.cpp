// HostStream over a file on disk, through the POSIX file calls and a window of the file
// kept in memory.
#include "FileStream.hpp"

#include "LineReads.hpp"
#include "StreamWatch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace wqhost {
namespace {

FileStream* self(HostStream* stream) { return reinterpret_cast<FileStream*>(stream); }

int32_t openFile(HostStream* stream) {
    FileStream* s = self(stream);
    if (s->fd >= 0) return 1;
    s->fd = ::open(s->path, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (s->fd < 0 || fstat(s->fd, &info) != 0) {
        s->lastError = errno;
        if (s->fd >= 0) ::close(s->fd);
        s->fd = -1;
        return 0;
    }
    s->size = info.st_size;
    s->position = 0;
    s->windowStart = 0;
    s->windowBytes = 0;
    return 1;
}

// Reads at `offset` until `size` bytes or the end of the file; -1 on a failed read.
int64_t readAt(FileStream* s, char* out, int64_t size, int64_t offset) {
    int64_t total = 0;
    while (total < size) {
        const ssize_t got = ::pread(s->fd, out + total, static_cast<size_t>(size - total),
                                    static_cast<off_t>(offset + total));
        if (got < 0) {
            if (errno == EINTR) continue;
            s->lastError = errno;
            return total > 0 ? total : -1;
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

// Up to `size` bytes from the position, as many as LineReads.hpp says, from the window
// when it holds all the bytes asked for or all up to the end of the file.
int32_t readFile(HostStream* stream, void* buffer, int32_t size) {
    FileStream* s = self(stream);
    if (s->fd < 0 || size <= 0) return 0;
    if (s->watch != nullptr && !s->watch->allow(s->position)) return 0;
    char* out = static_cast<char*>(buffer);
    if (size > kFileWindowBytes) {
        const int64_t got = readAt(s, out, size, s->position);
        if (got <= 0) return static_cast<int32_t>(got);
        const int32_t count = lineReadBytes(out, static_cast<int32_t>(got));
        s->position += count;
        return count;
    }
    const int64_t windowEnd = s->windowStart + s->windowBytes;
    const bool inWindow = s->position >= s->windowStart && s->position <= windowEnd;
    // The window serves the read when it holds all of it, or everything up to the end.
    if (!inWindow || (s->position + size > windowEnd && windowEnd < s->size)) {
        const int64_t got = readAt(s, s->window, kFileWindowBytes, s->position);
        if (got < 0) return -1;
        s->windowStart = s->position;
        s->windowBytes = static_cast<int32_t>(got);
    }
    const int64_t available = s->windowStart + s->windowBytes - s->position;
    const char* from = s->window + (s->position - s->windowStart);
    const int32_t count =
        lineReadBytes(from, static_cast<int32_t>(std::min<int64_t>(size, available)));
    if (count <= 0) return 0;
    copyLineRead(out, from, count);
    s->position += count;
    return count;
}

int32_t seekFile(HostStream* stream, int32_t offset, int32_t whence) {
    FileStream* s = self(stream);
    if (s->fd < 0) return 0;
    const int64_t base = whence == 2 ? s->size : whence == 1 ? s->position : 0;
    const int64_t target = base + offset;
    if (target < 0) return 0;
    s->position = target;
    return 1;
}

// The reader's offsets are 32-bit: a position beyond them reads as a failure.
int32_t tellFile(HostStream* stream) {
    FileStream* s = self(stream);
    if (s->fd < 0 || s->position > INT32_MAX) return -1;
    return static_cast<int32_t>(s->position);
}

int32_t closeFile(HostStream* stream) {
    FileStream* s = self(stream);
    if (s->fd < 0) return 1;
    const int result = ::close(s->fd);
    s->fd = -1;
    return result == 0 ? 1 : 0;
}

}  // namespace

void initFileStream(FileStream* stream, const char* path) {
    std::memset(&stream->table, 0, sizeof stream->table);
    stream->table.open = openFile;
    stream->table.read = readFile;
    stream->table.seek = seekFile;
    stream->table.tell = tellFile;
    stream->table.close = closeFile;
    stream->path = path;
    stream->fd = -1;
    stream->lastError = 0;
    stream->size = stream->position = stream->windowStart = 0;
    stream->windowBytes = 0;
    stream->watch = nullptr;
}

void finishFileStream(FileStream* stream) { closeFile(&stream->table); }

}  // namespace wqhost
