// The documents of a dxftext run made as they are asked for, and the path lists they come
// from.
#include "DocumentList.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace wqtools {

namespace {

constexpr size_t kReadBytes = 64 * 1024;
// Non-blocking, so that a FIFO with no writer does not hang the open; the document reads it
// blocking.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

bool writeAll(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// An unnamed temporary file holding everything `in` gives, or -1 with errno set.
int spool(int in) {
    const int fd = wqhost::openUnnamedTemporaryFile();
    if (fd < 0) return -1;
    char buffer[kReadBytes];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return fd;
        if (n < 0 || !writeAll(fd, buffer, static_cast<size_t>(n))) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
    }
}

}  // namespace

PathList::~PathList() {
    if (fd_ >= 0) ::close(fd_);
}

bool PathList::open(const std::string& name, std::string* error) {
    const bool standardInput = name == "-";
    const int in = standardInput ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (in < 0 || ::fstat(in, &info) != 0) {
        *error = name + ": " + std::strerror(errno);
        if (in >= 0 && !standardInput) ::close(in);
        return false;
    }
    if (S_ISREG(info.st_mode) && !standardInput) {
        fd_ = in;
        return true;
    }
    fd_ = spool(in);
    const int saved = errno;
    if (!standardInput) ::close(in);
    if (fd_ < 0) *error = name + ": " + std::strerror(saved);
    return fd_ >= 0;
}

size_t PathList::countStandardInput() const {
    Reader lines = reader();
    std::string path;
    size_t count = 0;
    while (lines.next(&path)) count += path == "-";
    return count;
}

bool PathList::Reader::next(std::string* path) {
    for (;;) {
        const size_t end = buffer_.find('\n', used_);
        if (end != std::string::npos || (ended_ && used_ < buffer_.size())) {
            size_t length = (end == std::string::npos ? buffer_.size() : end) - used_;
            const char* line = buffer_.data() + used_;
            used_ = end == std::string::npos ? buffer_.size() : end + 1;
            while (length > 0 && line[length - 1] == '\r') --length;
            if (length == 0) continue;
            path->assign(line, length);
            return true;
        }
        if (ended_) return false;
        // Keep the start of a line cut by the buffer's end; read on after it.
        offset_ += static_cast<int64_t>(used_);
        buffer_.erase(0, used_);
        used_ = 0;
        const size_t kept = buffer_.size();
        buffer_.resize(kept + kReadBytes);
        ssize_t n;
        do {
            n = ::pread(fd_, &buffer_[kept], kReadBytes, offset_ + static_cast<int64_t>(kept));
        } while (n < 0 && errno == EINTR);
        buffer_.resize(kept + static_cast<size_t>(n > 0 ? n : 0));
        if (n <= 0) ended_ = true;
    }
}

ItemSource::ItemSource(const std::vector<std::string>& arguments,
                       const std::vector<PathList>& lists, Look look, bool archives)
    : arguments_(arguments), lists_(lists), look_(look), archives_(archives) {}

bool ItemSource::nextArgument(std::string* argument) {
    if (argument_ < arguments_.size()) {
        *argument = arguments_[argument_++];
        return true;
    }
    while (list_ < lists_.size()) {
        if (!reader_) reader_ = std::make_unique<PathList::Reader>(lists_[list_].reader());
        if (reader_->next(argument)) return true;
        reader_.reset();
        ++list_;
    }
    return false;
}

Item ItemSource::itemOf(std::string path, OpenFile file) const {
    Item item;
    item.path = std::move(path);
    item.file = std::move(file);
    struct stat info;
    if (look_ == Sizes && item.path != "-" && ::stat(item.path.c_str(), &info) == 0) {
        item.size = info.st_size;
    }
    return item;
}

