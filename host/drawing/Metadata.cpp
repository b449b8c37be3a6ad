// Gathers a drawing's metadata from its HEADER variables and its DWGPROPS record, and
// makes dates and units readable: Julian dates to ISO 8601, $INSUNITS numbers to names.
#include "Metadata.hpp"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "GroupLines.hpp"

namespace wqhost {
namespace {

using lines::trimmed;

// The fields in the order forEach gives them, with their keys.
using Field = std::optional<std::string> DrawingMetadata::*;
constexpr std::pair<const char*, Field> kFields[] = {
    {"format", &DrawingMetadata::format},
    {"acadver", &DrawingMetadata::acadver},
    {"codepage", &DrawingMetadata::codepage},
    {"encoding", &DrawingMetadata::encoding},
    {"created", &DrawingMetadata::created},
    {"modified", &DrawingMetadata::modified},
    {"last_saved_by", &DrawingMetadata::lastSavedBy},
    {"fingerprint_guid", &DrawingMetadata::fingerprintGuid},
    {"version_guid", &DrawingMetadata::versionGuid},
    {"units", &DrawingMetadata::units},
    {"title", &DrawingMetadata::title},
    {"subject", &DrawingMetadata::subject},
    {"author", &DrawingMetadata::author},
    {"keywords", &DrawingMetadata::keywords},
    {"comments", &DrawingMetadata::comments},
    {"revision", &DrawingMetadata::revision},
};

// Indexed by the $INSUNITS value.
constexpr const char* kUnitNames[] = {
    "unitless",
    "inches",
    "feet",
    "miles",
    "millimeters",
    "centimeters",
    "meters",
    "kilometers",
    "microinches",
    "mils",
    "yards",
    "angstroms",
    "nanometers",
    "microns",
    "decimeters",
    "decameters",
    "hectometers",
    "gigameters",
    "astronomical_units",
    "light_years",
    "parsecs",
    "us_survey_feet",
    "us_survey_inches",
    "us_survey_yards",
    "us_survey_miles",
};

// The Julian date of the Unix epoch, 1970-01-01T00:00:00.
constexpr double kUnixEpochJulian = 2440587.5;
constexpr long long kSecondsPerDay = 86400;
// 0001-01-01T00:00:00 and 9999-12-31T23:59:59 in Unix seconds: four digits of year.
constexpr double kFirstSecond = -62135596800.0;
constexpr double kLastSecond = 253402300799.0;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

// from_chars takes no '+', which DXF writers sometimes put before a number; a '+' before a
// '-' is no number at all.
std::string_view withoutPlus(std::string_view s) {
    if (!s.empty() && s.front() == '+' && (s.size() == 1 || s[1] != '-')) s.remove_prefix(1);
    return s;
}

template <typename Number>
std::optional<Number> parseWhole(std::string_view s) {
    s = withoutPlus(trimmed(s));
    Number number{};
    const char* end = s.data() + s.size();
    auto [stop, error] = std::from_chars(s.data(), end, number);
    if (error != std::errc() || stop != end) return std::nullopt;
    return number;
}

// Year, month and day of a count of days since 1970-01-01 in the proleptic Gregorian
// calendar (H. Hinnant's civil_from_days): eras of 400 years, each starting on 1 March so
// that the leap day falls at the end of a year.
void civilFromDays(long long days, long long* year, int* month, int* day) {
    days += 719468;  // from 1970-01-01 to 0000-03-01
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;  // months from March
    *day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = yearOfEra + era * 400 + (*month <= 2);
}

void appendDigits(std::string* out, long long value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out->append(digits, static_cast<std::size_t>(width));
}

}  // namespace

bool DrawingMetadata::empty() const {
    for (const auto& field : kFields) {
        if (this->*field.second) return false;
    }
    return custom.empty();
}

void DrawingMetadata::forEach(
    const std::function<void(const char* key, const std::string& value)>& visit) const {
    for (const auto& field : kFields) {
        if (const auto& value = this->*field.second) visit(field.first, *value);
    }
}

std::optional<std::string> isoFromJulianDate(std::string_view value, bool utc) {
    const std::optional<double> julian = parseWhole<double>(value);
    if (!julian) return std::nullopt;
    const double seconds = std::round((*julian - kUnixEpochJulian) * double(kSecondsPerDay));
    // Written so that NaN fails too, as do infinities and 0, a drawing's way of saying it
    // has no date, which lies long before year 1.
    if (!(seconds >= kFirstSecond && seconds <= kLastSecond)) return std::nullopt;
    const auto unix = static_cast<long long>(seconds);
    // Floor division: a time before 1970 belongs to the day that starts before it.
    long long days = unix / kSecondsPerDay;
    long long ofDay = unix % kSecondsPerDay;
    if (ofDay < 0) {
        ofDay += kSecondsPerDay;
        --days;
    }
    long long year = 0;
    int month = 0, day = 0;
    civilFromDays(days, &year, &month, &day);
    std::string iso;
    iso.reserve(20);
    appendDigits(&iso, year, 4);
    iso += '-';
    appendDigits(&iso, month, 2);
    iso += '-';
    appendDigits(&iso, day, 2);
    iso += 'T';
    appendDigits(&iso, ofDay / 3600, 2);
    iso += ':';
    appendDigits(&iso, ofDay / 60 % 60, 2);
    iso += ':';
    appendDigits(&iso, ofDay % 60, 2);
    if (utc) iso += 'Z';
    return iso;
}

const char* insunitsName(std::string_view value) {
    const std::optional<int> number = parseWhole<int>(value);
    if (!number || *number < 0 || *number >= static_cast<int>(std::size(kUnitNames)))
        return nullptr;
    return kUnitNames[*number];
}

namespace {

// A value as the collector keeps it: trimmed, and absent when cut, too long or empty.
std::optional<std::string_view> usable(std::string_view value, bool cut) {
    if (cut || value.size() > MetadataCollector::kLongestValue) return std::nullopt;
    value = trimmed(value);
    if (value.empty()) return std::nullopt;
    return value;
}

}  // namespace

const MetadataCollector::Variable MetadataCollector::kVariables[] = {
    {"$ACADVER", 1, Role::kText, kAcadver},
    {"$DWGCODEPAGE", 3, Role::kText, kCodepage},
    {"$LASTSAVEDBY", 1, Role::kText, kLastSavedBy},
    {"$FINGERPRINTGUID", 2, Role::kText, kFingerprintGuid},
    {"$VERSIONGUID", 2, Role::kText, kVersionGuid},
    {"$TDCREATE", 40, Role::kDate, kCreatedLocal},
    {"$TDUCREATE", 40, Role::kDate, kCreatedUtc},
    {"$TDUPDATE", 40, Role::kDate, kModifiedLocal},
    {"$TDUUPDATE", 40, Role::kDate, kModifiedUtc},
    {"$INSUNITS", 70, Role::kUnits, 0},
    {"$CUSTOMPROPERTYTAG", 1, Role::kCustomTag, 0},
    {"$CUSTOMPROPERTY", 1, Role::kCustomValue, 0},
};

const MetadataCollector::Variable* MetadataCollector::findVariable(std::string_view name) {
    for (const Variable& variable : kVariables) {
        if (sameName(name, variable.name)) return &variable;
    }
    return nullptr;
}

void MetadataCollector::CustomList::add(std::string_view name, std::string_view value) {
    if (full()) return;
    std::string key(name);
    if (!names_.insert(key).second) return;
    pairs_.emplace_back(std::move(key), std::string(value));
}

void MetadataCollector::clear() { *this = MetadataCollector(); }

void MetadataCollector::keepText(Text slot, std::optional<std::string_view> value) {
    if (value && !texts_[slot]) texts_[slot].emplace(*value);
}

void MetadataCollector::headerGroup(int code, std::string_view value, bool cut) {
    // A code 0 group would be the section's end: nothing after it is a variable's.
    if (code == 9 || code == 0) {
        startVariable(code == 9 && !cut ? trimmed(value) : std::string_view());
        return;
    }
    if (variable_ == nullptr || variableTaken_ || code != variable_->code) return;
    variableTaken_ = true;
    const std::optional<std::string_view> text = usable(value, cut);
    if (!text) return;
    const int slot = variable_->slot;
    switch (variable_->role) {
        case Role::kText:
            keepText(static_cast<Text>(slot), text);
            break;
        case Role::kDate:
            if (!dates_[slot])
                dates_[slot] =
                    isoFromJulianDate(*text, slot == kCreatedUtc || slot == kModifiedUtc);
            break;
        case Role::kUnits:
            if (units_ == nullptr) units_ = insunitsName(*text);
            break;
        case Role::kCustomTag:
            tag_.emplace(*text);
            break;
        case Role::kCustomValue:
            if (tagged_) headerCustom_.add(*tagged_, *text);
            break;
    }
}

void MetadataCollector::startVariable(std::string_view name) {
    variable_ = findVariable(name);
    variableTaken_ = false;
    // A tag names the value of the variable right after it and nothing later: a tag
    // without its value, or a value without its tag, makes no property.
    tagged_.reset();
    if (variable_ != nullptr && variable_->role == Role::kCustomValue) tagged_ = std::move(tag_);
    tag_.reset();
}

bool MetadataCollector::objectBegins(std::string_view type) {
    stage_ = sameName(trimmed(type), "XRECORD") ? Stage::kBeforeCookie : Stage::kUnwanted;
    inBraces_ = false;
    pairsLeft_ = -1;
    pairHalf_ = false;
    pairName_.reset();
    return stage_ != Stage::kUnwanted;
}

bool MetadataCollector::objectGroup(int code, std::string_view value, bool cut) {
    // A code 0 group starts the next object: whatever follows is not this one's.
    if (code == 0) stage_ = Stage::kUnwanted;
    switch (stage_) {
        case Stage::kUnwanted:
            return false;
        case Stage::kBeforeCookie:
            return beforeCookie(code, value, cut);
        case Stage::kFields:
            return propsField(code, usable(value, cut));
        case Stage::kPairs:
            return propsPair(code, usable(value, cut));
    }
    return false;
}

bool MetadataCollector::beforeCookie(int code, std::string_view value, bool cut) {
    // Before its data AutoCAD writes the handle (5), the reactors and owner (102 {...},
    // 330, 360), the subclass marker (100) and the cloning flag (280); an application's
    // 102 {...} group may hold any code. Data of any other kind first is not DWGPROPS.
    if (code == 102) {
        inBraces_ = !cut && trimmed(value).substr(0, 1) == "{";
        return true;
    }
    if (inBraces_ || code == 5 || code == 330 || code == 360 || code == 100 || code == 280)
        return true;
    if (code == 1 && usable(value, cut) == std::string_view("DWGPROPS COOKIE")) {
        stage_ = Stage::kFields;
        return true;
    }
    stage_ = Stage::kUnwanted;
    return false;
}

bool MetadataCollector::propsField(int code, std::optional<std::string_view> value) {
    static constexpr std::pair<int, Text> kFieldCodes[] = {
        {2, kTitle},    {3, kSubject},      {4, kAuthor},   {6, kComments},
        {7, kKeywords}, {8, kPropsSavedBy}, {9, kRevision},
    };
    for (const auto& [fieldCode, slot] : kFieldCodes) {
        if (code == fieldCode) {
            keepText(slot, value);
            return true;
        }
    }
    if (code == 90) {
        // The number of pairs that follow. Taken as a limit only when it is one: a record
        // that miscounts still gives the pairs it holds.
        const std::optional<long long> count = value ? parseWhole<long long>(*value) : std::nullopt;
        pairsLeft_ = count.value_or(-1);
        stage_ = pairsLeft_ == 0 || propsCustom_.full() ? Stage::kUnwanted : Stage::kPairs;
        return stage_ == Stage::kPairs;
    }
    if (code >= 300 && code <= 309 && value) {
        const std::size_t equals = value->find('=');
        if (equals != std::string_view::npos) {
            const std::string_view name = trimmed(value->substr(0, equals));
            const std::string_view text = trimmed(value->substr(equals + 1));
            if (!name.empty() && !text.empty()) propsCustom_.add(name, text);
        }
    }
    // The group 1 here (the hyperlink base), the times (40 to 42) and anything else are
    // passed over.
    return true;
}

bool MetadataCollector::propsPair(int code, std::optional<std::string_view> value) {
    if (code != 1) {  // the pairs are over: what follows is no property
        stage_ = Stage::kUnwanted;
        return false;
    }
    if (!pairHalf_) {
        pairHalf_ = true;
        if (value) pairName_.emplace(*value);
        return true;
    }
    pairHalf_ = false;
    if (pairName_ && value) propsCustom_.add(*pairName_, *value);
    pairName_.reset();
    if ((pairsLeft_ > 0 && --pairsLeft_ == 0) || propsCustom_.full()) {
        stage_ = Stage::kUnwanted;
        return false;
    }
    return true;
}

DrawingMetadata MetadataCollector::result(
    const std::function<void(std::string_view bytes, std::string* out)>& convert) const {
    const auto output = [&convert](const std::string& bytes) -> std::optional<std::string> {
        std::string out;
        if (convert)
            convert(bytes, &out);
        else
            out = bytes;
        if (out.empty()) return std::nullopt;
        return out;
    };
    const auto text = [&](Text slot) -> std::optional<std::string> {
        return texts_[slot] ? output(*texts_[slot]) : std::nullopt;
    };
    DrawingMetadata metadata;
    metadata.acadver = text(kAcadver);
    metadata.codepage = text(kCodepage);
    metadata.created = dates_[kCreatedUtc] ? dates_[kCreatedUtc] : dates_[kCreatedLocal];
    metadata.modified = dates_[kModifiedUtc] ? dates_[kModifiedUtc] : dates_[kModifiedLocal];
    metadata.lastSavedBy = text(texts_[kLastSavedBy] ? kLastSavedBy : kPropsSavedBy);
    metadata.fingerprintGuid = text(kFingerprintGuid);
    metadata.versionGuid = text(kVersionGuid);
    if (units_ != nullptr) metadata.units = units_;
    metadata.title = text(kTitle);
    metadata.subject = text(kSubject);
    metadata.author = text(kAuthor);
    metadata.keywords = text(kKeywords);
    metadata.comments = text(kComments);
    metadata.revision = text(kRevision);
    // The header's properties first; names are unique in what the caller sees, after
    // conversion too.
    std::unordered_set<std::string> names;
    for (const CustomList* list : {&headerCustom_, &propsCustom_}) {
        for (const auto& [name, value] : list->pairs()) {
            if (metadata.custom.size() >= kMostCustom) break;
            std::optional<std::string> outName = output(name), outValue = output(value);
            if (outName && outValue && names.insert(*outName).second)
                metadata.custom.emplace_back(std::move(*outName), std::move(*outValue));
        }
    }
    return metadata;
}

}  // namespace wqhost
