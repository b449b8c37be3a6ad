// The host's metadata collector: each header variable and each field of the DWGPROPS
// record in its place, Julian dates and unit numbers made readable, memory kept bounded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Metadata.hpp"

namespace {

using wqhost::DrawingMetadata;
using wqhost::isoFromJulianDate;
using wqhost::MetadataCollector;
using Lines = std::vector<std::string>;
using Pair = std::pair<std::string, std::string>;
using Pairs = std::vector<Pair>;

struct Group {
    int code;
    std::string value;
    bool cut = false;
};
using Groups = std::vector<Group>;

void feedHeader(MetadataCollector* collector, const Groups& groups) {
    for (const Group& group : groups) collector->headerGroup(group.code, group.value, group.cut);
}

// Feeds an object as a reader does, its groups until the collector wants no more; returns
// how many groups it took (the one it refused included).
std::size_t feedObject(MetadataCollector* collector, const char* type, const Groups& groups) {
    if (!collector->objectBegins(type)) return 0;
    std::size_t taken = 0;
    for (const Group& group : groups) {
        ++taken;
        if (!collector->objectGroup(group.code, group.value, group.cut)) break;
    }
    return taken;
}

// What forEach visits, as "key=value" lines in its order.
Lines fields(const DrawingMetadata& metadata) {
    Lines lines;
    metadata.forEach([&lines](const char* key, const std::string& value) {
        lines.push_back(std::string(key) + "=" + value);
    });
    return lines;
}

DrawingMetadata bytesAsTheyAre(const MetadataCollector& collector) {
    return collector.result(nullptr);
}

// A HEADER section as AutoCAD writes it, with variables the collector does not take
// between, and padding as some writers put around numbers.
const Groups kHeader = {
    {9, "$ACADVER"}, {1, "AC1032"},
    {9, "$ACADMAINTVER"}, {70, "105"},
    {9, "$DWGCODEPAGE"}, {3, "ANSI_1252"},
    {9, "$LASTSAVEDBY"}, {1, "jkeller"},
    {9, "$EXTMIN"}, {10, "0.0"}, {20, "0.0"}, {30, "0.0"},
    {9, "$INSUNITS"}, {70, "     4"},
    {9, "$TDCREATE"}, {40, "2460370.0"},
    {9, "$TDUCREATE"}, {40, "2460369.916666667"},
    {9, "$TDUPDATE"}, {40, "2455022.720693"},
    {9, "$TDUUPDATE"}, {40, "2455022.637359514"},
    {9, "$FINGERPRINTGUID"}, {2, "{8A3E2F56-1B3C-4D1E-9F00-0A1B2C3D4E5F}"},
    {9, "$VERSIONGUID"}, {2, "{FAEB1C32-E019-11D5-929B-00C0DF256EC4}"},
    {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"},
    {9, "$CUSTOMPROPERTY"}, {1, "ACME Ltd"},
    {9, "$CUSTOMPROPERTYTAG"}, {1, "Job"},
    {9, "$CUSTOMPROPERTY"}, {1, "4711"},
};

// A DWGPROPS record as AutoCAD writes it, every field distinct.
const Groups kDwgprops = {
    {5, "1F"}, {102, "{ACAD_REACTORS"}, {330, "C"}, {102, "}"}, {330, "C"},
    {100, "AcDbXrecord"}, {280, "1"},
    {1, "DWGPROPS COOKIE"},
    {2, "Site plan"}, {3, "Block C"}, {4, "A. Author"}, {6, "For review"},
    {7, "site;drainage"}, {8, "editor"}, {9, "7"},
    {300, "Phase=2"}, {301, "="}, {302, "  Sheet  =  A1 "}, {303, "=no name"},
    {304, "Formula=a=b"}, {305, "Nothing="}, {306, "no equals sign"}, {307, "="},
    {308, "="}, {309, "Last slot = 10"},
    {40, "0.0173"}, {41, "2455022.6"}, {42, "2455022.7"},
    {1, "http://example.com/base/"},
    {90, "2"},
    {1, "Checked by"}, {1, "MR"},
    {1, "Approved"}, {1, "2024-02-29"},
};

// ---------------------------------------------------------------- the HEADER

TEST(MetadataHeader, EachVariableGoesToItsField) {
    MetadataCollector collector;
    feedHeader(&collector, kHeader);
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(fields(metadata), (Lines{
                                    "acadver=AC1032",
                                    "codepage=ANSI_1252",
                                    "created=2024-02-29T10:00:00Z",
                                    "modified=2009-07-10T03:17:48Z",
                                    "last_saved_by=jkeller",
                                    "fingerprint_guid={8A3E2F56-1B3C-4D1E-9F00-0A1B2C3D4E5F}",
                                    "version_guid={FAEB1C32-E019-11D5-929B-00C0DF256EC4}",
                                    "units=millimeters",
                                }));
    EXPECT_EQ(metadata.custom, (Pairs{{"Client", "ACME Ltd"}, {"Job", "4711"}}));
    EXPECT_FALSE(metadata.encoding);  // the caller's to choose
}

TEST(MetadataHeader, OnlyTheFirstGroupOfTheExpectedCodeCounts) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               {9, "$DWGCODEPAGE"}, {1, "not the page"}, {3, "ANSI_932"},
                               {3, "ANSI_1252"},
                               {9, "$INSUNITS"}, {40, "6"}, {70, "1"}, {70, "6"},
                               {9, "$VERSIONGUID"}, {1, "{WRONG}"}, {2, "{RIGHT}"},
                               // Said twice: the first one holds.
                               {9, "$TDUCREATE"}, {40, "2460370.0"},
                               {9, "$TDUCREATE"}, {40, "2455022.5"},
                               {9, "$INSUNITS"}, {70, "2"},
                               // The first $ACADVER group is cut: said, and not kept.
                               {9, "$ACADVER"}, {1, "AC10", true}, {1, "AC1015"},
                               {9, "$LASTSAVEDBY"}, {2, "not a name"},
                               // The section's end closes the last variable.
                               {9, "$FINGERPRINTGUID"}, {0, "ENDSEC"}, {2, "{AFTER THE END}"},
                           });
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.codepage, "ANSI_932");
    EXPECT_EQ(metadata.units, "inches");
    EXPECT_EQ(metadata.versionGuid, "{RIGHT}");
    EXPECT_EQ(metadata.created, "2024-02-29T12:00:00Z");
    EXPECT_FALSE(metadata.acadver);
    EXPECT_FALSE(metadata.lastSavedBy);
    EXPECT_FALSE(metadata.fingerprintGuid);
}

