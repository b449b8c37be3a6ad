// Files held by descriptor: one closed when its owner goes, and an unnamed temporary file
// for what is too large to hold in memory (a member of an archive, a binary drawing's ASCII).
#ifndef WQHOST_TEMPORARY_FILE_HPP
#define WQHOST_TEMPORARY_FILE_HPP

#include <cstddef>
#include <cstdint>

namespace wqhost {

// A file descriptor, closed when it goes unless taken.
class OpenFile {
  public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    OpenFile(OpenFile&& other) noexcept : fd_(other.take()) {}
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();
    int get() const { return fd_; }
    int take() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// A new file in $TMPDIR (else /tmp) that has no name, so nothing is left behind whatever
// ends the process; -1 with errno set when none can be made.
int openUnnamedTemporaryFile();

// Writes all `count` bytes at `offset`, whatever the file's own offset; false with errno
// set when it cannot.
bool writeAllAt(int fd, const char* bytes, std::size_t count, std::int64_t offset);

}  // namespace wqhost

#endif
