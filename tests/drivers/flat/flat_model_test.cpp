// Model-based randomized test of the flat driver: a long random sequence of
// ADD, PUT, DELETE, BUILD, PACK and reopen, checked after every step against
// an in-memory model (records by number, each key's order derived from the
// model), and by the inspector. A short sequence by default; a long one when
// NV_LONG_TESTS=1.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "host/runtime/fixed_string.h"
#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

struct ModelRecord {
  int32_t code;
  std::string name;  // as stored (20 characters)
  int16_t age;
  std::string city;  // 10 characters
  std::string memo;
};

class FlatModelTest : public ::testing::TestWithParam<uint8_t> {
 protected:
  void SetUp() override { ClearError(); }

  void Open() {
    file_ = std::make_unique<File>(Decl());
    ASSERT_EQ(file_->Open(), 0) << ErrorCode();
  }
  FileDecl Decl() {
    FileDecl d = CustDecl(dir_ / "MODEL");
    d.attributes = GetParam();
    return d;
  }
  void Load(const ModelRecord& m) {
    Fill(*file_, m.code, m.name, m.age, m.city);
    file_->SetMemoText(0, m.memo);
  }
  ModelRecord Random() {
    static const char* names[] = {"garcia", "GARCIA", "Lopez", "Ruiz", "ruiz", "Diaz", "Mora"};
    static const char* cities[] = {"", "", "LEON", "AVILA", "SORIA"};
    ModelRecord m;
    m.code = int32_t(rng_() % 200) - 100;
    m.name = std::string(names[rng_() % 7]);
    m.name.resize(20, ' ');
    m.age = int16_t(int(rng_() % 7) - 3);
    m.city = cities[rng_() % 5];
    m.city.resize(10, ' ');
    if (rng_() % 3 == 0) m.memo = std::string(rng_() % 600, char('a' + rng_() % 26));
    return m;
  }
  bool CodeTaken(int32_t code, uint32_t except) {
    for (const auto& [n, m] : model_)
      if (n != except && m.code == code) return true;
    return false;
  }

  // Expected record numbers in each key's order.
  std::vector<uint32_t> Expected(int key) {
    std::vector<uint32_t> v;
    for (const auto& [n, m] : model_) {
      if (key == 2 && Clip(m.city).empty()) continue;
      v.push_back(n);
    }
    auto tie = [&](uint32_t n) {
      const ModelRecord& m = model_.at(n);
      switch (key) {
        case 0:
          return std::make_tuple(std::string(), int(m.code), 0, n);
        case 1:
          return std::make_tuple(Upper(m.name), 0, -int(m.age), n);
        default:
          return std::make_tuple(m.city, 0, 0, n);
      }
    };
    std::sort(v.begin(), v.end(), [&](uint32_t a, uint32_t b) { return tie(a) < tie(b); });
    return v;
  }

  void Verify(const std::string& step) {
    SCOPED_TRACE(step);
    File& f = *file_;
    ASSERT_EQ(f.Records(), int64_t(model_.size()));
    for (int k = 0; k < 3; ++k) {
      std::vector<uint32_t> got;
      f.Set(f.key(k));
      while (f.Next() == 0) got.push_back(uint32_t(f.Pointer()));
      ASSERT_EQ(got, Expected(k)) << "key " << k;
    }
    std::vector<uint32_t> got;
    f.Set();
    while (f.Next() == 0) {
      got.push_back(uint32_t(f.Pointer()));
      const ModelRecord& m = model_.at(uint32_t(f.Pointer()));
      ASSERT_EQ(f.As<CustRecord>().CODE, m.code);
      ASSERT_EQ(f.As<CustRecord>().NAME.view(), m.name);
      ASSERT_EQ(Clip(f.MemoText(0)), Clip(m.memo));
    }
    std::vector<uint32_t> want;
    for (const auto& [n, m] : model_) want.push_back(n);
    ASSERT_EQ(got, want);
    flat::InspectOptions o;
    o.oem = (GetParam() & kFileOem) != 0;
    ASSERT_TRUE(Consistent(dir_ / "MODEL", o));
  }

  TempDir dir_;
  std::mt19937 rng_{12345};
  std::unique_ptr<File> file_;
  std::map<uint32_t, ModelRecord> model_;
  uint32_t highest_ = 0;  // highest record number used
};

TEST_P(FlatModelTest, RandomOperationsAgreeWithTheModel) {
  {
    File c(Decl());
    ASSERT_EQ(c.Create(), 0);
  }
  Open();
  const char* env = std::getenv("NV_LONG_TESTS");
  const int steps = (env && std::string(env) == "1") ? 4000 : 250;
  const bool reuse = (GetParam() & kFileReclaim) != 0;
  for (int step = 0; step < steps; ++step) {
    File& f = *file_;
    const unsigned op = rng_() % 100;
    std::string what;
    if (op < 45) {
      ModelRecord m = Random();
      Load(m);
      int err = f.Add();
      what = "ADD " + std::to_string(m.code);
      if (CodeTaken(m.code, 0)) {
        ASSERT_EQ(err, 40) << what;
      } else {
        ASSERT_EQ(err, 0) << what;
        uint32_t n = uint32_t(f.Pointer());
        ASSERT_EQ(model_.count(n), 0u) << what;
        if (!reuse) {
          ASSERT_EQ(n, highest_ + 1) << what << ": without re-use ADD appends";
        }
        highest_ = std::max(highest_, n);
        model_[n] = m;
      }
    } else if (op < 70 && !model_.empty()) {
      auto it = std::next(model_.begin(), long(rng_() % model_.size()));
      ASSERT_EQ(f.Get(int32_t(it->first)), 0);
      ModelRecord m = Random();
      Load(m);
      int err = f.Put();
      what = "PUT " + std::to_string(it->first);
      if (CodeTaken(m.code, it->first)) {
        ASSERT_EQ(err, 40) << what;
      } else {
        ASSERT_EQ(err, 0) << what;
        it->second = m;
      }
    } else if (op < 90 && !model_.empty()) {
      auto it = std::next(model_.begin(), long(rng_() % model_.size()));
      what = "DELETE " + std::to_string(it->first);
      ASSERT_EQ(f.Get(int32_t(it->first)), 0) << what;
      ASSERT_EQ(f.Delete(), 0) << what;
      model_.erase(it);
    } else if (op < 94) {
      what = "BUILD";
      ASSERT_EQ(f.Build(), 0);
    } else if (op < 97) {
      what = "PACK";
      ASSERT_EQ(f.Pack(), 0) << ErrorCode();
      std::map<uint32_t, ModelRecord> packed;
      uint32_t n = 0;
      for (auto& [old, m] : model_) packed[++n] = m;
      model_ = std::move(packed);
      highest_ = n;
    } else {
      what = "REOPEN";
      ASSERT_EQ(f.Close(), 0);
      Open();
    }
    Verify(std::to_string(step) + " " + what);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Attributes, FlatModelTest,
                         ::testing::Values(uint8_t(kFileCreate),
                                           uint8_t(kFileCreate | kFileReclaim),
                                           uint8_t(kFileCreate | kFileReclaim | kFileOem)),
                         [](const ::testing::TestParamInfo<uint8_t>& i) {
                           std::string name = (i.param & kFileReclaim) ? "Reuse" : "Append";
                           if (i.param & kFileOem) name += "Oem";
                           return name;
                         });

}  // namespace
}  // namespace flattest