TEST(MetadataHeader, UtcDatesComeFirstAndLocalOnesFillIn) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               {9, "$TDCREATE"}, {40, "2460370.0"},
                               {9, "$TDUCREATE"}, {40, "2460369.916666667"},
                               {9, "$TDUPDATE"}, {40, "2460370.5"},
                               {9, "$TDUUPDATE"}, {40, "0.0"},  // no UTC date: the local one
                           });
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.created, "2024-02-29T10:00:00Z");
    EXPECT_EQ(metadata.modified, "2024-03-01T00:00:00");

    MetadataCollector localOnly;
    feedHeader(&localOnly, {{9, "$TDCREATE"}, {40, "2460370.0"}});
    EXPECT_EQ(bytesAsTheyAre(localOnly).created, "2024-02-29T12:00:00");
    EXPECT_FALSE(bytesAsTheyAre(localOnly).modified);
}

TEST(MetadataHeader, PaddedValuesAreTrimmedAndEmptyOnesAreNotSaid) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               {9, "  $acadver\t"}, {1, "\t AC1018  "},
                               {9, "$LASTSAVEDBY"}, {1, "   "},
                               {9, "$DWGCODEPAGE"}, {3, ""},
                               {9, "$TDUCREATE"}, {40, " +2460370.0 "},
                               {9, "$INSUNITS"}, {70, "  "},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, " Room "},
                               {9, "$CUSTOMPROPERTY"}, {1, " 2.14 B "},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Blank"},
                               {9, "$CUSTOMPROPERTY"}, {1, " "},
                           });
    // An empty value leaves the variable unsaid: a later one may say it.
    feedHeader(&collector, {{9, "$DWGCODEPAGE"}, {3, "ANSI_1250"}});
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.acadver, "AC1018");
    EXPECT_EQ(metadata.created, "2024-02-29T12:00:00Z");
    EXPECT_EQ(metadata.codepage, "ANSI_1250");
    EXPECT_FALSE(metadata.lastSavedBy);
    EXPECT_FALSE(metadata.units);
    EXPECT_EQ(metadata.custom, (Pairs{{"Room", "2.14 B"}}));
}

