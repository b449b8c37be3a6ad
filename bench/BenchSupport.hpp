// What the benchmarks share: the drawing they read (the file WQ_BENCH_DRAWING names, or a
// synthetic one) and the memchr pass over its line ends that every figure is set beside.
#ifndef WQ_BENCH_SUPPORT_HPP
#define WQ_BENCH_SUPPORT_HPP

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ReadAll.hpp"

namespace wqbench {

// 16 MiB of LINE entities with a TEXT and an MTEXT every 20th and a DIMENSION every 50th:
// text for both of the host's readers, among the lines every reader passes over.
inline std::string syntheticDrawing() {
    std::string d = "  0\nSECTION\n  2\nENTITIES\n";
    for (int i = 0; d.size() < (16u << 20); ++i) {
        const std::string n = std::to_string(i);
        d += "  0\nLINE\n  8\nA-WALL\n 10\n12.5\n 20\n" + n +
             "\n 30\n0.0\n 11\n99.25\n 21\n7.0\n 31\n0.0\n";
        if (i % 20 == 0) {
            d += "  0\nTEXT\n  8\nA-ANNO\n 10\n1.0\n 20\n2.0\n 30\n0.0\n 40\n2.5\n  1\nRoom " + n +
                 "\n  0\nMTEXT\n  8\nA-ANNO\n 10\n1.0\n 20\n2.0\n 40\n2.5\n  1\n"
                 "{\\fArial|b1;NOTE}\\PROOM " + n + " %%c50\n";
        }
        if (i % 50 == 0) d += "  0\nDIMENSION\n  8\nA-DIMS\n  2\n*D1\n  1\n<> TYP.\n";
    }
    return d + "  0\nENDSEC\n  0\nEOF\n";
}

// The drawing of this run, read once: WQ_BENCH_DRAWING when it names a readable file.
inline const std::string& benchDrawing() {
    static const std::string bytes = [] {
        const char* path = std::getenv("WQ_BENCH_DRAWING");
        std::string d;
        if (path != nullptr && *path != '\0') wqhost::readFile(path, &d);
        return d.empty() ? syntheticDrawing() : d;
    }();
    return bytes;
}

// The number of line ends: the least work any line-oriented reader has to do.
inline int64_t countLineEnds(std::string_view bytes) {
    int64_t count = 0;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p))))) {
        ++count;
        ++p;
    }
    return count;
}

}  // namespace wqbench

#endif
