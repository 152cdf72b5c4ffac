// The names the runtime looks up in libnvflat.so: the registration record
// `N21$DrvReg` and the entry function `NORVANE`.
#include "drivers/flat/flat_driver.h"
#include "host/runtime/export.h"

extern "C" NV_API intptr_t NORVANE(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  return flat::Driver().Entry(op, fd, words);
}

namespace {
nv::DrvReg ExportedRecord() {
  nv::DrvReg r = flat::kLocalReg;
  r.entry = &NORVANE;
  return r;
}
}  // namespace

extern "C" NV_API const nv::DrvReg N21$DrvReg = ExportedRecord();

namespace {
// SEND "REGISTER" answers the exported record once the library is loaded.
const bool kRegistered = (flat::SetRegistration(&N21$DrvReg), true);
}  // namespace
