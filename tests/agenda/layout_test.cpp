// The directory records as the flat store keeps them: a record written
// through the file verbs is found in the data file with every field at the
// position the suite's other programs read it from.
#include <cstring>

#include "host/dictionary/declarations.h"
#include "host/runtime/file.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using nv::dict::MA11Record;
using nv::dict::RE09Record;

class LayoutTest : public AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    UseStore("Norvane");
  }

  // Writes one record with a marker text in a string field and answers the
  // data file's bytes from the record's first byte (located by the marker
  // at its known position).
  template <class Fill>
  std::string WriteAndRead(const char* label, const char* marker, size_t marker_pos, Fill fill) {
    EXPECT_EQ(mkdir("Archivos", 0755), 0);
    nv::FileDecl d = nv::dict::DefaultDecl(label);
    d.name = std::string("Archivos/") + label;
    nv::File f(std::move(d));
    EXPECT_EQ(f.Create(), 0);
    EXPECT_EQ(f.Open(), 0);
    f.Clear();
    fill(f);
    EXPECT_EQ(f.Add(), 0);
    EXPECT_EQ(f.Close(), 0);
    std::string bytes;
    EXPECT_EQ(nv::ReadWholeFile(std::string("Archivos/") + label + ".DAT", &bytes), 0);
    const size_t at = bytes.find(marker);
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos || at < marker_pos) return {};
    return bytes.substr(at - marker_pos);
  }
};

int32_t Long(const std::string& b, size_t pos) {
  int32_t v;
  std::memcpy(&v, b.data() + pos, 4);
  return v;
}

TEST_F(LayoutTest, DirectoryEntryFieldsAtTheirPositions) {
  const std::string r = WriteAndRead("FXMA11", "NOMBRE-MARCA", 8, [](nv::File& f) {
    auto& m = f.As<MA11Record>();
    m.CODIGO = 0x01020304;
    m.FECALT.set_day(nv::DateFromYmd(2024, 7, 9));
    m.NOMBRE = "NOMBRE-MARCA";
    m.DIRECC = "DIRECCION";
    m.LOCALI = "LOCALIDAD";
    m.PROVIN = "PROVINCIA";
    m.CODRUB.Set(123);
    m.CODRES.Set(45);
    m.CLIENT = 1;
    m.CODEMP = 77;
    m.CARGOC = "CARGO";
    m.CUITNO = "30712345678";
    m.CONIVA = "Exento";
    m.CODPOS = "X5000";
    m.ESEMPR = "E";
  });
  ASSERT_GE(r.size(), 246u);
  EXPECT_EQ(Long(r, 0), 0x01020304);
  EXPECT_EQ(uint8_t(r[4]), 9);  // day
  EXPECT_EQ(uint8_t(r[5]), 7);  // month
  EXPECT_EQ(uint8_t(r[6]), 2024 & 0xFF);
  EXPECT_EQ(uint8_t(r[7]), 2024 >> 8);
  EXPECT_EQ(r.substr(58, 9), "DIRECCION");
  EXPECT_EQ(r.substr(108, 9), "LOCALIDAD");
  EXPECT_EQ(r.substr(138, 9), "PROVINCIA");
  // Packed decimals: sign nibble first (0 positive), then the digits.
  EXPECT_EQ(uint8_t(r[153]), 0x01);  // 123
  EXPECT_EQ(uint8_t(r[154]), 0x23);
  EXPECT_EQ(uint8_t(r[155]), 0x00);  // 45
  EXPECT_EQ(uint8_t(r[156]), 0x45);
  EXPECT_EQ(uint8_t(r[157]), 1);
  EXPECT_EQ(Long(r, 158), 77);
  EXPECT_EQ(r.substr(162, 5), "CARGO");
  EXPECT_EQ(r.substr(192, 11), "30712345678");
  EXPECT_EQ(r.substr(205, 6), "Exento");
  EXPECT_EQ(r.substr(230, 5), "X5000");
  EXPECT_EQ(r[245], 'E');
}

TEST_F(LayoutTest, NumberFieldsAtTheirPositions) {
  const std::string r = WriteAndRead("FXRE09", "0351-MARCA", 4, [](nv::File& f) {
    auto& n = f.As<RE09Record>();
    n.CODIGO.Set(1234567);
    n.NROTEL = "0351-MARCA";
    n.COMENT = "COMENTARIO";
    n.GRUAGE.Set(54321);
    n.CARINI = "0";
    n.LONTEL = 10;
  });
  ASSERT_GE(r.size(), 79u);
  EXPECT_EQ(uint8_t(r[0]), 0x01);  // 1234567
  EXPECT_EQ(uint8_t(r[1]), 0x23);
  EXPECT_EQ(uint8_t(r[2]), 0x45);
  EXPECT_EQ(uint8_t(r[3]), 0x67);
  EXPECT_EQ(r.substr(4, 40), "0351-MARCA" + std::string(30, ' '));
  EXPECT_EQ(r.substr(44, 10), "COMENTARIO");
  EXPECT_EQ(uint8_t(r[74]), 0x05);  // 54321
  EXPECT_EQ(uint8_t(r[75]), 0x43);
  EXPECT_EQ(uint8_t(r[76]), 0x21);
  EXPECT_EQ(r[77], '0');
  EXPECT_EQ(uint8_t(r[78]), 10);
}

TEST_F(LayoutTest, UserAndExchangeFieldsAtTheirPositions) {
  const std::string u = WriteAndRead("FXTA01", "NOMBREUSR", 13, [](nv::File& f) {
    auto& t = f.As<nv::dict::TA01Record>();
    t.CODUSR.Set(12);
    t.CLAVE = "clave";
    t.NOMUSR = "NOMBREUSR";
  });
  ASSERT_GE(u.size(), 43u);
  EXPECT_EQ(uint8_t(u[0]), 0x00);  // 12
  EXPECT_EQ(uint8_t(u[1]), 0x12);
  EXPECT_EQ(u.substr(5, 8), "clave   ");
  ASSERT_EQ(system("rm -rf Archivos"), 0);
  const std::string c = WriteAndRead("CENTRAL", "CENTRALNOMBRE", 4, [](nv::File& f) {
    auto& t = f.As<nv::dict::CENTRecord>();
    t.NROCEN = 0x0102;
    t.NOMCEN = "CENTRALNOMBRE";
  });
  ASSERT_GE(c.size(), 54u);
  EXPECT_EQ(uint8_t(c[0]), 0x02);
  EXPECT_EQ(uint8_t(c[1]), 0x01);
}

}  // namespace
}  // namespace agendatest
