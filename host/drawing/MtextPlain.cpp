// MTEXT values made plain: one pass over the value, without recursion, so that a value of
// any length and any nesting costs linear time and constant stack.
#include "MtextPlain.hpp"

#include <cstddef>

#include "GroupLines.hpp"

namespace wqhost {

namespace {

using lines::hexValue;

// Characters whose byte differs between code pages are left to the caller's converter,
// which already turns the drawing's own `\U+XXXX` escapes into its target encoding.
constexpr std::string_view kNoBreakSpace = "\\U+00A0";
constexpr std::string_view kDegree = "\\U+00B0";
constexpr std::string_view kPlusMinus = "\\U+00B1";
constexpr std::string_view kDiameter = "\\U+2300";
constexpr std::string_view kBackslash = "\\U+005C";

constexpr std::size_t kMultibyteDigits = 4;

// Decodes the `\M+` escape whose backslash is at `at`; returns where the text after it
// starts. The character after `\M+` is the code page digit, which does not change the
// bytes. An escape cut short by the end of the value decodes the digits it has.
std::size_t decodeMultibyte(std::string_view raw, std::size_t at, std::string* out) {
    std::size_t i = at + 4;  // past "\M+" and the code page digit
    unsigned value = 0;
    std::size_t digits = 0;
    for (; i < raw.size() && digits < kMultibyteDigits; ++i, ++digits) {
        const int v = hexValue(raw[i]);
        if (v < 0) break;
        value = (value << 4) | static_cast<unsigned>(v);
    }
    if (digits > 0) {
        out->push_back(static_cast<char>((value >> 8) & 0xFFu));
        out->push_back(static_cast<char>(value & 0xFFu));
    }
    return i < raw.size() ? i : raw.size();
}

bool startsMultibyte(std::string_view raw, std::size_t i) {
    return i + 2 < raw.size() && raw[i] == '\\' && raw[i + 1] == 'M' && raw[i + 2] == '+';
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void appendPlainMtext(std::string_view raw, std::string* out) {
    const std::size_t n = raw.size();
    bool inStack = false;     // between `\S` and its `;`
    bool stackSplit = false;  // the stack's separator has been seen
    std::size_t i = 0;
    while (i < n) {
        const char c = raw[i];
        if (inStack) {
            if (c == ';') {
                inStack = false;
                ++i;
                continue;
            }
            if (c == '\\' && i + 1 < n && raw[i + 1] == ';') {
                out->push_back(';');
                i += 2;
                continue;
            }
            if (!stackSplit && (c == '^' || c == '/' || c == '#')) {
                out->push_back('/');
                stackSplit = true;
                ++i;
                continue;
            }
        }
        if (c == '{' || c == '}') {
            ++i;
            continue;
        }
        if (c == '%' && i + 2 < n && raw[i + 1] == '%') {
            const char code = lower(raw[i + 2]);
            if (code == 'd' || code == 'p' || code == 'c' || code == '%' || code == 'o' ||
                code == 'u') {
                if (code == 'd') out->append(kDegree);
                if (code == 'p') out->append(kPlusMinus);
                if (code == 'c') out->append(kDiameter);
                if (code == '%') out->push_back('%');
                i += 3;
                continue;
            }
        }
        if (c == '^' && i + 1 < n) {
            const char code = raw[i + 1];
            if (code == 'I' || code == 'J' || code == ' ' || (code >= '@' && code <= '_')) {
                if (code == 'I') out->push_back('\t');
                if (code == 'J') out->push_back('\n');
                if (code == ' ') out->push_back('^');
                i += 2;
                continue;
            }
        }
        if (c != '\\' || i + 1 == n) {  // a backslash that ends the value is one itself
            out->push_back(c);
            ++i;
            continue;
        }
        const char code = raw[i + 1];
        switch (code) {
            case 'P':
                out->push_back('\n');
                i += 2;
                break;
            case '~':
                out->append(kNoBreakSpace);
                i += 2;
                break;
            case '\\':
                if (raw.substr(i + 2, 2) == "U+") {
                    out->append(kBackslash);
                } else {
                    out->push_back('\\');
                }
                i += 2;
                break;
            case '{':
            case '}':
                out->push_back(code);
                i += 2;
                break;
            case 'A':
            case 'C':
            case 'c':
            case 'f':
            case 'F':
            case 'H':
            case 'Q':
            case 'T':
            case 'W':
            case 'p': {
                const std::size_t end = raw.find(';', i + 2);
                if (end == std::string_view::npos) return;
                i = end + 1;
                break;
            }
            case 'L':
            case 'l':
            case 'O':
            case 'o':
            case 'K':
            case 'k':
            case 'N':
            case 'X':
                i += 2;
                break;
            case 'S':
                // A stack inside a stack is not something a drawing program writes; its
                // `\S` is dropped and the outer stack goes on.
                if (!inStack) stackSplit = false;
                inStack = true;
                i += 2;
                break;
            case 'M':
                if (startsMultibyte(raw, i)) {
                    i = decodeMultibyte(raw, i, out);
                    break;
                }
                [[fallthrough]];
            default:
                out->push_back('\\');
                out->push_back(code);
                i += 2;
                break;
        }
    }
}

std::string plainMtext(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    appendPlainMtext(raw, &out);
    return out;
}

void appendMultibyteDecoded(std::string_view raw, std::string* out) {
    std::size_t i = 0;
    while (i < raw.size()) {
        const std::size_t escape = raw.find("\\M+", i);
        if (escape == std::string_view::npos) {
            out->append(raw.substr(i));
            return;
        }
        out->append(raw.substr(i, escape - i));
        i = decodeMultibyte(raw, escape, out);
    }
}

}  // namespace wqhost
