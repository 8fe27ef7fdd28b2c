#include <gtest/gtest.h>

#include <cstring>

#include "curve/curve.h"

namespace {
int repaints = 0;
void countRepaint() { repaints++; }
}  // namespace

TEST(CurveModel, PresetsFillNameAndValues) {
  CurveRecord rec;
  memset(&rec, 0x5A, sizeof rec);
  curve_presetLinear(&rec);
  EXPECT_STREQ(rec.name, "LINEAR");
  EXPECT_EQ(rec.name[CURVE_NAME_SIZE - 1], 0);
  EXPECT_EQ(rec.values[1], 16);
  EXPECT_EQ(rec.values[17], 273);
  EXPECT_EQ(rec.values[128], 2055);
  EXPECT_EQ(rec.values[255], 4095);
  curve_presetCurve2(&rec);
  EXPECT_STREQ(rec.name, "Curve2");
  EXPECT_EQ(rec.values[0], 4095);
  EXPECT_EQ(rec.values[1], 4078);
  EXPECT_EQ(rec.values[255], 0);
}

TEST(CurveModel, WritersKeepLevelsInRange) {
  memset(cData, 0, sizeof cData);
  setCData(3, -7);
  EXPECT_EQ(cData[3], 0);
  setCData(3, 5000);
  EXPECT_EQ(cData[3], 4095);
  setCData(-1, 99);  // ignored, as is 256
  setCData(256, 99);
  CurveRecord rec;
  curve_getData(&rec);
  rec.values[3] = 60000;  // a record from outside may hold anything
  repaints = 0;
  curve_setRepaintHook(countRepaint);
  curve_setData(&rec);
  curve_setRepaintHook(nullptr);
  curve_setData(&rec);
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(cData[3], 4095);
  for (int i = 0; i < CURVE_POINTS; i++) ASSERT_EQ(cData[i], i == 3 ? 4095 : 0) << i;
}

TEST(CurveModel, GetDataLeavesTheName) {
  CurveRecord rec;
  memset(&rec, 0, sizeof rec);
  strcpy(rec.name, "keep me");
  memset(cData, 0, sizeof cData);
  cData[5] = 4095;
  EXPECT_EQ(curve_getData(&rec), 256);
  EXPECT_STREQ(rec.name, "keep me");
  EXPECT_EQ(rec.values[5], 4095);
}

TEST(CurveModel, NameIsCutToElevenBytesBetweenWholeCharacters) {
  CurveRecord rec;
  memset(&rec, 0x5A, sizeof rec);
  curve_setName(&rec, "0123456789ABCDEF");
  EXPECT_STREQ(rec.name, "0123456789A");
  curve_setName(&rec, "abcdefghij\xC3\xA9");  // a 2-byte character at bytes 11-12
  EXPECT_STREQ(rec.name, "abcdefghij");
  EXPECT_EQ(rec.name[10], 0);
  curve_setName(&rec, "abcdefghi\xE2\x82\xAC");  // a 3-byte one at 10-12
  EXPECT_STREQ(rec.name, "abcdefghi");
  curve_setName(&rec, "\xC3\xA9t\xC3\xA9");
  EXPECT_STREQ(rec.name, "\xC3\xA9t\xC3\xA9");
  curve_setName(&rec, "a\xFF" "b\xC3");  // not UTF-8
  EXPECT_STREQ(rec.name, "a?b?");
}
