// Archives and compressed drawings read through libarchive: one handle for the archive and
// one for an archive inside it, each member taken out whole when the caller asks for it.
#include "Archive.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "DrawingFiles.hpp"

namespace wqhost {

namespace {

// What libarchive reads from a file at a time.
constexpr size_t kReadBlock = 64 * 1024;

const char* const kArchiveSuffixes[] = {".zip",  ".tar",    ".tgz", ".tar.gz",  ".tar.bz2",
                                        ".tbz2", ".tar.xz", ".txz", ".tar.zst", ".7z"};
const char* const kCompressedSuffixes[] = {".gz", ".bz2", ".xz", ".zst"};

// Whether `name` ends in `suffix` (lower case) in any case, leaving `*rest` bytes before it.
bool endsWith(const std::string& name, const char* suffix, size_t* rest = nullptr) {
    const size_t length = std::strlen(suffix);
    if (name.size() < length) return false;
    const size_t start = name.size() - length;
    for (size_t i = 0; i < length; ++i) {
        const char c = name[start + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c) != suffix[i]) return false;
    }
    if (rest != nullptr) *rest = start;
    return true;
}

std::string errorOf(struct archive* handle) {
    const char* text = archive_error_string(handle);
    std::string message = text != nullptr ? text : "the archive cannot be read";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

// libarchive gives names in the character set of the calling thread's locale, and one
// it cannot convert not at all: a program that never set its locale ("C") would lose
// every name outside ASCII. While it reads, the thread runs in C.UTF-8 (where the C
// library has it), so names come as UTF-8 whatever the process's locale.
class Utf8Names {
  public:
    Utf8Names() {
        static const locale_t utf8 =
            ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8 != static_cast<locale_t>(0)) saved_ = ::uselocale(utf8);
    }
    ~Utf8Names() {
        if (saved_ != static_cast<locale_t>(0)) ::uselocale(saved_);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

  private:
    locale_t saved_ = static_cast<locale_t>(0);
};

// A member's path as UTF-8 when the archive says what its names are in, else its bytes.
std::string pathOf(struct archive_entry* entry) {
    const char* path = archive_entry_pathname_utf8(entry);
    if (path == nullptr) path = archive_entry_pathname(entry);
    return path != nullptr ? path : "";
}

// Where a member's bytes go as they come out: memory while they fit the limit, then an
// unnamed file. Written at their offsets, so the file's own offset stays at its start and
// a gap (a sparse member's hole) reads as zeros.
class MemberSink {
  public:
    MemberSink(size_t inMemory, int64_t declared) : inMemory_(inMemory) {
        if (declared >= 0 && static_cast<uint64_t>(declared) <= inMemory) {
            bytes_.reserve(static_cast<size_t>(declared));
        }
    }

    // False with errno set when the temporary file cannot be made or written.
    bool put(int64_t offset, const char* data, size_t count) {
        const int64_t end = offset + static_cast<int64_t>(count);
        if (file_.get() < 0 && end > static_cast<int64_t>(inMemory_) && !spill()) return false;
        if (file_.get() >= 0) return writeAllAt(file_.get(), data, count, offset);
        bytes_.resize(static_cast<size_t>(offset), '\0');
        bytes_.append(data, count);
        return true;
    }

    // The member ends at `size`, past its last bytes when it ends in a hole.
    bool finish(int64_t size) {
        if (file_.get() < 0 && size > static_cast<int64_t>(inMemory_) && !spill()) return false;
        if (file_.get() >= 0) return ::ftruncate(file_.get(), size) == 0;
        bytes_.resize(static_cast<size_t>(size), '\0');
        return true;
    }

    std::string& bytes() { return bytes_; }
    OpenFile& file() { return file_; }

  private:
    bool spill() {
        file_ = OpenFile(openUnnamedTemporaryFile());
        if (file_.get() < 0 || !writeAllAt(file_.get(), bytes_.data(), bytes_.size(), 0)) {
            return false;
        }
        std::string().swap(bytes_);
        return true;
    }

    size_t inMemory_;
    std::string bytes_;
    OpenFile file_;
};

}  // namespace

bool isArchiveName(const std::string& name) {
    for (const char* suffix : kArchiveSuffixes) {
        if (endsWith(name, suffix)) return true;
    }
    return false;
}

bool isCompressedName(const std::string& name) {
    if (isArchiveName(name)) return false;
    for (const char* suffix : kCompressedSuffixes) {
        if (endsWith(name, suffix)) return true;
    }
    return false;
}

bool isCompressedDrawingName(const std::string& name) {
    for (const char* suffix : kCompressedSuffixes) {
        size_t rest;
        if (endsWith(name, suffix, &rest)) return isDrawingName(name.substr(0, rest));
    }
    return false;
}

bool isDrawingOrArchiveName(const std::string& name) {
    return isDrawingName(name) || isArchiveName(name) || isCompressedDrawingName(name);
}

// One archive being read: the one given, or one inside it, read from where it was taken.
struct ArchiveReader::Level {
    std::string name;
    OpenFile file;      // what it is read from: a file, or
    std::string bytes;  // bytes in memory (a small archive inside another)
    bool fromMemory = false;
    bool single = false;     // may be a file compressed on its own, whose one member it names
    bool unread = false;     // the current member's data is still to be passed over
    bool anyEntry = false;   // whether a header was read
    int64_t size = -1;       // bytes of the archive itself, when known
    int64_t passedOver = 0;  // bytes of members expanded only to be passed over
    struct archive* handle = nullptr;

