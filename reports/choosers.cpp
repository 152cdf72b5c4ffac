#include "reports/choosers.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "host/dictionary/dictionary.h"
#include "host/runtime/codepage.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/picture.h"
#include "host/ui/backend.h"
#include "host/ui/browse.h"
#include "host/ui/framework.h"
#include "host/ui/window.h"
#include "reports/calendario.h"
#include "reports/csv_export.h"
#include "reports/detail_family.h"
#include "reports/detail_report.h"
#include "reports/fixed_filters.h"
#include "reports/output.h"
#include "reports/params.h"
#include "reports/summary_family.h"
#include "reports/summary_report.h"

namespace fxr4 {

namespace {

using namespace nv::ui;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

// --- The table of the fifteen choosers.

constexpr ListaRango kSinRango{};
constexpr ListaRango Rango(const char* grupo, const char* archivo, const char* picture,
                           const char* titulo_codigo, const char* campo_codigo,
                           const char* titulo_descripcion, const char* campo_descripcion) {
  return {
      grupo, archivo, picture, titulo_codigo, campo_codigo, titulo_descripcion, campo_descripcion};
}
// "Rango de Grupos": the groups' lists, and the agents' (fields @n-14).
constexpr ListaRango Grupos(const char* archivo, const char* codigo, const char* descripcion,
                            const char* picture = "@n-6.0", const char* titulo = "Grupos",
                            const char* titulo_descripcion = "Descripción de los Grupos") {
  return Rango("Rango de Grupos", archivo, picture, titulo, codigo, titulo_descripcion,
               descripcion);
}

// clang-format off
constexpr Elegir kElegir[] = {
  // name, block, dates, range lists, directory option, call types, direction flags,
  // {{outgoing summary, detail}, {incoming summary, detail}}
  {"ELG_RPT_SALENT_INT", Familia::kRpt, Fechas::kRango,
   Rango("Rango de Internos", "FXMA08", "@s10", "Internos", "MA08:NROINT",
         "Descripción de Internos", "MA08:DESINT"), false, true, true,
   {{"RPT_SAL_INTERNOS_RESUMEN", "RPT_SAL_INTERNOS_DETALLE"},
    {"RPT_ENT_INTERNOS_RESUMEN", "RPT_ENT_INTERNOS_DETALLE"}}},
  {"ELG_RPT_SALENT_LIN", Familia::kRpt, Fechas::kRango,
   Rango("Rango de Internos", "FXMA07", "@s10", "Líneas", "MA07:NROLIN",
         "Descripción de Líneas", "MA07:DESLIN"), false, true, true,
   {{"RPT_SAL_LINEAS_RESUMEN", "RPT_SAL_LINEAS_DETALLE"},
    {"RPT_ENT_LINEAS_RESUMEN", "RPT_ENT_LINEAS_DETALLE"}}},
  {"ELG_RPT_SALENT_CTAS", Familia::kCtas, Fechas::kRango,
   Rango("Rango de Cuentas", "FXMA09", "@s50", nullptr, nullptr,
         "Descripción de las Cuentas", "MA09:DESCTA"), false, true, true,
   {{"RPT_SAL_CTAS_RESUMEN", "RPT_SAL_CTAS_DETALLE"},
    {"RPT_ENT_CTAS_RESUMEN", "RPT_ENT_CTAS_DETALLE"}}},
  {"ELG_RPT_SALENT_GRP_INT", Familia::kCod, Fechas::kRango,
   Grupos("FXTA15", "TA15:GRUINT", "TA15:DESGRU"), false, true, true,
   {{"RPT_SAL_GRP_INT_RESUMEN", "RPT_SAL_GRP_INT_DETALLE"},
    {"RPT_ENT_GRP_INT_RESUMEN", "RPT_ENT_GRP_INT_DETALLE"}}},
  {"ELG_RPT_SALENT_GRP_LIN", Familia::kCod, Fechas::kRango,
   Grupos("FXTA14", "TA14:GRULIN", "TA14:DESGRU"), false, true, true,
   {{"RPT_SAL_GRP_LINEAS_RESUMEN", "RPT_SAL_GRP_LINEAS_DETALLE"},
    {"RPT_ENT_GRP_LINEAS_RESUMEN", "RPT_ENT_GRP_LINEAS_DETALLE"}}},
  // The incoming detail by account group is not in the library.
  {"ELG_RPT_SALENT_GRP_CTAS", Familia::kCod, Fechas::kRango,
   Grupos("FXTA13", "TA13:GRUCTA", "TA13:DESGRU"), false, true, true,
   {{"RPT_SAL_GRP_CTAS_RESUMEN", "RPT_SAL_GRP_CTAS_DETALLE"},
    {"RPT_ENT_GRP_CTAS_RESUMEN", nullptr}}},
  {"ELG_RPT_SALENT_FECHA", Familia::kRpt, Fechas::kFechaHora, kSinRango, false, true, true,
   {{"RPT_SAL_FECHA_RESUMEN", "RPT_SAL_FECHA_DETALLE"},
    {"RPT_ENT_FECHA_RESUMEN", "RPT_ENT_FECHA_DETALLE"}}},
  {"ELG_RPT_SALENT_NUMEROS", Familia::kRpt, Fechas::kRango, kSinRango, false, true, true,
   {{"RPT_SAL_NUMEROS_RESUMEN", "RPT_SAL_NUMEROS_DETALLE"},
    {"RPT_ENT_NUMEROS_RESUMEN", "RPT_ENT_NUMEROS_DETALLE"}}},
  {"ELG_RPT_GRATUITAS", Familia::kRpt, Fechas::kRango, kSinRango, false, false, false,
   {{"RPT_GRATUITAS_RESUMEN", "RPT_GRATUITAS_DETALLE"}, {nullptr, nullptr}}},
  {"ELG_RPT_NO_TARIFADAS", Familia::kRpt, Fechas::kRango, kSinRango, false, false, false,
   {{"RPT_NO_TARIFADAS_RESUMEN", "RPT_NO_TARIFADAS_DETALLE"}, {nullptr, nullptr}}},
  {"ELG_RPT_SALENT_GRP_AGENDA", Familia::kCod, Fechas::kRango,
   Grupos("FXTA09", "TA09:GRUAGE", "TA09:DESGRU"), false, true, true,
   {{"RPT_SAL_GRP_AGENDA_RESUMEN", "RPT_SAL_GRP_AGENDA_DETALLE"},
    {"RPT_ENT_GRP_AGENDA_RESUMEN", "RPT_ENT_GRP_AGENDA_DETALLE"}}},
  {"ELG_RPT_SALENT_AGENDADAS", Familia::kRpt, Fechas::kRango, kSinRango, true, true, true,
   {{"RPT_SAL_AGENDADAS_RESUMEN", "RPT_SAL_AGENDADAS_DETALLE"},
    {"RPT_ENT_AGENDADAS_RESUMEN", "RPT_ENT_AGENDADAS_DETALLE"}}},
  {"ELG_RPT_SALENT_REQUERIMIENTO", Familia::kReque, Fechas::kNinguna, kSinRango, false, true, true,
   {{"RPT_SAL_REQUE_RESUMEN", "RPT_SAL_REQUE_DETALLE"},
    {"RPT_ENT_REQUE_RESUMEN", "RPT_ENT_REQUE_DETALLE"}}},
  {"ELG_RPT_SALENT_GRP_AGENTES", Familia::kCod, Fechas::kRango,
   Grupos("FXTA03", "TA03:CODGRU", "TA03:DESGRU", "@n-14"), false, true, true,
   {{"RPT_SAL_GRP_AGENTES_RESUMEN", "RPT_SAL_GRP_AGENTES_DETALLE"},
    {"RPT_ENT_GRP_AGENTES_RESUMEN", "RPT_ENT_GRP_AGENTES_DETALLE"}}},
  {"ELG_RPT_SALENT_AGENTES", Familia::kCod, Fechas::kRango,
   Grupos("FXMA02", "MA02:CODAGT", "MA02:DESCRI", "@n-14", "Agentes",
          "Descripción de los Agentes"), false, true, true,
   {{"RPT_SAL_AGENTES_RESUMEN", "RPT_SAL_AGENTES_DETALLE"},
    {"RPT_ENT_AGENTES_RESUMEN", "RPT_ENT_AGENTES_DETALLE"}}},
};
// clang-format on

// --- Where the chooser's fields lie in each block family.

struct Campos {
  size_t size;
  size_t DESFEC, HASFEC, DESHOR, HASHOR;
  size_t DESDE, HASTA;
  size_t rango;  // width of DESDE/HASTA as strings; 0: longs
  size_t LLASAL, LLAENT, CURTAB;
};

template <class B>
constexpr Campos CamposDe(size_t desde, size_t hasta, size_t rango) {
  return {sizeof(B),
          offsetof(B, DESFEC),
          offsetof(B, HASFEC),
          offsetof(B, DESHOR),
          offsetof(B, HASHOR),
          desde,
          hasta,
          rango,
          offsetof(B, LLASAL),
          offsetof(B, LLAENT),
          offsetof(B, CURTAB)};
}

const Campos& CamposDe(Familia f) {
  static const Campos kRpt =
      CamposDe<PARAM_RPT>(offsetof(PARAM_RPT, DESDE), offsetof(PARAM_RPT, HASTA), 10);
  static const Campos kCtas = CamposDe<PARAM_RPT_CTAS>(offsetof(PARAM_RPT_CTAS, DESDE),
                                                       offsetof(PARAM_RPT_CTAS, HASTA), 50);
  static const Campos kCod =
      CamposDe<PARAM_RPT_COD>(offsetof(PARAM_RPT_COD, DESDE), offsetof(PARAM_RPT_COD, HASTA), 0);
  static const Campos kReque = CamposDe<PARAM_RPT_REQUE>(0, 0, 0);
  switch (f) {
    case Familia::kCtas:
      return kCtas;
    case Familia::kCod:
      return kCod;
    case Familia::kReque:
      return kReque;
    default:
      return kRpt;
  }
}

// The chooser's own copy of the block, read and written field by field.
class Bloque {
 public:
  explicit Bloque(Familia f) : c_(CamposDe(f)), bytes_(c_.size, ' ') {}
  // The copy rule: a shorter argument is blank-filled, a longer one cut.
  void Copiar(std::string_view param) {
    CopyBlock(bytes_.data(), bytes_.size(), param.data(), param.size());
  }
  const Campos& campos() const { return c_; }
  int32_t Long(size_t at) const {
    int32_t v;
    std::memcpy(&v, bytes_.data() + at, 4);
    return v;
  }
  void SetLong(size_t at, int64_t v) {
    const int32_t x = int32_t(v);
    std::memcpy(bytes_.data() + at, &x, 4);
  }
  std::string Texto(size_t at, size_t n) const { return bytes_.substr(at, n); }
  void SetTexto(size_t at, size_t n, std::string_view v) {
    for (size_t i = 0; i < n; ++i) bytes_[at + i] = i < v.size() ? v[i] : ' ';
  }
  uint8_t Byte(size_t at) const { return uint8_t(bytes_[at]); }
  const std::string& bytes() const { return bytes_; }

