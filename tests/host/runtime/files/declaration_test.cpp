// Record declarations: one C++ declaration yields the record buffer layout
// and the record-type descriptor the drivers read.
#include <cstddef>

#include <gtest/gtest.h>

#include "host/runtime/declaration.h"
#include "host/runtime/driver_interface.h"

namespace {

using namespace nv;

#pragma pack(push, 1)
struct Stamp {
  uint8_t DIA;
  uint8_t MES;
  int16_t ANO;
};
struct CallRecord {
  int32_t IDLLA;
  Stamp FECLLA;
  int32_t HORLLA;
  String<10> NROINT;
  Decimal<3, 0> GRUINT;
  Decimal<4, 2> IMPORTE;
  double COSLLA;
  String<4> CODES[2][3];
  uint8_t MARCA;
};
#pragma pack(pop)

static_assert(offsetof(CallRecord, FECLLA) == 4);
static_assert(offsetof(CallRecord, NROINT) == 12);
static_assert(offsetof(CallRecord, GRUINT) == 22);
static_assert(offsetof(CallRecord, COSLLA) == 29);
static_assert(sizeof(CallRecord) == 62);

std::shared_ptr<const RecordType> CallType() {
  return DeclareRecord<CallRecord>(
      "MO01", {NV_FIELD(CallRecord, IDLLA, .name = "ID_LLAMADA"),
               NV_GROUP(CallRecord, FECLLA, 3),
               NV_SUBFIELD(CallRecord, FECLLA, DIA),
               NV_SUBFIELD(CallRecord, FECLLA, MES),
               NV_SUBFIELD(CallRecord, FECLLA, ANO),
               NV_FIELD(CallRecord, HORLLA, .picture = "@t4"),
               NV_FIELD(CallRecord, NROINT, .picture = "@s10", .comment = "Interno"),
               NV_FIELD(CallRecord, GRUINT),
               NV_FIELD(CallRecord, IMPORTE),
               NV_FIELD(CallRecord, COSLLA),
               NV_FIELD(CallRecord, CODES),
               NV_FIELD(CallRecord, MARCA),
               NV_FIELD(CallRecord, IDLLA, .over = true)});
}

TEST(Declaration, DescriptorFollowsTheStruct) {
  auto rt = CallType();
  EXPECT_EQ(rt->length, 62u);
  EXPECT_EQ(rt->FieldCount(), 13u);
  const FieldDesc& rec = rt->fields[0];
  EXPECT_EQ(rec.type, kTypeGroup);
  EXPECT_EQ(rec.span, 13);
  EXPECT_EQ(rec.size, 62u);

  const FieldDesc* id = rt->Field(1);
  EXPECT_EQ(id->label, "MO01:IDLLA");
  EXPECT_EQ(id->name, "ID_LLAMADA");
  EXPECT_EQ(id->type, kTypeLong);
  EXPECT_EQ(id->size, 4u);

  const FieldDesc* fecha = rt->Field(2);
  EXPECT_EQ(fecha->type, kTypeGroup);
  EXPECT_EQ(fecha->span, 3);
  EXPECT_EQ(fecha->offset, 4u);
  EXPECT_EQ(rt->Field(3)->label, "MO01:DIA");
  EXPECT_EQ(rt->Field(5)->type, kTypeShort);
  EXPECT_EQ(rt->Field(5)->offset, 6u);

  EXPECT_EQ(rt->Field(6)->picture, "@t4");
  EXPECT_EQ(rt->Field(7)->type, kTypeString);
  EXPECT_EQ(rt->Field(7)->comment, "Interno");
  const FieldDesc* grp = rt->Field(8);
  EXPECT_EQ(grp->type, kTypeDecimal);
  EXPECT_EQ(grp->size, 3u);
  EXPECT_EQ(grp->places, 0);
  EXPECT_EQ(rt->Field(9)->places, 2);
  EXPECT_EQ(rt->Field(10)->type, kTypeReal);

  const FieldDesc* codes = rt->Field(11);
  EXPECT_EQ(codes->type, kTypeString);
  EXPECT_EQ(codes->ndims, 2);
  EXPECT_EQ(codes->dims[0], 2);
  EXPECT_EQ(codes->dims[1], 3);
  EXPECT_EQ(codes->Elements(), 6u);
  EXPECT_EQ(codes->ElementSize(), 4u);
  EXPECT_EQ(rt->Field(12)->type, kTypeByte);
  EXPECT_TRUE(rt->Field(13)->over);
  EXPECT_EQ(rt->Field(13)->offset, 0u);
  EXPECT_EQ(rt->Field(14), nullptr);
  EXPECT_EQ(rt->Field(0), nullptr);
}

TEST(Declaration, FieldsAreFoundByLabelWithoutRegardToCase) {
  auto rt = CallType();
  EXPECT_EQ(rt->FindField("mo01:horlla"), 6);
  EXPECT_EQ(rt->FindField("MO01:NADA"), 0);
  EXPECT_EQ(rt->FindField(""), 0);
}

TEST(Declaration, ClearGivesBlanksZerosAndExtremes) {
  auto rt = CallType();
  std::vector<uint8_t> buf(rt->length, 0xAB);
  ClearRecord(*rt, buf.data(), 0);
  auto& r = *reinterpret_cast<CallRecord*>(buf.data());
  EXPECT_EQ(int32_t(r.IDLLA), 0);
  EXPECT_EQ(r.NROINT.view(), std::string(10, ' '));
  EXPECT_EQ(r.CODES[1][2].view(), "    ");
  EXPECT_EQ(int16_t(r.FECLLA.ANO), 0);
  EXPECT_EQ(double(r.COSLLA), 0.0);
  EXPECT_TRUE(r.GRUINT.IsZero());

  ClearRecord(*rt, buf.data(), 1);
  EXPECT_EQ(int32_t(r.IDLLA), INT32_MAX);  // the field over it does not spoil it
  EXPECT_EQ(int16_t(r.FECLLA.ANO), INT16_MAX);
  EXPECT_EQ(int(r.MARCA), 0xFF);
  ClearRecord(*rt, buf.data(), -1);
  EXPECT_EQ(int32_t(r.IDLLA), INT32_MIN);
  EXPECT_LT(double(r.COSLLA), -1e300);
}

TEST(Declaration, StringDescriptorsFollowTheirLengthConvention) {
  EXPECT_EQ(MakeCString("abc", kLenCString), "abc");
  EXPECT_EQ(MakeCString("\x02xyz", kLenPString), "xy");
  EXPECT_EQ(MakeCString("ab  ", 4), "ab");
  EXPECT_EQ(MakeCString("    ", 4), "");
  EXPECT_EQ(MakeCString(nullptr, 4), "");
  EXPECT_EQ(MakeCString("ab", 0), "");
  StrDesc d{"uno dos   ", 10};
  EXPECT_EQ(StrDescText(d), "uno dos");
}

TEST(Declaration, OperationTableCarriesTheTextsOfEachCode) {
  for (int op : {5, 9, 34, 38, 60, 63, 64, 66, 67, 71, 72, 78, 79, 85, 86, 88, 89, 90, 97}) {
    EXPECT_GE(GetOpInfo(op).texts, 1) << op;
  }
  for (int op : {34, 71, 78, 85}) EXPECT_EQ(GetOpInfo(op).texts, 2) << op;
  for (int op : {23, 60, 61, 62, 72, 79, 86, 96}) EXPECT_TRUE(GetOpInfo(op).text_result) << op;
  int with_text = 0;
  for (int op = 0; op < 256; ++op) with_text += GetOpInfo(op).text_result ? 1 : 0;
  EXPECT_EQ(with_text, 8);
  for (int op : {5, 6, 15, 17, 28, 33, 42, 44, 45, 46, 47, 57, 62, 64, 67, 85, 86}) {
    EXPECT_TRUE(GetOpInfo(op).key) << op;
  }
  EXPECT_FALSE(GetOpInfo(kOpNext).key);
}

}  // namespace
