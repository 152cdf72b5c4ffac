#include "agenda/import_dos.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agenda/relink.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::FileAccess;

namespace {

// The running clock: the clock pictures the other import and the re-link
// show, in turn.
std::vector<std::string> ClockFrames() {
  std::vector<std::string> frames;
  for (int n = 1; n <= kClockPictures; ++n) frames.push_back(ClockPicture(n));
  return frames;
}

}  // namespace

WindowDef ImportWindowDef() {
  return WindowDef(A("Importación de datos"),
                   {Button(kImpImportar, A("Importar")).Tip(A("Comenzar la importación")),
                    Prompt("", kImpEstado), Prompt("", kImpPorcentaje), Progress(kImpProgreso),
                    Animation(kImpReloj, ClockFrames(), 25),
                    Prompt(A("Errores")), List(kImpErrores, {Col(A("Errores"), "@s120", "")}),
                    Button(kImpSalir, A("Salir")).Tip(A("Salir de la importación"))})
      .Size(560, 360);
}

namespace {

constexpr int kErrDuplicate = 40;
// Reads of an old file that may fail one after another before its walk ends.
constexpr int kMaxReadFailures = 20;

// The old files, and the directory files the steps write.
constexpr const char* kOldFiles[] = {"FXTA06DOS", "FXMA06DOS", "FXRE01DOS"};
constexpr const char* kNewFiles[] = {"FXTA09", "FXMA11", "FXRE09"};

// A text of an old record, clipped. The driver has already turned the OEM
// bytes into the runtime's code page; control bytes (a DOS program could
// leave zeros after a name) become blanks.
template <size_t N>
std::string Texto(const nv::String<N>& s) {
  std::string t(s.view());
  for (char& c : t) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return std::string(nv::Clip(t));
}

// A code of an old record; false when the packed decimal is damaged or the
// code is not positive (0 would ask the directory for a new code).
template <size_t B>
bool Codigo(const nv::Decimal<B, 0>& d, int64_t* code) {
  return d.Scaled(code) && *code > 0;
}

// An old number as the directory keeps it: clipped, without a leading "<I>".
std::string Numero(const nv::dict::RE01DOSRecord& r) {
  std::string n = Texto(r.NROTEL);
  if (n.compare(0, 3, "<I>") == 0) n.erase(0, 3);
  return n;
}

class ImportDos {
 public:
  ImportDos(nv::dict::Dictionary& dic, Window& w) : dic_(dic), w_(w) {}
  ~ImportDos() { CloseFiles(); }

  void Run() {
    while (w_.Accept()) {
      switch (w_.Event()) {
        case Event::kOpenWindow:
          OpenWindow();
          break;
        case Event::kAccepted:
          if (w_.Field() == kImpImportar) Importar();
          if (w_.Field() == kImpSalir) w_.Close(kCompleted);
          break;
        case Event::kTimer:
          Tick();
          break;
        case Event::kCloseWindow:
          if (w_.Timer() != 0 && !ConfirmCancel()) w_.KeepOpen();
          break;
        default:
          break;
      }
    }
    busy_.reset();
  }

 private:
  // On opening: the timer is off, the files opened and the record counts
  // of the entries and groups taken.
  void OpenWindow() {
    w_.SetTimer(0);
    w_.Hide(kImpReloj);
    w_.Hide(kImpProgreso);
    w_.Hide(kImpPorcentaje);
    if (!OpenFiles()) {
      w_.Disable(kImpImportar);
      w_.SetText(kImpEstado, A("No se puede importar la agenda FXDOS."));
      return;
    }
    entries_ = ma06_->file().Records();
    groups_ = ta06_->file().Records();
    w_.SetText(kImpEstado, A("Agenda FXDOS: ") + std::to_string(groups_) + " grupos y " +
                               std::to_string(entries_) + A(" empresas para importar."));
  }

