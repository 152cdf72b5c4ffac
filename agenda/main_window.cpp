#include "agenda/main_window.h"

#include <memory>

#include "agenda/about.h"
#include "agenda/login.h"
#include "agenda/procedures.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/expr.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/browse.h"
#include "host/ui/field_access.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::FileAccess;

WindowDef MainWindowDef() {
  const std::vector<ControlDef> empresas = {
      Prompt(A("Nombre:")),
      Entry(kEmpNombre, "@s50").Tip(A("Nombre de la empresa")).Bind("MA11:NOMBRE"),
      List(kEmpLista, {Col(A("Nombre"), "@s50", "MA11:NOMBRE")}, A("Lista de empresas"))
          .Tip(A("Lista de empresas")),
      Prompt(A("Comentarios:")),
      TextBox(kEmpComentarios).ReadOnly(),
      List(kEmpTelefonos, {Col(A("Teléfono/e-mail"), "@s40", "RE09:NROTEL"),
                           Col(A("Comentario"), "@s30", "RE09:COMENT")}),
      List(kEmpContactos, {Col(A("Contactos"), "@s50", "A2MA11:NOMBRE"),
                           Col(A("Cargo"), "@s30", "A2MA11:CARGOC")}),
      Button(kEmpAgregar, A("&Agregar")),
      Button(kEmpModificar, A("&Modificar")),
      Button(kEmpBorrar, A("&Borrar")),
      Button(kEmpImprimir, A("&Imprimir")),
      Button(kEmpDiscar, A("&Discar")),
      Button(kEmpBuscar, A("Buscar &teléfono")),
  };
  const std::vector<ControlDef> contactos = {
      Prompt(A("Nombre:")),
      Entry(kConNombre, "@s50").Tip(A("Nombre del contacto")).Bind("AMA11:NOMBRE"),
      List(kConLista, {Col(A("Nombre"), "@s50", "AMA11:NOMBRE")}, A("Lista de contactos"))
          .Tip(A("Lista de contactos")),
      Prompt(A("Comentarios:")),
      TextBox(kConComentarios).ReadOnly(),
      List(kConTelefonos, {Col(A("Teléfono/e-mail"), "@s40", "ARE09:NROTEL"),
                           Col(A("Comentario"), "@s30", "ARE09:COMENT")}),
      Button(kConAgregar, A("&Agregar")),
      Button(kConModificar, A("&Modificar")),
      Button(kConBorrar, A("&Borrar")),
      Button(kConImprimir, A("&Imprimir")),
      Button(kConDiscar, A("&Discar")),
      Button(kConBuscar, A("Buscar &teléfono")),
  };
  return WindowDef(A("Agenda"), {Sheet(kSheet, {Tab(A("&Empresas"), empresas, kTabEmpresas),
                                                Tab(A("&Contactos"), contactos, kTabContactos)}),
                                 Button(kSalir, A("Salir")).Tip(A("Salir de la agenda"))})
      .Menus(
          {Menu(A("&Herramientas"),
                {Menu(A("&Importar"), {Item(kMenuImportarDos, A("Importar agenda FXDOS")),
                                       Item(kMenuImportarTexto, A("Importar archivos de texto"))}),
                 Item(kMenuExportar, A("Exportar"))}),
           Menu(A("&Ayuda"), {Item(kMenuAcercaDe, A("Acerca de..."))})})
      .Size(800, 560);
}

namespace {

// The filters of the lists are texts of the expression language, compiled
// against the record buffers of the directory files.
class FilterScope {
 public:
  explicit FilterScope(nv::dict::Dictionary& dic) {
    for (const char* label : {"FXMA11", "ALMA11", "A2MA11", "FXRE09", "ALRE09"}) {
      FileAccess* a = dic.Access(label);
      bindings_.BindFile(&a->file(), a->shape().prefix);
    }
    SetFilterCompiler([this](nv::File&, std::string_view text, std::string* error) {
      nv::expr::Error err;
      std::shared_ptr<nv::expr::Expression> e =
          nv::expr::Expression::Compile(text, bindings_, &err);
      if (!e) {
        *error = err.message;
        return std::function<bool()>();
      }
      return std::function<bool()>([e] { return e->Matches(); });
    });
  }
  ~FilterScope() { SetFilterCompiler(nullptr); }
  FilterScope(const FilterScope&) = delete;
  FilterScope& operator=(const FilterScope&) = delete;

