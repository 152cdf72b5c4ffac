#include "reports/calendario.h"

#include <cstdlib>
#include <string_view>

#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/env.h"
#include "host/runtime/picture.h"
#include "host/ui/window.h"

namespace fxr4 {

namespace {

using namespace nv::ui;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

constexpr const char* kDias[7] = {"Domingo", "Lunes",   "Martes", "Miercoles",
                                  "Jueves",  "Viernes", "Sábado"};
constexpr const char* kMeses[12] = {"Enero",     "Febrero", "Marzo",     "Abril",
                                    "Mayo",      "Junio",   "Julio",     "Agosto",
                                    "Setiembre", "Octubre", "Noviembre", "Diciembre"};
constexpr const char* kFeriados[] = {
    "01/01 Año nuevo",
    "01/05 Día del trabajador",
    "25/05 Primer gobierno patrio",
    "10/06 Recuperacion de las Islas Malvinas",
    "20/06 Dia de la bandera",
    "09/07 Declaracion de la Independencia",
    "17/08 Muerte del Gral. San Martin",
    "12/10 Descubrimiento de América",
    "08/12 Dia de la Virgen Maria",
    "25/12 Navidad",
    "##END OF FILE##",
};

constexpr uint32_t kRojo = 0xFF0000;
constexpr int kCeldas = 42;

using namespace calendario;

// Days outside the runtime's calendar are not offered.
const int32_t kPrimerDia = nv::DateFromYmd(1801, 1, 1);
const int32_t kUltimoDia = nv::DateFromYmd(9999, 12, 31);

// The number in characters [from, from + n) of a text, 0 when they are
// not digits.
int Numero(std::string_view text, size_t from, size_t n) {
  if (text.size() < from + n) return 0;
  int v = 0;
  for (size_t i = from; i < from + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

// The same day in another month (and year), clamped to that month's last
// day.
int32_t MismoDia(int32_t fecha, int meses) {
  int y = 0, m = 0, d = 0;
  nv::YmdFromDate(fecha, &y, &m, &d);
  int total = y * 12 + (m - 1) + meses;
  y = total / 12;
  m = total % 12 + 1;
  if (y < 1801 || y > 9999) return fecha;
  const int ultimo = nv::DaysInMonth(y, m);
  return nv::DateFromYmd(y, m, d > ultimo ? ultimo : d);
}

WindowDef VentanaCalendario() {
  std::vector<ControlDef> titulo = {Button(MESMEN, "<").Tip("Retrocede al mes anterior"),
                                    Prompt("", MES),
                                    Button(MESMAS, ">").Tip("Avanza al mes siguiente")};
  std::vector<ControlDef> dias;
  for (const char* nombre : kDias) dias.push_back(Prompt(A(nombre).substr(0, 3)));
  for (int k = 0; k < kCeldas; ++k) dias.push_back(Button(DIA + k, "00"));
  std::vector<ControlDef> pasos = {Button(MENOS, "-").Tip(A("Retrocede los días indicados")),
                                   Prompt(A("Días")),
                                   Entry(BIG_DIAS, "@n3").Tip(A("Días a retroceder o avanzar")),
                                   Button(MAS, "+").Tip(A("Avanza los días indicados")),
                                   Button(DIAHOY, "Hoy").Tip(A("Posicionarse en el día de hoy"))};
  return WindowDef("Calendario",
                   {Grid(3, titulo), Grid(7, dias), Grid(5, pasos), Prompt("", RECORDAR)});
}

class Calendar {
 public:
  Calendar(nv::ui::Window& w, int32_t fecha) : w_(w), resultado_(fecha) {}

  int32_t Run() {
    // Opening: the names and the holiday list, the day, the month.
    feriados_ = LeerFeriados();
    actual_ = resultado_ != 0 ? resultado_ : nv::GetEnv()->Today();
    w_.Alert(kKeyLeft);
    w_.Alert(kKeyRight);
    w_.Alert(kKeyUp);
    w_.Alert(kKeyDown);
    w_.Alert(kKeyHome);
    w_.Alert(kKeyEnd);
    w_.Open();
    while (w_.Accept()) {
      switch (w_.Event()) {
        case Event::kOpenWindow:
          w_.SetContents(BIG_DIAS, nv::Value(0));
          DibujarMes();
          break;
        case Event::kAccepted:
          Accepted(w_.Field());
          break;
        case Event::kAlertKey:
          Tecla(w_.Keycode());
          break;
        default:
          break;
      }
    }
    return resultado_;
  }

 private:
  void Accepted(ControlId id) {
    switch (id) {
      case MESMEN:
        Mover(MismoDia(actual_, -1));
        return;
      case MESMAS:
        Mover(MismoDia(actual_, 1));
        return;
      case MENOS:
        Mover(actual_ - Dias());
        return;
      case MAS:
        Mover(actual_ + Dias());
        return;
      case DIAHOY:
        Mover(nv::GetEnv()->Today());
        return;
      default:
        break;
    }
    if (id >= DIA && id < DIA + kCeldas) {
      const int32_t dia = primero_ + (id - DIA);
      if (dia == actual_) {
        // Pressing the current day confirms it.
        resultado_ = actual_;
        w_.Close(kCompleted);
      } else {
        Mover(dia);
      }
    }
  }

  void Tecla(int key) {
    switch (key) {
      case kKeyLeft:
        Mover(actual_ - 1);
        break;
      case kKeyRight:
        Mover(actual_ + 1);
        break;
      case kKeyUp:
        Mover(actual_ - 7);
        break;
      case kKeyDown:
        Mover(actual_ + 7);
        break;
      case kKeyHome:
        Mover(MismoDia(actual_, -12));
        break;
      case kKeyEnd:
        Mover(MismoDia(actual_, 12));
        break;
      default:
        break;
    }
  }

  long Dias() const { return long(w_.Contents(BIG_DIAS).AsInteger()); }

  // Every change redraws the month; a day outside the runtime's calendar
  // leaves the current one.
  void Mover(int64_t fecha) {
    if (fecha >= kPrimerDia && fecha <= kUltimoDia) actual_ = int32_t(fecha);
    DibujarMes();
  }

  void DibujarMes() {
    int y = 0, m = 0, d = 0;
    nv::YmdFromDate(actual_, &y, &m, &d);
    // 1. The title.
    w_.SetText(MES, A(kMeses[m - 1]) + " de " + nv::FormatNumber("@n04", y));
    // 2. The grid from the Sunday on or before the first of the month.
    const int32_t primero_del_mes = nv::DateFromYmd(y, m, 1);
    primero_ = primero_del_mes - nv::DayOfWeek(primero_del_mes);
    for (int k = 0; k < kCeldas; ++k) {
      const ControlId boton = DIA + k;
      const int32_t fecha = primero_ + k;
      int fy = 0, fm = 0, fd = 0;
      nv::YmdFromDate(fecha, &fy, &fm, &fd);
      w_.SetText(boton, nv::FormatNumber("@n02", fd));
      // 3. Normal weight and no tip; Sundays bold red; holidays with their
      // name as tip, bold underlined red; other months' days disabled.
      w_.SetFont(boton, 0xFFFFFFFFu, kStyleNormal);
      w_.SetTip(boton, "");
      if (nv::DayOfWeek(fecha) == 0) w_.SetFont(boton, kRojo, kStyleBold);
      for (const Feriado& f : feriados_) {
        if (f.dia == fd && f.mes == fm) {
          w_.SetTip(boton, f.nombre);
          w_.SetFont(boton, kRojo, kStyleBold | kStyleUnderline);
        }
      }
      if (fm == m) {
        w_.Enable(boton);
      } else {
        w_.Disable(boton);
      }
    }
    // 4. The marker and the focus on the current day; RECORDAR its tip.
    const ControlId actual = DIA + (actual_ - primero_);
    const ControlState& c = w_.control(actual);
    w_.SetFont(actual, c.colour, c.style | kStyleMarked);
    w_.Select(actual);
    w_.SetText(RECORDAR, w_.Tip(actual));
  }

  nv::ui::Window& w_;
  int32_t resultado_;
  int32_t actual_ = 0;
  int32_t primero_ = 0;
  std::vector<Feriado> feriados_;
};

}  // namespace

std::vector<Feriado> LeerFeriados() {
  std::vector<Feriado> cola;
  for (const char* entrada : kFeriados) {
    const std::string texto = A(entrada);
    Feriado f;
    f.dia = Numero(texto, 0, 2);
    f.mes = Numero(texto, 3, 2);
    if (texto.size() > 6) f.nombre = texto.substr(6, 40);
    cola.push_back(std::move(f));
  }
  return cola;
}

int32_t Calendario(int32_t fecha) {
  nv::ui::Window w(VentanaCalendario());
  return Calendar(w, fecha).Run();
}

}  // namespace fxr4
