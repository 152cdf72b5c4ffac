// The command-line host end to end: it loads libFXR4.so by name, runs a
// procedure in a folder holding ./Archivos and writes a PDF that pdftotext
// reads back with its headings, labels and accented values; bad options
// are refused with a message and a non-zero status.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "reports/summary_family.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

std::string BinFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  buf[n > 0 ? n : 0] = 0;
  return std::filesystem::path(buf).parent_path().string();
}

// Runs a shell command; answers its exit status and output (stdout+stderr).
int Shell(const std::string& cmd, std::string* out) {
  out->clear();
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out->append(buf.data(), n);
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class ToolTest : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    // The tool reads "fxr4.INI" of its working folder; the default folder
    // ".\Archivos" is already where the files are.
    std::remove((dir_ + "/fxr4.INI").c_str());
    tool_ = BinFolder() + "/fxr4";
  }
  std::string In(const std::string& args) { return "cd '" + dir_ + "' && '" + tool_ + "' " + args; }
  std::string tool_;
};

TEST_F(ToolTest, HelpListsEveryProcedureAndOption) {
  std::string out;
  ASSERT_EQ(Shell("'" + tool_ + "' --help", &out), 0);
  size_t n = 0;
  const fxr4::DetailProc* procs = fxr4::DetailProcs(&n);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(out.find(procs[i].name), std::string::npos);
  const fxr4::SummaryProc* sums = fxr4::SummaryProcs(&n);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(out.find(sums[i].name), std::string::npos);
  procs = fxr4::SpecialDetails(&n);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(out.find(procs[i].name), std::string::npos);
  for (const char* opt : {"--desfec", "--hasfec", "--deshor", "--hashor", "--desde", "--hasta",
                          "--tipo", "--copias", "--pdf", "--text", "--print", "--preview", "--csv",
                          "--opcion", "--cuentas", "--agentes", "--agenda"}) {
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
  }
}

TEST_F(ToolTest, WritesAPdfWithHeadingsLabelsAndAccents) {
  CallRecord r = Call(1, Day(2026, 3, 5), Hms(9, 5, 7), "L1", "201");
  r.DESLLA = nv::AnsiFromUtf8("Córdoba Capital");
  r.NROCTA = "C1";
  AddCall(r);
  nv::dict::MA09Record a{};
  a.NROCTA = "C1";
  a.DESCTA = nv::AnsiFromUtf8("Dirección Técnica");
  Add("FXMA09", a);
  writers_.clear();
  std::string out;
  ASSERT_EQ(Shell(In("run RPT_SAL_LINEAS_DETALLE --desfec 01/03/2026 --hasfec 31/03/2026 "
                     "--desde L1 --hasta L9 --pdf out.pdf"),
                  &out),
            0)
      << out;
  ASSERT_EQ(Shell("pdftotext -layout '" + dir_ + "/out.pdf' -", &out), 0) << out;
  for (const char* s :
       {"Informe de llamadas salientes - Por Líneas -", "1/03/2026 hasta el 31/03/2026",
        "línea/s: L1 al: L9", "Número:", "Origen/Destino:", "Córdoba Capital", "Dirección Técnica",
        "Duración:", "Total Llamadas: 1", "Total Duración: 0:01:00", "Total Costo: 1.50",
        "Fonvex Windows", "Página"}) {
    EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
  }
}

