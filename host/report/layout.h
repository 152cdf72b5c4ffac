// Report layouts: the page, the page header and footer, and the named bands a
// report procedure prints.
//
// Units: every position and size is in thousandths of an inch ("mils"),
// measured from the top-left corner. Band items are placed relative to the
// top-left corner of their band; the engine places bands inside the page's
// margins. Font sizes are in points.
//
// Texts are Windows-1252 bytes, as everywhere inside the runtime; renderers
// convert them to Unicode at their edge.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/report/status.h"
#include "host/runtime/export.h"

namespace nv::report {

struct PageSize {
  int32_t width = 0;   // mils
  int32_t height = 0;  // mils
};

inline constexpr PageSize kA4{8268, 11693};      // 210 x 297 mm
inline constexpr PageSize kLetter{8500, 11000};  // 8.5 x 11 in

struct Margins {
  int32_t left = 500;
  int32_t top = 500;
  int32_t right = 500;
  int32_t bottom = 500;
};

// The paper the locale asks for: Letter for the locales that use it, A4 for
// every other (and for "C"/"POSIX"). `locale_name` is a locale such as
// "es_AR.UTF-8" or "en_US"; the installed locale data is asked first, and
// when it is not installed the territory part of the name decides.
NV_API PageSize PaperForLocale(std::string_view locale_name);

// The paper of the process's environment: LC_ALL, else LC_PAPER, else LANG.
NV_API PageSize DefaultPaper();

enum class Align { kLeft, kRight, kCenter };

struct Font {
  int size = 10;  // points
  bool bold = false;
};

enum class ItemKind {
  kLabel,       // fixed text
  kValue,       // a named value, formatted by its picture at print time
  kPageNumber,  // text with the page number in place of its "<<<#" field
  kLine,        // a line from (x, y) to (x + width, y + height)
  kBox,         // a rectangle (x, y, width, height)
  kCheck,       // a check box (x, y, width, height) marked when a named value is set
};

// One thing drawn in a band.
//
// Page-number items: `text` is a template such as "Página <<<#". Its first
// run of '<' and '#' characters is the number field: the page number is
// right-aligned in as many places as the run has characters (so "<<<#" is a
// number right-aligned in 4 places) and is never cut, a wider number simply
// takes more places. A template without such a run gets the number appended.
struct NV_API Item {
  ItemKind kind = ItemKind::kLabel;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;    // for texts: the box the text is aligned in (0: as wide as the text)
  int32_t height = 0;   // for texts: the line height (0: taken from the font size)
  std::string text;     // label text, page-number template (Windows-1252)
  std::string name;     // value items: the name the value is bound by
  std::string picture;  // value items: display picture ("@s30", "@n10.2", "@d6" ...)
  Align align = Align::kLeft;
  Font font;
  int32_t thickness = 10;  // lines and boxes, mils

  static Item Label(int32_t x, int32_t y, int32_t width, std::string text,
                    Align align = Align::kLeft, Font font = {});
  static Item Field(int32_t x, int32_t y, int32_t width, std::string name, std::string picture,
                    Align align = Align::kLeft, Font font = {});
  static Item PageNumber(int32_t x, int32_t y, int32_t width, std::string text_template,
                         Align align = Align::kLeft, Font font = {});
  static Item Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness = 10);
  static Item Box(int32_t x, int32_t y, int32_t width, int32_t height, int32_t thickness = 10);
  // Marked when the value `name` is set: a non-zero number, day or time, or
  // a text that is neither blank nor "0".
  static Item Check(int32_t x, int32_t y, int32_t size, std::string name);
};

struct Band {
  std::string name;
  int32_t height = 0;  // mils
  std::vector<Item> items;
};

// A report's layout. The page header is printed at the top of every page, the
// page footer at the bottom of every page; detail bands and the totals band
// are printed by name, one below the other, in the space between.
struct NV_API ReportLayout {
  PageSize page = DefaultPaper();  // read from the environment when constructed
  Margins margins;
  Band page_header;
  Band page_footer;
  std::vector<Band> details;
  Band totals;  // printed by name like a detail band; may be left empty (no name)

  // The band of that name among the details and the totals (names compare
  // without regard to ASCII case), or nullptr.
  const Band* FindBand(std::string_view name) const;

  // Checks that the layout can be paginated: positive page, margins that
  // leave room, header and footer that leave room for the body, every
  // printable band named once and no taller than the body, items inside
  // their band with non-negative sizes, value items named.
  Status Validate() const;

  // Height available between the page header and the page footer.
  int32_t BodyHeight() const;
};

}  // namespace nv::report
