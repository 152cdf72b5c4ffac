// fxr4: runs a report procedure of libFXR4.so from the command line, or
// opens one of its choosers as the suite's main program would.
//
//   fxr4 run RPT_SAL_LINEAS_DETALLE --desfec 01/03/2026 --hasfec 31/03/2026
//        --desde 101 --hasta 199 --tipo Locales --pdf marzo.pdf
//   fxr4 choose ELG_RPT_SALENT_LIN --desfec 01/03/2026 --hasfec 31/03/2026
//
// A chooser runs on the main thread under the Qt backend; the reports it
// starts run on their own threads, and the program ends when the chooser
// is closed and the last of them has ended. With --pulsar the chooser runs
// without a screen: the listed buttons and options are pressed in order
// (an unattended run, as a scheduled job would make it), its messages go
// to standard error, and a list spent while the chooser is still open, or
// naming what the chooser lacks, ends the run with status 1.
//
//   fxr4 choose ELG_RPT_SALENT_FECHA --desfec 01/03/2026 --hasfec 31/03/2026
//        --text marzo.txt --pulsar Detallado,Imprimir,Cancelar
//
// The program works in the folder that holds ./Archivos (the data files),
// builds the procedure's parameter block and OPC_IMPRESION from the options,
// loads libFXR4.so (from its own folder first) and calls the procedure by
// its exported name on a thread of its own, as the choosers do. What the
// library reports as an error (a call file that cannot be opened ...) is
// written to standard error and the program ends with status 1.
#include <dlfcn.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/runtime/codepage.h"
#include "host/runtime/picture.h"
#include "host/ui/backend.h"
#include "host/ui/qt/qt_backend.h"
#include "reports/params.h"

