// Benchmarks: a whole drawing from startSrcDXF to the end-of-document record, from memory
// and from a file, a batch of many small drawings, and the line and group-code lookups
// every line goes through. The drawing is WQ_BENCH_DRAWING (make bench generates one), or
// a synthetic one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSource.h"
#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace {

std::string syntheticDrawing() {
    std::string d = "  0\nSECTION\n  2\nENTITIES\n";
    for (int i = 0; d.size() < (8u << 20); ++i) {
        d += "  0\nLINE\n  8\nA-WALL\n 10\n12.5\n 20\n" + std::to_string(i) +
             "\n 30\n0.0\n 11\n99.25\n 21\n7.0\n 31\n0.0\n";
        if (i % 20 == 0) {
            d += "  0\nTEXT\n  8\nA-ANNO\n 10\n1.0\n 20\n2.0\n 30\n0.0\n 40\n2.5\n  1\nRoom " +
                 std::to_string(i) + "\n";
        }
    }
    return d + "  0\nENDSEC\n  0\nEOF\n";
}

const std::string& drawingPath() {
    static const std::string path = [] {
        const char* env = std::getenv("WQ_BENCH_DRAWING");
        return std::string(env ? env : "");
    }();
    return path;
}

// The whole of a file, or nothing when it cannot be read.
std::string fileBytes(const std::string& path) {
    std::string data;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[1 << 16];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, got);
        std::fclose(f);
    }
    return data;
}

const std::string& drawing() {
    static const std::string bytes =
        drawingPath().empty() ? syntheticDrawing() : fileBytes(drawingPath());
    return bytes;
}

// The project's own small drawings: the sample and the fuzz seeds, a few KiB at most each,
// so that a document's set-up and teardown weigh more than its reading.
const std::vector<std::string>& smallDrawings() {
    static const std::vector<std::string> drawings = [] {
        namespace fs = std::filesystem;
        const fs::path source(WQ_SOURCE_DIR);
        std::vector<fs::path> paths;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(source / "tests/corpus", error))
            paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        paths.insert(paths.begin(), source / "samples/title_block.dxf");
        std::vector<std::string> all;
        for (const fs::path& path : paths) {
            std::string bytes = fileBytes(path.string());
            if (!bytes.empty()) all.push_back(bytes);
        }
        return all;
    }();
    return drawings;
}

// Counts pool blocks live at the peak: the reader's memory must not grow with the drawing.
struct PeakServices {
    wqhost::MallocServices base;
    HostServices inner;
    int64_t live;
    int64_t peak;
};
PeakServices* peakOf(HostServices* s) { return reinterpret_cast<PeakServices*>(s); }
void* peakCalloc(HostServices* s, int32_t count, int32_t size) {
    void* p = peakOf(s)->inner.callocMem(s, count, size);
    if (p != nullptr && ++peakOf(s)->live > peakOf(s)->peak) peakOf(s)->peak = peakOf(s)->live;
    return p;
}
void peakFree(HostServices* s, void* p) {
    if (p != nullptr) --peakOf(s)->live;
    peakOf(s)->inner.freeMem(s, p);
}

// Runs one document; returns the number of text records, or -1 when delivery stopped early.
int64_t extract(HostStream* stream, PeakServices* services) {
    HostParams params;
    wqhost::initHostParams(&params, &services->base);
    DxfSource* source = startSrcDXF(stream, &params);
    if (source == nullptr) return -1;
    int64_t texts = 0;
    for (;;) {
        OutputRecord* record = getDXFobject(source);
        if (record == nullptr) {
            texts = -1;
            break;
        }
        const int32_t kind = wqhost::recordKind(record);
        texts += kind == RecordText;
        wqhost::releaseRecord(&services->base, record);
        if (kind == RecordEndOfDocument) break;
    }
    shutDownDXFsrc(source);
    return texts;
}

void initPeak(PeakServices* services) {
    wqhost::initMallocServices(&services->base);
    services->inner = services->base.table;
    services->live = services->peak = 0;
    services->base.table.callocMem = peakCalloc;
    services->base.table.freeMem = peakFree;
}

