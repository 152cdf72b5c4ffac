// Report parameter blocks: the fixed-layout strings that travel from the
// suite's main program to a chooser and from the chooser to a report
// procedure. Integers are little-endian, strings blank-padded, no padding
// between fields; every offset and size is checked at compile time.
//
// The copy rule: a procedure copies each argument into a local block of its
// family's size; a shorter argument leaves the rest of the block blank
// (space characters, also inside numeric fields), a longer one is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/runtime/fixed_string.h"

namespace fxr4 {

using nv::String;

#pragma pack(push, 1)
// Reports by line, extension, date, number, directory calls, free and
// unrated calls.
struct PARAM_RPT {
  int32_t DESFEC;
  int32_t HASFEC;
  int32_t DESHOR;
  int32_t HASHOR;
  String<10> DESDE;
  String<10> HASTA;
  uint8_t LLASAL;
  uint8_t LLAENT;
  uint8_t NEW_COL_SEL;
  String<3> VECTOR_CLASES[6];
  String<10> REGISTRO_ACTUAL;
  String<20> CURTAB;
};

// Reports by account code: the range is a pair of account descriptions.
struct PARAM_RPT_CTAS {
  int32_t DESFEC;
  int32_t HASFEC;
  int32_t DESHOR;
  int32_t HASHOR;
  String<50> DESDE;
  String<50> HASTA;
  uint8_t LLASAL;
  uint8_t LLAENT;
  uint8_t NEW_COL_SEL;
  String<3> VECTOR_CLASES[6];
  String<50> REGISTRO_ACTUAL;
  String<20> CURTAB;
};

// Reports by group and by agent: the range is a pair of codes.
struct PARAM_RPT_COD {
  int32_t DESFEC;
  int32_t HASFEC;
  int32_t DESHOR;
  int32_t HASHOR;
  int32_t DESDE;
  int32_t HASTA;
  uint8_t LLASAL;
  uint8_t LLAENT;
  uint8_t NEW_COL_SEL;
  String<3> VECTOR_CLASES[6];
  String<10> REGISTRO_ACTUAL;
  String<20> CURTAB;
};

// Requirement reports.
struct PARAM_RPT_REQUE {
  int32_t DESFEC;
  int32_t HASFEC;
  int32_t DESHOR;
  int32_t HASHOR;
  int32_t DESDUR;
  int32_t HASDUR;
  String<2> OPCIONES_CTAS;
  String<2> OPCIONES_AGENTES;
  String<2> OPCIONES_AGENDA;
  double DESCOS;
  double HASCOS;
  String<30> DESNRO;
  String<30> HASNRO;
  uint8_t LLASAL;
  uint8_t LLAENT;
  String<20> CURTAB;
  uint8_t APLICO_FILTRO;
};

// Print options, the second argument of every report procedure.
struct OPC_IMPRESION {
  uint8_t VISTA_PREVIA;  // 1 = show the preview first
  int16_t COPIAS;
};
#pragma pack(pop)

#define FXR4_AT(Rec, field, pos) static_assert(offsetof(Rec, field) == (pos), #Rec "." #field)
FXR4_AT(PARAM_RPT, DESFEC, 0);
FXR4_AT(PARAM_RPT, HASFEC, 4);
FXR4_AT(PARAM_RPT, DESHOR, 8);
FXR4_AT(PARAM_RPT, HASHOR, 12);
FXR4_AT(PARAM_RPT, DESDE, 16);
FXR4_AT(PARAM_RPT, HASTA, 26);
FXR4_AT(PARAM_RPT, LLASAL, 36);
FXR4_AT(PARAM_RPT, LLAENT, 37);
FXR4_AT(PARAM_RPT, NEW_COL_SEL, 38);
FXR4_AT(PARAM_RPT, VECTOR_CLASES, 39);
FXR4_AT(PARAM_RPT, REGISTRO_ACTUAL, 57);
FXR4_AT(PARAM_RPT, CURTAB, 67);
static_assert(sizeof(PARAM_RPT) == 87);

FXR4_AT(PARAM_RPT_CTAS, DESFEC, 0);
FXR4_AT(PARAM_RPT_CTAS, HASFEC, 4);
FXR4_AT(PARAM_RPT_CTAS, DESHOR, 8);
FXR4_AT(PARAM_RPT_CTAS, HASHOR, 12);
FXR4_AT(PARAM_RPT_CTAS, DESDE, 16);
FXR4_AT(PARAM_RPT_CTAS, HASTA, 66);
FXR4_AT(PARAM_RPT_CTAS, LLASAL, 116);
FXR4_AT(PARAM_RPT_CTAS, LLAENT, 117);
FXR4_AT(PARAM_RPT_CTAS, NEW_COL_SEL, 118);
FXR4_AT(PARAM_RPT_CTAS, VECTOR_CLASES, 119);
FXR4_AT(PARAM_RPT_CTAS, REGISTRO_ACTUAL, 137);
FXR4_AT(PARAM_RPT_CTAS, CURTAB, 187);
static_assert(sizeof(PARAM_RPT_CTAS) == 207);

FXR4_AT(PARAM_RPT_COD, DESFEC, 0);
FXR4_AT(PARAM_RPT_COD, HASFEC, 4);
FXR4_AT(PARAM_RPT_COD, DESHOR, 8);
FXR4_AT(PARAM_RPT_COD, HASHOR, 12);
FXR4_AT(PARAM_RPT_COD, DESDE, 16);
FXR4_AT(PARAM_RPT_COD, HASTA, 20);
FXR4_AT(PARAM_RPT_COD, LLASAL, 24);
FXR4_AT(PARAM_RPT_COD, LLAENT, 25);
FXR4_AT(PARAM_RPT_COD, NEW_COL_SEL, 26);
FXR4_AT(PARAM_RPT_COD, VECTOR_CLASES, 27);
FXR4_AT(PARAM_RPT_COD, REGISTRO_ACTUAL, 45);
FXR4_AT(PARAM_RPT_COD, CURTAB, 55);
static_assert(sizeof(PARAM_RPT_COD) == 75);

FXR4_AT(PARAM_RPT_REQUE, DESFEC, 0);
FXR4_AT(PARAM_RPT_REQUE, HASFEC, 4);
FXR4_AT(PARAM_RPT_REQUE, DESHOR, 8);
FXR4_AT(PARAM_RPT_REQUE, HASHOR, 12);
FXR4_AT(PARAM_RPT_REQUE, DESDUR, 16);
FXR4_AT(PARAM_RPT_REQUE, HASDUR, 20);
FXR4_AT(PARAM_RPT_REQUE, OPCIONES_CTAS, 24);
FXR4_AT(PARAM_RPT_REQUE, OPCIONES_AGENTES, 26);
FXR4_AT(PARAM_RPT_REQUE, OPCIONES_AGENDA, 28);
FXR4_AT(PARAM_RPT_REQUE, DESCOS, 30);
FXR4_AT(PARAM_RPT_REQUE, HASCOS, 38);
FXR4_AT(PARAM_RPT_REQUE, DESNRO, 46);
FXR4_AT(PARAM_RPT_REQUE, HASNRO, 76);
FXR4_AT(PARAM_RPT_REQUE, LLASAL, 106);
FXR4_AT(PARAM_RPT_REQUE, LLAENT, 107);
FXR4_AT(PARAM_RPT_REQUE, CURTAB, 108);
FXR4_AT(PARAM_RPT_REQUE, APLICO_FILTRO, 128);
static_assert(sizeof(PARAM_RPT_REQUE) == 129);

FXR4_AT(OPC_IMPRESION, VISTA_PREVIA, 0);
FXR4_AT(OPC_IMPRESION, COPIAS, 1);
static_assert(sizeof(OPC_IMPRESION) == 3);
#undef FXR4_AT

// The copy rule over raw bytes: copies min(n, size) bytes of `arg` (which
// may be null when n is 0) and blank-fills the rest of `block`.
inline void CopyBlock(void* block, size_t size, const char* arg, size_t n) {
  const size_t take = (arg == nullptr) ? 0 : (n < size ? n : size);
  if (take > 0) std::memcpy(block, arg, take);
  std::memset(static_cast<char*>(block) + take, ' ', size - take);
}

// A block of type B filled from an argument by the copy rule.
template <class B>
B CopiedBlock(std::string_view arg) {
  static_assert(alignof(B) == 1);
  B b;
  CopyBlock(&b, sizeof b, arg.data(), arg.size());
  return b;
}

}  // namespace fxr4
