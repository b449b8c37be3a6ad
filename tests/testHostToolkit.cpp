// The host toolkit: record queue order and tracking, memory and file streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"

namespace {

using wqhost::MallocServices;

struct Services {
    MallocServices s;
    uintptr_t queue = 0;
    Services() { wqhost::initMallocServices(&s); }
    ~Services() { wqhost::finishMallocServices(&s); }
    OutputRecord* make(int32_t kind) { return s.table.newRecord(&s.table, kind); }
    void put(OutputRecord* r, int32_t position) {
        s.table.putRecord(&s.table, &queue, r, position);
    }
    OutputRecord* take() { return s.table.takeRecord(&s.table, &queue, 0); }
};

// A new file holding `bytes`; the test removes it.
std::string writeTempFile(const std::string& bytes) {
    char path[] = "/tmp/wqhostXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return path;
}

TEST(MallocServicesQueue, HeadPutsAndAppendsComeOutInOrder) {
    Services h;
    OutputRecord* a = h.make(41);
    OutputRecord* b = h.make(48);
    OutputRecord* start = h.make(38);
    OutputRecord* c = h.make(1);
    h.put(a, -1);
    h.put(b, -1);
    h.put(start, 0);  // goes before what is waiting, and appends still go to the end
    h.put(c, -1);
    EXPECT_EQ(h.take(), start);
    EXPECT_EQ(h.take(), a);
    EXPECT_EQ(h.take(), b);
    EXPECT_EQ(h.take(), c);
    EXPECT_EQ(h.take(), nullptr);
    EXPECT_EQ(h.queue, 0u);
    // The queue works again once it has run empty.
    h.put(a, -1);
    h.put(b, -1);
    EXPECT_EQ(h.take(), a);
    h.put(c, -1);
    EXPECT_EQ(h.take(), b);
    EXPECT_EQ(h.take(), c);
}

TEST(MallocServicesQueue, RecordsAndTextsAreTrackedUntilReleased) {
    Services h;
    OutputRecord* text = h.make(41);
    text->text = static_cast<char*>(h.s.table.rawAlloc(&h.s.table, 2048));
    OutputRecord* end = h.make(48);
    h.s.table.rawAlloc(&h.s.table, 2048);  // a buffer the plug-in never attached to a record
    EXPECT_EQ(wqhost::recordKind(text), 41);
    EXPECT_EQ(h.s.recordsLive, 2);
    EXPECT_EQ(h.s.rawLive, 2);
    wqhost::releaseRecord(&h.s, text);
    EXPECT_EQ(h.s.recordsLive, 1);
    EXPECT_EQ(h.s.rawLive, 1);
    wqhost::releaseRecord(&h.s, end);
    EXPECT_EQ(h.s.recordsLive, 0);
    // finishMallocServices, in the destructor, frees the orphan buffer.
}

TEST(MemoryStream, SeekTellReadStayWithinTheDocument) {
    const std::string doc = "0\nSECTION\n";
    wqhost::MemoryStream m;
    wqhost::initMemoryStream(&m, doc.data(), static_cast<int32_t>(doc.size()));
    HostStream* s = &m.table;
    char buffer[32];
    EXPECT_EQ(s->read(s, buffer, 4), 0) << "reads before open give nothing";
    ASSERT_EQ(s->open(s), 1);
    EXPECT_EQ(s->seek(s, 0, 2), 1);
    EXPECT_EQ(s->tell(s), 10);
    EXPECT_EQ(s->read(s, buffer, 4), 0);
    EXPECT_EQ(s->seek(s, 11, 0), 0) << "past the end";
    EXPECT_EQ(s->seek(s, -1, 0), 0);
    EXPECT_EQ(s->tell(s), 10);
    ASSERT_EQ(s->seek(s, 2, 0), 1);
    EXPECT_EQ(s->read(s, buffer, 32), 8);
    EXPECT_EQ(std::string(buffer, 8), "SECTION\n");
    s->close(s);
}

TEST(FileStream, ReadsAFileAndReportsAMissingOne) {
    const std::string file = writeTempFile("  0\r\nEOF\r\n");
    const char* path = file.c_str();

    wqhost::FileStream f;
    wqhost::initFileStream(&f, path);
    HostStream* s = &f.table;
    ASSERT_NE(s->open(s), 0);
    EXPECT_EQ(s->seek(s, 0, 2), 1);
    EXPECT_EQ(s->tell(s), 10);
    EXPECT_EQ(s->seek(s, 5, 0), 1);
    char buffer[16];
    EXPECT_EQ(s->read(s, buffer, 16), 5);
    EXPECT_EQ(std::string(buffer, 5), "EOF\r\n");
    EXPECT_EQ(s->read(s, buffer, 16), 0);
    wqhost::finishFileStream(&f);
    EXPECT_EQ(f.fd, -1);
    std::remove(path);

    wqhost::FileStream missing;
    wqhost::initFileStream(&missing, path);
    EXPECT_EQ(missing.table.open(&missing.table), 0);
    EXPECT_NE(missing.lastError, 0);
}

// The window must give the same bytes as the file wherever a read starts and ends: across
// the window's edge, backwards, at the end, and larger than the window itself.
TEST(FileStream, WindowedReadsMatchTheFileEverywhere) {
    std::string doc(3 * wqhost::kFileWindowBytes + 123, '\0');
    for (size_t i = 0; i < doc.size(); ++i) doc[i] = static_cast<char>(i * 7919 % 251);
    const std::string file = writeTempFile(doc);
    const char* path = file.c_str();

    wqhost::FileStream f;
    wqhost::initFileStream(&f, path);
    HostStream* s = &f.table;
    ASSERT_NE(s->open(s), 0);
    const int32_t n = static_cast<int32_t>(doc.size());
    const int32_t window = wqhost::kFileWindowBytes;
    const struct {
        int32_t offset, size;
    } reads[] = {
        {0, 2048}, {window - 10, 2048},  {5, 100},          {window * 3, 2048}, {n - 1, 2048},
        {n, 2048}, {100, window + 5000}, {window + 1, 2048}};
    std::string buffer(window + 5000, '\0');
    for (const auto& r : reads) {
        SCOPED_TRACE(r.offset);
        ASSERT_EQ(s->seek(s, r.offset, 0), 1);
        const int32_t expected = std::min(r.size, n - r.offset);
        ASSERT_EQ(s->read(s, &buffer[0], r.size), expected);
        EXPECT_EQ(buffer.compare(0, static_cast<size_t>(expected), doc,
                                 static_cast<size_t>(r.offset), static_cast<size_t>(expected)),
                  0);
        EXPECT_EQ(s->tell(s), r.offset + expected);
    }
    wqhost::finishFileStream(&f);
    std::remove(path);
}

}  // namespace
