// Transcripts of whole reader runs, for comparing a run with a NAME.expected file.
#include "Transcript.hpp"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace wqtest {

EntryPoints linkedEntryPoints() { return EntryPoints{startSrcDXF, getDXFobject, shutDownDXFsrc}; }

EntryPoints pluginEntryPoints(const wqhost::Plugin& plugin) {
    return EntryPoints{plugin.startSrcDXF, plugin.getDXFobject, plugin.shutDownDXFsrc};
}

std::string transcriptLine(const Record& record) {
    switch (record.kind) {
        case RecordTextStart: return "S";
        case RecordTextEnd: return "E";
        case RecordEndOfDocument: return "D";
        case RecordText: {
            std::string line = "T";
            if (!record.text.empty()) line += ' ';
            char hex[3];
            for (unsigned char byte : record.text) {
                std::snprintf(hex, sizeof hex, "%02x", byte);
                line += hex;
            }
            return line;
        }
        default: return "? kind " + std::to_string(record.kind);
    }
}

std::vector<std::string> transcribe(FakeHost& host, const EntryPoints& entry, int32_t maxCalls) {
    std::vector<std::string> lines;
    DxfSource* source = entry.start(host.stream(), host.params());
    if (source == nullptr) {
        lines.push_back(host.reported.empty() ? "FAIL refused"
                                              : "FAIL refused " + host.reported.front());
        return lines;
    }
    int32_t calls = 0;
    for (; calls < maxCalls; ++calls) {
        OutputRecord* record = entry.next(source);
        if (record == nullptr) {
            lines.push_back("FAIL null");
            break;
        }
        const Record seen = FakeHost::view(record);
        host.release(record);
        lines.push_back(transcriptLine(seen));
        if (seen.kind == RecordEndOfDocument) break;
    }
    if (calls == maxCalls) lines.push_back("CUT OFF after " + std::to_string(maxCalls) + " calls");
    entry.shutDown(source);
    return lines;
}

bool readLines(const std::string& path, std::vector<std::string>* lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    lines->clear();
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
    }
    return true;
}

bool readFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace wqtest
