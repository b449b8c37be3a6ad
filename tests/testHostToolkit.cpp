// The host toolkit: memory and file streams, and the records the reader gives through the
// streams' short reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DrawingFiles.hpp"
#include "DxfSource.h"
#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"
#include "ReadAll.hpp"
#include "RecordLine.hpp"
#include "Transcript.hpp"

namespace {

TEST(MemoryStream, SeekTellReadStayWithinTheDocument) {
    const std::string doc = "0\nSECTION\n";
    wqhost::MemoryStream m;
    wqhost::initMemoryStream(&m, doc.data(), static_cast<int32_t>(doc.size()));
    HostStream* s = &m.table;
    char buffer[32];
    EXPECT_EQ(s->read(s, buffer, 4), 0) << "reads before open give nothing";
    ASSERT_EQ(s->open(s), 1);
    EXPECT_TRUE(s->seek(s, 0, 2) == 1 && s->tell(s) == 10 && s->read(s, buffer, 4) == 0);
    EXPECT_TRUE(s->seek(s, 11, 0) == 0 && s->seek(s, -1, 0) == 0 && s->tell(s) == 10);
    ASSERT_TRUE(s->seek(s, 2, 0) == 1 && s->read(s, buffer, 32) == 8);
    EXPECT_EQ(std::string(buffer, 8), "SECTION\n");
}

// The window gives the same bytes as the file wherever a read starts and ends: across the
// window's edge, backwards, at the end, and larger than the window itself.
TEST(FileStream, WindowedReadsMatchTheFileEverywhere) {
    std::string doc(3 * wqhost::kFileWindowBytes + 123, '\0');
    for (size_t i = 0; i < doc.size(); ++i) doc[i] = static_cast<char>(i * 7919 % 251);
    const std::string path = wqtest::writeTempFile(doc);
    wqhost::FileStream f;
    wqhost::initFileStream(&f, path.c_str());
    HostStream* s = &f.table;
    ASSERT_NE(s->open(s), 0);
    const int32_t n = static_cast<int32_t>(doc.size()), window = wqhost::kFileWindowBytes;
    const int32_t reads[][2] = {
        {0, 2048}, {window - 10, 2048},  {5, 100},          {window * 3, 2048}, {n - 1, 2048},
        {n, 2048}, {100, window + 5000}, {window + 1, 2048}};
    std::string buffer(window + 5000, '\0');
    for (const auto& [offset, size] : reads) {
        ASSERT_EQ(s->seek(s, offset, 0), 1);
        const int32_t whole = std::min(size, n - offset), got = s->read(s, &buffer[0], size);
        ASSERT_TRUE(got == whole || (got > 0 && got < whole)) << offset << " " << got;
        const std::string came = buffer.substr(0, static_cast<size_t>(got));
        EXPECT_EQ(came, doc.substr(static_cast<size_t>(offset), came.size())) << offset;
        // Short of the window only with a line feed the reader finds in what came.
        EXPECT_TRUE(got == whole || came.find('\n') < came.find('\0')) << offset;
        EXPECT_EQ(s->tell(s), offset + got);
    }
    wqhost::finishFileStream(&f);
    EXPECT_EQ(f.fd, -1);
    std::remove(path.c_str());
    wqhost::initFileStream(&f, path.c_str());  // now missing: the reason is kept
    EXPECT_TRUE(s->open(s) == 0 && f.lastError == ENOENT);
}

// Every record of a run over `stream`, a line each; after a call that gives none the
// reader is asked again, as dxftext does, until it has given none eight times in a row.
std::string records(HostStream* stream) {
    wqhost::MallocServices services;  // finished as it goes
    wqhost::initMallocServices(&services);
    HostParams params;
    wqhost::initHostParams(&params, &services);
    DxfSource* source = startSrcDXF(stream, &params);
    std::string out = source == nullptr ? "refused\n" : "";
    for (int nulls = 0; source != nullptr && nulls < 8;) {
        OutputRecord* record = getDXFobject(source);
        nulls = record == nullptr ? nulls + 1 : 0;
        const int32_t kind = record == nullptr ? -1 : wqhost::recordKind(record);
        const size_t length = kind == RecordText ? static_cast<size_t>(record->textLength) : 0;
        wqhost::appendRecordLine(&out, kind, std::string_view(length ? record->text : "", length));
        if (record != nullptr) wqhost::releaseRecord(&services, record);
        if (kind == RecordEndOfDocument) break;
    }
    if (source != nullptr) shutDownDXFsrc(source);
    return out;
}

// Every drawing at hand, then documents on the edges of a read: line ends of every kind,
// zero bytes before and after a line feed, lines about as long as the first look or the
// window, no line end at the end.
TEST(ShortReads, DrawingsAndEdgesOfAReadGiveThePlainHostsRecords) {
    const std::string source = WQ_SOURCE_DIR, shared = WQ_SHARED_DIR;
    std::vector<std::string> drawings;
    std::string error, contents;
    for (const std::string& folder : {source + "/samples", source + "/tests/corpus",
                                      source + "/tests/drawings", shared + "/corpus/real"})
        wqhost::findDrawings(folder, &drawings, &error);
    EXPECT_GT(drawings.size(), 10u) << "the project's own drawings are missing";
    // The texts after the values run over more than a window: the reader finds its way back
    // to them after a value that swallows a window's worth of bytes.
    auto drawing = [](const std::vector<std::string>& values) {
        std::string body;
        for (const std::string& value : values) body += "0\nTEXT\n8\n0\n1\n" + value + '\n';
        for (int i = 0; i < 150; ++i) body += "0\nTEXT\n8\n0\n1\nRoom " + std::to_string(i) + '\n';
        return wqtest::section("ENTITIES", body) + "0\nEOF\n";
    };
    auto line = [](size_t length) { return std::string(length, 'a'); };
    const std::string plain = drawing({"", "A-101"}), nul("ab\0", 3);
    const std::string window = drawing({line(2047), "b"});  // the LF is the last byte read
    const std::string cr = wqtest::withLineEnds(plain, "\r");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"LF", plain},
        {"CR LF", wqtest::withLineEnds(plain, "\r\n")},
        {"lone CR", cr},
        // The lines in the window before the LF end there.
        {"lone CR and one LF", cr.substr(0, cr.size() - 700) + '\n' + cr.substr(cr.size() - 700)},
        {"zero byte before the LF", drawing({nul + "cd", "after"})},
        {"zero byte past the first look", drawing({line(40) + nul, "after"})},
        // The window up to the zero byte is the line: the next one starts after it.
        {"zero byte and the LF at the window's end", drawing({nul + line(2043), "after"})},
        {"LF at the first look's end", drawing({line(15), line(16), line(17)})},
        {"LF at the window's end", window},
        {"LF just past the window", drawing({line(2048), "b"})},
        {"CR LF across the window's end", wqtest::withLineEnds(window, "\r\n")},
        {"lone CR at the window's end", wqtest::withLineEnds(window, "\r")},
        {"line longer than the window", drawing({line(5000), "b"})},
        {"no line end at the end", plain.substr(0, plain.size() - 1)},
    };
    for (const std::string& path : drawings) {
        ASSERT_TRUE(wqhost::readFile(path, &contents)) << path;
        cases.emplace_back(path, contents);
    }
    // The toolkit's memory and file streams give the reader the records of a plain host's
    // stream, one whose every read fills what it is asked for.
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::string path = wqtest::writeTempFile(bytes);
        wqhost::MemoryStream host, memory;
        for (wqhost::MemoryStream* m : {&host, &memory})
            wqhost::initMemoryStream(m, bytes.data(), static_cast<int32_t>(bytes.size()));
        host.table.read = [](HostStream* s, void* buffer, int32_t size) {
            auto* m = reinterpret_cast<wqhost::MemoryStream*>(s);
            const int32_t count = std::max(0, std::min(size, m->size - m->offset));
            std::memcpy(buffer, m->data + (m->offset += count) - count, size_t(count));
            return count;
        };
        wqhost::FileStream file;
        wqhost::initFileStream(&file, path.c_str());
        const std::string expected = records(&host.table);
        EXPECT_EQ(records(&memory.table), expected) << "memory stream";
        EXPECT_EQ(records(&file.table), expected) << "file stream";
        wqhost::finishFileStream(&file);
        std::remove(path.c_str());
    }
}

}  // namespace
