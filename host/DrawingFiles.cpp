// The walk of a folder for drawings.
#include "DrawingFiles.hpp"

#include <algorithm>
#include <filesystem>

namespace wqhost {

namespace fs = std::filesystem;

bool isDrawingName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot != 4) return false;
    const char* e = path.c_str() + dot + 1;
    return (e[0] | 0x20) == 'd' && (e[1] | 0x20) == 'x' && (e[2] | 0x20) == 'f';
}

bool findDrawings(const std::string& folder, std::vector<std::string>* paths, std::string* error) {
    std::vector<std::string> found;
    std::error_code failed;
    for (fs::recursive_directory_iterator walk(folder, failed), end; !failed && walk != end;
         walk.increment(failed)) {
        std::error_code ignored;
        const std::string path = walk->path().string();
        if (walk->is_regular_file(ignored) && isDrawingName(path)) found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    paths->insert(paths->end(), found.begin(), found.end());
    if (failed) *error = failed.message();
    return !failed;
}

}  // namespace wqhost
