// Record layouts of every data file of the agenda and of the call-traffic
// reports. The layouts are the on-disk format shared with the suite's other
// programs: each struct is packed and its positions are checked here at
// compile time. The record-type descriptors that the drivers read are built
// from these same structs (declarations.cpp), never written twice.
//
// Dates in records are kept in the binary date form (day byte, month byte,
// 16-bit little-endian year). Because the stores only accept plain numeric
// and string fields, a date is declared as a GROUP of three fields
// NAME_DIA (BYTE), NAME_MES (BYTE) and NAME_ANO (SHORT) over those same four
// bytes; keys name the parts year, month, day so that they sort by date.
// DateField offers the day-number view of such a group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/fixed_string.h"

namespace nv::dict {

// Defines the date-group type NAME_t with members NAME_DIA, NAME_MES,
// NAME_ANO and the day-number accessors day() / set_day().
#define NV_DICT_DATE_GROUP(NAME)                                                   \
  struct NAME##_t {                                                                \
    uint8_t NAME##_DIA;                                                            \
    uint8_t NAME##_MES;                                                            \
    int16_t NAME##_ANO;                                                            \
    /* Day number of the date; 0 for an empty or impossible date. */               \
    int32_t day() const {                                                          \
      ::nv::BinDate b;                                                             \
      std::memcpy(&b, this, sizeof b);                                             \
      return ::nv::DateFromBin(b);                                                 \
    }                                                                              \
    /* Stores a day number (0 or an invalid number stores the empty date). */      \
    void set_day(int32_t date) {                                                   \
      ::nv::BinDate b = ::nv::BinFromDate(date);                                   \
      std::memcpy(this, &b, sizeof b);                                             \
    }                                                                              \
  };                                                                               \
  static_assert(sizeof(NAME##_t) == sizeof(::nv::BinDate));                        \
  static_assert(offsetof(NAME##_t, NAME##_DIA) == offsetof(::nv::BinDate, day));   \
  static_assert(offsetof(NAME##_t, NAME##_MES) == offsetof(::nv::BinDate, month)); \
  static_assert(offsetof(NAME##_t, NAME##_ANO) == offsetof(::nv::BinDate, year));  \
  static_assert(sizeof(NAME##_t::NAME##_ANO) == sizeof(::nv::BinDate::year))

#pragma pack(push, 1)
NV_DICT_DATE_GROUP(FECALT);
NV_DICT_DATE_GROUP(FECLLA);
#pragma pack(pop)

// ---------------------------------------------------------------------------
// Agenda files.

#pragma pack(push, 1)
// FXMA11 (MA11, aliases AMA11 and A2MA11): companies and contacts.
struct MA11Record {
  int32_t CODIGO;
  FECALT_t FECALT;
  String<50> NOMBRE;
  String<50> DIRECC;
  String<30> LOCALI;
  String<15> PROVIN;
  Decimal<2, 0> CODRUB;
  Decimal<2, 0> CODRES;
  uint8_t CLIENT;
  int32_t CODEMP;
  String<30> CARGOC;
  String<13> CUITNO;
  String<25> CONIVA;
  String<15> CODPOS;
  String<1> ESEMPR;
};

// FXRE09 (RE09, alias ARE09): telephone numbers and e-mail addresses.
struct RE09Record {
  Decimal<4, 0> CODIGO;
  String<40> NROTEL;
  String<30> COMENT;
  Decimal<3, 0> GRUAGE;
  String<1> CARINI;
  uint8_t LONTEL;
};

// Sets the derived fields of a number from its NROTEL: CARINI, the first
// character of the clipped number (blank for a blank number), and LONTEL,
// the clipped length. Every writer of RE09:NROTEL calls it in the same step.
inline void DeriveNumberFields(RE09Record& r) {
  std::string_view n = r.NROTEL.clipped();
  r.CARINI = n.substr(0, n.empty() ? 0 : 1);
  r.LONTEL = uint8_t(n.size());
}

// FXTA01 (TA01): users.
struct TA01Record {
  Decimal<2, 0> CODUSR;
  String<3> ATRUSR;  // the user's attribute; the agenda does not use it
  String<8> CLAVE;
  String<30> NOMUSR;
};

// FXTA02 (TA02): business categories.
struct TA02Record {
  Decimal<2, 0> CODRUB;
  String<30> DESRUB;
};

// FXTA09 (TA09): directory groups.
struct TA09Record {
  Decimal<3, 0> GRUAGE;
  String<50> DESGRU;
};

// CENTRAL (CENT): identification of the telephone exchange.
struct CENTRecord {
  int16_t NROCEN;
  String<2> RESERV;  // not used
  String<50> NOMCEN;
};

// FXMO04 (MO04): opened and closed by the login window; no field is used.
struct MO04Record {
  int32_t CODIGO;
};

// SALIDA (SAL): one line of a text file.
struct SALRecord {
  String<255> LINEA;
};

// Staging tables of the text import.
struct AUXAGRURecord {  // ARUB
  int32_t CODRUB;       // directory code (filled while merging)
  String<30> DESRUB;
  int32_t CODARC;  // code as written in the text file
};
struct AUXAGGRRecord {  // AGRU
  int32_t GRUAGE;
  String<50> DESGRU;
  int32_t CODARC;
};
struct AUXAGEMRecord {  // AEMP
  int32_t CODARC;
  FECALT_t FECALT;
  String<50> NOMBRE;
  String<50> DIRECC;
  String<30> LOCALI;
  String<15> PROVIN;
  Decimal<2, 0> CODRUB;  // category file code
  uint8_t CLIENT;
  String<13> CUITNO;
  String<25> CONIVA;
  String<15> CODPOS;
};
struct AUXAGTERecord {  // ATEE
  int32_t CODARC;       // company file code
  String<40> NROTEL;
  String<30> COMENT;
  Decimal<3, 0> GRUAGE;  // group file code
};
struct AUXAGCORecord {  // ACON
  int32_t CODARC;
  FECALT_t FECALT;
  String<50> NOMBRE;
  String<50> DIRECC;
  String<30> LOCALI;
  String<15> PROVIN;
  int32_t CODEMP;  // company file code, 0 = no company
  String<30> CARGOC;
  String<15> CODPOS;
};
struct AUXAGTCRecord {  // ATEC
  int32_t CODARC;       // contact file code
  String<40> NROTEL;
  String<30> COMENT;
  Decimal<3, 0> GRUAGE;
};

// Files of the older DOS directory.
struct TA06DOSRecord {
  Decimal<3, 0> GRUPO;
  String<30> DESCRI;
};
struct MA06DOSRecord {
  Decimal<4, 0> CODIGO;
  Decimal<3, 0> GRUPO;
  String<30> NOMBRE;
  String<30> DIRECC;
};
struct RE01DOSRecord {
  Decimal<4, 0> CODIGO;
  String<20> NROTEL;
  String<30> COMENT;
};

// ---------------------------------------------------------------------------
// Call files.

// FXMO01 / FXMO02 (MO01 / MO02, aliases AMO01 / AMO02): one leg of a call.
struct CallRecord {
  int32_t CODLLA;  // call identifier, shared by the legs of a transferred call
  FECLLA_t FECLLA;
  int32_t HORLLA;
  String<10> NROINT;
  String<10> NROLIN;
  String<30> NROTEL;
  int32_t DURLLA;
  int32_t RINLLA;
  String<10> NROCTA;
  double COSLLA;
  String<50> DESLLA;
  String<2> TIPOLLA;
  int32_t CODIGO;
  String<1> TRANSF;  // "T" on a leg of a transferred call
  String<1> RESERV;  // not used
  Decimal<3, 0> GRUINT;
  Decimal<3, 0> GRULIN;
  Decimal<3, 0> GRUCTA;
  Decimal<3, 0> GRUAGE;
  int32_t CODAGT;
  int32_t GRUAGT;
};

// FXTR01 / FXTR02 (TR01 / TR02): header of a transferred call.
struct TransferRecord {
  int32_t CODLLA;
  FECLLA_t FECLLA;
  int32_t HORLLA;
  int32_t DURLLA;
  double COSLLA;
  String<2> TIPOLLA;
  String<50> DESLLA;
  String<10> NROLIN;
  String<10> NROCTA;
  String<30> NROTEL;
  int32_t CODIGO;
  Decimal<3, 0> GRULIN;
  Decimal<3, 0> GRUCTA;  // not read by the reports
  Decimal<3, 0> GRUAGE;
};

// Lookup files of the reports.
struct MA07Record {  // trunk lines
  String<10> NROLIN;
  String<50> DESLIN;
  uint8_t MULTISEL;
};
struct MA08Record {  // extensions
  String<10> NROINT;
  String<50> DESINT;
  uint8_t MULTISEL;
};
struct MA09Record {  // account codes
  String<10> NROCTA;
  String<50> DESCTA;
  uint8_t MULTISEL;
};
struct MA02Record {  // agents
  int32_t CODAGT;
  int32_t CODGRU;  // not read by the reports
  String<100> DESCRI;
  uint8_t MULTISEL;
};
struct TA14Record {  // line groups
  Decimal<3, 0> GRULIN;
  String<50> DESGRU;
};
struct TA15Record {  // extension groups
  Decimal<3, 0> GRUINT;
  String<50> DESGRU;
};
struct TA13Record {  // account groups
  Decimal<3, 0> GRUCTA;
  String<50> DESGRU;
};
struct TA03Record {  // agent groups
  int32_t CODGRU;
  String<30> DESGRU;
};
#pragma pack(pop)

// ---------------------------------------------------------------------------
// Positions shared with the suite's other programs.

#define NV_DICT_AT(Rec, field, pos) static_assert(offsetof(Rec, field) == (pos), #Rec "." #field)

NV_DICT_AT(MA11Record, CODIGO, 0);
NV_DICT_AT(MA11Record, FECALT, 4);
NV_DICT_AT(MA11Record, NOMBRE, 8);
NV_DICT_AT(MA11Record, DIRECC, 58);
NV_DICT_AT(MA11Record, LOCALI, 108);
NV_DICT_AT(MA11Record, PROVIN, 138);
NV_DICT_AT(MA11Record, CODRUB, 153);
NV_DICT_AT(MA11Record, CODRES, 155);
NV_DICT_AT(MA11Record, CLIENT, 157);
NV_DICT_AT(MA11Record, CODEMP, 158);
NV_DICT_AT(MA11Record, CARGOC, 162);
NV_DICT_AT(MA11Record, CUITNO, 192);
NV_DICT_AT(MA11Record, CONIVA, 205);
NV_DICT_AT(MA11Record, CODPOS, 230);
NV_DICT_AT(MA11Record, ESEMPR, 245);
static_assert(sizeof(MA11Record) == 246);

NV_DICT_AT(RE09Record, CODIGO, 0);
NV_DICT_AT(RE09Record, NROTEL, 4);
NV_DICT_AT(RE09Record, COMENT, 44);
NV_DICT_AT(RE09Record, GRUAGE, 74);
NV_DICT_AT(RE09Record, CARINI, 77);
NV_DICT_AT(RE09Record, LONTEL, 78);
static_assert(sizeof(RE09Record) == 79);

NV_DICT_AT(TA01Record, CODUSR, 0);
NV_DICT_AT(TA01Record, CLAVE, 5);
NV_DICT_AT(TA01Record, NOMUSR, 13);
static_assert(sizeof(TA01Record) == 43);
static_assert(sizeof(TA02Record) == 32 && offsetof(TA02Record, DESRUB) == 2);
static_assert(sizeof(TA09Record) == 53 && offsetof(TA09Record, DESGRU) == 3);

NV_DICT_AT(CENTRecord, NROCEN, 0);
NV_DICT_AT(CENTRecord, NOMCEN, 4);
static_assert(sizeof(SALRecord) == 255);

NV_DICT_AT(AUXAGRURecord, DESRUB, 4);
NV_DICT_AT(AUXAGRURecord, CODARC, 34);
NV_DICT_AT(AUXAGGRRecord, DESGRU, 4);
NV_DICT_AT(AUXAGGRRecord, CODARC, 54);
NV_DICT_AT(AUXAGEMRecord, FECALT, 4);
NV_DICT_AT(AUXAGEMRecord, NOMBRE, 8);
NV_DICT_AT(AUXAGEMRecord, CODRUB, 153);
NV_DICT_AT(AUXAGEMRecord, CLIENT, 155);
NV_DICT_AT(AUXAGEMRecord, CUITNO, 156);
NV_DICT_AT(AUXAGEMRecord, CONIVA, 169);
NV_DICT_AT(AUXAGEMRecord, CODPOS, 194);
static_assert(sizeof(AUXAGEMRecord) == 209);
NV_DICT_AT(AUXAGTERecord, NROTEL, 4);
NV_DICT_AT(AUXAGTERecord, COMENT, 44);
NV_DICT_AT(AUXAGTERecord, GRUAGE, 74);
static_assert(sizeof(AUXAGTERecord) == 77 && sizeof(AUXAGTCRecord) == 77);
NV_DICT_AT(AUXAGCORecord, CODEMP, 153);
NV_DICT_AT(AUXAGCORecord, CARGOC, 157);
NV_DICT_AT(AUXAGCORecord, CODPOS, 187);
static_assert(sizeof(AUXAGCORecord) == 202);

static_assert(sizeof(TA06DOSRecord) == 33);
NV_DICT_AT(MA06DOSRecord, GRUPO, 4);
NV_DICT_AT(MA06DOSRecord, NOMBRE, 7);
NV_DICT_AT(MA06DOSRecord, DIRECC, 37);
NV_DICT_AT(RE01DOSRecord, NROTEL, 4);
NV_DICT_AT(RE01DOSRecord, COMENT, 24);

NV_DICT_AT(CallRecord, CODLLA, 0);
NV_DICT_AT(CallRecord, FECLLA, 4);
NV_DICT_AT(CallRecord, HORLLA, 8);
NV_DICT_AT(CallRecord, NROINT, 12);
NV_DICT_AT(CallRecord, NROLIN, 22);
NV_DICT_AT(CallRecord, NROTEL, 32);
NV_DICT_AT(CallRecord, DURLLA, 62);
NV_DICT_AT(CallRecord, RINLLA, 66);
NV_DICT_AT(CallRecord, NROCTA, 70);
NV_DICT_AT(CallRecord, COSLLA, 80);
NV_DICT_AT(CallRecord, DESLLA, 88);
NV_DICT_AT(CallRecord, TIPOLLA, 138);
NV_DICT_AT(CallRecord, CODIGO, 140);
NV_DICT_AT(CallRecord, TRANSF, 144);
NV_DICT_AT(CallRecord, GRUINT, 146);
NV_DICT_AT(CallRecord, GRULIN, 149);
NV_DICT_AT(CallRecord, GRUCTA, 152);
NV_DICT_AT(CallRecord, GRUAGE, 155);
NV_DICT_AT(CallRecord, CODAGT, 158);
NV_DICT_AT(CallRecord, GRUAGT, 162);
static_assert(sizeof(CallRecord) == 166);

NV_DICT_AT(TransferRecord, CODLLA, 0);
NV_DICT_AT(TransferRecord, FECLLA, 4);
NV_DICT_AT(TransferRecord, HORLLA, 8);
NV_DICT_AT(TransferRecord, DESLLA, 26);  // ends at byte 76
NV_DICT_AT(TransferRecord, NROLIN, 76);
NV_DICT_AT(TransferRecord, NROCTA, 86);
NV_DICT_AT(TransferRecord, NROTEL, 96);
NV_DICT_AT(TransferRecord, CODIGO, 126);
NV_DICT_AT(TransferRecord, GRULIN, 130);
NV_DICT_AT(TransferRecord, GRUCTA, 133);
NV_DICT_AT(TransferRecord, GRUAGE, 136);
static_assert(offsetof(TransferRecord, HORLLA) < offsetof(TransferRecord, DURLLA) &&
              offsetof(TransferRecord, DURLLA) < offsetof(TransferRecord, COSLLA) &&
              offsetof(TransferRecord, COSLLA) < offsetof(TransferRecord, DESLLA));
static_assert(sizeof(TransferRecord) == 139);

NV_DICT_AT(MA07Record, DESLIN, 10);
NV_DICT_AT(MA08Record, DESINT, 10);
NV_DICT_AT(MA09Record, DESCTA, 10);
NV_DICT_AT(MA02Record, DESCRI, 8);
NV_DICT_AT(TA14Record, DESGRU, 3);
NV_DICT_AT(TA15Record, DESGRU, 3);
NV_DICT_AT(TA13Record, DESGRU, 3);
NV_DICT_AT(TA03Record, DESGRU, 4);

#undef NV_DICT_AT

}  // namespace nv::dict
