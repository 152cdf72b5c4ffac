// Packed decimals (runtime types 10 and 11) in numeric table fields: the
// round trip of random values, the extremes, and values that do not fit.
#include <random>

#include "host/runtime/decimal.h"
#include "tests/drivers/dbase3/db3_test_decl.h"

namespace db3test {
namespace {

#pragma pack(push, 1)
struct DecRec {
  Decimal<5, 2> AMOUNT;  // picture @N-_10.2
  Decimal<3, 0> QTY;     // declared as type 11: @N-_6.0
  String<8> NAME;
};
struct SmallRec {
  Decimal<5, 2> AMOUNT;
  Decimal<1, 0> QTY;  // one digit only
  String<8> NAME;
};
#pragma pack(pop)

template <class R>
std::shared_ptr<const RecordType> DecType(bool typed) {
  auto rt = std::make_shared<RecordType>(
      *DeclareRecord<R>("D", {NV_FIELD(R, AMOUNT, .name = typed ? "AMOUNT=N" : ""),
                              NV_FIELD(R, QTY, .name = typed ? "QTY=N" : ""), NV_FIELD(R, NAME)}));
  rt->fields[2].type = kTypePDecimal;
  return rt;
}

FileDecl DecDecl(const std::string& path, std::shared_ptr<const RecordType> rt) {
  FileDecl d;
  d.label = "DEC";
  d.driver = "dBase3";
  d.name = path;
  d.record = std::move(rt);
  return d;
}

using Db3Decimal = TempFolder;

TEST_F(Db3Decimal, RoundTripThroughNumericFields) {
  // Without "=N" CREATE refuses the decimal (it is not a mapped type).
  File untyped_create(DecDecl(Path("DEC"), DecType<DecRec>(false)));
  EXPECT_EQ(untyped_create.Create(), 75);

  File made(DecDecl(Path("DEC"), DecType<DecRec>(true)));
  ASSERT_EQ(made.Create(), 0) << ErrorCode();
  const auto head = Bytes("DEC.DBF");
  EXPECT_EQ(head[32 + 11], 'N');
  EXPECT_EQ(head[32 + 16], 10);
  EXPECT_EQ(head[32 + 17], 2);
  EXPECT_EQ(head[64 + 16], 6);
  EXPECT_EQ(head[64 + 17], 0);

  // Written and read through a declaration without types: the table's apply.
  File f(DecDecl(Path("DEC"), DecType<DecRec>(false)));
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  std::vector<std::pair<int64_t, int64_t>> values = {
      {0, 0}, {999999999, 99999}, {-99999999, -9999}, {-1, -1}, {5, 7}};
  std::mt19937_64 rng(20261208);
  std::uniform_int_distribution<int64_t> amount(-99999999, 999999999), qty(-9999, 99999);
  for (int i = 0; i < 40; ++i) values.emplace_back(amount(rng), qty(rng));
  for (const auto& [a, q] : values) {
    auto& r = f.As<DecRec>();
    ASSERT_TRUE(r.AMOUNT.SetScaled(a));
    ASSERT_TRUE(r.QTY.SetScaled(q));
    r.NAME = "x";
    ASSERT_EQ(f.Add(), 0) << a << " " << ErrorCode();
  }
  for (size_t i = 0; i < values.size(); ++i) {
    std::memset(static_cast<void*>(&f.As<DecRec>()), 0x33, sizeof(DecRec));
    ASSERT_EQ(f.Get(int32_t(i + 1)), 0) << ErrorCode();
    int64_t a = 0, q = 0;
    ASSERT_TRUE(f.As<DecRec>().AMOUNT.Scaled(&a));
    ASSERT_TRUE(f.As<DecRec>().QTY.Scaled(&q));
    EXPECT_EQ(a, values[i].first) << i;
    EXPECT_EQ(q, values[i].second) << i;
  }
  // The table text as other programs read it.
  const auto b = Bytes("DEC.DBF");
  const size_t rl = 1 + 10 + 6 + 8, first = 32 * 4 + 1;
  EXPECT_EQ(std::string(b.begin() + long(first + rl + 1), b.begin() + long(first + rl + 17)),
            "9999999.99 99999");
  EXPECT_EQ(
      std::string(b.begin() + long(first + 2 * rl + 1), b.begin() + long(first + 2 * rl + 17)),
      "-999999.99 -9999");

  // A value wider than its picture: bad data, nothing written.
  const int64_t count = f.Records();
  ASSERT_TRUE(f.As<DecRec>().AMOUNT.SetScaled(-999999999));
  EXPECT_EQ(f.Add(), 90);
  EXPECT_EQ(FileErrorCode(), "-233");
  EXPECT_EQ(f.Records(), count);
  ASSERT_EQ(f.Close(), 0);

  // A stored value too large for a smaller decimal is an error on reading,
  // not a wrong number.
  File small(DecDecl(Path("DEC"), DecType<SmallRec>(false)));
  ASSERT_EQ(small.Open(), 0) << ErrorCode();
  EXPECT_EQ(small.Get(2), 90);
  ASSERT_EQ(small.Get(5), 0) << ErrorCode();
  int64_t q = 0;
  ASSERT_TRUE(small.As<SmallRec>().QTY.Scaled(&q));
  EXPECT_EQ(q, 7);
}

// "-1234.56" from a value scaled by 10^places.
std::string Scaled(int64_t v, int places) {
  if (places == 0) return std::to_string(v);
  int64_t unit = 1;
  for (int i = 0; i < places; ++i) unit *= 10;
  const int64_t a = v < 0 ? -v : v;
  std::string frac = std::to_string(a % unit);
  frac.insert(0, size_t(places) - frac.size(), '0');
  return (v < 0 ? "-" : "") + std::to_string(a / unit) + "." + frac;
}

// Decimals we write are the numbers Python's dbfread and Perl's XBase read;
// decimals Perl writes are read by us to the last digit, and Perl reads
// back what we change.
TEST_F(Db3Decimal, OtherProgramsReadAndWriteTheSameNumbers) {
  const bool python = Have("/usr/bin/python3 -c 'import dbfread'");
  const bool perl = Have("perl -MXBase -e 1");
  if (!python && !perl) GTEST_SKIP() << "python3-dbfread and libdbd-xbase-perl missing";
  auto write = [&](const std::string& name, const std::string& text) {
    WriteBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
  };
  std::vector<std::pair<int64_t, int64_t>> values = {
      {0, 0}, {999999999, 99999}, {-99999999, -9999}, {-1, -1}, {5, 7}, {100, 10}};
  std::mt19937_64 rng(8122026);
  std::uniform_int_distribution<int64_t> amount(-99999999, 999999999), qty(-9999, 99999);
  for (int i = 0; i < 60; ++i) values.emplace_back(amount(rng), qty(rng));
  std::string want;
  for (const auto& [a, q] : values) want += Scaled(a, 2) + "|" + Scaled(q, 0) + "\n";

  {
    File made(DecDecl(Path("OURS"), DecType<DecRec>(true)));
    ASSERT_EQ(made.Create(), 0) << ErrorCode();
    File f(DecDecl(Path("OURS"), DecType<DecRec>(false)));
    ASSERT_EQ(f.Open(), 0) << ErrorCode();
    for (const auto& [a, q] : values) {
      ASSERT_TRUE(f.As<DecRec>().AMOUNT.SetScaled(a));
      ASSERT_TRUE(f.As<DecRec>().QTY.SetScaled(q));
      ASSERT_EQ(f.Add(), 0) << ErrorCode();
    }
  }
  bool ok = false;
  if (python) {
    write("read.py",
          "import sys\n"
          "from dbfread import DBF\n"
          "for r in DBF(sys.argv[1]):\n"
          "    print('%.2f|%d' % (r['AMOUNT'], r['QTY']))\n");
    const std::string out =
        Shell("/usr/bin/python3 " + Path("read.py") + " " + Path("OURS.DBF") + " 2>&1", &ok);
    ASSERT_TRUE(ok) << out;
    EXPECT_EQ(out, want);
  }
  if (!perl) return;
  write("read.pl",
        "use XBase;\n"
        "my $t = XBase->new($ARGV[0]) or die XBase->errstr;\n"
        "for my $i (0 .. $t->last_record) {\n"
        "  my ($del, $amount, $qty) = $t->get_record($i, 'AMOUNT', 'QTY');\n"
        "  printf \"%.2f|%d\\n\", $amount, $qty;\n"
        "}\n");
  std::string out = Shell("perl " + Path("read.pl") + " " + Path("OURS.DBF") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, want);

  // Perl's table: its numbers as text, read by us exactly.
  std::string make =
      "use XBase;\n"
      "my $t = XBase->create(name => $ARGV[0], version => 3,\n"
      "  field_names => ['AMOUNT', 'QTY', 'NAME'], field_types => ['N', 'N', 'C'],\n"
      "  field_lengths => [10, 6, 8], field_decimals => [2, 0, 0]) or die XBase->errstr;\n";
  for (size_t i = 0; i < values.size(); ++i)
    make += "$t->set_record(" + std::to_string(i) + ", '" + Scaled(values[i].first, 2) + "', '" +
            Scaled(values[i].second, 0) + "', 'p');\n";
  write("make.pl", make + "$t->close;\n");
  out = Shell("perl " + Path("make.pl") + " " + Path("PERL") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  File f(DecDecl(Path("PERL.dbf"), DecType<DecRec>(false)));
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  std::string ours;
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(f.Get(int32_t(i + 1)), 0) << ErrorCode();
    int64_t a = 0, q = 0;
    ASSERT_TRUE(f.As<DecRec>().AMOUNT.Scaled(&a));
    ASSERT_TRUE(f.As<DecRec>().QTY.Scaled(&q));
    ours += Scaled(a, 2) + "|" + Scaled(q, 0) + "\n";
    // Every value negated where it fits, as Perl reads it back.
    if (-a >= -99999999 && -q >= -9999) {
      ASSERT_TRUE(f.As<DecRec>().AMOUNT.SetScaled(-a));
      ASSERT_TRUE(f.As<DecRec>().QTY.SetScaled(-q));
      ASSERT_EQ(f.Put(), 0) << ErrorCode();
      values[i] = {-a, -q};
    }
  }
  EXPECT_EQ(ours, want);
  ASSERT_EQ(f.Close(), 0);
  std::string changed;
  for (const auto& [a, q] : values) changed += Scaled(a, 2) + "|" + Scaled(q, 0) + "\n";
  out = Shell("perl " + Path("read.pl") + " " + Path("PERL.dbf") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, changed);
}

}  // namespace
}  // namespace db3test
