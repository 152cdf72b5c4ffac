// Two opens of one key file taking turns as two stations do under the header
// lock: the walk of one steps from its last entry while the other inserts and
// removes between the steps (the finger checked against the leaf, or the seek
// from the root when the leaf changed); a stale header read on first use and
// never written back; a header that went bad meanwhile.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "drivers/flat/key_file.h"
#include "tests/drivers/flat/key_test_util.h"

namespace flat {
namespace {

using test::Bytes;
using test::ScratchDir;
using test::StringKey;
using test::Value;

using Entry = std::pair<std::string, uint32_t>;

constexpr nv::OpenOptions kShared{0x42};

// Opens another station's view of `path`: pages kept for one turn only.
std::unique_ptr<KeyFile> OpenShared(const std::string& path, const KeySpec& shape) {
  std::unique_ptr<KeyFile> k;
  EXPECT_EQ(KeyFile::Open(nullptr, path, kShared, shape, &k), 0);
  if (k) k->set_cache(false);
  return k;
}

// One step of a walk kept as (value, record) of the last entry read, as the
// driver's sequence does: the seek of that entry, then one entry on when it
// is still there.
int Step(KeyFile* k, const Entry& last, int dir, bool* found, Entry* out) {
  KeyCursor c;
  int rc = k->Seek(Bytes(last.first), last.second, &c);
  if (rc != 0) return rc;
  Entry e;
  bool exact = false;
  if (!c.at_end()) {
    rc = k->Entry(c, &e.second, &e.first);
    if (rc != 0) return rc;
    exact = e == last;
  }
  if (dir > 0) {
    if (exact) rc = k->Next(&c);
  } else {
    rc = c.at_end() ? k->Last(&c) : k->Prev(&c);
  }
  if (rc != 0) return rc;
  *found = !c.at_end();
  if (*found) rc = k->Entry(c, &out->second, &out->first);
  return rc;
}

// The reader walks the whole key forward, then backward, one entry a turn;
// between its turns the writer inserts and removes at random (the reader's
// own last entry among them), splitting, emptying and re-using pages. Each
// step must give the entry that follows the last one in the tree as it is.
void WalkWhileWritten(uint16_t key_size, uint32_t seed) {
  ScratchDir dir;
  const KeySpec shape = StringKey(key_size);
  std::unique_ptr<KeyFile> w;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("T.K01"), shape, &w, kShared), 0);
  w->set_cache(false);
  std::set<Entry> model;
  std::mt19937 rng(seed);
  uint32_t next_record = 1;
  auto insert = [&] {
    std::string v = Value(rng() % 400, key_size);
    uint32_t r = next_record++;
    ASSERT_EQ(w->Insert(r, Bytes(v)), 0);
    model.emplace(v, r);
  };
  for (int i = 0; i < 300; ++i) insert();
  std::unique_ptr<KeyFile> r = OpenShared(dir.File("T.K01"), shape);
  ASSERT_TRUE(r);

  for (int dir_sign : {+1, -1}) {
    Entry last = dir_sign > 0 ? Entry(std::string(key_size, '\0'), 0)
                              : Entry(std::string(key_size, '\xff'), UINT32_MAX);
    int steps = 0;
    for (;;) {
      // The writer's turn.
      w->MarkStale();
      for (int n = int(rng() % 4); n > 0; --n) {
        const int what = int(rng() % 3);
        if (what == 0 || model.empty()) {
          insert();
        } else {
          // Remove the reader's last entry now and then, else any.
          auto it = (what == 1 && model.count(last))
                        ? model.find(last)
                        : std::next(model.begin(), long(rng() % model.size()));
          bool removed = false;
          ASSERT_EQ(w->Remove(it->second, Bytes(it->first), &removed), 0);
          ASSERT_TRUE(removed);
          model.erase(it);
        }
      }
      // The reader's turn.
      r->MarkStale();
      bool found = false;
      Entry e;
      ASSERT_EQ(Step(r.get(), last, dir_sign, &found, &e), 0);
      if (dir_sign > 0) {
        auto want = model.upper_bound(last);
        ASSERT_EQ(found, want != model.end()) << "step " << steps;
        if (!found) break;
        ASSERT_EQ(e, *want) << "step " << steps;
      } else {
        auto want = model.lower_bound(last);
        ASSERT_EQ(found, want != model.begin()) << "step " << steps;
        if (!found) break;
        ASSERT_EQ(e, *std::prev(want)) << "step " << steps;
      }
      last = e;
      ++steps;
      ASSERT_LT(steps, 5000);
    }
    EXPECT_GT(steps, 100);
  }
  std::string problems;
  w->MarkStale();
  EXPECT_EQ(w->Check(&problems), 0) << problems;
}

TEST(KeyFinger, WalkWhileAnotherOpenWritesFourEntriesPerPage) {
  WalkWhileWritten(100, 11);
}
TEST(KeyFinger, WalkWhileAnotherOpenWritesManyEntriesPerPage) {
  WalkWhileWritten(8, 12);
}