    ~Level() {
        if (handle != nullptr) archive_read_free(handle);
    }
};

ArchiveReader::ArchiveReader(std::string name, OpenFile file, const ArchiveLimits& limits,
                             bool takeDrawings)
    : limits_(limits), takeDrawings_(takeDrawings) {
    auto level = std::make_unique<Level>();
    level->single = !isArchiveName(name);
    level->name = std::move(name);
    level->file = std::move(file);
    levels_.push_back(std::move(level));
}

ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::open(Level* level, std::string* error) {
    level->handle = archive_read_new();
    struct archive* handle = level->handle;
    if (handle == nullptr) {
        *error = "out of memory";
        return false;
    }
    // The compressions and formats named here only: libarchive's others include readers
    // that run outside programs, and formats that take any text for an archive.
    archive_read_support_filter_gzip(handle);
    archive_read_support_filter_bzip2(handle);
    archive_read_support_filter_xz(handle);
    archive_read_support_filter_lzma(handle);
    archive_read_support_filter_zstd(handle);
    // A zip is read as it lies, member by member from the local headers: its central
    // directory, which lists every member at once, would cost memory by the member.
    archive_read_support_format_zip_streamable(handle);
    archive_read_support_format_tar(handle);
    archive_read_support_format_7zip(handle);
    archive_read_support_format_empty(handle);
    if (level->single) archive_read_support_format_raw(handle);
    int opened;
    if (level->fromMemory) {
        level->size = static_cast<int64_t>(level->bytes.size());
        opened = archive_read_open_memory(handle, level->bytes.data(), level->bytes.size());
    } else {
        if (level->file.get() < 0) {
            level->file = OpenFile(::open(level->name.c_str(), O_RDONLY | O_CLOEXEC));
            if (level->file.get() < 0) {
                *error = std::strerror(errno);
                return false;
            }
        }
        // Opened non-blocking so that a FIFO without a writer does not hang the open; the
        // archive is read blocking.
        const int flags = ::fcntl(level->file.get(), F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) != 0) {
            ::fcntl(level->file.get(), F_SETFL, flags & ~O_NONBLOCK);
        }
        struct stat info;
        if (::fstat(level->file.get(), &info) == 0 && S_ISREG(info.st_mode))
            level->size = info.st_size;
        opened = archive_read_open_fd(handle, level->file.get(), kReadBlock);
    }
    if (opened != ARCHIVE_OK) {
        *error = errorOf(handle);
        return false;
    }
    return true;
}

void ArchiveReader::endLevel(ArchiveMember* member, const std::string& message) {
    member->outcome = ArchiveMember::Outcome::Failed;
    member->name = levels_.back()->name;
    member->message = message;
    member->size = 0;
    levels_.pop_back();
}