  // Opens the directory files, then the three old ones. An old file that
  // cannot be opened is told under "Errores" and in a message box, and the
  // import cannot start: nothing is taken from a file that may be damaged.
  bool OpenFiles() {
    for (const char* label : kNewFiles) {
      FileAccess* a = dic_.Access(label);
      if (a == nullptr || a->UseFile() != 0) return false;  // the error reporter told
      used_.push_back(a);
    }
    bool ok = true;
    nv::dict::ErrorReporter* reporter = dic_.reporter();
    dic_.set_reporter(nullptr);
    for (const char* label : kOldFiles) {
      FileAccess* a = dic_.Access(label);
      const int err = a->UseFile();
      if (err != 0) {
        const std::string text = nv::ErrorCode() == err ? nv::ErrorText() : nv::ErrorTextOf(err);
        const std::string message = std::string(label) + ": " +
                                    A("No se puede abrir el archivo ") +
                                    dic_.EffectiveName(label) + " (" + std::to_string(err) +
                                    " " + text + ")";
        Error(message);
        Message(message + A("|No se importa ningún dato."), A("Error"), Icon::kError);
        ok = false;
        continue;
      }
      used_.push_back(a);
    }
    dic_.set_reporter(reporter);
    ta06_ = dic_.Access("FXTA06DOS");
    ma06_ = dic_.Access("FXMA06DOS");
    re01_ = dic_.Access("FXRE01DOS");
    ta09_ = dic_.Access("FXTA09");
    ma11_ = dic_.Access("FXMA11");
    re09_ = dic_.Access("FXRE09");
    return ok;
  }

  void CloseFiles() {
    for (auto it = used_.rbegin(); it != used_.rend(); ++it) (*it)->Close();
    used_.clear();
  }

  // "Importar".
  void Importar() {
    w_.Disable(kImpImportar);
    w_.Hide(kImpImportar);
    w_.Unhide(kImpReloj);
    busy_ = std::make_unique<BusyCursor>();
    step_ = 1;
    range_ = entries_ + groups_;
    progress_ = 0;
    w_.SetProgressRange(kImpProgreso, 0, int(range_ > 0 ? range_ : 1));
    w_.SetProgress(kImpProgreso, 0);
    w_.Unhide(kImpProgreso);
    w_.Unhide(kImpPorcentaje);
    ShowPercent();
    w_.SetTimer(1);
  }

  void Tick() {
    switch (step_) {
      case 1:
        w_.SetText(kImpEstado, A("Paso 1 de 2 - Cargando grupos de empresas..."));
        Batch(*ta09_, [this] { LoadGroups(); });
        step_ = 2;
        break;
      case 2:
        w_.SetText(kImpEstado, A("Paso 2 de 2 - Cargando empresas..."));
        Batch(*ma11_, [this] { Batch(*re09_, [this] { LoadCompanies(); }); });
        step_ = 3;
        break;
      default:
        Finish();
        break;
    }
  }

  // Runs a step with a target file in stream mode, flushed at its end.
  template <class F>
  void Batch(FileAccess& a, F step) {
    a.file().Stream();
    step();
    if (int err = a.file().Flush(); err != 0) {
      Error(a.label() + ": " + A("Error al grabar en disco (") + std::to_string(err) + " " +
            nv::ErrorTextOf(err) + ")");
    }
  }

  // Step 1: every old group becomes a directory group; existing groups are
  // not changed.
  void LoadGroups() {
    ta06_->file().Set();
    int failures = 0;
    for (Read r; (r = NextOld(*ta06_, &failures)) != Read::kEnd;) {
      Advance();
      if (r == Read::kSkipped) continue;
      const auto& g = ta06_->rec<nv::dict::TA06DOSRecord>();
      const std::string desc = Texto(g.DESCRI);
      int64_t code = 0;
      if (!Codigo(g.GRUPO, &code)) {
        Error(A("GruposAg: Código de grupo inválido. ") + desc);
        continue;
      }
      ta09_->file().Clear();
      auto& t = ta09_->rec<nv::dict::TA09Record>();
      t.GRUAGE.Set(code);
      t.DESGRU = desc;
      if (ta09_->TryInsert() != 0) {
        Error(A("GruposAg: Error al grabar registro grupo. ") + std::to_string(code) + " . " + desc);
      }
    }
  }

