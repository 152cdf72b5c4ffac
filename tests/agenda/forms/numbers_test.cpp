// The number form (unique numbers across the directory, derived fields,
// re-linking on close), the number search, the category, group, user and
// company lists.

#include "agenda/buscar_telefono.h"
#include "agenda/ficha_contacto.h"
#include "agenda/ficha_empresa.h"
#include "agenda/ficha_telefono.h"
#include "agenda/lookups.h"
#include "agenda/relink.h"
#include "host/runtime/error_state.h"
#include "tests/agenda/forms/forms_fixture.h"

namespace formstest {
namespace {

using namespace nv::ui;
using nv::dict::TA02Record;
using nv::dict::TA09Record;

class NumberFormTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    agenda::SetRelinkHook([this](std::string_view n) {
      relinked_.push_back(std::string(n));
      agenda::RelinkCalls(n);
    });
  }
  // Runs the number form for an owner as a form's list would.
  int RunForm(int32_t owner, Request request, const std::string& number = "") {
    FileAccess& ma11 = Use("FXMA11");
    ma11.rec<MA11Record>().CODIGO = owner;
    FileAccess& re09 = Use("FXRE09");
    if (request == Request::kInsert) {
      re09.file().Clear();
    } else {
      re09.rec<RE09Record>().NROTEL = number;
      EXPECT_EQ(re09.TryFetch("RE09:RE09_C1"), 0);
    }
    const int r = agenda::Ficha_Telefono(request);
    re09.Close();
    ma11.Close();
    return r;
  }
  void AddGroup(int32_t code, const std::string& name) {
    FileAccess& ta09 = Use("FXTA09");
    ta09.file().Clear();
    ta09.rec<TA09Record>().GRUAGE.Set(code);
    ta09.rec<TA09Record>().DESGRU = name;
    EXPECT_EQ(ta09.Insert(), 0);
    ta09.Close();
  }
  std::vector<std::string> relinked_;
};

// The same tests with the agenda in flat files and in a PostgreSQL database.
class StoresNumberFormTest : public OverStores<NumberFormTest> {};
INSTANTIATE_TEST_SUITE_P(Stores, StoresNumberFormTest, ::testing::Values(Where::kFlat, Where::kPostgres),
                         WhereName);

TEST_P(StoresNumberFormTest, InsertDerivesFirstCharacterAndLengthAndRelinksOnClose) {
  const int32_t acme = AddEntry("Acme", "E");
  AddCall(1, "0800333444");
  std::string caption;
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    caption = w.Caption();
    Type(w, agenda::kFtNumero, "0800333   ");
    Type(w, agenda::kFtComentario, "Ventas");
    Press(w, agenda::kFtAceptar);
  });
  EXPECT_EQ(RunForm(acme, Request::kInsert), kCompleted);
  EXPECT_EQ(caption, A("Agregando nuevo teléfono"));
  FileAccess& re09 = Use("FXRE09");
  re09.rec<RE09Record>().NROTEL = "0800333";
  ASSERT_EQ(re09.TryFetch("RE09:RE09_C1"), 0);
  const auto& r = re09.rec<RE09Record>();
  EXPECT_EQ(r.CARINI.str(), "0");
  EXPECT_EQ(r.LONTEL, 7);
  int64_t owner = 0;
  r.CODIGO.Scaled(&owner);
  EXPECT_EQ(owner, acme);
  re09.Close();
  EXPECT_EQ(relinked_, std::vector<std::string>{"0800333"});
  EXPECT_EQ(LinkOf("0800333444"), acme);
}

TEST_P(StoresNumberFormTest, NumbersAreUniqueAcrossTheDirectoryTrailingBlanksIncluded) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C");
  AddNumber(acme, "0351456");
  for (const char* typed : {"0351456", "0351456    "}) {
    ui_->OnOpen(A("Ficha de Teléfonos"), [typed](Window& w) {
      Type(w, agenda::kFtNumero, typed);
      Press(w, agenda::kFtAceptar);
    });
    EXPECT_EQ(RunForm(ana, Request::kInsert), kCancelled);
  }
  EXPECT_EQ(CountText(" El número de teléfono ya existe en la base de datos."), 2);
  const auto numbers = Numbers();
  ASSERT_EQ(numbers.size(), 1u);
  EXPECT_EQ(numbers.at("0351456").first, acme);
  EXPECT_TRUE(relinked_.empty());
}

TEST_F(NumberFormTest, ChangingOnlyTheCommentStillRelinksAndTheNumberStaysLocked) {
  const int32_t acme = AddEntry("Acme", "E");
  AddNumber(acme, "4321");
  AddCall(0, "43219", 0);  // stale link: the close re-links it
  bool number_enabled = true;
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    number_enabled = w.Enabled(agenda::kFtNumero);
    Type(w, agenda::kFtComentario, "Nuevo comentario");
    Press(w, agenda::kFtAceptar);
  });
  EXPECT_EQ(RunForm(acme, Request::kChange, "4321"), kCompleted);
  EXPECT_FALSE(number_enabled);
  EXPECT_EQ(relinked_, std::vector<std::string>{"4321"});
  EXPECT_EQ(LinkOf("43219"), acme);
}

