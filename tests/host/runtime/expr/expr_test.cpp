// The expression language: parsing, errors, bindings and the report filter
// texts evaluated against hand-built call records.
#include "host/runtime/expr.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/runtime/date_time.h"
#include "host/runtime/file.h"
#include "tests/host/runtime/expr/call_records.h"

namespace {

using namespace nv;
using namespace nv::expr;
using nvtest::CallRecord;

// --- parsing ---------------------------------------------------------------

std::string Parsed(std::string_view text) {
  Error e;
  auto n = Parse(text, &e);
  return n ? Print(*n) : e.message;
}

TEST(ExprParse, PrecedenceIsNotThenComparisonsThenAndThenOr) {
  EXPECT_EQ(Parsed("a OR b AND c = d"), "(a OR (b AND (c = d)))");
  EXPECT_EQ(Parsed("NOT a = b"), "(NOT(a) = b)");
  EXPECT_EQ(Parsed("NOT(a = b) AND c OR d AND e"), "((NOT((a = b)) AND c) OR (d AND e))");
  EXPECT_EQ(Parsed("(a OR b) AND c"), "((a OR b) AND c)");
  EXPECT_EQ(Parsed("a < b OR a <= b OR a > b OR a >= b OR a <> b"),
            "(((((a < b) OR (a <= b)) OR (a > b)) OR (a >= b)) OR (a <> b))");
}

TEST(ExprParse, KeywordsIgnoreCaseAndNamesKeepTheirSpelling) {
  EXPECT_EQ(Parsed("not(Loc:Tipo = 'x') and DesFec or inrange(MO01:FecLla,1,2)"),
            "((NOT((Loc:Tipo = 'x')) AND DesFec) OR inrange(MO01:FecLla,1,2))");
}

TEST(ExprParse, LiteralsKeepTheirValue) {
  Error e;
  auto n = Parse("'O''Brien' = -12.5", &e);
  ASSERT_TRUE(n) << e.message;
  ASSERT_EQ(n->kind, NodeKind::kCompare);
  EXPECT_EQ(n->children[0]->kind, NodeKind::kString);
  EXPECT_EQ(n->children[0]->text, "O'Brien");
  EXPECT_EQ(n->children[1]->kind, NodeKind::kNumber);
  EXPECT_DOUBLE_EQ(n->children[1]->number, -12.5);
  EXPECT_EQ(Print(*n), "('O''Brien' = -12.5)");
  EXPECT_EQ(Parsed("x = ''"), "(x = '')");
  EXPECT_EQ(Parsed("RANGO_STRING()"), "RANGO_STRING()");
}

TEST(ExprParse, PositionsAreOneBasedBytes) {
  Error e;
  auto n = Parse("  DesFec >= 'a'", &e);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->position, 3);
  EXPECT_EQ(n->children[1]->position, 13);
}

TEST(ExprParse, MalformedTextsGiveSpanishErrorsWithThePosition) {
  EXPECT_EQ(Parsed("(MO01:FECLLA = 1"), "Error en la expresión, posición 17: se esperaba ')'");
  EXPECT_EQ(Parsed(""), "Error en la expresión, posición 1: la expresión está vacía");
  EXPECT_EQ(Parsed("   "), "Error en la expresión, posición 4: la expresión está vacía");
  EXPECT_EQ(Parsed("a = 1)"), "Error en la expresión, posición 6: ')' sin '(' que la abra");
  EXPECT_EQ(Parsed("a = 'abc"), "Error en la expresión, posición 5: falta la comilla de cierre");
  EXPECT_EQ(Parsed("a = "),
            "Error en la expresión, posición 5: la expresión termina antes de tiempo");
  EXPECT_EQ(Parsed("a b"), "Error en la expresión, posición 3: se esperaba AND u OR");
  EXPECT_EQ(Parsed("a AND AND b"),
            "Error en la expresión, posición 7: se esperaba un valor antes de AND");
  EXPECT_EQ(Parsed("a = #"), "Error en la expresión, posición 5: carácter inesperado '#'");
  EXPECT_EQ(Parsed("a = 12b"), "Error en la expresión, posición 5: número mal formado");
  EXPECT_EQ(Parsed("NOT(a = 1"), "Error en la expresión, posición 10: se esperaba ')'");
  EXPECT_EQ(Parsed("F(1,2,3,4)"),
            "Error en la expresión, posición 9: demasiados argumentos para F");
  EXPECT_EQ(Parsed("INRANGE(a,,b)"),
            "Error en la expresión, posición 11: se esperaba un valor antes de ','");
  EXPECT_EQ(Parsed("a = -b"), "Error en la expresión, posición 6: se esperaba un número");
  EXPECT_EQ(Parsed("a = \x01"), "Error en la expresión, posición 5: carácter inesperado 0x01");
}

