// libFuzzer target for the flat data file parser: the input becomes a data
// file, a key file and a memo file in a temporary folder, which the driver
// opens, reads in every order and closes. The only acceptable outcomes of
// the open are success or the errors 36, 46 and 47; a crash, a hang or an
// out-of-bounds read is a finding. The inspector (flatcheck) reads the same
// files first and must report them (1 or 2) or find them consistent.
//
// Input layout: [data][key][memo][u16 key length][u16 memo length]; the two
// lengths at the end say how the bytes before them are split.
// With FLAT_FUZZ_SEED_DIR set, initialisation writes a valid file set there
// as a seed.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/flat/flat_check.h"
#include "drivers/flat/flat_driver.h"
#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "tests/support/fuzz_files.h"

namespace {

using namespace nv;

#pragma pack(push, 1)
struct FuzzRecord {
  int32_t CODE;
  String<12> NAME;
  int16_t AGE;
};
#pragma pack(pop)

FileDecl Decl(const std::string& path) {
  static auto rt = DeclareRecord<FuzzRecord>(
      "FZ", {NV_FIELD(FuzzRecord, CODE), NV_FIELD(FuzzRecord, NAME), NV_FIELD(FuzzRecord, AGE)});
  FileDecl d;
  d.driver = "Norvane";
  d.name = path;
  d.record = rt;
  d.keys = {{"FZ:KEY_CODE", {"FZ:CODE"}, kKeyOptional, ""}};
  d.memos = {{"FZ:NOTES", 300, 0, ""}};
  return d;
}

intptr_t Call(File& f, int32_t op, KeyDecl* key = nullptr, intptr_t word = 0) {
  return nvfuzz::Call(flat::Driver(), f, op, key, word);
}

const std::string& Folder() {
  static const std::string folder = nvfuzz::TempFolder("nvflatfuzz");
  return folder;
}

using nvfuzz::ReadFile;
using nvfuzz::WriteFile;

void WriteSeed(const std::string& dir) {
  const std::string base = Folder() + "/SEED";
  File f(Decl(base));
  Call(f, kOpCreate);
  Call(f, kOpOpen, nullptr, 0x22);
  for (int i = 0; i < 30; ++i) {
    auto& r = f.As<FuzzRecord>();
    r.CODE = i * 7 - 50;
    r.NAME = "N" + std::to_string(i);
    r.AGE = int16_t(i);
    f.SetMemoText(0, std::string(size_t(i * 9), char('a' + i % 26)));
    Call(f, kOpAdd);
  }
  Call(f, kOpSetFilePointer, nullptr, 0);
  Call(f, kOpGetPointer, nullptr, 4);
  Call(f, kOpDelete);
  Call(f, kOpFinalClose);
  const std::vector<uint8_t> seed = nvfuzz::JoinThree(
      ReadFile(base + ".DAT"), ReadFile(base + ".K01"), ReadFile(base + ".MEM"));
  WriteFile(dir + "/seed-valid", seed.data(), seed.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("FLAT_FUZZ_SEED_DIR")) WriteSeed(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Without lengths that fit, the whole input is the data file.
  nvfuzz::Three in;
  if (!nvfuzz::SplitThree(data, size, &in))
    in = {{data, data + size, data + size}, {size >= 4 ? size - 4 : size, 0, 0}};
  const std::string base = Folder() + "/FUZZ";
  WriteFile(base + ".DAT", in.data[0], in.size[0]);
  WriteFile(base + ".K01", in.data[1], in.size[1]);
  WriteFile(base + ".MEM", in.data[2], in.size[2]);

  std::string report;
  const flat::InspectResult verdict = flat::InspectFlatFile(base + ".DAT", {}, &report);
  if (verdict != flat::kConsistent && verdict != flat::kInconsistent && verdict != flat::kBadFile)
    abort();

  ClearError();
  File f(Decl(base));
  Call(f, kOpOpen, nullptr, 0x20);  // read-only, deny write
  const int err = ErrorCode();
  if (err != 0 && err != 36 && err != 46 && err != 47) {
    std::fprintf(stderr, "OPEN answered %d\n", err);
    abort();
  }
  if (err == 0) {
    KeyDecl* k = f.key(0);
    Call(f, kOpRecords);
    Call(f, kOpRecordsKey, k);
    Call(f, kOpSetFile);
    for (int i = 0; i < 300 && (ClearError(), Call(f, kOpNext), ErrorCode() == 0); ++i) {
    }
    Call(f, kOpSetKey, k);
    for (int i = 0; i < 300 && (ClearError(), Call(f, kOpNext), ErrorCode() == 0); ++i) {
      Call(f, kOpPointerKey, k);
    }
    Call(f, kOpSetKey, k);
    for (int i = 0; i < 300 && (ClearError(), Call(f, kOpPrevious), ErrorCode() == 0); ++i) {
    }
    for (intptr_t p = 1; p < 40; ++p) Call(f, kOpGetPointer, nullptr, p);
    for (intptr_t p = 1; p < 40; ++p) Call(f, kOpGetOrdinal, k, p);
    Call(f, kOpClose);
    // Opened for writing, a file with the busy mark is repaired: counters,
    // chains and keys rebuilt from whatever the records hold.
    ClearError();
    Call(f, kOpOpen, nullptr, 0x22);
    if (ErrorCode() == 0) {
      Call(f, kOpRecords);
      Call(f, kOpSetKey, k);
      for (int i = 0; i < 300 && (ClearError(), Call(f, kOpNext), ErrorCode() == 0); ++i) {
      }
      Call(f, kOpClose);
    }
  }
  Call(f, kOpFinalClose);
  return 0;
}