 private:
  const Campos& c_;
  std::string bytes_;
};

// --- The window.

using namespace elegir;

constexpr const char* kTiposDeLlamada =
    "Todas|Locales|Nacionales|Internacionales|Celulares|Celulares Nacionales|Especiales";

std::vector<Column> Columnas(const ListaRango& r) {
  std::vector<Column> cols;
  if (r.titulo_codigo != nullptr) {
    Column code = Col(A(r.titulo_codigo), r.picture, r.campo_codigo);
    code.right = r.picture[1] == 'n';
    cols.push_back(code);
  }
  cols.push_back(Col(A(r.titulo_descripcion), "@s50", r.campo_descripcion));
  return cols;
}

WindowDef VentanaElegir(const Elegir& e) {
  const std::string calendario = "Selecciona la fecha desde el calendario";
  auto fecha = [&](ControlId id, ControlId boton, const char* tip) {
    return std::vector<ControlDef>{Entry(id, "@d6").Tip(tip), Button(boton, "...").Tip(calendario)};
  };
  auto con = [](std::vector<ControlDef> a, const std::vector<ControlDef>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  std::vector<ControlDef> c;
  switch (e.fechas) {
    case Fechas::kRango:
      c.push_back(Group("Rango de Fechas",
                        con(con({Prompt("Desde")}, fecha(DESFEC, CAL_DESFEC, "Fecha desde")),
                            con({Prompt("Hasta")}, fecha(HASFEC, CAL_HASFEC, "Fecha Hasta")))));
      break;
    case Fechas::kFechaHora:
      c.push_back(
          Group("Desde", con(con({Prompt("Fecha")}, fecha(DESFEC, CAL_DESFEC, "Fecha desde")),
                             {Prompt("Hora"), Entry(DESHOR, "@t4")})));
      c.push_back(
          Group("Hasta", con(con({Prompt("Fecha")}, fecha(HASFEC, CAL_HASFEC, "Fecha Hasta")),
                             {Prompt("Hora"), Entry(HASHOR, "@t4")})));
      break;
    case Fechas::kNinguna:
      break;
  }
  if (e.rango.grupo != nullptr) {
    const std::vector<Column> cols = Columnas(e.rango);
    c.push_back(Group(A(e.rango.grupo), {Prompt("Desde"), Combo(DESDE, e.rango.picture, cols),
                                         Prompt("Hasta"), Combo(HASTA, e.rango.picture, cols)}));
  }
  if (e.agendadas) c.push_back(Option(TIPLLA, "Tipo ", {"&Agendadas", "&No Agendadas"}));
  if (e.tipo_llamadas) {
    c.push_back(Group("Tipo de Llamadas", {DropList(CURTAB, SplitBar(kTiposDeLlamada))}));
  }
  c.push_back(
      Group(A("Parámetros de impresión"),
            {Prompt(" Copias"), Entry(COPIAS, "@n7").Tip("Cantidad de copias del reporte"),
             Check(VISTA_PREVIA, " Vista &Previa").Tip("Marque para ver la vista previa")}));
  c.push_back(Option(TIPO_REPORTE, "Tipo de reporte", {A("  &Rápido"), "  &Detallado"}));
  c.push_back(Button(IMPRIMIR, "&Imprimir").Default().Tip("Imprimir el reporte seleccionado"));
  c.push_back(Button(CANCELAR, "&Cancelar").Tip(A("Cancelar la impresión")));
  return WindowDef("Elegir tipo de reporte", std::move(c)).Place(e.name);
}

// --- Report threads.

struct Hilos {
  std::mutex mu;
  std::condition_variable cv;
  int running = 0;
  Arrancar starter;
};

Hilos& Threads() {
  static Hilos* h = new Hilos;  // report threads may end after static destruction began
  return *h;
}

void* ReportThreadMain(void* arg) {
  std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(arg));
  (*run)();
  run.reset();
  Hilos& h = Threads();
  std::lock_guard<std::mutex> lock(h.mu);
  --h.running;
  h.cv.notify_all();
  return nullptr;
}

void StartDefault(const char* procedure, std::string option, std::string block, std::string opc) {
  const bool started = StartReportThread(
      [name = std::string(procedure), option = std::move(option), block = std::move(block),
       opc = std::move(opc)] { RunReport(name, option, block, opc); });
  if (!started) {
    CurrentErrorReporter().Show(A("No se puede iniciar el reporte ") + procedure +
                                A(": el sistema no admite más hilos."));
  }
}

// --- The chooser.

class Chooser {
 public:
  explicit Chooser(const Elegir& e) : e_(e), w_(VentanaElegir(e)), bloque_(e.familia) {}

