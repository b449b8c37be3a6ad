// The host toolkit's document API: open a drawing from a path or from bytes, and iterate
// its text entities as UTF-8 (or raw bytes), without writing any host table by hand.
#ifndef WQHOST_DOCUMENT_HPP
#define WQHOST_DOCUMENT_HPP

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Encoding.hpp"
#include "Metadata.hpp"
#include "Plugin.hpp"

namespace wqhost {

// The plug-in, loaded with dlopen for as long as this object lives. Documents borrow it:
// it must outlive every Document opened on it. Reading it from several threads at once is
// safe, since each document has a reader of its own.
class PluginLibrary {
  public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the shared library at `path`. False, with dlerror's text or the missing symbol
    // in *error, when it cannot.
    bool load(const std::string& path, std::string* error);
    bool loaded() const { return entries_.library != nullptr; }
    // The entry points and the plug-in's interface version (`_lib_version`).
    const Plugin& entries() const { return entries_; }

  private:
    Plugin entries_{};
};

// Where a host finds the plug-in: libwqdxfrdr.so in `folder` (the host's own, as in a
// build folder), else in `folder`/`towardLibdir` (from where an installation puts the host
// to its library folder: "../lib" for a program in bin/), else the bare file name, which
// leaves the search to the dynamic loader.
std::string findPlugin(const std::string& folder, const std::string& towardLibdir);

// How a document is read.
struct ReadOptions {
    // "auto": the code page the drawing's header names, converted to UTF-8; "raw": the
    // bytes exactly as delivered, escapes and all; anything else: an iconv name to convert
    // from, whatever the header says.
    std::string encoding = "auto";
    // Stop at the first entity the reader cannot read, instead of reading on past it.
    bool strict = false;
    // Only the entities the plug-in reads (TEXT, ATTDEF, ATTRIB, BLOCK), exactly as it
    // delivers them. By default every entity comes once: one the plug-in delivers twice (a
    // BLOCKS section that runs on into ENTITIES) is given the first time only, and the
    // host's own reader adds, after them, MTEXT and the other text entities and the
    // plug-in's kinds it did not deliver (it stopped before the end, or passed over a
    // section it could not find).
    bool pluginOnly = false;
    // Give up the document after this many seconds of reading; 0 for no limit.
    double timeoutSeconds = 0;
    // Where bytes read are added as the document goes (for a progress display); may be null.
    std::atomic<int64_t>* progress = nullptr;
    // Name every entity (its layer, handle, block, space, tag, insert and position) and read
    // the drawing's metadata. It costs a pass of the host's own over the part of the drawing
    // the plug-in's entities lie in; a caller after the texts alone turns it off, and then
    // an entity carries only its kind and texts and metadata() stays empty.
    bool structure = true;
};

// How reading a document ended.
enum class DocumentStatus {
    Reading,    // not ended yet
    Ok,         // read to its end
    Recovered,  // read to its end, reading on past entities the reader could not read
    Refused,    // not a drawing the reader starts on (empty, DWG, no section frame, too large)
    Failed,     // missing, unreadable, or reading stopped before the end
    Timeout     // the time allowed ran out
};
// "ok", "recovered", "refused", "failed", "timeout" ("reading" while not ended).
const char* statusName(DocumentStatus status);

// The INSERT an ATTRIB belongs to: the block reference whose attribute it is.
struct InsertReference {
    std::optional<std::string> handle;  // the INSERT's group 5
    std::optional<std::string> block;   // the name of the block it inserts (group 2)
};

// One text entity: the plug-in's (TEXT, ATTDEF, ATTRIB, BLOCK) or the host's (MTEXT,
// MULTILEADER, DIMENSION, ARCALIGNEDTEXT, ACAD_TABLE, RTEXT), with its text values in order
// and what names it. Names are converted as the texts are (UTF-8, or the bytes as written
// with encoding "raw"). What the drawing does not say is empty (nullopt, null), never made
// up: a layer the drawing does not give, an ATTRIB with no INSERT before it, a position
// that is not a number.
struct TextEntity {
    int64_t ordinal = 0;          // 1 for the document's first entity
    const char* kind = nullptr;   // the entity type, as above; a static string
    // Delivered by the plug-in, or read by the host's own reader (its kinds, and the
    // plug-in's that the plug-in did not deliver: see Document::salvaged()).
    bool fromPlugin = true;
    std::vector<std::string> texts;  // UTF-8, or the delivered bytes with encoding "raw"

