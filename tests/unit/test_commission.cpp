// The commissioning module without a line: the CSV file read the way
// spreadsheets write it (and refused whole, naming line and column), the
// file export writes read back to the same values, the address plan's
// bounds, and the setup dialog's checks against what a device holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/commission.h"
#include "device/commission_csv.h"

namespace {

struct Read {
  bool ok;
  std::string error;
  CommissionPlan plan;
};

Read read(const std::string& text) {
  Read r;
  char error[COMMISSION_TEXT_SIZE];
  r.ok = commission_csvRead(text.data(), text.size(), &r.plan, error, sizeof error);
  r.error = error;
  return r;
}

bool given(const CommissionTarget& t, int field) { return (t.want.has >> field & 1u) != 0; }

Device device(uint32_t uid, int addr, int loss, int sleep, int back, int up, int down) {
  Device d = {};
  d.uid = uid;
  d.addr = (uint16_t)addr;
  d.lossOfDmx = (uint8_t)loss;
  d.display[0] = (uint8_t)sleep;
  d.display[1] = (uint8_t)back;
  d.limit[0] = (uint8_t)up;
  d.limit[1] = (uint8_t)down;
  d.ver[0] = 1;
  d.ver[1] = 4;
  d.daliCount = 3;
  return d;
}

}  // namespace

TEST(CommissionCsv, ReadsWhatSpreadsheetsWrite) {
  // A byte-order mark, CR LF, the columns in another order and in capitals,
  // blanks around cells, quoted cells (one with a comma, one over two
  // lines in a column that is never written), a blank line ended by a CR
  // alone, an empty cell, and no line end after the last row.
  const std::string text =
      "\xEF\xBB\xBF"
      "Address , UID,loss,version,limit_up,limit_down\r\n"
      " 17 ,0a1b2c3d,\"to 0%\",\"1.4,\r\nbeta\",200,\"10\"\r\n"
      "\r"
      "18,0x00000010,,2.0,,";
  Read r = read(text);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.plan.count, 2);
  const CommissionTarget& a = r.plan.targets[0];
  EXPECT_EQ(a.uid, 0x0A1B2C3Du);
  EXPECT_EQ(a.line, 2);
  EXPECT_EQ(a.want.v[COMMISSION_ADDR], 17);
  EXPECT_EQ(a.want.v[COMMISSION_LOSS], 1);
  EXPECT_EQ(a.want.v[COMMISSION_LIMIT_UP], 200);
  EXPECT_EQ(a.want.v[COMMISSION_LIMIT_DOWN], 10);
  EXPECT_FALSE(given(a, COMMISSION_SLEEP)) << "a column that is not there is not written";
  const CommissionTarget& b = r.plan.targets[1];
  EXPECT_EQ(b.uid, 0x10u);
  EXPECT_EQ(b.line, 5) << "the quoted line break and the blank line count";
  EXPECT_EQ(b.want.has, 1u << COMMISSION_ADDR) << "empty cells keep the device's values";
}

TEST(CommissionCsv, ExportReadsBackToTheSameValues) {
  const Device devs[] = {device(0x0A1B2C3D, 512, 2, 100, 0, 255, 0), device(0x7FFFFFFF, 1, 0, 0, 100, 7, 7),
                         device(0x00000001, 300, 7, 3, 50, 128, 64)};
  static char text[COMMISSION_CSV_SIZE];
  const int n = commission_csvFormat(devs, 3, text, sizeof text);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(text).substr(0, std::string(text).find('\n')),
            "uid,address,loss,sleep,backlight,limit_up,limit_down,version,dali_count");
  EXPECT_NE(std::string(text).find("\n0x0A1B2C3D,512,to 100%,100,0,255,0,1.4,3\n"), std::string::npos)
      << "0x keeps a spreadsheet from reading the UID as a number: " << text;
  Read r = read(std::string(text, (size_t)n));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.plan.count, 3);
  for (int i = 0; i < 3; i++) {
    CommissionValues held;
    commission_fromDevice(&devs[i], &held);
    EXPECT_EQ(r.plan.targets[i].uid, devs[i].uid);
    EXPECT_EQ(r.plan.targets[i].want.has, held.has);
    EXPECT_EQ(commission_diff(&held, &r.plan.targets[i].want), 0u)
        << "row " << i << ": a mode without a name and a sleep outside the combo box read back as they were";
  }
  // A buffer too small gives nothing rather than half a file.
  char small[100];
  EXPECT_EQ(commission_csvFormat(devs, 3, small, sizeof small), -1);
  EXPECT_STREQ(small, "");
}

