// The text import over real flat files, without a window: the merge rules,
// a second run over the same files, the re-linking of calls, bad input of
// every kind, a failed write, and the line reading rules against an oracle.
#include <random>

#include "agenda/import_text_parse.h"
#include "tests/agenda/import/import_fixture.h"
#include "tests/support/fake_env.h"
#include "tools/demodata/demodata.h"

namespace importtest {
namespace {

int64_t Dec(const nv::Decimal<2, 0>& d) {
  int64_t v = 0;
  d.Scaled(&v);
  return v;
}

// A directory that already holds data, and files that meet it.
class MergeTest : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    // Existing: a category, a company with comments, a number of another
    // owner, calls.
    FileAccess& ta02 = Use("FXTA02");
    ta02.file().Clear();
    ta02.rec<nv::dict::TA02Record>().CODRUB.Set(40);
    ta02.rec<nv::dict::TA02Record>().DESRUB = "Comercio";
    ASSERT_EQ(ta02.Insert(), 0);
    ta02.Close();
    acme_ = AddEntry("Acme S.A.", "E");
    FileAccess& ma11 = Use("FXMA11");
    ma11.rec<MA11Record>().CODIGO = acme_;
    ASSERT_EQ(ma11.Fetch("MA11:MA11_CP"), 0);
    ma11.file().SetMemoText(0, "Pagos a 30 dias");
    ASSERT_EQ(ma11.Update(), 0);
    ma11.Close();
    other_ = AddEntry("Otra", "E");
    AddNumber(other_, "0114444", 0);
    AddCall(0, "01144441234", other_);
    AddCall(1, "0351456789012");
    AddCall(3, "03514567890");
    AddCall(2, "0351456");  // shorter than the number: untouched
    WriteInputs("1,Comercio\r\n2,Servicios\r\n", "5,Clientes\n",
                "10,5/3/2020,Acme S.A.,Colón 10,Córdoba,Córdoba,1,1,30-1-9, RI ,X5000\n"
                "11,,Beta SRL,,,,2,0,,ZZ,5000, piso 2, of. 3\n",
                "10,(0351) 456-7890,Central,5\n10,011-4444,Movido,0\n11,4 5 6,,\n",
                "100,1/1/2021,Juan Pérez,Av. 1,,,10,Gerente,X5000\n101,,Ana Sola,,,,0,,\n",
                "100,15-5551234,Celular,5\n");
  }
  int32_t acme_ = 0, other_ = 0;
};

TEST_F(MergeTest, MergesIntoTheDirectoryAndRelinksTheCallsOfEveryNumber) {
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 0);
  EXPECT_EQ(lines.front(), "Paso 1 de 9 - Cargando rubros de empresas...");
  EXPECT_EQ(lines[lines.size() - 2], "Proceso finalizado !");

  // The existing company kept its code and its comments; the rest is the file's.
  MA11Record acme{}, beta{}, juan{}, ana{};
  std::string memo;
  ASSERT_TRUE(Find("Acme S.A.", "E", &acme, &memo));
  EXPECT_EQ(int32_t(acme.CODIGO), acme_);
  EXPECT_EQ(memo, "Pagos a 30 dias");
  EXPECT_EQ(acme.FECALT.day(), nv::DateFromYmd(2020, 3, 5));
  EXPECT_EQ(acme.LOCALI.str(), A("Córdoba"));
  EXPECT_EQ(Dec(acme.CODRUB), 40);  // "Comercio" matched by description
  EXPECT_EQ(acme.CONIVA.str(), "Responsable Inscripto");
  EXPECT_EQ(acme.CUITNO.str(), "30-1-9");
  EXPECT_EQ(Dec(acme.CODRES), 1);
  ASSERT_TRUE(Find("Beta SRL", "E", &beta));
  EXPECT_EQ(beta.CONIVA.str(), "");                 // unknown VAT code
  EXPECT_EQ(beta.CODPOS.str(), "5000, piso 2, o");  // extra commas: last field, cut to 15
  EXPECT_EQ(beta.FECALT.day(), 0);
  ASSERT_TRUE(Find("Juan Pérez", "C", &juan));
  EXPECT_EQ(int32_t(juan.CODEMP), acme_);
  EXPECT_EQ(juan.CARGOC.str(), "Gerente");
  ASSERT_TRUE(Find("Ana Sola", "C", &ana));
  EXPECT_EQ(int32_t(ana.CODEMP), 0);

  // Numbers: digits only; an existing one moved to its new owner; groups
  // translated to the directory's codes (the new group got the next code).
  const auto numbers = Numbers();
  ASSERT_EQ(numbers.count("03514567890"), 1u);
  EXPECT_EQ(numbers.at("03514567890").first, acme_);
  EXPECT_EQ(numbers.at("03514567890").second, 1);
  EXPECT_EQ(numbers.at("0114444").first, acme_);
  EXPECT_EQ(numbers.at("456").first, int32_t(beta.CODIGO));
  EXPECT_EQ(numbers.at("155551234").first, int32_t(juan.CODIGO));
  EXPECT_EQ(numbers.size(), 4u);

  // Every call follows the longest directory number that starts it.
  const auto now = Numbers();
  for (const Call& c : Calls()) {
    EXPECT_EQ(c.codigo, Oracle(c.number, now).first) << c.number;
    EXPECT_EQ(c.gruage, Oracle(c.number, now).second) << c.number;
  }
  EXPECT_EQ(LinkOf("01144441234"), acme_);
  EXPECT_EQ(LinkOf("0351456"), 0);
  EXPECT_FALSE(StagingLeft());
}