  void Run(std::string_view opcion, std::string_view param) {
    // 1. The procedure's name, the lookup file, the window, the range lists.
    ErrorReporter& reporter = CurrentErrorReporter();
    reporter.Enter(e_.name);
    AbrirArchivoRango();
    w_.Open();
    PrepararListas();
    while (w_.Accept()) {
      switch (w_.Event()) {
        case Event::kOpenWindow:
          // 2. The caller's block, preview on, "Rápido".
          bloque_.Copiar(param);
          opc_.VISTA_PREVIA = 1;
          opc_.COPIAS = 1;
          tipo_reporte_ = 0;
          tiplla_ = opcion.substr(0, 1);
          Mostrar();
          break;
        case Event::kAccepted:
          Accepted(w_.Field());
          break;
        default:
          break;
      }
    }
    // 7. Closing.
    desde_.reset();
    hasta_.reset();
    if (archivo_ != nullptr) archivo_->Close();
    archivo_.reset();
    reporter.Leave(e_.name);
  }

 private:
  void Accepted(ControlId id) {
    switch (id) {
      case CAL_DESFEC:
      case CAL_HASFEC: {
        // 4. The calendar on the date on screen.
        const ControlId campo = id == CAL_DESFEC ? DESFEC : HASFEC;
        const int32_t fecha = int32_t(w_.Contents(campo).AsInteger());
        w_.SetContents(campo, nv::Value(long(Calendario(fecha))));
        break;
      }
      case IMPRIMIR:
        Imprimir();
        break;
      case CANCELAR:
        // 6.
        w_.Close(kCancelled);
        break;
      default:
        break;
    }
  }

