// The key expression generator, compiler and evaluator (key_expr.h).
#include "drivers/dbase3/key_expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace db3 {

// ---------------------------------------------------------------------------
// Generation.

int GenerateKeyExpression(const std::vector<KeyComponent>& components, bool no_case,
                          std::string* expr, char* type) {
  if (components.empty()) return 76;
  const bool single = components.size() == 1;
  const char first = components[0].field->type;
  char key_type = first;
  if (!single || (no_case && first == 'C')) key_type = 'C';
  std::string out;
  bool any_string = false;
  for (size_t i = 0; i < components.size(); ++i) {
    const TableField& f = *components[i].field;
    if (f.type == 'C') any_string = true;
    std::string part;
    if (f.type == key_type) {
      part = f.name;
    } else if (key_type == 'C' && f.type == 'D') {
      part = "DTOS(" + f.name + ")";
    } else if (key_type == 'C' && f.type == 'N') {
      // Shifted so that negative numbers sort first.
      const int digits = f.decimals ? f.length - f.decimals - 1 : f.length;
      part = "STR(" + f.name + "+ 1" + std::string(size_t(std::max(0, digits)), '0') + "," +
             std::to_string(f.length + 1) + "," + std::to_string(f.decimals) + ")";
    } else if (key_type == 'D' && f.type == 'C') {
      part = "CTOD(" + f.name + ")";
    } else if (key_type == 'N' && f.type == 'C') {
      part = "VAL(" + f.name + ")";
    } else if (key_type == 'N' && f.type == 'F') {
      part = "FIXED(" + f.name + ")";
    } else if (key_type == 'F' && f.type == 'N') {
      part = "FLOAT(" + f.name + ")";
    } else {
      return 76;
    }
    if (i) out += "+";
    out += part;
  }
  if (no_case && (!single || any_string)) out = "UPPER(" + out + ")";
  if (out.size() >= 255) return 76;
  *expr = out;
  *type = key_type == 'F' ? 'N' : key_type;
  return 0;
}

// ---------------------------------------------------------------------------
// Dates and numbers.

double JulianFromYmd(int y, int m, int d) {
  const int a = (14 - m) / 12;
  const int yy = y + 4800 - a;
  const int mm = m + 12 * a - 3;
  return double(d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045);
}

bool YmdFromJulian(double jd, int* y, int* m, int* d) {
  if (!(jd >= 1721426 && jd <= 5373484)) return false;  // years 1 to 9999
  const long j = long(jd);
  const long a = j + 32044;
  const long b = (4 * a + 3) / 146097;
  const long c = a - 146097 * b / 4;
  const long dd = (4 * c + 3) / 1461;
  const long e = c - 1461 * dd / 4;
  const long mo = (5 * e + 2) / 153;
  *d = int(e - (153 * mo + 2) / 5 + 1);
  *m = int(mo + 3 - 12 * (mo / 10));
  *y = int(100 * b + dd - 4800 + mo / 10);
  return true;
}

double JulianFromText(const std::string& t) {
  if (t.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(t[size_t(i)]))) return 0;
    v[i] = t[size_t(i)] - '0';
  }
  const int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int m = v[4] * 10 + v[5], d = v[6] * 10 + v[7];
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
  return JulianFromYmd(y, m, d);
}

std::string NumberText(double v, int length, int decimals) {
  if (length <= 0) return {};
  char buf[400];
  if (!std::isfinite(v)) v = 0;
  int n = std::snprintf(buf, sizeof buf, "%*.*f", length, decimals, v);
  if (n < 0 || n > length) return std::string(size_t(length), '*');
  return std::string(buf, size_t(n));
}

double ParseNumber(const char* p, size_t n) {
  char buf[64];
  size_t k = 0;
  for (size_t i = 0; i < n && k + 1 < sizeof buf; ++i) {
    if (p[i] != ' ' && p[i] != '\0') buf[k++] = p[i] == ',' ? '.' : p[i];
  }
  buf[k] = '\0';
  if (k == 0) return 0;
  char* end = nullptr;
  const double d = std::strtod(buf, &end);
  return std::isfinite(d) ? d : 0;
}

// ---------------------------------------------------------------------------
// The compiler: a small tree of nodes.