  // Step 2: every old entry, in code order, becomes a company (or finds its
  // namesake) and brings its numbers.
  void LoadCompanies() {
    nv::File& old = ma06_->file();
    auto& e = ma06_->rec<nv::dict::MA06DOSRecord>();
    old.Clear();
    e.CODIGO.Set(0);
    old.Set(ma06_->key("MA06DOS:MA06_CP"), ma06_->key("MA06DOS:MA06_CP"));
    int failures = 0;
    for (Read r; (r = NextOld(*ma06_, &failures)) != Read::kEnd;) {
      Advance();
      if (r == Read::kRecord) Company(e);
    }
  }

  void Company(const nv::dict::MA06DOSRecord& e) {
    const std::string name = Texto(e.NOMBRE);
    const std::string address = Texto(e.DIRECC);
    int64_t code = 0, group = 0;
    if (!Codigo(e.CODIGO, &code) || code > INT32_MAX) {
      Error(A("Empresas: Código de empresa inválido. ") + name);
      return;
    }
    if (!e.GRUPO.Scaled(&group)) group = 0;
    // 1. The company, with the old code.
    ma11_->file().Clear();
    ma11_->file().SetMemoText(0, "");
    auto& c = ma11_->rec<nv::dict::MA11Record>();
    c.CODIGO = int32_t(code);
    c.NOMBRE = name;
    c.DIRECC = address;
    c.FECALT.set_day(nv::GetEnv()->Today());
    c.ESEMPR = "E";
    if (const int err = ma11_->TryInsert(); err != 0) {
      // 2. Added before (or the code is another entry's): the company of
      // that name, if any.
      if (err != kErrDuplicate) {
        Error(A("Empresas: Error al grabar registro de empresa. ") + std::to_string(code) + " . " +
              name + " (" + nv::ErrorTextOf(err) + ")");
        return;
      }
      ma11_->file().Clear();
      c.NOMBRE = name;
      c.ESEMPR = "E";
      if (ma11_->TryFetch("MA11:MA11_C1") != 0) {
        Error(A("Empresas: Omitida, el código ") + std::to_string(code) +
              A(" es de otra entrada de la agenda. ") + name);
        return;
      }
      if (c.DIRECC.empty() && !address.empty()) {
        c.DIRECC = address;
        if (ma11_->TryUpdate() != 0) {
          Error(A("Empresas: Error al actualizar el registro de empresa. ") +
                std::to_string(c.CODIGO) + " . " + name);
        }
      }
    }
    // 3. Its numbers, to the company now in the buffer.
    Numbers(int32_t(code), c.CODIGO, group);
  }

  void Numbers(int32_t old_code, int32_t company, int64_t group) {
    nv::File& old = re01_->file();
    nv::KeyDecl* key = re01_->key("RE01DOS:RE01_CP");
    auto& n = re01_->rec<nv::dict::RE01DOSRecord>();
    old.Clear();
    n.CODIGO.Set(old_code);
    old.Set(key, key);
    int failures = 0;
    for (Read r; (r = NextOld(*re01_, &failures)) != Read::kEnd;) {
      if (r == Read::kSkipped) continue;
      int64_t owner = 0;
      if (!n.CODIGO.Scaled(&owner) || owner != old_code) break;
      Number(n, company, group);
    }
  }

