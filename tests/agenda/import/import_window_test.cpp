// The window "Importación de datos", headless: a whole run from the main
// window's menu entry, and a cancel in the middle that keeps what was
// written and leaves the staging tables for a later run that completes.
#include "agenda/main_window.h"
#include "agenda/procedures.h"
#include "tests/agenda/import/import_fixture.h"

namespace importtest {
namespace {

using namespace nv::ui;

const std::string kCaption = A("Importación de datos");

class ImportWindowTest : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    std::string empresas, telefone, contactos;
    for (int i = 1; i <= kCompanies; ++i) {
      const std::string n = std::to_string(i);
      empresas += n + ",1/1/2020,Empresa " + n + ",,,,0,0,,RI,\n";
      telefone += n + ",0351" + n + "1,,0\n" + n + ",0351" + n + "2,,0\n";
      contactos += std::to_string(1000 + i) + ",,Contacto " + n + ",,,," + n + ",,\n";
    }
    WriteInputs("", "", empresas, telefone, contactos, "");
    AddCall(0, "035112345");
  }

  // Plays the window: presses Importar, lets `ticks` timer ticks run (0:
  // to the end), then `then` acts on it.
  void Play(int ticks, std::function<void(Window&)> then) {
    ui_->OnOpen(kCaption, [](Window& w) { Press(w, agenda::kImpImportar); });
    ticks_ = ticks;
    then_ = std::move(then);
    watch_ = [this](Window& w) {
      if (w.Timer() != 0 && (ticks_ == 0 || count_++ < ticks_)) {
        running_seen_ = running_seen_ || ui_->busy();
        ui_->OnIdle(kCaption, watch_);
        ui_->AdvanceClock(1);
        return;
      }
      then_(w);
    };
    ui_->OnIdle(kCaption, watch_);
  }

  int ticks_ = 0, count_ = 0;
  std::function<void(Window&)> then_, watch_;
  static constexpr int kCompanies = 30;
  bool running_seen_ = false;
};

TEST_F(ImportWindowTest, TheRegisteredProcedureRunsTheImportOneUnitPerTick) {
  std::string status, percent;
  bool hidden = false, clock_hidden = false;
  int progress = -1, high = 0;
  std::vector<std::string> errors;
  Play(0, [&](Window& w) {
    status = w.Text(agenda::kImpEstado);
    percent = w.Text(agenda::kImpPorcentaje);
    hidden = w.Hidden(agenda::kImpImportar);
    clock_hidden = w.Hidden(agenda::kImpReloj);
    progress = w.ProgressValue(agenda::kImpProgreso);
    high = w.control(agenda::kImpProgreso).progress_high;
    errors = w.Items(agenda::kImpErrores);
    Press(w, agenda::kImpImportar);  // one import per opening: nothing happens
    Press(w, agenda::kImpSalir);
  });
  const int64_t start = ui_->Now();
  agenda::AgendaProcedures().Importar();
  EXPECT_EQ(status, "Proceso finalizado !");
  EXPECT_EQ(percent, "100 % Completo");
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(clock_hidden);
  EXPECT_EQ(progress, high);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(running_seen_);
  EXPECT_FALSE(ui_->busy());
  // One unit per hundredth: lines plus staged records, plus the steps'
  // openings; never all at once.
  const int units = kCompanies * 4 * 2;
  EXPECT_GE(ui_->Now() - start, units);
  EXPECT_EQ(Entries().size(), size_t(2 * kCompanies));
  EXPECT_EQ(LinkOf("035112345"), Numbers().at("035112").first);
  EXPECT_FALSE(StagingLeft());
  EXPECT_TRUE(ui_->messages().empty());
}

TEST_F(ImportWindowTest, CancelKeepsWhatWasWrittenAndALaterRunCompletes) {
  // "No Cancelar" first: the run goes on; then "Cancelar" in step 9.
  std::vector<std::string> statuses;
  Play(kCompanies * 5 + 20, [&](Window& w) {
    statuses.push_back(w.Text(agenda::kImpEstado));
    ui_->QueueAnswer(2);
    Press(w, agenda::kImpSalir);
    ui_->OnIdle(kCaption, [&](Window& again) {
      ui_->QueueAnswer(1);
      again.UserClose();
    });
  });
  agenda::Importar();
  ASSERT_EQ(ui_->messages().size(), 2u);
  const HeadlessBackend::MessageRecord q = ui_->messages()[0];
  EXPECT_EQ(q.shape.caption, A("Confirmación"));
  EXPECT_EQ(q.shape.text, A(" Está seguro que desea cancelar la importación de datos ?"));
  EXPECT_EQ(q.shape.buttons, (std::vector<std::string>{"&Cancelar", "&No Cancelar"}));
  EXPECT_EQ(q.shape.default_button, 2);
  EXPECT_EQ(q.shape.icon, Icon::kQuestion);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0], "Paso 9 de 9 - Procesando los datos...");
  const size_t written = Entries().size();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, size_t(2 * kCompanies));
  EXPECT_TRUE(StagingLeft());
  EXPECT_FALSE(ui_->busy());

  EXPECT_EQ(RunImport(), 0);
  EXPECT_EQ(Entries().size(), size_t(2 * kCompanies));
  EXPECT_EQ(Numbers().size(), size_t(2 * kCompanies));
  EXPECT_FALSE(StagingLeft());
}

}  // namespace
}  // namespace importtest
