// Record, key and memo declarations, and the runtime file descriptor that the
// runtime hands to a file driver with every operation.
//
// A data file is declared once in C++: a packed record struct (its layout
// checked with static_assert against the positions the files share with other
// programs) plus a table naming its fields. From that one declaration the
// runtime derives both the record buffer and the record-type descriptor that
// the drivers read (names, labels, external names, types, offsets, sizes,
// dimensions, groups, pictures). Nothing is written twice.
//
//   #pragma pack(push, 1)
//   struct RE09Record {
//     nv::Decimal<4, 0> CODIGO;
//     nv::String<40> NROTEL;
//   };
//   #pragma pack(pop)
//   const nv::RecordDecl kRE09 = nv::DeclareRecord<RE09Record>("RE09", {
//       NV_FIELD(RE09Record, CODIGO),
//       NV_FIELD(RE09Record, NROTEL, .picture = "@s40"),
//   });
//
// Thread-safety: declarations are immutable after construction and may be
// shared by every thread; file descriptors belong to one File object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"
#include "host/runtime/export.h"
#include "host/runtime/fixed_string.h"

namespace nv {

// The runtime's field-type codes, as drivers announce them in their
// registration records.
enum FieldType : uint8_t {
  kTypeByte = 1,
  kTypeShort = 2,
  kTypeUShort = 3,
  kTypeDate = 4,  // binary date: day, month, 16-bit year
  kTypeTime = 5,  // binary time: hundredths, seconds, minutes, hours
  kTypeLong = 6,
  kTypeULong = 7,
  kTypeSReal = 8,
  kTypeReal = 9,
  kTypeDecimal = 10,
  kTypePDecimal = 11,
  kTypeBFloat4 = 13,
  kTypeBFloat8 = 14,
  kTypeString = 18,
  kTypeCString = 19,
  kTypePString = 20,
  kTypeMemo = 21,
  kTypeGroup = 22,
  kTypeBlob = 24,
};

// Name of a field type as the runtime prints it ("LONG", "STRING" ...).
NV_API const char* TypeName(uint8_t type);

// One entry of a record-type descriptor. Entry 0 of every descriptor is the
// record itself (a group spanning all other entries); field n (1-based) of the
// record is entry n.
struct NV_API FieldDesc {
  std::string label;     // declared name with its prefix: "MA11:NOMBRE"
  std::string name;      // external name, empty when none was declared
  std::string comment;   // free text
  std::string picture;   // display picture ("@s30"), empty when none
  uint8_t type = 0;      // FieldType
  uint8_t places = 0;    // decimal places of a packed decimal
  uint8_t ndims = 0;     // number of array dimensions of the field itself (0..4)
  uint16_t dims[4] = {}; // elements per dimension
  uint32_t offset = 0;   // from the start of the record
  uint32_t size = 0;     // total size in bytes, all elements
  uint16_t span = 0;     // group: number of entries after it that lie inside it
  bool over = false;     // shares its bytes with an earlier field

  uint32_t Elements() const;
  uint32_t ElementSize() const { return size / Elements(); }
};

// Record-type descriptor: what the drivers read about a record's fields.
struct NV_API RecordType {
  std::string prefix;            // "MA11"
  uint32_t length = 0;           // record length in bytes
  std::vector<FieldDesc> fields; // fields[0] is the record group

