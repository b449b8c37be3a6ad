// Runs one document through a reader's entry points and writes down what the host
// received, one line per record, in the format of the corpus's NAME.expected files; and
// helpers that build the small documents and sources the tests feed the reader.
#ifndef WQTEST_TRANSCRIPT_HPP
#define WQTEST_TRANSCRIPT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "DxfSource.h"
#include "FakeHost.hpp"
#include "ReadAll.hpp"

namespace wqtest {

// The three entry points, from the static library or from a loaded plug-in.
struct EntryPoints {
    DxfSource* (*start)(HostStream*, HostParams*);
    OutputRecord* (*next)(DxfSource*);
    void (*shutDown)(DxfSource*);
};
EntryPoints linkedEntryPoints();

// One line per record: "S", "T <hex>" (a bare "T" for an empty text), "E", "D"; a start
// that fails gives "FAIL refused <first message>", a call without a record "FAIL null".
// The run stops at "D", at the `patience`-th null in a row, or cut off after far more
// calls than any test document needs; then the reader is shut down. After "D" two more
// calls must give nothing, else the transcript ends with the record and "after D".
std::vector<std::string> transcribe(FakeHost& host, const EntryPoints& entry, int32_t patience = 1);
std::string textLine(const std::string& text);  // the "T" line of a text record

// A source record holding only the host's stream and services, as units below the entry
// points are given one.
DxfSource bareSource(FakeHost& host);

// A "0"/"SECTION"/"2"/name frame around `body`, closed by "0"/"ENDSEC".
std::string section(const std::string& name, const std::string& body);
// An LF document with every LF turned into `eol`.
std::string withLineEnds(const std::string& document, const std::string& eol);
// The path of a new temporary file holding `bytes`; the caller removes it.
std::string writeTempFile(const std::string& bytes);

}  // namespace wqtest

#endif