TEST_F(MergeTest, ASecondRunOverTheSameFilesChangesNothing) {
  ASSERT_EQ(RunImport(), 0);
  const char* labels[] = {"FXMA11", "FXRE09", "FXTA02", "FXTA09",
                          "FXMO01", "FXMO02", "FXTR01", "FXTR02"};
  std::vector<std::vector<std::string>> before;
  for (const char* l : labels) before.push_back(Records(l));
  ASSERT_EQ(RunImport(), 0);
  for (size_t i = 0; i < std::size(labels); ++i)
    EXPECT_EQ(Records(labels[i]), before[i]) << labels[i];
}

// A company held by another station cannot be updated: it is reported, its
// numbers and contacts wait for the next run, nothing else is touched.
TEST_F(MergeTest, ACompanyThatCannotBeWrittenLosesOnlyItsOwnLinesForTheRun) {
  std::unique_ptr<nv::File> other = dic_->NewFile("FXMA11");
  ASSERT_EQ(other->Open(), 0);
  other->As<MA11Record>().CODIGO = acme_;
  other->Hold(1);
  ASSERT_EQ(other->Get(other->key("MA11:MA11_CP")), 0);
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 1);
  other->Release();
  other->Close();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "  Error al actualizar la empresa nro. 10 \"Acme S.A.\"."),
            lines.end());
  MA11Record acme{}, juan{};
  std::string memo;
  ASSERT_TRUE(Find("Acme S.A.", "E", &acme, &memo));
  EXPECT_EQ(memo, "Pagos a 30 dias");
  EXPECT_EQ(acme.LOCALI.str(), "");
  EXPECT_FALSE(Find("Juan Pérez", "C", &juan));
  EXPECT_EQ(Numbers().at("0114444").first, other_);
  EXPECT_EQ(Numbers().count("456"), 1u);  // Beta's went in
}

// A disk that refuses every write to the directory's entries: each company
// and contact says so, and nothing already there changes.
TEST_F(MergeTest, WritesThatFailLeaveTheDirectoryAsItWas) {
  const std::vector<std::string> entries = Records("FXMA11"), numbers = Records("FXRE09");
  nvtest::FailingEnv failing(ui_->clock_env(), "FXMA11");
  failing.write_budget = 0;
  nv::SetEnv(&failing);
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 1);
  nv::SetEnv(ui_->clock_env());
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "  Error al agregar la empresa nro. 11 \"Beta SRL\"."),
      lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  Error al agregar el contacto \"Ana Sola\"."),
            lines.end());
  EXPECT_EQ(Records("FXMA11"), entries);
  EXPECT_EQ(Records("FXRE09"), numbers);
  EXPECT_EQ(RunImport(), 0);  // the disk has room again: the run completes
  MA11Record beta{};
  EXPECT_TRUE(Find("Beta SRL", "E", &beta));
}

