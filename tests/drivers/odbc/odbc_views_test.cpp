// Views over ODBC files against the same views over flat files: random
// calls joined to accounts (and their groups) and to extensions, walked
// through a table of view shapes (join styles, inner and outer joins,
// nested joins, ranges, windows, filters, order texts); every shape must
// give the same rows in the same order forward, backward and across a
// change of direction, whether the ODBC driver answers it with one SELECT
// or hands it back to the runtime's walk.
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "host/runtime/declaration.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/view.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace {

using namespace nv;

#pragma pack(push, 1)
struct Day {
  uint8_t DIA;
  uint8_t MES;
  int16_t ANO;
};
struct CallRec {
  int32_t CODE;
  String<6> LINE;
  Day FEC;
  int32_t HOR;
  double COST;
  String<4> ACCT;
  int16_t EXT;
};
struct AcctRec {
  String<4> ACCT;
  String<20> DESC;
  int16_t GRP;
};
struct GroupRec {
  int16_t GRP;
  String<10> NAME;
};
struct ExtRec {
  int16_t EXT;
  String<12> NAME;
};
#pragma pack(pop)

std::shared_ptr<const RecordType> CallType() {
  static auto rt = DeclareRecord<CallRec>(
      "P", {NV_FIELD(CallRec, CODE), NV_FIELD(CallRec, LINE),
            NV_GROUP(CallRec, FEC, 3, .picture = "@D6"), NV_SUBFIELD(CallRec, FEC, DIA),
            NV_SUBFIELD(CallRec, FEC, MES), NV_SUBFIELD(CallRec, FEC, ANO), NV_FIELD(CallRec, HOR),
            NV_FIELD(CallRec, COST), NV_FIELD(CallRec, ACCT), NV_FIELD(CallRec, EXT)});
  return rt;
}
std::shared_ptr<const RecordType> AcctType() {
  static auto rt = DeclareRecord<AcctRec>(
      "A", {NV_FIELD(AcctRec, ACCT), NV_FIELD(AcctRec, DESC), NV_FIELD(AcctRec, GRP)});
  return rt;
}
std::shared_ptr<const RecordType> GroupType() {
  static auto rt =
      DeclareRecord<GroupRec>("G", {NV_FIELD(GroupRec, GRP), NV_FIELD(GroupRec, NAME)});
  return rt;
}
std::shared_ptr<const RecordType> ExtType() {
  static auto rt = DeclareRecord<ExtRec>("E", {NV_FIELD(ExtRec, EXT), NV_FIELD(ExtRec, NAME)});
  return rt;
}

enum class Store { kFlat, kSqlite, kPostgres };

// The four files in one store.
struct Files {
  std::unique_ptr<File> calls, accounts, groups, exts;
};

FileDecl Decl(const std::string& table, std::shared_ptr<const RecordType> rt, Store store,
              const std::string& where, std::vector<KeyDef> keys) {
  FileDecl d;
  d.label = table;
  d.record = rt;
  d.keys = std::move(keys);
  if (store == Store::kFlat) {
    d.driver = "Norvane";
    d.name = where + "/" + table;
  } else {
    d.driver = "ODBC";
    d.name = "V" + table;
    d.owner = where;
  }
  return d;
}

struct Data {
  std::vector<CallRec> calls;
  std::vector<AcctRec> accounts;
  std::vector<GroupRec> groups;
  std::vector<ExtRec> exts;
};

