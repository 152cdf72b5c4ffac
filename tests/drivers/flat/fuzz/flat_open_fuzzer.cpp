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

// Calls the driver in this process (no loader), as the runtime would.
intptr_t Call(File& f, int32_t op, KeyDecl* key = nullptr, intptr_t word = 0) {
  intptr_t words[4] = {};
  int i = 0;
  if (key) words[i++] = reinterpret_cast<intptr_t>(key);
  words[i] = word;
  return flat::Driver().Entry(op, f.descriptor(), words);
}

std::string& Folder() {
  static std::string folder = [] {
    char tmpl[] = "/tmp/nvflatfuzzXXXXXX";
    return std::string(::mkdtemp(tmpl));
  }();
  return folder;
}

void WriteFile(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (n) std::fwrite(p, 1, n, f);
  std::fclose(f);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return b;
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(uint8_t(c));
  std::fclose(f);
  return b;
}

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
  std::vector<uint8_t> dat = ReadFile(base + ".DAT"), key = ReadFile(base + ".K01"),
                       mem = ReadFile(base + ".MEM");
  std::vector<uint8_t> seed = dat;
  seed.insert(seed.end(), key.begin(), key.end());
  seed.insert(seed.end(), mem.begin(), mem.end());
  seed.push_back(uint8_t(key.size()));
  seed.push_back(uint8_t(key.size() >> 8));
  seed.push_back(uint8_t(mem.size()));
  seed.push_back(uint8_t(mem.size() >> 8));
  WriteFile(dir + "/seed-valid", seed.data(), seed.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("FLAT_FUZZ_SEED_DIR")) WriteSeed(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t key_len = 0, mem_len = 0;
  if (size >= 4) {
    key_len = data[size - 4] | size_t(data[size - 3]) << 8;
    mem_len = data[size - 2] | size_t(data[size - 1]) << 8;
    size -= 4;
    if (key_len + mem_len > size) key_len = mem_len = 0;
  }
  const size_t dat_len = size - key_len - mem_len;
  const std::string base = Folder() + "/FUZZ";
  WriteFile(base + ".DAT", data, dat_len);
  WriteFile(base + ".K01", data + dat_len, key_len);
  WriteFile(base + ".MEM", data + dat_len + key_len, mem_len);

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
