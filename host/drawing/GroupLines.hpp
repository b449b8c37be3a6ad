// The small pieces every host-side parser of DXF lines shares: blanks around a code or a
// name, a code line read as a number, a hex digit. Internal to the toolkit's sources.
#ifndef WQHOST_GROUP_LINES_HPP
#define WQHOST_GROUP_LINES_HPP

#include <climits>
#include <string_view>

namespace wqhost {
namespace lines {

constexpr int kNotACode = INT_MIN;

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The group code a code line holds (blanks around it and a sign allowed), or kNotACode
// when it holds no number of at most nine digits.
inline int parseCode(std::string_view line) {
    line = trimmed(line);
    bool negative = false;
    if (!line.empty() && (line.front() == '-' || line.front() == '+')) {
        negative = line.front() == '-';
        line.remove_prefix(1);
    }
    if (line.empty() || line.size() > 9) return kNotACode;
    int value = 0;
    for (char c : line) {
        if (c < '0' || c > '9') return kNotACode;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// The value of a hex digit in either case, or -1.
inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace lines
}  // namespace wqhost

#endif
