// Call and lookup records for the expression and view tests, laid out as the
// call files are (outgoing calls MO01, account codes MA09, lines MA07,
// extensions MA08, agents MA02, directory entries MA11).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "host/runtime/declaration.h"
#include "host/runtime/file.h"

namespace nvtest {

#pragma pack(push, 1)
struct CallRecord {
  int32_t IDLLA;
  nv::BinDate FECLLA;
  int32_t HORLLA;
  nv::String<10> NROINT;
  nv::String<10> NROLIN;
  nv::String<30> NROTEL;
  int32_t DURLLA;
  int32_t RINLLA;
  nv::String<10> NROCTA;
  double COSLLA;
  nv::String<50> DESLLA;
  nv::String<2> TIPOLLA;
  int32_t CODIGO;
  uint8_t TRANSF;
  uint8_t LIBRE;
  nv::Decimal<3, 0> GRUINT;
  nv::Decimal<3, 0> GRULIN;
  nv::Decimal<3, 0> GRUCTA;
  nv::Decimal<3, 0> GRUAGE;
  int32_t CODAGT;
  int32_t GRUAGT;
};
struct AccountRecord {
  nv::String<10> NROCTA;
  nv::String<50> DESCTA;
  uint8_t MULTISEL;
};
struct LineRecord {
  nv::String<10> NROLIN;
  nv::String<50> DESLIN;
  uint8_t MULTISEL;
};
struct ExtensionRecord {
  nv::String<10> NROINT;
  nv::String<50> DESINT;
  uint8_t MULTISEL;
};
struct AgentRecord {
  int32_t CODAGT;
  int32_t OTRO;
  nv::String<100> DESCRI;
  uint8_t MULTISEL;
};
struct EntryRecord {
  int32_t CODIGO;
  nv::String<50> NOMBRE;
  int32_t CODEMP;
  nv::String<1> ESEMPR;
};
#pragma pack(pop)

// `day_numbers`: FECLLA is declared a LONG day number instead of a binary
// date (same 4 bytes; write it with SetCallDate).
inline nv::FileDecl CallDecl(const std::string& prefix, const std::string& name,
                             bool day_numbers = false) {
  using R = CallRecord;
  nv::FileDecl d;
  d.label = "FX" + prefix;
  d.driver = "MemTest";
  d.name = name;
  nv::FieldSpec date = NV_FIELD(R, FECLLA);
  if (day_numbers) {
    date = nv::internal::MakeFieldSpec<int32_t>("FECLLA", offsetof(R, FECLLA), nv::FieldOptions{});
  }
  d.record = nv::DeclareRecord<R>(prefix, {NV_FIELD(R, IDLLA),  date,
                                           NV_FIELD(R, HORLLA), NV_FIELD(R, NROINT),
                                           NV_FIELD(R, NROLIN), NV_FIELD(R, NROTEL),
                                           NV_FIELD(R, DURLLA), NV_FIELD(R, RINLLA),
                                           NV_FIELD(R, NROCTA), NV_FIELD(R, COSLLA),
                                           NV_FIELD(R, DESLLA), NV_FIELD(R, TIPOLLA),
                                           NV_FIELD(R, CODIGO), NV_FIELD(R, TRANSF),
                                           NV_FIELD(R, LIBRE),  NV_FIELD(R, GRUINT),
                                           NV_FIELD(R, GRULIN), NV_FIELD(R, GRUCTA),
                                           NV_FIELD(R, GRUAGE), NV_FIELD(R, CODAGT),
                                           NV_FIELD(R, GRUAGT)});
  const std::string p = prefix + ":";
  d.keys = {{p + prefix + "_CP", {p + "IDLLA"}, nv::kKeyDup, ""},
            {p + prefix + "_C1", {p + "FECLLA", p + "HORLLA"}, nv::kKeyDup, ""},
            {p + prefix + "_C2", {p + "NROLIN", p + "FECLLA", p + "HORLLA"}, nv::kKeyDup, ""}};
  return d;
}

inline void SetCallDate(CallRecord& r, int32_t day, bool day_numbers) {
  if (day_numbers) {
    std::memcpy(&r.FECLLA, &day, 4);
  } else {
    r.FECLLA = nv::BinFromDate(day);
  }
}

inline nv::FileDecl AccountDecl(const std::string& name) {
  using R = AccountRecord;
  nv::FileDecl d;
  d.label = "FXMA09";
  d.driver = "MemTest";
  d.name = name;
  d.record = nv::DeclareRecord<R>(
      "MA09", {NV_FIELD(R, NROCTA), NV_FIELD(R, DESCTA), NV_FIELD(R, MULTISEL)});
  d.keys = {{"MA09:MA09_CP", {"MA09:NROCTA"}, 0, ""},
            {"MA09:MA09_C1", {"MA09:DESCTA"}, nv::kKeyDup, ""}};
  return d;
}

inline nv::FileDecl LineDecl(const std::string& name) {
  using R = LineRecord;
  nv::FileDecl d;
  d.label = "FXMA07";
  d.driver = "MemTest";
  d.name = name;
  d.record = nv::DeclareRecord<R>(
      "MA07", {NV_FIELD(R, NROLIN), NV_FIELD(R, DESLIN), NV_FIELD(R, MULTISEL)});
  d.keys = {{"MA07:MA07_CP", {"MA07:NROLIN"}, 0, ""}};
  return d;
}

inline nv::FileDecl ExtensionDecl(const std::string& name) {
  using R = ExtensionRecord;
  nv::FileDecl d;
  d.label = "FXMA08";
  d.driver = "MemTest";
  d.name = name;
  d.record = nv::DeclareRecord<R>(
      "MA08", {NV_FIELD(R, NROINT), NV_FIELD(R, DESINT), NV_FIELD(R, MULTISEL)});
  d.keys = {{"MA08:MA08_CP", {"MA08:NROINT"}, 0, ""}};
  return d;
}

inline nv::FileDecl AgentDecl(const std::string& name) {
  using R = AgentRecord;
  nv::FileDecl d;
  d.label = "FXMA02";
  d.driver = "MemTest";
  d.name = name;
  d.record = nv::DeclareRecord<R>(
      "MA02", {NV_FIELD(R, CODAGT), NV_FIELD(R, OTRO), NV_FIELD(R, DESCRI), NV_FIELD(R, MULTISEL)});
  d.keys = {{"MA02:MA02_CP", {"MA02:CODAGT"}, 0, ""}};
  return d;
}

inline nv::FileDecl EntryDecl(const std::string& name) {
  using R = EntryRecord;
  nv::FileDecl d;
  d.label = "FXMA11";
  d.driver = "MemTest";
  d.name = name;
  d.record = nv::DeclareRecord<R>(
      "MA11", {NV_FIELD(R, CODIGO), NV_FIELD(R, NOMBRE), NV_FIELD(R, CODEMP), NV_FIELD(R, ESEMPR)});
  d.keys = {{"MA11:MA11_CP", {"MA11:CODIGO"}, 0, ""},
            {"MA11:MA11_C1", {"MA11:NOMBRE", "MA11:ESEMPR"}, nv::kKeyNoCase, ""}};
  return d;
}

}  // namespace nvtest