namespace {

constexpr const char* kProcedures[] = {
    "RPT_ENT_LINEAS_DETALLE",
    "RPT_SAL_LINEAS_DETALLE",
    "RPT_ENT_INTERNOS_DETALLE",
    "RPT_SAL_INTERNOS_DETALLE",
    "RPT_ENT_CTAS_DETALLE",
    "RPT_SAL_CTAS_DETALLE",
    "RPT_ENT_GRP_LINEAS_DETALLE",
    "RPT_SAL_GRP_LINEAS_DETALLE",
    "RPT_ENT_GRP_INT_DETALLE",
    "RPT_SAL_GRP_INT_DETALLE",
    "RPT_SAL_GRP_CTAS_DETALLE",
    "RPT_ENT_FECHA_DETALLE",
    "RPT_SAL_FECHA_DETALLE",
    "RPT_ENT_NUMEROS_DETALLE",
    "RPT_SAL_NUMEROS_DETALLE",
    "RPT_ENT_GRP_AGENDA_DETALLE",
    "RPT_SAL_GRP_AGENDA_DETALLE",
    "RPT_ENT_AGENTES_DETALLE",
    "RPT_SAL_AGENTES_DETALLE",
    "RPT_ENT_GRP_AGENTES_DETALLE",
    "RPT_SAL_GRP_AGENTES_DETALLE",
    // The summaries and the special reports.
    "RPT_ENT_LINEAS_RESUMEN",
    "RPT_SAL_LINEAS_RESUMEN",
    "RPT_ENT_INTERNOS_RESUMEN",
    "RPT_SAL_INTERNOS_RESUMEN",
    "RPT_ENT_CTAS_RESUMEN",
    "RPT_SAL_CTAS_RESUMEN",
    "RPT_ENT_GRP_LINEAS_RESUMEN",
    "RPT_SAL_GRP_LINEAS_RESUMEN",
    "RPT_ENT_GRP_INT_RESUMEN",
    "RPT_SAL_GRP_INT_RESUMEN",
    "RPT_ENT_GRP_CTAS_RESUMEN",
    "RPT_SAL_GRP_CTAS_RESUMEN",
    "RPT_ENT_FECHA_RESUMEN",
    "RPT_SAL_FECHA_RESUMEN",
    "RPT_ENT_NUMEROS_RESUMEN",
    "RPT_SAL_NUMEROS_RESUMEN",
    "RPT_ENT_GRP_AGENDA_RESUMEN",
    "RPT_SAL_GRP_AGENDA_RESUMEN",
    "RPT_ENT_AGENTES_RESUMEN",
    "RPT_SAL_AGENTES_RESUMEN",
    "RPT_ENT_GRP_AGENTES_RESUMEN",
    "RPT_SAL_GRP_AGENTES_RESUMEN",
    "RPT_GRATUITAS_RESUMEN",
    "RPT_GRATUITAS_DETALLE",
    "RPT_NO_TARIFADAS_RESUMEN",
    "RPT_NO_TARIFADAS_DETALLE",
    "RPT_ENT_AGENDADAS_RESUMEN",
    "RPT_ENT_AGENDADAS_DETALLE",
    "RPT_SAL_AGENDADAS_RESUMEN",
    "RPT_SAL_AGENDADAS_DETALLE",
    "RPT_ENT_REQUE_RESUMEN",
    "RPT_ENT_REQUE_DETALLE",
    "RPT_SAL_REQUE_RESUMEN",
    "RPT_SAL_REQUE_DETALLE",
};

constexpr const char* kChoosers[] = {
    "ELG_RPT_SALENT_INT",           "ELG_RPT_SALENT_LIN",         "ELG_RPT_SALENT_CTAS",
    "ELG_RPT_SALENT_GRP_INT",       "ELG_RPT_SALENT_GRP_LIN",     "ELG_RPT_SALENT_GRP_CTAS",
    "ELG_RPT_SALENT_FECHA",         "ELG_RPT_SALENT_NUMEROS",     "ELG_RPT_GRATUITAS",
    "ELG_RPT_NO_TARIFADAS",         "ELG_RPT_SALENT_GRP_AGENDA",  "ELG_RPT_SALENT_AGENDADAS",
    "ELG_RPT_SALENT_REQUERIMIENTO", "ELG_RPT_SALENT_GRP_AGENTES", "ELG_RPT_SALENT_AGENTES",
};

void Usage(FILE* out) {
  std::fprintf(
      out,
      "Uso: fxr4 run PROCEDIMIENTO [opciones] (--pdf ARCHIVO | --text [ARCHIVO] |\n"
      "                                        --csv ARCHIVO | --print | --preview)\n"
      "     fxr4 choose ELEGIR [opciones] [--salientes | --entrantes]\n"
      "                 [--pulsar BOTONES (--pdf ARCHIVO | --text [ARCHIVO] | --csv ARCHIVO)]\n"
      "     fxr4 --help\n\n"
      "Se ejecuta en la carpeta que contiene ./Archivos.\n\n"
      "Opciones:\n"
      "  --desfec dd/mm/aaaa   primera fecha (DESFEC)\n"
      "  --hasfec dd/mm/aaaa   última fecha (HASFEC)\n"
      "  --deshor hh:mm[:ss]   hora en la primera fecha (DESHOR; sin ella, días enteros)\n"
      "  --hashor hh:mm[:ss]   hora en la última fecha (HASHOR)\n"
      "  --desde VALOR         comienzo del rango (línea, interno, cuenta, grupo, agente)\n"
      "  --hasta VALOR         fin del rango\n"
      "  --tipo NOMBRE         tipo de llamadas (CURTAB): Todas, Locales, Nacionales,\n"
      "                        Internacionales, Celulares, Celulares Nacionales,\n"
      "                        Especiales (por omisión Todas)\n"
      "  --copias N            copias (COPIAS, por omisión 1)\n"
      "  --opcion A|N          llamadas agendadas (A, por omisión) o no agendadas (N)\n"
      "Requerimiento (por omisión sin restricción):\n"
      "  --desdur/--hasdur S   duración mínima y máxima, en segundos\n"
      "  --descos/--hascos X   costo mínimo y máximo\n"
      "  --desnro/--hasnro N   rango de números\n"
      "  --cuentas, --agentes  Se (marcados), Si (sin cuenta/agente) o To (todos)\n"
      "  --agenda              Ag (agendadas), No (no agendadas) o To (todas)\n"
      "Salida:\n"
      "  --pdf ARCHIVO         escribe el reporte en un PDF\n"
      "  --text [ARCHIVO]      escribe el reporte como texto (por omisión, la salida)\n"
      "  --csv ARCHIVO         exporta todas las llamadas seleccionadas a CSV (UTF-8);\n"
      "                        \"-\" es la salida\n"
      "  --print               imprime en la impresora predeterminada\n"
      "  --preview             muestra la vista previa (VISTA_PREVIA = 1)\n"
      "Elegir (por omisión, vista previa o impresora):\n"
      "  --salientes           sólo llamadas salientes (LLASAL)\n"
      "  --entrantes           sólo llamadas entrantes (LLAENT)\n"
      "  --pulsar BOTONES      sin pantalla: pulsa en orden los botones y opciones de\n"
      "                        la lista, separados por comas (p. ej.\n"
      "                        Detallado,Imprimir,Cancelar)\n\n"
      "Procedimientos:\n");
  for (const char* p : kProcedures) std::fprintf(out, "  %s\n", p);
  std::fprintf(out, "\nElegir:\n");
  for (const char* p : kChoosers) std::fprintf(out, "  %s\n", p);
}

template <size_t N>
bool Known(const std::string& name, const char* const (&names)[N]) {
  for (const char* p : names) {
    if (name == p) return true;
  }
  return false;
}

std::string SelfFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  return std::filesystem::path(buf).parent_path().string();
}

