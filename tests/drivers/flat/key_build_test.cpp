// BUILD: the tree written bottom-up from an external sort, the duplicates
// report, optional and case-insensitive keys, and the failures of a build.
#include "drivers/flat/key_build.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/runtime/env.h"
#include "tests/drivers/flat/key_test_util.h"
#include "tests/support/fake_env.h"

namespace flat {
namespace {

using test::Bytes;
using test::ScratchDir;
using test::StringKey;
using test::Value;

// Records held in memory, in record order.
class VectorSource : public RecordSource {
 public:
  std::vector<std::pair<uint32_t, std::string>> records;
  int fail_at = -1;  // answer an error at this call
  int rewinds = 0;

  int Rewind() override {
    ++rewinds;
    at_ = 0;
    return 0;
  }
  int Next(uint32_t* record, const uint8_t** data, bool* done) override {
    if (int(at_) == fail_at) return 30;
    *done = at_ == records.size();
    if (*done) return 0;
    *record = records[at_].first;
    *data = Bytes(records[at_].second);
    ++at_;
    return 0;
  }

 private:
  size_t at_ = 0;
};

std::vector<std::pair<std::string, uint32_t>> Walk(KeyFile* k) {
  std::vector<std::pair<std::string, uint32_t>> out;
  KeyCursor c;
  EXPECT_EQ(k->First(&c), 0);
  while (!c.at_end()) {
    uint32_t r;
    std::string v;
    EXPECT_EQ(k->Entry(c, &r, &v), 0);
    out.emplace_back(v, r);
    EXPECT_EQ(k->Next(&c), 0);
  }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::string s;
  EXPECT_EQ(nv::ReadWholeFile(path, &s), 0);
  return s;
}

KeySpec LongKey(bool dup) {
  KeySpec s;
  KeyComponent c;
  c.stored_type = kStoredLong;
  c.size = 4;
  s.components.push_back(c);
  s.dup = dup;
  s.name = "K:CODE";
  return s;
}

std::string LongRecord(int32_t v) {
  std::string r(4, '\0');
  std::memcpy(r.data(), &v, 4);
  return r;
}

TEST(KeyBuild, EmptyFileGivesPagesZeroAndOneOnly) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("E.K01"), LongKey(false), &k), 0);
  VectorSource src;
  BuildReport report(nullptr, dir.File("E.BLD"));
  ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path()), 0);
  EXPECT_EQ(src.rewinds, 1);
  EXPECT_EQ(ReadAll(dir.File("E.K01")).size(), 1024u);
  const KeyHeader& h = k->header();
  EXPECT_EQ(h.entries, 0u);
  EXPECT_EQ(h.levels, 1);
  EXPECT_EQ(h.pages, 1u);
  EXPECT_EQ(h.root, 1u);
  EXPECT_EQ(dir.Count(), 1u);  // temporary files removed, no report
  std::string problems;
  EXPECT_EQ(k->Check(&problems), 0) << problems;
}

TEST(KeyBuild, IntegersSortNegativeBeforePositive) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("I.K01"), LongKey(false), &k), 0);
  VectorSource src;
  const int32_t values[] = {5, -3, 70000, -70000, 0, 1};
  for (uint32_t i = 0; i < std::size(values); ++i)
    src.records.emplace_back(i + 1, LongRecord(values[i]));
  BuildReport report(nullptr, dir.File("I.BLD"));
  ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path()), 0);
  std::vector<uint32_t> order;
  for (auto& e : Walk(k.get())) order.push_back(e.second);
  EXPECT_EQ(order, (std::vector<uint32_t>{4, 2, 5, 6, 1, 3}));
  EXPECT_EQ(k->header().first_record, 4u);
  EXPECT_EQ(k->header().last_record, 3u);
}

