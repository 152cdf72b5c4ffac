// The company and contact forms: the provisional record and its code, the
// unique-name rule, saving, deleting and abandoning with their cascades
// (numbers deleted with their calls re-linked, contacts asked one by one),
// the hold messages and the lookup fields.
#include <set>
#include <tuple>

#include "agenda/ficha_contacto.h"
#include "agenda/ficha_empresa.h"
#include "agenda/ficha_telefono.h"
#include "agenda/lookups.h"
#include "agenda/relink.h"
#include "tests/agenda/forms/forms_fixture.h"
#include "tests/support/fake_env.h"

namespace formstest {
namespace {

using namespace nv::ui;
using agenda::Ficha_Contacto;
using agenda::Ficha_Empresa;

class EntryFormTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    agenda::SetRelinkHook([this](std::string_view n) {
      relinked_.push_back(std::string(n));
      agenda::RelinkCalls(n);
    });
  }
  // Adds a number through the form's number list.
  void AddNumberThroughForm(Window& w, const std::string& number) {
    ui_->OnOpen(A("Ficha de Teléfonos"), [number](Window& f) {
      Type(f, agenda::kFtNumero, number);
      Press(f, agenda::kFtAceptar);
    });
    Press(w, agenda::kFcTelAgregar);
  }
  void AddContactThroughForm(Window& w, const std::string& name) {
    ui_->OnOpen("Ficha de Contactos", [name](Window& f) {
      Type(f, agenda::kFcNombre, A(name));
      Press(f, agenda::kFcAceptar);
    });
    Press(w, agenda::kFcConAgregar);
  }
  std::vector<std::string> relinked_;
};

// The same tests with the agenda in flat files and in a PostgreSQL database.
class StoresEntryFormTest : public OverStores<EntryFormTest> {};
INSTANTIATE_TEST_SUITE_P(Stores, StoresEntryFormTest, ::testing::Values(Where::kFlat, Where::kPostgres),
                         WhereName);

TEST_P(StoresEntryFormTest, NewCompanyGetsCodeOneAndIsSavedAsCompany) {
  std::string caption, name_on_open;
  Entry provisional;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    caption = w.Caption();
    name_on_open = w.Text(agenda::kFcNombre);
    HasEntry(1, &provisional);
    Type(w, agenda::kFcNombre, A("Señal S.A.  "));
    Type(w, agenda::kFcLocalidad, A("Córdoba"));
    Choose(w, agenda::kFcIva, 4);
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Empresa("A", 0), kCompleted);
  EXPECT_EQ(caption, A("Agregando una nueva empresa"));
  EXPECT_EQ(name_on_open, "");
  EXPECT_EQ(provisional.kind, "P");
  EXPECT_FALSE(provisional.nombre.empty());  // the clock text
  Entry e;
  ASSERT_TRUE(HasEntry(1, &e));
  EXPECT_EQ(e.kind, "E");
  EXPECT_EQ(e.nombre, A("Señal S.A."));
  FileAccess& ma11 = Use("FXMA11");
  ma11.rec<MA11Record>().CODIGO = 1;
  ASSERT_EQ(ma11.TryFetch("MA11:MA11_CP"), 0);
  auto& r = ma11.rec<MA11Record>();
  EXPECT_EQ(r.LOCALI.str(), A("Córdoba"));
  EXPECT_EQ(r.CONIVA.str(), "Consumidor Final");
  EXPECT_EQ(r.FECALT.day(), nv::GetEnv()->Today());
  int64_t res = 0;
  r.CODRES.Scaled(&res);
  EXPECT_EQ(res, 1);  // the logged-in user
  ma11.Close();
  EXPECT_TRUE(ui_->messages().empty());
}

