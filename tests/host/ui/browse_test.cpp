// Browse lists, locators, ranges, filters, select mode and update forms over
// the in-memory test driver, reached only through the runtime's file verbs.
#include <cstdio>

#include <gtest/gtest.h>

#include "host/runtime/codepage.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/browse.h"
#include "host/ui/field_access.h"
#include "host/ui/framework.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/progress.h"
#include "host/ui/update_form.h"
#include "host/ui/window.h"

namespace {

using namespace nv;
using namespace nv::ui;

#pragma pack(push, 1)
struct ItemRecord {
  int32_t CODE;
  String<20> NAME;
  int32_t GROUP;
};
#pragma pack(pop)

FileDecl ItemDecl(const std::string& name) {
  static auto rt = DeclareRecord<ItemRecord>(
      "ITM", {NV_FIELD(ItemRecord, CODE, .picture = "@n_6"),
              NV_FIELD(ItemRecord, NAME, .picture = "@s20"), NV_FIELD(ItemRecord, GROUP)});
  FileDecl d;
  d.label = "ITEMS";
  d.driver = "MemTest";
  d.name = name;
  d.record = rt;
  d.keys = {{"ITM:KEY_CODE", {"ITM:CODE"}, kKeyPrimary, ""},
            {"ITM:KEY_NAME", {"ITM:NAME"}, kKeyDup, ""},
            {"ITM:KEY_GROUP", {"ITM:GROUP", "ITM:CODE"}, kKeyDup, ""}};
  return d;
}

// Names are not in code order: N<code * 7919 mod 10007>, five digits.
std::string NameOf(int code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "N%05d", (code * 7919) % 10007);
  return buf;
}

void Fill(File& f, int count) {
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  for (int i = 1; i <= count; ++i) {
    auto& r = f.As<ItemRecord>();
    r.CODE = i;
    r.NAME = NameOf(i);
    r.GROUP = i % 10;
    ASSERT_EQ(f.Append(), 0);
  }
}

int32_t Code(File& f) {
  return f.As<ItemRecord>().CODE;
}
std::string C(const std::string& cell) {
  return std::string(Clip(cell));
}

const std::vector<Column> kColumns = {Col("Código", "@n_6", "ITM:CODE"),
                                      Col("Nombre", "", "ITM:NAME")};

class BrowseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterDriver("MemTest", "libnvmemtest.so", "MEM$DrvReg");
    big_ = new File(ItemDecl("browse-10000"));
    Fill(*big_, 10000);
  }
  static void TearDownTestSuite() {
    big_->Close();
    delete big_;
  }
  void SetUp() override { ClearError(); }

  Browse ByCode(File& f, int page = 10) {
    Browse b(&f);
    b.AddOrder("Por código", "ITM:KEY_CODE");
    b.SetColumns(kColumns);
    b.SetPageSize(page);
    return b;
  }

  static File* big_;
  HeadlessBackend ui;
};
File* BrowseTest::big_ = nullptr;

TEST_F(BrowseTest, FirstPageReadsOnlyThePagePlusOne) {
  Browse b = ByCode(*big_);
  b.Reset();
  ASSERT_EQ(b.shown(), 10);
  EXPECT_EQ(b.Cells(0)[0], "     1");
  EXPECT_EQ(b.Cells(9)[0], "    10");
  EXPECT_EQ(C(b.Cells(0)[1]), NameOf(1));
  EXPECT_TRUE(b.more_below());
  EXPECT_FALSE(b.more_above());
  // page + 1 look-ahead + 1 re-read of the highlighted record
  EXPECT_LE(b.stats().next, 12);
  EXPECT_EQ(b.stats().previous, 0);
  EXPECT_EQ(Code(*big_), 1);  // the highlighted record is in the buffer
}

