// One document read through the plug-in and then the host's own reader: the host tables,
// recovery past unreadable entities, conversion to UTF-8, and how the document ended.
#include "Document.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "BinaryDxf.hpp"
#include "Encoding.hpp"
#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"
#include "StreamWatch.hpp"
#include "TemporaryFile.hpp"
#include "TextEntityReader.hpp"

namespace wqhost {
namespace {

// The start of a drawing that is enough to find $ACADVER and $DWGCODEPAGE: both come
// within the first few kilobytes of any HEADER section. The first look is read first and
// the whole prefix only when the scan of the first look read on to its end, so that a
// drawing's header costs a few pages of memory rather than the whole prefix.
constexpr size_t kHeaderPrefixBytes = 256 * 1024;
constexpr size_t kHeaderFirstLookBytes = 16 * 1024;
// After an error the reader resumes past the group it could not read; a reader that keeps
// failing without reading further (a stream that broke, a file cut short while it is read)
// is given up after this many. Records do not count as progress: a retried entity gives a
// new start record every time, whether or not its stream can still be read.
constexpr int kMaxNullsWithoutProgress = 64;
// The reader's offsets are signed 32-bit: the last byte of a document must be addressable.
constexpr int64_t kLargestDocument = INT32_MAX;

// The entities the plug-in reads.
constexpr std::string_view kPluginKinds[] = {"TEXT", "ATTRIB", "ATTDEF", "BLOCK"};

// Why a refused document was refused, when its first bytes tell: the reader's own messages
// name no cause ("Memory allocation error" for an empty file, "Illigal DXF file" for a
// binary one). Null when nothing can be said.
const char* refusalHint(std::string_view head, int64_t size) {
    if (size == 0) return "the file is empty";
    if (head.size() >= 6 && head.compare(0, 4, "AC10") == 0) return "a DWG drawing, not DXF: save it as DXF";
    return nullptr;
}

// Reads what a pipe or socket holds, up to `limit` bytes, giving up when the watch says
// time is up. False with errno's reason in *error on a failed read.
bool readStreamInto(int fd, int64_t limit, StreamWatch* watch, std::string* out,
                    std::string* error) {
    char chunk[65536];
    for (;;) {
        struct pollfd ready = {fd, POLLIN, 0};
        const int waited = ::poll(&ready, 1, 100);
        if (!watch->allowNow(static_cast<int64_t>(out->size()))) return true;
        if (waited < 0 && errno != EINTR) break;
        if (waited <= 0) continue;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        out->append(chunk, static_cast<size_t>(got));
        if (static_cast<int64_t>(out->size()) > limit) return true;
    }
    *error = std::strerror(errno);
    return false;
}

}  // namespace

// --- the loaded plug-in ---------------------------------------------------------------

PluginLibrary::~PluginLibrary() { unloadPlugin(&entries_); }

bool PluginLibrary::load(const std::string& path, std::string* error) {
    unloadPlugin(&entries_);
    char message[512];
    if (loadPlugin(&entries_, path.c_str(), message, sizeof message)) return true;
    *error = message;
    return false;
}

std::string findPlugin(const std::string& folder, const std::string& towardLibdir) {
    constexpr const char* kFile = "libwqdxfrdr.so";
    if (folder.empty()) return kFile;
    for (const std::filesystem::path& candidate :
         {std::filesystem::path(folder) / kFile,
          std::filesystem::path(folder) / towardLibdir / kFile}) {
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            // Written without the way up ("lib/python3/dist-packages/../.."): it is shown.
            return candidate.lexically_normal().string();
        }
    }
    return kFile;
}

const std::string* TextEntity::fieldValue() const {
    return tag && kind != nullptr && std::strcmp(kind, "ATTRIB") == 0 ? value() : nullptr;
}

const char* statusName(DocumentStatus status) {
    switch (status) {
        case DocumentStatus::Reading: return "reading";
        case DocumentStatus::Ok: return "ok";
        case DocumentStatus::Recovered: return "recovered";
        case DocumentStatus::Refused: return "refused";
        case DocumentStatus::Failed: return "failed";
        case DocumentStatus::Timeout: return "timeout";
    }
    return "failed";
}

// --- one document ---------------------------------------------------------------------

// Everything a document holds. It stays at one address for its whole life: the streams'
// host word 0 points back at it, so that an error the reader reports lands here.
struct Document::State {
    enum class Phase { Plugin, Host, Done };