// The new code follows the last record in file order (the flat store) or
// the highest code (a store that cannot read backwards); it never takes a
// code in use, and an emptied file starts again at 1.
TEST_F(EntryFormTest, NewCodesNeverCollideAndStartAtOneInAnEmptyFile) {
  AddEntry("Uno", "E", 0, 4);
  AddEntry("Dos", "E", 0, 9);
  AddEntry("Tres", "E", 0, 2);
  auto add = [&](const std::string& name) {
    ui_->OnOpen("Ficha de la empresa", [name](Window& w) {
      Type(w, agenda::kFcNombre, name);
      Press(w, agenda::kFcAceptar);
    });
    EXPECT_EQ(Ficha_Empresa("A", 0), kCompleted);
    for (const Entry& e : Entries())
      if (e.nombre == name) return e.codigo;
    return 0;
  };
  const int32_t cuatro = add("Cuatro");
  EXPECT_TRUE(cuatro == 3 || cuatro == 10) << cuatro;
  const int32_t cinco = add("Cinco");
  EXPECT_NE(cinco, 0);
  std::set<int32_t> codes;
  for (const Entry& e : Entries()) EXPECT_TRUE(codes.insert(e.codigo).second) << Dump();
  EXPECT_EQ(codes.size(), 5u);
  for (const Entry& e : Entries()) ASSERT_TRUE(DeleteEntry(e.codigo));
  EXPECT_EQ(add("Primera"), 1);
}

TEST_F(EntryFormTest, EmptyNameSavesNothingAndKeepsTheFormOpen) {
  bool still_open = false;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) { Press(w, agenda::kFcAceptar); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    still_open = w.is_open();
    EXPECT_EQ(w.Focus(), agenda::kFcNombre);
    Press(w, agenda::kFcCancelar);
  });
  ui_->QueueAnswer(1);  // "Si": cancel the new company
  EXPECT_EQ(Ficha_Empresa("A", 0), kCancelled);
  EXPECT_TRUE(still_open);
  EXPECT_TRUE(Entries().empty());
  ASSERT_EQ(ui_->messages().size(), 1u);
  EXPECT_EQ(ui_->messages()[0].shape.text,
            A(" Si cancela la operación, se eliminara la empresa y todos sus teléfonos.|| Está "
              "seguro que desea cancelar la operación ?"));
  EXPECT_EQ(ui_->messages()[0].shape.caption, "ATENCION");
  EXPECT_EQ(ui_->messages()[0].shape.default_button, 2);
}

TEST_P(StoresEntryFormTest, NamesAreUniqueWithinAKindOnly) {
  AddEntry("Acme", "E");
  AddEntry("Juan", "C");
  // A company may take a contact's name.
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Juan");
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Empresa("A", 0), kCompleted);
  // A second company named like a company (or contact like a contact) is
  // refused once per gesture: Enter in the name field says it once and
  // saves nothing; a later Aceptar says it again.
  const std::string taken = " El nombre que se cargo ya existe en la agenda !";
  for (const auto& [caption, name, run] :
       {std::tuple{"Ficha de la empresa", "Acme  ", &Ficha_Empresa},
        std::tuple{"Ficha de Contactos", "Juan", &Ficha_Contacto}}) {
    const int before = CountText(taken);
    int after_enter = -1, focus = 0;
    ui_->OnOpen(caption, [&, name = name](Window& w) {
      Type(w, agenda::kFcNombre, name);
      w.UserKey(kKeyEnter);
    });
    ui_->OnIdle(caption, [&](Window& w) {
      after_enter = CountText(taken) - before;
      focus = w.Focus();
      Press(w, agenda::kFcAceptar);
    });
    ui_->OnIdle(caption, [&](Window& w) { Press(w, agenda::kFcCancelar); });
    for (int i = 0; i < 3; ++i) ui_->QueueAnswer(1);  // twice the name, then cancel: "Si"
    EXPECT_EQ(run("A", 0), kCancelled) << caption;
    EXPECT_EQ(after_enter, 1) << caption;
    EXPECT_EQ(focus, agenda::kFcNombre) << caption;
    EXPECT_EQ(CountText(taken) - before, 2) << caption;
  }
  int companies = 0, juans = 0;
  for (const Entry& e : Entries()) {
    companies += e.kind == "E";
    juans += e.nombre == "Juan";
  }
  EXPECT_EQ(companies, 2);
  EXPECT_EQ(juans, 2);
}

