// COPY, RENAME and REMOVE of a table with a memo file and its indexes:
// every file goes along, and the result opens and reads the same records.
#include "tests/drivers/dbase3/db3_test_decl.h"

namespace db3test {
namespace {

using Db3Copy = TempFolder;

// Names and memo texts in name order (through the name index).
std::vector<std::string> ByName(const std::string& path) {
  File f(CustDecl(path));
  std::vector<std::string> out;
  if (f.Open() != 0) return {"no se pudo abrir: " + std::to_string(ErrorCode())};
  f.Set(f.key(1));
  while (f.Next() == 0) {
    std::string name(f.As<CustRecord>().NAME.data(), 40);
    name.erase(name.find_last_not_of(' ') + 1);
    std::string memo = f.MemoText(0);
    memo.erase(memo.find_last_not_of(' ') + 1);
    out.push_back(name + "|" + memo);
  }
  f.Close();
  return out;
}

TEST_F(Db3Copy, CopyAndRenameTakeMemoAndIndexes) {
  const std::vector<std::string> want = {"ANA|primera nota", "LUIS|", "ZOE|otra nota"};
  {
    File f(CustDecl(Path("CUST")));
    ASSERT_EQ(f.Create(), 0) << ErrorCode();
    ASSERT_EQ(f.Open(), 0) << ErrorCode();
    Fill(f, 3, "ZOE");
    f.SetMemoText(0, "otra nota");
    ASSERT_EQ(f.Add(), 0) << ErrorCode();
    Fill(f, 1, "ANA");
    f.SetMemoText(0, "primera nota");
    ASSERT_EQ(f.Add(), 0) << ErrorCode();
    Fill(f, 2, "LUIS");
    f.SetMemoText(0, "");
    ASSERT_EQ(f.Add(), 0) << ErrorCode();
    ASSERT_EQ(f.Close(), 0);
  }
  ASSERT_EQ(ByName(Path("CUST")), want);
  const char* files[] = {"CUST.DBF", "CUST.DBT", "CUCODE.NDX", "CUNAME.NDX"};

  std::filesystem::create_directory(Path("copia"));
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Copy(Path("copia/CUST")), 0) << ErrorCode();
  for (const char* n : files) {
    EXPECT_TRUE(std::filesystem::exists(Path(n))) << n;
    EXPECT_EQ(Bytes(std::string("copia/") + n), Bytes(n)) << n;
  }
  EXPECT_EQ(ByName(Path("copia/CUST")), want);
  {
    // The copy is a file of its own.
    File c(CustDecl(Path("copia/CUST")));
    ASSERT_EQ(c.Open(), 0) << ErrorCode();
    Fill(c, 4, "BEA");
    ASSERT_EQ(c.Add(), 0) << ErrorCode();
    EXPECT_EQ(c.Records(), 4);
  }
  EXPECT_EQ(ByName(Path("CUST")), want);

  // Not while this file is open; then every file moves.
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  EXPECT_EQ(f.Rename(Path("movido/CUST")), 52);
  EXPECT_TRUE(std::filesystem::exists(Path("CUST.DBF")));
  ASSERT_EQ(f.Close(), 0);
  std::filesystem::create_directory(Path("movido"));
  {
    // Nor while another open of it exists: that one would lose its writes.
    File other(CustDecl(Path("CUST")));
    ASSERT_EQ(other.Open(), 0) << ErrorCode();
    EXPECT_EQ(f.Rename(Path("movido/CUST")), 5);
    EXPECT_EQ(f.Remove(), 5);
    EXPECT_TRUE(std::filesystem::exists(Path("CUST.DBF")));
    EXPECT_TRUE(std::filesystem::exists(Path("CUNAME.NDX")));
  }
  ASSERT_EQ(f.Rename(Path("movido/CUST")), 0) << ErrorCode();
  for (const char* n : files) {
    EXPECT_FALSE(std::filesystem::exists(Path(n))) << n;
    EXPECT_TRUE(std::filesystem::exists(Path(std::string("movido/") + n))) << n;
  }
  EXPECT_EQ(ByName(Path("movido/CUST")), want);

