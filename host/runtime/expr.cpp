// The expression language: tokenizer, recursive-descent parser, bindings and
// the compiled evaluator (see expr.h for the language itself).
//
// Invariants:
// - The parser never reads past the end of the text and never recurses
//   deeper than kMaxDepth, so any byte string is either a tree or an error.
// - Every Node the parser makes carries a position inside 1..size+1.
// - A compiled Op reads only the cells captured at compile time; numeric
//   comparisons touch no heap, texts are viewed in place.
#include "host/runtime/expr.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/runtime/file.h"

namespace nv::expr {

namespace {

constexpr int kMaxDepth = 200;
// Operands and NOTs of one text; bounds the size and height of every tree
// (the walks over a tree recurse).
constexpr int kMaxOperands = 2000;
constexpr int kMaxArguments = 3;

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return out;
}

std::string ErrorText(int position, std::string_view what) {
  return "Error en la expresión, posición " + std::to_string(position) + ": " + std::string(what);
}

// ---------------------------------------------------------------------------
// Tokens.

enum class Tok { kEnd, kName, kString, kNumber, kLParen, kRParen, kComma, kMinus, kCompare };

struct Token {
  Tok kind = Tok::kEnd;
  CompareOp op = CompareOp::kEq;
  std::string text;  // name as written, literal value, digits
  double number = 0;
  int position = 0;  // 1-based
};

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == ':';
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  // Reads the next token; false with `error` on a malformed one.
  bool Next(Token* t, Error* error) {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\n'))
      ++pos_;
    *t = Token{};
    t->position = int(pos_) + 1;
    if (pos_ >= text_.size()) return true;
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (IsNameStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && IsNameChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      t->kind = Tok::kName;
      t->text = std::string(text_.substr(start, pos_ - start));
      return true;
    }
    if (IsDigit(c) || (c == '.' && pos_ + 1 < text_.size() &&
                       IsDigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      size_t start = pos_;
      bool point = false;
      while (pos_ < text_.size()) {
        unsigned char d = static_cast<unsigned char>(text_[pos_]);
        if (IsDigit(d)) {
          ++pos_;
        } else if (d == '.' && !point) {
          point = true;
          ++pos_;
        } else {
          break;
        }
      }
      if (pos_ < text_.size() && IsNameChar(static_cast<unsigned char>(text_[pos_]))) {
        return Fail(error, t->position, "número mal formado");
      }
      t->kind = Tok::kNumber;
      t->text = std::string(text_.substr(start, pos_ - start));
      t->number = std::strtod(t->text.c_str(), nullptr);
      return true;
    }
    switch (c) {
      case '\'': {
        ++pos_;
        std::string value;
        for (;;) {
          if (pos_ >= text_.size()) return Fail(error, t->position, "falta la comilla de cierre");
          if (text_[pos_] == '\'') {
            if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
              value.push_back('\'');
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          value.push_back(text_[pos_++]);
        }
        t->kind = Tok::kString;
        t->text = std::move(value);
        return true;
      }
      case '(':
        ++pos_;
        t->kind = Tok::kLParen;
        return true;
      case ')':
        ++pos_;
        t->kind = Tok::kRParen;
        return true;
      case ',':
        ++pos_;
        t->kind = Tok::kComma;
        return true;
      case '-':
        ++pos_;
        t->kind = Tok::kMinus;
        return true;
      case '=':
        ++pos_;
        t->kind = Tok::kCompare;
        t->op = CompareOp::kEq;
        return true;
      case '<':
        ++pos_;
        t->kind = Tok::kCompare;
        t->op = CompareOp::kLt;
        if (pos_ < text_.size() && text_[pos_] == '=') {
          t->op = CompareOp::kLe;
          ++pos_;
        } else if (pos_ < text_.size() && text_[pos_] == '>') {
          t->op = CompareOp::kNe;
          ++pos_;
        }
        return true;
      case '>':
        ++pos_;
        t->kind = Tok::kCompare;
        t->op = CompareOp::kGt;
        if (pos_ < text_.size() && text_[pos_] == '=') {
          t->op = CompareOp::kGe;
          ++pos_;
        }
        return true;
      default:
        break;
    }
    std::string what = "carácter inesperado ";
    if (c >= 0x20 && c < 0x7F) {
      what += "'" + std::string(1, char(c)) + "'";
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%02X", unsigned(c));
      what += buf;
    }
    return Fail(error, t->position, what);
  }

 private:
  static bool Fail(Error* error, int position, std::string_view what) {
    error->position = position;
    error->message = ErrorText(position, what);
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Parser.

bool IsKeyword(const Token& t, const char* word) {
  return t.kind == Tok::kName && UpperAscii(t.text) == word;
}

class Parser {
 public:
  Parser(std::string_view text, Error* error) : lexer_(text), error_(error) {}

  std::unique_ptr<Node> ParseAll() {
    if (!Advance()) return nullptr;
    if (tok_.kind == Tok::kEnd) return Fail(tok_.position, "la expresión está vacía");
    auto node = ParseOr(0);
    if (!node) return nullptr;
    if (tok_.kind == Tok::kRParen) return Fail(tok_.position, "')' sin '(' que la abra");
    if (tok_.kind != Tok::kEnd) return Fail(tok_.position, "se esperaba AND u OR");
    return node;
  }

 private:
  bool Advance() { return lexer_.Next(&tok_, error_); }

  std::unique_ptr<Node> Fail(int position, std::string_view what) {
    if (error_->ok()) {
      error_->position = position;
      error_->message = ErrorText(position, what);
    }
    return nullptr;
  }

  static std::unique_ptr<Node> MakeBinary(NodeKind kind, std::unique_ptr<Node> l,
                                          std::unique_ptr<Node> r) {
    auto n = std::make_unique<Node>();
    n->kind = kind;
    n->position = l->position;
    n->children.push_back(std::move(l));
    n->children.push_back(std::move(r));
    return n;
  }

  std::unique_ptr<Node> ParseOr(int depth) {
    auto left = ParseAnd(depth);
    while (left && IsKeyword(tok_, "OR")) {
      if (!Advance()) return nullptr;
      auto right = ParseAnd(depth);
      if (!right) return nullptr;
      left = MakeBinary(NodeKind::kOr, std::move(left), std::move(right));
    }
    return left;
  }

  std::unique_ptr<Node> ParseAnd(int depth) {
    auto left = ParseCompare(depth);
    while (left && IsKeyword(tok_, "AND")) {
      if (!Advance()) return nullptr;
      auto right = ParseCompare(depth);
      if (!right) return nullptr;
      left = MakeBinary(NodeKind::kAnd, std::move(left), std::move(right));
    }
    return left;
  }

  std::unique_ptr<Node> ParseCompare(int depth) {
    auto left = ParseUnary(depth);
    while (left && tok_.kind == Tok::kCompare) {
      CompareOp op = tok_.op;
      if (!Advance()) return nullptr;
      auto right = ParseUnary(depth);
      if (!right) return nullptr;
      left = MakeBinary(NodeKind::kCompare, std::move(left), std::move(right));
      left->op = op;
    }
    return left;
  }

  std::unique_ptr<Node> ParseUnary(int depth) {
    if (depth > kMaxDepth) return Fail(tok_.position, "la expresión está anidada en exceso");
    if (++operands_ > kMaxOperands) return Fail(tok_.position, "la expresión es demasiado larga");
    if (IsKeyword(tok_, "NOT")) {
      auto n = std::make_unique<Node>();
      n->kind = NodeKind::kNot;
      n->position = tok_.position;
      if (!Advance()) return nullptr;
      auto operand = ParseUnary(depth + 1);
      if (!operand) return nullptr;
      n->children.push_back(std::move(operand));
      return n;
    }
    return ParsePrimary(depth);
  }

  std::unique_ptr<Node> ParsePrimary(int depth) {
    auto n = std::make_unique<Node>();
    n->position = tok_.position;
    switch (tok_.kind) {
      case Tok::kLParen: {
        if (!Advance()) return nullptr;
        auto inner = ParseOr(depth + 1);
        if (!inner) return nullptr;
        if (tok_.kind != Tok::kRParen) return Fail(tok_.position, "se esperaba ')'");
        if (!Advance()) return nullptr;
        return inner;
      }
      case Tok::kString:
        n->kind = NodeKind::kString;
        n->text = std::move(tok_.text);
        if (!Advance()) return nullptr;
        return n;
      case Tok::kNumber:
        n->kind = NodeKind::kNumber;
        n->text = std::move(tok_.text);
        n->number = tok_.number;
        if (!Advance()) return nullptr;
        return n;
      case Tok::kMinus:
        if (!Advance()) return nullptr;
        if (tok_.kind != Tok::kNumber) return Fail(tok_.position, "se esperaba un número");
        n->kind = NodeKind::kNumber;
        n->text = "-" + tok_.text;
        n->number = -tok_.number;
        if (!Advance()) return nullptr;
        return n;
      case Tok::kName: {
        if (IsKeyword(tok_, "AND") || IsKeyword(tok_, "OR")) {
          return Fail(tok_.position, "se esperaba un valor antes de " + UpperAscii(tok_.text));
        }
        n->kind = NodeKind::kName;
        n->text = std::move(tok_.text);
        if (!Advance()) return nullptr;
        if (tok_.kind != Tok::kLParen) return n;
        n->kind = NodeKind::kCall;
        if (!Advance()) return nullptr;
        if (tok_.kind == Tok::kRParen) return Advance() ? std::move(n) : nullptr;
        for (;;) {
          if (int(n->children.size()) == kMaxArguments) {
            return Fail(tok_.position, "demasiados argumentos para " + n->text);
          }
          auto arg = ParseOr(depth + 1);
          if (!arg) return nullptr;
          n->children.push_back(std::move(arg));
          if (tok_.kind == Tok::kComma) {
            if (!Advance()) return nullptr;
            continue;
          }
          if (tok_.kind != Tok::kRParen) return Fail(tok_.position, "se esperaba ')'");
          if (!Advance()) return nullptr;
          return n;
        }
      }
      case Tok::kEnd:
        return Fail(tok_.position, "la expresión termina antes de tiempo");
      case Tok::kRParen:
        return Fail(tok_.position, "se esperaba un valor antes de ')'");
      case Tok::kComma:
        return Fail(tok_.position, "se esperaba un valor antes de ','");
      case Tok::kCompare:
        return Fail(tok_.position,
                    std::string("se esperaba un valor antes de '") + CompareOpText(tok_.op) + "'");
    }
    return Fail(tok_.position, "se esperaba un valor");
  }

  Lexer lexer_;
  Error* error_;
  Token tok_;
  int operands_ = 0;
};

// ---------------------------------------------------------------------------
// Values.

// Reads a plain number (blanks, optional sign, digits with at most one '.');
// a blank text is 0. False for anything else.
bool PlainNumber(std::string_view s, double* out) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == ' ') ++i;
  while (n > i && s[n - 1] == ' ') --n;
  if (i == n) {
    *out = 0;
    return true;
  }
  char buf[64];
  size_t len = 0;
  if (s[i] == '-' || s[i] == '+') buf[len++] = s[i++];
  bool digits = false, point = false;
  for (; i < n; ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
    if (len + 1 >= sizeof buf) return false;
    buf[len++] = c;
  }
  if (!digits) return false;
  buf[len] = 0;
  *out = std::strtod(buf, nullptr);
  return true;
}

// Writes a number as a comparison text: integers without a point.
size_t NumberText(double v, char* buf, size_t size) {
  int n;
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
    n = std::snprintf(buf, size, "%lld", static_cast<long long>(v));
  } else {
    n = std::snprintf(buf, size, "%.15g", v);
  }
  return n < 0 ? 0 : std::min(size - 1, size_t(n));
}

int CompareText(std::string_view a, std::string_view b, bool no_case) {
  if (!no_case) return CompareClipped(a, b);
  a = Clip(a);
  b = Clip(b);
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(UpperChar(a[i]));
    unsigned char y = static_cast<unsigned char>(UpperChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareNumbers(double a, double b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
void StoreNumber(const Cell& cell, T v) {
  std::memcpy(const_cast<void*>(cell.address), &v, sizeof v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Tree helpers.

const char* CompareOpText(CompareOp op) {
  switch (op) {
    case CompareOp::kEq:
      return "=";
    case CompareOp::kNe:
      return "<>";
    case CompareOp::kGt:
      return ">";
    case CompareOp::kGe:
      return ">=";
    case CompareOp::kLt:
      return "<";
    case CompareOp::kLe:
      return "<=";
  }
  return "?";
}

std::unique_ptr<Node> Node::Clone() const {
  auto n = std::make_unique<Node>();
  n->kind = kind;
  n->op = op;
  n->text = text;
  n->number = number;
  n->position = position;
  for (const auto& c : children) n->children.push_back(c->Clone());
  return n;
}

std::unique_ptr<Node> Parse(std::string_view text, Error* error) {
  Error local;
  Error* e = error ? error : &local;
  *e = Error{};
  Parser parser(text, e);
  auto tree = parser.ParseAll();
  if (!tree && e->ok()) {
    e->position = 1;
    e->message = ErrorText(1, "expresión no válida");
  }
  return tree;
}

std::string Print(const Node& n) {
  switch (n.kind) {
    case NodeKind::kField:
    case NodeKind::kName:
      return n.text;
    case NodeKind::kString: {
      std::string s = "'";
      for (char c : n.text) {
        s.push_back(c);
        if (c == '\'') s.push_back('\'');
      }
      return s + "'";
    }
    case NodeKind::kNumber:
      return n.text;
    case NodeKind::kNot:
      return "NOT(" + Print(*n.children[0]) + ")";
    case NodeKind::kAnd:
      return "(" + Print(*n.children[0]) + " AND " + Print(*n.children[1]) + ")";
    case NodeKind::kOr:
      return "(" + Print(*n.children[0]) + " OR " + Print(*n.children[1]) + ")";
    case NodeKind::kCompare:
      return "(" + Print(*n.children[0]) + " " + CompareOpText(n.op) + " " + Print(*n.children[1]) +
             ")";
    case NodeKind::kCall: {
      std::string s = n.text + "(";
      for (size_t i = 0; i < n.children.size(); ++i) {
        if (i) s += ",";
        s += Print(*n.children[i]);
      }
      return s + ")";
    }
  }
  return "";
}

Visitor::~Visitor() = default;
void Visitor::Children(const Node& n) {
  for (const auto& c : n.children) Accept(*c, *this);
}
void Visitor::Field(const Node& n) {
  Children(n);
}
void Visitor::Name(const Node& n) {
  Children(n);
}
void Visitor::String(const Node& n) {
  Children(n);
}
void Visitor::Number(const Node& n) {
  Children(n);
}
void Visitor::Not(const Node& n) {
  Children(n);
}
void Visitor::And(const Node& n) {
  Children(n);
}
void Visitor::Or(const Node& n) {
  Children(n);
}
void Visitor::Compare(const Node& n) {
  Children(n);
}
void Visitor::Call(const Node& n) {
  Children(n);
}

void Accept(const Node& n, Visitor& v) {
  switch (n.kind) {
    case NodeKind::kField:
      v.Field(n);
      break;
    case NodeKind::kName:
      v.Name(n);
      break;
    case NodeKind::kString:
      v.String(n);
      break;
    case NodeKind::kNumber:
      v.Number(n);
      break;
    case NodeKind::kNot:
      v.Not(n);
      break;
    case NodeKind::kAnd:
      v.And(n);
      break;
    case NodeKind::kOr:
      v.Or(n);
      break;
    case NodeKind::kCompare:
      v.Compare(n);
      break;
    case NodeKind::kCall:
      v.Call(n);
      break;
  }
}

// ---------------------------------------------------------------------------
// Cells and scalars.

Scalar ReadCell(const Cell& c) {
  Scalar s;
  const void* p = c.address;
  if (!p) return s;
  switch (c.type) {
    case kTypeByte:
      s.number = *static_cast<const uint8_t*>(p);
      break;
    case kTypeShort:
      s.number = Load<int16_t>(p);
      break;
    case kTypeUShort:
      s.number = Load<uint16_t>(p);
      break;
    case kTypeLong:
      s.number = Load<int32_t>(p);
      break;
    case kTypeULong:
      s.number = Load<uint32_t>(p);
      break;
    case kTypeSReal:
    case kTypeBFloat4:
      s.number = Load<float>(p);
      break;
    case kTypeReal:
    case kTypeBFloat8:
      s.number = Load<double>(p);
      break;
    case kTypeDate:
      s.number = DateFromBin(Load<BinDate>(p));
      break;
    case kTypeTime:
      s.number = TimeFromBin(Load<BinTime>(p));
      break;
    case kTypeDecimal:
    case kTypePDecimal:
      s.number = DecimalToDouble(static_cast<const uint8_t*>(p), c.size, c.places);
      break;
    case kTypeCString: {
      s.is_text = true;
      const char* q = static_cast<const char*>(p);
      const void* z = std::memchr(q, 0, c.size);
      s.text = std::string_view(q, z ? size_t(static_cast<const char*>(z) - q) : c.size);
      break;
    }
    case kTypePString: {
      s.is_text = true;
      const uint8_t* q = static_cast<const uint8_t*>(p);
      size_t room = c.size > 0 ? c.size - 1 : 0;
      s.text = std::string_view(reinterpret_cast<const char*>(q + 1), std::min<size_t>(q[0], room));
      break;
    }
    case kCellText:
      s.is_text = true;
      s.text = *static_cast<const std::string*>(p);
      break;
    default:  // strings, groups and anything else: the bytes
      s.is_text = true;
      s.text = std::string_view(static_cast<const char*>(p), c.size);
      break;
  }
  return s;
}

bool WriteCell(const Cell& c, const Scalar& v) {
  if (!c.address) return false;
  double num = v.number;
  if (v.is_text && c.type != kTypeString && c.type != kTypeCString && c.type != kTypePString &&
      c.type != kCellText && c.type != kTypeGroup) {
    if (!PlainNumber(v.text, &num)) num = 0;
  }
  char buf[64];
  std::string_view text = v.text;
  if (!v.is_text) text = std::string_view(buf, NumberText(v.number, buf, sizeof buf));
  switch (c.type) {
    case kTypeByte:
      StoreNumber<uint8_t>(c, uint8_t(std::lround(num)));
      return true;
    case kTypeShort:
      StoreNumber<int16_t>(c, int16_t(std::lround(num)));
      return true;
    case kTypeUShort:
      StoreNumber<uint16_t>(c, uint16_t(std::lround(num)));
      return true;
    case kTypeLong:
      StoreNumber<int32_t>(c, int32_t(std::llround(num)));
      return true;
    case kTypeULong:
      StoreNumber<uint32_t>(c, uint32_t(std::llround(num)));
      return true;
    case kTypeSReal:
    case kTypeBFloat4:
      StoreNumber<float>(c, float(num));
      return true;
    case kTypeReal:
    case kTypeBFloat8:
      StoreNumber<double>(c, num);
      return true;
    case kTypeDate:
      StoreNumber<BinDate>(c, BinFromDate(int32_t(std::llround(num))));
      return true;
    case kTypeTime:
      StoreNumber<BinTime>(c, BinFromTime(int32_t(std::llround(num))));
      return true;
    case kTypeDecimal:
    case kTypePDecimal:
      return DecimalFromDouble(num, static_cast<uint8_t*>(const_cast<void*>(c.address)), c.size,
                               c.places);
    case kTypeString:
    case kTypeGroup:
      AssignPadded(static_cast<char*>(const_cast<void*>(c.address)), c.size, text);
      return true;
    case kTypeCString: {
      if (c.size == 0) return false;
      char* q = static_cast<char*>(const_cast<void*>(c.address));
      size_t n = std::min<size_t>(text.size(), c.size - 1);
      std::memset(q, 0, c.size);
      std::memcpy(q, text.data(), n);
      return true;
    }
    case kTypePString: {
      if (c.size == 0) return false;
      uint8_t* q = static_cast<uint8_t*>(const_cast<void*>(c.address));
      size_t n = std::min<size_t>({text.size(), c.size - 1, 255});
      std::memset(q, 0, c.size);
      q[0] = uint8_t(n);
      std::memcpy(q + 1, text.data(), n);
      return true;
    }
    case kCellText:
      static_cast<std::string*>(const_cast<void*>(c.address))->assign(text);
      return true;
    default:
      return false;
  }
}

Cell FieldCell(const RecordType& type, int n, const uint8_t* record) {
  Cell c;
  const FieldDesc* f = type.Field(n);
  if (!f || f->type == kTypeMemo || f->type == kTypeBlob) return c;
  c.type = f->type;
  // A 4-byte group shown with a date picture holds a binary date (day,
  // month, 16-bit year): it evaluates as the day number, like a DATE field.
  if (f->type == kTypeGroup && f->size == 4 && f->picture.size() >= 2 && f->picture[0] == '@' &&
      (f->picture[1] == 'D' || f->picture[1] == 'd')) {
    c.type = kTypeDate;
  }
  c.places = f->places;
  c.size = f->ElementSize();
  c.address = record + f->offset;
  return c;
}

int CompareScalars(const Scalar& a, const Scalar& b, bool no_case) {
  if (!a.is_text && !b.is_text) return CompareNumbers(a.number, b.number);
  if (a.is_text && b.is_text) return CompareText(a.text, b.text, no_case);
  const Scalar& t = a.is_text ? a : b;
  const Scalar& n = a.is_text ? b : a;
  double tv;
  int r;
  if (PlainNumber(t.text, &tv)) {
    r = CompareNumbers(tv, n.number);
  } else {
    char buf[64];
    r = CompareText(t.text, std::string_view(buf, NumberText(n.number, buf, sizeof buf)), no_case);
  }
  return a.is_text ? r : -r;
}

bool Truth(const Scalar& s) {
  if (!s.is_text) return s.number != 0;
  double v;
  if (PlainNumber(s.text, &v)) return !Clip(s.text).empty() && v != 0;
  return true;  // not blank (a blank text is a plain number)
}

Value ToValue(const Scalar& s) {
  if (s.is_text) return Value(s.text);
  return Value(s.number);
}

Scalar FromValue(const Value& v) {
  Scalar s;
  if (v.IsText()) {
    s.is_text = true;
    s.text = v.text;
  } else {
    s.number = v.AsNumber();
  }
  return s;
}

// ---------------------------------------------------------------------------
// Bindings.

Bindings::Bindings() = default;
Bindings::~Bindings() = default;

void Bindings::BindCell(std::string_view name, Cell cell) {
  variables_[Upper(name)] = cell;
}
void Bindings::Bind(std::string_view name, int32_t* v) {
  BindCell(name, {kTypeLong, 0, 4, v});
}
void Bindings::Bind(std::string_view name, int16_t* v) {
  BindCell(name, {kTypeShort, 0, 2, v});
}
void Bindings::Bind(std::string_view name, uint8_t* v) {
  BindCell(name, {kTypeByte, 0, 1, v});
}
void Bindings::Bind(std::string_view name, double* v) {
  BindCell(name, {kTypeReal, 0, 8, v});
}
void Bindings::Bind(std::string_view name, BinDate* v) {
  BindCell(name, {kTypeDate, 0, 4, v});
}
void Bindings::Bind(std::string_view name, std::string* v) {
  BindCell(name, {kCellText, 0, 0, v});
}
void Bindings::BindString(std::string_view name, char* data, size_t size) {
  BindCell(name, {kTypeString, 0, uint32_t(size), data});
}
void Bindings::BindDecimal(std::string_view name, uint8_t* data, size_t size, int places) {
  BindCell(name, {kTypeDecimal, uint8_t(places), uint32_t(size), data});
}
void Bindings::BindProcedure(std::string_view name, Procedure procedure) {
  procedures_[Upper(name)] = std::move(procedure);
}
void Bindings::BindFile(File* file, std::string_view prefix) {
  if (!file || !file->decl().record) return;
  std::string p(prefix.empty() ? std::string_view(file->decl().record->prefix) : prefix);
  for (FileEntry& e : files_) {
    if (Upper(e.prefix) == Upper(p)) {
      e.file = file;
      return;
    }
  }
  files_.push_back({file, p});
}
void Bindings::Unbind(std::string_view name) {
  variables_.erase(Upper(name));
  procedures_.erase(Upper(name));
}

bool Bindings::FindField(std::string_view label, Cell* cell, File** file, int* field) const {
  size_t colon = label.find(':');
  if (colon == std::string_view::npos) return false;
  std::string prefix = Upper(label.substr(0, colon));
  std::string_view name = label.substr(colon + 1);
  for (const FileEntry& e : files_) {
    if (Upper(e.prefix) != prefix) continue;
    const RecordType& rt = *e.file->decl().record;
    // Fields are labelled with the record's own prefix; an alias reaches them
    // under its own.
    int n = rt.FindField(rt.prefix + ":" + std::string(name));
    if (n == 0) return false;
    Cell c = FieldCell(rt, n, e.file->record());
    if (!c.address) return false;
    if (cell) *cell = c;
    if (file) *file = e.file;
    if (field) *field = n;
    return true;
  }
  return false;
}

bool Bindings::FindVariable(std::string_view name, Cell* cell) const {
  auto it = variables_.find(Upper(name));
  if (it == variables_.end()) return false;
  if (cell) *cell = it->second;
  return true;
}

const Procedure* Bindings::FindProcedure(std::string_view name) const {
  auto it = procedures_.find(Upper(name));
  return it == procedures_.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// Compiled expressions.

struct Expression::Op {
  enum Kind : uint8_t { kConst, kCell, kNot, kAnd, kOr, kCompare, kInRange, kProcedure };
  Kind kind = kConst;
  CompareOp op = CompareOp::kEq;
  Scalar constant;      // kConst (texts point into `storage`)
  std::string storage;  // text of a constant; result of a procedure
  Cell cell;            // kCell
  const Procedure* procedure = nullptr;
  std::string args[kMaxArguments];
  std::vector<Op> kids;
};

namespace {

using Op = Expression::Op;

Scalar Eval(Op& op);

bool Test(Op& op) {
  switch (op.kind) {
    case Op::kNot:
      return !Test(op.kids[0]);
    case Op::kAnd:
      return Test(op.kids[0]) && Test(op.kids[1]);
    case Op::kOr:
      return Test(op.kids[0]) || Test(op.kids[1]);
    case Op::kCompare: {
      int r = CompareScalars(Eval(op.kids[0]), Eval(op.kids[1]));
      switch (op.op) {
        case CompareOp::kEq:
          return r == 0;
        case CompareOp::kNe:
          return r != 0;
        case CompareOp::kGt:
          return r > 0;
        case CompareOp::kGe:
          return r >= 0;
        case CompareOp::kLt:
          return r < 0;
        case CompareOp::kLe:
          return r <= 0;
      }
      return false;
    }
    case Op::kInRange: {
      Scalar v = Eval(op.kids[0]);
      return CompareScalars(Eval(op.kids[1]), v) <= 0 && CompareScalars(v, Eval(op.kids[2])) <= 0;
    }
    default:
      return Truth(Eval(op));
  }
}

Scalar Eval(Op& op) {
  switch (op.kind) {
    case Op::kConst:
      return op.constant;
    case Op::kCell:
      return ReadCell(op.cell);
    case Op::kProcedure: {
      for (size_t i = 0; i < op.kids.size(); ++i) {
        Scalar a = Eval(op.kids[i]);
        if (a.is_text) {
          op.args[i].assign(a.text);
        } else {
          char buf[64];
          op.args[i].assign(buf, NumberText(a.number, buf, sizeof buf));
        }
      }
      Value r = (*op.procedure)(op.args[0], op.args[1], op.args[2]);
      Scalar s;
      if (r.IsText()) {
        op.storage = std::move(r.text);
        s.is_text = true;
        s.text = op.storage;
      } else {
        s.number = r.AsNumber();
      }
      return s;
    }
    default: {
      Scalar s;
      s.number = Test(op) ? 1 : 0;
      return s;
    }
  }
}

class Compiler {
 public:
  Compiler(const Bindings& b, Error* e) : bindings_(b), error_(e) {}

  bool Compile(Node& n, Op* op) {
    switch (n.kind) {
      case NodeKind::kString:
        op->kind = Op::kConst;
        op->storage = n.text;
        op->constant.is_text = true;
        return true;
      case NodeKind::kNumber:
        op->kind = Op::kConst;
        op->constant.number = n.number;
        return true;
      case NodeKind::kField:
      case NodeKind::kName: {
        Cell cell;
        if (bindings_.FindField(n.text, &cell)) {
          n.kind = NodeKind::kField;
        } else if (bindings_.FindVariable(n.text, &cell)) {
          n.kind = NodeKind::kName;
        } else if (bindings_.FindProcedure(n.text) || UpperAscii(n.text) == "INRANGE") {
          return Fail(n.position,
                      n.text + " es una función: faltan sus argumentos entre paréntesis");
        } else {
          return Fail(n.position, "nombre desconocido '" + n.text + "'");
        }
        op->kind = Op::kCell;
        op->cell = cell;
        return true;
      }
      case NodeKind::kNot:
        op->kind = Op::kNot;
        break;
      case NodeKind::kAnd:
        op->kind = Op::kAnd;
        break;
      case NodeKind::kOr:
        op->kind = Op::kOr;
        break;
      case NodeKind::kCompare:
        op->kind = Op::kCompare;
        op->op = n.op;
        break;
      case NodeKind::kCall:
        if (UpperAscii(n.text) == "INRANGE") {
          if (n.children.size() != 3) {
            return Fail(n.position, "INRANGE necesita tres argumentos (valor, desde, hasta)");
          }
          op->kind = Op::kInRange;
        } else if (const Procedure* p = bindings_.FindProcedure(n.text)) {
          op->kind = Op::kProcedure;
          op->procedure = p;
        } else {
          Cell cell;
          if (bindings_.FindField(n.text, &cell) || bindings_.FindVariable(n.text, &cell)) {
            return Fail(n.position, "'" + n.text + "' no es una función");
          }
          return Fail(n.position, "función desconocida '" + n.text + "'");
        }
        break;
    }
    op->kids.resize(n.children.size());
    for (size_t i = 0; i < n.children.size(); ++i) {
      if (!Compile(*n.children[i], &op->kids[i])) return false;
    }
    return true;
  }

  // Points the constants at their own storage (after every move is done).
  static void Fix(Op& op) {
    if (op.kind == Op::kConst && op.constant.is_text) op.constant.text = op.storage;
    for (Op& k : op.kids) Fix(k);
  }

 private:
  bool Fail(int position, std::string_view what) {
    error_->position = position;
    error_->message = ErrorText(position, what);
    return false;
  }
  const Bindings& bindings_;
  Error* error_;
};

}  // namespace

Expression::Expression() = default;
Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::Compile(std::string_view text, const Bindings& bindings,
                                                Error* error) {
  Error local;
  Error* e = error ? error : &local;
  *e = Error{};
  auto tree = Parse(text, e);
  if (!tree) return nullptr;
  auto root = std::make_unique<Op>();
  Compiler compiler(bindings, e);
  if (!compiler.Compile(*tree, root.get())) return nullptr;
  Compiler::Fix(*root);
  std::unique_ptr<Expression> x(new Expression);
  x->text_ = std::string(text);
  x->tree_ = std::move(tree);
  x->root_ = std::move(root);
  return x;
}

bool Expression::Matches() {
  return Test(*root_);
}

Value Expression::Evaluate() {
  return ToValue(Eval(*root_));
}

}  // namespace nv::expr
