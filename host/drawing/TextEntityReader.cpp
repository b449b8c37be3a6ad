// The streaming reader of the text entities the plug-in passes over: lines found with
// memchr in a fixed buffer, group pairs followed through sections and entities.
#include "TextEntityReader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "GroupLines.hpp"
#include "Metadata.hpp"
#include "MtextPlain.hpp"

namespace wqhost {

namespace {

using lines::isBlank;
using lines::kNotACode;
using lines::parseCode;
using lines::trimmed;

// Long enough for any group code or entity, section or structure name with blanks
// around it; a longer line is none of them, and only its length past this is counted.
constexpr std::size_t kShortBytes = 128;


using Section = TextEntityReader::Section;

// The entities a reader looks into. The host's kinds carry the text the plug-in passes
// over; the plug-in's are yielded for their places; BLOCK, ENDBLK and INSERT set what the
// entities after them stand in; XRECORD may hold the drawing's properties.
enum class Kind {
    None,
    Mtext,
    MultiLeader,
    Dimension,
    ArcAlignedText,
    Table,
    Rtext,
    Text,
    Attdef,
    Attrib,
    Block,
    EndBlock,
    Insert,
    Xrecord
};

bool isHostKind(Kind kind) { return kind >= Kind::Mtext && kind <= Kind::Rtext; }
bool isPluginKind(Kind kind) { return kind >= Kind::Text && kind <= Kind::Block; }

struct KindName {
    std::string_view name;
    Kind kind;
    const char* reported;
};

constexpr KindName kKinds[] = {
    {"TEXT", Kind::Text, "TEXT"},
    {"ATTRIB", Kind::Attrib, "ATTRIB"},
    {"INSERT", Kind::Insert, "INSERT"},
    {"MTEXT", Kind::Mtext, "MTEXT"},
    {"DIMENSION", Kind::Dimension, "DIMENSION"},
    {"MULTILEADER", Kind::MultiLeader, "MULTILEADER"},
    {"MLEADER", Kind::MultiLeader, "MULTILEADER"},
    {"ACAD_TABLE", Kind::Table, "ACAD_TABLE"},
    {"ARCALIGNEDTEXT", Kind::ArcAlignedText, "ARCALIGNEDTEXT"},
    {"RTEXT", Kind::Rtext, "RTEXT"},
    {"ATTDEF", Kind::Attdef, "ATTDEF"},
    {"BLOCK", Kind::Block, "BLOCK"},
    {"ENDBLK", Kind::EndBlock, nullptr},
};

// A group value read as a number: blanks around it and one sign allowed, nothing else after
// it. False for anything else and for a number too large for a double; one too small for
// it is 0, as DXF readers take it.
bool parseNumber(std::string_view text, double* value) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, *value);
    if (result.ptr != end) return false;
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars says only that the value is out of range: an exponent below zero
        // means it is too small, not too large.
        const std::size_t exponent = text.find_first_of("eE");
        if (exponent == std::string_view::npos || exponent + 1 >= text.size() ||
            text[exponent + 1] != '-') {
            return false;
        }
        *value = text.front() == '-' ? -0.0 : 0.0;
        return true;
    }
    return result.ec == std::errc() && std::isfinite(*value);
}

// Whether a code line holds code 0. Most code lines of a drawing are answered by their
// last character alone: only a line that ends in '0' can be code 0.
bool isCodeZero(std::string_view line) {
    std::size_t last = line.size();
    while (last > 0 && isBlank(line[last - 1])) --last;
    if (last == 0 || line[last - 1] != '0') return false;
    return parseCode(line) == 0;
}

// A multileader's structure markers: a name in capitals followed by `{` (`CONTEXT_DATA{`,
// `LEADER{`, `LEADER_LINE{`). Content text ends in an unescaped `{` only when broken.
bool isStructureMarker(std::string_view value) {
    value = trimmed(value);
    if (value.size() < 2 || value.back() != '{') return false;
    for (char c : value.substr(0, value.size() - 1)) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
}