TEST(MetadataHeader, ACustomPropertyIsATagFollowedAtOnceByItsValue) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               // A tag whose value never comes names nothing later.
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Orphan"},
                               {9, "$ACADVER"}, {1, "AC1032"},
                               {9, "$CUSTOMPROPERTY"}, {1, "lost value"},
                               // A cut tag makes no property.
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Lo", true},
                               {9, "$CUSTOMPROPERTY"}, {1, "value of a cut name"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"},
                               {9, "$CUSTOMPROPERTY"}, {1, "first"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"},
                               {9, "$CUSTOMPROPERTY"}, {1, "second"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Job"},
                               {9, "$CUSTOMPROPERTY"}, {1, "4711"}, {1, "not its value"},
                           });
    EXPECT_EQ(bytesAsTheyAre(collector).custom, (Pairs{{"Client", "first"}, {"Job", "4711"}}));
}

TEST(MetadataHeader, TheSameHeaderFedTwiceGivesWhatItGivesOnce) {
    MetadataCollector once, twice;
    feedHeader(&once, kHeader);
    feedHeader(&twice, kHeader);
    feedHeader(&twice, kHeader);
    EXPECT_EQ(fields(bytesAsTheyAre(twice)), fields(bytesAsTheyAre(once)));
    EXPECT_EQ(bytesAsTheyAre(twice).custom, bytesAsTheyAre(once).custom);

    // And so does a read that stopped halfway before it started over.
    MetadataCollector restarted;
    feedHeader(&restarted, Groups(kHeader.begin(), kHeader.begin() + 31));
    feedHeader(&restarted, kHeader);
    EXPECT_EQ(fields(bytesAsTheyAre(restarted)), fields(bytesAsTheyAre(once)));
    EXPECT_EQ(bytesAsTheyAre(restarted).custom, bytesAsTheyAre(once).custom);
}

// ---------------------------------------------------------------- the DWGPROPS record

TEST(MetadataDwgprops, EveryFieldAndBothFormsOfCustomProperty) {
    MetadataCollector collector;
    EXPECT_EQ(feedObject(&collector, "XRECORD", kDwgprops), kDwgprops.size());
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(fields(metadata), (Lines{
                                    "last_saved_by=editor",
                                    "title=Site plan",
                                    "subject=Block C",
                                    "author=A. Author",
                                    "keywords=site;drainage",
                                    "comments=For review",
                                    "revision=7",
                                }));
    EXPECT_EQ(metadata.custom, (Pairs{{"Phase", "2"},
                                      {"Sheet", "A1"},
                                      {"Formula", "a=b"},
                                      {"Last slot", "10"},
                                      {"Checked by", "MR"},
                                      {"Approved", "2024-02-29"}}));
}

TEST(MetadataDwgprops, TheHeaderComesFirst) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               {9, "$LASTSAVEDBY"}, {1, "header saver"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "Sheet"},
                               {9, "$CUSTOMPROPERTY"}, {1, "from the header"},
                           });
    feedObject(&collector, "XRECORD", kDwgprops);
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.lastSavedBy, "header saver");
    EXPECT_EQ(metadata.custom, (Pairs{{"Sheet", "from the header"},
                                      {"Phase", "2"},
                                      {"Formula", "a=b"},
                                      {"Last slot", "10"},
                                      {"Checked by", "MR"},
                                      {"Approved", "2024-02-29"}}));
}

