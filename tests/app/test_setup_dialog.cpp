// The setup dialog's checks and combo boxes, without a display: every
// message of the checks in its order, and the sleep and loss-of-DMX entries
// mapping to the values sent, both ways.
#include <gtest/gtest.h>

#include <string>

#include "app/daliWin.h"
#include "app/setupValues.h"

namespace {

struct Checked {
  int bits;
  SetupValues v;
};

Checked check(const char* addr, const char* back, const char* up, const char* down) {
  Checked c;
  c.v = SetupValues{0, 0, 0, 0, 0, 0, ""};
  c.bits = setupValues_check(addr, back, up, down, &c.v);
  return c;
}

}  // namespace

TEST(SetupDialogChecks, ValidTextsPassAndAreConverted) {
  Checked c = check("512", "100", "20", "20");
  EXPECT_EQ(c.bits, 0);
  EXPECT_STREQ(c.v.errorText, "");
  EXPECT_EQ(c.v.addr, 512);
  EXPECT_EQ(c.v.backlight, 100);
  EXPECT_EQ(check("12a", " 0", "255", "0").bits, 0) << "trailing letters are ignored";
  EXPECT_EQ(check("1", "0", "0", "0").bits, 0);
}

TEST(SetupDialogChecks, EachBadFieldSetsItsBit) {
  for (const char* addr : {"513", "0", "-1", "abc", ""}) EXPECT_EQ(check(addr, "5", "9", "1").bits, SETUP_BAD_ADDR) << addr;
  EXPECT_EQ(check("1", "101", "9", "1").bits, SETUP_BAD_BACKLIGHT);
  EXPECT_EQ(check("1", "-1", "9", "1").bits, SETUP_BAD_BACKLIGHT);
  EXPECT_EQ(check("1", "5", "300", "1").bits, SETUP_BAD_UP) << "no order check with a bad limit";
  EXPECT_EQ(check("1", "5", "9", "256").bits, SETUP_BAD_DOWN);
  EXPECT_EQ(check("1", "5", "10", "20").bits, SETUP_BAD_ORDER);
}

TEST(SetupDialogChecks, EveryMessageInTheOrderOfTheTable) {
  Checked c = check("600", "x", "10", "20");
  EXPECT_EQ(c.bits, SETUP_BAD_ADDR | SETUP_BAD_BACKLIGHT | SETUP_BAD_ORDER);
  EXPECT_EQ(std::string(c.v.errorText),
            "Start address:\n \"600\"\n\nis not valid.\n\n"
            "Backlight:\n \"x\"\n\nis not valid.\n"
            "Limit:\n  UP \"10\" < DOWN \"20\" ");
  c = check("0", "101", "-5", "999");
  EXPECT_EQ(c.bits, SETUP_BAD_ADDR | SETUP_BAD_BACKLIGHT | SETUP_BAD_UP | SETUP_BAD_DOWN);
  EXPECT_EQ(std::string(c.v.errorText),
            "Start address:\n \"0\"\n\nis not valid.\n\n"
            "Backlight:\n \"101\"\n\nis not valid.\n"
            "Limit UP:\n \"-5\"\n\nis not valid.\n"
            "Limit DOWN:\n \"999\"\n\nis not valid.\n");
  // Texts of any length stay within the message buffer.
  std::string huge(4000, '9');
  c = check(huge.c_str(), huge.c_str(), huge.c_str(), huge.c_str());
  EXPECT_LT(std::string(c.v.errorText).size(), sizeof c.v.errorText);
}

TEST(SetupDialogCombos, SleepEntryShowsTheNumberItSends) {
  ASSERT_EQ(setupValues_sleepEntries(30), SETUP_SLEEP_ENTRIES);
  EXPECT_EQ(SETUP_SLEEP_ENTRIES, 97);
  char text[SETUP_COMBO_TEXT_SIZE];
  setupValues_sleepText(0, 30, text, sizeof text);
  EXPECT_STREQ(text, "Off");
  EXPECT_EQ(setupValues_sleepValue(0, 30), 0);
  EXPECT_EQ(setupValues_sleepPosition(0), 0);
  for (int i = 1; i < SETUP_SLEEP_ENTRIES; i++) {
    setupValues_sleepText(i, 30, text, sizeof text);
    const int sent = setupValues_sleepValue(i, 30);
    EXPECT_EQ(std::to_string(sent), text) << "entry " << i;
    EXPECT_EQ(setupValues_sleepPosition(sent), i) << "a stored " << sent << " selects the entry that shows it";
  }
  setupValues_sleepText(1, 0, text, sizeof text);
  EXPECT_STREQ(text, "5");
  setupValues_sleepText(96, 0, text, sizeof text);
  EXPECT_STREQ(text, "100");
}

TEST(SetupDialogCombos, StoredValuesWithoutAnEntryGetOneAndAreSentUnchanged) {
  char text[SETUP_COMBO_TEXT_SIZE];
  for (int stored : {3, 101, 255}) {
    ASSERT_EQ(setupValues_sleepEntries(stored), SETUP_SLEEP_ENTRIES + 1);
    const int i = setupValues_sleepPosition(stored);
    EXPECT_EQ(i, SETUP_SLEEP_ENTRIES);
    setupValues_sleepText(i, stored, text, sizeof text);
    EXPECT_EQ(std::to_string(stored), text);
    EXPECT_EQ(setupValues_sleepValue(i, stored), stored);
  }
  EXPECT_EQ(setupValues_lossEntries(2), 3);
  EXPECT_EQ(setupValues_lossPosition(2), 2);
  setupValues_lossText(2, 2, text, sizeof text);
  EXPECT_STREQ(text, "to 100%");
  EXPECT_EQ(setupValues_lossEntries(7), 4);
  EXPECT_EQ(setupValues_lossPosition(7), 3);
  setupValues_lossText(3, 7, text, sizeof text);
  EXPECT_STREQ(text, "mode 7");
  EXPECT_EQ(setupValues_lossValue(3, 7), 7);
  EXPECT_EQ(setupValues_lossValue(0, 7), 0) << "choosing HOLD sends 0";
}

TEST(DaliRows, GearCountedButNeverReadIsNotShownAsAddressZero) {
  char text[DALI_ROW_TEXT_SIZE];
  DaliEntry entry = {0x05, 0x123456, 1};
  EXPECT_STREQ(daliWin_rowText(text, sizeof text, 0, &entry), "(  1) 05 - 123456");
  entry = DaliEntry{0, 0, 0};
  EXPECT_STREQ(daliWin_rowText(text, sizeof text, 63, &entry), "( 64) not read");
}
