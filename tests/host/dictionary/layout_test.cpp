// Records written through the runtime land at the positions shared with the
// suite's other programs: the stored bytes are read back from the store.
#include <cstring>

#include "host/dictionary/records.h"
#include "host/runtime/codepage.h"
#include "tests/host/dictionary/dict_fixture.h"

namespace {

using namespace nv;
using namespace nv::dict;
using dicttest::DictTest;

int32_t Long(const std::string& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
int16_t Short(const std::string& b, size_t at) {
  int16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int c : v) s.push_back(char(c));
  return s;
}

class LayoutTest : public DictTest {
 protected:
  // Adds the buffer through the access object and answers the stored bytes.
  std::string Store(FileAccess* a) {
    EXPECT_EQ(a->Insert(), 0) << a->label();
    return StoredBytes(dict_->EffectiveName(a->label()), a->file().Pointer(),
                       a->file().record_length());
  }
};

TEST_F(LayoutTest, DirectoryEntry) {
  FileAccess* a = dict_->Access("FXMA11");
  ASSERT_EQ(a->UseFile(), 0);
  auto& r = a->rec<MA11Record>();
  r.CODIGO = 0x01020304;
  r.FECALT.set_day(DateFromYmd(2023, 12, 31));
  r.NOMBRE = "ACME S.A.";
  r.DIRECC = "Rivadavia 1234";
  r.LOCALI = "Córdoba";  // stored as the bytes given
  r.PROVIN = "Cba";
  r.CODRUB.Set(123);
  r.CODRES.Set(7);
  r.CLIENT = 1;
  r.CODEMP = 0;
  r.CARGOC = "Gerente";
  r.CUITNO = "30123456789";
  r.CONIVA = "Responsable Inscripto";
  r.CODPOS = "X5000";
  r.ESEMPR = "E";
  std::string b = Store(a);
  ASSERT_EQ(b.size(), 246u);
  EXPECT_EQ(Long(b, 0), 0x01020304);
  EXPECT_EQ(b.substr(4, 4), Bytes({31, 12, 0xE7, 0x07}));  // day, month, year 2023 LE
  EXPECT_EQ(b.substr(8, 50), "ACME S.A." + std::string(41, ' '));
  EXPECT_EQ(b.substr(58, 14), "Rivadavia 1234");
  EXPECT_EQ(b.substr(108, 8), "Córdoba");
  EXPECT_EQ(b.substr(138, 15), "Cba" + std::string(12, ' '));
  EXPECT_EQ(b.substr(153, 2), Bytes({0x01, 0x23}));  // packed 123
  EXPECT_EQ(b.substr(155, 2), Bytes({0x00, 0x07}));
  EXPECT_EQ(b[157], 1);
  EXPECT_EQ(Long(b, 158), 0);
  EXPECT_EQ(b.substr(162, 7), "Gerente");
  EXPECT_EQ(b.substr(192, 13), "30123456789  ");
  EXPECT_EQ(b.substr(205, 25), "Responsable Inscripto    ");
  EXPECT_EQ(b.substr(230, 5), "X5000");
  EXPECT_EQ(b[245], 'E');
}

TEST_F(LayoutTest, NumberUserCategoryGroupAndExchange) {
  FileAccess* re09 = dict_->Access("FXRE09");
  ASSERT_EQ(re09->UseFile(), 0);
  auto& n = re09->rec<RE09Record>();
  n.CODIGO.Set(1234567);
  n.NROTEL = "0351 4567890";
  n.COMENT = "Central";
  n.GRUAGE.Set(54321);
  n.CARINI = "0";
  n.LONTEL = 12;
  std::string b = Store(re09);
  ASSERT_EQ(b.size(), 79u);
  EXPECT_EQ(b.substr(0, 4), Bytes({0x01, 0x23, 0x45, 0x67}));
  EXPECT_EQ(b.substr(4, 13), "0351 4567890 ");
  EXPECT_EQ(b.substr(44, 7), "Central");
  EXPECT_EQ(b.substr(74, 3), Bytes({0x05, 0x43, 0x21}));
  EXPECT_EQ(b[77], '0');
  EXPECT_EQ(b[78], 12);

  FileAccess* ta01 = dict_->Access("FXTA01");
  ASSERT_EQ(ta01->UseFile(), 0);
  auto& u = ta01->rec<TA01Record>();
  u.CODUSR.Set(5);
  u.CLAVE = "secreto";
  u.NOMUSR = "Juan";
  b = Store(ta01);
  EXPECT_EQ(b.substr(0, 2), Bytes({0x00, 0x05}));
  EXPECT_EQ(b.substr(5, 8), "secreto ");
  EXPECT_EQ(b.substr(13, 5), "Juan ");

  FileAccess* ta09 = dict_->Access("FXTA09");
  ASSERT_EQ(ta09->UseFile(), 0);
  ta09->rec<TA09Record>().GRUAGE.Set(77);
  ta09->rec<TA09Record>().DESGRU = "Proveedores";
  b = Store(ta09);
  EXPECT_EQ(b.substr(0, 3), Bytes({0x00, 0x00, 0x77}));
  EXPECT_EQ(b.substr(3, 11), "Proveedores");

  FileAccess* cent = Created("CENTRAL");
  auto& c = cent->rec<CENTRecord>();
  c.NROCEN = 3;
  c.NOMCEN = "Casa central";
  b = Store(cent);
  EXPECT_EQ(Short(b, 0), 3);
  EXPECT_EQ(b.substr(4, 12), "Casa central");
}

TEST_F(LayoutTest, CallRecordAndTransferHeader) {
  FileAccess* mo = Created("FXMO02");
  auto& r = mo->rec<CallRecord>();
  r.CODLLA = 99;
  r.FECLLA.set_day(DateFromYmd(2024, 3, 5));
  r.HORLLA = TimeFromHms(10, 30, 0);
  r.NROINT = "201";
  r.NROLIN = "L1";
  r.NROTEL = "0114567890";
  r.DURLLA = 6000;
  r.RINLLA = 500;
  r.NROCTA = "CTA9";
  r.COSLLA = 12.5;
  r.DESLLA = "Buenos Aires";
  r.TIPOLLA = "NA";
  r.CODIGO = 42;
  r.TRANSF = "T";
  r.GRUINT.Set(1);
  r.GRULIN.Set(2);
  r.GRUCTA.Set(3);
  r.GRUAGE.Set(4);
  r.CODAGT = 8;
  r.GRUAGT = 9;
  std::string b = Store(mo);
  ASSERT_EQ(b.size(), 166u);
  EXPECT_EQ(Long(b, 0), 99);
  EXPECT_EQ(b.substr(4, 4), Bytes({5, 3, 0xE8, 0x07}));
  EXPECT_EQ(Long(b, 8), TimeFromHms(10, 30, 0));
  EXPECT_EQ(b.substr(12, 3), "201");
  EXPECT_EQ(b.substr(22, 2), "L1");
  EXPECT_EQ(b.substr(32, 30), "0114567890" + std::string(20, ' '));
  EXPECT_EQ(Long(b, 62), 6000);
  EXPECT_EQ(Long(b, 66), 500);
  EXPECT_EQ(b.substr(70, 4), "CTA9");
  double cost;
  std::memcpy(&cost, b.data() + 80, 8);
  EXPECT_EQ(cost, 12.5);
  EXPECT_EQ(b.substr(88, 12), "Buenos Aires");
  EXPECT_EQ(b.substr(138, 2), "NA");
  EXPECT_EQ(Long(b, 140), 42);
  EXPECT_EQ(b[144], 'T');
  EXPECT_EQ(b.substr(146, 3), Bytes({0, 0, 1}));
  EXPECT_EQ(b.substr(149, 3), Bytes({0, 0, 2}));
  EXPECT_EQ(b.substr(152, 3), Bytes({0, 0, 3}));
  EXPECT_EQ(b.substr(155, 3), Bytes({0, 0, 4}));
  EXPECT_EQ(Long(b, 158), 8);
  EXPECT_EQ(Long(b, 162), 9);

  FileAccess* tr = Created("FXTR01");
  auto& t = tr->rec<TransferRecord>();
  t.CODLLA = 99;
  t.FECLLA.set_day(DateFromYmd(2024, 3, 5));
  t.DESLLA = std::string(50, 'd');
  t.NROLIN = "L1";
  t.NROCTA = "CTA9";
  t.NROTEL = "0114567890";
  t.CODIGO = 42;
  t.GRULIN.Set(2);
  t.GRUAGE.Set(4);
  b = Store(tr);
  EXPECT_EQ(Long(b, 0), 99);
  EXPECT_EQ(b.substr(4, 4), Bytes({5, 3, 0xE8, 0x07}));
  EXPECT_EQ(b.substr(26, 50), std::string(50, 'd'));  // ends at byte 76
  EXPECT_EQ(b.substr(76, 2), "L1");
  EXPECT_EQ(b.substr(86, 4), "CTA9");
  EXPECT_EQ(b.substr(96, 10), "0114567890");
  EXPECT_EQ(Long(b, 126), 42);
  EXPECT_EQ(b.substr(130, 3), Bytes({0, 0, 2}));
  EXPECT_EQ(b.substr(136, 3), Bytes({0, 0, 4}));
}

TEST_F(LayoutTest, StagingAndDosRecords) {
  FileAccess* em = dict_->Access("AUXAGEM");
  ASSERT_EQ(em->UseFile(), 0);
  auto& e = em->rec<AUXAGEMRecord>();
  e.CODARC = 17;
  e.FECALT.set_day(DateFromYmd(2001, 1, 2));
  e.NOMBRE = "Empresa";
  e.CODRUB.Set(12);
  e.CLIENT = 1;
  e.CUITNO = "20111111112";
  e.CONIVA = "Exento";
  e.CODPOS = "1000";
  std::string b = Store(em);
  ASSERT_EQ(b.size(), 209u);
  EXPECT_EQ(b.substr(4, 4), Bytes({2, 1, 0xD1, 0x07}));
  EXPECT_EQ(b.substr(153, 2), Bytes({0x00, 0x12}));
  EXPECT_EQ(b[155], 1);
  EXPECT_EQ(b.substr(156, 11), "20111111112");
  EXPECT_EQ(b.substr(169, 6), "Exento");
  EXPECT_EQ(b.substr(194, 4), "1000");

  FileAccess* dos = Created("FXRE01DOS");
  auto& d = dos->rec<RE01DOSRecord>();
  d.CODIGO.Set(4321);
  d.NROTEL = "<I>123";
  d.COMENT = "viejo";
  b = Store(dos);
  EXPECT_EQ(b.substr(0, 4), Bytes({0, 0, 0x43, 0x21}));
  EXPECT_EQ(b.substr(4, 6), "<I>123");
  EXPECT_EQ(b.substr(24, 5), "viejo");
}

}  // namespace

