// The window "Importación de datos" and the import without a window, both
// over the engine of import_text.h.
#include <climits>
#include <optional>

#include "agenda/import_text.h"
#include "agenda/procedures.h"
#include "agenda/relink.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/runtime/codepage.h"
#include "host/runtime/profile.h"
#include "host/ui/backend.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;

namespace {

constexpr size_t kErrorWidth = 100;  // an entry of the list "Errores"

// The progress bar takes ints: a range beyond them is scaled down.
void ShowProgress(Window& w, ControlId bar, int64_t progress, int64_t range) {
  const int64_t scale = range / INT_MAX + 1;
  w.SetProgressRange(bar, 0, int(range / scale));
  w.SetProgress(bar, int(std::min(progress, range) / scale));
}

}  // namespace

WindowDef ImportarWindowDef() {
  return WindowDef(A("Importación de datos"),
                   {Button(kImpImportar, A("Importar")).Tip(A("Importar datos de agenda")),
                    Prompt("", kImpEstado), Prompt("", kImpPorcentaje), Progress(kImpProgreso),
                    List(kImpErrores, {Col(A("Errores"), "@s70", "")}),
                    Image(kImpReloj, ClockPicture(1)), Button(kImpSalir, A("Salir"))})
      .Size(560, 400);
}

void Importar() {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return;
  Window w(ImportarWindowDef());
  TextImport run(*dic);
  std::vector<std::string> errores;
  run.on_status = [&w](const std::string& s) { w.SetText(kImpEstado, s.substr(0, 50)); };
  run.on_error = [&](const std::string& e) {
    errores.push_back(e.substr(0, kErrorWidth));
    w.SetItems(kImpErrores, errores);
  };
  std::optional<BusyCursor> busy;
  int picture = 1;
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        w.Hide(kImpReloj);
        break;
      case Event::kAccepted:
        if (w.Field() == kImpSalir) {
          w.Close(kCompleted);
        } else if (w.Field() == kImpImportar && !run.running() && !run.finished()) {
          // One import per opening of the window.
          w.Disable(kImpImportar);
          w.Hide(kImpImportar);
          w.Unhide(kImpReloj);
          busy.emplace();
          errores.clear();
          w.SetItems(kImpErrores, errores);
          if (!run.Start()) {
            busy.reset();
            w.Hide(kImpReloj);
            break;
          }
          w.SetText(kImpPorcentaje, run.PercentText());
          ShowProgress(w, kImpProgreso, run.progress(), run.range());
          w.SetTimer(1);
        }
        break;
      case Event::kTimer:
        if (!run.running()) break;
        run.Tick(1);
        picture = picture % kClockPictures + 1;
        w.SetText(kImpReloj, ClockPicture(picture));
        if (!run.running() && !run.finished()) {  // interrupted: a flush failed
          w.Hide(kImpReloj);
          busy.reset();
          w.SetTimer(0);
        } else if (run.finished()) {
          ShowProgress(w, kImpProgreso, 1, 1);
          w.SetText(kImpPorcentaje, A("100 % Completo"));
          w.Hide(kImpReloj);
          busy.reset();
          w.SetTimer(0);
        } else {
          ShowProgress(w, kImpProgreso, run.progress(), run.range());
          w.SetText(kImpPorcentaje, run.PercentText());
        }
        break;
      case Event::kCloseWindow:
        if (run.running()) {
          const int answer =
              Message(A(" Está seguro que desea cancelar la importación de datos ?"),
                      A("Confirmación"), Icon::kQuestion, A("&Cancelar|&No Cancelar"), 2);
          if (answer == 1) {
            run.Stop();
            busy.reset();
          } else {
            w.KeepOpen();
          }
        }
        break;
      default:
        break;
    }
  }
  // A window ended from outside leaves what was written, as a cancel does.
  run.Stop();
}

int ImportarSinVentana(const std::string& folder, std::FILE* out) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return 4;
  std::string dir = folder.empty() ? std::string(kImportFolder) : folder;
  if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  TextImport run(*dic, dir, ImportPacing::kUnpaced);
  run.on_status = [out](const std::string& s) {
    std::fprintf(out, "%s\n", nv::Utf8FromAnsi(s).c_str());
  };
  run.on_error = [out](const std::string& e) {
    std::fprintf(out, "  %s\n", nv::Utf8FromAnsi(e).c_str());
  };
  if (!run.Start()) return 4;
  run.RunUnpaced();
  std::fprintf(out, "%s\n",
               nv::Utf8FromAnsi(std::to_string(run.errors().size()) + A(" errores, ") +
                                std::to_string(run.rejected()) + A(" líneas rechazadas."))
                   .c_str());
  std::fflush(out);
  return run.errors().empty() && run.finished() ? 0 : 1;
}

namespace {

// File errors of the command go to the standard error.
class StderrReporter : public nv::dict::ErrorReporter {
 public:
  void FileError(std::string_view label, std::string_view operation, int code,
                 const std::string& text) override {
    std::fprintf(stderr, "agenda: error en el archivo %.*s (%.*s): %d %s\n", int(label.size()),
                 label.data(), int(operation.size()), operation.data(), code,
                 nv::Utf8FromAnsi(text).c_str());
  }
};

}  // namespace

int ImportCommand(int argc, char** argv) {
  std::string folder;
  long user = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--usuario" && i + 1 < argc) {
      user = std::strtol(argv[++i], nullptr, 10);
    } else if (folder.empty() && !arg.empty() && arg[0] != '-') {
      folder = std::string(arg);
    } else {
      folder.clear();
      break;
    }
  }
  if (folder.empty()) {
    std::fprintf(stderr,
                 "uso: agenda --importar CARPETA [--usuario CODIGO]\n"
                 "  CARPETA tiene RubrosAg.txt, GruposAg.txt, Empresas.txt, TelefonE.txt,\n"
                 "  Contacto.txt y TelefonC.txt; la agenda es la de ./Archivos.\n");
    return 2;
  }
  StderrReporter reporter;
  nv::ProfileFile ini;
  ini.set_name("agenda.INI");
  nv::dict::FxdatsInit(&reporter, &ini);
  nv::dict::Dic()->SetCallFileNames();
  nv::dict::Dic()->globals().CODUSR.Set(user);
  const int status = ImportarSinVentana(folder, stdout);
  nv::dict::FxdatsKill();
  return status;
}

void RegisterTextImport(Procedures& table) {
  table.Importar = [] { Importar(); };
}

}  // namespace agenda
