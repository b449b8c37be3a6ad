// Drawings taken out of archives: names and order, what the content says the archive is,
// archives inside archives, members in memory or in unnamed files, and the bounds that keep
// a hostile archive from costing more than a refused member. The archives are written here
// by libarchive's own writer, so each test says exactly what its archive holds.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Archive.hpp"
#include "DrawingFiles.hpp"

namespace {

namespace fs = std::filesystem;
using wqhost::ArchiveLimits;
using wqhost::ArchiveMember;
using wqhost::ArchiveReader;
using wqhost::OpenFile;
using Outcome = ArchiveMember::Outcome;

struct Entry {
    std::string name;  // ending in '/': a folder
    std::string bytes;
    // A sparse member: where its bytes lie (offset, length) among all of them in `bytes`;
    // the rest is stored as holes.
    std::vector<std::pair<int64_t, int64_t>> regions = {};
};

la_ssize_t keep(struct archive*, void* out, const void* bytes, size_t count) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), count);
    return static_cast<la_ssize_t>(count);
}

// An archive in `format` ("zip", "ustar", "7zip", "raw") through `filter` ("none",
// "gzip", ...), holding `entries` in order; `options` as libarchive's writer takes them.
std::string archiveOf(const char* format, const char* filter, const std::vector<Entry>& entries,
                      const char* options = nullptr) {
    // The writer takes names in the thread's character set: UTF-8 here, as the reader gives
    // them, while the process stays in the "C" locale a program starts in.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    const locale_t saved = ::uselocale(utf8);
    std::string out;
    struct archive* writer = archive_write_new();
    EXPECT_EQ(archive_write_set_format_by_name(writer, format), ARCHIVE_OK);
    if (options != nullptr) {
        EXPECT_EQ(archive_write_set_options(writer, options), ARCHIVE_OK);
    }
    if (std::string(filter) != "none") {
        EXPECT_EQ(archive_write_add_filter_by_name(writer, filter), ARCHIVE_OK) << filter;
    }
    archive_write_set_bytes_in_last_block(writer, 1);
    EXPECT_EQ(archive_write_open(writer, &out, nullptr, keep, nullptr), ARCHIVE_OK);
    for (const Entry& e : entries) {
        struct archive_entry* entry = archive_entry_new();
        const bool folder = !e.name.empty() && e.name.back() == '/';
        archive_entry_set_pathname_utf8(entry, e.name.c_str());
        archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.bytes.size()));
        for (const auto& [offset, length] : e.regions)
            archive_entry_sparse_add_entry(entry, offset, length);
        EXPECT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << archive_error_string(writer);
        for (size_t done = 0; done < e.bytes.size(); done += 1 << 20) {
            const size_t count = std::min<size_t>(1 << 20, e.bytes.size() - done);
            archive_write_data(writer, e.bytes.data() + done, count);
        }
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    ::uselocale(saved);
    return out;
}

std::string drawing(const std::string& text) {
    return "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\n" + text + "\n0\nENDSEC\n0\nEOF\n";
}

