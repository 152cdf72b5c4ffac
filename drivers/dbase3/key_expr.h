// dBase key expressions: the expression generated from a key's components,
// the compiler of the expression language and its evaluation over a table
// record (the raw bytes of one record: deleted flag, then the fields).
//
// Values are character text, numbers, dates (kept as the Julian day number,
// 0 for a blank date) and logicals. An index key is the character result
// (type C), or the number or date as an 8-byte float (types N and D).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace db3 {

// One field of a table as the expression language sees it.
struct TableField {
  std::string name;  // upper case, 1..11 characters
  char type = 'C';   // C D N L M (F read only)
  uint16_t length = 0;
  uint8_t decimals = 0;
  uint32_t offset = 0;  // in the record, after the deleted flag (so >= 1)
};

struct Value {
  char type = 'C';  // C N D L
  std::string text;
  double number = 0;  // N, and D as Julian day (0 blank)
  bool logical = false;
};

// A component of a key for the generator: its table field and whether the
// key is case-insensitive.
struct KeyComponent {
  const TableField* field;
};

// Builds the expression of Part "generation" rules: *expr and *type (C, N,
// D or L). Answers 0 or 76.
int GenerateKeyExpression(const std::vector<KeyComponent>& components, bool no_case,
                          std::string* expr, char* type);

class CompiledExpr;
void FreeExpr(CompiledExpr* e);
struct ExprDeleter {
  void operator()(CompiledExpr* e) const { FreeExpr(e); }
};
using ExprPtr = std::unique_ptr<CompiledExpr, ExprDeleter>;

// Compiles `text` over the fields; -207 when it does not parse or names an
// unknown field or function.
int CompileExpr(const std::string& text, const std::vector<TableField>& fields, ExprPtr* out);
// Evaluates over one record; -207 for a value of the wrong type.
int EvalExpr(const CompiledExpr& e, const uint8_t* record, uint32_t record_number, Value* out);

// The probe record of a table: C fields all "A", D fields 19640820, N and F
// fields 1.0, L fields "T".
std::vector<uint8_t> ProbeRecord(const std::vector<TableField>& fields, uint32_t record_length);

// Julian day numbers of dates, as index keys keep them.
double JulianFromYmd(int y, int m, int d);
bool YmdFromJulian(double jd, int* y, int* m, int* d);
// "YYYYMMDD" (or blanks) to a Julian day, 0 for blanks or a bad date.
double JulianFromText(const std::string& ymd);

// Numbers as table text: right-aligned in `length` with `decimals`; '*'
// over the whole width when the number does not fit.
std::string NumberText(double v, int length, int decimals);
double ParseNumber(const char* p, size_t n);

}  // namespace db3
