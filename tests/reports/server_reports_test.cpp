// The reports over a PostgreSQL server: one demo installation written twice
// by the demo-data writer, to flat files and to a database the test starts,
// and a set of detail and summary reports run unchanged over both (only the
// dictionary's profile section differs); the text renderings must be equal.
// The walks over views read only the fields they project: each report's
// text over either store must also equal its text over flat files read
// whole, so a field a report reads and does not project (blank over every
// store) shows.
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "host/dictionary/declarations.h"
#include "host/dictionary/dictionary.h"
#include "host/report/text_renderer.h"
#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"
#include "host/ui/headless/headless_backend.h"
#include "reports/csv_export.h"
#include "reports/detail_report.h"
#include "reports/output.h"
#include "reports/summary_report.h"
#include "tests/drivers/odbc/odbc_servers.h"
#include "tests/reports/report_fixture.h"
#include "tests/support/fake_env.h"
#include "tools/demodata/demodata.h"

namespace fxr4test {
namespace {

// One installation and the dictionary over it.
struct Store {
  std::string folder;
  std::unique_ptr<nv::ProfileFile> profile;
  std::unique_ptr<nv::dict::Dictionary> dict;
};

class ServerReports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto& sv = odbctest::GetServers(true);
    if (!sv.pg_skip.empty() || !sv.pg_error.empty()) return;
    char tmpl[] = "/tmp/fxr4-pg-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    // Without the cursor settings of the driver's tests: a few hundred calls
    // fit in memory, and every small read then costs one round trip, not three.
    std::string owner = sv.PgOwner();
    for (const char* setting : {"UseDeclareFetch=1;", "Fetch=1000;"}) {
      if (const size_t at = owner.find(setting); at != std::string::npos) {
        owner.erase(at, std::strlen(setting));
      }
    }
    flat_ = Make("flat", "", "");
    // A table of the test's own stays open meanwhile: the files share one
    // connection instead of connecting again whenever none is open.
    nv::FileDecl d = nv::dict::DefaultDecl("FXTA02");
    d.driver = "ODBC";
    d.owner = owner;
    d.name = "NV_PRUEBA";
    keep_ = std::make_unique<nv::File>(d);
    keep_->Remove();
    if (keep_->Create() != 0 || keep_->Open() != 0) failure_ += "NV_PRUEBA: " + nv::ErrorText();
    server_ = Make("pg", "ODBC", owner);
  }
  static void TearDownTestSuite() {
    flat_.dict.reset();
    server_.dict.reset();
    keep_.reset();
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  void SetUp() override {
    const auto& sv = odbctest::GetServers(true);
    if (!sv.pg_skip.empty()) GTEST_SKIP() << sv.pg_skip;
    ASSERT_TRUE(sv.pg_error.empty()) << sv.pg_error;
    ASSERT_TRUE(failure_.empty()) << failure_;
  }

  static Store Make(const std::string& name, const std::string& driver, const std::string& owner) {
    Store s;
    s.folder = root_ + "/" + name;
    std::filesystem::create_directories(s.folder);
    demodata::Options o;
    o.out = s.folder + "/Archivos";
    o.calls = 400;
    o.companies = 20;
    o.contacts = 25;
    o.seed = 11;
    o.driver = driver;
    o.owner = owner;
    o.force = true;
    demodata::Summary summary;
    std::string error;
    if (demodata::Write(o, &summary, &error) != 0) failure_ += name + ": " + error + "\n";
    s.profile = std::make_unique<nv::ProfileFile>(s.folder + "/fxr4.INI");
    s.profile->WriteString("Dictionary", "Folder", s.folder + "/Archivos");
    if (!driver.empty()) {
      s.profile->WriteString("Dictionary", "Driver", driver);
      s.profile->WriteString("Dictionary", "Owner", owner);
    }
    s.dict = std::make_unique<nv::dict::Dictionary>(s.profile.get());
    return s;
  }

  // The report's text over one store, printed at a fixed date and time.
  static std::string Run(Store& s, const std::string& name, const std::string& block,
                         bool project = true, bool csv = false) {
    nvtest::FakeClockEnv clock;
    nvtest::ScopedEnv env(&clock);
    std::string text;
    fxr4::RunOptions o;
    o.dict = s.dict.get();
    o.project = project;
    o.deliver = [&](nv::report::Document&& d) {
      text = nv::report::RenderText(d, fxr4::TextOptionsFor(d));
    };
    fxr4::RunResult r;
    if (const fxr4::SummaryProc* p = fxr4::FindSummaryProc(name); p != nullptr && csv) {
      const std::string path = s.folder + "/export.csv";
      fxr4::CsvExport out(path, p->column_title);
      EXPECT_TRUE(out.Open()) << out.error();
      r = fxr4::RunSummary(*p, "A", block, Opc(), o, &out);
      EXPECT_TRUE(out.Close()) << out.error();
      std::ifstream in(path, std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), {});
    } else if (const fxr4::SummaryProc* p = fxr4::FindSummaryProc(name)) {
      r = fxr4::RunSummary(*p, "A", block, Opc(), o);
    } else if (const fxr4::DetailProc* p = fxr4::FindDetailProc(name)) {
      r = fxr4::RunDetail(*p, block, Opc(), o);
    } else {
      ADD_FAILURE() << name;
    }
    return "status " + std::to_string(int(r.status)) + " calls " + std::to_string(r.calls) + "\n" +
           text;
  }

