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

TEST(CurveModel, DaliLogAndGammaPresets) {
  CurveRecord rec;
  memset(&rec, 0x5A, sizeof rec);
  curve_presetDaliLog(&rec);
  EXPECT_STREQ(rec.name, "DALI LOG");
  EXPECT_EQ(rec.name[CURVE_NAME_SIZE - 1], 0);
  const struct {
    int level, value;
  } dali[] = {{0, 0}, {1, 4}, {64, 23}, {128, 129}, {200, 918}, {254, 3985}, {255, 4095}};
  for (const auto& d : dali) EXPECT_EQ(rec.values[d.level], d.value) << "DALI LOG at " << d.level;
  curve_presetGamma22(&rec);
  EXPECT_STREQ(rec.name, "GAMMA 2.2");
  const struct {
    int level, value;
  } gamma[] = {{0, 0}, {1, 0}, {16, 9}, {64, 196}, {128, 899}, {200, 2400}, {254, 4060}, {255, 4095}};
  for (const auto& g : gamma) EXPECT_EQ(rec.values[g.level], g.value) << "GAMMA 2.2 at " << g.level;
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
  curve_setName(&rec, "abcdefghij\xE9xyz");  // Latin-1: one byte, one character
  EXPECT_STREQ(rec.name, "abcdefghij\xE9");
}

TEST(CurveModel, NameDropsControlCharactersAndKeepsOtherBytes) {
  CurveRecord rec;
  // A pasted line break (or tab, escape, DEL, U+0085) never reaches the
  // name; what follows it still counts toward the 11 bytes.
  curve_setName(&rec, "\nAB\r\nC\tD\x1B\x7F" "E\xC2\x85" "F0123456789");
  EXPECT_STREQ(rec.name, "ABCDEF01234");
  // Bytes of an 8-bit code page and a cut-off UTF-8 lead byte stay as they are.
  curve_setName(&rec, "Caf\xE9 \x80\xC3");
  EXPECT_STREQ(rec.name, "Caf\xE9 \x80\xC3");
}

TEST(CurveModel, EntryShowsTheNameAsTextAndKeepsItsBytesUntilEdited) {
  char text[CURVE_NAME_TEXT_SIZE];
  curve_nameToText("Caf\xE9 \x80\x81-\xC3\xA9", text, sizeof text);
  EXPECT_STREQ(text, "Caf\xC3\xA9 \xE2\x82\xAC\xEF\xBF\xBD-\xC3\xA9");
  curve_nameToText("\xFF\xFF\xFF\xFF\xFF\x80\x80\x80\x80\x80\x80", text, sizeof text);
  EXPECT_EQ(strlen(text), 5u * 2 + 6u * 3) << "the longest rendering fits";

  CurveRecord rec;
  const char* shown = curve_showName("Caf\xE9");
  EXPECT_STREQ(shown, "Caf\xC3\xA9");
  curve_nameFromEntry(&rec, "Caf\xC3\xA9");  // untouched: the file's bytes
  EXPECT_STREQ(rec.name, "Caf\xE9");
  curve_nameFromEntry(&rec, "Caf\xC3\xA9!");  // edited: the entry's text
  EXPECT_STREQ(rec.name, "Caf\xC3\xA9!");
  curve_showName("LINEAR");
  curve_nameFromEntry(&rec, "Caf\xC3\xA9");  // a later name replaces the kept one
  EXPECT_STREQ(rec.name, "Caf\xC3\xA9");
}
