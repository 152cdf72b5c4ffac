// The names the runtime looks up in libnvdb3.so: the registration record
// `dB3$DrvReg` and the entry function `DBASE3`.
#include "drivers/dbase3/db3_driver.h"
#include "host/runtime/export.h"

extern "C" NV_API intptr_t DBASE3(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  return db3::Driver().Entry(op, fd, words);
}

namespace {
nv::DrvReg ExportedRecord() {
  nv::DrvReg r = db3::kLocalReg;
  r.entry = &DBASE3;
  return r;
}
}  // namespace

extern "C" NV_API const nv::DrvReg dB3$DrvReg = ExportedRecord();

namespace {
const bool kRegistered = (db3::SetRegistration(&dB3$DrvReg), true);
}  // namespace
