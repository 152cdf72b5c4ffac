// Views over files of the in-memory test driver: key order, ranges, filters,
// joins, order texts, counts and the descriptor.
#include "host/runtime/view.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "tests/host/runtime/expr/call_records.h"

namespace {

using namespace nv;
using nvtest::AccountRecord;
using nvtest::CallRecord;

const int32_t kDay = 81000;  // DESFEC of the tests

struct CallRow {
  int32_t id, day, time;
  const char* line;
  const char* account;
  const char* type;
};
// Added in this scrambled order; ids 8 and 2 share date and time.
const CallRow kCalls[] = {
    {6, 3, 300, "L1", "A3", "LO"}, {1, 0, 500, "L1", "A1", "LO"}, {8, 1, 100, "L2", "A3", "LO"},
    {3, 1, 50, "L1", "", "NT"},    {5, 2, 10, "L2", "99", "LO"},  {2, 1, 100, "L2", "A2", "LO"},
    {7, 4, 200, "L2", "A2", "LO"}, {4, 2, 900, "L3", "A1", "DN"},
};

class ViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterDriver("MemTest", "libnvmemtest.so", "MEM$DrvReg"); }

  void SetUp() override {
    const std::string suffix = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    calls_ = std::make_unique<File>(nvtest::CallDecl("MO01", "calls_" + suffix, true));
    accounts_ = std::make_unique<File>(nvtest::AccountDecl("accounts_" + suffix));
    ASSERT_EQ(calls_->Create(), 0);
    ASSERT_EQ(calls_->Open(), 0);
    ASSERT_EQ(accounts_->Create(), 0);
    ASSERT_EQ(accounts_->Open(), 0);
    for (const CallRow& row : kCalls) {
      auto& r = calls_->As<CallRecord>();
      r = CallRecord{};
      r.IDLLA = row.id;
      nvtest::SetCallDate(r, kDay + row.day, true);
      r.HORLLA = row.time;
      r.NROLIN = row.line;
      r.NROCTA = row.account;
      r.TIPOLLA = row.type;
      ASSERT_EQ(calls_->Add(), 0);
    }
    for (auto [code, desc] :
         {std::pair{"A1", "Zeta"}, std::pair{"A2", "Alfa"}, std::pair{"A3", "Media"}}) {
      auto& a = accounts_->As<AccountRecord>();
      a.NROCTA = code;
      a.DESCTA = desc;
      a.MULTISEL = 0;
      ASSERT_EQ(accounts_->Add(), 0);
    }
  }
  void TearDown() override {
    calls_->Close();
    calls_->Remove();
    accounts_->Close();
    accounts_->Remove();
  }

  int32_t Id() { return calls_->As<CallRecord>().IDLLA; }
  std::vector<int32_t> Forward(View& v) {
    std::vector<int32_t> ids;
    EXPECT_EQ(v.Set(), 0);
    while (v.Next() == 0) ids.push_back(Id());
    EXPECT_EQ(ErrorCode(), 33);
    return ids;
  }
  std::vector<int32_t> Backward(View& v) {
    std::vector<int32_t> ids;
    EXPECT_EQ(v.Set(), 0);
    while (v.Previous() == 0) ids.push_back(Id());
    return ids;
  }
  void JoinAccounts(View& v, bool inner = false) {
    expr::Error e;
    ASSERT_TRUE(v.Join(accounts_.get(), accounts_->key(0), {"MO01:NROCTA"}, &e, inner))
        << e.message;
  }
  void Filter(View& v, const char* text) {
    expr::Error e;
    ASSERT_TRUE(v.SetFilter(text, &e)) << e.message;
  }

  std::unique_ptr<File> calls_, accounts_;
};

using Ids = std::vector<int32_t>;

TEST_F(ViewTest, KeyOrderWithADateRangeAndAFilter) {
  View v(calls_.get());
  int32_t desfec = kDay + 1, hasfec = kDay + 3;
  v.bindings().Bind("DesFec", &desfec);
  v.bindings().Bind("HasFec", &hasfec);
  v.SetKey(calls_->key(1));  // MO01_C1: FECLLA, HORLLA
  v.SetRange(Value(desfec), Value(hasfec));
  Filter(v, "NOT(MO01:TIPOLLA = 'NT') AND INRANGE(MO01:FECLLA,DesFec,HasFec)");
  EXPECT_EQ(Forward(v), (Ids{8, 2, 5, 4, 6}));
  EXPECT_EQ(Backward(v), (Ids{6, 4, 5, 2, 8}));
  EXPECT_EQ(v.Records(), 5);
  // Without filter and range the whole file, by key.
  View all(calls_.get());
  all.SetKey(calls_->key(1));
  EXPECT_EQ(Forward(all), (Ids{1, 3, 8, 2, 5, 4, 6, 7}));
  EXPECT_EQ(all.Records(), 8);  // RECORDS of the file
}