  void AbrirArchivoRango() {
    if (e_.rango.grupo == nullptr) return;
    const nv::dict::Dictionary* dict = LibraryDictionary();
    if (dict != nullptr) archivo_ = dict->NewFile(e_.rango.archivo);
    if (archivo_ == nullptr) return;
    if (archivo_->Open(nv::kReadOnly | nv::kDenyNone) != 0) {
      // The lists stay empty; the range fields still take typing.
      const std::string why = nv::ErrorText();
      archivo_.reset();
      CurrentErrorReporter().Show(A("No se puede abrir el archivo ") + e_.rango.archivo + " (" +
                                  dict->EffectiveName(e_.rango.archivo) + "): " + why);
    }
  }

  // 3. Each range field lists the lookup file in primary-key order; the
  // code lists locate as the user types.
  void PrepararListas() {
    if (archivo_ == nullptr) return;
    const std::string prefix = std::string(e_.rango.archivo).substr(2);
    const std::string key = prefix + ":" + prefix + "_CP";
    for (auto* lista : {&desde_, &hasta_}) {
      *lista = std::make_unique<Browse>(archivo_.get());
      (*lista)->AddOrder("", key);
      (*lista)->SetOrder(0);
      (*lista)->SetPageSize(12);
    }
    w_.AttachBrowse(DESDE, desde_.get());
    w_.AttachBrowse(HASTA, hasta_.get());
    if (e_.rango.titulo_codigo != nullptr) {
      w_.SetLocator(DESDE, DESDE);
      w_.SetLocator(HASTA, HASTA);
    }
  }

