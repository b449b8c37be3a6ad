// Fuzz target: a whole document through the test host, whose memory, record, read, seek,
// tell and open calls fail where the input's first bytes say. Every run must end in an
// outcome the reader allows for the failures that happened, and give back every block.
//
// Input: an 8-byte header, then the document. Header byte 0, bit by bit from the lowest:
// memory calls fail, from then on; reads fail, from then on; seeks fail, from then on; the
// host asks twice more after a call without a record, unless reads or seeks fail for good;
// the stream takes no error reports. Bytes 1-2, 3-4 and 5-6 (little-endian) choose the first
// memory call, read and seek that fail, as a count taken modulo one more than the calls the
// clean run made, so that most choices land. Byte 7: bit 0, open fails; bit 1, the first
// tell fails, or with bit 2 the second; bits 3-4, which memory calls bytes 1-2 count: all
// (rawAlloc, callocMem, reallocMem, newRecord), callocMem, reallocMem, or rawAlloc and
// newRecord, so that the rare ones are as easy to reach as the many pool blocks. Eight zero
// bytes fail nothing: the seeds of the corpus are drawings behind such a header.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FakeHost.hpp"
#include "Outcome.hpp"
#include "Transcript.hpp"

namespace {

using Lines = std::vector<std::string>;
using wqtest::FakeHost;
using wqtest::Fault;

constexpr size_t kHeaderBytes = 8;
constexpr const char* kNoMemory = "Memory allocation error";
constexpr const char* kIllegal = "Illigal DXF file";
constexpr intptr_t kUntouched = 77;  // what the host's parameter words hold before a start

struct Choice {
    bool allocArmed, allocPersistent, readArmed, readPersistent, seekArmed, seekPersistent;
    int32_t patience;
    bool reports;
    uint16_t allocAt, readAt, seekAt;
    bool openFails;
    int32_t tellFailAt;  // -1: tells succeed
    int memoryCalls;     // which memory calls allocAt counts: 0 all, 1 calloc, 2 realloc, 3 records
};

Choice choose(const uint8_t* header) {
    Choice c;
    c.allocArmed = header[0] & 1;
    c.allocPersistent = header[0] & 2;
    c.readArmed = header[0] & 4;
    c.readPersistent = header[0] & 8;
    c.seekArmed = header[0] & 16;
    c.seekPersistent = header[0] & 32;
    // A host that asks again after a read or seek that keeps failing inside a text entity
    // gets a new start record for every retry, without end: the reader starts the entity
    // again each time, as it must. Hosts give up when the stream no longer moves; this one
    // simply does not retry then.
    const bool streamBroken = (header[0] & 12) == 12 || (header[0] & 48) == 48;
    c.patience = header[0] & 64 && !streamBroken ? 3 : 1;
    c.reports = !(header[0] & 128);
    c.allocAt = static_cast<uint16_t>(header[1] | header[2] << 8);
    c.readAt = static_cast<uint16_t>(header[3] | header[4] << 8);
    c.seekAt = static_cast<uint16_t>(header[5] | header[6] << 8);
    c.openFails = header[7] & 1;
    c.tellFailAt = header[7] & 2 ? (header[7] & 4 ? 1 : 0) : -1;
    c.memoryCalls = header[7] >> 3 & 3;
    return c;
}

// The memory call to fail, counted over all of them as the test host counts: the `at`-th
// of the chosen kind in the clean run's log, or one past the run's last when `at` chooses
// none of them.
int32_t memoryCallToFail(const std::vector<wqtest::HostCall>& log, int kind, uint16_t at) {
    using wqtest::Op;
    std::vector<int32_t> chosen;
    int32_t ordinal = 0;
    for (const wqtest::HostCall& call : log) {
        const Op op = call.op;
        if (op != Op::RawAlloc && op != Op::Calloc && op != Op::Realloc && op != Op::NewRecord)
            continue;
        if (kind == 0 || (kind == 1 && op == Op::Calloc) || (kind == 2 && op == Op::Realloc) ||
            (kind == 3 && (op == Op::RawAlloc || op == Op::NewRecord))) {
            chosen.push_back(ordinal);
        }
        ++ordinal;
    }
    const size_t pick = at % (chosen.size() + 1);
    return pick < chosen.size() ? chosen[pick] : ordinal;
}

void printStart(const char* name, const Lines& lines) {
    std::fprintf(stderr, "%s:", name);
    for (size_t i = 0; i < lines.size() && i < 64; ++i) std::fprintf(stderr, " %s", lines[i].c_str());
    std::fprintf(stderr, lines.size() > 64 ? " ...\n" : "\n");
}

[[noreturn]] void reject(const std::string& why, const Lines& clean, const Lines& got) {
    std::fprintf(stderr, "disallowed outcome: %s\n", why.c_str());
    printStart("clean run", clean);
    printStart("this run", got);
    std::abort();
}

// One whole run; the host's own checks (blocks, opens, queue positions, the parameter
// words) are made here, the records are judged by the caller.
Lines runOnce(FakeHost& host, const Choice& choice) {
    if (!choice.reports) host.withoutReportError();
    HostParams* params = host.params();
    params->word2 = params->word4 = params->word24 = params->word32 = kUntouched;
    const Lines got = wqtest::transcribe(host, wqtest::linkedEntryPoints(), choice.patience);
    const bool refused = got[0].rfind("FAIL refused", 0) == 0;
    const std::vector<intptr_t> words = {params->word2, params->word4, params->word24,
                                         params->word32};
    const std::vector<intptr_t> expected =
        refused ? std::vector<intptr_t>(4, kUntouched) : std::vector<intptr_t>{48, 1, 1, 0};
    if (host.poolBlocksLive() != 0) reject("pool blocks not given back", {}, got);
    if (host.foreignFrees != 0) reject("memory freed that the pool never had", {}, got);
    if (host.opens != host.closes) reject("the document was not closed", {}, got);
    if (host.badPositions != 0) reject("a record put at a position not allowed", {}, got);
    if (words != expected) reject("the parameter words", {}, got);
    if (host.reported.size() > (refused ? 1u : 0u)) reject("messages", {}, got);
    for (const std::string& message : host.reported)
        if (message != kNoMemory && message != kIllegal) reject("message " + message, {}, got);
    return got;
}

void runDocument(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes || size > (1u << 20)) return;
    const Choice choice = choose(data);
    const std::string document(reinterpret_cast<const char*>(data) + kHeaderBytes,
                               size - kHeaderBytes);

