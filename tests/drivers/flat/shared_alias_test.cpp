// A file and its alias (two opens of one data file in one program) read in
// turns: every operation gives the header byte lock back, including the
// position the skeleton takes after each NEXT and PREVIOUS.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

TEST(SharedAlias, ReadsInTurnsNeverWaitForEachOther) {
  TempDir dir;
  FileDecl d = CustDecl(dir / "CUST");
  File main(d), alias(d);
  ASSERT_EQ(main.Create(), 0);
  ASSERT_EQ(main.Open(kReadWrite | kDenyNone), 0);
  ASSERT_EQ(alias.Open(kReadWrite | kDenyNone), 0);
  for (int i = 1; i <= 5; ++i) {
    Fill(main, i, "N" + std::to_string(i));
    ASSERT_EQ(main.Add(), 0);
  }
  // Run the walk on a thread so that a lock left behind fails the test
  // instead of hanging it.
  auto walk = std::async(std::launch::async, [&] {
    main.Set(main.key(0));
    int seen = 0;
    while (main.Next() == 0) {
      ++seen;
      alias.As<CustRecord>().CODE = main.As<CustRecord>().CODE;
      if (alias.Get(alias.key(0)) != 0) return -1;
      alias.Set(alias.key(1));
      if (alias.Next() != 0 || alias.Previous() != 33) return -2;
    }
    return seen;
  });
  if (walk.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "a header lock was left behind: the walk never ended\n");
    std::_Exit(1);
  }
  EXPECT_EQ(walk.get(), 5);
  alias.Close();
  main.Close();
}

TEST(SharedAlias, AnAliasOpenedAfterAnAddDoesNotStopTheNextRead) {
  TempDir dir;
  FileDecl d = CustDecl(dir / "CUST");
  File a(d), b(d);
  ASSERT_EQ(a.Create(), 0);
  ASSERT_EQ(a.Open(kReadWrite | kDenyNone), 0);
  Fill(a, 1, "UNO");
  ASSERT_EQ(a.Add(), 0);
  ASSERT_EQ(b.Open(kReadWrite | kDenyNone), 0);
  auto walk = std::async(std::launch::async, [&] {
    a.Set();
    return a.Next();
  });
  if (walk.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "a header lock was left behind: NEXT never ended\n");
    std::_Exit(1);
  }
  EXPECT_EQ(walk.get(), 0);
}

}  // namespace
}  // namespace flattest
