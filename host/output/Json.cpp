// UTF-8 repair and JSON string literals: one pass over the bytes, ASCII runs appended
// whole, every ill-formed sequence replaced by U+FFFD.
#include "Json.hpp"

#include <cstddef>

namespace wqhost {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr char kHex[] = "0123456789abcdef";

// The bytes a well-formed sequence starting at p takes (1 to 4), or 0 when it is
// ill-formed; then *bad is how many bytes one U+FFFD stands for: the lead byte and
// the continuation bytes that were still acceptable, so the byte that broke the
// sequence is looked at again as the start of the next one.
size_t sequenceLength(const unsigned char* p, size_t n, size_t* bad) {
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    size_t continuations = 0;
    // The second byte's range is narrower after a few leads: that is what rules out
    // overlong forms (E0, F0), surrogates (ED) and code points past U+10FFFF (F4).
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {  // a continuation byte, C0, C1 or F5 to FF: never a lead
        *bad = 1;
        return 0;
    }
    for (size_t k = 1; k <= continuations; ++k) {
        if (k >= n || p[k] < low || p[k] > high) {
            *bad = k;
            return 0;
        }
        low = 0x80;
        high = 0xBF;
    }
    return continuations + 1;
}

// Appends the sequence at p, or U+FFFD for its ill-formed start; returns the bytes used.
size_t appendOneSequence(std::string* out, const unsigned char* p, size_t n) {
    size_t bad = 0;
    const size_t length = sequenceLength(p, n, &bad);
    if (length == 0) {
        out->append(kReplacement, 3);
        return bad;
    }
    out->append(reinterpret_cast<const char*>(p), length);
    return length;
}

// The escape JSON wants for a control character, or null for \u00xx.
const char* shortEscape(unsigned char c) {
    switch (c) {
        case '\b':
            return "\\b";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\f':
            return "\\f";
        case '\r':
            return "\\r";
        default:
            return nullptr;
    }
}

}  // namespace

void appendValidUtf8(std::string* out, std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const size_t start = i;
        while (i < n && p[i] < 0x80) ++i;
        out->append(bytes.data() + start, i - start);
        while (i < n && p[i] >= 0x80) i += appendOneSequence(out, p + i, n - i);
    }
}

void appendJsonString(std::string* out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    out->push_back('"');
    size_t i = 0;
    while (i < n) {
        const size_t start = i;
        while (i < n && p[i] >= 0x20 && p[i] < 0x80 && p[i] != '"' && p[i] != '\\') ++i;
        out->append(text.data() + start, i - start);
        if (i == n) break;
        const unsigned char c = p[i];
        if (c >= 0x80) {
            i += appendOneSequence(out, p + i, n - i);
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(static_cast<char>(c));
        } else if (const char* escape = shortEscape(c)) {
            out->append(escape, 2);
        } else {
            const char unicode[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out->append(unicode, sizeof unicode);
        }
    }
    out->push_back('"');
}

void appendCodePoint(std::string* out, char32_t codePoint) {
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
        out->append(kReplacement, 3);
    } else if (codePoint < 0x80) {
        out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (codePoint >> 6)),
                              static_cast<char>(0x80 | (codePoint & 0x3F))};
        out->append(bytes, sizeof bytes);
    } else if (codePoint < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (codePoint >> 12)),
                              static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (codePoint & 0x3F))};
        out->append(bytes, sizeof bytes);
    } else {
        const char bytes[] = {static_cast<char>(0xF0 | (codePoint >> 18)),
                              static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)),
                              static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (codePoint & 0x3F))};
        out->append(bytes, sizeof bytes);
    }
}

}  // namespace wqhost
