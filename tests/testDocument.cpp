// The toolkit's document API as an integrator uses it: entities in delivery order with
// recovery joined to the failed entity, the raw record view, and documents left half-read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Document.hpp"
#include "Transcript.hpp"

namespace {

using wqhost::Document;
using wqhost::DocumentStatus;
using wqhost::ReadOptions;
using Lines = std::vector<std::string>;

const wqhost::PluginLibrary& plugin() {
    static wqhost::PluginLibrary* loaded = [] {
        auto* library = new wqhost::PluginLibrary;
        std::string error;
        EXPECT_TRUE(library->load(WQ_PLUGIN_PATH, &error)) << error;
        return library;
    }();
    return *loaded;
}

Document fromBody(const std::string& body, ReadOptions options = ReadOptions()) {
    const std::string bytes = "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n";
    return Document::fromBytes(plugin(), "d", bytes, options);
}

// Every entity as "kind:text|text".
Lines readAll(Document& document, int64_t alreadyRead = 0) {
    Lines out;
    wqhost::TextEntity entity;
    while (document.next(&entity)) {
        EXPECT_EQ(entity.ordinal, ++alreadyRead);
        EXPECT_TRUE(entity.kind != nullptr);
        const std::string kind = entity.kind != nullptr ? entity.kind : "null";
        EXPECT_EQ(entity.fromPlugin,
                  kind == "TEXT" || kind == "ATTDEF" || kind == "ATTRIB" || kind == "BLOCK");
        std::string line = kind + ":";
        for (size_t i = 0; i < entity.texts.size(); ++i) line += (i ? "|" : "") + entity.texts[i];
        out.push_back(line);
    }
    return out;
}

TEST(Document, PluginEntitiesComeFirstThenTheHostsInFileOrder) {
    Document document =
        fromBody("0\nMTEXT\n3\nfirst \n1\n\\Lnote\n0\nTEXT\n1\nplain\n0\nDIMENSION\n1\n<> TYP\n");
    EXPECT_EQ(readAll(document), (Lines{"TEXT:plain", "MTEXT:first note", "DIMENSION: TYP"}));
    EXPECT_EQ(document.status(), DocumentStatus::Ok);
    EXPECT_TRUE(document.entities() == 3 && document.texts() == 3);
    ReadOptions pluginOnly;
    pluginOnly.pluginOnly = true;
    Document only = fromBody("0\nMTEXT\n1\nx\n", pluginOnly);
    EXPECT_TRUE(readAll(only).empty());
}

// An unknown group inside a TEXT: the reader fails once, delivers what it queued, then
// resumes the entity under a new start record. Both halves are one entity to the user;
// retries that read on are progress, however many in a row.
TEST(Document, RecoveredTextsJoinTheEntityTheyBelongTo) {
    std::string unknown;
    for (int i = 0; i < 100; ++i) unknown += "420\n1\n";
    const std::string body = "0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nTEXT\n1\nnext\n0\nTEXT\n" +
                             unknown + "1\nlast\n";
    Document document = fromBody(body);
    EXPECT_EQ(readAll(document), (Lines{"TEXT:before|after", "TEXT:next", "TEXT:last"}));
    EXPECT_EQ(document.status(), DocumentStatus::Recovered);
    EXPECT_EQ(document.recoveries(), 101);
    ReadOptions strict;
    strict.strict = true;
    Document stopped = fromBody(body, strict);
    EXPECT_TRUE(readAll(stopped).empty());
    EXPECT_EQ(stopped.status(), DocumentStatus::Failed);
    EXPECT_NE(stopped.message().find("--strict"), std::string::npos);
}

// A file cut short while it is read fails every read inside a TEXT: each retry gives a new
// start record and nothing more, and the document is given up once retries read nothing.
TEST(Document, RetriesEndWhenTheStreamStopsMoving) {
    std::string filler;
    while (filler.size() < (256u << 10)) filler += "0\nLINE\n8\n0\n10\n1.0\n";
    const std::string head = "0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nfirst\n" + filler + "0\nTEXT\n";
    const std::string path = wqtest::writeTempFile(head + "1\nsecond\n0\nENDSEC\n0\nEOF\n");
    Document document = Document::open(plugin(), path, ReadOptions());
    wqhost::TextEntity entity;
    ASSERT_TRUE(document.next(&entity));
    EXPECT_EQ(entity.texts, Lines{"first"});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(head.size())), 0);
    readAll(document, 1);
    EXPECT_EQ(document.status(), DocumentStatus::Failed);
    std::remove(path.c_str());
}

