// libFuzzer target for the dBase III parsers: the input becomes a table, an
// index and a memo file in a temporary folder, which the driver opens, reads
// in both orders (every record with its memo) and closes; the checker
// (dbfcheck) reads the same files. Any error is an acceptable outcome; a
// crash, a hang or an out-of-bounds read is a finding.
//
// Input layout: [table][index][memo][u16 index length][u16 memo length].
// With DB3_FUZZ_SEED_DIR set, initialisation writes a valid file set there
// as a seed.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/dbase3/db3_driver.h"
#include "drivers/dbase3/dbf_check.h"
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
  BinDate DAY;
  int32_t NOTE;
};
#pragma pack(pop)

FileDecl Decl(const std::string& path) {
  static auto rt = DeclareRecord<FuzzRecord>(
      "FZ", {NV_FIELD(FuzzRecord, CODE, .name = "CODE=N(6)"), NV_FIELD(FuzzRecord, NAME),
             NV_FIELD(FuzzRecord, DAY), NV_FIELD(FuzzRecord, NOTE)});
  FileDecl d;
  d.driver = "dBase3";
  d.name = path;
  d.record = rt;
  d.keys = {{"FZ:FZNAME", {"FZ:NAME", "FZ:DAY"}, kKeyDup, ""}};
  d.memos = {{"FZ:NOTA", 700, 0, ""}};
  return d;
}

intptr_t Call(File& f, int32_t op, KeyDecl* key = nullptr, intptr_t word = 0) {
  return nvfuzz::Call(db3::Driver(), f, op, key, word);
}

const std::string& Folder() {
  static const std::string folder = nvfuzz::TempFolder("nvdb3fuzz");
  return folder;
}

using nvfuzz::ReadFile;
using nvfuzz::WriteFile;

void WriteSeed(const std::string& dir) {
  File f(Decl(Folder() + "/SEED"));
  Call(f, kOpCreate);
  Call(f, kOpOpen, nullptr, 0x22);
  for (int i = 0; i < 60; ++i) {
    auto& r = f.As<FuzzRecord>();
    r.CODE = i;
    r.NAME = "N" + std::to_string(i * 37 % 11);
    r.DAY = BinFromDate(DateFromYmd(2000 + i % 20, 1 + i % 12, 1 + i % 28));
    f.SetMemoText(0, std::string(size_t(i * 11 % 600), 'm'));
    Call(f, kOpAdd);
  }
  Call(f, kOpFinalClose);
  const std::vector<uint8_t> in =
      nvfuzz::JoinThree(ReadFile(Folder() + "/SEED.DBF"), ReadFile(Folder() + "/FZNAME.NDX"),
                        ReadFile(Folder() + "/SEED.DBT"));
  WriteFile(dir + "/seed", in.data(), in.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("DB3_FUZZ_SEED_DIR")) WriteSeed(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nvfuzz::Three in;
  if (!nvfuzz::SplitThree(data, size, &in)) return 0;
  const std::string base = Folder() + "/FUZZ";
  WriteFile(base + ".DBF", in.data[0], in.size[0]);
  WriteFile(Folder() + "/FZNAME.NDX", in.data[1], in.size[1]);
  WriteFile(base + ".DBT", in.data[2], in.size[2]);

  db3::CheckTable(base + ".DBF", {Folder() + "/FZNAME.NDX"});

  ClearError();
  File f(Decl(base));
  Call(f, kOpOpen, nullptr, 0x22);
  if (ErrorCode() == 0) {
    for (int dir : {kOpNext, kOpPrevious}) {
      Call(f, kOpSetKey, f.key(0));
      for (int i = 0; i < 5000 && ErrorCode() == 0; ++i) Call(f, dir);
      ClearError();
      Call(f, kOpSetFile);
      for (int i = 0; i < 5000 && ErrorCode() == 0; ++i) Call(f, dir);
      ClearError();
    }
    Call(f, kOpRecordsKey, f.key(0));
    ClearError();
    f.As<FuzzRecord>().NAME = "N3";
    Call(f, kOpGetKey, f.key(0));
    ClearError();
    Call(f, kOpAdd);
    ClearError();
  }
  Call(f, kOpFinalClose);
  ClearError();
  return 0;
}
