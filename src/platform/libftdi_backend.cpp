// The port backend for real converters, through libftdi1. It bridges what
// libftdi1 does differently from D2XX:
//  - listing reads each converter's strings, which opens it (and needs the
//    permission the udev rule in data/ gives);
//  - a converter stays claimed from its first open until Tern is done with
//    it (libftdi_releaseAll, at exit) or it disappears: FT_Close only stops
//    using it, so the kernel's serial driver is not rebound after every
//    command (see libftdi_backend.h);
//  - the chip is read continuously by a background reader into a bounded
//    host queue (libftdi_reader.h, rx_queue.h): the receive count is the
//    queue's size and a read waits on it up to the read timeout;
//  - ftdi_write_data returns once USB has handed the bytes to the chip, so
//    the transmit count is 0 only once the modem status says the
//    transmitter is empty (TEMT), and a baud switch never cuts a byte;
//  - every failing call is reported by name with libftdi's own text, and
//    its code mapped to a D2XX status (libftdi_status.h);
//  - the inventory (FT_CreateDeviceInfoList) says of each converter whether
//    this process holds it, another program does, or the user may not open
//    it, without taking it from the kernel's serial driver.
#include "platform/libftdi_backend.h"

#include <libusb.h>
#include <ftdi.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/libftdi_reader.h"
#include "platform/libftdi_status.h"
#include "platform/port_backend.h"
#include "platform/rx_queue.h"

namespace {

const unsigned short kModemTransmitterEmpty = 0x4000;  // line status TEMT
const unsigned char kLatencyMs = 1;  // the default 16 ms would hide answers
const size_t kRxQueueBytes = 16384;  // 0.65 s of a busy line at 250000 baud
const int kMaxHeld = 8;              // converters held at once
const int kSerialCap = 64;
// D2XX's FT_FLAGS_OPENED: the converter is in use elsewhere or cannot be
// opened, so its strings are unknown.
const DWORD kFlagNotAccessible = 1;
const uint64_t kVirtualPollUs = 100;  // a read's wait on the virtual clock, per look

// Modem lines: DTR and RTS cleared, so their pins (active low) stay high.
// Converters of the Open DMX kind drive the RS-485 transmitter's enable from
// the RTS# pin and put the line on the air only while RTS is cleared;
// converters that switch direction on their own (TXDEN) ignore both lines.
// Cleared is also the chip's power-on state, which D2XX leaves alone, so a
// cable behaves as under D2XX. Set after every open and reset because the
// kernel's serial driver, or a program before us, may have asserted them.
const int kDtr = 0;
const int kRts = 0;

// One converter the backend holds. `ctx`, `open` and `serial` change only
// with both the table lock and `mu` held; a call on an open handle holds `mu`.
struct Converter {
  std::mutex mu;
  ftdi_context* ctx = nullptr;  // null: a free slot
  bool open = false;            // a handle is out
  bool broken = false;          // a call failed on USB: give it back at close
  bool quiet = false;           // failures are expected and handled: do not print them
  char serial[kSerialCap] = {0};
  uint8_t bus = 0, address = 0;  // where it sits on USB, to notice it left
  ULONG readTimeoutMs = 0;
  RxQueue rx{kRxQueueBytes};
  LibftdiReader reader;
};

// Prints a failed call's line on stderr; returns its D2XX status.
FT_STATUS check(ftdi_context* ctx, LibftdiCall call, int rc) {
  if (rc >= 0) return FT_OK;
  char line[400];
  fprintf(stderr, "%s\n",
          libftdi_errorLine(line, sizeof line, call, rc, ctx ? ftdi_get_error_string(ctx) : nullptr));
  return libftdi_status(call, rc);
}

// A failed call on a held converter: on USB trouble it is given back at close.
FT_STATUS checkHeld(Converter& c, LibftdiCall call, int rc) {
  FT_STATUS st = c.quiet ? libftdi_status(call, rc) : check(c.ctx, call, rc);
  if (st == FT_IO_ERROR) c.broken = true;
  return st;
}

class LibftdiBackend : public PortBackend {
 public:
  ~LibftdiBackend() override { releaseAll(); }