// A build of many entries (several merge passes through the temporary
// files) equals insertion of the same entries in key order.
TEST(KeyBuild, BuildEqualsIncrementalInsertionInOrder) {
  ScratchDir dir;
  const int kCount = 100000;
  VectorSource src;
  std::mt19937 rng(5);
  std::vector<std::pair<std::string, uint32_t>> expected;
  KeySpec shape = LongKey(true);
  for (int i = 1; i <= kCount; ++i) {
    std::string rec = LongRecord(int32_t(rng() % 50000) - 25000);
    src.records.emplace_back(i, rec);
    uint8_t v[4];
    EncodeKey(shape, Bytes(rec), v);
    expected.emplace_back(std::string(reinterpret_cast<char*>(v), 4), i);
  }
  std::sort(expected.begin(), expected.end());

  std::unique_ptr<KeyFile> built, inserted;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("B.K01"), shape, &built), 0);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("B.K02"), shape, &inserted), 0);
  BuildReport report(nullptr, dir.File("B.BLD"));
  ASSERT_EQ(BuildKey(nullptr, built.get(), src, &report, dir.path()), 0);
  for (auto& [v, r] : expected) ASSERT_EQ(inserted->Insert(r, Bytes(v)), 0);

  std::string problems;
  ASSERT_EQ(built->Check(&problems), 0) << problems;
  ASSERT_EQ(inserted->Check(&problems), 0) << problems;
  const KeyHeader& a = built->header();
  const KeyHeader& b = inserted->header();
  EXPECT_EQ(a.entries, uint32_t(kCount));
  EXPECT_EQ(a.entries, b.entries);
  EXPECT_EQ(a.pages, b.pages);
  EXPECT_EQ(a.levels, b.levels);
  EXPECT_EQ(a.first_record, b.first_record);
  EXPECT_EQ(a.last_record, b.last_record);
  EXPECT_EQ(a.root, 1u);
  EXPECT_EQ(a.last_page, a.pages);  // leaves come last
  EXPECT_EQ(Walk(built.get()), expected);
  EXPECT_EQ(Walk(inserted.get()), expected);
  EXPECT_EQ(dir.Count(), 2u);  // both key files; no temporary file left
  // The built tree takes further insertions and removals.
  ASSERT_EQ(built->Insert(kCount + 1, Bytes(std::string("\x80\0\0\0", 4))), 0);
  ASSERT_EQ(built->Remove(expected[500].second, Bytes(expected[500].first)), 0);
  ASSERT_EQ(built->Check(&problems), 0) << problems;
}

// The in-memory sort (radix on the leading bytes, then each group of equal
// leading bytes by the whole entry) against a plain sort, for keys shorter
// and longer than the radix prefix, values sharing long prefixes, many
// duplicates, and records given out of record order.
TEST(KeyBuild, InMemorySortAgreesWithAPlainSort) {
  ScratchDir dir;
  std::mt19937 rng(11);
  for (uint16_t size : {1, 3, 5, 6, 12, 30}) {
    SCOPED_TRACE(size);
    const auto shape = StringKey(size);
    VectorSource src;
    std::vector<std::pair<std::string, uint32_t>> expected;
    std::vector<uint32_t> numbers(30000);
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = uint32_t(i + 1);
    std::shuffle(numbers.begin(), numbers.end(), rng);
    for (uint32_t n : numbers) {
      // Few letters, a shared start for the longer keys: groups of equal
      // leading bytes and equal values both occur.
      std::string rec(size, 'Q');
      for (size_t j = size > 8 ? 6 : 0; j < size; ++j) rec[j] = char('A' + rng() % 3);
      src.records.emplace_back(n, rec);
      std::string v(size, '\0');
      EncodeKey(shape, Bytes(rec), reinterpret_cast<uint8_t*>(v.data()));
      expected.emplace_back(v, n);
    }
    std::sort(expected.begin(), expected.end());
    std::unique_ptr<KeyFile> k;
    ASSERT_EQ(KeyFile::Create(nullptr, dir.File("S.K01"), shape, &k), 0);
    BuildReport report(nullptr, dir.File("S.BLD"));
    ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path()), 0);
    EXPECT_EQ(Walk(k.get()), expected);
    std::string problems;
    EXPECT_EQ(k->Check(&problems), 0) << problems;
  }
}

