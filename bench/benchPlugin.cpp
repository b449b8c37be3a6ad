// Throughput of the plug-in over drawings held in memory, as a host that already has the
// bytes reads them, next to a memchr pass that finds every line end of the same bytes.
// Prints one JSON object per round; bench/table.py turns the rounds into the table.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "DrawingFiles.hpp"
#include "DxfSource.h"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The host toolkit's document API gives up after as many empty calls in a row; the same
// limit keeps the texts counted here equal to what dxftext --plugin-only prints.
constexpr int kMaxNullsInRow = 64;

struct PassCounts {
    int64_t texts = 0;
    int64_t recoveries = 0;
    int64_t unfinished = 0;  // refused, or stopped before the end-of-document record
};

constexpr const char* kUsage =
    "Usage: benchPlugin [--rounds N] [--min-seconds S] FILE|DIR...\n"
    "Reads every drawing into memory (a DIR: its .dxf files, recursively), then for each\n"
    "round times a memchr pass over all their line ends and the plug-in over all of them,\n"
    "each repeated until it has taken S seconds (default 0.2), and prints the round as JSON.\n";

// The drawings the arguments name, folders walked in sorted order as dxftext walks them.
bool collect(const std::vector<std::string>& arguments, std::vector<std::string>* paths) {
    for (const std::string& argument : arguments) {
        std::error_code notFolder;
        if (!fs::is_directory(argument, notFolder)) {
            paths->push_back(argument);
            continue;
        }
        std::string error;
        if (!wqhost::findDrawings(argument, paths, &error)) {
            std::fprintf(stderr, "benchPlugin: %s: %s\n", argument.c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

// Reads one document through the plug-in, calling again after an empty answer as the
// document API does, and adds its text records to the counts.
void readDocument(const std::string& bytes, PassCounts* counts) {
    wqhost::MemoryStream stream;
    wqhost::initMemoryStream(&stream, bytes.data(), static_cast<int32_t>(bytes.size()));
    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    HostParams params;
    wqhost::initHostParams(&params, &services);
    bool finished = false;
    if (DxfSource* source = startSrcDXF(&stream.table, &params)) {
        int nullsInRow = 0;
        while (nullsInRow <= kMaxNullsInRow) {
            OutputRecord* record = getDXFobject(source);
            if (record == nullptr) {
                ++nullsInRow;
                continue;
            }
            counts->recoveries += nullsInRow;
            nullsInRow = 0;
            const int32_t kind = wqhost::recordKind(record);
            counts->texts += kind == RecordText;
            wqhost::releaseRecord(&services, record);
            if (kind == RecordEndOfDocument) {
                finished = true;
                break;
            }
        }
        shutDownDXFsrc(source);
    }
    counts->unfinished += !finished;
    wqhost::finishMallocServices(&services);
}

// Seconds per pass of `pass`, repeated until minSeconds have gone by (once at least).
template <class Pass>
double timePass(double minSeconds, Pass pass) {
    const Clock::time_point start = Clock::now();
    int passes = 0;
    double elapsed = 0;
    do {
        pass();
        ++passes;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < minSeconds);
    return elapsed / passes;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 1;
    double minSeconds = 0.2;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--min-seconds" && i + 1 < argc) {
            minSeconds = std::atof(argv[++i]);
        } else if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            arguments.push_back(argument);
        }
    }
    std::vector<std::string> paths;
    if (arguments.empty() || !collect(arguments, &paths) || paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Every byte is read before the clock starts: the figures are of reading, not of the disk.
    std::vector<std::string> documents(paths.size());
    int64_t totalBytes = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!wqhost::readFile(paths[i], &documents[i]) || documents[i].size() > INT32_MAX) {
            std::fprintf(stderr, "benchPlugin: cannot read %s\n", paths[i].c_str());
            return 1;
        }
        totalBytes += static_cast<int64_t>(documents[i].size());
    }

    for (int round = 0; round < rounds; ++round) {
        int64_t lines = 0;
        const double memchrSeconds = timePass(minSeconds, [&] {
            lines = 0;
            for (const std::string& bytes : documents) lines += wqbench::countLineEnds(bytes);
        });
        PassCounts counts;
        const double pluginSeconds = timePass(minSeconds, [&] {
            counts = PassCounts();
            for (const std::string& bytes : documents) readDocument(bytes, &counts);
        });
        std::printf("{\"round\":%d,\"documents\":%zu,\"bytes\":%lld,\"lines\":%lld,\"texts\":%lld,"
                    "\"recoveries\":%lld,\"unfinished\":%lld,\"memchr_seconds\":%.9f,"
                    "\"plugin_seconds\":%.9f}\n",
                    round, documents.size(), static_cast<long long>(totalBytes),
                    static_cast<long long>(lines), static_cast<long long>(counts.texts),
                    static_cast<long long>(counts.recoveries),
                    static_cast<long long>(counts.unfinished), memchrSeconds, pluginSeconds);
        std::fflush(stdout);
    }
    return 0;
}
