// The directory reports over a demo installation: the name range against an
// oracle for all four reports, the bands of the detailed forms, the chooser
// and its progress window headless, and agendarpt's PDFs read back with
// pdftotext.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include "agenda/directory_reports.h"
#include "host/report/text_renderer.h"
#include "host/runtime/file.h"
#include "host/ui/progress.h"
#include "tests/agenda/agenda_fixture.h"

namespace {

using agenda::A;
using agenda::DirectoryReport;
using agenda::ReportArgs;
using agenda::ReportRun;
using namespace nv::ui;
using nv::dict::MA11Record;

class DirectoryReportsTest : public agendatest::AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    WriteDemo(30, 40, 0);
    nv::dict::FxdatsInit(nullptr, nullptr);
  }
  void TearDown() override {
    agenda::SetReportOutput(nullptr);
    nv::dict::FxdatsKill();
    AgendaTest::TearDown();
  }

  // Names of one kind in key order (the oracle), read in record order.
  std::vector<std::string> Names(char kind) {
    std::unique_ptr<nv::File> f = nv::dict::Dic()->NewFile("FXMA11");
    EXPECT_EQ(f->Open(nv::kReadOnly | nv::kDenyNone), 0);
    std::vector<std::string> names;
    f->Set();
    while (f->Next() == 0) {
      const auto& r = f->As<MA11Record>();
      if (r.ESEMPR.view()[0] == kind) names.push_back(std::string(r.NOMBRE.view()));
    }
    f->Close();
    std::sort(names.begin(), names.end());  // padded bytes: the key's order
    for (std::string& n : names) n = std::string(nv::Clip(n));
    return names;
  }

  // Adds an entry straight through the file verbs.
  void Add(int32_t code, const std::string& name, const char* kind, int32_t company = 0) {
    nv::dict::FileAccess& ma11 = *nv::dict::Dic()->Access("FXMA11");
    ASSERT_EQ(ma11.UseFile(), 0);
    ma11.file().Clear();
    auto& r = ma11.rec<MA11Record>();
    r.CODIGO = code;
    r.NOMBRE = A(name);
    r.ESEMPR = kind;
    r.CODEMP = company;
    ASSERT_EQ(ma11.TryInsert(), 0);
    ma11.Close();
  }

  static std::string Text(const ReportRun& run) {
    return nv::report::RenderText(run.document, {12, 6, true, false});
  }
  // The value after a label that starts a line (Windows-1252), every time.
  static std::vector<std::string> After(const std::string& text, const std::string& label) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find_first_not_of(' ');
      if (at == std::string::npos || line.compare(at, label.size(), label) != 0) continue;
      std::string value = line.substr(at + label.size());
      value.erase(0, value.find_first_not_of(' ') == std::string::npos
                         ? value.size()
                         : value.find_first_not_of(' '));
      out.push_back(A(value));
    }
    return out;
  }
  static std::vector<std::string> Printed(const std::string& text) {
    return After(text, "Nombre:");
  }
  ReportRun Run(const DirectoryReport& r, std::string desde, std::string hasta) {
    ReportArgs args;
    args.desde = std::move(desde);
    args.hasta = std::move(hasta);
    return agenda::RunDirectoryReport(*nv::dict::Dic(), r, args);
  }
};

TEST_F(DirectoryReportsTest, EveryReportPrintsExactlyItsKindWithinTheNameRange) {
  std::mt19937 rng(17);
  for (const DirectoryReport& r : agenda::DirectoryReports()) {
    const std::vector<std::string> names = Names(r.kind);
    ASSERT_GT(names.size(), 20u);
    // Bounds: names of the list, prefixes of them, and texts outside it.
    std::vector<std::string> bounds = {"", "A", "M", "Zz", agenda::LastName()};
    for (int i = 0; i < 6; ++i) {
      const std::string& n = names[rng() % names.size()];
      bounds.push_back(n);
      bounds.push_back(n.substr(0, 1 + rng() % 4));
    }
    for (int i = 0; i < 12; ++i) {
      const std::string desde = bounds[rng() % bounds.size()];
      const std::string hasta = bounds[rng() % bounds.size()];
      std::vector<std::string> want;
      for (const std::string& n : names) {
        const nv::String<50> pn(n), pd(desde), ph(hasta);
        if (memcmp(pn.data(), pd.data(), 50) >= 0 && memcmp(pn.data(), ph.data(), 50) <= 0)
          want.push_back(n);
      }
      ReportRun run = Run(r, desde, hasta);
      SCOPED_TRACE(std::string(r.name) + " [" + desde + "] .. [" + hasta + "]");
      if (want.empty()) {
        // "Desde" after "Hasta" and empty ranges: the framework's empty report.
        EXPECT_EQ(run.status, ReportRun::kEmpty);
        EXPECT_TRUE(run.document.pages.empty());
        continue;
      }
      ASSERT_EQ(run.status, ReportRun::kOk);
      EXPECT_EQ(run.entries, int64_t(want.size()));
      const std::string text = Text(run);
      std::vector<std::string> printed = Printed(text);
      for (std::string& p : printed) p = std::string(nv::Clip(nv::String<50>(p).view()));
      // The clipped names as the text grid shows them (cut at 50 columns).
      std::vector<std::string> shown;
      for (const std::string& n : want) shown.push_back(std::string(nv::Clip(n.substr(0, 50))));
      EXPECT_EQ(printed, shown);
      // Every page: the title, the version and the footer.
      const size_t pages = size_t(std::count(text.begin(), text.end(), '\f')) + 1;
      EXPECT_EQ(pages, run.document.pages.size());
      for (std::string_view needle : {std::string_view(r.title), std::string_view("Versión 2.00"),
                                      std::string_view("Fonvex Windows"),
                                      std::string_view("Página")}) {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + 1))
          ++n;
        EXPECT_EQ(n, pages) << needle;
      }
    }
  }
}

