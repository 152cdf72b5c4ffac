// The ODBC driver loaded through the runtime as a program loads it, over
// SQLite and over a PostgreSQL server: connecting and its refusals, the
// basic file operations in key order, every field type both ways, hostile
// texts, batches, row sets, transactions, statements sent by the program,
// and the password kept out of every log and error text.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <functional>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace {

using namespace nv;

#pragma pack(push, 1)
struct ConfRecord {
  int32_t CODE;
  String<20> NAME;
  int16_t AGE;
};
struct AllRecord {
  int32_t CODE;
  uint8_t BYTE;
  int16_t SHORT;
  uint16_t USHORT;
  BinDate DATE;
  BinTime TIME;
  uint32_t ULONG;
  float SREAL;
  double REAL;
  Decimal<5, 2> DEC;
  String<30> NAME;
  CString<31> CNAME;
  PString<31> PNAME;
};
struct LongRecord {
  int32_t CODE;
  String<10000> TEXT;
  CString<10001> CTEXT;
  PString<256> PTEXT;
};
#pragma pack(pop)

enum class Server { kSqlite, kPostgres };

std::string ServerName(Server s) {
  return s == Server::kSqlite ? "SQLite" : "PostgreSQL";
}

class OdbcServer : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    const auto& sv = odbctest::GetServers(GetParam() == Server::kPostgres);
    if (GetParam() == Server::kPostgres && !sv.pg_skip.empty()) GTEST_SKIP() << sv.pg_skip;
    if (GetParam() == Server::kPostgres && !sv.pg_error.empty()) FAIL() << sv.pg_error;
    owner_ = GetParam() == Server::kSqlite ? sv.SqliteOwner() : sv.PgOwner();
    ClearError();
    // Every test starts without the tables it uses.
    for (const char* t : {"CONF", "TIPOS", "LARGOS", "GEMELOS"}) {
      File f(Decl<ConfRecord>(t, ConfType()));
      f.Remove();
    }
    ClearError();
  }

  static std::shared_ptr<const RecordType> ConfType() {
    static auto rt = DeclareRecord<ConfRecord>(
        "CF", {NV_FIELD(ConfRecord, CODE), NV_FIELD(ConfRecord, NAME), NV_FIELD(ConfRecord, AGE)});
    return rt;
  }
  static std::shared_ptr<const RecordType> AllType() {
    static auto rt = DeclareRecord<AllRecord>(
        "AL", {NV_FIELD(AllRecord, CODE), NV_FIELD(AllRecord, BYTE), NV_FIELD(AllRecord, SHORT),
               NV_FIELD(AllRecord, USHORT), NV_FIELD(AllRecord, DATE), NV_FIELD(AllRecord, TIME),
               NV_FIELD(AllRecord, ULONG), NV_FIELD(AllRecord, SREAL), NV_FIELD(AllRecord, REAL),
               NV_FIELD(AllRecord, DEC), NV_FIELD(AllRecord, NAME), NV_FIELD(AllRecord, CNAME),
               NV_FIELD(AllRecord, PNAME)});
    return rt;
  }
  static std::shared_ptr<const RecordType> LongType() {
    static auto rt = DeclareRecord<LongRecord>(
        "LG", {NV_FIELD(LongRecord, CODE), NV_FIELD(LongRecord, TEXT), NV_FIELD(LongRecord, CTEXT),
               NV_FIELD(LongRecord, PTEXT)});
    return rt;
  }

  template <class R>
  FileDecl Decl(const std::string& table, std::shared_ptr<const RecordType> rt,
                const std::string& options = "") {
    FileDecl d;
    d.label = table;
    d.driver = "ODBC";
    d.name = table;
    d.owner = owner_;
    d.driver_string = options;
    d.record = rt;
    const std::string code = rt->prefix + ":CODE";
    d.keys = {{rt->prefix + ":K_" + table + "_CODE", {code}, kKeyPrimary, ""}};
    if (rt == ConfType())
      d.keys.push_back({"CF:K_CONF_NAME", {"CF:NAME", "-CF:AGE"}, kKeyDup, ""});
    return d;
  }

  std::unique_ptr<File> Conf(const std::string& options = "") {
    return std::make_unique<File>(Decl<ConfRecord>("CONF", ConfType(), options));
  }
  std::unique_ptr<File> Filled(const std::vector<std::string>& names, const std::string& options = "") {
    auto f = Conf(options);
    EXPECT_EQ(f->Create(), 0) << FileError();
    EXPECT_EQ(f->Open(), 0) << FileError();
    for (size_t i = 0; i < names.size(); ++i) {
      Put(*f, int32_t(i + 1), names[i], int16_t(20 + i));
      EXPECT_EQ(f->Add(), 0) << FileError();
    }
    return f;
  }
  static void Put(File& f, int32_t code, const std::string& name, int16_t age) {
    auto& r = f.As<ConfRecord>();
    r.CODE = code;
    r.NAME = name;
    r.AGE = age;
  }
  static int32_t Code(File& f) { return f.As<ConfRecord>().CODE; }
  static std::vector<int32_t> Walk(File& f, KeyDecl* key, bool forward) {
    std::vector<int32_t> v;
    key ? f.Set(key) : f.Set();
    while ((forward ? f.Next() : f.Previous()) == 0) v.push_back(Code(f));
    return v;
  }

  std::string owner_;
};

// --- The conformance cases the driver serves so far.

