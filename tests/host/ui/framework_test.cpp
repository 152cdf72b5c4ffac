// Framework objects (error reporter, profile object, fuzzy matching), field
// access by declaration, and window definitions.
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "host/runtime/codepage.h"
#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/ui/field_access.h"
#include "host/ui/framework.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/window_def.h"

namespace {

using namespace nv;
using namespace nv::ui;

std::string A(std::string_view utf8) {
  return AnsiFromUtf8(utf8);
}

TEST(ErrorReporterTest, NamesTheProcedureInItsMessages) {
  HeadlessBackend ui;
  ErrorReporter r;
  {
    ProcedureScope outer(r, "ELG_RPT_SALENT_LIN");
    {
      ProcedureScope inner(r, "Ficha_Rubros");
      EXPECT_EQ(r.procedure(), "Ficha_Rubros");
      SetError(40);
      r.ShowError();
    }
    EXPECT_EQ(r.procedure(), "ELG_RPT_SALENT_LIN");
  }
  EXPECT_EQ(r.procedure(), "");
  r.Leave("nunca");  // not held: nothing
  r.Leave();
  auto m = ui.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].shape.caption, "Error");
  EXPECT_EQ(m[0].shape.icon, Icon::kError);
  EXPECT_EQ(m[0].shape.text.find(ErrorTextOf(40)), 0u);
  EXPECT_NE(m[0].shape.text.find("Ficha_Rubros"), std::string::npos);
  EXPECT_EQ(r.shown().size(), 1u);
  ClearError();
}

TEST(ErrorReporterTest, CurrentReporterCanBeRedirected) {
  ErrorReporter mine;
  ErrorReporter& def = CurrentErrorReporter();
  SetCurrentErrorReporter(&mine);
  EXPECT_EQ(&CurrentErrorReporter(), &mine);
  SetCurrentErrorReporter(nullptr);
  EXPECT_EQ(&CurrentErrorReporter(), &def);
}

