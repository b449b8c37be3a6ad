// UTF-8 that is always valid, and JSON string literals built from it: what a host needs
// to hand text of unknown quality to a program that parses what it receives.
#ifndef WQHOST_JSON_HPP
#define WQHOST_JSON_HPP

#include <string>
#include <string_view>

namespace wqhost {

// Appends `text` to *out as a JSON string literal, quotes included. The quote and the
// backslash are escaped, and so is every control character below U+0020: \b, \t, \n, \f
// and \r by their short names, the others as \u00xx (lower-case hex). Anything else
// passes as UTF-8, after the same repair as appendValidUtf8, so the literal is valid
// JSON whatever the bytes. `out` must not be null; nothing fails.
void appendJsonString(std::string* out, std::string_view text);

// Appends `bytes` to *out with every ill-formed UTF-8 sequence (a stray continuation byte,
// an overlong form, a surrogate, a code point above U+10FFFF, a sequence cut short)
// replaced by U+FFFD. Each maximal prefix of a sequence that could still have been valid
// counts as one replacement and every other bad byte as one more, the way the Unicode
// standard recommends, so "\xE2\x82" before an ASCII byte gives one U+FFFD and
// "\xC0\x80" gives two. `out` must not be null; nothing fails.
void appendValidUtf8(std::string* out, std::string_view bytes);

// Appends the UTF-8 form of `codePoint` (one to four bytes); a surrogate or a value above
// U+10FFFF, which UTF-8 cannot carry, is written as U+FFFD. `out` must not be null.
void appendCodePoint(std::string* out, char32_t codePoint);

}  // namespace wqhost

#endif
