// The names the runtime looks up in libnvodbc.so: the registration record
// `ODBC_DrvReg` and the entry function `ODBC`.
#include "drivers/odbc/odbc_driver.h"
#include "drivers/odbc/odbc_internal.h"
#include "host/runtime/export.h"

extern "C" NV_API intptr_t ODBC(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  return odbc::LockedEntry(op, fd, words);
}

namespace {
nv::DrvReg ExportedRecord() {
  nv::DrvReg r = odbc::kLocalReg;
  r.entry = &ODBC;
  return r;
}
}  // namespace

extern "C" NV_API const nv::DrvReg ODBC_DrvReg = ExportedRecord();

namespace {
// SEND "REGISTER" answers the exported record once the library is loaded.
const bool kRegistered = (odbc::SetRegistration(&ODBC_DrvReg), true);
}  // namespace
