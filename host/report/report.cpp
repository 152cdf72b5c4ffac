// Pagination of a report run (invariants in report.h).
#include "host/report/report.h"

#include <algorithm>

namespace nv::report {
namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool HasLower(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// The value named `name` (letters compared upper-cased); names already
// upper-case, as layouts and procedures write them, are looked up as they
// are, without a copy.
template <class Map>
auto FindValue(Map& values, std::string_view name) {
  return HasLower(name) ? values.find(UpperAscii(name)) : values.find(name);
}

void TrimTrailingBlanks(std::string* s) {
  size_t end = s->find_last_not_of(' ');
  s->erase(end == std::string::npos ? 0 : end + 1);
}

// Line height of a text item whose layout gave none: the font size plus a
// fifth for leading (1 point = 1000/72 mils).
int32_t DefaultLineHeight(const Font& font) {
  int size = std::clamp(font.size, 1, 500);
  return size * 1000 * 6 / 5 / 72;
}

std::string PageNumberText(std::string_view text_template, int page) {
  std::string digits = std::to_string(page);
  size_t start = text_template.find_first_of("<#");
  if (start == std::string_view::npos) return std::string(text_template) + digits;
  size_t end = text_template.find_first_not_of("<#", start);
  if (end == std::string_view::npos) end = text_template.size();
  size_t places = end - start;
  std::string field = digits.size() < places ? std::string(places - digits.size(), ' ') : "";
  field += digits;
  return std::string(text_template.substr(0, start)) + field +
         std::string(text_template.substr(end));
}

}  // namespace

Report::Report(const ValueFormatter& formatter) : formatter_(formatter) {}

Status Report::Open(const ReportLayout& layout) {
  if (open_) return {Code::kAlreadyOpen, "report already open"};
  if (Status s = layout.Validate(); !s.ok()) return s;
  layout_ = layout;
  doc_.paper = layout.page;
  doc_.pages.clear();
  values_.clear();
  sink_status_ = Status::Ok();
  pages_ = 0;
  open_ = true;
  page_open_ = false;
  page_has_body_ = false;
  return Status::Ok();
}

void Report::Set(std::string_view name, Value value) {
  if (auto it = FindValue(values_, name); it != values_.end()) {
    it->second = std::move(value);
    return;
  }
  values_[UpperAscii(name)] = std::move(value);
}

Status Report::Print(std::string_view band_name, const std::vector<NamedValue>& values) {
  if (!open_) return {Code::kNotOpen, "report not open"};
  const Band* band = layout_.FindBand(band_name);
  if (band == nullptr)
    return {Code::kUnknownBand, "no band named \"" + std::string(band_name) + "\""};
  for (const auto& [name, value] : values) Set(name, value);

  if (page_open_ && page_has_body_ && cursor_ + band->height > body_bottom_) EndPage();
  if (!page_open_) StartPage();
  PlaceBand(*band, cursor_);
  cursor_ += band->height;
  page_has_body_ = true;
  return Status::Ok();
}

Status Report::NewPage() {
  if (!open_) return {Code::kNotOpen, "report not open"};
  if (page_open_ && page_has_body_) EndPage();
  return Status::Ok();
}

Status Report::Close() {
  if (!open_) return {Code::kNotOpen, "report not open"};
  if (page_open_) EndPage();
  open_ = false;
  return sink_status_;
}

void Report::set_copies(int copies) {
  doc_.copies = std::clamp(copies, 1, kMaxCopies);
}

Document Report::TakeDocument() {
  if (open_) return {};
  Document out = std::move(doc_);
  doc_ = Document{};
  pages_ = 0;
  doc_.copies = out.copies;
  doc_.skip_preview = out.skip_preview;
  doc_.caption = out.caption;
  return out;
}

void Report::StartPage() {
  Page page;
  page.number = pages_ + 1;
  page.texts.reserve(doc_.pages.empty() ? 64 : doc_.pages.back().texts.size());
  doc_.pages.push_back(std::move(page));
  page_open_ = true;
  page_has_body_ = false;
  PlaceBand(layout_.page_header, layout_.margins.top);
  cursor_ = layout_.margins.top + layout_.page_header.height;
  body_bottom_ = layout_.page.height - layout_.margins.bottom - layout_.page_footer.height;
}

void Report::EndPage() {
  PlaceBand(layout_.page_footer, body_bottom_);
  page_open_ = false;
  page_has_body_ = false;
  ++pages_;
  if (sink_) {
    Status st = sink_(std::move(doc_.pages.back()));
    doc_.pages.pop_back();
    if (!st.ok() && sink_status_.ok()) sink_status_ = st;
  }
}

bool Report::IsSet(std::string_view name) const {
  auto it = FindValue(values_, name);
  if (it == values_.end()) return false;
  const Value& v = it->second;
  switch (v.kind) {
    case Value::Kind::kString: {
      size_t first = v.text.find_first_not_of(' ');
      if (first == std::string::npos) return false;
      size_t last = v.text.find_last_not_of(' ');
      return v.text.substr(first, last - first + 1) != "0";
    }
    case Value::Kind::kNumber:
      return v.number != 0;
    case Value::Kind::kDate:
    case Value::Kind::kTime:
      return v.integer != 0;
  }
  return false;
}

std::string Report::FormatItemValue(const Item& item) const {
  auto it = FindValue(values_, item.name);
  if (it == values_.end()) return {};
  return FormatValue(formatter_, item.picture, it->second);
}

void Report::PlaceBand(const Band& band, int32_t top) {
  Page& page = doc_.pages.back();
  const int32_t left = layout_.margins.left;
  for (const Item& item : band.items) {
    switch (item.kind) {
      case ItemKind::kLine:
        page.lines.push_back({left + item.x, top + item.y, left + item.x + item.width,
                              top + item.y + item.height, item.thickness});
        continue;
      case ItemKind::kBox:
        page.boxes.push_back(
            {left + item.x, top + item.y, item.width, item.height, item.thickness});
        continue;
      case ItemKind::kCheck:
        page.checks.push_back({left + item.x, top + item.y, item.width, IsSet(item.name)});
        continue;
      case ItemKind::kLabel:
      case ItemKind::kValue:
      case ItemKind::kPageNumber:
        break;
    }
    TextRun run;
    run.x = left + item.x;
    run.y = top + item.y;
    run.width = item.width;
    run.height = item.height > 0 ? item.height : DefaultLineHeight(item.font);
    run.align = item.align;
    run.font = item.font;
    if (item.kind == ItemKind::kLabel) {
      run.text = item.text;
    } else if (item.kind == ItemKind::kValue) {
      run.text = FormatItemValue(item);
    } else {
      run.text = PageNumberText(item.text, page.number);
    }
    TrimTrailingBlanks(&run.text);
    if (run.text.empty()) continue;
    page.texts.push_back(std::move(run));
  }
}

}  // namespace nv::report
