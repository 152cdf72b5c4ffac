// IMPORTAR_AGENDA_DOS over real flat files: the demo installation with its
// sample old directory in Archivos/DOS, imported headless.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "agenda/import_dos.h"
#include "host/runtime/file.h"
#include "tests/agenda/agenda_fixture.h"

namespace {

using agenda::A;
using namespace nv::ui;
using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::dict::TA09Record;

class ImportDosTest : public agendatest::AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    WriteDemo(8, 6, 0);
    nv::dict::FxdatsInit(nullptr, nullptr);
  }
  void TearDown() override {
    nv::dict::FxdatsKill();
    AgendaTest::TearDown();
  }

  // Every record of a directory file, as "key fields -> the rest", read
  // through a file of its own.
  std::map<std::string, std::string> Dump(const char* label) {
    std::unique_ptr<nv::File> f = nv::dict::Dic()->NewFile(label);
    std::map<std::string, std::string> out;
    if (f->Open(nv::kReadOnly | nv::kDenyNone) != 0) return out;
    f->Set();
    while (f->Next() == 0) {
      std::string rec(reinterpret_cast<const char*>(f->record()), f->record_length());
      out[rec] = f->memo_count() ? f->MemoText(0) : "";
    }
    f->Close();
    return out;
  }
  std::map<std::string, std::string> Company(const std::string& name) {
    std::map<std::string, std::string> hit;
    for (const auto& [rec, memo] : Dump("FXMA11")) {
      MA11Record r;
      std::memcpy(&r, rec.data(), sizeof r);
      if (r.NOMBRE == A(name)) {
        hit["CODIGO"] = std::to_string(r.CODIGO);
        hit["DIRECC"] = r.DIRECC.str();
        hit["ESEMPR"] = r.ESEMPR.str();
        hit["FECALT"] = std::to_string(r.FECALT.day());
      }
    }
    return hit;
  }
  // Number -> "owner|comment|group".
  std::map<std::string, std::string> Numbers() {
    std::map<std::string, std::string> out;
    for (const auto& [rec, memo] : Dump("FXRE09")) {
      RE09Record r;
      std::memcpy(&r, rec.data(), sizeof r);
      out[r.NROTEL.str()] = std::to_string(agenda::Int(r.CODIGO)) + "|" + r.COMENT.str() + "|" +
                            std::to_string(agenda::Int(r.GRUAGE)) + "|" + r.CARINI.str() + "|" +
                            std::to_string(r.LONTEL);
    }
    return out;
  }

  // Runs the import to its end (or as the script says); answers the
  // "Errores" list and the last status line.
  // Once the window is idle: lets the timer run the import to its end, then
  // reads the "Errores" list and the status line and presses Salir.
  void AtTheEnd(std::vector<std::string>* errors, std::string* status) {
    ui_->OnIdle(A("Importación de datos"), [this, errors, status](Window& w) {
      if (w.Timer() != 0) {
        AtTheEnd(errors, status);
        ui_->AdvanceClock(w.Timer());
        return;
      }
      if (errors) *errors = w.Items(agenda::kImpErrores);
      if (status) *status = w.Text(agenda::kImpEstado);
      Press(w, agenda::kImpSalir);  // finished: no question
    });
  }

  // Runs the import to its end; answers the "Errores" list.
  std::vector<std::string> Import(std::string* status = nullptr) {
    std::vector<std::string> errors;
    ui_->OnOpen(A("Importación de datos"), [](Window& w) { Press(w, agenda::kImpImportar); });
    AtTheEnd(&errors, status);
    agenda::IMPORTAR_AGENDA_DOS();
    return errors;
  }
};