Data MakeData(unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  Data d;
  const char* names[] = {"Norte", "Sur", "Ventas", "Compras", "Dirección", "norte"};
  for (int g = 1; g <= 4; ++g) {
    GroupRec r{};
    r.GRP = int16_t(g);
    r.NAME = names[pick(6)];
    d.groups.push_back(r);
  }
  for (int a = 1; a <= 8; a += 1 + pick(2)) {  // some accounts are missing
    AcctRec r{};
    r.ACCT = "A" + std::to_string(a);
    r.DESC = std::string(names[pick(6)]) + " " + std::to_string(pick(3));
    r.GRP = int16_t(1 + pick(6));  // groups 5 and 6 do not exist
    d.accounts.push_back(r);
  }
  for (int e = 100; e < 110; e += 1 + pick(2)) {
    ExtRec r{};
    r.EXT = int16_t(e);
    r.NAME = names[pick(6)];
    d.exts.push_back(r);
  }
  for (int i = 1; i <= 160; ++i) {
    CallRec r{};
    r.CODE = i;
    r.LINE = "L" + std::to_string(1 + pick(5));
    r.FEC.ANO = int16_t(2026);
    r.FEC.MES = uint8_t(1 + pick(3));
    r.FEC.DIA = uint8_t(1 + pick(28));
    r.HOR = 1 + pick(8640000);
    r.COST = pick(4) == 0 ? 0.0 : pick(1000) / 100.0;  // many ties
    r.ACCT = "A" + std::to_string(1 + pick(9));
    r.EXT = int16_t(99 + pick(12));
    d.calls.push_back(r);
  }
  // Lines that sort around the others: a quote, and small letters (equal
  // to "L3" where case does not count).
  for (const char* line : {"L'3", "l3", "L'3", "l3"}) {
    CallRec r = d.calls[size_t(pick(40))];
    r.CODE = int32_t(d.calls.size() + 1);
    r.LINE = line;
    d.calls.push_back(r);
  }
  return d;
}

template <class R>
void Load(File& f, const std::vector<R>& rows) {
  ASSERT_EQ(f.Create(), 0) << f.decl().label << " " << nv::ErrorText();
  ASSERT_EQ(f.Open(), 0) << f.Name();
  const bool odbc = f.decl().driver == "ODBC";
  if (odbc) {
    ASSERT_EQ(f.Logout(), 0);  // one transaction: SQLite syncs each one
  }
  for (const R& r : rows) {
    f.As<R>() = r;
    ASSERT_EQ(f.Add(), 0);
  }
  if (odbc) {
    ASSERT_EQ(f.Commit(), 0);
  }
}

// One shape of view.
struct Shape {
  const char* name;
  const char* key = nullptr;  // label of a key of the calls
  const char* low = nullptr;  // text range on the key's leading field
  const char* high = nullptr;
  bool numbers = false;  // the range's ends are numbers
  int window = 0;        // FEC..HOR window under the line: 1 over two months, 2 within one
  const char* filter = "";
  const char* order = "";
  int joins = 0;       // 1: accounts; 2: + groups under accounts; 3: + extensions
  bool inner = false;  // the accounts join is inner
  const char* style = "DB2";
  bool use_inner_join = true;
  bool mixed = false;         // accounts from the flat store
  bool expect_served = true;  // over SQLite and PostgreSQL
  bool nests = false;         // served only where joins nest (not SQLite)
  bool lead_list = false;     // PostgreSQL is given the range's leading values as a list
  // The labels projected; empty: every field.
  std::vector<std::string> project = {};
};

