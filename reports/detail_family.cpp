#include "reports/detail_family.h"

#include <iterator>

namespace fxr4 {

namespace {

constexpr Direction kEnt = Direction::kIncoming;
constexpr Direction kSal = Direction::kOutgoing;
constexpr const char* kEntPrefix = "Informe de llamadas entrantes - ";
constexpr const char* kSalPrefix = "Informe de llamadas salientes - ";

// name, direction, block, walk, key, field, range, plain title, typed prefix, typed suffix,
// range label, time picture, caption
constexpr DetailProc kProcs[] = {
    {"RPT_ENT_LINEAS_DETALLE", kEnt, BlockKind::kRpt, Walk::kKeyRange, "_C2", GroupField::kNROLIN,
     RangeKind::kText, "Informe de llamadas entrantes - Por Líneas -", kEntPrefix, " por Líneas -",
     "linea/s: ", "@T4", "Reporte de llamadas salientes por líneas detallado"},
    {"RPT_SAL_LINEAS_DETALLE", kSal, BlockKind::kRpt, Walk::kKeyRange, "_C2", GroupField::kNROLIN,
     RangeKind::kText, "Informe de llamadas salientes - Por Líneas -", kSalPrefix, " por Líneas -",
     "línea/s: ", "@T4", "Reporte de llamadas salientes por líneas detallado"},
    {"RPT_ENT_INTERNOS_DETALLE", kEnt, BlockKind::kRpt, Walk::kKeyRange, "_C3", GroupField::kNROINT,
     RangeKind::kText, "Informe de llamadas entrantes - Por Internos -", kEntPrefix,
     " por Internos -", "interno/s: ", "@T4",
     "Reporte de llamadas salientes por internos detallado"},
    {"RPT_SAL_INTERNOS_DETALLE", kSal, BlockKind::kRpt, Walk::kKeyRange, "_C3", GroupField::kNROINT,
     RangeKind::kText, "Informe de llamadas salientes - Por Internos -", kSalPrefix,
     " por Internos -", "interno/s: ", "@T4",
     "Reporte de llamadas salientes por internos detallado"},
    {"RPT_ENT_CTAS_DETALLE", kEnt, BlockKind::kCtas, Walk::kAccounts, "_C4", GroupField::kNROCTA,
     RangeKind::kText, "Informe de llamadas entrantes - Por Códigos de Cuentas -", kEntPrefix,
     " por Códigos de Cuentas -", "código de cuenta/s: ", "@T4",
     "Reporte de llamadas salientes por Cód. Ctas detallado"},
    {"RPT_SAL_CTAS_DETALLE", kSal, BlockKind::kCtas, Walk::kAccounts, "_C4", GroupField::kNROCTA,
     RangeKind::kText, "Informe de llamadas salientes - Por Códigos de Cuentas -",
     "Informe de llamada ", " salientes - Por Códigos de Cuentas -", "código de cuenta/s: ", "@T4",
     "Reporte de llamadas salientes por Cód. Ctas detallado"},
    {"RPT_ENT_GRP_LINEAS_DETALLE", kEnt, BlockKind::kCod, Walk::kKeyRange, "_C6",
     GroupField::kGRULIN, RangeKind::kNumber,
     "Informe de llamadas entrantes - Por Grupos de Líneas -", kEntPrefix,
     " por Grupos de Líneas -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupo de líneas detallado"},
    {"RPT_SAL_GRP_LINEAS_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C6",
     GroupField::kGRULIN, RangeKind::kNumber,
     "Informe de llamadas salientes - Por Grupos de Líneas -", kSalPrefix,
     " por Grupos de Líneas -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupo de líneas detallado"},
    {"RPT_ENT_GRP_INT_DETALLE", kEnt, BlockKind::kCod, Walk::kKeyRange, "_C5", GroupField::kGRUINT,
     RangeKind::kNumber, "Informe de llamadas entrantes - Por Grupos de Internos -", kEntPrefix,
     " por Grupos de Internos -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupos de internos detallado"},
    {"RPT_SAL_GRP_INT_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C5", GroupField::kGRUINT,
     RangeKind::kNumber, "Informe de llamadas salientes - Por Grupos de Internos -", kSalPrefix,
     " por Grupos de Internos -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupos de internos detallado"},
    {"RPT_SAL_GRP_CTAS_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C7", GroupField::kGRUCTA,
     RangeKind::kNumber, "Informe de llamadas salientes - Por Grupos de Código de Cuentas -",
     kSalPrefix, " por Grupos de Código de Cuentas -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupos de códigos de cuentas detallado"},
    {"RPT_ENT_FECHA_DETALLE", kEnt, BlockKind::kRpt, Walk::kDates, "_C1", GroupField::kNone,
     RangeKind::kNone, "Informe de llamadas entrantes - Por Fecha -", kEntPrefix, " por Fecha -",
     "", "@T1", "Reporte de llamadas salientes por fecha detallado"},
    {"RPT_SAL_FECHA_DETALLE", kSal, BlockKind::kRpt, Walk::kDates, "_C1", GroupField::kNone,
     RangeKind::kNone, "Informe de llamadas salientes - Por Fecha -", kSalPrefix, " por Fecha -",
     "", "@T1", "Reporte de llamadas salientes por fecha detallado"},
    {"RPT_ENT_NUMEROS_DETALLE", kEnt, BlockKind::kRpt, Walk::kNumbers, "_C9", GroupField::kNone,
     RangeKind::kNone, "Informe de llamadas entrantes - Por Números -", kEntPrefix,
     " por Números -", "", "@T4", "Reporte de llamadas salientes por internos detallado"},
    {"RPT_SAL_NUMEROS_DETALLE", kSal, BlockKind::kRpt, Walk::kNumbers, "_C9", GroupField::kNone,
     RangeKind::kNone, "Informe de llamadas salientes - Por Números -", kSalPrefix,
     " por Números -", "", "@T4", "Reporte de llamadas salientes por internos detallado"},
    {"RPT_ENT_GRP_AGENDA_DETALLE", kEnt, BlockKind::kCod, Walk::kKeyRange, "_C8",
     GroupField::kGRUAGE, RangeKind::kNumber,
     "Informe de llamadas entrantes - Por Grupos de Agenda -", kEntPrefix,
     " por Grupos de Agenda -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupo de agenda detallado"},
    {"RPT_SAL_GRP_AGENDA_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C8",
     GroupField::kGRUAGE, RangeKind::kNumber,
     "Informe de llamadas salientes - Por Grupos de Agenda -", kSalPrefix,
     " por Grupos de Agenda -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupo de agenda detallado"},
    {"RPT_ENT_AGENTES_DETALLE", kEnt, BlockKind::kCod, Walk::kKeyRange, "_C11", GroupField::kCODAGT,
     RangeKind::kNumber, "Informe de llamadas entrantes - Por Agentes -", kEntPrefix,
     " por Agentes -", "agente/s: ", "@T4", "Reporte de llamadas salientes por internos detallado"},
    {"RPT_SAL_AGENTES_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C11", GroupField::kCODAGT,
     RangeKind::kNumber, "Informe de llamadas salientes - Por Agentes -", kSalPrefix,
     " por Agentes -", "agente/s: ", "@T4", "Reporte de llamadas salientes por agentes detallado"},
    {"RPT_ENT_GRP_AGENTES_DETALLE", kEnt, BlockKind::kCod, Walk::kKeyRange, "_C12",
     GroupField::kGRUAGT, RangeKind::kNumber,
     "Informe de llamadas entrantes - Por Grupos de Agentes -", kEntPrefix,
     " por Grupos de Agentes -", "grupo/s: ", "@T4",
     "Reporte de llamadas entrantes por grupos de agentes detallado"},
    {"RPT_SAL_GRP_AGENTES_DETALLE", kSal, BlockKind::kCod, Walk::kKeyRange, "_C12",
     GroupField::kGRUAGT, RangeKind::kNumber,
     "Informe de llamadas salientes - Por Grupos de Agentes -", kSalPrefix,
     " por Grupos de Agentes -", "grupo/s: ", "@T4",
     "Reporte de llamadas salientes por grupos de agentes detallado"},
};

}  // namespace

size_t BlockSize(BlockKind k) {
  switch (k) {
    case BlockKind::kRpt:
      return 87;
    case BlockKind::kCtas:
      return 207;
    case BlockKind::kCod:
      return 75;
  }
  return 87;
}

const DetailProc* DetailProcs(size_t* count) {
  *count = std::size(kProcs);
  return kProcs;
}

const DetailProc* FindDetailProc(std::string_view name) {
  for (const DetailProc& p : kProcs) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

}  // namespace fxr4