TEST_F(ViewTest, StringRangeOnTheLeadingFieldStopsAtItsEnd) {
  View v(calls_.get());
  v.SetKey(calls_->key(2));  // MO01_C2: NROLIN, FECLLA, HORLLA
  v.SetRange(Value("L2"), Value("L2"));
  EXPECT_EQ(Forward(v), (Ids{8, 2, 5, 7}));
  EXPECT_EQ(Backward(v), (Ids{7, 5, 2, 8}));
  EXPECT_EQ(v.Records(), 4);
  v.SetRange(Value("L2"), Value("L9"));
  EXPECT_EQ(Forward(v), (Ids{8, 2, 5, 7, 4}));
  v.SetRange(Value(""), Value("L1"));
  EXPECT_EQ(Forward(v), (Ids{1, 3, 6}));
}

TEST_F(ViewTest, RangeOnADescendingLeadingComponent) {
  FileDecl d = nvtest::CallDecl("MO01", "calls_RangeOnADescendingLeadingComponent", true);
  d.keys.push_back({"MO01:MO01_CD", {"-MO01:FECLLA", "MO01:HORLLA"}, kKeyDup, ""});
  File calls(d);
  ASSERT_EQ(calls.Open(), 0);
  View v(&calls);
  v.SetKey(calls.key(3));
  v.SetRange(Value(kDay + 1), Value(kDay + 3));
  auto id = [&] { return calls.As<CallRecord>().IDLLA; };
  Ids forward, backward;
  ASSERT_EQ(v.Set(), 0);
  while (v.Next() == 0) forward.push_back(id());
  ASSERT_EQ(v.Set(), 0);
  while (v.Previous() == 0) backward.push_back(id());
  EXPECT_EQ(forward, (Ids{6, 5, 4, 3, 8, 2}));
  EXPECT_EQ(backward, (Ids{2, 8, 3, 4, 5, 6}));
  calls.Close();
}

TEST_F(ViewTest, PreviousAfterTheEndOfARangeStepsBack) {
  View v(calls_.get());
  v.SetKey(calls_->key(2));
  v.SetRange(Value("L2"), Value("L2"));
  EXPECT_EQ(Forward(v), (Ids{8, 2, 5, 7}));
  EXPECT_EQ(Id(), 4);  // the record that ended the walk
  ASSERT_EQ(v.Previous(), 0);
  EXPECT_EQ(Id(), 7);
  ASSERT_EQ(v.Previous(), 0);
  EXPECT_EQ(Id(), 5);
  // Sorted walks step back from past the end too.
  expr::Error e;
  ASSERT_TRUE(v.SetOrder("-MO01:IDLLA", &e));
  EXPECT_EQ(Forward(v), (Ids{8, 7, 5, 2}));
  ASSERT_EQ(v.Previous(), 0);
  EXPECT_EQ(Id(), 2);
}

TEST_F(ViewTest, AClosedFileReportsItsError) {
  File closed(nvtest::CallDecl("MO01", "calls_never_opened", true));
  View v(&closed);
  v.SetKey(closed.key(1));
  EXPECT_EQ(v.Set(), 0);
  EXPECT_EQ(v.Next(), kErrFileNotOpen);
  expr::Error e;
  ASSERT_TRUE(v.SetOrder("MO01:IDLLA", &e));
  EXPECT_EQ(v.Set(), kErrFileNotOpen);
  EXPECT_EQ(v.Records(), -1);
}

TEST_F(ViewTest, LowAboveHighSelectsNothing) {
  View v(calls_.get());
  v.SetKey(calls_->key(2));
  v.SetRange(Value("L3"), Value("L1"));
  EXPECT_EQ(Forward(v), Ids{});
  EXPECT_EQ(Backward(v), Ids{});
  EXPECT_EQ(v.Records(), 0);
  View dates(calls_.get());
  dates.SetKey(calls_->key(1));
  dates.SetRange(Value(kDay + 3), Value(kDay + 1));
  EXPECT_EQ(Forward(dates), Ids{});
}

