// What a drawing says about itself (version, code page, dates, units, its properties:
// title, author, custom properties...), gathered from the group pairs a streaming reader meets.
#ifndef WQHOST_METADATA_HPP
#define WQHOST_METADATA_HPP

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace wqhost {

// What a drawing says about itself. Each value is absent when the drawing does not say it
// (or says it with an empty or invalid value). Text values are output text, as the
// converter given to MetadataCollector::result made them; dates and units are made here.
struct DrawingMetadata {
    // "binary" for a drawing written as binary DXF (read as its ASCII twin); absent for
    // ASCII DXF. Set by the caller, which knows how the document was read.
    std::optional<std::string> format;
    std::optional<std::string> acadver;   // "AC1015": $ACADVER as written
    std::optional<std::string> codepage;  // "ANSI_1252": $DWGCODEPAGE as written
    // The code page the text was read in ("CP1252", "UTF-8"), as the caller chose it (see
    // Encoding.hpp): the drawing does not say it in so many words, so the collector
    // leaves it absent.
    std::optional<std::string> encoding;
    // "2009-07-10T03:17:48Z" when the drawing gives the time in UTC, "2009-07-10T05:17:48"
    // (no zone) when it gives only the local time of the machine that wrote it.
    std::optional<std::string> created, modified;
    std::optional<std::string> lastSavedBy;
    std::optional<std::string> fingerprintGuid, versionGuid;  // "{8A3E...}" as written
    std::optional<std::string> units;  // "millimeters": the drawing unit, see insunitsName
    // The drawing properties of AutoCAD's DWGPROPS dialog.
    std::optional<std::string> title, subject, author, keywords, comments, revision;
    // Custom properties: name -> value, names unique, in the order first met (those of the
    // header first), at most MetadataCollector::kMostCustom. A property with an empty name
    // or value is left out.
    std::vector<std::pair<std::string, std::string>> custom;

    // No value and no custom property.
    bool empty() const;
    // Calls `visit(key, value)` for each present value in this order and with these keys:
    // format acadver codepage encoding created modified last_saved_by fingerprint_guid
    // version_guid units title subject author keywords comments revision. Custom
    // properties are not visited. `key` is a static string.
    void forEach(const std::function<void(const char* key, const std::string& value)>& visit) const;
};

// Gathers a drawing's metadata from the group pairs of its HEADER and OBJECTS sections, as
// a reader feeds them in file order, and converts it for output on demand.
//
// From the HEADER (value group code in parentheses): $ACADVER (1), $DWGCODEPAGE (3),
// $TDCREATE and $TDUPDATE (40, local time), $TDUCREATE and $TDUUPDATE (40, UTC),
// $LASTSAVEDBY (1), $FINGERPRINTGUID (2), $VERSIONGUID (2), $INSUNITS (70), and custom
// properties: a $CUSTOMPROPERTYTAG (1, the name) followed at once by a $CUSTOMPROPERTY
// (1, the value). Variable names compare without regard to case. Of the groups after a
// variable name, only the first one with the expected code counts. created and modified
// come from the UTC date when it gives one, else from the local one.
//
// From the OBJECTS: the XRECORD whose first group of code 1 is "DWGPROPS COOKIE", where
// AutoCAD keeps the drawing properties: 2 title, 3 subject, 4 author, 6 comments,
// 7 keywords, 8 last saved by (taken only when the header has no $LASTSAVEDBY), 9 revision,
// 300 to 309 custom properties written "name=value" (split at the first '='), and after
// its group 90 (the number of further custom properties) a group 1 with each one's name
// and a group 1 with its value: as many pairs as the 90 says when it holds a number, else
// up to the first group of another code. The group 1 between the cookie and the 90 (the
// hyperlink base) is not kept, nor are the editing time and dates (40 to 42). A record
// cut short keeps what was read.
//
// Values are raw bytes until result(); they are trimmed of blanks (spaces and tabs) at
// both ends and otherwise kept as written. A value that is empty once trimmed, or cut
// (longer than kLongestValue), counts as not said. When the drawing says a thing more than
// once, the first value said wins, and so does the first value of a custom property name;
// a second DWGPROPS record adds only what the first left absent. Feeding the same section
// again (a reader that starts over) therefore changes nothing.
//
// Memory stays bounded whatever the input: at most kMostCustom custom properties from the
// header and as many from DWGPROPS, each value at most kLongestValue bytes, and a custom
// property name waiting for its value. Not thread-safe: one collector per document.
class MetadataCollector {
  public:
    static constexpr std::size_t kLongestValue = 4096;  // a longer value is not kept
    static constexpr std::size_t kMostCustom = 256;     // custom properties kept at most

    // Forgets everything gathered: ready for another drawing.
    void clear();

    // Every group of a HEADER section, in file order. A group of code 9 names the header
    // variable that the groups after it belong to (a group of code 0, the section's end,
    // ends the last one). `value` is the value line without its line end; `cut` when the
    // line was longer than kLongestValue and only its start is given (such a value is not
    // kept).
    void headerGroup(int code, std::string_view value, bool cut);

    // An object of the OBJECTS section begins, with its type name (the value of its code-0
    // group, blanks around it trimmed). Returns true when its groups are wanted: only for
    // an XRECORD, which may hold the drawing properties. Ends the object before it.
    bool objectBegins(std::string_view type);

    // A group of the object that began last (never its code-0 group), with `value` and
    // `cut` as for headerGroup. Returns false once nothing more of the object is wanted
    // (it is not the drawing properties, or they are complete), and on every later call
    // until the next objectBegins, so that the reader can pass over the rest cheaply.
    bool objectGroup(int code, std::string_view value, bool cut);

    // The metadata gathered so far. Every text value, custom property names and values
    // included (not the dates and units, which are made here), goes through `convert`
    // from the drawing's bytes to output text: it is called with `bytes` and an empty
    // string *out, and leaves the converted text in *out (appending is the same as
    // replacing, so TextConverter::toUtf8 serves as it is). An empty `convert` keeps the
    // bytes as they are. A value that converts to nothing is absent, and custom properties
    // whose names convert to the same text keep the first.
    DrawingMetadata result(
        const std::function<void(std::string_view bytes, std::string* out)>& convert) const;

  private:
    // Where a text value goes, in raw bytes until result().
    enum Text : int {
        kAcadver,
        kCodepage,
        kLastSavedBy,
        kFingerprintGuid,
        kVersionGuid,
        kTitle,
        kSubject,
        kAuthor,
        kKeywords,
        kComments,
        kRevision,
        kPropsSavedBy,  // DWGPROPS's, used when the header has none
        kTextCount
    };
    enum Date : int { kCreatedLocal, kCreatedUtc, kModifiedLocal, kModifiedUtc, kDateCount };
    // Where the groups of the current object stand: not wanted, before the cookie,
    // among the fields, among the name/value pairs after the 90.
    enum class Stage { kUnwanted, kBeforeCookie, kFields, kPairs };
    enum class Role { kText, kDate, kUnits, kCustomTag, kCustomValue };
    // A header variable the collector takes: the code of its value group, what it is for
    // and where it goes (a Text or a Date).
    struct Variable {
        const char* name;
        int code;
        Role role;
        int slot;
    };
    static const Variable kVariables[];
    static const Variable* findVariable(std::string_view name);

    // Name/value pairs with unique names, at most kMostCustom of them.
    class CustomList {
      public:
        bool full() const { return pairs_.size() >= kMostCustom; }
        void add(std::string_view name, std::string_view value);
        const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

      private:
        std::vector<std::pair<std::string, std::string>> pairs_;
        std::unordered_set<std::string> names_;  // those of pairs_, looked up in one step
    };

    void keepText(Text slot, std::optional<std::string_view> value);
    void startVariable(std::string_view name);
    bool beforeCookie(int code, std::string_view value, bool cut);
    bool propsField(int code, std::optional<std::string_view> value);
    bool propsPair(int code, std::optional<std::string_view> value);

    std::optional<std::string> texts_[kTextCount];
    std::optional<std::string> dates_[kDateCount];  // ISO 8601, made as they come
    const char* units_ = nullptr;
    CustomList headerCustom_, propsCustom_;

    const Variable* variable_ = nullptr;  // the header variable the groups belong to
    bool variableTaken_ = false;          // its value group has come
    std::optional<std::string> tag_;      // the name the current $CUSTOMPROPERTYTAG gave
    std::optional<std::string> tagged_;   // the name the current $CUSTOMPROPERTY is for

    Stage stage_ = Stage::kUnwanted;
    bool inBraces_ = false;                // inside a 102 {...} group before the cookie
    long long pairsLeft_ = -1;             // name/value pairs the 90 announced; < 0: not said
    bool pairHalf_ = false;                // a pair's name group has come, its value not yet
    std::optional<std::string> pairName_;  // that name, when usable
};

// An ISO 8601 date and time to the second from a Julian date as DXF writes it
// ("2455022.637359514": days since noon, 1 January 4713 BC, and a day fraction, so that
// midnight falls at .5), rounded to the nearest second: "2009-07-10T03:17:48", with `utc`
// followed by "Z", else with no zone. Blanks around the number and a leading '+' are
// allowed; the number is read the same whatever the locale. Absent for 0 (how a drawing
// says it has no date), a value that is not a finite number, or a date outside years 1
// to 9999.
std::optional<std::string> isoFromJulianDate(std::string_view value, bool utc);

// The name of an $INSUNITS value, an integer with blanks around it allowed: 0 unitless,
// 1 inches, 2 feet, 3 miles, 4 millimeters, 5 centimeters, 6 meters, 7 kilometers,
// 8 microinches, 9 mils, 10 yards, 11 angstroms, 12 nanometers, 13 microns, 14 decimeters,
// 15 decameters, 16 hectometers, 17 gigameters, 18 astronomical_units, 19 light_years,
// 20 parsecs, 21 us_survey_feet, 22 us_survey_inches, 23 us_survey_yards,
// 24 us_survey_miles. A static string; null for any other value.
const char* insunitsName(std::string_view value);

}  // namespace wqhost

#endif
