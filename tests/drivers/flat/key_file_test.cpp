// The key file tree: layout on disk, insertions and removals against a model
// with a structural check after every step, walks, and bad files.
#include "drivers/flat/key_file.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
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
using Model = std::set<std::pair<std::string, uint32_t>>;

std::string ReadAll(const std::string& path) {
  std::string s;
  EXPECT_EQ(nv::ReadWholeFile(path, &s), 0);
  return s;
}

// Every entry in key order, walked forward (and backward, compared).
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
    if (out.size() > k->header().entries + 1) break;
  }
  std::vector<std::pair<std::string, uint32_t>> back;
  EXPECT_EQ(k->Last(&c), 0);
  while (!c.at_end()) {
    uint32_t r;
    std::string v;
    EXPECT_EQ(k->Entry(c, &r, &v), 0);
    back.emplace_back(v, r);
    EXPECT_EQ(k->Prev(&c), 0);
    if (back.size() > k->header().entries + 1) break;
  }
  EXPECT_EQ(std::vector(back.rbegin(), back.rend()), out);
  return out;
}

void ExpectSound(KeyFile* k, const Model& model) {
  std::string report;
  ASSERT_EQ(k->Check(&report), 0) << report;
  ASSERT_EQ(k->header().entries, model.size());
  auto walked = Walk(k);
  ASSERT_TRUE(std::equal(walked.begin(), walked.end(), model.begin(), model.end()));
}

TEST(KeyFile, CreateWritesTheEmptyTree) {
  ScratchDir dir;
  KeySpec shape = StringKey(4, false);
  shape.nocase = true;
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("A.K01"), shape, &k), 0);
  std::string bytes = ReadAll(dir.File("A.K01"));
  ASSERT_EQ(bytes.size(), 1024u);
  const std::string header(
      "\x01\0\0\0"
      "\0\0\0\0"
      "\x01\0\0\0"
      "\x01\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0"
      "\0\0\0\0"
      "\x60\x3E\x01\x08\x00\x01\x00",
      35);
  EXPECT_EQ(bytes.substr(0, 35), header);
  EXPECT_EQ(bytes.substr(35), std::string(1024 - 35, '\0'));
  KeyCursor c;
  ASSERT_EQ(k->First(&c), 0);
  EXPECT_TRUE(c.at_end());
  bool found = true;
  ASSERT_EQ(k->Contains(Bytes("ABCD"), 0, &found), 0);
  EXPECT_FALSE(found);
}

TEST(KeyFile, LongestKeysHoldTwoEntriesPerPageAndLongerAreRefused) {
  ScratchDir dir;
  std::unique_ptr<KeyFile> k;
  // 246 bytes would make 250-byte entries, one per page: a tree that could
  // never narrow to a root. Such keys are refused.
  EXPECT_EQ(KeyFile::Create(nullptr, dir.File("L.K01"), StringKey(246), &k), kErrKeyTooLong);
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("L.K01"), {}, StringKey(246), &k),
            kErrKeysMustBeRebuilt);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("L.K01"), StringKey(245), &k), 0);
  EXPECT_EQ(k->header().per_page, 2);
  EXPECT_EQ(k->header().entry_length, 249);
}

TEST(KeyFile, PageLayoutAndSplitOfAFullLeaf) {
  ScratchDir dir;
  KeySpec shape = StringKey(4);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("A.K01"), shape, &k), 0);
  for (uint32_t i = 1; i <= 62; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i, 8).substr(4))), 0);
  EXPECT_EQ(k->header().pages, 1u);
  std::string bytes = ReadAll(dir.File("A.K01"));
  EXPECT_EQ(uint8_t(bytes[512]), 62);  // count
  EXPECT_EQ(bytes.substr(512 + 13, 8), std::string("\x01\0\0\0"
                                                   "0001",
                                                   8));
  EXPECT_EQ(bytes.substr(512 + 13 + 61 * 8, 8), std::string("\x3E\0\0\0"
                                                            "0062",
                                                            8));
  // In key order past the last entry: a new right sibling takes the entry.
  ASSERT_EQ(k->Insert(63, Bytes(std::string("0063"))), 0);
  const KeyHeader& h = k->header();
  EXPECT_EQ(h.levels, 2);
  EXPECT_EQ(h.pages, 3u);
  EXPECT_EQ(h.root, 2u);
  EXPECT_EQ(h.last_page, 3u);
  EXPECT_EQ(h.first_record, 1u);
  EXPECT_EQ(h.last_record, 63u);
  bytes = ReadAll(dir.File("A.K01"));
  EXPECT_EQ(uint8_t(bytes[512]), 62);
  EXPECT_EQ(uint8_t(bytes[3 * 512]), 1);
  // Root: two entries, each the child page and its highest key.
  EXPECT_EQ(bytes.substr(2 * 512, 13), std::string(13, '\0').replace(0, 1, "\x02"));
  EXPECT_EQ(bytes.substr(2 * 512 + 13, 16), std::string("\x01\0\0\0"
                                                        "0062"
                                                        "\x03\0\0\0"
                                                        "0063",
                                                        16));
  // Sibling links and parents.
  EXPECT_EQ(bytes.substr(512 + 1, 12), std::string("\x03\0\0\0"
                                                   "\0\0\0\0"
                                                   "\x02\0\0\0",
                                                   12));
  EXPECT_EQ(bytes.substr(3 * 512 + 1, 12), std::string("\0\0\0\0"
                                                       "\x01\0\0\0"
                                                       "\x02\0\0\0",
                                                       12));
  std::string report;
  EXPECT_EQ(k->Check(&report), 0) << report;
}