TEST(ExprParse, DeepNestingIsAnErrorNotACrash) {
  std::string deep(100000, '(');
  Error e;
  EXPECT_EQ(Parse(deep, &e), nullptr);
  EXPECT_NE(e.message.find("anidada en exceso"), std::string::npos) << e.message;
  std::string nots;
  for (int i = 0; i < 50000; ++i) nots += "NOT ";
  EXPECT_EQ(Parse(nots + "a", &e), nullptr);
  // Long chains too (their trees would be as deep as they are long).
  std::string chain = "a";
  for (int i = 0; i < 100000; ++i) chain += " AND a";
  EXPECT_EQ(Parse(chain, &e), nullptr);
  EXPECT_NE(e.message.find("demasiado larga"), std::string::npos) << e.message;
  chain = "a";
  for (int i = 0; i < 500; ++i) chain += " OR a";
  EXPECT_NE(Parse(chain, &e), nullptr);
  // Reasonable nesting is fine.
  EXPECT_NE(Parse(std::string(100, '(') + "a" + std::string(100, ')'), &e), nullptr);
}

TEST(ExprParse, RandomTextsNeverCrashAndErrorsPointInsideTheText) {
  const std::vector<std::string> pieces = {
      "(",  ")",           ",",      "'",        "''",      "'NT'",         "NOT", "AND", "OR",
      "=",  "<>",          "<",      "<=",       ">",       ">=",           "-",   "0",   "12.5",
      ".5", "MO01:FECLLA", "DesFec", "Loc:Tipo", "INRANGE", "RANGO_STRING", " ",   "  ",  "x",
      ":",  "\xF1",        "\t",     "#",        "1.2.3",   "\x00"};
  std::mt19937 rng(20261207);
  nvtest::CallRecord rec{};
  File calls(nvtest::CallDecl("MO01", "fuzz"));
  Bindings b;
  int32_t desfec = 5;
  String<2> tipo;
  b.BindFile(&calls);
  b.Bind("DesFec", &desfec);
  b.Bind("Loc:Tipo", &tipo);
  b.BindProcedure("RANGO_STRING", [](const std::string& a, const std::string&, const std::string&) {
    return Value(a);
  });
  (void)rec;
  int parsed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int n = int(rng() % 12);
    for (int k = 0; k < n; ++k) {
      if (rng() % 8 == 0) {
        text.push_back(char(rng() % 256));
      } else {
        text += pieces[rng() % pieces.size()];
      }
    }
    Error e;
    auto tree = Parse(text, &e);
    if (tree) {
      ++parsed;
      EXPECT_TRUE(e.ok());
      auto x = Expression::Compile(text, b, &e);
      if (x) {
        x->Matches();
        x->Evaluate();
      } else {
        EXPECT_FALSE(e.ok());
      }
    } else {
      EXPECT_FALSE(e.message.empty()) << text;
      EXPECT_GE(e.position, 1) << text;
      EXPECT_LE(e.position, int(text.size()) + 1) << text;
      EXPECT_EQ(e.message.rfind("Error en la expresión, posición ", 0), 0u) << e.message;
    }
  }
  EXPECT_GT(parsed, 100);  // the generator reaches valid texts too
}

TEST(ExprParse, VisitorSeesEveryNodeWithItsKindAndName) {
  struct Collect : Visitor {
    std::vector<std::string> seen;
    void Field(const Node& n) override { seen.push_back("field " + n.text); }
    void Name(const Node& n) override { seen.push_back("name " + n.text); }
    void String(const Node& n) override { seen.push_back("string " + n.text); }
    void Call(const Node& n) override {
      seen.push_back("call " + n.text);
      Children(n);
    }
  };
  File calls(nvtest::CallDecl("MO01", "visit"));
  Bindings b;
  b.BindFile(&calls);
  int32_t desfec = 0;
  b.Bind("DesFec", &desfec);
  Error e;
  auto x = Expression::Compile("NOT(mo01:tipolla = 'NT') AND INRANGE(MO01:FECLLA,desfec,5)", b, &e);
  ASSERT_TRUE(x) << e.message;
  Collect c;
  Accept(x->tree(), c);
  EXPECT_EQ(c.seen, (std::vector<std::string>{"field mo01:tipolla", "string NT", "call INRANGE",
                                              "field MO01:FECLLA", "name desfec"}));
  auto copy = x->tree().Clone();
  EXPECT_EQ(Print(*copy), Print(x->tree()));
}

// --- values and bindings ---------------------------------------------------