  // The block and the print options on screen.
  void Mostrar() {
    const Campos& c = bloque_.campos();
    if (e_.fechas != Fechas::kNinguna) {
      w_.SetContents(DESFEC, nv::Value(long(bloque_.Long(c.DESFEC))));
      w_.SetContents(HASFEC, nv::Value(long(bloque_.Long(c.HASFEC))));
    }
    if (e_.fechas == Fechas::kFechaHora) {
      w_.SetContents(DESHOR, nv::Value(long(bloque_.Long(c.DESHOR))));
      w_.SetContents(HASHOR, nv::Value(long(bloque_.Long(c.HASHOR))));
    }
    if (e_.rango.grupo != nullptr) {
      for (const auto& [id, at] : {std::pair{DESDE, c.DESDE}, std::pair{HASTA, c.HASTA}}) {
        if (c.rango == 0) {
          w_.SetContents(id, nv::Value(long(bloque_.Long(at))));
        } else {
          w_.SetText(id, nv::Clip(bloque_.Texto(at, c.rango)));
        }
      }
    }
    if (e_.agendadas) w_.SetValue(TIPLLA, tiplla_ == "A" ? 1 : tiplla_ == "N" ? 2 : 0);
    if (e_.tipo_llamadas) {
      const std::string curtab(nv::Clip(bloque_.Texto(c.CURTAB, 20)));
      const std::vector<std::string> tipos = SplitBar(kTiposDeLlamada);
      for (size_t i = 0; i < tipos.size(); ++i) {
        if (tipos[i] == curtab) w_.SetValue(CURTAB, int(i) + 1);
      }
    }
    w_.SetContents(COPIAS, nv::Value(int(opc_.COPIAS)));
    w_.SetValue(VISTA_PREVIA, opc_.VISTA_PREVIA);
    w_.SetValue(TIPO_REPORTE, tipo_reporte_ + 1);
  }

