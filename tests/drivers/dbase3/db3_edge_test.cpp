// The dBase III driver's rules at their edges: field mapping and limits,
// memo linking, key expressions and index names, options, the xBase error
// mapping with EXTERRORS, and damaged files (errors, never a crash).
#include <cstring>

#include "drivers/dbase3/db3_driver.h"
#include "tests/drivers/dbase3/db3_test_decl.h"

namespace db3test {
namespace {

#pragma pack(push, 1)
struct MemoRec {
  int32_t NOTE;
  String<10> NAME;
};
struct AmountRec {
  String<10> AMOUNT;
};
struct FitRec {
  uint8_t FLAG;   // L
  int32_t CODE;   // N(3)
  double PRICE;   // N(9,2)
  String<4> QTY;  // N(3) through its external name
};
struct KeyRec {
  String<20> NAME;
  BinDate DATE;
  uint8_t FLAG;
  String<5> QTY;
};
#define NV_W(n) String<250> F##n;
struct WideRec {
  NV_W(1) NV_W(2) NV_W(3) NV_W(4) NV_W(5) NV_W(6) NV_W(7) NV_W(8)
  NV_W(9) NV_W(10) NV_W(11) NV_W(12) NV_W(13) NV_W(14) NV_W(15) String<250> LAST;
};
struct NarrowRec {
  NV_W(1) NV_W(2) NV_W(3) NV_W(4) NV_W(5) NV_W(6) NV_W(7) NV_W(8)
  NV_W(9) NV_W(10) NV_W(11) NV_W(12) NV_W(13) NV_W(14) NV_W(15) String<249> LAST;
};
#undef NV_W
#pragma pack(pop)

std::vector<uint8_t> Str(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

FileDecl Decl(const std::string& path, std::shared_ptr<const RecordType> rt) {
  FileDecl d;
  d.label = "EDGE";
  d.driver = "dBase3";
  d.name = path;
  d.record = std::move(rt);
  return d;
}

template <class R>
std::shared_ptr<const RecordType> Wide() {
#define NV_F(n) NV_FIELD(R, F##n)
  return DeclareRecord<R>("W", {NV_F(1), NV_F(2), NV_F(3), NV_F(4), NV_F(5), NV_F(6), NV_F(7),
                                NV_F(8), NV_F(9), NV_F(10), NV_F(11), NV_F(12), NV_F(13), NV_F(14),
                                NV_F(15), NV_FIELD(R, LAST)});
#undef NV_F
}

std::shared_ptr<const RecordType> KeyType() {
  static auto rt = DeclareRecord<KeyRec>(
      "K", {NV_FIELD(KeyRec, NAME), NV_FIELD(KeyRec, DATE), NV_FIELD(KeyRec, FLAG),
            NV_FIELD(KeyRec, QTY, .name = "QTY=N(5)")});
  return rt;
}

using Db3Edge = TempFolder;

TEST_F(Db3Edge, LongFieldCarriesAMemoOnlyWithAMemoDeclaration) {
  auto rt = DeclareRecord<MemoRec>("M", {NV_FIELD(MemoRec, NOTE), NV_FIELD(MemoRec, NAME)});
  FileDecl d = Decl(Path("MEMO"), rt);
  d.memos = {{"M:TEXTO", 50, 0, ""}};
  File with(d);
  ASSERT_EQ(with.Create(), 0) << ErrorCode();
  const auto b = Bytes("MEMO.DBF");
  EXPECT_EQ(b[0], 0x83);
  EXPECT_EQ(b[32 + 11], 'M');
  EXPECT_EQ(b[32 + 16], 10);
  EXPECT_TRUE(std::filesystem::exists(Path("MEMO.DBT")));

  File without(Decl(Path("NOMEMO"), rt));
  testing::internal::CaptureStderr();
  EXPECT_EQ(without.Create(), 75);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "You have a field of type LONG with no matching memo"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("NOMEMO.DBF")));
}

TEST_F(Db3Edge, ExternalNameGivesTypeLengthAndDecimals) {
  auto ok = DeclareRecord<AmountRec>("A", {NV_FIELD(AmountRec, AMOUNT, .name = "CUS:AMOUNT=N(10,2)")});
  File f(Decl(Path("AMT"), ok));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  const auto b = Bytes("AMT.DBF");
  EXPECT_EQ(std::string(b.begin() + 32, b.begin() + 38), std::string("AMOUNT"));
  EXPECT_EQ(b[32 + 11], 'N');
  EXPECT_EQ(b[32 + 16], 10);
  EXPECT_EQ(b[32 + 17], 2);
  ASSERT_EQ(f.Open(), 0);
  f.As<AmountRec>().AMOUNT = "-12.5";
  ASSERT_EQ(f.Add(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Bytes("AMT.DBF").data()) + 66, 10),
            "    -12.50");
  for (const char* bad : {"CUS:AMOUNT=N(10,9)", "AMOUNT=X", "AMOUNT=N(21)", "AMOUNT=N(4,"}) {
    auto rt = DeclareRecord<AmountRec>("A", {NV_FIELD(AmountRec, AMOUNT, .name = bad)});
    File g(Decl(Path("BAD"), rt));
    EXPECT_EQ(g.Create(), 75) << bad;
  }
}

