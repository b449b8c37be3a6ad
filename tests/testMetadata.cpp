// The host's metadata collector: each header variable and each field of the DWGPROPS
// record in its place, Julian dates and unit numbers made readable, memory kept bounded.
#include <gtest/gtest.h>

#include <optional>
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

DrawingMetadata raw(const MetadataCollector& collector) { return collector.result(nullptr); }

// A HEADER section as AutoCAD writes it, with variables the collector does not take
// between, and padding as some writers put around numbers.
const Groups kHeader = {
    {9, "$ACADVER"}, {1, "AC1032"}, {9, "$ACADMAINTVER"}, {70, "105"},
    {9, "$DWGCODEPAGE"}, {3, "ANSI_1252"}, {9, "$LASTSAVEDBY"}, {1, "jkeller"},
    {9, "$EXTMIN"}, {10, "0.0"}, {20, "0.0"}, {30, "0.0"}, {9, "$INSUNITS"}, {70, "     4"},
    {9, "$TDCREATE"}, {40, "2460370.0"}, {9, "$TDUCREATE"}, {40, "2460369.916666667"},
    {9, "$TDUPDATE"}, {40, "2455022.720693"}, {9, "$TDUUPDATE"}, {40, "2455022.637359514"},
    {9, "$FINGERPRINTGUID"}, {2, "{8A3E2F56-1B3C-4D1E-9F00-0A1B2C3D4E5F}"},
    {9, "$VERSIONGUID"}, {2, "{FAEB1C32-E019-11D5-929B-00C0DF256EC4}"},
    {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"}, {9, "$CUSTOMPROPERTY"}, {1, "ACME Ltd"},
    {9, "$CUSTOMPROPERTYTAG"}, {1, "Job"}, {9, "$CUSTOMPROPERTY"}, {1, "4711"},
};

// A DWGPROPS record as AutoCAD writes it, every field distinct.
const Groups kDwgprops = {
    {5, "1F"}, {102, "{ACAD_REACTORS"}, {330, "C"}, {102, "}"}, {330, "C"},
    {100, "AcDbXrecord"}, {280, "1"}, {1, "DWGPROPS COOKIE"},
    {2, "Site plan"}, {3, "Block C"}, {4, "A. Author"}, {6, "For review"},
    {7, "site;drainage"}, {8, "editor"}, {9, "7"},
    {300, "Phase=2"}, {301, "="}, {302, "  Sheet  =  A1 "}, {303, "=no name"},
    {304, "Formula=a=b"}, {305, "Nothing="}, {306, "no equals sign"}, {307, "="},
    {308, "="}, {309, "Last slot = 10"},
    {40, "0.0173"}, {41, "2455022.6"}, {42, "2455022.7"},
    {1, "http://example.com/base/"}, {90, "2"},
    {1, "Checked by"}, {1, "MR"}, {1, "Approved"}, {1, "2024-02-29"},
};
const Lines kDwgpropsFields = {"last_saved_by=editor", "title=Site plan", "subject=Block C",
                               "author=A. Author",     "keywords=site;drainage",
                               "comments=For review",  "revision=7"};
const Pairs kDwgpropsCustom = {{"Phase", "2"},      {"Sheet", "A1"},      {"Formula", "a=b"},
                               {"Last slot", "10"}, {"Checked by", "MR"},
                               {"Approved", "2024-02-29"}};

// ---------------------------------------------------------------- the HEADER

TEST(MetadataHeader, WhichGroupsLandWhere) {
    struct Case { const char* what; Groups groups; Lines fields; Pairs custom; };
    const Case cases[] = {
        {"as AutoCAD writes it; the encoding is the caller's to choose", kHeader,
         {"acadver=AC1032", "codepage=ANSI_1252", "created=2024-02-29T10:00:00Z",
          "modified=2009-07-10T03:17:48Z", "last_saved_by=jkeller",
          "fingerprint_guid={8A3E2F56-1B3C-4D1E-9F00-0A1B2C3D4E5F}",
          "version_guid={FAEB1C32-E019-11D5-929B-00C0DF256EC4}", "units=millimeters"},
         {{"Client", "ACME Ltd"}, {"Job", "4711"}}},
        {"only the first group of the expected code counts",
         {{9, "$DWGCODEPAGE"}, {1, "not the page"}, {3, "ANSI_932"}, {3, "ANSI_1252"},
          {9, "$INSUNITS"}, {40, "6"}, {70, "1"}, {70, "6"},
          {9, "$VERSIONGUID"}, {1, "{WRONG}"}, {2, "{RIGHT}"},
          {9, "$TDUCREATE"}, {40, "2460370.0"}, {9, "$TDUCREATE"}, {40, "2455022.5"},  // said twice
          {9, "$INSUNITS"}, {70, "2"},
          {9, "$ACADVER"}, {1, "AC10", true}, {1, "AC1015"},  // said cut: said, not kept
          {9, "$LASTSAVEDBY"}, {2, "not a name"},
          {9, "$FINGERPRINTGUID"}, {0, "ENDSEC"}, {2, "{AFTER THE END}"}},  // ENDSEC closes it
         {"codepage=ANSI_932", "created=2024-02-29T12:00:00Z", "version_guid={RIGHT}",
          "units=inches"},
         {}},
        {"UTC dates first, local ones fill in",
         {{9, "$TDCREATE"}, {40, "2460370.0"}, {9, "$TDUCREATE"}, {40, "2460369.916666667"},
          {9, "$TDUPDATE"}, {40, "2460370.5"}, {9, "$TDUUPDATE"}, {40, "0.0"}},
         {"created=2024-02-29T10:00:00Z", "modified=2024-03-01T00:00:00"},
         {}},
        {"a local date alone",
         {{9, "$TDCREATE"}, {40, "2460370.0"}}, {"created=2024-02-29T12:00:00"}, {}},
        {"padding trimmed, empty values unsaid so a later one may say them",
         {{9, "  $acadver\t"}, {1, "\t AC1018  "}, {9, "$LASTSAVEDBY"}, {1, "   "},
          {9, "$DWGCODEPAGE"}, {3, ""}, {9, "$TDUCREATE"}, {40, " +2460370.0 "},
          {9, "$INSUNITS"}, {70, "  "},
          {9, "$CUSTOMPROPERTYTAG"}, {1, " Room "}, {9, "$CUSTOMPROPERTY"}, {1, " 2.14 B "},
          {9, "$CUSTOMPROPERTYTAG"}, {1, "Blank"}, {9, "$CUSTOMPROPERTY"}, {1, " "},
          {9, "$DWGCODEPAGE"}, {3, "ANSI_1250"}},
         {"acadver=AC1018", "codepage=ANSI_1250", "created=2024-02-29T12:00:00Z"},
         {{"Room", "2.14 B"}}},
        {"a custom property is a tag followed at once by its value",
         {{9, "$CUSTOMPROPERTYTAG"}, {1, "Orphan"}, {9, "$ACADVER"}, {1, "AC1032"},
          {9, "$CUSTOMPROPERTY"}, {1, "lost value"},  // the orphan's value never came
          {9, "$CUSTOMPROPERTYTAG"}, {1, "Lo", true}, {9, "$CUSTOMPROPERTY"}, {1, "cut name's"},
          {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"}, {9, "$CUSTOMPROPERTY"}, {1, "first"},
          {9, "$CUSTOMPROPERTYTAG"}, {1, "Client"}, {9, "$CUSTOMPROPERTY"}, {1, "second"},
          {9, "$CUSTOMPROPERTYTAG"}, {1, "Job"}, {9, "$CUSTOMPROPERTY"}, {1, "4711"},
          {1, "not its value"}},
         {"acadver=AC1032"},
         {{"Client", "first"}, {"Job", "4711"}}},
    };
    for (const Case& c : cases) {
        MetadataCollector collector;
        feedHeader(&collector, c.groups);
        EXPECT_EQ(fields(raw(collector)), c.fields) << c.what;
        EXPECT_EQ(raw(collector).custom, c.custom) << c.what;
    }
}

// A reader that starts over, from the end or from halfway, feeds the section again.
TEST(MetadataHeader, FeedingTheHeaderAgainChangesNothing) {
    MetadataCollector once, twice, restarted;
    feedHeader(&once, kHeader);
    feedHeader(&twice, kHeader);
    feedHeader(&twice, kHeader);
    feedHeader(&restarted, Groups(kHeader.begin(), kHeader.begin() + 31));
    feedHeader(&restarted, kHeader);
    for (const MetadataCollector* again : {&twice, &restarted}) {
        EXPECT_EQ(fields(raw(*again)), fields(raw(once)));
        EXPECT_EQ(raw(*again).custom, raw(once).custom);
    }
}

// ---------------------------------------------------------------- the DWGPROPS record

TEST(MetadataDwgprops, WhatEachObjectGives) {
    struct Case {
        const char* what;
        const char* type;
        Groups groups;
        std::size_t taken;  // the groups the collector took, the one it refused included
        Lines fields;
        Pairs custom;
    };
    const Case cases[] = {
        {"every field, both forms of custom property", "XRECORD", kDwgprops, kDwgprops.size(),
         kDwgpropsFields, kDwgpropsCustom},
        {"cut short before its last value: what was read stays", "XRECORD",
         Groups(kDwgprops.begin(), kDwgprops.end() - 1), kDwgprops.size() - 1, kDwgpropsFields,
         Pairs(kDwgpropsCustom.begin(), kDwgpropsCustom.end() - 1)},
        {"another object", "DICTIONARY", {{1, "DWGPROPS COOKIE"}, {2, "no"}}, 0, {}, {}},
        {"another application's XRECORD", " XRECORD ",
         {{5, "2A"}, {100, "AcDbXrecord"}, {280, "1"}, {1, "MY APP DATA"}, {2, "no"}}, 4, {}, {}},
        {"data not starting with a group 1", "XRECORD",
         {{100, "AcDbXrecord"}, {70, "3"}, {1, "DWGPROPS COOKIE"}, {2, "no"}}, 2, {}, {}},
        {"a cookie cut short", "XRECORD", {{1, "DWGPROPS COOKIE", true}, {2, "no"}}, 1, {}, {}},
        {"a group 1 inside an application's braces is not the first", "XRECORD",
         {{102, "{MY_APP"}, {1, "app data"}, {102, "}"}, {1, "DWGPROPS COOKIE"}, {2, "Inside"}},
         5, {"title=Inside"}, {}},
        {"pairs end with their count", "XRECORD",
         {{1, "DWGPROPS COOKIE"}, {90, "2"}, {1, "A"}, {1, "1"}, {1, "B"}, {1, "2"}, {1, "C"},
          {1, "3"}},
         6, {}, {{"A", "1"}, {"B", "2"}}},
        {"no pairs; the hyperlink base kept nowhere", "XRECORD",
         {{1, "DWGPROPS COOKIE"}, {1, "http://example.com/"}, {90, "0"}, {1, "A"}}, 3, {}, {}},
        {"a negative count: pairs run to another code", "XRECORD",
         {{1, "DWGPROPS COOKIE"}, {90, "-1"}, {1, "A"}, {1, "1"}, {1, "B"}, {1, "2"}, {2, "end"}},
         7, {}, {{"A", "1"}, {"B", "2"}}},
        {"a count that is no number; a nameless pair left out", "XRECORD",
         {{1, "DWGPROPS COOKIE"}, {90, "x"}, {1, "A"}, {1, "1"}, {1, ""}, {1, "nameless"},
          {1, "C"}, {1, "3"}, {1000, "xdata"}, {1, "D"}},
         9, {}, {{"A", "1"}, {"C", "3"}}},
    };
    for (const Case& c : cases) {
        MetadataCollector collector;
        EXPECT_EQ(feedObject(&collector, c.type, c.groups), c.taken) << c.what;
        // A reader that feeds on after a refusal is still refused.
        if (c.taken == 0) {
            EXPECT_FALSE(collector.objectGroup(1, "DWGPROPS COOKIE", false)) << c.what;
        }
        EXPECT_EQ(fields(raw(collector)), c.fields) << c.what;
        EXPECT_EQ(raw(collector).custom, c.custom) << c.what;
    }
}

TEST(MetadataDwgprops, TheHeaderAndEarlierRecordsComeFirst) {
    MetadataCollector collector;
    feedHeader(&collector, {{9, "$LASTSAVEDBY"}, {1, "header saver"},
                            {9, "$CUSTOMPROPERTYTAG"}, {1, "Sheet"},
                            {9, "$CUSTOMPROPERTY"}, {1, "from the header"}});
    feedObject(&collector, "XRECORD", kDwgprops);
    EXPECT_EQ(raw(collector).lastSavedBy, "header saver");
    Pairs custom = kDwgpropsCustom;
    custom.erase(custom.begin() + 1);
    custom.insert(custom.begin(), {"Sheet", "from the header"});
    EXPECT_EQ(raw(collector).custom, custom);

    // A later record fills only what is still absent; a property with no value holds no name.
    MetadataCollector two;
    feedObject(&two, "XRECORD", {{1, "DWGPROPS COOKIE"}, {2, "First title"}, {3, ""},
                                 {300, "Stage= "}, {301, "Phase=1"}});
    feedObject(&two, "XRECORD", {{1, "DWGPROPS COOKIE"}, {2, "Second title"}, {3, "Subject"},
                                 {300, "Phase=2"}, {301, "Stage=B"}});
    EXPECT_EQ(fields(raw(two)), (Lines{"title=First title", "subject=Subject"}));
    EXPECT_EQ(raw(two).custom, (Pairs{{"Phase", "1"}, {"Stage", "B"}}));

    // So reading the objects again after a start over changes nothing.
    MetadataCollector again;
    feedObject(&again, "XRECORD", kDwgprops);
    feedObject(&again, "XRECORD", kDwgprops);
    EXPECT_EQ(raw(again).custom, kDwgpropsCustom);

    // A record cut after a pair's name: the next one does not take it for one of its own.
    MetadataCollector cut;
    feedObject(&cut, "XRECORD", Groups(kDwgprops.begin(), kDwgprops.end() - 1));
    feedObject(&cut, "XRECORD", {{1, "DWGPROPS COOKIE"}, {90, "1"}, {1, "x"}});
    EXPECT_EQ(raw(cut).custom.size(), kDwgpropsCustom.size() - 1);
}

// ---------------------------------------------------------------- dates and units

TEST(MetadataDates, JulianDatesToIsoInBothZones) {
    const std::pair<const char*, const char*> cases[] = {  // nullptr: no date
        {"2455022.637359514", "2009-07-10T03:17:48"},  // AutoCAD's own example
        {"2440587.5", "1970-01-01T00:00:00"}, {"2451604.5", "2000-03-01T00:00:00"},
        {"2440423.345601852", "1969-07-20T20:17:40"},  // before 1970
        {"2460370.0", "2024-02-29T12:00:00"}, {"2460370.5", "2024-03-01T00:00:00"},
        // 23:59:59.7 rounds into the next day: into the leap day, out of it, and past the
        // 28th of a year without one; 23:59:59.3 stays.
        {"2460369.499996528", "2024-02-29T00:00:00"}, {"2460370.499996528", "2024-03-01T00:00:00"},
        {"2460004.499996528", "2023-03-01T00:00:00"}, {"2460370.499991898", "2024-02-29T23:59:59"},
        // Four-digit years only.
        {"1721425.5", "0001-01-01T00:00:00"}, {"5373484.499988426", "9999-12-31T23:59:59"},
        {"1721425.4999", nullptr}, {"5373484.5", nullptr},
        {"\t+2455022.5 ", "2009-07-10T00:00:00"}, {"2.4550225E6", "2009-07-10T00:00:00"},
    };
    for (const auto& [julian, iso] : cases) {
        const std::string local = iso ? iso : "none";
        EXPECT_EQ(isoFromJulianDate(julian, false).value_or("none"), local) << julian;
        EXPECT_EQ(isoFromJulianDate(julian, true).value_or("none"), iso ? local + "Z" : local)
            << julian;
    }
    for (const char* bad : {"0", "0.0", " 0 ", "-2455022.5", "", "  ", "+", "+-2455022.5",
                            "2455022.5x", "2455022,5", "0x2455022", "nan", "inf", "1e400",
                            "2455022.5 2"}) {
        EXPECT_FALSE(isoFromJulianDate(bad, false)) << '"' << bad << '"';
    }
}

TEST(MetadataUnits, EveryListedNumberHasItsName) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "unitless"}, {"1", "inches"}, {" 6 ", "meters"}, {"13", "microns"},
        {"18", "astronomical_units"}, {"+21", "us_survey_feet"}, {"24", "us_survey_miles"},
        {"25", nullptr}, {"-1", nullptr}, {"4.0", nullptr}, {"", nullptr}, {"four", nullptr},
        {"99999999999", nullptr}};
    for (const auto& [number, name] : cases) {
        EXPECT_STREQ(wqhost::insunitsName(number), name) << '"' << number << '"';
    }
}