  // REMOVE of a file never opened takes its indexes too.
  File m(CustDecl(Path("movido/CUST")));
  ASSERT_EQ(m.Remove(), 0) << ErrorCode();
  for (const char* n : files)
    EXPECT_FALSE(std::filesystem::exists(Path(std::string("movido/") + n))) << n;
}

// Target names: a folder keeps the names, a name without extension gets
// ".DBF", one with an extension keeps it (the memo file beside it with
// ".DBT"). Indexes are named by the keys: they go to the target's folder
// and stay as they are in the table's own. A target whose memo file would
// be the source's is refused before anything is written.
TEST_F(Db3Copy, TargetFolderAndNameRules) {
  {
    File f(CustDecl(Path("CUST")));
    ASSERT_EQ(f.Create(), 0) << ErrorCode();
    ASSERT_EQ(f.Open(), 0) << ErrorCode();
    Fill(f, 1, "ANA");
    f.SetMemoText(0, "nota");
    ASSERT_EQ(f.Add(), 0) << ErrorCode();
  }
  const auto original = Bytes("CUST.DBT");
  std::filesystem::create_directory(Path("a"));
  std::filesystem::create_directory(Path("b"));
  File f(CustDecl(Path("CUST")));
  struct Case {
    std::string target;
    std::vector<std::string> made;  // beside the indexes of the target's folder
  } cases[] = {
      {Path("a"), {"a/CUST.DBF", "a/CUST.DBT", "a/CUCODE.NDX", "a/CUNAME.NDX"}},
      {Path("b") + "/", {"b/CUST.DBF", "b/CUST.DBT", "b/CUCODE.NDX", "b/CUNAME.NDX"}},
      {Path("a/OTRA"), {"a/OTRA.DBF", "a/OTRA.DBT"}},
      {Path("b/RESPALDO.SAV"), {"b/RESPALDO.SAV", "b/RESPALDO.DBT"}},
      {Path("CUST2"), {"CUST2.DBF", "CUST2.DBT"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(f.Copy(c.target), 0) << c.target << " " << ErrorCode();
    for (const std::string& n : c.made) EXPECT_TRUE(std::filesystem::exists(Path(n))) << n;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("a.DBF")));
  EXPECT_EQ(Bytes("a/OTRA.DBT"), original);
  EXPECT_EQ(Bytes("b/RESPALDO.SAV"), Bytes("CUST.DBF"));
  // The copy in another folder opens with its own indexes.
  File o(CustDecl(Path("b/RESPALDO.SAV")));
  ASSERT_EQ(o.Open(), 0) << ErrorCode();
  Fill(o, 1, "");
  ASSERT_EQ(o.Get(o.key(0)), 0) << ErrorCode();
  EXPECT_EQ(Clip(o.MemoText(0)), "nota");
  ASSERT_EQ(o.Close(), 0);

  for (const std::string& target : {Path("CUST.SAV"), Path("./CUST.DBF"), Path("a/../CUST")})
    EXPECT_EQ(f.Copy(target), 45) << target;
  EXPECT_EQ(Bytes("CUST.DBT"), original);
  EXPECT_FALSE(std::filesystem::exists(Path("CUST.SAV")));

  // RENAME into a folder keeps the names too.
  std::filesystem::create_directory(Path("c"));
  ASSERT_EQ(f.Rename(Path("c")), 0) << ErrorCode();
  for (const char* n : {"c/CUST.DBF", "c/CUST.DBT", "c/CUCODE.NDX", "c/CUNAME.NDX"})
    EXPECT_TRUE(std::filesystem::exists(Path(n))) << n;
  EXPECT_EQ(ByName(Path("c/CUST")), std::vector<std::string>{"ANA|nota"});
}

}  // namespace
}  // namespace db3test