TEST_F(NumberFormTest, CancelWritesNothingAndRelinksNothing) {
  const int32_t acme = AddEntry("Acme", "E");
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    Type(w, agenda::kFtNumero, "999");
    Press(w, agenda::kFtCancelar);
  });
  EXPECT_EQ(RunForm(acme, Request::kInsert), kCancelled);
  EXPECT_TRUE(Numbers().empty());
  EXPECT_TRUE(relinked_.empty());
}

TEST_F(NumberFormTest, DeleteThroughTheFormRelinksToTheShorterNumber) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  AddNumber(acme, "11");
  AddNumber(ana, "1155");
  AddCall(2, "115566", ana);
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    EXPECT_EQ(w.Caption(), A("Borrando un teléfono"));
    Press(w, agenda::kFtAceptar);
  });
  ui_->QueueAnswer(1);  // the framework's delete question
  EXPECT_EQ(RunForm(ana, Request::kDelete, "1155"), kCompleted);
  EXPECT_EQ(LinkOf("115566"), acme);
}

TEST_F(NumberFormTest, GroupFieldChecksTheGroupAndOffersTheList) {
  const int32_t acme = AddEntry("Acme", "E");
  AddGroup(7, "Proveedores");
  std::string shown;
  int focus = 0;
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    Type(w, agenda::kFtNumero, "555");
    Type(w, agenda::kFtGrupo, "3");  // no such group: the list opens
  });
  ui_->OnOpen("Lista de grupos de agenda", [](Window& l) { Press(l, agenda::kLstSalir); });
  ui_->OnIdle(A("Ficha de Teléfonos"), [&](Window& w) {
    focus = w.Focus();
    Type(w, agenda::kFtGrupo, "7");
  });
  ui_->OnIdle(A("Ficha de Teléfonos"), [&](Window& w) {
    shown = w.Text(agenda::kFtGrupoDesc);
    Press(w, agenda::kFtAceptar);
  });
  EXPECT_EQ(RunForm(acme, Request::kInsert), kCompleted);
  EXPECT_EQ(focus, agenda::kFtGrupo);
  EXPECT_EQ(shown, "Proveedores");
  EXPECT_EQ(Numbers().at("555").second, 7);
}

// The group's description is read again whenever the form's display is
// reset: here after the group list changed it without a selection.
TEST_F(NumberFormTest, GroupDescriptionFollowsTheGroupAfterEveryReset) {
  const int32_t acme = AddEntry("Acme", "E");
  AddGroup(7, "Proveedores");
  AddNumber(acme, "555", 7);
  std::string before, after;
  ui_->OnOpen(A("Ficha de Teléfonos"), [&](Window& w) {
    before = w.Text(agenda::kFtGrupoDesc);
    Press(w, agenda::kFtGrupoBoton);
  });
  ui_->OnOpen("Lista de grupos de agenda", [](Window& l) { Press(l, agenda::kLstModificar); });
  ui_->OnOpen("Modificando un grupo de agenda", [](Window& f) {
    Type(f, agenda::kTfDescripcion, "Proveedores Norte");
    Press(f, agenda::kTfAceptar);
  });
  ui_->OnIdle("Lista de grupos de agenda", [](Window& l) { Press(l, agenda::kLstSalir); });
  ui_->OnIdle(A("Ficha de Teléfonos"), [&](Window& w) {
    after = w.Text(agenda::kFtGrupoDesc);
    Press(w, agenda::kFtCancelar);
  });
  EXPECT_EQ(RunForm(acme, Request::kChange, "555"), kCancelled);
  EXPECT_EQ(before, "Proveedores");
  EXPECT_EQ(after, "Proveedores Norte");
}

// The keyboard: Enter or a double-click on a row changes it (the company
// form's numbers, a table list) or, in a list opened to choose, chooses
// it; Enter takes the form's Aceptar, Esc its Cancelar or closes a list.
TEST_F(NumberFormTest, KeyboardOpensRowsChoosesAcceptsAndCancels) {
  const int32_t acme = AddEntry("Acme", "E");
  AddGroup(7, "Proveedores");
  AddNumber(acme, "555", 0);
  std::vector<std::string> opened;
  ui_->OnOpen(A("Modificando una empresa"),
              [](Window& w) { ListKey(w, agenda::kFcTelefonos, kKeyEnter); });
  ui_->OnOpen(A("Modificando un teléfono"), [&](Window& f) {
    opened.push_back(f.Caption());
    Press(f, agenda::kFtGrupoBoton);
  });
  ui_->OnOpen("Lista de grupos de agenda",
              [](Window& l) { ListKey(l, agenda::kLstLista, kKeyEnter); });
  ui_->OnIdle(A("Modificando un teléfono"), [](Window& f) { f.UserKey(kKeyEnter); });
  ui_->OnIdle(A("Modificando una empresa"), [](Window& w) { w.UserKey(kKeyEsc); });
  EXPECT_EQ(agenda::Ficha_Empresa("M", acme), kCancelled);
  EXPECT_EQ(opened, std::vector<std::string>{A("Modificando un teléfono")});
  EXPECT_EQ(Numbers().at("555").second, 7);  // chosen, then saved by Enter

  ui_->OnOpen("Lista de grupos de agenda",
              [](Window& l) { DoubleClickRow(l, agenda::kLstLista, 0); });
  ui_->OnOpen("Modificando un grupo de agenda", [&](Window& g) {
    opened.push_back(g.Caption());
    g.UserKey(kKeyEsc);
  });
  ui_->OnIdle("Lista de grupos de agenda", [](Window& l) { l.UserKey(kKeyEsc); });
  EXPECT_EQ(agenda::Grupos_de_Agenda(false), kCancelled);
  EXPECT_EQ(opened.back(), "Modificando un grupo de agenda");
}