TEST(KeyFile, SplitInTheMiddleGivesTheFirstHalfToANewLeftSibling) {
  ScratchDir dir;
  KeySpec shape = StringKey(4);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("A.K01"), shape, &k), 0);
  for (uint32_t i = 1; i <= 62; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i * 2, 8).substr(4))), 0);
  ASSERT_EQ(k->Insert(100, Bytes(std::string("0003"))), 0);
  std::string bytes = ReadAll(dir.File("A.K01"));
  // Page 1 kept the upper half; page 3 (new, left) took 31 entries + the new one.
  EXPECT_EQ(uint8_t(bytes[3 * 512]), 32);
  EXPECT_EQ(uint8_t(bytes[512]), 31);
  EXPECT_EQ(k->header().first_record, 1u);
  EXPECT_EQ(k->header().last_page, 1u);
  std::string report;
  EXPECT_EQ(k->Check(&report), 0) << report;
}

// Random insertions and removals against a model, checked after every step.
void RandomSequence(uint16_t key_size, int steps, uint32_t value_range, unsigned seed) {
  ScratchDir dir;
  KeySpec shape = StringKey(key_size);
  std::unique_ptr<KeyFile> k;
  // Opened alone (deny all): pages are cached; the reopen below reads them
  // from the file.
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("R.K01"), shape, &k, nv::OpenOptions{0x12}), 0);
  Model model;
  std::mt19937 rng(seed);
  uint32_t next_record = 1;
  for (int step = 0; step < steps; ++step) {
    // Grow for the first half, shrink towards empty in the second.
    bool insert = model.empty() || (rng() % 100) < (step < steps / 2 ? 65u : 35u);
    if (insert) {
      std::string v = Value(rng() % value_range, key_size);
      uint32_t r = next_record++;
      ASSERT_EQ(k->Insert(r, Bytes(v)), 0);
      model.emplace(v, r);
    } else {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      bool removed = false;
      ASSERT_EQ(k->Remove(it->second, Bytes(it->first), &removed), 0);
      ASSERT_TRUE(removed);
      model.erase(it);
    }
    SCOPED_TRACE("step " + std::to_string(step));
    ExpectSound(k.get(), model);
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Everything out: the tree is empty but sound, and fills again.
  while (!model.empty()) {
    ASSERT_EQ(k->Remove(model.begin()->second, Bytes(model.begin()->first)), 0);
    model.erase(model.begin());
  }
  ExpectSound(k.get(), model);
  EXPECT_EQ(k->header().first_record, 0u);
  EXPECT_EQ(k->header().last_record, 0u);
  for (uint32_t i = 0; i < 40; ++i) {
    std::string v = Value(i % 7, key_size);
    ASSERT_EQ(k->Insert(i + 1, Bytes(v)), 0);
    model.emplace(v, i + 1);
  }
  ExpectSound(k.get(), model);
  // Reopened from disk (no cache), the same tree.
  k.reset();
  ASSERT_EQ(KeyFile::Open(nullptr, dir.File("R.K01"), nv::OpenOptions{}, shape, &k), 0);
  k->set_cache(false);
  ExpectSound(k.get(), model);
}

TEST(KeyFile, RandomSequenceTwoEntriesPerPage) {
  RandomSequence(245, 1500, 400, 1);
}
TEST(KeyFile, RandomSequenceFourEntriesPerPageManyDuplicates) {
  RandomSequence(120, 1500, 20, 2);
}
TEST(KeyFile, RandomSequenceSmallKeys) {
  RandomSequence(8, 2500, 5000, 3);
}

