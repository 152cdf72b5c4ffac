// Field values between records and ODBC buffers (see odbc_types.h).
#include "drivers/odbc/odbc_types.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/fixed_string.h"

namespace odbc {

uint32_t ParseFieldAttributes(std::string_view external) {
  uint32_t a = 0;
  size_t bar = external.find('|');
  while (bar != std::string_view::npos) {
    size_t next = external.find('|', bar + 1);
    std::string w(external.substr(bar + 1, next == std::string_view::npos ? next : next - bar - 1));
    w = nv::Upper(nv::Clip(w));
    if (w == "BINARY") a |= kAttrBinary;
    if (w == "NOWHERE") a |= kAttrNoWhere;
    if (w == "READONLY") a |= kAttrReadOnly;
    if (w == "WRITABLE") a |= kAttrWritable;
    if (w == "ZERONOTNULL") a |= kAttrZeroNotNull;
    bar = next;
  }
  return a;
}

namespace {

bool CharColumn(SQLSMALLINT t) {
  return t == 0 || t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == -8 ||
         t == -9 || t == -10;  // and the wide forms a Unicode driver reports
}

// Characters a text field holds (without the length byte or terminator).
uint32_t TextRoom(const ValueShape& f) {
  switch (f.type) {
    case nv::kTypeCString:
    case nv::kTypePString:
      return f.size > 0 ? f.size - 1 : 0;
    default:
      return f.size;
  }
}

}  // namespace

SQLSMALLINT CTypeOf(const ValueShape& f, const ConvRules& r) {
  switch (f.type) {
    case nv::kTypeByte: return r.odbc1 ? SQL_C_TINYINT : SQL_C_UTINYINT;
    case nv::kTypeShort: return r.odbc1 ? SQL_C_SHORT : SQL_C_SSHORT;
    case nv::kTypeUShort: return r.odbc1 ? SQL_C_LONG : SQL_C_USHORT;
    case nv::kTypeDate: return SQL_C_DATE;
    case nv::kTypeTime: return SQL_C_TIME;
    case nv::kTypeLong: return r.odbc1 ? SQL_C_LONG : SQL_C_SLONG;
    case nv::kTypeULong: return r.odbc1 ? 0 : SQL_C_ULONG;
    case nv::kTypeSReal: return SQL_C_FLOAT;
    case nv::kTypeReal:
    case nv::kTypeBFloat4:
    case nv::kTypeBFloat8: return SQL_C_DOUBLE;
    case nv::kTypeDecimal:
    case nv::kTypePDecimal:
    case nv::kTypeCString:
    case nv::kTypePString: return SQL_C_CHAR;
    case nv::kTypeString:
      if (f.timestamp) return SQL_C_TIMESTAMP;
      return CharColumn(f.sql_type) && !(f.attrs & kAttrBinary) ? SQL_C_CHAR : SQL_C_BINARY;
    default: return 0;
  }
}

SQLSMALLINT AssumedSqlType(const ValueShape& f) {
  switch (f.type) {
    case nv::kTypeByte: return SQL_TINYINT;
    case nv::kTypeShort:
    case nv::kTypeUShort: return SQL_SMALLINT;
    case nv::kTypeDate: return SQL_DATE;
    case nv::kTypeTime: return SQL_TIME;
    case nv::kTypeLong:
    case nv::kTypeULong: return SQL_INTEGER;
    case nv::kTypeSReal: return SQL_REAL;
    case nv::kTypeReal:
    case nv::kTypeBFloat4:
    case nv::kTypeBFloat8: return SQL_DOUBLE;
    case nv::kTypeDecimal: return SQL_DECIMAL;
    case nv::kTypePDecimal: return SQL_NUMERIC;
    case nv::kTypeString: return f.timestamp ? SQL_TIMESTAMP : SQL_CHAR;
    default: return SQL_VARCHAR;
  }
}

SQLULEN ParamSize(const ValueShape& f) {
  if (f.column_size) return f.column_size;
  switch (f.type) {
    case nv::kTypeDecimal:
    case nv::kTypePDecimal: return 2 * f.size - 1;
    case nv::kTypeString: return f.timestamp ? 22 : f.size;
    case nv::kTypeCString:
    case nv::kTypePString: return std::max<uint32_t>(1, TextRoom(f));
    default: return 0;
  }
}

uint32_t BufferWidth(const ValueShape& f) {
  switch (f.type) {
    case nv::kTypeDate:
    case nv::kTypeTime: return 6;
    case nv::kTypeDecimal:
    case nv::kTypePDecimal: return uint32_t(2 * f.size - 1 + f.places + 5);
    case nv::kTypeBFloat4:
    case nv::kTypeBFloat8:
    case nv::kTypeReal: return 8;
    case nv::kTypeString:
      if (f.timestamp) return 16;
      if (CTypeOf(f, {}) == SQL_C_BINARY) return f.size;
      return f.size * 3 + 1;
    case nv::kTypeCString:
    case nv::kTypePString: return TextRoom(f) * 3 + 1;
    case nv::kTypeShort:
    case nv::kTypeUShort: return 2;
    case nv::kTypeByte: return 1;
    default: return 4;
  }
}

std::string ColumnTypeSql(const ValueShape& f) {
  switch (f.type) {
    case nv::kTypeByte:
    case nv::kTypeShort: return "SMALLINT";
    case nv::kTypeUShort:
    case nv::kTypeLong: return "INTEGER";
    case nv::kTypeULong: return "BIGINT";
    case nv::kTypeSReal: return "REAL";
    case nv::kTypeReal:
    case nv::kTypeBFloat4:
    case nv::kTypeBFloat8: return "DOUBLE PRECISION";
    case nv::kTypeDecimal:
    case nv::kTypePDecimal:
      return "NUMERIC(" + std::to_string(2 * f.size - 1) + "," + std::to_string(f.places) + ")";
    case nv::kTypeDate: return "DATE";
    case nv::kTypeTime: return "TIME";
    case nv::kTypeString:
      if (f.timestamp) return "TIMESTAMP";
      return "VARCHAR(" + std::to_string(f.size) + ")";
    default: return "VARCHAR(" + std::to_string(std::max<uint32_t>(1, TextRoom(f))) + ")";
  }
}

std::string CTypeName(SQLSMALLINT t) {
  switch (t) {
    case 1: return "CHAR";
    case 4: return "LONG";
    case 5: return "SHORT";
    case 7: return "FLOAT";
    case 8: return "DOUBLE";
    case 9: return "DATE";
    case 10: return "TIME";
    case 11: return "TIMESTAMP";
    case -2: return "BINARY";
    case -6: return "TINYINT";
    case -7: return "BIT";
    case -15: return "SSHORT";
    case -16: return "SLONG";
    case -17: return "USHORT";
    case -18: return "ULONG";
    case -28: return "UTINYINT";
    default: return std::to_string(t);
  }
}

bool IntegerField(uint8_t type) {
  switch (type) {
    case nv::kTypeByte: case nv::kTypeShort: case nv::kTypeUShort: case nv::kTypeLong:
    case nv::kTypeULong:
      return true;
    default:
      return false;
  }
}

SQLSMALLINT ReadCType(const ValueShape& f, const ConvRules& r) {
  if (IntegerField(f.type) && !r.odbc1) return SQL_C_SBIGINT;
  return CTypeOf(f, r);
}

uint32_t ReadWidth(const ValueShape& f, const ConvRules& r) {
  if (IntegerField(f.type) && !r.odbc1) return 8;
  return BufferWidth(f);
}

namespace {

bool AllBytes(const uint8_t* p, size_t n, uint8_t b) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != b) return false;
  return true;
}

