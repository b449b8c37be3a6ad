// Drawings stored inside archives and compressed files: the members of a zip, tar or 7z
// archive (and of the archives in it, one level down) and the drawing of a .dxf.gz, taken
// out one at a time in the archive's order, each whole, in memory or in an unnamed file.
#ifndef WQHOST_ARCHIVE_HPP
#define WQHOST_ARCHIVE_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TemporaryFile.hpp"

struct archive;
struct archive_entry;

namespace wqhost {

// What a name says, in any case. Archives: .zip, .tar, .tgz, .tar.gz, .tar.bz2, .tbz2,
// .tar.xz, .txz, .tar.zst, .7z.
bool isArchiveName(const std::string& name);
// A file compressed on its own: .gz, .bz2, .xz, .zst (and not a compressed tar).
bool isCompressedName(const std::string& name);
// A drawing compressed on its own: .dxf.gz, .dxf.bz2, .dxf.xz, .dxf.zst.
bool isCompressedDrawingName(const std::string& name);
// What a folder walk takes when it is to open archives too: drawings, compressed
// drawings and archives.
bool isDrawingOrArchiveName(const std::string& name);

// The bounds an archive's members are held to, so that a hostile archive costs a few
// refused members rather than the disk or the memory.
struct ArchiveLimits {
    // A member larger than a document may be is refused: the reader's offsets are 32-bit.
    int64_t largestMember = INT32_MAX;
    // A member of a zip may hold at most this many times the compressed bytes read to take
    // it out; a member of another archive (a .tar.gz, a 7z, a .dxf.gz), where members are
    // compressed together, this many times the archive's size, and so may what is expanded
    // of a compressed tar only to be passed over. `expansionAllowance` bytes are added to
    // what is compared: a decompressor reads ahead of what it gives out, and a small member
    // may come out of bytes read for the one before it.
    int64_t expansion = 100;
    int64_t expansionAllowance = 64 * 1024;
    // Entries read from one archive, those of the archives inside it included: past this
    // the rest is not read.
    size_t members = 100000;
    // Members up to this size are held in memory, as the toolkit reads small files whole;
    // larger ones go to an unnamed temporary file.
    size_t inMemory = 256 * 1024;
    // Levels of archives opened: the archive and those inside it. An archive below that is
    // refused, not opened.
    size_t depth = 2;
};

// One drawing taken out of an archive, or why one could not be.
struct ArchiveMember {
    enum class Outcome {
        Drawing,  // in `bytes` or `file`
        Refused,  // too large, expanding too far, an archive nested too deep: `message`
        Failed    // unreadable, or the archive itself failed (named by `name`): `message`
    };
    Outcome outcome = Outcome::Drawing;
    // ARCHIVE!MEMBER (OUTER!INNER!MEMBER one level down); a file compressed on its own
    // gives its drawing under its own name, and a failure of a whole archive names it.
    std::string name;
    std::string message;
    // Bytes in the member: as taken out, as the archive says when only listed (0 when it
    // does not say), or as far as reading went when it was refused.
    int64_t size = 0;
    // A drawing of up to ArchiveLimits::inMemory bytes; a larger one is in `file`, an
    // unnamed temporary file, at offset 0.
    std::string bytes;
    OpenFile file;
};

// The drawings of one archive, in the order it holds them. Members whose names end in
// .dxf (any case) are drawings; archives and compressed drawings inside it are opened where
// they stand and read through, one level deep; every other member is passed over. What
// the archive is shows by its content: a .gz that holds a tar is read as a tar, and a
// file compressed on its own (or not compressed at all) gives its one drawing.
class ArchiveReader {
  public:
    // Reads the archive open as `file` (or at `name` when `file` is not open). `name`
    // starts the members' names. With `takeDrawings` off the drawings are listed with the
    // sizes the archive gives, not taken out.
    ArchiveReader(std::string name, OpenFile file, const ArchiveLimits& limits = ArchiveLimits(),
                  bool takeDrawings = true);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next drawing, or refused or failed member, or failure of the archive; false at
    // the end. A member that fails does not stop the others; an archive that cannot be
    // read on (cut short, corrupt, past the limits) ends after one failure naming it.
    bool next(ArchiveMember* member);

  private:
    struct Level;
    enum class Taken { Whole, Refused, Failed, Stopped };
    bool open(Level* level, std::string* error);
    Taken take(Level* level, struct archive_entry* entry, ArchiveMember* member);
    bool passOver(Level* level, ArchiveMember* member);
    int64_t allowed(const Level& level, int64_t packed) const;
    std::string expansionMessage(const Level& level) const;
    void endLevel(ArchiveMember* member, const std::string& message);

    ArchiveLimits limits_;
    bool takeDrawings_;
    std::vector<std::unique_ptr<Level>> levels_;  // the archive, then the one open inside it
    size_t entries_ = 0;
};

}  // namespace wqhost

#endif