// ---------------------------------------------------------------- output and bounds

TEST(MetadataResult, TextGoesThroughTheConverterAndDatesAndUnitsDoNot) {
    MetadataCollector collector;
    feedHeader(&collector, kHeader);
    feedObject(&collector, "XRECORD", kDwgprops);
    // Appends, as TextConverter::toUtf8 does: it must be handed an empty string.
    const DrawingMetadata converted =
        collector.result([](std::string_view bytes, std::string* out) {
            *out += "<";
            out->append(bytes);
            *out += ">";
        });
    const DrawingMetadata bytes = raw(collector);
    Lines expected;
    for (const std::string& line : fields(bytes)) {
        const std::string key = line.substr(0, line.find('='));
        const bool made = key == "created" || key == "modified" || key == "units";
        expected.push_back(made ? line : key + "=<" + line.substr(key.size() + 1) + ">");
    }
    EXPECT_EQ(fields(converted), expected);
    ASSERT_EQ(converted.custom.size(), bytes.custom.size());
    for (std::size_t i = 0; i < bytes.custom.size(); ++i) {
        EXPECT_EQ(converted.custom[i],
                  (Pair{"<" + bytes.custom[i].first + ">", "<" + bytes.custom[i].second + ">"}));
    }
}

TEST(MetadataResult, WhatConvertsToNothingOrToANameTakenIsLeftOut) {
    MetadataCollector collector;
    feedHeader(&collector, {{9, "$ACADVER"}, {1, "\x81"}, {9, "$LASTSAVEDBY"}, {1, "ok"},
                            {9, "$CUSTOMPROPERTYTAG"}, {1, "A\x81"},
                            {9, "$CUSTOMPROPERTY"}, {1, "first"},
                            {9, "$CUSTOMPROPERTYTAG"}, {1, "A\x82"},
                            {9, "$CUSTOMPROPERTY"}, {1, "second"}});
    // Drops every byte that is not ASCII, as a strict converter might.
    const DrawingMetadata metadata = collector.result([](std::string_view bytes, std::string* out) {
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80) *out += c;
        }
    });
    EXPECT_EQ(fields(metadata), Lines{"last_saved_by=ok"});
    EXPECT_EQ(metadata.custom, (Pairs{{"A", "first"}}));
}

