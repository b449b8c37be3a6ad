// Every host call of whole documents, in order and with the arguments that matter to the
// host, against the transcripts kept in tests/golden/. Pointers become ordinals (#n is the
// n-th piece of memory or record the host handed out, #n+k an address k bytes into it), so
// the transcript does not depend on where malloc puts things. The storage's context and
// block records are its own bookkeeping, whose size may change: their callocs show the size
// as a name. WQ_UPDATE_GOLDEN=1 rewrites the transcripts from the code as it is.
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

using wqtest::HostCall;
using wqtest::Op;

// The sizes a storage asks the host for its context and for each block record.
struct OwnSizes {
    int64_t context;
    int64_t record;
};

OwnSizes ownSizes() {
    wqtest::FakeHost host;
    host.logCalls = true;
    DxfPublicStorage* pool = newDxfPublicStorage(host.services(), StorageExactSizes);
    pool->allocBlock(pool, 8);
    deleteDxfPublicStorage(pool);
    return OwnSizes{host.log.at(1).b, host.log.at(2).b};
}

// Names the pointers of a call log by the order in which the host handed them out.
class Ordinals {
  public:
    // A new piece of memory or record; `bytes` 0 when only its own address is known.
    std::string handOut(const void* pointer, int64_t bytes) {
        if (pointer == nullptr) return "null";
        place(pointer, Place{++count, bytes});
        return "#" + std::to_string(count);
    }
    // Memory moved by a resize keeps its name.
    void move(const void* from, const void* to, int64_t bytes) {
        if (to == nullptr) return;
        const auto found = places.find(reinterpret_cast<uintptr_t>(from));
        const int64_t ordinal = found == places.end() ? 0 : found->second.ordinal;
        if (found != places.end()) places.erase(found);
        place(to, Place{ordinal, bytes});
    }
    void release(const void* pointer) { places.erase(reinterpret_cast<uintptr_t>(pointer)); }
    std::string name(const void* pointer) const {
        if (pointer == nullptr) return "null";
        const uintptr_t at = reinterpret_cast<uintptr_t>(pointer);
        auto found = places.upper_bound(at);
        if (found == places.begin()) return "?";
        --found;
        const uintptr_t offset = at - found->first;
        std::string text = "#" + std::to_string(found->second.ordinal);
        if (offset == 0) return text;
        if (offset >= static_cast<uintptr_t>(found->second.bytes)) return "?";
        return text + "+" + std::to_string(offset);
    }

  private:
    struct Place {
        int64_t ordinal;
        int64_t bytes;
    };
    // Records and raw buffers go back to the host without a call, so whatever the new
    // place covers is forgotten.
    void place(const void* pointer, Place what) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(pointer);
        const uintptr_t end = start + static_cast<uintptr_t>(what.bytes > 0 ? what.bytes : 1);
        places.erase(places.lower_bound(start), places.lower_bound(end));
        places[start] = what;
    }
    std::map<uintptr_t, Place> places;
    int64_t count = 0;
};

