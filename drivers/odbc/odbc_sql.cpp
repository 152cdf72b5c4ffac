// SQL text of the ODBC driver (see odbc_sql.h).
#include "drivers/odbc/odbc_sql.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/runtime/date_time.h"
#include "host/runtime/fixed_string.h"

namespace odbc {

namespace {

std::string UpperAscii(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return u;
}

bool IdentChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#';
}

bool PlainIdentifier(std::string_view s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (!IdentChar(c)) return false;
  return true;
}

}  // namespace

void SplitOwner(std::string_view owner, std::string* dsn, std::string* user,
                std::string* password, std::string* rest) {
  std::string* parts[] = {dsn, user, password};
  for (std::string* p : parts) p->clear();
  rest->clear();
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    size_t comma = owner.find(',', pos);
    if (comma == std::string_view::npos) {
      *parts[i] = std::string(owner.substr(pos));
      return;
    }
    *parts[i] = std::string(owner.substr(pos, comma - pos));
    pos = comma + 1;
  }
  *rest = std::string(owner.substr(pos));
}

std::string ConnectionString(std::string_view owner) {
  const std::string up = UpperAscii(owner);
  if (up.find("DSN=") != std::string::npos || up.find("DRIVER=") != std::string::npos)
    return std::string(owner);
  std::string dsn, user, password, rest;
  SplitOwner(owner, &dsn, &user, &password, &rest);
  std::string s = dsn.empty() ? ";" : "DSN=" + dsn;
  auto piece = [&](const char* key, const std::string& v) {
    if (v.empty()) return;
    if (!s.empty() && s.back() != ';') s += ';';
    s += key;
    s += v;
  };
  piece("UID=", user);
  piece("PWD=", password);
  piece("", rest);
  return s;
}

