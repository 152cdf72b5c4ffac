// The dictionary's services for the reports library, and the longest-prefix
// lookup of a telephone number in the directory that they share with the
// re-linking of calls.
//
// Call-type codes (`TIPOLLA` of the call records) by call-type name:
//   "Todas" -> "  " (blank: every type)   "Locales" -> "LO"
//   "Nacionales" -> "NA"   "Internacionales" -> "IN"   "Celulares" -> "CE"
//   "Celulares Nacionales" -> "CN"   "Especiales" -> "ES"
// Names are compared without regard to case and trailing blanks; a blank
// name also means every type. Any other name answers "??", a code no call
// carries, so that a mistyped name selects nothing rather than everything.
//
// Thread-safety: TIPO_LLAMADAS, RANGO_STRING and TIEMPO are pure.
// DESCRIPCION_AGENDA keeps one DirectoryLookup per thread (its own files).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/dictionary/dictionary.h"
#include "host/runtime/export.h"
#include "host/runtime/file.h"

namespace nv::dict {

// Two-character call-type code of a call-type name.
NV_API std::string TIPO_LLAMADAS(std::string_view name);

// True when first <= value <= last, comparing the texts byte by byte after
// clipping trailing blanks. The bounds are taken as they are, as a view's
// key range and the filter texts take them: a blank `first` is below every
// value, a blank `last` is above only blank values, so a range with a blank
// end after a non-blank start is inverted and holds nothing.
NV_API bool RANGO_STRING(std::string_view value, std::string_view first, std::string_view last);

// Text printed after "Total Duración: ": the total duration (hundredths of a
// second) as hours:minutes:seconds, "H:MM:SS" with as many hour digits as
// needed ("0:00:00" for 0 or a negative total). The number of calls does not
// change the text. At most 12 characters below a million hours.
NV_API std::string TIEMPO(int64_t total_duration, int64_t calls);

// Directory description of a number: the name of the owner of the longest
// directory number that is a prefix of it, then " - " and that number's
// comment when it has one (only the comment when the owner is gone); blank
// when no directory number matches or there is no dictionary.
NV_API std::string DESCRIPCION_AGENDA(std::string_view number);

// Longest-prefix lookup over FXRE09 (key RE09:RE09_C3: first character, then
// length from longest to shortest) with owner names from FXMA11, through
// files of its own opened read-only.
class NV_API DirectoryLookup {
 public:
  struct Match {
    int32_t code = 0;     // RE09:CODIGO, 0 when nothing matched
    int32_t group = 0;    // RE09:GRUAGE
    std::string number;   // the directory number that matched (clipped)
    std::string comment;  // its RE09:COMENT (clipped)
  };

  explicit DirectoryLookup(const Dictionary& dict);
  ~DirectoryLookup();
  DirectoryLookup(const DirectoryLookup&) = delete;
  DirectoryLookup& operator=(const DirectoryLookup&) = delete;

  // False (and *m all zero) when no directory number is a prefix of the
  // clipped `number`, when it is blank, or when the files cannot be read.
  bool Find(std::string_view number, Match* m);
  std::string Description(std::string_view number);
  // The error of opening the files (0 when they are open).
  int open_error() const { return open_error_; }

 private:
  std::unique_ptr<nv::File> re09_, ma11_;
  int open_error_ = 0;
};

}  // namespace nv::dict
