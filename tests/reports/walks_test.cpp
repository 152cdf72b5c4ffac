// The walks of the detail reports on random call files (transferred calls,
// every grouping field, blank and inverted ranges and windows):
// - the walks that seek to the time window of each group value print the
//   same document, byte for byte of its text, as the plain walks that read
//   every call of each group, for every detail procedure;
// - the detail reports select the calls that the view of the summary form
//   selects (key range plus the standard filter text), so a blank or
//   inverted range means the same in both: no call.
#include <random>

#include "host/dictionary/services.h"
#include "host/runtime/env.h"
#include "host/runtime/view.h"
#include "host/ui/headless/headless_backend.h"
#include "reports/filters.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

using fxr4::kLastInstant;
using nv::dict::MA09Record;
using nv::dict::TransferRecord;

const int32_t kBase = Day(2026, 3, 1);
const char* const kLines[] = {"L1", "L2", "L3", "L10", ""};
const char* const kExtensions[] = {"201", "202", "203", ""};
const char* const kTypes[] = {"LO", "NA", "NT", "IN"};
const char* const kAccounts[][2] = {{"C1", "ALFA"}, {"C2", "BETA"}, {"C3", "GAMA"}};

struct Sums {
  int64_t calls = 0, duration = 0;
  double cost = 0;
};

class WalksTest : public ReportTest {
 protected:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  template <size_t N>
  const char* Any(const char* const (&v)[N]) {
    return v[Pick(0, int(N) - 1)];
  }
  int32_t AnyTime() {
    const int32_t edges[] = {1, Hms(8, 0, 0), Hms(18, 0, 0), kLastInstant};
    return Pick(0, 4) == 0 ? edges[Pick(0, 3)] : Pick(1, kLastInstant);
  }

  // Random calls in both directions; a tenth are transferred calls of two
  // or three legs, with their header.
  void Fill(int calls) {
    for (const auto& a : kAccounts) {
      MA09Record r{};
      r.NROCTA = a[0];
      r.DESCTA = a[1];
      Add("FXMA09", r);
    }
    int32_t id = 0;
    for (bool out : {true, false}) {
      for (int i = 0; i < calls; ++i) {
        CallRecord r =
            Call(++id, kBase + Pick(0, 40), AnyTime(), Any(kLines), Any(kExtensions), Any(kTypes));
        r.NROTEL = std::to_string(44000 + Pick(0, 25));
        r.DURLLA = Pick(1, 90000);
        r.COSLLA = Pick(0, 900) / 100.0;
        r.NROCTA = Pick(0, 1) ? kAccounts[Pick(0, 2)][0] : "";
        r.GRULIN.Set(Pick(0, 4));
        r.GRUINT.Set(Pick(0, 4));
        r.GRUCTA.Set(Pick(0, 4));
        r.GRUAGE.Set(Pick(0, 4));
        r.CODAGT = Pick(0, 3);
        r.GRUAGT = Pick(0, 3);
        if (Pick(0, 9) > 0) {
          AddCall(r, out);
          continue;
        }
        TransferRecord h{};
        h.CODLLA = r.CODLLA;
        h.FECLLA = r.FECLLA;
        h.HORLLA = r.HORLLA;
        h.NROLIN = r.NROLIN;
        h.NROTEL = r.NROTEL;
        Add(out ? "FXTR01" : "FXTR02", h);
        r.TRANSF = "T";
        for (int leg = Pick(2, 3); leg > 0; --leg) {
          r.NROINT = Any(kExtensions);
          r.CODAGT = Pick(0, 3);
          r.HORLLA = std::min(kLastInstant, r.HORLLA + Pick(0, 6000));
          AddCall(r, out);
        }
      }
    }
  }

  // A random block of the procedure's kind.
  std::string Block(const fxr4::DetailProc& p) {
    int32_t desfec = kBase + Pick(-2, 42);
    int32_t hasfec = Pick(0, 6) == 0 ? desfec - Pick(0, 2) : desfec + Pick(0, 15);
    int32_t deshor = 0, hashor = 0;
    if (Pick(0, 1)) {
      deshor = AnyTime();
      hashor = AnyTime();
    }
    const char* curtab = Pick(0, 2) == 0 ? "Locales" : "Todas";
    switch (p.block) {
      case fxr4::BlockKind::kRpt: {
        const char* const* domain = p.field == fxr4::GroupField::kNROINT ? kExtensions : kLines;
        const int n = p.field == fxr4::GroupField::kNROINT ? 4 : 5;
        std::string b = Rpt(desfec, hasfec, deshor, hashor, domain[Pick(0, n - 1)],
                            Pick(0, 4) == 0 ? "" : domain[Pick(0, n - 2)], curtab);
        return b;
      }
      case fxr4::BlockKind::kCod: {
        fxr4::PARAM_RPT_COD b = fxr4::CopiedBlock<fxr4::PARAM_RPT_COD>(
            Cod(desfec, hasfec, Pick(-1, 4), Pick(-1, 5), curtab));
        b.DESHOR = deshor;
        b.HASHOR = hashor;
        return Bytes(b);
      }
      case fxr4::BlockKind::kCtas: {
        const char* const descs[] = {"", "ALFA", "B", "GAMA", "Z"};
        fxr4::PARAM_RPT_CTAS b = fxr4::CopiedBlock<fxr4::PARAM_RPT_CTAS>(
            Ctas(desfec, hasfec, descs[Pick(0, 4)], descs[Pick(0, 4)], curtab));
        b.DESHOR = deshor;
        b.HASHOR = hashor;
        return Bytes(b);
      }
    }
    return {};
  }