// Blank for a dimension: what shows nothing at all.
bool showsNothing(const std::string& text) {
    for (char c : text) {
        if (!isBlank(c) && c != '\n') return false;
    }
    return true;
}

void eraseMeasurement(std::string* text) {
    std::size_t at = 0;
    while ((at = text->find("<>", at)) != std::string::npos) text->erase(at, 2);
}

}  // namespace

struct TextEntityReader::State {
    ReadFunction read;
    Options options;
    std::unique_ptr<char[]> buffer;
    const char* pos = nullptr;  // next unread byte in buffer
    const char* end = nullptr;  // end of the bytes the last read gave
    bool ended = false;         // read gave 0 or less: it is not called again
    bool done = false;          // the document is over for next()
    std::int64_t bytesRead = 0;
    char shortLine[kShortBytes + 2];  // a short line that spans two reads, and its CR

    Section section = Section::Outside;
    bool expectSectionName = false;  // the pair after 0/SECTION names the section
    std::vector<SectionStart> sectionStarts;

    Kind kind = Kind::None;  // the entity being read; None for any other
    const char* reported = nullptr;
    bool hasText = false;
    bool inContextData = false;  // a multileader between CONTEXT_DATA{ and its }
    std::string raw;             // the text being gathered, before it is made plain
    std::size_t cells = 0;       // table texts gathered into the caller's entity

    // What the entities stand in: the block being defined, and the INSERT whose ATTRIBs
    // follow it.
    RawValue block;
    bool insertOpen = false;
    RawValue insertHandle;
    RawValue insertBlock;
    EntityPlace place;                 // of the entity being read
    bool seen10 = false, seen20 = false, seen30 = false, seen67 = false;
    bool badPosition = false;          // a coordinate that is not a number
    std::string value;                 // a metadata value being handed on
    bool salvaging = false;            // a plug-in's kind read with its texts (pluginKindsAt)

    State(ReadFunction r, const Options& o)
        : read(std::move(r)), options(o), buffer(new char[kBufferBytes]) {
        section = o.start.section;
    }
    // Over bytes in memory, read where they are: the one "read" is the whole of them.
    State(std::string_view bytes, const Options& o) : options(o), inPlace(bytes) {
        section = o.start.section;
    }

    std::string_view inPlace;  // the bytes read where they lie, for a reader over memory

    // The document offset of the next unread byte.
    std::int64_t offsetHere() const {
        return options.start.offset + bytesRead - static_cast<std::int64_t>(end - pos);
    }

    // The LF that ends the line at pos, or null when the line goes on past the buffer.
    const char* findLf() const {
        return static_cast<const char*>(
            std::memchr(pos, '\n', static_cast<std::size_t>(end - pos)));
    }

    // Refills the buffer; false once the document's bytes have run out.
    bool fill() {
        if (ended) return false;
        if (!buffer) {
            ended = bytesRead > 0 || inPlace.empty();
            if (ended) {
                pos = end = inPlace.data() + inPlace.size();
                return false;
            }
            bytesRead = static_cast<std::int64_t>(inPlace.size());
            pos = inPlace.data();
            end = pos + inPlace.size();
            return true;
        }
        std::int64_t got = read ? read(buffer.get(), kBufferBytes) : 0;
        if (got <= 0) {
            ended = true;
            pos = end = buffer.get();
            return false;
        }
        if (static_cast<std::uint64_t>(got) > kBufferBytes) got = kBufferBytes;
        bytesRead += got;
        pos = buffer.get();
        end = pos + got;
        return true;
    }