    const PluginLibrary* plugin = nullptr;
    ReadOptions options;
    std::string name;
    std::string bytes;  // the document itself when it is read from memory
    // What the reader's stream and the host's pass open: the file itself, or the ASCII twin
    // of a binary drawing too large to hold, in an unnamed temporary file (asciiFd) opened
    // again through /proc.
    std::string openPath;
    int asciiFd = -1;
    std::optional<BinaryDxfOutcome> binary;  // how a binary drawing was turned into ASCII
    int64_t size = -1;
    std::string head;  // the first bytes of a file read through a stream
    std::optional<DrawingEncoding> scanned;  // the scan of `head`, when open made it already
    // The first bytes, for the header scan and refusal hints.
    std::string_view prefix() const {
        return memory ? std::string_view(bytes).substr(0, kHeaderPrefixBytes) : head;
    }

    StreamWatch watch;
    std::unique_ptr<FileStream> file;
    std::unique_ptr<MemoryStream> memory;
    HostStream* stream = nullptr;
    MallocServices services{};
    HostParams params{};
    DxfSource* source = nullptr;
    std::string reported;  // the last message the reader reported

    DocumentEncoding encoding;
    std::optional<TextConverter> converter;  // empty for raw bytes
    std::unique_ptr<TextEntityReader> hostReader;
    int hostFd = -1;
    HostEntity hostEntity;

    // Placing the plug-in's entities: a reader of the host's own over the same bytes yields
    // every TEXT, ATTDEF, ATTRIB and BLOCK with the offset of the line naming it, and the
    // plug-in's start record says at which offset the plug-in read its entity's name. The
    // placer moves forward as the plug-in does; when the plug-in goes back (a BLOCKS
    // section that ran on into ENTITIES, whose entities ENTITIES then gives again), it
    // starts over from the nearest section start before the entity.
    std::unique_ptr<TextEntityReader> placer;
    HostEntity placed;
    bool placedValid = false;      // `placed` holds the entity the placer reached last
    int64_t lastPlaced = -1;       // the offset asked for last
    std::vector<TextEntityReader::SectionStart> sectionStarts;
    int32_t currentTextGroups = 0;  // of the plug-in's entity being gathered, as placed
    int32_t currentValueGroup = -1;

    // What the plug-in delivered, for reading every entity once: the stretches of the
    // document each of its walks (BLOCKS, ENTITIES) delivered entities from, by the offset of
    // the line naming them. A walk moves forward, so one begins where the offsets go back;
    // an entity inside an earlier walk's stretch is one the plug-in gives a second time
    // (a BLOCKS section that runs on into ENTITIES). Outside every stretch lie the entities
    // it never reached, which the host's own pass reads instead.
    struct Stretch {
        int64_t first;
        int64_t last;
    };
    static constexpr size_t kMostStretches = 64;
    std::vector<Stretch> stretches;
    bool currentRepeat = false;  // the plug-in's entity being gathered was delivered before
    bool pluginStopped = false;  // the plug-in stopped before its end-of-document record
    int64_t salvagedCount = 0;

    MetadataCollector collector;
    DrawingMetadata metadata;
    bool metadataSettled = false;

    Phase phase = Phase::Done;
    DocumentStatus status = DocumentStatus::Reading;
    std::string message;

    // Recovery: after a null the records queued by the failing entity come first, then
    // the entity again under a new start record. An entity open at that new start is the
    // one that failed, and its texts are joined to it, however many retries it takes.
    bool resumePending = false;
    bool entityOpen = false;
    int nullsWithoutProgress = 0;
    int64_t lastReadAtNull = -1;  // where the stream's latest read started, at the last null
    TextEntity current;

    int64_t entityCount = 0;
    int64_t textCount = 0;
    int64_t recoveryCount = 0;

    ~State() { release(); }

    // Shuts the reader down and closes its stream. Every record taken has been released by
    // then, so the services' memory goes back at once, before the host's own pass needs some.
    void stopPlugin() {
        if (source != nullptr) plugin->entries().shutDownDXFsrc(source);
        source = nullptr;
        finishMallocServices(&services);
        if (file) finishFileStream(file.get());
    }

    void release() {
        stopPlugin();
        placer.reset();
        hostReader.reset();
        if (hostFd >= 0) ::close(hostFd);
        hostFd = -1;
        if (asciiFd >= 0) ::close(asciiFd);
        asciiFd = -1;
    }

    void end(DocumentStatus how, std::string why) {
        if (status != DocumentStatus::Reading) return;
        status = how;
        message = std::move(why);
    }

    void convert(const char* text, size_t length, std::string* out) {
        out->clear();
        if (converter) {
            converter->toUtf8(std::string_view(text, length), out);
        } else {
            out->assign(text, length);
        }
    }

