#include "reports/summary_family.h"

#include <iterator>

namespace fxr4 {

namespace {

constexpr Direction kEnt = Direction::kIncoming;
constexpr Direction kSal = Direction::kOutgoing;
constexpr const char* kEntPrefix = "Informe de llamadas entrantes - ";
constexpr const char* kSalPrefix = "Informe de llamadas salientes - ";

using K = SummaryKind;
using G = GroupField;
constexpr RangeKind kText = RangeKind::kText;
constexpr RangeKind kNum = RangeKind::kNumber;
constexpr RangeKind kNoRange = RangeKind::kNone;
constexpr BlockKind kRpt = BlockKind::kRpt;
constexpr BlockKind kCod = BlockKind::kCod;
constexpr BlockKind kCtas = BlockKind::kCtas;

// name, direction, block, kind, key, range field, range kind, column (title, field, picture),
// cost picture, caption, headings of
constexpr SummaryProc kProcs[] = {
    {"RPT_ENT_LINEAS_RESUMEN", kEnt, kRpt, K::kStandard, "_C2", G::kNROLIN, kText, "", "", "",
     "@n9.2", "Reporte de llamadas entrantes por líneas resumido", "RPT_ENT_LINEAS_DETALLE"},
    {"RPT_SAL_LINEAS_RESUMEN", kSal, kRpt, K::kStandard, "_C2", G::kNROLIN, kText, "", "", "",
     "@n9.2", "Reporte de llamadas salientes por líneas resumido", "RPT_SAL_LINEAS_DETALLE"},
    {"RPT_ENT_INTERNOS_RESUMEN", kEnt, kRpt, K::kStandard, "_C3", G::kNROINT, kText, "", "", "",
     "@n9.2", "Reporte de llamadas salientes por internos resumido", "RPT_ENT_INTERNOS_DETALLE"},
    {"RPT_SAL_INTERNOS_RESUMEN", kSal, kRpt, K::kStandard, "_C3", G::kNROINT, kText, "", "", "",
     "@n9.2", "Reporte de llamadas salientes por internos resumido", "RPT_SAL_INTERNOS_DETALLE"},
    {"RPT_ENT_CTAS_RESUMEN", kEnt, kCtas, K::kAccounts, "", G::kNone, kNoRange, "Cuenta",
     "MA09:DESCTA", "@s50", "@n10.2", "Reporte resumido de llamadas salientes por cuentas",
     "RPT_ENT_CTAS_DETALLE"},
    {"RPT_SAL_CTAS_RESUMEN", kSal, kCtas, K::kAccounts, "", G::kNone, kNoRange, "Cuenta",
     "MA09:DESCTA", "@s50", "@n10.2", "Reporte de llamadas salientes por cuentas",
     "RPT_SAL_CTAS_DETALLE"},
    {"RPT_ENT_GRP_LINEAS_RESUMEN", kEnt, kCod, K::kStandard, "_C6", G::kGRULIN, kNum, "Grupo",
     "GRULIN", "@n4", "@n10.2", "Reporte de llamadas entrantes por grupos de líneas resumido",
     "RPT_ENT_GRP_LINEAS_DETALLE"},
    {"RPT_SAL_GRP_LINEAS_RESUMEN", kSal, kCod, K::kStandard, "_C6", G::kGRULIN, kNum, "Grupo",
     "GRULIN", "@n4", "@n10.2", "Reporte de llamadas salientes por líneas resumido",
     "RPT_SAL_GRP_LINEAS_DETALLE"},
    {"RPT_ENT_GRP_INT_RESUMEN", kEnt, kCod, K::kStandard, "_C5", G::kGRUINT, kNum, "Grupo",
     "GRUINT", "@n4", "@n10.2", "Reporte de llamadas entrantes por grupos de internos resumido",
     "RPT_ENT_GRP_INT_DETALLE"},
    {"RPT_SAL_GRP_INT_RESUMEN", kSal, kCod, K::kStandard, "_C5", G::kGRUINT, kNum, "Grupo",
     "GRUINT", "@n4", "@n10.2", "Reporte de llamadas salientes por grupos de internos resumido",
     "RPT_SAL_GRP_INT_DETALLE"},
    {"RPT_ENT_GRP_CTAS_RESUMEN", kEnt, kCod, K::kStandard, "_C7", G::kGRUCTA, kNum, "Grupo",
     "GRUCTA", "@n4", "@n10.2", "Reporte resumido de llamadas entrantes por grupos de cuentas", ""},
    {"RPT_SAL_GRP_CTAS_RESUMEN", kSal, kCod, K::kStandard, "_C7", G::kGRUCTA, kNum, "Grupo",
     "GRUCTA", "@n4", "@n10.2", "Reporte resumido de llamadas salientes por grupos de cuentas",
     "RPT_SAL_GRP_CTAS_DETALLE"},
    {"RPT_ENT_FECHA_RESUMEN", kEnt, kRpt, K::kDates, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas entrantes por fecha resumido", "RPT_ENT_FECHA_DETALLE"},
    {"RPT_SAL_FECHA_RESUMEN", kSal, kRpt, K::kDates, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas salientes por fecha resumido", "RPT_SAL_FECHA_DETALLE"},
    {"RPT_ENT_NUMEROS_RESUMEN", kEnt, kRpt, K::kStandard, "_C9", G::kNone, kNoRange, "", "", "",
     "@n9.2", "Reporte de llamadas entrantes por números resumido", "RPT_ENT_NUMEROS_DETALLE"},
    {"RPT_SAL_NUMEROS_RESUMEN", kSal, kRpt, K::kStandard, "_C9", G::kNone, kNoRange, "", "", "",
     "@n9.2", "Reporte de llamadas salientes por números resumido", "RPT_SAL_NUMEROS_DETALLE"},
    {"RPT_ENT_GRP_AGENDA_RESUMEN", kEnt, kCod, K::kStandard, "_C8", G::kGRUAGE, kNum, "Grupo",
     "GRUAGE", "@n4", "@n10.2", "Reporte de llamadas entrantes por grupos de agenda resumido",
     "RPT_ENT_GRP_AGENDA_DETALLE"},
    {"RPT_SAL_GRP_AGENDA_RESUMEN", kSal, kCod, K::kStandard, "_C8", G::kGRUAGE, kNum, "Grupo",
     "GRUAGE", "@n4", "@n10.2", "Reporte de llamadas salientes por grupos de agenda resumido",
     "RPT_SAL_GRP_AGENDA_DETALLE"},
    {"RPT_ENT_AGENTES_RESUMEN", kEnt, kCod, K::kStandard, "_C11", G::kCODAGT, kNum, "Agentes",
     "CODAGT", "@n8", "@n10.2", "Reporte resumido de llamadas entrantes por agentes",
     "RPT_ENT_AGENTES_DETALLE"},
    {"RPT_SAL_AGENTES_RESUMEN", kSal, kCod, K::kStandard, "_C11", G::kCODAGT, kNum, "Agentes",
     "CODAGT", "@n8", "@n10.2", "Reporte de llamadas salientes por agentes",
     "RPT_SAL_AGENTES_DETALLE"},
    {"RPT_ENT_GRP_AGENTES_RESUMEN", kEnt, kCod, K::kStandard, "_C12", G::kGRUAGT, kNum, "Grupo",
     "GRUAGT", "@n7", "@n10.2", "Reporte de llamadas entrantes por grupos de internos resumido",
     "RPT_ENT_GRP_AGENTES_DETALLE"},
    {"RPT_SAL_GRP_AGENTES_RESUMEN", kSal, kCod, K::kStandard, "_C12", G::kGRUAGT, kNum, "Grupo",
     "GRUAGT", "@n4", "@n10.2", "Reporte de llamadas salientes por grupos de internos resumido",
     "RPT_SAL_GRP_AGENTES_DETALLE"},
    // The special members: their headings are built by the run.
    {"RPT_GRATUITAS_RESUMEN", kSal, kRpt, K::kFree, "_C1", G::kNone, kNoRange, "", "", "", "@n10.2",
     "Reporte de llamadas gratuitas resumido", ""},
    {"RPT_NO_TARIFADAS_RESUMEN", kSal, kRpt, K::kUnrated, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas no tarifadas resumido", ""},
    {"RPT_ENT_AGENDADAS_RESUMEN", kEnt, kRpt, K::kDirectory, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas entrantes agendadas resumido", ""},
    {"RPT_SAL_AGENDADAS_RESUMEN", kSal, kRpt, K::kDirectory, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas salientes agendadas resumido", ""},
    {"RPT_ENT_REQUE_RESUMEN", kEnt, kRpt, K::kRequirement, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas entrantes por requerimiento resumido", ""},
    {"RPT_SAL_REQUE_RESUMEN", kSal, kRpt, K::kRequirement, "_C1", G::kNone, kNoRange, "", "", "",
     "@n10.2", "Reporte de llamadas salientes por requerimiento resumido", ""},
};

// The incoming account-group family has no detail form; its headings follow
// the outgoing one's wording.
constexpr DetailProc kEntGrpCtasHeadings = {
    "RPT_ENT_GRP_CTAS_RESUMEN",
    kEnt,
    kCod,
    Walk::kKeyRange,
    "_C7",
    G::kGRUCTA,
    kNum,
    "Informe de llamadas entrantes - Por Grupos de Código de Cuentas -",
    kEntPrefix,
    " por Grupos de Código de Cuentas -",
    "grupo/s: ",
    "@T4",
    "Reporte resumido de llamadas entrantes por grupos de cuentas"};

// The special detail forms: walked by date from DESFEC to HASFEC; the run
// replaces their headings and selection (fixed_filters.cpp).
constexpr DetailProc kSpecialDetails[] = {
    {"RPT_GRATUITAS_DETALLE", kSal, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas salientes - Gratuitas Por Fecha -", kSalPrefix, "", "", "@T4",
     "Reporte de llamadas gratuitas detallado"},
    {"RPT_NO_TARIFADAS_DETALLE", kSal, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas salientes - No Tarifadas por Fecha -", kSalPrefix, "", "", "@T4",
     "Reporte de llamadas no tarifadas detallado"},
    {"RPT_ENT_AGENDADAS_DETALLE", kEnt, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas entrantes - Agendadas -", kEntPrefix, "", "", "@T4",
     "Reporte de llamadas entrantes agendadas detallado"},
    {"RPT_SAL_AGENDADAS_DETALLE", kSal, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas salientes - Agendadas -", kSalPrefix, "", "", "@T4",
     "Reporte de llamadas salientes agendadas detallado"},
    {"RPT_ENT_REQUE_DETALLE", kEnt, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas entrantes - Por Requerimientos -", kEntPrefix, " por Requerimientos -",
     "", "@T4", "Reporte de llamadas entrantes por requerimiento detallado"},
    {"RPT_SAL_REQUE_DETALLE", kSal, kRpt, Walk::kDates, "_C1", G::kNone, kNoRange,
     "Informe de llamadas salientes - Por Requerimiento -", kSalPrefix, " por Requerimiento -", "",
     "@T4", "Reporte de llamadas salientes por requerimiento detallado"},
};

}  // namespace

const SummaryProc* SummaryProcs(size_t* count) {
  *count = std::size(kProcs);
  return kProcs;
}

const SummaryProc* FindSummaryProc(std::string_view name) {
  for (const SummaryProc& p : kProcs) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

const DetailProc& SummaryHeadings(const SummaryProc& p) {
  const DetailProc* d = FindDetailProc(p.headings);
  if (d == nullptr) d = FindSpecialDetail(p.headings);
  return d != nullptr ? *d : kEntGrpCtasHeadings;
}

SpecialKind SpecialOf(std::string_view name) {
  if (name.find("GRATUITAS") != std::string_view::npos) return SpecialKind::kFree;
  if (name.find("NO_TARIFADAS") != std::string_view::npos) return SpecialKind::kUnrated;
  if (name.find("_AGENDADAS_") != std::string_view::npos) return SpecialKind::kDirectory;
  if (name.find("_REQUE_") != std::string_view::npos) return SpecialKind::kRequirement;
  return SpecialKind::kNone;
}

const DetailProc* FindSpecialDetail(std::string_view name) {
  for (const DetailProc& p : kSpecialDetails) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

const DetailProc* SpecialDetails(size_t* count) {
  *count = std::size(kSpecialDetails);
  return kSpecialDetails;
}

}  // namespace fxr4
