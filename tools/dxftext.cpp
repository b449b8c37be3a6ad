// dxftext: prints the text of DXF drawings as UTF-8 text or JSON Lines, reading many
// drawings in parallel through the host toolkit's document API.
#include <getopt.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Document.hpp"
#include "DocumentList.hpp"
#include "Encoding.hpp"
#include "Json.hpp"
#include "ReadAll.hpp"
#include "RecordLine.hpp"

#ifndef WQ_VERSION
#define WQ_VERSION "0"
#endif
#ifndef WQ_RELATIVE_LIBDIR
#define WQ_RELATIVE_LIBDIR "../lib"
#endif

namespace {

namespace fs = std::filesystem;
using wqhost::Document;
using wqhost::DocumentStatus;
using wqtools::Item;
using wqtools::ItemSource;
using wqtools::PathList;

constexpr const char* kUsage =
    "Usage: dxftext [OPTION]... [FILE|DIR|-]...\n"
    "Print the text of DXF drawings (ASCII or binary) as UTF-8, one text value per line.\n"
    "A DIR is searched recursively for .dxf files (any case), in sorted order; - reads\n"
    "standard input. All the text is given: TEXT, ATTDEF, ATTRIB and BLOCK entities as the\n"
    "plug-in reads them, then MTEXT, MULTILEADER, DIMENSION, ARCALIGNEDTEXT, ACAD_TABLE and\n"
    "RTEXT as the host reads them.\n"
    "A FILE named .zip, .tar, .tgz, .tar.gz, .tar.bz2, .tar.xz, .tar.zst or .7z is read\n"
    "member by member: each .dxf in it is a document named ARCHIVE!MEMBER, in the\n"
    "archive's order, and archives in it are read too, one level down. A .dxf.gz, .dxf.bz2,\n"
    ".dxf.xz or .dxf.zst is read as the drawing it holds.\n"
    "\n"
    "Output:\n"
    "  -f, --format FORMAT    text (default) or jsonl: one JSON object per text entity and\n"
    "                         one closing object per document\n"
    "  -r, --records          the plug-in's records instead: S (start of an entity),\n"
    "                         T <hex> (a text value), E (end), D (end of document)\n"
    "  -e, --encoding NAME    auto (default: the code page the drawing's header names,\n"
    "                         CP1252 when it names none; UTF-8 from AutoCAD 2007 on),\n"
    "                         raw (bytes as delivered, \\U+ escapes as written), or an\n"
    "                         iconv name to read the text as (SHIFT_JIS, CP949, ...)\n"
    "  -a, --all              print empty text values too (as empty lines)\n"
    "  -H, --with-filename    start each line with the file name and a colon (the default\n"
    "                         when there is more than one document)\n"
    "      --no-filename      never start lines with the file name\n"
    "      --plugin-only      only the entities the plug-in reads (TEXT, ATTDEF, ATTRIB,\n"
    "                         BLOCK), not the host's MTEXT and others\n"
    "      --fields           instead of all the text, one TAG=value line per ATTRIB (the\n"
    "                         fields of title blocks and other block references)\n"
    "      --metadata         the drawing's metadata (version, dates, author, title, custom\n"
    "                         properties, ...), one 'key: value' line each; with --fields,\n"
    "                         after the fields. JSON Lines always carries both: each\n"
    "                         entity's kind, layer, handle, block, space, tag, insert and\n"
    "                         position, and the closing object's metadata\n"
    "\n"
    "Reading:\n"
    "  -j, --jobs N           read N documents at a time (default: the number of cores);\n"
    "                         the output is the same as with --jobs 1\n"
    "      --paths-from FILE  also read the paths of documents from FILE, one a line\n"
    "                         (- for standard input)\n"
    "      --archives         also read the archives and compressed drawings found in a\n"
    "                         DIR (those named as FILE or listed are always read)\n"
    "      --strict           stop a document at the first entity the reader cannot read;\n"
    "                         by default it reads on past it and counts a recovery\n"
    "      --timeout SECONDS  give up a document after this long\n"
    "  -p, --plugin PATH      the plug-in to load (default: libwqdxfrdr.so beside dxftext,\n"
    "                         then in its lib folder)\n"
    "  -k, --keep-going       accepted for older scripts: reading on is the default\n"
    "\n"
    "Messages:\n"
    "  -q, --quiet            no progress bar and no recovery notes\n"
    "  -v, --verbose          also say which code page each drawing is read in\n"
    "  -h, --help             show this help and exit\n"
    "  -V, --version          show the version of dxftext and of the plug-in and exit\n"
    "\n"
    "A progress bar is shown on standard error when it is a terminal and the work takes\n"
    "more than a second. Errors name the file and the reason; the other documents are\n"
    "still read.\n"
    "\n"
    "Exit status: 0 when every document was read to its end, 1 when one was not, 2 on a\n"
    "usage error.\n";

enum class Format { Text, Jsonl, Records };

struct Options {
    std::string plugin;
    std::string encoding = "auto";
    Format format = Format::Text;
    bool all = false;
    int withFilename = -1;  // -1: decided by the number of documents
    bool pluginOnly = false;
    bool fields = false;
    bool metadata = false;
    bool strict = false;
    bool archives = false;  // folder walks take archives too
    bool quiet = false;
    bool verbose = false;
    bool version = false;
    unsigned jobs = 0;  // 0: the number of cores
    double timeout = 0;
    std::vector<std::string> pathLists;
    std::vector<std::string> arguments;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "dxftext: %s\nTry 'dxftext --help' for more information.\n",
                 what.c_str());
    return 2;
}

