// Finding the drawings under a folder, the way dxftext and the benchmarks walk a tree: one
// at a time, in byte order of their paths, holding only the folders on the way down.
#ifndef WQHOST_DRAWING_FILES_HPP
#define WQHOST_DRAWING_FILES_HPP

#include <cstddef>
#include <string>
#include <vector>

namespace wqhost {

// Whether a file name ends in .dxf, in any case.
bool isDrawingName(const std::string& path);

// The regular files named .dxf (any case), or as asked, under a folder, recursively, in
// byte order of their paths, so that every run lists them alike; symbolic links to folders
// are not followed. It keeps the sorted entries of each folder from the top down to the one
// it is in, so a tree of any size costs what its largest folder costs.
class DrawingWalk {
  public:
    // `wanted` picks the files by name: drawings, or drawings and archives.
    explicit DrawingWalk(std::string folder, bool (*wanted)(const std::string&) = isDrawingName);

    // The next drawing's path, as the folder given joined with the names below it. False at
    // the end, or when a folder could not be read: error() then says why, and the walk
    // stops there, after every path that sorts before that folder's.
    bool next(std::string* path);
    const std::string& error() const { return error_; }

  private:
    struct Entry {
        std::string key;  // the name, with a '/' after a folder's, as it sorts in a path
        std::string path;
        bool folder;
    };
    struct Level {
        std::vector<Entry> entries;
        size_t next = 0;
    };
    bool enter(const std::string& folder);

    std::string top_;
    bool (*wanted_)(const std::string&);
    bool started_ = false;
    std::vector<Level> levels_;
    std::string error_;
};

// Appends every path a DrawingWalk of `folder` gives. False, with the reason in *error,
// when the walk stopped part-way; what was found before is still appended.
bool findDrawings(const std::string& folder, std::vector<std::string>* paths, std::string* error);

}  // namespace wqhost

#endif
