// The agenda's files moved to the dBase III driver by the dictionary's
// profile section. The driver maps a declared record onto table fields by
// fixed rules, and the directory's layouts do not fit them all:
//  - a 32-bit integer becomes the memo link (type M), a packed decimal is
//    only matched with a numeric field of an existing table: the program
//    cannot create its directory, number or call files (error 75);
//  - the numbers' key RE09_C3 runs down the number's length, and an index
//    orders upwards only: the numbers file is refused even over a table
//    made elsewhere (76), and so is re-linking, which reads that key.
// Over a table made with numeric fields, a lookup table works as over the
// flat store: auto-numbered inserts, reads by key and in order, rewrites.
#include <sys/stat.h>

#include "host/dictionary/declarations.h"
#include "host/runtime/declaration.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using nv::dict::TA09Record;

class AgendaOverDbase3 : public AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    UseStore("dBase3");
    ASSERT_EQ(mkdir("Archivos", 0755), 0);
    nv::dict::FxdatsInit(nullptr, nullptr);
  }
  void TearDown() override {
    nv::dict::FxdatsKill();
    AgendaTest::TearDown();
  }

  // The table of `label` as another program would make it: every packed
  // decimal a numeric field (the external name says so); keys as given.
  static int MakeTable(const std::string& label, std::vector<nv::KeyDef> keys) {
    nv::FileDecl d = nv::dict::Dic()->Declaration(label);
    auto rt = std::make_shared<nv::RecordType>(*d.record);
    for (nv::FieldDesc& f : rt->fields)
      if (f.type == nv::kTypeDecimal || f.type == nv::kTypePDecimal) f.name = "=N";
      else if (f.type == nv::kTypeByte) f.name = "=N(3)";
    d.record = rt;
    d.keys = std::move(keys);
    nv::File f(d);
    return f.Create();
  }
};

TEST_F(AgendaOverDbase3, LookupTablesWorkTheDirectoryCannotBeKept) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  for (const char* label : {"FXMA11", "FXRE09", "FXTA09"}) {
    EXPECT_EQ(dic->Access(label)->UseFile(), 75) << label;
    EXPECT_TRUE(Snapshot().empty()) << label;  // nothing half made
  }
  EXPECT_EQ(dic->NewFile("FXMO01")->Create(), 75);
  EXPECT_TRUE(Snapshot().empty());
  nv::dict::FxdatsKill();
  nv::dict::FxdatsInit(nullptr, nullptr);
  dic = nv::dict::Dic();

  std::vector<nv::KeyDef> keys = dic->Declaration("FXTA09").keys;
  ASSERT_EQ(MakeTable("FXTA09", keys), 0) << nv::ErrorText();
  nv::dict::FileAccess& ta09 = *dic->Access("FXTA09");
  ASSERT_EQ(ta09.UseFile(), 0) << nv::ErrorText();
  auto& r = ta09.rec<TA09Record>();
  for (const char* name : {"Proveedores", "Clientes", "Bancos"}) {
    ta09.file().Clear();
    r.DESGRU = name;
    ASSERT_EQ(ta09.Insert(), 0) << name;
  }
  auto listed = [&](const char* key) {
    std::string out;
    ta09.file().Clear();
    ta09.SetOrder(key);
    while (ta09.Next() == 0) {
      int64_t code = 0;
      r.GRUAGE.Scaled(&code);
      out += std::to_string(code) + ":" + std::string(r.DESGRU.str()) + " ";
    }
    return out;
  };
  EXPECT_EQ(listed("TA09:TA09_C1"), "3:Bancos 2:Clientes 1:Proveedores ");
  ta09.file().Clear();
  r.GRUAGE.Set(2);
  ASSERT_EQ(ta09.Fetch("TA09:TA09_CP"), 0);
  r.DESGRU = "Clientes VIP";
  ASSERT_EQ(ta09.Update(), 0);
  r.GRUAGE.Set(3);
  ASSERT_EQ(ta09.Fetch("TA09:TA09_CP"), 0);
  ASSERT_EQ(ta09.Delete(), 0);
  ta09.file().Clear();
  r.DESGRU = "Otros";
  ASSERT_EQ(ta09.Insert(), 0);
  EXPECT_EQ(listed("TA09:TA09_CP"), "1:Proveedores 2:Clientes VIP 3:Otros ");
  ta09.Close();

  // The numbers over a table that has every index but the descending one.
  keys = dic->Declaration("FXRE09").keys;
  ASSERT_EQ(keys.size(), 3u);
  ASSERT_EQ(keys[2].label, "RE09:RE09_C3");
  ASSERT_EQ(MakeTable("FXRE09", {keys[0], keys[1]}), 0) << nv::ErrorText();
  EXPECT_EQ(dic->Access("FXRE09")->UseFile(), 76);
}

}  // namespace
}  // namespace agendatest
