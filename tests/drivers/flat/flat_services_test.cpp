// The services every driver shares, on the flat driver: state snapshots
// after each SET and RESET, deferred builds with their progress and
// completion events, the driver's activation, the full name, and what CLOSE
// and a shared OPEN do to the file and its options.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "host/runtime/driver_services.h"
#include "host/runtime/read_fields.h"
#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

class FlatServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearError(); }
  void TearDown() override {
    SetEventHandler(nullptr);
    SetMessageHandler(nullptr);
  }
  // A file of `n` records, codes 1..n (names in reverse order), open.
  std::unique_ptr<File> Make(int n, uint32_t mode = kReadWrite | kDenyNone) {
    FileDecl d = CustDecl(dir_ / "CUST");
    d.attributes = kFileCreate;
    auto f = std::make_unique<File>(d);
    EXPECT_EQ(f->Create(), 0);
    EXPECT_EQ(f->Open(mode), 0);
    for (int i = 1; i <= n; ++i) {
      Fill(*f, i, "NOMBRE " + std::to_string(1000 - i));
      EXPECT_EQ(f->Add(), 0);
    }
    return f;
  }
  static int32_t Code(File& f) { return f.As<CustRecord>().CODE; }
  TempDir dir_;
};

// After each kind of SET and after RESET, RESTORESTATE puts the sequence
// back: the next NEXT reads what it read right after the SET.
TEST_F(FlatServicesTest, RestoreStateAfterEverySetAndReset) {
  auto f = Make(10);
  KeyDecl* code = f->key(0);
  KeyDecl* name = f->key(1);
  std::string at5;
  f->As<CustRecord>().CODE = 5;
  ASSERT_EQ(f->Get(code), 0);
  at5 = f->Position(code);
  const std::string rec5 = f->Position();
  const std::vector<std::pair<const char*, std::function<int()>>> sets = {
      {"SET(file)", [&] { return f->Set(); }},
      {"SET(file, pointer)", [&] { return f->SetFromPointer(4); }},
      {"SET(file, key)", [&] { return f->SetFromKey(code); }},
      {"SET(key)", [&] { return f->Set(name); }},
      {"SET(key, key)", [&] { return f->Set(code, code); }},
      {"SET(key, pointer)", [&] { return f->SetOrdinal(code, 3); }},
      {"SET(key, key, pointer)", [&] { return f->Set(code, code, 6); }},
      {"RESET(key)", [&] { return f->Reset(code, at5); }},
      {"RESET(file)", [&] { return f->Reset(rec5); }},
  };
  for (const auto& [what, set] : sets) {
    SCOPED_TRACE(what);
    // Record 7 current (and in the buffer) before the SET, both times.
    f->As<CustRecord>().CODE = 7;
    ASSERT_EQ(f->Get(code), 0);
    ASSERT_EQ(set(), 0);
    ASSERT_EQ(f->Next(), 0);
    const int32_t want = Code(*f);
    f->As<CustRecord>().CODE = 7;
    ASSERT_EQ(f->Get(code), 0);
    ASSERT_EQ(set(), 0);
    const intptr_t h = f->SaveState();
    f->Set(name);
    f->Next();
    f->Next();
    EXPECT_EQ(f->RestoreState(h), 0);
    EXPECT_EQ(f->Next(), 0);
    EXPECT_EQ(Code(*f), want);
    f->FreeState(h);
  }
}