TEST_F(EntryFormTest, CancellingANewCompanyRemovesItsNumbersAndAsksForEachContact) {
  AddNumber(50, "03");
  AddCall(0, "0351777", 50);
  AddCall(2, "0351888", 50);
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Provisoria");
    AddNumberThroughForm(w, "0351");
  });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    EXPECT_FALSE(w.Rows(agenda::kFcTelefonos).empty());
    EXPECT_FALSE(w.Enabled(agenda::kFcConModificar));
    AddContactThroughForm(w, "Ana");
  });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) { AddContactThroughForm(w, "Beto"); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    EXPECT_GE(w.Rows(agenda::kFcContactos).size(), 2u);
    EXPECT_TRUE(w.Enabled(agenda::kFcConModificar));
    Press(w, agenda::kFcCancelar);
  });
  ui_->QueueAnswer(1);  // cancel the company: "Si"
  ui_->QueueAnswer(1);  // delete Ana: "Si"
  ui_->QueueAnswer(2);  // delete Beto: "No" -> detached
  EXPECT_EQ(Ficha_Empresa("A", 0), kCancelled);
  // The company and its number are gone; Ana is gone, Beto stays without company.
  std::vector<Entry> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].nombre, "Beto");
  EXPECT_EQ(entries[0].kind, "C");
  EXPECT_EQ(entries[0].codemp, 0);
  EXPECT_EQ(Numbers().count("0351"), 0u);
  // The calls went to the company while its number existed, and back after.
  EXPECT_EQ(relinked_, (std::vector<std::string>{"0351", "0351"}));
  EXPECT_EQ(LinkOf("0351777"), 50);
  EXPECT_EQ(LinkOf("0351888"), 50);
  EXPECT_EQ(CountText(" Desea borrar el contacto Ana ?"), 1);
  EXPECT_EQ(CountText(" Desea borrar el contacto Beto ?"), 1);
}

TEST_F(EntryFormTest, NumbersAddedToANewCompanyLinkItsCalls) {
  AddCall(0, "0351777");
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Con numero");
    AddNumberThroughForm(w, "0351");
  });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) { Press(w, agenda::kFcAceptar); });
  EXPECT_EQ(Ficha_Empresa("A", 0), kCompleted);
  EXPECT_EQ(LinkOf("0351777"), 1);
  EXPECT_EQ(Numbers()["0351"].first, 1);
}

TEST_P(StoresEntryFormTest, DeletingACompanyDeletesNumbersAndAsksForContacts) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  const int32_t beto = AddEntry("Beto", "C", acme);
  const int32_t otro = AddEntry("Otro", "C", 0);
  AddNumber(acme, "0351");
  AddNumber(ana, "0351555");
  AddNumber(beto, "0351666");
  AddCall(0, "0351555123", ana);
  AddCall(1, "0351999", acme);
  std::string caption;
  bool name_enabled = true, aceptar_enabled = false;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    caption = w.Caption();
    name_enabled = w.Enabled(agenda::kFcNombre);
    aceptar_enabled = w.Enabled(agenda::kFcAceptar);
    Press(w, agenda::kFcAceptar);
  });
  ui_->QueueAnswer(1);  // "Si" to the company question
  ui_->QueueAnswer(1);  // Ana: delete
  ui_->QueueAnswer(2);  // Beto: keep, detached
  EXPECT_EQ(Ficha_Empresa("B", acme), kCompleted);
  EXPECT_EQ(caption, A("Borrando una empresa"));
  EXPECT_FALSE(name_enabled);
  EXPECT_TRUE(aceptar_enabled);
  EXPECT_EQ(ui_->messages().at(0).shape.text,
            A(" Si elimina la empresa se eliminaran todos sus contactos y teléfonos.|| Está "
              "seguro que desea borrar esta empresa ?"));
  Entry e;
  EXPECT_FALSE(HasEntry(acme));
  EXPECT_FALSE(HasEntry(ana));
  ASSERT_TRUE(HasEntry(beto, &e));
  EXPECT_EQ(e.codemp, 0);
  EXPECT_TRUE(HasEntry(otro));
  const auto numbers = Numbers();
  EXPECT_EQ(numbers.size(), 1u);
  EXPECT_EQ(numbers.count("0351666"), 1u);
  EXPECT_EQ(LinkOf("0351555123"), 0);
  EXPECT_EQ(LinkOf("0351999"), 0);
}

