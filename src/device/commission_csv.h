// The commissioning file: one row per device with a header row,
//   uid,address,loss,sleep,backlight,limit_up,limit_down,version,dali_count
// as `tern export` writes it and `tern apply` reads it back, perhaps edited
// by hand or in a spreadsheet. The UID is hexadecimal, written with 0x so
// that a spreadsheet keeps it as text (read with or without); loss-of-DMX a
// mode's name, sleep in seconds (0 = off); version and dali_count are what
// the device reported and are never written to it.
#pragma once

#include <cstddef>

#include "device/commission.h"
#include "device/devices.h"

enum {
  COMMISSION_CSV_MAX_BYTES = 1 << 20,  // the largest file read
  COMMISSION_CSV_CELL_MAX = 64,        // the longest cell read
  COMMISSION_CSV_ROW_SIZE = 128,       // one row as written, with its line end
  COMMISSION_CSV_SIZE = COMMISSION_CSV_ROW_SIZE * (COMMISSION_MAX + 1),
};

// Writes the header and one row for each of the count records into out
// (size bytes): the text's length, or -1 when it does not fit.
int commission_csvFormat(const Device* devices, int count, char* out, int size);

// Reads a commissioning file's bytes into a plan: the header names the
// columns, in any order; uid is needed, the other columns may be left out
// and a cell may be empty, and then the device keeps that value. The cells
// are separated by commas, semicolons or tabs: the header's first one
// decides. Quoted cells, CR LF or LF line ends, blank lines, a missing last
// line end and a UTF-8 byte-order mark are read as spreadsheets write them.
//
// The whole file is refused (false, nothing in the plan) at its first
// fault, with `error` naming the line and the column: a column the header
// does not know or names twice, a row with more or fewer cells than the
// header, a UID that is not a device's or is there twice, a value the setup
// dialog refuses (with the dialog's message), down above up in one row,
// a UID a spreadsheet turned into a number ("0", "1.2345E+071": the device
// can no longer be told), more than COMMISSION_MAX rows, a broken quote, a
// file larger than COMMISSION_CSV_MAX_BYTES.
// `where` (optional) gets the fault's parts apart: its line, its column
// (0 when the fault is the row's or the file's), the column's name ("" when
// the header does not name it) and the reason alone.
struct CommissionCsvError {
  int line;
  int column;
  char field[COMMISSION_CSV_CELL_MAX + 1];
  char message[COMMISSION_TEXT_SIZE];
};
bool commission_csvRead(const char* data, size_t size, CommissionPlan* plan, char* error, int errorSize,
                        CommissionCsvError* where = nullptr);
