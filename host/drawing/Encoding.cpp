// Finds a drawing's code page in its header and converts text values to UTF-8: ASCII is
// copied as it is, \U+XXXX escapes decoded here, everything else passed to iconv.
#include "Encoding.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "GroupLines.hpp"
#include "Json.hpp"

namespace wqhost {
namespace {

using lines::trimmed;

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
// Longest character of any code page iconv knows that a drawing may use (GB18030 has
// four bytes); an incomplete character is extended this far before it counts as bad.
constexpr size_t kLongestCharacter = 8;
// The first version that writes its text in UTF-8 (AutoCAD 2007's AC1021).
constexpr int kFirstUtf8Version = 1021;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

// Group pairs from the lines of a drawing prefix. A line counts only with its line end:
// the last line of a prefix may have been cut anywhere.
class PairReader {
  public:
    PairReader(const char* bytes, size_t size) : p_(bytes), n_(size) {
        if (n_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) i_ = 3;
    }

    // The next pair; false at the end of the prefix or at a code line that is no number.
    bool next(int* code, std::string_view* value) {
        std::string_view codeLine;
        if (!nextLine(&codeLine) || !nextLine(value)) return false;
        *code = lines::parseCode(codeLine);
        *value = lines::trimmed(*value);
        return *code != lines::kNotACode;
    }

    // True once a line was cut off by the end of the prefix: more bytes could read on.
    bool ranOut() const { return ranOut_; }

  private:
    bool nextLine(std::string_view* line) {
        size_t end = i_;
        while (end < n_ && p_[end] != '\n' && p_[end] != '\r') ++end;
        if (end == n_) {
            ranOut_ = true;
            return false;
        }
        *line = std::string_view(p_ + i_, end - i_);
        i_ = end + 1;
        if (p_[end] == '\r' && i_ < n_ && p_[i_] == '\n') ++i_;
        return true;
    }

