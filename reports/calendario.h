// The calendar date picker of the choosers: a modal window "Calendario"
// that shows one month as 6 rows of 7 day buttons (Sunday first), marks
// Sundays and national holidays, and answers the chosen date.
//
// Thread-safety: runs on the caller's thread like any window procedure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fxr4 {

// The controls; the day buttons are DIA + 0 .. DIA + 41, row by row
// (Sunday first). BIG_DIAS is BIG:DIAS.
namespace calendario {
enum : int { MES = 1, MESMEN, MESMAS, MENOS, BIG_DIAS, MAS, DIAHOY, RECORDAR, DIA };
}  // namespace calendario

// A holiday of the fixed table: day and month (0 for the end marker) and
// its name (Windows-1252).
struct Feriado {
  int dia = 0;
  int mes = 0;
  std::string nombre;
};

// The holiday table read into its queue, the end marker included.
std::vector<Feriado> LeerFeriados();

// Opens on `fecha` (today when 0) and answers the day the user confirms
// by pressing the current day's button; closed any other way it answers
// `fecha` unchanged.
int32_t Calendario(int32_t fecha);

}  // namespace fxr4
