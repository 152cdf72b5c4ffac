// The driver against an in-memory oracle: random ADD, PUT, DELETE and GET,
// with the reads in every order (NEXT and PREVIOUS, from the ends and from a
// key value) compared with the oracle; index pages are small (40-character
// names) so that pages split and empty again. At the end the table and its
// indexes are checked on disk, and once more after reopening.
#include <algorithm>
#include <map>
#include <random>
#include <tuple>

#include "drivers/dbase3/dbf_check.h"
#include "tests/drivers/dbase3/db3_test_decl.h"

namespace db3test {
namespace {

struct Row {
  std::string name;
  uint32_t recno;
  std::string memo;
  double amount;
};

class Db3Model : public TempFolder {
 protected:
  using Oracle = std::map<int32_t, Row>;

  static std::string Padded(const std::string& s) {
    std::string p = s;
    p.resize(40, ' ');
    return p;
  }
  std::vector<int32_t> Walk(File& f, KeyDecl* key, bool forward) {
    std::vector<int32_t> v;
    key ? f.Set(key) : f.Set();
    while ((forward ? f.Next() : f.Previous()) == 0) v.push_back(f.As<CustRecord>().CODE);
    EXPECT_EQ(ErrorCode(), 33);
    return v;
  }
  static std::vector<int32_t> ByName(const Oracle& o) {
    std::vector<std::tuple<std::string, uint32_t, int32_t>> t;
    for (auto& [code, row] : o) t.emplace_back(Padded(row.name), row.recno, code);
    std::sort(t.begin(), t.end());
    std::vector<int32_t> v;
    for (auto& e : t) v.push_back(std::get<2>(e));
    return v;
  }
  static std::vector<int32_t> ByRecord(const Oracle& o) {
    std::vector<std::pair<uint32_t, int32_t>> t;
    for (auto& [code, row] : o) t.emplace_back(row.recno, code);
    std::sort(t.begin(), t.end());
    std::vector<int32_t> v;
    for (auto& e : t) v.push_back(e.second);
    return v;
  }
  void Compare(File& f, const Oracle& o) {
    std::vector<int32_t> codes;
    for (auto& e : o) codes.push_back(e.first);
    EXPECT_EQ(Walk(f, f.key(0), true), codes);
    std::reverse(codes.begin(), codes.end());
    EXPECT_EQ(Walk(f, f.key(0), false), codes);
    std::vector<int32_t> names = ByName(o);
    EXPECT_EQ(Walk(f, f.key(1), true), names);
    std::reverse(names.begin(), names.end());
    EXPECT_EQ(Walk(f, f.key(1), false), names);
    EXPECT_EQ(Walk(f, nullptr, true), ByRecord(o));
    EXPECT_EQ(f.Records(), int64_t(o.size()));
    EXPECT_EQ(f.Records(f.key(1)), int64_t(o.size()));
  }

