// CLEAR of a record buffer, field by field.
#include <cstring>
#include <limits>

#include "host/runtime/declaration.h"

namespace nv {
namespace {

template <class T>
void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

template <class T>
void FillNumber(uint8_t* p, uint32_t count, int fill) {
  T v = fill > 0 ? std::numeric_limits<T>::max()
                 : (fill < 0 ? std::numeric_limits<T>::lowest() : T(0));
  for (uint32_t i = 0; i < count; ++i) Store(p + i * sizeof(T), v);
}

void ClearElement(const FieldDesc& f, uint8_t* p, uint32_t elem, int fill) {
  switch (f.type) {
    case kTypeString:
    case kTypeCString:
    case kTypePString:
      if (fill == 0) {
        if (f.type == kTypeString) std::memset(p, ' ', elem);
        else std::memset(p, 0, elem);
      } else {
        std::memset(p, fill > 0 ? 0xFF : 0x00, elem);
      }
      break;
    case kTypeDecimal:
    case kTypePDecimal:
      if (fill == 0) {
        std::memset(p, 0, elem);
      } else {
        // Largest magnitude, positive (sign nibble 0) or negative (0xF).
        std::memset(p, 0x99, elem);
        p[0] = fill > 0 ? 0x09 : 0xF9;
      }
      break;
    case kTypeShort: FillNumber<int16_t>(p, elem / 2, fill); break;
    case kTypeUShort: FillNumber<uint16_t>(p, elem / 2, fill); break;
    case kTypeLong: FillNumber<int32_t>(p, elem / 4, fill); break;
    case kTypeULong: FillNumber<uint32_t>(p, elem / 4, fill); break;
    case kTypeSReal: FillNumber<float>(p, elem / 4, fill); break;
    case kTypeReal: FillNumber<double>(p, elem / 8, fill); break;
    default: std::memset(p, fill > 0 ? 0xFF : 0x00, elem); break;
  }
}

}  // namespace

void ClearRecord(const RecordType& type, uint8_t* record, int fill) {
  if (record == nullptr) return;
  std::memset(record, fill > 0 ? 0xFF : 0, type.length);
  // Groups are cleared through their fields; fields over others are skipped
  // so that the field they overlay keeps its clear value.
  for (size_t i = 1; i < type.fields.size(); ++i) {
    const FieldDesc& f = type.fields[i];
    if (f.type == kTypeGroup) {
      if (f.over) i += f.span;
      continue;
    }
    if (f.over || f.offset + f.size > type.length) continue;
    uint32_t n = f.Elements();
    uint32_t elem = f.size / (n ? n : 1);
    for (uint32_t e = 0; e < n; ++e) ClearElement(f, record + f.offset + e * elem, elem, fill);
  }
}

void ClearMemo(char* buffer, uint32_t size, int fill) {
  if (buffer == nullptr) return;
  std::memset(buffer, fill == 0 ? ' ' : (fill > 0 ? 0xFF : 0x00), size);
}

}  // namespace nv