  void releaseAll() {
    std::lock_guard<std::mutex> table(tableMu);
    for (Converter& c : slots) {
      std::lock_guard<std::mutex> lock(c.mu);
      if (c.ctx) release(c);
    }
  }

  DWORD port_libraryVersion() override {
    ftdi_version_info v = ftdi_get_library_version();
    return ((DWORD)v.major << 16) | ((DWORD)v.minor << 8) | (DWORD)v.micro;
  }

  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count, bool probe) override {
    count = 0;
    ftdi_context* ctx = ftdi_new();
    if (!ctx) return check(nullptr, LIBFTDI_NEW, -1);
    ftdi_device_list* list = nullptr;
    int found = ftdi_usb_find_all(ctx, &list, 0, 0);
    if (found < 0) {
      FT_STATUS st = check(ctx, LIBFTDI_FIND_ALL, found);
      ftdi_free(ctx);
      return st;
    }
    std::lock_guard<std::mutex> table(tableMu);
    forgetDeparted(list);
    for (ftdi_device_list* d = list; d && count < capacity; d = d->next) {
      PortDeviceInfo& info = out[count++];
      describe(ctx, d->dev, info);
      if (held(d->dev))
        info.state = PORT_STATE_HERE;
      else if (probe && info.state == PORT_STATE_FREE)
        info.state = probeState(d->dev);
    }
    ftdi_list_free(&list);
    ftdi_free(ctx);
    return FT_OK;
  }

  FT_STATUS port_open(const char* serial, FT_HANDLE* handle) override {
    std::lock_guard<std::mutex> table(tableMu);
    if (Converter* held = findHeld(serial)) {
      std::lock_guard<std::mutex> lock(held->mu);
      if (held->open) {
        fprintf(stderr, "libftdi: converter %s is already open\n", serial);
        return FT_DEVICE_NOT_OPENED;
      }
      // Replugged while idle, its old USB handle is dead: then claim it afresh.
      held->quiet = true;
      FT_STATUS st = startSession(*held);
      held->quiet = false;
      if (st == FT_OK) {
        *handle = held;
        return FT_OK;
      }
      held->broken = true;
      release(*held);
    }
    Converter* c = freeSlot();
    if (!c) return FT_INSUFFICIENT_RESOURCES;
    std::lock_guard<std::mutex> lock(c->mu);
    FT_STATUS st = claim(*c, serial);
    if (st == FT_OK) st = startSession(*c);
    if (st != FT_OK) {
      release(*c);
      return st;
    }
    *handle = c;
    return FT_OK;
  }

  FT_STATUS port_close(FT_HANDLE h) override {
    std::lock_guard<std::mutex> table(tableMu);
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    endSession(*c);
    int failure = 0;
    c->rx.rxq_size(failure);
    if (c->broken || failure) release(*c);
    return FT_OK;
  }