TEST(CommissionCsv, TakesTheSeparatorFromTheHeader) {
  // A European spreadsheet's save: semicolons, every text cell quoted, a
  // decimal comma inside a quoted cell.
  Read r = read("\"uid\";\"address\";\"version\";\"loss\"\r\n\"0x0000E000\";5;\"1,4\";\"to 0%\"\r\n");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.plan.count, 1);
  EXPECT_EQ(r.plan.targets[0].uid, 0xE000u);
  EXPECT_EQ(r.plan.targets[0].want.v[COMMISSION_ADDR], 5);
  EXPECT_EQ(r.plan.targets[0].want.v[COMMISSION_LOSS], 1);
  // Tabs, after a blank line: an empty cell between two tabs is a cell.
  r = read("\n uid\taddress\tsleep\n0x10\t\t30 s\n");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.plan.count, 1);
  EXPECT_EQ(r.plan.targets[0].want.has, 1u << COMMISSION_SLEEP);
  EXPECT_EQ(r.plan.targets[0].want.v[COMMISSION_SLEEP], 30);
}

TEST(CommissionCsv, RefusesAUidASpreadsheetMadeANumberNamingItsCell) {
  const char* numbers[][2] = {{"0", "0"}, {"1.2345E+071", "1.2345E+071"}, {"\"1,2345E+071\"", "1,2345E+071"}};
  for (auto& n : numbers) {
    Read r = read(std::string("address;uid\n1;0x10\n2;") + n[0] + "\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind(std::string("line 3, column 2 (uid): \"") + n[1] +
                                "\" is not a UID: a spreadsheet seems to have read the UID as a number",
                            0),
              0u)
        << r.error;
  }
}

TEST(CommissionCsv, RefusesAMalformedFileWholeNamingLineAndColumn) {
  const std::string head = "uid,address,loss,sleep,backlight,limit_up,limit_down\n";
  const std::string good = "00000010,1,HOLD,0,50,255,0\n";
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {head + good + "00000011,513,HOLD,0,50,255,0\n",
       "line 3, column 2 (address): 513 is not in 1..512"},
      {head + good + "00000011,12abc,HOLD,0,50,255,0\n",
       "line 3, column 2 (address): \"12abc\" is not a whole number"},
      {head + good + "00000011,\"1,5\",HOLD,0,50,255,0\n",
       "line 3, column 2 (address): \"1,5\" is not a whole number"},
      {head + good + "00000011,1,sometimes,0,50,255,0\n",
       "line 3, column 3 (loss): \"sometimes\" is not HOLD, to 0% or to 100%"},
      {head + good + "00000011,1,HOLD,0,101,255,0\n",
       "line 3, column 5 (backlight): 101 is not in 0..100"},
      {head + good + "00000011,1,HOLD,0,50,10,20\n",
       "line 3, column 7 (limit_down): limit_down: 20 is above limit_up 10"},
      {head + good + "00000010,2,HOLD,0,50,255,0\n", "line 3, column 1 (uid): 00000010 is on line 2 already"},
      {head + good + "80000000,1,HOLD,0,50,255,0\n",
       "line 3, column 1 (uid): \"80000000\" is not a device's UID (hexadecimal, 1 to 7FFFFFFF)"},
      {head + good + "00000011,1,HOLD,0,50,255\n",
       "line 3, column 7 (limit_down): missing: the row has 6 cells, the header names 7"},
      {head + good + "00000011,1,HOLD,0,50,255,0,9\n", "line 3, column 8: more cells than the header names (7)"},
      {head + good + "00000011,1,HO\"LD,0,50,255,0\n",
       "line 3, column 3 (loss): a quote out of place (quote a whole cell, and double a quote inside it)"},
      {head + good + "00000011,1,\"HOLD,0,50,255,0\n\n\n", "line 3, column 3 (loss): the quote that begins this cell is not closed"},
      {"uid,adress\n" + good,
       "line 1, column 2: unknown column \"adress\"; the columns are uid, address, loss, sleep, backlight, "
       "limit_up, limit_down, version, dali_count"},
      {"uid,sleep,SLEEP\n", "line 1, column 3: \"sleep\" is column 2 already"},
      {"address,loss\n1,HOLD\n", "line 1: the header names no uid column"},
      {"", "line 1: no header row: the file is empty"},
  };
  for (const Case& c : cases) {
    Read r = read(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_EQ(r.plan.count, 0) << "nothing of a refused file is kept: " << c.text;
    EXPECT_EQ(r.error, c.error) << c.text;
  }
  std::string many = "uid\n";
  for (int i = 1; i <= COMMISSION_MAX + 1; i++) many += std::to_string(i) + "\n";
  Read r = read(many);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "line 202: more than 200 devices");
}