TEST_P(OdbcServer, CreatedTableOpensEmptyAndKeepsRecordsInKeyOrder) {
  auto f = Conf();
  ASSERT_EQ(f->Create(), 0) << FileError();
  ASSERT_EQ(f->Open(), 0) << FileError();
  EXPECT_EQ(f->Records(), 0);
  f->Set(f->key(0));
  EXPECT_EQ(f->Next(), 33);
  for (auto [code, name] : std::vector<std::pair<int, std::string>>{
           {4, "ZAPATA"}, {1, "PEREZ"}, {5, "BRAVO"}, {3, "ALVAREZ"}, {2, "GOMEZ"}}) {
    Put(*f, code, name, int16_t(code * 10));
    ASSERT_EQ(f->Add(), 0) << FileError();
  }
  EXPECT_EQ(f->Records(), 5);
  EXPECT_EQ(f->Records(f->key(1)), 5);
  EXPECT_EQ(Walk(*f, f->key(0), true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Walk(*f, f->key(0), false), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  EXPECT_EQ(Walk(*f, f->key(1), true), (std::vector<int32_t>{3, 5, 2, 1, 4}));
  // From a key value on, inclusive.
  Put(*f, 0, "GOMEZ", 20);
  f->Set(f->key(1), f->key(1));
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Code(*f), 2);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Code(*f), 1);
  // Turning round goes back over the record just read.
  ASSERT_EQ(f->Previous(), 0) << FileError();
  EXPECT_EQ(Code(*f), 2);
  // By key; a missing value is 35.
  Put(*f, 3, "", 0);
  ASSERT_EQ(f->Get(f->key(0)), 0) << FileError();
  EXPECT_EQ(Clip(f->As<ConfRecord>().NAME.view()), "ALVAREZ");
  EXPECT_EQ(int(f->As<ConfRecord>().AGE), 30);
  Put(*f, 99, "", 0);
  EXPECT_EQ(f->Get(f->key(0)), 35);
  // A duplicate of a unique key is 40 and adds nothing.
  Put(*f, 1, "OTRO", 1);
  EXPECT_EQ(f->Add(), 40);
  EXPECT_EQ(f->Records(), 5);
  ASSERT_EQ(f->Close(), 0);
  auto g = Conf();
  ASSERT_EQ(g->Open(), 0) << FileError();
  EXPECT_EQ(Walk(*g, g->key(0), true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  ASSERT_EQ(g->Empty(), 0);
  EXPECT_EQ(g->Records(), 0);
}

TEST_P(OdbcServer, MissingTableAndClosedFileAreRefused) {
  auto f = Conf();
  EXPECT_EQ(f->Open(), 2);
  EXPECT_EQ(f->Next(), 37);
  ASSERT_EQ(f->Create(), 0);
  EXPECT_EQ(f->Add(), 37);
  // A declared column the table lacks: 90, naming the columns there are.
  FileDecl d = Decl<ConfRecord>("CONF", ConfType());
  auto rt = DeclareRecord<ConfRecord>("CF", {NV_FIELD(ConfRecord, CODE), NV_FIELD(ConfRecord, NAME),
                                             NV_FIELD(ConfRecord, AGE, .name = "EDAD")});
  d.record = rt;
  File g(d);
  EXPECT_EQ(g.Open(), 90);
  EXPECT_NE(FileError().find("Invalid field name: EDAD"), std::string::npos) << FileError();
}

// --- Every field type both ways.

TEST_P(OdbcServer, EveryFieldTypeRoundTripsWithNullsAndOddValues) {
  File f(Decl<AllRecord>("TIPOS", AllType()));
  ASSERT_EQ(f.Create(), 0) << FileError();
  ASSERT_EQ(f.Open(), 0) << FileError();
  std::mt19937 rng(20);
  std::vector<std::vector<uint8_t>> written;
  for (int i = 0; i < 40; ++i) {
    AllRecord& r = f.As<AllRecord>();
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    r.CODE = i;
    // Extremes first, then random values.
    const bool low = i == 0, high = i == 1;
    r.BYTE = low ? 0 : high ? 255 : uint8_t(rng());
    r.SHORT = low ? INT16_MIN : high ? INT16_MAX : int16_t(rng());
    r.USHORT = low ? 0 : high ? 65535 : uint16_t(rng());
    if (high) {
      r.DATE = BinDate{31, 12, 9999};
    } else {
      r.DATE = BinDate{uint8_t(1 + rng() % 28), uint8_t(1 + rng() % 12), uint16_t(1801 + rng() % 8000)};
    }
    if (i == 2) r.DATE = BinDate{29, 2, 2000};
    r.TIME = BinTime{0, uint8_t(rng() % 60), uint8_t(rng() % 60), uint8_t(high ? 23 : rng() % 24)};
    if (low) r.TIME = BinTime{0, 0, 0, 0};  // midnight is zero: sent as NULL
    r.ULONG = low ? 0 : high ? UINT32_MAX : uint32_t(rng());
    r.SREAL = low ? -FLT_MAX : high ? FLT_MIN : float(int32_t(rng())) / 7.0f;
    // SQLite's ODBC driver keeps 15 significant digits of a double.
    const bool sqlite = GetParam() == Server::kSqlite;
    r.REAL = low ? (sqlite ? -1e300 : -DBL_MAX) : high ? 1e-300 : double(int32_t(rng())) / 3.0;
    if (i == 3) r.REAL = -0.0;
    r.DEC.SetScaled(low ? -99999999 : high ? 99999999 : int64_t(rng() % 199999999) - 99999999);
    std::string text = "Peña ñandú \xE9" + std::to_string(rng());
    if (i == 4) text = "";
    r.NAME = text;
    r.CNAME = text;
    r.PNAME = text;
    ASSERT_EQ(f.Add(), 0) << i << " " << FileError();
    written.emplace_back(f.record(), f.record() + f.record_length());
  }
  f.Set(f.key(0));
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(f.Next(), 0) << FileError();
    // A zero time went as NULL and reads back as zero.
    std::vector<uint8_t> want = written[size_t(i)];
    if (GetParam() == Server::kSqlite) {
      double got = f.As<AllRecord>().REAL, sent;
      std::memcpy(&sent, want.data() + offsetof(AllRecord, REAL), 8);
      EXPECT_NEAR(got, sent, std::fabs(sent) * 1e-14) << "fila " << i;
      std::memcpy(want.data() + offsetof(AllRecord, REAL), &got, 8);
    }
    size_t at = 0;
    while (at < want.size() && want[at] == f.record()[at]) ++at;
    ASSERT_EQ(at, want.size()) << "fila " << i << ", campo en el byte " << at;
    if (i == 3) {
      EXPECT_TRUE(std::signbit(f.As<AllRecord>().REAL) || GetParam() == Server::kSqlite);
    }
  }
  EXPECT_EQ(f.Next(), 33);
}

TEST_P(OdbcServer, NullFieldsTravelAsNullAndReadBackEmpty) {
  File f(Decl<AllRecord>("TIPOS", AllType()));
  ASSERT_EQ(f.Create(), 0) << FileError();
  ASSERT_EQ(f.Open(), 0) << FileError();
  AllRecord& r = f.As<AllRecord>();
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  r.CODE = 7;
  r.NAME = "";
  // Null through the driver's null operation (69); a value placed into a
  // null field makes it non-null again.
  for (void* field : {static_cast<void*>(&r.NAME), static_cast<void*>(&r.CNAME),
                      static_cast<void*>(&r.PNAME), static_cast<void*>(&r.SHORT),
                      static_cast<void*>(&r.USHORT)}) {
    const size_t size = field == &r.SHORT || field == &r.USHORT ? 2 : field == &r.NAME ? 30 : 31;
    f.Call(69, nullptr, {reinterpret_cast<intptr_t>(field), intptr_t(size)});
    ASSERT_EQ(ErrorCode(), 0);
  }
  r.USHORT = 9;
  ASSERT_EQ(f.Add(), 0) << FileError();
  ASSERT_EQ(f.Send("/WHERE=AL_NAME IS NULL AND AL_CNAME IS NULL AND AL_PNAME IS NULL AND "
                   "AL_SHORT IS NULL AND AL_DATE IS NULL AND AL_USHORT = 9"),
            "AL_NAME IS NULL AND AL_CNAME IS NULL AND AL_PNAME IS NULL AND AL_SHORT IS NULL AND "
            "AL_DATE IS NULL AND AL_USHORT = 9");
  EXPECT_EQ(Walk(f, f.key(0), true), std::vector<int32_t>{7});
  f.Send("/WHERE=");
  std::memset(static_cast<void*>(&r), 0x55, sizeof r);
  r.CODE = 7;
  ASSERT_EQ(f.Get(f.key(0)), 0) << FileError();
  EXPECT_EQ(std::string(r.NAME.view()), std::string(30, ' '));
  EXPECT_EQ(std::string(r.CNAME.data_, 31), std::string(31, '\0'));
  EXPECT_EQ(int(r.PNAME.len_), 0);
  EXPECT_EQ(int(r.SHORT), 0);
  EXPECT_EQ(int(r.USHORT), 9);
  EXPECT_EQ(int(r.DATE.year), 0);
  EXPECT_EQ(f.Call(68, nullptr, {reinterpret_cast<intptr_t>(&r.SHORT), 2}), 1);
  EXPECT_EQ(f.Call(68, nullptr, {reinterpret_cast<intptr_t>(&r.USHORT), 2}), 0);
}

TEST_P(OdbcServer, ValueTooLargeForTheFieldIsRefusedNotCut) {
  auto f = Filled({"A"});
  // A number the 16-bit field cannot hold, written by another program.
  EXPECT_EQ(f->Send("UPDATE \"CONF\" SET CF_AGE = 40000 WHERE CF_CODE = 1"),
            GetParam() == Server::kSqlite ? "0" : "90");
  if (GetParam() == Server::kSqlite) {
    Put(*f, 1, "", 0);
    EXPECT_EQ(f->Get(f->key(0)), 90);
    EXPECT_FALSE(FileError().empty());
  }
}

// --- Hostile texts.

TEST_P(OdbcServer, HostileTextRoundTripsAndRunsNothing) {
  File f(Decl<LongRecord>("LARGOS", LongType()));
  ASSERT_EQ(f.Create(), 0) << FileError();
  ASSERT_EQ(f.Open(), 0) << FileError();
  std::string hostile = "x'); DROP TABLE \"LARGOS\"; -- ' OR '1'='1 \" ; /* */ \\ ";
  std::string big;
  while (big.size() < 10000) big += hostile + std::to_string(big.size());
  big.resize(10000);
  const std::vector<std::string> texts = {hostile, big, std::string("a\0b", 3)};
  for (size_t i = 0; i < texts.size(); ++i) {
    LongRecord& r = f.As<LongRecord>();
    r.CODE = int32_t(i);
    r.TEXT = texts[i];
    r.CTEXT = texts[i];
    r.PTEXT = texts[i].substr(0, 255);
    const int err = f.Add();
    if (texts[i].find('\0') != std::string::npos) {
      // Neither server keeps a zero byte in a text (both drivers would cut
      // it there): refused, explained.
      EXPECT_EQ(err, 90);
      EXPECT_FALSE(FileError().empty());
      continue;
    }
    ASSERT_EQ(err, 0) << FileError();
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    LongRecord& r = f.As<LongRecord>();
    r.CODE = int32_t(i);
    const int err = f.Get(f.key(0));
    if (texts[i].find('\0') != std::string::npos) {
      EXPECT_EQ(err, 35);
      continue;
    }
    ASSERT_EQ(err, 0) << FileError();
    EXPECT_EQ(std::string(Clip(r.TEXT.view())), std::string(Clip(texts[i])));
    EXPECT_EQ(r.CTEXT.view(), std::string_view(texts[i]).substr(0, std::min(texts[i].find('\0'), texts[i].size())));
    EXPECT_EQ(r.PTEXT.view(), texts[i].substr(0, 255));
  }
  // The hostile text as a filter value or key value is a value too.
  LongRecord& r = f.As<LongRecord>();
  r.CODE = 0;
  f.Set(f.key(0), f.key(0));
  EXPECT_EQ(f.Next(), 0);
  EXPECT_EQ(f.Records(), 2);
}

// --- Connecting.

TEST_P(OdbcServer, BadSourcesAreRefusedWith90AndTheServersReason) {
  auto decl = Decl<ConfRecord>("CONF", ConfType());
  struct Case {
    std::string owner;
    std::string state;
  };
  std::vector<Case> cases = {
      {"FuenteQueNoExiste,usuario,clave", "IM002"},
      {"Driver={Controlador Inexistente};Database=x;", "01000"},
  };
  const auto& sv = odbctest::GetServers();
  if (GetParam() == Server::kPostgres) cases.push_back({sv.PgOwner("Clave-Equivocada_99"), "08001"});
  for (const Case& c : cases) {
    decl.owner = c.owner;
    File f(decl);
    EXPECT_EQ(f.Open(), 90) << c.owner;
    EXPECT_EQ(FileErrorCode(), c.state) << c.owner << " " << FileError();
    EXPECT_EQ(FileError().find("Clave-Equivocada_99"), std::string::npos);
    EXPECT_EQ(FileError().find("clave"), std::string::npos);
  }
}

TEST_P(OdbcServer, PasswordNeverReachesTheLogTheTraceOrErrors) {
  const auto& sv = odbctest::GetServers();
  const std::string tag = sv.folder + "/" + ServerName(GetParam());
  const std::string log = tag + "-odbc.log", calls = tag + "-calls.log";
  // The ODBC call log of the profile (Trace) and the operation trace
  // (Profile) share the profile's TraceFile; the file has a log of its own
  // (LOGFILE).
  const std::string profile = tag + ".ini";
  std::ofstream(profile) << "[NWODBC]\nTrace=1\nTraceFile=" << calls << "\nFlush=1\nProfile=1\nDetails=1\n";
  const char* old_profile = std::getenv("NVRUN_PROFILE");
  const std::string saved_profile = old_profile ? old_profile : "";
  ::setenv("NVRUN_PROFILE", profile.c_str(), 1);
  // An owner in the comma form with a password, through a DSN of odbc.ini.
  std::string owner = GetParam() == Server::kSqlite ? "Llamadas,yo,Clave-Secreta_77" : sv.PgOwner();
  std::string doubled;  // "//" stands for one '/' in a driver string
  for (char c : log) doubled += c == '/' ? std::string("//") : std::string(1, c);
  auto decl = Decl<ConfRecord>("CONF", ConfType(), "LOGFILE=" + doubled + "[prueba]");
  decl.owner = owner;
  {
    File f(decl);
    ASSERT_EQ(f.Create(), 0) << FileError();
    ASSERT_EQ(f.Open(), 0) << FileError();
    Put(f, 1, "A", 1);
    ASSERT_EQ(f.Add(), 0);
    EXPECT_EQ(f.Send("SELECT * FROM tabla_que_no_existe"), "90");
    EXPECT_EQ(FileError().find("Clave-Secreta_77"), std::string::npos);
    ASSERT_EQ(f.Close(), 0);
  }
  if (old_profile)
    ::setenv("NVRUN_PROFILE", saved_profile.c_str(), 1);
  else
    ::unsetenv("NVRUN_PROFILE");
  auto read = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  };
  const std::string text = read(log);
  EXPECT_NE(text.find("prueba"), std::string::npos);
  EXPECT_NE(text.find("Connecting to "), std::string::npos);
  if (GetParam() == Server::kPostgres) {
    EXPECT_NE(text.find("Pwd=********"), std::string::npos) << text;
  }
  EXPECT_NE(text.find("Error Occurred: "), std::string::npos);
  EXPECT_NE(read(calls).find("Allocating Environment"), std::string::npos) << read(calls);
  EXPECT_NE(read(calls).find("ODBC CONF OPEN error=0"), std::string::npos) << read(calls);
  for (const std::string& path : {log, calls})
    EXPECT_EQ(read(path).find("Clave-Secreta_77"), std::string::npos) << path;
}