  // 5. The values on screen into the block, then the report of the first
  // direction asked for.
  void Imprimir() {
    const int64_t copias = w_.Contents(COPIAS).AsInteger();
    if (copias < 1 || copias > 32767) {
      Message(A("La cantidad de copias debe estar entre 1 y 32767."), A("Atención"),
              Icon::kExclamation);
      w_.Select(COPIAS);
      return;
    }
    Tomar(copias);
    const Campos& c = bloque_.campos();
    const char* const* reportes = nullptr;
    if (!e_.direcciones || bloque_.Byte(c.LLASAL) != 0) {
      reportes = e_.reportes[0];
    } else if (bloque_.Byte(c.LLAENT) != 0) {
      reportes = e_.reportes[1];
    }
    if (reportes == nullptr || reportes[tipo_reporte_] == nullptr) return;
    const std::string opc(reinterpret_cast<const char*>(&opc_), sizeof opc_);
    Starter()(reportes[tipo_reporte_], e_.agendadas ? tiplla_ : std::string(), bloque_.bytes(),
              opc);
  }

  void Tomar(int64_t copias) {
    const Campos& c = bloque_.campos();
    if (e_.fechas != Fechas::kNinguna) {
      bloque_.SetLong(c.DESFEC, w_.Contents(DESFEC).AsInteger());
      bloque_.SetLong(c.HASFEC, w_.Contents(HASFEC).AsInteger());
    }
    if (e_.fechas == Fechas::kFechaHora) {
      bloque_.SetLong(c.DESHOR, w_.Contents(DESHOR).AsInteger());
      bloque_.SetLong(c.HASHOR, w_.Contents(HASHOR).AsInteger());
    }
    if (e_.rango.grupo != nullptr) {
      for (const auto& [id, at] : {std::pair{DESDE, c.DESDE}, std::pair{HASTA, c.HASTA}}) {
        if (c.rango == 0) {
          bloque_.SetLong(at, w_.Contents(id).AsInteger());
        } else {
          bloque_.SetTexto(at, c.rango, nv::Clip(w_.Text(id)));
        }
      }
    }
    if (e_.agendadas && w_.Value(TIPLLA) != 0) tiplla_ = w_.Value(TIPLLA) == 1 ? "A" : "N";
    if (e_.tipo_llamadas && w_.Value(CURTAB) != 0) {
      bloque_.SetTexto(c.CURTAB, 20, w_.Text(CURTAB));
    }
    opc_.COPIAS = int16_t(copias);
    opc_.VISTA_PREVIA = uint8_t(w_.Value(VISTA_PREVIA) != 0);
    tipo_reporte_ = w_.Value(TIPO_REPORTE) == 2 ? 1 : 0;
  }