void BM_DocumentFromMemory(benchmark::State& state) {
    const std::string& bytes = drawing();
    int64_t texts = 0, peak = 0;
    for (auto _ : state) {
        wqhost::MemoryStream stream;
        wqhost::initMemoryStream(&stream, bytes.data(), static_cast<int32_t>(bytes.size()));
        PeakServices services;
        initPeak(&services);
        texts = extract(&stream.table, &services);
        peak = services.peak;
        wqhost::finishMallocServices(&services.base);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
    state.counters["texts"] = static_cast<double>(texts);
    state.counters["peakPoolBlocks"] = static_cast<double>(peak);
}
BENCHMARK(BM_DocumentFromMemory)->Unit(benchmark::kMillisecond);

void BM_DocumentFromFile(benchmark::State& state) {
    if (drawingPath().empty()) {
        state.SkipWithError("set WQ_BENCH_DRAWING to a drawing file");
        return;
    }
    for (auto _ : state) {
        wqhost::FileStream stream;
        wqhost::initFileStream(&stream, drawingPath().c_str());
        PeakServices services;
        initPeak(&services);
        benchmark::DoNotOptimize(extract(&stream.table, &services));
        wqhost::finishFileStream(&stream);
        wqhost::finishMallocServices(&services.base);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(drawing().size()));
}
BENCHMARK(BM_DocumentFromFile)->Unit(benchmark::kMillisecond);

// A batch of 2,000 small documents from memory, as a host indexing many drawings reads
// them; "perDocument" is the time of one document.
void BM_SmallDocumentBatch(benchmark::State& state) {
    const std::vector<std::string>& drawings = smallDrawings();
    if (drawings.empty()) {
        state.SkipWithError("the sample and test drawings are missing");
        return;
    }
    constexpr int64_t kBatch = 2000;
    for (auto _ : state) {
        for (int64_t i = 0; i < kBatch; ++i) {
            const std::string& bytes = drawings[static_cast<size_t>(i) % drawings.size()];
            wqhost::MemoryStream stream;
            wqhost::initMemoryStream(&stream, bytes.data(), static_cast<int32_t>(bytes.size()));
            PeakServices services;
            initPeak(&services);
            benchmark::DoNotOptimize(extract(&stream.table, &services));
            wqhost::finishMallocServices(&services.base);
        }
    }
    state.counters["perDocument"] = benchmark::Counter(
        static_cast<double>(kBatch),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SmallDocumentBatch)->Unit(benchmark::kMillisecond);

void BM_ReadAllLines(benchmark::State& state) {
    const std::string& bytes = drawing();
    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    for (auto _ : state) {
        wqhost::MemoryStream stream;
        wqhost::initMemoryStream(&stream, bytes.data(), static_cast<int32_t>(bytes.size()));
        DxfFileStrmIo* lines = newDxfFileStrmIo(&services.table, &stream.table, nullptr, nullptr);
        char line[DxfLineBytes];
        int64_t count = 0;
        while (lines->readLine(lines, line, DxfLineBytes) >= 0) ++count;
        benchmark::DoNotOptimize(count);
        deleteDxfFileStrmIo(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
    wqhost::finishMallocServices(&services);
}
BENCHMARK(BM_ReadAllLines)->Unit(benchmark::kMillisecond);

void BM_FindGroupId(benchmark::State& state) {
    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    DxfGrpId* groups = newDxfGrpId(&services.table, nullptr);
    const char* codes[] = {"0", "8", "10", "20", "30", "40", "1", "100", "330", "1071", "19"};
    GroupInfo info;
    for (auto _ : state) {
        for (const char* code : codes) benchmark::DoNotOptimize(findGroupId(groups, code, &info));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 11);
    deleteDxfGrpId(groups);
    wqhost::finishMallocServices(&services);
}
BENCHMARK(BM_FindGroupId);

}  // namespace

BENCHMARK_MAIN();