namespace {

// Fills every field of a buffer with a value of its own (valid for its type).
void FillPattern(const RecordType& rt, uint8_t* rec) {
  for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
    const FieldDesc& f = *rt.Field(int(i));
    uint8_t* p = rec + f.offset;
    const int v = int(i) * 7 + 1;
    switch (f.type) {
      case kTypeByte:
        p[0] = uint8_t(v);
        break;
      case kTypeShort: {
        int16_t x = int16_t(v * 3);
        std::memcpy(p, &x, 2);
        break;
      }
      case kTypeLong: {
        int32_t x = v * 100003;
        std::memcpy(p, &x, 4);
        break;
      }
      case kTypeReal: {
        double x = v + 0.25;
        std::memcpy(p, &x, 8);
        break;
      }
      case kTypeDecimal:
        ASSERT_TRUE(DecimalFromInt64(v % 100, p, f.size, f.places));
        break;
      case kTypeString:
        for (uint32_t j = 0; j < f.size; ++j) p[j] = uint8_t('A' + (v + j) % 26);
        break;
      default:
        break;  // groups: their fields are filled one by one
    }
  }
}

TEST_F(LayoutTest, EveryFileStoresItsBufferByteForByte) {
  for (const FileInfo& s : Catalogue()) {
    if (!s.base.empty() || s.driver != std::string(kDefaultDriver)) continue;
    SCOPED_TRACE(s.label);
    FileAccess* a = Created(s.label.c_str());
    ASSERT_TRUE(a != nullptr && a->is_open());
    const RecordType& rt = *a->file().decl().record;
    FillPattern(rt, a->record());
    std::string want(reinterpret_cast<const char*>(a->record()), a->file().record_length());
    // The older DOS directory's files keep their texts in the OEM code page.
    if (a->file().decl().attributes & kFileOem) {
      for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
        const FieldDesc& f = *rt.Field(int(i));
        if (f.type == kTypeString) nv::AnsiToOem(want.data() + f.offset, f.size);
      }
    }
    std::string got = Store(a);
    EXPECT_EQ(got, want);
    a->Close();
  }
}

}  // namespace
