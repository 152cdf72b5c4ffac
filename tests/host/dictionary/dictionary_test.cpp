// The dictionary at run time: auto-numbered codes, reporting, key orders,
// aliases, relations, use counts, the store choice and the globals.
#include "host/dictionary/records.h"
#include "tests/host/dictionary/dict_fixture.h"

namespace {

using namespace nv;
using namespace nv::dict;
using dicttest::DictTest;

class DictionaryTest : public DictTest {
 protected:
  int32_t AddEntry(const char* name, int32_t code = 0, const char* kind = "E") {
    FileAccess* a = dict_->Access("FXMA11");
    auto& r = a->rec<MA11Record>();
    r = MA11Record{};
    r.CODIGO = code;
    r.NOMBRE = name;
    r.ESEMPR = kind;
    EXPECT_EQ(a->Insert(), 0) << name;
    return r.CODIGO;
  }
  void AddNumber(const char* number, int32_t owner, int group = 0) {
    FileAccess* a = dict_->Access("FXRE09");
    auto& r = a->rec<RE09Record>();
    r = RE09Record{};
    r.CODIGO.Set(owner);
    r.NROTEL = number;
    r.GRUAGE.Set(group);
    r.CARINI = std::string_view(number).substr(0, 1);
    r.LONTEL = uint8_t(Clip(number).size());
    EXPECT_EQ(a->Insert(), 0) << number;
  }
};

TEST_F(DictionaryTest, EntryCodesAreNumberedFromTheLastCodeInKeyOrder) {
  FileAccess* a = dict_->Access("FXMA11");
  ASSERT_EQ(a->UseFile(), 0);  // a missing directory file is created
  EXPECT_EQ(AddEntry("Primera"), 1);
  EXPECT_EQ(AddEntry("Segunda"), 2);
  EXPECT_EQ(AddEntry("Con código", 10), 10);  // an explicit code stays
  EXPECT_EQ(AddEntry("Cuarta"), 11);
  EXPECT_EQ(AddEntry("Contacto", 0, "C"), 12);  // one code space for both kinds

  // All deleted: the next entry gets 1 again.
  for (;;) {
    ASSERT_EQ(a->SetOrder(""), 0);
    if (a->Next() != 0) break;
    ASSERT_EQ(a->Delete(), 0);
  }
  EXPECT_EQ(AddEntry("Otra vez"), 1);
  EXPECT_TRUE(reporter_.calls.empty());
}

TEST_F(DictionaryTest, NumberingKeepsTheRestOfTheBufferAndTheMemo) {
  FileAccess* a = dict_->Access("FXMA11");
  ASSERT_EQ(a->UseFile(), 0);
  AddEntry("Anterior");
  auto& r = a->rec<MA11Record>();
  r = MA11Record{};
  r.NOMBRE = "Nueva";
  r.DIRECC = "Calle 1";
  r.ESEMPR = "E";
  if (a->file().memo_count() == 1 && a->file().memo(0)->buffer != nullptr) {
    a->file().SetMemoText(0, "comentario");
  }
  ASSERT_EQ(a->Insert(), 0);
  EXPECT_EQ(+r.CODIGO, 2);
  EXPECT_EQ(r.NOMBRE, "Nueva");
  EXPECT_EQ(r.DIRECC, "Calle 1");
  if (a->file().memo(0)->buffer != nullptr) {
    EXPECT_EQ(Clip(a->file().MemoText(0)), "comentario");
  }
  r.CODIGO = 2;
  ASSERT_EQ(a->TryFetch("MA11:MA11_CP"), 0);
  EXPECT_EQ(r.NOMBRE, "Nueva");
}

TEST_F(DictionaryTest, DecimalCodesNumberAndAFullCodeSpaceFailsCleanly) {
  FileAccess* ta02 = dict_->Access("FXTA02");
  ASSERT_EQ(ta02->UseFile(), 0);
  auto& c = ta02->rec<TA02Record>();
  for (int i = 1; i <= 3; ++i) {
    c = TA02Record{};
    c.DESRUB = "Rubro";
    ASSERT_EQ(ta02->Insert(), 0);
    int64_t v = 0;
    c.CODRUB.Scaled(&v);
    EXPECT_EQ(v, i);
  }
  c = TA02Record{};
  c.CODRUB.Set(999);  // the highest code a 2-byte decimal holds
  c.DESRUB = "Último";
  ASSERT_EQ(ta02->Insert(), 0);
  c = TA02Record{};
  c.DESRUB = "Sin lugar";
  EXPECT_EQ(ta02->Insert(), 40);
  EXPECT_TRUE(c.CODRUB.IsZero());  // the buffer's code is 0 again
  ASSERT_EQ(reporter_.calls.size(), 1u);
  EXPECT_EQ(reporter_.calls[0].label, "FXTA02");
  EXPECT_EQ(reporter_.calls[0].operation, "Insert");
  EXPECT_EQ(reporter_.calls[0].code, 40);

  FileAccess* ta09 = dict_->Access("FXTA09");
  ASSERT_EQ(ta09->UseFile(), 0);
  auto& g = ta09->rec<TA09Record>();
  g.GRUAGE.Set(500);
  ASSERT_EQ(ta09->Insert(), 0);
  g = TA09Record{};
  ASSERT_EQ(ta09->Insert(), 0);
  int64_t v = 0;
  g.GRUAGE.Scaled(&v);
  EXPECT_EQ(v, 501);
}

TEST_F(DictionaryTest, FetchReportsTryFetchAnswersTheCode) {
  FileAccess* a = dict_->Access("FXMA11");
  ASSERT_EQ(a->UseFile(), 0);
  AddEntry("Uno");
  a->rec<MA11Record>().CODIGO = 77;
  EXPECT_EQ(a->TryFetch("MA11:MA11_CP"), 35);
  EXPECT_TRUE(reporter_.calls.empty());
  EXPECT_EQ(a->Fetch("MA11:MA11_CP"), 35);
  ASSERT_EQ(reporter_.calls.size(), 1u);
  EXPECT_EQ(reporter_.calls[0].operation, "Fetch");
  EXPECT_EQ(dict_->last_error(), 35);
  EXPECT_FALSE(reporter_.last_text.empty());

  // The unique-name rule: same name and kind is a duplicate, another kind not.
  a->rec<MA11Record>() = MA11Record{};
  a->rec<MA11Record>().NOMBRE = "Uno";
  a->rec<MA11Record>().ESEMPR = "E";
  EXPECT_EQ(a->TryInsert(), 40);
  a->rec<MA11Record>().ESEMPR = "C";
  EXPECT_EQ(a->TryInsert(), 0);
}

TEST_F(DictionaryTest, PrefixKeyRunsFromLongestToShortestWithinTheFirstCharacter) {
  ASSERT_EQ(dict_->Access("FXRE09")->UseFile(), 0);
  AddNumber("011", 1);
  AddNumber("0114567", 2);
  AddNumber("01", 3);
  AddNumber("0221", 4);
  AddNumber("123456", 5);
  FileAccess* a = dict_->Access("FXRE09");
  auto& r = a->rec<RE09Record>();
  r.CARINI = "0";
  r.LONTEL = 255;
  r.NROTEL.Clear();
  ASSERT_EQ(a->SetOrder("RE09:RE09_C3"), 0);
  std::vector<std::string> got;
  while (a->Next() == 0 && r.CARINI == "0") got.push_back(r.NROTEL.str());
  EXPECT_EQ(got, (std::vector<std::string>{"0114567", "0221", "011", "01"}));
}

TEST_F(DictionaryTest, CallKeysOrderByDateThenTimeAcrossYearsAndMonths) {
  FileAccess* mo = Created("FXMO01");
  auto& r = mo->rec<CallRecord>();
  struct Call {
    int y, m, d, h;
    const char* number;
  };
  // Byte order of the binary date (day first) would sort these wrongly.
  const Call calls[] = {{2024, 1, 2, 9, "011"},
                        {2023, 2, 1, 8, "011"},
                        {2023, 12, 31, 23, "022"},
                        {2024, 1, 2, 7, "011"},
                        {2023, 2, 1, 8, "010"}};
  int id = 0;
  for (const Call& c : calls) {
    r = CallRecord{};
    r.CODLLA = ++id;
    r.FECLLA.set_day(DateFromYmd(c.y, c.m, c.d));
    r.HORLLA = TimeFromHms(c.h, 0, 0);
    r.NROTEL = c.number;
    ASSERT_EQ(mo->Insert(), 0);
  }
  auto walk = [&](const char* key) {
    r = CallRecord{};
    EXPECT_EQ(mo->SetOrder(key), 0);
    std::vector<int> ids;
    while (mo->Next() == 0) ids.push_back(+r.CODLLA);
    return ids;
  };
  EXPECT_EQ(walk("MO01:MO01_C1"), (std::vector<int>{2, 5, 3, 4, 1}));
  EXPECT_EQ(walk("MO01:MO01_C9"), (std::vector<int>{5, 2, 4, 1, 3}));
  EXPECT_EQ(mo->DateOf("MO01:FECLLA"), DateFromYmd(2023, 12, 31));  // the last one read
  EXPECT_EQ(mo->DateOf("MO01:NROTEL"), 0);                          // not a date group
  EXPECT_FALSE(mo->SetDate("MO01:HORLLA", 5));
  EXPECT_TRUE(mo->SetDate("MO01:FECLLA", DateFromYmd(1999, 9, 9)));
  EXPECT_EQ(+r.FECLLA.FECLLA_ANO, 1999);
}

// The data file open twice (the file and its alias) in one program: two
// stations that never wait for each other.
TEST_F(DictionaryTest, AliasesShareTheStoreButKeepTheirOwnBufferAndPosition) {
  ASSERT_EQ(dict_->Access("FXMA11")->UseFile(), 0);
  AddEntry("A");
  AddEntry("B");
  AddEntry("C");
  FileAccess* main = dict_->Access("FXMA11");
  FileAccess* alias = dict_->Access("ALMA11");
  ASSERT_EQ(alias->UseFile(), 0);
  main->rec<MA11Record>().CODIGO = 0;
  alias->rec<MA11Record>().CODIGO = 0;
  EXPECT_EQ(dict_->EffectiveName("ALMA11"), dict_->EffectiveName("FXMA11"));
  ASSERT_EQ(main->SetOrder("MA11:MA11_CP"), 0);
  ASSERT_EQ(alias->SetOrder("AMA11:MA11_CP"), 0);
  ASSERT_EQ(main->Next(), 0);
  ASSERT_EQ(main->Next(), 0);
  ASSERT_EQ(alias->Next(), 0);
  EXPECT_EQ(main->rec<MA11Record>().NOMBRE, "B");
  EXPECT_EQ(alias->rec<MA11Record>().NOMBRE, "A");
  // A record added through the alias is numbered in the same code space.
  auto& ar = alias->rec<MA11Record>();
  ar = MA11Record{};
  ar.NOMBRE = "D";
  ar.ESEMPR = "C";
  ASSERT_EQ(alias->Insert(), 0);
  EXPECT_EQ(+ar.CODIGO, 4);
  EXPECT_EQ(main->rec<MA11Record>().NOMBRE, "B");
  ASSERT_EQ(main->Next(), 0);
  EXPECT_EQ(main->rec<MA11Record>().NOMBRE, "C");
}

TEST_F(DictionaryTest, RelationsOpenRelatedFilesOnceAndCloseWhatTheyOpened) {
  ASSERT_EQ(dict_->OpenRelation("FXMA11"), 0);
  for (const char* l : {"FXMA11", "FXRE09", "FXTA09", "FXTA01", "FXTA02"}) {
    EXPECT_EQ(dict_->Access(l)->uses(), 1) << l;
  }
  ASSERT_EQ(dict_->OpenRelation("ALMA11"), 0);
  EXPECT_EQ(dict_->Access("FXTA01")->uses(), 2);
  EXPECT_EQ(dict_->Access("FXTA09")->uses(), 2);  // through ALRE09
  EXPECT_EQ(dict_->CloseRelation("FXMA11"), 0);
  EXPECT_FALSE(dict_->Access("FXMA11")->is_open());
  EXPECT_TRUE(dict_->Access("FXTA01")->is_open());
  EXPECT_EQ(dict_->CloseRelation("ALMA11"), 0);
  EXPECT_FALSE(dict_->Access("FXTA01")->is_open());
  EXPECT_EQ(dict_->CloseRelation("ALMA11"), 0);  // nothing left: harmless
}

TEST_F(DictionaryTest, AFailedRelationLeavesNothingOpen) {
  // The call files are not created by the dictionary: FXMO01 is missing.
  EXPECT_EQ(dict_->OpenRelation("FXMO01"), kErrFileNotFound);
  EXPECT_FALSE(dict_->Access("FXMO01")->is_open());
  ASSERT_EQ(reporter_.calls.size(), 1u);
  EXPECT_EQ(reporter_.calls[0].operation, "Open");
  // The transfer file missing while the calls exist: the calls are closed again.
  reporter_.calls.clear();
  Created("FXMO01")->Close();
  EXPECT_EQ(dict_->OpenRelation("FXMO01"), kErrFileNotFound);
  EXPECT_FALSE(dict_->Access("FXMO01")->is_open());
  EXPECT_FALSE(dict_->Access("ALMO01")->is_open());
  EXPECT_EQ(dict_->OpenRelation("NOEXISTE"), kErrFileNotFound);
}

TEST_F(DictionaryTest, UseCountsBalance) {
  FileAccess* a = dict_->Access("FXTA09");
  ASSERT_EQ(a->UseFile(), 0);
  ASSERT_EQ(a->UseFile(), 0);
  EXPECT_EQ(a->Close(), 0);
  EXPECT_TRUE(a->is_open());
  EXPECT_EQ(a->Close(), 0);
  EXPECT_FALSE(a->is_open());
  EXPECT_EQ(a->Close(), 0);  // one close too many changes nothing
  EXPECT_EQ(a->uses(), 0);
  EXPECT_EQ(dict_->Access("nada"), nullptr);
  EXPECT_EQ(dict_->Access("fxta09"), a);
}

TEST_F(DictionaryTest, ProfileSectionMovesOneFileAndItsAliases) {
  WriteSection({{"FXMO01", "ODBC;DSN=llamadas;UID=u;PWD=p;salientes"}, {"Owner", "clave"}});
  Rebuild();
  FileDecl mo1 = dict_->Declaration("FXMO01");
  EXPECT_EQ(mo1.driver, "ODBC");
  EXPECT_EQ(mo1.owner, "DSN=llamadas;UID=u;PWD=p");
  EXPECT_EQ(mo1.name, "salientes");
  FileDecl alias = dict_->Declaration("ALMO01");
  EXPECT_EQ(alias.driver, "ODBC");
  EXPECT_EQ(alias.name, "salientes");
  FileDecl mo2 = dict_->Declaration("FXMO02");
  EXPECT_EQ(mo2.driver, dicttest::kTestDriver);
  EXPECT_EQ(mo2.owner, "clave");
  EXPECT_EQ(mo2.name, dir_ + "/Archivos/FXMO02.VTR");
  EXPECT_EQ(dict_->Declaration("FXMA11").name, dir_ + "/Archivos/FXMA11");
  // The text file is never moved.
  EXPECT_EQ(dict_->Declaration("SALIDA").driver, "ASCII");
  EXPECT_EQ(dict_->Declaration("SALIDA").name, ".\\Archivos\\SALIDA.TXT");
}

TEST_F(DictionaryTest, OdbcWithoutNameUsesTheLabelAndIgnoresNameVariables) {
  WriteSection({{"FXMO02", "ODBC"}, {"FXTR01", "dBase3;;"}, {"FXTA09", " ; ; "}});
  Rebuild();
  dict_->SetCallFileNames();
  EXPECT_EQ(dict_->EffectiveName("FXMO02"), "FXMO02");
  EXPECT_EQ(dict_->EffectiveName("ALMO02"), "FXMO02");
  EXPECT_EQ(dict_->Declaration("FXTR01").driver, "dBase3");
  EXPECT_EQ(dict_->EffectiveName("FXTR01"), dir_ + "/Archivos/FXTR01.VTR");
  // An entry of blanks and separators changes nothing.
  EXPECT_EQ(dict_->Declaration("FXTA09").driver, dicttest::kTestDriver);
  EXPECT_EQ(dict_->EffectiveName("FXTA09"), dir_ + "/Archivos/FXTA09");
}

TEST_F(DictionaryTest, StoreEntriesParse) {
  StoreChoice c = ParseStoreEntry("ODBC");
  EXPECT_EQ(c.driver, "ODBC");
  EXPECT_TRUE(c.owner.empty());
  EXPECT_TRUE(c.name.empty());
  c = ParseStoreEntry(" dBase3 ; propietario ");
  EXPECT_EQ(c.driver, "dBase3");
  EXPECT_EQ(c.owner, "propietario");
  EXPECT_TRUE(c.name.empty());
  c = ParseStoreEntry("ODBC;a;b;c;tabla");
  EXPECT_EQ(c.owner, "a;b;c");
  EXPECT_EQ(c.name, "tabla");
  c = ParseStoreEntry("");
  EXPECT_TRUE(c.driver.empty());
}

TEST_F(DictionaryTest, NameVariablesNameTheFileWhenItIsOpened) {
  Created("FXMO01")->Close();
  const std::string other = dir_ + "/Otro/LLAMADAS.VTR";
  *dict_->NameVariable("FXMO01") = other;
  EXPECT_EQ(dict_->EffectiveName("FXMO01"), other);
  EXPECT_EQ(dict_->EffectiveName("ALMO01"), other);
  FileAccess* a = dict_->Access("FXMO01");
  EXPECT_EQ(a->UseFile(), kErrFileNotFound);  // opened under the new name
  EXPECT_EQ(a->file().Name(), other);
  dict_->SetCallFileNames();
  EXPECT_EQ(dict_->globals().NOMBRE_ARCH.FXTR02, ".\\Archivos\\FXTR02.VTR");
  // The folder of the profile applies to names in ".\Archivos".
  EXPECT_EQ(dict_->EffectiveName("FXTR02"), dir_ + "/Archivos/FXTR02.VTR");
  EXPECT_EQ(a->UseFile(), 0);
  EXPECT_EQ(dict_->NameVariable("FXMA11"), nullptr);
  *dict_->NameVariable("SALIDA") = ".\\Archivos\\RubrosAg.txt";
  EXPECT_EQ(dict_->EffectiveName("SALIDA"), ".\\Archivos\\RubrosAg.txt");
}

TEST_F(DictionaryTest, GlobalsStartEmptyAndCaptureComesFromTheProfile) {
  EXPECT_TRUE(dict_->globals().CODUSR.IsZero());
  EXPECT_TRUE(dict_->globals().ATRUSR.empty());
  EXPECT_EQ(+dict_->globals().CAPTURA.NROCEN, 1);
  EXPECT_TRUE(dict_->globals().NOMBRE_ARCH.FXMO01.empty());
  WriteSection({{"Central", "7"}});
  Rebuild();
  EXPECT_EQ(+dict_->globals().CAPTURA.NROCEN, 7);
  WriteSection({{"Central", "99999999"}});  // out of range: clamped, not wrapped
  Rebuild();
  EXPECT_EQ(+dict_->globals().CAPTURA.NROCEN, 32767);
}

TEST_F(DictionaryTest, InitAndKillOwnTheProgramsDictionary) {
  EXPECT_EQ(Dic(), nullptr);
  uint64_t g = DicGeneration();
  FxdatsInit(&reporter_, profile_.get());
  ASSERT_NE(Dic(), nullptr);
  EXPECT_EQ(Dic()->reporter(), &reporter_);
  EXPECT_NE(DicGeneration(), g);
  ASSERT_EQ(Dic()->Access("FXTA02")->UseFile(), 0);
  FxdatsInit(nullptr, profile_.get());  // again: replaces the first
  EXPECT_EQ(Dic()->reporter(), nullptr);
  EXPECT_FALSE(Dic()->Access("FXTA02")->is_open());
  FxdatsKill();
  EXPECT_EQ(Dic(), nullptr);
  FxdatsKill();  // twice is harmless
}

TEST_F(DictionaryTest, LoginKeyFindsOnlyTheExactNameAndPassword) {
  FileAccess* a = dict_->Access("FXTA01");
  ASSERT_EQ(a->UseFile(), 0);
  auto& u = a->rec<TA01Record>();
  u.CODUSR.Set(3);
  u.NOMUSR = "Ana";
  u.CLAVE = "Clave1";
  ASSERT_EQ(a->Insert(), 0);
  u = TA01Record{};
  u.NOMUSR = "Ana   ";  // trailing blanks do not count
  u.CLAVE = "Clave1";
  ASSERT_EQ(a->TryFetch("TA01:TA01_C1"), 0);
  int64_t code = 0;
  u.CODUSR.Scaled(&code);
  EXPECT_EQ(code, 3);
  u = TA01Record{};
  u.NOMUSR = "Ana";
  u.CLAVE = "clave1";  // another letter case is another password
  EXPECT_EQ(a->TryFetch("TA01:TA01_C1"), 35);
  EXPECT_TRUE(reporter_.calls.empty());
}

TEST_F(DictionaryTest, CorruptStoredCodeIsNeverReusedSilently) {
  FileAccess* a = dict_->Access("FXTA09");
  ASSERT_EQ(a->UseFile(), 0);
  auto& g = a->rec<TA09Record>();
  g.GRUAGE.Set(1);
  ASSERT_EQ(a->Insert(), 0);
  // A record whose code is not a valid packed decimal, wherever it sorts.
  g = TA09Record{};
  g.GRUAGE.bytes_[0] = 0x0A;
  g.GRUAGE.bytes_[1] = 0xBC;
  g.GRUAGE.bytes_[2] = 0xDE;
  ASSERT_EQ(a->TryInsert(), 0);  // not 0: kept as given
  g = TA09Record{};
  int err = a->Insert();
  int64_t v = -1;
  if (err == 0) {
    ASSERT_TRUE(g.GRUAGE.Scaled(&v));
    EXPECT_NE(v, 1);  // never a code already in use
  } else {
    EXPECT_EQ(err, 40);
    EXPECT_TRUE(g.GRUAGE.IsZero());
  }
}

TEST_F(DictionaryTest, OddProfileValuesFallBackToDefaults) {
  WriteSection({{"Central", "abc"}, {"Driver", "   "}, {"FXMA11", ";;;"}});
  Rebuild();
  EXPECT_EQ(+dict_->globals().CAPTURA.NROCEN, 1);
  EXPECT_EQ(dict_->Declaration("FXMA11").driver, "Norvane");
  EXPECT_EQ(dict_->Declaration("FXMA11").name, dir_ + "/Archivos/FXMA11");
  EXPECT_EQ(dict_->Store("NOEXISTE").driver, "");
  EXPECT_TRUE(dict_->Declaration("NOEXISTE").label.empty());
  EXPECT_EQ(dict_->NewFile("NOEXISTE"), nullptr);
  EXPECT_EQ(dict_->EffectiveName("NOEXISTE"), "");
}

TEST_F(DictionaryTest, FolderWithTrailingSeparatorAndNamesOutsideTheDataFolder) {
  WriteSection({{"Folder", "/srv/datos//"}});
  Rebuild();
  EXPECT_EQ(dict_->EffectiveName("FXMA11"), "/srv/datos/FXMA11");
  *dict_->NameVariable("FXMO01") = "Archivos/FXMO01.VTR";
  EXPECT_EQ(dict_->EffectiveName("FXMO01"), "/srv/datos/FXMO01.VTR");
  *dict_->NameVariable("FXMO01") = "/otro/lugar/FXMO01.VTR";  // left as given
  EXPECT_EQ(dict_->EffectiveName("FXMO01"), "/otro/lugar/FXMO01.VTR");
}

TEST_F(DictionaryTest, TheOldDosFilesStayFlatInTheirOwnFolder) {
  EXPECT_EQ(dict_->EffectiveName("FXMA06DOS"), dir_ + "/Archivos/DOS/FXMA06DOS");
  WriteSection({{"Driver", "dBase3"}, {"DosFolder", "/mnt/dos/"}});
  Rebuild();
  for (const char* label : {"FXMA06DOS", "FXRE01DOS", "FXTA06DOS"}) {
    EXPECT_EQ(dict_->EffectiveName(label), std::string("/mnt/dos/") + label);
    EXPECT_EQ(dict_->Store(label).driver, "Norvane") << label;
    EXPECT_TRUE(dict_->Declaration(label).attributes & kFileOem) << label;
  }
  EXPECT_EQ(dict_->Store("FXMA11").driver, "dBase3");
  *dict_->NameVariable("FXRE01DOS") = "/otra/FXRE01DOS";  // the name variable wins
  EXPECT_EQ(dict_->EffectiveName("FXRE01DOS"), "/otra/FXRE01DOS");
}

TEST_F(DictionaryTest, UnknownKeyIsAProgrammingErrorThatEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FileAccess* a = dict_->Access("FXTA09");
  ASSERT_EQ(a->UseFile(), 0);
  // The child runs the whole test again in a folder of its own and never
  // reaches TearDown: it removes that folder itself before the fatal call.
  EXPECT_DEATH(
      {
        RemoveFolder();
        a->TryFetch("TA09:NO_EXISTE");
      },
      "Clave inexistente");
}

}  // namespace