// Unpaced, a tick's writes are flushed when it ends. A flush the disk
// refuses (once) is reported and stops the run there: what earlier ticks
// wrote stays, the staging tables are left, and the next run completes.
TEST_F(MergeTest, AFailedFlushStopsTheUnpacedRunAndKeepsWhatEarlierTicksWrote) {
  nvtest::FailingEnv failing(ui_->clock_env(), "FXMA11");
  nv::SetEnv(&failing);
  agenda::TextImport run(*dic_, "Archivos/", agenda::ImportPacing::kUnpaced);
  ASSERT_TRUE(run.Start());
  // Ticks of one unit up to the first company merged (its tick flushed).
  while (run.running() && run.phase() != agenda::ImportPhase::kTelefonosDeEmpresas) run.Tick(1);
  ASSERT_TRUE(run.running());
  failing.failing_syncs = 1;
  run.RunUnpaced();
  nv::SetEnv(ui_->clock_env());
  EXPECT_FALSE(run.running());
  EXPECT_FALSE(run.finished());
  EXPECT_EQ(run.status(), A("Proceso interrumpido: error al grabar en el disco."));
  ASSERT_FALSE(run.errors().empty());
  EXPECT_EQ(run.errors().back().rfind(A("Error al grabar en el disco el archivo "), 0), 0u);
  EXPECT_NE(run.errors().back().find("FXMA11"), std::string::npos) << run.errors().back();
  EXPECT_TRUE(StagingLeft());
  MA11Record acme{}, beta{};
  ASSERT_TRUE(Find("Acme S.A.", "E", &acme));
  EXPECT_EQ(acme.LOCALI.str(), A("Córdoba"));
  EXPECT_EQ(RunImport(), 0);
  EXPECT_TRUE(Find("Beta SRL", "E", &beta));
  EXPECT_TRUE(Find("Ana Sola", "C", &beta));
  EXPECT_FALSE(StagingLeft());
}

// Another station importing holds the staging tables: this run refuses to
// start, says why, and touches nothing.
TEST_F(MergeTest, ASecondStationCannotImportAtTheSameTime) {
  std::unique_ptr<nv::File> other = dic_->NewFile("AUXAGEM");
  ASSERT_EQ(other->Create(), 0);
  ASSERT_EQ(other->Open(nv::kReadWrite | nv::kDenyAll), 0);
  const std::vector<std::string> entries = Records("FXMA11");
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 4);
  other->Close();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "No se puede iniciar la importación.");
  EXPECT_NE(lines[1].find("AUXAGEM"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("otra importación en curso"), std::string::npos) << lines[1];
  EXPECT_EQ(Records("FXMA11"), entries);
  EXPECT_EQ(RunImport(), 0);
}