TEST(MetadataDwgprops, ARecordCutShortKeepsWhatWasRead) {
    // Up to the name of the second pair: its value never came.
    const Groups cut(kDwgprops.begin(), kDwgprops.end() - 1);
    MetadataCollector collector;
    EXPECT_EQ(feedObject(&collector, "XRECORD", cut), cut.size());
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.title, "Site plan");
    EXPECT_EQ(metadata.revision, "7");
    EXPECT_EQ(metadata.custom.back(), (Pair{"Checked by", "MR"}));
    EXPECT_EQ(metadata.custom.size(), 5u);

    // And a next object does not take the dangling name for one of its own.
    feedObject(&collector, "XRECORD", {{1, "DWGPROPS COOKIE"}, {90, "1"}, {1, "x"}});
    EXPECT_EQ(bytesAsTheyAre(collector).custom.size(), 5u);
}

TEST(MetadataDwgprops, OtherObjectsAreGivenUpAtOnce) {
    MetadataCollector collector;
    EXPECT_FALSE(collector.objectBegins("DICTIONARY"));
    EXPECT_FALSE(collector.objectGroup(1, "DWGPROPS COOKIE", false));
    EXPECT_FALSE(collector.objectGroup(2, "not a title", false));

    // An XRECORD whose first group 1 is another application's.
    EXPECT_EQ(feedObject(&collector, " XRECORD ",
                         {{5, "2A"}, {100, "AcDbXrecord"}, {280, "1"}, {1, "MY APP DATA"},
                          {2, "not a title"}}),
              4u);
    // One whose data starts with something other than a group 1.
    EXPECT_EQ(feedObject(&collector, "XRECORD",
                         {{100, "AcDbXrecord"}, {70, "3"}, {1, "DWGPROPS COOKIE"},
                          {2, "not a title"}}),
              2u);
    // A cookie cut short is no cookie.
    EXPECT_EQ(feedObject(&collector, "XRECORD", {{1, "DWGPROPS COOKIE", true}, {2, "no"}}), 1u);
    // A group 1 inside an application's 102 {...} group is not the record's first.
    EXPECT_EQ(feedObject(&collector, "XRECORD",
                         {{102, "{MY_APP"}, {1, "app data"}, {102, "}"}, {1, "DWGPROPS COOKIE"},
                          {2, "Inside braces"}}),
              5u);
    EXPECT_EQ(fields(bytesAsTheyAre(collector)), (Lines{"title=Inside braces"}));
}

TEST(MetadataDwgprops, ThePairsEndWithTheirCountOrTheirGroups) {
    MetadataCollector counted;
    // After the two pairs the count announced, a group 1 is not a property.
    EXPECT_EQ(feedObject(&counted, "XRECORD",
                         {{1, "DWGPROPS COOKIE"}, {90, "2"}, {1, "A"}, {1, "1"}, {1, "B"},
                          {1, "2"}, {1, "C"}, {1, "3"}}),
              6u);
    EXPECT_EQ(bytesAsTheyAre(counted).custom, (Pairs{{"A", "1"}, {"B", "2"}}));

    // No pairs at all: nothing more wanted after the count. The hyperlink base is kept
    // nowhere.
    MetadataCollector none;
    EXPECT_EQ(feedObject(&none, "XRECORD",
                         {{1, "DWGPROPS COOKIE"}, {1, "http://example.com/"}, {90, "0"}, {1, "A"}}),
              3u);
    EXPECT_TRUE(bytesAsTheyAre(none).empty());

    // A count that is no number, or below 0: the pairs run to the first group that is
    // not a 1.
    MetadataCollector negative;
    EXPECT_EQ(feedObject(&negative, "XRECORD",
                         {{1, "DWGPROPS COOKIE"}, {90, "-1"}, {1, "A"}, {1, "1"}, {1, "B"},
                          {1, "2"}, {2, "end"}}),
              7u);
    EXPECT_EQ(bytesAsTheyAre(negative).custom, (Pairs{{"A", "1"}, {"B", "2"}}));
    MetadataCollector uncounted;
    EXPECT_EQ(feedObject(&uncounted, "XRECORD",
                         {{1, "DWGPROPS COOKIE"}, {90, "x"}, {1, "A"}, {1, "1"}, {1, ""},
                          {1, "nameless"}, {1, "C"}, {1, "3"}, {1000, "xdata"}, {1, "D"}}),
              9u);
    EXPECT_EQ(bytesAsTheyAre(uncounted).custom, (Pairs{{"A", "1"}, {"C", "3"}}));
}

