// The registration record of the dBase III driver and its driver object.
// The library's exported names (db3_exports.cpp) point at these; tests that
// link the driver's code directly use them as they are.
#include "drivers/dbase3/db3_driver.h"

namespace db3 {

namespace {

// The flat driver's common order without 8, 22 and 40 (no transactions),
// then the field types the driver takes.
const uint8_t kOperations[] = {64, 1,  4,  2,  5,  3,  6,  52, 14, 7,  9,  10, 11, 12, 57, 13, 29,
                               15, 16, 17, 72, 86, 18, 19, 20, 21, 23, 24, 65, 25, 26, 27, 28, 61,
                               62, 31, 30, 54, 32, 33, 66, 67, 36, 37, 38, 63, 64, 60, 41, 42, 43,
                               44, 47, 45, 46, 71, 85, 48, 49, 56, 50, 58, 98, 99, 102, 7,  1,  4,
                               6,  9,  18, 21, 22};
static_assert(sizeof(kOperations) == 1 + 64 + 1 + 7);

intptr_t LocalEntry(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  return Driver().Entry(op, fd, words);
}

}  // namespace

const nv::DrvReg kLocalReg = {
    "dBase3",
    "NVDB3.DLL",
    "Equipo de desarrollo de Fonvex",
    "dBase III",
    &LocalEntry,
    0x0094A591,
    {0, 254, 0, 253, 0, 0xA0, 0x0F, 254, 0, 0, 0, 253, 0, 0,
     0, 0xA0, 0x0F, 0, 0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
    uint32_t(sizeof(Db3Field)),
    uint32_t(sizeof(Db3Key)),
    uint32_t(sizeof(Db3Memo)),
    uint32_t(sizeof(Db3Fcb)),
    {0, 0, 0},
    kOperations,
    "NVDB3S.DLL"};

const nv::DrvReg* g_reg = &kLocalReg;

void SetRegistration(const nv::DrvReg* reg) {
  g_reg = reg;
}

const nv::DrvReg& Db3Driver::Reg() const {
  return *g_reg;
}

Db3Driver& Driver() {
  static Db3Driver driver;
  return driver;
}

}  // namespace db3