// Every kind of bad line: one entry with its line number each, every good
// line imported, the accented names equal from UTF-8 and Windows-1252.
TEST_F(ImportTest, BadInputIsReportedLineByLineAndTheRestImported) {
  WriteInput("RubrosAg", "1,Comercio\nx1,Malo\n1,Repetido\n\n3,\n");
  WriteInput("GruposAg", "");  // empty
  WriteInput("Empresas", A("10,1/2/2020,Ñandú Pérez,Dir,,,1,1,,RI,X5000\n"
                           "11,31/2/2020,Fecha mala,,,,,0,,,\n"
                           "12,1/1/2020,Sin comas\n"
                           "13,,,,,,,0,,,\n"
                           "14,,Ñandú Pérez,,,,,0,,,\n"
                           "15,,Binario\x01\x02,,,,,0,,,\n"
                           "16,,Con NUL") +
                             std::string("\0,,,,,0,,,\n", 11) + "17,,Larga," +
                             std::string(300, 'x') + ",,,,0,,,\n" +
                             A("18,,Cliente raro,,,,,999,,,\n19,,Rubro grande,,,,1234,0,,,\n") +
                             std::string("\xff\xfe\x00\x9c\n", 5));
  WriteInput("TelefonE",
             "10,0351-111,,0\n10,e-mail@x.com,,0\n10,0351 111,,0\n77,222,,0\n"
             "10," +
                 std::string(31, '9') + ",,0\n");
  // Contacts in UTF-8 with a byte-order mark, one with the same accented name
  // as the company (another kind: allowed).
  WriteInput("Contacto",
             "\xEF\xBB\xBF"
             "100,,Ñandú Pérez,,,,10,,\n"
             "101,,   ,,,,10,,\n102,,Zoe,,,,10,,\n103,,Huérfano,,,,55,,\n");
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 1);  // TelefonC is missing
  std::vector<std::string> errors;
  for (const std::string& l : lines)
    if (l.rfind("  ", 0) == 0) errors.push_back(l.substr(2));
  const std::vector<std::string> want = {
      "RubrosAg: El código debe ser un número mayor que cero, linea nro. 2.",
      "RubrosAg: Código repetido, linea nro. 3.",
      "RubrosAg: La descripción no puede estar en blanco, linea nro. 5.",
      "Empresas: Fecha inválida en el campo fecha de alta, linea nro. 2.",
      "Empresas: Error de formato en la linea nro. 3.",
      "Empresas: El nombre no puede estar en blanco, linea nro. 4.",
      "Empresas: Nombre repetido, linea nro. 5.",
      "Empresas: La linea tiene caracteres no válidos, linea nro. 6.",
      "Empresas: La linea tiene caracteres no válidos, linea nro. 7.",
      "Empresas: La linea tiene más de 255 caracteres, linea nro. 8.",
      "Empresas: Valor numérico inválido en el campo cliente, linea nro. 9.",
      "Empresas: Valor numérico inválido en el campo rubro, linea nro. 10.",
      "Empresas: La linea tiene caracteres no válidos, linea nro. 11.",
      "TelefonE: El número de teléfono no puede estar en blanco, linea nro. 2.",
      "TelefonE: Número de teléfono repetido, linea nro. 3.",
      "TelefonE: La empresa nro. 77 no figura en Empresas.txt, linea nro. 4.",
      "TelefonE: El número de teléfono tiene más de 30 dígitos, linea nro. 5.",
      "Contacto: El nombre no puede estar en blanco, linea nro. 2.",
      "Contacto: La empresa nro. 55 no figura en Empresas.txt, linea nro. 4.",
      "TelefonC: No se puede abrir el archivo Archivos/TelefonC.txt (no existe).",
  };
  EXPECT_EQ(errors, want);

  MA11Record company{}, contact{}, zoe{};
  ASSERT_TRUE(Find("Ñandú Pérez", "E", &company));
  ASSERT_TRUE(Find("Ñandú Pérez", "C", &contact));
  EXPECT_EQ(contact.NOMBRE.str(), company.NOMBRE.str());
  // The blank name did not end the company's contacts.
  ASSERT_TRUE(Find("Zoe", "C", &zoe));
  EXPECT_EQ(int32_t(zoe.CODEMP), int32_t(company.CODIGO));
  EXPECT_EQ(Dec(company.CODRUB), 1);
  EXPECT_EQ(Numbers().size(), 1u);
  EXPECT_EQ(Dump(), "1:" + A("Ñandú Pérez") + ":E 2:" + A("Ñandú Pérez") + ":C 3:Zoe:C ");
}

// The demo tool's sample: exactly its deliberate errors, everything else in.
TEST_F(ImportTest, TheDemoSampleImportsWithOnlyItsDeliberateErrors) {
  demodata::TextSample t;
  t.out = "Archivos";
  t.companies = 25;
  t.contacts_per_company = 2;
  demodata::TextSampleSummary summary;
  std::string error;
  ASSERT_EQ(demodata::WriteTextSample(t, &summary, &error), 0) << error;
  EXPECT_EQ(demodata::WriteTextSample(t, &summary, &error), -1);  // no overwrite
  std::vector<std::string> lines;
  EXPECT_EQ(RunImport(&lines), 1);
  EXPECT_EQ(lines.back(), "4 errores, 4 líneas rechazadas.");
  EXPECT_EQ(summary.errors, 4);
  size_t companies = 0, contacts = 0;
  for (const Entry& e : Entries()) (e.kind == "E" ? companies : contacts)++;
  EXPECT_EQ(companies, 25u);
  EXPECT_EQ(contacts, 50u);
  EXPECT_EQ(Numbers().size(), size_t(25 * 2 + 50));  // the e-mail address was not
}

// ---------------------------------------------------------------------------
// Line reading.