TEST(KeyBuild, DuplicatesCompleteTheTreeWriteTheReportAndAnswer40) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  KeySpec shape = StringKey(6, false);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("D.K01"), shape, &k), 0);
  VectorSource src;
  src.records = {{1, "JONES "}, {2, "SMITH "}, {3, "ADAMS "}, {4, "SMITH "},
                 {6, "SMITH "}, {7, "ADAMS "}, {9, "BROWN "}};
  BuildReport report(nullptr, dir.File("D.BLD"));
  BuildOptions o;
  o.key_name = "D:NAME";
  EXPECT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path(), o), kErrDuplicateKey);
  EXPECT_EQ(k->header().entries, 7u);
  std::string problems;
  EXPECT_EQ(k->Check(&problems), 0) << problems;
  report.Close();
  EXPECT_EQ(ReadAll(dir.File("D.BLD")),
            "Duplicate record numbers for:\nD:NAME\n"
            "Record number: 3\nRecord number: 7\n\n"
            "Record number: 2\nRecord number: 4\n\n"
            "Record number: 6\n\n");
  // The convenience form replaces the earlier report.
  src.records = {{1, "X     "}, {5, "X     "}};
  EXPECT_EQ(BuildKey(nullptr, k.get(), shape, src, dir.File("D.BLD"), "OTHER", dir.path()),
            kErrDuplicateKey);
  EXPECT_EQ(ReadAll(dir.File("D.BLD")),
            "Duplicate record numbers for:\nOTHER\nRecord number: 1\nRecord number: 5\n\n");
  // A key that allows duplicates writes no report.
  ScratchDir dir2;
  ASSERT_EQ(KeyFile::Create(nullptr, dir2.File("D.K01"), StringKey(6, true), &k), 0);
  BuildReport quiet(nullptr, dir2.File("D.BLD"));
  EXPECT_EQ(BuildKey(nullptr, k.get(), src, &quiet, dir2.path()), 0);
  EXPECT_FALSE(quiet.opened());
}

TEST(KeyBuild, OneReportServesEveryKeyOfABuild) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k1, k2;
  KeySpec s1 = StringKey(2, false);
  s1.name = "A:ONE";
  KeySpec s2 = s1;
  s2.name = "A:TWO";
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("A.K01"), s1, &k1), 0);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("A.K02"), s2, &k2), 0);
  VectorSource src;
  src.records = {{1, "AA"}, {2, "AA"}};
  BuildReport report(nullptr, dir.File("A.BLD"));
  EXPECT_EQ(BuildKey(nullptr, k1.get(), src, &report, dir.path()), kErrDuplicateKey);
  EXPECT_EQ(BuildKey(nullptr, k2.get(), src, &report, dir.path()), kErrDuplicateKey);
  report.Close();
  EXPECT_EQ(ReadAll(dir.File("A.BLD")),
            "Duplicate record numbers for:\nA:ONE\nRecord number: 1\nRecord number: 2\n\n"
            "Duplicate record numbers for:\nA:TWO\nRecord number: 1\nRecord number: 2\n\n");
}

TEST(KeyBuild, OptionalKeySkipsBlankNamesAndCaseInsensitiveKeyFinds) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  KeySpec shape = StringKey(5, false);
  shape.optional = true;
  shape.nocase = true;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("O.K01"), shape, &k), 0);
  VectorSource src;
  src.records = {{1, "SMITH"}, {2, "     "}, {3, "jones"}, {4, std::string("\0abcd", 5)}};
  BuildReport report(nullptr, dir.File("O.BLD"));
  ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path()), 0);
  EXPECT_EQ(k->header().entries, 2u);  // one less than the live records with names
  uint8_t v[5];
  ASSERT_TRUE(EncodeKey(shape, Bytes(std::string("smith")), v));
  KeyCursor c;
  ASSERT_EQ(k->Seek(v, 0, &c), 0);
  uint32_t r = 0;
  ASSERT_EQ(k->Entry(c, &r, nullptr), 0);
  EXPECT_EQ(r, 1u);
  bool found = false;
  ASSERT_EQ(k->Contains(v, 0, &found), 0);
  EXPECT_TRUE(found);
}

