// The declarations: every file builds, keys name the components the
// programs rely on in the order they rely on, the stores' type limits hold,
// aliases mirror their base.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "host/dictionary/declarations.h"
#include "host/dictionary/records.h"
#include "host/runtime/file.h"

namespace {

using namespace nv;
using namespace nv::dict;

const KeyDef* FindKey(const FileDecl& d, const std::string& label) {
  for (const KeyDef& k : d.keys) {
    if (k.label == label) return &k;
  }
  return nullptr;
}

TEST(Declarations, EveryCatalogueEntryBuildsAFileWithItsRecordLength) {
  const std::map<std::string, uint32_t> lengths = {
      {"FXMA11", sizeof(dict::MA11Record)},
      {"ALMA11", sizeof(dict::MA11Record)},
      {"A2MA11", sizeof(dict::MA11Record)},
      {"FXRE09", sizeof(dict::RE09Record)},
      {"ALRE09", sizeof(dict::RE09Record)},
      {"FXTA01", sizeof(dict::TA01Record)},
      {"FXTA02", sizeof(dict::TA02Record)},
      {"FXTA09", sizeof(dict::TA09Record)},
      {"FXMO01", sizeof(dict::CallRecord)},
      {"FXMO02", sizeof(dict::CallRecord)},
      {"ALMO01", sizeof(dict::CallRecord)},
      {"ALMO02", sizeof(dict::CallRecord)},
      {"FXTR01", sizeof(dict::TransferRecord)},
      {"FXTR02", sizeof(dict::TransferRecord)},
      {"FXMO04", sizeof(dict::MO04Record)},
      {"CENTRAL", sizeof(dict::CENTRecord)},
      {"SALIDA", 255},
      {"AUXAGRU", sizeof(dict::AUXAGRURecord)},
      {"AUXAGGR", sizeof(dict::AUXAGGRRecord)},
      {"AUXAGEM", sizeof(dict::AUXAGEMRecord)},
      {"AUXAGTE", sizeof(dict::AUXAGTERecord)},
      {"AUXAGCO", sizeof(dict::AUXAGCORecord)},
      {"AUXAGTC", sizeof(dict::AUXAGTCRecord)},
      {"FXMA06DOS", sizeof(dict::MA06DOSRecord)},
      {"FXRE01DOS", sizeof(dict::RE01DOSRecord)},
      {"FXTA06DOS", sizeof(dict::TA06DOSRecord)},
      {"FXMA07", sizeof(dict::MA07Record)},
      {"FXMA08", sizeof(dict::MA08Record)},
      {"FXMA09", sizeof(dict::MA09Record)},
      {"FXMA02", sizeof(dict::MA02Record)},
      {"FXTA14", sizeof(dict::TA14Record)},
      {"FXTA15", sizeof(dict::TA15Record)},
      {"FXTA13", sizeof(dict::TA13Record)},
      {"FXTA03", sizeof(dict::TA03Record)},
  };
  std::set<std::string> seen;
  for (const FileInfo& s : Catalogue()) {
    SCOPED_TRACE(s.label);
    FileDecl d = DefaultDecl(s.label);
    ASSERT_EQ(d.label, s.label);
    ASSERT_NE(d.record, nullptr);
    auto it = lengths.find(s.label);
    ASSERT_NE(it, lengths.end()) << "unexpected file";
    EXPECT_EQ(d.record->length, it->second);
    EXPECT_EQ(d.record->prefix, s.prefix);
    File f(d);  // a key naming an unknown field would end the program here
    EXPECT_EQ(f.key_count(), int(d.keys.size()));
    seen.insert(s.label);
  }
  EXPECT_EQ(seen.size(), lengths.size());
}

TEST(Declarations, OnlyTypesTheStoresAcceptAndDatesAsYearMonthDayGroups) {
  const std::set<uint8_t> allowed = {kTypeByte,    kTypeShort,  kTypeLong, kTypeReal,
                                     kTypeDecimal, kTypeString, kTypeGroup};
  for (const FileInfo& s : Catalogue()) {
    FileDecl d = DefaultDecl(s.label);
    const RecordType& rt = *d.record;
    for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
      const FieldDesc& f = *rt.Field(int(i));
      SCOPED_TRACE(f.label);
      EXPECT_TRUE(allowed.count(f.type)) << TypeName(f.type);
      if (f.type != kTypeGroup) continue;
      // A date group: DIA byte, MES byte, ANO short, exactly the binary date.
      ASSERT_EQ(f.size, 4u);
      ASSERT_EQ(f.span, 3);
      const FieldDesc& dia = *rt.Field(int(i) + 1);
      const FieldDesc& mes = *rt.Field(int(i) + 2);
      const FieldDesc& ano = *rt.Field(int(i) + 3);
      EXPECT_EQ(dia.label, f.label + "_DIA");
      EXPECT_EQ(dia.offset, f.offset + 0);
      EXPECT_EQ(dia.type, kTypeByte);
      EXPECT_EQ(mes.offset, f.offset + 1);
      EXPECT_EQ(mes.type, kTypeByte);
      EXPECT_EQ(ano.label, f.label + "_ANO");
      EXPECT_EQ(ano.offset, f.offset + 2);
      EXPECT_EQ(ano.type, kTypeShort);
    }
  }
}

