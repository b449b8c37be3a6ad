// HostStream over a file on disk, through the POSIX file calls.
#include "FileStream.hpp"

#include <fcntl.h>
#include <unistd.h>

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
    if (s->fd < 0) {
        s->lastError = errno;
        return 0;
    }
    return 1;
}

// Fills the buffer as far as the file allows: a short read from the kernel is not the end.
int32_t readFile(HostStream* stream, void* buffer, int32_t size) {
    FileStream* s = self(stream);
    if (s->fd < 0 || size <= 0) return 0;
    char* out = static_cast<char*>(buffer);
    int32_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(s->fd, out + total, static_cast<size_t>(size - total));
        if (got < 0) {
            if (errno == EINTR) continue;
            s->lastError = errno;
            return total > 0 ? total : -1;
        }
        if (got == 0) break;
        total += static_cast<int32_t>(got);
    }
    return total;
}

int32_t seekFile(HostStream* stream, int32_t offset, int32_t whence) {
    FileStream* s = self(stream);
    if (s->fd < 0) return 0;
    const int mode = whence == 2 ? SEEK_END : whence == 1 ? SEEK_CUR : SEEK_SET;
    if (::lseek(s->fd, static_cast<off_t>(offset), mode) < 0) {
        s->lastError = errno;
        return 0;
    }
    return 1;
}

// The reader's offsets are 32-bit: a position beyond them reads as a failure.
int32_t tellFile(HostStream* stream) {
    FileStream* s = self(stream);
    if (s->fd < 0) return -1;
    const off_t at = ::lseek(s->fd, 0, SEEK_CUR);
    if (at < 0 || at > INT32_MAX) return -1;
    return static_cast<int32_t>(at);
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
    std::memset(stream, 0, sizeof *stream);
    stream->table.open = openFile;
    stream->table.read = readFile;
    stream->table.seek = seekFile;
    stream->table.tell = tellFile;
    stream->table.close = closeFile;
    stream->path = path;
    stream->fd = -1;
}

void finishFileStream(FileStream* stream) { closeFile(&stream->table); }

}  // namespace wqhost
