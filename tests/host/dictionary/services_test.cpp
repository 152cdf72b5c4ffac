// The four services of the reports library and the directory lookup.
#include <thread>

#include "host/dictionary/records.h"
#include "host/dictionary/services.h"
#include "tests/host/dictionary/dict_fixture.h"

namespace {

using namespace nv;
using namespace nv::dict;
using dicttest::DictTest;

TEST(Services, CallTypeCodes) {
  EXPECT_EQ(TIPO_LLAMADAS("Todas"), "  ");
  EXPECT_EQ(TIPO_LLAMADAS("Todas               "), "  ");  // as CURTAB carries it
  EXPECT_EQ(TIPO_LLAMADAS(""), "  ");
  EXPECT_EQ(TIPO_LLAMADAS("Especiales"), "ES");
  EXPECT_EQ(TIPO_LLAMADAS("celulares nacionales"), "CN");
  std::set<std::string> codes;
  for (const char* n : {"Locales", "Nacionales", "Internacionales", "Celulares",
                        "Celulares Nacionales", "Especiales"}) {
    std::string c = TIPO_LLAMADAS(n);
    EXPECT_EQ(c.size(), 2u) << n;
    EXPECT_NE(c, "  ") << n;
    EXPECT_NE(c, "NT") << n;  // reserved for unrated calls
    codes.insert(c);
  }
  EXPECT_EQ(codes.size(), 6u);
  // An unknown name selects nothing rather than every call.
  EXPECT_EQ(TIPO_LLAMADAS("Larga Distancia"), "??");
  EXPECT_EQ(TIPO_LLAMADAS("  Locales"), "??");
}

TEST(Services, StringRange) {
  EXPECT_TRUE(RANGO_STRING("0114", "0100", "0200"));
  EXPECT_TRUE(RANGO_STRING("0100", "0100", "0200"));  // bounds included
  EXPECT_TRUE(RANGO_STRING("0200   ", "0100", "0200"));
  EXPECT_FALSE(RANGO_STRING("0201", "0100", "0200"));
  EXPECT_FALSE(RANGO_STRING("0099", "0100", "0200"));
  EXPECT_TRUE(RANGO_STRING("123", "", "200"));      // blank lower bound
  EXPECT_FALSE(RANGO_STRING("999", "500", "   "));  // blank upper bound: inverted
  EXPECT_TRUE(RANGO_STRING("  ", "", ""));          // blank range: blank values only
  EXPECT_FALSE(RANGO_STRING("100", "500", ""));
  EXPECT_FALSE(RANGO_STRING("150", "200", "100"));  // inverted: empty
  EXPECT_TRUE(RANGO_STRING("", "", ""));
  EXPECT_TRUE(RANGO_STRING("\xE1", "a", "\xFF"));  // bytes compare unsigned
}

TEST(Services, DurationText) {
  EXPECT_EQ(TIEMPO(0, 0), "0:00:00");
  EXPECT_EQ(TIEMPO(-500, 3), "0:00:00");
  EXPECT_EQ(TIEMPO(6199, 1), "0:01:01");  // hundredths dropped
  EXPECT_EQ(TIEMPO(int64_t(3600) * 100 * 27 + 5900, 10), "27:00:59");
  EXPECT_EQ(TIEMPO(int64_t(3600) * 100 * 27 + 5900, 0), "27:00:59");
  std::string big = TIEMPO(int64_t(999999) * 360000, 1);
  EXPECT_EQ(big, "999999:00:00");
  EXPECT_LE(big.size(), 12u);
}

class DirectoryServices : public DictTest {
 protected:
  void SetUp() override {
    DictTest::SetUp();
    FileAccess* ma11 = dict_->Access("FXMA11");
    FileAccess* re09 = dict_->Access("FXRE09");
    ASSERT_EQ(ma11->UseFile(), 0);
    ASSERT_EQ(re09->UseFile(), 0);
    Entry("ACME S.A.");   // 1
    Entry("Juan Pérez");  // 2
    Number("011", 1, 5, "Conmutador");
    Number("0114567", 2, 6, "");
    Number("0351", 1, 0, "Sucursal");
    Number("0351999", 9, 0, "Borrado");  // owner that does not exist
    ma11->Close();
    re09->Close();
  }
  void Entry(const char* name) {
    FileAccess* a = dict_->Access("FXMA11");
    a->rec<MA11Record>() = MA11Record{};
    a->rec<MA11Record>().NOMBRE = name;
    a->rec<MA11Record>().ESEMPR = "E";
    ASSERT_EQ(a->Insert(), 0);
  }
  void Number(const char* n, int owner, int group, const char* comment) {
    FileAccess* a = dict_->Access("FXRE09");
    auto& r = a->rec<RE09Record>();
    r = RE09Record{};
    r.CODIGO.Set(owner);
    r.NROTEL = n;
    r.COMENT = comment;
    r.GRUAGE.Set(group);
    r.CARINI = std::string_view(n).substr(0, 1);
    r.LONTEL = uint8_t(std::string_view(n).size());
    ASSERT_EQ(a->Insert(), 0);
  }
};

TEST_F(DirectoryServices, LongestPrefixWins) {
  DirectoryLookup l(*dict_);
  ASSERT_EQ(l.open_error(), 0);
  DirectoryLookup::Match m;
  ASSERT_TRUE(l.Find("01145671234", &m));
  EXPECT_EQ(m.code, 2);
  EXPECT_EQ(m.group, 6);
  EXPECT_EQ(m.number, "0114567");
  ASSERT_TRUE(l.Find("0114999", &m));
  EXPECT_EQ(m.code, 1);
  EXPECT_EQ(m.group, 5);
  ASSERT_TRUE(l.Find("011   ", &m));  // equal to the directory number
  EXPECT_EQ(m.code, 1);
  EXPECT_FALSE(l.Find("01", &m));  // shorter than every number of its kind
  EXPECT_EQ(m.code, 0);
  EXPECT_FALSE(l.Find("0221", &m));
  EXPECT_FALSE(l.Find("", &m));
  EXPECT_FALSE(l.Find("9", &m));
}

TEST_F(DirectoryServices, DescriptionNamesTheOwnerAndTheComment) {
  EXPECT_EQ(DESCRIPCION_AGENDA("0114444"), "");  // no dictionary yet
  FxdatsInit(&reporter_, profile_.get());
  EXPECT_EQ(DESCRIPCION_AGENDA("0114444"), "ACME S.A. - Conmutador");
  EXPECT_EQ(DESCRIPCION_AGENDA("01145670"), "Juan Pérez");
  EXPECT_EQ(DESCRIPCION_AGENDA("03519990"), "Borrado");  // owner gone: the comment
  EXPECT_EQ(DESCRIPCION_AGENDA("0800"), "");
  EXPECT_EQ(DESCRIPCION_AGENDA("   "), "");
  // Each thread has its own files.
  std::string other;
  std::thread t([&] { other = DESCRIPCION_AGENDA("0351222"); });
  t.join();
  EXPECT_EQ(other, "ACME S.A. - Sucursal");
  FxdatsKill();
  EXPECT_EQ(DESCRIPCION_AGENDA("0114444"), "");
}

TEST_F(DirectoryServices, MissingDirectoryFilesGiveNoDescription) {
  WriteSection({{"Folder", dir_ + "/Vacio"}});
  Rebuild();
  DirectoryLookup l(*dict_);
  EXPECT_NE(l.open_error(), 0);
  DirectoryLookup::Match m;
  EXPECT_FALSE(l.Find("0114567", &m));
  EXPECT_EQ(l.Description("0114567"), "");
}

}  // namespace