TEST(KeyFile, EmptiedPagesGoToTheFreeChainAndAreUsedAgain) {
  ScratchDir dir;
  KeySpec shape = StringKey(100);  // 4 entries per page
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("F.K01"), shape, &k), 0);
  Model model;
  for (uint32_t i = 1; i <= 40; ++i) {
    ASSERT_EQ(k->Insert(i, Bytes(Value(i, 100))), 0);
    model.emplace(Value(i, 100), i);
  }
  const uint32_t pages = k->header().pages;
  for (uint32_t i = 1; i <= 20; ++i) {
    ASSERT_EQ(k->Remove(i, Bytes(Value(i, 100))), 0);
    model.erase({Value(i, 100), i});
  }
  EXPECT_NE(k->header().free_head, 0u);
  ExpectSound(k.get(), model);
  for (uint32_t i = 1; i <= 20; ++i) {
    ASSERT_EQ(k->Insert(i, Bytes(Value(i, 100))), 0);
    model.emplace(Value(i, 100), i);
  }
  ExpectSound(k.get(), model);
  EXPECT_EQ(k->header().pages, pages);  // no page added at the end
}

TEST(KeyFile, SeekOrdinalsAndDuplicates) {
  ScratchDir dir;
  KeySpec shape = StringKey(60);  // 7 entries per page
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("S.K01"), shape, &k), 0);
  Model model;
  for (uint32_t r = 1; r <= 300; ++r) {
    std::string v = Value((r * 37) % 50, 60);  // six records per value
    ASSERT_EQ(k->Insert(r, Bytes(v)), 0);
    model.emplace(v, r);
  }
  ExpectSound(k.get(), model);
  std::vector<std::pair<std::string, uint32_t>> order(model.begin(), model.end());
  for (uint32_t n = 1; n <= order.size(); n += 7) {
    KeyCursor c;
    ASSERT_EQ(k->SeekOrdinal(n, &c), 0);
    uint32_t r, back;
    ASSERT_EQ(k->Entry(c, &r, nullptr), 0);
    EXPECT_EQ(r, order[n - 1].second) << n;
    ASSERT_EQ(k->Ordinal(c, &back), 0);
    EXPECT_EQ(back, n);
  }
  KeyCursor c;
  ASSERT_EQ(k->SeekOrdinal(0, &c), 0);
  EXPECT_TRUE(c.at_end());
  ASSERT_EQ(k->SeekOrdinal(301, &c), 0);
  EXPECT_TRUE(c.at_end());
  // Seek: first entry of a value, and at a given record within equal values.
  std::string v = Value(13, 60);
  ASSERT_EQ(k->Seek(Bytes(v), 0, &c), 0);
  auto first = model.lower_bound({v, 0});
  uint32_t r;
  std::string got;
  ASSERT_EQ(k->Entry(c, &r, &got), 0);
  EXPECT_EQ(r, first->second);
  auto third = std::next(first, 2);
  ASSERT_EQ(k->Seek(Bytes(v), third->second, &c), 0);
  ASSERT_EQ(k->Entry(c, &r, nullptr), 0);
  EXPECT_EQ(r, third->second);
  ASSERT_EQ(k->Seek(Bytes(Value(99999, 60)), 0, &c), 0);  // past every value
  EXPECT_TRUE(c.at_end());
  // Duplicate probe, with and without the record's own entry.
  bool found = false;
  ASSERT_EQ(k->Contains(Bytes(v), 0, &found), 0);
  EXPECT_TRUE(found);
  ASSERT_EQ(k->Contains(Bytes(Value(777, 60)), 0, &found), 0);
  EXPECT_FALSE(found);
  ASSERT_EQ(k->Insert(500, Bytes(Value(777, 60))), 0);
  ASSERT_EQ(k->Contains(Bytes(Value(777, 60)), 500, &found), 0);
  EXPECT_FALSE(found);
  ASSERT_EQ(k->Contains(Bytes(Value(777, 60)), 501, &found), 0);
  EXPECT_TRUE(found);
  // Removing an entry that is not there changes nothing.
  bool removed = true;
  ASSERT_EQ(k->Remove(12345, Bytes(v), &removed), 0);
  EXPECT_FALSE(removed);
}

