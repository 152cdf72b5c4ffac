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
//   db3_station stream <dir> <first code> <count> [empty]
//     opens the table denying others writing, streams with two index page
//     buffers, adds codes first..first+count-1, counts the records (which
//     writes the added ones, but not their count), renames code 5
//     "CAMBIADO" and deletes code 6 (with "empty": empties the table and
//     adds the first five codes again), prints "ready" and waits to be
//     killed: nothing of it is flushed.
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

int AddCodes(File& f, int first, int count) {
  for (int code = first; code < first + count; ++code) {
    auto& r = f.As<CustRecord>();
    r.CODE = code;
    r.NAME = "N" + std::to_string(code % 97);
    r.AMOUNT = code / 4.0;
    f.SetMemoText(0, "memo " + std::to_string(code));
    if (f.Add() != 0) return Fail("add");
  }
  return 0;
}

int Stream(File& f, int first, int count, bool empty) {
  if (f.Open(kReadWrite | kDenyWrite) != 0) return Fail("open");
  f.Send("BUFFERS=2");
  if (f.Stream() != 0) return Fail("stream");
  if (int err = AddCodes(f, first, count)) return err;
  auto& r = f.As<CustRecord>();
  if (empty) {
    if (f.Empty() != 0) return Fail("empty");
    if (int err = AddCodes(f, first, 5)) return err;
  } else {
    if (f.Records() < count) return Fail("records");
    r.CODE = 5;
    if (f.Get(f.key(0)) != 0) return Fail("get 5");
    r.NAME = "CAMBIADO";
    if (f.Put() != 0) return Fail("put");
    r.CODE = 6;
    if (f.Get(f.key(0)) != 0 || f.Delete() != 0) return Fail("delete 6");
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string cmd = argv[1];
  File f(CustDecl(std::string(argv[2]) + "/CUST"));
  if (cmd == "stream" && (argc == 5 || argc == 6))
    return Stream(f, std::atoi(argv[3]), std::atoi(argv[4]), argc == 6);
  if (f.Share() != 0) return Fail("share");
  if (cmd == "add" && argc == 5) {
    if (int err = AddCodes(f, std::atoi(argv[3]), std::atoi(argv[4]))) return err;
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