// SAVESTATE right after NEXT or PREVIOUS keeps the place of the record just
// read (asked only then, not after every read): RESTORESTATE reads it again
// and the walk goes on from there, as it would have without the snapshot.
// Walks of each direction, by each key, answered from the key's entries or
// from the records, and one that ran off the end.
TEST_F(FlatServicesTest, RestoreStateAfterAWalkGoesOnWhereItStopped) {
  auto f = Make(10);
  struct Walk {
    const char* what;
    int key;
    int dir;
    int steps;
    const char* read_fields;  // "" for whole records
  };
  const Walk walks[] = {
      {"NEXT by code", 0, 1, 3, ""},         {"PREVIOUS by code", 0, -1, 2, ""},
      {"NEXT by name", 1, 1, 4, ""},         {"NEXT by code, from entries", 0, 1, 5, "1"},
      {"PREVIOUS by name, from entries", 1, -1, 3, "2"},
      {"NEXT past the end", 0, 1, 11, ""},
  };
  for (const Walk& w : walks) {
    SCOPED_TRACE(w.what);
    ASSERT_EQ(f->SetProperty(kPropReadFields, w.read_fields), 0);
    auto walk = [&] {
      ASSERT_EQ(f->Set(f->key(w.key)), 0);
      for (int i = 0; i < w.steps; ++i) (w.dir > 0 ? f->Next() : f->Previous());
    };
    auto step = [&] { return w.dir > 0 ? f->Next() : f->Previous(); };
    // The record read, by its place (a walk answered from the entries
    // fills the key's fields only).
    auto place = [&] { return f->Position(f->key(w.key)); };
    walk();
    const std::string at = place();
    const int want_err = step();
    const std::string want = place();
    walk();
    const intptr_t h = f->SaveState();
    ASSERT_NE(h, 0);
    f->Set(f->key(1 - w.key));  // wander off
    f->Next();
    f->Next();
    EXPECT_EQ(f->RestoreState(h), 0);
    EXPECT_EQ(place(), at);  // read again
    EXPECT_EQ(step(), want_err);
    EXPECT_EQ(place(), want);
    f->FreeState(h);
  }
}

