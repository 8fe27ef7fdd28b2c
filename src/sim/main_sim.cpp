// tern-curve-sim: the curve editor on a simulated line with virtual devices.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/entry.h"
#include "platform/port_backend.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

struct Options {
  int devices = 3;
  uint32_t seed = 1;
  std::string trace;
  std::string state;
  long failAfter = -1;  // frames the converter sends before it is pulled; -1: never
};

// The simulated converter, pulled from the line once it has sent a given
// number of frames (writes of more than the one break byte): every later
// call fails as on a cable that stopped answering mid-send.
class FailingCable : public PortBackend {
 public:
  FailingCable(SimLine& line, long frames) : line(line), left(frames) {}
  DWORD port_libraryVersion() override { return line.port_libraryVersion(); }
  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count) override {
    return line.port_list(out, capacity, count);
  }
  FT_STATUS port_open(const char* serial, FT_HANDLE* h) override { return line.port_open(serial, h); }
  FT_STATUS port_close(FT_HANDLE h) override { return line.port_close(h); }
  FT_STATUS port_reset(FT_HANDLE h) override { return line.port_reset(h); }
  FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG r, ULONG w) override {
    return line.port_setTimeouts(h, r, w);
  }
  FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) override { return line.port_setBaudRate(h, baud); }
  FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop, UCHAR parity) override {
    return line.port_setDataCharacteristics(h, bits, stop, parity);
  }
  FT_STATUS port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) override {
    FT_STATUS st = line.port_write(h, data, n, written);
    if (st == FT_OK && n > 1 && left >= 0 && --left < 0) line.sim_setPlugged(false);
    return st;
  }
  FT_STATUS port_status(FT_HANDLE h, DWORD& rx, DWORD& tx, DWORD& ev) override {
    return line.port_status(h, rx, tx, ev);
  }
  FT_STATUS port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) override {
    return line.port_read(h, buf, n, got);
  }

 private:
  SimLine& line;
  long left;
};

void usage(FILE* to) {
  fprintf(to,
          "usage: tern-curve-sim [--devices N] [--seed S] [--trace FILE] [--state FILE]\n"
          "                      [--fail-after N]\n"
          "  --devices N   virtual devices on the line (0..200, default 3)\n"
          "  --seed S      seed for the devices' UIDs (default 1)\n"
          "  --trace FILE  write every transmission, both directions, at exit\n"
          "  --state FILE  write the devices' state as JSON at exit\n"
          "  --fail-after N  pull the converter from the line after it has sent N\n"
          "                frames (for trying a cable that fails mid-send)\n");
}

bool parseNumber(const char* text, long lo, long hi, long& out) {
  char* end = nullptr;
  long v = strtol(text, &end, 0);
  if (!*text || *end || v < lo || v > hi) return false;
  out = v;
  return true;
}

// Returns -1 to go on, else the exit status.
int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      usage(stdout);
      return 0;
    }
    const bool known = !strcmp(a, "--devices") || !strcmp(a, "--seed") ||
                       !strcmp(a, "--trace") || !strcmp(a, "--state") ||
                       !strcmp(a, "--fail-after");
    if (!known || i + 1 >= argc) {
      fprintf(stderr, known ? "tern-curve-sim: %s needs a value\n" : "tern-curve-sim: unknown option %s\n", a);
      usage(stderr);
      return 2;
    }
    const char* v = argv[++i];
    long n = 0;
    if (!strcmp(a, "--devices")) {
      if (!parseNumber(v, 0, 200, n)) return fprintf(stderr, "tern-curve-sim: bad --devices %s\n", v), 2;
      o.devices = (int)n;
    } else if (!strcmp(a, "--seed")) {
      if (!parseNumber(v, 0, 0xFFFFFFFFL, n)) return fprintf(stderr, "tern-curve-sim: bad --seed %s\n", v), 2;
      o.seed = (uint32_t)n;
    } else if (!strcmp(a, "--fail-after")) {
      if (!parseNumber(v, 0, 1000000, n)) return fprintf(stderr, "tern-curve-sim: bad --fail-after %s\n", v), 2;
      o.failAfter = n;
    } else if (!strcmp(a, "--trace")) {
      o.trace = v;
    } else {
      o.state = v;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int early = parse(argc, argv, o);
  if (early >= 0) return early;
  SimLine line;
  SimDevices devices(o.devices, o.seed);
  devices.sim_attach(line);
  FailingCable failing(line, o.failAfter);
  ftd2xx_setBackend(o.failAfter >= 0 ? (PortBackend*)&failing : &line);
  int status = app_run();
  line.sim_settle();
  ftd2xx_setBackend(nullptr);
  if (!o.trace.empty() && !line.sim_trace().trace_write(o.trace)) {
    fprintf(stderr, "tern-curve-sim: cannot write %s\n", o.trace.c_str());
    status = 1;
  }
  if (!o.state.empty() && !devices.sim_writeState(o.state)) {
    fprintf(stderr, "tern-curve-sim: cannot write %s\n", o.state.c_str());
    status = 1;
  }
  return status;
}
