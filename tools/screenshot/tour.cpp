#include "tools/screenshot/tour.h"

#include <QApplication>
#include <QTimer>

#include <unistd.h>

#include "agenda/about.h"
#include "agenda/buscar_telefono.h"
#include "agenda/dialer.h"
#include "agenda/directory_reports.h"
#include "agenda/ficha_common.h"
#include "agenda/ficha_telefono.h"
#include "agenda/import_dos.h"
#include "agenda/import_text.h"
#include "agenda/login.h"
#include "agenda/lookups.h"
#include "agenda/main_window.h"
#include "agenda/modem_config.h"
#include "agenda/startup.h"
#include "agenda/text.h"
#include "host/runtime/codepage.h"
#include "host/runtime/profile.h"
#include "host/ui/backend.h"
#include "tools/modemsim/modem_sim.h"

namespace agenda_tour {

using namespace nv::ui;
using agenda::A;

namespace {

// One window of the tour: wait until it is the top window (by caption),
// make it ready (a list row with what the next steps need), show it to the
// visitor, then act on it.
struct Step {
  Step(std::string c, std::string n, std::function<void(Window&)> a,
       std::function<bool(Window&)> r = {}, std::function<void(Window&)> p = {})
      : caption(std::move(c)),
        name(std::move(n)),
        act(std::move(a)),
        ready(std::move(r)),
        prepare(std::move(p)) {}
  std::string caption;  // UTF-8
  std::string name;     // empty: not visited (the window was seen already)
  std::function<void(Window&)> act;
  std::function<bool(Window&)> ready;    // optional
  std::function<void(Window&)> prepare;  // run while not ready
};

std::vector<Step> Steps(QtBackend& qt, const std::string& user, const std::string& password) {
  auto press = [](ControlId id) { return [id](Window& w) { w.UserPress(id); }; };
  // Closing a form that adds asks whether to abandon it: "Si".
  auto abandon = [&qt](ControlId id) {
    return [&qt, id](Window& w) {
      qt.QueueAnswer(1);
      w.UserPress(id);
    };
  };
  // A company with numbers and contacts, for the forms and lists below.
  auto company_ready = [](Window& w) {
    return !w.Rows(agenda::kEmpTelefonos).empty() && !w.Rows(agenda::kEmpContactos).empty();
  };
  auto next_company = [](Window& w) { w.UserListKey(agenda::kEmpLista, kKeyDown); };
  const std::string empresa = "Modificando una empresa";
  return {
      {"Seguridad", "login",
       [user, password](Window& w) {
         w.UserSetText(agenda::kLoginNombre, A(user));
         w.UserSetText(agenda::kLoginClave, A(password));
         w.UserPress(agenda::kLoginAceptar);
       }},
      {"Agenda", "main-empresas", press(agenda::kEmpAgregar), company_ready, next_company},
      {"Agregando una nueva empresa", "ficha-empresa-agregar", abandon(agenda::kFcCancelar)},
      {"Agenda", "", press(agenda::kEmpModificar)},
      {empresa, "ficha-empresa-modificar", press(agenda::kFcResponsableBoton)},
      {"Tabla de Usuarios", "usuarios", press(agenda::kLstSalir)},
      {empresa, "", press(agenda::kFcRubroBoton)},
      {"Tabla de Rubros", "rubros", press(agenda::kLstAgregar)},
      {"Agregando un nuevo Rubro", "ficha-rubro", press(agenda::kTfCancelar)},
      {"Tabla de Rubros", "", press(agenda::kLstSalir)},
      {empresa, "", press(agenda::kFcTelAgregar)},
      {"Agregando nuevo teléfono", "ficha-telefono-agregar", press(agenda::kFtCancelar)},
      {empresa, "", press(agenda::kFcTelModificar)},
      {"Modificando un teléfono", "ficha-telefono-modificar", press(agenda::kFtGrupoBoton)},
      {"Lista de grupos de agenda", "grupos", press(agenda::kLstModificar)},
      {"Modificando un grupo de agenda", "ficha-grupo", press(agenda::kTfCancelar)},
      {"Lista de grupos de agenda", "", press(agenda::kLstSalir)},
      {"Modificando un teléfono", "", press(agenda::kFtCancelar)},
      {empresa, "", press(agenda::kFcTelBorrar)},
      {"Borrando un teléfono", "ficha-telefono-borrar", press(agenda::kFtCancelar)},
      {empresa, "", [](Window& w) { w.UserSetValue(agenda::kFcSheet, 2); }},
      {empresa, "ficha-empresa-comentarios", press(agenda::kFcCancelar)},
      {"Agenda", "", press(agenda::kEmpBorrar)},
      {"Borrando una empresa", "ficha-empresa-borrar", press(agenda::kFcCancelar)},
      {"Agenda", "", press(agenda::kEmpBuscar)},
      {"Busqueda por número telefónico", "buscar-telefono", press(agenda::kBtSalir)},
      // The dialer over the simulated modem, which takes its time to answer
      // the initialisation and never answers the dial.
      {"Agenda", "", press(agenda::kEmpDiscar)},
      {"Marcar un número telefónico", "discar", press(agenda::kDsConfigurar)},
      {"Configuración del módem", "configuracion-modem", press(agenda::kCmCancelar)},
      {"Marcar un número telefónico", "", press(agenda::kDsDiscar)},
      {"Inicializando el modem...", "inicializando-modem", [](Window&) {}},
      {"Estado de la comunicación", "estado-comunicacion",
       [&qt](Window& w) {
         qt.QueueAnswer(1);  // "No se pudo establecer la comunicación !!!"
         w.UserPress(agenda::kDnCancelar);
       }},
      {"Marcar un número telefónico", "", press(agenda::kDsCancelar)},
      {"Agenda", "", press(agenda::kMenuAcercaDe)},
      {"Acerca de la agenda del Fonvex Windows", "acerca-de", press(agenda::kAboutSalir)},
      {"Agenda", "", press(agenda::kEmpImprimir)},
      {"Elegir tipo de reporte", "elegir-reporte", press(agenda::kElgCancelar)},
      {"Agenda", "", press(agenda::kMenuImportarDos)},
      {"Importación de datos", "importar-dos", press(agenda::kImpImportar)},
      {"Importación de datos", "importar-dos-fin", press(agenda::kImpSalir),
       [](Window& w) { return w.Timer() == 0; }},
      {"Agenda", "", [](Window& w) { w.UserSetValue(agenda::kSheet, 2); }},
      {"Agenda", "main-contactos", press(agenda::kConAgregar)},
      {"Agregando un nuevo contacto", "ficha-contacto-agregar", abandon(agenda::kFcCancelar)},
      {"Agenda", "", press(agenda::kConModificar)},
      {"Modificando un contacto", "ficha-contacto-modificar", press(agenda::kFcEmpresaBoton)},
      {"Seleccionar una empresa", "empresas", press(agenda::kLstSalir)},
      {"Modificando un contacto", "", press(agenda::kFcCancelar)},
      {"Agenda", "", press(agenda::kConBorrar)},
      {"Borrando un contacto", "ficha-contacto-borrar", press(agenda::kFcCancelar)},
      // The text import: before, during (data being merged) and after a run.
      {"Agenda", "", press(agenda::kMenuImportarTexto)},
      {"Importación de datos", "importar", press(agenda::kImpImportar)},
      {"Importación de datos", "importar-avance", [](Window&) {},
       // (a run over few lines may be over before the tour looks)
       [](Window& w) {
         const std::string s = w.Text(agenda::kImpEstado);
         return s.rfind("Paso 9", 0) == 0 || s == "Proceso finalizado !";
       },
       [](Window&) {}},
      {"Importación de datos", "importar-fin", press(agenda::kImpSalir),
       [](Window& w) { return w.Text(agenda::kImpEstado) == "Proceso finalizado !"; },
       [](Window&) {}},
      {"Agenda", "", press(agenda::kSalir)},
  };
}

}  // namespace

QWidget* TopLevelOf(const Window& w) {
  const QString title = QString::fromStdString(nv::Utf8FromAnsi(w.Caption()));
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->windowTitle() == title) return top;
  }
  return nullptr;
}