TEST(MetadataResult, EmptyAndClearedCollectors) {
    MetadataCollector collector;
    EXPECT_TRUE(raw(collector).empty());
    feedObject(&collector, "XRECORD", {{1, "DWGPROPS COOKIE"}, {300, "Only=custom"}});
    EXPECT_FALSE(raw(collector).empty());  // custom properties alone count
    EXPECT_TRUE(fields(raw(collector)).empty());
    collector.clear();
    EXPECT_TRUE(raw(collector).empty());
    feedHeader(&collector, {{9, "$INSUNITS"}, {70, "0"}});
    EXPECT_FALSE(raw(collector).empty());
}

TEST(MetadataBounds, CustomPropertiesStopAtTheLimitAndRepeatsTakeNoPlace) {
    constexpr std::size_t kMost = MetadataCollector::kMostCustom;
    auto property = [](const std::string& name, const std::string& value) {
        return Groups{{9, "$CUSTOMPROPERTYTAG"}, {1, name}, {9, "$CUSTOMPROPERTY"}, {1, value}};
    };
    MetadataCollector collector;
    // A name said over and over holds one place; the first value stays.
    for (int i = 0; i < 1000; ++i) feedHeader(&collector, property("Same", std::to_string(i)));
    for (int i = 0; i < 100000; ++i) feedHeader(&collector, property("H" + std::to_string(i), "v"));
    DrawingMetadata metadata = raw(collector);
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
    EXPECT_EQ(raw(props).custom.back().first, "P" + std::to_string(kMost - 1));

    // The header's properties and the record's share the limit, the header's first.
    feedHeader(&props, property("Header", "h"));
    metadata = raw(props);
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
    EXPECT_EQ(fields(raw(collector)), Lines{"last_saved_by=" + longest});
    EXPECT_TRUE(raw(collector).custom.empty());
}

}  // namespace
