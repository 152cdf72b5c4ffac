// The exported names of libFXR4.so. Everything else of the library is
// hidden. String arguments come as (address, length) pairs; a report
// procedure copies them by the copy rule and runs to completion on the
// calling thread (the choosers call it on a thread of its own).
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "host/runtime/codepage.h"
#include "host/ui/framework.h"
#include "reports/csv_export.h"
#include "reports/detail_family.h"
#include "reports/detail_report.h"
#include "reports/output.h"
#include "reports/fixed_filters.h"
#include "reports/summary_family.h"
#include "reports/summary_report.h"

#define FXR4_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string_view Arg(const char* p, size_t n) {
  return p == nullptr ? std::string_view() : std::string_view(p, n);
}

void RunByName(const char* name, std::string_view option, const char* block, size_t block_len,
               const char* opc, size_t opc_len) {
  const std::string_view b = Arg(block, block_len), o = Arg(opc, opc_len);
  const std::string csv_path = fxr4::CsvPath();
  std::unique_ptr<fxr4::CsvExport> csv;
  fxr4::RunResult result;
  const fxr4::SummaryProc* s = fxr4::FindSummaryProc(name);
  const fxr4::DetailProc* d = fxr4::FindDetailProc(name);
  const fxr4::DetailProc* special = fxr4::FindSpecialDetail(name);
  if (d == nullptr) d = special;
  if (s == nullptr && d == nullptr) return;
  if (!csv_path.empty()) {
    csv = std::make_unique<fxr4::CsvExport>(csv_path, s != nullptr
                                                          ? std::string(s->column_title)
                                                          : fxr4::DetailCsvRows::GroupTitle(*d));
    if (!csv->Open()) {
      nv::ui::CurrentErrorReporter().Show(nv::AnsiFromUtf8(csv->error()));
      return;
    }
  }
  if (s != nullptr) {
    result = fxr4::RunSummary(*s, option, b, o, {}, csv.get());
  } else {
    fxr4::RunOptions options;
    std::unique_ptr<fxr4::DetailCsvRows> rows;
    const nv::dict::Dictionary* dict = fxr4::LibraryDictionary();
    if (csv != nullptr && dict != nullptr) {
      rows = std::make_unique<fxr4::DetailCsvRows>(*dict, *d);
      options.on_selected = [&](const nv::dict::CallRecord& r) { rows->Row(*csv, r); };
      options.deliver = [](nv::report::Document&&) {};
    }
    result = special != nullptr ? fxr4::RunSpecialDetail(*d, option, b, o, options)
                                : fxr4::RunDetail(*d, b, o, options);
  }
  if (csv == nullptr) return;
  // A failed run leaves no file that could pass for its result.
  bool failed = result.status != fxr4::RunResult::kOk;
  if (!csv->Close() && !failed) {
    nv::ui::CurrentErrorReporter().Show(nv::AnsiFromUtf8(csv->error()));
    failed = true;
  }
  if (failed && csv_path != "-") std::remove(csv_path.c_str());
}

void RunByName(const char* name, const char* block, size_t block_len, const char* opc,
               size_t opc_len) {
  RunByName(name, {}, block, block_len, opc, opc_len);
}

struct OnLoad {
  OnLoad() { fxr4::OnLoad(); }
} on_load;

}  // namespace

FXR4_EXPORT void fxr4_init(void* error_reporter, void* profile) __asm__("\"FXR4:INIT\"");
FXR4_EXPORT void fxr4_init(void* error_reporter, void* profile) {
  fxr4::InitLibrary(static_cast<nv::ui::ErrorReporter*>(error_reporter),
                    static_cast<nv::ui::ProfileObject*>(profile));
}

FXR4_EXPORT void fxr4_kill() __asm__("\"FXR4:KILL\"");
FXR4_EXPORT void fxr4_kill() {}

FXR4_EXPORT const char* VERSION_FXR4() {
  return "2.4.9.0";
}

// Where finished documents go ("gui", "pdf:PATH", "text:PATH", "none");
// answers 0, or 1 for an unknown mode. Used by the command-line host.
FXR4_EXPORT int fxr4_output(const char* shape) __asm__("\"FXR4:OUTPUT\"");
FXR4_EXPORT int fxr4_output(const char* shape) {
  return shape != nullptr && fxr4::SetOutput(shape) ? 0 : 1;
}