// The running clock's frames are pictures that ship beside the program
// (a missing one is drawn as a plain clock face instead).
TEST_F(ImportDosTest, TheClockFramesArePicturesBesideTheProgram) {
  char exe[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const std::string dir = std::string(exe).substr(0, std::string(exe).rfind('/') + 1);
  int frames = 0;
  for (const ControlDef& c : agenda::ImportWindowDef().controls) {
    for (const std::string& f : c.frames) {
      struct stat st {};
      EXPECT_EQ(::stat((dir + f).c_str(), &st), 0) << f;
      ++frames;
    }
  }
  EXPECT_GT(frames, 1);
}

TEST_F(ImportDosTest, ImportsTheOldDirectoryAndASecondRunAddsNothing) {
  const auto before = Numbers();
  const std::string clashing = "1143000001";  // the number of the clashing entry
  ASSERT_EQ(before.count(clashing), 0u);
  const int32_t today = nv::GetEnv()->Today();

  std::string status;
  std::vector<std::string> errors = Import(&status);
  EXPECT_EQ(status, A("Proceso finalizado !"));
  // Groups 1-3 are the demo's own: refused, unchanged; 90 is new.
  EXPECT_EQ(std::set<std::string>(errors.begin(), errors.begin() + 3),
            (std::set<std::string>{A("GruposAg: Error al grabar registro grupo. 1 . Clientes"),
                                   A("GruposAg: Error al grabar registro grupo. 2 . Proveedores"),
                                   A("GruposAg: Error al grabar registro grupo. 3 . Bancos")}));
  // Entry 1 clashes with demo company 1 under another name: skipped, with
  // its number, and said.
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_NE(errors[3].find("Distribuidora Antigua"), std::string::npos);
  EXPECT_TRUE(Company("Distribuidora Antigua").empty());
  // Old codes kept, accented names read through the OEM code page, today.
  auto maritima = Company("Compañía Marítima del Plata");
  EXPECT_EQ(maritima["CODIGO"], "9001");
  EXPECT_EQ(maritima["DIRECC"], A("Güemes 455"));
  EXPECT_EQ(maritima["ESEMPR"], "E");
  EXPECT_EQ(maritima["FECALT"], std::to_string(today));
  EXPECT_EQ(Company("Ñandú Transportes")["CODIGO"], "9002");
  EXPECT_EQ(Company("Cerrajería Díaz")["CODIGO"], "9003");
  auto after = Numbers();
  EXPECT_EQ(after["223"], "9001|Interno|90|2|3");  // "<I>223"
  EXPECT_EQ(after.count("<I>223"), 0u);
  EXPECT_EQ(after["2234950011"], "9001|Conmutador|90|2|10");
  EXPECT_EQ(after.count(clashing), 0u);
  // The number already present keeps its owner and comment.
  for (const auto& [number, value] : before) EXPECT_EQ(after[number], value) << number;
  EXPECT_EQ(after.size(), before.size() + 2);
  const auto groups = Dump("FXTA09");

  // Again: nothing is added, every group is reported, nothing changes.
  const auto ma11 = Dump("FXMA11");
  errors = Import();
  EXPECT_EQ(errors.size(), 5u);
  EXPECT_EQ(errors[3], A("GruposAg: Error al grabar registro grupo. 90 . Agenda anterior (DOS)"));
  EXPECT_EQ(Dump("FXMA11"), ma11);
  EXPECT_EQ(Numbers(), after);
  EXPECT_EQ(Dump("FXTA09"), groups);
}

TEST_F(ImportDosTest, FillsOnlyBlankAddressesAndCommentsOfWhatIsThere) {
  nv::dict::Dictionary& dic = *nv::dict::Dic();
  nv::dict::FileAccess& ma11 = *dic.Access("FXMA11");
  nv::dict::FileAccess& re09 = *dic.Access("FXRE09");
  ASSERT_EQ(ma11.UseFile(), 0);
  ASSERT_EQ(re09.UseFile(), 0);
  // The same names under other codes: one without address, one with.
  auto add = [&](int32_t code, const char* name, const char* address) {
    ma11.file().Clear();
    auto& r = ma11.rec<MA11Record>();
    r.CODIGO = code;
    r.NOMBRE = A(name);
    r.DIRECC = A(address);
    r.ESEMPR = "E";
    ASSERT_EQ(ma11.TryInsert(), 0);
  };
  add(500, "Compañía Marítima del Plata", "");
  add(501, "Cerrajería Díaz", "Otra calle 1");
  re09.file().Clear();
  auto& n = re09.rec<RE09Record>();
  n.CODIGO.Set(501);
  n.NROTEL = "2234950011";
  nv::dict::DeriveNumberFields(n);
  ASSERT_EQ(re09.TryInsert(), 0);
  re09.Close();
  ma11.Close();

  Import();
  EXPECT_EQ(Company("Compañía Marítima del Plata")["CODIGO"], "500");
  EXPECT_EQ(Company("Compañía Marítima del Plata")["DIRECC"], A("Güemes 455"));
  EXPECT_EQ(Company("Cerrajería Díaz")["DIRECC"], "Otra calle 1");
  auto numbers = Numbers();
  EXPECT_EQ(numbers["2234950011"], "501|Conmutador|0|2|10");  // owner kept, comment filled
  EXPECT_EQ(numbers["223"], "500|Interno|90|2|3");          // to the company found
}

TEST_F(ImportDosTest, ADamagedOrMissingOldFileImportsNothing) {
  const auto original = Snapshot();
  // Truncated data file, another file's layout, and no file at all.
  const std::vector<std::function<void()>> damage = {
      [] { ASSERT_EQ(truncate("Archivos/DOS/FXMA06DOS.DAT", 300), 0); },
      [] {
        std::string bytes;
        ASSERT_EQ(nv::ReadWholeFile("Archivos/DOS/FXTA06DOS.DAT", &bytes), 0);
        FILE* f = fopen("Archivos/DOS/FXRE01DOS.DAT", "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
      },
      [] { ASSERT_EQ(unlink("Archivos/DOS/FXTA06DOS.DAT"), 0); },
  };
  const char* labels[] = {"FXMA06DOS", "FXRE01DOS", "FXTA06DOS"};
  for (size_t i = 0; i < damage.size(); ++i) {
    const std::string cmd = "rm -rf Archivos/DOS && cp -r " + dir_ + "/dos-copy Archivos/DOS";
    if (i == 0) {
      ASSERT_EQ(system(("cp -r Archivos/DOS " + dir_ + "/dos-copy").c_str()), 0);
    }
    ASSERT_EQ(system(cmd.c_str()), 0);
    damage[i]();
    const size_t shown = ui_->messages().size();
    bool enabled = true;
    ui_->OnOpen(A("Importación de datos"), [&](Window& w) {
      enabled = w.Enabled(agenda::kImpImportar);
      Press(w, agenda::kImpImportar);  // disabled: nothing happens
      Press(w, agenda::kImpSalir);
    });
    agenda::IMPORTAR_AGENDA_DOS();
    EXPECT_FALSE(enabled);
    const auto messages = ui_->messages();
    ASSERT_EQ(messages.size(), shown + 1) << labels[i];
    EXPECT_EQ(messages.back().shape.caption, "Error");
    EXPECT_EQ(messages.back().shape.text.rfind(std::string(labels[i]) + ": " +
                                                   A("No se puede abrir el archivo "),
                                               0),
              0u)
        << messages.back().shape.text;
    auto now = Snapshot();
    for (const auto& [name, bytes] : original) {
      EXPECT_EQ(now[name], bytes) << labels[i] << " changed " << name;
    }
  }
}

TEST_F(ImportDosTest, SalirBetweenStepsAsksAndCancelsOrGoesOn) {
  const auto ma11 = Dump("FXMA11");
  for (int answer : {1, 2}) {
    std::string status;
    ui_->OnOpen(A("Importación de datos"), [](Window& w) { Press(w, agenda::kImpImportar); });
    // After step 1 (one tick) the user presses Salir.
    ui_->OnIdle(A("Importación de datos"), [this](Window&) { ui_->AdvanceClock(1); });
    ui_->OnIdle(A("Importación de datos"), [](Window& w) { Press(w, agenda::kImpSalir); });
    ui_->QueueAnswer(answer);
    if (answer == 2) AtTheEnd(nullptr, &status);
    const size_t shown = ui_->messages().size();
    agenda::IMPORTAR_AGENDA_DOS();
    const auto messages = ui_->messages();
    ASSERT_EQ(messages.size(), shown + 1);
    EXPECT_EQ(messages.back().shape.caption, A("Confirmación"));
    EXPECT_EQ(messages.back().shape.text,
              A(" Está seguro que desea cancelar la importación de datos ?"));
    EXPECT_EQ(messages.back().shape.default_button, 2);
    if (answer == 1) {
      EXPECT_EQ(Dump("FXMA11"), ma11);  // cancelled before step 2
      EXPECT_EQ(Dump("FXTA09").size(), 7u);  // but group 90 is in
    } else {
      EXPECT_EQ(status, A("Proceso finalizado !"));
      EXPECT_EQ(Company("Ñandú Transportes")["CODIGO"], "9002");
    }
  }
}

}  // namespace