TEST_F(EntryFormTest, AnsweringNoToTheDeleteQuestionKeepsEverything) {
  const int32_t acme = AddEntry("Acme", "E");
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) { Press(w, agenda::kFcAceptar); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) { Press(w, agenda::kFcCancelar); });
  ui_->QueueAnswer(2);
  EXPECT_EQ(Ficha_Empresa("B", acme), kCancelled);
  EXPECT_TRUE(HasEntry(acme));
  EXPECT_EQ(ui_->messages().size(), 1u);  // no cancel question for "B"
}

TEST_P(StoresEntryFormTest, ChangingACompanyRewritesItsFieldsOnly) {
  const int32_t acme = AddEntry("Acme", "E");
  AddEntry("Zeta", "E");
  std::string caption, name;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    caption = w.Caption();
    name = w.Text(agenda::kFcNombre);
    Type(w, agenda::kFcNombre, "Zeta");  // taken
    Press(w, agenda::kFcAceptar);
  });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Acme Nueva");
    Press(w, agenda::kFcAceptar);
  });
  ui_->QueueAnswer(1);
  ui_->QueueAnswer(1);
  EXPECT_EQ(Ficha_Empresa("M", acme), kCompleted);
  EXPECT_EQ(caption, A("Modificando una empresa"));
  EXPECT_EQ(name, "Acme");
  Entry e;
  ASSERT_TRUE(HasEntry(acme, &e));
  EXPECT_EQ(e.nombre, "Acme Nueva");
  EXPECT_EQ(e.kind, "E");
}

TEST_F(EntryFormTest, AMissingEntryOpensNoForm) {
  EXPECT_EQ(Ficha_Empresa("M", 77), kCancelled);
  EXPECT_EQ(Ficha_Contacto("B", 78), kCancelled);
  EXPECT_EQ(Count("Ficha de la empresa"), 0);
  ASSERT_EQ(ui_->messages().size(), 2u);
  EXPECT_EQ(ui_->messages()[0].shape.text, A("La empresa solicitada ha sido borrada."));
  EXPECT_EQ(ui_->messages()[0].shape.icon, Icon::kExclamation);
  EXPECT_EQ(ui_->messages()[1].shape.text, A("El contacto solicitado ha sido borrado."));
}