const Shape kShapes[] = {
    {.name = "orden_de_registro"},
    {.name = "clave_con_rango", .key = "P:K_LINE", .low = "L2", .high = "L4"},
    {.name = "rango_y_ventana",
     .key = "P:K_LINE",
     .low = "L1",
     .high = "L3",
     .window = 1,
     .lead_list = true},
    {.name = "clave_descendente_y_filtro",
     .key = "P:K_COST",
     .filter = "P:COST > 2.5 AND NOT(P:ACCT = 'A1') OR P:EXT = Limite"},
    {.name = "relaciones_db2", .key = "P:K_LINE", .joins = 3},
    {.name = "relaciones_watcom", .key = "P:K_LINE", .joins = 3, .style = "WATCOM"},
    {.name = "microsoft_una_cadena",
     .key = "P:K_LINE",
     .joins = 2,
     .style = "MICROSOFT",
     .nests = true},
    {.name = "microsoft_dos_relaciones",
     .key = "P:K_LINE",
     .joins = 3,
     .style = "MICROSOFT",
     .expect_served = false},
    {.name = "interna", .key = "P:K_LINE", .joins = 1, .inner = true},
    {.name = "interna_en_where", .joins = 1, .inner = true, .use_inner_join = false},
    {.name = "estilo_inner", .joins = 1, .inner = true, .style = "INNER"},
    {.name = "estilo_inner_externa",
     .key = "P:K_LINE",
     .joins = 1,
     .style = "INNER",
     .expect_served = false},
    {.name = "orden_por_texto", .key = "P:K_LINE", .order = "A:DESC,-P:FEC,P:HOR", .joins = 3},
    {.name = "filtro_sobre_relacion", .filter = "NOT(A:GRP = 2) AND E:NAME <> 'Norte'", .joins = 3},
    {.name = "filtro_con_grupo_fecha",
     .key = "P:K_LINE",
     .filter = "INRANGE(P:FEC,Desde,Hasta) AND P:COST > 0"},
    {.name = "procedimiento_en_filtro",
     .key = "P:K_LINE",
     .filter = "Par(P:LINE)",
     .expect_served = false},
    {.name = "dos_drivers", .key = "P:K_LINE", .joins = 1, .mixed = true, .expect_served = false},
    {.name = "ventana_de_un_mes",
     .key = "P:K_LINE",
     .low = "L2",
     .high = "L5",
     .window = 2,
     .lead_list = true},
    {.name = "ventana_clave_descendente",
     .key = "P:K_LINE_DESC",
     .low = "L2",
     .high = "l3",
     .window = 2,
     .lead_list = true},
    {.name = "ventana_con_comilla",
     .key = "P:K_LINE",
     .low = "L'",
     .high = "L3",
     .window = 1,
     .filter = "P:COST > 0",
     .joins = 1,
     .lead_list = true},
    {.name = "ventana_bajo_un_numero",
     .key = "P:K_EXT",
     .low = "100.5",
     .high = "107",
     .numbers = true,
     .window = 1,
     .lead_list = true},
    {.name = "ventana_sin_mayusculas",
     .key = "P:K_LINE_NOCASE",
     .low = "L2",
     .high = "L4",
     .window = 2},
    {.name = "proyeccion_con_grupo_y_relaciones",
     .key = "P:K_LINE",
     .low = "L1",
     .high = "L4",
     .window = 1,
     .joins = 3,
     .lead_list = true,
     .project = {"P:FEC", "p:cost", "A:DESC", "E:NAME"}},
    {.name = "proyeccion_con_orden_por_texto",
     .filter = "E:NAME <> 'Norte'",
     .order = "A:DESC,-P:FEC,P:HOR",
     .joins = 3,
     .project = {"P:LINE", "G:NAME"}},
};

class ViewsAgainstFlat : public ::testing::TestWithParam<Store> {
 protected:
  static void SetUpTestSuite() { data_ = MakeData(20261208); }