// --- Batches, row sets, transactions and statements of the program.

TEST_P(OdbcServer, BatchedInsertsWaitForTheBatchOrTheNextOperation) {
  auto f = Filled({});
  ASSERT_EQ(f->SetProperty(29506, "3"), 0);
  auto other = Conf();
  ASSERT_EQ(other->Open(), 0);
  Put(*f, 1, "A", 1);
  ASSERT_EQ(f->Add(), 0);
  Put(*f, 2, "B", 2);
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(other->Records(), 0);
  f->Set(f->key(0));
  ASSERT_EQ(f->Next(), 0);  // sends both rows first
  EXPECT_EQ(Code(*f), 1);
  EXPECT_EQ(other->Records(), 2);
  for (int i = 3; i <= 10; ++i) {
    Put(*f, i, "N" + std::to_string(i), 1);
    ASSERT_EQ(f->Add(), 0) << FileError();
  }
  EXPECT_EQ(other->Records(), 8);  // two batches of three went, two rows wait
  ASSERT_EQ(f->Close(), 0);
  EXPECT_EQ(other->Records(), 10);
}

TEST_P(OdbcServer, RowSetsReadTheSameRowsInTheSameOrder) {
  auto f = Filled({"E", "D", "C", "B", "A", "F", "G"});
  for (const char* n : {"1", "3", "100"}) {
    ASSERT_EQ(f->SetProperty(29505, n), 0);
    EXPECT_EQ(f->GetProperty(29505), n);
    EXPECT_EQ(Walk(*f, f->key(1), true), (std::vector<int32_t>{5, 4, 3, 2, 1, 6, 7})) << n;
    EXPECT_EQ(Walk(*f, f->key(0), false), (std::vector<int32_t>{7, 6, 5, 4, 3, 2, 1})) << n;
  }
  ASSERT_EQ(f->SetProperty(29505, "0"), 0);
  EXPECT_EQ(f->GetProperty(29505), "1");
}