class ExprBindings : public ::testing::Test {
 protected:
  void SetUp() override {
    b_.BindFile(&calls_);
    b_.Bind("Num", &num_);
    b_.Bind("Texto", &text_);
  }
  bool Match(std::string_view text) {
    Error e;
    auto x = Expression::Compile(text, b_, &e);
    EXPECT_TRUE(x) << e.message;
    return x && x->Matches();
  }
  std::string Fails(std::string_view text) {
    Error e;
    auto x = Expression::Compile(text, b_, &e);
    EXPECT_FALSE(x) << text;
    return e.message;
  }
  CallRecord& rec() { return calls_.As<CallRecord>(); }

  File calls_{nvtest::CallDecl("MO01", "bind")};
  Bindings b_;
  int32_t num_ = 0;
  String<10> text_;
};

TEST_F(ExprBindings, TextsCompareClippedAndTextAgainstNumberComparesNumerically) {
  rec().NROCTA = "";
  EXPECT_TRUE(Match("MO01:NROCTA = 0"));  // a blank code has the numeric value 0
  EXPECT_TRUE(Match("MO01:NROCTA = ''"));
  rec().NROCTA = "0012";
  EXPECT_TRUE(Match("MO01:NROCTA = 12"));
  EXPECT_TRUE(Match("MO01:NROCTA > 0"));
  EXPECT_FALSE(Match("MO01:NROCTA = '12'"));  // as texts they differ
  rec().NROCTA = "ABC";
  EXPECT_FALSE(Match("MO01:NROCTA = 0"));  // not a number: compared as text with "0"
  EXPECT_TRUE(Match("MO01:NROCTA > 0"));
  EXPECT_TRUE(Match("MO01:NROCTA = 'ABC   '"));
  EXPECT_FALSE(Match("MO01:NROCTA = 'abc'"));  // values keep their case
  EXPECT_TRUE(Match("'b' > 'a' AND 'a' < 'ab' AND 'ab' <> 'a'"));
  EXPECT_TRUE(Match("'\xF1' > 'z'"));  // byte order, unsigned
}

TEST_F(ExprBindings, NumericFieldsOfEveryKindReadAsNumbers) {
  rec().COSLLA = 2.5;
  rec().GRUINT.Set(-42);
  rec().TRANSF = 'T';
  rec().CODAGT = -7;
  rec().FECLLA = BinFromDate(DateFromYmd(2024, 3, 10));
  EXPECT_TRUE(Match("MO01:COSLLA = 2.5 AND MO01:COSLLA > 2 AND MO01:COSLLA < '3'"));
  EXPECT_TRUE(Match("MO01:GRUINT = -42"));
  EXPECT_TRUE(Match("MO01:TRANSF = 84"));
  EXPECT_TRUE(Match("MO01:CODAGT < 0"));
  num_ = DateFromYmd(2024, 3, 10);
  EXPECT_TRUE(Match("MO01:FECLLA = Num"));  // binary dates read as day numbers
  rec().FECLLA = BinDate{31, 2, 2024};      // impossible: day 0
  EXPECT_TRUE(Match("MO01:FECLLA = 0"));
}

TEST_F(ExprBindings, VariablesOfEveryKind) {
  int16_t s = -3;
  uint8_t by = 200;
  double d = 0.25;
  BinDate bd = BinFromDate(77000);
  std::string str = "hola";
  Decimal<4, 2> dec;
  dec.SetText("12.34");
  b_.Bind("S", &s);
  b_.Bind("BY", &by);
  b_.Bind("D", &d);
  b_.Bind("BD", &bd);
  b_.Bind("STR", &str);
  b_.Bind("DEC", &dec);
  EXPECT_TRUE(
      Match("s = -3 AND by = 200 AND d = .25 AND bd = 77000 AND str = 'hola' AND "
            "dec = 12.34"));
  // The compiled expression reads the variables, not copies.
  Error e;
  auto x = Expression::Compile("Num >= 10 AND texto = 'si'", b_, &e);
  ASSERT_TRUE(x) << e.message;
  EXPECT_FALSE(x->Matches());
  num_ = 10;
  text_ = "si";
  EXPECT_TRUE(x->Matches());
  EXPECT_EQ(Expression::Compile("Num", b_, &e)->Evaluate().AsNumber(), 10);
  EXPECT_EQ(Expression::Compile("Texto", b_, &e)->Evaluate().text, "si        ");
}

