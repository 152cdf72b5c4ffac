// Re-linking of calls to the directory: the longest-prefix rule, the four
// call files in their order, the window's ticks of at most ten calls with
// its refused close, and a randomized comparison with a brute-force oracle.
#include <algorithm>
#include <random>
#include <set>

#include "agenda/relink.h"
#include "tests/agenda/forms/forms_fixture.h"

namespace formstest {
namespace {

using namespace nv::ui;

class RelinkTest : public FormsTest {
 protected:
  // Every call's link equals the oracle's.
  void ExpectAllLinked(const std::string& context) {
    const auto numbers = Numbers();
    for (const Call& c : Calls()) {
      const auto want = Oracle(c.number, numbers);
      EXPECT_EQ(c.codigo, want.first) << context << " call " << c.number;
      EXPECT_EQ(c.gruage, want.second) << context << " call " << c.number;
    }
  }
};

// The same tests with the agenda in flat files and in a PostgreSQL database.
class StoresRelinkTest : public OverStores<RelinkTest> {};
INSTANTIATE_TEST_SUITE_P(Stores, StoresRelinkTest, ::testing::Values(Where::kFlat, Where::kPostgres),
                         WhereName);

TEST_P(StoresRelinkTest, AddingAShortPrefixLinksItsCallsExceptThoseUnderALongerNumber) {
  AddNumber(7, "0114567", 3);
  AddCall(0, "01145671234", 7, 3);
  AddCall(0, "0119999");
  AddCall(1, "011");
  AddCall(2, "0118888");
  AddCall(3, "0114567");  // equals the longer number exactly
  AddCall(3, "0121111");  // another prefix: untouched
  AddCall(0, "01");       // shorter than N: untouched
  AddNumber(5, "011", 2);
  EXPECT_EQ(agenda::RelinkCalls("011"), 5);
  EXPECT_EQ(LinkOf("01145671234"), 7);
  EXPECT_EQ(LinkOf("0114567"), 7);
  EXPECT_EQ(LinkOf("0119999"), 5);
  EXPECT_EQ(LinkOf("011"), 5);
  EXPECT_EQ(LinkOf("0118888"), 5);
  EXPECT_EQ(LinkOf("0121111"), 0);
  EXPECT_EQ(LinkOf("01"), 0);
  ExpectAllLinked("after adding 011");
}

TEST_P(StoresRelinkTest, DeletingANumberFallsBackToTheNextShorterMatchOrToNone) {
  AddNumber(1, "03", 4);
  AddNumber(2, "0351", 5);
  AddNumber(3, "0351456", 6);
  AddCall(0, "0351456789", 3, 6);
  AddCall(1, "0351999", 2, 5);
  AddCall(2, "0399", 1, 4);
  ASSERT_TRUE(DeleteNumber("0351456"));
  agenda::RelinkCalls("0351456");
  EXPECT_EQ(LinkOf("0351456789"), 2);
  ASSERT_TRUE(DeleteNumber("0351"));
  agenda::RelinkCalls("0351");
  EXPECT_EQ(LinkOf("0351456789"), 1);
  EXPECT_EQ(LinkOf("0351999"), 1);
  ASSERT_TRUE(DeleteNumber("03"));
  agenda::RelinkCalls("03");
  for (const Call& c : Calls()) {
    EXPECT_EQ(c.codigo, 0) << c.number;
    EXPECT_EQ(c.gruage, 0) << c.number;
  }
}

TEST_F(RelinkTest, TrailingBlanksOfTheNumberAreIgnored) {
  AddNumber(9, "4444   ");
  AddCall(0, "44445555");
  AddCall(0, "4445");
  EXPECT_EQ(agenda::RelinkCalls("4444     "), 1);
  EXPECT_EQ(LinkOf("44445555"), 9);
  EXPECT_EQ(LinkOf("4445"), 0);
}

TEST_P(StoresRelinkTest, EmptyOrOverlongNumbersReachNoCall) {
  AddNumber(9, "1");
  AddCall(0, "123", 77);
  EXPECT_EQ(agenda::RelinkCalls(""), 0);
  EXPECT_EQ(agenda::RelinkCalls("     "), 0);
  EXPECT_EQ(agenda::RelinkCalls(std::string(35, '1')), 0);
  EXPECT_EQ(LinkOf("123"), 77);  // untouched
}

TEST_F(RelinkTest, MissingCallFilesAreSkipped) {
  AddNumber(4, "55");
  AddCall(0, "5511");
  AddCall(3, "5522");
  ASSERT_EQ(dic_->NewFile("FXMO02")->Remove(), 0);
  ASSERT_EQ(dic_->NewFile("FXTR01")->Remove(), 0);
  EXPECT_EQ(agenda::RelinkCalls("55"), 2);
  EXPECT_TRUE(ui_->messages().empty());
}

// A call file that exists but cannot be opened is left out like a missing
// one, but said through the error reporter; the other files are re-linked.
TEST_F(RelinkTest, ADamagedCallFileIsReportedAndSkipped) {
  struct Reporter : nv::dict::ErrorReporter {
    void FileError(std::string_view label, std::string_view, int code,
                   const std::string&) override {
      errors.push_back(std::string(label) + ":" + std::to_string(code));
    }
    std::vector<std::string> errors;
  } reporter;
  AddNumber(4, "55");
  AddCall(0, "5511");
  AddCall(1, "5533");
  AddCall(3, "5522");
  ASSERT_EQ(dic_->NewFile("FXTR01")->Remove(), 0);  // missing: said nowhere
  {
    // FXMO02's data file: garbage where the header should be.
    const std::string name = "Archivos/FXMO02.VTR";
    std::string bytes;
    ASSERT_EQ(nv::ReadWholeFile(name, &bytes), 0);
    for (size_t i = 0; i < 64 && i < bytes.size(); ++i) bytes[i] = char(0xA5 ^ i);
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
  }
  dic_->set_reporter(&reporter);
  EXPECT_EQ(agenda::RelinkCalls("55"), 2);
  dic_->set_reporter(nullptr);
  ASSERT_EQ(reporter.errors.size(), 1u);
  EXPECT_EQ(reporter.errors[0].rfind("FXMO02:", 0), 0u) << reporter.errors[0];
  FileAccess& mo01 = Use("FXMO01");
  ASSERT_EQ(mo01.file().Set(), 0);
  ASSERT_EQ(mo01.file().Next(), 0);
  EXPECT_EQ(mo01.rec<CallRecord>().CODIGO, 4);
  mo01.Close();
}

// A call held by another station cannot be written: the run goes on with
// the others and says once that a call kept its old link.
TEST_F(RelinkTest, ACallHeldElsewhereIsReportedAndTheRestLinked) {
  struct Reporter : nv::dict::ErrorReporter {
    void FileError(std::string_view label, std::string_view operation, int code,
                   const std::string&) override {
      errors.push_back(std::string(label) + ":" + std::string(operation) + ":" +
                       std::to_string(code));
    }
    std::vector<std::string> errors;
  } reporter;
  AddNumber(4, "55");
  AddCall(1, "5511");
  AddCall(1, "5522");
  AddCall(1, "5533");
  // Another station holds the call "5522".
  std::unique_ptr<nv::File> other = dic_->NewFile("FXMO02");
  ASSERT_EQ(other->Open(), 0);
  other->As<CallRecord>().NROTEL = "5522";
  nv::KeyDecl* k = other->key("MO02:MO02_C9");
  ASSERT_EQ(other->Set(k, k), 0);
  other->Hold(1);
  ASSERT_EQ(other->Next(), 0);
  dic_->set_reporter(&reporter);
  EXPECT_EQ(agenda::RelinkCalls("55"), 3);
  dic_->set_reporter(nullptr);
  other->Release();
  other->Close();
  EXPECT_EQ(LinkOf("5511"), 4);
  EXPECT_EQ(LinkOf("5522"), 0);  // kept its old link
  EXPECT_EQ(LinkOf("5533"), 4);
  EXPECT_EQ(reporter.errors, (std::vector<std::string>{"FXMO02:Put:5"}));
}

// The cache holds one answer per run: a run after a directory change does
// not reuse the answer of the run before.
TEST_F(RelinkTest, TheCacheDoesNotOutliveARun) {
  AddNumber(1, "77");
  AddCall(0, "7788");
  agenda::RelinkCalls("77");
  EXPECT_EQ(LinkOf("7788"), 1);
  AddNumber(2, "778");
  agenda::RelinkCalls("778");
  EXPECT_EQ(LinkOf("7788"), 2);
  ASSERT_TRUE(DeleteNumber("778"));
  agenda::RelinkCalls("77");
  EXPECT_EQ(LinkOf("7788"), 1);
}

TEST_F(RelinkTest, ConsecutiveCallsOfOneNumberShareOneLookup) {
  AddNumber(1, "66");
  AddNumber(2, "6612");
  nv::File& re09 = Use("FXRE09").file();
  std::vector<nv::File*> files;
  for (int i = 0; i < 5; ++i) AddCall(0, "661234");
  AddCall(0, "6699");
  std::vector<agenda::CallFileView> views;
  views.push_back(agenda::CallLegView(Use("FXMO01").file(), "MO01:MO01_C9"));
  {
    agenda::CallRelinker run(re09, views, "66");
    run.Begin();
    EXPECT_EQ(run.Step(0), 6);
    EXPECT_TRUE(run.done());
    EXPECT_EQ(run.lookup().lookups(), 2);
    EXPECT_EQ(run.changed(), 6);
  }
  dic_->Access("FXMO01")->Close();
  dic_->Access("FXRE09")->Close();
  EXPECT_EQ(LinkOf("661234"), 2);
  EXPECT_EQ(LinkOf("6699"), 1);
}

// A lookup probes RE09_C3 once per distinct length present under the
// call's first character (no longer than the call), longest first; the
// lengths are learnt once per run and first character.
TEST_F(RelinkTest, ALookupReadsAtMostOnceForEachLengthPresent) {
  // Many numbers of three lengths under "4", and some under "5".
  for (int i = 0; i < 60; ++i) {
    AddNumber(100 + i, "4" + std::to_string(10 + i));      // length 3
    AddNumber(200 + i, "4" + std::to_string(10000 + i));   // length 6
    AddNumber(300 + i, "4" + std::to_string(100000 + i));  // length 7
    AddNumber(400 + i, "5" + std::to_string(1000 + i));    // length 5
  }
  nv::File& re09 = Use("FXRE09").file();
  agenda::DirectoryLookup look(re09);
  EXPECT_EQ(look.Lengths('4'), (std::vector<uint8_t>{7, 6, 3}));
  EXPECT_EQ(look.scans(), 4);  // one read per length and the one that leaves "4"
  EXPECT_EQ(look.Lengths('5'), (std::vector<uint8_t>{5}));
  EXPECT_TRUE(look.Lengths('9').empty());
  const int64_t scans = look.scans();

  struct Case {
    const char* number;
    int32_t codigo;
    int64_t probes;
  };
  const Case cases[] = {
      {"41000999", 209, 2},                // length 6 matches after length 7 failed
      {"4100005", 305, 1},                 // exactly a length-7 number
      {"41099", 100, 1},                   // only length 3 is short enough
      {"4799999999", 0, 3},                // every length probed, none matches
      {"415", 105, 1},      {"41", 0, 0},  // shorter than every number
      {"5104422", 444, 1},  {"5109999", 0, 1}, {"9123", 0, 0},  // nothing under "9"
  };
  const auto numbers = Numbers();
  for (const Case& c : cases) {
    const int64_t before = look.probes();
    const agenda::CallLink link = look.Lookup(c.number);
    EXPECT_EQ(link.codigo, c.codigo) << c.number;
    EXPECT_EQ(look.probes() - before, c.probes) << c.number;
    EXPECT_EQ(link.codigo, Oracle(c.number, numbers).first) << c.number;
  }
  EXPECT_EQ(look.scans(), scans);  // the lengths were read once
  dic_->Access("FXRE09")->Close();
}

// Find, as a run uses it: calls met in number order reuse what earlier
// probes learnt (no directory number of that length between the probed
// prefix and the next number), so the directory is read about once per
// number in range; out of order, and for anything but digits, it probes
// again. Its answers always equal the plain lookup's and the oracle's.
TEST_F(RelinkTest, FindReusesItsProbesForCallsInNumberOrder) {
  std::mt19937 rng(7);
  auto digits = [&](int len) {
    std::string s;
    for (int i = 0; i < len; ++i) s += char('0' + rng() % 10);
    return s;
  };
  std::set<std::string> dir;
  for (int i = 0; i < 40; ++i) dir.insert("3" + digits(1 + int(rng() % 7)));
  // Not digits: their order may differ between stores, so never inferred.
  for (const char* odd : {"3-1", "31a", "3.", "3 12", "3A", "31-"}) dir.insert(odd);
  int32_t owner = 0;
  for (const std::string& n : dir) {
    ++owner;
    AddNumber(owner, n, owner % 5);
  }
  std::vector<std::string> calls;
  for (int i = 0; i < 400; ++i) calls.push_back("3" + digits(2 + int(rng() % 9)));
  for (const char* odd : {"3-12", "31a9", "3.5", "3 123", "3A", "31-", "31-0", "3"}) {
    calls.push_back(odd);
  }
  const auto numbers = Numbers();
  nv::File& re09 = Use("FXRE09").file();
  std::vector<std::string> sorted = calls;
  std::sort(sorted.begin(), sorted.end());
  agenda::DirectoryLookup plain(re09), ordered(re09), shuffled(re09);
  for (const std::string& c : sorted) {
    const agenda::CallLink want = plain.Lookup(c);
    const auto oracle = Oracle(c, numbers);
    EXPECT_EQ(want, (agenda::CallLink{oracle.first, oracle.second})) << c;
    EXPECT_EQ(ordered.Find(c), want) << c;
  }
  // Far fewer reads than one per length and call.
  EXPECT_LT(ordered.probes() * 3, plain.probes());
  std::shuffle(calls.begin(), calls.end(), rng);
  for (const std::string& c : calls) {
    const auto oracle = Oracle(c, numbers);
    EXPECT_EQ(shuffled.Find(c), (agenda::CallLink{oracle.first, oracle.second})) << c;
  }
  // A new run forgets everything.
  ordered.ResetCache();
  const int64_t before = ordered.probes() + ordered.scans();
  ordered.Find(sorted.back());
  EXPECT_GT(ordered.probes() + ordered.scans(), before);
  dic_->Access("FXRE09")->Close();
}

// Numbers with bytes below the blank or above 0x7F, blanks inside, and the
// full width of the field; a record whose derived fields disagree with its
// number (written by a faulty writer) matches nothing and hides nothing.
TEST_F(RelinkTest, OddBytesFullWidthAndBadDerivedFieldsAreHandled) {
  const std::string low = std::string("\x01\x02", 2) + "7";
  const std::string high = "\xff\xfe";
  const std::string wide(40, '8');
  AddNumber(1, low);
  AddNumber(2, high);
  AddNumber(3, wide);
  AddNumber(4, "88");
  AddNumber(5, "6 6");  // a blank inside
  {
    FileAccess& re09 = Use("FXRE09");
    re09.file().Clear();
    auto& r = re09.rec<RE09Record>();
    r.CODIGO.Set(9);
    r.NROTEL = "8888";
    r.CARINI = "8";
    r.LONTEL = 2;  // wrong: the clipped number has four characters
    ASSERT_EQ(re09.Insert(), 0);
    re09.Close();
  }
  nv::File& re09 = Use("FXRE09").file();
  agenda::DirectoryLookup look(re09);
  EXPECT_EQ(look.Lookup(low + "123").codigo, 1);
  EXPECT_EQ(look.Lookup(std::string("\x01\x02", 2)).codigo, 0);
  EXPECT_EQ(look.Lookup(high + "\x80").codigo, 2);
  EXPECT_EQ(look.Lookup(wide + "999").codigo, 3);  // longer than any number
  EXPECT_EQ(look.Lookup(std::string(39, '8')).codigo, 4);
  EXPECT_EQ(look.Lookup("88889").codigo, 4);  // the faulty record is no match
  EXPECT_EQ(look.Lookup("6 61").codigo, 5);
  EXPECT_EQ(look.Lookup("6 ").codigo, 0);
  EXPECT_EQ(look.Lookup("").codigo, 0);
  dic_->Access("FXRE09")->Close();

  AddCall(0, low + "55");
  AddCall(1, "\xff\xfe\xfd");
  AddCall(2, std::string(30, '8'));
  EXPECT_EQ(agenda::RelinkCalls(low), 1);
  EXPECT_EQ(agenda::RelinkCalls(high), 1);
  EXPECT_EQ(agenda::RelinkCalls("88"), 1);
  EXPECT_EQ(LinkOf(low + "55"), 1);
  EXPECT_EQ(LinkOf("\xff\xfe\xfd"), 2);
  EXPECT_EQ(LinkOf(std::string(30, '8')), 4);
}

TEST_F(RelinkTest, WindowTicksReadAtMostTenCallsAndRefuseToCloseMidway) {
  AddNumber(3, "22", 1);
  for (int i = 0; i < 12; ++i) AddCall(i % 4, "22" + std::to_string(100 + i));
  for (int i = 0; i < 13; ++i) AddCall(i % 4, "2299" + std::to_string(i));
  AddCall(0, "23");
  std::vector<std::string> pictures;
  auto picture = [](Window& w) {
    for (const ControlState& c : w.controls())
      if (c.def.kind == ControlKind::kImage) return c.text;
    return std::string();
  };
  // Each idle step records the clock picture and fires the next tick; after
  // tick 1 (cut at ten calls) a close is refused.
  auto tick = [&](Window& w) {
    pictures.push_back(picture(w));
    ui_->AdvanceClock(1);
  };
  ui_->OnIdle("Actualizando...", tick);
  ui_->OnIdle("Actualizando...", [&](Window& w) {
    pictures.push_back(picture(w));
    w.UserClose();
  });
  ui_->OnIdle("Actualizando...", tick);
  ui_->OnIdle("Actualizando...", tick);
  const int64_t start = ui_->Now();
  EXPECT_EQ(agenda::Actualizar_MOyTR("22"), 25);
  EXPECT_EQ(ui_->Now() - start, 3);  // 10 + 10 + 5 calls: three ticks
  EXPECT_EQ(pictures, (std::vector<std::string>{agenda::ClockPicture(1), agenda::ClockPicture(2),
                                                agenda::ClockPicture(2), agenda::ClockPicture(3)}));
  EXPECT_EQ(Count("Actualizando..."), 1);
  ExpectAllLinked("windowed");
  EXPECT_EQ(LinkOf("23"), 0);
}

TEST_F(RelinkTest, WindowWithNothingToDoClosesAfterTheFirstTick) {
  AddNumber(3, "9");
  AddCall(0, "8123", 44);
  const int64_t start = ui_->Now();
  EXPECT_EQ(agenda::Actualizar_MOyTR("9"), 0);
  EXPECT_EQ(ui_->Now() - start, 1);
  EXPECT_EQ(LinkOf("8123"), 44);
}

TEST_F(RelinkTest, ClockPicturesWrapAfterSeventeen) {
  AddNumber(3, "5");
  for (int i = 0; i < 10 * 18; ++i) AddCall(0, "5" + std::to_string(1000 + i));
  std::string last;
  for (int i = 0; i < 19; ++i) {
    ui_->OnIdle("Actualizando...", [&](Window& w) {
      for (const ControlState& c : w.controls())
        if (c.def.kind == ControlKind::kImage) last = c.text;
      ui_->AdvanceClock(1);
    });
  }
  EXPECT_EQ(agenda::Actualizar_MOyTR("5"), 180);
  // Before tick 19 the clock has moved 18 times: 17 is followed by 1, then 2.
  EXPECT_EQ(last, agenda::ClockPicture(2));
}

// Random directories of numbers that are prefixes of each other, random
// calls, random adds and deletes, each followed by the re-linking of the
// number changed: every call always matches the brute-force answer.
TEST_F(RelinkTest, RandomDirectoriesMatchTheOracle) {
  std::mt19937 rng(20261207);
  auto digits = [&](int len) {
    std::string s;
    for (int i = 0; i < len; ++i) s += char('0' + rng() % 3);
    return s;
  };
  std::vector<std::string> numbers;
  for (int i = 0; i < 120; ++i) {
    std::string n = digits(1 + int(rng() % 6));
    if (std::find(numbers.begin(), numbers.end(), n) != numbers.end()) continue;
    numbers.push_back(n);
    AddNumber(int32_t(1 + rng() % 50), n + std::string(rng() % 3, ' '), int32_t(rng() % 9));
  }
  for (int i = 0; i < 800; ++i) AddCall(int(rng() % 4), digits(1 + int(rng() % 9)));
  // Link everything once from the shortest prefixes ("0", "1", "2").
  for (const char* p : {"0", "1", "2"}) agenda::RelinkCalls(p);
  ExpectAllLinked("initial");
  for (int step = 0; step < 40; ++step) {
    std::string n;
    if (rng() % 2 == 0 && !numbers.empty()) {
      const size_t k = rng() % numbers.size();
      n = numbers[k];
      numbers.erase(numbers.begin() + long(k));
      ASSERT_TRUE(DeleteNumber(n));
    } else {
      n = digits(1 + int(rng() % 7));
      if (std::find(numbers.begin(), numbers.end(), n) != numbers.end()) continue;
      numbers.push_back(n);
      AddNumber(int32_t(1 + rng() % 50), n, int32_t(rng() % 9));
    }
    agenda::RelinkCalls(n + "  ");
    if (step % 8 == 7) ExpectAllLinked("step " + std::to_string(step));
    if (HasFailure()) break;
  }
  ExpectAllLinked("final");
}

}  // namespace
}  // namespace formstest