TEST(KeyBuild, SortBufferShrinksAndFailsBelowFourEntriesOrOnePage) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("S.K01"), LongKey(true), &k), 0);
  VectorSource src;
  for (uint32_t i = 1; i <= 5000; ++i) src.records.emplace_back(i, LongRecord(int32_t(5000 - i)));
  BuildReport report(nullptr, dir.File("S.BLD"));
  BuildOptions o;
  o.buffer_entries = 100;  // 800 bytes
  o.fail_allocations = 2;  // granted at 92 entries: 55 runs
  ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path(), o), 0);
  EXPECT_EQ(k->header().entries, 5000u);
  EXPECT_EQ(k->header().first_record, 5000u);
  std::string problems;
  EXPECT_EQ(k->Check(&problems), 0) << problems;
  o.fail_allocations = 22;  // 100 - 88 = 12 entries = 96 bytes: no more than a page
  EXPECT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path(), o), kErrNoMemory);
  KeySpec wide = StringKey(200);
  std::unique_ptr<KeyFile> w;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("S.K02"), wide, &w), 0);
  o.buffer_entries = 5;  // 1020 bytes, then 1 entry: below 4
  o.fail_allocations = 1;
  EXPECT_EQ(BuildKey(nullptr, w.get(), src, &report, dir.path(), o), kErrNoMemory);
  o.fail_allocations = 0;  // 5 entries of 204 bytes: granted
  src.records.resize(30);
  for (auto& r : src.records) r.second.resize(200, 'x');
  EXPECT_EQ(BuildKey(nullptr, w.get(), src, &report, dir.path(), o), 0);
  EXPECT_EQ(w->Check(&problems), 0) << problems;
  EXPECT_EQ(dir.Count(), 2u);  // temporary files removed after every outcome
}

TEST(KeyBuild, FailuresRemoveTheTemporaryFiles) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("F.K01"), LongKey(false), &k), 0);
  VectorSource src;
  for (uint32_t i = 1; i <= 3000; ++i) src.records.emplace_back(i, LongRecord(int32_t(i % 7)));
  src.fail_at = 2500;
  BuildReport report(nullptr, dir.File("F.BLD"));
  EXPECT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path()), 30);
  EXPECT_EQ(dir.Count(), 1u);
  // A report that cannot be created ends the build with the system's number,
  // after the tree is complete.
  src.fail_at = -1;
  BuildReport lost(nullptr, dir.File("missing/F.BLD"));
  EXPECT_EQ(BuildKey(nullptr, k.get(), src, &lost, dir.path()), nv::kOsFileNotFound);
  EXPECT_EQ(k->header().entries, 3000u);
  std::string problems;
  EXPECT_EQ(k->Check(&problems), 0) << problems;
  // No folder for the temporary files.
  EXPECT_NE(BuildKey(nullptr, k.get(), src, &report, dir.File("nowhere")), 0);
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