TEST_P(OdbcServer, RollbackDropsAndCommitKeepsTheRows) {
  auto f = Filled({"A"});
  ASSERT_EQ(f->Logout(), 0) << FileError();
  Put(*f, 2, "B", 1);
  ASSERT_EQ(f->Add(), 0);
  ASSERT_EQ(f->Rollback(), 0) << FileError();
  EXPECT_EQ(f->Records(), 1);
  ASSERT_EQ(f->Logout(), 0);
  Put(*f, 3, "C", 1);
  ASSERT_EQ(f->Add(), 0);
  ASSERT_EQ(f->Commit(), 0) << FileError();
  EXPECT_EQ(f->Records(), 2);
  // A walk goes on across a transaction of another file of the same source
  // (its COMMIT may close the walk's cursor); the row added meanwhile may or
  // may not be in the walk's result.
  auto g = Conf();
  ASSERT_EQ(g->Open(), 0);
  for (int i = 4; i <= 6; ++i) {
    Put(*f, i, "N", 1);
    ASSERT_EQ(f->Add(), 0);
  }
  g->Set(g->key(0));
  ASSERT_EQ(g->Next(), 0);
  ASSERT_EQ(g->Next(), 0);
  ASSERT_EQ(f->Logout(), 0);
  Put(*f, 7, "N", 1);
  ASSERT_EQ(f->Add(), 0);
  ASSERT_EQ(f->Commit(), 0);
  std::vector<int32_t> rest;
  int err = 0;
  while ((err = g->Next()) == 0) rest.push_back(Code(*g));
  EXPECT_EQ(err, 33) << FileError();  // the end, not a broken cursor
  ASSERT_GE(rest.size(), 3u);
  EXPECT_EQ(std::vector<int32_t>(rest.begin(), rest.begin() + 3), (std::vector<int32_t>{4, 5, 6}));
}

