// A view's forward walk reads its rows ahead on a second thread. Over a few
// thousand rows (several row sets ahead of the walk): the rows and their
// order are those of the data sorted in memory, with reading ahead and
// without (and for the file's own walk), while the walk turns round and
// another file of the same connection reads and writes in the middle of it,
// a refused write included (on PostgreSQL it drops the server's cursors); a
// walk closed halfway, or whose file is closed under it, ends cleanly; a
// server that stops in the middle of a walk ends it with 90.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/profile.h"
#include "host/runtime/view.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace {

using namespace nv;

#pragma pack(push, 1)
struct Reading {
  int32_t CODE;
  String<4> GRP;
};
struct Note {
  int32_t CODE;
  String<8> TEXT;
};
#pragma pack(pop)

constexpr int kRows = 5000;  // five row sets of 1,000

enum class Server { kSqlite, kPostgres };

class ReadAheadWalks : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    const auto& sv = odbctest::GetServers(GetParam() == Server::kPostgres);
    if (GetParam() == Server::kPostgres && !sv.pg_skip.empty()) GTEST_SKIP() << sv.pg_skip;
    if (GetParam() == Server::kPostgres && !sv.pg_error.empty()) FAIL() << sv.pg_error;
    owner_ = GetParam() == Server::kSqlite ? sv.SqliteOwner() : sv.PgOwner();
    ClearError();
    readings_ = std::make_unique<File>(Decl("LECTURAS", ReadingType(), "R",
                                            {{"R:K_GRP", {"R:GRP"}, kKeyDup, ""}}));
    notes_ = std::make_unique<File>(Decl("NOTAS", NoteType(), "N", {}));
    for (File* f : {readings_.get(), notes_.get()}) {
      f->Remove();
      ClearError();
      ASSERT_EQ(f->Create(), 0) << FileError();
      ASSERT_EQ(f->Open(), 0) << FileError();
    }
    ASSERT_EQ(readings_->Logout(), 0);
    for (int i = 1; i <= kRows; ++i) {
      auto& r = readings_->As<Reading>();
      r.CODE = i;
      r.GRP = "G" + std::to_string((i * 7919) % 13);
      ASSERT_EQ(readings_->Add(), 0) << FileError();
    }
    ASSERT_EQ(readings_->Commit(), 0);
    for (int i = 1; i <= 20; ++i) AddNote(i);
  }
  static std::shared_ptr<const RecordType> ReadingType() {
    static auto rt =
        DeclareRecord<Reading>("R", {NV_FIELD(Reading, CODE), NV_FIELD(Reading, GRP)});
    return rt;
  }
  static std::shared_ptr<const RecordType> NoteType() {
    static auto rt = DeclareRecord<Note>("N", {NV_FIELD(Note, CODE), NV_FIELD(Note, TEXT)});
    return rt;
  }
  FileDecl Decl(const std::string& table, std::shared_ptr<const RecordType> rt,
                const std::string& prefix, std::vector<KeyDef> keys) {
    FileDecl d;
    d.label = table;
    d.driver = "ODBC";
    d.name = table;
    d.owner = owner_;
    d.record = rt;
    keys.insert(keys.begin(), {prefix + ":K_CODE", {prefix + ":CODE"}, kKeyPrimary, ""});
    d.keys = std::move(keys);
    return d;
  }
  void AddNote(int code) {
    notes_->As<Note>().CODE = code;
    notes_->As<Note>().TEXT = "N" + std::to_string(code);
    ASSERT_EQ(notes_->Add(), 0) << FileError();
  }

  // The codes in the view's order: by group, then by code.
  static std::vector<int32_t> Expected() {
    std::vector<std::pair<std::string, int32_t>> rows;
    for (int i = 1; i <= kRows; ++i) rows.push_back({"G" + std::to_string((i * 7919) % 13), i});
    std::sort(rows.begin(), rows.end());
    std::vector<int32_t> codes;
    for (auto& r : rows) codes.push_back(r.second);
    return codes;
  }

  std::unique_ptr<View> ByGroup() {
    auto v = std::make_unique<View>(readings_.get());
    v->SetKey(readings_->key("R:K_GRP"));
    return v;
  }
  int32_t Code() { return readings_->As<Reading>().CODE; }

  // Forward through a view or the file itself (set up by the caller); every
  // 97th row a GET on the other file of the connection, every 1,200th an ADD
  // to it refused as a duplicate (on PostgreSQL the failed statement drops
  // the cursors the transaction it ends declared) and one that goes in; at
  // row 2,500 three rows back and forward again. The codes read forward, in
  // order.
  template <class Walk>
  std::vector<int32_t> BusyWalk(Walk& v) {
    std::vector<int32_t> codes;
    int err = 0;
    while ((err = v.Next()) == 0) {
      codes.push_back(Code());
      const size_t n = codes.size();
      if (n % 97 == 0) {
        notes_->As<Note>().CODE = int32_t(1 + n % 20);
        EXPECT_EQ(notes_->Get(notes_->key("N:K_CODE")), 0) << FileError();
        EXPECT_EQ(notes_->As<Note>().TEXT, "N" + std::to_string(1 + n % 20));
      }
      if (n % 1200 == 0) {
        notes_->As<Note>().CODE = 1;
        EXPECT_EQ(notes_->Add(), 40);
        AddNote(++note_);
      }
      if (n == 2500) {
        for (int i = 1; i <= 3; ++i) {
          EXPECT_EQ(v.Previous(), 0);
          EXPECT_EQ(Code(), codes[n - 1 - size_t(i)]);
        }
        for (int i = 2; i >= 0; --i) {
          EXPECT_EQ(v.Next(), 0);
          EXPECT_EQ(Code(), codes[n - 1 - size_t(i)]);
        }
      }
    }
    EXPECT_EQ(err, 33) << FileError();
    return codes;
  }

  std::string owner_;
  std::unique_ptr<File> readings_, notes_;
  int note_ = 100;
};

