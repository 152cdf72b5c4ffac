// Other programs read what the driver writes and the driver reads what they
// write: Python's dbfread and Perl's XBase (tables and memos), Perl's
// XBase::Index (the order of an index). Skipped where those are missing.
#include <cstdio>

#include "host/runtime/date_time.h"
#include "tests/drivers/dbase3/db3_test_decl.h"

namespace db3test {
namespace {

class Db3Interop : public TempFolder {
 protected:
  void Write(const std::string& name, const std::string& text) {
    WriteBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  // Our table: codes 1..n with names out of order, amounts, dates, memos.
  void Fill(int n) {
    File f(CustDecl(Path("CUST")));
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(), 0);
    for (int i = 1; i <= n; ++i) {
      TempFolder::Fill(f, i, "Nombre " + std::to_string((i * 7) % n), i * 1.25);
      f.As<CustRecord>().SINCE = i % 3 ? BinFromDate(DateFromYmd(2026, 1 + i % 12, 1 + i % 28))
                                       : BinDate{};
      f.SetMemoText(0, i % 2 ? "Nota larga " + std::string(size_t(i % 50) * 3 + 1, 'x') : "");
      ASSERT_EQ(f.Add(), 0);
    }
  }
  // What each reader should print: code|name|amount|date|memo per line.
  std::string Expected(int n) {
    std::string out;
    for (int i = 1; i <= n; ++i) {
      char amount[32];
      std::snprintf(amount, sizeof amount, "%.2f", i * 1.25);
      std::string date;
      if (i % 3) {
        char d[16];
        std::snprintf(d, sizeof d, "2026%02d%02d", 1 + i % 12, 1 + i % 28);
        date = d;
      }
      out += std::to_string(i) + "|Nombre " + std::to_string((i * 7) % n) + "|" + amount + "|" +
             date + "|" + (i % 2 ? "Nota larga " + std::string(size_t(i % 50) * 3 + 1, 'x') : "") + "\n";
    }
    return out;
  }
};

TEST_F(Db3Interop, PythonDbfreadReadsOurTable) {
  if (!Have("/usr/bin/python3 -c 'import dbfread'")) GTEST_SKIP() << "python3-dbfread missing";
  Fill(60);
  Write("read.py",
        "import sys\n"
        "from dbfread import DBF\n"
        "for r in DBF(sys.argv[1], char_decode_errors='strict'):\n"
        "    d = r['SINCE'].strftime('%Y%m%d') if r['SINCE'] else ''\n"
        "    print('%d|%s|%.2f|%s|%s' % (r['CODE'], r['NAME'], r['AMOUNT'], d, r['NOTES'] or ''))\n");
  bool ok = false;
  const std::string out =
      Shell("/usr/bin/python3 " + Path("read.py") + " " + Path("CUST.DBF") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, Expected(60));
}

TEST_F(Db3Interop, PerlXBaseReadsOurTableAndWalksOurIndex) {
  if (!Have("perl -MXBase -MXBase::Index -e 1")) GTEST_SKIP() << "libdbd-xbase-perl missing";
  Fill(300);
  Write("read.pl",
        "use XBase;\n"
        "my $t = XBase->new($ARGV[0]) or die XBase->errstr;\n"
        "for my $i (0 .. $t->last_record) {\n"
        "  my ($del, $code, $name, $amount, $since, $notes) = $t->get_record($i);\n"
        "  next if $del;\n"
        "  $name =~ s/ +$//;\n"
        "  printf \"%d|%s|%.2f|%s|%s\\n\", $code, $name, $amount, $since // '', $notes // '';\n"
        "}\n");
  bool ok = false;
  std::string out = Shell("perl " + Path("read.pl") + " " + Path("CUST.DBF") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, Expected(300));

  Write("walk.pl",
        "use XBase::Index;\n"
        "my $i = XBase::Index->new($ARGV[0]) or die XBase::Index->errstr;\n"
        "$i->prepare_select;\n"
        "while (my ($key, $rec) = $i->fetch) { print \"$rec\\n\"; }\n");
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Open(), 0);
  for (int k = 0; k < 2; ++k) {
    std::string ours;
    f.Set(f.key(k));
    while (f.Next() == 0) ours += std::to_string(f.Pointer()) + "\n";
    const char* ndx = k == 0 ? "CUCODE.NDX" : "CUNAME.NDX";
    out = Shell("perl " + Path("walk.pl") + " " + Path(ndx) + " 2>&1", &ok);
    ASSERT_TRUE(ok) << out;
    EXPECT_EQ(out, ours) << ndx;
  }
}

#pragma pack(push, 1)
struct PerlRec {
  String<10> NAME;
  int32_t QTY;
  int32_t NOTE;
  BinDate DAY;
};
#pragma pack(pop)

TEST_F(Db3Interop, WeUpdateAPerlTableThatPerlReadsBack) {
  if (!Have("perl -MXBase -e 1")) GTEST_SKIP() << "libdbd-xbase-perl missing";
  Write("make.pl",
        "use XBase;\n"
        "my $t = XBase->create(name => $ARGV[0], version => 3,\n"
        "  field_names => ['NAME', 'QTY', 'NOTE', 'DAY'], field_types => ['C', 'N', 'M', 'D'],\n"
        "  field_lengths => [10, 5, 10, 8], field_decimals => [0, 0, 0, 0]) or die XBase->errstr;\n"
        "$t->set_record(0, 'uno', 1, 'primera nota', '20261208');\n"
        "$t->set_record(1, 'dos', 2, 'segunda ' x 100, '');\n"
        "$t->close;\n");
  Write("dump.pl",
        "use XBase;\n"
        "my $t = XBase->new($ARGV[0]) or die XBase->errstr;\n"
        "for my $i (0 .. $t->last_record) {\n"
        "  my ($del, $name, $qty, $note, $day) = $t->get_record($i);\n"
        "  $name =~ s/ +$//;\n"
        "  print \"$name|$qty|$note|\", $day // '', \"\\n\";\n"
        "}\n");
  bool ok = false;
  std::string out = Shell("perl " + Path("make.pl") + " " + Path("PERL") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;

  static auto rt = DeclareRecord<PerlRec>(
      "P", {NV_FIELD(PerlRec, NAME), NV_FIELD(PerlRec, QTY, .name = "QTY=N(5)"),
            NV_FIELD(PerlRec, NOTE), NV_FIELD(PerlRec, DAY)});
  FileDecl d;
  d.label = "PERL";
  d.driver = "dBase3";
  d.name = Path("PERL.dbf");  // as the other program named it
  d.record = rt;
  d.memos = {{"P:NOTA", 2000, 0, ""}};
  File f(d);
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f.As<PerlRec>().NAME.view()), "uno");
  EXPECT_EQ(int32_t{f.As<PerlRec>().QTY}, 1);
  EXPECT_EQ(Clip(f.MemoText(0)), "primera nota");
  EXPECT_EQ(int{f.As<PerlRec>().DAY.year}, 2026);
  ASSERT_EQ(f.Get(int32_t(2)), 0);
  EXPECT_EQ(Clip(f.MemoText(0)).size(), 799u);  // the last blank clipped
  f.As<PerlRec>().QTY = 22;
  f.SetMemoText(0, "reescrita por nosotros");
  ASSERT_EQ(f.Put(), 0) << ErrorCode();
  f.As<PerlRec>().NAME = "tres";
  f.As<PerlRec>().QTY = 3;
  f.SetMemoText(0, std::string(600, 'z'));
  ASSERT_EQ(f.Add(), 0);
  ASSERT_EQ(f.Close(), 0);

  out = Shell("perl " + Path("dump.pl") + " " + Path("PERL.dbf") + " 2>&1", &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, "uno|1|primera nota|20261208\n"
                 "dos|22|reescrita por nosotros|\n"
                 "tres|3|" + std::string(600, 'z') + "|\n");
}

}  // namespace
}  // namespace db3test
