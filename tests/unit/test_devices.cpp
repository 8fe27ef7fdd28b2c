// The device table: look up or claim, a full table, clearing, and the
// setters and formatters whose bytes and texts other modules rely on.
#include <gtest/gtest.h>

#include <string>

#include "device/devices.h"

namespace {

class DeviceTable : public testing::Test {
 protected:
  void SetUp() override { dev_removeAll(); }
  void TearDown() override { dev_removeAll(); }
};

const uint8_t kAddr300[] = {0x2C, 0x01};

}  // namespace

TEST_F(DeviceTable, SettersClaimOnceAndRecordsAreReusedFromTheFirst) {
  dev_setAddr(0x10, kAddr300);
  const uint8_t mode[] = {2};
  dev_setLossOfDmx(0x10, mode);
  EXPECT_EQ(findDevUID(0x10), 0);
  EXPECT_EQ(dev_count(), 1) << "the second setter reuses the record";
  EXPECT_EQ(dev_getAddr(0x10), 300);
  // A duplicate entered by addDevUID takes a second record; lookups find the first.
  EXPECT_EQ(addDevUID(0x10), 1);
  EXPECT_EQ(getDevUID(0x10)->addr, 300);
  // UID 0 marks a free record: it is never claimed nor found.
  dev_setAddr(0, kAddr300);
  EXPECT_EQ(addDevUID(0), -1);
  EXPECT_EQ(getDevUID(0), nullptr);
  EXPECT_EQ(dev_count(), 2);
  EXPECT_EQ(dev_getAddr(0x20), 0) << "UID 0's address went to no record, not even a free one";

  dev_removeAllSetup();
  Device d;
  ASSERT_TRUE(dev_copy(0x10, &d));
  EXPECT_EQ(d.addr, 0);
  EXPECT_EQ(d.lossOfDmx, 0);
  EXPECT_EQ(dev_count(), 3) << "the UIDs stay";
  dev_removeAll();
  EXPECT_EQ(dev_count(), 0);
  EXPECT_EQ(findDevUID(0x77), 0) << "an emptied table is claimed from the first record";
}

TEST_F(DeviceTable, FullTableStoresNothingNew) {
  for (uint32_t u = 1; u <= DEV_TABLE_SIZE; u++) ASSERT_EQ(addDevUID(u), (int)u - 1);
  EXPECT_EQ(addDevUID(999), -1);
  EXPECT_EQ(dev_setAddr(999, kAddr300), 0);
  EXPECT_EQ(getDevUID(999), nullptr);
  EXPECT_EQ(findDevUID(999), -1);
  EXPECT_EQ(dev_getAddr(999), -1);
  EXPECT_EQ(dev_getLossOfDmxStr(999, nullptr), -1);
  const uint8_t entry[] = {0, 1, 2, 3, 4};
  EXPECT_EQ(dev_setDaliCount(999, entry), 0);
  EXPECT_EQ(dev_setDaliDev(999, entry), 0);
  dev_setAddr(DEV_TABLE_SIZE, kAddr300);
  EXPECT_EQ(dev_getAddr(DEV_TABLE_SIZE), 300) << "the last record is still written";
}

TEST_F(DeviceTable, DaliEntryIsStoredByPositionWithItsConsoleLine) {
  const uint8_t entry[] = {2, 0x05, 0x56, 0x34, 0x12};
  const uint8_t beyond[] = {64, 0x07, 1, 2, 3};
  const uint8_t count[] = {3};
  testing::internal::CaptureStdout();
  dev_setDaliDev(0xABC, entry);
  dev_setDaliDev(0xABC, beyond);
  dev_setDaliCount(0xABC, count);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "ABC DALI dev:05 - 123456 - 56 34 12\nABC DALI:3\n");
  Device d;
  ASSERT_TRUE(dev_copy(0xABC, &d));
  EXPECT_EQ(d.dali[2].shortAddr, 0x05);
  EXPECT_EQ(d.dali[2].randomAddr, 0x123456u);
  EXPECT_EQ(d.daliCount, 3);
  EXPECT_EQ(d.dali[2].read + d.dali[1].read, 1) << "only the entry reported is read";
}

TEST_F(DeviceTable, ModeNamesAndVersionTexts) {
  char text[DEV_LOSS_TEXT_SIZE];
  const char* expected[] = {"HOLD", "to 0%", "to 100%", "", "HOLD"};
  for (uint8_t m = 0; m <= 4; m++) {
    dev_setLossOfDmx(0x5, &m);
    EXPECT_EQ(dev_getLossOfDmxStr(0x5, text), m);
    EXPECT_STREQ(text, expected[m]) << "mode " << (int)m;
  }
  char ver[DEV_VER_TEXT_SIZE] = "untouched";
  const uint8_t v27[] = {2, 7}, v31[] = {3, 1}, v40[] = {4, 0}, v03[] = {0, 3};
  dev_setVer(0x5, v27);
  EXPECT_EQ(dev_getVerStr(0x5, ver), 8);
  EXPECT_STREQ(ver, "ver.2.7;");
  dev_setVer(0x5, v31);
  dev_getVerStr(0x5, ver);
  EXPECT_STREQ(ver, "ver.3.1;");
  for (const uint8_t* v : {v40, v03}) {
    strcpy(ver, "untouched");
    dev_setVer(0x5, v);
    dev_getVerStr(0x5, ver);
    EXPECT_STREQ(ver, "untouched");
  }

  char s[16];
  const uint8_t withLetter[] = {3, 1, 2, 66}, at64[] = {3, 1, 2, 64}, none[] = {0},
                longer[] = {4, 200, 201, 20, 203};
  getVerStr(s, sizeof s, withLetter);
  EXPECT_STREQ(s, "1.2.B.; ");
  getVerStr(s, sizeof s, at64);
  EXPECT_STREQ(s, "1.2.64.; ") << "64 is below the letters";
  getVerStr(s, sizeof s, none);
  EXPECT_STREQ(s, "; ");
  EXPECT_EQ(getVerStr(s, 10, longer), 9) << "cut to the buffer";
  EXPECT_STREQ(s, "200.201.2");
}