namespace {

// End of the value of a connection-string attribute starting at `at`: a
// braced value runs to its closing brace ("}}" stands for one), any other to
// the next ';'.
size_t ValueEnd(std::string_view s, size_t at) {
  if (at < s.size() && s[at] == '{') {
    size_t i = at + 1;
    while (i < s.size()) {
      if (s[i] == '}') {
        if (i + 1 < s.size() && s[i + 1] == '}') {
          i += 2;
          continue;
        }
        return i + 1;
      }
      ++i;
    }
    return s.size();
  }
  size_t semi = s.find(';', at);
  return semi == std::string_view::npos ? s.size() : semi;
}

std::string Unbrace(std::string_view v) {
  if (v.size() >= 2 && v.front() == '{' && v.back() == '}') {
    std::string out;
    for (size_t i = 1; i + 1 < v.size(); ++i) {
      out += v[i];
      if (v[i] == '}' && i + 2 < v.size() && v[i + 1] == '}') ++i;
    }
    return out;
  }
  return std::string(v);
}

// Start of each "PWD=" (or "PASSWORD=") that begins an attribute.
template <class F>
void ForEachPassword(std::string_view s, F f) {
  const std::string up = UpperAscii(s);
  for (const char* key : {"PWD=", "PASSWORD="}) {
    size_t from = 0;
    const size_t n = std::char_traits<char>::length(key);
    while ((from = up.find(key, from)) != std::string::npos) {
      size_t b = from;
      while (b > 0 && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
      if (b == 0 || s[b - 1] == ';') f(from + n);
      from += n;
    }
  }
}

}  // namespace

std::vector<std::string> PasswordsOf(std::string_view owner) {
  std::vector<std::string> out;
  const std::string cs = ConnectionString(owner);
  ForEachPassword(cs, [&](size_t at) {
    std::string v = Unbrace(std::string_view(cs).substr(at, ValueEnd(cs, at) - at));
    if (!v.empty()) out.push_back(v);
  });
  return out;
}

std::string HidePasswords(std::string_view text, const std::vector<std::string>& secrets) {
  std::string s(text);
  std::vector<std::pair<size_t, size_t>> spans;
  ForEachPassword(s, [&](size_t at) { spans.push_back({at, ValueEnd(s, at)}); });
  std::sort(spans.begin(), spans.end());
  for (auto it = spans.rbegin(); it != spans.rend(); ++it)
    s.replace(it->first, it->second - it->first, "********");
  // A password of one or two characters would blank out ordinary words; it
  // is hidden wherever it follows PWD= above.
  for (const std::string& p : secrets) {
    if (p.size() < 3) continue;
    size_t at = 0;
    while ((at = s.find(p, at)) != std::string::npos) s.replace(at, p.size(), "********");
  }
  return s;
}

std::string QuoteName(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '\0') continue;
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

namespace {

// A name made of plain or quoted parts separated by dots.
bool QualifiedName(std::string_view s) {
  size_t i = 0;
  for (;;) {
    if (i < s.size() && s[i] == '"') {
      ++i;
      for (;;) {
        if (i >= s.size()) return false;
        if (s[i] == '\0') return false;
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
    } else {
      size_t b = i;
      while (i < s.size() && IdentChar(s[i])) ++i;
      if (i == b) return false;
    }
    if (i == s.size()) return true;
    if (s[i] != '.') return false;
    ++i;
  }
}

}  // namespace

std::string TableName(std::string_view declared) {
  if ((!declared.empty() && declared[0] == '"') || declared.find('.') != std::string_view::npos) {
    if (QualifiedName(declared)) return std::string(declared);
    return QuoteName(declared);
  }
  return QuoteName(UpperAscii(declared));
}

std::string ColumnName(std::string_view external, std::string_view label, char cut) {
  std::string name;
  size_t bar = external.find(cut);
  std::string ext(external.substr(0, bar));
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  if (!ext.empty()) {
    name = ext;
  } else {
    name = std::string(label);
    for (char& c : name)
      if (c == ':') c = '_';
  }
  return PlainIdentifier(name) ? name : std::string();
}

std::string OrderList(const std::vector<KeyColumn>& key, bool forward) {
  std::string s;
  for (size_t i = 0; i < key.size(); ++i) {
    const bool desc = key[i].descending == forward;
    const bool last = i + 1 == key.size();
    s += key[i].column;
    if (desc)
      s += last ? " DESC " : " DESC,";
    else if (!last)
      s += ",";
  }
  return s;
}

std::string PositionCondition(const std::vector<KeyColumn>& key, bool forward) {
  std::string s = " (";
  for (size_t i = 0; i < key.size(); ++i) {
    const bool up = key[i].descending != forward;  // ascending in this scan
    const char* ge = up ? ">=" : "<=";
    const char* gt = up ? ">" : "<";
    const std::string& c = key[i].column;
    if (i + 1 < key.size()) {
      s += c + " " + ge + " ? AND (" + c + " " + gt + " ? OR (";
    } else {
      s += c + " " + ge + " ?";
    }
  }
  s += " ";
  for (size_t i = 0; i + 1 < key.size(); ++i) s += "))";
  s += ")";
  return s;
}

std::string EqualityCondition(const std::vector<KeyColumn>& key) {
  std::string s;
  for (size_t i = 0; i < key.size(); ++i) {
    if (i) s += " AND ";
    s += key[i].column + " = ?";
  }
  return s;
}

std::string TextLiteral(std::string_view text) {
  std::string s = "'";
  for (char c : text) {
    if (c == '\0') continue;  // a zero byte cannot travel inside a literal
    if (c == '\'') s += '\'';
    s += c;
  }
  return s + "'";
}

std::string DateLiteral(int32_t day_number) {
  int y = 0, m = 0, d = 0;
  if (day_number == 0 || !nv::YmdFromDate(day_number, &y, &m, &d)) return "NULL";
  char buf[40];
  std::snprintf(buf, sizeof buf, "{d '%d-%.2d-%.2d'}", y, m, d);
  return buf;
}

std::string TimeLiteral(int32_t time) {
  int h = 0, mi = 0, s = 0, hu = 0;
  if (time == 0 || !nv::HmsFromTime(time, &h, &mi, &s, &hu)) return "NULL";
  char buf[40];
  std::snprintf(buf, sizeof buf, "{t '%.2d:%.2d:%.2d'}", h, mi, s);
  return buf;
}

namespace {

using nv::expr::Node;
using nv::expr::NodeKind;

class SqlPrinter : public nv::expr::Visitor {
 public:
  SqlPrinter(const SqlDialect& d, const SqlNames& n, std::vector<SqlParam>* p)
      : dialect_(d), names_(n), params_(p) {}

