// Record-type descriptors built from record declarations.
#include "host/runtime/declaration.h"

#include <cctype>

#include "host/runtime/driver_interface.h"

namespace nv {

const char* TypeName(uint8_t type) {
  switch (type) {
    case kTypeByte: return "BYTE";
    case kTypeShort: return "SHORT";
    case kTypeUShort: return "USHORT";
    case kTypeDate: return "DATE";
    case kTypeTime: return "TIME";
    case kTypeLong: return "LONG";
    case kTypeULong: return "ULONG";
    case kTypeSReal: return "SREAL";
    case kTypeReal: return "REAL";
    case kTypeDecimal: return "DECIMAL";
    case kTypePDecimal: return "PDECIMAL";
    case kTypeBFloat4: return "BFLOAT4";
    case kTypeBFloat8: return "BFLOAT8";
    case kTypeString: return "STRING";
    case kTypeCString: return "CSTRING";
    case kTypePString: return "PSTRING";
    case kTypeMemo: return "MEMO";
    case kTypeGroup: return "GROUP";
    case kTypeBlob: return "BLOB";
    default: return "UNKNOWN";
  }
}

uint32_t FieldDesc::Elements() const {
  uint32_t n = 1;
  for (int i = 0; i < ndims; ++i) n *= dims[i] ? dims[i] : 1;
  return n;
}

const FieldDesc* RecordType::Field(int n) const {
  if (n < 1 || size_t(n) >= fields.size()) return nullptr;
  return &fields[size_t(n)];
}

namespace {
bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}
}  // namespace

int RecordType::FindField(std::string_view label) const {
  for (size_t i = 1; i < fields.size(); ++i) {
    if (EqualNoCase(fields[i].label, label)) return int(i);
  }
  return 0;
}

std::shared_ptr<const RecordType> MakeRecordType(std::string_view prefix, uint32_t length,
                                                 std::initializer_list<FieldSpec> specs) {
  auto rt = std::make_shared<RecordType>();
  rt->prefix = std::string(prefix);
  rt->length = length;
  FieldDesc record;
  record.label = std::string(prefix);
  record.type = kTypeGroup;
  record.size = length;
  record.span = uint16_t(specs.size());
  rt->fields.push_back(std::move(record));
  for (const FieldSpec& s : specs) {
    FieldDesc f;
    f.label = prefix.empty() ? s.member : std::string(prefix) + ":" + s.member;
    f.name = s.options.name ? s.options.name : "";
    f.comment = s.options.comment ? s.options.comment : "";
    f.picture = s.options.picture ? s.options.picture : "";
    f.type = s.type;
    f.places = s.places;
    f.ndims = s.ndims;
    for (int i = 0; i < 4; ++i) f.dims[i] = s.dims[i];
    f.offset = s.offset;
    f.size = s.size;
    f.span = s.options.span;
    f.over = s.options.over;
    rt->fields.push_back(std::move(f));
  }
  return rt;
}

std::string StrDescText(const StrDesc& d) { return MakeCString(d.addr, d.len); }

}  // namespace nv
