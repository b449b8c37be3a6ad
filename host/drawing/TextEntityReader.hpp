// Reads the text of the entities the plug-in passes over (MTEXT, multileaders, dimensions,
// arc-aligned text, tables, remote text) in one streaming pass over a DXF document.
#ifndef WQHOST_TEXT_ENTITY_READER_HPP
#define WQHOST_TEXT_ENTITY_READER_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wqhost {

class MetadataCollector;

// A value as the drawing writes it (its bytes, line end removed), or nothing when the
// drawing does not give one, or gives one longer than any name is (kLongestName): a
// megabyte handle names nothing.
struct RawValue {
    std::string bytes;
    bool known = false;
    void clear() {
        bytes.clear();
        known = false;
    }
};

// Where an entity stands in a drawing and what names it, as written. What the drawing does
// not say is left unknown, never filled in.
struct EntityPlace {
    enum class Space { Unknown, Model, Paper };

    std::int64_t offset = -1;  // where the line holding its type name starts
    RawValue layer;            // group 8
    RawValue handle;           // group 5
    RawValue block;            // in BLOCKS: the block being defined (a BLOCK's own name)
    // In ENTITIES, group 67: 1 paper space, 0 or none model space; Unknown in BLOCKS and
    // for any other value.
    Space space = Space::Unknown;
    RawValue tag;  // ATTRIB and ATTDEF: group 2
    // An ATTRIB that follows an INSERT (and the INSERT's other ATTRIBs): that INSERT's
    // handle (group 5) and block name (group 2).
    bool inInsert = false;
    RawValue insertHandle;
    RawValue insertBlock;
    // Groups 10, 20 and 30: set when 10 and 20 are numbers, and 30 too or absent (then 0,
    // as DXF reads a point written in two dimensions); unset when any of them is not.
    bool hasPosition = false;
    double position[3] = {0, 0, 0};
    // TEXT, ATTDEF, ATTRIB and BLOCK: the groups of code 1 and 2, whose values the plug-in
    // delivers in this order, and which of them is the first of code 1 (-1: none).
    std::int32_t textGroups = 0;
    std::int32_t valueGroup = -1;

    void clear();
};

// One entity, as TextEntityReader::next hands it out.
struct HostEntity {
    // The entity type: "MTEXT", "MULTILEADER" (also for MLEADER), "DIMENSION",
    // "ARCALIGNEDTEXT", "ACAD_TABLE" or "RTEXT" for a reader of the host's kinds; "TEXT",
    // "ATTDEF", "ATTRIB" or "BLOCK" for a reader of the plug-in's. Static strings, never
    // null once next() returned true.
    const char* kind = nullptr;
    // The entity's texts in the drawing's bytes (its code page, or UTF-8). `\U+XXXX`
    // escapes are kept as written for the caller's converter; `\M+nXXXX` escapes are
    // decoded into their two bytes, high byte first, as the plug-in does for TEXT. One
    // text for every kind but ACAD_TABLE, which has one per cell value in file order.
    // MTEXT, MULTILEADER, DIMENSION and table texts are made plain (see MtextPlain.hpp);
    // ARCALIGNEDTEXT and RTEXT carry no formatting and come as written. Empty for the
    // plug-in's kinds, whose texts the plug-in delivers.
    std::vector<std::string> texts;
    EntityPlace place;
};