// A value its table field cannot hold is refused (bad data, nothing
// written) instead of being stored changed ("*" over a numeric field, "T"
// for a byte of 2).
TEST_F(Db3Edge, ValuesTheFieldCannotHoldAreRefused) {
  auto rt = DeclareRecord<FitRec>(
      "F", {NV_FIELD(FitRec, FLAG), NV_FIELD(FitRec, CODE, .name = "CODE=N(3)"),
            NV_FIELD(FitRec, PRICE), NV_FIELD(FitRec, QTY, .name = "QTY=N(3)")});
  File f(Decl(Path("FIT"), rt));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  struct Case {
    uint8_t flag;
    int32_t code;
    double price;
    const char* qty;
    bool fits;
  } cases[] = {
      {1, 999, 999999.99, "999", true},   {0, -99, -99999.99, "-99", true},
      {2, 1, 0, "1", false},              {255, 1, 0, "1", false},
      {1, 1000, 0, "1", false},           {1, -100, 0, "1", false},
      {1, 1, 1000000, "1", false},        {1, 1, 0, "1000", false},
  };
  int64_t added = 0;
  for (const Case& c : cases) {
    auto& r = f.As<FitRec>();
    r.FLAG = c.flag;
    r.CODE = c.code;
    r.PRICE = c.price;
    r.QTY = c.qty;
    ClearError();
    EXPECT_EQ(f.Add(), c.fits ? 0 : 90) << int(c.flag) << " " << c.code << " " << c.qty;
    if (!c.fits) {
      EXPECT_EQ(FileErrorCode(), "-233");
    }
    added += c.fits;
    EXPECT_EQ(f.Records(), added);
  }
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(int{f.As<FitRec>().FLAG}, 1);
  EXPECT_EQ(int32_t{f.As<FitRec>().CODE}, 999);
  EXPECT_EQ(double{f.As<FitRec>().PRICE}, 999999.99);
  f.As<FitRec>().CODE = 5000;
  EXPECT_EQ(f.Put(), 90);
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(int32_t{f.As<FitRec>().CODE}, 999);
}

TEST_F(Db3Edge, RecordLengthLimit) {
  File wide(Decl(Path("WIDE"), Wide<WideRec>()));
  EXPECT_EQ(wide.Create(), 47);
  File narrow(Decl(Path("NARROW"), Wide<NarrowRec>()));
  EXPECT_EQ(narrow.Create(), 0) << ErrorCode();
}