enum class Fn {
  kField, kNumber, kString, kPlus, kMinus, kNot,
  kDtoc, kLeft, kRight, kStr, kSubstr, kCtod, kDtos, kFixed, kFloat, kVal,
  kUpper, kLower, kLtrim, kRtrim, kAlltrim, kRecno, kIif, kDeleted,
};

class CompiledExpr {
 public:
  Fn fn = Fn::kNumber;
  const TableField* field = nullptr;
  Value literal;
  std::vector<std::unique_ptr<CompiledExpr>> args;
};

void FreeExpr(CompiledExpr* e) {
  delete e;
}

namespace {

struct FnName {
  const char* name;
  Fn fn;
  int min_args, max_args;
};
const FnName kFunctions[] = {
    {"DTOC", Fn::kDtoc, 1, 1},     {"LEFT", Fn::kLeft, 2, 2},     {"RIGHT", Fn::kRight, 2, 2},
    {"STR", Fn::kStr, 1, 3},       {"SUBSTR", Fn::kSubstr, 2, 3}, {"CTOD", Fn::kCtod, 1, 1},
    {"DTOS", Fn::kDtos, 1, 1},     {"FIXED", Fn::kFixed, 1, 1},   {"FLOAT", Fn::kFloat, 1, 1},
    {"VAL", Fn::kVal, 1, 1},       {"UPPER", Fn::kUpper, 1, 1},   {"LOWER", Fn::kLower, 1, 1},
    {"LTRIM", Fn::kLtrim, 1, 1},   {"RTRIM", Fn::kRtrim, 1, 1},   {"ALLTRIM", Fn::kAlltrim, 1, 1},
    {"TRIM", Fn::kRtrim, 1, 1},    {"RECNO", Fn::kRecno, 0, 0},   {"IIF", Fn::kIif, 3, 3},
    {"DELETED", Fn::kDeleted, 0, 0},
};

class Parser {
 public:
  Parser(const std::string& s, const std::vector<TableField>& f) : s_(s), fields_(f) {}
  bool Parse(std::unique_ptr<CompiledExpr>* out) {
    if (!Sum(out)) return false;
    Blanks();
    return pos_ == s_.size();
  }

