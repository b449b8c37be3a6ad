// dxftext: prints the text of ASCII DXF drawings, one text value per line, by loading the
// wqdxfrdr plug-in with dlopen and driving it through its three entry points.
#include <iconv.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileStream.hpp"
#include "MallocServices.hpp"
#include "MemoryStream.hpp"
#include "Plugin.hpp"

namespace {

constexpr const char* kUsage =
    "usage: dxftext [OPTIONS] FILE...\n"
    "Prints the text of the TEXT, ATTDEF, ATTRIB and BLOCK entities of ASCII DXF drawings,\n"
    "one text value per line, in file order. FILE - reads standard input.\n"
    "\n"
    "  -e, --encoding NAME  convert the text from NAME (as iconv names it: SHIFT_JIS, CP949,\n"
    "                       CP1252, ...) to UTF-8; by default bytes are written as they are\n"
    "  -a, --all            print empty text values too (as empty lines)\n"
    "  -H, --with-filename  start each line with the file name and a colon (the default\n"
    "                       when more than one file is given)\n"
    "  -r, --records        print every record the plug-in delivers instead: S (start of an\n"
    "                       entity), T <hex> (a text value), E (end), D (end of document)\n"
    "  -k, --keep-going     after an entity the reader cannot read, go on with the rest of\n"
    "                       the drawing (up to 100 such errors a drawing) instead of stopping\n"
    "  -p, --plugin PATH    the plug-in to load (default: libwqdxfrdr.so beside dxftext)\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the plug-in's interface version\n"
    "\n"
    "Exit status: 0 when every drawing was read to its end, 1 when one could not be read,\n"
    "2 on a usage error.\n";

// With --keep-going, a drawing that keeps failing (a stream that stopped working) is
// given up after this many errors.
constexpr int kMaxErrors = 100;

struct Options {
    const char* plugin = nullptr;
    const char* encoding = nullptr;
    bool all = false;
    bool records = false;
    bool keepGoing = false;
    int withFilename = -1;  // -1: decided by the number of files
    bool version = false;
    std::vector<const char*> files;
};

// A stream whose error reports land in a buffer, so they can be printed with the file name.
struct ReportingStream {
    wqhost::FileStream file;  // first: the plug-in's HostStream* is this object
    wqhost::MemoryStream memory;
    char message[256];
};

void keepReport(HostStream* stream, const char* message, int32_t) {
    // The table used, file or memory, carries its ReportingStream in host word 0.
    ReportingStream* owner = reinterpret_cast<ReportingStream*>(stream->hostWords0to7[0]);
    std::snprintf(owner->message, sizeof owner->message, "%s", message ? message : "");
}

int usageError(const char* what, const char* detail) {
    std::fprintf(stderr, "dxftext: %s%s\nTry 'dxftext --help' for more information.\n", what,
                 detail ? detail : "");
    return 2;
}

// Parses the command line; returns -1 to go on, or an exit status.
int parseOptions(int argc, char** argv, Options* options) {
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (onlyFiles || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            options->files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            onlyFiles = true;
        } else if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!std::strcmp(arg, "-V") || !std::strcmp(arg, "--version")) {
            options->version = true;
        } else if (!std::strcmp(arg, "-a") || !std::strcmp(arg, "--all")) {
            options->all = true;
        } else if (!std::strcmp(arg, "-k") || !std::strcmp(arg, "--keep-going")) {
            options->keepGoing = true;
        } else if (!std::strcmp(arg, "-r") || !std::strcmp(arg, "--records")) {
            options->records = true;
        } else if (!std::strcmp(arg, "-H") || !std::strcmp(arg, "--with-filename")) {
            options->withFilename = 1;
        } else if (!std::strcmp(arg, "-p") || !std::strcmp(arg, "--plugin") ||
                   !std::strcmp(arg, "-e") || !std::strcmp(arg, "--encoding")) {
            if (i + 1 >= argc) return usageError("option needs a value: ", arg);
            (arg[1] == 'p' || arg[2] == 'p' ? options->plugin : options->encoding) = argv[++i];
        } else if (!std::strncmp(arg, "--plugin=", 9)) {
            options->plugin = arg + 9;
        } else if (!std::strncmp(arg, "--encoding=", 11)) {
            options->encoding = arg + 11;
        } else {
            return usageError("unknown option: ", arg);
        }
    }
    if (options->files.empty() && !options->version) return usageError("no drawing given", nullptr);
    return -1;
}