    void convertName(const RawValue& raw, std::optional<std::string>* out) {
        if (!raw.known) return out->reset();
        out->emplace();
        convert(raw.bytes.data(), raw.bytes.size(), &**out);
    }

    static void keepReport(HostStream* stream, const char* message, int32_t zero);
    void chooseEncoding();
    void startOnBytes();
    void startOnFile();
    void convertBinary(const BinaryDxfRead& read);
    void start();
    OutputRecord* pullRecord();
    void finishPlugin();
    bool startHostReader();
    bool nextHostEntity(TextEntity* entity);
    void finish();

    // A small drawing in memory is read where it lies; a larger one through a buffer, so
    // that the time allowed is looked at as it is read.
    bool readInPlace() const { return memory && size <= static_cast<int64_t>(kHeaderPrefixBytes); }
    TextEntityReader::ReadFunction pluginBytesFrom(int64_t offset);
    void restartPlacer(int64_t offset);
    bool placeAt(int64_t offset);
    const char* kindAt(int64_t offset);
    void beginPluginEntity(int64_t offset);
    void completePluginEntity();
    void nameEntity(const EntityPlace& place, TextEntity* entity);
    void settleMetadata();
};

void Document::State::chooseEncoding() {
    const std::string& wanted = options.encoding;
    if (wanted == "raw") return;
    if (wanted == "auto" || wanted.empty()) {
        static_cast<DrawingEncoding&>(encoding) =
            scanned ? *scanned : scanHeader(prefix().data(), prefix().size());
    } else {
        encoding.codePage = wanted;
        encoding.forced = true;
    }
    std::string error;
    TextConverter made;
    if (made.open(encoding.codePage, &error)) {
        converter.emplace(std::move(made));
        return;
    }
    // A header naming a code page iconv lacks: read on in the default rather than not at all.
    TextConverter fallback;
    if (fallback.open("CP1252", &error)) converter.emplace(std::move(fallback));
    encoding.codePage = "CP1252";
    encoding.fromHeader = false;
}

void Document::State::keepReport(HostStream* stream, const char* message, int32_t) {
    auto* state = reinterpret_cast<State*>(stream->hostWords0to7[0]);
    state->reported = message != nullptr ? message : "";
}

void Document::State::start() {
    chooseEncoding();
    watch.reportTo(options.progress);
    stream->hostWords0to7[0] = reinterpret_cast<uintptr_t>(this);
    stream->reportError = keepReport;
    initMallocServices(&services);
    services.readOffset = watch.lastReadAddress();
    initHostParams(&params, &services);
    source = plugin->entries().startSrcDXF(stream, &params);
    if (source != nullptr) {
        phase = Phase::Plugin;
        return;
    }
    if (watch.expired()) return end(DocumentStatus::Timeout, "the time allowed ran out");
    if (file && file->lastError != 0) {
        return end(DocumentStatus::Failed, std::strerror(file->lastError));
    }
    std::string why = reported.empty() ? "the reader could not start" : reported;
    if (binary && size == 0) {
        why += " (a binary DXF drawing that holds no groups)";
    } else if (const char* hint = refusalHint(prefix(), size)) {
        why += std::string(" (") + hint + ")";
    }
    end(DocumentStatus::Refused, why);
}

// The next record, reading on past entities the reader cannot read unless strict. Null
// once the plug-in has nothing more; the end-of-document record ends the phase too.
OutputRecord* Document::State::pullRecord() {
    const Plugin& entries = plugin->entries();
    for (;;) {
        OutputRecord* record = entries.getDXFobject(source);
        if (record != nullptr) return record;
        if (watch.expired()) return nullptr;
        if (options.strict) {
            end(DocumentStatus::Failed,
                "reading stopped at an entity the reader cannot read (an unknown group code, "
                "or a read error); without --strict it reads on past it");
            return nullptr;
        }
        if (watch.lastRead() != lastReadAtNull) {
            lastReadAtNull = watch.lastRead();
            nullsWithoutProgress = 0;
        }
        if (++nullsWithoutProgress > kMaxNullsWithoutProgress) {
            // None of the retries at this place went past anything.
            recoveryCount -= kMaxNullsWithoutProgress;
            if (options.pluginOnly || options.strict) {
                end(DocumentStatus::Failed, "the reader stopped delivering before the end");
            } else {
                pluginStopped = true;  // the host's own pass reads what it did not reach
            }
            return nullptr;
        }
        ++recoveryCount;
        resumePending = true;
    }
}

