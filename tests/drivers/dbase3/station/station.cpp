// A second program sharing a dBase III table with the driver's tests (the
// customer table of db3_test_decl.h, opened shared).
//
//   db3_station add <dir> <first code> <count>
//     adds codes first..first+count-1 (name "N<code>", a memo); exit 1 and
//     the error on the first failure.
//   db3_station hold <dir> <code> <stop file>
//     holds the record with that code, prints "held" and keeps it until the
//     stop file exists.
//   db3_station lock <dir> <stop file>
//     locks the table, prints "locked" and keeps it until the stop file exists.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/drivers/dbase3/db3_test_decl.h"

using namespace db3test;

namespace {

void WaitFor(const std::string& stop) {
  while (::access(stop.c_str(), F_OK) != 0) ::usleep(5000);
}

int Fail(const char* what) {
  std::fprintf(stderr, "%s: error %d\n", what, ErrorCode());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string cmd = argv[1];
  File f(CustDecl(std::string(argv[2]) + "/CUST"));
  if (f.Share() != 0) return Fail("share");
  if (cmd == "add" && argc == 5) {
    const int first = std::atoi(argv[3]), count = std::atoi(argv[4]);
    for (int code = first; code < first + count; ++code) {
      auto& r = f.As<CustRecord>();
      r.CODE = code;
      r.NAME = "N" + std::to_string(code % 97);
      r.AMOUNT = code / 4.0;
      f.SetMemoText(0, "memo " + std::to_string(code));
      if (f.Add() != 0) return Fail("add");
    }
    return f.Close() == 0 ? 0 : Fail("close");
  }
  if (cmd == "hold" && argc == 5) {
    f.As<CustRecord>().CODE = std::atoi(argv[3]);
    f.Hold();
    if (f.Get(f.key(0)) != 0) return Fail("hold");
    std::printf("held\n");
    std::fflush(stdout);
    WaitFor(argv[4]);
    return 0;
  }
  if (cmd == "lock" && argc == 4) {
    if (f.Lock() != 0) return Fail("lock");
    std::printf("locked\n");
    std::fflush(stdout);
    WaitFor(argv[3]);
    return 0;
  }
  return 2;
}