// A deferred build of 100,000 records tells its progress (event 5697 and
// property 29447), can be cancelled from a progress event (93, and the next
// open builds the keys again), and its completion (event 5698) says whether
// it ran (512) or could not start (0).
TEST_F(FlatServicesTest, DeferredBuildOfManyRecordsReportsProgressAndCanBeCancelled) {
  const int n = 100000;
  {
    auto f = Make(0, kReadWrite | kDenyAll);
    ASSERT_EQ(f->Stream(), 0);
    for (int i = 1; i <= n; ++i) {
      Fill(*f, i, "N" + std::to_string(i % 977), int16_t(i % 90), i % 3 ? "LEON" : "");
      ASSERT_EQ(f->Append(), 0);
    }
    ASSERT_EQ(f->Flush(), 0);
  }
  File f(CustDecl(dir_ / "CUST"));
  f.Send("IGNORECORRUPTIONS=ON");  // APPEND left the keys behind
  ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
  std::vector<std::vector<intptr_t>> events;
  std::vector<int> progress;
  int cancel_at = 0;
  SetMessageHandler([](uint32_t, intptr_t, intptr_t) {});
  SetEventHandler([&](int32_t e, intptr_t a, intptr_t b, intptr_t c) {
    events.push_back({e, a, b, c});
    if (e != kEventBuildProgress) return 0;
    progress.push_back(std::atoi(f.GetProperty(29447).c_str()));
    return int(cancel_at && progress.size() == size_t(cancel_at));
  });
  ASSERT_EQ(f.SetProperty(29446, "10"), 0);
  ASSERT_EQ(f.Build(), 0);
  EXPECT_EQ(f.Call(kOpRunDeferred), 0);
  EXPECT_EQ(ErrorCode(), 0);
  // 10 steps of 10,000 records: 10%, 20% ... (the last with the last record).
  ASSERT_GE(progress.size(), 9u);
  EXPECT_EQ(progress[0], 10);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(events.back(), (std::vector<intptr_t>{kEventBuildDone, 1, 512, 0}));
  EXPECT_EQ(f.Records(f.key(0)), n);
  EXPECT_EQ(f.GetProperty(29447), "0");

  // Cancelled at the third progress event.
  events.clear();
  progress.clear();
  cancel_at = 3;
  ASSERT_EQ(f.SetProperty(29446, "10"), 0);
  ASSERT_EQ(f.Build(), 0);
  f.Call(kOpRunDeferred);
  EXPECT_EQ(ErrorCode(), 93);
  EXPECT_EQ(progress.size(), 3u);
  EXPECT_EQ(events.back(), (std::vector<intptr_t>{kEventBuildDone, 1, 512, 93}));
  f.Close();
  {
    File again(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(again.Open(), 0);  // the keys are built again
    EXPECT_EQ(again.Records(again.key(0)), n);
  }

  // A build that cannot start (the file is read-only).
  cancel_at = 0;
  events.clear();
  ASSERT_EQ(f.Open(kReadOnly | kDenyNone), 0);
  ASSERT_EQ(f.SetProperty(29446, "10"), 0);
  ASSERT_EQ(f.Build(), 0);
  f.Call(kOpRunDeferred);
  EXPECT_EQ(ErrorCode(), 5);
  EXPECT_EQ(events.back(), (std::vector<intptr_t>{kEventBuildDone, 1, 0, 5}));
}

// A cancelled deferred build leaves its keys reset. Opened alone, the handle
// that ran it answers 46 ("Hay que reconstruir las claves") through them,
// never an empty key, until a build of them completes; record order still
// reads every record. Opened shared, its next operation finds the busy mark
// and rebuilds, as any station's would (or finds the keys another station
// rebuilt). Either way the next open reads whole keys.
TEST_F(FlatServicesTest, AfterACancelledBuildTheHandleDoesNotReadTheEmptiedKeys) {
  SetMessageHandler([](uint32_t, intptr_t, intptr_t) {});
  for (uint32_t mode : {kReadWrite | kDenyAll, kReadWrite | kDenyNone}) {
    SCOPED_TRACE(mode);
    const int want = mode == (kReadWrite | kDenyAll) ? 46 : 0;
    {
      auto made = Make(0, kReadWrite | kDenyAll);
      ASSERT_EQ(made->Stream(), 0);
      for (int i = 1; i <= 300; ++i) {
        Fill(*made, i, "NOMBRE " + std::to_string(i % 7));
        ASSERT_EQ(made->Add(), 0);
      }
    }
    File f(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(f.Open(mode), 0);
    for (int i = 0; i < 2; ++i) {  // BUILD(file) cancelled, then BUILD(key)
      SetEventHandler(
          [](int32_t e, intptr_t, intptr_t, intptr_t) { return int(e == kEventBuildProgress); });
      if (i == 0) {  // a walk under way
        ASSERT_EQ(f.Set(f.key(1)), 0);
        ASSERT_EQ(f.Next(), 0);
      }
      ASSERT_EQ(f.SetProperty(29446, "10"), 0);
      ASSERT_EQ(i == 0 ? f.Build() : f.Build(f.key(0)), 0);
      f.Call(kOpRunDeferred);
      ASSERT_EQ(ErrorCode(), 93);
      SetEventHandler(nullptr);
      if (!want && i == 1) {  // another station's operation repairs first
        File other(CustDecl(dir_ / "CUST"));
        ASSERT_EQ(other.Open(mode), 0);
        EXPECT_EQ(other.Records(other.key(0)), 300);
      }
      if (i == 0) {
        EXPECT_EQ(f.Next(), want);
      }
      f.As<CustRecord>().CODE = 200;
      EXPECT_EQ(f.Get(f.key(0)), want);
      const int64_t keyed = f.Records(f.key(0));
      EXPECT_EQ(want ? ErrorCode() : keyed, want ? 46 : 300);
      Fill(f, 301, "NUEVO");
      EXPECT_EQ(f.Add(), want);  // the keys ADD keeps up are not whole
      if (!want) {
        EXPECT_EQ(f.Delete(), 0);
      }
      EXPECT_EQ(f.Set(), 0);
      int live = 0;
      while (f.Next() == 0) ++live;
      EXPECT_EQ(live, 300);
    }
    // A build of the keys makes them readable and writable again.
    ASSERT_EQ(f.Build(), 0);
    f.As<CustRecord>().CODE = 200;
    EXPECT_EQ(f.Get(f.key(0)), 0);
    Fill(f, 301, "NUEVO");
    EXPECT_EQ(f.Add(), 0);
    ASSERT_EQ(f.Close(), 0);
    File again(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(again.Open(mode), 0);
    EXPECT_EQ(again.Records(again.key(1)), 301);
  }
}

// The driver is activated with the open mode after OPEN and with 0 after
// CLOSE; the full name is the data file's absolute path while it is open.
TEST_F(FlatServicesTest, ActivationAndFullName) {
  auto f = Make(1, kReadWrite | kDenyWrite);
  EXPECT_TRUE(f->driver_active());
  EXPECT_EQ(f->active_mode(), uint32_t(kReadWrite | kDenyWrite));
  EXPECT_EQ(f->GetProperty(29463), dir_ / "CUST.DAT");
  ASSERT_EQ(f->Close(), 0);
  EXPECT_TRUE(f->driver_active());
  EXPECT_EQ(f->active_mode(), 0u);
  EXPECT_EQ(f->GetProperty(29463), "");
}

// CLOSE flushes as FLUSH does: every file written is forced to disk.
TEST_F(FlatServicesTest, CloseForcesTheFilesToDisk) {
  struct Syncs : nv::EnvWrapper {
    Syncs() : nv::EnvWrapper(nv::DefaultEnv()) {}
    int Open(const std::string& p, const nv::OpenOptions& o,
             std::unique_ptr<nv::EnvFile>* out) override {
      std::unique_ptr<nv::EnvFile> f;
      if (int r = target()->Open(p, o, &f)) return r;
      *out = std::make_unique<Counted>(std::move(f), &paths);
      return 0;
    }
    struct Counted : nv::EnvFile {
      Counted(std::unique_ptr<nv::EnvFile> f, std::set<std::string>* s) : f_(std::move(f)), s_(s) {}
      int Read(uint64_t o, void* b, size_t n, size_t* g) override { return f_->Read(o, b, n, g); }
      int Write(uint64_t o, const void* b, size_t n) override { return f_->Write(o, b, n); }
      int Truncate(uint64_t s) override { return f_->Truncate(s); }
      int Size(uint64_t* s) override { return f_->Size(s); }
      int Sync(bool d) override {
        s_->insert(f_->Path().substr(f_->Path().size() - 3));
        return f_->Sync(d);
      }
      int Lock(uint64_t o, uint64_t l, bool e, bool w) override { return f_->Lock(o, l, e, w); }
      int Unlock(uint64_t o, uint64_t l) override { return f_->Unlock(o, l); }
      const std::string& Path() const override { return f_->Path(); }
      std::unique_ptr<nv::EnvFile> f_;
      std::set<std::string>* s_;
    };
    std::set<std::string> paths;
  } env;
  Make(0)->Close();
  nv::SetEnv(&env);
  {
    File g(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(g.Open(kReadWrite | kDenyNone), 0);
    ASSERT_EQ(g.Stream(), 0);
    Fill(g, 1, "UNO");
    g.SetMemoText(0, "nota");
    ASSERT_EQ(g.Add(), 0);
    env.paths.clear();
    ASSERT_EQ(g.Close(), 0);
  }
  nv::SetEnv(nullptr);
  EXPECT_EQ(env.paths, (std::set<std::string>{"DAT", "MEM", "K01", "K02", "K03"}));
}

// IGNORESTATUS asked for before a shared OPEN does not stay on: a deleted
// record stays deleted for that station.
TEST_F(FlatServicesTest, IgnoreStatusDoesNotOutliveASharedOpen) {
  {
    auto f = Make(3);
    ASSERT_EQ(f->Get(int32_t(2)), 0);
    ASSERT_EQ(f->Delete(), 0);
  }
  File f(CustDecl(dir_ / "CUST"));
  EXPECT_EQ(f.Send("IGNORESTATUS=ON"), "OFF");
  ASSERT_EQ(f.Open(kReadWrite | kDenyNone), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 35);
  f.Close();
  ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
  EXPECT_EQ(f.Send("IGNORESTATUS=ON"), "OFF");
  EXPECT_EQ(f.Get(int32_t(2)), 0);
}

}  // namespace
}  // namespace flattest
