// Key values of the flat driver: how a key is described (KeySpec), how its
// value is encoded from a record buffer so that plain unsigned byte order is
// key order, the key descriptor kept in the data file, and the key file name.
//
// Encoding, component after component, each in its field size:
//   one-byte unsigned (stored 5)     the byte
//   16/32-bit signed (stored 6/1)    big-endian with the top bit inverted
//   8-byte float (stored 2)          negative: the 8 bytes reversed and each
//                                    inverted; else reversed with 128 taken
//                                    from the first (sign) byte
//   packed decimal (stored 8)        top bit of the first byte set: every
//                                    byte inverted; else the first byte with
//                                    its top bit set, the rest unchanged
//   string (stored 3/4), group (7)   the bytes, upper-cased (nv::UpperChar)
//                                    for case-insensitive keys, then mapped
//                                    through the collation
// A descending component has every byte of its encoding inverted, so that
// plain byte order still gives key order.
//
// Collation: a byte map over the record buffer's (ANSI) bytes. For ANSI
// files it is the identity; for OEM files it maps each byte to its OEM code
// page byte, so the key values of an OEM file hold OEM bytes, as the stored
// records do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flat {

// Errors of the key layer.
inline constexpr int kErrNoMemory = 8;
inline constexpr int kErrDuplicateKey = 40;
inline constexpr int kErrKeysMustBeRebuilt = 46;
inline constexpr int kErrKeyTooLong = 88;
inline constexpr int kErrBuildReport = 329;

inline constexpr int kMaxKeyLength = 245;
inline constexpr int kKeyBufferSize = 250;
inline constexpr int kPageSize = 512;
inline constexpr int kPageHeaderSize = 13;
inline constexpr int kKeyHeaderSize = 35;

// Stored field types (as in the data file's field descriptors).
inline constexpr uint8_t kStoredLong = 1;
inline constexpr uint8_t kStoredReal = 2;
inline constexpr uint8_t kStoredString = 3;
inline constexpr uint8_t kStoredPictureString = 4;
inline constexpr uint8_t kStoredByte = 5;
inline constexpr uint8_t kStoredShort = 6;
inline constexpr uint8_t kStoredGroup = 7;
inline constexpr uint8_t kStoredDecimal = 8;

// Stored attribute bits (key descriptor and key header).
inline constexpr uint8_t kAttrIndex = 0x01;
inline constexpr uint8_t kAttrDup = 0x10;
inline constexpr uint8_t kAttrNoCase = 0x20;
inline constexpr uint8_t kAttrRequired = 0x40;  // set when the key is not optional

struct KeyComponent {
  uint8_t runtime_type = 0;   // runtime field type (informative; stored_type decides)
  uint8_t stored_type = 0;    // kStored*
  uint16_t field_number = 0;  // 1-based place among stored fields, 0 when not stored
  uint16_t offset = 0;        // offset in the record data
  uint16_t size = 0;          // field size in bytes
  bool descending = false;
};

struct KeySpec {
  std::vector<KeyComponent> components;
  bool dup = false;       // duplicates allowed
  bool optional = false;  // all-null records get no entry
  bool nocase = false;    // strings and groups upper-cased
  bool index = false;     // an index: counted as allowing duplicates
  bool oem = false;       // OEM file: OEM collation for strings and groups
  std::string name;       // key name for the descriptor and the duplicates report

  uint16_t key_length() const;
  uint16_t entry_length() const { return uint16_t(key_length() + 4); }
  // kAttr* bits as stored in the descriptor and the key header.
  uint8_t stored_attributes() const;
  uint8_t entries_per_page() const { return uint8_t(499 / entry_length()); }
  // True when duplicates are accepted (dup or index).
  bool allows_duplicates() const { return dup || index; }
  // 0, or 88 when the key is longer than `max_length` (245 for declared
  // keys, 244 for an index built from a component text), or has no component
  // or a component of size 0.
  int Validate(int max_length = kMaxKeyLength) const;
};

// Key value of a record buffer (record data, without the 5-byte prefix) into
// out[0..key_length()). Answers false when the key is optional and every
// component is null: the record then has no entry (out is still filled).
bool EncodeKey(const KeySpec& shape, const uint8_t* record, uint8_t* out);

// Whether a key value gives back the record bytes it was made from: not
// when strings or groups were upper-cased (case-insensitive keys) or mapped
// to the OEM code page (OEM files).
bool ComponentsDecodable(const std::vector<KeyComponent>& components, bool nocase, bool oem);
// The inverse of EncodeKey for decodable components: writes each
// component's field bytes into `record` at its offset, nothing else.
void DecodeComponents(const std::vector<KeyComponent>& components, const uint8_t* value,
                      uint8_t* record);

// One component of the encoding (exposed for tests and the inspector).
void EncodeComponent(const KeyComponent& c, bool nocase, bool oem, const uint8_t* field,
                     uint8_t* out);
// Null test of one component for optional keys.
bool ComponentIsNull(const KeyComponent& c, const uint8_t* field);

// The collation byte map (identity for ANSI files, ANSI to OEM for OEM files).
uint8_t Collate(uint8_t byte, bool oem);

// Key descriptor of the data file's description area: 19 bytes plus 6 per
// component. Decoding fills components, key attributes and name (blanks
// clipped); answers false on a short or inconsistent descriptor.
std::string EncodeKeyDescriptor(const KeySpec& shape);
bool DecodeKeyDescriptor(const uint8_t* p, size_t n, KeySpec* shape, size_t* used);

// Key file name: `data_path` with its extension replaced by ".K" (".I" for an
// index) and two characters for the key number n (1-based): '0' + n / 36,
// then n % 36 as 0-9A-Z. ".K01" is the first key, ".K0A" the tenth.
std::string KeyFileName(const std::string& data_path, int n, bool index);
// `data_path` with its extension replaced by `ext` (".BLD" for the report).
std::string ReplaceExtension(const std::string& data_path, const std::string& ext);

// Entry helpers: an entry is the u32 little-endian record number (or child
// page) followed by the key value.
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace flat