// A pull reader over a DXF document's group pairs (a code line, then a value line; LF or
// CR LF line ends). It follows the SECTION/ENDSEC frames and yields, in file order, the
// entities of the BLOCKS and ENTITIES sections that hold text the plug-in does not read
// (or, asked for the plug-in's kinds, every TEXT, ATTDEF, ATTRIB and BLOCK, without texts,
// so that the plug-in's entities can be placed):
//
// - MTEXT: its code 3 chunks and code 1 value joined in file order, then made plain;
// - MULTILEADER and MLEADER: the content text, the first code 304 inside the context data
//   (`300 CONTEXT_DATA{` up to `301 }`) that is not a structure marker such as
//   `LEADER_LINE{`, made plain;
// - DIMENSION: the user text (code 1) made plain, with the `<>` that stands for the
//   measured value left out (the reader does not compute it); a text that is then empty or
//   blank (a single space is how a drawing hides a dimension's text) yields nothing;
// - ARCALIGNEDTEXT and RTEXT: the code 1 value, escapes decoded;
// - ACAD_TABLE: every code 1, 2 and 3 value, in file order, each made plain, empty ones
//   included so that the texts keep their places.
//
// An entity yields when it carries its text group, even an empty one (but see DIMENSION);
// without one it yields nothing. An entity ends at the next group of code 0. Entity and
// section names compare exactly after blanks around them are trimmed, and so do codes.
//
// Memory stays constant however large the document: a fixed read buffer, the texts of the
// current entity (kept whole, whatever their length), and nothing for values that are not
// wanted, which are skipped in place. Bad input (truncated entities and values, missing
// ENDSEC or EOF, binary bytes, code lines that are not numbers) yields what can be read;
// a code line that is not a number is taken as an unknown code. Reading stops at the
// `0`/`EOF` group or when the bytes run out, whichever comes first.
class TextEntityReader {
  public:
    // Fills up to `size` bytes of `buffer` and returns how many; 0 at the end, negative on
    // a read error (taken as the end). Called only from next(), never again after it
    // returned 0 or less.
    using ReadFunction = std::function<std::int64_t(char* buffer, std::size_t size)>;

    // How many bytes the reader asks `read` for at a time: the whole of its buffer. Four
    // times as much read the 128 MiB drawing no faster, and is held for the whole pass.
    static constexpr std::size_t kBufferBytes = 16 * 1024;

    // Which entities a reader yields.
    enum class Yield { HostKinds, PluginKinds };
    // The sections a reader tells apart.
    enum class Section { Outside, Header, Blocks, Entities, Objects, Other };
    // Where a section's body starts (the line after its name), and which section it is: a
    // place a reader can start from with nothing before it to know.
    struct SectionStart {
        std::int64_t offset;
        Section section;
    };
    // Section starts kept at most; a drawing with more keeps its first ones.
    static constexpr std::size_t kMostSectionStarts = 64;
    // The longest layer, handle, block name or tag kept; a longer one is unknown.
    static constexpr std::size_t kLongestName = 2048;

    struct Options {
        Yield yield = Yield::HostKinds;
        // Read each yielded entity's place (layer, handle, block, ...); off, `place` stays
        // clear but for the offset.
        bool places = true;
        // Where the HEADER's groups and the OBJECTS' XRECORDs go, for the drawing's
        // metadata; null for none. Must outlive the reader.
        MetadataCollector* metadata = nullptr;
        // Where the bytes `read` gives start in the document, and the section they start
        // in: the start of the document, or one of sectionStarts().
        SectionStart start{0, Section::Outside};
        // A reader of the host's kinds yields the plug-in's kinds too at the offsets this
        // says yes to (of the line naming the entity), with their texts: the values of codes
        // 1 and 2 in file order, `\M+` escapes decoded, as the plug-in delivers them. For
        // the entities the plug-in did not deliver. Empty: none.
        std::function<bool(std::int64_t offset)> pluginKindsAt;
    };

    explicit TextEntityReader(ReadFunction read);
    TextEntityReader(ReadFunction read, const Options& options);
    // A reader over bytes in memory, read where they are rather than copied first: they
    // must outlive the reader.
    static TextEntityReader overBytes(std::string_view bytes);
    static TextEntityReader overBytes(std::string_view bytes, const Options& options);

    TextEntityReader(TextEntityReader&&) noexcept;
    TextEntityReader& operator=(TextEntityReader&&) noexcept;
    TextEntityReader(const TextEntityReader&) = delete;
    TextEntityReader& operator=(const TextEntityReader&) = delete;
    ~TextEntityReader();

    // Fills `entity` with the next entity in file order and returns true; returns false,
    // with entity->kind null and no texts, at the end of the document and on every later
    // call (a moved-from reader is at its end too). The strings already in
    // entity->texts are reused, so a caller that passes the same entity every time reads
    // without allocating once the texts have reached their largest size.
    bool next(HostEntity* entity);

    // Bytes handed over by the read function so far.
    std::int64_t bytesRead() const;
    // The sections met so far, in file order, up to kMostSectionStarts.
    const std::vector<SectionStart>& sectionStarts() const;

  private:
    struct State;
    explicit TextEntityReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace wqhost

#endif