 private:
  void Blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool Eat(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Sum(std::unique_ptr<CompiledExpr>* out) {
    if (++depth_ > 64) return false;
    std::unique_ptr<CompiledExpr> left;
    if (!Unary(&left)) return false;
    for (;;) {
      Fn op;
      if (Eat('+')) op = Fn::kPlus;
      else if (Eat('-')) op = Fn::kMinus;
      else break;
      std::unique_ptr<CompiledExpr> right;
      if (!Unary(&right)) return false;
      auto n = std::make_unique<CompiledExpr>();
      n->fn = op;
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    --depth_;
    *out = std::move(left);
    return true;
  }
  bool Unary(std::unique_ptr<CompiledExpr>* out) {
    Blanks();
    if (s_.compare(pos_, 5, ".NOT.") == 0 || s_.compare(pos_, 5, ".not.") == 0) {
      pos_ += 5;
      auto n = std::make_unique<CompiledExpr>();
      n->fn = Fn::kNot;
      n->args.emplace_back();
      if (++depth_ > 64 || !Unary(&n->args[0])) return false;
      --depth_;
      *out = std::move(n);
      return true;
    }
    return Primary(out);
  }
  bool Primary(std::unique_ptr<CompiledExpr>* out) {
    Blanks();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    auto n = std::make_unique<CompiledExpr>();
    if (c == '(') {
      ++pos_;
      if (!Sum(out)) return false;
      return Eat(')');
    }
    if (c == '"' || c == '\'') {
      const size_t end = s_.find(c, pos_ + 1);
      if (end == std::string::npos) return false;
      n->fn = Fn::kString;
      n->literal.type = 'C';
      n->literal.text = s_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
      *out = std::move(n);
      return true;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      size_t start = pos_;
      while (pos_ < s_.size() &&
             (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.'))
        ++pos_;
      n->fn = Fn::kNumber;
      n->literal.type = 'N';
      n->literal.number = ParseNumber(s_.data() + start, pos_ - start);
      *out = std::move(n);
      return true;
    }
    if (!std::isalpha(static_cast<unsigned char>(c)) && c != '_') return false;
    size_t start = pos_;
    while (pos_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
      ++pos_;
    std::string name = s_.substr(start, pos_ - start);
    for (char& ch : name) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    if (Eat('(')) {
      const FnName* fn = nullptr;
      for (const FnName& f : kFunctions)
        if (name == f.name) fn = &f;
      if (!fn) return false;
      n->fn = fn->fn;
      Blanks();
      if (!Eat(')')) {
        do {
          std::unique_ptr<CompiledExpr> a;
          if (!Sum(&a)) return false;
          n->args.push_back(std::move(a));
        } while (Eat(','));
        if (!Eat(')')) return false;
      }
      if (int(n->args.size()) < fn->min_args || int(n->args.size()) > fn->max_args) return false;
      *out = std::move(n);
      return true;
    }
    for (const TableField& f : fields_) {
      if (f.name == name) {
        n->fn = Fn::kField;
        n->field = &f;
        *out = std::move(n);
        return true;
      }
    }
    return false;
  }

  const std::string& s_;
  const std::vector<TableField>& fields_;
  size_t pos_ = 0;
  int depth_ = 0;
};

std::string Trimmed(const std::string& s, bool left, bool right) {
  size_t a = 0, b = s.size();
  if (left)
    while (a < b && s[a] == ' ') ++a;
  if (right)
    while (b > a && s[b - 1] == ' ') --b;
  return s.substr(a, b - a);
}

std::string DateText(double jd) {
  int y, m, d;
  if (jd == 0 || !YmdFromJulian(jd, &y, &m, &d)) return std::string(8, ' ');
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

int Eval(const CompiledExpr& e, const uint8_t* rec, uint32_t recno, Value* out, int depth) {
  if (depth > 128) return -207;
  std::vector<Value> a(e.args.size());
  for (size_t i = 0; i < e.args.size(); ++i) {
    if (e.fn == Fn::kIif && i > 0) break;  // only the chosen branch is evaluated
    if (int err = Eval(*e.args[i], rec, recno, &a[i], depth + 1)) return err;
  }
  auto num = [&](size_t i) { return a[i].type == 'N' ? a[i].number : 0.0; };
  Value v;
  switch (e.fn) {
    case Fn::kField: {
      const TableField& f = *e.field;
      const char* p = reinterpret_cast<const char*>(rec + f.offset);
      v.type = f.type == 'M' ? 'C' : f.type == 'F' ? 'N' : f.type;
      if (v.type == 'C') {
        v.text.assign(p, f.length);
      } else if (v.type == 'N') {
        v.number = ParseNumber(p, f.length);
      } else if (v.type == 'D') {
        v.number = JulianFromText(std::string(p, f.length));
      } else {
        v.logical = std::strchr("TtYy", p[0]) != nullptr && p[0] != '\0';
      }
      break;
    }
    case Fn::kNumber:
    case Fn::kString:
      v = e.literal;
      break;
    case Fn::kPlus:
    case Fn::kMinus:
      if (a[0].type == 'C' && a[1].type == 'C' && e.fn == Fn::kPlus) {
        v.text = a[0].text + a[1].text;
      } else if (a[0].type == 'N' && a[1].type == 'N') {
        v.type = 'N';
        v.number = e.fn == Fn::kPlus ? a[0].number + a[1].number : a[0].number - a[1].number;
      } else if (a[0].type == 'D' && a[1].type == 'N') {
        v.type = 'D';
        v.number = a[0].number + (e.fn == Fn::kPlus ? a[1].number : -a[1].number);
      } else if (a[0].type == 'D' && a[1].type == 'D' && e.fn == Fn::kMinus) {
        v.type = 'N';
        v.number = a[0].number - a[1].number;
      } else {
        return -207;
      }
      break;
    case Fn::kNot:
      if (a[0].type != 'L') return -207;
      v.type = 'L';
      v.logical = !a[0].logical;
      break;
    case Fn::kDtoc: {
      if (a[0].type != 'D') return -207;
      const std::string t = DateText(a[0].number);
      v.text = t[0] == ' ' ? "  /  /  " : t.substr(4, 2) + "/" + t.substr(6, 2) + "/" + t.substr(2, 2);
      break;
    }
    case Fn::kDtos:
      if (a[0].type != 'D') return -207;
      v.text = DateText(a[0].number);
      break;
    case Fn::kCtod: {
      if (a[0].type != 'C') return -207;
      v.type = 'D';
      const std::string t = Trimmed(a[0].text, true, true);
      int m = 0, d = 0, y = 0;
      if (t.size() == 8 && t.find('/') == std::string::npos) {
        v.number = JulianFromText(t);
      } else if (std::sscanf(t.c_str(), "%d/%d/%d", &m, &d, &y) == 3 && m >= 1 && m <= 12 &&
                 d >= 1 && d <= 31) {
        if (y < 100) y += 1900;
        v.number = JulianFromYmd(y, m, d);
      }
      break;
    }
    case Fn::kLeft:
    case Fn::kRight:
    case Fn::kSubstr: {
      if (a[0].type != 'C' || a[1].type != 'N') return -207;
      const std::string& s = a[0].text;
      long n = long(num(1));
      if (e.fn == Fn::kLeft) {
        v.text = s.substr(0, size_t(std::clamp(n, 0L, long(s.size()))));
      } else if (e.fn == Fn::kRight) {
        n = std::clamp(n, 0L, long(s.size()));
        v.text = s.substr(s.size() - size_t(n));
      } else {
        const long start = std::clamp(n, 1L, long(s.size()) + 1) - 1;
        long len = a.size() > 2 ? long(num(2)) : long(s.size());
        len = std::clamp(len, 0L, long(s.size()) - start);
        v.text = s.substr(size_t(start), size_t(len));
      }
      break;
    }
    case Fn::kStr: {
      if (a[0].type != 'N') return -207;
      const int len = a.size() > 1 ? int(std::clamp(num(1), 1.0, 255.0)) : 10;
      const int dec = a.size() > 2 ? int(std::clamp(num(2), 0.0, 15.0)) : 0;
      v.text = NumberText(a[0].number, len, dec);
      break;
    }
    case Fn::kFixed:
    case Fn::kFloat:
      if (a[0].type != 'N') return -207;
      v = a[0];
      break;
    case Fn::kVal:
      if (a[0].type != 'C') return -207;
      v.type = 'N';
      v.number = ParseNumber(a[0].text.data(), a[0].text.size());
      break;
    case Fn::kUpper:
    case Fn::kLower:
      if (a[0].type != 'C') return -207;
      v.text = a[0].text;
      for (char& c : v.text)
        c = char(e.fn == Fn::kUpper ? std::toupper(static_cast<unsigned char>(c))
                                    : std::tolower(static_cast<unsigned char>(c)));
      break;
    case Fn::kLtrim:
    case Fn::kRtrim:
    case Fn::kAlltrim:
      if (a[0].type != 'C') return -207;
      v.text = Trimmed(a[0].text, e.fn != Fn::kRtrim, e.fn != Fn::kLtrim);
      break;
    case Fn::kRecno:
      v.type = 'N';
      v.number = recno;
      break;
    case Fn::kDeleted:
      v.type = 'L';
      v.logical = rec[0] == '*';
      break;
    case Fn::kIif: {
      if (a[0].type != 'L') return -207;
      return Eval(*e.args[a[0].logical ? 1 : 2], rec, recno, out, depth + 1);
    }
  }
  *out = std::move(v);
  return 0;
}

}  // namespace

int CompileExpr(const std::string& text, const std::vector<TableField>& fields, ExprPtr* out) {
  Parser p(text, fields);
  std::unique_ptr<CompiledExpr> e;
  if (text.empty() || !p.Parse(&e) || !e) return -207;
  out->reset(e.release());
  return 0;
}

int EvalExpr(const CompiledExpr& e, const uint8_t* record, uint32_t record_number, Value* out) {
  return Eval(e, record, record_number, out, 0);
}

std::vector<uint8_t> ProbeRecord(const std::vector<TableField>& fields, uint32_t record_length) {
  std::vector<uint8_t> r(record_length, ' ');
  for (const TableField& f : fields) {
    if (f.offset + f.length > record_length) continue;
    std::string t;
    switch (f.type) {
      case 'C': t.assign(f.length, 'A'); break;
      case 'D': t = "19640820"; break;
      case 'N':
      case 'F': t = NumberText(1.0, f.length, f.decimals); break;
      case 'L': t = "T"; break;
      default: t.assign(f.length, ' '); break;
    }
    t.resize(f.length, ' ');
    std::memcpy(r.data() + f.offset, t.data(), f.length);
  }
  return r;
}

}  // namespace db3
