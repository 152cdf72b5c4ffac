// Declarations and helpers shared by the dBase III driver's tests: a
// temporary folder per test and a customer table with a unique numeric code
// key, a name key with duplicates and a memo.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace db3test {

using namespace nv;

#pragma pack(push, 1)
struct CustRecord {
  int32_t CODE;
  String<40> NAME;
  double AMOUNT;
  BinDate SINCE;
  int32_t NOTES;  // the memo's link
};
#pragma pack(pop)

inline std::shared_ptr<const RecordType> CustType() {
  static auto rt = DeclareRecord<CustRecord>(
      "CU", {NV_FIELD(CustRecord, CODE, .name = "CODE=N(8)"), NV_FIELD(CustRecord, NAME),
             NV_FIELD(CustRecord, AMOUNT), NV_FIELD(CustRecord, SINCE),
             NV_FIELD(CustRecord, NOTES)});
  return rt;
}

// Keys: 0 code (unique, numeric), 1 name (duplicates); memo NOTAS.
inline FileDecl CustDecl(const std::string& path) {
  FileDecl d;
  d.label = "CUST";
  d.driver = "dBase3";
  d.name = path;
  d.record = CustType();
  d.keys = {{"CU:CUCODE", {"CU:CODE"}, 0, ""}, {"CU:CUNAME", {"CU:NAME"}, kKeyDup, ""}};
  d.memos = {{"CU:NOTAS", 200, 0, ""}};
  return d;
}

// Runs a shell command and answers its standard output; *ok false when the
// command failed.
inline std::string Shell(const std::string& cmd, bool* ok) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) {
    *ok = false;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *ok = ::pclose(p) == 0;
  return out;
}

// Is the outside tool that `check` runs there?
inline bool Have(const std::string& check) {
  bool ok = false;
  Shell(check + " >/dev/null 2>&1", &ok);
  return ok;
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/nvdb3XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ClearError();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<uint8_t> Bytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteBytes(const std::string& name, const std::vector<uint8_t>& b) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  static void Fill(File& f, int32_t code, const std::string& name, double amount = 0) {
    auto& r = f.As<CustRecord>();
    r.CODE = code;
    r.NAME = name;
    r.AMOUNT = amount;
    r.SINCE = BinDate{};
  }

  std::string dir_;
};

}  // namespace db3test