// libwqdxfrdr.so in the directory of this executable.
std::string defaultPluginPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "libwqdxfrdr.so";
    std::string path(self, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + "libwqdxfrdr.so";
}

bool readAll(std::FILE* in, std::string* out) {
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) out->append(chunk, got);
    return !std::ferror(in);
}

// Why a refused document was refused, when its first bytes tell: the reader's own
// messages name no cause ("Memory allocation error" for an empty file, "Illigal DXF file"
// for a binary one). Null when nothing can be said.
const char* refusalHint(const char* name, const std::string& stdinBytes) {
    char head[24] = {0};
    size_t got = 0;
    if (std::strcmp(name, "-") == 0) {
        got = std::min(sizeof head, stdinBytes.size());
        std::memcpy(head, stdinBytes.data(), got);
    } else if (std::FILE* f = std::fopen(name, "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    }
    if (got == 0) return "the file is empty";
    if (got >= 18 && std::memcmp(head, "AutoCAD Binary DXF", 18) == 0) {
        return "a binary DXF drawing: only ASCII DXF is read";
    }
    if (got >= 6 && std::memcmp(head, "AC10", 4) == 0) {
        return "a DWG drawing, not DXF";
    }
    return nullptr;
}

class Output {
  public:
    Output(const Options& options, iconv_t converter) : options_(options), converter_(converter) {}

    void prefix(const char* name) {
        if (options_.withFilename > 0) std::printf("%s:", name);
    }

    void text(const char* name, const char* bytes, size_t length) {
        if (length == 0 && !options_.all) return;
        prefix(name);
        if (converter_ == reinterpret_cast<iconv_t>(-1)) {
            std::fwrite(bytes, 1, length, stdout);
        } else {
            writeConverted(bytes, length);
        }
        std::putchar('\n');
    }

  private:
    // Bytes the encoding cannot take are written as \xNN, so nothing is dropped silently.
    void writeConverted(const char* bytes, size_t length) {
        iconv(converter_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes);
        size_t inLeft = length;
        while (inLeft > 0) {
            char buffer[4096];
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(converter_, &in, &inLeft, &out, &outLeft);
            std::fwrite(buffer, 1, sizeof buffer - outLeft, stdout);
            if (result == static_cast<size_t>(-1) && errno != E2BIG) {
                std::printf("\\x%02x", static_cast<unsigned char>(*in));
                ++in;
                --inLeft;
                iconv(converter_, nullptr, nullptr, nullptr, nullptr);
            }
        }
    }

    const Options& options_;
    iconv_t converter_;
};

// Reads one drawing; returns true when it was read to its end-of-document record.
bool extract(const wqhost::Plugin& plugin, const char* name, Output* output,
             const Options& options) {
    ReportingStream stream;
    std::memset(&stream, 0, sizeof stream);
    std::string stdinBytes;
    HostStream* table;
    if (std::strcmp(name, "-") == 0) {
        // The plug-in seeks, which a pipe cannot: standard input is read into memory first.
        if (!readAll(stdin, &stdinBytes) || stdinBytes.size() > INT32_MAX) {
            std::fprintf(stderr, "dxftext: -: cannot read standard input\n");
            return false;
        }
        wqhost::initMemoryStream(&stream.memory, stdinBytes.data(),
                                 static_cast<int32_t>(stdinBytes.size()));
        table = &stream.memory.table;
    } else {
        struct stat info;
        if (stat(name, &info) != 0) {
            std::fprintf(stderr, "dxftext: %s: %s\n", name, std::strerror(errno));
            return false;
        }
        if (S_ISDIR(info.st_mode)) {
            std::fprintf(stderr, "dxftext: %s: is a directory\n", name);
            return false;
        }
        if (info.st_size > INT32_MAX) {
            std::fprintf(stderr, "dxftext: %s: larger than 2 GiB, which DXF offsets cannot span\n",
                         name);
            return false;
        }
        wqhost::initFileStream(&stream.file, name);
        table = &stream.file.table;
    }
    table->hostWords0to7[0] = reinterpret_cast<uintptr_t>(&stream);
    table->reportError = keepReport;

    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    HostParams params;
    wqhost::initHostParams(&params, &services);

    bool complete = false;
    DxfSource* source = plugin.startSrcDXF(table, &params);
    if (source == nullptr) {
        const int openError = stream.file.lastError;
        if (openError != 0) {
            std::fprintf(stderr, "dxftext: %s: %s\n", name, std::strerror(openError));
        } else {
            const char* hint = refusalHint(name, stdinBytes);
            std::fprintf(stderr, "dxftext: %s: %s%s%s%s\n", name,
                         stream.message[0] ? stream.message : "the reader could not start",
                         hint ? " (" : "", hint ? hint : "", hint ? ")" : "");
        }
    } else {
        int errors = 0;
        for (;;) {
            OutputRecord* record = plugin.getDXFobject(source);
            if (record == nullptr) {
                // After an error the reader still holds what it queued before it, and a
                // further call resumes after the group it could not read.
                if (options.keepGoing && ++errors < kMaxErrors) continue;
                std::fprintf(stderr,
                             "dxftext: %s: reading stopped at an entity the reader cannot read "
                             "(an unknown group code, or a read error)%s\n",
                             name, options.keepGoing ? "" : "; -k reads on past it");
                break;
            }
            const int32_t kind = wqhost::recordKind(record);
            if (options.records) {
                output->prefix(name);
                if (kind == RecordTextStart)
                    std::puts("S");
                else if (kind == RecordTextEnd)
                    std::puts("E");
                else if (kind == RecordEndOfDocument)
                    std::puts("D");
                else if (kind == RecordText) {
                    std::fputc('T', stdout);
                    if (record->textLength > 0) std::fputc(' ', stdout);
                    for (intptr_t i = 0; i < record->textLength; ++i) {
                        std::printf("%02x", static_cast<unsigned char>(record->text[i]));
                    }
                    std::fputc('\n', stdout);
                }
            } else if (kind == RecordText) {
                output->text(name, record->text, static_cast<size_t>(record->textLength));
            }
            wqhost::releaseRecord(&services, record);
            if (kind == RecordEndOfDocument) {
                complete = errors == 0;
                if (errors > 0) {
                    std::fprintf(stderr,
                                 "dxftext: %s: read to its end past %d entit%s the reader "
                                 "could not read\n",
                                 name, errors, errors == 1 ? "y" : "ies");
                }
                break;
            }
        }
        plugin.shutDownDXFsrc(source);
    }
    if (table == &stream.file.table) wqhost::finishFileStream(&stream.file);
    wqhost::finishMallocServices(&services);
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parseOptions(argc, argv, &options);
    if (parsed >= 0) return parsed;
    if (options.withFilename < 0) options.withFilename = options.files.size() > 1 ? 1 : 0;

    const std::string pluginPath = options.plugin ? options.plugin : defaultPluginPath();
    wqhost::Plugin plugin;
    char error[512];
    if (!wqhost::loadPlugin(&plugin, pluginPath.c_str(), error, sizeof error)) {
        std::fprintf(stderr, "dxftext: cannot load the plug-in: %s\n", error);
        return 1;
    }
    if (options.version) {
        std::printf("dxftext, plug-in %s, interface version %d\n", pluginPath.c_str(),
                    static_cast<int>(plugin.version));
        if (options.files.empty()) {
            unloadPlugin(&plugin);
            return 0;
        }
    }
    iconv_t converter = reinterpret_cast<iconv_t>(-1);
    if (options.encoding != nullptr) {
        converter = iconv_open("UTF-8", options.encoding);
        if (converter == reinterpret_cast<iconv_t>(-1)) {
            unloadPlugin(&plugin);
            return usageError("unknown encoding: ", options.encoding);
        }
    }
    Output output(options, converter);
    int status = 0;
    for (const char* name : options.files) {
        if (!extract(plugin, name, &output, options)) status = 1;
        std::fflush(stdout);
    }
    if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
    unloadPlugin(&plugin);
    return status;
}
