// The port backend for real converters, through libftdi1. It bridges what
// libftdi1 does differently from D2XX:
//  - listing reads each converter's strings, which opens it (and needs the
//    permission the udev rule in data/ gives);
//  - ftdi_read_data neither waits nor reports a receive count, so reads go
//    through a read-ahead buffer: the receive count is its size after a
//    non-blocking fill, and a read loops until its count or the read timeout;
//  - ftdi_write_data returns once USB has handed the bytes to the chip, so
//    the transmit count is 0 only once the modem status says the
//    transmitter is empty (TEMT), and a baud switch never cuts a byte.
#include <libusb.h>
#include <ftdi.h>

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/port_backend.h"

namespace {

const unsigned short kModemTransmitterEmpty = 0x4000;  // line status TEMT
const unsigned char kLatencyMs = 1;  // the default 16 ms would hide answers
const int kReadAheadSize = 4096;

// D2XX device types, from the chip's bcdDevice.
DWORD chipType(uint16_t bcdDevice) {
  switch (bcdDevice >> 8) {
    case 0x04: return 0;  // FT232B
    case 0x05: return 4;  // FT2232C
    case 0x06: return 5;  // FT232R
    case 0x07: return 6;  // FT2232H
    case 0x08: return 7;  // FT4232H
    case 0x09: return 8;  // FT232H
    case 0x10: return 10; // FT-X
    default: return 3;    // unknown
  }
}

FT_STATUS statusOf(int rc) {
  if (rc >= 0) return FT_OK;
  switch (rc) {
    case -3:
      return FT_DEVICE_NOT_FOUND;
    case -4:
    case -8:
      return FT_DEVICE_NOT_OPENED;  // no permission (see data/ for the udev rule)
    case -5:
      return FT_DEVICE_NOT_OPENED;  // the kernel's serial driver holds the chip
    default:
      return FT_IO_ERROR;
  }
}

struct Port {
  ftdi_context* ctx = nullptr;
  ULONG readTimeoutMs = 0;
  unsigned char ahead[kReadAheadSize];
  int aheadLen = 0;
};

class LibftdiBackend : public PortBackend {
 public:
  DWORD port_libraryVersion() override {
    ftdi_version_info v = ftdi_get_library_version();
    return ((DWORD)v.major << 16) | ((DWORD)v.minor << 8) | (DWORD)v.micro;
  }

  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count) override {
    count = 0;
    ftdi_context* ctx = ftdi_new();
    if (!ctx) return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list* list = nullptr;
    int found = ftdi_usb_find_all(ctx, &list, 0, 0);
    if (found < 0) {
      fprintf(stderr, "libftdi: %s\n", ftdi_get_error_string(ctx));
      ftdi_free(ctx);
      return statusOf(found);
    }
    for (ftdi_device_list* d = list; d && count < capacity; d = d->next) describe(ctx, d->dev, out[count++]);
    ftdi_list_free(&list);
    ftdi_free(ctx);
    return FT_OK;
  }

  FT_STATUS port_open(const char* serial, FT_HANDLE* handle) override {
    ftdi_context* ctx = ftdi_new();
    if (!ctx) return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list* list = nullptr;
    int found = ftdi_usb_find_all(ctx, &list, 0, 0);
    libusb_device* match = nullptr;
    for (ftdi_device_list* d = found > 0 ? list : nullptr; d && !match; d = d->next) {
      char s[FT_SERIAL_LEN + 48] = {0};
      if (ftdi_usb_get_strings2(ctx, d->dev, nullptr, 0, nullptr, 0, s, sizeof s) == 0 &&
          strcmp(s, serial) == 0)
        match = d->dev;
    }
    ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    int rc = match ? ftdi_usb_open_dev(ctx, match) : -3;
    ftdi_list_free(&list);
    if (rc < 0) {
      if (match) fprintf(stderr, "libftdi: %s\n", ftdi_get_error_string(ctx));
      ftdi_free(ctx);
      return statusOf(rc);
    }
    ftdi_set_latency_timer(ctx, kLatencyMs);
    Port* p = new Port();
    p->ctx = ctx;
    *handle = p;
    return FT_OK;
  }

