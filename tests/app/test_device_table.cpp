// What the Devices table shows, without a display: each cell's text for a
// device that answered, one that did not and one not read yet; and the
// order of the rows when sorted, numbers as numbers, devices without values
// last either way, alike rows in the order found.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/deviceTable.h"

namespace {

Device record(uint32_t uid, int addr, int loss, int sleep, int backlight, int up, int down, int major, int minor,
              int dali) {
  Device d = {};
  d.uid = uid;
  d.addr = (uint16_t)addr;
  d.lossOfDmx = (uint8_t)loss;
  d.display[0] = (uint8_t)sleep;
  d.display[1] = (uint8_t)backlight;
  d.limit[0] = (uint8_t)up;
  d.limit[1] = (uint8_t)down;
  d.ver[0] = (uint8_t)major;
  d.ver[1] = (uint8_t)minor;
  d.daliCount = (uint8_t)dali;
  d.answered = 1;
  return d;
}

std::vector<std::string> cells(const DeviceRow& r) { return std::vector<std::string>(r.cells, r.cells + DEVICE_COLUMNS); }

// A model of rows in the order found: addresses as given, -1 for a device
// whose read went unanswered.
std::unique_ptr<DeviceTableModel> model(const std::vector<int>& addresses) {
  std::unique_ptr<DeviceTableModel> m(new DeviceTableModel());
  for (size_t i = 0; i < addresses.size(); i++) {
    const uint32_t uid = 0x100 + (uint32_t)i;
    Device d = record(uid, addresses[i], 0, 0, 50, 255, 0, 1, 0, (int)(i % 2));
    deviceTable_fillRow(&m->rows[m->count++], (int)i + 1, uid, addresses[i] < 0 ? nullptr : &d, DEVICE_READS_DONE);
  }
  return m;
}

std::vector<int> numbers(const DeviceTableModel& m) {
  std::vector<int> out;
  for (int i = 0; i < m.count; i++) out.push_back(m.rows[i].number);
  return out;
}

}  // namespace

TEST(DeviceTableCells, EveryColumnOfADeviceThatAnswered) {
  DeviceRow r;
  Device d = record(0x00A1B2C3, 300, 2, 30, 80, 200, 10, 2, 7, 4);
  deviceTable_fillRow(&r, 3, d.uid, &d, DEVICE_READS_DONE);
  EXPECT_EQ(cells(r), (std::vector<std::string>{"(3) 00A1B2C3", "300", "to 100%", "30 s", "80%", "10\u2013200",
                                                 "2.7", "4"}));
  EXPECT_EQ(r.state, DEVICE_ROW_READ);
  // Values the setup dialog has no entry for are shown as it shows them;
  // any firmware version is shown, a major 0 too.
  d = record(0x7FFFFFFF, 512, 7, 0, 0, 0, 0, 0, 12, 64);
  deviceTable_fillRow(&r, 200, d.uid, &d, DEVICE_READS_DONE);
  EXPECT_EQ(cells(r), (std::vector<std::string>{"(200) 7FFFFFFF", "512", "mode 7", "Off", "0%", "0\u20130", "0.12",
                                                 "64"}));
}

TEST(DeviceTableCells, ADeviceWithoutAnswerShowsItsUidAndNoValues) {
  DeviceRow r;
  // A record that holds values from before, but whose last read went
  // unanswered, is not shown with them.
  Device stale = record(0x1234, 17, 1, 30, 80, 200, 10, 1, 4, 2);
  stale.answered = 0;
  const std::vector<std::string> silent = {"(2) 00001234", "not responding", "", "", "", "", "", ""};
  deviceTable_fillRow(&r, 2, 0x1234, &stale, DEVICE_READS_DONE);
  EXPECT_EQ(cells(r), silent);
  EXPECT_EQ(r.state, DEVICE_ROW_NOT_RESPONDING);
  deviceTable_fillRow(&r, 2, 0x1234, nullptr, DEVICE_READS_DONE);
  EXPECT_EQ(cells(r), silent);
  // While a discovery still reads the devices it is not "not responding" yet.
  const std::string reading = "reading\u2026";
  deviceTable_fillRow(&r, 2, 0x1234, nullptr, DEVICE_READS_RUNNING);
  EXPECT_EQ(cells(r), (std::vector<std::string>{"(2) 00001234", reading, reading, reading, reading, reading,
                                                 reading, reading}));
  EXPECT_EQ(r.state, DEVICE_ROW_PENDING);
  // When the cable failed first, the device is not blamed for it; a device
  // that left its own read unanswered before still is.
  deviceTable_fillRow(&r, 2, 0x1234, nullptr, DEVICE_READS_STOPPED);
  EXPECT_EQ(cells(r), (std::vector<std::string>{"(2) 00001234", "not read", "", "", "", "", "", ""}));
  EXPECT_EQ(r.state, DEVICE_ROW_NOT_READ);
  deviceTable_fillRow(&r, 2, 0x1234, &stale, DEVICE_READS_STOPPED);
  EXPECT_EQ(cells(r), silent);
}