TEST_F(ExprBindings, TruthOfValuesUsedAsConditions) {
  b_.BindProcedure(
      "P", [](const std::string& a, const std::string&, const std::string&) { return Value(a); });
  EXPECT_FALSE(Match("P('')"));
  EXPECT_FALSE(Match("P('0')"));
  EXPECT_FALSE(Match("P(0)"));
  EXPECT_TRUE(Match("P('1')"));
  EXPECT_TRUE(Match("P('x')"));
  EXPECT_TRUE(Match("P(2.5)"));
  EXPECT_FALSE(Match("0"));
  EXPECT_TRUE(Match("NOT 0"));
  EXPECT_TRUE(Match("(1 = 1) = 1"));  // a comparison is 1 or 0
}

TEST_F(ExprBindings, ProceduresReceiveTheirArgumentsAsTexts) {
  std::vector<std::string> got;
  b_.BindProcedure("Rango_String",
                   [&](const std::string& a, const std::string& b, const std::string& c) {
                     got = {a, b, c};
                     return Value(1);
                   });
  rec().NROTEL = "4321";
  num_ = 7;
  EXPECT_TRUE(Match("RANGO_STRING(MO01:NROTEL, Num, 2.5)"));
  EXPECT_EQ(got,
            (std::vector<std::string>{std::string("4321") + std::string(26, ' '), "7", "2.5"}));
  EXPECT_TRUE(Match("rango_string(1)"));
  EXPECT_EQ(got, (std::vector<std::string>{"1", "", ""}));
}

TEST_F(ExprBindings, NamesIgnoreCaseAndFieldsWinOverVariables) {
  b_.Bind("HasFec", &num_);
  num_ = 9;
  EXPECT_TRUE(Match("HASFEC = 9 AND hasfec = 9 AND HasFec = 9"));
  int32_t shadow = 123;
  b_.Bind("MO01:CODIGO", &shadow);
  rec().CODIGO = 5;
  EXPECT_TRUE(Match("MO01:CODIGO = 5"));  // the field, not the variable
  b_.Bind("Loc:Tipo", &text_);            // a name with a colon that is no file's prefix
  text_ = "LO";
  EXPECT_TRUE(Match("loc:tipo = 'LO'"));
  b_.Unbind("loc:TIPO");
  EXPECT_NE(Fails("Loc:Tipo = 'LO'").find("nombre desconocido 'Loc:Tipo'"), std::string::npos);
}

TEST_F(ExprBindings, UnknownNamesAndMisusedFunctionsAreCompileErrors) {
  EXPECT_EQ(Fails("MO01:FECLLA = DesFex"),
            "Error en la expresión, posición 15: nombre desconocido 'DesFex'");
  EXPECT_EQ(Fails("MO01:NOEXISTE = 1"),
            "Error en la expresión, posición 1: nombre desconocido 'MO01:NOEXISTE'");
  EXPECT_EQ(Fails("XX01:FECLLA = 1"),
            "Error en la expresión, posición 1: nombre desconocido 'XX01:FECLLA'");
  EXPECT_EQ(Fails("INRANGE(Num,1)"),
            "Error en la expresión, posición 1: INRANGE necesita tres argumentos (valor, desde, "
            "hasta)");
  EXPECT_EQ(Fails("Num(1)"), "Error en la expresión, posición 1: 'Num' no es una función");
  EXPECT_EQ(Fails("FOO(1)"), "Error en la expresión, posición 1: función desconocida 'FOO'");
  b_.BindProcedure("RANGO_STRING", [](const std::string&, const std::string&, const std::string&) {
    return Value(1);
  });
  EXPECT_NE(Fails("RANGO_STRING = 1").find("es una función"), std::string::npos);
  EXPECT_NE(Fails("").find("vacía"), std::string::npos);
}

TEST_F(ExprBindings, AliasesReachTheSameFieldsUnderTheirOwnPrefix) {
  File alias(nvtest::CallDecl("MO01", "bind"));
  b_.BindFile(&alias, "AMO01");
  rec().CODIGO = 1;
  alias.As<CallRecord>().CODIGO = 2;
  EXPECT_TRUE(Match("MO01:CODIGO = 1 AND AMO01:CODIGO = 2 AND amo01:codigo > MO01:CODIGO"));
  // Binding a prefix again makes it name the new file.
  b_.BindFile(&alias, "MO01");
  EXPECT_TRUE(Match("MO01:CODIGO = 2"));
}