// One line per host call. The storage asks for its handle and context in one pair of
// callocs, and for a record and its memory in another.
std::vector<std::string> describe(const std::vector<HostCall>& log, const OwnSizes& own) {
    Ordinals names;
    std::vector<std::string> lines;
    bool secondOfPair = false, storagePair = false;
    for (size_t i = 0; i < log.size(); ++i) {
        const HostCall& call = log[i];
        const std::string a = std::to_string(call.a);
        switch (call.op) {
            case Op::Calloc: {
                std::string size = std::to_string(call.b);
                if (!secondOfPair) {
                    const HostCall* next = i + 1 < log.size() ? &log[i + 1] : nullptr;
                    storagePair = call.b == static_cast<int64_t>(sizeof(DxfPublicStorage)) &&
                                  next != nullptr && next->op == Op::Calloc &&
                                  next->b == own.context;
                    if (!storagePair && call.b == own.record) size = "record";
                } else if (storagePair) {
                    size = "context";
                }
                secondOfPair = !secondOfPair;
                lines.push_back("calloc " + a + " " + size + " -> " +
                                names.handOut(call.result, call.a * call.b));
                break;
            }
            case Op::RawAlloc:
                lines.push_back("rawAlloc " + a + " -> " + names.handOut(call.result, call.a));
                break;
            case Op::NewRecord:
                lines.push_back("newRecord " + a + " -> " + names.handOut(call.result, 0));
                break;
            case Op::Realloc:
                lines.push_back("realloc " + names.name(call.pointer) + " " + a +
                                (call.result == nullptr ? " -> null" : ""));
                names.move(call.pointer, call.result, call.a);
                break;
            case Op::Free:
                lines.push_back("free " + names.name(call.pointer));
                names.release(call.pointer);
                break;
            case Op::PutRecord:
                lines.push_back("putRecord " + names.name(call.pointer) + " " + a);
                break;
            case Op::TakeRecord:
                lines.push_back("takeRecord " + names.name(call.result));
                break;
            case Op::Open:
                lines.push_back("open");
                break;
            case Op::Read:
                lines.push_back("read " + names.name(call.pointer) + " " + a);
                break;
            case Op::Seek:
                lines.push_back("seek " + a + " " + std::to_string(call.b));
                break;
            case Op::Tell:
                lines.push_back("tell");
                break;
            case Op::Close:
                lines.push_back("close");
                break;
            case Op::Report:
                lines.push_back("report " + std::string(static_cast<const char*>(call.pointer)));
                break;
        }
    }
    return lines;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// A handout's line ends in " -> #n"; n follows from the order of handouts, so lines that
// repeat are compared without it.
std::string withoutHandout(const std::string& line) {
    const size_t arrow = line.rfind(" -> #");
    return arrow == std::string::npos ? line : line.substr(0, arrow);
}

// The number of the "free #n" line, or 0.
int64_t freed(const std::string& line) {
    if (!startsWith(line, "free #") || line.find('+') != std::string::npos) return 0;
    return std::atoll(line.c_str() + 6);
}

// The transcript written shorter, for a small golden file:
// - "seek X 0" right before a read becomes "read P N at X";
// - a run of such reads into buffers that take turns (one or two of them) becomes one
//   line "read P N | read Q N at X Y Z ...", sixteen offsets a line;
// - a run of frees of blocks handed out one after another, newest first, becomes
//   "free #n down to #m";
// - a group of up to four lines repeated k times in a row (handouts aside) is written
//   once, " | " between its lines, followed by " xk".
std::vector<std::string> condense(const std::vector<std::string>& calls) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < calls.size(); ++i) {
        const bool seekFromStart =
            startsWith(calls[i], "seek ") && calls[i].compare(calls[i].size() - 2, 2, " 0") == 0;
        if (seekFromStart && i + 1 < calls.size() && startsWith(calls[i + 1], "read ")) {
            lines.push_back(calls[i + 1] + " at " + calls[i].substr(5, calls[i].size() - 7));
            ++i;
        } else {
            lines.push_back(calls[i]);
        }
    }
    auto isReadAt = [&](size_t k) {
        return k < lines.size() && startsWith(lines[k], "read ") &&
               lines[k].find(" at ") != std::string::npos;
    };
    auto target = [&](size_t k) { return lines[k].substr(0, lines[k].find(" at ")); };
    std::vector<std::string> out;
    for (size_t i = 0; i < lines.size();) {
        if (const int64_t first = freed(lines[i])) {
            size_t n = 1;
            while (i + n < lines.size() && freed(lines[i + n]) == first - static_cast<int64_t>(n))
                ++n;
            if (n >= 3) {
                out.push_back("free #" + std::to_string(first) + " down to #" +
                              std::to_string(first - static_cast<int64_t>(n) + 1));
                i += n;
                continue;
            }
        }
        if (isReadAt(i)) {
            size_t bestRun = 1, bestTurns = 1;
            for (size_t turns = 1; turns <= 2; ++turns) {
                size_t run = 1;
                while (isReadAt(i + run) &&
                       (run < turns || target(i + run) == target(i + run - turns)))
                    ++run;
                if (run >= 2 * turns && run > bestRun) bestRun = run, bestTurns = turns;
            }
            if (bestRun > 1) {
                std::string prefix = target(i);
                if (bestTurns == 2) prefix += " | " + target(i + 1);
                for (size_t k = 0; k < bestRun; k += 16) {
                    std::string line = prefix + " at";
                    for (size_t j = k; j < bestRun && j < k + 16; ++j)
                        line += lines[i + j].substr(lines[i + j].find(" at ") + 3);
                    out.push_back(line);
                }
                i += bestRun;
                continue;
            }
        }
        size_t bestSaved = 0, bestPeriod = 1, bestCount = 1;
        for (size_t period = 1; period <= 4; ++period) {
            size_t count = 1;
            auto repeats = [&](size_t c) {
                if (i + (c + 1) * period > lines.size()) return false;
                for (size_t t = 0; t < period; ++t) {
                    if (withoutHandout(lines[i + c * period + t]) != withoutHandout(lines[i + t]))
                        return false;
                }
                return true;
            };
            while (repeats(count)) ++count;
            if ((count - 1) * period > bestSaved) {
                bestSaved = (count - 1) * period, bestPeriod = period, bestCount = count;
            }
        }
        std::string line = lines[i];
        for (size_t t = 1; t < bestPeriod && bestCount > 1; ++t) line += " | " + lines[i + t];
        out.push_back(bestCount > 1 ? line + " x" + std::to_string(bestCount) : line);
        i += bestCount > 1 ? bestPeriod * bestCount : 1;
    }
    return out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// The sample drawing, a drawing whose two sections make the storage reuse and grow freed
// blocks, one that ends several entities on borrowed lines, one stopped by an unknown
// group code, and one refused at the start.
TEST(HostCalls, WholeDocumentsMakeTheGoldenCalls) {
    const OwnSizes own = ownSizes();
    const std::string source = WQ_SOURCE_DIR;
    const bool update = std::getenv("WQ_UPDATE_GOLDEN") != nullptr;
    for (const char* name :
         {"samples/title_block", "tests/corpus/escapes", "tests/corpus/borrowed_end",
          "tests/corpus/unknown_code", "tests/corpus/no_sections"}) {
        SCOPED_TRACE(name);
        std::string bytes;
        ASSERT_TRUE(wqhost::readFile(source + "/" + name + ".dxf", &bytes));
        wqtest::FakeHost host(bytes);
        host.logCalls = true;
        wqtest::transcribe(host, wqtest::linkedEntryPoints());
        const std::vector<std::string> got = condense(describe(host.log, own));

        const std::string base = std::string(name).substr(std::string(name).rfind('/') + 1);
        const std::string golden = source + "/tests/golden/" + base + ".calls";
        if (update) {
            std::ofstream out(golden, std::ios::binary);
            for (const std::string& line : got) out << line << '\n';
            continue;
        }
        std::string text;
        ASSERT_TRUE(wqhost::readFile(golden, &text)) << "no transcript at " << golden;
        const std::vector<std::string> expected = linesOf(text);
        const auto differ = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
        EXPECT_TRUE(differ.first == got.end() && differ.second == expected.end())
            << golden << " line " << differ.first - got.begin() + 1
            << ":\n  expected: " << (differ.second == expected.end() ? "(end)" : *differ.second)
            << "\n  got:      " << (differ.first == got.end() ? "(end)" : *differ.first);
    }
}

}  // namespace