struct Options {
  std::string proc, out_mode, out_path, desde, hasta, tipo = "Todas";
  int32_t desfec = 0, hasfec = 0, deshor = 0, hashor = 0;
  int copias = 1;
  bool preview = false;
  // The directory reports' option and the requirement block's criteria.
  std::string opcion = "A", cuentas = "To", agentes = "To", agenda = "To", desnro, hasnro;
  int32_t desdur = 0, hasdur = INT32_MAX;
  double descos = -1e18, hascos = 1e18;
  uint8_t llasal = 1, llaent = 1;
  std::vector<std::string> pulsar;  // --pulsar, in Windows-1252
};

// A control's text as the user reads it: no mnemonic mark, no blanks
// around it, capitals aside.
std::string Plain(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
    out.push_back(char(std::toupper(static_cast<unsigned char>(text[i]))));
  }
  return std::string(nv::Clip(out.substr(std::min(out.find_first_not_of(' '), out.size()))));
}

// The library's message boxes go to standard error; its windows (the
// progress window) have no screen here. A chooser plays `steps` (--pulsar).
class ConsoleBackend : public nv::ui::Backend {
 public:
  explicit ConsoleBackend(std::vector<std::string> steps = {}) : steps_(std::move(steps)) {}
  std::unique_ptr<nv::ui::WindowPeer> CreatePeer(nv::ui::Window& w, bool) override {
    return std::make_unique<Peer>(w, w.def().caption == "Elegir tipo de reporte" ? this : nullptr);
  }
  int Message(const nv::ui::MessageSpec& m) override {
    std::string text = nv::Utf8FromAnsi(m.text);
    for (size_t at; (at = text.find("||")) != std::string::npos;) text.replace(at, 2, "\n");
    for (char& c : text) c = c == '|' ? '\n' : c;
    std::fprintf(stderr, "fxr4: %s\n", text.c_str());
    if (m.icon == nv::ui::Icon::kError) ++errors_;
    return m.default_button;
  }
  void SetBusy(bool) override {}
  int errors() const { return errors_; }
  // After the chooser closed: steps never played are an error too (a
  // print asked for and not made).
  void Closed() {
    if (next_ >= steps_.size()) return;
    std::fprintf(stderr, "fxr4: la ventana «Elegir tipo de reporte» se cerró antes de «%s»\n",
                 nv::Utf8FromAnsi(steps_[next_]).c_str());
    ++errors_;
  }

 private:
  class Peer : public nv::ui::WindowPeer {
   public:
    Peer(nv::ui::Window& w, ConsoleBackend* player) : w_(w), player_(player) {}
    void Update(nv::ui::ControlId, nv::ui::Prop) override {}
    void Wait() override {
      if (player_ == nullptr || !player_->Play(w_)) w_.ForceEnd();
    }

   private:
    nv::ui::Window& w_;
    ConsoleBackend* player_;
  };

