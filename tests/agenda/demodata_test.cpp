// The demo installation: deterministic from the seed, refuses to overwrite,
// calls linked to the longest directory prefix, the options.
#include "host/dictionary/services.h"
#include "host/runtime/file.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using nv::dict::CallRecord;
using nv::dict::TransferRecord;

class DemoDataTest : public AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    UseStore("Norvane");
  }

  demodata::Summary Write(const std::string& out, uint64_t seed, int64_t calls, bool force,
                          int* err) {
    demodata::Options o;
    o.out = out;
    o.seed = seed;
    o.calls = calls;
    o.companies = 40;
    o.contacts = 60;
    o.force = force;
    demodata::Summary s;
    std::string error;
    *err = demodata::Write(o, &s, &error);
    return s;
  }
};

TEST_F(DemoDataTest, SameSeedSameDataOtherSeedOtherData) {
  int err = 0;
  Write("a", 5, 500, false, &err);
  ASSERT_EQ(err, 0);
  Write("b", 5, 500, false, &err);
  ASSERT_EQ(err, 0);
  Write("c", 6, 500, false, &err);
  ASSERT_EQ(err, 0);
  for (const char* f : {"FXMA11.DAT", "FXRE09.DAT", "FXMO01.VTR", "FXTR02.VTR"}) {
    std::string a, b, c;
    ASSERT_EQ(nv::ReadWholeFile(std::string("a/") + f, &a), 0) << f;
    ASSERT_EQ(nv::ReadWholeFile(std::string("b/") + f, &b), 0);
    ASSERT_EQ(nv::ReadWholeFile(std::string("c/") + f, &c), 0);
    EXPECT_EQ(a, b) << f;
    EXPECT_NE(a, c) << f;
  }
}

TEST_F(DemoDataTest, RefusesAFolderWithFilesUnlessForced) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  ASSERT_TRUE(nv::WriteProfileString("Archivos/nota.ini", "a", "b", "c"));
  int err = 0;
  Write("Archivos", 1, 10, false, &err);
  EXPECT_EQ(err, -1);
  std::string bytes;
  EXPECT_NE(nv::ReadWholeFile("Archivos/FXMA11.DAT", &bytes), 0);
  Write("Archivos", 1, 10, true, &err);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(nv::ReadWholeFile("Archivos/FXMA11.DAT", &bytes), 0);
  // A second forced run replaces the files instead of adding to them.
  demodata::Summary s = Write("Archivos", 1, 10, true, &err);
  EXPECT_EQ(err, 0);
  nv::dict::FxdatsInit(nullptr, nullptr);
  auto ma11 = nv::dict::Dic()->NewFile("FXMA11");
  ASSERT_EQ(ma11->Open(), 0);
  EXPECT_EQ(ma11->Records(), s.companies + s.contacts);
  ma11->Close();
  nv::dict::FxdatsKill();
}

TEST_F(DemoDataTest, CallCountsAddUpAndCallsCarryTheirLongestDirectoryPrefix) {
  int err = 0;
  const demodata::Summary s = Write("Archivos", 3, 2000, false, &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(s.outgoing + s.incoming + s.out_headers + s.in_headers, 2000);
  EXPECT_GT(s.out_headers + s.in_headers, 0);
  EXPECT_GT(s.linked, 0);
  nv::dict::FxdatsInit(nullptr, nullptr);
  nv::dict::Dictionary* dic = nv::dict::Dic();
  dic->SetCallFileNames();
  nv::dict::DirectoryLookup lookup(*dic);
  ASSERT_EQ(lookup.open_error(), 0);
  int64_t seen = 0, linked = 0, transferred = 0, unrated = 0, special = 0, accounts = 0;
  for (const char* label : {"FXMO01", "FXMO02"}) {
    auto f = dic->NewFile(label);
    ASSERT_EQ(f->Open(), 0) << label;
    f->Set();
    while (f->Next() == 0) {
      const auto& r = f->As<CallRecord>();
      ++seen;
      nv::dict::DirectoryLookup::Match m;
      lookup.Find(r.NROTEL.str(), &m);
      const int32_t codigo = r.CODIGO;  // packed field: read by value
      ASSERT_EQ(codigo, m.code) << r.NROTEL.str();
      ASSERT_EQ(agenda::Int(r.GRUAGE), m.group);
      linked += r.CODIGO != 0;
      transferred += r.TRANSF == "T";
      unrated += r.TIPOLLA == "NT";
      special += r.TIPOLLA == "ES";
      accounts += !r.NROCTA.empty();
    }
    f->Close();
  }
  for (const char* label : {"FXTR01", "FXTR02"}) {
    auto f = dic->NewFile(label);
    ASSERT_EQ(f->Open(), 0) << label;
    f->Set();
    while (f->Next() == 0) {
      const auto& r = f->As<TransferRecord>();
      ++seen;
      nv::dict::DirectoryLookup::Match m;
      lookup.Find(r.NROTEL.str(), &m);
      const int32_t codigo = r.CODIGO;
      ASSERT_EQ(codigo, m.code);
      linked += r.CODIGO != 0;
    }
    f->Close();
  }
  EXPECT_EQ(seen, 2000);
  EXPECT_EQ(linked, s.linked);
  EXPECT_GT(transferred, 0);
  EXPECT_GT(unrated, 0);
  EXPECT_GT(special, 0);
  EXPECT_GT(accounts, 0);
  nv::dict::FxdatsKill();
}

TEST(DemoDataArgs, OptionsAndBadInput) {
  auto parse = [](std::vector<std::string> args, demodata::Options* o, std::string* e) {
    std::vector<char*> argv{const_cast<char*>("demodata")};
    for (auto& a : args) argv.push_back(a.data());
    return demodata::ParseArgs(int(argv.size()), argv.data(), o, e);
  };
  demodata::Options o;
  std::string e;
  ASSERT_TRUE(parse({"--out", "X", "--calls", "25", "--seed", "9", "--force"}, &o, &e));
  EXPECT_EQ(o.out, "X");
  EXPECT_EQ(o.calls, 25);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_TRUE(o.force);
  for (std::vector<std::string> bad : {std::vector<std::string>{"--calls"},
                                       {"--calls", "-1"},
                                       {"--calls", "12x"},
                                       {"--calls", ""},
                                       {"--out"},
                                       {"--out", ""},
                                       {"--seed", "abc"},
                                       {"--companies", "2000000"},
                                       {"--whatever"},
                                       {"--calls", "99999999999999999999999"}}) {
    demodata::Options d;
    EXPECT_FALSE(parse(bad, &d, &e)) << bad[0];
    EXPECT_FALSE(e.empty());
  }
}

}  // namespace
}  // namespace agendatest