    FakeHost cleanHost(document);
    cleanHost.logCalls = choice.allocArmed;
    const Lines clean = runOnce(cleanHost, choice);
    if (wqtest::disallowedRecords(clean, clean, wqtest::TextRule::Any) != "")
        reject(wqtest::disallowedRecords(clean, clean, wqtest::TextRule::Any), clean, clean);

    FakeHost host(document);
    const auto arm = [](Fault* fault, bool armed, uint16_t at, bool persistent, int32_t calls) {
        if (armed) *fault = Fault{at % (calls + 1), persistent};
    };
    if (choice.allocArmed) {
        host.allocFault = Fault{memoryCallToFail(cleanHost.log, choice.memoryCalls, choice.allocAt),
                                choice.allocPersistent};
    }
    arm(&host.readFault, choice.readArmed, choice.readAt, choice.readPersistent,
        cleanHost.readFault.calls);
    arm(&host.seekFault, choice.seekArmed, choice.seekAt, choice.seekPersistent,
        cleanHost.seekFault.calls);
    if (choice.openFails) host.openFault = Fault{0, false};
    if (choice.tellFailAt >= 0) host.tellFault = Fault{choice.tellFailAt, false};
    const Lines got = runOnce(host, choice);

    const bool allocFailed = host.allocFault.injected > 0;
    const bool streamFailed = host.readFault.injected + host.seekFault.injected +
                                  host.tellFault.injected + host.openFault.injected >
                              0;
    if (!allocFailed && !streamFailed) {
        if (got != clean) reject("no call failed, yet the records differ", clean, got);
        return;
    }
    // Bounded however the calls fail: a record for every two bytes, twice over where BLOCKS
    // runs on into ENTITIES, and the retries.
    if (got.size() > 4 * document.size() + 64) reject("too many records", clean, got);
    const wqtest::TextRule rule = streamFailed ? wqtest::TextRule::Any
                                               : wqtest::TextRule::FromCleanRun;
    const std::string why = wqtest::disallowedRecords(clean, got, rule);
    if (!why.empty()) reject(why, clean, got);
    if (streamFailed) return;

    // Only memory failed. A refused start is silent (the document's storage could not be
    // made) or says so; the document was never judged illegal.
    if (got[0].rfind("FAIL refused", 0) == 0) {
        if (got[0] != "FAIL refused" && got[0] != std::string("FAIL refused ") + kNoMemory)
            reject("a start refused for memory with another message", clean, got);
        return;
    }
    // A host that stops at the first call without a record has the clean run's records up
    // to there.
    const Lines delivered(got.begin(), got.back() == "FAIL null" ? got.end() - 1 : got.end());
    if (choice.patience == 1 &&
        (delivered.size() > clean.size() ||
         !std::equal(delivered.begin(), delivered.end(), clean.begin()))) {
        reject("not the clean run's records up to the failure", clean, got);
    }
    // A single failure is retried by a patient host, and the run still reaches its end
    // (when the clean run has no failures of its own, which a retry could meet in a row).
    const bool cleanFailed = std::find(clean.begin(), clean.end(), "FAIL null") != clean.end();
    if (choice.patience > 1 && !choice.allocPersistent && clean.back() == "D" && !cleanFailed &&
        got.back() != "D") {
        reject("one failed call stopped the run for good", clean, got);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runDocument(data, size);
    return 0;
}
