// New UIDs: made from the local time, handed to a device over the simulated
// line, acknowledged under the old or the new UID.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/app_genUID.h"
#include "device/exchange.h"
#include "device_line.h"

namespace {

struct tm at(int year, int month, int day, int hour, int minute, int second) {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace

TEST(GenUid, UidOfALocalTimeAndItsDescription) {
  char text[APP_GENUID_TEXT_SIZE];
  struct tm t = at(2026, 3, 5, 14, 7, 9);
  EXPECT_EQ(app_genUIDFromTime(&t, text), 0x344570E4u);
  EXPECT_STREQ(text, "NEW UID=344570E4\n Y=26\n M=2\n D=5\n h=14\n m=7\n s=8\n");
  struct tm a = at(2031, 12, 31, 23, 59, 58), b = at(2031, 12, 31, 23, 59, 59);
  EXPECT_EQ(app_genUIDFromTime(&a, nullptr), app_genUIDFromTime(&b, nullptr)) << "one two-second step";
  struct tm last = at(2063, 12, 31, 23, 59, 59);
  EXPECT_LT(app_genUIDFromTime(&last, nullptr), 0x80000000u) << "the top bit stays clear up to 2063";
  // The longest description fits its buffer whole.
  struct tm longest = at(2110, 12, 31, 23, 59, 59);
  app_genUIDFromTime(&longest, text);
  EXPECT_EQ(strlen(text), 54u);
  EXPECT_EQ(text[53], '\n');
}

TEST(GenUid, DeviceTakesTheUidAndAcknowledgesUnderTheNewOne) {
  DeviceLine bench;
  SimDevice& d = bench.add(0x00112233);
  testing::internal::CaptureStdout();
  EXPECT_EQ(app_genUid(0x00112233, 0x344570E4), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("UID repeat"), std::string::npos);
  EXPECT_EQ(d.sim_uid(), 0x344570E4u);
  auto sent = bench.sent({0x03, 0x10});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes.begin() + 4, sent[0].bytes.begin() + 8),
            std::vector<uint8_t>({0x33, 0x22, 0x11, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes.begin() + 18, sent[0].bytes.end()),
            std::vector<uint8_t>({7, 0x03, 0x10, 4, 0xE4, 0x70, 0x45, 0x34}));
}

TEST(GenUid, AcknowledgementUnderTheOldUidCountsToo) {
  DeviceLine bench;
  SimDevice& d = bench.add(0x00112233);
  d.sim_functions().faults.acknowledgesUnderOldUid = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(app_genUid(0x00112233, 0x344570E4), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(bench.sent({0x03, 0x10}).size(), 1u);
}

TEST(GenUid, WithoutAnAnswerFiveRepeatLinesAndNotChanged) {
  DeviceLine bench;
  // An acknowledgement an earlier exchange left must not count for this one.
  uidAnswUID.store(0x00112233);
  testing::internal::CaptureStdout();
  EXPECT_EQ(app_genUid(0x00112233, 0x344570E4), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("UID repeat = 4\nUID repeat = 3\nUID repeat = 2\nUID repeat = 1\nUID repeat = 0\n"),
            std::string::npos)
      << out;
  auto sent = bench.sent({0x03, 0x10});
  ASSERT_EQ(sent.size(), 5u);
  const uint64_t gap = sent[1].breakUs - sent[0].endUs;
  EXPECT_GE(gap, 15u * 15000u);
  EXPECT_LT(gap, 15u * 15000u + 15u * 1000u + 12000u);
}

// How a change ends decides what the operator is told: a device that took
// the new UID but whose answer was lost is not reported as unchanged, a
// refusal ends the exchange at its answer, and a missing cable is named.
TEST(GenUid, LostAnswerIsUnconfirmedRefusalIsNotChangedNoCableIsSaid) {
  DeviceLine bench;
  SimDevice& d = bench.add(0x00112233);
  char text[256];
  std::string console;
  bench.line.sim_dropAnswerByte(0);  // the acknowledgement never arrives whole
  EXPECT_EQ(runCapturing([] { return app_genUidOutcome(0x00112233, 0x344570E4); }, console),
            APP_GENUID_UNCONFIRMED);
  EXPECT_EQ(d.sim_uid(), 0x344570E4u) << "the device took it all the same";
  EXPECT_STREQ(app_genUid_outcomeText(text, sizeof text, 0x00112233, 0x344570E4, APP_GENUID_UNCONFIRMED),
               "UID 00112233 -> 344570E4\n not confirmed: the device did not answer.\n"
               "The discovery that follows shows the UID the device has.");

  EXPECT_EQ(runCapturing([] { return app_genUidOutcome(0x344570E4, 0x80000001); }, console),
            APP_GENUID_REFUSED);
  EXPECT_EQ(d.sim_uid(), 0x344570E4u);
  EXPECT_EQ(bench.sent({0x03, 0x10, 4, 0x01}).size(), 1u) << "the refusal ends the exchange";
  EXPECT_EQ(app_genUid(0x344570E4, 0x80000001), 0);
  EXPECT_STREQ(app_genUid_outcomeText(text, sizeof text, 0x344570E4, 0x80000001, APP_GENUID_REFUSED),
               "UID 344570E4 -> 80000001\n not changed.");

  bench.line.sim_setPlugged(false);
  EXPECT_EQ(runCapturing([] { return app_genUidOutcome(0x344570E4, 0x00000777); }, console),
            EXCHANGE_NO_CABLE);
  EXPECT_STREQ(app_genUid_outcomeText(text, sizeof text, 0x344570E4, 0x777, EXCHANGE_NO_CABLE),
               "Cable not found!");
}
