// The flat data file (".DAT") and memo file (".MEM") formats: the 85-byte
// header, the description area (field descriptors, key descriptors, picture
// strings, array descriptors), the record prefix, memo blocks, and the two
// transformations of stored bytes (owner scrambling, OEM code page).
//
// Everything here is pure: byte layouts in and out, no file access. All
// integers are little-endian. Records are numbered from 1; record n starts at
// records_start + (n - 1) * record_size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/declaration.h"

namespace flat {

inline constexpr uint16_t kSignature = 0x3343;      // "C3"
inline constexpr uint16_t kMemoSignature = 0x334D;  // "M3"
inline constexpr uint32_t kHeaderSize = 85;
inline constexpr uint32_t kFieldDescSize = 27;
inline constexpr uint32_t kPrefixSize = 5;  // status byte + memo link / free link
inline constexpr uint32_t kMemoHeaderSize = 6;
inline constexpr uint32_t kMemoBlockSize = 256;
inline constexpr uint32_t kMemoTextPerBlock = 252;
inline constexpr uint32_t kMaxRecordLength = 65535;

// Header status bits.
enum HeaderStatus : uint16_t {
  kHdrLocked = 0x01,
  kHdrOwned = 0x02,
  kHdrScrambled = 0x04,
  kHdrMemo = 0x08,
  // Set on disk before the first write of an operation that is not
  // journalled and cleared after its last: a program that died in between
  // leaves it set, and the next program that may write repairs the file
  // (counters, free chains and every key rebuilt from the records).
  kHdrBusy = 0x10,
  kHdrReuse = 0x20,
  // Set in the data file PACK puts in place, until its memo file follows
  // (".M00" renamed) and its keys are built: an open that finds it finishes
  // the renaming before the repair.
  kHdrPacking = 0x40,
  kHdrCreated = 0x80,
};

// Record status bits.
enum RecordStatus : uint8_t {
  kRecAdded = 0x01,
  kRecChanged = 0x04,
  kRecDeleted = 0x10,
  kRecHeld = 0x40,
};

struct Header {
  uint16_t signature = kSignature;
  uint16_t status = 0;
  uint8_t keys = 0;
  uint32_t records = 0;  // highest record number ever used
  uint32_t deleted = 0;
  uint16_t fields = 0;
  uint16_t pictures = 0;
  uint16_t arrays = 0;
  uint16_t record_size = 0;
  uint32_t records_start = kHeaderSize;
  uint32_t last_live = 0;
  uint32_t first_live = 0;
  uint32_t free_head = 0;
  char record_name[12] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char memo_name[12] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char file_prefix[3] = {};
  char record_prefix[3] = {};
  uint16_t memo_size = 0;
  uint8_t reserved[6] = {};
  uint32_t change_time = 0;
  uint32_t change_date = 0;
  uint16_t checksum = 0;
};

// Little-endian helpers.
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The plain 85 bytes of a header (checksum field as held in `h`).
void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]);
void DecodeHeader(const uint8_t in[kHeaderSize], Header* h);

// Owner key: 0x5A3C plus the owner string's 16-bit little-endian words (an
// odd last byte does not count), modulo 65536.
uint16_t OwnerKey(std::string_view owner);
// XORs every 16-bit little-endian word of p[0..n) with the key; an odd last
// byte stays. Its own inverse.
void Scramble(uint8_t* p, size_t n, uint16_t key);
// 16-bit sum of the 85 header bytes with the checksum field taken as 0.
uint16_t HeaderChecksum(const uint8_t bytes[kHeaderSize]);

// The bytes of a header as written: checksum set and header bytes 4 to 84
// scrambled for owned files.
void SealHeader(Header* h, bool owned, uint16_t key, uint8_t out[kHeaderSize]);
// Reads the 85 bytes as stored: error 36 on a wrong signature or, for an
// owned file, a checksum that does not match after unscrambling with `key`.
int UnsealHeader(const uint8_t in[kHeaderSize], uint16_t key, Header* h);

// ---------------------------------------------------------------------------
// The description area derived from a record-type descriptor.

// Stored type of a field (0 when the type is not stored).
uint8_t StoredType(const nv::FieldDesc& f);

// Name of a field as stored in its descriptor (before blank padding).
std::string StoredFieldName(std::string_view label);

struct StoredField {
  uint32_t number = 0;  // field number in the record-type descriptor (1-based)
  uint8_t type = 0;     // stored type
  std::string name;
  uint16_t offset = 0;
  uint16_t element_size = 0;
  uint8_t digits = 0;
  uint8_t places = 0;
  uint16_t array = 0;    // 1-based array descriptor, 0 none
  uint16_t picture = 0;  // 1-based picture, 0 none
};

struct Layout {
  std::vector<StoredField> fields;
  std::vector<std::string> pictures;
  std::vector<std::vector<uint8_t>> arrays;  // encoded array descriptors
  std::string record_prefix;                 // up to 3 characters
  // Per record-type field (index = field number): stored type, 0 when the
  // field is not stored.
  std::vector<uint8_t> stored_type;
  std::vector<bool> is_string;  // string fields (for the OEM conversion)
};

// Builds the layout: errors 75 (more than 4 dimensions), 79 (a type the
// format does not store outside a group).
int BuildLayout(const nv::RecordType& rt, Layout* out);

// Field descriptors (27 bytes each), plain.
std::vector<uint8_t> EncodeFieldDescriptors(const Layout& l);
// Picture strings, plain: u16 length + text + zero.
std::vector<uint8_t> EncodePictures(const Layout& l);
std::vector<uint8_t> EncodeArrays(const Layout& l);

// OEM conversion of the string fields of a record in place.
void RecordToOem(const Layout& l, const nv::RecordType& rt, uint8_t* data);
void RecordFromOem(const Layout& l, const nv::RecordType& rt, uint8_t* data);

// Offset of memo block n (n >= 1).
inline uint64_t MemoBlockOffset(uint32_t n) {
  return uint64_t(n) * kMemoBlockSize - 250;
}

}  // namespace flat