  FT_STATUS port_close(FT_HANDLE h) override {
    Port* p = (Port*)h;
    ftdi_usb_close(p->ctx);
    ftdi_free(p->ctx);
    delete p;
    return FT_OK;
  }

  FT_STATUS port_reset(FT_HANDLE h) override {
    Port* p = (Port*)h;
    p->aheadLen = 0;
    int rc = ftdi_usb_reset(p->ctx);
    if (rc >= 0) rc = ftdi_set_latency_timer(p->ctx, kLatencyMs);
    return statusOf(rc);
  }

  FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override {
    Port* p = (Port*)h;
    p->readTimeoutMs = readMs;
    // A write timeout of 0 means none in D2XX; keep libftdi's own then.
    if (writeMs) p->ctx->usb_write_timeout = (int)writeMs;
    return FT_OK;
  }

  FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) override {
    return statusOf(ftdi_set_baudrate(((Port*)h)->ctx, (int)baud));
  }

  FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                        UCHAR parity) override {
    ftdi_bits_type b = bits == 7 ? BITS_7 : BITS_8;
    ftdi_stopbits_type s = stop == 2 ? STOP_BIT_2 : STOP_BIT_1;
    ftdi_parity_type par = parity == 0 ? NONE : parity == 1 ? ODD : EVEN;
    return statusOf(ftdi_set_line_property(((Port*)h)->ctx, b, s, par));
  }

  FT_STATUS port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) override {
    int rc = ftdi_write_data(((Port*)h)->ctx, data, (int)n);
    if (rc < 0) return statusOf(rc);
    written = (DWORD)rc;
    return FT_OK;
  }

  FT_STATUS port_status(FT_HANDLE h, DWORD& rx, DWORD& tx, DWORD& event) override {
    Port* p = (Port*)h;
    int rc = fill(p);
    if (rc < 0) return statusOf(rc);
    unsigned short modem = 0;
    rc = ftdi_poll_modem_status(p->ctx, &modem);
    if (rc < 0) return statusOf(rc);
    rx = (DWORD)p->aheadLen;
    tx = (modem & kModemTransmitterEmpty) ? 0 : 1;
    event = 0;
    return FT_OK;
  }

  FT_STATUS port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) override {
    Port* p = (Port*)h;
    const uint64_t deadline = clock_nowUs() + (uint64_t)p->readTimeoutMs * 1000u;
    got = 0;
    for (;;) {
      got += take(p, buf + got, n - got);
      if (got >= n || clock_nowUs() >= deadline) break;
      int rc = fill(p);
      if (rc < 0) return statusOf(rc);
    }
    return FT_OK;
  }

 private:
  static void describe(ftdi_context* ctx, libusb_device* dev, PortDeviceInfo& info) {
    memset(&info, 0, sizeof info);
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(dev, &desc) == 0) {
      info.id = ((DWORD)desc.idVendor << 16) | desc.idProduct;
      info.type = chipType(desc.bcdDevice);
    }
    info.locId = ((DWORD)libusb_get_bus_number(dev) << 4) | libusb_get_port_number(dev);
    int rc = ftdi_usb_get_strings2(ctx, dev, nullptr, 0, info.description,
                                   sizeof info.description, info.serial, sizeof info.serial);
    if (rc == -4 || rc == -8)
      fprintf(stderr, "libftdi: no permission to open the converter; install the udev rule\n");
    else if (rc < 0)
      fprintf(stderr, "libftdi: %s\n", ftdi_get_error_string(ctx));
  }

  // Moves what the chip has received into the read-ahead buffer without
  // waiting for more.
  static int fill(Port* p) {
    int room = kReadAheadSize - p->aheadLen;
    if (room <= 0) return 0;
    int rc = ftdi_read_data(p->ctx, p->ahead + p->aheadLen, room);
    if (rc > 0) p->aheadLen += rc;
    return rc;
  }

  static DWORD take(Port* p, uint8_t* buf, DWORD n) {
    DWORD k = (DWORD)p->aheadLen < n ? (DWORD)p->aheadLen : n;
    memcpy(buf, p->ahead, k);
    memmove(p->ahead, p->ahead + k, p->aheadLen - k);
    p->aheadLen -= (int)k;
    return k;
  }
};

}  // namespace

PortBackend* libftdi_backend() {
  static LibftdiBackend backend;
  return &backend;
}