    const char* p_;
    size_t n_;
    size_t i_ = 0;
    bool ranOut_ = false;
};

// The release number of an "ACnnnn" version, or 0.
int versionNumber(std::string_view acadVersion) {
    if (acadVersion.size() < 3 || upper(acadVersion[0]) != 'A' || upper(acadVersion[1]) != 'C')
        return 0;
    int number = 0;
    const char* end = acadVersion.data() + acadVersion.size();
    const auto parsed = std::from_chars(acadVersion.data() + 2, end, number);
    return parsed.ec == std::errc() && parsed.ptr == end ? number : 0;
}

struct CodePageName {
    std::string_view dxf;  // as drawings write it, in upper case
    const char* iconv;
};

// The names the drawing programs write; the test checks that iconv opens every one.
constexpr CodePageName kCodePages[] = {
    {"ANSI_874", "CP874"},
    {"ANSI_932", "CP932"},
    {"ANSI_936", "CP936"},
    {"ANSI_949", "CP949"},
    {"ANSI_950", "CP950"},
    {"ANSI_1250", "CP1250"},
    {"ANSI_1251", "CP1251"},
    {"ANSI_1252", "CP1252"},
    {"ANSI_1253", "CP1253"},
    {"ANSI_1254", "CP1254"},
    {"ANSI_1255", "CP1255"},
    {"ANSI_1256", "CP1256"},
    {"ANSI_1257", "CP1257"},
    {"ANSI_1258", "CP1258"},
    {"ANSI_1361", "JOHAB"},
    {"DOS437", "CP437"},
    {"DOS850", "CP850"},
    {"DOS852", "CP852"},
    {"DOS855", "CP855"},
    {"DOS857", "CP857"},
    {"DOS860", "CP860"},
    {"DOS861", "CP861"},
    {"DOS863", "CP863"},
    {"DOS864", "CP864"},
    {"DOS865", "CP865"},
    {"DOS866", "CP866"},
    {"DOS869", "CP869"},
    {"DOS932", "CP932"},
    {"ISO8859-1", "ISO-8859-1"},
    {"ISO8859-2", "ISO-8859-2"},
    {"ISO8859-3", "ISO-8859-3"},
    {"ISO8859-4", "ISO-8859-4"},
    {"ISO8859-5", "ISO-8859-5"},
    {"ISO8859-6", "ISO-8859-6"},
    {"ISO8859-7", "ISO-8859-7"},
    {"ISO8859-8", "ISO-8859-8"},
    {"ISO8859-9", "ISO-8859-9"},
    {"ISO8859-10", "ISO-8859-10"},
    {"ISO8859-13", "ISO-8859-13"},
    {"ISO8859-15", "ISO-8859-15"},
    {"MACINTOSH", "MACINTOSH"},
    {"BIG5", "CP950"},
    {"GB2312", "CP936"},
    {"KSC5601", "CP949"},
    {"JOHAB", "JOHAB"},
    {"ASCII", "CP1252"},
    {"UTF-8", "UTF-8"},
    {"UTF8", "UTF-8"},
};

// The Unicode value of four hex digits at p, or -1.
long hexQuad(const unsigned char* p) {
    long value = 0;
    for (int k = 0; k < 4; ++k) {
        const int digit = lines::hexValue(static_cast<char>(p[k]));
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The value of a \U+XXXX escape at p, or -1 when the n bytes there do not start with one.
long escapeAt(const unsigned char* p, size_t n) {
    constexpr size_t kEscapeBytes = 7;
    if (n < kEscapeBytes || p[0] != '\\' || p[1] != 'U' || p[2] != '+') return -1;
    return hexQuad(p + 3);
}

// Decodes the escape at p (p[0] is a backslash) into *out; returns the bytes it took,
// 0 when there is no escape. A surrogate pair is written as two escapes in a row.
size_t decodeEscape(const unsigned char* p, size_t n, std::string* out) {
    constexpr size_t kEscapeBytes = 7;
    const long first = escapeAt(p, n);
    if (first < 0) return 0;
    if (first >= 0xD800 && first <= 0xDBFF) {
        const long second = escapeAt(p + kEscapeBytes, n - kEscapeBytes);
        if (second >= 0xDC00 && second <= 0xDFFF) {
            appendCodePoint(
                out, static_cast<char32_t>(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00)));
            return 2 * kEscapeBytes;
        }
    }
    if (first == 0 || (first >= 0xD800 && first <= 0xDFFF)) {
        out->append(kReplacement, 3);
    } else {
        appendCodePoint(out, static_cast<char32_t>(first));
    }
    return kEscapeBytes;
}

}  // namespace

DrawingEncoding scanHeader(const char* bytes, size_t size) {
    DrawingEncoding found;
    PairReader reader(bytes, bytes == nullptr ? 0 : size);
    int code = 0;
    std::string_view value;
    bool inHeader = false;
    std::string_view variable;  // the header variable whose value comes next
    while (reader.next(&code, &value)) {
        if (!inHeader) {
            if (code != 0 || !sameName(value, "SECTION")) continue;  // comments before it
            inHeader = reader.next(&code, &value) && code == 2 && sameName(value, "HEADER");
            if (!inHeader) break;  // the drawing has no header at its start
        } else if (code == 0) {
            break;  // ENDSEC, or a header cut short by the next section
        } else if (code == 9) {
            variable = value;
        } else if (!variable.empty()) {
            if (sameName(variable, "$ACADVER")) found.acadVersion = std::string(value);
            if (sameName(variable, "$DWGCODEPAGE")) found.dwgCodePage = std::string(value);
        }
    }
    found.settled = !reader.ranOut();
    if (versionNumber(found.acadVersion) >= kFirstUtf8Version) {
        found.codePage = "UTF-8";
    } else if (!found.dwgCodePage.empty()) {
        found.codePage = iconvNameForCodePage(found.dwgCodePage);
    }
    found.fromHeader = !found.codePage.empty();
    if (!found.fromHeader) found.codePage = "CP1252";
    return found;
}

std::string iconvNameForCodePage(std::string_view dwgCodePage) {
    const std::string_view name = trimmed(dwgCodePage);
    for (const CodePageName& entry : kCodePages) {
        if (sameName(name, entry.dxf)) return entry.iconv;
    }
    return std::string();
}

TextConverter::TextConverter() : cd_(kNoConverter) {
    for (size_t b = 0x80; b < stop_.size(); ++b) stop_[b] = true;
    stop_['\\'] = true;
}

TextConverter::~TextConverter() {
    if (cd_ != kNoConverter) iconv_close(cd_);
}

// A moved-from converter is a new one: its tables must not outlive its descriptor.
TextConverter::TextConverter(TextConverter&& other) noexcept : TextConverter() { swap(other); }

TextConverter& TextConverter::operator=(TextConverter&& other) noexcept {
    TextConverter taken(std::move(other));
    swap(taken);
    return *this;  // what this converter held is closed with `taken`
}

void TextConverter::swap(TextConverter& other) noexcept {
    std::swap(cd_, other.cd_);
    // Copied whole: std::swap of an array trades its 256 elements one by one, twice for
    // each document.
    const std::array<bool, 256> stop = stop_;
    stop_ = other.stop_;
    other.stop_ = stop;
    std::swap(backslashIsAscii_, other.backslashIsAscii_);
    buffer_.swap(other.buffer_);
    std::swap(buffered_, other.buffered_);
    singleBytes_.swap(other.singleBytes_);
}

bool TextConverter::open(const std::string& from, std::string* error) {
    if (sameName(from, "UTF-8") || sameName(from, "UTF8")) {
        *this = TextConverter();
        return true;
    }
    const TextConverter* known = learned(from, error);
    if (known == nullptr) return false;
    TextConverter made;
    // A single-byte code page converts from the learned table alone: no descriptor, so a
    // document costs no iconv_open and none of the buffers iconv makes for one.
    if (known->singleBytes_ == nullptr && !made.openDescriptor(from, error)) return false;
    made.stop_ = known->stop_;
    made.backslashIsAscii_ = known->backslashIsAscii_;
    made.singleBytes_ = known->singleBytes_;
    *this = std::move(made);
    return true;
}

// Opening a converter learns how each byte of the code page converts, some 400 iconv
// calls, and iconv loads the code page's module again whenever no descriptor holds it: per
// document, that was 8% of the time of a batch of small drawings. So the first converter
// opened from a name is kept for the life of the process: later ones copy what it learned,
// and for a multibyte code page its descriptor keeps the module loaded. One a name (a
// few dozen names in practice), guarded for dxftext's threads, never freed.
const TextConverter* TextConverter::learned(const std::string& from, std::string* error) {
    static std::mutex guard;
    static auto* const kept = new std::map<std::string, std::unique_ptr<TextConverter>>();
    const std::lock_guard<std::mutex> hold(guard);
    auto found = kept->find(from);
    if (found != kept->end()) return found->second.get();
    auto made = std::make_unique<TextConverter>();
    if (!made->learn(from, error)) return nullptr;
    return kept->emplace(from, std::move(made)).first->second.get();
}

// iconv's descriptor and the output buffer; false, with iconv's reason, when iconv does not
// know the name.
bool TextConverter::openDescriptor(const std::string& from, std::string* error) {
    cd_ = iconv_open("UTF-8", from.c_str());
    if (cd_ == kNoConverter) {
        if (error != nullptr) {
            *error = "iconv cannot convert from \"" + from + "\": " + std::strerror(errno);
        }
        return false;
    }
    buffer_.resize(kBufferBytes);
    return true;
}

bool TextConverter::learn(const std::string& from, std::string* error) {
    TextConverter made;
    if (!made.openDescriptor(from, error)) return false;
    // Which ASCII bytes stand for themselves decides what the fast path may copy. In
    // SHIFT_JIS 0x5C is the yen sign and 0x7E the overline; in UTF-16 or ISO-2022-JP a
    // lone ASCII byte is no character at all, so the text could never be read as a DXF.
    for (unsigned char b = 0; b < 0x80; ++b) {
        std::string single;
        made.convertRun(&b, 1, 0, &single);
        if (single == kReplacement) {
            if (error != nullptr) *error = "\"" + from + "\" is not an ASCII-based code page";
            return false;
        }
        made.stop_[b] = single.size() != 1 || static_cast<unsigned char>(single[0]) != b;
    }
    made.backslashIsAscii_ = !made.stop_['\\'];
    made.stop_['\\'] = true;
    made.buildSingleByteTable();
    // A multibyte code page keeps its descriptor open, and with it iconv's module loaded
    // for the converters opened later; a single-byte one needs iconv no more.
    if (made.singleBytes_ != nullptr) {
        iconv_close(made.cd_);
        made.cd_ = kNoConverter;
        made.buffer_ = std::vector<char>();
    }
    *this = std::move(made);
    return true;
}

void TextConverter::toUtf8(std::string_view bytes, std::string* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const size_t start = i;
        while (i < n && !stop_[p[i]]) ++i;
        out->append(bytes.data() + start, i - start);
        if (i == n) break;
        if (p[i] == '\\') {
            const size_t used = decodeEscape(p + i, n - i, out);
            if (used > 0 || backslashIsAscii_) {
                if (used == 0) out->push_back('\\');
                i += used > 0 ? used : 1;
                continue;
            }
        }
        if (singleBytes_ != nullptr) {
            out->append((*singleBytes_)[p[i]]);
            ++i;
        } else if (cd_ == kNoConverter) {
            // UTF-8 sequences are made of bytes from 0x80 up only, so the run ends where
            // the next character starts, even when a sequence in it was cut short.
            const size_t end = i;
            while (i < n && p[i] >= 0x80) ++i;
            appendValidUtf8(out, bytes.substr(end, i - end));
        } else {
            i = convertRun(p, n, i, out);
        }
    }
}

// Fills singleBytes_ when every byte of the code page is a character on its own that
// iconv converts at once, or one it rejects. Most Western drawings have an accented
// letter every few words: a table of iconv's own answers spares two iconv calls for
// each. A lead byte (incomplete alone) or a letter held back to see whether an accent
// follows (CP1258, CP1255) leaves the table empty, and iconv converts every run.
void TextConverter::buildSingleByteTable() {
    auto forms = std::make_shared<std::vector<std::string>>(256);
    for (size_t b = 0; b < forms->size(); ++b) {
        char byte = static_cast<char>(b);
        char* in = &byte;
        size_t inLeft = 1;
        char* to = buffer_.data();
        size_t toLeft = buffer_.size();
        const size_t result = iconv(cd_, &in, &inLeft, &to, &toLeft);
        const int failure = result == static_cast<size_t>(-1) ? errno : 0;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // drops whatever was held back
        if (failure == EILSEQ) {
            (*forms)[b] = kReplacement;
        } else if (failure == 0 && toLeft < buffer_.size()) {
            (*forms)[b].assign(buffer_.data(), buffer_.size() - toLeft);
        } else {
            return;
        }
    }
    singleBytes_ = std::move(forms);
}

// Converts the run of bytes the fast path stopped at, from p[i]: the bytes up to the next
// one it may copy or the next backslash. A two-byte character whose second byte lies
// past the run (Shift-JIS trail bytes go down to 0x40, a backslash among them) shows as
// an incomplete character: the run is then extended by one byte at a time until iconv
// has the whole character, so the main loop resumes where a character starts. Returns
// the index after the last byte consumed.
size_t TextConverter::convertRun(const unsigned char* p, size_t n, size_t i, std::string* out) {
    size_t runEnd = i + 1;
    while (runEnd < n && stop_[p[runEnd]] && p[runEnd] != '\\') ++runEnd;
    size_t end = runEnd;
    while (i < end) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(p + i));  // iconv's type
        size_t inLeft = end - i;
        char* to = buffer_.data() + buffered_;
        size_t toLeft = buffer_.size() - buffered_;
        const size_t result = iconv(cd_, &in, &inLeft, &to, &toLeft);
        const int failure = result == static_cast<size_t>(-1) ? errno : 0;
        buffered_ = buffer_.size() - toLeft;
        i = end - inLeft;
        if (failure == 0) break;
        if (failure == E2BIG) {
            drain(out);
            continue;
        }
        if (failure == EINVAL && end < n && end - i < kLongestCharacter) {
            ++end;
            continue;
        }
        // An invalid byte (EILSEQ), or a character the value ends before completing: one
        // replacement for its first byte. Resetting the state lets the next byte start
        // afresh, and an extension is dropped so that its bytes (a backslash among them)
        // go back to the main loop.
        flushState(out);
        drain(out);
        out->append(kReplacement, 3);
        ++i;
        end = runEnd;
    }
    flushState(out);
    drain(out);
    return i;
}

// Appends what iconv wrote to the buffer and empties it.
void TextConverter::drain(std::string* out) {
    out->append(buffer_.data(), buffered_);
    buffered_ = 0;
}

// Writes what a stateful conversion holds back (CP1258 keeps a base letter until it
// knows whether a combining accent follows) and returns iconv to its initial state.
void TextConverter::flushState(std::string* out) {
    for (;;) {
        char* to = buffer_.data() + buffered_;
        size_t toLeft = buffer_.size() - buffered_;
        const size_t result = iconv(cd_, nullptr, nullptr, &to, &toLeft);
        buffered_ = buffer_.size() - toLeft;
        if (result != static_cast<size_t>(-1) || errno != E2BIG || buffered_ == 0) return;
        drain(out);
    }
}

}  // namespace wqhost
