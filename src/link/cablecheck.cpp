#include "link/cablecheck.h"

#include <cstdlib>
#include <cstring>

#include "link/cables.h"
#include "link/ftdi_port.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "protocol/packet_structures.h"

namespace {

const uint64_t kDrainPollUs = 200;    // fine enough to time the transmitter
const uint64_t kListenPollUs = 1000;
const int kShownBytes = 64;           // received bytes printed
const int kReadChunk = 256;
// D2XX's FT_FLAGS_OPENED: the converter is in use elsewhere or could not be
// opened, so its serial number and description are unknown.
const DWORD kFlagNotAccessible = 1;

// One run: where it prints and how many steps failed.
struct Run {
  FILE* out;
  int failed;
};

const char* statusName(FT_STATUS st) {
  switch (st) {
    case FT_OK: return "FT_OK";
    case FT_INVALID_HANDLE: return "FT_INVALID_HANDLE";
    case FT_DEVICE_NOT_FOUND: return "FT_DEVICE_NOT_FOUND";
    case FT_DEVICE_NOT_OPENED: return "FT_DEVICE_NOT_OPENED";
    case FT_IO_ERROR: return "FT_IO_ERROR";
    case FT_INSUFFICIENT_RESOURCES: return "FT_INSUFFICIENT_RESOURCES";
    case FT_INVALID_PARAMETER: return "FT_INVALID_PARAMETER";
    case FT_INVALID_BAUD_RATE: return "FT_INVALID_BAUD_RATE";
    case FT_OTHER_ERROR: return "FT_OTHER_ERROR";
    default: return "FT_STATUS";
  }
}

// D2XX device types.
const char* typeName(DWORD type) {
  static const char* const kNames[] = {"FT232BM", "FT232AM", "FT100AX", "unknown", "FT2232C",
                                       "FT232R",  "FT2232H", "FT4232H", "FT232H",  "FT-X series"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "unknown";
}

// Prints one step: its call, status, duration since `startUs` and a detail.
bool report(Run& r, const char* call, FT_STATUS st, bool ok, uint64_t startUs, const char* detail) {
  const double ms = (double)(clock_nowUs() - startUs) / 1000.0;
  char status[48];
  snprintf(status, sizeof status, "%s (%u)", statusName(st), (unsigned)st);
  fprintf(r.out, "%-4s %-38s %-28s %9.3f ms%s%s\n", ok ? "ok" : "FAIL", call, status, ms,
          detail && *detail ? "  " : "", detail ? detail : "");
  fflush(r.out);
  if (!ok) r.failed++;
  return ok;
}

bool step(Run& r, const char* call, FT_STATUS st, uint64_t startUs, const char* detail = "") {
  return report(r, call, st, st == FT_OK, startUs, detail);
}

// Appends `n` bytes as hex to `text`, at most `shown` of them.
void appendHex(char* text, size_t cap, const uint8_t* bytes, int n, int shown) {
  size_t len = strlen(text);
  for (int i = 0; i < n && i < shown && len + 4 < cap; i++)
    len += (size_t)snprintf(text + len, cap - len, "%s%02X", i ? " " : "", bytes[i]);
  if (n > shown && len + 5 < cap) snprintf(text + len, cap - len, " ...");
}

void printNoConverter(FILE* out) {
  fputs(
      "No converter found. What to check:\n"
      "  - Is the cable plugged in? `lsusb -d 0403:` lists the FTDI chips the system sees;\n"
      "    only the product IDs 6001, 6010, 6011, 6014 and 6015 are looked for.\n"
      "  - Permission: a converter that cannot be opened makes libftdi print -4 (unable to\n"
      "    open device) or -8 (inappropriate permissions) on standard error. Install the\n"
      "    tern package (or copy data/70-tern-ftdi.rules into /etc/udev/rules.d/) and\n"
      "    replug the cable.\n"
      "  - The kernel's serial driver: -5 (unable to claim usb device) means ftdi_sio or\n"
      "    another program holds the converter; close that program, or run\n"
      "    `sudo rmmod ftdi_sio`.\n"
      "  - In a container or virtual machine, the USB device must be passed through.\n",
      out);
}

void printOpenAdvice(FILE* out) {
  fputs(
      "The converter is listed but cannot be opened. The libftdi line on standard error\n"
      "names the call that failed: -4 or -8 is a missing permission (install the tern\n"
      "package, or copy data/70-tern-ftdi.rules into /etc/udev/rules.d/, and replug the\n"
      "cable), -5 means ftdi_sio or another program (another Tern?) holds the\n"
      "converter.\n",
      out);
}

// A converter as the listing found it.
struct Listed {
  char serial[FT_SERIAL_LEN];
  DWORD flags;
};

// Lists the converters into `found` (at most FT_MAX_DEVICES). Returns the
// count, or -1 when the listing failed.
int listConverters(Run& r, Listed* found) {
  DWORD count = 0;
  uint64_t t0 = clock_nowUs();
  FT_STATUS st = FT_CreateDeviceInfoList(&count);
  char detail[160];
  snprintf(detail, sizeof detail, "%u converter%s", (unsigned)count, count == 1 ? "" : "s");
  if (!step(r, "FT_CreateDeviceInfoList", st, t0, st == FT_OK ? detail : "")) return -1;
  for (DWORD i = 0; i < count; i++) {
    DWORD flags = 0, type = 0, id = 0, loc = 0;
    char s[FT_SERIAL_LEN] = {0};
    char description[FT_DESCRIPTION_LEN] = {0};
    t0 = clock_nowUs();
    st = FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc, s, description, nullptr);
    DWORD state = PORT_STATE_FREE;
    ftd2xx_deviceState(i, &state);
    char call[48];
    snprintf(call, sizeof call, "FT_GetDeviceInfoDetail(%u)", (unsigned)i);
    snprintf(detail, sizeof detail, "type %u %s, ID 0x%08X, LocId 0x%X, serial \"%s\", \"%s\"%s%s",
             (unsigned)type, typeName(type), (unsigned)id, (unsigned)loc, s, description,
             flags & kFlagNotAccessible ? ", cannot be opened" : "",
             state == PORT_STATE_IN_USE ? ", in use by another program" : "");
    step(r, call, st, t0, st == FT_OK ? detail : "");
    if (i < FT_MAX_DEVICES) {
      snprintf(found[i].serial, sizeof found[i].serial, "%s", s);
      found[i].flags = flags;
    }
  }
  return count < FT_MAX_DEVICES ? (int)count : FT_MAX_DEVICES;
}

// The converter to check: the one with serial number `cable`, or the first.
// -1 (and the serial numbers attached said) when none has it.
int pickConverter(FILE* out, const Listed* found, int count, const std::string& cable) {
  if (cable.empty()) return 0;
  for (int i = 0; i < count; i++)
    if (cable == found[i].serial) return i;
  fprintf(out, "No converter has the serial number %s. Attached:", cable.c_str());
  for (int i = 0; i < count; i++)
    fprintf(out, "%s %s", i ? "," : "", found[i].serial[0] ? found[i].serial : "(cannot be read)");
  fputs(".\n", out);
  return -1;
}

bool setBaud(Run& r, FT_HANDLE h, ULONG baud, const char* why) {
  char call[48];
  snprintf(call, sizeof call, "FT_SetBaudRate(%u)", (unsigned)baud);
  uint64_t t0 = clock_nowUs();
  return step(r, call, FT_SetBaudRate(h, baud), t0, why);
}

bool writeBytes(Run& r, FT_HANDLE h, const uint8_t* data, DWORD n) {
  DWORD written = 0;
  uint64_t t0 = clock_nowUs();
  FT_STATUS st = FT_Write(h, (LPVOID)data, n, &written);
  char call[48];
  snprintf(call, sizeof call, "FT_Write(%u byte%s)", (unsigned)n, n == 1 ? "" : "s");
  char detail[160];
  snprintf(detail, sizeof detail, "%u written: ", (unsigned)written);
  appendHex(detail, sizeof detail, data, (int)n, 32);
  return report(r, call, st, st == FT_OK && written == n, t0, detail);
}

// Queries the status until the transmit count is 0, as every send does
// before it switches the rate or returns.
bool drain(Run& r, FT_HANDLE h) {
  const uint64_t t0 = clock_nowUs();
  const uint64_t limit = t0 + (uint64_t)FTDI_DRAIN_LIMIT_MS * 1000u;
  DWORD rx = 0, tx = 1, ev = 0;
  int queries = 0;
  FT_STATUS st = FT_OK;
  for (;;) {
    st = FT_GetStatus(h, &rx, &tx, &ev);
    queries++;
    if (st != FT_OK || tx == 0 || clock_nowUs() >= limit) break;
    clock_sleepUs(kDrainPollUs);
  }
  char detail[120];
  if (st == FT_OK && tx != 0)
    snprintf(detail, sizeof detail, "transmit count still %u after %d ms: nothing leaves the converter",
             (unsigned)tx, FTDI_DRAIN_LIMIT_MS);
  else
    snprintf(detail, sizeof detail, "transmitter empty after %d status quer%s", queries,
             queries == 1 ? "y" : "ies");
  return report(r, "drain: FT_GetStatus until tx is 0", st, st == FT_OK && tx == 0, t0,
                st == FT_OK ? detail : "");
}

// A break (0x00 at 15625 baud, drained), the rate back to 250000, then the
// frame, drained: what every send of Tern puts on the line.
bool sendFrame(Run& r, FT_HANDLE h, const Packet& p, const char* name) {
  fprintf(r.out, "-- %s: a break, then %d bytes\n", name, packet_frameSize(&p));
  const uint8_t zero = 0;
  return setBaud(r, h, FTDI_BREAK_BAUD, "the break rate") && writeBytes(r, h, &zero, 1) &&
         drain(r, h) && setBaud(r, h, FTDI_DMX_BAUD, "the DMX rate") &&
         writeBytes(r, h, packet_bytes(&p), (DWORD)packet_frameSize(&p)) && drain(r, h);
}

Packet discoveryFrame(const uint8_t* payload, int n) {
  Packet p;
  memset(&p, 0, sizeof p);
  packet_fillHeader(&p, PACKET_BROADCAST);
  packet_fillData(&p, payload, n);
  packet_fillCrc(&p);
  return p;
}

// Reads whatever arrives for `ms` milliseconds; prints the bytes.
int listen(Run& r, FT_HANDLE h, int ms) {
  const uint64_t t0 = clock_nowUs();
  const uint64_t end = t0 + (uint64_t)ms * 1000u;
  uint8_t shown[kShownBytes];
  int total = 0;
  FT_STATUS st = FT_OK;
  while (clock_nowUs() < end) {
    DWORD rx = 0, tx = 0, ev = 0;
    st = FT_GetStatus(h, &rx, &tx, &ev);
    if (st != FT_OK) break;
    if (rx == 0) {
      clock_sleepUs(kListenPollUs);
      continue;
    }
    uint8_t buf[kReadChunk];
    DWORD got = 0;
    st = FT_Read(h, buf, rx < (DWORD)kReadChunk ? rx : (DWORD)kReadChunk, &got);
    if (st != FT_OK) break;
    for (DWORD i = 0; i < got; i++, total++)
      if (total < kShownBytes) shown[total] = buf[i];
  }
  char call[48];
  snprintf(call, sizeof call, "FT_GetStatus/FT_Read for %d ms", ms);
  char detail[64];
  snprintf(detail, sizeof detail, "%d byte%s received", total, total == 1 ? "" : "s");
  step(r, call, st, t0, detail);
  if (total > 0) {
    char hex[kShownBytes * 3 + 8] = "";
    appendHex(hex, sizeof hex, shown, total, kShownBytes);
    fprintf(r.out, "     received: %s\n", hex);
  }
  return total;
}

// Everything after the open: configure, two frames, listen. Returns the
// bytes received, or -1 when a step failed.
int exercise(Run& r, FT_HANDLE h, int listenMs) {
  uint64_t t0 = clock_nowUs();
  if (!step(r, "FT_ResetDevice", FT_ResetDevice(h), t0)) return -1;
  t0 = clock_nowUs();
  if (!step(r, "FT_SetTimeouts(1, 0)", FT_SetTimeouts(h, 1, 0), t0, "read 1 ms, write none"))
    return -1;
  if (!setBaud(r, h, FTDI_DMX_BAUD, "the DMX rate")) return -1;
  t0 = clock_nowUs();
  FT_STATUS st = FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
  if (!step(r, "FT_SetDataCharacteristics(8, 2, 0)", st, t0, "8 data bits, 2 stop bits, no parity"))
    return -1;
  const uint8_t releaseAll[] = {PACKET_CLASS_DISCOVERY, 0x01};
  const uint8_t probe[] = {PACKET_CLASS_DISCOVERY, 0x02, 0, 0, 0, 0};
  if (!sendFrame(r, h, discoveryFrame(releaseAll, sizeof releaseAll),
                 "discovery release-all to every device"))
    return -1;
  if (!sendFrame(r, h, discoveryFrame(probe, sizeof probe),
                 "discovery probe of address 0 (every device answers with a break)"))
    return -1;
  return listen(r, h, listenMs);
}

void printVerdict(Run& r, int received) {
  if (r.failed) {
    fprintf(r.out,
            "%d step%s failed: see the lines marked FAIL, and the libftdi lines on standard "
            "error.\n",
            r.failed, r.failed == 1 ? "" : "s");
    return;
  }
  fputs("Every step succeeded: the converter takes the DMX line settings, sends breaks and "
        "frames, and empties its transmitter.\n",
        r.out);
  if (received > 0)
    fputs("Bytes came back after the probe: a device on the line answered (a break reads as "
          "0x00).\n",
          r.out);
  else
    fputs("Nothing came back: no device answered the probe. That is right for an empty line; "
          "with devices on it, check the DMX wiring and the devices' power.\n",
          r.out);
}

}  // namespace

