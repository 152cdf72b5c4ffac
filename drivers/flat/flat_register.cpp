// The registration record of the flat driver and its driver object. The
// library's exported names (flat_exports.cpp) point at these; tests that link
// the driver's code directly use them as they are.
#include "drivers/flat/flat_driver.h"

namespace flat {

namespace {

// Operations in the common order, then the field types the driver takes.
const uint8_t kOperations[] = {67, 1,  4,  2,   5,  3,  6,  52, 14, 7,  8,  9,  10, 11, 12, 57,
                               13, 29, 15, 16,  17, 72, 86, 18, 19, 20, 21, 22, 23, 24, 65, 25,
                               26, 27, 28, 61,  62, 31, 30, 54, 32, 33, 66, 67, 36, 37, 38, 63,
                               64, 40, 60, 41,  42, 43, 44, 47, 45, 46, 71, 85, 48, 49, 56, 50,
                               58, 98, 99, 102, 9,  1,  2,  6,  9,  10, 18, 21, 22, 24};
static_assert(sizeof(kOperations) == 1 + 67 + 1 + 9);

intptr_t LocalEntry(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  return Driver().Entry(op, fd, words);
}

}  // namespace

const nv::DrvReg kLocalReg = {
    "Norvane",
    "NVFLAT.DLL",
    "Equipo de desarrollo de Fonvex",
    "Norvane 2.1",
    &LocalEntry,
    0x02BCE79F,
    {0, 255, 0,   254, 0, 255,  255,  255,  0,    0,    0,    254,  0,    0,
     0, 255, 255, 0,   0, 0x04, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
    uint32_t(sizeof(FlatField)),
    uint32_t(sizeof(FlatKey)),
    uint32_t(sizeof(FlatMemo)),
    uint32_t(sizeof(FlatFcb)),
    {0, 0, 0},
    kOperations,
    "NVFLATS.DLL"};

const nv::DrvReg* g_reg = &kLocalReg;

void SetRegistration(const nv::DrvReg* reg) {
  g_reg = reg;
}

const nv::DrvReg& FlatDriver::Reg() const {
  return *g_reg;
}

FlatDriver& Driver() {
  static FlatDriver driver;
  return driver;
}

}  // namespace flat
