// dbfcheck: prints a dBase III table's header and fields and checks its
// records, memo chains and the given indexes against the records. Exit code
// 0 when consistent, 1 when not, 2 when the file cannot be read as a table.
//
//   dbfcheck [--quiet] TABLE.DBF [INDEX.NDX ...]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/dbase3/dbf_check.h"

int main(int argc, char** argv) {
  bool quiet = false;
  std::string table;
  std::vector<std::string> indexes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quiet") == 0) {
      quiet = true;
    } else if (table.empty()) {
      table = argv[i];
    } else {
      indexes.push_back(argv[i]);
    }
  }
  if (table.empty()) {
    std::fprintf(stderr, "uso: dbfcheck [--quiet] TABLA.DBF [INDICE.NDX ...]\n");
    return 2;
  }
  const db3::CheckResult r = db3::CheckTable(table, indexes, quiet ? nullptr : stdout);
  for (const std::string& p : r.problems) std::printf("%s\n", p.c_str());
  if (!quiet) std::printf("%u records, %u live: %s\n", r.records, r.live, r.status ? "PROBLEMS" : "OK");
  return r.status;
}