// What a reader gives: one line a member, "name=bytes" for a drawing in memory,
// "name=file:bytes" for one in a temporary file, "name REFUSED|FAILED: message".
class Archives : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/wqarchiveXXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        folder_ = folder;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string put(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return path;
    }

    // Every member of the archive at `path`, shown under `name` rather than the path.
    std::vector<std::string> read(const std::string& path, ArchiveLimits limits = ArchiveLimits(),
                                  bool take = true) {
        ArchiveReader reader(path, OpenFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), limits,
                             take);
        std::vector<std::string> out;
        ArchiveMember member;
        while (reader.next(&member)) {
            std::string name = member.name.substr(folder_.size() + 1);
            if (member.outcome != Outcome::Drawing) {
                out.push_back(name +
                              (member.outcome == Outcome::Refused ? " REFUSED: " : " FAILED: ") +
                              member.message);
                sizes_.push_back(member.size);
                continue;
            }
            std::string bytes = member.bytes;
            if (member.file.get() >= 0) {
                bytes.assign(static_cast<size_t>(member.size), '\0');
                EXPECT_EQ(::pread(member.file.get(), &bytes[0], bytes.size(), 0),
                          static_cast<ssize_t>(bytes.size()));
                struct stat info;
                EXPECT_TRUE(::fstat(member.file.get(), &info) == 0 && info.st_nlink == 0 &&
                            info.st_size == member.size)
                    << "a large member is in a file with no name, of its own size";
                EXPECT_EQ(::lseek(member.file.get(), 0, SEEK_CUR), 0) << "read from its start";
                name += "=file:";
            } else {
                if (take) {
                    EXPECT_EQ(static_cast<int64_t>(bytes.size()), member.size);
                }
                name += '=';
            }
            out.push_back(name +
                          (bytes.size() <= 64 ? bytes : "<" + std::to_string(bytes.size()) + ">"));
            sizes_.push_back(member.size);
        }
        return out;
    }

    std::string folder_;
    std::vector<int64_t> sizes_;  // of each member read, in order
};

using Lines = std::vector<std::string>;

TEST(ArchiveNames, NamesSayWhatToOpenAndWalksTakeOnlyDrawingsAndArchives) {
    for (const char* name : {"a.zip", "A.ZIP", "x.tar", "x.tgz", "x.tar.gz", "x.TAR.BZ2", "x.tbz2",
                             "x.tar.xz", "x.txz", "x.tar.zst", "x.7z"}) {
        EXPECT_TRUE(wqhost::isArchiveName(name)) << name;
        EXPECT_FALSE(wqhost::isCompressedName(name)) << name << " is a tar, not a single file";
        EXPECT_TRUE(wqhost::isDrawingOrArchiveName(name)) << name;
    }
    for (const char* name : {"a.dxf.gz", "a.DXF.GZ", "a.dxf.bz2", "a.dxf.xz", "a.dxf.zst"}) {
        EXPECT_TRUE(wqhost::isCompressedDrawingName(name) && wqhost::isCompressedName(name))
            << name;
        EXPECT_TRUE(wqhost::isDrawingOrArchiveName(name)) << name;
    }
    for (const char* name : {"notes.txt.gz", "a.gz", "a.dxf.zip.gz"}) {
        EXPECT_TRUE(wqhost::isCompressedName(name)) << name;
        EXPECT_FALSE(wqhost::isCompressedDrawingName(name) || wqhost::isDrawingOrArchiveName(name))
            << name << " is compressed but holds no drawing by its name";
    }
    for (const char* name :
         {"a.dxf", "zip", "a.zipx", "a.tar.gz.txt", "gz", "a.dxfgz", ".gz.dxf"}) {
        EXPECT_FALSE(wqhost::isArchiveName(name) || wqhost::isCompressedName(name)) << name;
    }
    EXPECT_TRUE(wqhost::isDrawingOrArchiveName("a.DXF"));
    EXPECT_FALSE(wqhost::isDrawingOrArchiveName("a.txt"));
}

