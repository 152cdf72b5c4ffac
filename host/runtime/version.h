// The runtime's version and the compatibility question a program asks before
// it runs: a program built for version V (5500 = "5.500") runs on a runtime of
// the same major version whose minor version is at least V's.
#pragma once

#include "host/runtime/export.h"

namespace nv {

// This runtime's version: major * 1000 + minor (5500 = "5.500").
inline constexpr int kRuntimeVersion = 5500;

NV_API int RuntimeVersion();
// True when a program built for `required` (major * 1000 + minor) can run on
// this runtime. Non-positive versions are never compatible.
NV_API bool RuntimeCompatible(int required);

}  // namespace nv