TEST_F(BrowseTest, ScrollingReadsOnlyTheRowsThatComeIntoView) {
  Browse b = ByCode(*big_);
  b.Reset();
  b.ResetStats();
  b.Down(9);  // to the last shown row: no reading but the re-read
  EXPECT_EQ(b.highlight(), 9);
  EXPECT_LE(b.stats().next, 1);
  b.ResetStats();
  b.Down(1);  // one row into view
  EXPECT_EQ(b.Cells(b.highlight())[0], "    11");
  EXPECT_EQ(b.Cells(0)[0], "     2");
  EXPECT_LE(b.stats().next, 3);
  EXPECT_EQ(Code(*big_), 11);
  for (int i = 0; i < 25; ++i) b.PageDown();
  EXPECT_EQ(b.Cells(b.highlight())[0], "   261");
  b.ResetStats();
  b.Up(12);
  EXPECT_EQ(b.Cells(b.highlight())[0], "   249");
  EXPECT_EQ(b.highlight(), 0);
  EXPECT_LE(b.stats().previous, 3);
  b.PageUp();
  EXPECT_EQ(b.Cells(0)[0], "   239");
  EXPECT_TRUE(b.more_above());
}

TEST_F(BrowseTest, EndAndHomeJumpWithoutWalkingTheFile) {
  Browse b = ByCode(*big_);
  b.Reset();
  b.ResetStats();
  b.End();
  EXPECT_EQ(b.Cells(b.highlight())[0], " 10000");
  EXPECT_EQ(b.Cells(0)[0], "  9991");
  EXPECT_LE(b.stats().previous, 10);
  EXPECT_FALSE(b.Down(1));  // nothing below the last record
  EXPECT_EQ(Code(*big_), 10000);
  b.Home();
  EXPECT_EQ(b.Cells(0)[0], "     1");
  EXPECT_EQ(Code(*big_), 1);
}

TEST_F(BrowseTest, LocatorMovesToTheFirstRecordAtOrAfterTheText) {
  Browse b(big_);
  b.AddOrder("Por nombre", "ITM:KEY_NAME");
  b.SetColumns(kColumns);
  b.Reset();
  EXPECT_EQ(C(b.Cells(0)[1]), "N00001");  // code * 7919 = 1 mod 10007 for some code
  EXPECT_TRUE(b.Locate("N05"));
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "N05000");
  EXPECT_EQ(b.highlight(), 0);
  EXPECT_TRUE(b.more_above());
  // Found on the first record, or reloaded there: nothing above it (the
  // scroll bar stands at the top).
  EXPECT_TRUE(b.Locate("N0"));
  EXPECT_FALSE(b.more_above());
  b.Refresh();
  EXPECT_EQ(C(b.Cells(0)[1]), "N00001");
  EXPECT_FALSE(b.more_above());
  b.Down(1);
  b.Refresh();
  EXPECT_FALSE(b.more_above());
  EXPECT_TRUE(b.Locate("N0500"));
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "N05000");
  EXPECT_TRUE(b.Locate("N050005"));  // between two names: the next one
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "N05001");
  // Past the end: the last page, the last record highlighted.
  EXPECT_FALSE(b.Locate("Z"));
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "N10006");
  // Near the end the page fills from above, the found record lower down.
  EXPECT_TRUE(b.Locate("N10004"));
  EXPECT_EQ(b.shown(), 10);
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "N10004");
  EXPECT_EQ(b.highlight(), 7);
  EXPECT_EQ(NameOf(Code(*big_)), "N10004");
}

TEST_F(BrowseTest, RangeOnTheLeadingComponentBoundToAnotherValue) {
  Browse b(big_);
  b.AddOrder("Por grupo", "ITM:KEY_GROUP");
  b.SetColumns(kColumns);
  int group = 3;
  b.SetRange({[&] { return Value(group); }});
  b.Reset();
  EXPECT_EQ(b.Cells(0)[0], "     3");
  EXPECT_EQ(b.Cells(1)[0], "    13");
  b.End();
  EXPECT_EQ(b.Cells(b.highlight())[0], "  9993");
  EXPECT_FALSE(b.Down(1));
  group = 7;  // the bound value changed: a reset follows it
  b.Reset();
  EXPECT_EQ(b.Cells(0)[0], "     7");
  b.Up(1);
  EXPECT_EQ(b.Cells(0)[0], "     7");  // nothing of group 6 above
  EXPECT_TRUE(b.Locate("5000"));       // locator on the component after the range
  EXPECT_EQ(b.Cells(b.highlight())[0], "  5007");
  group = 11;  // a range with no records
  b.Reset();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.highlight(), -1);
  EXPECT_FALSE(b.Down(1));
  EXPECT_FALSE(b.LoadHighlighted());
}

