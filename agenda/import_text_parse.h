// The text import's reading of its input: the encoding of a file, the
// splitting of a line into fields and the conversion of each field. Pure
// functions over texts: no file, no dictionary.
//
// Encoding: a file that is valid UTF-8 and holds at least one non-ASCII
// character is read as UTF-8 and converted to Windows-1252 (the records'
// code page); a file that starts with a UTF-8 byte-order mark is read as
// UTF-8 whatever follows (the mark is dropped); anything else is taken as
// Windows-1252 bytes as they stand.
//
// Splitting (no quoting, no escapes): a line of n fields must hold n - 1
// commas; fields 1 .. n-1 are the texts between them as they stand
// (leading blanks kept); the last field is everything after the (n-1)th
// comma, extra commas included, of which the first 50 characters are taken
// and trailing blanks dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace agenda {

// Streaming check of UTF-8 validity (sequences may straddle the chunks fed).
class Utf8Check {
 public:
  void Feed(std::string_view bytes);
  // Valid so far, and nothing left half-way.
  bool valid() const { return valid_ && need_ == 0; }
  bool non_ascii() const { return non_ascii_; }

 private:
  bool valid_ = true, non_ascii_ = false;
  int need_ = 0;                   // continuation bytes still expected
  uint8_t lo_ = 0x80, hi_ = 0xBF;  // bounds of the next continuation byte
};

enum class TextEncoding { kAnsi, kUtf8 };

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The encoding of a whole file from its first bytes (`head`, for the mark)
// and the check fed with every byte.
TextEncoding EncodingOf(std::string_view head, const Utf8Check& check);

// One line in the records' code page: UTF-8 converted (the mark dropped
// from the first line), Windows-1252 kept.
std::string DecodeLine(std::string_view raw, TextEncoding encoding, bool first_line);

// Splits `line` into `count` fields; false at the first missing comma.
bool SplitFields(std::string_view line, size_t count, std::vector<std::string>* fields);

// True for a line holding characters no text file of the import has:
// control characters other than the tab (a NUL, binary garbage).
bool HasControlCharacters(std::string_view line);

// A numeric field as the runtime reads a number: blanks around it, an
// optional sign, digits and optional decimal places. Blank reads as 0.
// False for any other text; *value is the number truncated toward zero.
bool ParseNumber(std::string_view text, int64_t* value);

// A date field with the picture @D6 (day/month/year). Blank reads as 0
// (no date); false for a text that is no possible date.
bool ParseDate(std::string_view text, int32_t* day_number);

// VAT condition of a two-letter code (blanks around it ignored); "" for an
// unknown code. Answers Windows-1252 text.
std::string VatCondition(std::string_view code);

// The digits of a telephone field, in order ("(0351) 456-78" -> "035145678").
std::string DigitsOnly(std::string_view text);

// Maximum digits of an imported number (its buffer).
inline constexpr size_t kNumberDigits = 30;
// Maximum characters of an input line (the line file's record).
inline constexpr size_t kLineWidth = 255;
// Characters taken from the last field.
inline constexpr size_t kLastFieldWidth = 50;

}  // namespace agenda
