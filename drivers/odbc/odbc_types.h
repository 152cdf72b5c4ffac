// Field values between the record buffer and ODBC's C buffers: the C type
// and SQL type of each field type, buffer widths, and the conversions in both
// directions with the null rules.
//
// Texts are Windows-1252 in records and UTF-8 on the server: every character
// value is converted at this edge (a 1252 byte takes at most 3 UTF-8 bytes).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>

#include "host/runtime/declaration.h"

namespace odbc {

// Field attributes from the external name's '|' list.
enum FieldAttr : uint32_t {
  kAttrBinary = 1u << 0,
  kAttrNoWhere = 1u << 1,
  kAttrReadOnly = 1u << 2,
  kAttrWritable = 1u << 3,
  kAttrZeroNotNull = 1u << 4,
};
uint32_t ParseFieldAttributes(std::string_view external);

// What a value needs on its way: field shape and the server's column.
struct ValueShape {
  uint8_t type = 0;       // runtime field type
  uint32_t size = 0;      // bytes in the record
  uint8_t places = 0;     // packed decimals
  bool timestamp = false; // fixed string of a timestamp pair
  uint32_t attrs = 0;     // FieldAttr
  SQLSMALLINT sql_type = 0;  // 0: not described
  SQLULEN column_size = 0;
  SQLSMALLINT decimals = 0;
};

struct ConvRules {
  bool clip_strings = true;
  bool zero_is_null = true;
  bool odbc1 = false;
};

// C type for the field; 0 when none (a 32-bit unsigned on an ODBC 1 driver).
SQLSMALLINT CTypeOf(const ValueShape& f, const ConvRules& r);
// SQL type assumed when the server did not describe the column.
SQLSMALLINT AssumedSqlType(const ValueShape& f);
// Column size and digits to bind a parameter with.
SQLULEN ParamSize(const ValueShape& f);
// Bytes of one value in the C buffer.
uint32_t BufferWidth(const ValueShape& f);
// The type of a column in CREATE TABLE.
std::string ColumnTypeSql(const ValueShape& f);
// Name of a C type for the ODBC log.
std::string CTypeName(SQLSMALLINT c_type);

// Result columns of the integer types are read as 64-bit integers and
// checked against the field's range: a value the field cannot hold is an
// error, never a wrapped number (some drivers wrap silently).
SQLSMALLINT ReadCType(const ValueShape& f, const ConvRules& r);
uint32_t ReadWidth(const ValueShape& f, const ConvRules& r);
bool IntegerField(uint8_t type);

// Record field -> C buffer. *ind is -1 for null, else the length (or 0 for
// fixed-size types). `null` is the field's null indicator (-1 null).
void ToBuffer(const ValueShape& f, const ConvRules& r, const uint8_t* field, int32_t null,
              char* buf, SQLLEN* ind);
// C buffer (of ReadCType) -> record field; answers the field's new null indicator (-1 when
// null, else 0), or false in *ok when the value does not fit the field.
int32_t FromBuffer(const ValueShape& f, const char* buf, SQLLEN ind, uint8_t* field, bool* ok);

}  // namespace odbc