TEST(Document, RecordViewCodePageAndRawBytes) {
    Document records = fromBody("0\nTEXT\n1\nA\n0\nMTEXT\n1\nhidden\n");
    std::string kinds;
    wqhost::RawRecord record;
    while (records.nextRecord(&record)) {
        kinds += std::to_string(record.kind) + (record.bytes.empty() ? "" : "=" + record.bytes) + " ";
    }
    EXPECT_EQ(kinds, "38 41=A 48 1 ");  // the plug-in's own, up to the end of the document
    EXPECT_EQ(records.status(), DocumentStatus::Ok);
    const std::string bytes =
        "0\nSECTION\n2\nHEADER\n9\n$DWGCODEPAGE\n3\nANSI_1252\n0\nENDSEC\n0\nSECTION\n2\n"
        "ENTITIES\n0\nTEXT\n1\nM\xfc\x64\x65\n0\nENDSEC\n0\nEOF\n";
    Document document = Document::fromBytes(plugin(), "c", bytes, ReadOptions());
    EXPECT_EQ(readAll(document), Lines{"TEXT:M\xc3\xbc" "de"});
    EXPECT_TRUE(document.encoding().codePage == "CP1252" && document.encoding().fromHeader);
    ReadOptions raw;
    raw.encoding = "raw";
    Document rawDocument = Document::fromBytes(plugin(), "c", bytes, raw);
    EXPECT_EQ(readAll(rawDocument), Lines{"TEXT:M\xfc" "de"});
    // A code page named past the first look counts, in a file read whole (up to 256 KiB)
    // and in one whose header is read in two steps (lines past EOF make it larger).
    std::string late = "0\nSECTION\n2\nHEADER\n";
    while (late.size() < (20u << 10)) late += "9\n$FILLER\n70\n0\n";
    late += bytes.substr(bytes.find("9\n$DWG"));
    late.replace(late.find("ANSI_1252"), 9, "ANSI_1251");
    for (const std::string& drawing : {late, late + std::string(256u << 10, '\n')}) {
        const std::string path = wqtest::writeTempFile(drawing);
        Document file = Document::open(plugin(), path, ReadOptions());
        EXPECT_EQ(readAll(file), Lines{"TEXT:M\xd1\x8c" "de"});
        EXPECT_EQ(file.encoding().codePage, "CP1251");
        std::remove(path.c_str());
    }
}

// A host may stop anywhere: the destructor gives everything back (the sanitizer build
// reports any leak), and a moved document goes on where the first stopped.
TEST(Document, StoppingOrMovingHalfWayIsSafe) {
    const std::string body = "0\nTEXT\n1\nA\n0\nTEXT\n1\nB\n0\nMTEXT\n1\nC\n";
    wqhost::TextEntity entity;
    for (int stopAfter = 0; stopAfter < 4; ++stopAfter) {
        Document document = fromBody(body);
        for (int i = 0; i < stopAfter; ++i) document.next(&entity);
    }
    Document first = fromBody(body);
    ASSERT_TRUE(first.next(&entity));
    Document moved = std::move(first);
    EXPECT_EQ(readAll(moved, 1), (Lines{"TEXT:B", "MTEXT:C"}));
}

TEST(Document, ProblemsWithTheFileAreStatusesNotErrors) {
    wqhost::TextEntity entity;
    for (const char* path : {"/nonexistent/x.dxf", "/tmp"}) {
        Document document = Document::open(plugin(), path, ReadOptions());
        EXPECT_TRUE(document.status() == DocumentStatus::Failed && !document.next(&entity)) << path;
    }
    Document empty = Document::fromBytes(plugin(), "e", "", ReadOptions());
    EXPECT_EQ(empty.status(), DocumentStatus::Refused);
}

}  // namespace
