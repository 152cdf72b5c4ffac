// The calendar under the headless backend: random walks of the user's
// moves against a model of the moves, the grid drawn for every month the
// walk passes, confirmation, closing, and the holiday marks.
#include <random>

#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/picture.h"
#include "host/ui/headless/headless_backend.h"
#include "reports/calendario.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

using namespace fxr4::calendario;
using nv::ui::ControlId;
using nv::ui::Window;

// The same day `months` later, clamped to the month's last day.
int32_t Shift(int32_t date, int months) {
  int y, m, d;
  nv::YmdFromDate(date, &y, &m, &d);
  const int total = y * 12 + m - 1 + months;
  y = total / 12;
  m = total % 12 + 1;
  return nv::DateFromYmd(y, m, std::min(d, nv::DaysInMonth(y, m)));
}

ControlId Marked(const Window& w) {
  ControlId marked = 0;
  for (const auto& c : w.controls()) {
    if (c.style & nv::ui::kStyleMarked) {
      EXPECT_EQ(marked, 0) << "two markers";
      marked = c.def.id;
    }
  }
  return marked;
}

// The grid shows the month of `current` from the Sunday on or before its
// first day; the marker and the focus are on `current`.
void CheckGrid(const Window& w, int32_t current) {
  static const char* kMonths[] = {"Enero",     "Febrero", "Marzo",     "Abril",
                                  "Mayo",      "Junio",   "Julio",     "Agosto",
                                  "Setiembre", "Octubre", "Noviembre", "Diciembre"};
  int y, m, d;
  nv::YmdFromDate(current, &y, &m, &d);
  EXPECT_EQ(w.Text(MES), std::string(kMonths[m - 1]) + " de " + std::to_string(y));
  const int32_t first = nv::DateFromYmd(y, m, 1);
  int32_t top = first;
  while (nv::DayOfWeek(top) != 0) --top;
  for (int k = 0; k < 42; ++k) {
    int dy, dm, dd;
    nv::YmdFromDate(top + k, &dy, &dm, &dd);
    const auto& c = w.control(DIA + k);
    ASSERT_EQ(w.Text(DIA + k), (dd < 10 ? "0" : "") + std::to_string(dd));
    EXPECT_EQ(w.Enabled(DIA + k), dm == m);
    if (k % 7 == 0) {
      EXPECT_EQ(c.colour, 0xFF0000u);
      EXPECT_TRUE(c.style & nv::ui::kStyleBold);
    }
  }
  EXPECT_EQ(Marked(w), DIA + (current - top));
  EXPECT_EQ(w.Focus(), DIA + (current - top));
}

class CalendarioTest : public ::testing::Test {
 protected:
  void SetUp() override { nv::SetEnv(ui_.clock_env()); }
  void TearDown() override { nv::SetEnv(nullptr); }
  nv::ui::HeadlessBackend ui_;
};

// Random walks: every move of the Part's table, checked against the model
// after each step, then confirmed by pressing the current day.
TEST_F(CalendarioTest, RandomMovesFollowTheModel) {
  std::mt19937 rng(14);
  const int32_t today = ui_.clock_env()->Today();
  for (int walk = 0; walk < 25; ++walk) {
    const int32_t start = walk == 0 ? 0
                                    : nv::DateFromYmd(1990 + int(rng() % 60), 1 + int(rng() % 12),
                                                      1 + int(rng() % 31) % 28);
    int32_t model = start != 0 ? start : today;
    for (int step = 0; step < 12; ++step) {
      auto act = [&, step](Window& w) {
        CheckGrid(w, model);
        if (step == 11) {
          nv::ui::Press(w, Marked(w));  // confirms
          return;
        }
        const long days = long(rng() % 400);
        switch (rng() % 11) {
          case 0:
            nv::ui::Press(w, MESMEN);
            model = Shift(model, -1);
            break;
          case 1:
            nv::ui::Press(w, MESMAS);
            model = Shift(model, 1);
            break;
          case 2:
            nv::ui::Type(w, BIG_DIAS, std::to_string(days));
            nv::ui::Press(w, MENOS);
            model -= int32_t(days);
            break;
          case 3:
            nv::ui::Type(w, BIG_DIAS, std::to_string(days));
            nv::ui::Press(w, MAS);
            model += int32_t(days);
            break;
          case 4:
            nv::ui::Press(w, DIAHOY);
            model = today;
            break;
          case 5:
            w.UserKey(nv::ui::kKeyLeft);
            model -= 1;
            break;
          case 6:
            w.UserKey(nv::ui::kKeyRight);
            model += 1;
            break;
          case 7:
            w.UserKey(nv::ui::kKeyUp);
            model -= 7;
            break;
          case 8:
            w.UserKey(nv::ui::kKeyDown);
            model += 7;
            break;
          case 9: {
            const bool home = rng() % 2 != 0;
            w.UserKey(home ? nv::ui::kKeyHome : nv::ui::kKeyEnd);
            model = Shift(model, home ? -12 : 12);
            break;
          }
          default: {
            // Another day of the month shown.
            int y, m, d;
            nv::YmdFromDate(model, &y, &m, &d);
            const int day = 1 + int(rng() % nv::DaysInMonth(y, m));
            int32_t top = nv::DateFromYmd(y, m, 1);
            while (nv::DayOfWeek(top) != 0) --top;
            const int32_t target = nv::DateFromYmd(y, m, day);
            if (target == model) break;  // pressing it would confirm
            nv::ui::Press(w, DIA + (target - top));
            model = target;
          }
        }
      };
      if (step == 0) {
        ui_.OnOpen("Calendario", act);
      } else {
        ui_.OnIdle("Calendario", act);
      }
    }
    EXPECT_EQ(fxr4::Calendario(start), model) << "walk " << walk;
  }
  EXPECT_TRUE(ui_.notes().empty());
}