TEST_F(Archives, DrawingsComeInTheArchivesOrderNamedArchiveBangMember) {
    const std::string zip = put("plans.zip", archiveOf("zip", "none",
                                                       {{"level2/", ""},
                                                        {"level2/A-101.dxf", drawing("one")},
                                                        {"readme.txt", "not a drawing"},
                                                        {"level1/B/SITE.DXF", drawing("two")},
                                                        {"empty.dxf", ""},
                                                        {"level0.dxf/", ""}}));
    EXPECT_EQ(read(zip),
              (Lines{"plans.zip!level2/A-101.dxf=" + drawing("one"),
                     "plans.zip!level1/B/SITE.DXF=" + drawing("two"), "plans.zip!empty.dxf="}));
    // Whatever the process's locale (this one never sets it), names outside ASCII come as
    // UTF-8, from a zip's flagged names as from a tar's.
    for (const char* format : {"zip", "pax"}) {
        const std::string name = std::string("u.") + (format[0] == 'z' ? "zip" : "tar");
        EXPECT_EQ(read(put(name, archiveOf(format, "none", {{"Gebäude/東京.dxf", "x"}}))),
                  Lines{name + "!Gebäude/東京.dxf=x"});
    }
    // A sparse member reads with its holes as zeros, the one at its end too.
    std::string sparse(3000, '\0');
    sparse.replace(0, 3, "abc");
    sparse.replace(1000, 3, "def");
    for (size_t inMemory : {size_t{4096}, size_t{1024}}) {
        ArchiveLimits limits;
        limits.inMemory = inMemory;
        sizes_.clear();
        const std::string path =
            put("sparse.tar", archiveOf("pax", "none", {{"s.dxf", sparse, {{0, 3}, {1000, 3}}}}));
        ArchiveReader reader(path, OpenFile(), limits);
        ArchiveMember member;
        ASSERT_TRUE(reader.next(&member) && member.outcome == Outcome::Drawing &&
                    member.size == 3000);
        std::string bytes = member.bytes;
        if (member.file.get() >= 0) {
            bytes.assign(3000, 'z');
            EXPECT_EQ(::pread(member.file.get(), &bytes[0], 3000, 0), 3000);
        }
        EXPECT_TRUE(bytes == sparse)
            << "held in " << (member.file.get() >= 0 ? "a file" : "memory");
    }
}

TEST_F(Archives, TheContentSaysWhatAnArchiveIsTheNameOnlyWhetherToOpenIt) {
    const Entry a{"a.dxf", drawing("a")};
    EXPECT_EQ(read(put("x.tar.xz", archiveOf("ustar", "xz", {a}))),
              Lines{"x.tar.xz!a.dxf=" + a.bytes});
    EXPECT_EQ(read(put("x.tar.zst", archiveOf("ustar", "zstd", {a}))),
              Lines{"x.tar.zst!a.dxf=" + a.bytes});
    EXPECT_EQ(read(put("x.tar.bz2", archiveOf("gnutar", "bzip2", {a}))),
              Lines{"x.tar.bz2!a.dxf=" + a.bytes});
    EXPECT_EQ(read(put("x.7z", archiveOf("7zip", "none", {a, {"b.dxf", "b"}}))),
              (Lines{"x.7z!a.dxf=" + a.bytes, "x.7z!b.dxf=b"}));
    EXPECT_EQ(read(put("zip-named.tar", archiveOf("zip", "none", {a}))),
              Lines{"zip-named.tar!a.dxf=" + a.bytes});
    // A file compressed on its own is its drawing, under its own name.
    for (const char* filter : {"gzip", "bzip2", "xz", "zstd"}) {
        const std::string name = std::string("one.dxf.") + filter;
        EXPECT_EQ(read(put(name, archiveOf("raw", filter, {a}))), Lines{name + "=" + a.bytes});
    }
    EXPECT_EQ(read(put("plain.dxf.gz", a.bytes)), Lines{"plain.dxf.gz=" + a.bytes})
        << "not compressed after all: read as it is";
    EXPECT_EQ(read(put("tar-inside.dxf.gz", archiveOf("ustar", "gzip", {a}))),
              Lines{"tar-inside.dxf.gz!a.dxf=" + a.bytes});
    EXPECT_EQ(read(put("empty.dxf.gz", archiveOf("raw", "gzip", {{"x", ""}}))),
              Lines{"empty.dxf.gz="});
    // An archive by its name that is none fails, named; so does one that is not there.
    const Lines notOne = read(put("notes.zip", "just some text\n"));
    ASSERT_EQ(notOne.size(), 1u);
    EXPECT_EQ(notOne[0].rfind("notes.zip FAILED: ", 0), 0u) << notOne[0];
    ArchiveReader missing(folder_ + "/missing.zip", OpenFile());
    ArchiveMember member;
    ASSERT_TRUE(missing.next(&member));
    EXPECT_TRUE(member.outcome == Outcome::Failed && member.message == "No such file or directory")
        << member.message;
    EXPECT_FALSE(missing.next(&member));
    EXPECT_EQ(read(put("empty.zip", "")), Lines{}) << "an empty file is an empty archive";
}

