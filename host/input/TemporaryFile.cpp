// Descriptors closed with their owner, and unnamed temporary files, which leave nothing
// behind whatever ends the process.
#include "TemporaryFile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace wqhost {

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.take();
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
}

int openUnnamedTemporaryFile() {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A file system without unnamed files: tmpfile() removes the name it makes at once.
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return -1;
    const int copy = ::fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    const int saved = errno;
    std::fclose(file);
    errno = saved;
    return copy;
}

bool writeAllAt(int fd, const char* bytes, std::size_t count, std::int64_t offset) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

}  // namespace wqhost
