// The detail report family: one design (detail_report.cpp) and this table
// of what differs between its procedures: the call file, the key and range
// that group the calls, the parameter block, and the texts.
//
// Texts in the table are UTF-8 source literals; the report converts them to
// Windows-1252 when it builds its headings.
#pragma once

#include <cstddef>
#include <string_view>

#include "reports/filters.h"

namespace fxr4 {

// Which parameter block a procedure takes.
enum class BlockKind { kRpt, kCtas, kCod };
size_t BlockSize(BlockKind k);  // 87, 207, 75

// The grouping field of a family (the leading field of its key).
enum class GroupField {
  kNone,
  kNROLIN,
  kNROINT,
  kGRULIN,
  kGRUINT,
  kGRUCTA,
  kGRUAGE,
  kCODAGT,
  kGRUAGT,
  kNROCTA
};

// How the family walks the call file.
enum class Walk {
  kKeyRange,  // key with a range on its leading field
  kDates,     // key C1 from DESFEC, no range
  kNumbers,   // counted by C1 from DESFEC, printed in C9 order
  kAccounts,  // accounts in description order, their calls by C4
};

struct DetailProc {
  const char* name;  // exported procedure name
  Direction direction;
  BlockKind block;
  Walk walk;
  const char* key_suffix;  // "_C2" ...
  GroupField field;
  RangeKind range;
  const char* plain_title;
  const char* typed_prefix;  // before the clipped CURTAB
  const char* typed_suffix;  // after it
  const char* range_label;   // "" when the family has no range line
  const char* time_picture;  // "@T4" or "@T1"
  const char* caption;
};

// The 21 procedures, in the order of the family table.
const DetailProc* DetailProcs(size_t* count);
// By exported name (exact); nullptr when unknown.
const DetailProc* FindDetailProc(std::string_view name);

}  // namespace fxr4