TEST_F(ToolTest, TextOutputAndRefusedOptions) {
  AddCall(Call(1, Day(2026, 3, 5), Hms(9, 0, 0)));
  writers_.clear();
  std::string out;
  ASSERT_EQ(Shell(In("run RPT_SAL_FECHA_DETALLE --desfec 5/3/2026 --hasfec 5/3/2026 "
                     "--deshor 08:00 --hashor 09:00 --text"),
                  &out),
            0)
      << out;
  EXPECT_NE(out.find("Total Llamadas: 1"), std::string::npos) << out;
  EXPECT_NE(out.find("a las  8:00 hasta el"), std::string::npos) << out;
  EXPECT_NE(Shell(In("run RPT_NO_EXISTE --text"), &out), 0);
  EXPECT_NE(out.find("desconocido"), std::string::npos);
  EXPECT_NE(Shell(In("run RPT_SAL_FECHA_DETALLE --desfec 31/02/2026 --text"), &out), 0);
  EXPECT_NE(Shell(In("run RPT_SAL_FECHA_DETALLE --deshor 25:99 --text"), &out), 0);
  EXPECT_NE(Shell(In("run RPT_SAL_FECHA_DETALLE --desfec"), &out), 0);
  EXPECT_NE(Shell(In("run RPT_SAL_FECHA_DETALLE"), &out), 0);
  EXPECT_NE(Shell(In("run RPT_SAL_FECHA_DETALLE --bogus 1 --text"), &out), 0);
  for (const char* copias : {"abc", "0", "32768", "2x"}) {
    EXPECT_EQ(
        Shell(In(std::string("run RPT_SAL_FECHA_DETALLE --copias ") + copias + " --text"), &out),
        2);
    EXPECT_NE(out.find("la cantidad de copias debe estar entre 1 y 32767"), std::string::npos)
        << out;
  }
}