TEST(Declarations, KeysHaveTheComponentsAndOrdersTheProgramsRelyOn) {
  FileDecl ma11 = DefaultDecl("FXMA11");
  const KeyDef* c1 = FindKey(ma11, "MA11:MA11_C1");
  ASSERT_NE(c1, nullptr);
  EXPECT_EQ(c1->components, (std::vector<std::string>{"MA11:NOMBRE", "MA11:ESEMPR"}));
  EXPECT_EQ(c1->attributes & kKeyDup, 0u);
  EXPECT_EQ(FindKey(ma11, "MA11:MA11_CP")->components, (std::vector<std::string>{"MA11:CODIGO"}));
  EXPECT_EQ(FindKey(ma11, "MA11:MA11_C4")->components[0], "MA11:CODEMP");
  ASSERT_EQ(ma11.memos.size(), 1u);
  EXPECT_EQ(ma11.memos[0].label, "MA11:COMENT");
  EXPECT_EQ(ma11.memos[0].size, 64000u);

  FileDecl re09 = DefaultDecl("FXRE09");
  EXPECT_EQ(FindKey(re09, "RE09:RE09_C3")->components,
            (std::vector<std::string>{"RE09:CARINI", "-RE09:LONTEL", "RE09:NROTEL"}));
  EXPECT_EQ(FindKey(re09, "RE09:RE09_C1")->attributes & kKeyDup, 0u);
  EXPECT_EQ(FindKey(re09, "RE09:RE09_CP")->components[0], "RE09:CODIGO");

  // Call files: the leading component, then date and time.
  const std::vector<std::pair<std::string, std::string>> leading = {
      {"C2", "NROLIN"},  {"C3", "NROINT"},  {"C4", "NROCTA"}, {"C5", "GRUINT"},
      {"C6", "GRULIN"},  {"C7", "GRUCTA"},  {"C8", "GRUAGE"}, {"C9", "NROTEL"},
      {"C11", "CODAGT"}, {"C12", "GRUAGT"}, {"CP", "CODLLA"}};
  for (const char* n : {"MO01", "MO02"}) {
    FileDecl d = DefaultDecl(std::string("FX") + n);
    const std::string p = std::string(n) + ":";
    const std::vector<std::string> by_date = {p + "FECLLA_ANO", p + "FECLLA_MES", p + "FECLLA_DIA",
                                              p + "HORLLA"};
    EXPECT_EQ(FindKey(d, p + n + "_C1")->components, by_date);
    for (const auto& [suffix, field] : leading) {
      const KeyDef* k = FindKey(d, p + n + "_" + suffix);
      ASSERT_NE(k, nullptr) << n << suffix;
      std::vector<std::string> want{p + field};
      want.insert(want.end(), by_date.begin(), by_date.end());
      EXPECT_EQ(k->components, want) << n << suffix;
    }
  }
  EXPECT_NE(FindKey(DefaultDecl("FXTR02"), "TR02:TR02_C9"), nullptr);
  EXPECT_EQ(FindKey(DefaultDecl("FXTR01"), "TR01:TR01_CP")->attributes & kKeyDup, 0u);
  EXPECT_NE(FindKey(DefaultDecl("CENTRAL"), "CENT:CP_CENT"), nullptr);
  EXPECT_NE(FindKey(DefaultDecl("FXMA09"), "MA09:MA09_C1"), nullptr);
  EXPECT_NE(FindKey(DefaultDecl("AUXAGRU"), "ARUB:AUXAGRU_C2"), nullptr);
  EXPECT_NE(FindKey(DefaultDecl("AUXAGCO"), "ACON:AUXAGCO_C2"), nullptr);
  EXPECT_NE(FindKey(DefaultDecl("FXMA06DOS"), "MA06DOS:MA06_CP"), nullptr);
  EXPECT_NE(FindKey(DefaultDecl("FXRE01DOS"), "RE01DOS:RE01_CP"), nullptr);
}

