// The main window: both lists in name order with their filters, the lists
// that follow the highlighted entry, locators, the commands and the
// procedures they start, the enabling of Modificar/Borrar, the About window.
#include <algorithm>
#include <set>

#include "agenda/about.h"
#include "agenda/import_text.h"
#include "agenda/main_window.h"
#include "host/runtime/fixed_string.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using namespace nv::ui;
using nv::dict::MA11Record;
using nv::dict::RE09Record;

class MainWindowTest : public AgendaTest {
 protected:
  // Adds an entry through the dictionary (code given, or 0 for the next).
  static int32_t AddEntry(const std::string& name, const char* kind, int32_t company = 0,
                          const std::string& comment = "") {
    nv::dict::FileAccess* ma11 = nv::dict::Dic()->Access("FXMA11");
    EXPECT_EQ(ma11->UseFile(), 0);
    ma11->file().Clear();
    auto& r = ma11->rec<MA11Record>();
    r.CODIGO = 0;
    r.NOMBRE = A(name);
    r.ESEMPR = kind;
    r.CODEMP = company;
    ma11->file().SetMemoText(0, A(comment));
    EXPECT_EQ(ma11->Insert(), 0);
    const int32_t code = r.CODIGO;
    ma11->Close();
    return code;
  }
  static void AddNumber(int32_t code, const std::string& number) {
    nv::dict::FileAccess* re09 = nv::dict::Dic()->Access("FXRE09");
    EXPECT_EQ(re09->UseFile(), 0);
    re09->file().Clear();
    auto& r = re09->rec<RE09Record>();
    r.CODIGO.Set(code);
    r.NROTEL = number;
    r.CARINI = number.substr(0, 1);
    r.LONTEL = uint8_t(nv::Clip(number).size());
    EXPECT_EQ(re09->Insert(), 0);
    re09->Close();
  }

  // Runs f with the program's dictionary over ./Archivos.
  template <class F>
  static void WithDictionary(F f) {
    nv::dict::FxdatsInit(nullptr, nullptr);
    f();
    nv::dict::FxdatsKill();
  }

  static std::vector<std::string> Column(const Window& w, ControlId list, size_t col = 0) {
    std::vector<std::string> out;
    for (const auto& row : w.Rows(list)) out.push_back(std::string(nv::Clip(row.at(col))));
    return out;
  }

  // Runs the program with these steps, each when the main window is idle
  // again (every event of the step before handled), then "Salir".
  void RunMain(std::vector<std::function<void(Window&)>> steps) {
    MainProgram(true, 1);
    int done = 0;
    for (size_t i = 0; i <= steps.size(); ++i) {
      auto action = [&, i](Window& w) {
        if (i == steps.size()) {
          Press(w, agenda::kSalir);
          return;
        }
        steps[i](w);
        ++done;
      };
      if (i == 0) {
        ui_->OnOpen("Agenda", action);
      } else {
        ui_->OnIdle("Agenda", action);
      }
    }
    EXPECT_EQ(Start(), agenda::kExitOk);
    EXPECT_EQ(done, int(steps.size()));
  }
};

TEST_F(MainWindowTest, ListsShowEachKindInNameOrderAndNoProvisionalEntry) {
  WriteDemo(12, 15, 40);
  int32_t first = 0, contact = 0;
  WithDictionary([&] {
    first = AddEntry("AAA Primera S.A.", "E", 0, "Cliente importante");
    AddEntry("AAA Provisoria", "P");
    contact = AddEntry("AAA Contacto", "C", first);
    AddEntry("AAA Primera S.A.", "C");  // a contact may share a company's name
    AddNumber(first, "0351111111");
    AddNumber(first, "0351222222");
    AddNumber(contact, "1544443333");
  });
  RunMain({[&](Window& w) {
    const auto companies = Column(w, agenda::kEmpLista);
    ASSERT_FALSE(companies.empty());
    EXPECT_TRUE(std::is_sorted(companies.begin(), companies.end()));
    EXPECT_EQ(companies[0], A("AAA Primera S.A."));
    EXPECT_EQ(std::count(companies.begin(), companies.end(), A("AAA Provisoria")), 0);
    EXPECT_EQ(std::count(companies.begin(), companies.end(), A("AAA Contacto")), 0);
    EXPECT_EQ(w.Highlight(agenda::kEmpLista), 0);
    EXPECT_EQ(Column(w, agenda::kEmpTelefonos),
              (std::vector<std::string>{"0351111111", "0351222222"}));
    EXPECT_EQ(Column(w, agenda::kEmpContactos), (std::vector<std::string>{A("AAA Contacto")}));
    EXPECT_EQ(w.Text(agenda::kEmpComentarios), A("Cliente importante"));

    const auto contacts = Column(w, agenda::kConLista);
    ASSERT_GE(contacts.size(), 2u);
    EXPECT_TRUE(std::is_sorted(contacts.begin(), contacts.end()));
    EXPECT_EQ(contacts[0], A("AAA Contacto"));
    EXPECT_EQ(contacts[1], A("AAA Primera S.A."));
    EXPECT_EQ(Column(w, agenda::kConTelefonos), (std::vector<std::string>{"1544443333"}));
    EXPECT_TRUE(w.Enabled(agenda::kEmpModificar));
    EXPECT_TRUE(w.Enabled(agenda::kConBorrar));
  }});
}