TEST_P(StoresNumberFormTest, SearchShowsEveryNumberWithItsOwnerOfEitherKind) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  AddNumber(ana, "222");
  AddNumber(acme, "111");
  AddNumber(999, "333");  // an owner that no longer exists
  std::vector<std::vector<std::string>> rows;
  ui_->OnOpen(A("Busqueda por número telefónico"), [&](Window& w) {
    rows = w.Rows(agenda::kBtLista);
    Press(w, agenda::kBtSalir);
  });
  agenda::Buscar_Telefono();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(nv::Clip(rows[0][0]), "111");
  EXPECT_EQ(nv::Clip(rows[0][1]), "Acme");
  EXPECT_EQ(nv::Clip(rows[1][1]), "Ana");
  EXPECT_EQ(nv::Clip(rows[2][1]), "");
}

TEST_P(StoresNumberFormTest, CategoriesAreKeptAndChosenThroughTheirList) {
  int result = 0;
  ui_->OnOpen("Tabla de Rubros", [&](Window& l) { Press(l, agenda::kLstAgregar); });
  ui_->OnOpen("Ficha de Rubro", [&](Window& f) {
    EXPECT_EQ(f.Caption(), "Agregando un nuevo Rubro");
    Type(f, agenda::kTfCodigo, "12");
    Type(f, agenda::kTfDescripcion, "Bancos");
    Press(f, agenda::kTfAceptar);
  });
  ui_->OnIdle("Tabla de Rubros", [&](Window& l) {
    EXPECT_FALSE(l.Rows(agenda::kLstLista).empty());
    Press(l, agenda::kLstSeleccionar);
  });
  result = agenda::Rubros(true);
  EXPECT_EQ(result, kCompleted);
  int64_t code = 0;
  dic_->Access("FXTA02")->rec<TA02Record>().CODRUB.Scaled(&code);
  EXPECT_EQ(code, 12);
  // Outside select mode "Seleccionar" does nothing.
  bool enabled = true;
  ui_->OnOpen("Tabla de Rubros", [&](Window& l) {
    enabled = l.Enabled(agenda::kLstSeleccionar);
    Press(l, agenda::kLstSalir);
  });
  EXPECT_EQ(agenda::Rubros(false), kCancelled);
  EXPECT_FALSE(enabled);
}

TEST_F(NumberFormTest, CompanySelectorListsCompaniesOnly) {
  AddEntry("Beta", "E");
  AddEntry("Alfa", "C");
  AddEntry("Gama", "P");
  AddEntry("Delta", "E");
  std::vector<std::string> names;
  ui_->OnOpen("Seleccionar una empresa", [&](Window& l) {
    for (const auto& row : l.Rows(agenda::kLstLista))
      names.push_back(std::string(nv::Clip(row[0])));
    Press(l, agenda::kLstSalir);
  });
  EXPECT_EQ(agenda::Empresas_Seleccionar(), kCancelled);
  EXPECT_EQ(names, (std::vector<std::string>{"Beta", "Delta"}));
}

// A list over the flat store that grows (its window resized) or scrolls up
// shows each record once: the first PREVIOUS after RESET reads the record
// at the position there.
TEST_F(NumberFormTest, ListsOverTheFlatStoreShowEachRecordOnce) {
  const int32_t a = AddEntry("A", "C");
  const int32_t b = AddEntry("B", "C");
  for (const char* n : {"111", "112", "113"}) AddNumber(a, n);
  AddNumber(b, "222");
  FileAccess& re09 = Use("FXRE09");
  nv::ui::Browse list(&re09.file());
  list.AddOrder("Número", "RE09:RE09_CP");
  list.SetColumns({nv::ui::Col("Número", "@s40", "RE09:NROTEL")});
  list.SetRange(nv::Value(static_cast<long long>(a)));
  auto numbers = [&] {
    std::vector<std::string> out;
    for (const auto& row : list.Page()) out.push_back(std::string(nv::Clip(row[0])));
    return out;
  };
  const std::vector<std::string> all = {"111", "112", "113"};
  list.SetPageSize(1);
  list.End();
  list.SetPageSize(10);
  list.Refresh();
  EXPECT_EQ(numbers(), all);
  list.SetPageSize(1);
  list.End();
  list.Up();
  EXPECT_EQ(numbers(), std::vector<std::string>{"112"});
  re09.Close();
}

}  // namespace
}  // namespace formstest