void Document::State::finishPlugin() {
    // With no pass of the host's own to follow, the placer reads on to the end for the
    // metadata, while the plug-in's stream is still open.
    if (options.structure && options.pluginOnly && !watch.expired()) {
        if (placer == nullptr) restartPlacer(0);
        while (placer->next(&placed)) {
        }
        placedValid = false;
    }
    stopPlugin();
    placer.reset();
    phase = Phase::Done;
    if (watch.expired() || status != DocumentStatus::Reading || options.pluginOnly) return;
    if (startHostReader()) phase = Phase::Host;
}

// The host's reader makes its own pass over the document, from the start.
bool Document::State::startHostReader() {
    TextEntityReader::Options read;
    read.places = options.structure;
    read.metadata = options.structure ? &collector : nullptr;
    // What the plug-in did not deliver, the host's pass reads; not when strict, which stops
    // at the reader's first error rather than reading around it.
    if (!options.strict) {
        read.pluginKindsAt = [this](int64_t offset) {
            for (const Stretch& stretch : stretches) {
                if (offset >= stretch.first && offset <= stretch.last) return false;
            }
            return true;
        };
    }
    if (readInPlace()) {
        hostReader = std::make_unique<TextEntityReader>(TextEntityReader::overBytes(bytes, read));
        return true;
    }
    if (memory) {
        hostReader = std::make_unique<TextEntityReader>(
            [this, offset = size_t{0}](char* buffer, size_t want) mutable -> int64_t {
                if (!watch.allow(static_cast<int64_t>(offset))) return 0;
                const size_t count = std::min(want, bytes.size() - offset);
                std::memcpy(buffer, bytes.data() + offset, count);
                offset += count;
                return static_cast<int64_t>(count);
            },
            read);
        return true;
    }
    hostFd = ::open(openPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (hostFd < 0) return false;
    hostReader = std::make_unique<TextEntityReader>(
        [this, offset = int64_t{0}](char* buffer, size_t want) mutable -> int64_t {
            if (!watch.allow(offset)) return 0;
            for (;;) {
                const ssize_t got = ::read(hostFd, buffer, want);
                if (got < 0 && errno == EINTR) continue;
                if (got > 0) offset += got;
                return got;
            }
        },
        read);
    return true;
}

bool Document::State::nextHostEntity(TextEntity* entity) {
    if (!hostReader->next(&hostEntity)) {
        hostReader.reset();
        if (hostFd >= 0) ::close(hostFd);
        hostFd = -1;
        phase = Phase::Done;
        return false;
    }
    entity->ordinal = ++entityCount;
    entity->kind = hostEntity.kind;
    entity->fromPlugin = false;
    nameEntity(hostEntity.place, entity);
    entity->valueText = -1;
    if (std::find(std::begin(kPluginKinds), std::end(kPluginKinds), std::string_view(entity->kind)) !=
        std::end(kPluginKinds)) {
        ++salvagedCount;
        const bool attribute = std::strcmp(entity->kind, "ATTRIB") == 0 ||
                               std::strcmp(entity->kind, "ATTDEF") == 0;
        if (attribute && hostEntity.place.textGroups == static_cast<int32_t>(hostEntity.texts.size())) {
            entity->valueText = hostEntity.place.valueGroup;
        }
    }
    entity->texts.resize(hostEntity.texts.size());
    for (size_t i = 0; i < hostEntity.texts.size(); ++i) {
        convert(hostEntity.texts[i].data(), hostEntity.texts[i].size(), &entity->texts[i]);
    }
    textCount += static_cast<int64_t>(entity->texts.size());
    return true;
}

// --- placing the plug-in's entities ---------------------------------------------------

// The document's bytes from `offset` on, for a reader of the host's own while the plug-in
// reads: from memory, or from the plug-in's open file by offset, which leaves the plug-in's
// own position alone. It does not tell the watch where it reads, since the watch's last
// read is the plug-in's (its stamps and its progress), but it stops when time is up.
TextEntityReader::ReadFunction Document::State::pluginBytesFrom(int64_t offset) {
    if (memory) {
        return [this, offset](char* buffer, size_t want) mutable -> int64_t {
            if (watch.expired() || offset >= size) return 0;
            const size_t count = std::min(want, static_cast<size_t>(size - offset));
            std::memcpy(buffer, bytes.data() + offset, count);
            offset += static_cast<int64_t>(count);
            return static_cast<int64_t>(count);
        };
    }
    return [this, offset](char* buffer, size_t want) mutable -> int64_t {
        if (watch.expired() || file == nullptr || file->fd < 0) return 0;
        for (;;) {
            const ssize_t got = ::pread(file->fd, buffer, want, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) offset += got;
            return got;
        }
    };
}

void Document::State::restartPlacer(int64_t offset) {
    TextEntityReader::SectionStart from{0, TextEntityReader::Section::Outside};
    for (const TextEntityReader::SectionStart& start : sectionStarts) {
        if (start.offset <= offset) from = start;
    }
    TextEntityReader::Options read;
    read.yield = TextEntityReader::Yield::PluginKinds;
    read.start = from;
    // The metadata comes from the host's own pass when there is one; the collector takes
    // a header read twice as once.
    read.metadata = options.pluginOnly ? &collector : nullptr;
    placer = readInPlace()
                 ? std::make_unique<TextEntityReader>(TextEntityReader::overBytes(
                       std::string_view(bytes).substr(static_cast<size_t>(from.offset)), read))
                 : std::make_unique<TextEntityReader>(pluginBytesFrom(from.offset), read);
    placedValid = false;
}

// Moves the placer to the entity whose name line starts at `offset`; false when the
// drawing, read the host's way, has none there.
bool Document::State::placeAt(int64_t offset) {
    if (placer == nullptr || offset <= lastPlaced) restartPlacer(offset);
    lastPlaced = offset;
    while (!placedValid || placed.place.offset < offset) {
        placedValid = placer->next(&placed);
        for (const TextEntityReader::SectionStart& start : placer->sectionStarts()) {
            if (sectionStarts.size() >= TextEntityReader::kMostSectionStarts) break;
            if (sectionStarts.empty() || start.offset > sectionStarts.back().offset) {
                sectionStarts.push_back(start);
            }
        }
        if (!placedValid) return false;
    }
    return placed.place.offset == offset;
}

// The name of the entity at `offset`, read from the bytes the plug-in read it from: one of
// the four the plug-in reads, or null when they cannot be read again.
const char* Document::State::kindAt(int64_t offset) {
    char line[8] = {};
    size_t got = 0;
    if (offset < 0) return nullptr;
    if (memory && offset < size) {
        got = std::min(sizeof line, static_cast<size_t>(size - offset));
        std::memcpy(line, bytes.data() + offset, got);
    } else if (file != nullptr && offset >= file->windowStart &&
               offset + static_cast<int64_t>(sizeof line) <= file->windowStart + file->windowBytes) {
        got = sizeof line;
        std::memcpy(line, file->window + (offset - file->windowStart), got);
    } else if (file != nullptr && file->fd >= 0) {
        const ssize_t read = ::pread(file->fd, line, sizeof line, static_cast<off_t>(offset));
        got = read > 0 ? static_cast<size_t>(read) : 0;
    }
    const std::string_view start(line, got);
    for (const char* kind : {"TEXT", "ATTRIB", "ATTDEF", "BLOCK"}) {
        if (start.compare(0, std::strlen(kind), kind) == 0) return kind;
    }
    return nullptr;
}

// A start record opens a plug-in entity: its kind and names come from where the plug-in
// read it.
void Document::State::beginPluginEntity(int64_t offset) {
    current.kind = nullptr;
    currentTextGroups = 0;
    currentValueGroup = -1;
    currentRepeat = false;
    if (offset >= 0) {
        if (stretches.empty() || offset <= stretches.back().last) {
            if (stretches.size() < kMostStretches) stretches.push_back({offset, offset});
        } else {
            stretches.back().last = offset;
        }
        // Delivered before: inside the stretch of a walk before this one.
        for (size_t i = 0; i + 1 < stretches.size(); ++i) {
            currentRepeat |= offset >= stretches[i].first && offset <= stretches[i].last;
        }
    }
    if (currentRepeat && !options.pluginOnly) return;  // dropped: it needs no name
    if (options.structure && offset >= 0 && placeAt(offset)) {
        current.kind = placed.kind;
        nameEntity(placed.place, &current);
        currentTextGroups = placed.place.textGroups;
        currentValueGroup = placed.place.valueGroup;
    }
    if (current.kind == nullptr) current.kind = kindAt(offset);
}

// An ATTRIB's or ATTDEF's value is the text of its group 1 when the plug-in delivered one
// text for each group of code 1 and 2 the drawing has; otherwise which one it is is not
// known.
void Document::State::completePluginEntity() {
    const bool matches = currentTextGroups == static_cast<int32_t>(current.texts.size());
    const bool attribute = current.kind != nullptr && (std::strcmp(current.kind, "ATTRIB") == 0 ||
                                                       std::strcmp(current.kind, "ATTDEF") == 0);
    current.valueText = matches && attribute ? currentValueGroup : -1;
}

void Document::State::nameEntity(const EntityPlace& place, TextEntity* entity) {
    convertName(place.layer, &entity->layer);
    convertName(place.handle, &entity->handle);
    convertName(place.block, &entity->block);
    convertName(place.tag, &entity->tag);
    entity->space = place.space == EntityPlace::Space::Model   ? "model"
                    : place.space == EntityPlace::Space::Paper ? "paper"
                                                               : nullptr;
    if (place.inInsert) {
        entity->insert.emplace();
        convertName(place.insertHandle, &entity->insert->handle);
        convertName(place.insertBlock, &entity->insert->block);
    } else {
        entity->insert.reset();
    }
    if (place.hasPosition) {
        entity->position = std::array<double, 3>{place.position[0], place.position[1],
                                                 place.position[2]};
    } else {
        entity->position.reset();
    }
}

void Document::State::settleMetadata() {
    if (metadataSettled) return;
    metadataSettled = true;
    if (!options.structure) return;
    metadata = collector.result(
        [this](std::string_view raw, std::string* out) { convert(raw.data(), raw.size(), out); });
    if (converter) metadata.encoding = encoding.codePage;
    if (binary) metadata.format = "binary";
}

void Document::State::finish() {
    release();
    phase = Phase::Done;
    if (size > 0) watch.publishUpTo(size);
    if (watch.expired()) {
        status = DocumentStatus::Reading;  // a timeout outranks whatever the reader made of it
        return end(DocumentStatus::Timeout, "the time allowed ran out");
    }
    if (binary && !binary->ok()) {
        // What was converted up to the fault has been read; the document was not whole.
        return end(DocumentStatus::Failed, std::string("binary DXF ") +
                                               binaryDxfStatusName(binary->status) + ": " +
                                               binary->message);
    }
    std::string notes;
    auto note = [&notes](const std::string& text) { notes += (notes.empty() ? "" : "; ") + text; };
    auto entities = [](int64_t count) {
        return std::to_string(count) + (count == 1 ? " entity" : " entities");
    };
    if (recoveryCount > 0) {
        note((pluginStopped ? "read past " : "read to its end past ") + entities(recoveryCount) +
             " the reader could not read");
    }
    if (pluginStopped) note("the reader stopped before the end of the drawing");
    if (salvagedCount > 0) {
        note(entities(salvagedCount) + " the reader " +
             (pluginStopped ? "did not reach" : "passed over") +
             " read by the host's own reader");
    }
    if (!notes.empty()) end(DocumentStatus::Recovered, notes);
    end(DocumentStatus::Ok, "");
}

// --- opening --------------------------------------------------------------------------

Document::Document(std::unique_ptr<State> state) : state_(std::move(state)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Document Document::open(const PluginLibrary& plugin, const std::string& path,
                        const ReadOptions& options) {
    // Non-blocking, so that a FIFO with no writer does not hang the open itself.
    return openDescriptor(plugin, ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), path,
                          options);
}

Document Document::openDescriptor(const PluginLibrary& plugin, int fd, const std::string& path,
                                  const ReadOptions& options) {
    const int openError = errno;
    auto state = std::make_unique<State>();
    State& s = *state;
    s.plugin = &plugin;
    s.options = options;
    s.name = path;
    s.watch.limitTo(options.timeoutSeconds);
    Document document(std::move(state));

    errno = openError;
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        s.end(DocumentStatus::Failed, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return document;
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        s.end(DocumentStatus::Failed, "is a directory");
        return document;
    }
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        ::close(fd);
        s.end(DocumentStatus::Failed, "is a device, not a drawing file");
        return document;
    }
    if (!S_ISREG(info.st_mode)) {
        // A pipe or socket cannot seek, which the reader needs: it is read into memory.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        std::string bytes, error;
        const bool read = readStreamInto(fd, kLargestDocument, &s.watch, &bytes, &error);
        ::close(fd);
        if (!read) {
            s.end(DocumentStatus::Failed, error);
            return document;
        }
        s.bytes = std::move(bytes);
        s.startOnBytes();
        return document;
    }
    s.size = info.st_size;
    if (s.size > kLargestDocument) {
        ::close(fd);
        s.end(DocumentStatus::Refused,
              "2 GiB or larger: the reader's 32-bit offsets cannot address it");
        return document;
    }
    // A file no larger than the header's prefix is read whole in one call and then from
    // memory, so that neither the plug-in's stream nor the host's reader opens it again:
    // most drawings of a batch are small, and those calls were a good part of their time.
    const bool whole = s.size <= static_cast<int64_t>(kHeaderPrefixBytes);
    ssize_t got = 0;
    for (const size_t prefix : {whole ? kHeaderPrefixBytes : kHeaderFirstLookBytes,
                                kHeaderPrefixBytes}) {
        s.head.resize(std::min<size_t>(prefix, static_cast<size_t>(s.size)));
        got = ::pread(fd, &s.head[0], s.head.size(), 0);
        if (got < 0) break;
        s.head.resize(static_cast<size_t>(got));
        s.scanned = scanHeader(s.head.data(), s.head.size());
        if (whole || got < static_cast<ssize_t>(prefix) || s.scanned->settled) break;
    }
    const int readError = errno;
    if (got >= 0 && isBinaryDxf(s.head)) {
        const int64_t length = s.size;
        s.convertBinary([fd, length, offset = int64_t{0}](char* buffer, size_t want) mutable {
            if (offset >= length) return int64_t{0};
            for (;;) {
                const ssize_t read = ::pread(fd, buffer, want, static_cast<off_t>(offset));
                if (read < 0 && errno == EINTR) continue;
                if (read > 0) offset += read;
                return static_cast<int64_t>(read);
            }
        });
        ::close(fd);
        return document;
    }
    ::close(fd);
    if (got < 0) {
        s.end(DocumentStatus::Failed, std::strerror(readError));
        return document;
    }
    if (whole) {
        s.bytes = std::move(s.head);
        s.startOnBytes();
        return document;
    }

    s.openPath = s.name;
    s.startOnFile();
    return document;
}