    std::optional<std::string> layer;   // group 8
    std::optional<std::string> handle;  // group 5, as written
    // The block definition the entity stands in (a BLOCK: its own name); empty in
    // ENTITIES.
    std::optional<std::string> block;
    // "model" or "paper" in ENTITIES (group 67); null in BLOCKS.
    const char* space = nullptr;
    std::optional<std::string> tag;          // ATTRIB and ATTDEF: group 2
    std::optional<InsertReference> insert;   // ATTRIB: the INSERT it follows
    std::optional<std::array<double, 3>> position;  // groups 10, 20 and 30
    // For ATTRIB and ATTDEF, which of `texts` is the value (group 1, where group 2 is the
    // tag); -1 when there is none or the texts do not match the drawing's groups.
    int valueText = -1;

    // The value of an ATTRIB or ATTDEF (see valueText), or null.
    const std::string* value() const {
        return valueText >= 0 && static_cast<size_t>(valueText) < texts.size()
                   ? &texts[static_cast<size_t>(valueText)]
                   : nullptr;
    }
    // One field of a title block (or of any block reference): an ATTRIB's value, filed
    // under its tag. Null for another kind, and for an ATTRIB without both; the value may
    // be empty. dxftext --fields and the Python module's fields() list the same ones.
    const std::string* fieldValue() const;
};

// One record as the plug-in delivered it, for hosts that want the raw view.
struct RawRecord {
    int32_t kind = 0;   // RecordTextStart, RecordText, RecordTextEnd, RecordEndOfDocument
    std::string bytes;  // a text record's value, exactly as delivered
};

// The code page a document's text was converted from.
// What the header scan found (codePage is "" for raw bytes), and whether the caller named
// the encoding instead.
struct DocumentEncoding : DrawingEncoding {
    bool forced = false;
};

// One document being read. Move-only; the destructor shuts the reader down and releases
// every record, stream and block the document holds, wherever reading stopped.
class Document {
  public:
    // Reads the file at `path`. Problems with the file (missing, a directory, a device,
    // 2 GiB or larger) are not errors here: they show as the status and message.
    static Document open(const PluginLibrary& plugin, const std::string& path,
                         const ReadOptions& options);
    // Reads the file open as `fd`, which it takes over and closes, as open() reads the file
    // `path` names: for a caller that opened it already to see what it is. Open it with
    // O_NONBLOCK, so that a FIFO with no writer does not hang the open. An `fd` of -1, with
    // errno as the failed open left it, gives the document that failure.
    static Document openDescriptor(const PluginLibrary& plugin, int fd, const std::string& path,
                                   const ReadOptions& options);
    // Reads `bytes`, a drawing the host already holds; `name` is used in messages only.
    static Document fromBytes(const PluginLibrary& plugin, std::string name, std::string bytes,
                              const ReadOptions& options);

    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    ~Document();

    // The next text entity, in delivery order: the plug-in's first, then the host's. False
    // once the document has ended; status() then tells how.
    bool next(TextEntity* entity);
    // The next record exactly as the plug-in delivered it, reading on past errors unless
    // strict. False at the end. Use either next() or nextRecord() on one document.
    bool nextRecord(RawRecord* record);

    const std::string& name() const;
    DocumentStatus status() const;
    // Why the document failed or was refused, or a note on a recovered one; "" when ok.
    const std::string& message() const;
    const DocumentEncoding& encoding() const;
    int64_t size() const;          // bytes in the document, -1 when unknown
    int64_t entities() const;      // text entities delivered so far
    int64_t texts() const;         // text values delivered so far
    int64_t recoveries() const;    // times reading went on past an entity it could not read
    // Entities of the plug-in's kinds that it did not deliver (it stopped before the end of
    // the drawing, or passed over a section it could not find), read by the host's own
    // reader instead; 0 with pluginOnly and with strict.
    int64_t salvaged() const;
    // What the drawing says about itself (its version, code page, dates, author, custom
    // properties, ...), complete once next() has returned false; empty with
    // ReadOptions::structure off and for raw records.
    const DrawingMetadata& metadata() const;
    // Whether the drawing is binary DXF, read as the ASCII DXF it converts to (its
    // metadata's format says "binary" too).
    bool binary() const;

  private:
    struct State;
    explicit Document(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace wqhost

#endif
