// What the libftdi1 backend tells its callers: each libftdi1 (and libusb)
// call's return code on the D2XX status scale of ftd2xx.h, the error line
// naming the call that failed, the chip type as D2XX numbers it, and the
// D2XX line characteristics in libftdi1's terms. Pure functions, no USB.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ftd2xx.h"

// The calls the backend makes. Each gives its own meaning to -1..-n.
enum LibftdiCall {
  LIBFTDI_NEW,            // ftdi_new (null: -1)
  LIBFTDI_FIND_ALL,       // ftdi_usb_find_all
  LIBFTDI_GET_STRINGS,    // ftdi_usb_get_strings2
  LIBFTDI_OPEN_DEV,       // ftdi_usb_open_dev
  LIBFTDI_CLOSE,          // ftdi_usb_close
  LIBFTDI_RESET,          // ftdi_usb_reset
  LIBFTDI_FLUSH,          // ftdi_tcioflush
  LIBFTDI_LATENCY,        // ftdi_set_latency_timer
  LIBFTDI_FLOW_CONTROL,   // ftdi_setflowctrl
  LIBFTDI_DTR_RTS,        // ftdi_setdtr_rts
  LIBFTDI_BAUD_RATE,      // ftdi_set_baudrate
  LIBFTDI_LINE_PROPERTY,  // ftdi_set_line_property
  LIBFTDI_WRITE,          // ftdi_write_data
  LIBFTDI_MODEM_STATUS,   // ftdi_poll_modem_status
  LIBFTDI_BULK_READ,      // libusb_bulk_transfer of the background reader (libusb codes)
  LIBFTDI_CALL_COUNT
};

// The function's name as the libraries spell it.
const char* libftdi_callName(LibftdiCall call);
// FT_OK for rc >= 0, else the D2XX status that this call's code means.
FT_STATUS libftdi_status(LibftdiCall call, int rc);
// What the operator can do about this failure, or null when nothing
// specific helps (permission, the kernel's serial driver, an unplugged cable).
const char* libftdi_hint(LibftdiCall call, int rc);
// Writes "libftdi: <call>: <text> (<rc>)", or "libusb: ..." for the reader's
// libusb call, followed by "; <hint>" when there is one. `text` is the
// library's own error string (may be null). Returns `out`.
char* libftdi_errorLine(char* out, size_t cap, LibftdiCall call, int rc, const char* text);

// D2XX device types (FT_DEVICE_*).
enum : DWORD {
  LIBFTDI_TYPE_BM = 0,
  LIBFTDI_TYPE_AM = 1,
  LIBFTDI_TYPE_100AX = 2,
  LIBFTDI_TYPE_UNKNOWN = 3,
  LIBFTDI_TYPE_2232C = 4,
  LIBFTDI_TYPE_232R = 5,
  LIBFTDI_TYPE_2232H = 6,
  LIBFTDI_TYPE_4232H = 7,
  LIBFTDI_TYPE_232H = 8,
  LIBFTDI_TYPE_X_SERIES = 9,
};

// The D2XX device type of a chip from its USB bcdDevice. A BM chip with an
// unprogrammed serial number reports 0x0200 like an AM: `hasSerial` (the
// descriptor's iSerialNumber is not 0) tells them apart.
DWORD libftdi_chipType(uint16_t bcdDevice, bool hasSerial);

// D2XX line characteristics (FT_BITS_*, FT_STOP_BITS_*, FT_PARITY_*) in
// libftdi1's enums (ftdi_bits_type, ftdi_stopbits_type, ftdi_parity_type, as
// ints). False for a value D2XX does not define.
bool libftdi_lineProperty(UCHAR bits, UCHAR stop, UCHAR parity, int& ftdiBits, int& ftdiStop,
                          int& ftdiParity);
