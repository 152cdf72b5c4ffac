// Declarations and helpers shared by the flat driver's tests: a customer
// file with every stored type, a unique code key, a case-insensitive name
// key with descending age, an optional key, and a memo; files go to a fresh
// temporary folder per test.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace flattest {

using namespace nv;

#pragma pack(push, 1)
struct CustRecord {
  int32_t CODE;
  String<20> NAME;
  int16_t AGE;
  double AMOUNT;
  Decimal<5, 2> BALANCE;
  uint8_t FLAGS;
  String<10> CITY;
};
#pragma pack(pop)
static_assert(sizeof(CustRecord) == 4 + 20 + 2 + 8 + 5 + 1 + 10);

inline std::shared_ptr<const RecordType> CustType() {
  static auto rt = DeclareRecord<CustRecord>(
      "CU", {NV_FIELD(CustRecord, CODE), NV_FIELD(CustRecord, NAME, .picture = "@s20"),
             NV_FIELD(CustRecord, AGE), NV_FIELD(CustRecord, AMOUNT), NV_FIELD(CustRecord, BALANCE),
             NV_FIELD(CustRecord, FLAGS), NV_FIELD(CustRecord, CITY)});
  return rt;
}

// Keys: 0 code (unique), 1 name + age descending (duplicates, no case),
// 2 city (optional, duplicates).
inline FileDecl CustDecl(const std::string& path, bool memo = true) {
  FileDecl d;
  d.label = "CUSTOMER";
  d.driver = "Norvane";
  d.name = path;
  d.record = CustType();
  d.keys = {{"CU:KEY_CODE", {"CU:CODE"}, 0, ""},
            {"CU:KEY_NAME", {"CU:NAME", "-CU:AGE"}, kKeyDup | kKeyNoCase, "BYNAME"},
            {"CU:KEY_CITY", {"CU:CITY"}, kKeyDup | kKeyOptional, ""}};
  if (memo) d.memos = {{"CU:NOTES", 600, 0, ""}};
  return d;
}

inline void Fill(File& f, int32_t code, const std::string& name, int16_t age = 30,
                 const std::string& city = "MADRID") {
  auto& r = f.As<CustRecord>();
  r.CODE = code;
  r.NAME = name;
  r.AGE = age;
  r.AMOUNT = code * 1.5;
  r.FLAGS = uint8_t(code);
  r.CITY = city;
}

// The memo of record `code` at version `ver` in the random-kill runs.
inline std::string ChurnMemo(int32_t code, int ver) {
  std::string m = std::to_string(code) + "/" + std::to_string(ver) + ":";
  const size_t len = size_t((code * 7 + ver * 13) % 590) + 1;
  while (m.size() < len) m += char('a' + (code + ver + int(m.size())) % 26);
  return m.substr(0, len);
}

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/nvflatXXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::string s;
  if (ReadWholeFile(path, &s) != 0) return {};
  return std::vector<uint8_t>(s.begin(), s.end());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

}  // namespace flattest

#include <gtest/gtest.h>

#include "drivers/flat/flat_check.h"

namespace flattest {

// The inspector's verdict on a data file, with its report on failure.
inline ::testing::AssertionResult Consistent(const std::string& path,
                                             const flat::InspectOptions& o = {}) {
  std::string report;
  flat::InspectResult r = flat::InspectFlatFile(path, o, &report);
  if (r == flat::kConsistent) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "inspector says " << int(r) << ":\n" << report;
}

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 |
                                  uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24
                            : 0xFFFFFFFFu;
}

}  // namespace flattest