  std::string out;
  std::string error;

  void Field(const Node& n) override { Name(n); }
  void Name(const Node& n) override {
    std::string column;
    uint8_t type = 0;
    if (names_.field && names_.field(n.text, &column, &type)) {
      out += column;
      last_type_ = type;
      return;
    }
    nv::expr::Scalar v;
    if (names_.variable && names_.variable(n.text, &v)) {
      if (v.is_text)
        Text(std::string(nv::Clip(v.text)));
      else
        Constant(v.number, n.text);
      return;
    }
    Fail("nombre desconocido en el filtro: " + n.text);
  }
  void String(const Node& n) override { Text(n.text); }
  void Number(const Node& n) override { Constant(n.number, n.text); }
  void Not(const Node& n) override {
    out += "NOT (";
    Accept(*n.children[0], *this);
    out += ")";
  }
  void And(const Node& n) override { Binary(n, " AND "); }
  void Or(const Node& n) override { Binary(n, " OR "); }
  void Compare(const Node& n) override {
    // A number compared with a date or time column is a day number or a time.
    out += "(";
    last_type_ = 0;
    Accept(*n.children[0], *this);
    const uint8_t left = last_type_;
    out += std::string(" ") + nv::expr::CompareOpText(n.op) + " ";
    context_type_ = left;
    last_type_ = 0;
    Accept(*n.children[1], *this);
    context_type_ = 0;
    out += ")";
  }
  void Call(const Node& n) override {
    const std::string f = UpperAscii(n.text);
    if (f == "INRANGE" && n.children.size() == 3) {
      out += "(";
      last_type_ = 0;
      Accept(*n.children[0], *this);
      const uint8_t t = last_type_;
      context_type_ = t;
      out += " >= ";
      Accept(*n.children[1], *this);
      out += " AND ";
      Accept(*n.children[0], *this);
      context_type_ = t;
      out += " <= ";
      Accept(*n.children[2], *this);
      context_type_ = 0;
      out += ")";
      return;
    }
    if ((f == "UPPER" || f == "LOWER") && n.children.size() == 1) {
      const bool has = f == "UPPER" ? dialect_.has_ucase : dialect_.has_lcase;
      if (has) out += f == "UPPER" ? "{fn UCASE(" : "{fn LCASE(";
      Accept(*n.children[0], *this);
      if (has) out += ")}";
      return;
    }
    Fail("función que el servidor no conoce en el filtro: " + n.text);
  }

 private:
  void Binary(const Node& n, const char* op) {
    out += "(";
    Accept(*n.children[0], *this);
    out += op;
    Accept(*n.children[1], *this);
    out += ")";
  }
  void Text(const std::string& text) {
    if (dialect_.bind_constants) {
      out += "?";
      SqlParam p;
      p.kind = SqlParam::kText;
      p.text = text;
      params_->push_back(p);
    } else {
      out += TextLiteral(text);
    }
  }
  void Constant(double v, const std::string& given) {
    std::string digits = given;
    if (context_type_ == kTypeYmdDate) {
      // A day number against a date kept as year, month and day columns.
      int y = 0, m = 0, d = 0;
      v = v != 0 && nv::YmdFromDate(int32_t(v), &y, &m, &d) ? y * 10000.0 + m * 100 + d : 0;
      digits.clear();
    }
    const bool date = context_type_ == nv::kTypeDate;
    const bool time = context_type_ == nv::kTypeTime;
    if (dialect_.bind_constants) {
      out += "?";
      SqlParam p;
      p.kind = date ? SqlParam::kDate : time ? SqlParam::kTime : SqlParam::kNumber;
      p.number = v;
      p.value = int32_t(v);
      params_->push_back(p);
      return;
    }
    if (date) {
      out += DateLiteral(int32_t(v));
    } else if (time) {
      out += TimeLiteral(int32_t(v));
    } else {
      // Digits as the program wrote them, or the value written out.
      bool plain = !digits.empty();
      for (char c : digits)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-')) plain = false;
      if (plain) {
        out += digits;
      } else if (std::isfinite(v)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", v);
        out += buf;
      } else {
        out += "NULL";
      }
    }
  }
  void Fail(const std::string& e) {
    if (error.empty()) error = e;
  }

