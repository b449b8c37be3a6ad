// Transcripts of whole reader runs, and the documents tests build for them.
#include "Transcript.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "RecordLine.hpp"

namespace wqtest {

EntryPoints linkedEntryPoints() { return EntryPoints{startSrcDXF, getDXFobject, shutDownDXFsrc}; }

namespace {

// A record's line without its newline.
std::string lineOf(int32_t kind, const std::string& text) {
    std::string line;
    wqhost::appendRecordLine(&line, kind, text);
    line.pop_back();
    return line;
}

// The line of one record, which goes back to the host.
std::string takeLine(FakeHost& host, OutputRecord* record) {
    const std::string text = FakeHost::textOf(record);
    const int32_t kind = wqhost::recordKind(record);
    host.release(record);
    return lineOf(kind, text);
}

}  // namespace

std::string textLine(const std::string& text) { return lineOf(RecordText, text); }

std::vector<std::string> transcribe(FakeHost& host, const EntryPoints& entry, int32_t patience) {
    DxfSource* source = entry.start(host.stream(), host.params());
    if (source == nullptr) {
        return {host.reported.empty() ? "FAIL refused" : "FAIL refused " + host.reported[0]};
    }
    std::vector<std::string> lines;
    for (int32_t nulls = 0; nulls < patience && (lines.empty() || lines.back() != "D");) {
        if (lines.size() == 1u << 22) {
            lines.push_back("CUT OFF");
            break;
        }
        OutputRecord* record = entry.next(source);
        nulls = record == nullptr ? nulls + 1 : 0;
        lines.push_back(record == nullptr ? "FAIL null" : takeLine(host, record));
    }
    const bool ended = lines.back() == "D";
    for (int after = 0; ended && after < 2; ++after) {
        OutputRecord* extra = entry.next(source);
        if (extra != nullptr) lines.push_back(takeLine(host, extra) + " after D");
    }
    entry.shutDown(source);
    return lines;
}

DxfSource bareSource(FakeHost& host) {
    DxfSource source{};
    source.stream = host.stream();
    source.services = host.services();
    return source;
}

std::string section(const std::string& name, const std::string& body) {
    return "0\nSECTION\n2\n" + name + '\n' + body + "0\nENDSEC\n";
}

std::string withLineEnds(const std::string& document, const std::string& eol) {
    std::string out;
    for (char c : document) out += c == '\n' ? eol : std::string(1, c);
    return out;
}

std::string writeTempFile(const std::string& bytes) {
    char path[] = "/tmp/wqtestXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "/nonexistent/wqtest-tempfile";  // then the caller's open fails
    const bool written = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    return written ? path : (unlink(path), "/nonexistent/wqtest-tempfile");
}

}  // namespace wqtest