TEST_F(EntryFormTest, ContactCompanyFieldTakesOnlyCompanies) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t juan = AddEntry("Juan", "C");
  std::string company_name;
  int64_t after_contact = -1, after_missing = -1;
  ui_->OnOpen("Ficha de Contactos", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Pedro");
    Type(w, agenda::kFcEmpresa, std::to_string(juan));  // a contact: refused
  });
  ui_->OnIdle("Ficha de Contactos", [&](Window& w) {
    after_contact = w.Contents(agenda::kFcEmpresa).AsInteger();
    EXPECT_EQ(w.Focus(), agenda::kFcEmpresa);
    Type(w, agenda::kFcEmpresa, "999");  // missing: the company selector opens
  });
  ui_->OnOpen("Seleccionar una empresa", [&](Window& s) {
    EXPECT_EQ(s.Rows(agenda::kLstLista).size(), 1u);  // companies only
    Press(s, agenda::kLstSeleccionar);
  });
  ui_->OnIdle("Ficha de Contactos", [&](Window& w) {
    after_missing = w.Contents(agenda::kFcEmpresa).AsInteger();
    company_name = w.Text(agenda::kFcEmpresaNombre);
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Contacto("A", 0), kCompleted);
  EXPECT_EQ(after_contact, 0);
  EXPECT_EQ(after_missing, acme);
  EXPECT_EQ(company_name, "Acme");
  bool found = false;
  for (const Entry& e : Entries()) {
    if (e.nombre == "Pedro") {
      found = true;
      EXPECT_EQ(e.kind, "C");
      EXPECT_EQ(e.codemp, acme);
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(EntryFormTest, LookupClosedWithoutSelectionKeepsTheFormOnTheField) {
  AddEntry("Acme", "E");
  int focus = 0;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Nueva");
    Type(w, agenda::kFcRubro, "12");  // no such category
  });
  ui_->OnOpen("Tabla de Rubros", [&](Window& s) { Press(s, agenda::kLstSalir); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    focus = w.Focus();
    Type(w, agenda::kFcRubro, "0");
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Empresa("A", 0), kCompleted);
  EXPECT_EQ(focus, agenda::kFcRubro);
  EXPECT_EQ(Count("Tabla de Rubros"), 1);
}

TEST_F(EntryFormTest, DeletingAContactDeletesItsNumbersAndRelinksTheirCalls) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  AddNumber(acme, "11");
  AddNumber(ana, "1122");
  AddCall(3, "112233", ana);
  ui_->OnOpen("Ficha de Contactos", [&](Window& w) {
    EXPECT_EQ(w.Caption(), A("Borrando un contacto"));
    EXPECT_EQ(w.Text(agenda::kFcEmpresaNombre), "Acme");
    Press(w, agenda::kFcAceptar);
  });
  ui_->QueueAnswer(1);
  EXPECT_EQ(Ficha_Contacto("B", ana), kCompleted);
  EXPECT_EQ(ui_->messages().at(0).shape.text,
            A(" Si elimina el contacto se eliminaran todos sus teléfonos.|| Está seguro que "
              "desea borrar este contacto ?"));
  EXPECT_FALSE(HasEntry(ana));
  EXPECT_TRUE(HasEntry(acme));
  EXPECT_EQ(Numbers().count("1122"), 0u);
  EXPECT_EQ(LinkOf("112233"), acme);
}

TEST_F(EntryFormTest, CancellingANewContactRemovesItAndItsNumbers) {
  AddCall(0, "4455");
  ui_->OnOpen("Ficha de Contactos", [&](Window& w) {
    EXPECT_EQ(w.Caption(), A("Agregando un nuevo contacto"));
    AddNumberThroughForm(w, "44");
  });
  ui_->OnIdle("Ficha de Contactos", [&](Window& w) { Press(w, agenda::kFcCancelar); });
  ui_->QueueAnswer(2);  // "No": the form stays
  ui_->OnIdle("Ficha de Contactos", [&](Window& w) { w.UserClose(); });
  ui_->QueueAnswer(1);  // "Si"
  EXPECT_EQ(Ficha_Contacto("A", 0), kCancelled);
  EXPECT_TRUE(Entries().empty());
  EXPECT_TRUE(Numbers().empty());
  EXPECT_EQ(LinkOf("4455"), 0);
  EXPECT_EQ(CountText(" Si cancela la operación el contacto y sus teléfonos seran eliminados.|| "
                      "Está seguro que desea cancelar la operación ?"),
            2);
}

TEST_F(EntryFormTest, ContactsEditedFromTheCompanyFormKeepTheCompanyHeldAndSaved) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    Type(w, agenda::kFcNombre, "Acme Dos");
    ui_->OnOpen("Ficha de Contactos", [](Window& f) {
      Type(f, agenda::kFcCargo, "Gerente");
      Press(f, agenda::kFcAceptar);
    });
    Press(w, agenda::kFcConModificar);
  });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    EXPECT_EQ(nv::Clip(w.Text(agenda::kFcNombre)), "Acme Dos");  // the screen survives
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Empresa("M", acme), kCompleted);
  Entry e;
  ASSERT_TRUE(HasEntry(acme, &e));
  EXPECT_EQ(e.nombre, "Acme Dos");
  ASSERT_TRUE(HasEntry(ana, &e));
  EXPECT_EQ(e.kind, "C");
  FileAccess& ma11 = Use("FXMA11");
  ma11.rec<MA11Record>().CODIGO = ana;
  ASSERT_EQ(ma11.TryFetch("MA11:MA11_CP"), 0);
  EXPECT_EQ(ma11.rec<MA11Record>().CARGOC.str(), "Gerente");
  ma11.Close();
}