  FT_STATUS port_reset(FT_HANDLE h) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    c->reader.reader_stop();
    reportLosses(*c);
    FT_STATUS st = checkHeld(*c, LIBFTDI_RESET, ftdi_usb_reset(c->ctx));
    if (st == FT_OK) st = configure(*c);
    if (st == FT_OK) st = startReader(*c);
    if (st != FT_OK) c->rx.rxq_fail((int)st);  // reads and status queries fail too
    return st;
  }

  FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    c->readTimeoutMs = readMs;
    // A write timeout of 0 means none in D2XX; keep libftdi's own then.
    if (writeMs) c->ctx->usb_write_timeout = writeMs > INT_MAX ? INT_MAX : (int)writeMs;
    return FT_OK;
  }

  FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    if (baud > INT_MAX) return FT_INVALID_BAUD_RATE;
    return checkHeld(*c, LIBFTDI_BAUD_RATE, ftdi_set_baudrate(c->ctx, (int)baud));
  }

  FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                        UCHAR parity) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    int b = 0, s = 0, p = 0;
    if (!libftdi_lineProperty(bits, stop, parity, b, s, p)) return FT_INVALID_PARAMETER;
    return checkHeld(*c, LIBFTDI_LINE_PROPERTY,
                     ftdi_set_line_property(c->ctx, (ftdi_bits_type)b, (ftdi_stopbits_type)s,
                                            (ftdi_parity_type)p));
  }

  FT_STATUS port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    if (n > INT_MAX) return FT_INVALID_PARAMETER;
    int rc = n ? ftdi_write_data(c->ctx, data, (int)n) : 0;
    FT_STATUS st = checkHeld(*c, LIBFTDI_WRITE, rc);
    if (st == FT_OK) written = (DWORD)rc;
    return st;
  }

  FT_STATUS port_status(FT_HANDLE h, DWORD& rx, DWORD& tx, DWORD& event) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    int failure = 0;
    c->rx.rxq_size(failure);
    if (failure) return (FT_STATUS)failure;  // the reader has said why
    unsigned short modem = 0;
    FT_STATUS st = checkHeld(*c, LIBFTDI_MODEM_STATUS, ftdi_poll_modem_status(c->ctx, &modem));
    if (st != FT_OK) return st;
    size_t queued = c->rx.rxq_size(failure);
    if (failure) return (FT_STATUS)failure;
    rx = (DWORD)queued;
    tx = (modem & kModemTransmitterEmpty) ? 0 : 1;
    event = 0;
    return FT_OK;
  }

  FT_STATUS port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) override {
    Converter* c = lookup(h);
    if (!c) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(c->mu);
    if (!c->open) return FT_INVALID_HANDLE;
    // A read timeout of 0 takes what is queued without waiting: D2XX would
    // wait for the whole count without end, which no caller here wants.
    uint64_t waitUs = (uint64_t)c->readTimeoutMs * 1000u;
    if (clock_isVirtual()) {
      awaitVirtual(*c, n, waitUs);
      waitUs = 0;
    }
    size_t taken = 0;
    int failure = c->rx.rxq_take(buf, n, waitUs, taken);
    got = (DWORD)taken;
    return failure ? (FT_STATUS)failure : FT_OK;
  }

  void port_releaseIdle() override {
    std::lock_guard<std::mutex> table(tableMu);
    for (Converter& c : slots) {
      std::lock_guard<std::mutex> lock(c.mu);
      if (c.ctx && !c.open) release(c);
    }
  }

 private:
  Converter* lookup(FT_HANDLE h) {
    for (Converter& c : slots)
      if (h == &c) return &c;
    return nullptr;
  }

  // The queue waits on the real clock. On the virtual clock (a model chip
  // in tests) the reader delivers in virtual time, so a read waits for its
  // count there, looking every kVirtualPollUs.
  static void awaitVirtual(Converter& c, size_t n, uint64_t timeoutUs) {
    const uint64_t end = clock_nowUs() + timeoutUs;
    for (;;) {
      int failure = 0;
      if (c.rx.rxq_size(failure) >= n || failure) return;
      const uint64_t now = clock_nowUs();
      if (now >= end) return;
      clock_sleepUs(end - now < kVirtualPollUs ? end - now : kVirtualPollUs);
    }
  }

  // Whether this backend holds the converter at `dev`. With the table lock.
  bool held(libusb_device* dev) {
    for (Converter& c : slots)
      if (c.ctx && libusb_get_bus_number(dev) == c.bus && libusb_get_device_address(dev) == c.address)
        return true;
    return false;
  }

  // Whether another program holds a converter this process does not: a
  // kernel driver bound to it (ftdi_sio) is let go when Tern opens it, so
  // the converter counts as free; with none bound, claiming its interface
  // tells whether a program holds it through usbfs, and is undone at once
  // (without a kernel driver, nothing is bound again).
  static DWORD probeState(libusb_device* dev) {
    libusb_device_handle* h = nullptr;
    const int rc = libusb_open(dev, &h);
    if (rc == LIBUSB_ERROR_ACCESS) return PORT_STATE_NO_PERMISSION;
    if (rc < 0) return PORT_STATE_IN_USE;
    DWORD state = PORT_STATE_FREE;
    if (libusb_kernel_driver_active(h, 0) == 0) {
      const int claim = libusb_claim_interface(h, 0);
      if (claim == 0)
        libusb_release_interface(h, 0);
      else if (claim == LIBUSB_ERROR_BUSY)
        state = PORT_STATE_IN_USE;
    }
    libusb_close(h);
    return state;
  }

  // With the table lock held.
  Converter* findHeld(const char* serial) {
    for (Converter& c : slots)
      if (c.ctx && strcmp(c.serial, serial) == 0) return &c;
    return nullptr;
  }

  // A free slot, giving back an idle held converter when none is free. With
  // the table lock held.
  Converter* freeSlot() {
    for (Converter& c : slots)
      if (!c.ctx) return &c;
    for (Converter& c : slots) {
      std::lock_guard<std::mutex> lock(c.mu);
      if (!c.open) {
        release(c);
        return &c;
      }
    }
    return nullptr;
  }

  // Gives back idle converters that are no longer on USB. With the table lock.
  void forgetDeparted(ftdi_device_list* list) {
    for (Converter& c : slots) {
      std::lock_guard<std::mutex> lock(c.mu);
      if (!c.ctx || c.open) continue;
      bool present = false;
      for (ftdi_device_list* d = list; d && !present; d = d->next)
        present = libusb_get_bus_number(d->dev) == c.bus &&
                  libusb_get_device_address(d->dev) == c.address;
      if (!present) {
        c.broken = true;  // nothing left to give back to
        release(c);
      }
    }
  }

  // Finds the converter with this serial number and claims it: the kernel's
  // serial driver is detached now and bound again by ftdi_usb_close.
  FT_STATUS claim(Converter& c, const char* serial) {
    c.ctx = ftdi_new();
    if (!c.ctx) return check(nullptr, LIBFTDI_NEW, -1);
    ftdi_device_list* list = nullptr;
    int found = ftdi_usb_find_all(c.ctx, &list, 0, 0);
    if (found < 0) return check(c.ctx, LIBFTDI_FIND_ALL, found);
    libusb_device* match = nullptr;
    for (ftdi_device_list* d = list; d && !match; d = d->next) {
      char s[kSerialCap] = {0};
      int rc = ftdi_usb_get_strings2(c.ctx, d->dev, nullptr, 0, nullptr, 0, s, sizeof s);
      if (rc < 0)
        check(c.ctx, LIBFTDI_GET_STRINGS, rc);
      else if (strcmp(s, serial) == 0)
        match = d->dev;
    }
    FT_STATUS st = FT_DEVICE_NOT_FOUND;
    if (match) {
      c.ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
      st = check(c.ctx, LIBFTDI_OPEN_DEV, ftdi_usb_open_dev(c.ctx, match));
      c.bus = libusb_get_bus_number(match);
      c.address = libusb_get_device_address(match);
    } else {
      fprintf(stderr, "libftdi: no converter with serial number \"%s\"\n", serial);
    }
    ftdi_list_free(&list);
    if (st == FT_OK) snprintf(c.serial, sizeof c.serial, "%s", serial);
    return st;
  }

  // Flow control off, modem lines, latency timer, both chip buffers purged.
  FT_STATUS configure(Converter& c) {
    FT_STATUS st = checkHeld(c, LIBFTDI_LATENCY, ftdi_set_latency_timer(c.ctx, kLatencyMs));
    if (st == FT_OK)
      st = checkHeld(c, LIBFTDI_FLOW_CONTROL, ftdi_setflowctrl(c.ctx, SIO_DISABLE_FLOW_CTRL));
    if (st == FT_OK) st = checkHeld(c, LIBFTDI_DTR_RTS, ftdi_setdtr_rts(c.ctx, kDtr, kRts));
    if (st == FT_OK) st = checkHeld(c, LIBFTDI_FLUSH, ftdi_tcioflush(c.ctx));
    return st;
  }

  FT_STATUS startReader(Converter& c) {
    c.rx.rxq_reset();
    if (c.reader.reader_start(c.ctx->usb_dev, (unsigned char)c.ctx->out_ep,
                              (int)c.ctx->max_packet_size, &c.rx))
      return FT_OK;
    fprintf(stderr, "libftdi: cannot start the receive thread\n");
    return FT_INSUFFICIENT_RESOURCES;
  }

  // Hands out a held converter: configured, purged, read in the background.
  FT_STATUS startSession(Converter& c) {
    c.broken = false;
    c.readTimeoutMs = 0;
    FT_STATUS st = configure(c);
    if (st == FT_OK) st = startReader(c);
    c.open = st == FT_OK;
    return st;
  }

  // FT_Close: stop reading and drop what was received; the converter stays
  // claimed for the next open.
  void endSession(Converter& c) {
    c.reader.reader_stop();
    reportLosses(c);
    c.rx.rxq_clear();
    c.open = false;
  }

  static void reportLosses(Converter& c) {
    uint64_t dropped = c.rx.rxq_dropped();
    uint32_t overruns = c.reader.reader_overruns();
    if (dropped || overruns)
      fprintf(stderr,
              "libftdi: converter %s lost received bytes: %llu dropped (host queue of %zu bytes "
              "full), %u chip buffer overruns\n",
              c.serial, (unsigned long long)dropped, c.rx.rxq_capacity(), overruns);
  }

  // Gives the converter back: interface released, serial driver bound again.
  static void release(Converter& c) {
    c.reader.reader_stop();
    if (c.ctx) {
      int rc = ftdi_usb_close(c.ctx);
      if (!c.broken) check(c.ctx, LIBFTDI_CLOSE, rc);
      ftdi_free(c.ctx);
    }
    c.ctx = nullptr;
    c.open = false;
    c.broken = false;
    c.serial[0] = 0;
    c.bus = c.address = 0;
    c.rx.rxq_reset();
  }

  static void describe(ftdi_context* ctx, libusb_device* dev, PortDeviceInfo& info) {
    memset(&info, 0, sizeof info);
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(dev, &desc) == 0) {
      info.id = ((DWORD)desc.idVendor << 16) | desc.idProduct;
      info.type = libftdi_chipType(desc.bcdDevice, desc.iSerialNumber != 0);
    } else {
      info.type = LIBFTDI_TYPE_UNKNOWN;
    }
    info.locId = ((DWORD)libusb_get_bus_number(dev) << 4) | libusb_get_port_number(dev);
    // Reading the strings opens the converter: when that fails it is listed
    // as D2XX lists a converter it cannot open, flagged and without strings.
    // libusb_open fails (-4) for want of permission; anything else keeps it
    // from us as another program would.
    const int rc = ftdi_usb_get_strings2(ctx, dev, nullptr, 0, info.description,
                                         sizeof info.description, info.serial, sizeof info.serial);
    info.state = PORT_STATE_FREE;
    if (check(ctx, LIBFTDI_GET_STRINGS, rc) != FT_OK) {
      info.flags |= kFlagNotAccessible;
      info.serial[0] = info.description[0] = 0;
      info.state = rc == -4 ? PORT_STATE_NO_PERMISSION : PORT_STATE_IN_USE;
    }
  }

  std::mutex tableMu;
  Converter slots[kMaxHeld];
};

LibftdiBackend& theBackend() {
  static LibftdiBackend backend;
  return backend;
}

}  // namespace

PortBackend* libftdi_backend() { return &theBackend(); }

void libftdi_releaseAll() { theBackend().releaseAll(); }