// A build whose writes fail half way leaves a key file that no open accepts.
TEST(KeyBuild, ABuildStoppedHalfWayLeavesAKeyToRebuild) {
  ScratchDir dir;
  nvtest::FailingEnv env;
  std::unique_ptr<KeyFile> k;
  KeySpec shape = LongKey(true);
  ASSERT_EQ(KeyFile::Create(&env, dir.File("H.K01"), shape, &k), 0);
  VectorSource src;
  for (uint32_t i = 1; i <= 5000; ++i) src.records.emplace_back(i, LongRecord(int32_t(i)));
  BuildReport report(&env, dir.File("H.BLD"));
  // Reset (1024 bytes), the sorted runs (40000), the header, then 3 pages.
  env.write_budget = 1024 + 40000 + 35 + 3 * 512 + 100;
  int rc = BuildKey(&env, k.get(), src, &report, dir.path());
  EXPECT_EQ(rc, 5);  // disk full (39) answered as 5
  k.reset();
  env.write_budget = -1;
  EXPECT_EQ(KeyFile::Open(&env, dir.File("H.K01"), {}, shape, &k), kErrKeysMustBeRebuilt);
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

// Many short runs: merge passes back and forth between the two temporary
// files before the last merge feeds the tree.
TEST(KeyBuild, ManyRunsMergeInSeveralPasses) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  KeySpec shape = LongKey(true);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("M.K01"), shape, &k), 0);
  VectorSource src;
  std::vector<std::pair<std::string, uint32_t>> expected;
  std::mt19937 rng(8);
  for (uint32_t i = 1; i <= 40000; ++i) {
    std::string rec = LongRecord(int32_t(rng() % 3000) - 1500);
    src.records.emplace_back(i, rec);
    uint8_t v[4];
    EncodeKey(shape, Bytes(rec), v);
    expected.emplace_back(std::string(reinterpret_cast<char*>(v), 4), i);
  }
  std::sort(expected.begin(), expected.end());
  BuildReport report(nullptr, dir.File("M.BLD"));
  BuildOptions o;
  o.buffer_entries = 70;  // 572 runs: two passes before the last merge
  ASSERT_EQ(BuildKey(nullptr, k.get(), src, &report, dir.path(), o), 0);
  EXPECT_EQ(Walk(k.get()), expected);
  std::string problems;
  EXPECT_EQ(k->Check(&problems), 0) << problems;
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