TEST(ExprBrowse, FieldsOfTwoFilesCompareWithEachOther) {
  File companies(nvtest::EntryDecl("ma11"));
  File contacts(nvtest::EntryDecl("ma11"));
  Bindings b;
  b.BindFile(&companies);
  b.BindFile(&contacts, "A2MA11");
  Error e;
  auto link = Expression::Compile("(A2MA11:CODEMP = MA11:CODIGO)", b, &e);
  ASSERT_TRUE(link) << e.message;
  auto kind = Expression::Compile("(MA11:ESEMPR = 'E')", b, &e);
  ASSERT_TRUE(kind) << e.message;
  auto& company = companies.As<nvtest::EntryRecord>();
  auto& contact = contacts.As<nvtest::EntryRecord>();
  company.CODIGO = 40;
  company.ESEMPR = "E";
  contact.CODEMP = 40;
  EXPECT_TRUE(link->Matches());
  EXPECT_TRUE(kind->Matches());
  contact.CODEMP = 41;
  company.ESEMPR = "P";
  EXPECT_FALSE(link->Matches());
  EXPECT_FALSE(kind->Matches());
}

// --- the report filter texts -----------------------------------------------

const char* kPlain = "NOT(MO01:TIPOLLA = 'NT') AND INRANGE(MO01:FECLLA,DesFec,HasFec)";
const char* kPlainTyped =
    "NOT(MO01:TIPOLLA = 'NT') AND INRANGE(MO01:FECLLA,DesFec,HasFec) AND MO01:TIPOLLA = Loc:Tipo";
const char* kWindow =
    "NOT(MO01:TIPOLLA = 'NT') AND ( ((MO01:FECLLA = DesFec AND MO01:HORLLA >= DesHor) OR "
    "MO01:FECLLA > DesFec) AND (MO01:FECLLA < HASFEC OR (MO01:FECLLA = HasFec AND MO01:HORLLA <= "
    "HasHor)) )";
const char* kWindowTyped =
    "NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = Loc:Tipo AND ( ((MO01:FECLLA = DesFec AND "
    "MO01:HORLLA >= DesHor) OR MO01:FECLLA > DesFec) AND (MO01:FECLLA < HASFEC OR (MO01:FECLLA = "
    "HasFec AND MO01:HORLLA <= HasHor)) )";
const char* kAccount =
    "NOT(MO01:TIPOLLA = 'NT') AND ((MA09:DESCTA >= desde) AND (MA09:DESCTA <= hasta)) AND "
    "INRANGE(MO01:FECLLA,DesFec,HasFec)";
const char* kFree = "NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = 'ES' AND MO01:COSLLA = 0";
const char* kUnrated = "MO01:TIPOLLA = 'NT'";
const char* kRequirement =
    "(NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = Loc:Tipo AND (((MO01:FECLLA = DesFec AND "
    "MO01:HORLLA >= DesHor) OR MO01:FECLLA > DesFec) AND (MO01:FECLLA < HASFEC OR (MO01:FECLLA = "
    "HasFec AND MO01:HORLLA <= HasHor))) AND INRANGE(MO01:DURLLA,DesDur,HasDur) AND "
    "(MA07:MULTISEL = 1) AND (MA08:MULTISEL = 1) AND INRANGE(MO01:COSLLA,DesCos,HasCos) AND "
    "((Opciones_Agenda = 'Ag' AND MO01:CODIGO > 0) OR (Opciones_Agenda = 'No' AND MO01:CODIGO = "
    "0) OR (Opciones_Agenda = 'To')) AND ((Opciones_Ctas = 'Se' AND MA09:MULTISEL = 1) OR "
    "(Opciones_Ctas = 'Si' AND MO01:NROCTA = 0) OR (Opciones_Ctas = 'To')) AND "
    "((Opciones_Agentes = 'Se' AND MA02:MULTISEL = 1) OR (Opciones_Agentes = 'Si' AND "
    "MO01:CODAGT = 0) OR (Opciones_Agentes = 'To')) AND ((DesNro = '' AND HasNro = '') OR "
    "((NOT(DesNro = '') OR NOT(HasNro = '')) AND RANGO_STRING(MO01:NROTEL,DesNro,HasNro))) )";