TEST(MetadataDwgprops, ALaterRecordFillsOnlyWhatIsStillAbsent) {
    MetadataCollector collector;
    // A property with no value does not hold its name.
    feedObject(&collector, "XRECORD",
               {{1, "DWGPROPS COOKIE"}, {2, "First title"}, {3, ""}, {300, "Stage= "},
                {301, "Phase=1"}});
    feedObject(&collector, "XRECORD",
               {{1, "DWGPROPS COOKIE"}, {2, "Second title"}, {3, "Second subject"},
                {300, "Phase=2"}, {301, "Stage=B"}});
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.title, "First title");
    EXPECT_EQ(metadata.subject, "Second subject");
    EXPECT_EQ(metadata.custom, (Pairs{{"Phase", "1"}, {"Stage", "B"}}));

    // So reading the objects again after a start over changes nothing.
    MetadataCollector again;
    feedObject(&again, "XRECORD", kDwgprops);
    feedObject(&again, "XRECORD", kDwgprops);
    EXPECT_EQ(bytesAsTheyAre(again).custom.size(), 6u);
}

// ---------------------------------------------------------------- dates and units

TEST(MetadataDates, JulianDatesToTheSecond) {
    // AutoCAD's own example of a date; the day starts at .5.
    EXPECT_EQ(isoFromJulianDate("2455022.637359514", true), "2009-07-10T03:17:48Z");
    EXPECT_EQ(isoFromJulianDate("2455022.637359514", false), "2009-07-10T03:17:48");
    EXPECT_EQ(isoFromJulianDate("2440587.5", true), "1970-01-01T00:00:00Z");
    EXPECT_EQ(isoFromJulianDate("2460370.5", true), "2024-03-01T00:00:00Z");
    EXPECT_EQ(isoFromJulianDate("2451604.5", true), "2000-03-01T00:00:00Z");
    // Before 1970: the time of day counts from the day's own start.
    EXPECT_EQ(isoFromJulianDate("2440423.345601852", true), "1969-07-20T20:17:40Z");
}

TEST(MetadataDates, LeapDaysAndRoundingPastMidnight) {
    EXPECT_EQ(isoFromJulianDate("2460370.0", true), "2024-02-29T12:00:00Z");
    // 23:59:59.7 rounds into the next day: into the leap day, out of it, and past the
    // 28th of a year without one.
    EXPECT_EQ(isoFromJulianDate("2460369.499996528", true), "2024-02-29T00:00:00Z");
    EXPECT_EQ(isoFromJulianDate("2460370.499996528", true), "2024-03-01T00:00:00Z");
    EXPECT_EQ(isoFromJulianDate("2460004.499996528", true), "2023-03-01T00:00:00Z");
    // 23:59:59.3 stays in its day.
    EXPECT_EQ(isoFromJulianDate("2460370.499991898", true), "2024-02-29T23:59:59Z");
}

TEST(MetadataDates, NoDateOutsideFourDigitYearsOrForWhatIsNoNumber) {
    EXPECT_EQ(isoFromJulianDate("1721425.5", true), "0001-01-01T00:00:00Z");
    EXPECT_EQ(isoFromJulianDate("5373484.499988426", true), "9999-12-31T23:59:59Z");
    EXPECT_FALSE(isoFromJulianDate("1721425.4999", true));
    EXPECT_FALSE(isoFromJulianDate("5373484.5", true));
    for (const char* bad : {"0", "0.0", " 0 ", "-2455022.5", "", "  ", "+", "+-2455022.5",
                            "2455022.5x", "2455022,5", "0x2455022", "nan", "inf", "1e400",
                            "2455022.5 2"}) {
        EXPECT_FALSE(isoFromJulianDate(bad, false)) << '"' << bad << '"';
    }
    EXPECT_EQ(isoFromJulianDate("\t+2455022.5 ", false), "2009-07-10T00:00:00");
    EXPECT_EQ(isoFromJulianDate("2.4550225E6", false), "2009-07-10T00:00:00");
}