void PutText(std::string_view ansi, char* buf, SQLLEN* ind) {
  const std::string u = nv::Utf8FromAnsi(ansi);
  std::memcpy(buf, u.data(), u.size());
  buf[u.size()] = '\0';
  *ind = SQLLEN(u.size());
}

// The text of a character buffer, as 1252 bytes.
std::string GetText(const char* buf, SQLLEN ind, uint32_t width) {
  size_t n = ind < 0 ? 0 : size_t(ind);
  if (n >= width) n = width - 1;  // a longer value was cut by the driver
  return nv::AnsiFromUtf8(std::string_view(buf, n));
}

}  // namespace

void ToBuffer(const ValueShape& f, const ConvRules& r, const uint8_t* p, int32_t null, char* buf,
              SQLLEN* ind) {
  const bool zero_null = r.zero_is_null && !(f.attrs & kAttrZeroNotNull);
  *ind = 0;
  if (null == -1) {
    *ind = SQL_NULL_DATA;
    return;
  }
  switch (f.type) {
    case nv::kTypeDate: {
      nv::BinDate d;
      std::memcpy(&d, p, 4);
      if (zero_null && AllBytes(p, 4, 0)) {
        *ind = SQL_NULL_DATA;
        return;
      }
      DATE_STRUCT s{SQLSMALLINT(d.year), d.month, d.day};
      std::memcpy(buf, &s, sizeof s);
      return;
    }
    case nv::kTypeTime: {
      nv::BinTime t;
      std::memcpy(&t, p, 4);
      if (zero_null && AllBytes(p, 4, 0)) {
        *ind = SQL_NULL_DATA;
        return;
      }
      TIME_STRUCT s{t.hours, t.minutes, t.seconds};
      std::memcpy(buf, &s, sizeof s);
      return;
    }
    case nv::kTypeDecimal:
    case nv::kTypePDecimal:
      PutText(nv::DecimalToText(p, f.size, f.places), buf, ind);
      return;
    case nv::kTypeString: {
      if (f.timestamp) {
        if (zero_null && (AllBytes(p, 8, 0) || AllBytes(p, 8, ' '))) {
          *ind = SQL_NULL_DATA;
          return;
        }
        nv::BinDate d;
        nv::BinTime t;
        std::memcpy(&d, p, 4);
        std::memcpy(&t, p + 4, 4);
        TIMESTAMP_STRUCT s{};
        s.year = SQLSMALLINT(d.year);
        s.month = d.month;
        s.day = d.day;
        s.hour = t.hours;
        s.minute = t.minutes;
        if (f.column_size == 0 || f.column_size > 16) s.second = t.seconds;
        if (f.column_size == 0 || f.column_size >= 20) s.fraction = SQLUINTEGER(t.hundredths) * 10000000u;
        std::memcpy(buf, &s, sizeof s);
        return;
      }
      if (CTypeOf(f, r) == SQL_C_BINARY) {
        std::memcpy(buf, p, f.size);
        *ind = SQLLEN(f.size);
        return;
      }
      std::string_view v(reinterpret_cast<const char*>(p), f.size);
      if (r.clip_strings) v = nv::Clip(v);
      PutText(v, buf, ind);
      return;
    }
    case nv::kTypeCString: {
      const char* s = reinterpret_cast<const char*>(p);
      const void* z = std::memchr(s, 0, f.size);
      const size_t n = z ? size_t(static_cast<const char*>(z) - s) : f.size;
      PutText(std::string_view(s, n), buf, ind);
      return;
    }
    case nv::kTypePString: {
      const size_t n = std::min<size_t>(p[0], TextRoom(f));
      PutText(std::string_view(reinterpret_cast<const char*>(p + 1), n), buf, ind);
      return;
    }
    case nv::kTypeBFloat4: {
      float v;
      std::memcpy(&v, p, 4);
      double d = v;
      std::memcpy(buf, &d, 8);
      return;
    }
    default:  // integers and floats travel as they are stored
      std::memcpy(buf, p, f.size);
      return;
  }
}

