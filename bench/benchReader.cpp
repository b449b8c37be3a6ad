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

#include "BenchSupport.hpp"
#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfSource.h"
#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace {

using wqbench::benchDrawing;

// The file the run reads from, when WQ_BENCH_DRAWING names one.
const char* drawingPath() {
    const char* path = std::getenv("WQ_BENCH_DRAWING");
    return path != nullptr ? path : "";
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
            std::string bytes;
            if (wqhost::readFile(path.string(), &bytes) && !bytes.empty()) all.push_back(bytes);
        }
        return all;
    }();
    return drawings;
}

// Runs one document; returns the number of text records, or -1 when delivery stopped early.
int64_t extract(HostStream* stream, wqhost::MallocServices* services) {
    HostParams params;
    wqhost::initHostParams(&params, services);
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
        wqhost::releaseRecord(services, record);
        if (kind == RecordEndOfDocument) break;
    }
    shutDownDXFsrc(source);
    return texts;
}

void BM_DocumentFromMemory(benchmark::State& state) {
    const std::string& bytes = benchDrawing();
    int64_t texts = 0, peak = 0;
    for (auto _ : state) {
        wqhost::MemoryStream stream;
        wqhost::initMemoryStream(&stream, bytes.data(), static_cast<int32_t>(bytes.size()));
        wqhost::MallocServices services;
        wqhost::initMallocServices(&services);
        texts = extract(&stream.table, &services);
        peak = services.poolPeak;
        wqhost::finishMallocServices(&services);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
    state.counters["texts"] = static_cast<double>(texts);
    state.counters["peakPoolBlocks"] = static_cast<double>(peak);
}
BENCHMARK(BM_DocumentFromMemory)->Unit(benchmark::kMillisecond);

void BM_DocumentFromFile(benchmark::State& state) {
    if (*drawingPath() == '\0') {
        state.SkipWithError("set WQ_BENCH_DRAWING to a drawing file");
        return;
    }
    for (auto _ : state) {
        wqhost::FileStream stream;
        wqhost::initFileStream(&stream, drawingPath());
        wqhost::MallocServices services;
        wqhost::initMallocServices(&services);
        benchmark::DoNotOptimize(extract(&stream.table, &services));
        wqhost::finishFileStream(&stream);
        wqhost::finishMallocServices(&services);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(benchDrawing().size()));
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
            wqhost::MallocServices services;
            wqhost::initMallocServices(&services);
            benchmark::DoNotOptimize(extract(&stream.table, &services));
            wqhost::finishMallocServices(&services);
        }
    }
    state.counters["perDocument"] = benchmark::Counter(
        static_cast<double>(kBatch),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SmallDocumentBatch)->Unit(benchmark::kMillisecond);

void BM_ReadAllLines(benchmark::State& state) {
    const std::string& bytes = benchDrawing();
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
