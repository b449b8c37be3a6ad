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

// One entity that carries text, as TextEntityReader::next hands it out.
struct HostEntity {
    // "MTEXT", "MULTILEADER" (also for MLEADER), "DIMENSION", "ARCALIGNEDTEXT",
    // "ACAD_TABLE" or "RTEXT": static strings, never null once next() returned true.
    const char* kind = nullptr;
    // The entity's texts in the drawing's bytes (its code page, or UTF-8). `\U+XXXX`
    // escapes are kept as written for the caller's converter; `\M+nXXXX` escapes are
    // decoded into their two bytes, high byte first, as the plug-in does for TEXT. One
    // text for every kind but ACAD_TABLE, which has one per cell value in file order.
    // MTEXT, MULTILEADER, DIMENSION and table texts are made plain (see MtextPlain.hpp);
    // ARCALIGNEDTEXT and RTEXT carry no formatting and come as written.
    std::vector<std::string> texts;
};

// A pull reader over a DXF document's group pairs (a code line, then a value line; LF or
// CR LF line ends). It follows the SECTION/ENDSEC frames and yields, in file order, the
// entities of the BLOCKS and ENTITIES sections that hold text the plug-in does not read:
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

    explicit TextEntityReader(ReadFunction read);
    // A reader over bytes in memory, read where they are rather than copied first: they
    // must outlive the reader.
    static TextEntityReader overBytes(std::string_view bytes);

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

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace wqhost

#endif