TEST_F(DirectoryReportsTest, DetailedBandsLookupsAndEntriesWithoutRelatives) {
  Add(900, "Zapatería Sin Nadie", "E");
  Add(901, "Zoe Sin Empresa", "C");
  Add(902, "Zoe Con Empresa", "C", 900);
  Add(903, "Zoe Empresa Perdida", "C", 77777);  // its company is not there
  ReportRun empresas = Run(agenda::DirectoryReportOf('E', true), "Zapater", agenda::LastName());
  ASSERT_EQ(empresas.status, ReportRun::kOk);
  const std::string text = Text(empresas);
  // Band, contact heading with its one contact, number heading with no line,
  // separator; no C.U.I.T. digits for a blank CUIT.
  const size_t at = text.find("Zapatería Sin Nadie");
  ASSERT_NE(at, std::string::npos);
  const size_t next = text.find("Nombre:", at);
  const std::string tail = text.substr(at, next == std::string::npos ? next : next - at);
  EXPECT_NE(tail.find("Nombre"), std::string::npos);
  EXPECT_NE(tail.find("Cargo"), std::string::npos);
  EXPECT_NE(tail.find("Zoe Con Empresa"), std::string::npos);
  EXPECT_EQ(tail.find("00-00000000-0"), std::string::npos);
  // No number under the number heading: only its box and the separator
  // until the page's footer.
  const size_t phones = tail.find("Teléfono / E-mail");
  ASSERT_NE(phones, std::string::npos);
  const std::string under = tail.substr(phones);
  EXPECT_EQ(under.find_first_of("0123456789@"), std::string::npos) << under;
  EXPECT_NE(under.find("-----"), std::string::npos) << under;

  ReportRun contactos = Run(agenda::DirectoryReportOf('C', false), "Zoe", agenda::LastName());
  ASSERT_EQ(contactos.status, ReportRun::kOk);
  EXPECT_EQ(contactos.entries, 3);
  std::string c = Text(contactos);
  // In name order: Con Empresa, Empresa Perdida, Sin Empresa.
  EXPECT_EQ(After(c, "Empresa:"),
            (std::vector<std::string>{A("Zapatería Sin Nadie"), "", ""}));
  EXPECT_EQ(Printed(c), (std::vector<std::string>{"Zoe Con Empresa", "Zoe Empresa Perdida",
                                                  "Zoe Sin Empresa"}));
}

TEST_F(DirectoryReportsTest, ChooserRunsTheChosenReportWithProgressCopiesAndPreview) {
  std::vector<nv::report::Document> delivered;
  agenda::SetReportOutput([&](nv::report::Document&& d) { delivered.push_back(std::move(d)); });
  const std::vector<std::string> names = Names('E');
  std::string first, last;
  size_t rows = 0;
  ui_->OnOpen(A("Elegir tipo de reporte"), [&](Window& w) {
    first = w.Text(agenda::kElgDesde);
    last = w.Text(agenda::kElgHasta);
    rows = w.Rows(agenda::kElgDesde).size();
    Choose(w, agenda::kElgTipo, 2);
    Choose(w, agenda::kElgDesde, 3);  // the third name of the list
    Type(w, agenda::kElgCopias, "3");
    Choose(w, agenda::kElgVista, 0);
    Press(w, agenda::kElgImprimir);
  });
  agenda::Elegir_Reporte_Empresas();
  EXPECT_EQ(first, names.front());
  EXPECT_EQ(last, names.back());
  EXPECT_EQ(rows, 15u);  // one page of the list, not the file
  EXPECT_EQ(Count("Progreso..."), 1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].copies, 3);
  EXPECT_TRUE(delivered[0].skip_preview);
  const std::string text = nv::report::RenderText(delivered[0], {12, 6, true, false});
  EXPECT_NE(text.find("Informe detallado de empresas"), std::string::npos);
  EXPECT_EQ(Printed(text).front(), names[2]);
  EXPECT_EQ(Printed(text).size(), names.size() - 2);

  // Inverted range: the framework's empty report, nothing delivered.
  // Inverted range, located by typing on the drop lists.
  std::string desde, hasta;
  ui_->OnOpen(A("Elegir tipo de reporte"), [&](Window& w) {
    TypeOnList(w, agenda::kElgDesde, "Zz");
    TypeOnList(w, agenda::kElgHasta, "B");
    desde = w.Text(agenda::kElgDesde);
    hasta = w.Text(agenda::kElgHasta);
    Press(w, agenda::kElgImprimir);
  });
  agenda::Elegir_Reporte_Contactos();
  const std::vector<std::string> contacts = Names('C');
  EXPECT_EQ(desde, contacts.back());  // nothing at or after "Zz": the last
  EXPECT_EQ(hasta, *std::lower_bound(contacts.begin(), contacts.end(), std::string("B")));
  EXPECT_EQ(delivered.size(), 1u);
  ASSERT_FALSE(ui_->messages().empty());
  EXPECT_EQ(ui_->messages().back().shape.text, nv::ui::kNoRecordsText);
  EXPECT_EQ(ui_->messages().back().shape.caption, A("Atención"));

  // "Cancelar" in the progress window: nothing delivered. (Through the
  // procedure table, as the main window's "Imprimir" starts it.)
  ui_->OnOpen(A("Elegir tipo de reporte"), [](Window& w) { Press(w, agenda::kElgImprimir); });
  ui_->OnIdle(A("Progreso..."), [](Window& w) { Press(w, ProgressWindow::kCancelar); });
  const size_t messages = ui_->messages().size();
  agenda::AgendaProcedures().Elegir_Reporte_Contactos();
  EXPECT_EQ(Count("Elegir tipo de reporte"), 3);
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_EQ(ui_->messages().size(), messages);
}

