// The toolkit's document API as an integrator uses it: entities in delivery order with
// recovery joined to the failed entity, the raw record view, and documents left half-read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Document.hpp"

namespace {

using wqhost::Document;
using wqhost::DocumentStatus;
using wqhost::PluginLibrary;
using wqhost::ReadOptions;
using wqhost::TextEntity;

const PluginLibrary& plugin() {
    static PluginLibrary* loaded = [] {
        auto* library = new PluginLibrary;
        std::string error;
        EXPECT_TRUE(library->load(WQ_PLUGIN_PATH, &error)) << error;
        return library;
    }();
    return *loaded;
}

std::string entities(const std::string& body) {
    return "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n";
}

// Every entity as "kind:text|text", kind "-" for the plug-in's.
std::vector<std::string> readAll(Document& document, int64_t alreadyRead = 0) {
    std::vector<std::string> out;
    TextEntity entity;
    int64_t ordinal = alreadyRead;
    while (document.next(&entity)) {
        EXPECT_EQ(entity.ordinal, ++ordinal);
        EXPECT_EQ(entity.fromPlugin, entity.kind == nullptr);
        std::string line = std::string(entity.kind ? entity.kind : "-") + ":";
        for (size_t i = 0; i < entity.texts.size(); ++i) line += (i ? "|" : "") + entity.texts[i];
        out.push_back(line);
    }
    return out;
}

TEST(Document, PluginEntitiesComeFirstThenTheHostsInFileOrder) {
    Document document = Document::fromBytes(
        plugin(), "mixed",
        entities("0\nMTEXT\n3\nfirst \n1\n\\Lnote\n0\nTEXT\n1\nplain\n0\nDIMENSION\n1\n<> TYP\n"),
        ReadOptions());
    EXPECT_EQ(readAll(document), (std::vector<std::string>{"-:plain", "MTEXT:first note",
                                                           "DIMENSION: TYP"}));
    EXPECT_EQ(document.status(), DocumentStatus::Ok);
    EXPECT_EQ(document.entities(), 3);
    EXPECT_EQ(document.texts(), 3);
    ReadOptions pluginOnly;
    pluginOnly.pluginOnly = true;
    Document only = Document::fromBytes(plugin(), "mixed", entities("0\nMTEXT\n1\nx\n"), pluginOnly);
    EXPECT_TRUE(readAll(only).empty());
}

// An unknown group inside a TEXT: the reader fails once, delivers what it queued, then
// resumes the entity under a new start record. Both halves are one entity to the user.
TEST(Document, RecoveredTextsJoinTheEntityTheyBelongTo) {
    const std::string bytes = entities(
        "0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nTEXT\n1\nnext\n0\nTEXT\n420\n1\n1\nlast\n");
    Document document = Document::fromBytes(plugin(), "u", bytes, ReadOptions());
    EXPECT_EQ(readAll(document),
              (std::vector<std::string>{"-:before|after", "-:next", "-:last"}));
    EXPECT_EQ(document.status(), DocumentStatus::Recovered);
    EXPECT_EQ(document.recoveries(), 2);

    ReadOptions strict;
    strict.strict = true;
    Document stopped = Document::fromBytes(plugin(), "u", bytes, strict);
    EXPECT_TRUE(readAll(stopped).empty());
    EXPECT_EQ(stopped.status(), DocumentStatus::Failed);
    EXPECT_NE(stopped.message().find("--strict"), std::string::npos);
}

// A file cut short while it is read (rewritten, truncated) fails every read inside a TEXT:
// each retry gives a new start record and nothing more. Records alone are no progress; the
// document is given up once retries read nothing further.
TEST(Document, RetriesGoOnWhileTheyReadOnAndEndWhenTheStreamStopsMoving) {
    std::string filler;
    while (filler.size() < (256u << 10)) filler += "0\nLINE\n8\n0\n10\n1.0\n";
    const std::string head = "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nfirst\n" + filler + "0\nTEXT\n";
    const std::string path = ::testing::TempDir() + "cut_short.dxf";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string whole = head + "1\nsecond\n0\nENDSEC\n0\nEOF\n";
    ASSERT_EQ(std::fwrite(whole.data(), 1, whole.size(), file), whole.size());
    std::fclose(file);

    Document document = Document::open(plugin(), path, ReadOptions());
    TextEntity entity;
    ASSERT_TRUE(document.next(&entity));
    EXPECT_EQ(entity.texts, std::vector<std::string>{"first"});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(head.size())), 0);
    readAll(document, 1);
    EXPECT_EQ(document.status(), DocumentStatus::Failed);
    std::remove(path.c_str());

    // Retries that read on are progress, however many in a row.
    std::string unknown;
    for (int i = 0; i < 100; ++i) unknown += "420\n1\n";
    Document many = Document::fromBytes(plugin(), "m", entities("0\nTEXT\n" + unknown + "1\nlast\n"),
                                        ReadOptions());
    EXPECT_EQ(readAll(many), std::vector<std::string>{"-:last"});
    EXPECT_EQ(many.status(), DocumentStatus::Recovered);
}

