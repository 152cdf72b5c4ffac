// A file property of this runtime's own, beyond the table every driver
// answers (a driver that does not know it answers it as not handled, and
// nothing changes).
//
// kPropReadFields, file element: the fields the program reads after NEXT
// and PREVIOUS, as field numbers ("3,17"), until it sets the empty text
// again. Meanwhile a driver may fill only those fields and leave the memos
// alone; the flat driver then answers a walk by a key whose entries hold
// all of them from the entry, without reading the record.
#pragma once

#include <cstdint>

namespace nv {

inline constexpr int32_t kPropReadFields = 30720;

}  // namespace nv
