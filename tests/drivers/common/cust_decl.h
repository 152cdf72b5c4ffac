// A small declaration shared by the tests of the skeleton and its services:
// customers with a unique code key, a case-insensitive name key (age
// descending) and a memo, kept by the in-memory test driver.
#pragma once

#include <string>

#include "host/runtime/declaration.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/file.h"

namespace nvtest {

using namespace nv;

#pragma pack(push, 1)
struct CustRecord {
  int32_t CODE;
  String<20> NAME;
  int16_t AGE;
  String<4> TAGS[3];
};
#pragma pack(pop)
static_assert(sizeof(CustRecord) == 38);

// The driver's block slot of a file's descriptor (read by value: the
// descriptor is packed).
inline void* Fcb(File& f) { return static_cast<void*>(f.descriptor()->drv_fcb); }

inline FileDecl CustDecl(const std::string& name, std::string driver_string = "") {
  static auto rt = DeclareRecord<CustRecord>(
      "CUS", {NV_FIELD(CustRecord, CODE), NV_FIELD(CustRecord, NAME, .picture = "@s20"),
              NV_FIELD(CustRecord, AGE), NV_FIELD(CustRecord, TAGS)});
  FileDecl d;
  d.label = "CUSTOMER";
  d.driver = "MemTest";
  d.name = name;
  d.driver_string = std::move(driver_string);
  d.record = rt;
  d.keys = {{"CUS:KEY_CODE", {"CUS:CODE"}, 0, ""},
            {"CUS:KEY_NAME", {"CUS:NAME", "-CUS:AGE"}, kKeyDup | kKeyNoCase, "BYNAME"}};
  d.memos = {{"CUS:NOTES", 300, 0, ""}};
  return d;
}

inline void RegisterMemTest() { RegisterDriver("MemTest", "libnvmemtest.so", "MEM$DrvReg"); }

inline void FillCust(File& f, int32_t code, const char* name, int16_t age) {
  auto& r = f.As<CustRecord>();
  r.CODE = code;
  r.NAME = name;
  r.AGE = age;
}

}  // namespace nvtest