  void Number(const nv::dict::RE01DOSRecord& n, int32_t company, int64_t group) {
    const std::string number = Numero(n);
    const std::string comment = Texto(n.COMENT);
    if (number.empty()) {
      Error(A("Teléfonos: Número vacío omitido. ") + std::to_string(company));
      return;
    }
    re09_->file().Clear();
    auto& r = re09_->rec<nv::dict::RE09Record>();
    r.CODIGO.Set(company);
    r.COMENT = comment;
    r.GRUAGE.Set(group);
    r.NROTEL = number;
    nv::dict::DeriveNumberFields(r);
    const int err = re09_->TryInsert();
    if (err == 0) return;
    if (err != kErrDuplicate) {
      Error(A("Teléfonos: Error al grabar registro de teléfonos. ") + std::to_string(company) +
            " . " + number + " (" + nv::ErrorTextOf(err) + ")");
      return;
    }
    // Already in the directory: it keeps its owner; a blank comment is filled.
    re09_->file().Clear();
    r.NROTEL = number;
    if (re09_->TryFetch("RE09:RE09_C1") != 0) return;
    if (r.COMENT.empty() && !comment.empty()) {
      r.COMENT = comment;
      if (re09_->TryUpdate() != 0) {
        int64_t owner = 0;
        r.CODIGO.Scaled(&owner);
        Error(A("Teléfonos: Error al actualizar el registro de teléfonos. ") +
              std::to_string(owner) + " . " + number);
      }
    }
  }

  // Step 3: the end.
  void Finish() {
    w_.SetProgress(kImpProgreso, int(range_ > 0 ? range_ : 1));
    w_.SetText(kImpPorcentaje, A("100 % Completo"));
    w_.Hide(kImpReloj);
    w_.SetText(kImpEstado, A("Proceso finalizado !"));
    busy_.reset();
    w_.SetTimer(0);
    step_ = 0;
  }

  // The next record of an old file. A record that cannot be read is
  // skipped; a file that keeps failing ends its walk, told under "Errores".
  enum class Read { kRecord, kSkipped, kEnd };
  Read NextOld(FileAccess& a, int* failures) {
    const int err = a.file().Next();
    if (err == 0) {
      *failures = 0;
      return Read::kRecord;
    }
    if (err == 33) return Read::kEnd;
    if (++*failures >= kMaxReadFailures) {
      Error(a.label() + ": " + A("Error al leer el archivo (") + std::to_string(err) + " " +
            nv::ErrorTextOf(err) + ")");
      return Read::kEnd;
    }
    return Read::kSkipped;
  }

  // After each record: the clock and the percentage.
  void Advance() {
    ++progress_;
    w_.SetProgress(kImpProgreso, int(progress_));
    ShowPercent();
  }

  void ShowPercent() {
    const int64_t percent = range_ > 0 ? progress_ * 100 / range_ : 0;
    w_.SetText(kImpPorcentaje, std::to_string(percent) + " % Completo");
  }

  void Error(const std::string& text) {
    errors_.push_back(text);
    w_.SetItems(kImpErrores, errors_);
  }

  bool ConfirmCancel() {
    return Message(A(" Está seguro que desea cancelar la importación de datos ?"),
                   A("Confirmación"), Icon::kQuestion, "&Cancelar|&No Cancelar", 2) == 1;
  }

  nv::dict::Dictionary& dic_;
  Window& w_;
  std::vector<FileAccess*> used_;
  FileAccess *ta06_ = nullptr, *ma06_ = nullptr, *re01_ = nullptr;
  FileAccess *ta09_ = nullptr, *ma11_ = nullptr, *re09_ = nullptr;
  int64_t entries_ = 0, groups_ = 0, range_ = 0, progress_ = 0;
  int step_ = 0;
  std::vector<std::string> errors_;
  std::unique_ptr<BusyCursor> busy_;
};

}  // namespace

void IMPORTAR_AGENDA_DOS() {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return;
  Window w(ImportWindowDef());
  ImportDos run(*dic, w);
  w.Open();
  run.Run();
}

void RegisterDosImport(Procedures& table) {
  table.IMPORTAR_AGENDA_DOS = IMPORTAR_AGENDA_DOS;
}

}  // namespace agenda
