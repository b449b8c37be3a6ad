// Runs one document through a reader's entry points and writes down what the host
// received, one line per record, in the format of the corpus's NAME.expected files.
#ifndef WQTEST_TRANSCRIPT_HPP
#define WQTEST_TRANSCRIPT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "DxfSource.h"
#include "FakeHost.hpp"
#include "Plugin.hpp"

namespace wqtest {

// The three entry points, from the static library or from a loaded plug-in.
struct EntryPoints {
    DxfSource* (*start)(HostStream*, HostParams*);
    OutputRecord* (*next)(DxfSource*);
    void (*shutDown)(DxfSource*);
};

EntryPoints linkedEntryPoints();
EntryPoints pluginEntryPoints(const wqhost::Plugin& plugin);

// More getDXFobject calls than any test document needs: a reader that never ends is cut
// off there and its transcript ends with a line that no expected file holds.
constexpr int32_t kMaxRecordCalls = 1 << 22;

// One line per record: "S", "T <hex>" (a bare "T" for an empty text), "E", "D"; a start
// that fails gives "FAIL refused <first message>", a call without a record "FAIL null".
// The run stops at "D" or at the first null and then shuts the reader down.
std::vector<std::string> transcribe(FakeHost& host, const EntryPoints& entry,
                                    int32_t maxCalls = kMaxRecordCalls);

// The line of one record as the host received it.
std::string transcriptLine(const Record& record);

// The lines of a text file, without their line ends; false when it cannot be read.
bool readLines(const std::string& path, std::vector<std::string>* lines);
// The whole of a file; false when it cannot be read.
bool readFile(const std::string& path, std::string* bytes);

}  // namespace wqtest

#endif
