// Whole inputs into memory, a 64 KiB chunk at a time.
#include "ReadAll.hpp"

namespace wqhost {

bool readAll(std::FILE* in, std::string* out, int64_t limit) {
    char chunk[65536];
    size_t got;
    int64_t total = 0;
    while (total <= limit && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        out->append(chunk, got);
        total += static_cast<int64_t>(got);
    }
    return !std::ferror(in);
}

bool readFile(const std::string& path, std::string* out) {
    out->clear();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    const bool read = readAll(in, out);
    std::fclose(in);
    return read;
}

}  // namespace wqhost