TEST_F(BrowseTest, FilterSkipsRecordsInBothDirections) {
  Browse b = ByCode(*big_, 5);
  b.SetFilter([] { return big_->As<ItemRecord>().CODE % 10 == 0; });
  b.Reset();
  EXPECT_EQ(b.Cells(0)[0], "    10");
  EXPECT_EQ(b.Cells(4)[0], "    50");
  b.Down(5);
  EXPECT_EQ(b.Cells(b.highlight())[0], "    60");
  b.Up(2);
  EXPECT_EQ(b.Cells(b.highlight())[0], "    40");
  b.Up(9);  // stops at the first record that passes
  EXPECT_EQ(b.Cells(b.highlight())[0], "    10");
  b.End();
  EXPECT_EQ(b.Cells(b.highlight())[0], " 10000");
  EXPECT_EQ(b.Cells(0)[0], "  9960");
}

TEST_F(BrowseTest, FilterTextNeedsAnEvaluator) {
  Browse b = ByCode(*big_);
  EXPECT_FALSE(b.SetFilterText("(ITM:GROUP = 1)"));
  EXPECT_FALSE(b.filter_error().empty());
  SetFilterCompiler(
      [](File& f, std::string_view text, std::string* error) -> std::function<bool()> {
        if (text != "(ITM:GROUP = 1)") {
          *error = "no entiendo";
          return {};
        }
        return [&f] { return f.As<ItemRecord>().GROUP == 1; };
      });
  EXPECT_FALSE(b.SetFilterText("(ITM:GROUP = "));
  EXPECT_EQ(b.filter_error(), "no entiendo");
  ASSERT_TRUE(b.SetFilterText("(ITM:GROUP = 1)"));
  b.Reset();
  EXPECT_EQ(b.Cells(1)[0], "    11");
  SetFilterCompiler(nullptr);
}

TEST_F(BrowseTest, SortOrdersSwitch) {
  Browse b(big_);
  EXPECT_EQ(b.AddOrder("x", "ITM:NO_SUCH_KEY"), -1);
  b.AddOrder("Por código", "ITM:KEY_CODE");
  b.AddOrder("Por nombre", "ITM:KEY_NAME");
  b.SetColumns(kColumns);
  b.SetOrder(1);
  EXPECT_EQ(C(b.Cells(0)[1]), "N00001");
  b.SetOrder(0);
  EXPECT_EQ(b.Cells(0)[0], "     1");
  b.SetOrder(7);  // out of range: unchanged
  EXPECT_EQ(b.order(), 0);
}

class SmallFile : public BrowseTest {
 protected:
  void SetUp() override {
    ClearError();
    static int n = 0;
    file_ = std::make_unique<File>(ItemDecl("small-" + std::to_string(++n)));
    Fill(*file_, 30);
  }
  void TearDown() override { file_->Close(); }
  std::unique_ptr<File> file_;
};

TEST_F(SmallFile, RefreshKeepsTheHighlightedRecordOrTakesTheNextOne) {
  Browse b = ByCode(*file_);
  b.Reset();
  b.Down(14);
  ASSERT_EQ(Code(*file_), 15);
  const int row = b.highlight();
  b.Refresh();
  EXPECT_EQ(b.highlight(), row);
  EXPECT_EQ(Code(*file_), 15);
  // Another user deletes the highlighted record.
  ASSERT_EQ(file_->Delete(), 0);
  b.Refresh();
  EXPECT_EQ(b.Cells(b.highlight())[0], "    16");
  EXPECT_EQ(b.highlight(), row);
  // Deleting the last record moves to the new last one.
  b.End();
  ASSERT_EQ(file_->Delete(), 0);
  b.Refresh();
  EXPECT_EQ(b.Cells(b.highlight())[0], "    29");
}

