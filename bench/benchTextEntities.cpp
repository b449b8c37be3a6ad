// Benchmarks of the host's text entity reader against a plain memchr pass over every line
// of the same bytes, and of the heap it takes for drawings of any size and values of any
// length. The drawing is WQ_BENCH_DRAWING (make bench generates one), or a synthetic one.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "BenchSupport.hpp"
#include "MtextPlain.hpp"
#include "TextEntityReader.hpp"

namespace {

// Heap bytes live now and at the highest since the peak was last reset, as the allocator
// counts them: the reader's memory is the peak over one pass less what was live before.
std::atomic<std::int64_t> heapLive{0};
std::atomic<std::int64_t> heapPeak{0};

}  // namespace

// GCC pairs the replaced operators' malloc and free with new and delete at the call sites
// it inlines them into and warns of a mismatch that is not there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    const std::int64_t live = heapLive.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                              static_cast<std::int64_t>(malloc_usable_size(p));
    std::int64_t peak = heapPeak.load();
    while (live > peak && !heapPeak.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    heapLive.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using wqbench::benchDrawing;

// A drawing of 64 MiB in eight values nobody reads and one MTEXT of 8 MiB, which the
// reader must keep whole.
const std::string& longValues() {
    static const std::string bytes = [] {
        const std::string big(8u << 20, 'x');
        std::string d = "0\nSECTION\n2\nENTITIES\n0\nLINE\n";
        for (int i = 0; i < 8; ++i) d += "310\n" + big + "\n";
        return d + "0\nMTEXT\n1\n" + big + "\n0\nENDSEC\n0\nEOF\n";
    }();
    return bytes;
}

// The floor: one memchr per line, as any line reader needs at the least.
void BM_MemchrLinePass(benchmark::State& state) {
    const std::string& bytes = benchDrawing();
    std::int64_t lines = 0;
    for (auto _ : state) {
        lines = wqbench::countLineEnds(bytes);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_MemchrLinePass)->Unit(benchmark::kMillisecond);

// Runs the reader over `bytes` once; counts the entities and the heap bytes the pass
// holds at its peak.
void readOnce(const std::string& bytes, std::int64_t* entities, std::int64_t* heap) {
    const std::int64_t before = heapLive.load();
    heapPeak.store(before);
    {
        wqhost::TextEntityReader reader = wqhost::TextEntityReader::overBytes(bytes);
        wqhost::HostEntity entity;
        std::int64_t count = 0;
        while (reader.next(&entity)) ++count;
        benchmark::DoNotOptimize(count);
        *entities = count;
    }
    *heap = heapPeak.load() - before;
}

// On the drawing, peakHeapBytes must stay the same whatever its size; on the long values,
// it is the read buffer and the one text kept (gathered, then made plain), nothing for the
// values skipped.
void BM_TextEntityReader(benchmark::State& state, const std::string& (*document)()) {
    const std::string& bytes = document();
    std::int64_t entities = 0, heap = 0;
    for (auto _ : state) readOnce(bytes, &entities, &heap);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
    state.counters["entities"] = static_cast<double>(entities);
    state.counters["peakHeapBytes"] = static_cast<double>(heap);
}
BENCHMARK_CAPTURE(BM_TextEntityReader, drawing, &benchDrawing)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TextEntityReader, longValues, &longValues)->Unit(benchmark::kMillisecond);

void BM_PlainMtext(benchmark::State& state) {
    const std::string raw =
        "{\\fArial|b1|i0|c0|p34;GENERAL NOTES}\\P1. ALL DIMENSIONS IN MM %%p0.5.\\P"
        "2. {\\H0.7x;\\C1;SEE} \\S1/2; SCHEDULE\\~A\\M+18140 \\U+00E9";
    std::string out;
    for (auto _ : state) {
        out.clear();
        wqhost::appendPlainMtext(raw, &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(raw.size()));
}
BENCHMARK(BM_PlainMtext);

}  // namespace

BENCHMARK_MAIN();