TEST_F(ViewTest, JoinReadsTheAccountAndClearsTheBufferWhenThereIsNone) {
  View v(calls_.get());
  v.SetKey(calls_->key(1));
  JoinAccounts(v);
  ASSERT_EQ(v.Set(), 0);
  std::vector<std::string> descriptions;
  while (v.Next() == 0) {
    descriptions.push_back(std::to_string(Id()) + ":" +
                           accounts_->As<AccountRecord>().DESCTA.str());
  }
  EXPECT_EQ(descriptions, (std::vector<std::string>{"1:Zeta", "3:", "8:Media", "2:Alfa",
                                                    "5:", "4:Zeta", "6:Media", "7:Alfa"}));
  // An inner join skips the calls without account.
  View inner(calls_.get());
  inner.SetKey(calls_->key(1));
  JoinAccounts(inner, true);
  EXPECT_EQ(Forward(inner), (Ids{1, 8, 2, 4, 6, 7}));
  EXPECT_EQ(inner.Records(), 6);  // counted: RECORDS would include the skipped ones
}

TEST_F(ViewTest, AccountFilterOverTheJoinedFile) {
  View v(calls_.get());
  v.SetKey(calls_->key(1));
  JoinAccounts(v);
  int32_t desfec = kDay, hasfec = kDay + 4;
  String<50> desde("Alfa"), hasta("Media");
  v.bindings().Bind("DesFec", &desfec);
  v.bindings().Bind("HasFec", &hasfec);
  v.bindings().Bind("Desde", &desde);
  v.bindings().Bind("Hasta", &hasta);
  Filter(v,
         "NOT(MO01:TIPOLLA = 'NT') AND ((MA09:DESCTA >= desde) AND (MA09:DESCTA <= hasta)) AND "
         "INRANGE(MO01:FECLLA,DesFec,HasFec)");
  EXPECT_EQ(Forward(v), (Ids{8, 2, 6, 7}));
  desde = "Media";
  hasta = "Alfa";  // DESDE above HASTA: nothing
  EXPECT_EQ(Forward(v), Ids{});
}

TEST_F(ViewTest, OrderTextSortsByTheJoinedDescriptionThenDateAndTime) {
  View v(calls_.get());
  JoinAccounts(v);
  Filter(v, "NOT(MO01:TIPOLLA = 'NT')");
  expr::Error e;
  ASSERT_TRUE(v.SetOrder("MA09:DESCTA,MO01:FECLLA,MO01:HORLLA", &e)) << e.message;
  EXPECT_EQ(v.Records(), 7);
  EXPECT_EQ(Forward(v), (Ids{5, 2, 7, 8, 6, 1, 4}));
  // Each record is read again with its joined buffer.
  ASSERT_EQ(v.Set(), 0);
  ASSERT_EQ(v.Next(), 0);
  EXPECT_EQ(accounts_->As<AccountRecord>().DESCTA.str(), "");
  ASSERT_EQ(v.Next(), 0);
  EXPECT_EQ(accounts_->As<AccountRecord>().DESCTA.str(), "Alfa");
  EXPECT_EQ(Backward(v), (Ids{4, 1, 6, 8, 7, 2, 5}));
  // Descending components and lower-case labels.
  ASSERT_TRUE(v.SetOrder(" -ma09:descta , mo01:fECLLA", &e)) << e.message;
  EXPECT_EQ(Forward(v), (Ids{1, 4, 8, 6, 2, 7, 5}));
  // Ties keep the order of the walk: record order here (8 was added before 2).
  ASSERT_TRUE(v.SetOrder("MO01:FECLLA,MO01:HORLLA", &e));
  EXPECT_EQ(Forward(v), (Ids{1, 8, 2, 5, 4, 6, 7}));
}

