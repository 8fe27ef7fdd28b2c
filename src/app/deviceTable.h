// What the device table of the "Devices" frame shows, free of GTK: one row
// per device found, in the order found, with the row text "(%d) %08X" and
// the device's settings, version and DALI count from the device table;
// the cells' texts, and the order of the rows when sorted by a column.
#pragma once

#include <cstdint>

#include "device/devices.h"

enum DeviceColumn {
  DEVICE_COL_ROW,  // "(%d) %08X": the number found and the UID
  DEVICE_COL_ADDR,
  DEVICE_COL_LOSS,
  DEVICE_COL_SLEEP,
  DEVICE_COL_BACKLIGHT,
  DEVICE_COL_LIMITS,  // down–up
  DEVICE_COL_FIRMWARE,
  DEVICE_COL_DALI,
  DEVICE_COLUMNS
};

enum {
  DEVICE_TABLE_MAX = DEV_TABLE_SIZE,
  DEVICE_CELL_SIZE = 24,
  DEVICE_NOTE_SIZE = 40,
  DEVICE_SORT_NONE = -1,  // the order found
  // The list's column after the values: the row's note, under the title
  // "Note", as wide as the list leaves it.
  DEVICE_COL_NOTE = DEVICE_COLUMNS,
};

enum DeviceRowState {
  DEVICE_ROW_READ,            // the device answered its settings read: its values are shown
  DEVICE_ROW_PENDING,         // a discovery runs and has not read it yet: no values yet
  DEVICE_ROW_NOT_RESPONDING,  // its settings read went unanswered
  DEVICE_ROW_NOT_READ,        // the cable failed before it could be read
};

// Where the reading of the devices found stands, for the rows without values.
enum DeviceReads {
  DEVICE_READS_DONE,     // every device found was asked
  DEVICE_READS_RUNNING,  // a discovery still finds or reads them
  DEVICE_READS_STOPPED,  // the cable failed: the devices without a record were not asked
};

struct DeviceRow {
  int number;  // 1.. in the order found
  uint32_t uid;
  DeviceRowState state;
  Device record;  // as read; meaningful in DEVICE_ROW_READ
  char cells[DEVICE_COLUMNS][DEVICE_CELL_SIZE];
  char note[DEVICE_NOTE_SIZE];  // what the values do not tell (app/deviceNotes), or ""
};

struct DeviceTableModel {
  int count;
  DeviceRow rows[DEVICE_TABLE_MAX];
};

// The column's title: "Devices", "Address", "Loss of DMX", "Sleep",
// "Backlight", "Limits", "Firmware", "DALI"; "Note" for DEVICE_COL_NOTE.
const char* deviceTable_title(int column);

// Fills a row for the device found as number `number`: record is its
// record in the device table, or null when it has none. The firmware reads
// "major.minor" ("1.4"). Without an answered record the row shows its UID
// and "reading…" in every value while the devices are read; else, as its
// address, "not read" when it has no record because the cable failed
// first, or "not responding". The row's note is the device's note
// (app/deviceNotes), but while a discovery still reads it.
void deviceTable_fillRow(DeviceRow* row, int number, uint32_t uid, const Device* record, DeviceReads reads);

// Fills the model from the devices found (discoveryJob_found) and a copy of
// each one's record; returns the number of rows.
int deviceTable_collect(DeviceTableModel* model);

// Orders two rows by a column, numbers as numbers: < 0 when a comes first
// in ascending order. Rows without values come after rows with values in
// both orders, and rows that are alike stay in the order found.
int deviceTable_compare(const DeviceRow* a, const DeviceRow* b, int column, bool descending);
// Sorts the rows by a column (DEVICE_SORT_NONE: the order found).
void deviceTable_sort(DeviceTableModel* model, int column, bool descending);

// Whether two models show the same rows, notes included, in the same order.
bool deviceTable_same(const DeviceTableModel* a, const DeviceTableModel* b);
// The row of uid, or -1.
int deviceTable_find(const DeviceTableModel* model, uint32_t uid);
