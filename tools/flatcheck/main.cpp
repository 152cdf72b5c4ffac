// flatcheck: prints a flat data file's header, descriptors, records and
// key trees and checks that they agree. Exit code 0 when consistent, 1 when
// not, 2 when the file cannot be read as a flat file.
//
//   flatcheck [--owner=TEXT] [--scrambled] [--oem] [--records] [--keys] FILE
#include <cstdio>
#include <cstring>
#include <string>

#include "drivers/flat/flat_check.h"

int main(int argc, char** argv) {
  flat::InspectOptions options;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--owner=", 0) == 0) {
      options.owner = a.substr(8);
    } else if (a == "--scrambled") {
      options.scrambled = true;
    } else if (a == "--oem") {
      options.oem = true;
    } else if (a == "--records") {
      options.print_records = true;
    } else if (a == "--keys") {
      options.print_keys = true;
    } else if (!a.empty() && a[0] != '-' && path.empty()) {
      path = a;
    } else {
      std::fprintf(stderr,
                   "uso: flatcheck [--owner=TEXTO] [--scrambled] [--oem] [--records] [--keys] "
                   "ARCHIVO\n");
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "uso: flatcheck ARCHIVO\n");
    return 2;
  }
  std::string report;
  flat::InspectResult r = flat::InspectFlatFile(path, options, &report);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return int(r);
}