TEST_F(SmallFile, VerbsToShowAPageDoNotGrowWithTheFile) {
  Browse small = ByCode(*file_);
  Browse large = ByCode(*big_);
  small.Reset();
  large.Reset();
  small.End();
  large.End();
  small.Locate("7");
  large.Locate("7");
  const BrowseStats& a = small.stats();
  const BrowseStats& b = large.stats();
  EXPECT_EQ(a.set, b.set);
  EXPECT_EQ(a.next, b.next);
  EXPECT_EQ(a.previous, b.previous);
  EXPECT_EQ(a.reset, b.reset);
  EXPECT_EQ(a.position, b.position);
}

TEST_F(SmallFile, ShortFileShowsWhatThereIs) {
  Browse b = ByCode(*file_, 50);
  b.Reset();
  EXPECT_EQ(b.shown(), 30);
  EXPECT_FALSE(b.more_below());
  EXPECT_FALSE(b.PageDown() && b.Down(1));
  EXPECT_EQ(b.Cells(b.highlight())[0], "    30");
  EXPECT_FALSE(b.SetHighlight(30));
  EXPECT_TRUE(b.Cells(99).empty());
}

enum : ControlId { kLista = 1, kNombre, kSeleccionar, kSalir, kCodigo, kDesc, kAceptar, kCancelar };

// A lookup list as the selectors are written.
int Seleccionar(File& f) {
  Browse b(&f);
  b.AddOrder("Por nombre", "ITM:KEY_NAME");
  Window w(WindowDef("Seleccionar",
                     {Entry(kNombre, "@s20"), List(kLista, {Col("Nombre", "@s20", "ITM:NAME")}),
                      Button(kSeleccionar, "Seleccionar"), Button(kSalir, "Salir")}));
  w.AttachBrowse(kLista, &b);
  w.SetLocator(kNombre, kLista);
  w.SetSelectMode(true);
  w.SetResult(kCancelled);
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kAccepted && w.Field() == kSeleccionar) w.SelectHighlighted(kLista);
    if (w.Event() == Event::kAccepted && w.Field() == kSalir) w.Close(kCancelled);
  }
  return w.result();
}

TEST_F(SmallFile, SelectModePicksTheRecordWithEnterOrDoubleClick) {
  ui.OnOpen("Seleccionar", [&](Window& w) {
    EXPECT_EQ(w.Rows(kLista).size(), 10u);
    w.UserSetText(kNombre, "N05");  // typing moves the list
    const auto rows = w.Rows(kLista);
    EXPECT_EQ(rows[size_t(w.Highlight(kLista))][0].substr(0, 3), "N05");
    ListKey(w, kLista, kKeyDown);
    ListKey(w, kLista, kKeyEnter);
  });
  ASSERT_EQ(Seleccionar(*file_), kCompleted);
  const std::string picked(Clip(file_->As<ItemRecord>().NAME.view()));
  EXPECT_GT(picked, "N05");

  ui.OnOpen("Seleccionar", [](Window& w) { DoubleClickRow(w, kLista, 3); });
  ASSERT_EQ(Seleccionar(*file_), kCompleted);

  ui.OnOpen("Seleccionar", [](Window& w) { Press(w, kSalir); });
  EXPECT_EQ(Seleccionar(*file_), kCancelled);
  ui.OnOpen("Seleccionar", [](Window& w) { w.UserClose(); });
  EXPECT_EQ(Seleccionar(*file_), kCancelled);
}

TEST_F(SmallFile, ListEventsReportNewSelections) {
  Browse b = ByCode(*file_, 5);
  Window w(WindowDef("Lista", {List(kLista, kColumns)}));
  w.AttachBrowse(kLista, &b);
  ui.OnOpen("Lista", [](Window& win) {
    ListKey(win, kLista, kKeyUp);  // already at the top: no event
    ListKey(win, kLista, kKeyPageDown);
    ClickRow(win, kLista, 2);
    ClickRow(win, kLista, 40);  // no such row
    win.UserClose();
  });
  int selections = 0;
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kNewSelection) ++selections;
  }
  EXPECT_EQ(selections, 2);
  EXPECT_EQ(Code(*file_), 4);  // row 2 of the page that starts at 2
  EXPECT_TRUE(w.SetHighlight(kLista, 0));
  EXPECT_EQ(Code(*file_), 2);
  EXPECT_FALSE(w.SetHighlight(kLista, 5));
}