  void RandomWork(uint32_t mode, bool stream);
};

// Shared (pages and header read again each operation) and deny-write
// while streaming (pages, records and appended records kept in memory).
TEST_F(Db3Model, RandomWorkAgreesWithOracleShared) {
  RandomWork(kReadWrite | kDenyNone, false);
}
TEST_F(Db3Model, RandomWorkAgreesWithOracleAlone) {
  RandomWork(kReadWrite | kDenyWrite, true);
}

void Db3Model::RandomWork(uint32_t mode, bool stream) {
  std::mt19937 rng(20261208);
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  ASSERT_EQ(f.Open(mode), 0) << ErrorCode();
  if (stream) f.Stream();
  Oracle o;
  uint32_t records = 0;
  auto name_of = [&] { return "N" + std::to_string(rng() % 40); };
  auto pick = [&]() -> int32_t {
    auto it = o.begin();
    std::advance(it, long(rng() % o.size()));
    return it->first;
  };
  for (int step = 0; step < 1500; ++step) {
    const unsigned what = rng() % 10;
    if (what < 5 || o.empty()) {  // ADD
      const int32_t code = int32_t(rng() % 600) - 100;
      const std::string name = name_of(), memo = "m" + std::to_string(step);
      Fill(f, code, name, code * 1.5);
      f.SetMemoText(0, memo);
      const int err = f.Add();
      if (o.count(code)) {
        ASSERT_EQ(err, 40);
      } else {
        ASSERT_EQ(err, 0) << ErrorCode();
        o[code] = Row{name, ++records, memo, code * 1.5};
        ASSERT_EQ(f.Pointer(), int32_t(records));
      }
    } else if (what < 7) {  // PUT: new name, sometimes a new code
      const int32_t code = pick();
      Fill(f, code, "", 0);
      ASSERT_EQ(f.Get(f.key(0)), 0) << ErrorCode();
      const int32_t to = rng() % 3 == 0 ? int32_t(rng() % 600) - 100 : code;
      const std::string name = name_of(), memo = "p" + std::to_string(step);
      f.As<CustRecord>().CODE = to;
      f.As<CustRecord>().NAME = name;
      f.SetMemoText(0, memo);
      const int err = f.Put();
      if (to != code && o.count(to)) {
        ASSERT_EQ(err, 40);
      } else {
        ASSERT_EQ(err, 0) << ErrorCode();
        Row row{name, o[code].recno, memo, o[code].amount};
        o.erase(code);
        o[to] = row;
      }
    } else if (what < 8) {  // DELETE
      const int32_t code = pick();
      Fill(f, code, "", 0);
      ASSERT_EQ(f.Get(f.key(0)), 0);
      ASSERT_EQ(f.Delete(), 0) << ErrorCode();
      o.erase(code);
    } else if (what < 9) {  // GET, found or not
      const int32_t code = int32_t(rng() % 600) - 100;
      Fill(f, code, "", 0);
      const int err = f.Get(f.key(0));
      if (!o.count(code)) {
        ASSERT_EQ(err, 35);
      } else {
        ASSERT_EQ(err, 0);
        EXPECT_EQ(Clip(f.As<CustRecord>().NAME.view()), o[code].name);
        EXPECT_EQ(double{f.As<CustRecord>().AMOUNT}, o[code].amount);
        EXPECT_EQ(Clip(f.MemoText(0)), o[code].memo);
      }
    } else {  // from a name value, both ways
      const std::string name = name_of();
      const std::vector<int32_t> order = ByName(o);
      size_t first = 0;
      while (first < order.size() && Padded(o[order[first]].name) < Padded(name)) ++first;
      size_t last = first;
      while (last < order.size() && Padded(o[order[last]].name) == Padded(name)) ++last;
      Fill(f, 0, name, 0);
      f.Set(f.key(1), f.key(1));
      if (first < order.size()) {
        ASSERT_EQ(f.Next(), 0);
        EXPECT_EQ(int32_t{f.As<CustRecord>().CODE}, order[first]);
      } else {
        EXPECT_EQ(f.Next(), 33);
      }
      Fill(f, 0, name, 0);
      f.Set(f.key(1), f.key(1));
      if (last > 0) {
        ASSERT_EQ(f.Previous(), 0);
        EXPECT_EQ(int32_t{f.As<CustRecord>().CODE}, order[last - 1]);
      } else {
        EXPECT_EQ(f.Previous(), 33);
      }
    }
    if (step % 250 == 249) Compare(f, o);
  }
  Compare(f, o);
  ASSERT_EQ(f.Close(), 0);
  const db3::CheckResult check =
      db3::CheckTable(Path("CUST.DBF"), {Path("CUCODE.NDX"), Path("CUNAME.NDX")});
  EXPECT_EQ(check.status, 0) << (check.problems.empty() ? "" : check.problems[0]);
  EXPECT_EQ(check.live, o.size());
  File g(CustDecl(Path("CUST")));
  ASSERT_EQ(g.Open(mode), 0);
  Compare(g, o);
  // PACK keeps the live records (records renumbered in order) and memos.
  ASSERT_EQ(g.Pack(), 0) << ErrorCode();
  uint32_t n = 0;
  for (int32_t code : ByRecord(o)) o[code].recno = ++n;
  Compare(g, o);
  for (auto& [code, row] : o) {
    Fill(g, code, "", 0);
    ASSERT_EQ(g.Get(g.key(0)), 0);
    EXPECT_EQ(Clip(g.MemoText(0)), row.memo);
  }
  EXPECT_TRUE(std::filesystem::exists(Path("CUST.BAK")));
  EXPECT_TRUE(std::filesystem::exists(Path("CUST.BKT")));
}

}  // namespace
}  // namespace db3test
