// nvdrivers: lists the file drivers of the driver table, where each was
// found and what its registration record announces.
//
//   nvdrivers            every registered driver
//   nvdrivers NAME...    only those
#include <cstdio>
#include <string>
#include <vector>

#include "host/runtime/driver_table.h"

namespace {

void Hex(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) std::printf("%s%02X", i ? " " : "", p[i]);
}

int Show(const std::string& name) {
  std::string error;
  nv::Driver* d = nv::FindDriver(name, &error);
  if (d == nullptr) {
    std::printf("%s: %s\n", name.c_str(), error.c_str());
    return 1;
  }
  const nv::DrvReg& r = *d->reg;
  std::printf("%s\n", r.name);
  std::printf("  biblioteca     %s (%s)\n", d->path.c_str(), r.file_name);
  std::printf("  descripción    %s\n", r.description);
  std::printf("  aviso          %s\n", r.notice);
  std::printf("  capacidades    0x%08X\n", r.capabilities);
  std::printf("  límites        ");
  Hex(r.limits, sizeof r.limits);
  std::printf("\n  bloques        campo %u, clave %u, memo %u, archivo %u\n", r.field_block_size,
              r.key_block_size, r.memo_block_size, r.fcb_size);
  const uint8_t* ops = r.operations;
  if (ops) {
    std::printf("  operaciones    %u:", ops[0]);
    for (int i = 1; i <= ops[0]; ++i) std::printf(" %u", ops[i]);
    const uint8_t* types = ops + 1 + ops[0];
    std::printf("\n  tipos          %u:", types[0]);
    for (int i = 1; i <= types[0]; ++i) std::printf(" %u", types[i]);
    std::printf("\n");
  }
  std::printf("  compañero      %s\n", r.companion);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) names.push_back(argv[i]);
  if (names.empty()) names = nv::DriverNames();
  std::printf("Carpetas de controladores:");
  for (const std::string& f : nv::DriverSearchFolders()) std::printf(" %s", f.c_str());
  std::printf("\n\n");
  int missing = 0;
  for (const std::string& n : names) missing += Show(n);
  return missing == int(names.size()) ? 1 : 0;
}