  // Number of fields (without the record group).
  uint32_t FieldCount() const { return fields.empty() ? 0 : uint32_t(fields.size() - 1); }
  // Field n, 1-based; nullptr when out of range.
  const FieldDesc* Field(int n) const;
  // 1-based number of the field with this label (case-insensitive), 0 when none.
  int FindField(std::string_view label) const;
};

// ---------------------------------------------------------------------------
// Field descriptions: how NV_FIELD describes one member of a record struct.

template <class T>
struct FieldTraits;  // type, places for each storable C++ type

template <> struct FieldTraits<uint8_t> { static constexpr uint8_t kType = kTypeByte, kPlaces = 0; };
template <> struct FieldTraits<int16_t> { static constexpr uint8_t kType = kTypeShort, kPlaces = 0; };
template <> struct FieldTraits<uint16_t> { static constexpr uint8_t kType = kTypeUShort, kPlaces = 0; };
template <> struct FieldTraits<int32_t> { static constexpr uint8_t kType = kTypeLong, kPlaces = 0; };
template <> struct FieldTraits<uint32_t> { static constexpr uint8_t kType = kTypeULong, kPlaces = 0; };
template <> struct FieldTraits<float> { static constexpr uint8_t kType = kTypeSReal, kPlaces = 0; };
template <> struct FieldTraits<double> { static constexpr uint8_t kType = kTypeReal, kPlaces = 0; };
template <> struct FieldTraits<BinDate> { static constexpr uint8_t kType = kTypeDate, kPlaces = 0; };
template <> struct FieldTraits<BinTime> { static constexpr uint8_t kType = kTypeTime, kPlaces = 0; };
template <size_t N> struct FieldTraits<String<N>> { static constexpr uint8_t kType = kTypeString, kPlaces = 0; };
template <size_t N> struct FieldTraits<CString<N>> { static constexpr uint8_t kType = kTypeCString, kPlaces = 0; };
template <size_t N> struct FieldTraits<PString<N>> { static constexpr uint8_t kType = kTypePString, kPlaces = 0; };
template <size_t B, int P> struct FieldTraits<Decimal<B, P>> {
  static constexpr uint8_t kType = kTypeDecimal, kPlaces = uint8_t(P);
};

// Options of a field declaration (designated initialisers in NV_FIELD).
struct FieldOptions {
  uint16_t span = 0;         // for NV_GROUP: number of entries inside the group
  const char* picture = "";
  const char* name = "";     // external name
  const char* comment = "";
  bool over = false;         // shares bytes with an earlier field
};

struct FieldSpec {
  std::string member;  // the member's own name ("NOMBRE")
  uint8_t type;
  uint8_t places;
  uint8_t ndims;
  uint16_t dims[4];
  uint32_t offset;
  uint32_t size;
  FieldOptions options;
};

namespace internal {
template <class T>
FieldSpec MakeFieldSpec(const char* member, size_t offset, FieldOptions o) {
  FieldSpec s{member, 0, 0, 0, {0, 0, 0, 0}, uint32_t(offset), uint32_t(sizeof(T)), o};
  using E = std::remove_all_extents_t<T>;
  static_assert(std::rank_v<T> <= 4, "at most 4 array dimensions");
  s.ndims = uint8_t(std::rank_v<T>);
  if constexpr (std::rank_v<T> >= 1) s.dims[0] = uint16_t(std::extent_v<T, 0>);
  if constexpr (std::rank_v<T> >= 2) s.dims[1] = uint16_t(std::extent_v<T, 1>);
  if constexpr (std::rank_v<T> >= 3) s.dims[2] = uint16_t(std::extent_v<T, 2>);
  if constexpr (std::rank_v<T> >= 4) s.dims[3] = uint16_t(std::extent_v<T, 3>);
  if constexpr (requires { FieldTraits<E>::kType; }) {
    s.type = o.span > 0 ? uint8_t(kTypeGroup) : FieldTraits<E>::kType;
    s.places = FieldTraits<E>::kPlaces;
  } else {
    static_assert(std::is_class_v<E>, "a field is a storable type or a group struct");
    s.type = kTypeGroup;
  }
  return s;
}
}  // namespace internal

// NV_FIELD(Record, member [, .picture = "@s30", .name = "EXT", .over = true])
#define NV_FIELD(Rec, member, ...)                                                      \
  ::nv::internal::MakeFieldSpec<decltype(Rec::member)>(#member, offsetof(Rec, member), \
                                                       ::nv::FieldOptions{__VA_ARGS__})
// NV_GROUP(Record, member, entries [, options]): a group member whose fields
// follow it in the table as NV_SUBFIELD entries (entries counts them all).
#define NV_GROUP(Rec, member, entries, ...)                                           \
  ::nv::internal::MakeFieldSpec<decltype(Rec::member)>(                               \
      #member, offsetof(Rec, member), ::nv::FieldOptions{.span = uint16_t(entries), __VA_ARGS__})
// NV_SUBFIELD(Record, group, member [, options]): a field inside a group member.
#define NV_SUBFIELD(Rec, group, member, ...)                                          \
  ::nv::internal::MakeFieldSpec<decltype(std::declval<Rec&>().group.member)>(        \
      #member, offsetof(Rec, group) + offsetof(decltype(Rec::group), member),        \
      ::nv::FieldOptions{__VA_ARGS__})

// Builds the record-type descriptor of a record of `length` bytes whose field
// names carry `prefix`. Labels become "PREFIX:MEMBER".
NV_API std::shared_ptr<const RecordType> MakeRecordType(std::string_view prefix, uint32_t length,
                                                        std::initializer_list<FieldSpec> fields);

template <class Rec>
std::shared_ptr<const RecordType> DeclareRecord(std::string_view prefix,
                                                std::initializer_list<FieldSpec> fields) {
  static_assert(std::is_standard_layout_v<Rec> && alignof(Rec) == 1,
                "record structs are packed standard-layout structs");
  return MakeRecordType(prefix, uint32_t(sizeof(Rec)), fields);
}

// ---------------------------------------------------------------------------
// Keys and memos.

// Key attribute bits of a key declaration.
enum KeyAttr : uint32_t {
  kKeyDup = 1u << 0,       // duplicates allowed
  kKeyOptional = 1u << 1,  // records whose components are all null have no entry
  kKeyNoCase = 1u << 2,    // string components compare without regard to case
  kKeyPrimary = 1u << 3,   // the file's primary key
  kKeyBit4 = 1u << 4,      // kept for the drivers that use it
  kKeyIndex = 1u << 14,    // index: built on demand only
};

struct KeyDef {
  std::string label;                   // "MA11:MA11_C1"
  std::vector<std::string> components; // field labels; a leading '-' means descending
  uint32_t attributes = 0;             // KeyAttr bits
  std::string external;                // external name, empty when none
};

// Memo flag bits.
enum MemoFlag : uint32_t {
  kMemoBit1 = 1u << 1,  // cleared to -1 (not blanks) by CLEAR with 0
  kMemoBinary = 1u << 2,
};

struct MemoDef {
  std::string label;     // "MA11:COMENT"
  uint32_t size = 0;     // bytes
  uint32_t flags = 0;    // MemoFlag bits
  std::string external;  // external name, empty when none
};

// File attribute bits of a declaration, as the file descriptor carries them.
enum FileAttr : uint8_t {
  kFileScrambled = 1u << 1,  // records are scrambled with the owner string
  kFileCreate = 1u << 2,     // the file may be created
  kFileReclaim = 1u << 3,    // deleted records are re-used
  kFileThreaded = 1u << 4,   // one descriptor per thread
  kFileOem = 1u << 5,        // strings stored in the OEM code page
  kFileAttr6 = 1u << 6,
};

// A whole file declaration: what the dictionary says of one data file.
struct FileDecl {
  std::string label;          // "FXMA11"
  std::string driver;         // registered driver name ("Norvane")
  std::string name;           // on-disk name as declared
  std::string owner;          // owner string
  std::string driver_string;  // driver options
  uint8_t attributes = kFileCreate;
  std::shared_ptr<const RecordType> record;
  std::vector<KeyDef> keys;
  std::vector<MemoDef> memos;
};

// ---------------------------------------------------------------------------
// The runtime file descriptor and the key and memo declarations that drivers
// read. Field order is part of the driver interface; addresses are native.

// Length conventions of a string descriptor.
inline constexpr uint32_t kLenCString = 0xFFFFFFFFu;  // zero-terminated
inline constexpr uint32_t kLenPString = 0xFFFFFFFEu;  // first byte holds the length
// any other value: fixed length, blank-padded

#pragma pack(push, 1)
struct StrDesc {
  const char* addr;
  uint32_t len;
};
#pragma pack(pop)

struct KeyDecl {
  StrDesc external_name;
  StrDesc name;
  void* drv_kcb;              // the driver's Drv_KCB, 0 until it builds one
  uint32_t attributes;        // KeyAttr bits
  uint8_t component_count;
  const int32_t* components;  // n = field n ascending, ~n = field n descending
};

struct MemoDecl {
  StrDesc external_name;
  StrDesc name;
  char* buffer;               // allocated and owned by the driver
  void* drv_memo;             // the driver's per-memo block
  uint32_t size;
  uint32_t flags;             // MemoFlag bits
};

#pragma pack(push, 1)
struct FileDescriptor {
  uint32_t header;            // not used by the drivers
  StrDesc name;
  StrDesc driver_string;
  StrDesc owner;
  uint8_t attributes;         // FileAttr bits
  uint8_t key_count;
  uint8_t memo_count;
  uint32_t record_length;
  const RecordType* record_type;
  KeyDecl** keys;
  MemoDecl** memos;
  uint8_t* record;
  void* drv_fcb;              // the driver's Drv_FCB, 0 until it creates one
  uint8_t flags;              // bit 0: bound to a remote service
  // Runtime's own fields (not read by drivers).
  void* runtime_file;         // the nv::File this descriptor belongs to
};
#pragma pack(pop)

inline constexpr uint8_t kDescRemote = 0x01;
// Runtime's own flag: the file serves a remote binding (the remote-file
// stand-in forwards to it), so the refusal of local opens while bindings
// exist does not apply to it.
inline constexpr uint8_t kDescRemoteTarget = 0x02;

// The runtime's clear routine: fill 0 gives blanks to strings and zero to
// numbers, 1 the highest and -1 the lowest value of every field.
NV_API void ClearRecord(const RecordType& type, uint8_t* record, int fill);
// The store routine for memos: 0 blanks, -1 low bytes, 1 high bytes.
NV_API void ClearMemo(char* buffer, uint32_t size, int fill);

// Text of a string descriptor by its length convention.
NV_API std::string StrDescText(const StrDesc& d);

}  // namespace nv