  void SetUp() override {
    ClearError();
    char tmpl[] = "/tmp/nvviewsXXXXXX";
    folder_ = ::mkdtemp(tmpl);
    flat_ = Make(Store::kFlat, folder_);
    flat_accounts_ = flat_.accounts.get();
    if (GetParam() == Store::kFlat) return;
    const auto& sv = odbctest::GetServers(GetParam() == Store::kPostgres);
    if (GetParam() == Store::kPostgres && !sv.pg_skip.empty()) GTEST_SKIP() << sv.pg_skip;
    if (GetParam() == Store::kPostgres && !sv.pg_error.empty()) FAIL() << sv.pg_error;
    odbc_ = Make(GetParam(), GetParam() == Store::kSqlite ? sv.SqliteOwner() : sv.PgOwner());
  }
  void TearDown() override {
    odbc_ = Files{};
    flat_ = Files{};
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  Files Make(Store store, const std::string& where) {
    Files f;
    f.calls = std::make_unique<File>(
        Decl("CALLS", CallType(), store, where,
             {{"P:K_CODE", {"P:CODE"}, kKeyPrimary, ""},
              {"P:K_LINE", {"P:LINE", "P:ANO", "P:MES", "P:DIA", "P:HOR"}, kKeyDup, ""},
              {"P:K_COST", {"-P:COST"}, kKeyDup, ""},
              {"P:K_EXT", {"P:EXT", "P:ANO", "P:MES", "P:DIA", "P:HOR"}, kKeyDup, ""},
              {"P:K_LINE_DESC", {"-P:LINE", "P:ANO", "P:MES", "P:DIA", "P:HOR"}, kKeyDup, ""},
              {"P:K_LINE_NOCASE",
               {"P:LINE", "P:ANO", "P:MES", "P:DIA", "P:HOR"},
               kKeyDup | kKeyNoCase,
               ""}}));
    f.accounts = std::make_unique<File>(
        Decl("ACCTS", AcctType(), store, where, {{"A:K_ACCT", {"A:ACCT"}, kKeyPrimary, ""}}));
    f.groups = std::make_unique<File>(
        Decl("GRPS", GroupType(), store, where, {{"G:K_GRP", {"G:GRP"}, kKeyPrimary, ""}}));
    f.exts = std::make_unique<File>(
        Decl("EXTS", ExtType(), store, where, {{"E:K_EXT", {"E:EXT"}, kKeyPrimary, ""}}));
    for (File* file : {f.calls.get(), f.accounts.get(), f.groups.get(), f.exts.get()}) {
      file->Remove();
    }
    ClearError();
    Load(*f.calls, data_.calls);
    Load(*f.accounts, data_.accounts);
    Load(*f.groups, data_.groups);
    Load(*f.exts, data_.exts);
    return f;
  }

  // The view of a shape over a store's files.
  std::unique_ptr<View> MakeView(Files& f, const Shape& s) {
    auto v = std::make_unique<View>(f.calls.get());
    expr::Error e;
    File* accounts = s.mixed ? flat_.accounts.get() : f.accounts.get();
    if (s.joins >= 1) {
      EXPECT_TRUE(v->Join(accounts, accounts->key("A:K_ACCT"), {"P:ACCT"}, &e, s.inner))
          << e.message;
    }
    if (s.joins >= 2) {
      EXPECT_TRUE(v->Join(f.groups.get(), f.groups->key("G:K_GRP"), {"A:GRP"}, &e)) << e.message;
    }
    if (s.joins >= 3) {
      EXPECT_TRUE(v->Join(f.exts.get(), f.exts->key("E:K_EXT"), {"P:EXT"}, &e)) << e.message;
    }
    if (s.key) v->SetKey(f.calls->key(s.key));
    if (s.low && s.numbers) v->SetRange(Value(std::stod(s.low)), Value(std::stod(s.high)));
    if (s.low && !s.numbers) v->SetRange(Value(s.low), Value(s.high));
    if (s.window) {
      const bool one_month = s.window == 2;
      EXPECT_TRUE(v->SetWindow({"P:FEC", "P:HOR"},
                               {Value(DateFromYmd(2026, one_month ? 2 : 1, one_month ? 3 : 20)),
                                Value(4000000)},
                               {Value(DateFromYmd(2026, 2, 27)), Value(6000000)}, &e))
          << e.message;
    }
    v->bindings().Bind("Limite", &limit_);
    v->bindings().Bind("Desde", &desde_);
    v->bindings().Bind("Hasta", &hasta_);
    v->bindings().BindProcedure(
        "Par", [](const std::string& line, const std::string&, const std::string&) {
          return Value(line.size() > 1 && (line[1] - '0') % 2 == 0 ? 1 : 0);
        });
    EXPECT_TRUE(v->SetFilter(s.filter, &e)) << e.message;
    EXPECT_TRUE(v->SetOrder(s.order, &e)) << e.message;
    EXPECT_TRUE(v->Project(s.project, &e)) << e.message;
    if (f.calls->decl().driver == "ODBC") {
      EXPECT_EQ(f.calls->Send(std::string("/JOINTYPE=") + s.style), s.style);
      f.calls->Send(std::string("/USEINNERJOIN=") + (s.use_inner_join ? "TRUE" : "FALSE"));
    }
    return v;
  }

  // Every buffer of the view's files, as one line.
  std::string Row(Files& f, const Shape& s) {
    std::ostringstream os;
    auto dump = [&](File& file) {
      for (uint32_t i = 0; i < file.record_length(); ++i) os << int(file.record()[i]) << ',';
      os << '|';
    };
    dump(*f.calls);
    if (s.joins >= 1) dump(s.mixed ? *flat_accounts_ : *f.accounts);
    if (s.joins >= 2) dump(*f.groups);
    if (s.joins >= 3) dump(*f.exts);
    return os.str();
  }

  // Forward to the end, back to the start, then 3 forward and 2 back.
  std::vector<std::string> Walk(Files& f, View& v, const Shape& s, int* rows) {
    std::vector<std::string> out;
    int err;
    EXPECT_EQ(v.Set(), 0);
    *rows = 0;
    while ((err = v.Next()) == 0) {
      out.push_back(Row(f, s));
      ++*rows;
    }
    out.push_back("end " + std::to_string(err));
    EXPECT_EQ(v.Set(), 0);
    while ((err = v.Previous()) == 0) out.push_back(Row(f, s));
    out.push_back("start " + std::to_string(err));
    EXPECT_EQ(v.Set(), 0);
    for (int dir : {1, 1, 1, -1, -1}) {
      err = dir > 0 ? v.Next() : v.Previous();
      out.push_back(err == 0 ? Row(f, s) : "error " + std::to_string(err));
    }
    out.push_back("records " + std::to_string(v.Records()));
    return out;
  }

  static Data data_;
  std::string folder_;
  Files flat_, odbc_;
  File* flat_accounts_ = nullptr;
  double limit_ = 104;
  int32_t desde_ = DateFromYmd(2026, 2, 10), hasta_ = DateFromYmd(2026, 3, 5);
};
Data ViewsAgainstFlat::data_;

TEST_P(ViewsAgainstFlat, EveryShapeGivesTheFlatRowsInTheFlatOrder) {
  for (const Shape& s : kShapes) {
    SCOPED_TRACE(s.name);
    auto flat_view = MakeView(flat_, s);
    int flat_rows = 0;
    const std::vector<std::string> expected = Walk(flat_, *flat_view, s, &flat_rows);
    EXPECT_FALSE(flat_view->served());
    EXPECT_GT(flat_rows, 0);  // every shape selects something
    if (GetParam() == Store::kFlat) continue;
    auto v = MakeView(odbc_, s);
    int rows = 0;
    const std::vector<std::string> got = Walk(odbc_, *v, s, &rows);
    const bool served = s.expect_served && !(s.nests && GetParam() == Store::kSqlite);
    EXPECT_EQ(v->served(), served) << v->driver_block().reason;
    if (GetParam() == Store::kPostgres && served) {
      const std::string& sql = v->driver_block().statement;
      EXPECT_EQ(sql.find("= ANY(ARRAY(WITH RECURSIVE") != std::string::npos, s.lead_list) << sql;
    }
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "fila " << i;
  }
}

TEST_P(ViewsAgainstFlat, AnEmptyCorrelationNameLeavesColumnsUnqualified) {
  if (GetParam() == Store::kFlat) GTEST_SKIP() << "solo vistas ODBC";
  const Shape& s = kShapes[4];  // three joins
  ASSERT_EQ(odbc_.exts->SetProperty(29252, ""), 0);
  ASSERT_EQ(odbc_.groups->SetProperty(29252, "GR"), 0);
  auto v = MakeView(odbc_, s);
  ASSERT_EQ(v->Set(), 0);
  ASSERT_TRUE(v->served()) << v->driver_block().reason;
  const std::string& sql = v->driver_block().statement;
  EXPECT_NE(sql.find("\"VEXTS\" ON A.P_EXT=E_EXT"), std::string::npos) << sql;
  EXPECT_NE(sql.find("\"VGRPS\" GR ON B.A_GRP=GR.G_GRP"), std::string::npos) << sql;
  // A joined file that is not open fails the view with 37; so does a walk
  // whose primary file was closed under it.
  ASSERT_EQ(v->Next(), 0);
  odbc_.exts->Close();
  EXPECT_EQ(v->Set(), 37);
  ASSERT_EQ(odbc_.exts->Open(), 0);
  ASSERT_EQ(v->Set(), 0);
  ASSERT_EQ(v->Next(), 0);
  odbc_.calls->Close();
  EXPECT_EQ(v->Next(), 37);
}

// A range with no leading value in it, or with its low end above its high
// end, on the key and on the key walked backward: an empty view, however it
// is walked and counted.
TEST_P(ViewsAgainstFlat, ARangeWithoutLeadingValuesIsAnEmptyView) {
  Files& f = GetParam() == Store::kFlat ? flat_ : odbc_;
  for (const char* key : {"P:K_LINE", "P:K_LINE_DESC"}) {
    for (const auto& [low, high] : {std::pair{"M1", "M9"}, std::pair{"L4", "L2"}}) {
      Shape s{.name = "vacia", .key = key, .low = low, .high = high, .window = 2};
      auto v = MakeView(f, s);
      EXPECT_EQ(v->Set(), 0);
      EXPECT_EQ(v->Next(), 33);
      EXPECT_EQ(v->Previous(), 33);
      EXPECT_EQ(v->Set(), 0);
      EXPECT_EQ(v->Previous(), 33);
      EXPECT_EQ(v->Records(), 0);
      EXPECT_EQ(v->served(), GetParam() != Store::kFlat) << v->driver_block().reason;
      if (GetParam() == Store::kPostgres) {
        EXPECT_NE(v->driver_block().statement.find("= ANY(ARRAY("), std::string::npos);
      }
    }
  }
}

// More leading values in the range than the list takes: the plain range,
// with the same rows. One value fewer: the list.
TEST_P(ViewsAgainstFlat, BeyondAThousandLeadingValuesTheRangeIsReadWhole) {
  if (GetParam() != Store::kPostgres) GTEST_SKIP() << "solo PostgreSQL";
  File many(Decl("MANY", CallType(), Store::kPostgres, odbctest::GetServers(true).PgOwner(),
                 {{"P:K_LINE", {"P:LINE", "P:ANO", "P:MES", "P:DIA", "P:HOR"}, kKeyDup, ""}}));
  many.Remove();
  ClearError();
  std::vector<CallRec> rows;
  for (int i = 0; i <= 1000; ++i) {
    CallRec r{};
    r.CODE = i;
    r.LINE = std::to_string(100000 + i);
    r.FEC = {uint8_t(1 + i % 28), uint8_t(1 + i % 3), 2026};
    r.HOR = 5000000;
    rows.push_back(r);
  }
  Load(many, rows);
  for (const char* low : {"100000", "100001"}) {
    SCOPED_TRACE(low);
    View v(&many);
    expr::Error e;
    v.SetKey(many.key("P:K_LINE"));
    v.SetRange(Value(low), Value("101000"));
    ASSERT_TRUE(v.SetWindow({"P:FEC", "P:HOR"}, {Value(DateFromYmd(2026, 2, 3)), Value(0)},
                            {Value(DateFromYmd(2026, 2, 27)), Value(0)}, &e))
        << e.message;
    std::vector<int> got, expected;
    for (const CallRec& r : rows)
      if (r.CODE >= std::stoi(low) - 100000 && r.FEC.MES == 2 && r.FEC.DIA >= 3 && r.FEC.DIA < 27)
        expected.push_back(r.CODE);
    ASSERT_EQ(v.Set(), 0);
    while (v.Next() == 0) got.push_back(many.As<CallRec>().CODE);
    EXPECT_EQ(got, expected);
    ASSERT_TRUE(v.served()) << v.driver_block().reason;
    const bool listed = v.driver_block().statement.find("= ANY(ARRAY(") != std::string::npos;
    EXPECT_EQ(listed, low[5] == '1');
  }
  many.Close();
  many.Remove();
}

// A projected view fetches the projected fields and the columns that
// position it, no others; labels that name no field are refused by the
// runtime, and a driver handed one anyway reads every field.
TEST_P(ViewsAgainstFlat, AProjectionFetchesOnlyWhatTheProgramReads) {
  if (GetParam() == Store::kFlat) GTEST_SKIP() << "solo vistas ODBC";
  const Shape& s = kShapes[std::size(kShapes) - 2];
  ASSERT_EQ(std::string(s.name), "proyeccion_con_grupo_y_relaciones");
  auto v = MakeView(odbc_, s);
  auto columns = [](const std::string& sql) { return sql.substr(0, sql.find(" FROM ")); };
  ASSERT_EQ(v->Set(), 0);
  ASSERT_TRUE(v->served()) << v->driver_block().reason;
  std::string sql = columns(v->driver_block().statement);
  for (const char* fetched : {"A.P_CODE", "A.P_ANO", "A.P_COST", "B.A_ACCT", "B.A_DESC", "C.G_GRP",
                              "D.E_EXT", "D.E_NAME"})
    EXPECT_NE(sql.find(fetched), std::string::npos) << fetched << " in " << sql;
  for (const char* left : {"P_LINE", "P_HOR", "P_ACCT", "A_GRP", "G_NAME"})
    EXPECT_EQ(sql.find(left), std::string::npos) << left << " in " << sql;

  expr::Error e;
  EXPECT_FALSE(v->Project({"P:LINE", "P:NADA"}, &e));
  EXPECT_NE(e.message.find("'P:NADA' no es un campo de los archivos de la vista"),
            std::string::npos)
      << e.message;
  v->bindings().BindFile(flat_.groups.get(), "X");  // bound, but no file of the view
  EXPECT_FALSE(v->Project({"X:NAME"}, &e));
  ASSERT_EQ(v->Set(), 0);  // the projection as it was
  EXPECT_EQ(columns(v->driver_block().statement), sql);

  auto entry = reinterpret_cast<ViewEntryFn>(odbc_.calls->Call(kOpViewEntry));
  ASSERT_NE(entry, nullptr);
  ViewDescriptor d = v->Descriptor();
  d.projected = {"P:LINE", "P:NADA"};
  ViewBlock b;
  b.descriptor = &d;
  b.bindings = &v->bindings();
  ASSERT_EQ(entry(kViewOpen, &b), 0);
  sql = columns(b.statement);
  for (const char* every : {"A.P_LINE", "A.P_HOR", "B.A_GRP", "C.G_NAME"})
    EXPECT_NE(sql.find(every), std::string::npos) << every << " in " << sql;
  EXPECT_EQ(entry(kViewNext, &b), 0);
  const int32_t hor = odbc_.calls->As<CallRec>().HOR;  // a field not asked for is read
  EXPECT_NE(hor, 0);
  EXPECT_EQ(entry(kViewClose, &b), 0);
}

// A primary file without a row-identifying key (the call files): a turn
// finds the current row again by the columns fetched, the key's among them,
// and the key's fields, fetched but not projected, still read blank.
TEST_P(ViewsAgainstFlat, AProjectedWalkWithoutARowKeyTurnsAsTheFlatWalk) {
  if (GetParam() == Store::kFlat) GTEST_SKIP() << "solo vistas ODBC";
  const auto& sv = odbctest::GetServers(GetParam() == Store::kPostgres);
  auto make = [&](Store store, const std::string& where) {
    auto f = std::make_unique<File>(
        Decl("CALLSNK", CallType(), store, where,
             {{"P:K_LINE", {"P:LINE", "P:ANO", "P:MES", "P:DIA", "P:HOR"}, kKeyDup, ""}}));
    f->Remove();
    ClearError();
    Load(*f, data_.calls);
    return f;
  };
  auto walk = [](File& f, bool* served) {
    View v(&f);
    v.SetKey(f.key("P:K_LINE"));
    v.SetRange(Value("L2"), Value("L4"));
    EXPECT_TRUE(v.Project({"P:ACCT"}));  // few values: many rows alike
    std::vector<std::string> rows;
    EXPECT_EQ(v.Set(), 0);
    for (int dir : {1, 1, 1, 1, 1, -1, -1, -1, 1, 1}) {
      const int err = dir > 0 ? v.Next() : v.Previous();
      rows.push_back(err == 0
                         ? std::string(reinterpret_cast<const char*>(f.record()), f.record_length())
                         : "error " + std::to_string(err));
    }
    *served = v.served();
    return rows;
  };
  auto flat = make(Store::kFlat, folder_);
  auto odbc = make(GetParam(), GetParam() == Store::kSqlite ? sv.SqliteOwner() : sv.PgOwner());
  bool flat_served = false, served = false;
  const std::vector<std::string> expected = walk(*flat, &flat_served);
  EXPECT_EQ(walk(*odbc, &served), expected);
  EXPECT_TRUE(served);
  const CallRec& last = *reinterpret_cast<const CallRec*>(expected.back().data());
  EXPECT_EQ(last.LINE.str(), "");
}

INSTANTIATE_TEST_SUITE_P(Stores, ViewsAgainstFlat,
                         ::testing::Values(Store::kFlat, Store::kSqlite, Store::kPostgres),
                         [](const auto& info) {
                           return std::string(info.param == Store::kFlat     ? "Flat"
                                              : info.param == Store::kSqlite ? "SQLite"
                                                                             : "PostgreSQL");
                         });

}  // namespace