    // The next line as a view, its LF and a CR before it stripped; `*cut` when it was
    // longer than kShortBytes, in which case only its start is in the view. False when no
    // byte is left. The view lives until the next line is read.
    bool readShort(std::string_view* line, bool* cut) {
        if (pos == end && !fill()) return false;
        const char* lf = findLf();
        if (lf != nullptr) {
            *line = shortened(withoutCr(std::string_view(pos, static_cast<std::size_t>(lf - pos))),
                              cut);
            pos = lf + 1;
            return true;
        }
        // The line goes on in the next read: its start is copied aside, and of a line
        // too long to be a code or a name nothing more is kept. Room for one byte past the
        // short length and a CR tells a long line from a short one ending in CR.
        std::size_t kept = 0;
        std::size_t total = 0;
        for (;;) {
            const std::size_t available = static_cast<std::size_t>((lf ? lf : end) - pos);
            const std::size_t room = sizeof shortLine - kept;
            const std::size_t take = available < room ? available : room;
            std::memcpy(shortLine + kept, pos, take);
            kept += take;
            total += available;
            if (lf != nullptr) {
                pos = lf + 1;
                break;
            }
            pos = end;
            if (!fill()) break;  // the document ends without a final LF
            lf = findLf();
        }
        const std::string_view start(shortLine, kept);
        *line = shortened(total == kept ? withoutCr(start) : start, cut);
        return true;
    }

    // The first kShortBytes of a line, `*cut` when there was more: a line is judged by its
    // whole length, wherever the reads that brought it ended.
    static std::string_view shortened(std::string_view line, bool* cut) {
        *cut = line.size() > kShortBytes;
        return line.substr(0, kShortBytes);
    }

    // Passes over the next line without looking at it.
    void skipLine() {
        for (;;) {
            if (pos == end && !fill()) return;
            const char* lf = findLf();
            if (lf != nullptr) {
                pos = lf + 1;
                return;
            }
            pos = end;
        }
    }

    // Appends the next line to `out`, without its line end, up to `limit` bytes of it;
    // false, with the rest of the line passed over, when it was longer.
    bool appendLine(std::string* out, std::size_t limit = std::string::npos) {
        const std::size_t start = out->size();
        bool whole = true;
        for (;;) {
            if (pos == end && !fill()) break;
            const char* lf = findLf();
            const char* stop = lf != nullptr ? lf : end;
            const std::size_t count = static_cast<std::size_t>(stop - pos);
            const std::size_t kept = out->size() - start;
            if (whole && count > limit - kept) {
                // Room for the CR that may end a line exactly at the limit.
                const std::size_t room = limit - kept + 1;
                out->append(pos, std::min(count, room));
                whole = out->size() - start <= limit ||
                        (lf != nullptr && out->size() - start == limit + 1 && out->back() == '\r');
            } else if (whole) {
                out->append(pos, count);
            }
            if (lf != nullptr) {
                pos = lf + 1;
                break;
            }
            pos = end;
        }
        // The CR may have come at the end of one read and its LF at the start of the next.
        if (out->size() > start && out->back() == '\r') out->pop_back();
        if (out->size() - start > limit) whole = false;
        return whole;
    }