// An update form as the table forms are written.
int Ficha(File& f, Request request) {
  Window w(
      WindowDef("Ficha de Rubro", {Prompt("Código:"), Entry(kCodigo, "@n_6").Bind("ITM:CODE"),
                                   Prompt("Descripción:"), Entry(kDesc, "@s20").Bind("ITM:NAME"),
                                   Button(kAceptar, "Aceptar"), Button(kCancelar, "Cancelar")}));
  UpdateForm form(w, f, request);
  form.SetCaptions("Agregando un nuevo Rubro", "Modificando un Rubro", "Borrando un Rubro",
                   "View Record");
  form.SetButtons(kAceptar, kCancelar);
  w.Open();
  while (w.Accept()) form.TakeEvent();
  return form.response();
}

TEST_F(SmallFile, UpdateFormRequestsThroughTheList) {
  Browse b = ByCode(*file_);
  b.Reset();
  auto form = [&](Request r) { return Ficha(*file_, r); };

  // Insert: the list highlights the new record afterwards.
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    EXPECT_EQ(w.Caption(), "Agregando un nuevo Rubro");
    EXPECT_EQ(w.Text(kCodigo), "     0");
    Type(w, kCodigo, "31");
    Type(w, kDesc, "NUEVO");
    Press(w, kAceptar);
  });
  EXPECT_EQ(b.RunUpdate(Request::kInsert, form), kCompleted);
  EXPECT_EQ(b.Cells(b.highlight())[0], "    31");
  EXPECT_EQ(file_->Records(), 31);

  // Change: the form shows the highlighted record.
  b.Home();
  b.Down(4);
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    EXPECT_EQ(w.Caption(), "Modificando un Rubro");
    EXPECT_EQ(w.Text(kCodigo), "     5");
    Type(w, kDesc, "CAMBIADO");
    Press(w, kAceptar);
  });
  EXPECT_EQ(b.RunUpdate(Request::kChange, form), kCompleted);
  EXPECT_EQ(C(b.Cells(b.highlight())[1]), "CAMBIADO");
  EXPECT_EQ(b.highlight(), 4);

  // A duplicate code is refused by the file: the error reporter shows it and
  // the form stays open until cancelled.
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    Type(w, kCodigo, "6");
    Press(w, kAceptar);
  });
  ui.OnIdle("Modificando un Rubro", [](Window& w) { Press(w, kCancelar); });
  ui.QueueAnswer(1);
  EXPECT_EQ(b.RunUpdate(Request::kChange, form), kCancelled);
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].shape.caption, "Error");
  EXPECT_EQ(ui.messages()[0].shape.icon, Icon::kError);
  EXPECT_EQ(b.Cells(b.highlight())[0], "     5");

  // Delete asks first; "No" keeps the record and the form open.
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    EXPECT_EQ(w.Caption(), "Borrando un Rubro");
    EXPECT_FALSE(w.Enabled(kDesc));
    Press(w, kAceptar);
  });
  ui.OnIdle("Borrando un Rubro", [](Window& w) { Press(w, kAceptar); });
  ui.QueueAnswer(2);
  ui.QueueAnswer(1);
  EXPECT_EQ(b.RunUpdate(Request::kDelete, form), kCompleted);
  auto m = ui.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[1].shape.caption, AnsiFromUtf8(kDeleteCaption));
  EXPECT_EQ(m[1].shape.text, AnsiFromUtf8(kDeleteQuestion));
  EXPECT_EQ(m[1].shape.default_button, 2);
  EXPECT_EQ(file_->Records(), 30);
  EXPECT_EQ(b.Cells(b.highlight())[0], "     6");  // the next record takes its place

  // View: nothing can change.
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    EXPECT_EQ(w.Caption(), "View Record");
    Type(w, kDesc, "IGNORADO");  // disabled: ignored
    Press(w, kAceptar);
  });
  EXPECT_EQ(b.RunUpdate(Request::kView, form), kCompleted);
  EXPECT_NE(C(b.Cells(b.highlight())[1]), "IGNORADO");

  // Cancel writes nothing.
  ui.OnOpen("Ficha de Rubro", [](Window& w) {
    Type(w, kDesc, "NO");
    Press(w, kCancelar);
  });
  EXPECT_EQ(b.RunUpdate(Request::kChange, form), kCancelled);
  EXPECT_NE(C(b.Cells(b.highlight())[1]), "NO");
}

