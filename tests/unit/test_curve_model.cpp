#include <gtest/gtest.h>

#include <cstring>

#include "curve/curve.h"

namespace {

int repaints = 0;
void countRepaint() { repaints++; }

class CurveModel : public testing::Test {
 protected:
  void SetUp() override {
    memset(cData, 0, sizeof cData);
    repaints = 0;
    curve_setRepaintHook(countRepaint);
  }
  void TearDown() override { curve_setRepaintHook(nullptr); }
};

}  // namespace

TEST_F(CurveModel, PresetsFillNameAndValues) {
  CurveRecord rec;
  memset(&rec, 0x5A, sizeof rec);
  curve_presetLinear(&rec);
  EXPECT_STREQ(rec.name, "LINEAR");
  EXPECT_EQ(rec.values[0], 0);
  EXPECT_EQ(rec.values[1], 16);
  EXPECT_EQ(rec.values[17], 273);
  EXPECT_EQ(rec.values[127], 2039);
  EXPECT_EQ(rec.values[128], 2055);
  EXPECT_EQ(rec.values[255], 4095);

  curve_presetCurve2(&rec);
  EXPECT_STREQ(rec.name, "Curve2");
  EXPECT_EQ(rec.values[0], 4095);
  EXPECT_EQ(rec.values[1], 4078);
  EXPECT_EQ(rec.values[255], 0);
  for (int i = 7; i < CURVE_NAME_SIZE; i++) EXPECT_EQ(rec.name[i], 0) << "name tail at " << i;
}

TEST_F(CurveModel, SetCDataClampsAndIgnoresBadIndex) {
  setCData(3, -7);
  EXPECT_EQ(cData[3], 0);
  setCData(3, 5000);
  EXPECT_EQ(cData[3], 4095);
  setCData(3, 1234);
  EXPECT_EQ(cData[3], 1234);
  setCData(-1, 99);
  setCData(256, 99);
  for (int i = 0; i < CURVE_POINTS; i++)
    if (i != 3) EXPECT_EQ(cData[i], 0) << i;
}

TEST_F(CurveModel, GetDataKeepsNameAndSetDataRepaints) {
  CurveRecord rec;
  curve_presetCurve2(&rec);
  curve_setData(&rec);
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(cData[1], 4078);
  EXPECT_EQ(cData[255], 0);

  CurveRecord out;
  memset(&out, 0, sizeof out);
  strcpy(out.name, "keep me");
  cData[5] = 4095;
  EXPECT_EQ(curve_getData(&out), 256);
  EXPECT_STREQ(out.name, "keep me");
  EXPECT_EQ(out.values[5], 4095);
  EXPECT_EQ(out.values[1], 4078);

  // A record from outside may carry levels above 4095: they are clamped.
  out.values[9] = 60000;
  curve_setData(&out);
  EXPECT_EQ(cData[9], 4095);
  curve_setRepaintHook(nullptr);
  curve_setData(&out);  // no hook: nothing to call
  EXPECT_EQ(repaints, 2);
}

TEST_F(CurveModel, RecordIsItsLittleEndianImage) {
  CurveRecord rec;
  curve_presetLinear(&rec);
  const uint8_t* b = (const uint8_t*)&rec;
  EXPECT_EQ(b[0], 'L');
  EXPECT_EQ(b[12 + 2 * 255], 0xFF);  // 4095 = 0x0FFF, low byte first
  EXPECT_EQ(b[12 + 2 * 255 + 1], 0x0F);
}

TEST_F(CurveModel, NameIsCutToElevenBytesBetweenWholeCharacters) {
  CurveRecord rec;
  memset(&rec, 0x5A, sizeof rec);
  curve_setName(&rec, "0123456789ABCDEF");
  EXPECT_STREQ(rec.name, "0123456789A");

  // 10 ASCII bytes and a 2-byte character: the character does not fit whole.
  curve_setName(&rec, "abcdefghij\xC3\xA9");
  EXPECT_STREQ(rec.name, "abcdefghij");
  for (int i = 10; i < CURVE_NAME_SIZE; i++) EXPECT_EQ(rec.name[i], 0);
  // 9 bytes and a 3-byte euro sign ending at byte 12.
  curve_setName(&rec, "abcdefghi\xE2\x82\xAC");
  EXPECT_STREQ(rec.name, "abcdefghi");
  // Whole characters that fit are kept.
  curve_setName(&rec, "\xC3\xA9t\xC3\xA9");
  EXPECT_STREQ(rec.name, "\xC3\xA9t\xC3\xA9");
  // Bytes that are not UTF-8 become '?'.
  curve_setName(&rec, "a\xFF" "b\xC3");
  EXPECT_STREQ(rec.name, "a?b?");
  curve_setName(&rec, nullptr);
  EXPECT_STREQ(rec.name, "");
}