    static std::string_view withoutCr(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

    // A name value, trimmed; a cut line matches no name, so it comes back as a value no
    // name has.
    bool readName(std::string_view* name) {
        bool cut = false;
        if (!readShort(name, &cut)) {
            *name = std::string_view();
            return false;
        }
        *name = cut ? std::string_view("\n") : trimmed(*name);
        return true;
    }

    // Reads a name-like value into `out` when the entity has not given one yet: the first
    // group of a code names, even when it is too long to be kept. A value too long is
    // marked by a single zero byte while the entity is read, so that a later group of the
    // same code is not taken for it; settlePlace() clears the mark.
    void readOnce(RawValue* out) {
        if (out->known || !out->bytes.empty()) return skipLine();
        out->known = appendLine(&out->bytes, kLongestName);
        if (!out->known) out->bytes.assign(1, '\0');
    }

    void readCoordinate(int axis, bool* seen) {
        std::string_view line;
        bool cut = false;
        if (*seen) return skipLine();
        *seen = true;
        if (!readShort(&line, &cut) || cut || !parseNumber(line, &place.position[axis])) {
            badPosition = true;
        }
    }

    void begin(std::string_view name, std::int64_t nameOffset) {
        Kind found = Kind::None;
        for (const KindName& k : kKinds) {
            if (k.name == name) {
                found = k.kind;
                reported = k.reported;
                break;
            }
        }
        // An INSERT's ATTRIBs follow it at once; any other entity ends them.
        if (found != Kind::Attrib) insertOpen = false;
        if (found == Kind::EndBlock || found == Kind::Block) block.clear();
        kind = Kind::None;
        const bool plugin = options.yield == Yield::PluginKinds;
        salvaging = false;
        if (section == Section::Blocks || section == Section::Entities) {
            if (isHostKind(found) && !plugin) kind = found;
            if (isPluginKind(found) && plugin) kind = found;
            if (isPluginKind(found) && !plugin && options.pluginKindsAt &&
                options.pluginKindsAt(nameOffset)) {
                kind = found;
                salvaging = true;
            }
            // What the entities after them stand in matters only to the places read.
            if (options.places && found == Kind::Block) kind = found;
            if (options.places && (plugin || options.pluginKindsAt) && found == Kind::Insert) {
                kind = found;
            }
        } else if (section == Section::Objects && options.metadata != nullptr &&
                   options.metadata->objectBegins(name)) {
            kind = Kind::Xrecord;
        }
        if (kind == Kind::None) return;
        if (kind == Kind::Insert) {
            insertOpen = true;
            insertHandle.clear();
            insertBlock.clear();
        }
        hasText = false;
        inContextData = false;
        raw.clear();
        cells = 0;
        place.clear();
        place.offset = nameOffset;
        seen10 = seen20 = seen30 = seen67 = badPosition = false;
        if (!options.places) return;
        if (section == Section::Blocks) {
            place.block = block;
        } else {
            place.space = EntityPlace::Space::Model;
        }
        if (kind == Kind::Attrib && insertOpen) {
            place.inInsert = true;
            place.insertHandle = insertHandle;
            place.insertBlock = insertBlock;
        }
    }

    // The groups that place an entity; false for a group of any other code.
    bool takePlace(int code) {
        switch (code) {
            case 5: readOnce(kind == Kind::Insert ? &insertHandle : &place.handle); return true;
            case 8: readOnce(&place.layer); return true;
            case 10: readCoordinate(0, &seen10); return true;
            case 20: readCoordinate(1, &seen20); return true;
            case 30: readCoordinate(2, &seen30); return true;
            case 67: {
                std::string_view line;
                bool cut = false;
                if (seen67) {
                    skipLine();
                    return true;
                }
                seen67 = true;
                if (!readShort(&line, &cut)) return true;
                line = trimmed(line);
                if (section != Section::Entities) return true;
                place.space = cut ? EntityPlace::Space::Unknown
                              : line == "1" ? EntityPlace::Space::Paper
                              : line == "0" ? EntityPlace::Space::Model
                                            : EntityPlace::Space::Unknown;
                return true;
            }
            case 2:
                if (kind == Kind::Attrib || kind == Kind::Attdef) {
                    readOnce(&place.tag);
                } else if (kind == Kind::Block) {
                    readOnce(&block);
                    if (section == Section::Blocks) place.block = block;
                } else if (kind == Kind::Insert) {
                    readOnce(&insertBlock);
                } else {
                    return false;
                }
                return true;
            default: return false;
        }
    }

    // Gathers what the group of `code` adds to the entity being read; reads the value.
    void take(int code, HostEntity* entity) {
        if (isPluginKind(kind) && (code == 1 || code == 2)) {
            if (code == 1 && place.valueGroup < 0) place.valueGroup = place.textGroups;
            ++place.textGroups;
            if (salvaging) return takePluginText(code, entity);
        }
        if (options.places && kind != Kind::Table && kind != Kind::Xrecord && takePlace(code)) {
            return;
        }
        switch (kind) {
            case Kind::Mtext:
                if (code == 1 || code == 3) return gather();
                break;
            case Kind::Dimension:
            case Kind::ArcAlignedText:
            case Kind::Rtext:
                if (code == 1) return gather();
                break;
            case Kind::Table:
                if (options.places && code != 2 && takePlace(code)) return;
                if (code == 1 || code == 2 || code == 3) {
                    std::vector<std::string>& texts = entity->texts;
                    if (cells == texts.size()) texts.emplace_back();
                    texts[cells].clear();
                    appendLine(&texts[cells++]);
                    hasText = true;
                    return;
                }
                break;
            case Kind::MultiLeader:
                return takeLeaderGroup(code);
            case Kind::Xrecord: {
                value.clear();
                const bool whole = appendLine(&value, MetadataCollector::kLongestValue);
                if (!options.metadata->objectGroup(code, value, !whole)) kind = Kind::None;
                return;
            }
            default:
                break;
        }
        skipLine();
    }

    // A code 1 or 2 value of a plug-in's kind read for its texts; the first code 2 also
    // names the entity as takePlace() would.
    void takePluginText(int code, HostEntity* entity) {
        std::vector<std::string>& texts = entity->texts;
        if (cells == texts.size()) texts.emplace_back();
        std::string& text = texts[cells++];
        text.clear();
        appendLine(&text);
        if (code != 2 || !options.places) return;
        RawValue* name = kind == Kind::Block ? &block
                         : kind == Kind::Insert ? nullptr
                         : (kind == Kind::Attrib || kind == Kind::Attdef) ? &place.tag
                                                                          : nullptr;
        if (name == nullptr || name->known || !name->bytes.empty()) return;
        name->known = text.size() <= kLongestName;
        name->bytes = name->known ? text : std::string(1, '\0');
        if (kind == Kind::Block && section == Section::Blocks) place.block = block;
    }

    // A group of the HEADER, handed to the metadata.
    void takeHeader(int code) {
        value.clear();
        const bool whole = appendLine(&value, MetadataCollector::kLongestValue);
        options.metadata->headerGroup(code, value, !whole);
    }

    void gather() {
        appendLine(&raw);
        hasText = true;
    }

    void takeLeaderGroup(int code) {
        if (code == 300 || code == 301) {
            std::string_view name;
            readName(&name);
            if (code == 300 && name == "CONTEXT_DATA{") inContextData = true;
            if (code == 301 && name == "}") inContextData = false;
            return;
        }
        if (code != 304 || !inContextData || hasText) return skipLine();
        raw.clear();
        appendLine(&raw);
        hasText = !isStructureMarker(raw);
    }

    // Settles the place of the entity being read before it is handed out.
    void settlePlace() {
        for (RawValue* name : {&place.layer, &place.handle, &place.tag, &place.block,
                               &place.insertHandle, &place.insertBlock}) {
            if (!name->known) name->bytes.clear();
        }
        place.hasPosition = options.places && seen10 && seen20 && !badPosition;
        if (!place.hasPosition) place.position[0] = place.position[1] = place.position[2] = 0;
    }

    // Ends the entity being read; true when it yields, with `entity` filled.
    bool finish(HostEntity* entity) {
        const Kind finished = kind;
        kind = Kind::None;
        if (isPluginKind(finished) && options.yield == Yield::PluginKinds) {
            entity->texts.clear();
            settlePlace();
            std::swap(entity->place, place);
            entity->kind = reported;
            return true;
        }
        if (isPluginKind(finished) && salvaging) {
            std::vector<std::string>& texts = entity->texts;
            texts.resize(cells);
            for (std::string& text : texts) {
                raw.swap(text);
                text.clear();
                appendMultibyteDecoded(raw, &text);
            }
            settlePlace();
            std::swap(entity->place, place);
            entity->kind = reported;
            return true;
        }
        if (!isHostKind(finished) || !hasText) return false;
        std::vector<std::string>& texts = entity->texts;
        if (finished == Kind::Table) {
            texts.resize(cells);
            for (std::string& text : texts) {
                raw.swap(text);
                text.clear();
                appendPlainMtext(raw, &text);
            }
        } else {
            texts.resize(1);
            std::string& text = texts.front();
            text.clear();
            text.reserve(raw.size());  // made plain, a text seldom grows; one allocation
            if (finished == Kind::ArcAlignedText || finished == Kind::Rtext) {
                appendMultibyteDecoded(raw, &text);
            } else {
                appendPlainMtext(raw, &text);
            }
            if (finished == Kind::Dimension) {
                eraseMeasurement(&text);
                if (showsNothing(text)) return false;
            }
        }
        settlePlace();
        std::swap(entity->place, place);
        entity->kind = reported;
        return true;
    }

    bool next(HostEntity* entity) {
        if (nextInDocument(entity)) return true;
        entity->kind = nullptr;
        entity->texts.clear();
        entity->place.clear();
        return false;
    }

    void enterSection(std::string_view name) {
        section = name == "BLOCKS"     ? Section::Blocks
                  : name == "ENTITIES" ? Section::Entities
                  : name == "HEADER"   ? Section::Header
                  : name == "OBJECTS"  ? Section::Objects
                                       : Section::Other;
        if (sectionStarts.size() < kMostSectionStarts) {
            sectionStarts.push_back({offsetHere(), section});
        }
    }

    // Whether the code line [start, lf) may hold code 0: zeros, perhaps a sign before
    // them, blanks around (and a CR). Lines that end in '0' are common (10, 20, 30, 70,
    // 100, ...); only these few are read the long way.
    static bool mayBeCodeZero(const char* start, const char* lf) {
        while (lf > start && (lf[-1] == '\r' || isBlank(lf[-1]))) --lf;
        if (lf == start || lf[-1] != '0') return false;
        while (lf > start && lf[-1] == '0') --lf;
        if (lf > start && (lf[-1] == '-' || lf[-1] == '+')) --lf;
        while (lf > start && isBlank(lf[-1])) --lf;
        return lf == start;
    }

    // Passes over the groups of an entity or section nobody reads, up to the next code line
    // that may hold code 0, as long as whole groups lie in the buffer: the bulk of a drawing.
    // The line feeds of 64 bytes at a time are found at once as the bits of a mask, so a
    // line costs a few instructions rather than a search of its own. What is left of the
    // buffer, and the lines that matter, are read line by line.
    void skipGroupsInBuffer() {
        if (pos == end) return;  // nothing read yet, or all of it taken
        const char* lineStart = pos;
#if defined(__SSE2__)
        bool codeLine = true;
        const char* window = pos;
        while (end - window >= 64) {
            std::uint64_t lineFeeds = lineFeedMask(window);
            while (lineFeeds != 0) {
                const char* lf = window + __builtin_ctzll(lineFeeds);
                lineFeeds &= lineFeeds - 1;
                if (codeLine && mayBeCodeZero(lineStart, lf)) return;
                if (!codeLine) pos = lf + 1;  // a whole group passed
                codeLine = !codeLine;
                lineStart = lf + 1;
            }
            window += 64;
        }
        lineStart = pos;
#endif
        for (;;) {
            const char* codeEnd = static_cast<const char*>(
                std::memchr(lineStart, '\n', static_cast<std::size_t>(end - lineStart)));
            if (codeEnd == nullptr || mayBeCodeZero(lineStart, codeEnd)) return;
            const char* valueEnd = static_cast<const char*>(
                std::memchr(codeEnd + 1, '\n', static_cast<std::size_t>(end - codeEnd - 1)));
            if (valueEnd == nullptr) return;
            pos = lineStart = valueEnd + 1;
        }
    }

#if defined(__SSE2__)
    // Bit i set when byte i of the 64 at `at` is a line feed.
    static std::uint64_t lineFeedMask(const char* at) {
        const __m128i lineFeed = _mm_set1_epi8('\n');
        std::uint64_t mask = 0;
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * i));
            const auto bits = static_cast<std::uint32_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed)));
            mask |= static_cast<std::uint64_t>(bits) << (16 * i);
        }
        return mask;
    }