void cablecheck_usage(FILE* to) {
  fprintf(to,
          "usage: tern-cable-check [--cable SERIAL] [--listen MS]\n"
          "Checks the USB-to-DMX cable step by step: lists the FTDI converters, opens the\n"
          "first, configures it as Tern does (reset, timeouts 1/0, 250000 baud, 8N2), sends\n"
          "a discovery release-all frame and a probe of address 0, each after a break,\n"
          "reads what comes back and closes. Every call is printed with its status and how\n"
          "long it took.\n"
          "  --cable SERIAL  the converter with this serial number instead of the first\n"
          "                  (default: the environment's TERN_CABLE, when set)\n"
          "  --listen MS     how long to read after the frames (1..%d ms, default 100)\n"
          "  --help          this text\n"
          "Exit status: 0 when every step succeeded, 1 when a step failed or no converter\n"
          "was found, 2 on bad usage.\n",
          CABLECHECK_LISTEN_MAX_MS);
}

int cablecheck_parseArgs(int argc, char** argv, CableCheckOptions& o, FILE* out, FILE* err) {
  const char* env = getenv("TERN_CABLE");
  if (env && *env) o.cable = env;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      cablecheck_usage(out);
      return 0;
    }
    if (strcmp(a, "--listen") != 0 && strcmp(a, "--cable") != 0) {
      fprintf(err, "tern-cable-check: unknown option %s\n", a);
      cablecheck_usage(err);
      return 2;
    }
    if (i + 1 >= argc) {
      fprintf(err, "tern-cable-check: %s needs a value\n", a);
      cablecheck_usage(err);
      return 2;
    }
    const char* v = argv[++i];
    if (!strcmp(a, "--cable")) {
      o.cable = v;
      continue;
    }
    char* end = nullptr;
    long ms = strtol(v, &end, 10);
    if (!*v || *end || ms < 1 || ms > CABLECHECK_LISTEN_MAX_MS) {
      fprintf(err, "tern-cable-check: bad --listen %s (1..%d)\n", v, CABLECHECK_LISTEN_MAX_MS);
      return 2;
    }
    o.listenMs = (int)ms;
  }
  char why[160];
  if (!o.cable.empty() && !cables_checkSerial(o.cable.c_str(), why, sizeof why)) {
    fprintf(err, "tern-cable-check: %s\n", why);
    return 2;
  }
  return -1;
}