TEST(CommissionPlan, AddressesInSequenceAndRefusesPast512) {
  const uint32_t uids[] = {0x30, 0x10, 0x20};
  CommissionPlan plan;
  char error[COMMISSION_TEXT_SIZE];
  ASSERT_TRUE(commission_addressPlan(504, 4, uids, 3, &plan, error, sizeof error)) << error;
  ASSERT_EQ(plan.count, 3);
  EXPECT_EQ(plan.targets[0].uid, 0x30u) << "in the order given";
  EXPECT_EQ(plan.targets[2].want.v[COMMISSION_ADDR], 512) << "512 is the last address there is";
  EXPECT_EQ(plan.targets[1].want.has, 1u << COMMISSION_ADDR) << "nothing but the address";

  EXPECT_FALSE(commission_addressPlan(505, 4, uids, 3, &plan, error, sizeof error));
  EXPECT_STREQ(error, "3 devices from 505 in steps of 4 would end at address 513, past 512");
  EXPECT_EQ(plan.count, 0);
  // A step that would wrap round in 32 bits is still past 512.
  EXPECT_FALSE(commission_addressPlan(1, 0x7FFFFFFF, uids, 3, &plan, error, sizeof error));
  EXPECT_FALSE(commission_addressPlan(0, 1, uids, 3, &plan, error, sizeof error));
  EXPECT_STREQ(error, "start: 0 is not in 1..512");
  EXPECT_FALSE(commission_addressPlan(1, -1, uids, 3, &plan, error, sizeof error));
  EXPECT_STREQ(error, "step: -1 is not in 0..511");
  EXPECT_FALSE(commission_addressPlan(1, 512, uids, 1, &plan, error, sizeof error)) << "511 is the largest step";
  EXPECT_TRUE(commission_addressPlan(1, 511, uids, 2, &plan, error, sizeof error)) << error;
  EXPECT_FALSE(commission_addressPlan(1, 1, uids, 0, &plan, error, sizeof error));
  EXPECT_STREQ(error, "no device to work on");
  const uint32_t twice[] = {0x10, 0x20, 0x10};
  EXPECT_FALSE(commission_addressPlan(1, 1, twice, 3, &plan, error, sizeof error));
  EXPECT_STREQ(error, "00000010 is named twice");
  ASSERT_TRUE(commission_addressPlan(7, 0, uids, 3, &plan, error, sizeof error)) << "step 0: one address for all";
  EXPECT_EQ(plan.targets[2].want.v[COMMISSION_ADDR], 7);
}

// Shared and overlapping addresses are warned of pair by pair, with each
// device's footprint; a row without an address takes part in none, and the
// count goes on past the warnings there is room for.
TEST(CommissionPlan, WarnsOfDevicesThatShareOrOverlapTheirAddresses) {
  const Read r = read("uid,address\n10,17\n20,17\n30,19\n40,\n50,2\n");
  ASSERT_TRUE(r.ok) << r.error;
  char warnings[4][COMMISSION_WARNING_SIZE];
  ASSERT_EQ(commission_overlaps(&r.plan, 1, warnings, 4), 1);
  EXPECT_STREQ(warnings[0], "00000010 (line 2) and 00000020 (line 3) share address 17");
  ASSERT_EQ(commission_overlaps(&r.plan, 3, warnings, 4), 3);
  EXPECT_STREQ(warnings[1], "00000010 (line 2) and 00000030 (line 4) overlap at 19..19");
  EXPECT_STREQ(warnings[2], "00000020 (line 3) and 00000030 (line 4) overlap at 19..19");
  strcpy(warnings[1], "untouched");
  EXPECT_EQ(commission_overlaps(&r.plan, 3, warnings, 1), 3);
  EXPECT_STREQ(warnings[1], "untouched");
}