  static Arrancar Starter() {
    Hilos& h = Threads();
    std::lock_guard<std::mutex> lock(h.mu);
    return h.starter ? h.starter : Arrancar(StartDefault);
  }

  const Elegir& e_;
  nv::ui::Window w_;
  Bloque bloque_;
  OPC_IMPRESION opc_{};
  int tipo_reporte_ = 0;  // LOC:TIPO_REPORTE: 0 "Rápido", 1 "Detallado"
  std::string tiplla_;    // LOC:TIPLLA
  std::unique_ptr<nv::File> archivo_;
  std::unique_ptr<Browse> desde_, hasta_;
};

}  // namespace

const Elegir* Choosers(size_t* n) {
  *n = std::size(kElegir);
  return kElegir;
}

const Elegir* FindChooser(std::string_view name) {
  for (const Elegir& e : kElegir) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

void ElegirReporte(const Elegir& e, std::string_view opcion, std::string_view param) {
  Chooser(e).Run(opcion, param);
}

bool StartReportThread(std::function<void()> run, size_t stack) {
  Hilos& h = Threads();
  auto* job = new std::function<void()>(std::move(run));
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  {
    std::lock_guard<std::mutex> lock(h.mu);
    ++h.running;
  }
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, ReportThreadMain, job);
  pthread_attr_destroy(&attr);
  if (rc == 0) return true;
  delete job;
  std::lock_guard<std::mutex> lock(h.mu);
  --h.running;
  h.cv.notify_all();
  return false;
}

void WaitReports() {
  Hilos& h = Threads();
  std::unique_lock<std::mutex> lock(h.mu);
  h.cv.wait(lock, [&] { return h.running == 0; });
}

void SetReportStarter(Arrancar starter) {
  Hilos& h = Threads();
  std::lock_guard<std::mutex> lock(h.mu);
  h.starter = std::move(starter);
}

void RunReport(std::string_view name, std::string_view option, std::string_view b,
               std::string_view o) {
  const std::string csv_path = CsvPath();
  std::unique_ptr<CsvExport> csv;
  RunResult result;
  const SummaryProc* s = FindSummaryProc(name);
  const DetailProc* d = FindDetailProc(name);
  const DetailProc* special = FindSpecialDetail(name);
  if (d == nullptr) d = special;
  if (s == nullptr && d == nullptr) return;
  if (!csv_path.empty()) {
    csv = std::make_unique<CsvExport>(
        csv_path, s != nullptr ? std::string(s->column_title) : DetailCsvRows::GroupTitle(*d));
    if (!csv->Open()) {
      CurrentErrorReporter().Show(nv::AnsiFromUtf8(csv->error()));
      return;
    }
  }
  if (s != nullptr) {
    result = RunSummary(*s, option, b, o, {}, csv.get());
  } else {
    RunOptions options;
    std::unique_ptr<DetailCsvRows> rows;
    const nv::dict::Dictionary* dict = LibraryDictionary();
    if (csv != nullptr && dict != nullptr) {
      rows = std::make_unique<DetailCsvRows>(*dict, *d);
      options.on_selected = [&](const nv::dict::CallRecord& r) { rows->Row(*csv, r); };
      options.deliver = [](nv::report::Document&&) {};
    }
    result = special != nullptr ? RunSpecialDetail(*d, option, b, o, options)
                                : RunDetail(*d, b, o, options);
  }
  if (csv == nullptr) return;
  // A failed run leaves no file that could pass for its result.
  bool failed = result.status != RunResult::kOk;
  if (!csv->Close() && !failed) {
    CurrentErrorReporter().Show(nv::AnsiFromUtf8(csv->error()));
    failed = true;
  }
  if (failed && csv_path != "-") std::remove(csv_path.c_str());
}

}  // namespace fxr4
