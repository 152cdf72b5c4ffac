// The exported names of libFXR4.so. Everything else of the library is
// hidden. String arguments come as (address, length) pairs; a report
// procedure copies them by the copy rule and runs to completion on the
// calling thread; a chooser runs its window on the calling thread and
// starts each report on a thread of its own.
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "host/runtime/codepage.h"
#include "host/ui/framework.h"
#include "reports/choosers.h"
#include "reports/output.h"

#define FXR4_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string_view Arg(const char* p, size_t n) {
  return p == nullptr ? std::string_view() : std::string_view(p, n);
}

void RunByName(const char* name, std::string_view option, const char* block, size_t block_len,
               const char* opc, size_t opc_len) {
  fxr4::RunReport(name, option, Arg(block, block_len), Arg(opc, opc_len));
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

// The fifteen choosers; the directory chooser takes the directory option
// ("A" or "N") first.
#define FXR4_CHOOSER(NAME)                                                     \
  FXR4_EXPORT void NAME(const char* block, size_t block_len) {                 \
    fxr4::ElegirReporte(*fxr4::FindChooser(#NAME), {}, Arg(block, block_len)); \
  }

FXR4_CHOOSER(ELG_RPT_SALENT_INT)
FXR4_CHOOSER(ELG_RPT_SALENT_LIN)
FXR4_CHOOSER(ELG_RPT_SALENT_CTAS)
FXR4_CHOOSER(ELG_RPT_SALENT_GRP_INT)
FXR4_CHOOSER(ELG_RPT_SALENT_GRP_LIN)
FXR4_CHOOSER(ELG_RPT_SALENT_GRP_CTAS)
FXR4_CHOOSER(ELG_RPT_SALENT_FECHA)
FXR4_CHOOSER(ELG_RPT_SALENT_NUMEROS)
FXR4_CHOOSER(ELG_RPT_GRATUITAS)
FXR4_CHOOSER(ELG_RPT_NO_TARIFADAS)
FXR4_CHOOSER(ELG_RPT_SALENT_GRP_AGENDA)
FXR4_CHOOSER(ELG_RPT_SALENT_REQUERIMIENTO)
FXR4_CHOOSER(ELG_RPT_SALENT_GRP_AGENTES)
FXR4_CHOOSER(ELG_RPT_SALENT_AGENTES)

FXR4_EXPORT void ELG_RPT_SALENT_AGENDADAS(const char* option, size_t option_len, const char* block,
                                          size_t block_len) {
  fxr4::ElegirReporte(*fxr4::FindChooser("ELG_RPT_SALENT_AGENDADAS"), Arg(option, option_len),
                      Arg(block, block_len));
}

// Waits until every report a chooser started has ended (hosts call it
// before they exit or unload the library).
FXR4_EXPORT void fxr4_wait() __asm__("\"FXR4:WAIT\"");
FXR4_EXPORT void fxr4_wait() {
  fxr4::WaitReports();
}
