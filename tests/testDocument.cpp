// The toolkit's document API as an integrator uses it: entities in delivery order with
// recovery joined to the failed entity, the raw record view, and documents left half-read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
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

ReadOptions options(bool pluginOnly, bool strict = false) {
    ReadOptions chosen;
    chosen.pluginOnly = pluginOnly;
    chosen.strict = strict;
    return chosen;
}

// A file that is gone when the test is, however it ends.
struct TempFile {
    explicit TempFile(const std::string& bytes) : path(wqtest::writeTempFile(bytes)) {}
    ~TempFile() { std::remove(path.c_str()); }
    const std::string path;
};

Document fromBody(const std::string& body, ReadOptions options = ReadOptions()) {
    const std::string bytes = "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n";
    return Document::fromBytes(plugin(), "d", bytes, options);
}

std::string joined(const Lines& texts) {
    std::string line;
    for (size_t i = 0; i < texts.size(); ++i) line += (i ? "|" : "") + texts[i];
    return line;
}

// Every entity as "kind:text|text", numbered on from alreadyRead.
Lines readAll(Document& document, int64_t alreadyRead = 0) {
    Lines out;
    wqhost::TextEntity entity;
    while (document.next(&entity)) {
        EXPECT_EQ(entity.ordinal, ++alreadyRead);
        EXPECT_TRUE(entity.kind != nullptr);
        const std::string kind = entity.kind != nullptr ? entity.kind : "null";
        // The host's reader reads the plug-in's kinds too, where the plug-in did not.
        EXPECT_TRUE(!entity.fromPlugin ||
                    kind == "TEXT" || kind == "ATTDEF" || kind == "ATTRIB" || kind == "BLOCK");
        out.push_back(kind + ":" + joined(entity.texts));
    }
    return out;
}

TEST(Document, PluginEntitiesComeFirstThenTheHostsInFileOrder) {
    Document document =
        fromBody("0\nMTEXT\n3\nfirst \n1\n\\Lnote\n0\nTEXT\n1\nplain\n0\nDIMENSION\n1\n<> TYP\n");
    EXPECT_EQ(readAll(document), (Lines{"TEXT:plain", "MTEXT:first note", "DIMENSION: TYP"}));
    EXPECT_EQ(document.status(), DocumentStatus::Ok);
    EXPECT_TRUE(document.entities() == 3 && document.texts() == 3);
    Document only = fromBody("0\nMTEXT\n1\nx\n", options(true));
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
    Document stopped = fromBody(body, options(false, true));
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
    const TempFile file(head + "1\nsecond\n0\nENDSEC\n0\nEOF\n");
    // The plug-in's entities alone: by default the host's reader would read on after it.
    Document document = Document::open(plugin(), file.path, options(true));
    wqhost::TextEntity entity;
    ASSERT_TRUE(document.next(&entity));
    EXPECT_EQ(entity.texts, Lines{"first"});
    ASSERT_EQ(::truncate(file.path.c_str(), static_cast<off_t>(head.size())), 0);
    readAll(document, 1);
    EXPECT_EQ(document.status(), DocumentStatus::Failed);
}

// A reader that stops before the end (here: BLOCKS and ENTITIES each end with a layer named
// 0 before their ENDSEC, which its search for the section's end takes for a code line)
// delivers nothing; by default the host's own reader reads what it did not reach, once each.
TEST(Document, WhatTheReaderDoesNotReachTheHostReads) {
    const std::string drawing =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n1\n\\M+18140\n0\nENDBLK\n8\n0\n0\nENDSEC\n"
        "0\nSECTION\n2\nENTITIES\n0\nATTRIB\n1\nv\n2\nT\n0\nMTEXT\n1\nm\n0\nLINE\n8\n0\n"
        "0\nENDSEC\n0\nEOF\n";
    Document document = Document::fromBytes(plugin(), "s", drawing, ReadOptions());
    // \M+18140 decoded as the plug-in decodes it: 0x81 0x40, which CP1252 reads as U+FFFD @.
    EXPECT_EQ(readAll(document), (Lines{"BLOCK:B|\xef\xbf\xbd@", "ATTRIB:v|T", "MTEXT:m"}));
    EXPECT_EQ(document.status(), DocumentStatus::Recovered);
    EXPECT_EQ(document.salvaged(), 2);
    EXPECT_EQ(document.recoveries(), 0);
    EXPECT_NE(document.message().find("stopped before the end"), std::string::npos);
    for (bool strict : {false, true}) {
        Document plain = Document::fromBytes(plugin(), "s", drawing, options(!strict, strict));
        EXPECT_EQ(readAll(plain), Lines{});
        EXPECT_TRUE(plain.status() == DocumentStatus::Failed && plain.salvaged() == 0);
    }
}