TEST_P(OdbcServer, ProgramStatementsAndOptionsThroughSend) {
  auto f = Filled({"A", "B", "C"});
  EXPECT_EQ(f->Send("/WHERE= CF_AGE > 20 "), "CF_AGE > 20");
  EXPECT_EQ(Walk(*f, f->key(0), true), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(f->Send("/WHERE="), "");
  EXPECT_EQ(f->Send("/CLIPSTRINGS"), "TRUE");
  EXPECT_EQ(f->Send("/JOINTYPE=INNER"), "INNER");
  EXPECT_EQ(f->Send("/BINDCOLORDER=7"), "0");
  EXPECT_EQ(f->Send("IGNORESTATUS"), "");
  EXPECT_EQ(f->Send("UPDATE \"CONF\" SET CF_NAME = 'O''Brien; --' WHERE CF_CODE = 2"), "0");
  EXPECT_EQ(f->GetProperty(29184), "UPDATE \"CONF\" SET CF_NAME = 'O''Brien; --' WHERE CF_CODE = 2");
  // A SELECT of the program feeds the following NEXTs.
  EXPECT_EQ(f->Send("SELECT CF_CODE, CF_NAME, CF_AGE FROM \"CONF\" WHERE CF_NAME = 'O''Brien; --'"), "0");
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Code(*f), 2);
  EXPECT_EQ(f->Next(), 33);
  EXPECT_EQ(f->Send("SELEC mal escrito"), "90");
  // Options of the declaration, a doubled slash standing for one.
  auto g = Conf("LOGONSCREEN=TRUE/HINT=a//b");
  EXPECT_EQ(g->Send("/HINT"), "a/b");
  EXPECT_EQ(g->Send("/LOGONSCREEN"), "TRUE");
  EXPECT_EQ(f->Send("SELECT 'sin cierre"), "90");
  EXPECT_EQ(f->Records(), 3);
}

// --- Positioning: walks in key order, positions, SKIP, GET, holds.

// A random walk of NEXT, PREVIOUS, SKIP, POSITION/RESET and GET over a key
// with many equal values, against the rows sorted in the walk's order
// (name, age descending, then code: the row key breaks ties).
TEST_P(OdbcServer, RandomWalksFollowKeyOrderAcrossTurnsSkipsAndResets) {
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) names.push_back(std::string(1, char('A' + (i * 7) % 4)));
  auto f = Filled(names);
  struct Row {
    std::string name;
    int16_t age;
    int32_t code;
  };
  std::vector<Row> order;
  for (size_t i = 0; i < names.size(); ++i) order.push_back({names[i], int16_t(20 + i), int32_t(i + 1)});
  std::sort(order.begin(), order.end(), [](const Row& a, const Row& b) {
    if (a.name != b.name) return a.name < b.name;
    if (a.age != b.age) return a.age > b.age;
    return a.code < b.code;
  });
  const int n = int(order.size());
  auto index_of = [&](int32_t code) {
    for (int i = 0; i < n; ++i)
      if (order[size_t(i)].code == code) return i;
    return -1;
  };
  std::mt19937 rng(GetParam() == Server::kSqlite ? 5 : 6);
  for (const char* rowset : {"1", "3"}) {
    ASSERT_EQ(f->SetProperty(29505, rowset), 0);
    KeyDecl* key = f->key(1);
    f->Set(key);
    ASSERT_EQ(f->Next(), 0);
    int cur = 0;  // the model: the index of the record last read
    std::string saved_pos;
    int saved_at = -1;
    for (int step = 0; step < 120; ++step) {
      const int what = int(rng() % 6);
      int want = cur;
      int err = 0;
      if (what == 0) {
        err = f->Next();
        want = cur + 1;
      } else if (what == 1) {
        err = f->Previous();
        want = cur - 1;
      } else if (what == 2) {
        // SKIP by k then NEXT or PREVIOUS, staying inside the table.
        const int k = int(rng() % 7) - 3;
        const bool forward = rng() % 2;
        want = cur + k + (forward ? 1 : -1);
        if (want < 0 || want >= n || cur + k < 0 || cur + k >= n) continue;
        ASSERT_EQ(f->Skip(k), 0);
        err = forward ? f->Next() : f->Previous();
      } else if (what == 3) {
        saved_pos = f->Position(key);
        ASSERT_EQ(ErrorCode(), 0) << FileError();
        saved_at = cur;
        continue;
      } else if (what == 4 && saved_at >= 0) {
        ASSERT_EQ(f->Reset(key, saved_pos), 0) << FileError();
        err = rng() % 2 ? f->Next() : f->Previous();
        want = saved_at;
      } else {
        const int to = int(rng() % uint32_t(n));
        Put(*f, order[size_t(to)].code, "", 0);
        ASSERT_EQ(f->Get(f->key(0)), 0) << FileError();
        cur = to;
        continue;
      }
      if (want < 0 || want >= n) {
        EXPECT_EQ(err, 33) << "paso " << step;
        continue;
      }
      ASSERT_EQ(err, 0) << "paso " << step << " " << FileError();
      ASSERT_EQ(Code(*f), order[size_t(want)].code) << "paso " << step << " filas de a " << rowset;
      cur = index_of(Code(*f));
    }
  }
}