  const SqlDialect& dialect_;
  const SqlNames& names_;
  std::vector<SqlParam>* params_;
  uint8_t last_type_ = 0;
  uint8_t context_type_ = 0;
};

}  // namespace

bool PrintFilter(const Node& tree, const SqlDialect& dialect, const SqlNames& names,
                 std::string* sql, std::vector<SqlParam>* params, std::string* error) {
  params->clear();
  SqlPrinter p(dialect, names, params);
  Accept(tree, p);
  if (!p.error.empty()) {
    *error = p.error;
    params->clear();
    return false;
  }
  *sql = p.out;
  return true;
}

bool ScanStatement(std::string_view text, bool odbc_call, ScannedStatement* out,
                   std::string* error) {
  *out = ScannedStatement{};
  // The text as the server gets it (variables made "?"), with the tokens'
  // places in it: literals and spacing stay as the program wrote them.
  std::string sql;
  std::vector<std::pair<size_t, size_t>> tokens;  // begin, end in sql
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (blank(c)) {
      sql += c;
      ++i;
      continue;
    }
    const size_t begin = sql.size();
    if (c == '\'') {
      size_t j = i + 1;
      for (;;) {
        if (j >= text.size()) {
          *error = "Texto sin comilla de cierre en la sentencia";
          return false;
        }
        if (text[j] == '\'') {
          if (j + 1 < text.size() && text[j + 1] == '\'') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      sql.append(text.substr(i, j + 1 - i));
      i = j + 1;
    } else if (c == '(' || c == ')' || c == ',' || c == '=') {
      sql += c;
      ++i;
    } else if (c == '&') {
      size_t j = i + 1;
      while (j < text.size() && (IdentChar(text[j]) || text[j] == ':')) ++j;
      out->variables.emplace_back(text.substr(i + 1, j - i - 1));
      sql += '?';
      i = j;
    } else {
      size_t j = i;
      while (j < text.size() && !blank(text[j]) && text[j] != '(' && text[j] != ')' &&
             text[j] != ',' && text[j] != '=' && text[j] != '\'' && text[j] != '&')
        ++j;
      sql.append(text.substr(i, j - i));
      i = j;
    }
    tokens.push_back({begin, sql.size()});
  }
  if (tokens.empty()) {
    *error = "Sentencia vacía";
    return false;
  }
  auto tok = [&](size_t k) { return sql.substr(tokens[k].first, tokens[k].second - tokens[k].first); };
  // "? = CALL proc(...)": a variable receives the return value.
  size_t at = 0;
  bool returns_value = false;
  if (tokens.size() >= 3 && tok(0) == "?" && tok(1) == "=") {
    returns_value = true;
    at = 2;
  }
  const std::string first = UpperAscii(tok(at));
  if (first == "CALL" || first == "NORESULTCALL") {
    out->call = true;
    out->returns_rows = first == "CALL";
    if (at + 1 >= tokens.size()) {
      *error = "Falta el nombre del procedimiento en CALL";
      return false;
    }
    std::string args = sql.substr(tokens[at + 1].second);
    while (!args.empty() && blank(args.back())) args.pop_back();
    size_t lead = 0;
    while (lead < args.size() && blank(args[lead])) ++lead;
    args = args.substr(lead);
    if (args.empty() || args[0] != '(') args = args.empty() ? "()" : args + " ()";
    const std::string call = "CALL " + tok(at + 1) + args;
    if (odbc_call)
      out->sql = std::string(returns_value ? "{? = " : "{") + call + "}";
    else
      out->sql = (returns_value ? "? = " : "") + call;
    return true;
  }
  out->returns_rows = first == "SELECT";
  out->sql = sql;
  return true;
}

}  // namespace odbc
