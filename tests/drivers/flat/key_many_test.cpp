// BUILD of several keys from one pass over the records: the trees equal
// those of one build per key, byte for byte; duplicates, failed reads and a
// key that cannot start are answered per key.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "drivers/flat/key_build.h"
#include "host/runtime/env.h"
#include "tests/drivers/flat/key_test_util.h"

namespace flat {
namespace {

using test::ScratchDir;
using test::StringKey;

// Records held in memory, in record order; counts the passes over them.
class CountingSource : public RecordSource {
 public:
  std::vector<std::pair<uint32_t, std::string>> records;
  int fail_at = -1;  // answer 30 at this record
  int rewinds = 0;
  size_t reads = 0;

  int Rewind() override {
    ++rewinds;
    at_ = 0;
    return 0;
  }
  int Next(uint32_t* record, const uint8_t** data, bool* done) override {
    if (int(at_) == fail_at) return 30;
    *done = at_ == records.size();
    if (*done) return 0;
    ++reads;
    *record = records[at_].first;
    *data = reinterpret_cast<const uint8_t*>(records[at_].second.data());
    ++at_;
    return 0;
  }

 private:
  size_t at_ = 0;
};

// Record: a 4-byte code (unique key) then a 10-byte name (key with
// duplicates) and a 3-byte town (optional key: blank towns have no entry).
KeySpec CodeKey() {
  KeySpec s;
  KeyComponent c;
  c.stored_type = kStoredLong;
  c.size = 4;
  c.field_number = 1;
  s.components.push_back(c);
  s.name = "M:CODE";
  return s;
}
KeySpec NameKey() {
  KeySpec s = StringKey(10, true);
  s.components[0].offset = 4;
  s.components[0].field_number = 2;
  s.name = "M:NAME";
  return s;
}
KeySpec TownKey() {
  KeySpec s = StringKey(3, true);
  s.components[0].offset = 14;
  s.components[0].field_number = 3;
  s.optional = true;
  s.name = "M:TOWN";
  return s;
}

std::string Record(int32_t code, const std::string& name, const std::string& town) {
  std::string r(17, ' ');
  std::memcpy(r.data(), &code, 4);
  r.replace(4, std::min<size_t>(name.size(), 10), name.substr(0, 10));
  r.replace(14, std::min<size_t>(town.size(), 3), town.substr(0, 3));
  return r;
}

std::string ReadAll(const std::string& path) {
  std::string s;
  EXPECT_EQ(nv::ReadWholeFile(path, &s), 0);
  return s;
}

struct Keys {
  std::unique_ptr<KeyFile> files[3];
  std::vector<KeyToBuild> list() {
    return {{files[0].get(), ""}, {files[1].get(), ""}, {files[2].get(), ""}};
  }
};

Keys CreateKeys(const ScratchDir& dir, const std::string& stem) {
  Keys k;
  const KeySpec shapes[3] = {CodeKey(), NameKey(), TownKey()};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(KeyFile::Create(nullptr, dir.File(stem + ".K0" + std::to_string(i + 1)), shapes[i],
                              &k.files[i]),
              0);
  return k;
}

// Many records with small sort buffers (runs and merge passes): one pass
// builds the same three files as three builds, and reads each record once.
TEST(KeyBuildMany, OnePassEqualsOneBuildPerKey) {
  ScratchDir dir;
  CountingSource src;
  std::mt19937 rng(7);
  const char* towns[] = {"BCN", "MAD", "   ", "VLC", "SEV"};
  for (uint32_t n = 1; n <= 30000; ++n) {
    if (n % 13 == 0) continue;  // deleted records are not given
    // Codes unique (n times a constant modulo a prime), in no order.
    const int32_t code = int32_t((uint64_t(n) * 7919u) % 1000003u) - 500000;
    src.records.emplace_back(n, Record(code, "N" + std::to_string(rng() % 4000), towns[rng() % 5]));
  }
  BuildOptions small;
  small.buffer_entries = 300;  // 100 runs a key: merge passes through the files

  Keys one = CreateKeys(dir, "ONE");
  std::vector<int> results;
  BuildReport report(nullptr, dir.File("ONE.BLD"));
  ASSERT_EQ(BuildKeys(nullptr, one.list(), src, &report, dir.path(), &results, small), 0);
  EXPECT_EQ(results, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(src.rewinds, 1);
  EXPECT_EQ(src.reads, src.records.size());

  Keys each = CreateKeys(dir, "EACH");
  for (auto& f : each.files) {
    BuildReport r(nullptr, dir.File("EACH.BLD"));
    ASSERT_EQ(BuildKey(nullptr, f.get(), src, &r, dir.path(), small), 0);
  }
  for (int i = 0; i < 3; ++i) {
    const std::string n = ".K0" + std::to_string(i + 1);
    EXPECT_EQ(ReadAll(dir.File("ONE" + n)), ReadAll(dir.File("EACH" + n))) << n;
    std::string problems;
    EXPECT_EQ(one.files[i]->Check(&problems), 0) << problems;
  }
  EXPECT_LT(one.files[2]->header().entries, one.files[1]->header().entries);  // blank towns
  EXPECT_FALSE(report.opened());
  // The six key files, no temporary file and no report.
  EXPECT_EQ(dir.Count(), 6u);
}

// Duplicates in the unique key: that key answers 40 with its tree complete,
// the others build; the report names the keys in the order given.
TEST(KeyBuildMany, DuplicatesAnswerPerKeyAndReportInKeyOrder) {
  ScratchDir dir;
  CountingSource src;
  src.records = {
      {1, Record(5, "ANA", "BCN")}, {2, Record(7, "ANA", "MAD")}, {4, Record(5, "LUIS", "BCN")}};
  Keys k = CreateKeys(dir, "D");
  KeySpec unique_name = NameKey();
  unique_name.dup = false;
  std::unique_ptr<KeyFile> name2;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("D.K04"), unique_name, &name2), 0);
  std::vector<KeyToBuild> list = k.list();
  list.push_back({name2.get(), "D:NOMBRE"});
  std::vector<int> results;
  BuildReport report(nullptr, dir.File("D.BLD"));
  EXPECT_EQ(BuildKeys(nullptr, list, src, &report, dir.path(), &results), kErrDuplicateKey);
  EXPECT_EQ(results, (std::vector<int>{kErrDuplicateKey, 0, 0, kErrDuplicateKey}));
  EXPECT_EQ(k.files[0]->header().entries, 3u);
  EXPECT_EQ(name2->header().entries, 3u);
  std::string problems;
  EXPECT_EQ(k.files[0]->Check(&problems), 0) << problems;
  report.Close();
  EXPECT_EQ(ReadAll(dir.File("D.BLD")),
            "Duplicate record numbers for:\nM:CODE\nRecord number: 1\nRecord number: 4\n\n"
            "Duplicate record numbers for:\nD:NOMBRE\nRecord number: 1\nRecord number: 2\n\n");
}

// A read of the records that fails ends every key's build with its error
// and leaves every key empty and sound (an open then finds the keys short).
TEST(KeyBuildMany, FailedReadEmptiesEveryKey) {
  ScratchDir dir;
  CountingSource src;
  for (uint32_t n = 1; n <= 500; ++n) src.records.emplace_back(n, Record(int32_t(n), "X", "BCN"));
  Keys k = CreateKeys(dir, "F");
  std::vector<int> results;
  BuildReport report(nullptr, dir.File("F.BLD"));
  ASSERT_EQ(BuildKeys(nullptr, k.list(), src, &report, dir.path(), &results), 0);
  src.fail_at = 250;
  BuildOptions small;
  small.buffer_entries = 80;  // runs already written when the read fails
  EXPECT_EQ(BuildKeys(nullptr, k.list(), src, &report, dir.path(), &results, small), 30);
  EXPECT_EQ(results, (std::vector<int>{30, 30, 30}));
  for (auto& f : k.files) {
    EXPECT_EQ(f->header().entries, 0u);
    std::string problems;
    EXPECT_EQ(f->Check(&problems), 0) << problems;
  }
  EXPECT_EQ(dir.Count(), 3u);  // no temporary file left
}

// A key that cannot get its sort buffer stops the build before any record
// is read; the keys started before it are left empty, those after it are
// not touched.
TEST(KeyBuildMany, KeyWithoutSortBufferStopsBeforeReading) {
  ScratchDir dir;
  CountingSource src;
  for (uint32_t n = 1; n <= 50; ++n) src.records.emplace_back(n, Record(int32_t(n), "X", "BCN"));
  Keys k = CreateKeys(dir, "M");
  std::vector<int> results;
  BuildReport report(nullptr, dir.File("M.BLD"));
  ASSERT_EQ(BuildKeys(nullptr, k.list(), src, &report, dir.path(), &results), 0);
  // 70 entries fill more than a page for the code (8 bytes an entry) and
  // the name (14), not for the town (7): the third key has no buffer.
  BuildOptions tight;
  tight.buffer_entries = 70;
  std::vector<KeyToBuild> list = k.list();
  std::swap(list[1], list[2]);  // the town before the name
  EXPECT_EQ(BuildKeys(nullptr, list, src, &report, dir.path(), &results, tight), kErrNoMemory);
  EXPECT_EQ(results, (std::vector<int>{kErrNoMemory, kErrNoMemory, kErrNoMemory}));
  EXPECT_EQ(src.rewinds, 1);  // no second pass began
  EXPECT_EQ(k.files[0]->header().entries, 0u);
  EXPECT_EQ(k.files[1]->header().entries, 50u);
  EXPECT_EQ(dir.Count(), 3u);
}

}  // namespace
}  // namespace flat