void Document::State::startOnFile() {
    file = std::make_unique<FileStream>();
    initFileStream(file.get(), openPath.c_str());
    file->watch = &watch;
    stream = &file->table;
    start();
}

Document Document::fromBytes(const PluginLibrary& plugin, std::string name, std::string bytes,
                             const ReadOptions& options) {
    auto state = std::make_unique<State>();
    State& s = *state;
    s.plugin = &plugin;
    s.options = options;
    s.name = std::move(name);
    s.bytes = std::move(bytes);
    s.watch.limitTo(options.timeoutSeconds);
    Document document(std::move(state));
    s.startOnBytes();
    return document;
}

void Document::State::startOnBytes() {
    if (!binary && isBinaryDxf(bytes)) {
        const std::string drawing = std::move(bytes);
        bytes.clear();
        return convertBinary([&drawing, offset = size_t{0}](char* buffer, size_t want) mutable {
            const size_t count = std::min(want, drawing.size() - offset);
            std::memcpy(buffer, drawing.data() + offset, count);
            offset += count;
            return static_cast<int64_t>(count);
        });
    }
    size = static_cast<int64_t>(bytes.size());
    if (watch.expired()) return end(DocumentStatus::Timeout, "the time allowed ran out");
    if (size > kLargestDocument) {
        return end(DocumentStatus::Refused,
                   "2 GiB or larger: the reader's 32-bit offsets cannot address it");
    }
    memory = std::make_unique<MemoryStream>();
    initMemoryStream(memory.get(), bytes.data(), static_cast<int32_t>(size));
    memory->watch = &watch;
    stream = &memory->table;
    start();
}

