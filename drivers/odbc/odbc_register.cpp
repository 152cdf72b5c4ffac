// The registration record of the ODBC driver and its driver object. The
// library's exported names (odbc_exports.cpp) point at these; tests that
// link the driver's code directly use them as they are.
#include "drivers/odbc/odbc_driver.h"
#include "drivers/odbc/odbc_internal.h"

namespace odbc {

namespace {

// Operations in the common order, then the field types the driver takes.
const uint8_t kOperations[] = {60, 1,  4,  80, 5,  3,  6,  52, 7,  8,  10, 11, 12, 57, 13, 15,
                               16, 72, 86, 18, 19, 20, 21, 22, 23, 24, 68, 25, 26, 61, 62, 31,
                               30, 32, 33, 66, 67, 36, 37, 64, 40, 60, 41, 42, 44, 45, 69, 96,
                               97, 70, 71, 85, 48, 49, 50, 58, 88, 98, 99, 102, 103,
                               14, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 18, 19, 22};
static_assert(sizeof(kOperations) == 1 + 60 + 1 + 14);

}  // namespace

const nv::DrvReg kLocalReg = {
    "ODBC",
    "NVODBC.DLL",
    "Equipo de desarrollo de Fonvex",
    "ODBC",
    &LockedEntry,
    0x036DEFB3,
    {0,    0x00, 0xFA, 0xFF, 0xF9, 0x00, 0xFA, 0xFF, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF,
     0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0xFF, 0xFF, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
    uint32_t(sizeof(OdbcField)),
    uint32_t(sizeof(OdbcKey)),
    uint32_t(sizeof(OdbcMemo)),
    uint32_t(sizeof(OdbcFcb)),
    {0, 0, 0},
    kOperations,
    "NVODBCS.DLL"};

const nv::DrvReg* g_reg = &kLocalReg;

void SetRegistration(const nv::DrvReg* reg) {
  g_reg = reg;
}

const nv::DrvReg& OdbcDriver::Reg() const {
  return *g_reg;
}

OdbcDriver& Driver() {
  static OdbcDriver driver;
  return driver;
}

}  // namespace odbc