TEST(ProfileObjectTest, ReadsAndWritesItsFile) {
  auto dir = std::filesystem::temp_directory_path() / ("nvui-prof-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProfileObject p;
  p.Init((dir / "agenda.INI").string());
  EXPECT_EQ(p.Fetch("FXQ-MODEM", "PORT", "COM2"), "COM2");
  EXPECT_TRUE(p.Update("FXQ-MODEM", "PORT", "COM3"));
  EXPECT_EQ(p.Fetch("fxq-modem", "port", "COM2"), "COM3");
  EXPECT_EQ(p.FetchInt("FXQ-MODEM", "PORT", 9), 9);  // not a number
  EXPECT_FALSE(p.Update("FXQ-MODEM", "A=B", "x"));   // would corrupt the file
  std::filesystem::remove_all(dir);
}

TEST(FuzzyMatchTest, OptionsFoldCaseAccentsAndWordOrder) {
  FuzzyMatch f;
  f.SetOption(1, true);
  f.SetOption(2, false);
  EXPECT_TRUE(f.Option(1));
  EXPECT_FALSE(f.Option(2));
  EXPECT_FALSE(f.Option(3));
  EXPECT_EQ(f.Match(A("telefónica"), A("TELEFONICA")), 100);
  EXPECT_GT(f.Match("tele", A("Telefónica Argentina")), 0);
  EXPECT_GT(f.Match("tele", "Telefonica"), f.Match("efon", "Telefonica"));  // at the start
  EXPECT_EQ(f.Match("argentina telefonica", A("Telefónica Argentina")), 0);
  EXPECT_EQ(f.Match("", "algo"), 0);
  EXPECT_EQ(f.Match("   ", "algo"), 0);
  f.SetOption(2, true);
  EXPECT_GT(f.Match("argentina telefonica", A("Telefónica Argentina")), 0);
  EXPECT_EQ(f.Match("argentina movil", A("Telefónica Argentina")), 0);
  f.SetOption(1, false);
  EXPECT_EQ(f.Match("tele", "TELEFONICA"), 0);
  EXPECT_EQ(FoldAnsi(A("ñandú Ÿ ß ÿ")), A("NANDU Ÿ ß Y"));
}

#pragma pack(push, 1)
struct Mixed {
  uint8_t B;
  int16_t S;
  int32_t L;
  Decimal<4, 2> D;
  Decimal<3, 0> E;
  BinDate DT;
  BinTime TM;
  String<5> STR;
  CString<4> CS;
  PString<4> PS;
  double R;
};
#pragma pack(pop)

TEST(FieldAccessTest, EveryTypeRoundTripsAndBadValuesAreRefused) {
  auto rt = DeclareRecord<Mixed>(
      "MX", {NV_FIELD(Mixed, B), NV_FIELD(Mixed, S), NV_FIELD(Mixed, L), NV_FIELD(Mixed, D),
             NV_FIELD(Mixed, E), NV_FIELD(Mixed, DT), NV_FIELD(Mixed, TM), NV_FIELD(Mixed, STR),
             NV_FIELD(Mixed, CS), NV_FIELD(Mixed, PS), NV_FIELD(Mixed, R)});
  Mixed m{};
  auto* rec = reinterpret_cast<uint8_t*>(&m);
  auto f = [&](const char* label) { return *rt->Field(rt->FindField(label)); };

  EXPECT_TRUE(WriteField(f("MX:B"), rec, Value(200)));
  EXPECT_FALSE(WriteField(f("MX:B"), rec, Value(256)));
  EXPECT_FALSE(WriteField(f("MX:S"), rec, Value(40000)));
  EXPECT_TRUE(WriteField(f("MX:S"), rec, Value(-5)));
  EXPECT_TRUE(WriteField(f("MX:L"), rec, Value("123")));
  EXPECT_FALSE(WriteField(f("MX:L"), rec, Value(1e300)));
  EXPECT_TRUE(WriteField(f("MX:D"), rec, Value(12.345)));
  EXPECT_TRUE(WriteField(f("MX:E"), rec, Value(-99)));
  EXPECT_TRUE(WriteField(f("MX:DT"), rec, Value(82000)));
  EXPECT_FALSE(WriteField(f("MX:DT"), rec, Value(-1)));
  EXPECT_TRUE(WriteField(f("MX:TM"), rec, Value(3600001)));
  EXPECT_FALSE(WriteField(f("MX:TM"), rec, Value(8640001)));
  EXPECT_TRUE(WriteField(f("MX:STR"), rec, Value("abcdefgh")));
  EXPECT_TRUE(WriteField(f("MX:CS"), rec, Value("wxyz")));
  EXPECT_TRUE(WriteField(f("MX:PS"), rec, Value("pq")));
  EXPECT_TRUE(WriteField(f("MX:R"), rec, Value(2.5)));

  EXPECT_EQ(ReadField(f("MX:B"), rec).AsInteger(), 200);
  EXPECT_EQ(ReadField(f("MX:S"), rec).AsInteger(), -5);
  EXPECT_EQ(ReadField(f("MX:L"), rec).AsInteger(), 123);
  EXPECT_NEAR(ReadField(f("MX:D"), rec).AsNumber(), 12.35, 1e-9);  // rounded to 2 places
  EXPECT_EQ(ReadField(f("MX:E"), rec).AsInteger(), -99);
  EXPECT_EQ(ReadField(f("MX:DT"), rec).AsInteger(), 82000);
  EXPECT_EQ(ReadField(f("MX:TM"), rec).AsInteger(), 3600001);
  EXPECT_EQ(ReadField(f("MX:STR"), rec).AsText(), "abcde");
  EXPECT_EQ(ReadField(f("MX:CS"), rec).AsText(), "wxy");  // room for the zero
  EXPECT_EQ(ReadField(f("MX:PS"), rec).AsText(), "pq");
  EXPECT_EQ(ReadField(f("MX:R"), rec).AsNumber(), 2.5);

  // Corrupt bytes read as harmless values, never past the field.
  std::memset(rec + offsetof(Mixed, D), 0xFF, sizeof m.D);
  EXPECT_EQ(ReadField(f("MX:D"), rec).AsNumber(), 0);
  std::memset(rec + offsetof(Mixed, CS), 'x', sizeof m.CS);  // no terminating zero
  EXPECT_EQ(ReadField(f("MX:CS"), rec).AsText(), "xxxx");
  reinterpret_cast<uint8_t*>(&m.PS)[0] = 200;  // length beyond the field
  EXPECT_EQ(ReadField(f("MX:PS"), rec).AsText().size(), 3u);
}

TEST(FieldAccessTest, CompareValuesLikeKeys) {
  EXPECT_EQ(CompareValues(Value("abc  "), Value("abc"), false), 0);
  EXPECT_LT(CompareValues(Value("ABC"), Value("abd"), true), 0);
  EXPECT_NE(CompareValues(Value("ABC"), Value("abc"), false), 0);
  EXPECT_EQ(CompareValues(Value(3), Value(3.0), false), 0);
  EXPECT_GT(CompareValues(Value(10), Value(9), false), 0);
}

TEST(WindowDefTest, BuildersAndBarTexts) {
  ControlDef b = Button(3, "&Aceptar").Default().Closing().Tip("ok");
  EXPECT_TRUE(b.default_button);
  EXPECT_TRUE(b.closing);
  EXPECT_EQ(b.tip, "ok");
  EXPECT_EQ(SplitBar("Si|No"), (std::vector<std::string>{"Si", "No"}));
  EXPECT_EQ(SplitBar("||x|"), (std::vector<std::string>{"", "", "x", ""}));
  EXPECT_EQ(SplitBar(""), (std::vector<std::string>{""}));
  WindowDef d = WindowDef("Agenda", {})
                    .Size(300, 200)
                    .Timer(5)
                    .Menus({Menu("&Ayuda", {Item(9, "Acerca de...")})});
  EXPECT_EQ(d.timer, 5);
  EXPECT_EQ(d.menus[0].items[0].id, 9);
}

}  // namespace