  static std::string root_, failure_;
  static Store flat_, server_;
  static std::unique_ptr<nv::File> keep_;
};
std::string ServerReports::root_, ServerReports::failure_;
Store ServerReports::flat_, ServerReports::server_;
std::unique_ptr<nv::File> ServerReports::keep_;

TEST_F(ServerReports, DetailAndSummaryReportsReadTheSameOverTheServer) {
  const int32_t from = Day(2026, 6, 1), to = Day(2026, 11, 30);
  struct Case {
    const char* name;
    std::string block;
    bool csv = false;
  };
  const Case cases[] = {
      {"RPT_SAL_LINEAS_DETALLE", Rpt(from, to, 0, 0, "0", "ZZZZ")},
      {"RPT_SAL_LINEAS_DETALLE",
       Rpt(Day(2026, 7, 1), Day(2026, 8, 15), Hms(9, 0, 0), Hms(17, 0, 0), "0", "ZZZZ", "Locales")},
      {"RPT_ENT_INTERNOS_DETALLE", Rpt(from, to, 0, 0, "0", "ZZZZ")},
      {"RPT_SAL_FECHA_DETALLE", Rpt(Day(2026, 9, 1), Day(2026, 9, 30))},
      {"RPT_SAL_CTAS_DETALLE", Ctas(from, to, "", "zzzz")},
      {"RPT_SAL_LINEAS_RESUMEN", Rpt(from, to, 0, 0, "0", "ZZZZ")},
      {"RPT_ENT_INTERNOS_RESUMEN", Rpt(Day(2026, 8, 1), Day(2026, 10, 31), 0, 0, "0", "ZZZZ")},
      {"RPT_SAL_CTAS_RESUMEN", Ctas(from, to, "", "zzzz")},
      {"RPT_SAL_GRP_LINEAS_RESUMEN", Cod(from, to, 0, 99)},
      {"RPT_SAL_NUMEROS_DETALLE", Rpt(from, to)},
      {"RPT_SAL_AGENTES_DETALLE", Cod(from, to, 0, 999999)},
      {"RPT_SAL_GRP_AGENTES_RESUMEN", Cod(from, to, 0, 999999), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = Run(flat_, c.name, c.block, false, c.csv);
    EXPECT_EQ(expected.rfind("status 0 calls ", 0), 0u) << expected;
    EXPECT_EQ(expected.find(" calls 0\n"), std::string::npos) << "nothing selected";
    EXPECT_EQ(Run(flat_, c.name, c.block, true, c.csv), expected);
    EXPECT_EQ(Run(server_, c.name, c.block, true, c.csv), expected);
  }
}

// The server stops between the pre-scan and the printing walk: the report
// fails, says which file could not be read, and delivers no document (not
// the headings and totals over an empty walk). Runs last: it restarts the
// server.
TEST_F(ServerReports, AServerGoneHalfWayFailsTheReportWithoutADocument) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv env(&clock);
  nv::ui::HeadlessBackend ui;
  fxr4::RunOptions o;
  o.dict = server_.dict.get();
  bool delivered = false, stopped = false;
  o.deliver = [&](nv::report::Document&&) { delivered = true; };
  o.on_progress = [&](int, const std::string&) {
    if (!stopped) odbctest::StopPostgresNow();
    stopped = true;
  };
  const fxr4::RunResult r =
      fxr4::RunDetail(*fxr4::FindDetailProc("RPT_SAL_LINEAS_DETALLE"),
                      Rpt(Day(2026, 6, 1), Day(2026, 11, 30), 0, 0, "0", "ZZZZ"), Opc(), o);
  const bool restarted = odbctest::RestartPostgres();
  nv::ui::SetBackend(nullptr);
  EXPECT_TRUE(stopped);
  EXPECT_GT(r.calls, 0);
  EXPECT_EQ(r.status, fxr4::RunResult::kReadFailed);
  EXPECT_FALSE(delivered);
  ASSERT_EQ(ui.messages().size(), 1u);
  const std::string shown = nv::Utf8FromAnsi(ui.messages()[0].shape.text);
  EXPECT_NE(shown.find("Error al leer el archivo FXMO01"), std::string::npos) << shown;
  EXPECT_TRUE(restarted);
}

}  // namespace
}  // namespace fxr4test