TEST_F(MainWindowTest, DependentListsFollowTheHighlight) {
  WriteDemo(12, 25, 40);
  std::function<void(Window&)> check = [&](Window& w) {
    nv::dict::Dictionary* dic = nv::dict::Dic();
    auto check_company = [&] {
      const int32_t code = dic->Access("FXMA11")->rec<MA11Record>().CODIGO;
      ASSERT_GT(code, 0);
      // Every number of the company, read independently in record order.
      auto re09 = dic->NewFile("FXRE09");
      ASSERT_EQ(re09->Open(), 0);
      std::set<std::string> expected;
      re09->Set();
      while (re09->Next() == 0) {
        auto& r = re09->As<RE09Record>();
        if (agenda::Int(r.CODIGO) == code) expected.insert(r.NROTEL.str());
      }
      re09->Close();
      const auto shown = Column(w, agenda::kEmpTelefonos);
      EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()), expected);
      for (const auto& row : w.Rows(agenda::kEmpContactos)) EXPECT_FALSE(row.at(0).empty());
    };
    check_company();
  };
  std::vector<std::string> before;
  std::vector<std::function<void(Window&)>> steps;
  steps.push_back([&](Window& w) {
    before = Column(w, agenda::kEmpLista);
    check(w);
  });
  for (int i = 0; i < 5; ++i) {
    steps.push_back([&](Window& w) { ListKey(w, agenda::kEmpLista, kKeyDown); });
    steps.push_back(check);
  }
  steps.push_back([&](Window& w) {
    EXPECT_EQ(w.Highlight(agenda::kEmpLista), 5);
    const std::string name = nv::dict::Dic()->Access("FXMA11")->rec<MA11Record>().NOMBRE.str();
    EXPECT_EQ(name, before.at(5));
  });
  RunMain(steps);
}

TEST_F(MainWindowTest, LocatorMovesToTheFirstNameAtOrAfterTheText) {
  WriteDemo(30, 10, 20);
  std::string target;
  RunMain({[&](Window& w) {
             const auto names = Column(w, agenda::kEmpLista);
             ASSERT_GE(names.size(), 3u);
             target = names[2];
             Type(w, agenda::kEmpNombre, target.substr(0, target.size() - 1));
           },
           [&](Window& w) {
             const int h = w.Highlight(agenda::kEmpLista);
             ASSERT_GE(h, 0);
             EXPECT_EQ(std::string(nv::Clip(w.Rows(agenda::kEmpLista)[size_t(h)][0])), target);
             EXPECT_EQ(w.Focus(), agenda::kEmpLista);
           }});
}

// With no company highlighted the company tab's dependent lists are empty,
// though contacts without company and numbers of code 0 exist.
TEST_F(MainWindowTest, NoCompanyShowsNoContactsOrNumbersOnTheCompanyTab) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  WithDictionary([] {
    AddEntry("Suelto", "C", 0);
    AddNumber(0, "0351");
  });
  RunMain({[&](Window& w) {
    EXPECT_TRUE(w.Rows(agenda::kEmpLista).empty());
    EXPECT_TRUE(w.Rows(agenda::kEmpContactos).empty());
    EXPECT_TRUE(w.Rows(agenda::kEmpTelefonos).empty());
    EXPECT_EQ(Column(w, agenda::kConLista), (std::vector<std::string>{"Suelto"}));
  }});
}

// Typing on the company numbers list moves it to the first number at or
// after the typed text.
TEST_F(MainWindowTest, CompanyNumbersListLocatesTheTypedNumber) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  WithDictionary([] {
    const int32_t acme = AddEntry("Acme", "E");
    for (const char* n : {"0351", "0387", "0600", "0810"}) AddNumber(acme, n);
  });
  RunMain({[&](Window& w) { TypeOnList(w, agenda::kEmpTelefonos, "06"); },
           [&](Window& w) {
             const int h = w.Highlight(agenda::kEmpTelefonos);
             ASSERT_GE(h, 0);
             EXPECT_EQ(nv::Clip(w.Rows(agenda::kEmpTelefonos)[size_t(h)][0]), "0600");
           }});
}

