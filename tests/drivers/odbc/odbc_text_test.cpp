// The ODBC driver's text work without a server: connection strings and
// hidden passwords, names, key statements, the filter printer per dialect,
// statements sent by the program, and the value conversions both ways.
#include <cfloat>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "drivers/odbc/odbc_driver.h"
#include "drivers/odbc/odbc_sql.h"
#include "drivers/odbc/odbc_types.h"
#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"

namespace {

using namespace odbc;

TEST(OdbcText, ConnectionStringsFromOwners) {
  const std::pair<const char*, const char*> cases[] = {
      {"Llamadas,pepe,secreto", "DSN=Llamadas;UID=pepe;PWD=secreto"},
      {"Llamadas", "DSN=Llamadas"},
      {"Llamadas,,,Port=5433", "DSN=Llamadas;Port=5433"},
      {",pepe", ";UID=pepe"},
      {"driver={PostgreSQL Unicode};Server=x;pwd=a,b", "driver={PostgreSQL Unicode};Server=x;pwd=a,b"},
      {"Dsn=x;Uid=y", "Dsn=x;Uid=y"},
  };
  for (auto [owner, want] : cases) EXPECT_EQ(ConnectionString(owner), want) << owner;
}

TEST(OdbcText, PasswordsAreHiddenWhereverTheyStand) {
  EXPECT_EQ(HidePasswords("DSN=x;UID=u;PWD=secreto;Port=1"), "DSN=x;UID=u;PWD=********;Port=1");
  EXPECT_EQ(HidePasswords("Driver={A};pwd={se;cr}}eto};Port=1"), "Driver={A};pwd=********;Port=1");
  EXPECT_EQ(HidePasswords("DSN=x; Password=abc"), "DSN=x; Password=********");
  EXPECT_EQ(HidePasswords("DSN=xPWD=no"), "DSN=xPWD=no");  // not an attribute of its own
  // The password in another form of text (a server's message) is hidden too.
  EXPECT_EQ(HidePasswords("falló para la clave secreto!", PasswordsOf("x,u,secreto")),
            "falló para la clave ********!");
  EXPECT_EQ(PasswordsOf("Driver={A};PWD={a;b}}c}"), std::vector<std::string>{"a;b}c"});
}

TEST(OdbcText, NamesCannotCarrySql) {
  EXPECT_EQ(TableName("orders"), "\"ORDERS\"");
  EXPECT_EQ(TableName("dbo.orders"), "dbo.orders");
  EXPECT_EQ(TableName("\"Mixed Case\".t"), "\"Mixed Case\".t");
  EXPECT_EQ(TableName("x.y; DROP TABLE z"), "\"x.y; DROP TABLE z\"");
  EXPECT_EQ(TableName("a\"; DROP TABLE z; --"), "\"A\"\"; DROP TABLE Z; --\"");
  EXPECT_EQ(TableName("\"unterminated.x"), "\"\"\"unterminated.x\"");
  EXPECT_EQ(ColumnName("", "CUS:Name", '|'), "CUS_Name");
  EXPECT_EQ(ColumnName("NOMBRE|BINARY|NOWHERE", "CUS:Name", '|'), "NOMBRE");
  EXPECT_EQ(ColumnName("IX_NOMBRE/HINT=x", "K", '/'), "IX_NOMBRE");
  EXPECT_EQ(ColumnName("a b; --", "CUS:Name", '|'), "");
  EXPECT_EQ(ParseFieldAttributes("X|binary|ZeroNotNull"), kAttrBinary | kAttrZeroNotNull);
}

TEST(OdbcText, KeyStatements) {
  const std::vector<KeyColumn> one = {{"c", false}};
  EXPECT_EQ(PositionCondition(one, true), " (c >= ? )");
  EXPECT_EQ(PositionCondition(one, false), " (c <= ? )");
  EXPECT_EQ(OrderList(one, true), "c");
  EXPECT_EQ(OrderList(one, false), "c DESC ");
  const std::vector<KeyColumn> two = {{"a", false}, {"b", true}};
  EXPECT_EQ(PositionCondition(two, true), " (a >= ? AND (a > ? OR (b <= ? )))");
  EXPECT_EQ(OrderList(two, true), "a,b DESC ");
  EXPECT_EQ(OrderList(two, false), "a DESC,b");
  const std::vector<KeyColumn> three = {{"a", false}, {"b", false}, {"c", false}};
  EXPECT_EQ(PositionCondition(three, true),
            " (a >= ? AND (a > ? OR (b >= ? AND (b > ? OR (c >= ? )))))");
  EXPECT_EQ(EqualityCondition(two), "a = ? AND b = ?");
}

// One table: filter text -> SQL for each dialect (constants bound, constants
// as literals, a server without UCASE/LCASE).
TEST(OdbcText, FilterPrinterByDialect) {
  struct Case {
    const char* filter;
    const char* bound;
    const char* literal;
    const char* plain;
    size_t params;
  };
  const Case cases[] = {
      {"MO:NUM = 'O''Brien''; --'", "(MO_NUM = ?)", "(MO_NUM = 'O''Brien''; --')",
       "(MO_NUM = ?)", 1},
      {"NOT(MO:TIPO = 'NT') AND MO:DUR > 100", "(NOT ((MO_TIPO = ?)) AND (MO_DUR > ?))",
       "(NOT ((MO_TIPO = 'NT')) AND (MO_DUR > 100))", "(NOT ((MO_TIPO = ?)) AND (MO_DUR > ?))", 2},
      {"INRANGE(MO:FECHA, 73000, 73030)", "(MO_FECHA >= ? AND MO_FECHA <= ?)",
       "(MO_FECHA >= {d '2000-11-09'} AND MO_FECHA <= {d '2000-12-09'})",
       "(MO_FECHA >= ? AND MO_FECHA <= ?)", 2},
      {"MO:FECHA = 0 OR MO:HORA < 360001", "((MO_FECHA = ?) OR (MO_HORA < ?))",
       "((MO_FECHA = NULL) OR (MO_HORA < {t '01:00:00'}))", "((MO_FECHA = ?) OR (MO_HORA < ?))", 2},
      {"UPPER(MO:NUM) = Buscado", "({fn UCASE(MO_NUM)} = ?)", "({fn UCASE(MO_NUM)} = 'ab''c')",
       "(MO_NUM = ?)", 1},
      {"LOWER(MO:NUM) <> -2.5", "({fn LCASE(MO_NUM)} <> ?)", "({fn LCASE(MO_NUM)} <> -2.5)",
       "(MO_NUM <> ?)", 1},
  };
  SqlNames names;
  names.field = [](const std::string& label, std::string* column, uint8_t* type) {
    if (label.rfind("MO:", 0) != 0) return false;
    *column = "MO_" + label.substr(3);
    *type = label == "MO:FECHA" ? nv::kTypeDate : label == "MO:HORA" ? nv::kTypeTime : nv::kTypeString;
    return true;
  };
  names.variable = [](const std::string& name, nv::expr::Scalar* v) {
    if (name != "Buscado") return false;
    v->is_text = true;
    v->text = "ab'c   ";
    return true;
  };
  for (const Case& c : cases) {
    nv::expr::Error perr;
    auto tree = nv::expr::Parse(c.filter, &perr);
    ASSERT_TRUE(tree) << c.filter << " " << perr.message;
    const SqlDialect dialects[] = {{true, true, true}, {false, true, true}, {true, false, false}};
    const char* want[] = {c.bound, c.literal, c.plain};
    for (int d = 0; d < 3; ++d) {
      std::string sql, error;
      std::vector<SqlParam> params;
      ASSERT_TRUE(PrintFilter(*tree, dialects[d], names, &sql, &params, &error)) << error;
      EXPECT_EQ(sql, want[d]) << c.filter;
      EXPECT_EQ(params.size(), dialects[d].bind_constants ? c.params : 0u) << c.filter;
    }
  }
  // The bound constant keeps its kind: a day number against a date column.
  nv::expr::Error perr;
  auto tree = nv::expr::Parse("MO:FECHA >= 73000", &perr);
  std::string sql, error;
  std::vector<SqlParam> params;
  ASSERT_TRUE(PrintFilter(*tree, {}, names, &sql, &params, &error));
  ASSERT_EQ(params.size(), 1u);
  EXPECT_EQ(params[0].kind, SqlParam::kDate);
  EXPECT_EQ(params[0].value, 73000);
  // What SQL cannot say is refused with a reason.
  for (const char* bad : {"Desconocida = 1", "MO:NUM = SIN(2)"}) {
    tree = nv::expr::Parse(bad, &perr);
    ASSERT_TRUE(tree);
    EXPECT_FALSE(PrintFilter(*tree, {}, names, &sql, &params, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(OdbcText, StatementsOfTheProgram) {
  struct Case {
    const char* text;
    bool odbc_call;
    const char* sql;
    bool rows;
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a <= 3 AND b = 'x''y'", true, "SELECT * FROM t WHERE a <= 3 AND b = 'x''y'", true},
      {"update t set a=&Loc:Valor", true, "update t set a=?", false},
      {"CALL Recalcular(1, 'a,b')", true, "{CALL Recalcular(1, 'a,b')}", true},
      {"CALL Recalcular", true, "{CALL Recalcular()}", true},
      {"NORESULTCALL Limpiar ( &X )", false, "CALL Limpiar( ? )", false},
      {"&Ret = CALL Total(&A)", true, "{? = CALL Total(?)}", true},
  };
  for (const Case& c : cases) {
    ScannedStatement st;
    std::string error;
    ASSERT_TRUE(ScanStatement(c.text, c.odbc_call, &st, &error)) << c.text << error;
    EXPECT_EQ(st.sql, c.sql);
    EXPECT_EQ(st.returns_rows, c.rows) << c.text;
  }
  ScannedStatement st;
  std::string error;
  EXPECT_FALSE(ScanStatement("SELECT 'abierto", true, &st, &error));
  EXPECT_FALSE(ScanStatement("   ", true, &st, &error));
  EXPECT_FALSE(ScanStatement("CALL", true, &st, &error));
  ASSERT_TRUE(ScanStatement("&Ret = CALL Total(&A, &B)", true, &st, &error));
  EXPECT_EQ(st.variables, (std::vector<std::string>{"Ret", "A", "B"}));
}

// Record -> C buffer -> record is the identity for every field type (the
// texts through UTF-8), over random values.
TEST(OdbcText, ConversionsRoundTripEveryType) {
  std::mt19937 rng(53);
  const ValueShape shapes[] = {
      {nv::kTypeByte, 1},    {nv::kTypeShort, 2},         {nv::kTypeUShort, 2},
      {nv::kTypeLong, 4},    {nv::kTypeULong, 4},         {nv::kTypeSReal, 4},
      {nv::kTypeReal, 8},    {nv::kTypeDecimal, 5, 2},    {nv::kTypeDate, 4},
      {nv::kTypeTime, 4},    {nv::kTypeString, 12},       {nv::kTypeCString, 12},
      {nv::kTypePString, 12}, {nv::kTypeString, 8, 0, true},
  };
  ConvRules rules;
  rules.zero_is_null = false;
  for (const ValueShape& s : shapes) {
    for (int i = 0; i < 300; ++i) {
      uint8_t rec[16] = {}, back[16] = {};
      for (uint32_t b = 0; b < s.size; ++b) rec[b] = uint8_t(rng());
      switch (s.type) {
        case nv::kTypeDecimal: nv::DecimalFromInt64(int64_t(rng() % 2000000) - 1000000, rec, 5, 2); break;
        case nv::kTypeDate: { nv::BinDate d{uint8_t(1 + rng() % 28), uint8_t(1 + rng() % 12), uint16_t(1 + rng() % 9999)}; std::memcpy(rec, &d, 4); break; }
        case nv::kTypeTime: { nv::BinTime t{0, uint8_t(rng() % 60), uint8_t(rng() % 60), uint8_t(rng() % 24)}; std::memcpy(rec, &t, 4); break; }
        case nv::kTypeString:
          if (s.timestamp) {
            nv::BinDate d{uint8_t(1 + rng() % 28), uint8_t(1 + rng() % 12), uint16_t(1 + rng() % 9999)};
            nv::BinTime t{uint8_t(rng() % 100), uint8_t(rng() % 60), uint8_t(rng() % 60), uint8_t(rng() % 24)};
            std::memcpy(rec, &d, 4);
            std::memcpy(rec + 4, &t, 4);
          } else {
            for (uint32_t b = 0; b < s.size; ++b) rec[b] = uint8_t(1 + rng() % 255);
            rec[s.size - 1] = 'x';  // trailing blanks are clipped by design
          }
          break;
        case nv::kTypeCString: {
          const uint32_t n = rng() % s.size;
          for (uint32_t b = 0; b < s.size; ++b) rec[b] = b < n ? uint8_t(1 + rng() % 255) : 0;
          break;
        }
        case nv::kTypePString: {
          rec[0] = uint8_t(rng() % s.size);
          for (uint32_t b = 1; b < s.size; ++b) rec[b] = b <= rec[0] ? uint8_t(rng()) : 0;
          break;
        }
        case nv::kTypeSReal: { float v = float(int32_t(rng())) / 3.f; std::memcpy(rec, &v, 4); break; }
        case nv::kTypeReal: { double v = double(int32_t(rng())) / 3.0; std::memcpy(rec, &v, 8); break; }
        default: break;
      }
      std::vector<char> buf(BufferWidth(s) + 8);
      SQLLEN ind = 0;
      ToBuffer(s, rules, rec, 0, buf.data(), &ind);
      ASSERT_NE(ind, SQL_NULL_DATA);
      // Integers are read as 64-bit values.
      if (IntegerField(s.type)) {
        int64_t v = 0;
        std::memcpy(&v, buf.data(), s.size);
        if (s.type == nv::kTypeShort) v = int16_t(v);
        if (s.type == nv::kTypeLong) v = int32_t(v);
        std::memcpy(buf.data(), &v, 8);
      }
      bool ok = false;
      EXPECT_EQ(FromBuffer(s, buf.data(), ind, back, &ok), 0);
      ASSERT_TRUE(ok);
      ASSERT_EQ(std::memcmp(rec, back, s.size), 0) << "tipo " << int(s.type) << " vuelta " << i;
    }
  }
}

TEST(OdbcText, ConversionEdgeCases) {
  ConvRules rules;
  // A zero date is NULL unless ZEROISNULL is off or the field says ZERONOTNULL.
  uint8_t zero[8] = {};
  char buf[32];
  SQLLEN ind = 0;
  ValueShape date{nv::kTypeDate, 4};
  ToBuffer(date, rules, zero, 0, buf, &ind);
  EXPECT_EQ(ind, SQL_NULL_DATA);
  date.attrs = kAttrZeroNotNull;
  ToBuffer(date, rules, zero, 0, buf, &ind);
  EXPECT_NE(ind, SQL_NULL_DATA);
  // 2000-02-29 travels as such.
  nv::BinDate leap{29, 2, 2000};
  ToBuffer(date, rules, reinterpret_cast<uint8_t*>(&leap), 0, buf, &ind);
  DATE_STRUCT ds;
  std::memcpy(&ds, buf, sizeof ds);
  EXPECT_EQ(ds.year * 10000 + ds.month * 100 + ds.day, 20000229);
  // Timestamp pair: size 16 drops seconds and hundredths, 19 hundredths, 22 keeps them.
  uint8_t pair[8];
  nv::BinDate d{1, 2, 2003};
  nv::BinTime t{34, 12, 30, 10};
  std::memcpy(pair, &d, 4);
  std::memcpy(pair + 4, &t, 4);
  for (auto [size, seconds, fraction] : {std::tuple{16, 0, 0u}, {19, 12, 0u}, {22, 12, 340000000u}}) {
    ValueShape ts{nv::kTypeString, 8, 0, true};
    ts.column_size = SQLULEN(size);
    ToBuffer(ts, rules, pair, 0, buf, &ind);
    TIMESTAMP_STRUCT s;
    std::memcpy(&s, buf, sizeof s);
    EXPECT_EQ(s.second, seconds) << size;
    EXPECT_EQ(s.fraction, fraction) << size;
  }
  // CLIPSTRINGS decides the trailing blanks.
  ValueShape str{nv::kTypeString, 6};
  const uint8_t abc[] = {'A', 'B', 'C', ' ', ' ', ' '};
  ToBuffer(str, rules, abc, 0, buf, &ind);
  EXPECT_EQ(std::string(buf, size_t(ind)), "ABC");
  rules.clip_strings = false;
  ToBuffer(str, rules, abc, 0, buf, &ind);
  EXPECT_EQ(std::string(buf, size_t(ind)), "ABC   ");
  // A null column: blanks into a fixed string, zeros into a zero-terminated one.
  uint8_t out[6];
  bool ok = false;
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(FromBuffer(str, buf, SQL_NULL_DATA, out, &ok), -1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "      ");
  ValueShape cs{nv::kTypeCString, 6};
  EXPECT_EQ(FromBuffer(cs, buf, SQL_NULL_DATA, out, &ok), -1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), std::string(6, '\0'));
  // Out of a field's range: refused, not wrapped.
  ValueShape sh{nv::kTypeShort, 2};
  int64_t big = 40000;
  std::memcpy(buf, &big, 8);
  FromBuffer(sh, buf, 0, out, &ok);
  EXPECT_FALSE(ok);
  ValueShape dec{nv::kTypeDecimal, 2, 0};
  std::strcpy(buf, "12345");
  FromBuffer(dec, buf, 5, out, &ok);
  EXPECT_FALSE(ok);
}

TEST(OdbcText, BackendsByDriverName) {
  EXPECT_EQ(DetectBackend("psqlodbcw.so", "PostgreSQL"), kPostgreSql);
  EXPECT_EQ(DetectBackend("libsqlite3odbc-0.9998.so", "SQLite"), kSqlite);
  EXPECT_EQ(DetectBackend("SQLSRV32.DLL", ""), kSqlServer6);
  EXPECT_EQ(DetectBackend("odbcjt32.dll", ""), kAccess);
  EXPECT_EQ(DetectBackend("other.so", "PostgreSQL 15"), kPostgreSql);
  EXPECT_EQ(DetectBackend("other.so", "Other"), kUnknown);
}

}  // namespace
