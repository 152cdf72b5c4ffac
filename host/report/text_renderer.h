// Plain-text rendering of a report document, for tests and the command line.
//
// Each page becomes a grid of fixed-pitch cells (by default 10 characters and
// 6 lines to the inch). A text run lands on the row nearest its top and on
// the column nearest its left edge; right-aligned runs end at the column
// nearest their box's right edge, centred ones are centred in their box.
// Texts are cut to their box's width (right-aligned runs lose their leading
// blanks first) and to the page. Boxes and lines are drawn with '+', '-' and
// '|' before the texts, so a text written over a rule wins; check boxes are
// written "[X]" or "[ ]" at their cell, after the texts. Trailing blanks of
// every row and the blank rows at the end of every page are dropped; every row
// ends with '\n'. Pages are separated by a form feed line ("\f\n") or by a
// marked line "==== page N ====". The output is fully determined by the
// document and the options.
#pragma once

#include <string>

#include "host/report/document.h"
#include "host/runtime/export.h"

namespace nv::report {

struct TextOptions {
  int chars_per_inch = 10;
  int lines_per_inch = 6;
  bool utf8 = true;           // false: keep the Windows-1252 bytes
  bool marked_pages = false;  // false: form feed between pages
};

NV_API std::string RenderText(const Document& doc, const TextOptions& options = {});

}  // namespace nv::report