// A profile with [NWODBC] ReadAhead=0 in place of the tests' one, for as
// long as it lives.
struct NoReadAhead {
  NoReadAhead() {
    std::error_code ec;
    std::filesystem::copy_file(old, path, std::filesystem::copy_options::overwrite_existing, ec);
    EXPECT_TRUE(WriteProfileString(path, "NWODBC", "ReadAhead", "0"));
    setenv("NVRUN_PROFILE", path.c_str(), 1);
  }
  ~NoReadAhead() {
    setenv("NVRUN_PROFILE", old.c_str(), 1);
    std::remove(path.c_str());
  }
  const std::string old = DefaultProfilePath();
  const std::string path = old + ".sinlectura";
};

TEST_P(ReadAheadWalks, RowsAreThoseOfTheDataInOrderWithAndWithoutReadingAhead) {
  const std::vector<int32_t> expected = Expected();
  {
    auto v = ByGroup();
    ASSERT_EQ(v->Set(), 0);
    EXPECT_EQ(BusyWalk(*v), expected);
    EXPECT_TRUE(v->served()) << v->driver_block().reason;
  }
  {
    NoReadAhead off;
    auto v = ByGroup();
    ASSERT_EQ(v->Set(), 0);
    EXPECT_EQ(BusyWalk(*v), expected);
  }
  ASSERT_EQ(readings_->Set(readings_->key("R:K_GRP")), 0);
  EXPECT_EQ(BusyWalk(*readings_), expected);
  // The ADDs of the three walks went through while the walks read.
  EXPECT_EQ(notes_->Records(), 20 + 3 * (kRows / 1200));
}

TEST_P(ReadAheadWalks, AWalkClosedHalfwayOrUnderItsFileEndsCleanly) {
  const std::vector<int32_t> expected = Expected();
  for (int round = 0; round < 3; ++round) {
    auto v = ByGroup();
    ASSERT_EQ(v->Set(), 0);
    for (int i = 0; i < 1500 + round * 700; ++i) ASSERT_EQ(v->Next(), 0);
    EXPECT_EQ(Code(), expected[size_t(1499 + round * 700)]);
  }  // each view closes with rows read ahead and a fetch perhaps under way
  auto v = ByGroup();
  ASSERT_EQ(v->Set(), 0);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(readings_->Close(), 0);
  EXPECT_EQ(v->Next(), 37);
  // The connection still serves the other file.
  notes_->As<Note>().CODE = 7;
  EXPECT_EQ(notes_->Get(notes_->key("N:K_CODE")), 0) << FileError();
}

// Inside a transaction a view sees the rows the program wrote and has not
// committed yet (outside one, views read on a connection of their own).
TEST_P(ReadAheadWalks, AViewInATransactionSeesItsUncommittedRows) {
  ASSERT_EQ(readings_->Logout(), 0);
  readings_->As<Reading>().CODE = kRows + 1;
  readings_->As<Reading>().GRP = "A";
  ASSERT_EQ(readings_->Add(), 0) << FileError();
  auto v = ByGroup();
  ASSERT_EQ(v->Set(), 0);
  ASSERT_EQ(v->Next(), 0) << FileError();
  EXPECT_EQ(Code(), kRows + 1);
  v.reset();
  ASSERT_EQ(readings_->Rollback(), 0);
  v = ByGroup();
  ASSERT_EQ(v->Set(), 0);
  ASSERT_EQ(v->Next(), 0) << FileError();
  EXPECT_EQ(Code(), Expected()[0]);
}

// (PostgreSQL only; restarts the server.)
TEST_P(ReadAheadWalks, AServerThatStopsMidWalkEndsItWith90) {
  if (GetParam() != Server::kPostgres) GTEST_SKIP() << "SQLite no tiene servidor que se detenga";
  {
    auto v = ByGroup();
    ASSERT_EQ(v->Set(), 0);
    for (int i = 0; i < 1500; ++i) ASSERT_EQ(v->Next(), 0);
    const auto t0 = std::chrono::steady_clock::now();
    odbctest::StopPostgresNow();
    int err = 0, more = 0;
    while ((err = v->Next()) == 0) ++more;
    EXPECT_EQ(err, 90);
    EXPECT_LT(1500 + more, kRows);  // the rows read ahead, then the loss
    EXPECT_NE(FileError().find("Se perdió la conexión con el servidor de datos"), std::string::npos)
        << FileError();
    EXPECT_EQ(v->Next(), 90);
    v.reset();
    readings_->Close();
    notes_->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  }
  ASSERT_TRUE(odbctest::RestartPostgres());
}

INSTANTIATE_TEST_SUITE_P(Servers, ReadAheadWalks,
                         ::testing::Values(Server::kSqlite, Server::kPostgres),
                         [](const auto& i) {
                           return std::string(i.param == Server::kSqlite ? "SQLite" : "PostgreSQL");
                         });

}  // namespace
