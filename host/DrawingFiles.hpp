// Finding the drawings under a folder, the way dxftext and the benchmarks walk a tree.
#ifndef WQHOST_DRAWING_FILES_HPP
#define WQHOST_DRAWING_FILES_HPP

#include <string>
#include <vector>

namespace wqhost {

// Whether a file name ends in .dxf, in any case.
bool isDrawingName(const std::string& path);
// Appends the regular files named .dxf (any case) under `folder`, recursively, in byte
// order of their paths, so that every run lists them alike. Symbolic links to folders are
// not followed. False, with the reason in *error, when the walk stopped part-way; what was
// found before is still appended.
bool findDrawings(const std::string& folder, std::vector<std::string>* paths, std::string* error);

}  // namespace wqhost

#endif
