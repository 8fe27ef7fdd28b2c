#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_file.h"

namespace {

// Parses text quietly; returns what was printed.
std::string parse(const std::string& text, CurveRecord* rec, int* result = nullptr) {
  testing::internal::CaptureStdout();
  int r = curve_parseFile((const unsigned char*)text.data(), (int)text.size(), rec);
  if (result) *result = r;
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CurveFile, SavedTextReadsBackToTheSameCurve) {
  CurveRecord rec, back;
  curve_presetLinear(&rec);
  char buf[CURVE_FILE_TEXT_SIZE];
  int len = curve_formatFile(&rec, buf, sizeof buf);
  ASSERT_GT(len, 0);
  std::string text(buf, len);
  EXPECT_EQ(text.substr(0, 17), "LINEAR\n0\n16\n32\n48");
  EXPECT_EQ(text.substr(len - 10), "4078\n4095\n");
  int r = 0;
  std::string out = parse(text, &back, &r);
  EXPECT_EQ(r, 1);
  EXPECT_STREQ(back.name, "LINEAR");
  EXPECT_EQ(0, memcmp(back.values, rec.values, sizeof rec.values));
  EXPECT_EQ(out.substr(0, 11), "0: 0\n1: 16\n");
}

TEST(CurveFile, FormatRefusesABufferTooSmall) {
  CurveRecord rec;
  strcpy(rec.name, "ABCDEFGHIJK");
  for (auto& v : rec.values) v = 4095;
  char buf[CURVE_FILE_TEXT_SIZE];
  EXPECT_EQ(curve_formatFile(&rec, buf, 1293), 1292) << "the largest file written";
  EXPECT_EQ(curve_formatFile(&rec, buf, 1292), -1) << "no room for the terminator";
  EXPECT_STREQ(buf, "");
}

TEST(CurveFile, NameIsTheFirstWordCutToElevenBytes) {
  CurveRecord rec;
  parse("my curve\n1\n", &rec);
  EXPECT_STREQ(rec.name, "my");
  EXPECT_EQ(rec.values[0], 1);
  parse("  LongerThanEleven 77\r\n5\n", &rec);
  EXPECT_STREQ(rec.name, "LongerThanE");
  EXPECT_EQ(rec.values[0], 5) << "the rest of the first line is ignored";
  parse("abcdefghij\xC3\xA9x\n", &rec);
  EXPECT_STREQ(rec.name, "abcdefghij") << "a character is never split";
  std::string empty = "\n";
  for (int i = 0; i < 256; i++) empty += std::to_string(7 + i) + "\n";
  parse(empty, &rec);
  EXPECT_STREQ(rec.name, "7") << "an empty name line lends the first number";
  EXPECT_EQ(rec.values[0], 7);
  EXPECT_EQ(rec.values[255], 262);
}

TEST(CurveFile, NameIsOneLineWhateverTheRecordHolds) {
  CurveRecord rec, back;
  curve_presetLinear(&rec);
  strcpy(rec.name, "A\nB\r7\x01");  // a record filled by hand, not through curve_setName
  char buf[CURVE_FILE_TEXT_SIZE];
  const int len = curve_formatFile(&rec, buf, sizeof buf);
  ASSERT_GT(len, 0);
  EXPECT_EQ(std::string(buf, 6), "AB7\n0\n");
  parse(std::string(buf, len), &back);
  EXPECT_EQ(0, memcmp(back.values, rec.values, sizeof rec.values)) << "no level shifted";
  // Read: control bytes inside the name are dropped, 8-bit bytes kept.
  parse("R\x01\xE9sum\xE9\x7F\n5\n", &back);
  EXPECT_STREQ(back.name, "R\xE9sum\xE9");
  EXPECT_EQ(back.values[0], 5);
}

TEST(CurveFile, MissingNumbersRepeatTheLast) {
  CurveRecord rec;
  memset(&rec, 0x33, sizeof rec);
  EXPECT_EQ(parse("OnlyName", &rec), "");
  EXPECT_STREQ(rec.name, "OnlyName");
  EXPECT_EQ(rec.name[11], 0) << "record cleared";
  for (int i = 0; i < CURVE_POINTS; i++) ASSERT_EQ(rec.values[i], 0) << i;
  EXPECT_EQ(parse("x\n100\n200\n", &rec), "0: 100\n1: 200\n");
  EXPECT_EQ(rec.values[0], 100);
  for (int i = 1; i < CURVE_POINTS; i++) ASSERT_EQ(rec.values[i], 200) << i;
  int r = -5;
  parse("", &rec, &r);
  EXPECT_EQ(r, 0);
}

TEST(CurveFile, OnlyDigitsFormNumbers) {
  CurveRecord rec;
  parse("n\r\n-12\r\n2.5\r\n123456789012345678901234567890\r\n4294967313 0004095\r\n", &rec);
  const int expect[] = {12, 2, 5, 4095, 4095, 4095};  // 2^32 + 17 must not wrap
  for (int i = 0; i < 6; i++) EXPECT_EQ(rec.values[i], expect[i]) << i;
  parse("old\r5\r6\r", &rec);  // CR alone ends a line too
  EXPECT_EQ(rec.values[0], 5);
  EXPECT_EQ(rec.values[1], 6);
}

TEST(CurveFile, SavePathGetsTheExtensionUnlessItHasOne) {
  char out[CURVE_PATH_SIZE];
  ASSERT_EQ(curve_savePath("test", out, sizeof out), 0);
  EXPECT_STREQ(out, "test.crv");
  ASSERT_EQ(curve_savePath("a.crv.old", out, sizeof out), 0);
  EXPECT_STREQ(out, "a.crv.old");
  std::string fits(CURVE_PATH_SIZE - 5, 'p');  // with ".crv" and the terminator
  ASSERT_EQ(curve_savePath(fits.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), fits + ".crv");
  EXPECT_EQ(curve_savePath((fits + "p").c_str(), out, sizeof out), -1) << "never cut";
}