 private:
  nv::expr::Bindings bindings_;
};

int32_t CodeOf(FileAccess& a) {
  return a.rec<nv::dict::MA11Record>().CODIGO;
}

// The range of a list that follows a master list: the master's code, or a
// code no record carries while the master is empty (contacts without
// company and stray numbers have code 0).
nv::Value MasterCode(FileAccess& a) {
  const int32_t code = CodeOf(a);
  return nv::Value(static_cast<long long>(code == 0 ? -1 : code));
}

// Calls a procedure of the table, or says it is not available.
template <class F, class... Args>
auto Run(const F& procedure, Args&&... args) {
  if (!procedure) {
    NoDisponible();
    using R = decltype(procedure(std::forward<Args>(args)...));
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R(kCancelled);
    }
  } else {
    return procedure(std::forward<Args>(args)...);
  }
}

class MainWindow {
 public:
  MainWindow(nv::dict::Dictionary& dic, Window& w)
      : dic_(dic),
        w_(w),
        ma11_(*dic.Access("FXMA11")),
        alma11_(*dic.Access("ALMA11")),
        a2ma11_(*dic.Access("A2MA11")),
        re09_(*dic.Access("FXRE09")),
        alre09_(*dic.Access("ALRE09")),
        empresas_(&ma11_.file()),
        emp_telefonos_(&re09_.file()),
        emp_contactos_(&a2ma11_.file()),
        contactos_(&alma11_.file()),
        con_telefonos_(&alre09_.file()) {}

  // Sets the five lists up (the relations are open).
  bool SetUpLists() {
    empresas_.AddOrder(A("Nombre"), "MA11:MA11_C1");
    bool ok = empresas_.SetFilterText("(MA11:ESEMPR = 'E')");
    emp_telefonos_.AddOrder(A("Teléfono"), "RE09:RE09_CP");
    emp_telefonos_.SetRange({[this] { return MasterCode(ma11_); }});
    emp_telefonos_.SetLocatorField("RE09:NROTEL");
    emp_contactos_.AddOrder(A("Nombre"), "A2MA11:MA11_C4");
    emp_contactos_.SetRange({[this] { return MasterCode(ma11_); }});
    ok = emp_contactos_.SetFilterText("(A2MA11:ESEMPR = 'C')") && ok;
    contactos_.AddOrder(A("Nombre"), "AMA11:MA11_C1");
    ok = contactos_.SetFilterText("(AMA11:ESEMPR = 'C')") && ok;
    con_telefonos_.AddOrder(A("Teléfono"), "ARE09:RE09_CP");
    con_telefonos_.SetRange({[this] { return MasterCode(alma11_); }});
    // The dependent lists are driven by their masters.
    emp_telefonos_.SetLoadOnMove(true);
    w_.AttachBrowse(kEmpLista, &empresas_);
    w_.AttachBrowse(kEmpTelefonos, &emp_telefonos_);
    w_.AttachBrowse(kEmpContactos, &emp_contactos_);
    w_.AttachBrowse(kConLista, &contactos_);
    w_.AttachBrowse(kConTelefonos, &con_telefonos_);
    w_.SetLocator(kEmpNombre, kEmpLista);
    w_.SetLocator(kConNombre, kConLista);
    return ok;
  }

  void Run() {
    while (w_.Accept()) {
      switch (w_.Event()) {
        case Event::kOpenWindow:
          CompanyChanged();
          ContactChanged();
          EnableButtons();
          w_.Select(kEmpLista);
          break;
        case Event::kNewSelection:
          if (w_.Field() == kEmpLista) CompanyChanged();
          if (w_.Field() == kConLista) ContactChanged();
          if (w_.Field() == kSheet) EnableButtons();
          break;
        case Event::kAccepted:
          Accepted(w_.Field());
          break;
        default:
          break;
      }
    }
  }

 private:
  void Accepted(ControlId id) {
    Procedures& p = AgendaProcedures();
    switch (id) {
      case kMenuImportarDos:
        agenda::Run(p.IMPORTAR_AGENDA_DOS);
        AfterCommand();
        break;
      case kMenuImportarTexto:
        agenda::Run(p.Importar);
        AfterCommand();
        break;
      case kMenuExportar:
        break;  // no behaviour
      case kMenuAcercaDe:
        Acerca_De();
        break;
      case kEmpLista:
        if (Highlighted(empresas_, ma11_)) Company("M");
        break;
      case kEmpAgregar:
        Company("A");
        break;
      case kEmpModificar:
        if (Highlighted(empresas_, ma11_)) Company("M");
        break;
      case kEmpBorrar:
        if (Highlighted(empresas_, ma11_)) Company("B");
        break;
      case kEmpImprimir:
        agenda::Run(p.Elegir_Reporte_Empresas);
        AfterCommand();
        break;
      case kEmpTelefonos:
      case kEmpDiscar:
        Dial(emp_telefonos_, re09_);
        break;
      case kEmpBuscar:
      case kConBuscar:
        agenda::Run(p.Buscar_Telefono);
        AfterCommand();
        break;
      case kConLista:
        if (Highlighted(contactos_, alma11_)) Contact("M");
        break;
      case kConAgregar:
        Contact("A");
        break;
      case kConModificar:
        if (Highlighted(contactos_, alma11_)) Contact("M");
        break;
      case kConBorrar:
        if (Highlighted(contactos_, alma11_)) Contact("B");
        break;
      case kConImprimir:
        agenda::Run(p.Elegir_Reporte_Contactos);
        AfterCommand();
        break;
      case kConTelefonos:
      case kConDiscar:
        Dial(con_telefonos_, alre09_);
        break;
      case kSalir:
        w_.Close(kCompleted);
        break;
      default:
        break;
    }
  }