TEST_F(ViewTest, RangeFilterJoinAndOrderTextTogether) {
  // The account-code summary: calls of a date range, joined to their
  // account, filtered by account description, ordered by the order text.
  View v(calls_.get());
  v.SetKey(calls_->key(1));
  v.SetRange(Value(kDay + 1), Value(kDay + 4));
  JoinAccounts(v);
  String<50> desde("Alfa"), hasta("Zeta");
  v.bindings().Bind("Desde", &desde);
  v.bindings().Bind("Hasta", &hasta);
  Filter(v, "NOT(MO01:TIPOLLA = 'NT') AND ((MA09:DESCTA >= desde) AND (MA09:DESCTA <= hasta))");
  expr::Error e;
  ASSERT_TRUE(v.SetOrder("MA09:DESCTA,MO01:FECLLA,MO01:HORLLA", &e)) << e.message;
  EXPECT_EQ(v.Records(), 5);
  ASSERT_EQ(v.Set(), 0);
  std::vector<std::string> rows;
  while (v.Next() == 0) {
    rows.push_back(std::to_string(Id()) + ":" + accounts_->As<AccountRecord>().DESCTA.str());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"2:Alfa", "7:Alfa", "8:Media", "6:Media", "4:Zeta"}));
}

TEST_F(ViewTest, OrderTextErrors) {
  View v(calls_.get());
  expr::Error e;
  EXPECT_FALSE(v.SetOrder("MO01:FECLLA,MA09:DESCTA", &e));  // MA09 is not in the view
  EXPECT_EQ(e.message, "Error en el orden, posición 13: campo desconocido 'MA09:DESCTA'");
  EXPECT_FALSE(v.SetOrder("MO01:FECLLA,,MO01:HORLLA", &e));
  EXPECT_EQ(e.message, "Error en el orden, posición 13: se esperaba un campo");
  EXPECT_FALSE(v.SetOrder("DesFec", &e));  // a variable is no field
  EXPECT_TRUE(v.SetOrder("", &e));         // no order
  v.SetKey(calls_->key(0));
  EXPECT_EQ(Forward(v), (Ids{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ViewTest, BadFilterIsRefusedAndTheOldOneKept) {
  View v(calls_.get());
  v.SetKey(calls_->key(0));
  Filter(v, "MO01:TIPOLLA = 'NT'");
  expr::Error e;
  EXPECT_FALSE(v.SetFilter("MO01:TIPOLLA = ", &e));
  EXPECT_NE(e.message.find("posición 16"), std::string::npos) << e.message;
  EXPECT_FALSE(v.SetFilter("MO01:TIPOLLA = Loc:Tipo", &e));
  EXPECT_NE(e.message.find("nombre desconocido 'Loc:Tipo'"), std::string::npos);
  EXPECT_EQ(Forward(v), (Ids{3}));
  EXPECT_TRUE(v.SetFilter("  ", &e));  // blank removes the filter
  EXPECT_EQ(Forward(v).size(), 8u);
}

TEST_F(ViewTest, CountingDuringAWalkKeepsItsPlace) {
  View v(calls_.get());
  v.SetKey(calls_->key(1));
  Filter(v, "MO01:TIPOLLA <> 'NT'");
  ASSERT_EQ(v.Set(), 0);
  ASSERT_EQ(v.Next(), 0);
  ASSERT_EQ(v.Next(), 0);
  EXPECT_EQ(Id(), 8);
  EXPECT_EQ(v.Records(), 7);
  EXPECT_EQ(Id(), 8);  // the buffer is back on the walk's record
  Ids rest;
  while (v.Next() == 0) rest.push_back(Id());
  EXPECT_EQ(rest, (Ids{2, 5, 4, 6, 7}));
  // A count made before Set() serves that walk; a record added later
  // shows in the count of the next walk.
  View w(calls_.get());
  w.SetKey(calls_->key(1));
  Filter(w, "MO01:TIPOLLA <> 'NT'");
  EXPECT_EQ(w.Records(), 7);
  ASSERT_EQ(w.Set(), 0);
  EXPECT_EQ(w.Records(), 7);
  ASSERT_EQ(w.Next(), 0);
  auto& r = calls_->As<CallRecord>();
  r = CallRecord{};
  r.IDLLA = 9;
  r.TIPOLLA = "LO";
  ASSERT_EQ(calls_->Add(), 0);
  ASSERT_EQ(w.Set(), 0);
  EXPECT_EQ(w.Records(), 8);
}

TEST_F(ViewTest, JoinOnTheLeadingComponentsOfALongerKey) {
  // Lines joined to their first call through MO01_C2 (NROLIN, FECLLA, HORLLA).
  File lines(nvtest::LineDecl("lines_join"));
  ASSERT_EQ(lines.Create(), 0);
  ASSERT_EQ(lines.Open(), 0);
  for (const char* l : {"L1", "L2", "L9"}) {
    lines.As<nvtest::LineRecord>().NROLIN = l;
    ASSERT_EQ(lines.Add(), 0);
  }
  View v(&lines);
  v.SetKey(lines.key(0));
  expr::Error e;
  ASSERT_TRUE(v.Join(calls_.get(), calls_->key(2), {"MA07:NROLIN"}, &e)) << e.message;
  ASSERT_EQ(v.Set(), 0);
  Ids first;
  while (v.Next() == 0) first.push_back(Id());
  EXPECT_EQ(first, (Ids{1, 8, 0}));  // L9 has no call: the call buffer is cleared
  EXPECT_FALSE(v.Join(calls_.get(), calls_->key(2), {"MA07:NROLIN", "MA07:NADA"}, &e));
  EXPECT_NE(e.message.find("campo desconocido 'MA07:NADA'"), std::string::npos) << e.message;
  EXPECT_FALSE(v.Join(accounts_.get(), accounts_->key(0), {"MA07:NROLIN", "MA07:DESLIN"}, &e));
  lines.Close();
  lines.Remove();
}

TEST_F(ViewTest, BrowseFilterComparesWithTheBufferOfAnotherFile) {
  File companies(nvtest::EntryDecl("entries_browse"));
  File contacts(nvtest::EntryDecl("entries_browse"));
  ASSERT_EQ(companies.Create(), 0);
  ASSERT_EQ(companies.Open(), 0);
  ASSERT_EQ(contacts.Open(), 0);
  struct E {
    int32_t code, company;
    const char* name;
    const char* kind;
  };
  for (const E& x : {E{1, 0, "ACME", "E"}, E{2, 1, "ana", "C"}, E{3, 1, "Bruno", "C"},
                     E{4, 0, "Otra", "E"}, E{5, 4, "carla", "C"}, E{6, 0, "Nueva", "P"}}) {
    auto& r = companies.As<nvtest::EntryRecord>();
    r.CODIGO = x.code;
    r.CODEMP = x.company;
    r.NOMBRE = x.name;
    r.ESEMPR = x.kind;
    ASSERT_EQ(companies.Add(), 0);
  }
  View list(&companies);
  list.SetKey(companies.key(1));
  Filter(list, "(MA11:ESEMPR = 'E')");
  ASSERT_EQ(list.Set(), 0);
  ASSERT_EQ(list.Next(), 0);
  EXPECT_EQ(companies.As<nvtest::EntryRecord>().NOMBRE.str(), "ACME");

  View people(&contacts);
  people.bindings().BindFile(&contacts, "A2MA11");
  people.bindings().BindFile(&companies);  // the highlighted company's buffer
  people.SetKey(contacts.key(1));
  Filter(people, "(A2MA11:CODEMP = MA11:CODIGO)");
  ASSERT_EQ(people.Set(), 0);
  std::vector<std::string> names;
  while (people.Next() == 0) names.push_back(contacts.As<nvtest::EntryRecord>().NOMBRE.str());
  EXPECT_EQ(names, (std::vector<std::string>{"ana", "Bruno"}));  // name order without case
  contacts.Close();
  companies.Close();
  companies.Remove();
}

TEST_F(ViewTest, DescriptorNamesFilesKeysConditionAndFields) {
  View v(calls_.get());
  v.SetKey(calls_->key(1));
  JoinAccounts(v);
  v.SetRange(Value(kDay), Value(kDay + 2));
  Filter(v, "MO01:TIPOLLA <> 'NT' AND MA09:DESCTA > ''");
  ViewDescriptor d = v.Descriptor();
  EXPECT_EQ(d.primary, calls_.get());
  EXPECT_EQ(d.primary_prefix, "MO01");
  EXPECT_EQ(d.key, calls_->key(1));
  ASSERT_EQ(d.joins.size(), 1u);
  EXPECT_EQ(d.joins[0].file, accounts_.get());
  EXPECT_EQ(d.joins[0].prefix, "MA09");
  EXPECT_EQ(d.joins[0].components, (std::vector<int32_t>{1}));
  EXPECT_EQ(d.joins[0].parent_fields, (std::vector<std::string>{"MO01:NROCTA"}));
  EXPECT_FALSE(d.joins[0].inner);
  ASSERT_NE(d.condition, nullptr);
  EXPECT_EQ(expr::Print(*d.condition), "((MO01:TIPOLLA <> 'NT') AND (MA09:DESCTA > ''))");
  EXPECT_EQ(d.condition->children[1]->children[0]->kind, expr::NodeKind::kField);
  EXPECT_TRUE(d.has_range);
  EXPECT_EQ(d.low.AsNumber(), kDay);
  EXPECT_EQ(d.projected.size(), 21u + 3u);
  EXPECT_EQ(d.projected.front(), "MO01:IDLLA");
  EXPECT_EQ(d.projected.back(), "MA09:MULTISEL");
  v.Project({"MO01:IDLLA", "MA09:DESCTA"});
  expr::Error e;
  ASSERT_TRUE(v.SetOrder("MA09:DESCTA,-MO01:FECLLA", &e));
  d = v.Descriptor();
  EXPECT_EQ(d.projected, (std::vector<std::string>{"MO01:IDLLA", "MA09:DESCTA"}));
  ASSERT_EQ(d.order.size(), 2u);
  EXPECT_TRUE(d.order[1].descending);
  EXPECT_EQ(d.order[1].label, "MO01:FECLLA");
}

// A projected walk hands out each record of the whole walk with every field
// it did not project cleared (a group projects its fields), forward, back
// and across a count that moves the files; a label of no file of the view
// is refused and the projection stays.
TEST_F(ViewTest, FieldsNotProjectedReadCleared) {
  auto walk = [&](View& v) {
    std::vector<std::string> rows;
    auto row = [&] {
      rows.push_back(
          std::string(reinterpret_cast<const char*>(calls_->record()), calls_->record_length()) +
          std::string(reinterpret_cast<const char*>(accounts_->record()),
                      accounts_->record_length()));
    };
    EXPECT_EQ(v.Set(), 0);
    for (int dir : {1, 1, 1, -1, 1}) {
      EXPECT_EQ(dir > 0 ? v.Next() : v.Previous(), 0);
      row();
    }
    EXPECT_EQ(v.Records(), 8);
    row();
    return rows;
  };
  View whole(calls_.get()), part(calls_.get());
  for (View* v : {&whole, &part}) {
    v->SetKey(calls_->key(1));
    JoinAccounts(*v);
    Filter(*v, "MO01:DURLLA = 0");  // a field not projected still filters
  }
  expr::Error e;
  ASSERT_TRUE(part.Project({"MO01:FECLLA", "mo01:nrolin", "MA09:DESCTA"}, &e)) << e.message;
  EXPECT_FALSE(part.Project({"MO01:NROLIN", "MO01:NADA"}, &e));
  EXPECT_EQ(e.message,
            "Error en la proyección, posición 2: 'MO01:NADA' no es un campo de los "
            "archivos de la vista");
  const std::vector<std::string> full = walk(whole), got = walk(part);
  ASSERT_EQ(got.size(), full.size());
  for (size_t i = 0; i < full.size(); ++i) {
    CallRecord c;
    AccountRecord a;
    ClearRecord(*calls_->decl().record, reinterpret_cast<uint8_t*>(&c), 0);
    ClearRecord(*accounts_->decl().record, reinterpret_cast<uint8_t*>(&a), 0);
    const auto* fc = reinterpret_cast<const CallRecord*>(full[i].data());
    const auto* fa = reinterpret_cast<const AccountRecord*>(full[i].data() + sizeof c);
    c.FECLLA = fc->FECLLA;
    c.NROLIN = fc->NROLIN;
    a.DESCTA = fa->DESCTA;
    EXPECT_EQ(got[i], std::string(reinterpret_cast<const char*>(&c), sizeof c) +
                          std::string(reinterpret_cast<const char*>(&a), sizeof a))
        << "fila " << i;
  }
}

TEST_F(ViewTest, AliasPrefixesInJoinsAndFilters) {
  File alias(nvtest::CallDecl("MO01", "calls_AliasPrefixesInJoinsAndFilters", true));
  ASSERT_EQ(alias.Open(), 0);
  View v(calls_.get());
  v.SetKey(calls_->key(0));
  expr::Error e;
  // Each call joined to the first call of the same line through the alias.
  ASSERT_TRUE(v.Join(&alias, alias.key(2), {"MO01:NROLIN"}, &e, false, "AMO01")) << e.message;
  Filter(v, "AMO01:IDLLA = MO01:IDLLA");
  EXPECT_EQ(Forward(v), (Ids{1, 4, 8}));  // the first call of L1, L3 and L2
  alias.Close();
}

// A window on the components after the leading one hands out exactly what
// the same walk without it hands out through the equivalent filter, in both
// directions, on random files and windows (empty and inverted included);
// it seeks over long runs outside the window.
TEST_F(ViewTest, WindowSeeksAndSelectsWhatTheFilterSelects) {
  std::mt19937 rng(11);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const char* kLines[] = {"L1", "L2", "L3", "L4", "L5", ""};
  for (int i = 0; i < 300; ++i) {
    auto& r = calls_->As<CallRecord>();
    r = CallRecord{};
    r.IDLLA = 100 + i;
    nvtest::SetCallDate(r, kDay + pick(0, 40), true);
    r.HORLLA = pick(0, 6);
    r.NROLIN = kLines[pick(0, 5)];
    ASSERT_EQ(calls_->Add(), 0);
  }
  int32_t d1 = 0, d2 = 0, h1 = 0, h2 = 0;
  int64_t seeks = 0;
  for (int round = 0; round < 20; ++round) {
    d1 = kDay + pick(-2, 42);
    d2 = pick(0, 5) == 0 ? d1 - pick(0, 3) : d1 + pick(0, 12);
    h1 = pick(0, 6);
    h2 = pick(0, 6);
    const bool timed = round % 3 != 0;  // else a window on the date alone
    View plain(calls_.get()), windowed(calls_.get());
    const char* low = kLines[pick(0, 5)];
    const char* high = kLines[pick(0, 5)];
    for (View* v : {&plain, &windowed}) {
      v->SetKey(calls_->key(2));
      if (round % 4 != 0) v->SetRange(Value(low), Value(high));
    }
    plain.bindings().Bind("D1", &d1);
    plain.bindings().Bind("D2", &d2);
    plain.bindings().Bind("H1", &h1);
    plain.bindings().Bind("H2", &h2);
    Filter(plain, timed ? "((MO01:FECLLA = D1 AND MO01:HORLLA >= H1) OR MO01:FECLLA > D1) AND "
                          "(MO01:FECLLA < D2 OR (MO01:FECLLA = D2 AND MO01:HORLLA <= H2))"
                        : "INRANGE(MO01:FECLLA,D1,D2)");
    expr::Error e;
    if (timed) {
      ASSERT_TRUE(windowed.SetWindow({"MO01:FECLLA", "MO01:HORLLA"}, {Value(d1), Value(h1)},
                                     {Value(d2), Value(h2)}, &e))
          << e.message;
    } else {
      ASSERT_TRUE(windowed.SetWindow({"MO01:FECLLA"}, {Value(d1)}, {Value(d2)}, &e)) << e.message;
    }
    EXPECT_EQ(Forward(windowed), Forward(plain)) << "round " << round;
    seeks += windowed.window_seeks();
    EXPECT_EQ(Backward(windowed), Backward(plain)) << "round " << round;
    EXPECT_EQ(windowed.Records(), plain.Records());
  }
  EXPECT_GT(seeks, 20);
}

TEST_F(ViewTest, WindowFieldsMustFollowTheLeadingComponent) {
  View v(calls_.get());
  expr::Error e;
  EXPECT_FALSE(v.SetWindow({"MO01:HORLLA"}, {Value(1)}, {Value(2)}, &e));  // no key
  EXPECT_NE(e.message.find("ventana"), std::string::npos);
  v.SetKey(calls_->key(2));  // NROLIN, FECLLA, HORLLA
  EXPECT_FALSE(v.SetWindow({"MO01:HORLLA"}, {Value(1)}, {Value(2)}, &e));
  EXPECT_FALSE(
      v.SetWindow({"MO01:FECLLA", "MO01:IDLLA"}, {Value(1), Value(1)}, {Value(2), Value(2)}, &e));
  EXPECT_FALSE(v.SetWindow({"MO01:NADA"}, {Value(1)}, {Value(2)}, &e));
  EXPECT_FALSE(v.SetWindow({"MO01:FECLLA"}, {Value(1)}, {}, &e));
  EXPECT_TRUE(v.SetWindow({"MO01:FECLLA"}, {Value(kDay + 1)}, {Value(kDay + 1)}, &e));
  EXPECT_EQ(Forward(v), (Ids{3, 8, 2}));
}

}  // namespace
