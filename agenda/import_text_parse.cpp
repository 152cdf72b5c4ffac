#include "agenda/import_text_parse.h"

#include <cmath>

#include "agenda/text.h"
#include "host/runtime/codepage.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/picture.h"

namespace agenda {

void Utf8Check::Feed(std::string_view bytes) {
  for (const char ch : bytes) {
    if (!valid_) return;
    const auto b = static_cast<uint8_t>(ch);
    if (need_ > 0) {
      if (b < lo_ || b > hi_) {
        valid_ = false;
        return;
      }
      --need_;
      lo_ = 0x80, hi_ = 0xBF;
      continue;
    }
    if (b < 0x80) continue;
    non_ascii_ = true;
    // Lead bytes and the bounds of their first continuation byte (no
    // over-long forms, no surrogates, nothing above U+10FFFF).
    if (b >= 0xC2 && b <= 0xDF) {
      need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need_ = 2;
      if (b == 0xE0) lo_ = 0xA0;
      if (b == 0xED) hi_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need_ = 3;
      if (b == 0xF0) lo_ = 0x90;
      if (b == 0xF4) hi_ = 0x8F;
    } else {
      valid_ = false;
    }
  }
}

TextEncoding EncodingOf(std::string_view head, const Utf8Check& check) {
  if (head.substr(0, kUtf8Bom.size()) == kUtf8Bom) return TextEncoding::kUtf8;
  return check.valid() && check.non_ascii() ? TextEncoding::kUtf8 : TextEncoding::kAnsi;
}

std::string DecodeLine(std::string_view raw, TextEncoding encoding, bool first_line) {
  if (encoding == TextEncoding::kAnsi) return std::string(raw);
  if (first_line && raw.substr(0, kUtf8Bom.size()) == kUtf8Bom) raw.remove_prefix(kUtf8Bom.size());
  return nv::AnsiFromUtf8(raw);
}

bool SplitFields(std::string_view line, size_t count, std::vector<std::string>* fields) {
  fields->clear();
  size_t start = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    const size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) return false;
    fields->emplace_back(line.substr(start, comma - start));
    start = comma + 1;
  }
  fields->emplace_back(nv::Clip(line.substr(start, kLastFieldWidth)));
  return true;
}

bool HasControlCharacters(std::string_view line) {
  for (const char ch : line) {
    const auto b = static_cast<uint8_t>(ch);
    if ((b < 0x20 && b != '\t') || b == 0x7F) return true;
  }
  return false;
}

bool ParseNumber(std::string_view text, int64_t* value) {
  *value = 0;
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  if (i == n) return true;
  const std::string_view t = text.substr(i, n - i);
  size_t p = 0;
  if (t[p] == '-' || t[p] == '+') ++p;
  size_t digits = 0, point = 0;
  for (; p < t.size(); ++p) {
    if (t[p] >= '0' && t[p] <= '9') {
      ++digits;
    } else if (t[p] == '.' && point == 0) {
      point = 1;
    } else {
      return false;
    }
  }
  if (digits == 0 || digits > 15) return false;
  *value = static_cast<int64_t>(std::trunc(nv::Value(t).AsNumber()));
  return true;
}

bool ParseDate(std::string_view text, int32_t* day_number) {
  *day_number = 0;
  if (nv::Clip(text).find_first_not_of(' ') == std::string_view::npos) return true;
  *day_number = nv::DeformatDate("@D6", text);
  return *day_number != 0;
}

std::string VatCondition(std::string_view code) {
  static constexpr struct {
    std::string_view code;
    const char* condition;
  } kConditions[] = {{"RI", "Responsable Inscripto"},
                     {"RN", "Responsable No Inscripto"},
                     {"EX", "Exento"},
                     {"MO", "Responsable Monotributo"},
                     {"CF", "Consumidor Final"},
                     {"NR", "No Responsable"}};
  code = nv::Clip(code);
  while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  for (const auto& c : kConditions) {
    if (code == c.code) return A(c.condition);
  }
  return "";
}

std::string DigitsOnly(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    if (ch >= '0' && ch <= '9') out.push_back(ch);
  }
  return out;
}

}  // namespace agenda