bool parseCount(const char* text, double* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && *value >= 0;
}

// Parses the command line; returns -1 to go on, or an exit status.
int parseOptions(int argc, char** argv, Options* options) {
    enum { NoFilename = 256, PluginOnly, Fields, Metadata, PathsFrom, Archives, Strict, Timeout };
    static const struct option kLong[] = {
        {"format", required_argument, nullptr, 'f'},
        {"records", no_argument, nullptr, 'r'},
        {"encoding", required_argument, nullptr, 'e'},
        {"all", no_argument, nullptr, 'a'},
        {"with-filename", no_argument, nullptr, 'H'},
        {"no-filename", no_argument, nullptr, NoFilename},
        {"plugin-only", no_argument, nullptr, PluginOnly},
        {"fields", no_argument, nullptr, Fields},
        {"metadata", no_argument, nullptr, Metadata},
        {"jobs", required_argument, nullptr, 'j'},
        {"paths-from", required_argument, nullptr, PathsFrom},
        {"archives", no_argument, nullptr, Archives},
        {"strict", no_argument, nullptr, Strict},
        {"timeout", required_argument, nullptr, Timeout},
        {"plugin", required_argument, nullptr, 'p'},
        {"keep-going", no_argument, nullptr, 'k'},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int option;
    double number;
    while ((option = getopt_long(argc, argv, ":f:re:aHj:p:kqvhV", kLong, nullptr)) != -1) {
        switch (option) {
            case 'f':
                if (std::strcmp(optarg, "text") == 0) {
                    options->format = Format::Text;
                } else if (std::strcmp(optarg, "jsonl") == 0) {
                    options->format = Format::Jsonl;
                } else {
                    return usageError(std::string("unknown format '") + optarg +
                                      "' (text or jsonl)");
                }
                break;
            case 'r': options->format = Format::Records; break;
            case 'e': options->encoding = optarg; break;
            case 'a': options->all = true; break;
            case 'H': options->withFilename = 1; break;
            case NoFilename: options->withFilename = 0; break;
            case PluginOnly: options->pluginOnly = true; break;
            case Fields: options->fields = true; break;
            case Metadata: options->metadata = true; break;
            case 'j':
                if (!parseCount(optarg, &number) || number < 1 || number > 1024 ||
                    number != static_cast<unsigned>(number)) {
                    return usageError(std::string("--jobs needs a whole number from 1 to 1024, not '") +
                                      optarg + "'");
                }
                options->jobs = static_cast<unsigned>(number);
                break;
            case PathsFrom: options->pathLists.push_back(optarg); break;
            case Archives: options->archives = true; break;
            case Strict: options->strict = true; break;
            case Timeout:
                if (!parseCount(optarg, &options->timeout) || options->timeout <= 0) {
                    return usageError(std::string("--timeout needs a number of seconds, not '") +
                                      optarg + "'");
                }
                break;
            case 'p': options->plugin = optarg; break;
            case 'k': break;
            case 'q': options->quiet = true; break;
            case 'v': options->verbose = true; break;
            case 'h': std::fputs(kUsage, stdout); return 0;
            case 'V': options->version = true; break;
            case ':':
                return usageError(std::string("option '") + argv[optind - 1] + "' needs a value");
            default:
                return usageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (options->format == Format::Records && (options->fields || options->metadata)) {
        return usageError("--fields and --metadata print text; --records prints the records");
    }
    for (int i = optind; i < argc; ++i) options->arguments.push_back(argv[i]);
    if (options->arguments.empty() && options->pathLists.empty() && !options->version) {
        return usageError("no drawing given");
    }
    return -1;
}

// libwqdxfrdr.so beside this executable, else in the lib folder of its installation, else
// wherever the dynamic loader finds it.
std::string defaultPluginPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return wqhost::findPlugin("", WQ_RELATIVE_LIBDIR);
    return wqhost::findPlugin(
        fs::path(std::string(self, static_cast<size_t>(n))).parent_path().string(),
        WQ_RELATIVE_LIBDIR);
}

// Standard output and error in document order, whatever order the documents finish in:
// the document whose turn it is writes straight through, the others wait in memory. A
// worker does not start a document a window or more ahead of the one being written, so
// the documents waiting take one slot each of a ring of that many, whatever the run.
class OrderedOutput {
  public:
    explicit OrderedOutput(size_t window) : pending_(window) {}

    // Blocks until document `index` may start.
    void waitForTurnWindow(size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        turn_.wait(lock, [&] { return index < current_ + pending_.size(); });
    }

    void write(size_t index, const std::string& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index == current_) {
            // Chunks held back before this document's turn came go out before this one.
            Pending& head = slot(index);
            std::fwrite(head.out.data(), 1, head.out.size(), stdout);
            head.out.clear();
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        } else {
            slot(index).out += bytes;
        }
    }

    // The document's messages follow all of its output, in its turn.
    void finish(size_t index, std::string messages) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot(index).err = std::move(messages);
        slot(index).done = true;
        while (slot(current_).done) {
            Pending& head = slot(current_);
            std::fwrite(head.out.data(), 1, head.out.size(), stdout);
            std::fflush(stdout);
            if (!head.err.empty()) {
                clearProgressLine();
                std::fputs(head.err.c_str(), stderr);
            }
            head = Pending();
            ++current_;
        }
        turn_.notify_all();
    }

    std::mutex& mutex() { return mutex_; }
    // Called with mutex() held, after drawing the progress line.
    void setProgressShown(bool shown) { progressShown_ = shown; }
    void clearProgress() {
        std::lock_guard<std::mutex> lock(mutex_);
        clearProgressLine();
        progressShown_ = false;
    }

  private:
    struct Pending {
        std::string out;
        std::string err;
        bool done = false;
    };

    void clearProgressLine() {
        if (progressShown_) std::fputs("\r\033[K", stderr);
    }
    Pending& slot(size_t index) { return pending_[index % pending_.size()]; }

    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<Pending> pending_;  // document i waits in slot i % size
    size_t current_ = 0;            // the document being written
    bool progressShown_ = false;
};