TEST_F(MainWindowTest, EmptyListDisablesModifyDeleteAndFirstCompanyEnablesThem) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  std::vector<std::pair<std::string, int32_t>> calls;
  agenda::AgendaProcedures().Ficha_Empresa = [&](std::string_view request, int32_t code) {
    calls.emplace_back(std::string(request), code);
    if (request == "A") AddEntry("Primera empresa", "E");
    return kCompleted;
  };
  MainProgram(true, 1);
  ui_->OnOpen("Agenda", [](Window& w) {
    EXPECT_FALSE(w.Enabled(agenda::kEmpModificar));
    EXPECT_FALSE(w.Enabled(agenda::kEmpBorrar));
    EXPECT_FALSE(w.Enabled(agenda::kConModificar));
    EXPECT_FALSE(w.Enabled(agenda::kConBorrar));
    EXPECT_TRUE(w.Enabled(agenda::kEmpAgregar));
    // Modificar of an empty list does nothing.
    DoubleClickRow(w, agenda::kEmpLista, 0);
    Press(w, agenda::kEmpAgregar);
  });
  ui_->OnIdle("Agenda", [](Window& w) {
    EXPECT_TRUE(w.Enabled(agenda::kEmpModificar));
    EXPECT_TRUE(w.Enabled(agenda::kEmpBorrar));
    EXPECT_FALSE(w.Enabled(agenda::kConModificar));
    EXPECT_EQ(Column(w, agenda::kEmpLista), (std::vector<std::string>{"Primera empresa"}));
    Press(w, agenda::kEmpModificar);
    Press(w, agenda::kSalir);
  });
  EXPECT_EQ(Start(), agenda::kExitOk);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (std::pair<std::string, int32_t>{"A", 0}));
  EXPECT_EQ(calls[1], (std::pair<std::string, int32_t>{"M", 1}));
}

TEST_F(MainWindowTest, CommandsPassTheHighlightedCodes) {
  WriteDemo(8, 8, 10);
  std::vector<std::pair<std::string, int32_t>> companies, contacts;
  agenda::AgendaProcedures().Ficha_Empresa = [&](std::string_view r, int32_t c) {
    companies.emplace_back(std::string(r), c);
    return kCancelled;
  };
  agenda::AgendaProcedures().Ficha_Contacto = [&](std::string_view r, int32_t c) {
    contacts.emplace_back(std::string(r), c);
    return kCancelled;
  };
  int32_t company_code = 0, contact_code = 0;
  RunMain({[&](Window& w) { ListKey(w, agenda::kEmpLista, kKeyDown); },
           [&](Window& w) {
             company_code = nv::dict::Dic()->Access("FXMA11")->rec<MA11Record>().CODIGO;
             Press(w, agenda::kEmpModificar);
             Press(w, agenda::kEmpBorrar);
           },
           [&](Window& w) { DoubleClickRow(w, agenda::kEmpLista, 1); },
           [&](Window& w) {
             Choose(w, agenda::kSheet, 2);
             ListKey(w, agenda::kConLista, kKeyDown);
             ListKey(w, agenda::kConLista, kKeyDown);
           },
           [&](Window& w) {
             contact_code = nv::dict::Dic()->Access("ALMA11")->rec<MA11Record>().CODIGO;
             Press(w, agenda::kConAgregar);
           },
           [&](Window& w) { Press(w, agenda::kConBorrar); }});
  ASSERT_EQ(companies.size(), 3u);
  EXPECT_EQ(companies[0], (std::pair<std::string, int32_t>{"M", company_code}));
  EXPECT_EQ(companies[1], (std::pair<std::string, int32_t>{"B", company_code}));
  EXPECT_EQ(companies[2], (std::pair<std::string, int32_t>{"M", company_code}));
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0], (std::pair<std::string, int32_t>{"A", 0}));
  // After a command the lists are read again: the highlight stays put.
  EXPECT_EQ(contacts[1], (std::pair<std::string, int32_t>{"B", contact_code}));
  EXPECT_NE(company_code, 0);
  EXPECT_NE(contact_code, 0);
}

TEST_F(MainWindowTest, DialingTakesTheHighlightedNumberAndSkipsBlankOnes) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  WithDictionary([] {
    const int32_t a = AddEntry("Con teléfono", "E");
    AddNumber(a, "0351456789");
    AddEntry("Sin teléfono", "E");
  });
  std::vector<std::string> dialled;
  agenda::AgendaProcedures().Discar = [&](std::string_view n) { dialled.emplace_back(n); };
  RunMain({[](Window& w) {
             DoubleClickRow(w, agenda::kEmpTelefonos, 0);
             Press(w, agenda::kEmpDiscar);
             ListKey(w, agenda::kEmpLista, kKeyDown);  // the company without numbers
           },
           [](Window& w) {
             Press(w, agenda::kEmpDiscar);
             DoubleClickRow(w, agenda::kEmpTelefonos, 0);
           }});
  EXPECT_EQ(dialled, (std::vector<std::string>{"0351456789", "0351456789"}));
}

