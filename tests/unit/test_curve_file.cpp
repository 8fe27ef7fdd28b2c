#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_file.h"

namespace {

// Parses text, keeping the console quiet; returns what was printed.
std::string parse(const std::string& text, CurveRecord* rec, int* result = nullptr) {
  testing::internal::CaptureStdout();
  int r = curve_parseFile((const unsigned char*)text.data(), (int)text.size(), rec);
  if (result) *result = r;
  return testing::internal::GetCapturedStdout();
}

std::string numbers(int count, int first, int step) {
  std::string s;
  for (int i = 0; i < count; i++) s += std::to_string(first + i * step) + "\n";
  return s;
}

}  // namespace

TEST(CurveFile, FormatThenParseGivesTheSameCurve) {
  CurveRecord rec;
  curve_presetLinear(&rec);
  char buf[CURVE_FILE_TEXT_SIZE];
  int len = curve_formatFile(&rec, buf, sizeof buf);
  std::string text(buf, len > 0 ? len : 0);
  EXPECT_EQ(text.substr(0, 17), "LINEAR\n0\n16\n32\n48");
  EXPECT_EQ(text.substr(text.size() - 10), "4078\n4095\n");
  EXPECT_EQ((int)strlen(buf), len);

  CurveRecord back;
  int r = 0;
  std::string out = parse(text, &back, &r);
  EXPECT_EQ(r, 1);
  EXPECT_STREQ(back.name, "LINEAR");
  EXPECT_EQ(0, memcmp(back.values, rec.values, sizeof rec.values));
  EXPECT_EQ(out.substr(0, 12), "0: 0\n1: 16\n2");
  EXPECT_NE(out.find("\n255: 4095\n"), std::string::npos);
}

TEST(CurveFile, FormatRefusesABufferTooSmall) {
  CurveRecord rec;
  memset(&rec, 0, sizeof rec);
  strcpy(rec.name, "ABCDEFGHIJK");
  for (auto& v : rec.values) v = 4095;
  char buf[CURVE_FILE_TEXT_SIZE];
  EXPECT_EQ(curve_formatFile(&rec, buf, sizeof buf), 1292) << "the largest file written";
  EXPECT_EQ(curve_formatFile(&rec, buf, 1293), 1292);
  EXPECT_EQ(curve_formatFile(&rec, buf, 1292), -1) << "no room for the terminator";
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(curve_formatFile(&rec, buf, 5), -1);
}

TEST(CurveFile, NameIsTheFirstWordCutToElevenBytes) {
  CurveRecord rec;
  parse("my curve\n1\n", &rec);
  EXPECT_STREQ(rec.name, "my");
  EXPECT_EQ(rec.values[0], 1);
  parse("  LongerThanEleven 77\r\n5\n", &rec);
  EXPECT_STREQ(rec.name, "LongerThanE");
  EXPECT_EQ(rec.values[0], 5) << "the rest of the first line is ignored";
  parse("abcdefghij\xC3\xA9x\n9\n", &rec);
  EXPECT_STREQ(rec.name, "abcdefghij") << "a character is never split";
}

TEST(CurveFile, EmptyNameLineTakesTheFirstNumberAsName) {
  CurveRecord rec;
  std::string out = parse("\n" + numbers(256, 7, 1), &rec);
  EXPECT_STREQ(rec.name, "7");
  EXPECT_EQ(rec.values[0], 7);
  EXPECT_EQ(rec.values[255], 262);
  EXPECT_EQ(out.substr(0, 5), "0: 7\n");
}

TEST(CurveFile, MissingNumbersRepeatTheLast) {
  CurveRecord rec;
  memset(&rec, 0x33, sizeof rec);
  std::string out = parse("OnlyName", &rec);
  EXPECT_STREQ(rec.name, "OnlyName");
  for (int i = 0; i < CURVE_POINTS; i++) ASSERT_EQ(rec.values[i], 0) << i;
  for (int i = 9; i < CURVE_NAME_SIZE; i++) EXPECT_EQ(rec.name[i], 0) << "record cleared";
  EXPECT_EQ(out, "");

  out = parse("x\n100\n200\n", &rec);
  EXPECT_EQ(rec.values[0], 100);
  for (int i = 1; i < CURVE_POINTS; i++) ASSERT_EQ(rec.values[i], 200) << i;
  EXPECT_EQ(out, "0: 100\n1: 200\n");

  // Numbers beyond the 256th are ignored.
  parse("x\n" + numbers(300, 0, 1), &rec);
  EXPECT_EQ(rec.values[255], 255);
}

TEST(CurveFile, OnlyDigitsFormNumbers) {
  CurveRecord rec;
  parse("n\r\n-12\r\n2.5\r\n123456789012345678901234567890\r\n4096 4095\r\n", &rec);
  EXPECT_EQ(rec.values[0], 12);
  EXPECT_EQ(rec.values[1], 2);
  EXPECT_EQ(rec.values[2], 5);
  EXPECT_EQ(rec.values[3], 4095) << "a long number saturates instead of overflowing";
  EXPECT_EQ(rec.values[4], 4095);
  EXPECT_EQ(rec.values[5], 4095);
  EXPECT_EQ(rec.values[6], 4095);
  std::string zeros = std::string("z\n") + std::string(40, '0') + "17\n";
  parse(zeros, &rec);
  EXPECT_EQ(rec.values[0], 17) << "leading zeros do not saturate";
}

TEST(CurveFile, NothingToReadLeavesNothingLoaded) {
  CurveRecord rec;
  int r = -5;
  EXPECT_EQ(parse("", &rec, &r), "");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(curve_parseFile(nullptr, 10, &rec), 0);
}

TEST(CurveFile, SavePathGetsTheExtensionUnlessItHasOne) {
  char out[CURVE_PATH_SIZE];
  ASSERT_EQ(curve_savePath("test", out, sizeof out), 0);
  EXPECT_STREQ(out, "test.crv");
  ASSERT_EQ(curve_savePath("a.crv.old", out, sizeof out), 0);
  EXPECT_STREQ(out, "a.crv.old");

  std::string fits(CURVE_PATH_SIZE - 5, 'p');  // 251 + ".crv" + terminator
  ASSERT_EQ(curve_savePath(fits.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), fits + ".crv");
  memset(out, 'Z', sizeof out);
  EXPECT_EQ(curve_savePath((fits + "p").c_str(), out, sizeof out), -1);
  EXPECT_EQ(out[0], 'Z') << "a path is never cut";
  std::string longCrv(CURVE_PATH_SIZE, 'q');
  EXPECT_EQ(curve_savePath((longCrv + ".crv").c_str(), out, sizeof out), -1);
}