TEST(Document, RecordViewCodePageAndRawBytes) {
    Document records = fromBody("0\nTEXT\n1\nA\n0\nMTEXT\n1\nhidden\n");
    std::string kinds;
    wqhost::RawRecord record;
    while (records.nextRecord(&record)) {
        kinds += std::to_string(record.kind) + (record.bytes.empty() ? "" : "=") + record.bytes;
        kinds += " ";
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
        const TempFile path(drawing);
        Document file = Document::open(plugin(), path.path, ReadOptions());
        EXPECT_EQ(readAll(file), Lines{"TEXT:M\xd1\x8c" "de"});
        EXPECT_EQ(file.encoding().codePage, "CP1251");
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

// --- what names each entity -----------------------------------------------------------

// Each entity as "KIND layer handle block space tag insert position:texts =value", "-" for
// what is not known.
Lines describeAll(Document& document) {
    auto name = [](const std::optional<std::string>& v) { return v ? *v : std::string("-"); };
    Lines out;
    wqhost::TextEntity e;
    while (document.next(&e)) {
        char point[96] = " -";
        if (e.position) {
            const auto& p = *e.position;
            std::snprintf(point, sizeof point, " (%g,%g,%g)", p[0], p[1], p[2]);
        }
        out.push_back(std::string(e.kind ? e.kind : "null") + " " + name(e.layer) + " " +
                      name(e.handle) + " " + name(e.block) + " " + (e.space ? e.space : "-") +
                      " " + name(e.tag) + " " +
                      (e.insert ? name(e.insert->handle) + "/" + name(e.insert->block) : "-") +
                      point + ":" + joined(e.texts) + (e.value() ? " =" + *e.value() : ""));
    }
    return out;
}

// A title block defined in BLOCKS and inserted in ENTITIES, the same text three times on
// different layers, paper space, an ATTRIB with no INSERT before it, and MTEXT: every
// entity is named from its own groups, never from a neighbour's with the same texts.
const char* const kNamedDrawing =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n"
    "0\nBLOCK\n5\n1A\n8\n0\n2\nFRAME\n70\n2\n10\n0\n20\n0\n30\n0\n3\nFRAME\n1\n\n"
    "0\nTEXT\n5\n1B\n8\nL1\n10\n1\n20\n2\n30\n0\n1\nsame\n"
    "0\nATTDEF\n5\n1C\n8\nTB\n10\n3\n20\n4\n1\nA-000\n3\nNumber?\n2\nDWGNO\n"
    "0\nENDBLK\n5\n1D\n8\n0\n0\nTEXT\n5\n1E\n8\nL9\n10\n0\n20\n0\n1\nloose\n"
    "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
    "0\nTEXT\n5\n2A\n8\nL2\n67\n1\n10\n5\n20\n6\n30\n7\n1\nsame\n"
    "0\nTEXT\n5\n2B\n8\nL3\n10\n5\n20\n6\n30\n7\n1\nsame\n"
    "0\nINSERT\n5\n2C\n8\nTB\n66\n1\n2\nFRAME\n10\n100\n20\n50\n30\n0\n"
    "0\nATTRIB\n5\n2D\n8\nTB\n10\n103\n20\n54\n30\n0\n1\nA-101\n2\nDWGNO\n"
    "0\nATTRIB\n5\n2E\n8\nTB\n10\nx1\n20\n54\n1\nK.T.\n2\nBY\n"
    "0\nSEQEND\n5\n2F\n8\nTB\n"
    "0\nATTRIB\n5\n30\n8\nTB\n10\n1\n20\n2\n1\norphan\n2\nLOST\n"
    "0\nMTEXT\n5\n31\n8\nM\n67\n1\n10\n9\n20\n8\n1\nnote\n"
    "0\nENDSEC\n0\nEOF\n";

const Lines kNamedEntities = {
    "BLOCK 0 1A FRAME - - - (0,0,0):FRAME|", "TEXT L1 1B FRAME - - - (1,2,0):same",
    "ATTDEF TB 1C FRAME - DWGNO - (3,4,0):A-000|DWGNO =A-000", "TEXT L9 1E - - - - (0,0,0):loose",
    "TEXT L2 2A - paper - - (5,6,7):same", "TEXT L3 2B - model - - (5,6,7):same",
    "ATTRIB TB 2D - model DWGNO 2C/FRAME (103,54,0):A-101|DWGNO =A-101",
    "ATTRIB TB 2E - model BY 2C/FRAME -:K.T.|BY =K.T.",
    "ATTRIB TB 30 - model LOST - (1,2,0):orphan|LOST =orphan",
    "MTEXT M 31 - paper - - (9,8,0):note"};

TEST(DocumentNames, EachEntityIsNamedFromItsOwnGroupsFromMemoryAndFromAFile) {
    std::string crLf;
    for (const char* c = kNamedDrawing; *c; ++c) crLf += *c == '\n' ? "\r\n" : std::string(1, *c);
    for (const std::string& drawing : {std::string(kNamedDrawing), crLf}) {
        Document memory = Document::fromBytes(plugin(), "n", drawing, ReadOptions());
        EXPECT_EQ(describeAll(memory), kNamedEntities);
        ASSERT_TRUE(memory.metadata().acadver);
        EXPECT_EQ(*memory.metadata().acadver, "AC1015");
        // Past the size read whole, a file is read through its stream, and the names
        // through a reader of their own.
        const TempFile path(drawing + std::string(300u << 10, '\n'));
        Document file = Document::open(plugin(), path.path, ReadOptions());
        EXPECT_EQ(describeAll(file), kNamedEntities);
        Document only = Document::fromBytes(plugin(), "n", drawing, options(true));
        EXPECT_EQ(describeAll(only).size(), kNamedEntities.size() - 1);
        EXPECT_TRUE(only.metadata().acadver) << "the metadata is read without the host's pass";
    }
    ReadOptions textsOnly;
    textsOnly.structure = false;
    Document bare = Document::fromBytes(plugin(), "n", kNamedDrawing, textsOnly);
    const Lines bareEntities = describeAll(bare);
    ASSERT_EQ(bareEntities.size(), kNamedEntities.size());
    EXPECT_EQ(bareEntities[6], "ATTRIB - - - - - - -:A-101|DWGNO");
    EXPECT_FALSE(bare.metadata().acadver);
}

// The metadata comes from the header and from the DWGPROPS record at the other end of the
// file, with the host's pass and without it, converted as the texts are.
TEST(DocumentNames, MetadataFromTheHeaderAndTheDrawingProperties) {
    const std::string drawing =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1018\n9\n$DWGCODEPAGE\n3\nANSI_1252\n"
        "9\n$TDCREATE\n40\n2460369.5\n9\n$TDUUPDATE\n40\n2460370.25\n"
        "9\n$LASTSAVEDBY\n1\nkt\n9\n$INSUNITS\n70\n     4\n"
        "9\n$CUSTOMPROPERTYTAG\n1\nPhase\n9\n$CUSTOMPROPERTY\n1\nD\xe9sign\n0\nENDSEC\n"
        "0\nSECTION\n2\nENTITIES\n0\nTEXT\n5\n2A\n8\n0\n1\nt\n0\nENDSEC\n"
        "0\nSECTION\n2\nOBJECTS\n0\nXRECORD\n5\n1F\n100\nAcDbXrecord\n280\n1\n"
        "1\nDWGPROPS COOKIE\n2\nRiverside\n3\n\n4\nK. Tanaka\n6\n\n7\nlibrary\n8\n\n9\n3\n"
        "300\nClient=City\n301\n=\n40\n0.0\n41\n0\n42\n0\n1\n\n90\n1\n1\nSheet\n1\nA-101\n"
        "0\nENDSEC\n0\nEOF\n";
    auto keys = [](const wqhost::DrawingMetadata& metadata) {
        std::string all;
        metadata.forEach([&](const char* key, const std::string& value) {
            all += std::string(key) + "=" + value + ";";
        });
        for (const auto& [name, value] : metadata.custom) all += name + ":" + value + ";";
        return all;
    };
    const std::string expected =
        "acadver=AC1018;codepage=ANSI_1252;encoding=CP1252;created=2024-02-29T00:00:00;"
        "modified=2024-02-29T18:00:00Z;last_saved_by=kt;units=millimeters;title=Riverside;"
        "author=K. Tanaka;keywords=library;revision=3;Phase:D\xc3\xa9sign;Client:City;Sheet:A-101;";
    for (bool pluginOnly : {false, true}) {
        Document document = Document::fromBytes(plugin(), "m", drawing, options(pluginOnly));
        describeAll(document);
        EXPECT_EQ(keys(document.metadata()), expected) << pluginOnly;
    }
    // Cut short inside the record: what was read stays.
    Document cut = Document::fromBytes(plugin(), "c", drawing.substr(0, drawing.find("7\nlibrary")),
                                       ReadOptions());
    describeAll(cut);
    EXPECT_EQ(cut.metadata().title.value_or("-") + cut.metadata().author.value_or("-"),
              "RiversideK. Tanaka");
}

// A BLOCKS section whose closing ENDSEC the plug-in does not see (a blank after it) runs on
// into ENTITIES, whose entities it delivers twice: both times they are ENTITIES' own, and
// dxftext gives them once unless asked for the plug-in's entities as it gives them.
TEST(DocumentNames, EntitiesDeliveredTwiceAreNamedWhereTheyStand) {
    const std::string drawing =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\nB\n2\nBL\n1\n\n0\nTEXT\n5\nA1\n8\nIN\n1\nx\n"
        "0\nENDBLK\n0\nENDSEC \n0\nSECTION\n2\nENTITIES\n0\nTEXT\n5\nB1\n8\nOUT\n1\nx\n"
        "0\nTEXT\n5\nB2\n8\nOUT2\n1\ny\n0\nENDSEC\n0\nEOF\n";
    Document document = Document::fromBytes(plugin(), "q", drawing, options(true));
    const Lines once = {"BLOCK B - BL - - - -:BL|", "TEXT IN A1 BL - - - -:x",
                        "TEXT OUT B1 - model - - -:x", "TEXT OUT2 B2 - model - - -:y"};
    Lines twice = once;
    twice.insert(twice.end(), once.begin() + 2, once.end());
    EXPECT_EQ(describeAll(document), twice);
    // By default each entity comes once, and the counts agree.
    Document onceOnly = Document::fromBytes(plugin(), "q", drawing, ReadOptions());
    EXPECT_EQ(describeAll(onceOnly), once);
    EXPECT_TRUE(onceOnly.entities() == 4 && onceOnly.texts() == 5 &&
                onceOnly.status() == DocumentStatus::Ok);
}

// Bad input changes no text: what cannot be known is left unknown.
TEST(DocumentNames, BadNamesAndCoordinatesAreUnknownAndTheTextsStay) {
    const std::string huge(1u << 20, 'F');
    const std::string body = "0\nTEXT\n5\n" + huge + "\n8\nbad\xff" + "\n10\n1e999\n20\n2\n1\n" +
                             "kept\n0\nTEXT\n5\n" + huge + "\n5\n7\n10\n--1\n20\n2\n1\nkept too\n";
    // A drawing from AutoCAD 2007 on is UTF-8: the byte 0xFF cannot be in it.
    const std::string utf8 = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1021\n0\nENDSEC\n";
    Document document = Document::fromBytes(
        plugin(), "b", utf8 + "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n",
        ReadOptions());
    EXPECT_EQ(describeAll(document), (Lines{"TEXT bad\xef\xbf\xbd - - model - - -:kept",
                                            "TEXT - - - model - - -:kept too"}));
    // The first of each group counts; a number too small for a double is 0, a second sign
    // makes no number.
    Document numbers = fromBody(
        "0\nTEXT\n67\n1\n67\n0\n10\n1e-400\n20\n-2.5E+1\n10\n7\n1\na\n"
        "0\nTEXT\n10\n+-1\n20\n2\n1\nb\n0\nTEXT\n10\n 1 \n20\n+2\n30\n1e400\n1\nc\n");
    EXPECT_EQ(describeAll(numbers),
              (Lines{"TEXT - - - paper - - (0,-25,0):a", "TEXT - - - model - - -:b",
                     "TEXT - - - model - - -:c"}));
    // A drawing with lone CR line ends is read by the plug-in but not by the host's reader:
    // the kind comes from the line the plug-in read, and nothing is made up.
    Document crOnly = Document::fromBytes(
        plugin(), "cr", "0\rSECTION\r2\rENTITIES\r0\rTEXT\r8\rL\r1\rHello\r0\rENDSEC\r0\rEOF\r",
        ReadOptions());
    EXPECT_EQ(describeAll(crOnly), Lines{"TEXT - - - - - - -:Hello"});
}

}  // namespace