Item ItemSource::itemOf(wqhost::ArchiveMember&& member) const {
    using Outcome = wqhost::ArchiveMember::Outcome;
    Item item;
    item.path = std::move(member.name);
    item.size = member.size;
    if (member.outcome != Outcome::Drawing) {
        item.error = std::move(member.message);
        item.refused = member.outcome == Outcome::Refused;
        return item;
    }
    item.member = true;
    item.bytes = std::move(member.bytes);
    item.file = std::move(member.file);
    return item;
}

void ItemSource::startArchive(std::string path, OpenFile file, bool named) {
    archive_ = std::make_unique<wqhost::ArchiveReader>(path, std::move(file),
                                                       wqhost::ArchiveLimits(), look_ == Open);
    archived_ = std::move(path);
    archiveNamed_ = named;
    archiveGave_ = false;
}

bool ItemSource::archiveNext(Item* item) {
    wqhost::ArchiveMember member;
    if (archive_->next(&member)) {
        archiveGave_ = true;
        *item = itemOf(std::move(member));
        return true;
    }
    archive_.reset();
    if (archiveGave_ || !archiveNamed_) return false;
    *item = Item();
    item->path = std::move(archived_);
    item->error = "an archive with no .dxf drawings";
    return true;
}

bool ItemSource::next(Item* item) {
    for (;;) {
        if (archive_ && archiveNext(item)) {
            found_ = found_ || walk_ != nullptr;
            return true;
        }
        if (walk_) {
            std::string path;
            if (walk_->next(&path)) {
                OpenFile file;
                if (look_ == Open) file = OpenFile(::open(path.c_str(), kOpenFlags));
                if (!wqhost::isDrawingName(path)) {
                    // Taken by the walk as an archive (--archives): an archive that holds
                    // no drawing gives nothing, as a folder below the one given does.
                    startArchive(std::move(path), std::move(file), false);
                    continue;
                }
                found_ = true;
                *item = itemOf(std::move(path), std::move(file));
                return true;
            }
            std::string error = walk_->error();
            if (error.empty() && !found_) error = "a directory with no .dxf drawings";
            walk_.reset();
            if (!error.empty()) {
                *item = Item();
                item->path = std::move(walked_);
                item->error = std::move(error);
                return true;
            }
        }
        std::string argument;
        if (!nextArgument(&argument)) return false;
        // Decided by the name alone, so that a drawing is never looked into.
        const bool archive = argument != "-" && (wqhost::isArchiveName(argument) ||
                                                 wqhost::isCompressedName(argument));
        bool folder = false;
        bool readable = false;  // a file or a pipe, which an archive may be
        OpenFile file;
        struct stat info;
        if (argument != "-" && look_ == Open) {
            // A folder opens too: what it is shows on the descriptor, with no second lookup
            // of its path.
            file = OpenFile(::open(argument.c_str(), kOpenFlags));
            const bool known = file.get() >= 0 && ::fstat(file.get(), &info) == 0;
            folder = known && S_ISDIR(info.st_mode);
            readable = known && (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode));
        } else if (archive) {
            readable = ::stat(argument.c_str(), &info) == 0 &&
                       (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode));
        }
        // An archive that cannot be opened is left to the document, which says why as it
        // would for a drawing.
        if (archive && readable) {
            startArchive(std::move(argument), std::move(file), true);
            continue;
        }
        if (argument != "-" && file.get() < 0 && (look_ != Open || errno != ENOENT)) {
            // Not opened, but there (a folder that may not be read, or no descriptor left
            // with thousands of jobs): the path is looked up, and a document opens it in
            // its turn.
            std::error_code notFolder;
            folder = std::filesystem::is_directory(argument, notFolder);
        }
        if (!folder) {
            *item = itemOf(std::move(argument), std::move(file));
            return true;
        }
        walk_ = std::make_unique<wqhost::DrawingWalk>(
            argument, archives_ ? wqhost::isDrawingOrArchiveName : wqhost::isDrawingName);
        walked_ = std::move(argument);
        found_ = false;
    }
}

}  // namespace wqtools