int cablecheck_run(FILE* out, const CableCheckOptions& o) {
  Run r{out, 0};
  fputs("tern-cable-check: the USB-to-DMX cable, step by step\n", out);
  DWORD version = 0;
  uint64_t t0 = clock_nowUs();
  FT_STATUS st = FT_GetLibraryVersion(&version);
  char detail[32];
  snprintf(detail, sizeof detail, "0x%08X", (unsigned)version);
  step(r, "FT_GetLibraryVersion", st, t0, detail);

  static Listed found[FT_MAX_DEVICES];
  int count = listConverters(r, found);
  if (count < 0) {
    fputs("The converters could not be listed: see the libftdi line on standard error.\n", out);
    return 1;
  }
  if (count == 0) {
    printNoConverter(out);
    return 1;
  }
  const int index = pickConverter(out, found, count, o.cable);
  if (index < 0) return 1;
  char serial[FT_SERIAL_LEN];
  memcpy(serial, found[index].serial, sizeof serial);
  serial[sizeof serial - 1] = 0;
  if (found[index].flags & kFlagNotAccessible) {
    // Listing reads the strings, which opens the converter: that failed.
    fprintf(out, "Converter %d could not be opened to read its serial number.\n", index);
    printOpenAdvice(out);
    return 1;
  }
  if (!serial[0]) {
    fprintf(out, "Converter %d reports no serial number, so it cannot be opened by it.\n", index);
    printOpenAdvice(out);
    return 1;
  }

  FT_HANDLE h = nullptr;
  char call[64];
  snprintf(call, sizeof call, "FT_OpenEx(\"%s\", by serial)", serial);
  t0 = clock_nowUs();
  if (!step(r, call, FT_OpenEx((PVOID)serial, FT_OPEN_BY_SERIAL_NUMBER, &h), t0)) {
    printOpenAdvice(out);
    return 1;
  }
  int received = exercise(r, h, o.listenMs);
  t0 = clock_nowUs();
  step(r, "FT_ResetDevice", FT_ResetDevice(h), t0);
  t0 = clock_nowUs();
  step(r, "FT_Close", FT_Close(h), t0);
  printVerdict(r, received);
  return r.failed ? 1 : 0;
}