// The splitting rules against a plain oracle over random lines.
TEST(ImportParseTest, SplittingMatchesTheRules) {
  std::mt19937 rng(5);
  const std::string alphabet = "ab ,,";
  for (int round = 0; round < 3000; ++round) {
    std::string line;
    const int len = int(rng() % 90);
    for (int i = 0; i < len; ++i) line += alphabet[rng() % alphabet.size()];
    const size_t count = 1 + rng() % 5;
    std::vector<std::string> got;
    const bool ok = agenda::SplitFields(line, count, &got);
    // Oracle: the first count - 1 commas cut; the rest, cut to 50, clipped.
    std::vector<std::string> want;
    std::string rest = line;
    bool want_ok = true;
    for (size_t i = 0; i + 1 < count; ++i) {
      const size_t c = rest.find(',');
      if (c == std::string::npos) {
        want_ok = false;
        break;
      }
      want.push_back(rest.substr(0, c));
      rest = rest.substr(c + 1);
    }
    ASSERT_EQ(ok, want_ok) << line;
    if (!ok) continue;
    rest = rest.substr(0, 50);
    while (!rest.empty() && rest.back() == ' ') rest.pop_back();
    want.push_back(rest);
    ASSERT_EQ(got, want) << line;
  }
}

TEST(ImportParseTest, EncodingNumbersDatesAndCodes) {
  using agenda::TextEncoding;
  auto encoding = [](std::string bytes, size_t chunk) {
    agenda::Utf8Check c;
    for (size_t i = 0; i < bytes.size(); i += chunk)
      c.Feed(std::string_view(bytes).substr(i, chunk));
    return agenda::EncodingOf(bytes.substr(0, 3), c);
  };
  for (size_t chunk : {1u, 2u, 64u}) {
    EXPECT_EQ(encoding("Jos\xC3\xA9, \xE2\x82\xAC", chunk), TextEncoding::kUtf8);
    EXPECT_EQ(encoding("Jos\xE9", chunk), TextEncoding::kAnsi);  // Windows-1252
    EXPECT_EQ(encoding("plain", chunk), TextEncoding::kAnsi);
    EXPECT_EQ(encoding("\xEF\xBB\xBFplain", chunk), TextEncoding::kUtf8);
    EXPECT_EQ(encoding("\xC0\x80", chunk), TextEncoding::kAnsi);          // over-long
    EXPECT_EQ(encoding("\xED\xA0\x80", chunk), TextEncoding::kAnsi);      // surrogate
    EXPECT_EQ(encoding("\xF4\x90\x80\x80", chunk), TextEncoding::kAnsi);  // above U+10FFFF
    EXPECT_EQ(encoding("ok \xC3", chunk), TextEncoding::kAnsi);           // cut short
  }
  EXPECT_EQ(agenda::DecodeLine("\xEF\xBB\xBF"
                               "Jos\xC3\xA9",
                               TextEncoding::kUtf8, true),
            "Jos\xE9");
  EXPECT_EQ(agenda::DecodeLine("Jos\xE9", TextEncoding::kAnsi, true), "Jos\xE9");

  int64_t n = -1;
  EXPECT_TRUE(agenda::ParseNumber("  ", &n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(agenda::ParseNumber(" -12.9 ", &n));
  EXPECT_EQ(n, -12);
  for (const char* bad : {"1a", "--1", "1.2.3", ".", "12 3", "1e5"})
    EXPECT_FALSE(agenda::ParseNumber(bad, &n)) << bad;
  int32_t d = -1;
  EXPECT_TRUE(agenda::ParseDate("", &d));
  EXPECT_EQ(d, 0);
  EXPECT_TRUE(agenda::ParseDate("29/2/24", &d));
  EXPECT_EQ(d, nv::DateFromYmd(2024, 2, 29));
  EXPECT_FALSE(agenda::ParseDate("29/2/2023", &d));
  EXPECT_FALSE(agenda::ParseDate("hoy", &d));
  EXPECT_EQ(agenda::VatCondition(" MO "), "Responsable Monotributo");
  EXPECT_EQ(agenda::VatCondition("mo"), "");
  EXPECT_EQ(agenda::DigitsOnly("+54 (351) 15-4"), "54351154");
}

}  // namespace
}  // namespace importtest