  // The chooser waits for its user: the next step. False (said, counted as
  // an error) when there is none left or the window lacks it.
  bool Play(nv::ui::Window& w) {
    using nv::ui::ControlKind;
    const std::string caption = nv::Utf8FromAnsi(w.Caption());
    if (next_ == steps_.size()) {
      std::fprintf(stderr, "fxr4: la ventana «%s» quedó abierta: --pulsar no dice qué hacer\n",
                   caption.c_str());
      ++errors_;
      return false;
    }
    const std::string& step = steps_[next_++];
    for (const nv::ui::ControlState& c : w.controls()) {
      if (!w.Enabled(c.def.id)) continue;
      if ((c.def.kind == ControlKind::kButton || c.def.kind == ControlKind::kCheck) &&
          Plain(c.text) == Plain(step)) {
        if (c.def.kind == ControlKind::kButton) {
          w.UserPress(c.def.id);
        } else {
          w.UserSetValue(c.def.id, c.value == 0);
        }
        return true;
      }
      for (size_t i = 0; c.def.kind == ControlKind::kOption && i < c.items.size(); ++i) {
        if (Plain(c.items[i]) != Plain(step)) continue;
        w.UserSetValue(c.def.id, int(i) + 1);
        return true;
      }
    }
    std::fprintf(stderr, "fxr4: la ventana «%s» no tiene «%s»\n", caption.c_str(),
                 nv::Utf8FromAnsi(step).c_str());
    ++errors_;
    return false;
  }

  std::vector<std::string> steps_;
  size_t next_ = 0;
  std::atomic<int> errors_{0};
};

int Fail(const std::string& text) {
  std::fprintf(stderr, "fxr4: %s\n", text.c_str());
  return 2;
}

template <class B>
std::string Block(const Options& o, B* b) {
  fxr4::CopyBlock(b, sizeof *b, nullptr, 0);
  b->DESFEC = o.desfec;
  b->HASFEC = o.hasfec;
  b->DESHOR = o.deshor;
  b->HASHOR = o.hashor;
  b->LLASAL = o.llasal;
  b->LLAENT = o.llaent;
  b->NEW_COL_SEL = 0;
  b->CURTAB = o.tipo;
  return std::string(reinterpret_cast<const char*>(b), sizeof *b);
}

// The family of a procedure or chooser from its name.
std::string BuildBlock(const Options& o) {
  const std::string name = o.proc + "_";
  if (name.find("_REQUE") != std::string::npos) {
    fxr4::PARAM_RPT_REQUE b;
    fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
    b.DESFEC = o.desfec;
    b.HASFEC = o.hasfec;
    b.DESHOR = o.deshor;
    b.HASHOR = o.hashor;
    b.DESDUR = o.desdur;
    b.HASDUR = o.hasdur;
    b.OPCIONES_CTAS = o.cuentas;
    b.OPCIONES_AGENTES = o.agentes;
    b.OPCIONES_AGENDA = o.agenda;
    b.DESCOS = o.descos;
    b.HASCOS = o.hascos;
    b.DESNRO = o.desnro;
    b.HASNRO = o.hasnro;
    b.LLASAL = o.llasal;
    b.LLAENT = o.llaent;
    b.CURTAB = o.tipo;
    b.APLICO_FILTRO = 1;
    return std::string(reinterpret_cast<const char*>(&b), sizeof b);
  }
  if (name.find("_CTAS_") != std::string::npos && name.find("_GRP_") == std::string::npos) {
    fxr4::PARAM_RPT_CTAS b;
    Block(o, &b);
    b.DESDE = o.desde;
    b.HASTA = o.hasta;
    return std::string(reinterpret_cast<const char*>(&b), sizeof b);
  }
  if (name.find("_GRP_") != std::string::npos || name.find("_AGENTES_") != std::string::npos) {
    fxr4::PARAM_RPT_COD b;
    Block(o, &b);
    b.DESDE = int32_t(std::strtol(o.desde.c_str(), nullptr, 10));
    b.HASTA = int32_t(std::strtol(o.hasta.c_str(), nullptr, 10));
    return std::string(reinterpret_cast<const char*>(&b), sizeof b);
  }
  fxr4::PARAM_RPT b;
  Block(o, &b);
  b.DESDE = o.desde;
  b.HASTA = o.hasta;
  return std::string(reinterpret_cast<const char*>(&b), sizeof b);
}

// Runs a chooser on this thread, until it is closed.
void CallChooser(void* proc, bool directory, const Options& o, const std::string& block) {
  using ChooserFn = void (*)(const char*, size_t);
  using DirectoryChooserFn = void (*)(const char*, size_t, const char*, size_t);
  if (directory) {
    reinterpret_cast<DirectoryChooserFn>(proc)(o.opcion.data(), o.opcion.size(), block.data(),
                                               block.size());
  } else {
    reinterpret_cast<ChooserFn>(proc)(block.data(), block.size());
  }
}