TEST(DeviceTableSort, NumbersAsNumbersAndTheOtherWayOnTheSecondClick) {
  auto m = model({300, 9, -1, 100, 25});
  deviceTable_sort(m.get(), DEVICE_COL_ADDR, false);
  EXPECT_EQ(numbers(*m), (std::vector<int>{2, 5, 4, 1, 3})) << "9, 25, 100, 300, then the silent one";
  deviceTable_sort(m.get(), DEVICE_COL_ADDR, true);
  EXPECT_EQ(numbers(*m), (std::vector<int>{1, 4, 5, 2, 3})) << "300, 100, 25, 9, the silent one still last";
  // The row text's column is the order found, its numbers as numbers too.
  deviceTable_sort(m.get(), DEVICE_COL_ROW, false);
  EXPECT_EQ(numbers(*m), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(std::string(m->rows[1].cells[DEVICE_COL_ROW]), "(2) 00000101") << "sorting keeps the row texts";
}

TEST(DeviceTableSort, AlikeRowsStayInTheOrderFoundEitherWay) {
  // DALI counts 0, 1, 0, 1, ...: rows alike in the column keep the order found.
  auto m = model({50, 40, 30, 20, 10, 60, 70, 80, 90, 100, 110, 120});
  deviceTable_sort(m.get(), DEVICE_COL_DALI, false);
  EXPECT_EQ(numbers(*m), (std::vector<int>{1, 3, 5, 7, 9, 11, 2, 4, 6, 8, 10, 12}));
  deviceTable_sort(m.get(), DEVICE_COL_DALI, true);
  EXPECT_EQ(numbers(*m), (std::vector<int>{2, 4, 6, 8, 10, 12, 1, 3, 5, 7, 9, 11}));
}

TEST(DeviceTableSort, LimitsByDownThenUpAndFirmwareByMajorThenMinor) {
  std::unique_ptr<DeviceTableModel> m(new DeviceTableModel());
  const Device devices[] = {record(1, 1, 0, 0, 0, 200, 10, 1, 10, 0), record(2, 1, 0, 0, 0, 100, 10, 2, 3, 0),
                            record(3, 1, 0, 0, 0, 255, 9, 1, 9, 0)};
  for (int i = 0; i < 3; i++) deviceTable_fillRow(&m->rows[m->count++], i + 1, devices[i].uid, &devices[i], DEVICE_READS_DONE);
  deviceTable_sort(m.get(), DEVICE_COL_LIMITS, false);
  EXPECT_EQ(numbers(*m), (std::vector<int>{3, 2, 1})) << "9-255, 10-100, 10-200";
  deviceTable_sort(m.get(), DEVICE_COL_FIRMWARE, false);
  EXPECT_EQ(numbers(*m), (std::vector<int>{3, 1, 2})) << "1.9 before 1.10 before 2.3";
}

TEST(DeviceTableRows, SameAndFind) {
  auto a = model({1, 2, 3});
  auto b = model({1, 2, 3});
  EXPECT_TRUE(deviceTable_same(a.get(), b.get()));
  EXPECT_EQ(deviceTable_find(a.get(), 0x102), 2);
  EXPECT_EQ(deviceTable_find(a.get(), 0x999), -1);
  // A value, the order or the number of rows: another table.
  auto c = model({1, 2, 4});
  EXPECT_FALSE(deviceTable_same(a.get(), c.get()));
  deviceTable_sort(b.get(), DEVICE_COL_ADDR, true);
  EXPECT_FALSE(deviceTable_same(a.get(), b.get()));
  auto d = model({1, 2});
  EXPECT_FALSE(deviceTable_same(a.get(), d.get()));
}
