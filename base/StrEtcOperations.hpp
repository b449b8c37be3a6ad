// The string utilities' own operations, named for the library's other modules: a caller
// that finds one still in its handle's slot knows what the call would do, and may get the
// same answer with less work.
#ifndef WQ_STR_ETC_OPERATIONS_HPP
#define WQ_STR_ETC_OPERATIONS_HPP

#include "DxfStrEtc.h"

namespace wq {

// Removes every byte equal to the low 8 bits of character from s, in place.
void deleteChar(DxfStrEtc* self, char* s, int character);

}  // namespace wq

#endif