  // Loads the highlighted record of a list into its buffer; false when the
  // list is empty.
  static bool Highlighted(Browse& b, FileAccess&) { return !b.empty() && b.LoadHighlighted(); }

  void Company(std::string_view request) {
    const int32_t code = request == "A" ? 0 : CodeOf(ma11_);
    agenda::Run(AgendaProcedures().Ficha_Empresa, request, code);
    AfterCommand();
  }

  void Contact(std::string_view request) {
    const int32_t code = request == "A" ? 0 : CodeOf(alma11_);
    agenda::Run(AgendaProcedures().Ficha_Contacto, request, code);
    AfterCommand();
  }

  void Dial(Browse& numbers, FileAccess& re09) {
    if (!Highlighted(numbers, re09)) return;
    const std::string number = re09.rec<nv::dict::RE09Record>().NROTEL.str();
    if (number.empty()) return;
    agenda::Run(AgendaProcedures().Discar, number);
  }

  // After a command every list is read again and the buttons re-evaluated.
  void AfterCommand() {
    Reread(empresas_, kEmpLista);
    Reread(contactos_, kConLista);
    CompanyChanged();
    ContactChanged();
    EnableButtons();
  }

  void Reread(Browse& b, ControlId list) {
    if (b.empty()) {
      b.Reset();
    } else {
      b.Refresh();
    }
    w_.Display(list);
  }

  // The highlighted company moved: its comments, numbers and contacts.
  void CompanyChanged() {
    if (empresas_.empty() || !empresas_.LoadHighlighted()) {
      ma11_.file().Clear();
      w_.SetText(kEmpComentarios, "");
    } else {
      w_.SetText(kEmpComentarios, std::string(nv::Clip(ma11_.file().MemoText(0))));
    }
    emp_telefonos_.Reset();
    emp_contactos_.Reset();
    w_.Display(kEmpTelefonos);
    w_.Display(kEmpContactos);
  }

  void ContactChanged() {
    if (contactos_.empty() || !contactos_.LoadHighlighted()) {
      alma11_.file().Clear();
      w_.SetText(kConComentarios, "");
    } else {
      w_.SetText(kConComentarios, std::string(nv::Clip(alma11_.file().MemoText(0))));
    }
    con_telefonos_.Reset();
    w_.Display(kConTelefonos);
  }

  void EnableButtons() {
    for (auto [list, modify, remove] : {std::tuple{&empresas_, kEmpModificar, kEmpBorrar},
                                        std::tuple{&contactos_, kConModificar, kConBorrar}}) {
      if (list->empty()) {
        w_.Disable(modify);
        w_.Disable(remove);
      } else {
        w_.Enable(modify);
        w_.Enable(remove);
      }
    }
  }

  nv::dict::Dictionary& dic_;
  Window& w_;
  FileAccess& ma11_;
  FileAccess& alma11_;
  FileAccess& a2ma11_;
  FileAccess& re09_;
  FileAccess& alre09_;
  Browse empresas_, emp_telefonos_, emp_contactos_, contactos_, con_telefonos_;
};

constexpr const char* kRelations[] = {"A2MA11", "ALMA11", "FXMA11"};

}  // namespace

int Ventana_Principal() {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return kMainNoFiles;
  // 1. The call files live in the program's ".\Archivos" folder.
  dic->SetCallFileNames();
  // 2. Window manager, relations, lists.
  Window w(MainWindowDef());
  int opened = 0;
  for (const char* label : kRelations) {
    if (dic->OpenRelation(label) != 0) break;
    ++opened;
  }
  auto close_relations = [&] {
    for (int i = opened - 1; i >= 0; --i) dic->CloseRelation(kRelations[i]);
  };
  if (opened != int(std::size(kRelations))) {
    close_relations();
    return kMainNoFiles;
  }
  int status = kMainClosed;
  {
    FilterScope filters(*dic);
    MainWindow main(*dic, w);
    main.SetUpLists();
    // 3. Login, then the window.
    if (!Acceso()) {
      status = kMainHalted;
    } else {
      w.Open();
      main.Run();
    }
  }
  close_relations();
  return status;
}

}  // namespace agenda
