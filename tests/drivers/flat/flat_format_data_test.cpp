// The pure parts of the flat data format: stored field names, stored types,
// array descriptors, pictures, the owner key and scrambling, header sealing.
#include <gtest/gtest.h>

#include "drivers/flat/flat_format.h"
#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

using flat::Layout;

TEST(FlatFormat, StoredFieldNamesAreCutByThePrefixRules) {
  EXPECT_EQ(flat::StoredFieldName("SINPREFIJOLARGO"), "SINPREFIJOLA");           // 12 kept
  EXPECT_EQ(flat::StoredFieldName("ABC:NOMBRELARGUISIMO"), "ABC:NOMBRELARGUI");  // 16 kept
  EXPECT_EQ(flat::StoredFieldName("AB:NOMBRELARGUISIMO"), "AB:NOMBRELARGUI");    // 12 after ':'
  EXPECT_EQ(flat::StoredFieldName("AB:CORTO"), "AB:CORTO");
  EXPECT_EQ(flat::StoredFieldName(":NOMBRE"), ":NOMBRE");
  EXPECT_EQ(flat::StoredFieldName("FXMA11:NOMBREDELCAMPO"), "FXM:NOMBREDELCAM");
  EXPECT_EQ(flat::StoredFieldName("MA11:X"), "MA1:X");
}

#pragma pack(push, 1)
struct Inner {
  int16_t A;
  String<3> B[2];
};
struct ArrRecord {
  int32_t CODE;
  int16_t GRID[2][3];
  Inner ROWS[4];
  String<8> ALIAS;
  String<8> OTHER;
  Decimal<4, 2> MONEY;
};
#pragma pack(pop)

TEST(FlatFormat, ArrayDescriptorsPicturesAndSharedFields) {
  auto rt = DeclareRecord<ArrRecord>(
      "AR",
      {NV_FIELD(ArrRecord, CODE), NV_FIELD(ArrRecord, GRID), NV_GROUP(ArrRecord, ROWS, 2),
       internal::MakeFieldSpec<int16_t>("A", offsetof(ArrRecord, ROWS), {}),
       internal::MakeFieldSpec<String<3>[2]>("B", offsetof(ArrRecord, ROWS) + 2, {}),
       NV_FIELD(ArrRecord, ALIAS, .picture = "@s8"),
       NV_FIELD(ArrRecord, OTHER, .picture = "s8", .over = true), NV_FIELD(ArrRecord, MONEY)});
  Layout l;
  ASSERT_EQ(flat::BuildLayout(*rt, &l), 0);
  // OTHER shares its bytes: not stored.
  ASSERT_EQ(l.fields.size(), 7u);
  EXPECT_EQ(l.record_prefix, "AR");
  EXPECT_EQ(l.fields[1].element_size, 2);
  EXPECT_EQ(l.fields[1].array, 1);
  EXPECT_EQ(l.fields[2].type, 7);  // the group
  EXPECT_EQ(l.fields[5].type, 4);
  EXPECT_EQ(l.fields[5].picture, 1);
  EXPECT_EQ(l.fields[6].type, 8);
  EXPECT_EQ(l.fields[6].digits, 2 * 4 - 1 - 2);
  EXPECT_EQ(l.fields[6].places, 2);
  ASSERT_EQ(l.pictures.size(), 1u);
  // GRID: 2 own dimensions, 12 bytes, 2 x 6-byte rows of 3 x 2 bytes.
  std::vector<uint8_t> grid = {2, 0, 2, 0, 12, 0, 2, 0, 6, 0, 3, 0, 2, 0};
  EXPECT_EQ(l.arrays[0], grid);
  // ROWS itself: one dimension of 4 elements of 8 bytes.
  std::vector<uint8_t> rows = {1, 0, 1, 0, 32, 0, 4, 0, 8, 0};
  EXPECT_EQ(l.arrays[1], rows);
  // A inside the arrayed group: no own dimension, one inherited.
  std::vector<uint8_t> a = {0, 0, 1, 0, 2, 0, 4, 0, 8, 0};
  EXPECT_EQ(l.arrays[2], a);
  // B: its own dimension first, then the group's.
  std::vector<uint8_t> b = {1, 0, 2, 0, 6, 0, 2, 0, 3, 0, 4, 0, 8, 0};
  EXPECT_EQ(l.arrays[3], b);
  EXPECT_EQ(l.fields[4].array, 4);
}

TEST(FlatFormat, TypesTheFormatCannotStoreGive79) {
  auto rt = std::make_shared<RecordType>();
  rt->length = 4;
  FieldDesc rec;
  rec.type = kTypeGroup;
  rec.size = 4;
  rec.span = 1;
  rt->fields.push_back(rec);
  FieldDesc d;
  d.label = "X:FECHA";
  d.type = kTypeDate;
  d.size = 4;
  rt->fields.push_back(d);
  Layout l;
  EXPECT_EQ(flat::BuildLayout(*rt, &l), 79);
  rt->fields[1].type = kTypeLong;
  rt->fields[1].ndims = 5;
  EXPECT_EQ(flat::BuildLayout(*rt, &l), 75);
}

TEST(FlatFormat, OwnerKeyScramblingAndHeaderSeal) {
  EXPECT_EQ(flat::OwnerKey(""), 0x5A3C);
  EXPECT_EQ(flat::OwnerKey("A"), 0x5A3C);  // an odd last byte does not count
  EXPECT_EQ(flat::OwnerKey("ABC"), uint16_t(0x5A3C + 0x4241));
  uint8_t b[5] = {1, 2, 3, 4, 5};
  flat::Scramble(b, 5, 0x0F0F);
  EXPECT_EQ(b[0], 1 ^ 0x0F);
  EXPECT_EQ(b[4], 5);  // stays
  flat::Scramble(b, 5, 0x0F0F);
  EXPECT_EQ(b[0], 1);
  flat::Header h;
  h.status = flat::kHdrOwned | flat::kHdrCreated;
  h.records = 7;
  uint8_t sealed[flat::kHeaderSize];
  flat::SealHeader(&h, true, 0x1234, sealed);
  flat::Header back;
  ASSERT_EQ(flat::UnsealHeader(sealed, 0x1234, &back), 0);
  EXPECT_EQ(back.records, 7u);
  EXPECT_EQ(flat::UnsealHeader(sealed, 0x1235, &back), 36);
  sealed[40] ^= 1;
  EXPECT_EQ(flat::UnsealHeader(sealed, 0x1234, &back), 36);
}

}  // namespace
}  // namespace flattest
