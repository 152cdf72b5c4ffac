#include "host/runtime/version.h"

namespace nv {

int RuntimeVersion() {
  return kRuntimeVersion;
}

bool RuntimeCompatible(int required) {
  if (required <= 0) return false;
  const int have = RuntimeVersion();
  return required / 1000 == have / 1000 && required % 1000 <= have % 1000;
}

}  // namespace nv