// A binary drawing is turned into ASCII DXF as it is read, and the ASCII read as any
// drawing is: in memory while it is no larger than a small drawing, else in an unnamed
// temporary file, so that memory stays the same for a drawing of any size.
void Document::State::convertBinary(const BinaryDxfRead& read) {
    scanned.reset();  // a scan of the binary bytes says nothing
    head.clear();
    bool spilled = false;
    int64_t written = 0;
    std::string error;
    auto cannotWrite = [&error] {
        error = std::string("cannot write its ASCII: ") + std::strerror(errno);
        return false;
    };
    const BinaryDxfOutcome outcome = convertBinaryDxf(read, [&](const char* out, size_t count) {
        written += static_cast<int64_t>(count);
        if (written > kLargestDocument || watch.expired()) return false;
        if (!spilled && bytes.size() + count <= kHeaderPrefixBytes) {
            bytes.append(out, count);
            return true;
        }
        if (!spilled) {
            asciiFd = openUnnamedTemporaryFile();
            if (asciiFd < 0) {
                error = std::string("no temporary file for its ASCII: ") + std::strerror(errno);
                return false;
            }
            spilled = true;
            head = std::move(bytes);  // the header scan's prefix
            bytes.clear();
            if (!writeAllAt(asciiFd, head.data(), head.size(), 0)) return cannotWrite();
        }
        return writeAllAt(asciiFd, out, count, written - static_cast<int64_t>(count)) ||
               cannotWrite();
    });
    binary = outcome;
    if (watch.expired()) return end(DocumentStatus::Timeout, "the time allowed ran out");
    if (written > kLargestDocument) {
        return end(DocumentStatus::Refused,
                   "a binary DXF drawing whose ASCII would be 2 GiB or larger: the reader's "
                   "32-bit offsets cannot address it");
    }
    if (!error.empty()) return end(DocumentStatus::Failed, "binary DXF: " + error);
    if (outcome.status == BinaryDxfStatus::Malformed) {
        return end(DocumentStatus::Refused, "binary DXF that cannot be read: " + outcome.message);
    }
    if (!spilled) return startOnBytes();
    size = written;
    scanned = scanHeader(head.data(), head.size());
    openPath = "/proc/self/fd/" + std::to_string(asciiFd);
    startOnFile();
}