TEST_F(Archives, ArchivesInsideAreReadWhereTheyStandOneLevelDown) {
    const std::string inner = archiveOf("zip", "none", {{"a.dxf", "A"}, {"b.dxf", "B"}});
    const std::string deeper = archiveOf("ustar", "none", {{"inner.zip", inner}});
    const std::string gz = archiveOf("raw", "gzip", {{"x", "G"}});
    const std::string tar = put("outer.tar", archiveOf("ustar", "none",
                                                       {{"first.dxf", "1"},
                                                        {"in/inner.zip", inner},
                                                        {"deeper.tar", deeper},
                                                        {"c.dxf.gz", gz},
                                                        {"notes.txt.gz", gz},
                                                        {"bad.zip", "not a zip"},
                                                        {"last.dxf", "2"}}));
    const Lines got = read(tar);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(Lines(got.begin(), got.begin() + 5),
              (Lines{"outer.tar!first.dxf=1", "outer.tar!in/inner.zip!a.dxf=A",
                     "outer.tar!in/inner.zip!b.dxf=B",
                     "outer.tar!deeper.tar!inner.zip REFUSED: not opened: archives inside archives "
                     "are opened one level down, and this one lies deeper",
                     "outer.tar!c.dxf.gz=G"}));
    EXPECT_EQ(got[5].rfind("outer.tar!bad.zip FAILED: ", 0), 0u) << got[5];
    EXPECT_EQ(got[6], "outer.tar!last.dxf=2") << "the archive reads on past a bad one inside it";
    // One level more when asked for.
    ArchiveLimits deep;
    deep.depth = 3;
    const Lines all = read(tar, deep);
    EXPECT_EQ(all[3], "outer.tar!deeper.tar!inner.zip!a.dxf=A");
}

TEST_F(Archives, LargeMembersGoToUnnamedFilesInTmpdirSmallOnesStayInMemory) {
    ArchiveLimits limits;
    limits.inMemory = 1000;
    std::string large(2500, 'x');
    for (size_t i = 0; i < large.size(); i += 7) large[i] = static_cast<char>('a' + i % 26);
    const std::string zip = put("m.zip", archiveOf("zip", "none",
                                                   {{"at.dxf", std::string(1000, 'y')},
                                                    {"over.dxf", std::string(1001, 'z')},
                                                    {"large.dxf", large}}));
    const std::string spool = folder_ + "/spool";
    fs::create_directory(spool);
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", spool.c_str(), 1);
    const Lines got = read(zip, limits);
    saved != nullptr ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(got, (Lines{"m.zip!at.dxf=<1000>", "m.zip!over.dxf=file:<1001>",
                          "m.zip!large.dxf=file:<2500>"}));
    EXPECT_TRUE(fs::is_empty(spool)) << "nothing named is left in $TMPDIR";
    // The bytes themselves, through a compressed stream of unknown size as well.
    for (const auto& [name, format] :
         {std::pair<const char*, const char*>{"l.dxf.gz", "raw"}, {"l.tgz", "ustar"}}) {
        const std::string archive = archiveOf(format, "gzip", {{"large.dxf", large}});
        ArchiveReader reader(put(name, archive), OpenFile(), limits);
        ArchiveMember member;
        ASSERT_TRUE(reader.next(&member) && member.outcome == Outcome::Drawing);
        std::string bytes(large.size(), '\0');
        ASSERT_EQ(::pread(member.file.get(), &bytes[0], bytes.size(), 0),
                  static_cast<ssize_t>(large.size()));
        EXPECT_TRUE(bytes == large && member.size == 2500) << name;
    }
}