class ReportFilters : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    b_.BindFile(&calls_);
    b_.BindFile(&accounts_);
    b_.BindFile(&lines_);
    b_.BindFile(&extensions_);
    b_.BindFile(&agents_);
    b_.Bind("DesFec", &desfec_);
    b_.Bind("HasFec", &hasfec_);
    b_.Bind("DesHor", &deshor_);
    b_.Bind("HasHor", &hashor_);
    b_.Bind("Loc:Tipo", &tipo_);
    b_.Bind("Desde", &desde_);
    b_.Bind("Hasta", &hasta_);
    b_.Bind("DesDur", &desdur_);
    b_.Bind("HasDur", &hasdur_);
    b_.Bind("DesCos", &descos_);
    b_.Bind("HasCos", &hascos_);
    b_.Bind("DesNro", &desnro_);
    b_.Bind("HasNro", &hasnro_);
    b_.Bind("Opciones_Agenda", &op_agenda_);
    b_.Bind("Opciones_Ctas", &op_ctas_);
    b_.Bind("Opciones_Agentes", &op_agentes_);
    // Value between the bounds; a blank bound does not limit.
    b_.BindProcedure("RANGO_STRING",
                     [](const std::string& v, const std::string& lo, const std::string& hi) {
                       bool in = (Clip(lo).empty() || CompareClipped(v, lo) >= 0) &&
                                 (Clip(hi).empty() || CompareClipped(v, hi) <= 0);
                       return Value(in ? 1 : 0);
                     });
    desfec_ = DateFromYmd(2024, 3, 10);
    hasfec_ = desfec_ + 2;
  }

  std::unique_ptr<Expression> Compile(const char* text) {
    Error e;
    auto x = Expression::Compile(text, b_, &e);
    EXPECT_TRUE(x) << e.message;
    return x;
  }
  CallRecord& Call(int32_t date, int32_t time, const char* type) {
    auto& r = calls_.As<CallRecord>();
    r = CallRecord{};
    nvtest::SetCallDate(r, date, GetParam());
    r.HORLLA = time;
    r.TIPOLLA = type;
    return r;
  }
  // The selection the filter texts describe, written out in code.
  bool Expected(const CallRecord& r, bool window, bool typed) const {
    int32_t fec;
    if (GetParam()) {
      std::memcpy(&fec, &r.FECLLA, 4);
    } else {
      fec = DateFromBin(r.FECLLA);
    }
    if (r.TIPOLLA == "NT") return false;
    if (typed && !(r.TIPOLLA == tipo_)) return false;
    if (!window) return desfec_ <= fec && fec <= hasfec_;
    return ((fec == desfec_ && r.HORLLA >= deshor_) || fec > desfec_) &&
           (fec < hasfec_ || (fec == hasfec_ && r.HORLLA <= hashor_));
  }

  File calls_{nvtest::CallDecl("MO01", "filters", GetParam())};
  File accounts_{nvtest::AccountDecl("ma09")};
  File lines_{nvtest::LineDecl("ma07")};
  File extensions_{nvtest::ExtensionDecl("ma08")};
  File agents_{nvtest::AgentDecl("ma02")};
  Bindings b_;
  int32_t desfec_ = 0, hasfec_ = 0, deshor_ = 0, hashor_ = 0;
  String<2> tipo_;
  String<50> desde_, hasta_;
  double desdur_ = 0, hasdur_ = 0, descos_ = 0, hascos_ = 0;
  String<30> desnro_, hasnro_;
  String<2> op_agenda_, op_ctas_, op_agentes_;
};