#define FXR4_DETAIL(NAME)                                                                       \
  FXR4_EXPORT void NAME(const char* block, size_t block_len, const char* opc, size_t opc_len) { \
    RunByName(#NAME, block, block_len, opc, opc_len);                                           \
  }

FXR4_DETAIL(RPT_ENT_LINEAS_DETALLE)
FXR4_DETAIL(RPT_SAL_LINEAS_DETALLE)
FXR4_DETAIL(RPT_ENT_INTERNOS_DETALLE)
FXR4_DETAIL(RPT_SAL_INTERNOS_DETALLE)
FXR4_DETAIL(RPT_ENT_CTAS_DETALLE)
FXR4_DETAIL(RPT_SAL_CTAS_DETALLE)
FXR4_DETAIL(RPT_ENT_GRP_LINEAS_DETALLE)
FXR4_DETAIL(RPT_SAL_GRP_LINEAS_DETALLE)
FXR4_DETAIL(RPT_ENT_GRP_INT_DETALLE)
FXR4_DETAIL(RPT_SAL_GRP_INT_DETALLE)
FXR4_DETAIL(RPT_SAL_GRP_CTAS_DETALLE)
FXR4_DETAIL(RPT_ENT_FECHA_DETALLE)
FXR4_DETAIL(RPT_SAL_FECHA_DETALLE)
FXR4_DETAIL(RPT_ENT_NUMEROS_DETALLE)
FXR4_DETAIL(RPT_SAL_NUMEROS_DETALLE)
FXR4_DETAIL(RPT_ENT_GRP_AGENDA_DETALLE)
FXR4_DETAIL(RPT_SAL_GRP_AGENDA_DETALLE)
FXR4_DETAIL(RPT_ENT_AGENTES_DETALLE)
FXR4_DETAIL(RPT_SAL_AGENTES_DETALLE)
FXR4_DETAIL(RPT_ENT_GRP_AGENTES_DETALLE)
FXR4_DETAIL(RPT_SAL_GRP_AGENTES_DETALLE)

// The summary procedures, and the detail forms of the special reports.
#define FXR4_SUMMARY(NAME) FXR4_DETAIL(NAME)

FXR4_SUMMARY(RPT_ENT_LINEAS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_LINEAS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_INTERNOS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_INTERNOS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_CTAS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_CTAS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_GRP_LINEAS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_GRP_LINEAS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_GRP_INT_RESUMEN)
FXR4_SUMMARY(RPT_SAL_GRP_INT_RESUMEN)
FXR4_SUMMARY(RPT_ENT_GRP_CTAS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_GRP_CTAS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_FECHA_RESUMEN)
FXR4_SUMMARY(RPT_SAL_FECHA_RESUMEN)
FXR4_SUMMARY(RPT_ENT_NUMEROS_RESUMEN)
FXR4_SUMMARY(RPT_SAL_NUMEROS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_GRP_AGENDA_RESUMEN)
FXR4_SUMMARY(RPT_SAL_GRP_AGENDA_RESUMEN)
FXR4_SUMMARY(RPT_ENT_AGENTES_RESUMEN)
FXR4_SUMMARY(RPT_SAL_AGENTES_RESUMEN)
FXR4_SUMMARY(RPT_ENT_GRP_AGENTES_RESUMEN)
FXR4_SUMMARY(RPT_SAL_GRP_AGENTES_RESUMEN)
FXR4_SUMMARY(RPT_GRATUITAS_RESUMEN)
FXR4_SUMMARY(RPT_NO_TARIFADAS_RESUMEN)
FXR4_SUMMARY(RPT_ENT_REQUE_RESUMEN)
FXR4_SUMMARY(RPT_SAL_REQUE_RESUMEN)
FXR4_DETAIL(RPT_GRATUITAS_DETALLE)
FXR4_DETAIL(RPT_NO_TARIFADAS_DETALLE)
FXR4_DETAIL(RPT_ENT_REQUE_DETALLE)
FXR4_DETAIL(RPT_SAL_REQUE_DETALLE)

// The directory reports take the directory option ("A" or "N") first.
#define FXR4_DIRECTORY(NAME)                                                      \
  FXR4_EXPORT void NAME(const char* option, size_t option_len, const char* block, \
                        size_t block_len, const char* opc, size_t opc_len) {      \
    RunByName(#NAME, Arg(option, option_len), block, block_len, opc, opc_len);    \
  }

FXR4_DIRECTORY(RPT_ENT_AGENDADAS_RESUMEN)
FXR4_DIRECTORY(RPT_SAL_AGENDADAS_RESUMEN)
FXR4_DIRECTORY(RPT_ENT_AGENDADAS_DETALLE)
FXR4_DIRECTORY(RPT_SAL_AGENDADAS_DETALLE)