TEST_F(Archives, MembersTooLargeOrExpandingTooFarAreRefusedWithoutBeingTakenOut) {
    ArchiveLimits small;
    small.largestMember = 1000;
    EXPECT_EQ(
        read(put("s.tar", archiveOf("ustar", "none",
                                    {{"ok.dxf", std::string(1000, 'a')},
                                     {"big.dxf", std::string(1001, 'b')},
                                     {"after.dxf", "c"}})),
             small),
        (Lines{
            "s.tar!ok.dxf=<1000>",
            "s.tar!big.dxf REFUSED: 2 GiB or larger: the reader's 32-bit offsets cannot address it",
            "s.tar!after.dxf=c"}));
    EXPECT_EQ(sizes_[1], 1001) << "refused by the size its header gives";
    // A stream that does not say its size is refused as it passes the limit.
    sizes_.clear();
    small.inMemory = 100;
    const Lines stream =
        read(put("s.dxf.gz", archiveOf("raw", "gzip", {{"x", std::string(300000, 'q')}})), small);
    ASSERT_EQ(stream.size(), 1u);
    EXPECT_EQ(stream[0].rfind("s.dxf.gz REFUSED: 2 GiB", 0), 0u) << stream[0];
    EXPECT_LE(sizes_[0], 1000) << "taken out no further than the limit";

    // 50 MB of zeros compress to some 50 KB: refused long before the end; a member of a
    // few MB of zeros is within the allowance every member has, and so is what follows.
    const std::string zeros(50 << 20, '\0');
    sizes_.clear();
    const Lines bomb = read(put("bomb.zip", archiveOf("zip", "none",
                                                      {{"small.dxf", std::string(4 << 20, '\0')},
                                                       {"bomb.dxf", zeros},
                                                       {"after.dxf", "a"}})));
    ASSERT_EQ(bomb.size(), 3u);
    EXPECT_EQ(bomb[0], "bomb.zip!small.dxf=file:<4194304>");
    EXPECT_EQ(bomb[1],
              "bomb.zip!bomb.dxf REFUSED: expands more than 100 times over its "
              "compressed size: refused as a likely decompression bomb");
    EXPECT_LT(sizes_[1], 16 << 20) << "taken out only as far as the bound";
    EXPECT_EQ(bomb[2], "bomb.zip!after.dxf=a");
}

