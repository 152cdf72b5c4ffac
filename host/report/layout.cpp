// Layout helpers, validation and the paper of a locale.
#include "host/report/layout.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

namespace nv::report {
namespace {

constexpr int32_t kMaxPageSide = 100000;  // 100 inches: far beyond any paper

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

Status Bad(std::string message) {
  return {Code::kBadLayout, std::move(message)};
}

Status ValidateBand(const Band& band, const char* what) {
  std::string label = std::string(what) + (band.name.empty() ? "" : " \"" + band.name + "\"");
  if (band.height < 0) return Bad(label + ": negative height");
  for (const Item& item : band.items) {
    if (item.width < 0 || item.height < 0 || item.thickness < 0) {
      return Bad(label + ": item with a negative size");
    }
    if (item.x < 0 || item.y < 0) return Bad(label + ": item before the band's corner");
    if (item.kind == ItemKind::kLine) {
      // A line runs from (x, y) to (x + width, y + height); both ends inside.
      if (item.y + item.height > band.height) return Bad(label + ": line below the band");
      continue;
    }
    if (item.y > band.height) return Bad(label + ": item below the band");
    if ((item.kind == ItemKind::kBox || item.kind == ItemKind::kCheck) &&
        item.y + item.height > band.height) {
      return Bad(label + ": box below the band");
    }
    if ((item.kind == ItemKind::kValue || item.kind == ItemKind::kCheck) && item.name.empty()) {
      return Bad(label + ": value item without a name");
    }
  }
  return Status::Ok();
}

}  // namespace

Item Item::Label(int32_t x, int32_t y, int32_t width, std::string text, Align align, Font font) {
  Item item;
  item.kind = ItemKind::kLabel;
  item.x = x;
  item.y = y;
  item.width = width;
  item.text = std::move(text);
  item.align = align;
  item.font = font;
  return item;
}

Item Item::Field(int32_t x, int32_t y, int32_t width, std::string name, std::string picture,
                 Align align, Font font) {
  Item item;
  item.kind = ItemKind::kValue;
  item.x = x;
  item.y = y;
  item.width = width;
  item.name = std::move(name);
  item.picture = std::move(picture);
  item.align = align;
  item.font = font;
  return item;
}

Item Item::PageNumber(int32_t x, int32_t y, int32_t width, std::string text_template, Align align,
                      Font font) {
  Item item = Label(x, y, width, std::move(text_template), align, font);
  item.kind = ItemKind::kPageNumber;
  return item;
}

Item Item::Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness) {
  // Stored as a corner and an extent so that validation sees one shape; a
  // line drawn right-to-left or bottom-to-top is normalised.
  Item item;
  item.kind = ItemKind::kLine;
  item.x = std::min(x1, x2);
  item.y = std::min(y1, y2);
  item.width = std::max(x1, x2) - item.x;
  item.height = std::max(y1, y2) - item.y;
  item.thickness = thickness;
  return item;
}

Item Item::Box(int32_t x, int32_t y, int32_t width, int32_t height, int32_t thickness) {
  Item item;
  item.kind = ItemKind::kBox;
  item.x = x;
  item.y = y;
  item.width = width;
  item.height = height;
  item.thickness = thickness;
  return item;
}

Item Item::Check(int32_t x, int32_t y, int32_t size, std::string name) {
  Item item = Box(x, y, size, size);
  item.kind = ItemKind::kCheck;
  item.name = std::move(name);
  return item;
}

const Band* ReportLayout::FindBand(std::string_view name) const {
  if (name.empty()) return nullptr;
  // Letters compare upper-cased (called for every band printed: no copies).
  auto same = [&](std::string_view band) {
    if (band.size() != name.size()) return false;
    for (size_t i = 0; i < band.size(); ++i) {
      char a = band[i], b = name[i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
      if (a != b) return false;
    }
    return true;
  };
  for (const Band& band : details) {
    if (same(band.name)) return &band;
  }
  if (same(totals.name)) return &totals;
  return nullptr;
}

int32_t ReportLayout::BodyHeight() const {
  return page.height - margins.top - margins.bottom - page_header.height - page_footer.height;
}

Status ReportLayout::Validate() const {
  if (page.width <= 0 || page.height <= 0 || page.width > kMaxPageSide ||
      page.height > kMaxPageSide) {
    return Bad("page size out of range");
  }
  if (margins.left < 0 || margins.top < 0 || margins.right < 0 || margins.bottom < 0 ||
      margins.left + margins.right >= page.width || margins.top + margins.bottom >= page.height) {
    return Bad("margins leave no room on the page");
  }
  if (Status s = ValidateBand(page_header, "page header"); !s.ok()) return s;
  if (Status s = ValidateBand(page_footer, "page footer"); !s.ok()) return s;
  // Header and footer heights are each below kMaxPageSide, so no overflow.
  if (BodyHeight() <= 0) return Bad("page header and footer leave no room for the body");

  std::set<std::string> names;
  auto check_printable = [&](const Band& band, const char* what) -> Status {
    if (Status s = ValidateBand(band, what); !s.ok()) return s;
    if (band.name.empty()) return Bad(std::string(what) + " without a name");
    if (!names.insert(UpperAscii(band.name)).second) {
      return Bad("two bands named \"" + band.name + "\"");
    }
    if (band.height > BodyHeight()) {
      return Bad("band \"" + band.name + "\" is taller than the page body");
    }
    return Status::Ok();
  };
  for (const Band& band : details) {
    if (Status s = check_printable(band, "detail band"); !s.ok()) return s;
  }
  if (!totals.name.empty() || !totals.items.empty() || totals.height != 0) {
    if (Status s = check_printable(totals, "totals band"); !s.ok()) return s;
  }
  return Status::Ok();
}

PageSize PaperForLocale(std::string_view locale_name) {
  std::string name(locale_name);
  if (name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) return kA4;

  // The installed locale data knows its paper (in millimetres).
  if (locale_t loc = newlocale(LC_PAPER_MASK, name.c_str(), static_cast<locale_t>(0))) {
    auto height = reinterpret_cast<intptr_t>(nl_langinfo_l(_NL_PAPER_HEIGHT, loc));
    auto width = reinterpret_cast<intptr_t>(nl_langinfo_l(_NL_PAPER_WIDTH, loc));
    freelocale(loc);
    if (height == 279 && width == 216) return kLetter;
    return kA4;
  }

  // Not installed: the territories whose locales use Letter.
  static constexpr std::array<std::string_view, 14> kLetterTerritories = {
      "US", "CA", "PR", "MX", "CL", "CO", "VE", "CR", "GT", "NI", "PA", "SV", "PH", "BO"};
  size_t underscore = name.find('_');
  if (underscore == std::string::npos) return kA4;
  std::string_view territory = std::string_view(name).substr(underscore + 1, 2);
  for (std::string_view t : kLetterTerritories) {
    if (territory == t) return kLetter;
  }
  return kA4;
}

PageSize DefaultPaper() {
  for (const char* var : {"LC_ALL", "LC_PAPER", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return PaperForLocale(value);
  }
  return kA4;
}

}  // namespace nv::report