int32_t FromBuffer(const ValueShape& f, const char* buf, SQLLEN ind, uint8_t* p, bool* ok) {
  *ok = true;
  const uint32_t width = BufferWidth(f);
  if (IntegerField(f.type) && ind != SQL_NULL_DATA) {
    int64_t v;
    std::memcpy(&v, buf, 8);
    int64_t lo = 0, hi = 0;
    switch (f.type) {
      case nv::kTypeByte: hi = 255; break;
      case nv::kTypeShort: lo = INT16_MIN; hi = INT16_MAX; break;
      case nv::kTypeUShort: hi = UINT16_MAX; break;
      case nv::kTypeLong: lo = INT32_MIN; hi = INT32_MAX; break;
      default: hi = UINT32_MAX; break;
    }
    if (v < lo || v > hi) {
      *ok = false;
      v = 0;
    }
    const uint32_t u = uint32_t(v);
    std::memcpy(p, &u, f.size);  // little-endian: the low bytes
    return 0;
  }
  if (ind == SQL_NULL_DATA) {
    switch (f.type) {
      case nv::kTypeString:
        std::memset(p, f.timestamp ? 0 : ' ', f.size);
        break;
      case nv::kTypePString:
        p[0] = 0;
        std::memset(p + 1, ' ', f.size - 1);
        break;
      default:
        std::memset(p, 0, f.size);
    }
    return -1;
  }
  switch (f.type) {
    case nv::kTypeDate: {
      DATE_STRUCT s;
      std::memcpy(&s, buf, sizeof s);
      nv::BinDate d{uint8_t(s.day), uint8_t(s.month), uint16_t(s.year)};
      std::memcpy(p, &d, 4);
      return 0;
    }
    case nv::kTypeTime: {
      TIME_STRUCT s;
      std::memcpy(&s, buf, sizeof s);
      nv::BinTime t{0, uint8_t(s.second), uint8_t(s.minute), uint8_t(s.hour)};
      std::memcpy(p, &t, 4);
      return 0;
    }
    case nv::kTypeDecimal:
    case nv::kTypePDecimal: {
      std::string text = GetText(buf, ind, width);
      if (!nv::DecimalFromText(nv::Clip(text), p, f.size, f.places)) {
        std::memset(p, 0, f.size);
        *ok = false;
      }
      return 0;
    }
    case nv::kTypeString: {
      if (f.timestamp) {
        TIMESTAMP_STRUCT s;
        std::memcpy(&s, buf, sizeof s);
        nv::BinDate d{uint8_t(s.day), uint8_t(s.month), uint16_t(s.year)};
        nv::BinTime t{uint8_t(s.fraction / 10000000u), uint8_t(s.second), uint8_t(s.minute),
                      uint8_t(s.hour)};
        if (f.column_size != 0 && f.column_size <= 16) t.seconds = t.hundredths = 0;
        if (f.column_size != 0 && f.column_size < 20) t.hundredths = 0;
        std::memcpy(p, &d, 4);
        std::memcpy(p + 4, &t, 4);
        return 0;
      }
      if (BufferWidth(f) == f.size && CTypeOf(f, {}) == SQL_C_BINARY) {
        const size_t n = std::min<size_t>(ind < 0 ? 0 : size_t(ind), f.size);
        std::memcpy(p, buf, n);
        std::memset(p + n, ' ', f.size - n);
        return 0;
      }
      const std::string text = GetText(buf, ind, width);
      nv::AssignPadded(reinterpret_cast<char*>(p), f.size, text);
      return 0;
    }
    case nv::kTypeCString: {
      std::string text = GetText(buf, ind, width);
      text.resize(std::min<size_t>(text.size(), TextRoom(f)));
      std::memset(p, 0, f.size);
      std::memcpy(p, text.data(), text.size());
      return 0;
    }
    case nv::kTypePString: {
      std::string text = GetText(buf, ind, width);
      text.resize(std::min<size_t>(text.size(), TextRoom(f)));
      p[0] = uint8_t(text.size());
      std::memset(p + 1, 0, f.size - 1);
      std::memcpy(p + 1, text.data(), text.size());
      return 0;
    }
    case nv::kTypeBFloat4: {
      double d;
      std::memcpy(&d, buf, 8);
      float v = float(d);
      std::memcpy(p, &v, 4);
      return 0;
    }
    default:
      std::memcpy(p, buf, f.size);
      return 0;
  }
}

}  // namespace odbc
