// The runtime's expression language: the filters of views and browse lists.
//
//   NOT(MO01:TIPOLLA = 'NT') AND INRANGE(MO01:FECLLA,DesFec,HasFec)
//
// Text is parsed to a tree (Node) that keeps the names as written, so that a
// driver can later print the same condition in another language through a
// Visitor. A tree is compiled against Bindings (the program's variables,
// procedures and files) into an Expression that evaluates the current record
// buffers without parsing, looking up or allocating anything per record.
//
// Grammar (keywords and names without regard to case):
//   or      := and { OR and }
//   and     := compare { AND compare }
//   compare := unary { ('=' | '<>' | '>' | '>=' | '<' | '<=') unary }
//   unary   := NOT unary | primary
//   primary := '(' or ')' | 'text' | number | '-' number | name
//            | name '(' [or {',' or}] ')'
// so NOT binds tighter than the comparisons, which bind tighter than AND,
// which binds tighter than OR. A string literal doubles a quote to hold one
// ('O''Brien'). Names are letters, digits, '_', '$' and ':' (not starting
// with a digit): `MO01:FECLLA`, `Loc:Tipo`, `DesFec`.
//
// Values are numbers (double: every long is exact) or texts:
// - Texts compare byte-wise after clipping trailing blanks of both sides, so
//   '' equals a blank field; letter case counts in values.
// - A text compared with a number compares numerically when the text is a
//   plain number (blanks, an optional sign, digits with at most one '.'); a
//   blank text reads as 0, so a blank account code equals 0. Any other text
//   compares as text with the number written out ("12", "2.5").
// - Binary dates of records read as day numbers, binary times as times,
//   packed decimals as numbers; comparisons give 1 or 0.
// - As a condition, a number is true when non-zero and a text when it is not
//   blank and not a plain number equal to zero.
// - INRANGE(v,lo,hi) is lo <= v AND v <= hi with the rules above.
//
// Name resolution, when an expression is compiled: a name `PRE:NAME` whose
// prefix is that of a bound file and whose NAME is a field of that file's
// record is that field (fields win over a bound variable of the same
// spelling); otherwise a bound variable; a name followed by '(' is INRANGE
// (built in, never shadowed) or a bound procedure. Unknown names, wrong
// argument counts and procedures used as values are compile errors.
//
// Texts of a filter are bytes as records hold them (Windows-1252): a program
// whose literals are UTF-8 passes the filter through AnsiFromUtf8 first.
//
// Errors are Spanish texts (UTF-8) with the 1-based byte position they refer to:
// "Error en la expresión, posición 17: se esperaba ')'". Nothing here throws
// or aborts on any input text.
//
// Lifetime and threads: Bindings hold raw pointers to the program's variables
// and files, which must outlive every Expression compiled from them; an
// Expression reads the addresses it was compiled with (re-binding a name
// afterwards needs a new compile). An Expression keeps scratch space for
// procedure results and is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/declaration.h"
#include "host/runtime/export.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/picture.h"

namespace nv {
class File;
}

namespace nv::expr {

// ---------------------------------------------------------------------------
// Tree.

enum class NodeKind : uint8_t {
  kField,    // a field of a bound file (set by Compile; the parser writes kName)
  kName,     // a bound variable (or, before Compile, any name)
  kString,   // text literal; `text` holds the value without quotes
  kNumber,   // number literal; `number` holds the value, `text` the digits
  kNot,      // one child
  kAnd,      // two children
  kOr,       // two children
  kCompare,  // two children, `op`
  kCall,     // `text` is the function name as written; children are arguments
};

enum class CompareOp : uint8_t { kEq, kNe, kGt, kGe, kLt, kLe };

NV_API const char* CompareOpText(CompareOp op);  // "=", "<>", ">" ...

struct NV_API Node {
  NodeKind kind = NodeKind::kName;
  CompareOp op = CompareOp::kEq;
  std::string text;  // name or function as written, literal value, digits
  double number = 0;
  int position = 0;  // 1-based byte position of the node's first character
  std::vector<std::unique_ptr<Node>> children;

  std::unique_ptr<Node> Clone() const;
};

// An error of parsing or compiling. `message` is the whole text shown to the
// user; empty means no error.
struct NV_API Error {
  int position = 0;
  std::string message;
  bool ok() const { return message.empty(); }
};

// Parses a text; nullptr with `error` filled when the text is malformed
// (empty text included).
NV_API std::unique_ptr<Node> Parse(std::string_view text, Error* error);

// Fully parenthesised text of a tree, names as written ("(NOT((A = 'x')) AND B)").
NV_API std::string Print(const Node& node);

// Visitor over a tree: Accept calls the method of the node's kind; the
// default methods visit the children in order, so a printer overrides what it
// prints and calls Accept on the children itself.
class NV_API Visitor {
 public:
  virtual ~Visitor();
  virtual void Field(const Node& n);
  virtual void Name(const Node& n);
  virtual void String(const Node& n);
  virtual void Number(const Node& n);
  virtual void Not(const Node& n);
  virtual void And(const Node& n);
  virtual void Or(const Node& n);
  virtual void Compare(const Node& n);
  virtual void Call(const Node& n);

