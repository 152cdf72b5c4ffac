// The exported names of libFXR4.so. Everything else of the library is
// hidden. String arguments come as (address, length) pairs; a report
// procedure copies them by the copy rule and runs to completion on the
// calling thread (the choosers call it on a thread of its own).
#include <cstddef>
#include <string_view>
#include <thread>

#include "reports/detail_family.h"
#include "reports/detail_report.h"
#include "reports/output.h"

#define FXR4_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string_view Arg(const char* p, size_t n) {
  return p == nullptr ? std::string_view() : std::string_view(p, n);
}

void RunByName(const char* name, const char* block, size_t block_len, const char* opc,
               size_t opc_len) {
  if (const fxr4::DetailProc* p = fxr4::FindDetailProc(name)) {
    fxr4::RunDetail(*p, Arg(block, block_len), Arg(opc, opc_len));
  }
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