TEST_F(ToolTest, SummaryToPdfAndWholeResultToCsv) {
  // 130 calls: more than one page of the summary.
  double cost = 0;
  for (int i = 1; i <= 130; ++i) {
    CallRecord r = Call(i, Day(2026, 3, 5), Hms(8, 0, 0) + i * 100, "L1", "201");
    r.DESLLA = nv::AnsiFromUtf8("Córdoba");
    r.COSLLA = i / 4.0;
    r.GRULIN.Set(7);
    cost += r.COSLLA;
    AddCall(r);
  }
  writers_.clear();
  const std::string range = "--desfec 01/03/2026 --hasfec 31/03/2026 --desde 1 --hasta 9 ";
  std::string out;
  ASSERT_EQ(Shell(In("run RPT_SAL_GRP_LINEAS_RESUMEN " + range + "--pdf s.pdf"), &out), 0) << out;
  ASSERT_EQ(Shell("pdftotext -layout '" + dir_ + "/s.pdf' -", &out), 0) << out;
  for (const char* s :
       {"Informe de llamadas salientes - Por Grupos de Líneas -", "grupo/s: 1 al: 9", "Línea",
        "Número", "Duración", "0114100130", "Total Llamadas: 130", "Total Duración: 2:10:01",
        "Total Costo: 2,128.75"}) {
    EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
  }
  EXPECT_EQ(Count(out, "Fonvex Windows"), Count(out, "Página")) << out;
  EXPECT_GE(Count(out, "Página"), 2);

  // The whole result, not a page: every call, with the group column, for
  // the summary and for the detail form alike.
  for (const char* proc : {"RPT_SAL_GRP_LINEAS_RESUMEN", "RPT_SAL_GRP_LINEAS_DETALLE"}) {
    ASSERT_EQ(Shell(In(std::string("run ") + proc + " " + range + "--csv -"), &out), 0) << out;
    ASSERT_EQ(out.substr(0, 3), "\xEF\xBB\xBF") << proc;
    EXPECT_EQ(Count(out, "\r\n"), 131) << proc;
    EXPECT_EQ(out.find("Fecha,Hora,Línea,Interno,Número,Duración (segundos),Duración,Costo,Tipo,"
                       "Origen/Destino,Agenda,Grupo\r\n"),
              3u)
        << proc;
    EXPECT_NE(out.find("05/03/2026,08:00:01,L1,201,0114100001,60,0:01:00,0.25,LO,Córdoba,,7\r\n"),
              std::string::npos)
        << proc;
    double sum = 0;
    for (size_t at = out.find("\r\n"); at + 2 < out.size(); at = out.find("\r\n", at + 2)) {
      size_t c = at + 2;
      for (int f = 0; f < 7; ++f) c = out.find(',', c) + 1;
      sum += std::strtod(out.c_str() + c, nullptr);
    }
    EXPECT_DOUBLE_EQ(sum, cost) << proc;
  }

  // An unopenable call file: a message and a non-zero exit, no file.
  ASSERT_EQ(system(("rm -f '" + dir_ + "/Archivos/FXMO01'*").c_str()), 0);
  EXPECT_NE(Shell(In("run RPT_SAL_GRP_LINEAS_RESUMEN " + range + "--csv x.csv"), &out), 0);
  EXPECT_NE(out.find("FXMO01"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/x.csv"));
}

TEST_F(ToolTest, UnopenableCallFileEndsWithTheErrorOnStandardError) {
  writers_.clear();
  std::filesystem::remove(
      dir_ + "/Archivos/" +
      std::filesystem::path(dict_->EffectiveName("FXMO01")).filename().string());
  std::string err;
  EXPECT_EQ(Shell(In("run RPT_SAL_FECHA_DETALLE --desfec 1/3/2026 --hasfec 5/3/2026 "
                     "--pdf out.pdf"),
                  &err),
            1);
  EXPECT_NE(err.find("fxr4: No se puede abrir el archivo de llamadas FXMO01"), std::string::npos)
      << err;
  EXPECT_NE(err.find("Archivo no encontrado"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/out.pdf"));
}

// A chooser without a screen: the listed buttons and options are pressed in
// order and the report started is printed. A working folder without the
// data files, a list that leaves the chooser open or outlives it, or a
// button it lacks is said on standard error with status 1, and no totals
// pass for a result.
TEST_F(ToolTest, ChooseWithoutAScreenPressesTheListedButtons) {
  AddCall(Call(1, Day(2026, 3, 5), Hms(9, 0, 0)));
  AddCall(Call(2, Day(2026, 3, 6), Hms(10, 0, 0)));
  writers_.clear();
  const std::string choose =
      "choose ELG_RPT_SALENT_FECHA --desfec 1/3/2026 --hasfec 31/3/2026 --text ";
  std::string out;
  ASSERT_EQ(Shell(In(choose + "--pulsar Detallado,Imprimir,Cancelar"), &out), 0) << out;
  EXPECT_NE(out.find("Total Llamadas: 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Origen/Destino:"), std::string::npos) << out;  // the detail form
  std::filesystem::create_directory(dir_ + "/vacia");
  const struct {
    std::string folder, pulsar, says;
  } refused[] = {
      {dir_ + "/vacia", "Imprimir,Cancelar",
       "fxr4: No se puede abrir el archivo de llamadas FXMO01"},
      {dir_, "Cancelar,Imprimir", "se cerró antes de «Imprimir»"},
      {dir_, "Rápido", "fxr4: la ventana «Elegir tipo de reporte» quedó abierta"},
      {dir_, "Imprimir,Nada", "fxr4: la ventana «Elegir tipo de reporte» no tiene «Nada»"},
  };
  for (const auto& r : refused) {
    const int status = Shell(
        "cd '" + r.folder + "' && '" + tool_ + "' " + choose + "--pulsar '" + r.pulsar + "'", &out);
    EXPECT_EQ(status, 1) << r.pulsar << "\n" << out;
    EXPECT_NE(out.find(r.says), std::string::npos) << r.pulsar << "\n" << out;
    if (r.pulsar.find("Imprimir") == 0) continue;  // printed before the refusal
    EXPECT_EQ(out.find("Total Llamadas"), std::string::npos) << r.pulsar << "\n" << out;
  }
  EXPECT_EQ(Shell(In("choose ELG_RPT_SALENT_FECHA --pulsar Imprimir"), &out), 2);
  EXPECT_NE(out.find("con --pulsar indique --pdf, --text o --csv"), std::string::npos) << out;
}

}  // namespace
}  // namespace fxr4test
