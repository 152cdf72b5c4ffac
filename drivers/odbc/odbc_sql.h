// SQL text of the ODBC driver: connection strings (and hiding their
// password), names, the statement pieces of a key (order lists, position
// template), the printer of filter expressions and the scanner of statements
// sent by the program. Everything here is pure text work, no ODBC call.
//
// Values never enter SQL text: every value of a file operation is a "?"
// parameter. Filter constants are parameters too unless literals are asked
// for (BINDCONSTANTS false); literals are then quoted so that no text can end
// the literal early. Names that come from declarations are quoted or checked
// so that a name cannot carry SQL of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/expr.h"

namespace odbc {

// --- Connection strings.

// Owner "dsn,user,password,rest" -> "DSN=dsn;UID=user;PWD=password;rest";
// an owner naming DSN= or DRIVER= is used as it is.
std::string ConnectionString(std::string_view owner);
// Splits the owner at its first three commas.
void SplitOwner(std::string_view owner, std::string* dsn, std::string* user,
                std::string* password, std::string* rest);
// The text with the value of every PWD= (any case, braced or not) replaced
// by "********", and every other occurrence of the passwords of `secrets`
// replaced too (a password may come back in another form: error texts, a
// completed connection string).
std::string HidePasswords(std::string_view text, const std::vector<std::string>& secrets = {});
// The passwords a connection string or owner holds.
std::vector<std::string> PasswordsOf(std::string_view owner);

// --- Names.

// A declared table name as written into statements: a plain name is
// upper-cased and quoted; one already quoted or qualified (with '.') is used
// as it stands when it is made only of names, dots and quoted names; anything
// else is quoted whole, inner quotes doubled.
std::string TableName(std::string_view declared);
// An identifier quoted with double quotes (inner quotes doubled).
std::string QuoteName(std::string_view name);
// A column or index name from a declaration: its external name up to `cut`
// ('|' for fields, '/' for keys), else the label with ':' made '_'. Empty when
// the result is not a plain identifier (the caller refuses with 79).
std::string ColumnName(std::string_view external, std::string_view label, char cut);

// --- Key statements.

struct KeyColumn {
  std::string column;
  bool descending = false;
};
std::string OrderList(const std::vector<KeyColumn>& key, bool forward);
// The position condition with operators filled in for the direction.
std::string PositionCondition(const std::vector<KeyColumn>& key, bool forward);
// "a = ? AND b = ?"
std::string EqualityCondition(const std::vector<KeyColumn>& key);

// --- Filter expressions.

// A constant bound as a parameter.
struct SqlParam {
  enum Kind { kText, kNumber, kDate, kTime } kind = kText;
  std::string text;
  double number = 0;
  int32_t value = 0;  // day number or time
};

struct SqlDialect {
  bool bind_constants = true;
  bool has_ucase = true;  // string-function bit 0x1000
  bool has_lcase = true;  // string-function bit 0x40
};

// The type a field callback answers for a date kept as three columns and
// written as the number yyyymmdd ("(Y*10000+M*100+D)"): day numbers
// compared with it are written the same way.
inline constexpr uint8_t kTypeYmdDate = 251;

// How the printer learns what a name is: a field (its column and type), or
// a variable (its value).
struct SqlNames {
  std::function<bool(const std::string& label, std::string* column, uint8_t* type)> field;
  std::function<bool(const std::string& name, nv::expr::Scalar* value)> variable;
};

// Prints a filter tree as SQL; false with a Spanish message when the tree
// holds what SQL cannot say (an unknown name or function).
bool PrintFilter(const nv::expr::Node& tree, const SqlDialect& dialect, const SqlNames& names,
                 std::string* sql, std::vector<SqlParam>* params, std::string* error);
// Literal forms.
std::string TextLiteral(std::string_view text);
std::string DateLiteral(int32_t day_number);
std::string TimeLiteral(int32_t time);

// --- Statements sent by the program.

struct ScannedStatement {
  std::string sql;                     // as sent to the server
  std::vector<std::string> variables;  // the &names, in "?" order
  bool returns_rows = false;           // SELECT or CALL
  bool call = false;
};
// Scans a statement; false with a Spanish message for an unterminated
// literal or a CALL without a procedure name.
bool ScanStatement(std::string_view text, bool odbc_call, ScannedStatement* out,
                   std::string* error);

}  // namespace odbc