TEST_P(OdbcServer, PositionStringsTurnsAndSkipsAsTheDriverDefinesThem) {
  FileDecl d = Decl<AllRecord>("TIPOS", AllType());
  d.keys.push_back({"AL:K_TIPOS_ULONG", {"AL:ULONG"}, kKeyDup, ""});
  File f(d);
  ASSERT_EQ(f.Create(), 0) << FileError();
  ASSERT_EQ(f.Open(), 0) << FileError();
  for (int i = 1; i <= 7; ++i) {
    std::memset(f.record(), 0, f.record_length());
    f.As<AllRecord>().CODE = i;
    f.As<AllRecord>().ULONG = uint32_t(100 - i);
    f.As<AllRecord>().NAME = "N";
    ASSERT_EQ(f.Add(), 0) << FileError();
  }
  // A key of one 32-bit integer with a 32-bit primary key: two segments,
  // 4 + (4 + 1 + 5) + (4 + 1 + 5) bytes.
  f.Set(f.key(1));
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Next(), 0);
  const std::string pos = f.Position(f.key(1));
  ASSERT_EQ(pos.size(), 24u);
  const std::string want = std::string("\x18\0\0\0\x0a\0\0\0\x01", 9) + std::string("\x06\0\0\0\0", 5) +
                           std::string("\x0a\0\0\0\x02", 5) + std::string("\x5e\0\0\0\0", 5);
  EXPECT_EQ(pos, want);
  EXPECT_EQ(f.Position().size(), 4u + 4 + 1 + 5);  // the file: the row key alone
  // Taken on another key, cut short, or with another key number: 38.
  EXPECT_EQ(f.Reset(f.key(0), pos), 38);
  EXPECT_EQ(f.Reset(f.key(1), pos.substr(0, 20)), 38);
  std::string other = pos;
  other[18] = 1;
  EXPECT_EQ(f.Reset(f.key(1), other), 38);
  EXPECT_EQ(f.Reget(f.key(1), pos.substr(1)), 38);
  // NEXT, NEXT, PREVIOUS on a forward-only set gives the first row again.
  f.Set(f.key(0));
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Previous(), 0) << FileError();
  EXPECT_EQ(f.As<AllRecord>().CODE, 1);
  // SKIP(-3) then NEXT: three rows back, then one on.
  f.Set(f.key(0));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Skip(-3), 0);
  ASSERT_EQ(f.Next(), 0) << FileError();
  EXPECT_EQ(f.As<AllRecord>().CODE, 3);
  // RESET from the position and REGET by it (a key with duplicates reads
  // by the row key); the record gone meanwhile: REGET 35, RESET goes on
  // with the next one.
  ASSERT_EQ(f.Reset(f.key(1), pos), 0);
  ASSERT_EQ(f.Next(), 0) << FileError();
  EXPECT_EQ(f.As<AllRecord>().CODE, 6);
  std::memset(f.record(), 0, f.record_length());
  ASSERT_EQ(f.Reget(f.key(1), pos), 0) << FileError();
  EXPECT_EQ(f.As<AllRecord>().CODE, 6);
  EXPECT_EQ(uint32_t(f.As<AllRecord>().ULONG), 94u);
  ASSERT_EQ(f.Delete(), 0);
  EXPECT_EQ(f.Reget(f.key(1), pos), 35);
  ASSERT_EQ(f.Reset(f.key(1), pos), 0);
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(f.As<AllRecord>().CODE, 5);
  // GET by pointer: the row whose integer row key it is.
  EXPECT_EQ(f.Get(int32_t(4)), 0);
  EXPECT_EQ(uint32_t(f.As<AllRecord>().ULONG), 96u);
  EXPECT_EQ(f.Get(int32_t(6)), 35);
  // Previous in record order cannot be served by a forward-only set.
  f.Set();
  EXPECT_EQ(f.Previous(), 80);
  // The null indicators as one block, 4 bytes a field; a short block is refused.
  const std::string block = f.Call(96) == 0 ? [&] {
    std::string out;
    f.Call(96, nullptr, {}, {}, &out);
    return out;
  }() : std::string();
  EXPECT_EQ(block.size(), 4u * (AllType()->FieldCount()));
  f.Call(97, nullptr, {}, {std::string_view(block).substr(4)});
  EXPECT_EQ(ErrorCode(), 75);
}

TEST_P(OdbcServer, SetFromAKeyValueWalksTheFileOrderFromTheRowItFinds) {
  auto f = Filled({"MORA", "ABAD", "MORA", "ZUBIRI", "CANO", "ABAD", "LUNA"});
  // The file's order as the server gives it, and the key's order.
  std::vector<int32_t> file_order = Walk(*f, nullptr, true);
  ASSERT_EQ(file_order.size(), 7u);
  const std::vector<int32_t> key_order = Walk(*f, f->key(1), true);
  struct Case {
    const char* name;
    int16_t age;
  };
  // Below every value, between values, on a value with duplicates (the
  // higher age first: the key is descending on it), past the last value.
  for (const Case& c : {Case{"", 0}, Case{"BETA", 0}, Case{"MORA", 99}, Case{"MORA", 21},
                        Case{"ZUBIRI", 23}, Case{"ZZZ", 0}}) {
    SCOPED_TRACE(c.name + std::string(" ") + std::to_string(c.age));
    // The row the value finds is the first at or after it in the key's order.
    Put(*f, 0, c.name, c.age);
    ASSERT_EQ(f->Set(f->key(1), f->key(1)), 0);
    const int32_t found = f->Next() == 0 ? Code(*f) : 0;
    std::vector<int32_t> want;
    if (found != 0)
      want.assign(std::find(file_order.begin(), file_order.end(), found), file_order.end());
    Put(*f, 0, c.name, c.age);
    ASSERT_EQ(f->SetFromKey(f->key(1)), 0) << FileError();
    std::vector<int32_t> got;
    int err;
    while ((err = f->Next()) == 0) got.push_back(Code(*f));
    EXPECT_EQ(err, 33);
    EXPECT_EQ(got, want);
  }
  EXPECT_NE(key_order, file_order);  // the two orders differ, or the case proves nothing
  // Record order has no way back.
  Put(*f, 0, "CANO", 0);
  ASSERT_EQ(f->SetFromKey(f->key(1)), 0);
  EXPECT_EQ(f->Previous(), 80);
}