TEST(MetadataUnits, EveryListedNumberHasItsName) {
    EXPECT_STREQ(wqhost::insunitsName("0"), "unitless");
    EXPECT_STREQ(wqhost::insunitsName("1"), "inches");
    EXPECT_STREQ(wqhost::insunitsName(" 6 "), "meters");
    EXPECT_STREQ(wqhost::insunitsName("13"), "microns");
    EXPECT_STREQ(wqhost::insunitsName("18"), "astronomical_units");
    EXPECT_STREQ(wqhost::insunitsName("+21"), "us_survey_feet");
    EXPECT_STREQ(wqhost::insunitsName("24"), "us_survey_miles");
    for (const char* bad : {"25", "-1", "4.0", "", "four", "99999999999"}) {
        EXPECT_EQ(wqhost::insunitsName(bad), nullptr) << '"' << bad << '"';
    }
}

// ---------------------------------------------------------------- output and bounds

TEST(MetadataResult, TextGoesThroughTheConverterAndDatesAndUnitsDoNot) {
    MetadataCollector collector;
    feedHeader(&collector, kHeader);
    feedObject(&collector, "XRECORD", kDwgprops);
    // Appends, as TextConverter::toUtf8 does: it must be handed an empty string.
    const DrawingMetadata metadata =
        collector.result([](std::string_view bytes, std::string* out) {
            *out += "<";
            out->append(bytes);
            *out += ">";
        });
    EXPECT_EQ(metadata.acadver, "<AC1032>");
    EXPECT_EQ(metadata.codepage, "<ANSI_1252>");
    EXPECT_EQ(metadata.lastSavedBy, "<jkeller>");
    EXPECT_EQ(metadata.fingerprintGuid, "<{8A3E2F56-1B3C-4D1E-9F00-0A1B2C3D4E5F}>");
    EXPECT_EQ(metadata.title, "<Site plan>");
    EXPECT_EQ(metadata.revision, "<7>");
    EXPECT_EQ(metadata.created, "2024-02-29T10:00:00Z");
    EXPECT_EQ(metadata.units, "millimeters");
    EXPECT_EQ(metadata.custom.front(), (Pair{"<Client>", "<ACME Ltd>"}));
    EXPECT_EQ(metadata.custom.back(), (Pair{"<Approved>", "<2024-02-29>"}));
}

TEST(MetadataResult, WhatConvertsToNothingOrToANameTakenIsLeftOut) {
    MetadataCollector collector;
    feedHeader(&collector, {
                               {9, "$ACADVER"}, {1, "\x81"},
                               {9, "$LASTSAVEDBY"}, {1, "ok"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "A\x81"},
                               {9, "$CUSTOMPROPERTY"}, {1, "first"},
                               {9, "$CUSTOMPROPERTYTAG"}, {1, "A\x82"},
                               {9, "$CUSTOMPROPERTY"}, {1, "second"},
                           });
    // Drops every byte that is not ASCII, as a strict converter might.
    const DrawingMetadata metadata = collector.result([](std::string_view bytes, std::string* out) {
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80) *out += c;
        }
    });
    EXPECT_FALSE(metadata.acadver);
    EXPECT_EQ(metadata.lastSavedBy, "ok");
    EXPECT_EQ(metadata.custom, (Pairs{{"A", "first"}}));
    EXPECT_FALSE(metadata.empty());
}