// Without MarkStale an open keeps its view (the finger is taken as it is);
// after it, the leaf is read again and a moved entry is sought from the root.
TEST(KeyFinger, MarkStaleMakesTheFingerCheckTheLeaf) {
  ScratchDir dir;
  const KeySpec shape = StringKey(8);
  std::unique_ptr<KeyFile> w;
  ASSERT_EQ(KeyFile::Create(nullptr, dir.File("M.K01"), shape, &w, kShared), 0);
  for (uint32_t i = 1; i <= 20; ++i) ASSERT_EQ(w->Insert(i, Bytes(Value(i * 10, 8))), 0);
  std::unique_ptr<KeyFile> r = OpenShared(dir.File("M.K01"), shape);
  KeyCursor c;
  ASSERT_EQ(r->Seek(Bytes(Value(100, 8)), 10, &c), 0);
  uint32_t rec = 0;
  ASSERT_EQ(r->Entry(c, &rec, nullptr), 0);
  ASSERT_EQ(rec, 10u);
  EXPECT_EQ(c.index, 9);
  // Two entries before it: it moves two places on in its leaf.
  w->MarkStale();
  ASSERT_EQ(w->Insert(30, Bytes(Value(5, 8))), 0);
  ASSERT_EQ(w->Insert(31, Bytes(Value(6, 8))), 0);
  KeyCursor again;
  ASSERT_EQ(r->Seek(Bytes(Value(100, 8)), 10, &again), 0);
  EXPECT_EQ(again.index, 9);  // this open's view: nothing said it changed
  r->MarkStale();
  ASSERT_EQ(r->Seek(Bytes(Value(100, 8)), 10, &again), 0);
  EXPECT_EQ(again.index, 11);
  ASSERT_EQ(r->Entry(again, &rec, nullptr), 0);
  EXPECT_EQ(rec, 10u);
  EXPECT_EQ(r->header().entries, 22u);
  // The entry gone: the seek answers the first entry after it.
  w->MarkStale();
  ASSERT_EQ(w->Remove(10, Bytes(Value(100, 8))), 0);
  r->MarkStale();
  ASSERT_EQ(r->Seek(Bytes(Value(100, 8)), 10, &again), 0);
  ASSERT_EQ(r->Entry(again, &rec, nullptr), 0);
  EXPECT_EQ(rec, 11u);
}

std::string HeaderBytes(const std::string& path) {
  std::string s;
  EXPECT_EQ(nv::ReadWholeFile(path, &s), 0);
  return s.substr(0, kKeyHeaderSize);
}

// A stale header is read when the open first needs it and is never written
// back over another open's.
TEST(KeyFinger, StaleHeaderIsReadOnFirstUseAndNeverWrittenBack) {
  ScratchDir dir;
  const KeySpec shape = StringKey(8, false);
  const std::string path = dir.File("S.K01");
  std::unique_ptr<KeyFile> a;
  ASSERT_EQ(KeyFile::Create(nullptr, path, shape, &a, kShared), 0);
  a->set_cache(false);
  std::unique_ptr<KeyFile> b = OpenShared(path, shape);
  for (uint32_t i = 1; i <= 50; ++i) ASSERT_EQ(a->Insert(i, Bytes(Value(i, 8))), 0);
  const std::string written = HeaderBytes(path);
  b->MarkStale();
  EXPECT_TRUE(b->stale());
  ASSERT_EQ(b->Flush(false), 0);  // its old header (no entries) stays in memory
  EXPECT_EQ(HeaderBytes(path), written);
  EXPECT_TRUE(b->stale());
  EXPECT_EQ(b->header().entries, 50u);
  EXPECT_FALSE(b->stale());
  // Its own change counts from the file's header.
  bool found = false;
  ASSERT_EQ(b->Contains(Bytes(Value(7, 8)), 0, &found), 0);
  EXPECT_TRUE(found);
  a->MarkStale();
  ASSERT_EQ(b->Insert(51, Bytes(Value(51, 8))), 0);
  EXPECT_EQ(a->header().entries, 51u);
  std::string problems;
  EXPECT_EQ(a->Check(&problems), 0) << problems;
}

// A header that went bad while the open was not looking (a build stopped
// half way leaves 0 levels) answers 46 to the next use, and the open works
// again once the file is sound.
TEST(KeyFinger, HeaderGoneBadAnswers46UntilSoundAgain) {
  ScratchDir dir;
  const KeySpec shape = StringKey(8);
  const std::string path = dir.File("B.K01");
  std::unique_ptr<KeyFile> a;
  ASSERT_EQ(KeyFile::Create(nullptr, path, shape, &a, kShared), 0);
  for (uint32_t i = 1; i <= 30; ++i) ASSERT_EQ(a->Insert(i, Bytes(Value(i, 8))), 0);
  std::unique_ptr<KeyFile> b = OpenShared(path, shape);
  KeyCursor c;
  ASSERT_EQ(b->First(&c), 0);
  std::string good = HeaderBytes(path);
  std::string bad = good;
  bad[33] = 0;  // levels
  auto poke = [&](const std::string& header) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fclose(f);
  };
  poke(bad);
  b->MarkStale();
  EXPECT_EQ(b->Seek(Bytes(Value(3, 8)), 3, &c), kErrKeysMustBeRebuilt);
  EXPECT_EQ(b->Next(&c), kErrKeysMustBeRebuilt);
  bool found = false;
  EXPECT_EQ(b->Contains(Bytes(Value(3, 8)), 0, &found), kErrKeysMustBeRebuilt);
  EXPECT_EQ(b->Insert(99, Bytes(Value(99, 8))), kErrKeysMustBeRebuilt);
  std::string report;
  EXPECT_EQ(b->Check(&report), kErrKeysMustBeRebuilt);
  EXPECT_FALSE(report.empty());
  EXPECT_EQ(HeaderBytes(path), bad);  // nothing written over it
  poke(good);
  ASSERT_EQ(b->Seek(Bytes(Value(3, 8)), 3, &c), 0);
  uint32_t rec = 0;
  ASSERT_EQ(b->Entry(c, &rec, nullptr), 0);
  EXPECT_EQ(rec, 3u);
}

}  // namespace
}  // namespace flat