TEST_P(OdbcServer, WatchedPutOfARowAnotherStationChangedFailsWith89) {
  auto a = Filled({"A", "B", "C"});
  auto b = Conf();
  ASSERT_EQ(b->Open(), 0);
  Put(*a, 2, "", 0);
  ASSERT_EQ(a->Watch(), 0);
  ASSERT_EQ(a->Get(a->key(0)), 0);
  // Unchanged: nothing is sent.
  const std::string before = a->GetProperty(29184);
  ASSERT_EQ(a->Put(), 0);
  EXPECT_EQ(a->GetProperty(29184), before);
  Put(*b, 2, "", 0);
  ASSERT_EQ(b->Get(b->key(0)), 0);
  b->As<ConfRecord>().AGE = 99;
  ASSERT_EQ(b->Put(), 0);
  a->As<ConfRecord>().NAME = "PISADO";
  EXPECT_EQ(a->Put(), 89);
  EXPECT_FALSE(FileError().empty());
  ASSERT_EQ(b->Get(b->key(0)), 0);
  EXPECT_EQ(Clip(b->As<ConfRecord>().NAME.view()), "B");
  EXPECT_EQ(int(b->As<ConfRecord>().AGE), 99);
  // Read again, the PUT goes through; without WATCH the row key alone
  // identifies the row.
  Put(*a, 2, "", 0);
  ASSERT_EQ(a->Watch(), 0);
  ASSERT_EQ(a->Get(a->key(0)), 0);
  a->As<ConfRecord>().NAME = "NUEVO";
  ASSERT_EQ(a->Put(), 0) << FileError();
  ASSERT_EQ(b->Put(), 0);  // b changes only AGE, from its old copy
  ASSERT_EQ(b->Get(b->key(0)), 0);
  EXPECT_EQ(Clip(b->As<ConfRecord>().NAME.view()), "NUEVO");
  // A row deleted by the other station: the PUT says so.
  Put(*a, 2, "", 0);
  ASSERT_EQ(a->Get(a->key(0)), 0);
  ASSERT_EQ(b->Delete(), 0);
  a->As<ConfRecord>().AGE = 1;
  EXPECT_EQ(a->Put(), 35);
  EXPECT_EQ(a->Records(), 2);
}

// A list that starts from the top positions on low values: a text key of
// zero bytes reaches every row, while a zero byte stored is still refused.
TEST_P(OdbcServer, PositionFromLowValuesOfATextKeyReadsFromTheStart) {
  auto f = Filled({"B", "A", "C"});
  auto& r = f->As<ConfRecord>();
  std::memset(static_cast<void*>(&r.NAME), 0, sizeof r.NAME);
  r.AGE = 32767;
  ASSERT_EQ(f->Set(f->key(1), f->key(1)), 0);
  std::vector<int32_t> got;
  while (f->Next() == 0) got.push_back(Code(*f));
  EXPECT_EQ(got, (std::vector<int32_t>{2, 1, 3})) << FileError();
  std::memset(static_cast<void*>(&r.NAME), 0, sizeof r.NAME);
  r.CODE = 4;
  EXPECT_EQ(f->Add(), 90);
  EXPECT_EQ(f->Records(), 3);
}

// A table without a unique key: the row is named by all its values as read
// (a null one by IS NULL), and of identical rows exactly one changes.
TEST_P(OdbcServer, PutAndDeleteWithoutAUniqueKeyTouchOneRow) {
  FileDecl d = Decl<ConfRecord>("GEMELOS", ConfType());
  d.keys.erase(d.keys.begin());  // only the key on NAME, with duplicates
  File a(d), b(d);
  ASSERT_EQ(a.Create(), 0) << FileError();
  ASSERT_EQ(a.Open(), 0) << FileError();
  ASSERT_EQ(b.Open(), 0) << FileError();
  auto& r = a.As<ConfRecord>();
  for (int16_t age : {30, 30}) {
    Put(a, 7, "GEMELO", age);
    ASSERT_EQ(a.Add(), 0) << FileError();
  }
  Put(a, 8, "OTRO", 31);
  ASSERT_EQ(a.Add(), 0) << FileError();
  Put(a, 0, "NULO", 32);  // CODE is in no key: it may be null
  a.Call(69, nullptr, {reinterpret_cast<intptr_t>(&r.CODE), 4});
  ASSERT_EQ(a.Add(), 0) << FileError();
  const auto rows = [&] {
    std::vector<std::pair<int32_t, int>> v;
    b.Set();
    while (b.Next() == 0) v.emplace_back(Code(b), int(b.As<ConfRecord>().AGE));
    std::sort(v.begin(), v.end());
    return v;
  };
  const auto find = [&](File& f, int32_t code, int age = -1) {
    f.Set();
    while (f.Next() == 0)
      if (Code(f) == code && (age < 0 || f.As<ConfRecord>().AGE == age)) return true;
    return false;
  };
  ASSERT_TRUE(find(a, 7));
  r.AGE = 40;
  ASSERT_EQ(a.Put(), 0) << FileError();
  using Rows = std::vector<std::pair<int32_t, int>>;
  EXPECT_EQ(rows(), (Rows{{0, 32}, {7, 30}, {7, 40}, {8, 31}}));
  ASSERT_TRUE(find(a, 0));
  r.AGE = 50;
  ASSERT_EQ(a.Put(), 0) << FileError();
  EXPECT_EQ(rows(), (Rows{{0, 50}, {7, 30}, {7, 40}, {8, 31}}));
  // Changed by the other station since it was read: not found, and the
  // other station's values stay.
  ASSERT_TRUE(find(a, 8));
  ASSERT_TRUE(find(b, 8));
  b.As<ConfRecord>().AGE = 33;
  ASSERT_EQ(b.Put(), 0) << FileError();
  r.AGE = 34;
  EXPECT_EQ(a.Put(), 35);
  EXPECT_FALSE(FileError().empty());
  EXPECT_EQ(rows(), (Rows{{0, 50}, {7, 30}, {7, 40}, {8, 33}}));
  // Of two identical rows one goes.
  ASSERT_TRUE(find(a, 7, 30));
  r.AGE = 40;
  ASSERT_EQ(a.Put(), 0) << FileError();
  ASSERT_TRUE(find(a, 7));
  ASSERT_EQ(a.Delete(), 0) << FileError();
  EXPECT_EQ(rows(), (Rows{{0, 50}, {7, 40}, {8, 33}}));
}