TEST_F(Archives, ArchivesCompressedAcrossMembersAreHeldToTheirOwnSize) {
    // A copy of an earlier member costs next to nothing in a .tar.xz: were it held to its own
    // compressed bytes, as a zip's member is, it would be refused. 200 KB that do not
    // compress, twice, with no allowance for read-ahead.
    std::string noise(200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    ArchiveLimits strict;
    strict.expansionAllowance = 0;
    EXPECT_EQ(
        read(put("copies.tar.xz", archiveOf("ustar", "xz", {{"a.dxf", noise}, {"b.dxf", noise}})),
             strict),
        (Lines{"copies.tar.xz!a.dxf=<200000>", "copies.tar.xz!b.dxf=<200000>"}));
    // A zip's member is held to its own compressed bytes, however large the archive is.
    const std::string zip =
        archiveOf("zip", "none", {{"noise.bin", noise}, {"a.dxf", std::string(200000, 'a')}});
    EXPECT_EQ(
        read(put("copies.zip", zip), strict),
        Lines{"copies.zip!a.dxf REFUSED: expands more than 100 times over its compressed size: "
              "refused as a likely decompression bomb"});

    // Against the archive's size, a bomb in a .tar.gz is refused; passing over the rest of
    // it is held to the same bound and ends the archive. So does a bomb that is no drawing.
    const std::string zeros(20 << 20, '\0');
    EXPECT_EQ(
        read(put("b.tar.gz", archiveOf("ustar", "gzip",
                                       {{"a.dxf", "A"}, {"bomb.dxf", zeros}, {"b.dxf", "B"}}))),
        (Lines{"b.tar.gz!a.dxf=A",
               "b.tar.gz!bomb.dxf REFUSED: expands to more than 100 times the archive's size: "
               "refused as a likely decompression bomb",
               "b.tar.gz FAILED: what is passed over of it expands to more than 100 times the "
               "archive's size: the rest is not read"}));
    EXPECT_EQ(
        read(put("n.tar.gz", archiveOf("ustar", "gzip",
                                       {{"a.dxf", "A"}, {"zeros.bin", zeros}, {"b.dxf", "B"}}))),
        (Lines{"n.tar.gz!a.dxf=A",
               "n.tar.gz FAILED: what is passed over of it expands to more than 100 times the "
               "archive's size: the rest is not read"}));
}

TEST_F(Archives, PastTheMemberLimitOneFailureNamesTheArchiveGiven) {
    ArchiveLimits limits;
    limits.members = 4;
    const std::string inner = archiveOf("zip", "none", {{"x.dxf", "X"}, {"y.dxf", "Y"}});
    const std::string tar =
        put("many.tar",
            archiveOf("ustar", "none",
                      {{"a.dxf", "A"}, {"dir/", ""}, {"inner.zip", inner}, {"b.dxf", "B"}}));
    EXPECT_EQ(read(tar, limits),
              (Lines{"many.tar!a.dxf=A", "many.tar!inner.zip!x.dxf=X",
                     "many.tar FAILED: more than 4 members: the rest is not read"}))
        << "folders and the members of archives inside count";
    limits.members = 5;
    EXPECT_EQ(read(tar, limits).back(),
              "many.tar FAILED: more than 5 members: the rest is not read");
    limits.members = 6;
    EXPECT_EQ(read(tar, limits), (Lines{"many.tar!a.dxf=A", "many.tar!inner.zip!x.dxf=X",
                                        "many.tar!inner.zip!y.dxf=Y", "many.tar!b.dxf=B"}))
        << "exactly at the limit, all of it is read";
}

TEST_F(Archives, ACutOrCorruptArchiveKeepsWhatWasReadThenFailsOnce) {
    const std::string body(4000, 'p');
    const std::string zip = archiveOf(
        "zip", "none", {{"a.dxf", "A"}, {"b.dxf", body}, {"c.dxf", "C"}}, "zip:compression=store");
    const Lines cut = read(put("cut.zip", zip.substr(0, zip.size() / 2)));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0], "cut.zip!a.dxf=A");
    EXPECT_EQ(cut[1].rfind("cut.zip FAILED: ", 0), 0u) << cut[1];
    EXPECT_NE(cut[1].find(" (reading b.dxf)"), std::string::npos) << cut[1];

    const std::string tgz = archiveOf("ustar", "gzip", {{"a.dxf", "A"}, {"b.dxf", body}});
    const Lines cutGz = read(put("cut.tgz", tgz.substr(0, tgz.size() - 60)));
    ASSERT_FALSE(cutGz.empty());
    EXPECT_EQ(cutGz.back().rfind("cut.tgz FAILED: ", 0), 0u) << cutGz.back();
}

TEST_F(Archives, ListingGivesTheSizesTheArchiveSaysWithoutTakingAnythingOut) {
    const std::string tgz = put(
        "l.tgz", archiveOf("ustar", "gzip",
                           {{"a.dxf", std::string(5000, 'a')}, {"n.txt", "x"}, {"b.dxf", "bb"}}));
    EXPECT_EQ(read(tgz, ArchiveLimits(), false), (Lines{"l.tgz!a.dxf=", "l.tgz!b.dxf="}));
    EXPECT_EQ(sizes_, (std::vector<int64_t>{5000, 2}));
}

}  // namespace