  std::string Text(const fxr4::DetailProc& p, const std::string& block, bool seek,
                   fxr4::RunResult* result) {
    fxr4::RunOptions o;
    o.dict = dict_.get();
    o.seek = seek;
    std::string text;
    o.deliver = [&](nv::report::Document&& d) { text = nv::report::RenderText(d); };
    *result = fxr4::RunDetail(p, block, Opc(), o);
    return text;
  }

  // What the summary form's view selects for the block: the family's key
  // with the range on its leading field (or the account description in the
  // filter over the joined accounts) and the standard filter text.
  Sums ViewSelection(const fxr4::DetailProc& p, const std::string& block) {
    const std::string prefix = fxr4::CallPrefix(p.direction);
    std::unique_ptr<nv::File> calls = dict_->NewFile(fxr4::CallLabel(p.direction));
    std::unique_ptr<nv::File> accounts = dict_->NewFile("FXMA09");
    EXPECT_EQ(calls->Open(nv::kReadOnly | nv::kDenyNone), 0);
    EXPECT_EQ(accounts->Open(nv::kReadOnly | nv::kDenyNone), 0);
    nv::View v(calls.get());
    // The block's fields, by kind (DESFEC..HASHOR and CURTAB are common).
    fxr4::PARAM_RPT_CTAS ctas = fxr4::CopiedBlock<fxr4::PARAM_RPT_CTAS>(block);
    fxr4::PARAM_RPT_COD cod = fxr4::CopiedBlock<fxr4::PARAM_RPT_COD>(block);
    fxr4::PARAM_RPT rpt = fxr4::CopiedBlock<fxr4::PARAM_RPT>(block);
    int32_t desfec = rpt.DESFEC, hasfec = rpt.HASFEC, deshor = rpt.DESHOR, hashor = rpt.HASHOR;
    std::string tipo =
        nv::dict::TIPO_LLAMADAS(p.block == fxr4::BlockKind::kRpt   ? rpt.CURTAB.str()
                                : p.block == fxr4::BlockKind::kCod ? cod.CURTAB.str()
                                                                   : ctas.CURTAB.str());
    std::string desde = ctas.DESDE.str(), hasta = ctas.HASTA.str();
    nv::expr::Error e;
    if (p.walk == fxr4::Walk::kAccounts) {
      EXPECT_TRUE(
          v.Join(accounts.get(), accounts->key("MA09:MA09_CP"), {prefix + ":NROCTA"}, &e, true))
          << e.message;
    } else {
      const char* suffix = p.walk == fxr4::Walk::kDates ? "_C1" : p.key_suffix;
      v.SetKey(calls->key(fxr4::OrderKey(prefix, suffix)));
      if (p.range == fxr4::RangeKind::kText) {
        v.SetRange(nv::Value(rpt.DESDE.str()), nv::Value(rpt.HASTA.str()));
      } else if (p.range == fxr4::RangeKind::kNumber) {
        v.SetRange(nv::Value(int(cod.DESDE)), nv::Value(int(cod.HASTA)));
      }
    }
    for (auto [name, value] : {std::pair{"DesFec", &desfec}, std::pair{"HasFec", &hasfec},
                               std::pair{"DesHor", &deshor}, std::pair{"HasHor", &hashor}}) {
      v.bindings().Bind(name, value);
    }
    v.bindings().Bind("Loc:Tipo", &tipo);
    v.bindings().Bind("Desde", &desde);
    v.bindings().Bind("Hasta", &hasta);
    const bool timed = deshor != 0 || hashor != 0, typed = !nv::Clip(tipo).empty();
    const std::string filter = p.walk == fxr4::Walk::kAccounts
                                   ? fxr4::AccountFilter(prefix, timed, typed)
                                   : fxr4::StandardFilter(prefix, timed, typed);
    EXPECT_TRUE(v.SetFilter(filter, &e)) << e.message;
    Sums s;
    const CallRecord& r = calls->As<CallRecord>();
    for (v.Set(); v.Next() == 0;) {
      ++s.calls;
      s.duration += r.DURLLA;
      s.cost += r.COSLLA;
    }
    return s;
  }

  std::mt19937 rng_{20261208};
};

TEST_F(WalksTest, SeekWalksPrintWhatPlainWalksPrintAndSelectAsTheViews) {
  Fill(250);
  writers_.clear();
  // A fixed clock: the page footers of two runs are the same.
  nv::ui::HeadlessBackend ui;
  nv::Env* env = nv::GetEnv();
  nv::SetEnv(ui.clock_env());
  size_t n = 0;
  const fxr4::DetailProc* procs = fxr4::DetailProcs(&n);
  int64_t selected = 0, empty = 0;
  for (size_t i = 0; i < n; ++i) {
    const fxr4::DetailProc& p = procs[i];
    for (int round = 0; round < 6; ++round) {
      const std::string block = Block(p);
      fxr4::RunResult seek, plain;
      const std::string seek_text = Text(p, block, true, &seek);
      const std::string plain_text = Text(p, block, false, &plain);
      ASSERT_FALSE(seek_text.empty()) << p.name;
      ASSERT_EQ(seek_text, plain_text) << p.name << " round " << round;
      const Sums view = ViewSelection(p, block);
      EXPECT_EQ(seek.calls, view.calls) << p.name << " round " << round << "\n" << seek_text;
      EXPECT_EQ(seek.duration, view.duration) << p.name;
      EXPECT_NEAR(seek.cost, view.cost, 1e-6) << p.name;
      selected += seek.calls;
      empty += seek.calls == 0;
    }
  }
  nv::SetEnv(env);
  nv::ui::SetBackend(nullptr);
  // Neither mostly empty reports nor never an empty one.
  EXPECT_GT(selected, 500);
  EXPECT_GT(empty, 5);
}

}  // namespace
}  // namespace fxr4test