// --- reading --------------------------------------------------------------------------

bool Document::next(TextEntity* entity) {
    State& s = *state_;
    while (s.phase == State::Phase::Plugin) {
        OutputRecord* record = s.pullRecord();
        const int32_t kind = record != nullptr ? recordKind(record) : RecordEndOfDocument;
        bool ready = false;
        bool repeat = false;
        if (kind == RecordTextStart) {
            // After a null come the records the failed attempt queued, its start record
            // among them, then the retry's start; a retry that fails at once gives only a
            // start record. Every start up to the entity's end continues it.
            if (!(s.entityOpen && s.resumePending)) {
                if (s.entityOpen) {
                    s.completePluginEntity();
                    *entity = std::move(s.current);
                    repeat = s.currentRepeat;
                    ready = true;
                }
                s.current = TextEntity();
                s.entityOpen = true;
                s.beginPluginEntity(recordReadOffset(record));
            }
        } else if (kind == RecordText) {
            if (!s.entityOpen) s.current = TextEntity(), s.entityOpen = true;
            s.current.texts.emplace_back();
            s.convert(record->text, static_cast<size_t>(record->textLength),
                      &s.current.texts.back());
            ++s.textCount;
        } else if (s.entityOpen) {  // the end of an entity, or of the document
            s.completePluginEntity();
            *entity = std::move(s.current);
            repeat = s.currentRepeat;
            s.entityOpen = false;
            ready = true;
        }
        if (kind == RecordTextEnd) s.resumePending = false;
        if (record != nullptr) releaseRecord(&s.services, record);
        if (kind == RecordEndOfDocument) s.finishPlugin();
        if (ready && repeat && !s.options.pluginOnly) {
            // Given a second time: each entity once, but with --plugin-only.
            s.textCount -= static_cast<int64_t>(entity->texts.size());
            continue;
        }
        if (ready) {
            entity->ordinal = ++s.entityCount;
            entity->fromPlugin = true;
            return true;
        }
    }
    if (s.phase == State::Phase::Host && s.nextHostEntity(entity)) return true;
    if (s.status == DocumentStatus::Reading) s.finish();
    s.settleMetadata();
    return false;
}

