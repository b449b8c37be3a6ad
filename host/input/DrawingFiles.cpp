// The walk of a folder for drawings, one folder's entries at a time.
#include "DrawingFiles.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace wqhost {

namespace fs = std::filesystem;

bool isDrawingName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot != 4) return false;
    const char* e = path.c_str() + dot + 1;
    return (e[0] | 0x20) == 'd' && (e[1] | 0x20) == 'x' && (e[2] | 0x20) == 'f';
}

DrawingWalk::DrawingWalk(std::string folder, bool (*wanted)(const std::string&))
    : top_(std::move(folder)), wanted_(wanted) {}

// Sorting a folder's entries by name, with '/' after a folder's name, and going down into
// each folder where it stands gives the byte order of the whole paths: below a common
// folder two paths first differ within the names of the entries they pass through, or
// where one name ends and the other goes on, and there a folder's path goes on with '/'.
bool DrawingWalk::enter(const std::string& folder) {
    Level level;
    std::error_code failed;
    for (fs::directory_iterator list(folder, failed), end; !failed && list != end;
         list.increment(failed)) {
        std::error_code ignored;
        std::string name = list->path().filename().string();
        if (list->is_directory(ignored) && !list->is_symlink(ignored)) {
            level.entries.push_back(Entry{name + '/', list->path().string(), true});
        } else if (list->is_regular_file(ignored) && wanted_(name)) {
            level.entries.push_back(Entry{std::move(name), list->path().string(), false});
        }
    }
    if (failed) {
        error_ = failed.message();
        levels_.clear();
        return false;
    }
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    levels_.push_back(std::move(level));
    return true;
}

bool DrawingWalk::next(std::string* path) {
    if (!started_) {
        started_ = true;
        if (!enter(top_)) return false;
    }
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            levels_.pop_back();
            continue;
        }
        Entry& entry = level.entries[level.next++];
        if (!entry.folder) {
            *path = std::move(entry.path);
            return true;
        }
        const std::string folder = std::move(entry.path);
        if (!enter(folder)) return false;
    }
    return false;
}

bool findDrawings(const std::string& folder, std::vector<std::string>* paths, std::string* error) {
    DrawingWalk walk(folder);
    std::string path;
    while (walk.next(&path)) paths->push_back(path);
    if (!walk.error().empty()) *error = walk.error();
    return walk.error().empty();
}

}  // namespace wqhost