TEST(MetadataResult, EmptyAndClearedCollectors) {
    MetadataCollector collector;
    EXPECT_TRUE(bytesAsTheyAre(collector).empty());
    feedObject(&collector, "XRECORD", {{1, "DWGPROPS COOKIE"}, {300, "Only=custom"}});
    EXPECT_FALSE(bytesAsTheyAre(collector).empty());
    EXPECT_TRUE(fields(bytesAsTheyAre(collector)).empty());
    collector.clear();
    EXPECT_TRUE(bytesAsTheyAre(collector).empty());
    feedHeader(&collector, {{9, "$INSUNITS"}, {70, "0"}});
    EXPECT_FALSE(bytesAsTheyAre(collector).empty());
}

TEST(MetadataBounds, CustomPropertiesStopAtTheLimitAndRepeatsTakeNoPlace) {
    constexpr std::size_t kMost = MetadataCollector::kMostCustom;
    MetadataCollector collector;
    // A name said over and over holds one place; the first value stays.
    for (int i = 0; i < 1000; ++i) {
        feedHeader(&collector, {{9, "$CUSTOMPROPERTYTAG"}, {1, "Same"},
                                {9, "$CUSTOMPROPERTY"}, {1, std::to_string(i)}});
    }
    for (std::size_t i = 0; i < 100000; ++i) {
        feedHeader(&collector, {{9, "$CUSTOMPROPERTYTAG"}, {1, "H" + std::to_string(i)},
                                {9, "$CUSTOMPROPERTY"}, {1, "v"}});
    }
    DrawingMetadata metadata = bytesAsTheyAre(collector);
    ASSERT_EQ(metadata.custom.size(), kMost);
    EXPECT_EQ(metadata.custom[0], (Pair{"Same", "0"}));
    EXPECT_EQ(metadata.custom[kMost - 1].first, "H" + std::to_string(kMost - 2));

    // A record with more pairs than can be kept is given up once the list is full; a
    // pair without a name takes no place in it.
    Groups record = {{1, "DWGPROPS COOKIE"}, {90, "100000"}, {1, " "}, {1, "nameless"}};
    for (std::size_t i = 0; i < 2 * kMost; ++i) {
        record.push_back({1, "P" + std::to_string(i)});
        record.push_back({1, "v"});
    }
    MetadataCollector props;
    EXPECT_EQ(feedObject(&props, "XRECORD", record), 4 + 2 * kMost);
    EXPECT_EQ(bytesAsTheyAre(props).custom.back().first, "P" + std::to_string(kMost - 1));

    // The header's properties and the record's share the limit, the header's first.
    feedHeader(&props, {{9, "$CUSTOMPROPERTYTAG"}, {1, "Header"},
                        {9, "$CUSTOMPROPERTY"}, {1, "h"}});
    metadata = bytesAsTheyAre(props);
    ASSERT_EQ(metadata.custom.size(), kMost);
    EXPECT_EQ(metadata.custom[0].first, "Header");
    EXPECT_EQ(metadata.custom[kMost - 1].first, "P" + std::to_string(kMost - 2));
}

TEST(MetadataBounds, ValuesLongerThanTheLimitAreNotKept) {
    const std::string longest(MetadataCollector::kLongestValue, 'x');
    const std::string tooLong(MetadataCollector::kLongestValue + 1, 'y');
    MetadataCollector collector;
    feedHeader(&collector, {{9, "$LASTSAVEDBY"}, {1, longest},
                            {9, "$ACADVER"}, {1, tooLong},  // not marked cut, still too long
                            {9, "$DWGCODEPAGE"}, {3, "ANSI_1252 and more", true}});
    feedObject(&collector, "XRECORD", {{1, "DWGPROPS COOKIE"}, {2, longest + "z", true},
                                       {300, "Cut=value", true}, {90, "1"},
                                       {1, "Name"}, {1, "cut", true}});
    const DrawingMetadata metadata = bytesAsTheyAre(collector);
    EXPECT_EQ(metadata.lastSavedBy, longest);
    EXPECT_FALSE(metadata.acadver);
    EXPECT_FALSE(metadata.codepage);
    EXPECT_FALSE(metadata.title);
    EXPECT_TRUE(metadata.custom.empty());
}

}  // namespace