// Writes one document's output through the ordered output, a chunk at a time, in a
// buffer its thread keeps from one document to the next: grown once, not per document.
class DocumentWriter {
  public:
    static constexpr size_t kChunk = 16 * 1024;
    // Room for a chunk and the line that takes it past kChunk, so it seldom grows.
    static constexpr size_t kBufferBytes = kChunk + kChunk / 2;

    DocumentWriter(OrderedOutput* output, size_t index, std::string* buffer)
        : output_(output), index_(index), buffer_(*buffer) {
        buffer_.clear();
    }
    std::string& buffer() { return buffer_; }
    void maybeFlush() {
        if (buffer_.size() >= kChunk) flush();
    }
    void flush() {
        if (buffer_.empty()) return;
        output_->write(index_, buffer_);
        buffer_.clear();
    }

  private:
    OrderedOutput* output_;
    size_t index_;
    std::string& buffer_;
};

// The documents in order, handed out one at a time to the threads that read them. Only
// the few looked at ahead of time are held. A thread of the feed's own may keep those few
// ready, so that finding the next document (a folder's entries, a member taken out of an
// archive and decompressed) goes on beside the reading instead of between documents.
class Feed {
  public:
    explicit Feed(ItemSource* source) : source_(source) {}
    ~Feed() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wanted_.notify_all();
        if (filler_.joinable()) filler_.join();
    }
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;

    // Looks up to `count` documents ahead; returns how many there are, up to `count`. Only
    // before start().
    size_t lookAhead(size_t count) {
        Item item;
        while (ahead_.size() < count && !ended_) {
            if (source_->next(&item)) {
                ahead_.push_back(std::move(item));
            } else {
                ended_ = true;
            }
        }
        return ahead_.size();
    }

    // From now on `depth` documents are kept ready by a thread of the feed's own; with 0
    // the thread taking a document finds it.
    void start(size_t depth) {
        depth_ = depth;
        if (depth_ > 0 && !ended_) filler_ = std::thread(&Feed::fill, this);
    }

    // The next document and its place in the run; false when there are no more.
    bool take(size_t* index, Item* item) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!filler_.joinable() && ahead_.empty() && !ended_) {
            Item found;
            if (source_->next(&found)) {
                ahead_.push_back(std::move(found));
            } else {
                ended_ = true;
            }
        }
        if (ahead_.empty() && !ended_) {
            ++takersWaiting_;
            ready_.wait(lock, [this] { return !ahead_.empty() || ended_; });
            --takersWaiting_;
        }
        if (ahead_.empty()) return false;
        *item = std::move(ahead_.front());
        ahead_.pop_front();
        *index = next_++;
        // The filling thread is woken once half the documents it found are taken, not for
        // each one: waking a thread costs about what finding a small drawing does.
        const bool wake = fillerWaiting_ && ahead_.size() <= depth_ / 2;
        lock.unlock();
        if (wake) wanted_.notify_one();
        return true;
    }

  private:
    void fill() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            fillerWaiting_ = true;
            wanted_.wait(lock, [this] { return ahead_.size() <= depth_ / 2 || stopping_; });
            fillerWaiting_ = false;
            while (ahead_.size() < depth_ && !stopping_) {
                lock.unlock();
                Item item;
                const bool found = source_->next(&item);
                lock.lock();
                if (found) {
                    ahead_.push_back(std::move(item));
                } else {
                    ended_ = true;
                }
                if (takersWaiting_ > 0) ready_.notify_all();
                if (ended_) return;
            }
        }
    }

    ItemSource* source_;  // read by the filling thread alone once it runs
    std::mutex mutex_;
    std::condition_variable ready_;   // a document was found, or there are no more
    std::condition_variable wanted_;  // the documents ready ran low, or the feed is going
    std::deque<Item> ahead_;
    size_t depth_ = 1;
    size_t next_ = 0;
    bool ended_ = false;     // the source has no more
    bool stopping_ = false;  // the feed is going: the filling thread ends
    bool fillerWaiting_ = false;
    size_t takersWaiting_ = 0;
    std::thread filler_;
};

