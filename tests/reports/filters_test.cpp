// Parameter blocks and the two forms of the selection: the filter texts run
// through the runtime's expression evaluator must select exactly what the
// in-code test selects, on random calls and random parameter blocks.
#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "host/dictionary/records.h"
#include "host/dictionary/services.h"
#include "host/runtime/date_time.h"
#include "host/runtime/declaration.h"
#include "host/runtime/expr.h"
#include "host/runtime/file.h"
#include "reports/filters.h"
#include "reports/params.h"

namespace fxr4test {
namespace {

using nv::dict::CallRecord;
using nv::dict::MA09Record;

TEST(ParamsTest, CopyRuleBlankFillsShortAndCutsLongArguments) {
  fxr4::PARAM_RPT b = fxr4::CopiedBlock<fxr4::PARAM_RPT>(std::string_view("\x05\0\0\0", 4));
  EXPECT_EQ(b.DESFEC, 5);
  EXPECT_EQ(b.HASFEC, 0x20202020);
  EXPECT_EQ(b.DESDE.view(), std::string(10, ' '));
  EXPECT_EQ(b.CURTAB.view(), std::string(20, ' '));
  std::string longer(300, 'Q');
  fxr4::PARAM_RPT_CTAS c = fxr4::CopiedBlock<fxr4::PARAM_RPT_CTAS>(longer);
  EXPECT_EQ(c.CURTAB.view(), std::string(20, 'Q'));
  fxr4::OPC_IMPRESION o = fxr4::CopiedBlock<fxr4::OPC_IMPRESION>(std::string_view());
  EXPECT_EQ(o.VISTA_PREVIA, ' ');
  EXPECT_EQ(int(o.COPIAS), 0x2020);
  // Bytes past the block are never touched.
  char guard[sizeof(fxr4::PARAM_RPT_COD) + 4];
  std::memset(guard, 'G', sizeof guard);
  fxr4::CopyBlock(guard, sizeof(fxr4::PARAM_RPT_COD), longer.data(), longer.size());
  EXPECT_EQ(std::string(guard + sizeof(fxr4::PARAM_RPT_COD), 4), "GGGG");
  fxr4::CopyBlock(guard, sizeof(fxr4::PARAM_RPT_COD), nullptr, 99);
  EXPECT_EQ(guard[0], ' ');
}

TEST(FilterTextTest, StandardTextsAreTheFixedOnes) {
  EXPECT_EQ(fxr4::StandardFilter("MO01", false, false),
            "NOT(MO01:TIPOLLA = 'NT') AND INRANGE(MO01:FECLLA,DesFec,HasFec)");
  EXPECT_EQ(fxr4::StandardFilter("MO02", false, true),
            "NOT(MO02:TIPOLLA = 'NT') AND INRANGE(MO02:FECLLA,DesFec,HasFec) AND "
            "MO02:TIPOLLA = Loc:Tipo");
  EXPECT_EQ(fxr4::StandardFilter("MO01", true, false),
            "NOT(MO01:TIPOLLA = 'NT') AND ( ((MO01:FECLLA = DesFec AND MO01:HORLLA >= DesHor) OR "
            "MO01:FECLLA > DesFec) AND (MO01:FECLLA < HASFEC OR (MO01:FECLLA = HasFec AND "
            "MO01:HORLLA <= HasHor)) )");
  EXPECT_EQ(fxr4::StandardFilter("MO01", true, true),
            "NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = Loc:Tipo AND ( ((MO01:FECLLA = DesFec "
            "AND MO01:HORLLA >= DesHor) OR MO01:FECLLA > DesFec) AND (MO01:FECLLA < HASFEC OR "
            "(MO01:FECLLA = HasFec AND MO01:HORLLA <= HasHor)) )");
  EXPECT_EQ(fxr4::AccountFilter("MO01", false, false),
            "NOT(MO01:TIPOLLA = 'NT') AND ((MA09:DESCTA >= desde) AND (MA09:DESCTA <= hasta)) "
            "AND INRANGE(MO01:FECLLA,DesFec,HasFec)");
  // The longest text fits the filter buffer.
  EXPECT_LE(fxr4::AccountFilter("MO02", true, true).size(), fxr4::kFilterBufferSize);
  EXPECT_EQ(fxr4::FreeFilter(),
            "NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = 'ES' AND MO01:COSLLA = 0");
  EXPECT_EQ(fxr4::UnratedFilter(), "MO01:TIPOLLA = 'NT'");
  EXPECT_EQ(fxr4::NumberDetailFilter("MO02"), "INRANGE(MO02:FECLLA,DesFec,HasFec)");
  EXPECT_EQ(fxr4::OrderKey("MO02", "_C11"), "MO02:MO02_C11");
  EXPECT_EQ(fxr4::AccountOrder("MO02"), "MA09:DESCTA,MO02:FECLLA,MO02:HORLLA");
}

TEST(InCodeSelectionTest, EdgesOfTypeWindowAndRange) {
  fxr4::Window w{100, 102, 500, 900};
  EXPECT_TRUE(fxr4::WindowSelects(w, 102, 900));
  EXPECT_FALSE(fxr4::WindowSelects(w, 102, 901));
  EXPECT_TRUE(fxr4::WindowSelects(w, 101, 0));
  EXPECT_FALSE(fxr4::WindowSelects(w, 100, 499));
  fxr4::Window days{100, 102, 0, 0};
  EXPECT_TRUE(fxr4::WindowSelects(days, 100, 0));
  days.Widen();
  EXPECT_FALSE(fxr4::WindowSelects(days, 100, 0));
  EXPECT_TRUE(fxr4::WindowSelects(days, 102, 8640000));
  EXPECT_EQ(days.deshor, 1);
  EXPECT_EQ(days.hashor, 8640000);
  EXPECT_FALSE(fxr4::TypeSelects("  ", "NT"));
  EXPECT_TRUE(fxr4::TypeSelects("  ", "LO"));
  EXPECT_TRUE(fxr4::TypeSelects("", "  "));
  EXPECT_TRUE(fxr4::TypeSelects("NT", "NT"));
  EXPECT_FALSE(fxr4::TypeSelects("??", "LO"));
  EXPECT_FALSE(fxr4::TypeSelects(nv::dict::TIPO_LLAMADAS("Inventadas"), "LO"));
  fxr4::Range r;
  r.kind = fxr4::RangeKind::kText;
  r.desde = "L2";
  r.hasta = "L4";
  EXPECT_TRUE(r.Contains("L4"));
  EXPECT_FALSE(r.Contains("L40"));
  EXPECT_FALSE(r.Contains("L1"));
  r.kind = fxr4::RangeKind::kNumber;
  r.low = 5;
  r.high = 3;
  EXPECT_FALSE(r.Contains(int64_t(4)));
}

// The call file as the evaluator sees it, with FECLLA read as a date.
nv::FileDecl EvalDecl(const char* prefix) {
  using R = CallRecord;
  nv::FileDecl d;
  d.label = std::string("FX") + prefix;
  d.driver = "Norvane";
  d.name = "/nonexistent/none";
  d.record = nv::DeclareRecord<R>(prefix, {NV_FIELD(R, CODLLA),
                                           nv::internal::MakeFieldSpec<nv::BinDate>(
                                               "FECLLA", offsetof(R, FECLLA), nv::FieldOptions{}),
                                           NV_FIELD(R, HORLLA),
                                           NV_FIELD(R, NROINT),
                                           NV_FIELD(R, NROLIN),
                                           NV_FIELD(R, NROTEL),
                                           NV_FIELD(R, DURLLA),
                                           NV_FIELD(R, RINLLA),
                                           NV_FIELD(R, NROCTA),
                                           NV_FIELD(R, COSLLA),
                                           NV_FIELD(R, DESLLA),
                                           NV_FIELD(R, TIPOLLA),
                                           NV_FIELD(R, CODIGO),
                                           NV_FIELD(R, TRANSF),
                                           NV_FIELD(R, RESERV),
                                           NV_FIELD(R, GRUINT),
                                           NV_FIELD(R, GRULIN),
                                           NV_FIELD(R, GRUCTA),
                                           NV_FIELD(R, GRUAGE),
                                           NV_FIELD(R, CODAGT),
                                           NV_FIELD(R, GRUAGT)});
  return d;
}

nv::FileDecl AccountEvalDecl() {
  using R = MA09Record;
  nv::FileDecl d;
  d.label = "FXMA09";
  d.driver = "Norvane";
  d.name = "/nonexistent/ma09";
  d.record = nv::DeclareRecord<R>(
      "MA09", {NV_FIELD(R, NROCTA), NV_FIELD(R, DESCTA), NV_FIELD(R, MULTISEL)});
  return d;
}

TEST(SelectionAgreementTest, FilterTextsAndCodeSelectTheSameCalls) {
  std::mt19937 rng(20260307);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const char* kTypes[] = {"LO", "NA", "IN", "CE", "CN", "ES", "NT", "  "};
  const char* kNames[] = {"Todas", "Locales", "Nacionales", "Especiales", "Celulares", ""};
  const char* kDescs[] = {"ALFA", "BETA", "GAMA", "DELTA", "OMEGA", ""};
  const int32_t base = nv::DateFromYmd(2026, 1, 1);
  int agreed_selected = 0, checked = 0;
  for (const char* prefix : {"MO01", "MO02"}) {
    nv::File calls(EvalDecl(prefix));
    nv::File accounts(AccountEvalDecl());
    for (int round = 0; round < 60; ++round) {
      // A random parameter block.
      int32_t desfec = base + pick(0, 20), hasfec = base + pick(0, 20);
      int32_t deshor = pick(0, 3) == 0 ? 0 : pick(1, 8640000);
      int32_t hashor = pick(0, 3) == 0 ? 0 : pick(1, 8640000);
      if (pick(0, 2) == 0) deshor = hashor = 0;
      std::string curtab = kNames[pick(0, 5)];
      std::string desde = kDescs[pick(0, 5)], hasta = kDescs[pick(0, 5)];
      std::string loc_tipo = nv::dict::TIPO_LLAMADAS(curtab);
      const bool typed = !nv::Clip(loc_tipo).empty();
      // The summary form: the filter text chosen by the block as given.
      const bool time_window = deshor != 0 || hashor != 0;
      const bool with_accounts = round % 2 == 1;
      const std::string text = with_accounts ? fxr4::AccountFilter(prefix, time_window, typed)
                                             : fxr4::StandardFilter(prefix, time_window, typed);
      nv::expr::Bindings bind;
      bind.BindFile(&calls);
      bind.BindFile(&accounts);
      bind.Bind("DesFec", &desfec);
      bind.Bind("HasFec", &hasfec);
      bind.Bind("DesHor", &deshor);
      bind.Bind("HasHor", &hashor);
      bind.Bind("Loc:Tipo", &loc_tipo);
      bind.Bind("Desde", &desde);
      bind.Bind("Hasta", &hasta);
      nv::expr::Error error;
      auto expr = nv::expr::Expression::Compile(text, bind, &error);
      ASSERT_NE(expr, nullptr) << error.message << "\n" << text;
      // The detail form: the widened window.
      fxr4::Window w{desfec, hasfec, deshor, hashor};
      w.Widen();
      for (int i = 0; i < 100; ++i) {
        CallRecord& r = calls.As<CallRecord>();
        r = CallRecord{};
        r.FECLLA.set_day(base + pick(-1, 21));
        r.HORLLA =
            pick(0, 9) == 0 ? (pick(0, 1) ? desfec == hasfec ? 1 : 8640000 : 1) : pick(1, 8640000);
        if (pick(0, 5) == 0) r.HORLLA = pick(0, 1) ? w.deshor : w.hashor;
        r.TIPOLLA = kTypes[pick(0, 7)];
        MA09Record& a = accounts.As<MA09Record>();
        a = MA09Record{};
        a.DESCTA = kDescs[pick(0, 5)];
        bool in_code = fxr4::CallSelects(loc_tipo, w, r);
        if (with_accounts) {
          // The in-code account test of the text (blank-padded, byte order).
          in_code = in_code && nv::CompareClipped(a.DESCTA.view(), desde) >= 0 &&
                    nv::CompareClipped(a.DESCTA.view(), hasta) <= 0;
        }
        const bool by_text = expr->Matches();
        ASSERT_EQ(by_text, in_code)
            << text << "\nfecha " << r.FECLLA.day() - base << " hora " << r.HORLLA << " tipo "
            << r.TIPOLLA.str() << " block " << desfec - base << ".." << hasfec - base << " "
            << deshor << ".." << hashor << " curtab " << curtab;
        ++checked;
        if (in_code) ++agreed_selected;
      }
    }
  }
  EXPECT_EQ(checked, 12000);
  EXPECT_GT(agreed_selected, 150);  // the comparison is not only over empty selections
}

TEST(SelectionAgreementTest, MalformedFilterTextsAreRefusedCleanly) {
  nv::File calls(EvalDecl("MO01"));
  int32_t desfec = 0, hasfec = 0, deshor = 0, hashor = 0;
  std::string tipo = "  ";
  nv::expr::Bindings bind;
  bind.BindFile(&calls);
  bind.Bind("DesFec", &desfec);
  bind.Bind("HasFec", &hasfec);
  bind.Bind("DesHor", &deshor);
  bind.Bind("HasHor", &hashor);
  bind.Bind("Loc:Tipo", &tipo);
  const std::string full = fxr4::StandardFilter("MO01", true, true);
  // Every proper prefix of the text, and a few damaged forms.
  std::vector<std::string> bad;
  for (size_t n = 0; n < full.size(); n += 3) bad.push_back(full.substr(0, n));
  bad.push_back(fxr4::StandardFilter("MO07", false, false));  // unknown file prefix
  bad.push_back("NOT(MO01:TIPOLLA = 'NT) AND 1");
  bad.push_back("INRANGE(MO01:FECLLA,DesFec)");
  bad.push_back(std::string("\0\xFF(", 3));
  for (const std::string& t : bad) {
    nv::expr::Error error;
    auto e = nv::expr::Expression::Compile(t, bind, &error);
    if (e == nullptr) {
      EXPECT_FALSE(error.ok()) << t;
    } else {
      e->Matches();  // a prefix that happens to be complete still evaluates
    }
  }
}

}  // namespace
}  // namespace fxr4test