// A company whose own record cannot be deleted (its file refuses writes)
// keeps its numbers and contacts, whether deleted or abandoned: the form
// says why and stays open.
TEST_F(EntryFormTest, ACompanyThatCannotBeDeletedKeepsItsNumbersAndContacts) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  AddNumber(acme, "0351");
  nvtest::FailingEnv env(ui_->clock_env(), "FXMA11");
  nvtest::ScopedEnv scoped(&env);
  auto refuse = [&](Window& w, ControlId button) {
    env.write_budget = 0;
    Press(w, button);
  };
  auto accept_writes = [&](Window& w) {
    EXPECT_TRUE(w.is_open());
    env.write_budget = -1;
    Press(w, agenda::kFcCancelar);
  };
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) { refuse(w, agenda::kFcAceptar); });
  ui_->OnIdle("Ficha de la empresa", accept_writes);
  ui_->QueueAnswer(1);  // "Si": delete the company
  EXPECT_EQ(Ficha_Empresa("B", acme), kCancelled);
  EXPECT_EQ(CountText(" Desea borrar el contacto Ana ?"), 0);
  EXPECT_EQ(Texts().back().find(A(" No se pudo borrar la empresa")), 0u) << Texts().back();
  Entry e;
  EXPECT_TRUE(HasEntry(acme));
  ASSERT_TRUE(HasEntry(ana, &e));
  EXPECT_EQ(e.codemp, acme);
  EXPECT_EQ(Numbers().count("0351"), 1u);

  // Abandoning a new company: the refusal is said and the provisional
  // entry stays with its numbers (in no list), its contacts not asked for.
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    AddNumberThroughForm(w, "0387");
    ui_->QueueAnswer(1);  // "Si": abandon
    refuse(w, agenda::kFcCancelar);
  });
  EXPECT_EQ(Ficha_Empresa("A", 0), kCancelled);
  EXPECT_EQ(Texts().back().find(A(" No se pudo borrar la empresa")), 0u) << Texts().back();
  EXPECT_EQ(Numbers().count("0387"), 1u);
  EXPECT_EQ(Entries().size(), 3u);
}

// After a contact form run from a new company's form, the name check still
// compares with companies.
TEST_F(EntryFormTest, NameCheckAfterAContactFormLooksAmongCompanies) {
  AddEntry("Acme", "E");
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) { AddContactThroughForm(w, "Ana"); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) { Type(w, agenda::kFcNombre, "Acme"); });
  ui_->OnIdle("Ficha de la empresa", [&](Window& w) {
    EXPECT_EQ(w.Focus(), agenda::kFcNombre);
    ui_->QueueAnswer(1);
    Press(w, agenda::kFcCancelar);
  });
  ui_->QueueAnswer(1);  // Ana: delete
  Ficha_Empresa("A", 0);
  EXPECT_EQ(CountText(" El nombre que se cargo ya existe en la agenda !"), 1);
}

// CUIL/CUIT goes through its pattern: stored as digits, shown and typed as
// ##-########-#; a blank one stays blank.
TEST_F(EntryFormTest, TaxNumberIsShownAndTypedThroughItsPattern) {
  FileAccess& ma11 = Use("FXMA11");
  ma11.file().Clear();
  auto& r = ma11.rec<MA11Record>();
  r.NOMBRE = "Acme";
  r.ESEMPR = "E";
  r.CUITNO = "30712345678";
  ASSERT_EQ(ma11.Insert(), 0);
  const int32_t acme = r.CODIGO;
  ma11.Close();
  std::string shown, typed;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    shown = w.Text(agenda::kFcCuit);
    Type(w, agenda::kFcCuit, "20123456789");
    typed = w.Text(agenda::kFcCuit);
    Press(w, agenda::kFcAceptar);
  });
  EXPECT_EQ(Ficha_Empresa("M", acme), kCompleted);
  EXPECT_EQ(shown, "30-71234567-8");
  EXPECT_EQ(typed, "20-12345678-9");
  FileAccess& again = Use("FXMA11");
  again.rec<MA11Record>().CODIGO = acme;
  ASSERT_EQ(again.TryFetch("MA11:MA11_CP"), 0);
  EXPECT_EQ(again.rec<MA11Record>().CUITNO.str(), "20123456789");
  again.Close();
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    shown = w.Text(agenda::kFcCuit);
    ui_->QueueAnswer(1);
    Press(w, agenda::kFcCancelar);
  });
  Ficha_Empresa("A", 0);
  EXPECT_EQ(nv::Clip(shown), "");
}

}  // namespace
}  // namespace formstest