TEST_F(Db3Edge, KeyExpressionsAndIndexNames) {
  struct Case {
    std::vector<std::string> components;
    uint32_t attributes;
    std::string expression;  // empty: refused with `error`
    int key_length;
    int error;
  };
  const Case cases[] = {
      {{"K:NAME", "K:DATE"}, kKeyDup, "NAME+DTOS(DATE)", 28, 0},
      {{"K:NAME", "K:DATE"}, kKeyDup | kKeyNoCase, "UPPER(NAME+DTOS(DATE))", 28, 0},
      {{"K:NAME", "K:QTY"}, kKeyDup, "NAME+STR(QTY+ 100000,6,0)", 26, 0},
      {{"K:FLAG", "K:NAME"}, kKeyDup, "", 0, 76},
      // An index orders upwards only: a descending component is refused.
      {{"K:NAME", "-K:QTY"}, kKeyDup, "", 0, 76},
      {{"-K:DATE"}, kKeyDup, "", 0, 76},
  };
  for (const Case& c : cases) {
    FileDecl d = Decl(Path("KEYS"), KeyType());
    d.keys = {{"K:BYNAME", c.components, c.attributes, ""}};
    File f(d);
    ASSERT_EQ(f.Create(), c.error) << c.expression;
    if (c.error) continue;
    const auto n = Bytes("BYNAME.NDX");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&n[24])), c.expression);
    EXPECT_EQ(n[12], c.key_length);
    EXPECT_EQ(n[16], 0);  // character key
  }
  // Negative numbers sort first in the STR conversion.
  FileDecl d = Decl(Path("KEYS"), KeyType());
  d.keys = {{"K:BYNAME", {"K:NAME", "K:QTY"}, kKeyDup, ""}};
  File f(d);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  for (const char* q : {"3", "-5", "12"}) {
    f.As<KeyRec>() = KeyRec{};
    f.As<KeyRec>().NAME = "A";
    f.As<KeyRec>().QTY = q;
    ASSERT_EQ(f.Add(), 0);
  }
  std::vector<std::string> order;
  f.Set(f.key(0));
  while (f.Next() == 0) order.push_back(std::string(Clip(f.As<KeyRec>().QTY.view())));
  EXPECT_EQ(order, (std::vector<std::string>{"   -5", "    3", "   12"}));
  f.Close();
  // Index names equal in their first 8 characters.
  FileDecl twins = Decl(Path("TWINS"), KeyType());
  twins.keys = {{"K:CUSTOMER1", {"K:NAME"}, kKeyDup, ""}, {"K:CUSTOMER2", {"K:DATE"}, kKeyDup, ""}};
  File t(twins);
  testing::internal::CaptureStderr();
  EXPECT_EQ(t.Create(), 38);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Key names must be unique in the first 8"),
            std::string::npos);
}

TEST_F(Db3Edge, OptionsAndTheirAnswers) {
  File f(CustDecl(Path("CUST")));
  EXPECT_EQ(f.Send("BUFFERS=20"), "4096");
  EXPECT_EQ(f.Send("BUFFERS"), "20");
  f.Send("DELETED");
  EXPECT_EQ(ErrorCode(), 33);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Logout(), 80);
  Fill(f, 1, "UNO");
  ASSERT_EQ(f.Add(), 0);
  Fill(f, 2, "DOS");
  ASSERT_EQ(f.Add(), 0);
  ASSERT_EQ(f.Delete(), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 35);
  EXPECT_EQ(f.Send("IGNORESTATUS=ON"), "OFF");
  ASSERT_EQ(f.Get(int32_t(2)), 0);
  EXPECT_EQ(f.Send("DELETED"), "ON");
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(f.Send("DELETED"), "OFF");
  EXPECT_EQ(f.Send("IGNORESTATUS=OFF"), "ON");
  EXPECT_EQ(f.Send("RECOVER"), "");
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(f.Records(f.key(1)), 1);
}

// A damaged file gives its error at OPEN or at the first read that meets the
// damage; the program goes on.
TEST_F(Db3Edge, DamagedFilesGiveErrors) {
  struct Damage {
    const char* what;
    const char* file;
    size_t offset;
    std::vector<uint8_t> bytes;
    int open_error;
    int read_error;  // of a walk by each key and a GET of every record
  };
  const Damage damages[] = {
      {"version", "CUST.DBF", 0, {0x05}, 36, 0},
      {"header length", "CUST.DBF", 8, {40, 0}, 53, 0},
      {"record count beyond the file", "CUST.DBF", 4, {0xFF, 0xFF, 0, 0}, 38, 0},
      {"record length", "CUST.DBF", 10, {9, 0}, 47, 0},
      {"index root", "CUCODE.NDX", 0, {99, 0, 0, 0}, 38, 0},
      {"index key length", "CUNAME.NDX", 12, {0, 1}, 47, 0},
      {"leaf key count", "CUNAME.NDX", 512, {0xE8, 0x03, 0, 0}, 0, 38},
      {"page below out of range", "CUCODE.NDX", 516, {0x10, 0x27, 0, 0}, 0, 38},
      {"memo block beyond the file", "CUST.DBF", 194 + 8 + 40 + 9 + 8, Str("    999999"), 0, 38},
  };
  for (const Damage& d : damages) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    {
      File f(CustDecl(Path("CUST")));
      ASSERT_EQ(f.Create(), 0);
      ASSERT_EQ(f.Open(), 0);
      for (int i = 1; i <= 3; ++i) {
        Fill(f, i, "N" + std::to_string(i));
        f.SetMemoText(0, "texto");
        ASSERT_EQ(f.Add(), 0);
      }
    }
    auto b = Bytes(d.file);
    ASSERT_LE(d.offset + d.bytes.size(), b.size()) << d.what;
    std::copy(d.bytes.begin(), d.bytes.end(), b.begin() + long(d.offset));
    WriteBytes(d.file, b);
    File f(CustDecl(Path("CUST")));
    EXPECT_EQ(f.Open(), d.open_error) << d.what;
    if (d.open_error) continue;
    int first = 0;
    for (int k = 0; k < 2; ++k) {
      f.Set(f.key(k));
      while (f.Next() == 0) {
      }
      if (!first && ErrorCode() != 33) first = ErrorCode();
    }
    for (int n = 1; n <= 3; ++n)
      if (f.Get(int32_t(n)) != 0 && !first) first = ErrorCode();
    EXPECT_EQ(first, d.read_error) << d.what;
  }
}