namespace {

const char* const kTooLarge = "2 GiB or larger: the reader's 32-bit offsets cannot address it";

// A zip compresses each member on its own, and its members' bytes lie one after another.
bool compressesEachMember(struct archive* handle) {
    return (archive_format(handle) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
}

}  // namespace

// How far a member may expand. A member of a zip is held to the compressed bytes read to
// take it out (`packed`). Other archives compress across members (a .tar.gz, a solid 7z),
// where a member may cost next to nothing (a copy of the one before it) without being a
// bomb, and where the reader may seek back (a 7z reads its index at the end first): there
// a member is held to the archive's size, or to what was read of it when its size is not
// known (a pipe).
int64_t ArchiveReader::allowed(const Level& level, int64_t packed) const {
    const int64_t base = compressesEachMember(level.handle)
                             ? std::max<int64_t>(0, packed)
                             : std::max(level.size, archive_filter_bytes(level.handle, -1));
    return limits_.expansion * (base + limits_.expansionAllowance);
}

std::string ArchiveReader::expansionMessage(const Level& level) const {
    const bool zip = compressesEachMember(level.handle);
    return "expands " + std::string(zip ? "more than " : "to more than ") +
           std::to_string(limits_.expansion) +
           (zip ? " times over its compressed size" : " times the archive's size") +
           ": refused as a likely decompression bomb";
}

// A compressed stream (a .tar.gz, say) can be passed over only by expanding it, so it is
// read here, and what is expanded only to be passed over is held to the archive's size as
// a member is. Archives that decompress their members themselves pass over a member as
// libarchive does: a zip seeks past its compressed bytes, a 7z expands what lies before the
// next member it is asked for.
bool ArchiveReader::passOver(Level* level, ArchiveMember* member) {
    level->unread = false;
    struct archive* handle = level->handle;
    if (archive_filter_count(handle) <= 1) return true;
    for (;;) {
        const void* block = nullptr;
        size_t count = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(handle, &block, &count, &offset);
        if (status == ARCHIVE_EOF) return true;
        if (status == ARCHIVE_FATAL) {
            endLevel(member, errorOf(handle));
            return false;
        }
        if (status < ARCHIVE_WARN) return true;  // the next header reads on past it
        level->passedOver += static_cast<int64_t>(count);
        if (level->passedOver > allowed(*level, 0)) {
            endLevel(member, "what is passed over of it expands to more than " +
                                 std::to_string(limits_.expansion) +
                                 " times the archive's size: the rest is not read");
            return false;
        }
    }
}

ArchiveReader::Taken ArchiveReader::take(Level* level, struct archive_entry* entry,
                                         ArchiveMember* member) {
    using Outcome = ArchiveMember::Outcome;
    const int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    if (declared > limits_.largestMember) {
        member->outcome = Outcome::Refused;
        member->message = kTooLarge;
        member->size = declared;
        return Taken::Refused;
    }
    struct archive* handle = level->handle;
    MemberSink sink(limits_.inMemory, declared);
    const int64_t start = archive_filter_bytes(handle, -1);
    int64_t size = 0;
    for (;;) {
        const void* block = nullptr;
        size_t count = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(handle, &block, &count, &offset);
        if (status == ARCHIVE_EOF) break;
        if (status == ARCHIVE_FATAL) {
            // The archive is named, and the member where it broke off in its message.
            const std::string& name = member->name;
            const size_t prefix = level->name.size() + 1;
            const std::string where =
                name.size() > prefix ? " (reading " + name.substr(prefix) + ")" : "";
            endLevel(member, errorOf(handle) + where);
            return Taken::Stopped;
        }
        // A warning on data is about the data: a checksum that does not match, say.
        if (status != ARCHIVE_OK || offset < size) {
            member->outcome = Outcome::Failed;
            member->message = status != ARCHIVE_OK ? errorOf(handle) : "its data is out of order";
            return Taken::Failed;
        }
        const int64_t end = offset + static_cast<int64_t>(count);
        const bool tooLarge = end > limits_.largestMember;
        if (tooLarge || end > allowed(*level, archive_filter_bytes(handle, -1) - start)) {
            member->outcome = Outcome::Refused;
            member->message = tooLarge ? kTooLarge : expansionMessage(*level);
            member->size = size;
            return Taken::Refused;
        }
        if (!sink.put(offset, static_cast<const char*>(block), count)) {
            member->outcome = Outcome::Failed;
            member->message =
                std::string("cannot be held in a temporary file: ") + std::strerror(errno);
            return Taken::Failed;
        }
        size = end;
    }
    if (declared > size) {
        if (declared > allowed(*level, archive_filter_bytes(handle, -1) - start)) {
            member->outcome = Outcome::Refused;
            member->message = expansionMessage(*level);
            member->size = size;
            return Taken::Refused;
        }
        size = declared;  // a sparse member that ends in a hole
    }
    if (!sink.finish(size)) {
        member->outcome = Outcome::Failed;
        member->message =
            std::string("cannot be held in a temporary file: ") + std::strerror(errno);
        return Taken::Failed;
    }
    member->size = size;
    member->bytes = std::move(sink.bytes());
    member->file = std::move(sink.file());
    return Taken::Whole;
}

bool ArchiveReader::next(ArchiveMember* member) {
    using Outcome = ArchiveMember::Outcome;
    *member = ArchiveMember();
    const Utf8Names names;
    while (!levels_.empty()) {
        Level* level = levels_.back().get();
        if (level->handle == nullptr) {
            std::string error;
            if (!open(level, &error)) {
                endLevel(member, error);
                return true;
            }
        }
        if (level->unread && !passOver(level, member)) return true;
        struct archive_entry* entry = nullptr;
        const int status = archive_read_next_header(level->handle, &entry);
        if (status == ARCHIVE_EOF) {
            // A file compressed on its own whose stream holds nothing is an empty drawing,
            // as an empty file is.
            const bool emptyDrawing = level->single && !level->anyEntry;
            if (emptyDrawing) member->name = level->name;
            levels_.pop_back();
            if (emptyDrawing) return true;
            continue;
        }
        level->anyEntry = true;
        if (status == ARCHIVE_FATAL) {
            endLevel(member, errorOf(level->handle));
            return true;
        }
        if (++entries_ > limits_.members) {
            // Named after the archive given, whose limit it is, with whatever was open in it.
            member->outcome = Outcome::Failed;
            member->name = levels_.front()->name;
            member->message =
                "more than " + std::to_string(limits_.members) + " members: the rest is not read";
            levels_.clear();
            return true;
        }
        const std::string path = pathOf(entry);
        const bool single = archive_format(level->handle) == ARCHIVE_FORMAT_RAW;
        member->name = single ? level->name : level->name + '!' + path;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {  // this header only
            member->outcome = Outcome::Failed;
            member->message = errorOf(level->handle);
            return true;
        }
        // Folders, links and devices hold no drawing (a hard link's bytes are its
        // target's, read where the target stands).
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr) {
            continue;
        }
        const bool drawing = single || isDrawingName(path);
        const bool inner = !drawing && (isArchiveName(path) || isCompressedDrawingName(path));
        if (!drawing && !inner) {
            level->unread = true;
            continue;
        }
        if (inner && levels_.size() >= limits_.depth) {
            member->outcome = Outcome::Refused;
            member->message = "not opened: archives inside archives are opened " +
                              (limits_.depth == 2 ? std::string("one level")
                                                  : std::to_string(limits_.depth - 1) + " levels") +
                              " down, and this one lies deeper";
            level->unread = true;
            return true;
        }
        if (drawing && !takeDrawings_) {
            member->size = std::max<int64_t>(0, archive_entry_size(entry));
            level->unread = true;
            return true;
        }
        switch (take(level, entry, member)) {
            case Taken::Stopped:
            case Taken::Failed:
                return true;
            case Taken::Refused:
                level->unread = true;
                return true;
            case Taken::Whole:
                break;
        }
        if (drawing) return true;
        auto opened = std::make_unique<Level>();
        opened->name = std::move(member->name);
        opened->single = !isArchiveName(path);
        opened->fromMemory = member->file.get() < 0;
        opened->bytes = std::move(member->bytes);
        opened->file = std::move(member->file);
        levels_.push_back(std::move(opened));
        *member = ArchiveMember();
    }
    return false;
}

}  // namespace wqhost
