// The main of a fuzz target built without libFuzzer: runs the target over every file named
// on the command line and every file in a folder named there, as the tests replay a corpus.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ReadAll.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (!fs::is_directory(argv[i], error)) {
            paths.push_back(argv[i]);
            continue;
        }
        std::vector<std::string> inFolder;
        for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
            if (entry.is_regular_file(error)) inFolder.push_back(entry.path().string());
        std::sort(inFolder.begin(), inFolder.end());  // the same order on every machine
        paths.insert(paths.end(), inFolder.begin(), inFolder.end());
    }
    int replayed = 0;
    for (const std::string& path : paths) {
        std::string bytes;
        if (!wqhost::readFile(path, &bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
    }
    std::printf("replayed %d inputs\n", replayed);
    // A folder that lost its files should not pass unnoticed.
    return replayed > 0 ? 0 : 1;
}
