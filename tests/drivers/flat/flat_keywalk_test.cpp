// Reading in key order on a file opened shared while another station writes
// between the reads: NEXT and PREVIOUS step from the entry last read, and
// every read sees the other station's completed ADD, PUT and DELETE. The
// same walk over a file opened exclusively, writing between its own reads
// (after RESET, and with none).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

// code -> record number of the live records, as the other station left them.
using Model = std::map<int32_t, uint32_t>;

// The writer's turn: a few ADDs, PUTs that move a record in code order and
// DELETEs (the reader's current record among them now and then).
void WriterTurn(File& w, Model* model, std::mt19937& rng, int32_t reader_code) {
  for (int n = int(rng() % 4); n > 0; --n) {
    const int what = int(rng() % 4);
    if (what == 0 || model->size() < 10) {
      int32_t code = int32_t(rng() % 5000);
      if (model->count(code)) continue;
      Fill(w, code, "N" + std::to_string(code));
      ASSERT_EQ(w.Add(), 0);
      (*model)[code] = uint32_t(w.Pointer());
      continue;
    }
    auto it = (what == 1 && model->count(reader_code))
                  ? model->find(reader_code)
                  : std::next(model->begin(), long(rng() % model->size()));
    ASSERT_EQ(w.Get(int32_t(it->second)), 0);
    if (what == 3) {
      int32_t code = int32_t(rng() % 5000);
      if (model->count(code)) continue;
      w.As<CustRecord>().CODE = code;
      ASSERT_EQ(w.Put(), 0);
      (*model)[code] = it->second;
    } else {
      ASSERT_EQ(w.Delete(), 0);
    }
    model->erase(it);
  }
}

// Walks the code key forward then backward, one record a turn, `w` writing
// between the reads; each read gives the live record that follows (or
// precedes) the last one read in the file as it is then.
void WalkWhileWritten(File& r, File& w, Model& model, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int dir : {+1, -1}) {
    r.Set(r.key(0));
    int32_t last = dir > 0 ? INT32_MIN : INT32_MAX;
    int steps = 0;
    for (;; ++steps) {
      ASSERT_LT(steps, 20000);
      WriterTurn(w, &model, rng, last);
      if (::testing::Test::HasFatalFailure()) return;
      const int err = dir > 0 ? r.Next() : r.Previous();
      auto want = dir > 0 ? model.upper_bound(last) : model.lower_bound(last);
      const bool any = dir > 0 ? want != model.end() : want != model.begin();
      if (!any) {
        ASSERT_EQ(err, 33) << "step " << steps;
        break;
      }
      if (dir < 0) --want;
      ASSERT_EQ(err, 0) << "step " << steps;
      ASSERT_EQ(r.As<CustRecord>().CODE, want->first) << "step " << steps;
      ASSERT_EQ(uint32_t(r.Pointer()), want->second) << "step " << steps;
      last = want->first;
    }
    EXPECT_GT(steps, 50);
  }
}

Model Populate(File& w, int count, std::mt19937& rng) {
  Model model;
  while (int(model.size()) < count) {
    int32_t code = int32_t(rng() % 5000);
    if (model.count(code)) continue;
    Fill(w, code, "N" + std::to_string(code));
    EXPECT_EQ(w.Add(), 0);
    model[code] = uint32_t(w.Pointer());
  }
  return model;
}

// A file of 400 records (several leaves of the code key) walked by an open
// of `mode` while another open (or, with one_open, the same one) writes.
void WalkAFileWhileWritten(uint32_t mode, bool one_open, uint32_t seed) {
  TempDir dir;
  FileDecl d = CustDecl(dir / "CUST", false);
  File r(d), w(d);
  ASSERT_EQ(r.Create(), 0);
  File& writer = one_open ? r : w;
  ASSERT_EQ(writer.Open(one_open ? mode : kReadWrite | kDenyNone), 0);
  if (!one_open) {
    ASSERT_EQ(r.Open(mode), 0);
  }
  std::mt19937 rng(seed);
  Model model = Populate(writer, 400, rng);
  WalkWhileWritten(r, writer, model, seed + 2);
  r.Close();
  if (!one_open) w.Close();
  EXPECT_TRUE(Consistent(d.name + ".DAT"));
}

TEST(FlatKeyWalk, SharedWalkSeesTheOtherStationsWrites) {
  WalkAFileWhileWritten(kReadOnly | kDenyNone, false, 3);
}

// One open reading and writing: its own writes between its reads.
TEST(FlatKeyWalk, ExclusiveWalkSeesItsOwnWrites) {
  TempDir dir;
  FileDecl d = CustDecl(dir / "CUST", false);
  File f(d);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
  std::mt19937 rng(4);
  Model model = Populate(f, 400, rng);
  // The walk and the writes through the same open: the writer's GET and
  // PUT move the current record, so the walk goes back to its place by
  // POSITION and RESET as a program does (the read after RESET gives the
  // record at the position again while it is there).
  for (int dir_sign : {+1, -1}) {
    f.Set(f.key(0));
    int32_t last = dir_sign > 0 ? INT32_MIN : INT32_MAX;
    std::string pos;
    for (int steps = 0;; ++steps) {
      ASSERT_LT(steps, 20000);
      if (!pos.empty()) {
        WriterTurn(f, &model, rng, last);
        if (HasFatalFailure()) return;
        ASSERT_EQ(f.Reset(f.key(0), pos), 0);
      }
      int err = dir_sign > 0 ? f.Next() : f.Previous();
      if (err == 0 && !pos.empty() && f.As<CustRecord>().CODE == last)
        err = dir_sign > 0 ? f.Next() : f.Previous();
      auto want = dir_sign > 0 ? model.upper_bound(last) : model.lower_bound(last);
      const bool any = dir_sign > 0 ? want != model.end() : want != model.begin();
      if (!any) {
        ASSERT_EQ(err, 33);
        break;
      }
      if (dir_sign < 0) --want;
      ASSERT_EQ(err, 0) << "step " << steps;
      ASSERT_EQ(f.As<CustRecord>().CODE, want->first) << "step " << steps;
      last = want->first;
      pos = f.Position(f.key(0));
    }
  }
  f.Close();
  EXPECT_TRUE(Consistent(d.name + ".DAT"));
}

// A walk that keeps its place in the key (deny-write: it steps from the
// entry it read while the key file is unchanged) with its own writes
// between its reads, through the same open and no RESET: GET, PUT and
// DELETE of other records (and of the one just read) and ADD change the
// key under the walk, which then seeks its place again.
TEST(FlatKeyWalk, DenyWriteWalkWithItsOwnWritesBetweenReads) {
  WalkAFileWhileWritten(kReadWrite | kDenyWrite, true, 6);
}

}  // namespace
}  // namespace flattest