Result Run(QtBackend& qt, const std::string& user, const std::string& password,
           const Visit& visit) {
  Result result;
  // A modem on COM2 (the dialer's default port) beside the installation.
  nv::tools::ModemSim modem;
  std::string error;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr && modem.Start(std::string(cwd) + "/modem", &error)) {
    nv::WriteProfileString("", "nvcom", "COM2", modem.link());
    nv::tools::ModemReply init, dial;
    nv::tools::ParseReply("OK@1500", &init);
    nv::tools::ParseReply("SILENCE", &dial);
    modem.SetInitReply(init);
    modem.SetDefaultReply(dial);
  }
  const std::vector<Step> steps = Steps(qt, user, password);
  size_t next = 0;
  int settled = 0, waited = 0;
  QTimer driver;
  driver.setInterval(60);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    std::vector<Window*> open = OpenWindows();
    if (open.empty()) return;
    Window* top = open.back();
    if (next >= steps.size() || !result.stalled.empty()) {
      // Done, or lost: close what is still open, newest first.
      if (!result.stalled.empty()) {
        qt.QueueAnswer(1);
        top->Deliver([](Window& w) {
          if (w.Has(agenda::kSalir) && w.Caption() == "Agenda") {
            w.UserPress(agenda::kSalir);
          } else {
            w.UserClose();
          }
        });
      }
      return;
    }
    const Step& step = steps[next];
    QWidget* widget = TopLevelOf(*top);
    if (top->Caption() != A(step.caption) || widget == nullptr) {
      settled = 0;
      if (++waited > 200) result.stalled = step.caption;
      return;
    }
    if (++settled < 3) return;  // let it lay out and paint
    if (step.ready && !step.ready(*top)) {
      settled = 0;
      if (++waited > 200) result.stalled = step.caption;
      top->Deliver(step.prepare);
      return;
    }
    waited = 0;
    settled = 0;
    ++next;
    if (!step.name.empty()) {
      visit(step.name, *top, widget);
      result.visited.push_back(step.name);
    }
    top->Deliver(step.act);
  });
  driver.start();
  result.status = agenda::ProgramStart();
  driver.stop();
  if (result.stalled.empty() && next < steps.size()) result.stalled = steps[next].caption;
  return result;
}

}  // namespace agenda_tour
