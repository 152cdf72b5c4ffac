// Plain-text rendering (rules in text_renderer.h).
#include "host/report/text_renderer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/report/text_encoding.h"

namespace nv::report {
namespace {

class Grid {
 public:
  Grid(int rows, int cols) : rows_(rows), cols_(cols), cells_(rows, std::string(cols, ' ')) {}

  void Put(int row, int col, char c) {
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return;
    cells_[row][col] = c;
  }
  // A rule character meeting another rule becomes a corner.
  void PutRule(int row, int col, char c) {
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return;
    char& cell = cells_[row][col];
    if ((cell == '-' && c == '|') || (cell == '|' && c == '-') || cell == '+') {
      cell = '+';
    } else {
      cell = c;
    }
  }
  void PutText(int row, int col, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) Put(row, col + static_cast<int>(i), text[i]);
  }

  std::string Take(bool utf8) {
    int last = rows_ - 1;
    while (last >= 0 && cells_[last].find_first_not_of(' ') == std::string::npos) --last;
    std::string out;
    for (int r = 0; r <= last; ++r) {
      std::string& row = cells_[r];
      row.erase(row.find_last_not_of(' ') + 1);
      out += utf8 ? Utf8FromDocumentText(row) : row;
      out += '\n';
    }
    return out;
  }

 private:
  int rows_;
  int cols_;
  std::vector<std::string> cells_;
};

// Nearest cell to a position in mils at `per_inch` cells to the inch.
int Cell(int64_t mils, int per_inch) {
  int64_t scaled = mils * per_inch;
  return static_cast<int>(scaled >= 0 ? (scaled + 500) / 1000 : -((-scaled + 500) / 1000));
}

void DrawHorizontal(Grid* grid, int row, int c1, int c2) {
  for (int c = std::min(c1, c2); c <= std::max(c1, c2); ++c) grid->PutRule(row, c, '-');
}

void DrawVertical(Grid* grid, int col, int r1, int r2) {
  for (int r = std::min(r1, r2); r <= std::max(r1, r2); ++r) grid->PutRule(r, col, '|');
}

}  // namespace

std::string RenderText(const Document& doc, const TextOptions& options) {
  const int cpi = std::clamp(options.chars_per_inch, 1, 100);
  const int lpi = std::clamp(options.lines_per_inch, 1, 100);
  const int rows = std::max(1, Cell(doc.paper.height, lpi));
  const int cols = std::max(1, Cell(doc.paper.width, cpi));

  std::string out;
  for (size_t i = 0; i < doc.pages.size(); ++i) {
    const Page& page = doc.pages[i];
    if (options.marked_pages) {
      out += "==== page " + std::to_string(page.number) + " ====\n";
    } else if (i > 0) {
      out += "\f\n";
    }
    Grid grid(rows, cols);
    for (const BoxShape& box : page.boxes) {
      int c1 = Cell(box.x, cpi), c2 = Cell(int64_t{box.x} + box.width, cpi);
      int r1 = Cell(box.y, lpi), r2 = Cell(int64_t{box.y} + box.height, lpi);
      DrawHorizontal(&grid, r1, c1, c2);
      DrawHorizontal(&grid, r2, c1, c2);
      DrawVertical(&grid, c1, r1, r2);
      DrawVertical(&grid, c2, r1, r2);
    }
    for (const LineShape& line : page.lines) {
      int c1 = Cell(line.x1, cpi), c2 = Cell(line.x2, cpi);
      int r1 = Cell(line.y1, lpi), r2 = Cell(line.y2, lpi);
      if (r1 == r2) {
        DrawHorizontal(&grid, r1, c1, c2);
      } else if (c1 == c2) {
        DrawVertical(&grid, c1, r1, r2);
      }
      // Slanted lines have no text form.
    }
    for (const TextRun& run : page.texts) {
      std::string text = run.text;
      // A control character would break the row structure.
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
      }
      int row = Cell(run.y, lpi);
      int left = Cell(run.x, cpi);
      int box_cols = run.width > 0 ? Cell(int64_t{run.x} + run.width, cpi) - left : 0;
      if (box_cols > 0 && static_cast<int>(text.size()) > box_cols) {
        if (run.align == Align::kRight) {
          size_t first = text.find_first_not_of(' ');
          text.erase(0, first == std::string::npos ? text.size() : first);
        }
        if (static_cast<int>(text.size()) > box_cols) text.resize(box_cols);
      }
      int col = left;
      int len = static_cast<int>(text.size());
      if (box_cols > 0 && run.align == Align::kRight) {
        col = left + box_cols - len;
      } else if (box_cols > 0 && run.align == Align::kCenter) {
        col = left + (box_cols - len) / 2;
      }
      grid.PutText(row, col, text);
    }
    for (const CheckShape& check : page.checks) {
      grid.PutText(Cell(check.y, lpi), Cell(check.x, cpi), check.checked ? "[X]" : "[ ]");
    }
    out += grid.Take(options.utf8);
  }
  return out;
}

}  // namespace nv::report