 protected:
  void Children(const Node& n);
};
NV_API void Accept(const Node& node, Visitor& visitor);

// ---------------------------------------------------------------------------
// Bindings.

// Where a value lives: a field type code of the runtime (kTypeLong ...) or
// kCellText for a std::string, its address, size and decimal places.
inline constexpr uint8_t kCellText = 200;
struct Cell {
  uint8_t type = 0;
  uint8_t places = 0;
  uint32_t size = 0;
  const void* address = nullptr;
};

// A value read from a cell without copying: texts point into the cell.
struct Scalar {
  bool is_text = false;
  double number = 0;
  std::string_view text;
};
NV_API Scalar ReadCell(const Cell& cell);
// Writes a value into a cell of a record (numbers into numeric cells,
// texts blank-padded into strings; a text into a number or a number into a
// text converts). False when the cell type cannot hold values.
NV_API bool WriteCell(const Cell& cell, const Scalar& value);
// The cell of field n (1-based) of a record; arrays give their first element.
NV_API Cell FieldCell(const RecordType& type, int n, const uint8_t* record);
// Comparison by the rules above: negative, zero or positive. With
// `no_case`, texts compare after upper-casing (as keys without case do).
NV_API int CompareScalars(const Scalar& a, const Scalar& b, bool no_case = false);
NV_API bool Truth(const Scalar& s);
NV_API Value ToValue(const Scalar& s);
// A Scalar over a Value (texts point into the Value, which must live on).
NV_API Scalar FromValue(const Value& v);

using Procedure = std::function<Value(const std::string&, const std::string&, const std::string&)>;

class NV_API Bindings {
 public:
  Bindings();
  ~Bindings();
  Bindings(const Bindings&) = delete;
  Bindings& operator=(const Bindings&) = delete;

  // Variables. Binding a name again replaces it; names ignore case.
  void Bind(std::string_view name, int32_t* v);
  void Bind(std::string_view name, int16_t* v);
  void Bind(std::string_view name, uint8_t* v);
  void Bind(std::string_view name, double* v);
  void Bind(std::string_view name, BinDate* v);  // reads as a day number
  void Bind(std::string_view name, std::string* v);
  void BindString(std::string_view name, char* data, size_t size);  // blank-padded
  void BindDecimal(std::string_view name, uint8_t* data, size_t size, int places);
  template <size_t N>
  void Bind(std::string_view name, String<N>* v) {
    BindString(name, v->data(), N);
  }
  template <size_t B, int P>
  void Bind(std::string_view name, Decimal<B, P>* v) {
    BindDecimal(name, v->bytes_, B, P);
  }
  // Procedures with up to three text arguments (missing ones are "").
  void BindProcedure(std::string_view name, Procedure procedure);
  // A file: each field of its record becomes `PREFIX:NAME`, read from the
  // file's record buffer. `prefix` empty takes the record's own prefix; an
  // alias passes its own. A prefix bound again now names the new file.
  void BindFile(File* file, std::string_view prefix = {});
  void Unbind(std::string_view name);

  // Lookups (names without regard to case).
  bool FindField(std::string_view label, Cell* cell, File** file = nullptr,
                 int* field = nullptr) const;
  bool FindVariable(std::string_view name, Cell* cell) const;
  const Procedure* FindProcedure(std::string_view name) const;
  // The files bound, in binding order, with their prefixes.
  struct FileEntry {
    File* file;
    std::string prefix;
  };
  const std::vector<FileEntry>& files() const { return files_; }

 private:
  void BindCell(std::string_view name, Cell cell);
  std::map<std::string, Cell> variables_;  // by upper-case name
  std::map<std::string, Procedure> procedures_;
  std::vector<FileEntry> files_;
};

// ---------------------------------------------------------------------------
// Compiled expressions.

class NV_API Expression {
 public:
  ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // nullptr with `error` filled when the text is malformed or names what is
  // not bound.
  static std::unique_ptr<Expression> Compile(std::string_view text, const Bindings& bindings,
                                             Error* error);

  // Against the current buffers and variables.
  bool Matches();
  Value Evaluate();

  // The tree, with field references marked kField.
  const Node& tree() const { return *tree_; }
  const std::string& text() const { return text_; }

  struct Op;  // compiled node (expr.cpp)

 private:
  Expression();
  std::string text_;
  std::unique_ptr<Node> tree_;
  std::unique_ptr<Op> root_;
};

}  // namespace nv::expr
