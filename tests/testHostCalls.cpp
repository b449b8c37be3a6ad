// Every host call of whole documents, in order and with the arguments that matter to the
// host, against the transcripts kept in tests/golden/; WQ_UPDATE_GOLDEN=1 rewrites them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "DxfPublicStorage.h"
#include "FakeHost.hpp"
#include "Transcript.hpp"

namespace {

using wqtest::Op;
using Strings = std::vector<std::string>;

// One line per host call. Pointers become ordinals (#n is the n-th piece of memory or record
// the host handed out, #n+k an address k bytes into it), so the transcript does not depend
// on where malloc puts things. The storage's context and block records are its own
// bookkeeping, whose size may change: a calloc of their size shows it as a name.
Strings describe(const std::vector<wqtest::HostCall>& log, int64_t context, int64_t record) {
    static const char* const kNames[] = {"rawAlloc",  "calloc",     "realloc", "free", "newRecord",
                                         "putRecord", "takeRecord", "open",    "read", "seek",
                                         "tell",      "close",      "report"};
    std::map<uintptr_t, std::pair<int64_t, int64_t>> places;  // start -> ordinal, bytes
    int64_t handedOut = 0;
    const auto at = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
    // Records and raw buffers go back to the host without a call, so whatever a new place
    // covers is forgotten; `bytes` is 0 when only its own address is known.
    const auto place = [&](const void* p, int64_t ordinal, int64_t bytes) {
        const uintptr_t end = at(p) + static_cast<uintptr_t>(std::max<int64_t>(bytes, 1));
        places.erase(places.lower_bound(at(p)), places.lower_bound(end));
        places[at(p)] = {ordinal, bytes};
    };
    const auto name = [&](const void* p) -> std::string {
        auto found = places.upper_bound(at(p));
        if (p == nullptr || found == places.begin()) return p == nullptr ? "null" : "?";
        const uintptr_t offset = at(p) - (--found)->first;
        if (offset > 0 && offset >= static_cast<uintptr_t>(found->second.second)) return "?";
        return "#" + std::to_string(found->second.first) +
               (offset > 0 ? "+" + std::to_string(offset) : "");
    };
    Strings lines;
    for (const wqtest::HostCall& c : log) {
        const auto is = [&c](auto... ops) { return ((c.op == ops) || ...); };
        std::string line = kNames[static_cast<int>(c.op)];
        if (is(Op::Realloc, Op::Free, Op::PutRecord, Op::Read)) line += " " + name(c.pointer);
        if (!is(Op::Free, Op::TakeRecord, Op::Open, Op::Tell, Op::Close, Op::Report))
            line += " " + std::to_string(c.a);
        if (c.op == Op::Seek) line += " " + std::to_string(c.b);
        const auto size = [&] { return c.b == record ? "record" : std::to_string(c.b); };
        if (c.op == Op::Calloc) line += " " + (c.b == context ? "context" : size());
        if (c.op == Op::TakeRecord) line += " " + name(c.result);
        if (c.op == Op::Report) line += " " + std::string(static_cast<const char*>(c.pointer));
        const bool handOut = is(Op::RawAlloc, Op::Calloc, Op::NewRecord);
        if ((handOut || c.op == Op::Realloc) && c.result == nullptr) line += " -> null";
        if (handOut && c.result != nullptr) {
            place(c.result, ++handedOut, is(Op::Calloc) ? c.a * c.b : is(Op::RawAlloc) ? c.a : 0);
            line += " -> #" + std::to_string(handedOut);
        }
        if (c.op == Op::Realloc && c.result != nullptr) {  // moved memory keeps its name
            const int64_t ordinal = places.count(at(c.pointer)) ? places[at(c.pointer)].first : 0;
            places.erase(at(c.pointer));
            place(c.result, ordinal, c.a);
        }
        if (c.op == Op::Free) places.erase(at(c.pointer));
        lines.push_back(line);
    }
    return lines;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The transcript written shorter, for a small golden file:
// - "seek X 0" right before a read becomes "read P N at X";
// - a run of such reads into buffers that take turns (one or two of them) becomes one
//   line "read P N | read Q N at X Y Z ...", sixteen offsets a line;
// - a run of frees of blocks handed out one after another, newest first, becomes
//   "free #n down to #m";
// - a group of up to four lines repeated k times in a row (handouts aside) is written
//   once, " | " between its lines, followed by " xk".
Strings condense(const Strings& calls) {
    Strings lines, out;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& c = calls[i];
        const bool seekThenRead = startsWith(c, "seek ") && c.compare(c.size() - 2, 2, " 0") == 0 &&
                                  i + 1 < calls.size() && startsWith(calls[i + 1], "read ");
        lines.push_back(seekThenRead ? calls[++i] + " at " + c.substr(5, c.size() - 7) : c);
    }
    const auto readAt = [&](size_t k) {
        return k < lines.size() && startsWith(lines[k], "read ") &&
               lines[k].find(" at ") != lines[k].npos;
    };
    const auto target = [&](size_t k) { return lines[k].substr(0, lines[k].find(" at ")); };
    // A handout's line ends in " -> #n"; n follows from the order of handouts, so lines
    // that repeat are compared without it.
    const auto same = [&](size_t a, size_t b) {
        const size_t end = lines[a].rfind(" -> #");
        return lines[a].compare(0, end, lines[b], 0, lines[b].rfind(" -> #")) == 0;
    };
    const auto freed = [&](size_t k) -> int64_t {  // the n of a "free #n" line, or 0
        const bool plain = startsWith(lines[k], "free #") && lines[k].find('+') == lines[k].npos;
        return plain ? std::atoll(lines[k].c_str() + 6) : 0;
    };
    for (size_t i = 0; i < lines.size();) {
        size_t frees = 1, run = 1, turns = 1;
        const int64_t first = freed(i);
        while (first != 0 && i + frees < lines.size() && freed(i + frees) == first - int64_t(frees))
            ++frees;
        for (size_t t = 1; t <= 2 && readAt(i); ++t) {
            size_t r = 1;
            while (readAt(i + r) && (r < t || target(i + r) == target(i + r - t))) ++r;
            if (r >= 2 * t && r > run) run = r, turns = t;
        }
        if (frees >= 3) {
            out.push_back("free #" + std::to_string(first) + " down to #" +
                          std::to_string(first - int64_t(frees) + 1));
            i += frees;
        } else if (run > 1) {
            for (size_t k = 0; k < run; k += 16) {
                std::string line = target(i) + (turns == 2 ? " | " + target(i + 1) : "") + " at";
                for (size_t j = i + k; j < i + run && j < i + k + 16; ++j)
                    line += lines[j].substr(lines[j].find(" at ") + 3);
                out.push_back(line);
            }
            i += run;
        } else {
            // A group of `period` lines repeats while each line matches the one a period back.
            size_t saved = 0, period = 1, count = 1;
            for (size_t p = 1; p <= 4; ++p) {
                size_t m = 0;
                while (i + p + m < lines.size() && same(i + p + m, i + m)) ++m;
                if (m / p * p > saved) saved = m / p * p, period = p, count = 1 + m / p;
            }
            std::string line = lines[i];
            for (size_t t = 1; t < period; ++t) line += " | " + lines[i + t];
            out.push_back(count > 1 ? line + " x" + std::to_string(count) : line);
            i += period * count;
        }
    }
    return out;
}

// The sample drawing, a drawing whose two sections make the storage reuse and grow freed
// blocks, one that ends several entities on borrowed lines, one stopped by an unknown
// group code, and one refused at the start.
TEST(HostCalls, WholeDocumentsMakeTheGoldenCalls) {
    wqtest::FakeHost sizes;  // the sizes of the storage's context and of a block record
    sizes.logCalls = true;
    DxfPublicStorage* pool = newDxfPublicStorage(sizes.services(), StorageExactSizes);
    pool->allocBlock(pool, 8);
    deleteDxfPublicStorage(pool);
    const std::string source = WQ_SOURCE_DIR;
    for (const std::string name :
         {"samples/title_block", "tests/corpus/escapes", "tests/corpus/borrowed_end",
          "tests/corpus/unknown_code", "tests/corpus/no_sections"}) {
        SCOPED_TRACE(name);
        std::string bytes, text;
        ASSERT_TRUE(wqhost::readFile(source + "/" + name + ".dxf", &bytes));
        wqtest::FakeHost host(bytes);
        host.logCalls = true;
        wqtest::transcribe(host, wqtest::linkedEntryPoints());
        const Strings lines = condense(describe(host.log, sizes.log.at(1).b, sizes.log.at(2).b));
        std::string got;
        for (const std::string& line : lines) got += line + "\n";
        const auto golden = source + "/tests/golden" + name.substr(name.rfind('/')) + ".calls";
        if (std::getenv("WQ_UPDATE_GOLDEN") != nullptr) {
            std::ofstream(golden, std::ios::binary) << got;
        } else {
            ASSERT_TRUE(wqhost::readFile(golden, &text)) << "no transcript at " << golden;
            EXPECT_EQ(text, got) << golden;
        }
    }
}

}  // namespace