// What the progress bar shows of the work ahead: counted by a pass of its own over the
// same inputs, which keeps only the sums.
struct WorkAhead {
    std::atomic<size_t> documents{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<bool> counted{false};
};

struct Batch {
    const Options* options;
    const wqhost::PluginLibrary* plugin;
    Feed* feed;
    OrderedOutput* output;
    bool withFilename;
    std::atomic<int64_t> bytesDone{0};
    std::atomic<size_t> documentsDone{0};
    std::atomic<bool> anyFailed{false};
};

// A JSON string, or null.
void appendJsonOptional(std::string* out, const std::optional<std::string>& text) {
    if (text) {
        wqhost::appendJsonString(out, *text);
    } else {
        *out += "null";
    }
}

// A coordinate as the shortest decimal that reads back as the same double, always with a
// point or an exponent, so that a reader of the JSON sees a number of the kind it is.
void appendJsonNumber(std::string* out, double value) {
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
    const std::string_view written(text, static_cast<size_t>(result.ptr - text));
    *out += written;
    if (written.find_first_of(".e") == std::string_view::npos) *out += ".0";
}

void appendMetadataObject(std::string* out, const wqhost::DrawingMetadata& metadata) {
    *out += '{';
    bool first = true;
    metadata.forEach([&](const char* key, const std::string& value) {
        if (!first) *out += ',';
        first = false;
        wqhost::appendJsonString(out, key);
        *out += ':';
        wqhost::appendJsonString(out, value);
    });
    if (!metadata.custom.empty()) {
        *out += first ? "\"custom\":{" : ",\"custom\":{";
        for (size_t i = 0; i < metadata.custom.size(); ++i) {
            if (i > 0) *out += ',';
            wqhost::appendJsonString(out, metadata.custom[i].first);
            *out += ':';
            wqhost::appendJsonString(out, metadata.custom[i].second);
        }
        *out += '}';
    }
    *out += '}';
}

void appendClosingObject(std::string* out, const std::string& file, const char* status,
                         const std::string& message, int64_t entities, int64_t texts,
                         int64_t recoveries, int64_t salvaged,
                         const wqhost::DrawingMetadata& metadata) {
    *out += "{\"file\":";
    wqhost::appendJsonString(out, file);
    *out += ",\"status\":\"";
    *out += status;
    *out += "\",\"message\":";
    wqhost::appendJsonString(out, message);
    *out += ",\"entities\":" + std::to_string(entities) + ",\"texts\":" + std::to_string(texts) +
            ",\"recoveries\":" + std::to_string(recoveries) +
            ",\"salvaged\":" + std::to_string(salvaged) + ",\"metadata\":";
    appendMetadataObject(out, metadata);
    *out += "}\n";
}

// A document from its path, a member of an archive, or standard input read into memory
// (the reader seeks, which a pipe cannot).
Document openDocument(Batch* batch, Item* item) {
    const Options& options = *batch->options;
    wqhost::ReadOptions read;
    read.encoding = options.encoding;
    read.strict = options.strict;
    read.pluginOnly = options.pluginOnly;
    // Plain text needs no names: it is read without the pass that finds them.
    read.structure = options.format == Format::Jsonl || options.fields || options.metadata;
    read.timeoutSeconds = options.timeout;
    read.progress = &batch->bytesDone;
    const wqhost::PluginLibrary& plugin = *batch->plugin;
    if (item->member && item->file.get() < 0) {
        return Document::fromBytes(plugin, item->path, std::move(item->bytes), read);
    }
    if (item->member) {
        // A large file is opened again by its path for the reader and for the host's own
        // pass. The member's temporary file has none, so the path it goes by is its place
        // among this process's descriptors, which the item holds open while it is read.
        return Document::openDescriptor(plugin, ::dup(item->file.get()),
                                        "/proc/self/fd/" + std::to_string(item->file.get()), read);
    }
    if (item->file.get() >= 0) {
        return Document::openDescriptor(plugin, item->file.take(), item->path, read);
    }
    if (item->path != "-") return Document::open(plugin, item->path, read);
    std::string bytes;
    wqhost::readAll(stdin, &bytes, INT32_MAX);
    return Document::fromBytes(plugin, "-", std::move(bytes), read);
}

void writeRecords(Document* document, const std::string& prefix, DocumentWriter* writer) {
    wqhost::RawRecord record;
    while (document->nextRecord(&record)) {
        writer->buffer() += prefix;
        wqhost::appendRecordLine(&writer->buffer(), record.kind, record.bytes);
        writer->maybeFlush();
    }
}

void appendEntityObject(std::string* out, const std::string& file,
                        const wqhost::TextEntity& entity) {
    *out += "{\"file\":";
    wqhost::appendJsonString(out, file);
    *out += ",\"entity\":" + std::to_string(entity.ordinal);
    *out += entity.fromPlugin ? ",\"source\":\"plugin\",\"kind\":" : ",\"source\":\"host\",\"kind\":";
    appendJsonOptional(out, entity.kind != nullptr ? std::optional<std::string>(entity.kind)
                                                   : std::nullopt);
    *out += ",\"layer\":";
    appendJsonOptional(out, entity.layer);
    *out += ",\"handle\":";
    appendJsonOptional(out, entity.handle);
    *out += ",\"block\":";
    appendJsonOptional(out, entity.block);
    *out += ",\"space\":";
    *out += entity.space == nullptr ? "null" : std::string("\"") + entity.space + "\"";
    *out += ",\"tag\":";
    appendJsonOptional(out, entity.tag);
    *out += ",\"insert\":";
    if (entity.insert) {
        *out += "{\"handle\":";
        appendJsonOptional(out, entity.insert->handle);
        *out += ",\"block\":";
        appendJsonOptional(out, entity.insert->block);
        *out += '}';
    } else {
        *out += "null";
    }
    *out += ",\"position\":";
    if (entity.position) {
        for (size_t i = 0; i < 3; ++i) {
            *out += i == 0 ? '[' : ',';
            appendJsonNumber(out, (*entity.position)[i]);
        }
        *out += ']';
    } else {
        *out += "null";
    }
    *out += ",\"texts\":[";
    for (size_t i = 0; i < entity.texts.size(); ++i) {
        if (i > 0) *out += ',';
        wqhost::appendJsonString(out, entity.texts[i]);
    }
    *out += "]}\n";
}

void writeEntities(Document* document, const Options& options, const std::string& file,
                   const std::string& prefix, DocumentWriter* writer) {
    wqhost::TextEntity entity;
    std::string& out = writer->buffer();
    while (document->next(&entity)) {
        if (options.format == Format::Jsonl) {
            appendEntityObject(&out, file, entity);
        } else if (options.fields || options.metadata) {
            const std::string* value = entity.fieldValue();
            if (options.fields && value != nullptr && (options.all || !value->empty())) {
                out += prefix;
                out += *entity.tag;
                out += '=';
                out += *value;
                out += '\n';
            }
        } else {
            for (const std::string& text : entity.texts) {
                if (text.empty() && !options.all) continue;
                out += prefix;
                out += text;
                out += '\n';
            }
        }
        writer->maybeFlush();
    }
    if (options.format == Format::Text && options.metadata) {
        const wqhost::DrawingMetadata& metadata = document->metadata();
        metadata.forEach([&](const char* key, const std::string& value) {
            out += prefix + key + ": " + value + '\n';
        });
        for (const auto& [name, value] : metadata.custom) {
            out += prefix + "custom." + name + ": " + value + '\n';
        }
    }
}

// What goes to standard error once the document is done: why it failed, how often it was
// recovered, and with --verbose the code page its text was read in. `name` is the
// document's as the output gives it: a member of an archive is read under another.
std::string documentMessages(const Document& document, const std::string& name,
                             const Options& options) {
    std::string messages;
    const DocumentStatus status = document.status();
    const bool read = status == DocumentStatus::Ok || status == DocumentStatus::Recovered;
    if (!read || (status == DocumentStatus::Recovered && !options.quiet)) {
        messages += "dxftext: " + name + ": " + document.message() + "\n";
    }
    if (options.verbose && document.binary()) {
        messages += "dxftext: " + document.name() + ": binary DXF, read as the ASCII DXF it converts to\n";
    }
    const wqhost::DocumentEncoding& encoding = document.encoding();
    if (options.verbose && options.format != Format::Records && !encoding.codePage.empty() &&
        !encoding.forced) {
        messages += "dxftext: " + name + ": text read as " + encoding.codePage +
                    (encoding.fromHeader ? " (from the header)"
                                         : " (the header names no code page: the default)") +
                    "\n";
    }
    return messages;
}

void readDocument(Batch* batch, size_t index, Item& item, std::string* buffer) {
    const Options& options = *batch->options;
    DocumentWriter writer(batch->output, index, buffer);
    const bool jsonl = options.format == Format::Jsonl;
    if (!item.error.empty()) {  // a folder with no drawings, say: reported in its place
        if (jsonl) {
            appendClosingObject(&writer.buffer(), item.path, item.refused ? "refused" : "failed",
                                item.error, 0, 0, 0, 0, wqhost::DrawingMetadata());
        }
        writer.flush();
        batch->anyFailed = true;
        batch->output->finish(index, "dxftext: " + item.path + ": " + item.error + "\n");
        return;
    }
    Document document = openDocument(batch, &item);
    const std::string prefix = batch->withFilename ? item.path + ":" : std::string();
    if (options.format == Format::Records) {
        writeRecords(&document, prefix, &writer);
    } else {
        writeEntities(&document, options, item.path, prefix, &writer);
    }
    const DocumentStatus status = document.status();
    if (status != DocumentStatus::Ok && status != DocumentStatus::Recovered) {
        batch->anyFailed = true;
    }
    if (jsonl) {
        appendClosingObject(&writer.buffer(), item.path, wqhost::statusName(status),
                            document.message(), document.entities(), document.texts(),
                            document.recoveries(), document.salvaged(), document.metadata());
    }
    writer.flush();
    batch->output->finish(index, documentMessages(document, item.path, options));
}

void work(Batch* batch) {
    std::string buffer;
    buffer.reserve(DocumentWriter::kBufferBytes);
    size_t index;
    Item item;
    while (batch->feed->take(&index, &item)) {
        batch->output->waitForTurnWindow(index);
        readDocument(batch, index, item, &buffer);
        batch->documentsDone.fetch_add(1);
    }
}

// Counts the documents and their bytes for the progress bar, until done or stopped.
void countAhead(const std::vector<std::string>* arguments, const std::vector<PathList>* lists,
                bool archives, WorkAhead* ahead, const std::atomic<bool>* stop) {
    ItemSource source(*arguments, *lists, ItemSource::Sizes, archives);
    Item item;
    while (!stop->load() && source.next(&item)) {
        ahead->bytes += item.size;
        ++ahead->documents;
    }
    ahead->counted = true;
}

std::string formatSeconds(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

// Redraws the progress line every fifth of a second once the work has taken a second.
void showProgress(Batch* batch, const WorkAhead* ahead, const std::atomic<bool>* stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    while (!stop->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (elapsed < 1.0 || stop->load()) continue;
        const double mib = static_cast<double>(batch->bytesDone.load()) / (1 << 20);
        const double totalMib = static_cast<double>(ahead->bytes.load()) / (1 << 20);
        // While the work ahead is still being counted, its figures are the least it is.
        const char* more = ahead->counted.load() ? "" : "+";
        const double rate = mib / elapsed;
        const double fraction = totalMib > 0 ? std::min(1.0, mib / totalMib) : 0;
        char bar[21];
        const int filled = static_cast<int>(fraction * 20);
        for (int i = 0; i < 20; ++i) bar[i] = i < filled ? '#' : '.';
        bar[20] = '\0';
        const std::string left =
            rate > 0 && totalMib > mib ? formatSeconds((totalMib - mib) / rate) : "-";
        std::lock_guard<std::mutex> lock(batch->output->mutex());
        std::fprintf(stderr,
                     "\r[%s] %zu/%zu%s documents  %.1f/%.1f%s MiB  %.1f MiB/s  %s left\033[K", bar,
                     batch->documentsDone.load(), ahead->documents.load(), more, mib, totalMib,
                     more, rate, left.c_str());
        std::fflush(stderr);
        batch->output->setProgressShown(true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parseOptions(argc, argv, &options);
    if (parsed >= 0) return parsed;

    const std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    wqhost::PluginLibrary plugin;
    std::string error;
    if (!plugin.load(pluginPath, &error)) {
        std::fprintf(stderr, "dxftext: cannot load the plug-in: %s\n", error.c_str());
        return 1;
    }
    if (options.version) {
        std::printf("dxftext %s\nplug-in %s, _lib_version %d\n", WQ_VERSION, pluginPath.c_str(),
                    static_cast<int>(plugin.entries().version));
        return 0;
    }
    if (options.encoding != "auto" && options.encoding != "raw") {
        wqhost::TextConverter probe;
        if (!probe.open(options.encoding, &error)) {
            return usageError("unknown encoding '" + options.encoding + "'");
        }
    }

    // Each thread's document, and those found ahead of it, are held open: room for a
    // thousand jobs' worth, as far as the system allows.
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::vector<PathList> lists;
    size_t standardInput = static_cast<size_t>(
        std::count(options.arguments.begin(), options.arguments.end(), "-"));
    for (const std::string& name : options.pathLists) {
        lists.emplace_back();
        if (!lists.back().open(name, &error)) {
            std::fprintf(stderr, "dxftext: %s\n", error.c_str());
            return 1;
        }
        standardInput += (name == "-") + lists.back().countStandardInput();
    }
    if (standardInput > 1) return usageError("standard input can be read only once");

    ItemSource source(options.arguments, lists, ItemSource::Open, options.archives);
    Feed feed(&source);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    unsigned jobs = options.jobs != 0 ? options.jobs : cores;
    // Lines start with the file name by default when there is more than one document, and
    // no more threads start than there are documents: both known from a look a few ahead.
    const size_t seen = feed.lookAhead(std::max<size_t>(2, jobs));
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(1, seen)));
    OrderedOutput output(4 * static_cast<size_t>(jobs) + 16);
    Batch batch;
    batch.options = &options;
    batch.plugin = &plugin;
    batch.feed = &feed;
    batch.output = &output;
    batch.withFilename = options.withFilename >= 0 ? options.withFilename == 1 : seen > 1;
    // With a core to spare, a thread of the feed's own keeps up to eight documents ready for
    // each reading thread, taking an archive's members out beside the reading; with every core
    // reading, it would only take turns with them, and each reading thread finds its next
    // document itself.
    feed.start(jobs < cores ? 8 * static_cast<size_t>(jobs) : 0);

    std::atomic<bool> stop{false};
    WorkAhead ahead;
    std::thread progressThread, countThread;
    if (!options.quiet && isatty(STDERR_FILENO)) {
        countThread =
            std::thread(countAhead, &options.arguments, &lists, options.archives, &ahead, &stop);
        progressThread = std::thread(showProgress, &batch, &ahead, &stop);
    }
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < jobs; ++i) workers.emplace_back(work, &batch);
    work(&batch);
    for (std::thread& worker : workers) worker.join();
    if (progressThread.joinable()) {
        stop = true;
        countThread.join();
        progressThread.join();
        output.clearProgress();
    }
    std::fflush(stdout);
    if (std::ferror(stdout)) {
        std::fprintf(stderr, "dxftext: cannot write the output: %s\n", std::strerror(errno));
        return 1;
    }
    return batch.anyFailed ? 1 : 0;
}
