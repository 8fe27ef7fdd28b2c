// The FTDI port (named apart from libftdi's own <ftdi.h>): the USB-to-DMX
// converter's inventory, open by serial number, DMX line settings (250000
// baud, 8N2), frames preceded by a break, and reads.
#pragma once

#include <cstdint>

// Line settings.
enum {
  FTDI_DMX_BAUD = 250000,
  FTDI_BREAK_BAUD = 15625,
  FTDI_MAX_DEVICES = 50,
  FTDI_SERIAL_ROW = 64,
};

// Prints "Library version = 0x%x" and returns the version (0 on failure).
uint32_t printLibVersion();
// Prints the converter inventory.
void printDeviceList();
// Lists the converters; returns their number (0 when the listing fails).
int readDevices();
// Lists, opens and configures converter `index`; returns the index or -1.
int openDevice(int index);
// Returns the index on success, -1 when the open fails, 1 when the listing fails.
int openDeviceFTDI(int index);
// Lists the converters and opens and configures the one whose serial number
// is `serial`, as openDeviceFTDI does converter `index`. Returns its index,
// or -1: the listing or the open failed, or no converter has that serial
// number ("Error: no converter with serial number %s" then, and
// ftdi_unknownSerial() is true).
int openDeviceSerial(const char* serial);
// Whether the last open by serial number found no converter with it.
bool ftdi_unknownSerial();
// The last listing: how many converters, and the serial number of each
// (empty when it could not be read; null past the end).
int ftdi_listedCount();
const char* ftdi_listedSerial(int index);
// Whether the last open failed because the converter, though listed, is
// held by another program (another Tern, or the kernel's serial driver).
bool ftdi_heldElsewhere();
// Applies the line settings to the open converter; returns the last status,
// or `device` when none is open.
int setupFTParam();
void closeDevice();
int getOpenDevice();
// A break alone: 0x00 at 15625 baud, drained, then back to 250000 baud.
// Returns 0, or -1 when a rate change or the write failed, or the converter
// stopped answering during the drain.
int sendBreak();
// A break, then `count` bytes. Returns the number written, or -1 when no
// converter is open, the write fails, or the transmit queue never empties.
int sendData(const uint8_t* data, int count);
// Reads what has arrived into `buf` (zeroed first). Returns the count read,
// -1 when nothing is waiting or the read fails, -2 when no converter is open.
int getResponse(uint8_t* buf, int count);

// The drain gives up after this long (ms): far beyond the longest frame,
// which is on the wire in about 12 ms.
enum { FTDI_DRAIN_LIMIT_MS = 250 };
