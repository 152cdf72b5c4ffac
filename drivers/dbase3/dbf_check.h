// A check of a dBase III table on disk without a declaration: the header
// and fields, every record, the memo chains, and each index walked and
// compared with the records. Used by the dbfcheck tool and the tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace db3 {

struct CheckResult {
  int status = 0;  // 0 sound, 1 inconsistent, 2 not readable as a table
  std::vector<std::string> problems;
  uint32_t records = 0;
  uint32_t live = 0;
};

// `indexes` are the ".NDX" files to compare with the table. With `out`, the
// header, the fields and each index's expression are printed there.
CheckResult CheckTable(const std::string& table, const std::vector<std::string>& indexes,
                       FILE* out = nullptr);

}  // namespace db3