// --- agendarpt: the same reports as PDF files, read back with pdftotext.

std::string BinFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  buf[n > 0 ? n : 0] = 0;
  return std::filesystem::path(buf).parent_path().string();
}

int Shell(const std::string& cmd, std::string* out) {
  out->clear();
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out->append(buf.data(), n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST_F(DirectoryReportsTest, AgendarptWritesEachReportAsAPdfThatReadsBack) {
  Add(950, "Ñandú Ingeniería S.A.", "E");
  {
    nv::dict::FileAccess& ma11 = *nv::dict::Dic()->Access("FXMA11");
    ASSERT_EQ(ma11.UseFile(), 0);
    ma11.file().Clear();
    ma11.rec<MA11Record>().CODIGO = 950;
    ASSERT_EQ(ma11.TryFetch("MA11:MA11_CP"), 0);
    ma11.rec<MA11Record>().CUITNO = "30712345679";
    ASSERT_EQ(ma11.TryUpdate(), 0);
    ma11.Close();
  }
  // The tool reads the store from agenda.INI, as the program does.
  ASSERT_TRUE(nv::WriteProfileString("agenda.INI", "Dictionary", "Folder", dir_ + "/Archivos"));
  const std::string tool = BinFolder() + "/agendarpt";
  struct Want {
    const char* name;
    std::vector<std::string> texts;
  };
  const std::vector<Want> wants = {
      {"Reporte_Empresas_Rapido",
       {"Informe rápido de empresas", "C.U.I.T.:", "30-71234567-9", "Condición:"}},
      {"Reporte_Empresas_Detallado",
       {"Informe detallado de empresas", "Rubro:", "Responsable:", "Teléfono / E-mail",
        "Descripción", "Cargo", "30-71234567-9"}},
      {"Reporte_Contactos_Rapido", {"Informe rápido de contactos", "Empresa:", "Cargo:"}},
      {"Reporte_Contactos_Detallado",
       {"Informe detallado de contactos", "Fecha de alta:", "Código postal:",
        "Comentarios:", "Teléfono / E-mail"}},
  };
  for (const Want& w : wants) {
    const std::string pdf = dir_ + "/" + w.name + ".pdf";
    std::string out;
    ASSERT_EQ(Shell("cd '" + dir_ + "' && '" + tool + "' " + w.name + " --pdf '" + pdf + "'",
                    &out),
              0)
        << out;
    ASSERT_EQ(Shell("pdftotext -layout '" + pdf + "' -", &out), 0) << out;
    for (const std::string& t : w.texts) EXPECT_NE(out.find(t), std::string::npos) << w.name << t;
    for (const char* t : {"Versión 2.00", "Página", "Fonvex Windows", "Nombre:"}) {
      EXPECT_NE(out.find(t), std::string::npos) << w.name << t;
    }
    if (std::string(w.name).find("Empresas") != std::string::npos) {
      EXPECT_NE(out.find("Ñandú Ingeniería S.A."), std::string::npos) << w.name;
    }
  }
  // An inverted range: the empty report's message, status 1, no file.
  std::string out;
  const std::string pdf = dir_ + "/vacio.pdf";
  EXPECT_EQ(Shell("cd '" + dir_ + "' && '" + tool +
                      "' Reporte_Empresas_Rapido --desde Z --hasta A --pdf '" + pdf + "'",
                  &out),
            1);
  EXPECT_NE(out.find("No hay registros para imprimir."), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(pdf));
  // Bad options.
  EXPECT_EQ(Shell("'" + tool + "' Reporte_De_Nada --text", &out), 2);
  EXPECT_EQ(Shell("'" + tool + "' Reporte_Empresas_Rapido", &out), 2);
}

}  // namespace
