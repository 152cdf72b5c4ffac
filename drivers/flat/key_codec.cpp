// Key value encoding, key descriptors and key file names (see key_codec.h).
#include "drivers/flat/key_codec.h"

#include <algorithm>
#include <cstring>

#include "host/runtime/codepage.h"
#include "host/runtime/fixed_string.h"

namespace flat {

uint16_t KeySpec::key_length() const {
  unsigned n = 0;
  for (const KeyComponent& c : components) n += c.size;
  return uint16_t(n > 0xFFFF ? 0xFFFF : n);
}

uint8_t KeySpec::stored_attributes() const {
  uint8_t a = 0;
  if (dup || index) a |= kAttrDup;
  if (nocase) a |= kAttrNoCase;
  if (!optional) a |= kAttrRequired;
  if (index) a |= kAttrIndex;
  return a;
}

int KeySpec::Validate(int max_length) const {
  if (components.empty()) return kErrKeyTooLong;
  unsigned n = 0;
  for (const KeyComponent& c : components) {
    if (c.size == 0) return kErrKeyTooLong;
    n += c.size;
  }
  return n > unsigned(max_length) ? kErrKeyTooLong : 0;
}

uint8_t Collate(uint8_t byte, bool oem) {
  return oem ? nv::AnsiToOem(byte) : byte;
}

void EncodeComponent(const KeyComponent& c, bool nocase, bool oem, const uint8_t* field,
                     uint8_t* out) {
  const size_t n = c.size;
  switch (c.stored_type) {
    case kStoredShort:
    case kStoredLong:
      // Little-endian two's complement to big-endian with the sign flipped.
      for (size_t i = 0; i < n; ++i) out[i] = field[n - 1 - i];
      if (n > 0) out[0] ^= 0x80;
      break;
    case kStoredReal:
      if (n > 0 && (field[n - 1] & 0x80)) {
        for (size_t i = 0; i < n; ++i) out[i] = uint8_t(~field[n - 1 - i]);
      } else {
        for (size_t i = 0; i < n; ++i) out[i] = field[n - 1 - i];
        if (n > 0) out[0] = uint8_t(out[0] - 128);
      }
      break;
    case kStoredDecimal:
      if (n > 0 && (field[0] & 0x80)) {
        for (size_t i = 0; i < n; ++i) out[i] = uint8_t(~field[i]);
      } else {
        std::memcpy(out, field, n);
        if (n > 0) out[0] |= 0x80;
      }
      break;
    case kStoredString:
    case kStoredPictureString:
    case kStoredGroup:
      for (size_t i = 0; i < n; ++i) {
        uint8_t b = field[i];
        if (nocase) b = uint8_t(nv::UpperChar(char(b)));
        out[i] = Collate(b, oem);
      }
      break;
    case kStoredByte:
    default:
      std::memcpy(out, field, n);
      break;
  }
  if (c.descending)
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(~out[i]);
}

bool ComponentIsNull(const KeyComponent& c, const uint8_t* field) {
  const size_t n = c.size;
  switch (c.stored_type) {
    case kStoredReal:
      if (n == 8) {
        double d;
        std::memcpy(&d, field, 8);
        return d == 0.0;
      }
      break;
    case kStoredString:
    case kStoredPictureString:
    case kStoredGroup:
      for (size_t i = 0; i < n; ++i) {
        if (field[i] == 0) return true;
        if (field[i] != ' ') return false;
      }
      return true;
    default:
      break;
  }
  for (size_t i = 0; i < n; ++i)
    if (field[i] != 0) return false;
  return true;
}

bool EncodeKey(const KeySpec& shape, const uint8_t* record, uint8_t* out) {
  bool all_null = true;
  for (const KeyComponent& c : shape.components) {
    const uint8_t* field = record + c.offset;
    EncodeComponent(c, shape.nocase, shape.oem, field, out);
    if (shape.optional && all_null && !ComponentIsNull(c, field)) all_null = false;
    out += c.size;
  }
  return !(shape.optional && all_null);
}

bool ComponentsDecodable(const std::vector<KeyComponent>& components, bool nocase, bool oem) {
  if (!nocase && !oem) return true;
  for (const KeyComponent& c : components) {
    if (c.stored_type == kStoredString || c.stored_type == kStoredPictureString ||
        c.stored_type == kStoredGroup)
      return false;
  }
  return true;
}

void DecodeComponents(const std::vector<KeyComponent>& components, const uint8_t* value,
                      uint8_t* record) {
  uint8_t in[kKeyBufferSize];
  for (const KeyComponent& c : components) {
    const size_t n = std::min<size_t>(c.size, sizeof in);
    uint8_t* field = record + c.offset;
    for (size_t i = 0; i < n; ++i) in[i] = c.descending ? uint8_t(~value[i]) : value[i];
    value += c.size;
    switch (c.stored_type) {
      case kStoredShort:
      case kStoredLong:
        if (n > 0) in[0] ^= 0x80;
        for (size_t i = 0; i < n; ++i) field[i] = in[n - 1 - i];
        break;
      case kStoredReal:
        // A set top bit was a positive number's sign byte less 128.
        if (n > 0 && (in[0] & 0x80)) {
          in[0] = uint8_t(in[0] + 128);
          for (size_t i = 0; i < n; ++i) field[i] = in[n - 1 - i];
        } else {
          for (size_t i = 0; i < n; ++i) field[i] = uint8_t(~in[n - 1 - i]);
        }
        break;
      case kStoredDecimal:
        if (n > 0 && (in[0] & 0x80)) {
          std::memcpy(field, in, n);
          field[0] &= 0x7F;
        } else {
          for (size_t i = 0; i < n; ++i) field[i] = uint8_t(~in[i]);
        }
        break;
      default:
        std::memcpy(field, in, n);
        break;
    }
  }
}

std::string EncodeKeyDescriptor(const KeySpec& shape) {
  std::string d(19 + 6 * shape.components.size(), '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(d.data());
  p[0] = uint8_t(shape.components.size());
  for (int i = 0; i < 16; ++i) p[1 + i] = i < int(shape.name.size()) ? uint8_t(shape.name[i]) : ' ';
  p[17] = shape.stored_attributes();
  p[18] = uint8_t(shape.key_length());
  uint8_t* q = p + 19;
  for (const KeyComponent& c : shape.components) {
    q[0] = c.stored_type;
    q[1] = uint8_t(c.field_number);
    q[2] = uint8_t(c.field_number >> 8);
    q[3] = uint8_t(c.offset);
    q[4] = uint8_t(c.offset >> 8);
    q[5] = uint8_t(c.size);
    q += 6;
  }
  return d;
}

bool DecodeKeyDescriptor(const uint8_t* p, size_t n, KeySpec* shape, size_t* used) {
  if (n < 19) return false;
  size_t count = p[0];
  size_t total = 19 + 6 * count;
  if (n < total) return false;
  KeySpec s;
  std::string name(reinterpret_cast<const char*>(p + 1), 16);
  s.name = std::string(nv::Clip(name));
  uint8_t a = p[17];
  s.index = (a & kAttrIndex) != 0;
  s.dup = (a & kAttrDup) != 0 && !s.index;
  s.nocase = (a & kAttrNoCase) != 0;
  s.optional = (a & kAttrRequired) == 0;
  const uint8_t* q = p + 19;
  for (size_t i = 0; i < count; ++i, q += 6) {
    KeyComponent c;
    c.stored_type = q[0];
    c.field_number = uint16_t(q[1] | q[2] << 8);
    c.offset = uint16_t(q[3] | q[4] << 8);
    c.size = q[5];
    s.components.push_back(c);
  }
  if (s.key_length() != p[18]) return false;
  *shape = std::move(s);
  if (used) *used = total;
  return true;
}

std::string ReplaceExtension(const std::string& data_path, const std::string& ext) {
  size_t slash = data_path.find_last_of("/\\");
  size_t dot = data_path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    return data_path.substr(0, dot) + ext;
  return data_path + ext;
}

std::string KeyFileName(const std::string& data_path, int n, bool index) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  if (n < 0) n = 0;
  std::string ext = index ? ".I" : ".K";
  ext += char('0' + n / 36);
  ext += kDigits[n % 36];
  return ReplaceExtension(data_path, ext);
}

}  // namespace flat