bool Document::nextRecord(RawRecord* out) {
    State& s = *state_;
    // The raw view is the plug-in's records alone, unnamed, and ends where the plug-in does.
    s.options.pluginOnly = true;
    s.options.structure = false;
    if (s.phase == State::Phase::Plugin) {
        if (OutputRecord* record = s.pullRecord()) {
            out->kind = recordKind(record);
            out->bytes.assign(record->text != nullptr && out->kind == RecordText ? record->text : "",
                              out->kind == RecordText ? static_cast<size_t>(record->textLength) : 0);
            releaseRecord(&s.services, record);
            if (out->kind == RecordEndOfDocument) s.finishPlugin();
            return true;
        }
        s.phase = State::Phase::Done;
    }
    if (s.status == DocumentStatus::Reading) s.finish();
    return false;
}

const std::string& Document::name() const { return state_->name; }
DocumentStatus Document::status() const { return state_->status; }
const std::string& Document::message() const { return state_->message; }
const DocumentEncoding& Document::encoding() const { return state_->encoding; }
int64_t Document::size() const { return state_->size; }
int64_t Document::entities() const { return state_->entityCount; }
int64_t Document::texts() const { return state_->textCount; }
int64_t Document::recoveries() const { return state_->recoveryCount; }
int64_t Document::salvaged() const { return state_->salvagedCount; }
const DrawingMetadata& Document::metadata() const { return state_->metadata; }
bool Document::binary() const { return state_->binary.has_value(); }

}  // namespace wqhost
