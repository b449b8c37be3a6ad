// The ArchiveReader on archives written here by libarchive's own writer: what the content
// says an archive is, and the bounds that keep a hostile archive to a few refused members.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "Archive.hpp"

namespace {

using wqhost::ArchiveLimits;
using wqhost::ArchiveMember;
using wqhost::ArchiveReader;
using wqhost::OpenFile;
using Outcome = ArchiveMember::Outcome;
using Lines = std::vector<std::string>;

struct Entry {
    std::string name;  // ending in '/': a folder
    std::string bytes;
    // A sparse member: where its data lie (offset, length) in `bytes`; the rest are holes.
    std::vector<std::pair<int64_t, int64_t>> regions = {};
};

la_ssize_t keep(struct archive*, void* out, const void* bytes, size_t count) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), count);
    return static_cast<la_ssize_t>(count);
}

// An archive in `format` ("zip", "ustar", "raw", ...) through `filter` ("none", "gzip", ...).
std::string archiveOf(const char* format, const char* filter, const std::vector<Entry>& entries) {
    std::string out;
    struct archive* writer = archive_write_new();
    EXPECT_EQ(archive_write_set_format_by_name(writer, format), ARCHIVE_OK);
    if (std::string(filter) != "none") {
        EXPECT_EQ(archive_write_add_filter_by_name(writer, filter), ARCHIVE_OK) << filter;
    }
    archive_write_set_bytes_in_last_block(writer, 1);
    EXPECT_EQ(archive_write_open(writer, &out, nullptr, keep, nullptr), ARCHIVE_OK);
    for (const Entry& e : entries) {
        struct archive_entry* entry = archive_entry_new();
        const bool folder = !e.name.empty() && e.name.back() == '/';
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.bytes.size()));
        for (const auto& [offset, length] : e.regions)
            archive_entry_sparse_add_entry(entry, offset, length);
        EXPECT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << archive_error_string(writer);
        archive_write_data(writer, e.bytes.data(), e.bytes.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

// Bytes as a line shows them: a long drawing by its size and a digest of its bytes.
std::string shown(const std::string& bytes) {
    return bytes.size() <= 64 ? bytes
                              : "<" + std::to_string(bytes.size()) + " bytes " +
                                    std::to_string(std::hash<std::string>()(bytes)) + ">";
}

template <typename T>
ArchiveLimits with(T ArchiveLimits::*field, T value, ArchiveLimits limits = ArchiveLimits()) {
    limits.*field = value;
    return limits;
}

// One archive and what reading it gives, a line a member, named after the archive's name:
// "!MEMBER=bytes", "!MEMBER lists SIZE" when only listed, "[!MEMBER] REFUSED|FAILED: message".
// A wanted line ending in '*' is a prefix, for messages that are libarchive's own.
struct Case {
    const char* name;
    std::string archive;
    Lines want;
    ArchiveLimits limits = ArchiveLimits();
    bool take = true;
};

Lines read(const Case& c) {
    // The archive in a file with no name, given open: the name only names it.
    OpenFile file(wqhost::openUnnamedTemporaryFile());
    EXPECT_EQ(::pwrite(file.get(), c.archive.data(), c.archive.size(), 0),
              static_cast<ssize_t>(c.archive.size()));
    const std::string path = c.name;
    ArchiveReader reader(path, std::move(file), c.limits, c.take);
    Lines out;
    ArchiveMember member;
    while (reader.next(&member)) {
        // Named by the archive as it was given, then what is in it: "!MEMBER", or nothing.
        EXPECT_EQ(member.name.rfind(path, 0), 0u) << member.name;
        const std::string name = member.name.substr(path.size());
        if (member.outcome != Outcome::Drawing) {
            // Refused as it came out, a member is taken out no further than the bounds.
            EXPECT_LE(member.size, std::min<int64_t>(c.limits.largestMember, 16 << 20)) << name;
            out.push_back(name + (member.outcome == Outcome::Refused ? " REFUSED: " : " FAILED: ") +
                          member.message);
        } else if (!c.take) {
            out.push_back(name + " lists " + std::to_string(member.size));
        } else {
            std::string bytes = member.bytes;
            if (member.file.get() >= 0) {
                bytes.assign(static_cast<size_t>(member.size), '\0');
                EXPECT_EQ(::pread(member.file.get(), &bytes[0], bytes.size(), 0),
                          static_cast<ssize_t>(bytes.size()));
            }
            EXPECT_EQ(static_cast<int64_t>(bytes.size()), member.size) << name;
            out.push_back(name + "=" + shown(bytes));
        }
    }
    return out;
}

void expect(const Case& c) {
    Lines got = read(c);
    for (size_t i = 0; i < std::min(got.size(), c.want.size()); ++i) {
        const std::string& w = c.want[i];
        if (!w.empty() && w.back() == '*' && got[i].rfind(w.substr(0, w.size() - 1), 0) == 0)
            got[i] = w;
    }
    EXPECT_EQ(got, c.want) << c.name;
}

// What a name says: an Archive, a Compressed file, a compressed Drawing, taken by a Walk
// with --archives.
TEST(ArchiveNames, NamesSayWhatToOpenAndWalksTakeOnlyDrawingsAndArchives) {
    const std::vector<std::pair<const char*, std::string>> names = {
        {"a.zip", "AW"},       {"A.ZIP", "AW"},      {"x.tar", "AW"},       {"x.tgz", "AW"},
        {"x.tar.gz", "AW"},    {"x.TAR.BZ2", "AW"},  {"x.tbz2", "AW"},      {"x.tar.xz", "AW"},
        {"x.txz", "AW"},       {"x.tar.zst", "AW"},  {"x.7z", "AW"},        {"a.dxf.gz", "CDW"},
        {"a.DXF.GZ", "CDW"},   {"a.dxf.bz2", "CDW"}, {"a.dxf.xz", "CDW"},   {"a.dxf.zst", "CDW"},
        {"notes.txt.gz", "C"}, {"a.gz", "C"},        {"a.dxf.zip.gz", "C"}, {"a.dxf", "W"},
        {"a.DXF", "W"},        {"a.txt", ""},        {"zip", ""},           {"a.zipx", ""},
        {"a.tar.gz.txt", ""},  {"gz", ""},           {"a.dxfgz", ""},       {".gz.dxf", "W"}};
    for (const auto& [name, says] : names) {
        std::string got;
        if (wqhost::isArchiveName(name)) got += 'A';
        if (wqhost::isCompressedName(name)) got += 'C';
        if (wqhost::isCompressedDrawingName(name)) got += 'D';
        if (wqhost::isDrawingOrArchiveName(name)) got += 'W';
        EXPECT_EQ(got, says) << name;
    }
}

// What the end-to-end check cannot make cheaply: formats it has no writer for, limits lowered
// to their edges, sparse members, content that belies the name.
TEST(Archives, EachArchiveGivesItsMembersOrOneStatusForWhatItCannotGive) {
    const Entry a{"a.dxf", "A"};
    std::string sparse(3000, '\0');
    sparse.replace(0, 3, "abc");
    sparse.replace(1000, 3, "def");
    const Entry holes{"s.dxf", sparse, {{0, 3}, {1000, 3}}};
    const std::string inner = archiveOf("zip", "none", {{"x.dxf", "X"}, {"y.dxf", "Y"}});
    const std::string many = archiveOf(
        "ustar", "none", {{"a.dxf", "A"}, {"dir/", ""}, {"inner.zip", inner}, {"b.dxf", "B"}});
    // Noise does not compress; a copy of it in a .tar.xz costs next to nothing.
    std::string noise(200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    const ArchiveLimits strict = with(&ArchiveLimits::expansionAllowance, int64_t{0});
    const std::string zeros(20 << 20, '\0');
    const std::string bomb = " refused as a likely decompression bomb";
    const std::string zipBomb = "expands more than 100 times over its compressed size:" + bomb;
    const std::string passedOver =
        " FAILED: what is passed over of it expands to more than 100 times the archive's size: "
        "the rest is not read";
    const std::string tgz = archiveOf("ustar", "gzip", {a, {"b.dxf", noise}});
    const std::vector<Case> cases = {
        {"x.tar.xz", archiveOf("ustar", "xz", {a}), {"!a.dxf=A"}},
        {"x.tar.bz2", archiveOf("gnutar", "bzip2", {a}), {"!a.dxf=A"}},
        {"zip-named.tar", archiveOf("zip", "none", {a}), {"!a.dxf=A"}},
        {"plain.dxf.gz", "not compressed", {"=not compressed"}},
        {"tar-inside.dxf.gz", archiveOf("ustar", "gzip", {a}), {"!a.dxf=A"}},
        {"empty.dxf.gz", archiveOf("raw", "gzip", {{"x", ""}}), {"="}},
        {"empty.zip", "", {}},
        // Holes read as zeros, the one at the end too, in memory and in a file.
        {"sparse.tar", archiveOf("pax", "none", {holes}), {"!s.dxf=" + shown(sparse)}},
        {"sparse.tar",
         archiveOf("pax", "none", {holes}),
         {"!s.dxf=" + shown(sparse)},
         with(&ArchiveLimits::inMemory, size_t{1024})},
        // Folders and the members of archives inside count; exactly at the limit all is read.
        {"many.tar",
         many,
         {"!a.dxf=A", "!inner.zip!x.dxf=X", " FAILED: more than 4 members: the rest is not read"},
         with(&ArchiveLimits::members, size_t{4})},
        {"many.tar",
         many,
         {"!a.dxf=A", "!inner.zip!x.dxf=X", "!inner.zip!y.dxf=Y", "!b.dxf=B"},
         with(&ArchiveLimits::members, size_t{6})},
        // A stream that does not say its size is refused on passing the limit.
        {"s.dxf.gz",
         archiveOf("raw", "gzip", {{"x", std::string(300000, 'q')}}),
         {" REFUSED: 2 GiB*"},
         with(&ArchiveLimits::inMemory, size_t{100},
              with(&ArchiveLimits::largestMember, int64_t{1000}))},
        // A few MB of zeros are within every member's allowance; 50 MB are a bomb.
        {"bomb.zip",
         archiveOf("zip", "none",
                   {{"small.dxf", std::string(4 << 20, '\0')},
                    {"bomb.dxf", std::string(50 << 20, '\0')},
                    a}),
         {"!small.dxf=" + shown(std::string(4 << 20, '\0')), "!bomb.dxf REFUSED: " + zipBomb,
          "!a.dxf=A"}},
        // Members compressed together are held to the archive's size, a zip's to its own bytes.
        {"copies.tar.xz",
         archiveOf("ustar", "xz", {{"a.dxf", noise}, {"b.dxf", noise}}),
         {"!a.dxf=" + shown(noise), "!b.dxf=" + shown(noise)},
         strict},
        {"copies.zip",
         archiveOf("zip", "none", {{"noise.bin", noise}, {"a.dxf", std::string(200000, 'a')}}),
         {"!a.dxf REFUSED: " + zipBomb},
         strict},
        // Passing over the rest of a compressed tar is held to the same bound, and ends it.
        {"b.tar.gz",
         archiveOf("ustar", "gzip", {a, {"bomb.dxf", zeros}, {"b.dxf", "B"}}),
         {"!a.dxf=A",
          "!bomb.dxf REFUSED: expands to more than 100 times the archive's size:" + bomb,
          passedOver}},
        {"n.tar.gz",
         archiveOf("ustar", "gzip", {a, {"zeros.bin", zeros}, {"b.dxf", "B"}}),
         {"!a.dxf=A", passedOver}},
        {"cut.tgz", tgz.substr(0, tgz.size() - 60), {"!a.dxf=A", " FAILED: *"}},
        // Listed for the work ahead: the sizes the archive gives, nothing taken out.
        {"l.tgz", tgz, {"!a.dxf lists 1", "!b.dxf lists 200000"}, ArchiveLimits(), false},
    };
    for (const Case& c : cases) expect(c);
}

}  // namespace