TEST_F(SmallFile, UpdateOnAnEmptyListRunsNothing) {
  Browse b = ByCode(*file_);
  b.SetRange(Value(99999));  // no codes there: an empty list
  b.ClearRange();
  b.SetFilter([] { return false; });
  b.Reset();
  ASSERT_TRUE(b.empty());
  bool ran = false;
  EXPECT_EQ(b.RunUpdate(Request::kChange,
                        [&](Request) {
                          ran = true;
                          return kCompleted;
                        }),
            kCancelled);
  EXPECT_FALSE(ran);
}

TEST_F(SmallFile, InsertPrimesTheRangeValues) {
  Browse b(file_.get());
  b.AddOrder("Por grupo", "ITM:KEY_GROUP");
  b.SetColumns(kColumns);
  b.SetRange(Value(4));
  b.Reset();
  int32_t primed = -1;
  b.RunUpdate(Request::kInsert, [&](Request) {
    primed = file_->As<ItemRecord>().GROUP;
    return kCancelled;
  });
  EXPECT_EQ(primed, 4);
}

TEST_F(SmallFile, DropListOverAFileStoresTheChosenRow) {
  enum : ControlId { kDesde = 20 };
  Browse b = ByCode(*file_, 8);
  Window w(WindowDef("Elegir tipo de reporte",
                     {DropList(kDesde, {}).Tip("Desde"), Button(kAceptar, "Imprimir")}));
  w.AttachBrowse(kDesde, &b);
  ui.OnOpen("Elegir tipo de reporte", [](Window& win) {
    EXPECT_EQ(win.Rows(kDesde).size(), 8u);  // one page, not the file
    Choose(win, kDesde, 3);
    Choose(win, kDesde, 99);  // no such row: nothing
    Press(win, kAceptar);
  });
  std::string chosen;
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kNewSelection) chosen = w.Text(kDesde);
    if (w.Event() == Event::kAccepted) w.Close(kCompleted);
  }
  EXPECT_EQ(chosen, "     3");  // the row as shown, through its picture
  EXPECT_EQ(w.Value(kDesde), 3);
  EXPECT_EQ(Code(*file_), 3);
}

TEST_F(SmallFile, ProcessWalksTheFileWithProgressAndStopsOnCancel) {
  int seen = 0;
  EXPECT_EQ(RunProcess(
                *file_, file_->key("ITM:KEY_CODE"), [&] { return Code(*file_) % 2 == 0; },
                [&] {
                  ++seen;
                  return true;
                },
                nullptr),
            15);
  EXPECT_EQ(seen, 15);
  // "each" may stop the walk.
  EXPECT_EQ(RunProcess(
                *file_, nullptr, nullptr, [&] { return Code(*file_) < 5; }, nullptr),
            5);

  ui.OnIdle(ProgressWindow::kCaption, [](Window& w) { Press(w, ProgressWindow::kCancelar); });
  ProgressWindow p("Re-vinculando");
  p.Open();
  seen = 0;
  EXPECT_EQ(RunProcess(
                *file_, nullptr, nullptr,
                [&] {
                  ++seen;
                  return true;
                },
                &p),
            -1);
  EXPECT_LT(seen, 30);
  p.Close();
}

TEST_F(SmallFile, RequestCodes) {
  EXPECT_EQ(RequestFromCode("A"), Request::kInsert);
  EXPECT_EQ(RequestFromCode("m"), Request::kChange);
  EXPECT_EQ(RequestFromCode("B "), Request::kDelete);
  EXPECT_EQ(RequestFromCode(""), Request::kView);
  EXPECT_EQ(RequestFromCode("X"), Request::kView);
}

}  // namespace