TEST_F(MainWindowTest, ProceduresNotYetAvailableSaySo) {
  WriteDemo(3, 3, 5);
  agenda::AgendaProcedures().Buscar_Telefono = nullptr;  // an emptied entry is safe too
  agenda::AgendaProcedures().Elegir_Reporte_Empresas = nullptr;
  agenda::AgendaProcedures().IMPORTAR_AGENDA_DOS = nullptr;
  RunMain({[](Window& w) {
    Press(w, agenda::kEmpImprimir);
    Press(w, agenda::kEmpBuscar);
    Press(w, agenda::kMenuImportarDos);
    Press(w, agenda::kMenuExportar);  // no behaviour at all
  }});
  const auto messages = ui_->messages();
  ASSERT_EQ(messages.size(), 3u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.shape.text, "No disponible");
    EXPECT_EQ(m.shape.caption, A("Atención"));
  }
}

TEST_F(MainWindowTest, TheTextImportMenuEntryOpensTheImportWindow) {
  WriteDemo(3, 3, 5);
  ui_->OnOpen(A("Importación de datos"), [](Window& w) { Press(w, agenda::kImpSalir); });
  RunMain({[](Window& w) { Press(w, agenda::kMenuImportarTexto); }});
  EXPECT_EQ(Count("Importación de datos"), 1);
  EXPECT_TRUE(ui_->messages().empty());
}

TEST_F(MainWindowTest, AboutShowsTheExchangeAndTheVersion) {
  WriteDemo(3, 3, 5);
  std::string line, version;
  ui_->OnOpen("Acerca de la agenda del Fonvex Windows", [&](Window& w) {
    line = w.Text(agenda::kAboutCentral);
    version = w.control(agenda::kAboutVersion).def.text;
    Press(w, agenda::kAboutSalir);
  });
  RunMain({[](Window& w) { Press(w, agenda::kMenuAcercaDe); }});
  EXPECT_EQ(line, A("Central telefónica Nro. 1 (Central Córdoba - Casa central)."));
  EXPECT_EQ(version, A("Agenda Versión 2.4.3.0"));
}

TEST_F(MainWindowTest, AboutWithAnotherExchangeNumberShowsNoName) {
  WriteDemo(3, 3, 5);
  ASSERT_TRUE(nv::WriteProfileString("agenda.INI", "Dictionary", "Central", "7"));
  std::string line;
  ui_->OnOpen("Acerca de la agenda del Fonvex Windows", [&](Window& w) {
    line = w.Text(agenda::kAboutCentral);
    Press(w, agenda::kAboutSalir);
  });
  RunMain({[](Window& w) { Press(w, agenda::kMenuAcercaDe); }});
  EXPECT_EQ(line, A("Central telefónica Nro. 7 ()."));
}

TEST(MainWindowDef, MenusTabsAndColumns) {
  const WindowDef d = agenda::MainWindowDef();
  EXPECT_EQ(d.caption, "Agenda");
  ASSERT_EQ(d.menus.size(), 2u);
  EXPECT_EQ(d.menus[0].text, "&Herramientas");
  EXPECT_EQ(d.menus[0].items[0].text, "&Importar");
  EXPECT_EQ(d.menus[0].items[0].items[0].text, "Importar agenda FXDOS");
  EXPECT_EQ(d.menus[0].items[0].items[1].text, "Importar archivos de texto");
  EXPECT_EQ(d.menus[0].items[1].text, "Exportar");
  EXPECT_EQ(d.menus[1].text, "&Ayuda");
  EXPECT_EQ(d.menus[1].items[0].text, "Acerca de...");
  Window w(d);
  EXPECT_EQ(w.control(agenda::kTabEmpresas).def.text, "&Empresas");
  EXPECT_EQ(w.control(agenda::kTabContactos).def.text, "&Contactos");
  const auto& tel = w.control(agenda::kEmpTelefonos).def.columns;
  ASSERT_EQ(tel.size(), 2u);
  EXPECT_EQ(tel[0].header, A("Teléfono/e-mail"));
  EXPECT_EQ(tel[0].picture, "@s40");
  EXPECT_EQ(tel[1].header, "Comentario");
  EXPECT_EQ(tel[1].picture, "@s30");
  const auto& con = w.control(agenda::kEmpContactos).def.columns;
  EXPECT_EQ(con[0].header, "Contactos");
  EXPECT_EQ(con[1].header, "Cargo");
  EXPECT_EQ(w.control(agenda::kEmpLista).def.columns[0].picture, "@s50");
  EXPECT_EQ(w.control(agenda::kSalir).def.tip, "Salir de la agenda");
}

}  // namespace
}  // namespace agendatest
