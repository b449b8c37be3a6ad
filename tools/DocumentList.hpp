// The documents of a dxftext run, in order, made as they are asked for: the arguments,
// each folder walked when it is reached, then the lines of each path list. A list of a
// million paths costs what one of a thousand costs.
#ifndef WQTOOLS_DOCUMENT_LIST_HPP
#define WQTOOLS_DOCUMENT_LIST_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Archive.hpp"
#include "DrawingFiles.hpp"

namespace wqtools {

using wqhost::OpenFile;

// One document to read, or a listing error to report in its place.
struct Item {
    std::string path;      // as given or found; ARCHIVE!MEMBER for a member of an archive
    std::string error;     // set: not a document, report this instead
    int64_t size = 0;      // for the progress bar, when asked for; 0 when unknown
    OpenFile file;         // the document opened (non-blocking) when it was found, if it could be
    bool refused = false;  // the error refuses the document (too large, say) rather than failing
    // A member of an archive: its bytes, or when it is large `file`, an unnamed temporary
    // file holding them.
    bool member = false;
    std::string bytes;
};

// A --paths-from list, opened once and read from the start as often as asked. A list that
// is not a regular file (standard input, a pipe) is copied to an unnamed temporary file
// as it is opened, since it can be read only once.
class PathList {
  public:
    PathList() = default;
    PathList(PathList&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    PathList(const PathList&) = delete;
    PathList& operator=(const PathList&) = delete;
    ~PathList();

    // False, with the reason in *error, when the list cannot be opened, read or copied.
    bool open(const std::string& name, std::string* error);
    // The lines that name standard input ("-"), which may be read only once in a run.
    size_t countStandardInput() const;

    // One path a line, from the start: a trailing CR is dropped, empty lines skipped.
    class Reader {
      public:
        explicit Reader(int fd) : fd_(fd) {}
        // False at the end of the list; a list that can no longer be read ends there, as a
        // file's last line ends at the end of the file.
        bool next(std::string* path);

      private:
        int fd_;
        int64_t offset_ = 0;  // of buffer_'s first byte in the list
        std::string buffer_;
        size_t used_ = 0;     // bytes of buffer_ already given out
        bool ended_ = false;
    };
    Reader reader() const { return Reader(fd_); }

  private:
    int fd_ = -1;
};

// The documents, one at a time. With `Open` each is opened to see whether it is a folder
// to walk, and handed on open, so that a document's path is looked up once; with `Sizes`
// each file's size is looked up instead, for the progress bar.
//
// An archive or compressed file (known by its name: a plain .dxf is never looked into)
// gives its drawings one by one, each taken out of the archive when it is asked for, so
// that only the documents looked at ahead are held. Archives named as arguments or in lists
// are always opened; folder walks take them only when `archives` is set, so that a folder
// reads as it did without it.
class ItemSource {
  public:
    enum Look { Open, Sizes };
    ItemSource(const std::vector<std::string>& arguments, const std::vector<PathList>& lists,
               Look look, bool archives = false);
    bool next(Item* item);

  private:
    bool nextArgument(std::string* argument);
    Item itemOf(std::string path, OpenFile file) const;
    Item itemOf(wqhost::ArchiveMember&& member) const;
    bool archiveNext(Item* item);
    void startArchive(std::string path, OpenFile file, bool named);

    const std::vector<std::string>& arguments_;
    const std::vector<PathList>& lists_;
    Look look_;
    bool archives_;
    size_t argument_ = 0;
    size_t list_ = 0;
    std::unique_ptr<PathList::Reader> reader_;
    std::unique_ptr<wqhost::DrawingWalk> walk_;  // the folder being walked, if any
    std::string walked_;                         // its name, as given
    bool found_ = false;                         // whether it gave a drawing yet
    std::unique_ptr<wqhost::ArchiveReader> archive_;  // the archive being read, if any
    std::string archived_;                            // its name, as given or found
    bool archiveNamed_ = false;  // given rather than found in a walk: it must give something
    bool archiveGave_ = false;   // whether it gave a document or a failure yet
};

}  // namespace wqtools

#endif