TEST(Document, RecordViewIsThePluginsOwnAndEndsAtTheEndOfDocument) {
    Document document = Document::fromBytes(
        plugin(), "r", entities("0\nTEXT\n1\nA\n0\nMTEXT\n1\nhidden\n"), ReadOptions());
    std::string kinds;
    wqhost::RawRecord record;
    while (document.nextRecord(&record)) {
        kinds += std::to_string(record.kind) + (record.bytes.empty() ? "" : "=" + record.bytes) + " ";
    }
    EXPECT_EQ(kinds, "38 41=A 48 1 ");
    EXPECT_EQ(document.status(), DocumentStatus::Ok);
}

TEST(Document, CodePageComesFromTheHeaderAndRawKeepsTheBytes) {
    const std::string bytes =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$DWGCODEPAGE\n3\nANSI_1252\n0\nENDSEC\n" +
        entities("0\nTEXT\n1\nM\xfc\x64\x65\n");
    Document document = Document::fromBytes(plugin(), "c", bytes, ReadOptions());
    EXPECT_EQ(readAll(document), std::vector<std::string>{"-:M\xc3\xbc" "de"});
    EXPECT_EQ(document.encoding().codePage, "CP1252");
    EXPECT_TRUE(document.encoding().fromHeader);
    ReadOptions raw;
    raw.encoding = "raw";
    Document rawDocument = Document::fromBytes(plugin(), "c", bytes, raw);
    EXPECT_EQ(readAll(rawDocument), std::vector<std::string>{"-:M\xfc" "de"});
}

// A host may stop anywhere: the destructor gives everything back (the sanitizer build
// reports any leak), and a moved document goes on where the first stopped.
TEST(Document, StoppingOrMovingHalfWayIsSafe) {
    const std::string bytes = entities("0\nTEXT\n1\nA\n0\nTEXT\n1\nB\n0\nMTEXT\n1\nC\n");
    for (int stopAfter = 0; stopAfter < 4; ++stopAfter) {
        Document document = Document::fromBytes(plugin(), "s", bytes, ReadOptions());
        TextEntity entity;
        for (int i = 0; i < stopAfter; ++i) document.next(&entity);
    }
    Document first = Document::fromBytes(plugin(), "s", bytes, ReadOptions());
    TextEntity entity;
    ASSERT_TRUE(first.next(&entity));
    Document moved = std::move(first);
    EXPECT_EQ(readAll(moved, 1).size(), 2u);
}

TEST(Document, ProblemsWithTheFileAreStatusesNotErrors) {
    Document missing = Document::open(plugin(), "/nonexistent/x.dxf", ReadOptions());
    EXPECT_EQ(missing.status(), DocumentStatus::Failed);
    EXPECT_NE(missing.message().find("No such file"), std::string::npos);
    TextEntity entity;
    EXPECT_FALSE(missing.next(&entity));
    Document folder = Document::open(plugin(), "/tmp", ReadOptions());
    EXPECT_EQ(folder.status(), DocumentStatus::Failed);
    Document empty = Document::fromBytes(plugin(), "e", "", ReadOptions());
    EXPECT_EQ(empty.status(), DocumentStatus::Refused);
    EXPECT_NE(empty.message().find("the file is empty"), std::string::npos);
}

}  // namespace