TEST_P(ReportFilters, TheFourStandardTextsSelectWhatTheRulesSay) {
  struct Form {
    const char* text;
    bool window, typed;
  };
  const Form forms[] = {{kPlain, false, false},
                        {kPlainTyped, false, true},
                        {kWindow, true, false},
                        {kWindowTyped, true, true}};
  const int32_t ten = TimeFromHms(10, 0, 0), six_pm = TimeFromHms(18, 0, 0);
  int selected = 0, total = 0;
  for (const Form& form : forms) {
    auto x = Compile(form.text);
    ASSERT_TRUE(x);
    for (auto [dh, hh] : {std::pair{0, 0}, std::pair{ten, six_pm}, std::pair{1, kMaxTime}}) {
      deshor_ = dh;
      hashor_ = hh;
      for (const char* type : {"", "LO"}) {
        tipo_ = type;
        for (int32_t date = desfec_ - 1; date <= hasfec_ + 1; ++date) {
          for (int32_t time :
               {0, 1, ten - 1, ten, ten + 1, six_pm - 1, six_pm, six_pm + 1, kMaxTime}) {
            for (const char* call_type : {"NT", "LO", "DN", "", "ES"}) {
              CallRecord& r = Call(date, time, call_type);
              bool want = Expected(r, form.window, form.typed);
              ASSERT_EQ(x->Matches(), want)
                  << form.text << " date " << date - desfec_ << " time " << time << " type '"
                  << call_type << "' Loc:Tipo '" << type << "' hours " << dh << "-" << hh;
              selected += want;
              ++total;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(selected, total / 10);
}

TEST_P(ReportFilters, EdgesOfTheTimeWindow) {
  auto x = Compile(kWindow);
  deshor_ = TimeFromHms(8, 0, 0);
  hashor_ = TimeFromHms(12, 30, 0);
  Call(hasfec_, hashor_, "LO");
  EXPECT_TRUE(x->Matches());  // exactly (HASFEC, HASHOR)
  Call(hasfec_, hashor_ + 1, "LO");
  EXPECT_FALSE(x->Matches());  // one hundredth later
  Call(desfec_, deshor_, "LO");
  EXPECT_TRUE(x->Matches());
  Call(desfec_, deshor_ - 1, "LO");
  EXPECT_FALSE(x->Matches());
  Call(desfec_ + 1, 1, "LO");
  EXPECT_TRUE(x->Matches());  // a day between: any time
  Call(desfec_ + 1, kMaxTime, "LO");
  EXPECT_TRUE(x->Matches());
}

TEST_P(ReportFilters, UnratedCallsAreNeverSelectedWithAllTypes) {
  auto x = Compile(kPlain);
  tipo_ = "";
  Call(desfec_, TimeFromHms(9, 0, 0), "NT");
  EXPECT_FALSE(x->Matches());
  Call(desfec_, TimeFromHms(9, 0, 0), "  ");
  EXPECT_TRUE(x->Matches());
  // A call at time 0 on DESFEC is inside the whole-day INRANGE.
  Call(desfec_, 0, "LO");
  EXPECT_TRUE(x->Matches());
  auto typed = Compile(kPlainTyped);
  tipo_ = "";
  Call(desfec_, 1, "LO");
  EXPECT_FALSE(typed->Matches());  // a typed text with a blank type matches only blank calls
}

TEST_P(ReportFilters, AccountTextReadsTheJoinedAccountAndLowerCaseNames) {
  auto x = Compile(kAccount);
  desde_ = "Cuenta B";
  hasta_ = "Cuenta D";
  auto& account = accounts_.As<nvtest::AccountRecord>();
  Call(desfec_, 100, "LO");
  for (auto [desc, want] :
       {std::pair{"Cuenta A", false}, std::pair{"Cuenta B", true}, std::pair{"Cuenta C   ", true},
        std::pair{"Cuenta D", true}, std::pair{"Cuenta DA", false}, std::pair{"", false}}) {
    account.DESCTA = desc;
    EXPECT_EQ(x->Matches(), want) << desc;
  }
  // DESDE above HASTA selects nothing.
  desde_ = "Cuenta D";
  hasta_ = "Cuenta B";
  for (const char* desc : {"Cuenta A", "Cuenta B", "Cuenta C", "Cuenta D", "Cuenta E"}) {
    account.DESCTA = desc;
    EXPECT_FALSE(x->Matches()) << desc;
  }
}

TEST_P(ReportFilters, FreeAndUnratedTexts) {
  auto free_calls = Compile(kFree);
  auto unrated = Compile(kUnrated);
  CallRecord& r = Call(desfec_, 5, "ES");
  r.COSLLA = 0;
  EXPECT_TRUE(free_calls->Matches());
  EXPECT_FALSE(unrated->Matches());
  r.COSLLA = 0.01;
  EXPECT_FALSE(free_calls->Matches());  // a special call with a cost
  r.TIPOLLA = "NT";
  r.COSLLA = 0;
  EXPECT_FALSE(free_calls->Matches());
  EXPECT_TRUE(unrated->Matches());
  r.TIPOLLA = "LO";
  EXPECT_FALSE(free_calls->Matches());
  EXPECT_FALSE(unrated->Matches());
}

TEST_P(ReportFilters, RequirementText) {
  auto x = Compile(kRequirement);
  ASSERT_TRUE(x);
  tipo_ = "LO";
  deshor_ = 1;
  hashor_ = kMaxTime;
  desdur_ = 0;
  hasdur_ = 60000;
  descos_ = 0;
  hascos_ = 100;
  op_agenda_ = "To";
  op_ctas_ = "To";
  op_agentes_ = "To";
  lines_.As<nvtest::LineRecord>().MULTISEL = 1;
  extensions_.As<nvtest::ExtensionRecord>().MULTISEL = 1;
  auto base = [&]() -> CallRecord& {
    CallRecord& r = Call(desfec_ + 1, 500, "LO");
    r.DURLLA = 3000;
    r.COSLLA = 1.5;
    r.NROTEL = "5550100";
    return r;
  };
  base();
  EXPECT_TRUE(x->Matches());
  base().DURLLA = 60001;
  EXPECT_FALSE(x->Matches());
  base().COSLLA = 100.5;
  EXPECT_FALSE(x->Matches());
  lines_.As<nvtest::LineRecord>().MULTISEL = 0;
  base();
  EXPECT_FALSE(x->Matches());
  lines_.As<nvtest::LineRecord>().MULTISEL = 1;

  // Directory option.
  op_agenda_ = "Ag";
  base().CODIGO = 0;
  EXPECT_FALSE(x->Matches());
  base().CODIGO = 3;
  EXPECT_TRUE(x->Matches());
  op_agenda_ = "No";
  EXPECT_FALSE(x->Matches());
  base().CODIGO = 0;
  EXPECT_TRUE(x->Matches());
  op_agenda_ = "Xx";  // an option outside the three selects nothing
  EXPECT_FALSE(x->Matches());
  op_agenda_ = "To";

  // Accounts: "Si" takes calls whose (blank) code has the value 0.
  op_ctas_ = "Si";
  base().NROCTA = "";
  EXPECT_TRUE(x->Matches());
  base().NROCTA = "15";
  EXPECT_FALSE(x->Matches());
  op_ctas_ = "Se";
  accounts_.As<nvtest::AccountRecord>().MULTISEL = 1;
  EXPECT_TRUE(x->Matches());
  accounts_.As<nvtest::AccountRecord>().MULTISEL = 0;
  EXPECT_FALSE(x->Matches());
  op_ctas_ = "To";

  // Agents.
  op_agentes_ = "Si";
  base().CODAGT = 4;
  EXPECT_FALSE(x->Matches());
  base().CODAGT = 0;
  EXPECT_TRUE(x->Matches());
  op_agentes_ = "To";

  // Numbers: blank bounds do not restrict; with only HASNRO given,
  // RANGO_STRING decides with a blank lower bound.
  hasnro_ = "5550050";
  base();
  EXPECT_FALSE(x->Matches());
  hasnro_ = "5550200";
  EXPECT_TRUE(x->Matches());
  desnro_ = "5550150";
  EXPECT_FALSE(x->Matches());
}

INSTANTIATE_TEST_SUITE_P(DateForms, ReportFilters, ::testing::Values(false, true),
                         [](const auto& info) {
                           return info.param ? std::string("DayNumbers")
                                             : std::string("BinaryDates");
                         });

TEST(ExprSpeed, ManyEvaluationsOfAWindowText) {
  File calls(nvtest::CallDecl("MO01", "speed"));
  Bindings b;
  b.BindFile(&calls);
  int32_t desfec = 80000, hasfec = 80010, deshor = 100, hashor = 200;
  b.Bind("DesFec", &desfec);
  b.Bind("HasFec", &hasfec);
  b.Bind("DesHor", &deshor);
  b.Bind("HasHor", &hashor);
  Error e;
  auto x = Expression::Compile(kWindow, b, &e);
  ASSERT_TRUE(x) << e.message;
  auto& r = calls.As<CallRecord>();
  r.TIPOLLA = "LO";
  int n = 0;
  for (int i = 0; i < 300000; ++i) {
    r.FECLLA = BinFromDate(80000 + i % 12);
    r.HORLLA = i % 300;
    n += x->Matches();
  }
  EXPECT_GT(n, 0);
}

// The dictionary keeps binary dates as groups of day, month and year shown
// with a date picture: filters compare them as day numbers.
#pragma pack(push, 1)
struct DateGroupRecord {
  struct {
    uint8_t DIA;
    uint8_t MES;
    int16_t ANO;
  } FECHA;
  int32_t HORA;
};
#pragma pack(pop)

TEST(ExprDateGroups, AGroupWithADatePictureReadsAsADayNumber) {
  FileDecl d;
  d.label = "LLAMADAS";
  d.driver = "MemTest";
  d.record = DeclareRecord<DateGroupRecord>(
      "LL", {NV_GROUP(DateGroupRecord, FECHA, 3, .picture = "@D6"),
             NV_SUBFIELD(DateGroupRecord, FECHA, DIA), NV_SUBFIELD(DateGroupRecord, FECHA, MES),
             NV_SUBFIELD(DateGroupRecord, FECHA, ANO), NV_FIELD(DateGroupRecord, HORA)});
  File f(d);
  auto& r = f.As<DateGroupRecord>();
  const int32_t day = DateFromYmd(2026, 3, 5);
  BinDate b = BinFromDate(day);
  std::memcpy(&r.FECHA, &b, 4);
  int32_t desde = day - 1, hasta = day;
  Bindings bindings;
  bindings.BindFile(&f);
  bindings.Bind("DesFec", &desde);
  bindings.Bind("HasFec", &hasta);
  Error error;
  auto in = Expression::Compile("INRANGE(LL:FECHA,DesFec,HasFec)", bindings, &error);
  ASSERT_TRUE(in) << error.message;
  EXPECT_TRUE(in->Matches());
  auto eq = Expression::Compile("LL:FECHA = HasFec AND LL:FECHA > DesFec", bindings, &error);
  ASSERT_TRUE(eq) << error.message;
  EXPECT_TRUE(eq->Matches());
  hasta = day - 1;
  EXPECT_FALSE(in->Matches());
}

}  // namespace
