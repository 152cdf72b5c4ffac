// The runtime's string stack: texts that pass to and from a driver
// operation. The caller pushes an operation's texts before the call; the
// driver pops them (first popped = pushed last) and pushes its text result.
// One stack per thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

NV_API void PushString(std::string_view text);
// Pops the top text; the empty text when the stack is empty.
NV_API std::string PopTemp();
NV_API size_t StringStackDepth();

}  // namespace nv
