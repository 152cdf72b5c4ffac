// The result of a report run: pages of positioned text runs, lines and boxes,
// in mils from the top-left corner of the paper. Every renderer draws these;
// none of them looks at the layout again, so a document can be handed to
// another thread (for example the GUI thread for the preview) by moving it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/report/layout.h"

namespace nv::report {

struct TextRun {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;   // 0: the text is not aligned in a box
  int32_t height = 0;  // line height
  std::string text;    // Windows-1252, trailing blanks removed
  Align align = Align::kLeft;
  Font font;
};

struct LineShape {
  int32_t x1 = 0;
  int32_t y1 = 0;
  int32_t x2 = 0;
  int32_t y2 = 0;
  int32_t thickness = 10;
};

struct BoxShape {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t thickness = 10;
};

struct CheckShape {
  int32_t x = 0;
  int32_t y = 0;
  int32_t size = 0;
  bool checked = false;
};

struct Page {
  int number = 0;  // 1-based
  std::vector<TextRun> texts;
  std::vector<LineShape> lines;
  std::vector<BoxShape> boxes;
  std::vector<CheckShape> checks;
};

struct Document {
  PageSize paper;
  std::string caption;  // preview window and print job title (Windows-1252)
  int copies = 1;
  bool skip_preview = false;  // true: straight to the printer
  std::vector<Page> pages;
};

}  // namespace nv::report