TEST(KeyFile, OpenRefusesMissingAndMismatchedFiles) {
  ScratchDir dir;
  KeySpec shape = StringKey(10, false);
  std::unique_ptr<KeyFile> k;
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("NONE.K01"), {}, shape, &k), kErrKeysMustBeRebuilt);
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("M.K01"), shape, &k), 0);
  k.reset();
  ASSERT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, shape, &k), 0);
  k.reset();
  KeySpec other = shape;
  other.dup = true;
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), kErrKeysMustBeRebuilt);
  other = shape;
  other.optional = true;
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), kErrKeysMustBeRebuilt);
  other = shape;
  other.nocase = true;
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), kErrKeysMustBeRebuilt);
  other = StringKey(11, false);
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), kErrKeysMustBeRebuilt);
  other = shape;
  other.components.push_back(other.components[0]);
  other.components[0].size = 5;
  other.components[1].size = 5;
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), kErrKeysMustBeRebuilt);
  other = shape;
  other.oem = true;  // not stored in the key file
  EXPECT_EQ(KeyFile::Open(nullptr, dir.File("M.K01"), {}, other, &k), 0);
}

// Writes bytes into a file at an offset.
void Poke(const std::string& path, uint64_t offset, const std::string& bytes) {
  std::unique_ptr<nv::EnvFile> f;
  nv::OpenOptions o;
  o.mode = 0x42;
  ASSERT_EQ(nv::GetEnv()->Open(path, o, &f), 0);
  ASSERT_EQ(f->Write(offset, bytes.data(), bytes.size()), 0);
}

TEST(KeyFile, CorruptFilesAnswerKeysMustBeRebuilt) {
  ScratchDir dir;
  KeySpec shape = StringKey(8);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("C.K01"), shape, &k), 0);
  for (uint32_t i = 1; i <= 200; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i, 8))), 0);
  k.reset();
  const std::string path = dir.File("C.K01");
  std::string good = ReadAll(path);
  auto reopen = [&]() { return KeyFile::Open(nullptr, path, nv::OpenOptions{0x42}, shape, &k); };
  // A short file, a root beyond the pages, zero levels.
  {
    std::unique_ptr<nv::EnvFile> f;
    ASSERT_EQ(nv::GetEnv()->Open(path, nv::OpenOptions{0x42}, &f), 0);
    ASSERT_EQ(f->Truncate(20), 0);
  }
  EXPECT_EQ(reopen(), kErrKeysMustBeRebuilt);
  Poke(path, 0, good);
  Poke(path, 0, std::string("\x63\0\0\0", 4));
  EXPECT_EQ(reopen(), kErrKeysMustBeRebuilt);
  Poke(path, 0, good.substr(0, 4));
  Poke(path, 33, std::string("\0", 1));
  EXPECT_EQ(reopen(), kErrKeysMustBeRebuilt);
  Poke(path, 0, good.substr(0, 35));
  ASSERT_EQ(reopen(), 0);
  // A page count above the page's capacity, then a broken sibling link.
  Poke(path, 512, std::string("\xFF", 1));
  KeyCursor c;
  EXPECT_EQ(k->First(&c), kErrKeysMustBeRebuilt);
  std::string report;
  EXPECT_EQ(k->Check(&report), kErrKeysMustBeRebuilt);
  EXPECT_FALSE(report.empty());
  EXPECT_EQ(k->Insert(999, Bytes(Value(0, 8))), kErrKeysMustBeRebuilt);
  k.reset();
  Poke(path, 0, good);
  ASSERT_EQ(reopen(), 0);
  Poke(path, 512 + 1, std::string("\x77\x77\0\0", 4));  // next link out of range
  k->set_cache(false);
  EXPECT_EQ(k->Check(&report), kErrKeysMustBeRebuilt);
  EXPECT_EQ(k->SeekOrdinal(60, &c), kErrKeysMustBeRebuilt);
}

TEST(KeyFile, FailedWritesAnswerSmallSystemNumbersElseFiveAndStick) {
  ScratchDir dir;
  nvtest::FailingEnv env;
  KeySpec shape = StringKey(8);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(&env, dir.File("W.K01"), shape, &k), 0);
  ASSERT_EQ(k->Insert(1, Bytes(Value(1, 8))), 0);
  env.write_budget = 0;  // disk full (39): answered as 5
  EXPECT_EQ(k->Insert(2, Bytes(Value(2, 8))), 5);
  env.write_budget = -1;
  EXPECT_EQ(k->Insert(3, Bytes(Value(3, 8))), 5);  // refused until reopened
  EXPECT_EQ(k->Reset(), 5);
  k.reset();
  ASSERT_EQ(KeyFile::Open(&env, dir.File("W.K01"), {}, shape, &k), 0);
  ASSERT_EQ(k->Insert(4, Bytes(Value(4, 8))), 0);
  env.error = 6;
  env.write_budget = 0;
  EXPECT_EQ(k->Remove(4, Bytes(Value(4, 8))), 6);
}