TEST_P(OdbcServer, CreateReplacesATableAndBuildRemakesItsIndexes) {
  auto f = Filled({"C", "A", "B"});
  ASSERT_EQ(f->Build(), 0) << FileError();
  ASSERT_EQ(f->BuildIndex(f->key(1), "-CF:AGE"), 0) << FileError();
  EXPECT_EQ(Walk(*f, f->key(1), true), (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(f->BuildIndex(f->key(1), "CF:NOHAY"), 76);
  ASSERT_EQ(f->Close(), 0);
  EXPECT_EQ(f->Build(), 0) << FileError();  // a closed file is connected for the BUILD
  // CREATE over an existing table starts it again, empty.
  auto g = Conf();
  ASSERT_EQ(g->Create(), 0) << FileError();
  ASSERT_EQ(g->Open(), 0);
  EXPECT_EQ(g->Records(), 0);
  ASSERT_EQ(g->Build(g->key(0)), 0) << FileError();
}

// A hold is a row lock on the server: another station (another process,
// with its own connections) that reads the row with a hold gets 43 and
// cannot write it; reading without a hold is free; the holder writes it.
TEST_P(OdbcServer, AHoldIsSeenByAnotherStation) {
  auto a = Filled({"A", "B", "C"});
  Put(*a, 2, "", 0);
  ASSERT_EQ(a->Hold(1), 0);
  ASSERT_EQ(a->Get(a->key(0)), 0) << FileError();
  if (GetParam() == Server::kSqlite) {
    // SQLite locks the whole database, never a row: the held read and the
    // holder's own write simply work.
    a->As<ConfRecord>().AGE = 1;
    EXPECT_EQ(a->Put(), 0) << FileError();
    EXPECT_EQ(a->Release(), 0);
    return;
  }
  // The other station, in a process of its own: each answer is a bit of
  // its exit code.
  auto station = [&](std::function<int(File&)> work) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(30);
      FileDecl d = Decl<ConfRecord>("CONF", ConfType());
      d.owner += "ApplicationName=otra;";  // a group, and connections, of its own
      File b(d);
      int code = b.Open() == 0 ? work(b) : 100;
      std::fflush(nullptr);
      ::_exit(code);  // nothing of the parent's connections is touched
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(station([](File& b) {
              int bits = 0;
              Put(b, 2, "", 0);
              if (b.Hold() != 0 || b.Get(b.key(0)) != 43) bits |= 1;   // no waiting
              if (b.Hold(1) != 0 || b.Get(b.key(0)) != 43) bits |= 2;  // a second's wait
              if (b.Get(b.key(0)) != 0) bits |= 4;                     // a plain read
              b.As<ConfRecord>().AGE = 7;
              if (b.Put() != 5) bits |= 8;                             // no write
              Put(b, 3, "", 0);
              if (b.Hold(1) != 0 || b.Get(b.key(0)) != 0) bits |= 16;  // another row is free
              return bits;
            }),
            0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
  // The holder writes its row and keeps holding it until RELEASE.
  a->As<ConfRecord>().AGE = 55;
  ASSERT_EQ(a->Put(), 0) << FileError();
  Put(*a, 3, "", 0);
  ASSERT_EQ(a->Get(a->key(0)), 0);  // a read without a hold leaves the held row held
  EXPECT_EQ(station([](File& b) {
              Put(b, 2, "", 0);
              return b.Hold() == 0 && b.Get(b.key(0)) == 43 ? 0 : 1;
            }),
            0);
  ASSERT_EQ(a->Release(), 0);
  EXPECT_EQ(station([](File& b) {
              Put(b, 2, "", 0);
              if (b.Hold() != 0 || b.Get(b.key(0)) != 0) return 1;
              return b.As<ConfRecord>().AGE == 55 ? 0 : 2;
            }),
            0);
}

// The server stops in the middle of a walk and a transaction: every
// operation answers 90 with a Spanish text at once, nothing hangs, and
// after the restart the transaction left nothing behind. (Runs last: it
// restarts the server.)
TEST_P(OdbcServer, ServerThatGoesAwayLeavesNothingHalfWritten) {
  if (GetParam() != Server::kPostgres) GTEST_SKIP() << "SQLite no tiene servidor que se detenga";
  {
    auto f = Filled({"A", "B", "C", "D"});
    f->Set(f->key(1));
    ASSERT_EQ(f->Next(), 0);
    ASSERT_EQ(f->Logout(), 0);
    Put(*f, 10, "EN CURSO", 1);
    ASSERT_EQ(f->Add(), 0);
    const auto t0 = std::chrono::steady_clock::now();
    odbctest::StopPostgresNow();
    Put(*f, 11, "OTRO", 1);
    EXPECT_EQ(f->Add(), 90);
    EXPECT_NE(FileError().find("Se perdió la conexión"), std::string::npos) << FileError();
    EXPECT_EQ(f->Commit(), 90);
    Put(*f, 1, "", 0);
    EXPECT_EQ(f->Get(f->key(0)), 90);
    f->Set(f->key(0));
    EXPECT_EQ(f->Next(), 90);
    EXPECT_FALSE(FileError().empty());
    f->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  }
  ASSERT_TRUE(odbctest::RestartPostgres());
  auto g = Conf();
  ASSERT_EQ(g->Open(), 0) << FileError();
  EXPECT_EQ(Walk(*g, g->key(0), true), (std::vector<int32_t>{1, 2, 3, 4}));
}

INSTANTIATE_TEST_SUITE_P(Servers, OdbcServer, ::testing::Values(Server::kSqlite, Server::kPostgres),
                         [](const ::testing::TestParamInfo<Server>& i) { return ServerName(i.param); });

// Without a driver manager every operation is refused with 90 and a reason.
TEST(OdbcDriverManager, MissingLibraryRefusesEveryOperation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("NVODBC_DM", "libodbc-que-no-existe.so", 1);
        FileDecl d;
        d.label = "X";
        d.driver = "ODBC";
        d.name = "X";
        d.owner = "Driver=SQLite3;Database=/nonexistent;";
        d.record = DeclareRecord<ConfRecord>("CF", {NV_FIELD(ConfRecord, CODE)});
        bool refused = false;
        {
          File f(d);
          const int open = f.Open();
          const bool text = FileError().find("libodbc-que-no-existe.so") != std::string::npos;
          refused = open == 90 && text && f.Name() == "X" && f.Create() == 90;
        }
        std::exit(refused ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
