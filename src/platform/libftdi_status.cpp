#include "platform/libftdi_status.h"

#include <ftdi.h>

#include <cstdio>

namespace {

const char* const kCallNames[LIBFTDI_CALL_COUNT] = {
    "ftdi_new",          "ftdi_usb_find_all",      "ftdi_usb_get_strings2",
    "ftdi_usb_open_dev", "ftdi_usb_close",         "ftdi_usb_reset",
    "ftdi_tcioflush",    "ftdi_set_latency_timer", "ftdi_setflowctrl",
    "ftdi_setdtr_rts",   "ftdi_set_baudrate",      "ftdi_set_line_property",
    "ftdi_write_data",   "ftdi_poll_modem_status", "libusb_bulk_transfer",
};

const int kLibusbNoDevice = -4;  // LIBUSB_ERROR_NO_DEVICE
const UCHAR kD2xxStopBits15 = 1;  // FT_STOP_BITS_1_5 of D2XX

const char* const kNoPermission =
    "no permission on the USB device: install the tern package (or copy "
    "data/70-tern-ftdi.rules into /etc/udev/rules.d/) and replug the cable";
const char* const kHeld =
    "another program or the kernel's ftdi_sio driver holds the converter: close the other "
    "program, or unload the driver (sudo rmmod ftdi_sio)";
const char* const kUnplugged = "the converter was unplugged";

// The codes of ftdi_usb_open_dev (libftdi1 1.5): -3 set configuration, -4
// libusb_open, -5 claim interface, -6 reset, -7 baud rate, -8 permission
// (or no context), -9/-10/-12 descriptors, -11 kernel driver detach.
FT_STATUS openDevStatus(int rc) {
  switch (rc) {
    case -3: case -4: case -5: case -8: case -11:
      return FT_DEVICE_NOT_OPENED;
    default:
      return FT_IO_ERROR;
  }
}

}  // namespace

const char* libftdi_callName(LibftdiCall call) {
  return call >= 0 && call < LIBFTDI_CALL_COUNT ? kCallNames[call] : "libftdi";
}

FT_STATUS libftdi_status(LibftdiCall call, int rc) {
  if (rc >= 0) return FT_OK;
  switch (call) {
    case LIBFTDI_NEW:
      return FT_INSUFFICIENT_RESOURCES;
    case LIBFTDI_FIND_ALL:  // -3 out of memory, -5 device list, -6 descriptor
      return rc == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
    case LIBFTDI_GET_STRINGS:  // -1 arguments, -4 libusb_open, -7..-9 strings, -11 descriptor
      return rc == -1 ? FT_INVALID_PARAMETER : rc == -4 ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
    case LIBFTDI_OPEN_DEV:
      return openDevStatus(rc);
    case LIBFTDI_CLOSE:  // -1 release interface, -3 no context
      return rc == -3 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_RESET:         // -1 control transfer, -2 no device open
    case LIBFTDI_FLOW_CONTROL:  // the same two codes
    case LIBFTDI_DTR_RTS:
    case LIBFTDI_MODEM_STATUS:
    case LIBFTDI_LINE_PROPERTY:
      return rc == -2 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_FLUSH:  // -1 read purge, -2 write purge, -3 no device open
      return rc == -3 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_LATENCY:  // -1 out of range, -2 control transfer, -3 no device open
      return rc == -1 ? FT_INVALID_PARAMETER : rc == -3 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_BAUD_RATE:  // -1 rate not reachable, -2 control transfer, -3 no device open
      return rc == -1 ? FT_INVALID_BAUD_RATE : rc == -3 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_WRITE:  // -666 no device open, else the bulk transfer failed
      return rc == -666 ? FT_INVALID_HANDLE : FT_IO_ERROR;
    case LIBFTDI_BULK_READ:  // libusb error codes
    default:
      return FT_IO_ERROR;
  }
}

const char* libftdi_hint(LibftdiCall call, int rc) {
  switch (call) {
    case LIBFTDI_GET_STRINGS:
      return rc == -4 ? kNoPermission : nullptr;
    case LIBFTDI_OPEN_DEV:
      if (rc == -4 || rc == -8) return kNoPermission;
      if (rc == -3 || rc == -5 || rc == -11) return kHeld;
      return nullptr;
    case LIBFTDI_BULK_READ:
      return rc == kLibusbNoDevice ? kUnplugged : nullptr;
    default:
      return nullptr;
  }
}

char* libftdi_errorLine(char* out, size_t cap, LibftdiCall call, int rc, const char* text) {
  if (cap == 0) return out;
  const char* hint = libftdi_hint(call, rc);
  snprintf(out, cap, "%s: %s: %s (%d)%s%s", call == LIBFTDI_BULK_READ ? "libusb" : "libftdi",
           libftdi_callName(call), text && *text ? text : "failed", rc, hint ? "; " : "",
           hint ? hint : "");
  return out;
}

DWORD libftdi_chipType(uint16_t bcdDevice, bool hasSerial) {
  switch (bcdDevice >> 8) {
    case 0x02: return hasSerial ? LIBFTDI_TYPE_AM : LIBFTDI_TYPE_BM;
    case 0x04: return LIBFTDI_TYPE_BM;
    case 0x05: return LIBFTDI_TYPE_2232C;
    case 0x06: return LIBFTDI_TYPE_232R;
    case 0x07: return LIBFTDI_TYPE_2232H;
    case 0x08: return LIBFTDI_TYPE_4232H;
    case 0x09: return LIBFTDI_TYPE_232H;
    case 0x10: return LIBFTDI_TYPE_X_SERIES;
    default: return LIBFTDI_TYPE_UNKNOWN;
  }
}

bool libftdi_lineProperty(UCHAR bits, UCHAR stop, UCHAR parity, int& ftdiBits, int& ftdiStop,
                          int& ftdiParity) {
  static const ftdi_parity_type kParity[] = {NONE, ODD, EVEN, MARK, SPACE};  // D2XX 0..4
  if (bits != FT_BITS_7 && bits != FT_BITS_8) return false;
  if (stop != FT_STOP_BITS_1 && stop != kD2xxStopBits15 && stop != FT_STOP_BITS_2) return false;
  if (parity >= sizeof kParity / sizeof kParity[0]) return false;
  ftdiBits = bits == FT_BITS_7 ? BITS_7 : BITS_8;
  ftdiStop = stop == FT_STOP_BITS_2 ? STOP_BIT_2 : stop == kD2xxStopBits15 ? STOP_BIT_15 : STOP_BIT_1;
  ftdiParity = kParity[parity];
  return true;
}