#endif

    bool nextInDocument(HostEntity* entity) {
        while (!done) {
            if (kind == Kind::None && !expectSectionName &&
                !(section == Section::Header && options.metadata != nullptr)) {
                skipGroupsInBuffer();
            }
            std::string_view codeLine;
            bool cut = false;
            if (!readShort(&codeLine, &cut)) {
                done = true;
                return finish(entity);
            }
            // The common case: a group of an entity or section nobody reads. Only a
            // group of code 0 can change that.
            if (kind == Kind::None && !expectSectionName &&
                !(section == Section::Header && options.metadata != nullptr)) {
                if (!isCodeZero(codeLine)) {
                    skipLine();
                    continue;
                }
            }
            const int code = cut ? kNotACode : parseCode(codeLine);
            if (code == 0) {
                const std::int64_t nameOffset = offsetHere();
                std::string_view name;
                const bool named = readName(&name);
                const bool yielded = finish(entity);
                expectSectionName = false;
                if (name == "SECTION") {
                    section = Section::Outside;
                    expectSectionName = true;
                    block.clear();
                    insertOpen = false;
                } else if (name == "ENDSEC") {
                    section = Section::Outside;
                    block.clear();
                    insertOpen = false;
                } else if (name == "EOF" || !named) {
                    done = true;
                } else {
                    begin(name, nameOffset);
                }
                if (yielded) return true;
                continue;
            }
            if (expectSectionName) {
                expectSectionName = false;
                if (code == 2) {
                    std::string_view name;
                    readName(&name);
                    enterSection(name);
                    continue;
                }
            }
            if (kind != Kind::None) {
                take(code, entity);
            } else if (section == Section::Header && options.metadata != nullptr) {
                takeHeader(code);
            } else {
                skipLine();
            }
        }
        return false;
    }
};

