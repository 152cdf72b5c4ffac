// The table and index layer's xBase error numbers: their runtime error
// numbers and texts.
#pragma once

#include <string>

namespace db3 {

// True for 0 and the layer's answers 201 to 214 (not errors).
inline bool XbaseOk(int x) {
  return x == 0 || (x >= 201 && x <= 214);
}
// The runtime error of an xBase number; a number outside the table is
// answered unchanged.
int RuntimeErrorOf(int xbase);
// The text of -201 to -261 (empty for the others); its place counted from 0
// (-201 is 0), or -1.
const char* XbaseText(int xbase);
int XbasePlace(int xbase);

}  // namespace db3
