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

#include "DrawingFiles.hpp"

namespace wqtools {

// A file descriptor, closed when it goes unless taken.
class OpenFile {
  public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    OpenFile(OpenFile&& other) noexcept : fd_(other.take()) {}
    OpenFile& operator=(OpenFile&& other) noexcept;
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

// One document to read, or a listing error to report in its place.
struct Item {
    std::string path;
    std::string error;  // set: not a document, report this instead
    int64_t size = 0;   // for the progress bar, when asked for; 0 when unknown
    OpenFile file;      // the document opened (non-blocking) when it was found, if it could be
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
class ItemSource {
  public:
    enum Look { Open, Sizes };
    ItemSource(const std::vector<std::string>& arguments, const std::vector<PathList>& lists,
               Look look);
    bool next(Item* item);

  private:
    bool nextArgument(std::string* argument);
    Item itemOf(std::string path, OpenFile file) const;

    const std::vector<std::string>& arguments_;
    const std::vector<PathList>& lists_;
    Look look_;
    size_t argument_ = 0;
    size_t list_ = 0;
    std::unique_ptr<PathList::Reader> reader_;
    std::unique_ptr<wqhost::DrawingWalk> walk_;  // the folder being walked, if any
    std::string walked_;                         // its name, as given
    bool found_ = false;                         // whether it gave a drawing yet
};

}  // namespace wqtools

#endif