void EntityPlace::clear() {
    offset = -1;
    layer.clear();
    handle.clear();
    block.clear();
    space = Space::Unknown;
    tag.clear();
    inInsert = false;
    insertHandle.clear();
    insertBlock.clear();
    hasPosition = false;
    position[0] = position[1] = position[2] = 0;
    textGroups = 0;
    valueGroup = -1;
}

TextEntityReader::TextEntityReader(ReadFunction read)
    : TextEntityReader(std::move(read), Options()) {}

TextEntityReader::TextEntityReader(ReadFunction read, const Options& options)
    : state_(std::make_unique<State>(std::move(read), options)) {}

TextEntityReader::TextEntityReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

TextEntityReader TextEntityReader::overBytes(std::string_view bytes) {
    return overBytes(bytes, Options());
}

TextEntityReader TextEntityReader::overBytes(std::string_view bytes, const Options& options) {
    return TextEntityReader(std::make_unique<State>(bytes, options));
}

TextEntityReader::TextEntityReader(TextEntityReader&&) noexcept = default;
TextEntityReader& TextEntityReader::operator=(TextEntityReader&&) noexcept = default;
TextEntityReader::~TextEntityReader() = default;

// A moved-from reader has no state: it reads as a document that has ended.
bool TextEntityReader::next(HostEntity* entity) {
    if (state_ != nullptr) return state_->next(entity);
    entity->kind = nullptr;
    entity->texts.clear();
    return false;
}

std::int64_t TextEntityReader::bytesRead() const {
    return state_ != nullptr ? state_->bytesRead : 0;
}

const std::vector<TextEntityReader::SectionStart>& TextEntityReader::sectionStarts() const {
    static const std::vector<SectionStart> none;
    return state_ != nullptr ? state_->sectionStarts : none;
}

}  // namespace wqhost