using WaitFn = void (*)();

// Opens a chooser on this (the GUI) thread; once it is closed, keeps the
// event loop running until the reports it started have ended.
int Choose(WaitFn wait, void* proc, bool directory, const Options& o, const std::string& block,
           QApplication& app) {
  nv::ui::QtBackend qt;
  CallChooser(proc, directory, o, block);
  std::thread waiter([&] {
    wait();
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  waiter.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    Usage(stderr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    Usage(stdout);
    return 0;
  }
  const bool choose = args[0] == "choose";
  if ((args[0] != "run" && !choose) || args.size() < 2) {
    Usage(stderr);
    return 2;
  }
  Options o;
  o.proc = args[1];
  if (!choose && !Known(o.proc, kProcedures)) return Fail("procedimiento desconocido: " + o.proc);
  if (choose && !Known(o.proc, kChoosers)) return Fail("elegir desconocido: " + o.proc);
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--desfec" || a == "--hasfec") {
      if (!value(&v)) return Fail("falta la fecha de " + a);
      int32_t d = nv::DeformatDate("@D6", v);
      if (d == 0) return Fail("fecha inválida: " + v);
      (a == "--desfec" ? o.desfec : o.hasfec) = d;
    } else if (a == "--deshor" || a == "--hashor") {
      if (!value(&v)) return Fail("falta la hora de " + a);
      int32_t t = nv::DeformatTime("@T4", v);
      if (t == 0) return Fail("hora inválida: " + v);
      (a == "--deshor" ? o.deshor : o.hashor) = t;
    } else if (a == "--desde") {
      if (!value(&o.desde)) return Fail("falta el valor de --desde");
    } else if (a == "--hasta") {
      if (!value(&o.hasta)) return Fail("falta el valor de --hasta");
    } else if (a == "--tipo") {
      if (!value(&o.tipo)) return Fail("falta el tipo de llamadas");
    } else if (a == "--copias") {
      if (!value(&v)) return Fail("falta la cantidad de copias");
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != 0 || n < 1 || n > 32767) {
        return Fail("la cantidad de copias debe estar entre 1 y 32767: " + v);
      }
      o.copias = int(n);
    } else if (a == "--opcion") {
      if (!value(&o.opcion) || (o.opcion != "A" && o.opcion != "N")) {
        return Fail("--opcion es A o N");
      }
    } else if (a == "--cuentas" || a == "--agentes" || a == "--agenda") {
      if (!value(&v)) return Fail("falta el valor de " + a);
      (a == "--cuentas" ? o.cuentas : a == "--agentes" ? o.agentes : o.agenda) = v;
    } else if (a == "--desdur" || a == "--hasdur") {
      if (!value(&v)) return Fail("falta la duración de " + a);
      char* end = nullptr;
      const long secs = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != 0 || secs < 0 || secs > 21000000) {
        return Fail("duración inválida: " + v);
      }
      (a == "--desdur" ? o.desdur : o.hasdur) = int32_t(secs * 100);
    } else if (a == "--descos" || a == "--hascos") {
      if (!value(&v)) return Fail("falta el costo de " + a);
      char* end = nullptr;
      const double c = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != 0) return Fail("costo inválido: " + v);
      (a == "--descos" ? o.descos : o.hascos) = c;
    } else if (a == "--desnro") {
      if (!value(&o.desnro)) return Fail("falta el número de --desnro");
    } else if (a == "--hasnro") {
      if (!value(&o.hasnro)) return Fail("falta el número de --hasnro");
    } else if (a == "--csv") {
      o.out_mode = "csv";
      if (!value(&o.out_path)) return Fail("falta el archivo CSV");
    } else if (a == "--pdf") {
      o.out_mode = "pdf";
      if (!value(&o.out_path)) return Fail("falta el archivo PDF");
    } else if (a == "--text") {
      o.out_mode = "text";
      o.out_path = "-";
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.out_path = args[++i];
    } else if (a == "--print") {
      o.out_mode = "gui";
    } else if (a == "--preview") {
      o.out_mode = "gui";
      o.preview = true;
    } else if (choose && a == "--pulsar") {
      if (!value(&v) || v.empty()) return Fail("falta la lista de botones de --pulsar");
      for (size_t at = 0; at <= v.size();) {
        const size_t comma = std::min(v.find(',', at), v.size());
        o.pulsar.push_back(nv::AnsiFromUtf8(v.substr(at, comma - at)));
        at = comma + 1;
      }
    } else if (choose && (a == "--salientes" || a == "--entrantes")) {
      o.llasal = a == "--salientes";
      o.llaent = a == "--entrantes";
    } else {
      return Fail("opción desconocida: " + a);
    }
  }
  if (choose && !o.pulsar.empty() && (o.out_mode.empty() || o.out_mode == "gui")) {
    return Fail("con --pulsar indique --pdf, --text o --csv");
  }
  if (choose && o.out_mode.empty()) o.out_mode = "gui";
  if (o.out_mode.empty()) return Fail("indique --pdf, --text, --csv, --print o --preview");

  // Text from the command line is UTF-8; the blocks hold Windows-1252.
  o.desde = nv::AnsiFromUtf8(o.desde);
  o.hasta = nv::AnsiFromUtf8(o.hasta);
  o.tipo = nv::AnsiFromUtf8(o.tipo);

  std::unique_ptr<QApplication> app;
  const bool unattended = !o.pulsar.empty();
  if ((choose && !unattended) || (o.out_mode != "text" && o.out_mode != "csv")) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    app = std::make_unique<QApplication>(argc, argv);
  }

  const std::string lib_path = SelfFolder() + "/libFXR4.so";
  void* h = dlopen(lib_path.c_str(), RTLD_NOW);
  if (h == nullptr) h = dlopen("libFXR4.so", RTLD_NOW);
  if (h == nullptr) return Fail(std::string("no se puede cargar libFXR4.so: ") + dlerror());
  using OutputFn = int (*)(const char*);
  using ProcFn = void (*)(const char*, size_t, const char*, size_t);
  using DirectoryFn = void (*)(const char*, size_t, const char*, size_t, const char*, size_t);
  auto output = reinterpret_cast<OutputFn>(dlsym(h, "FXR4:OUTPUT"));
  void* proc = dlsym(h, o.proc.c_str());
  if (output == nullptr || proc == nullptr) return Fail("libFXR4.so no exporta " + o.proc);
  const bool directory = (o.proc + "_").find("_AGENDADAS_") != std::string::npos;
  const std::string shape = o.out_mode == "gui" ? "gui" : o.out_mode + ":" + o.out_path;
  if (output(shape.c_str()) != 0) return Fail("salida inválida: " + shape);

  const std::string block = BuildBlock(o);
  auto wait = reinterpret_cast<WaitFn>(dlsym(h, "FXR4:WAIT"));
  if (choose && wait == nullptr) return Fail("libFXR4.so no exporta FXR4:WAIT");
  if (choose && !unattended) return Choose(wait, proc, directory, o, block, *app);

  ConsoleBackend console(o.pulsar);
  nv::ui::SetBackend(&console);
  fxr4::OPC_IMPRESION opc{};
  opc.VISTA_PREVIA = o.preview ? 1 : 0;
  opc.COPIAS = int16_t(o.copias);
  const std::string opc_text(reinterpret_cast<const char*>(&opc), sizeof opc);

  if (choose) {
    // The chooser on this thread; then its reports, to their end.
    CallChooser(proc, directory, o, block);
    console.Closed();
    wait();
    nv::ui::SetBackend(nullptr);
    return console.errors() > 0 ? 1 : 0;
  }
  std::thread run([&] {
    if (directory) {
      reinterpret_cast<DirectoryFn>(proc)(o.opcion.data(), o.opcion.size(), block.data(),
                                          block.size(), opc_text.data(), opc_text.size());
    } else {
      reinterpret_cast<ProcFn>(proc)(block.data(), block.size(), opc_text.data(), opc_text.size());
    }
    if (o.out_mode == "gui") {
      QMetaObject::invokeMethod(app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    }
  });
  if (o.out_mode == "gui") app->exec();
  run.join();
  nv::ui::SetBackend(nullptr);
  if (console.errors() > 0) return 1;
  if (o.out_mode == "pdf" && !std::filesystem::exists(o.out_path)) {
    return Fail("no se escribió " + o.out_path);
  }
  return 0;
}