// The edge days of the months and years, confirmation only by the current
// day, and closing without it.
TEST_F(CalendarioTest, EdgesAndClosing) {
  struct Case {
    int32_t from;
    int key;  // a key, or a button with the sign bit set
    int32_t want;
  } cases[] = {
      {Day(2026, 3, 31), -MESMEN, Day(2026, 2, 28)},
      {Day(2028, 3, 31), -MESMEN, Day(2028, 2, 29)},
      {Day(2026, 3, 31), -MESMAS, Day(2026, 4, 30)},
      {Day(2028, 2, 29), nv::ui::kKeyEnd, Day(2029, 2, 28)},
      {Day(2028, 2, 29), nv::ui::kKeyHome, Day(2027, 2, 28)},
      {Day(2026, 1, 1), nv::ui::kKeyLeft, Day(2025, 12, 31)},
  };
  for (const Case& c : cases) {
    ui_.OnOpen("Calendario", [&](Window& w) {
      if (c.key < 0) {
        nv::ui::Press(w, -c.key);
      } else {
        w.UserKey(c.key);
      }
    });
    ui_.OnIdle("Calendario", [&](Window& w) {
      CheckGrid(w, c.want);
      nv::ui::Press(w, Marked(w));
    });
    EXPECT_EQ(fxr4::Calendario(c.from), c.want);
  }
  // Date 0 opens on today's month; closing answers 0; closing after moves
  // answers the caller's date.
  ui_.OnOpen("Calendario", [&](Window& w) {
    CheckGrid(w, ui_.clock_env()->Today());
    w.UserClose();
  });
  EXPECT_EQ(fxr4::Calendario(0), 0);
  ui_.OnOpen("Calendario", [](Window& w) { w.UserKey(nv::ui::kKeyDown); });
  ui_.OnIdle("Calendario", [](Window& w) { w.UserKey(nv::ui::kKeyEsc); });
  EXPECT_EQ(fxr4::Calendario(Day(2026, 7, 4)), Day(2026, 7, 4));
}

TEST_F(CalendarioTest, HolidaysAreMarkedWithTheirNames) {
  const auto feriados = fxr4::LeerFeriados();
  ASSERT_EQ(feriados.size(), 11u);
  EXPECT_EQ(feriados[2].dia, 25);
  EXPECT_EQ(feriados[2].mes, 5);
  EXPECT_EQ(feriados.back().dia, 0);  // the end marker matches no date
  EXPECT_EQ(feriados.back().mes, 0);
  EXPECT_EQ(feriados[0].nombre, nv::AnsiFromUtf8("Año nuevo"));
  ui_.OnOpen("Calendario", [](Window& w) {
    ControlId may25 = 0;
    for (int k = 0; k < 42; ++k) {
      if (w.Enabled(DIA + k) && w.Text(DIA + k) == "25") may25 = DIA + k;
    }
    ASSERT_NE(may25, 0);
    const auto& c = w.control(may25);
    EXPECT_EQ(c.colour, 0xFF0000u);
    EXPECT_EQ(c.style & ~nv::ui::kStyleMarked, nv::ui::kStyleBold | nv::ui::kStyleUnderline);
    EXPECT_EQ(w.Tip(may25), "Primer gobierno patrio");
    EXPECT_EQ(w.Text(RECORDAR), "Primer gobierno patrio");
    // A weekday that is no holiday: normal, no tip.
    const auto& plain = w.control(may25 + 1);
    EXPECT_EQ(plain.style, nv::ui::kStyleNormal);
    EXPECT_EQ(w.Tip(may25 + 1), "");
    w.UserClose();
  });
  fxr4::Calendario(Day(2026, 5, 25));  // a Monday
}

}  // namespace
}  // namespace fxr4test
