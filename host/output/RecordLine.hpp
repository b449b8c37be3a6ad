// The one-line rendering of a plug-in record that dxftext -r, the tests and the sample C
// host share: S (start of an entity), T <hex> (a text value), E (end), D (end of document).
#ifndef WQHOST_RECORD_LINE_HPP
#define WQHOST_RECORD_LINE_HPP

#include <cstdint>
#include <string>
#include <string_view>

namespace wqhost {

// Appends the line of a record of `kind` (RecordTextStart, RecordText, RecordTextEnd,
// RecordEndOfDocument), with its newline. A text record's bytes follow a space as lower-case
// hex; an empty text is a bare "T". Any other kind is "? <kind>", so nothing passes unseen.
void appendRecordLine(std::string* out, int32_t kind, std::string_view text);

}  // namespace wqhost

#endif
