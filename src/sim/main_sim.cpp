// tern-curve-sim: the curve editor on a simulated line with virtual devices.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/entry.h"
#include "platform/port_backend.h"
#include "sim/sim_capture.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

struct Options {
  int devices = 3;
  int dali = 0;
  uint32_t seed = 1;
  std::string trace;
  std::string state;
  std::string capture;
  long failAfter = -1;  // frames the converter sends before it is pulled; -1: never
};

void usage(FILE* to) {
  fprintf(to,
          "usage: tern-curve-sim [--devices N] [--dali M] [--seed S] [--trace FILE]\n"
          "                      [--state FILE] [--capture FILE] [--fail-after N]\n"
          "  --devices N     virtual devices on the line (0..200, default 3)\n"
          "  --dali M        DALI gear behind each device (0..64, default 0)\n"
          "  --seed S        seed for the devices' UIDs and their DALI gear (default 1)\n"
          "  --trace FILE    write every transmission, both directions, at exit\n"
          "  --state FILE    write the devices' and the converter's state as JSON at exit\n"
          "  --capture FILE  write what the line carried as a sigrok session (.sr) at exit,\n"
          "                  for sigrok-cli and PulseView\n"
          "  --fail-after N  pull the converter from the line after it has sent N frames\n"
          "                  (for trying a cable that fails mid-send)\n");
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
    const bool known = !strcmp(a, "--devices") || !strcmp(a, "--dali") || !strcmp(a, "--seed") ||
                       !strcmp(a, "--trace") || !strcmp(a, "--state") || !strcmp(a, "--capture") ||
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
    } else if (!strcmp(a, "--dali")) {
      if (!parseNumber(v, 0, 64, n)) return fprintf(stderr, "tern-curve-sim: bad --dali %s\n", v), 2;
      o.dali = (int)n;
    } else if (!strcmp(a, "--seed")) {
      if (!parseNumber(v, 0, 0xFFFFFFFFL, n)) return fprintf(stderr, "tern-curve-sim: bad --seed %s\n", v), 2;
      o.seed = (uint32_t)n;
    } else if (!strcmp(a, "--fail-after")) {
      if (!parseNumber(v, 0, 1000000, n)) return fprintf(stderr, "tern-curve-sim: bad --fail-after %s\n", v), 2;
      o.failAfter = n;
    } else if (!strcmp(a, "--trace")) {
      o.trace = v;
    } else if (!strcmp(a, "--capture")) {
      o.capture = v;
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
  // The line and its devices live until the process ends: the program does
  // not wait for its workers, and one may still be sending when the window
  // has closed.
  SimLine& line = *new SimLine;
  SimDevices& devices = *new SimDevices(o.devices, o.seed);
  for (int i = 0; i < devices.sim_count(); i++)
    simDali_populate(devices.sim_device(i).sim_functions().dali, o.dali, o.seed * 7919u + (uint32_t)i);
  devices.sim_attach(line);
  line.sim_trace().trace_recordWire(!o.capture.empty());
  line.sim_unplugAfterFrames(o.failAfter);
  ftd2xx_setBackend(&line);
  int status = app_run();
  line.sim_settle();
  if (!o.trace.empty() && !line.sim_trace().trace_write(o.trace)) {
    fprintf(stderr, "tern-curve-sim: cannot write %s\n", o.trace.c_str());
    status = 1;
  }
  if (!o.state.empty() && !devices.sim_writeState(o.state, &line)) {
    fprintf(stderr, "tern-curve-sim: cannot write %s\n", o.state.c_str());
    status = 1;
  }
  if (!o.capture.empty() && !capture_writeSr(o.capture, line.sim_trace().trace_wire())) {
    fprintf(stderr, "tern-curve-sim: cannot write %s\n", o.capture.c_str());
    status = 1;
  }
  return status;
}
