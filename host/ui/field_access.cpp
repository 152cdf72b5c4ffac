#include "host/ui/field_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"

namespace nv::ui {

namespace {

template <class T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
bool StoreInt(uint8_t* p, int64_t v) {
  if (v < int64_t(std::numeric_limits<T>::min()) || v > int64_t(std::numeric_limits<T>::max()))
    return false;
  T t = T(v);
  std::memcpy(p, &t, sizeof t);
  return true;
}

}  // namespace

nv::Value ReadField(const FieldDesc& f, const uint8_t* record) {
  const uint8_t* p = record + f.offset;
  switch (f.type) {
    case kTypeByte:
      return nv::Value(int(p[0]));
    case kTypeShort:
      return nv::Value(int(Load<int16_t>(p)));
    case kTypeUShort:
      return nv::Value(int(Load<uint16_t>(p)));
    case kTypeLong:
      return nv::Value(long(Load<int32_t>(p)));
    case kTypeULong:
      return nv::Value(long(Load<uint32_t>(p)));
    case kTypeSReal:
      return nv::Value(double(Load<float>(p)));
    case kTypeReal:
      return nv::Value(Load<double>(p));
    case kTypeDate:
      return nv::Value(long(DateFromBin(Load<BinDate>(p))));
    case kTypeTime:
      return nv::Value(long(TimeFromBin(Load<BinTime>(p))));
    case kTypeDecimal:
    case kTypePDecimal: {
      if (!DecimalIsValid(p, f.size)) return nv::Value(0);
      if (f.places == 0) {
        int64_t scaled = 0;
        if (DecimalToScaled(p, f.size, &scaled)) return nv::Value(long(scaled));
      }
      return nv::Value(DecimalToDouble(p, f.size, f.places));
    }
    case kTypeCString: {
      const char* s = reinterpret_cast<const char*>(p);
      return nv::Value(std::string_view(s, strnlen(s, f.size)));
    }
    case kTypePString: {
      size_t n = f.size ? std::min<size_t>(p[0], f.size - 1) : 0;
      return nv::Value(std::string_view(reinterpret_cast<const char*>(p + 1), n));
    }
    default:
      return nv::Value(std::string_view(reinterpret_cast<const char*>(p), f.size));
  }
}

bool WriteField(const FieldDesc& f, uint8_t* record, const nv::Value& v) {
  uint8_t* p = record + f.offset;
  auto as_int = [&](int64_t* out) {
    if (v.kind == nv::Value::Kind::kInteger) {
      *out = v.integer;
      return true;
    }
    double d = v.AsNumber();
    if (!std::isfinite(d) || std::fabs(d) > 9.2e18) return false;
    *out = int64_t(std::llround(d));
    return true;
  };
  int64_t i = 0;
  switch (f.type) {
    case kTypeByte:
      return as_int(&i) && StoreInt<uint8_t>(p, i);
    case kTypeShort:
      return as_int(&i) && StoreInt<int16_t>(p, i);
    case kTypeUShort:
      return as_int(&i) && StoreInt<uint16_t>(p, i);
    case kTypeLong:
      return as_int(&i) && StoreInt<int32_t>(p, i);
    case kTypeULong:
      return as_int(&i) && StoreInt<uint32_t>(p, i);
    case kTypeSReal: {
      float x = float(v.AsNumber());
      std::memcpy(p, &x, 4);
      return true;
    }
    case kTypeReal: {
      double x = v.AsNumber();
      std::memcpy(p, &x, 8);
      return true;
    }
    case kTypeDate: {
      if (!as_int(&i) || i < 0 || i > std::numeric_limits<int32_t>::max()) return false;
      BinDate b = BinFromDate(int32_t(i));
      std::memcpy(p, &b, 4);
      return true;
    }
    case kTypeTime: {
      if (!as_int(&i) || i < 0 || i > 8640000) return false;
      BinTime b = BinFromTime(int32_t(i));
      std::memcpy(p, &b, 4);
      return true;
    }
    case kTypeDecimal:
    case kTypePDecimal:
      if (v.kind == nv::Value::Kind::kInteger)
        return DecimalFromInt64(v.integer, p, f.size, f.places);
      return DecimalFromDouble(v.AsNumber(), p, f.size, f.places);
    case kTypeString: {
      AssignPadded(reinterpret_cast<char*>(p), f.size, v.AsText());
      return true;
    }
    case kTypeCString: {
      if (f.size == 0) return false;
      std::string t = v.AsText();
      size_t n = std::min(t.size(), size_t(f.size - 1));
      std::memset(p, 0, f.size);
      std::memcpy(p, t.data(), n);
      return true;
    }
    case kTypePString: {
      if (f.size == 0) return false;
      std::string t = v.AsText();
      size_t n = std::min(std::min(t.size(), size_t(f.size - 1)), size_t(255));
      std::memset(p, ' ', f.size);
      p[0] = uint8_t(n);
      std::memcpy(p + 1, t.data(), n);
      return true;
    }
    default:
      return false;
  }
}

const FieldDesc* FindField(nv::File& file, std::string_view label) {
  const RecordType* rt = file.decl().record.get();
  if (!rt) return nullptr;
  return rt->Field(rt->FindField(label));
}

nv::Value GetField(nv::File& file, std::string_view label) {
  const FieldDesc* f = FindField(file, label);
  return f ? ReadField(*f, file.record()) : nv::Value();
}

bool SetField(nv::File& file, std::string_view label, const nv::Value& value) {
  const FieldDesc* f = FindField(file, label);
  return f && WriteField(*f, file.record(), value);
}

int CompareValues(const nv::Value& a, const nv::Value& b, bool no_case) {
  if (a.IsText() || b.IsText()) {
    std::string sa = a.AsText(), sb = b.AsText();
    return no_case ? CompareClipped(Upper(sa), Upper(sb)) : CompareClipped(sa, sb);
  }
  if (a.kind == nv::Value::Kind::kInteger && b.kind == nv::Value::Kind::kInteger)
    return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
  double x = a.AsNumber(), y = b.AsNumber();
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace nv::ui