uint64_t Fnv(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The bytes of a build do not depend on how it sorted: three keys built
// together from random records (a unique code meeting duplicates, a long
// name with ties in its leading bytes, a short name of a few values) give
// the same key files and report whether the entries are sorted in memory
// (on one thread or two) or through merged runs, and the same as the
// builder has always written (the figures are those files' FNV-1a hashes).
TEST(KeyBuild, BuiltBytesStayTheSameHoweverTheEntriesAreSorted) {
  std::mt19937 rng(21);
  VectorSource src;
  uint32_t record = 0;
  for (int i = 0; i < 36000; ++i) {
    record += 1 + rng() % 3;  // deleted records leave gaps
    std::string rec = LongRecord(int32_t(rng() % 200000) - 100000);
    std::string name(30, ' ');
    const size_t len = 3 + rng() % 27;
    for (size_t j = 0; j < len; ++j) name[j] = char((j < 3 ? 'A' : 'a') + rng() % (j < 3 ? 4 : 26));
    rec += name + std::string(1, char('A' + rng() % 5)) + "xy";
    src.records.emplace_back(record, rec);
  }
  auto component = [](uint8_t type, uint16_t offset, uint16_t size) {
    KeyComponent c;
    c.stored_type = type;
    c.offset = offset;
    c.size = size;
    return c;
  };
  auto code = LongKey(false);
  auto name = code;
  name.components = {component(kStoredString, 4, 30)};
  name.dup = true;
  name.nocase = true;
  name.name = "K:NAME";
  auto mixed = code;
  mixed.components = {component(kStoredString, 34, 3), component(kStoredLong, 0, 4)};
  mixed.dup = true;
  mixed.name = "K:MIXED";
  const decltype(code)* shapes[] = {&code, &name, &mixed};

  for (auto [buffer, ahead] : {std::pair{0u, true}, {0u, false}, {700u, true}}) {
    SCOPED_TRACE(testing::Message() << buffer << (ahead ? " ahead" : ""));
    ScratchDir dir;
    std::unique_ptr<KeyFile> keys[3];
    std::vector<KeyToBuild> list;
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(KeyFile::Create(nullptr, dir.File("G.K0" + std::to_string(k + 1)), *shapes[k],
                                &keys[k]),
                0);
      list.push_back({keys[k].get(), ""});
    }
    BuildReport report(nullptr, dir.File("G.BLD"));
    BuildOptions o;
    o.buffer_entries = buffer;
    o.sort_ahead = ahead;
    std::vector<int> results;
    EXPECT_EQ(BuildKeys(nullptr, list, src, &report, dir.path(), &results, o), kErrDuplicateKey);
    EXPECT_EQ(results, (std::vector<int>{kErrDuplicateKey, 0, 0}));
    report.Close();
    for (auto& k : keys) k.reset();
    EXPECT_EQ(dir.Count(), 4u);
    EXPECT_EQ(Fnv(ReadAll(dir.File("G.K01"))), 0x884e912b85437247ull);
    EXPECT_EQ(Fnv(ReadAll(dir.File("G.K02"))), 0x703094ea4b4e4c16ull);
    EXPECT_EQ(Fnv(ReadAll(dir.File("G.K03"))), 0x79f156b933f9f60eull);
    EXPECT_EQ(Fnv(ReadAll(dir.File("G.BLD"))), 0xbcba62f88a0379f1ull);
  }
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

// A build whose writes fail at any point answers the same and leaves the
// same files whether the second key's entries were sorted on another
// thread or not.
TEST(KeyBuild, AFailedWriteEndsABuildTheSameWithOrWithoutTheSecondThread) {
  VectorSource src;
  std::mt19937 rng(3);
  for (uint32_t i = 1; i <= 33000; ++i)
    src.records.emplace_back(i, LongRecord(int32_t(rng() % 3000000)) + Value(rng() % 9000, 8));
  auto code = LongKey(false);
  auto name = StringKey(8);
  name.components[0].offset = 4;
  struct Outcome {
    int rc;
    std::vector<int> results;
    std::string files[3];
    int writes;
  };
  auto build = [&](int writes, bool ahead) {
    ScratchDir dir;
    nvtest::FailingEnv env;
    std::unique_ptr<KeyFile> k1, k2;
    EXPECT_EQ(KeyFile::Create(&env, dir.File("F.K01"), code, &k1), 0);
    EXPECT_EQ(KeyFile::Create(&env, dir.File("F.K02"), name, &k2), 0);
    Outcome out;
    {
      BuildReport report(&env, dir.File("F.BLD"));
      BuildOptions o;
      o.sort_ahead = ahead;
      env.writes = 0;
      env.call_budget = writes;
      out.rc = BuildKeys(&env, {{k1.get(), ""}, {k2.get(), ""}}, src, &report, dir.path(),
                         &out.results, o);
    }
    out.writes = env.writes;
    k1.reset();
    k2.reset();
    const char* names[] = {"F.K01", "F.K02", "F.BLD"};
    for (int i = 0; i < 3; ++i)
      if (nv::ReadWholeFile(dir.File(names[i]), &out.files[i]) != 0) out.files[i] = "(none)";
    EXPECT_EQ(dir.Count(), out.files[2] == "(none)" ? 2u : 3u);  // no temporary file left
    return out;
  };
  const Outcome whole = build(-1, true);
  EXPECT_EQ(whole.rc, kErrDuplicateKey);
  // Failures in the resets, the first tree and its report, the second tree
  // (the last few writes).
  std::vector<int> budgets;
  for (int writes = 0; writes < whole.writes; writes += 1 + whole.writes / 5)
    budgets.push_back(writes);
  for (int last = 1; last <= 2; ++last) budgets.push_back(whole.writes - last);
  for (int writes : budgets) {
    SCOPED_TRACE(writes);
    const Outcome a = build(writes, true), b = build(writes, false);
    EXPECT_NE(a.rc, 0);
    EXPECT_EQ(a.rc, b.rc);
    EXPECT_EQ(a.results, b.results);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(a.files[i] == b.files[i]) << i;
  }
}

}  // namespace
}  // namespace flat
