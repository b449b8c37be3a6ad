// Record lines: the S/T/E/D view of what the plug-in delivered.
#include "RecordLine.hpp"

#include "DxfHost.h"

namespace wqhost {

void appendRecordLine(std::string* out, int32_t kind, std::string_view text) {
    static const char kDigits[] = "0123456789abcdef";
    switch (kind) {
        case RecordTextStart: *out += "S\n"; return;
        case RecordTextEnd: *out += "E\n"; return;
        case RecordEndOfDocument: *out += "D\n"; return;
        case RecordText:
            *out += text.empty() ? "T" : "T ";
            for (const char byte : text) {
                const auto c = static_cast<unsigned char>(byte);
                out->push_back(kDigits[c >> 4]);
                out->push_back(kDigits[c & 15]);
            }
            *out += '\n';
            return;
        default: *out += "? " + std::to_string(kind) + "\n";
    }
}

}  // namespace wqhost