TEST(Declarations, AliasesMirrorTheirBaseUnderTheirOwnPrefix) {
  const std::vector<std::pair<std::string, std::string>> aliases = {{"ALMA11", "FXMA11"},
                                                                    {"A2MA11", "FXMA11"},
                                                                    {"ALRE09", "FXRE09"},
                                                                    {"ALMO01", "FXMO01"},
                                                                    {"ALMO02", "FXMO02"}};
  for (const auto& [alias, base] : aliases) {
    SCOPED_TRACE(alias);
    const FileInfo* s = FindFileInfo(alias);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->store_label(), base);
    FileDecl a = DefaultDecl(alias), b = DefaultDecl(base);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.driver, b.driver);
    ASSERT_EQ(a.keys.size(), b.keys.size());
    const std::string bp = FindFileInfo(base)->prefix + ":";
    for (size_t i = 0; i < a.keys.size(); ++i) {
      EXPECT_EQ(a.keys[i].label, s->prefix + ":" + a.keys[i].label.substr(s->prefix.size() + 1));
      EXPECT_EQ(a.keys[i].label.substr(s->prefix.size()), b.keys[i].label.substr(bp.size() - 1));
    }
  }
  EXPECT_NE(FindKey(DefaultDecl("ALMA11"), "AMA11:MA11_C1"), nullptr);
  EXPECT_EQ(DefaultDecl("A2MA11").record->Field(1)->label, "A2MA11:CODIGO");
}

TEST(Declarations, DefaultStoreAndNames) {
  EXPECT_EQ(DefaultDecl("FXMA11").name, ".\\Archivos\\FXMA11");
  EXPECT_EQ(DefaultDecl("FXMA11").driver, "Norvane");
  EXPECT_EQ(DefaultDecl("FXMO01").name, ".\\Archivos\\FXMO01.VTR");
  EXPECT_EQ(DefaultDecl("FXTR02").name, ".\\Archivos\\FXTR02.VTR");
  EXPECT_EQ(DefaultDecl("ALMO02").name, ".\\Archivos\\FXMO02.VTR");
  EXPECT_EQ(DefaultDecl("SALIDA").driver, "ASCII");
  EXPECT_EQ(FindFileInfo("fxma11")->label, "FXMA11");
  EXPECT_EQ(FindFileInfo("FXMA99"), nullptr);
  EXPECT_TRUE(DefaultDecl("FXMA99").label.empty());
  EXPECT_TRUE(FindFileInfo("FXMA11")->create_on_open);
  EXPECT_FALSE(FindFileInfo("FXMO01")->create_on_open);  // belongs to the suite's main program
  EXPECT_FALSE(FindFileInfo("FXMA06DOS")->create_on_open);
}

TEST(Declarations, DateGroupReadsAndWritesDayNumbers) {
  dict::MA11Record r;
  r.FECALT.set_day(DateFromYmd(2024, 2, 29));
  EXPECT_EQ(r.FECALT.FECALT_DIA, 29);
  EXPECT_EQ(r.FECALT.FECALT_MES, 2);
  EXPECT_EQ(+r.FECALT.FECALT_ANO, 2024);
  EXPECT_EQ(r.FECALT.day(), DateFromYmd(2024, 2, 29));
  r.FECALT.set_day(0);
  EXPECT_EQ(+r.FECALT.FECALT_ANO, 0);
  EXPECT_EQ(r.FECALT.day(), 0);
  r.FECALT.FECALT_DIA = 31;  // impossible date: reads as no date
  r.FECALT.FECALT_MES = 2;
  r.FECALT.FECALT_ANO = 2023;
  EXPECT_EQ(r.FECALT.day(), 0);
}

TEST(Declarations, NumberDerivedFieldsCountUpToTheLastNonBlank) {
  dict::RE09Record r;
  r.NROTEL = "0351 456  ";
  dict::DeriveNumberFields(r);
  EXPECT_EQ(r.CARINI, "0");
  EXPECT_EQ(r.LONTEL, 8);
  EXPECT_EQ(r.NROTEL.view().substr(0, 10), "0351 456  ");  // stored as typed
  r.NROTEL = "";
  dict::DeriveNumberFields(r);
  EXPECT_EQ(r.CARINI, " ");
  EXPECT_EQ(r.LONTEL, 0);
  r.NROTEL = std::string(40, '9');
  dict::DeriveNumberFields(r);
  EXPECT_EQ(r.LONTEL, 40);
}

}  // namespace