TEST(CommissionChecks, ADeviceMayKeepWhatItHoldsButIsGivenOnlyWhatTheDialogOffers) {
  CommissionValues held;
  const Device d = device(0x10, 0, 7, 3, 50, 100, 0);  // address 0, a mode and a sleep without entries
  commission_fromDevice(&d, &held);
  char why[COMMISSION_TEXT_SIZE];
  CommissionValues want = {};
  want.v[COMMISSION_BACKLIGHT] = 80;
  want.has = 1u << COMMISSION_BACKLIGHT;
  EXPECT_EQ(commission_check(&held, &want, why, sizeof why), 0) << "the held address 0 is not the caller's: " << why;

  want.v[COMMISSION_SLEEP] = 3;  // what it holds: its own extra entry
  want.v[COMMISSION_LOSS] = 7;
  want.has |= 1u << COMMISSION_SLEEP | 1u << COMMISSION_LOSS;
  EXPECT_EQ(commission_check(&held, &want, why, sizeof why), 0) << why;

  want.v[COMMISSION_SLEEP] = 4;
  want.v[COMMISSION_LOSS] = 5;
  want.v[COMMISSION_LIMIT_DOWN] = 101;
  want.has |= 1u << COMMISSION_LIMIT_DOWN;
  EXPECT_NE(commission_check(&held, &want, why, sizeof why), 0);
  EXPECT_STREQ(why,
               "limit_down: 101 is above limit_up 100; sleep: 4 is not off or 5..100; "
               "loss: 5 is not HOLD, to 0% or to 100%")
      << "the order is checked against the limit the device holds";
  EXPECT_EQ(commission_diff(&held, &want), (1u << COMMISSION_SLEEP | 1u << COMMISSION_LOSS |
                                           1u << COMMISSION_LIMIT_DOWN | 1u << COMMISSION_BACKLIGHT));

  int32_t v;
  EXPECT_TRUE(commission_parseField(COMMISSION_SLEEP, "OFF", &v, why, sizeof why));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(commission_parseField(COMMISSION_LOSS, "To 100%", &v, why, sizeof why));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(commission_parseField(COMMISSION_LIMIT_UP, "99999999999", &v, why, sizeof why));
  EXPECT_STREQ(why, "99999999999 is not in 0..255");
}

// Every field's parser on both sides of each edge of its range, with the
// range in the refusal, and the forms the table shows ("80%", "Off").
TEST(CommissionFields, EachParserTakesItsRangeAndNoMore) {
  struct Edge {
    int field;
    const char* text;
    bool ok;
    int32_t value;
    const char* error;
  } edges[] = {
      {COMMISSION_ADDR, "0", false, 0, "0 is not in 1..512"},
      {COMMISSION_ADDR, "1", true, 1, ""},
      {COMMISSION_ADDR, " 512 ", true, 512, ""},
      {COMMISSION_ADDR, "513", false, 0, "513 is not in 1..512"},
      {COMMISSION_BACKLIGHT, "-1", false, 0, "-1 is not in 0..100"},
      {COMMISSION_BACKLIGHT, "100", true, 100, ""},
      {COMMISSION_BACKLIGHT, "80%", true, 80, ""},
      {COMMISSION_BACKLIGHT, "101", false, 0, "101 is not in 0..100"},
      {COMMISSION_LIMIT_UP, "255", true, 255, ""},
      {COMMISSION_LIMIT_UP, "256", false, 0, "256 is not in 0..255"},
      {COMMISSION_LIMIT_DOWN, "-1", false, 0, "-1 is not in 0..255"},
      {COMMISSION_LIMIT_DOWN, "0", true, 0, ""},
      {COMMISSION_SLEEP, "Off", true, 0, ""},
      {COMMISSION_SLEEP, "30 s", true, 30, ""},
      {COMMISSION_SLEEP, "255", true, 255, ""},  // a device may hold it: checked against what it holds
      {COMMISSION_SLEEP, "256", false, 0, "256 is not off or 5..100"},
      {COMMISSION_SLEEP, "soon", false, 0, "\"soon\" is not off or a number of seconds"},
      {COMMISSION_LOSS, "mode 7", true, 7, ""},
      {COMMISSION_LOSS, "to 0%", true, 1, ""},
      {COMMISSION_LOSS, "256", false, 0, "256 is not HOLD, to 0% or to 100%"},
      {COMMISSION_ADDR, "1\x1b[2J", false, 0, "\"1\\x1B[2J\" is not a whole number"},
  };
  for (const Edge& e : edges) {
    int32_t v = -12345;
    char why[COMMISSION_TEXT_SIZE] = "unset";
    EXPECT_EQ(commission_parseField(e.field, e.text, &v, why, sizeof why), e.ok) << e.text;
    if (e.ok)
      EXPECT_EQ(v, e.value) << e.text;
    else
      EXPECT_STREQ(why, e.error) << e.text;
  }
  // The rules on values that depend on nothing but the value, both sides.
  CommissionValues none = {}, want = {};
  char why[COMMISSION_TEXT_SIZE];
  want.has = 1u << COMMISSION_SLEEP;
  for (int32_t s : {0, 5, 100}) {
    want.v[COMMISSION_SLEEP] = s;
    EXPECT_EQ(commission_check(&none, &want, why, sizeof why), 0) << s << ": " << why;
  }
  for (int32_t s : {4, 101}) {
    want.v[COMMISSION_SLEEP] = s;
    EXPECT_EQ(commission_check(&none, &want, why, sizeof why), 1) << s;
  }
}