TEST_F(Db3Edge, MissingIndexOrMemoFile) {
  {
    File f(CustDecl(Path("CUST")));
    ASSERT_EQ(f.Create(), 0);
  }
  std::filesystem::rename(Path("CUNAME.NDX"), Path("X.NDX"));
  File f(CustDecl(Path("CUST")));
  EXPECT_EQ(f.Open(), 46);
  std::filesystem::rename(Path("X.NDX"), Path("CUNAME.NDX"));
  std::filesystem::remove(Path("CUST.DBT"));
  EXPECT_EQ(f.Open(), 73);
}

TEST_F(Db3Edge, ExtendedErrorsStopTheProgram) {
  WriteBytes("CUST.DBF", std::vector<uint8_t>(100, 'x'));
  File f(CustDecl(Path("CUST")));
  EXPECT_EQ(f.Open(), 36);
  EXPECT_EXIT(
      {
        f.Send("EXTERRORS=ON");
        f.Open();
      },
      testing::ExitedWithCode(3),
      "File CUST.DBF, xBase Error \\(-218\\): invalid dBaseIII version");
}

}  // namespace
}  // namespace db3test

namespace db3test {
namespace {

TEST(Db3Errors, XbaseNumbersMapToRuntimeErrors) {
  db3::Db3Fcb f;
  f.name = "datos/CUST.DBF";
  const std::pair<int, int> cases[] = {{0, 0},      {201, 0},    {214, 0},   {-201, 5},
                                       {-218, 36},  {-225, 38},  {-250, 46}, {-279, 32},
                                       {49184, 5},  {-300, -300}, {77, 77}};
  for (auto [xbase, runtime] : cases) EXPECT_EQ(db3::ReportError(&f, xbase), runtime) << xbase;
  // An index page error always posts a file error with its number as code.
  ClearError();
  EXPECT_EQ(db3::ReportError(&f, -209), 90);
  EXPECT_EQ(FileErrorCode(), "-209");
  EXPECT_EQ(FileError(), "no index pages loaded");
}

}  // namespace
}  // namespace db3test

namespace db3test {
namespace {

// A key declared without components is an index that BUILD defines; its
// file is the first free "DYNnnn.$$$" of the current folder.
TEST_F(Db3Edge, DynamicIndexTakesTheFirstFreeWorkName) {
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  WriteBytes("DYN000.$$$", {});
  FileDecl d = CustDecl(Path("CUST"));
  d.keys.push_back({"CU:CUDYN", {}, kKeyDup | kKeyIndex, ""});
  File f(d);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  for (int i = 1; i <= 4; ++i) {
    Fill(f, i, std::string(1, char('E' - i)));
    ASSERT_EQ(f.Add(), 0);
  }
  EXPECT_EQ(f.BuildIndex(f.key(2), ""), 76);
  EXPECT_EQ(f.BuildIndex(f.key(2), "CU:NAME,-CU:CODE"), 76);
  ASSERT_EQ(f.BuildIndex(f.key(2), "CU:NAME"), 0) << ErrorCode();
  EXPECT_TRUE(std::filesystem::exists(Path("DYN001.$$$")));
  std::vector<int32_t> order;
  f.Set(f.key(2));
  while (f.Next() == 0) order.push_back(f.As<CustRecord>().CODE);
  EXPECT_EQ(order, (std::vector<int32_t>{4, 3, 2, 1}));
  f.Close();
  EXPECT_FALSE(std::filesystem::exists(Path("DYN001.$$$")));
  std::filesystem::current_path(cwd);
}

}  // namespace
}  // namespace db3test
