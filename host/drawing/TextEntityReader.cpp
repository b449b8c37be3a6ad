// The streaming reader of the text entities the plug-in passes over: lines found with
// memchr in a fixed buffer, group pairs followed through sections and entities.
#include "TextEntityReader.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "GroupLines.hpp"
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


enum class Section { Outside, Text, Other };  // Text: BLOCKS or ENTITIES
enum class Kind { None, Mtext, MultiLeader, Dimension, ArcAlignedText, Table, Rtext };

struct KindName {
    std::string_view name;
    Kind kind;
    const char* reported;
};

constexpr KindName kKinds[] = {
    {"MTEXT", Kind::Mtext, "MTEXT"},
    {"DIMENSION", Kind::Dimension, "DIMENSION"},
    {"MULTILEADER", Kind::MultiLeader, "MULTILEADER"},
    {"MLEADER", Kind::MultiLeader, "MULTILEADER"},
    {"ACAD_TABLE", Kind::Table, "ACAD_TABLE"},
    {"ARCALIGNEDTEXT", Kind::ArcAlignedText, "ARCALIGNEDTEXT"},
    {"RTEXT", Kind::Rtext, "RTEXT"},
};

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
    std::unique_ptr<char[]> buffer;
    const char* pos = nullptr;  // next unread byte in buffer
    const char* end = nullptr;  // end of the bytes the last read gave
    bool ended = false;         // read gave 0 or less: it is not called again
    bool done = false;          // the document is over for next()
    std::int64_t bytesRead = 0;
    char shortLine[kShortBytes + 2];  // a short line that spans two reads, and its CR

    Section section = Section::Outside;
    bool expectSectionName = false;  // the pair after 0/SECTION names the section

    Kind kind = Kind::None;  // the entity being read; None for any other
    const char* reported = nullptr;
    bool hasText = false;
    bool inContextData = false;  // a multileader between CONTEXT_DATA{ and its }
    std::string raw;             // the text being gathered, before it is made plain
    std::size_t cells = 0;       // table texts gathered into the caller's entity

    explicit State(ReadFunction r) : read(std::move(r)), buffer(new char[kBufferBytes]) {}

    // The LF that ends the line at pos, or null when the line goes on past the buffer.
    const char* findLf() const {
        return static_cast<const char*>(
            std::memchr(pos, '\n', static_cast<std::size_t>(end - pos)));
    }

    // Refills the buffer; false once the document's bytes have run out.
    bool fill() {
        if (ended) return false;
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

    // Appends the whole of the next line to `out`, however long, without its line end.
    void appendLine(std::string* out) {
        const std::size_t start = out->size();
        for (;;) {
            if (pos == end && !fill()) break;
            const char* lf = findLf();
            const char* stop = lf != nullptr ? lf : end;
            out->append(pos, static_cast<std::size_t>(stop - pos));
            if (lf != nullptr) {
                pos = lf + 1;
                break;
            }
            pos = end;
        }
        // The CR may have come at the end of one read and its LF at the start of the next.
        if (out->size() > start && out->back() == '\r') out->pop_back();
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

    void begin(std::string_view name) {
        kind = Kind::None;
        for (const KindName& k : kKinds) {
            if (k.name == name) {
                kind = k.kind;
                reported = k.reported;
                break;
            }
        }
        hasText = false;
        inContextData = false;
        raw.clear();
        cells = 0;
    }

    // Gathers what the group of `code` adds to the entity being read; reads the value.
    void take(int code, HostEntity* entity) {
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
            case Kind::None:
                break;
        }
        skipLine();
    }

    void gather() {
        appendLine(&raw);
        hasText = true;
    }

    void takeLeaderGroup(int code) {
        if (code == 300 || code == 301) {
            std::string_view value;
            readName(&value);
            if (code == 300 && value == "CONTEXT_DATA{") inContextData = true;
            if (code == 301 && value == "}") inContextData = false;
            return;
        }
        if (code != 304 || !inContextData || hasText) return skipLine();
        raw.clear();
        appendLine(&raw);
        hasText = !isStructureMarker(raw);
    }

    // Ends the entity being read; true when it yields, with `entity` filled.
    bool finish(HostEntity* entity) {
        const Kind finished = kind;
        kind = Kind::None;
        if (finished == Kind::None || !hasText) return false;
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
        entity->kind = reported;
        return true;
    }

    bool next(HostEntity* entity) {
        if (nextInDocument(entity)) return true;
        entity->kind = nullptr;
        entity->texts.clear();
        return false;
    }

    bool nextInDocument(HostEntity* entity) {
        while (!done) {
            std::string_view codeLine;
            bool cut = false;
            if (!readShort(&codeLine, &cut)) {
                done = true;
                return finish(entity);
            }
            // The common case: a group of an entity or section nobody reads. Only a
            // group of code 0 can change that.
            if (kind == Kind::None && !expectSectionName) {
                if (!isCodeZero(codeLine)) {
                    skipLine();
                    continue;
                }
            }
            const int code = cut ? kNotACode : parseCode(codeLine);
            if (code == 0) {
                std::string_view name;
                const bool named = readName(&name);
                const bool yielded = finish(entity);
                expectSectionName = false;
                if (name == "SECTION") {
                    section = Section::Outside;
                    expectSectionName = true;
                } else if (name == "ENDSEC") {
                    section = Section::Outside;
                } else if (name == "EOF" || !named) {
                    done = true;
                } else if (section == Section::Text) {
                    begin(name);
                }
                if (yielded) return true;
                continue;
            }
            if (expectSectionName) {
                expectSectionName = false;
                if (code == 2) {
                    std::string_view name;
                    readName(&name);
                    section =
                        name == "BLOCKS" || name == "ENTITIES" ? Section::Text : Section::Other;
                    continue;
                }
            }
            if (kind != Kind::None) {
                take(code, entity);
            } else {
                skipLine();
            }
        }
        return false;
    }
};

TextEntityReader::TextEntityReader(ReadFunction read)
    : state_(std::make_unique<State>(std::move(read))) {}

TextEntityReader TextEntityReader::overBytes(std::string_view bytes) {
    return TextEntityReader(
        [bytes, offset = std::size_t{0}](char* buffer, std::size_t size) mutable {
            const std::size_t take = std::min(size, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, take);
            offset += take;
            return static_cast<std::int64_t>(take);
        });
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

}  // namespace wqhost