TEST(KeyFile, EveryWriteGoesThroughTheHook) {
  ScratchDir dir;
  nvtest::FailingEnv env;
  KeySpec shape = StringKey(40);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(&env, dir.File("H.K01"), shape, &k), 0);
  int hooked = 0;
  k->set_write_hook([&](uint64_t offset, size_t n) {
    ++hooked;
    EXPECT_TRUE(offset % 512 == 0 || (offset == 35 && n == 512 - 35));
    return 0;
  });
  const int before = env.writes;
  for (uint32_t i = 1; i <= 100; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i * 7 % 100, 40))), 0);
  for (uint32_t i = 1; i <= 50; ++i) ASSERT_EQ(k->Remove(i, Bytes(Value(i * 7 % 100, 40))), 0);
  ASSERT_EQ(k->Reset(), 0);
  EXPECT_EQ(hooked, env.writes - before);
  // A refusing hook stops the write.
  k->set_write_hook([](uint64_t, size_t) { return 48; });
  EXPECT_EQ(k->Insert(1, Bytes(Value(1, 40))), 48);
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

// Damaged files: random bytes over the pages of a sound tree. Every
// operation must answer (0 or an error) without crashing or looping.
TEST(KeyFile, RandomlyDamagedPagesNeverCrashOrLoop) {
  ScratchDir dir;
  KeySpec shape = StringKey(100);  // 4 entries per page: a deep tree
  std::unique_ptr<KeyFile> k;
  const std::string path = dir.File("X.K01");
  ASSERT_EQ(KeyFile::Create(nullptr, path, shape, &k), 0);
  for (uint32_t i = 1; i <= 300; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i * 13 % 97, 100))), 0);
  k.reset();
  std::string good = ReadAll(path);
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    std::string bad = good;
    int hits = 1 + int(rng() % 6);
    for (int i = 0; i < hits; ++i) {
      size_t page = 1 + rng() % (bad.size() / 512 - 1);
      size_t at = page * 512 + (rng() % 2 ? rng() % 13 : rng() % 512);
      bad[at] = char(rng());
    }
    Poke(path, 0, bad);
    if (KeyFile::Open(nullptr, path, nv::OpenOptions{0x42}, shape, &k) != 0) continue;
    std::string report;
    k->Check(&report);
    KeyCursor c;
    int steps = 0;
    if (k->First(&c) == 0)
      while (!c.at_end() && steps++ < 1000 && k->Next(&c) == 0) {
      }
    k->Last(&c);
    k->Prev(&c);
    k->SeekOrdinal(150, &c);
    uint32_t n;
    k->Ordinal(c, &n);
    bool found;
    k->Contains(Bytes(Value(5, 100)), 0, &found);
    for (uint32_t i = 0; i < 20; ++i) {
      k->Insert(1000 + i, Bytes(Value(rng() % 100, 100)));
      k->Remove(rng() % 300 + 1, Bytes(Value(rng() % 97, 100)));
    }
    k.reset();
  }
}

}  // namespace
}  // namespace flat

namespace flat {
namespace {

TEST(KeyFile, CursorsStayCurrentUntilTheTreeChanges) {
  ScratchDir dir;
  KeySpec shape = StringKey(8);
  std::unique_ptr<KeyFile> k;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("G.K01"), shape, &k, nv::OpenOptions{0x12}), 0);
  for (uint32_t i = 1; i <= 100; ++i) ASSERT_EQ(k->Insert(i, Bytes(Value(i, 8))), 0);
  KeyCursor c;
  EXPECT_FALSE(k->Current(c));
  ASSERT_EQ(k->Seek(Bytes(Value(50, 8)), 0, &c), 0);
  EXPECT_TRUE(k->Current(c));
  bool found;
  ASSERT_EQ(k->Contains(Bytes(Value(7, 8)), 0, &found), 0);  // reading keeps it current
  ASSERT_EQ(k->Next(&c), 0);
  EXPECT_TRUE(k->Current(c));
  ASSERT_EQ(k->Insert(500, Bytes(Value(1, 8))), 0);
  EXPECT_FALSE(k->Current(c));
  ASSERT_EQ(k->Seek(Bytes(Value(50, 8)), 0, &c), 0);
  ASSERT_EQ(k->ReRead(), 0);
  EXPECT_FALSE(k->Current(c));
  ASSERT_EQ(k->Last(&c), 0);
  ASSERT_EQ(k->Remove(1, Bytes(Value(1, 8))), 0);
  EXPECT_FALSE(k->Current(c));
}

}  // namespace
}  // namespace flat
