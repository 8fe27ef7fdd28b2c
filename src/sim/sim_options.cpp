#include "sim/sim_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <unistd.h>

#include "link/cables.h"
#include "sim/sim_capture.h"
#include "sim/sim_dali.h"

namespace {

// A file the program will write at exit: it must be writable now.
std::string checkWritable(const std::string& path) {
  const bool existed = access(path.c_str(), F_OK) == 0;
  FILE* f = fopen(path.c_str(), "a");
  if (!f) return "cannot write " + path + ": " + strerror(errno);
  fclose(f);
  if (!existed) remove(path.c_str());
  return std::string();
}

// The state file: read at start when it exists, so it must be readable
// then; written at exit, so it must be writable either way.
std::string checkStateFile(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), R_OK) != 0)
    return "cannot read " + path + ": " + strerror(errno);
  return checkWritable(path);
}

bool readWhole(const std::string& path, std::string& text) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

std::string checkSerial(const std::string& text) {
  char why[160];
  return cables_checkSerial(text.c_str(), why, sizeof why) ? std::string() : std::string(why);
}

// Names the line's converter and makes it the cable this process uses.
void nameConverter(SimRig& rig, const SimOptions& o) {
  const std::string chosen = cables_chosen();
  const std::string serial = o.cable.empty() ? chosen : o.cable;
  if (serial.empty()) return;
  rig.line->sim_setSerial(serial);
  rig.line->sim_claimAcrossProcesses(true);
  if (serial != chosen) {
    cables_choose(serial.c_str());
    rig.choseCable = true;
  }
}

void addOutputFile(CLI::App& app, const char* name, std::string& target, const char* what) {
  app.add_option(name, target, what)->type_name("FILE")->check(
      CLI::Validator(checkWritable, "", "writable"));
}

// Rogue devices get UIDs of their own stream, apart from the others'.
void addRogues(SimDevices& devices, int count, uint32_t seed) {
  std::set<uint32_t> used;
  for (int i = 0; i < devices.sim_count(); i++) used.insert(devices.sim_device(i).sim_uid());
  std::mt19937 rng(seed ^ 0x9E3779B9u);
  int added = 0;
  while (added < count) {
    const uint32_t u = 1 + rng() % 0x7FFFFFFFu;
    if (!used.insert(u).second) continue;
    devices.sim_add(u).sim_functions().faults.neverMutes = true;
    added++;
  }
}

}  // namespace

void simOptions_add(CLI::App& app, SimOptions& o) {
  app.add_option("--devices", o.devices, "virtual devices on the line (default 3)")
      ->check(CLI::Range(0, (int)SIM_MAX_DEVICES));
  app.add_option("--dali", o.dali, "DALI gear behind each device (default 0)")
      ->check(CLI::Range(0, (int)SIM_MAX_DALI));
  app.add_option("--seed", o.seed, "seed for the devices' UIDs and their DALI gear (default 1)");
  addOutputFile(app, "--trace", o.trace, "write every transmission, both directions, at exit");
  addOutputFile(app, "--state", o.state,
                "write the devices' and the converter's state as JSON at exit");
  addOutputFile(app, "--capture", o.capture,
                "write what the line carried as a sigrok session (.sr) at exit");
  app.add_option("--sim-state", o.simState,
                 "the virtual devices: read from FILE when it exists (then --devices, --dali, "
                 "--seed and --rogue make none), written back to it at exit")
      ->type_name("FILE")->check(CLI::Validator(checkStateFile, "", "state file"));
  app.add_option("--fail-after", o.failAfter,
                 "pull the converter from the line after it has sent N frames")
      ->type_name("N")->check(CLI::Range(0L, 1000000L));
  app.add_option("--probe-loss", o.probeLoss,
                 "each device misses a discovery probe with this chance, per mille (default 0)")
      ->type_name("P")->check(CLI::Range(0, 1000));
  app.add_option("--rogue", o.rogues,
                 "N more devices that answer discovery probes but never take a mute")
      ->type_name("N")->check(CLI::Range(0, (int)SIM_MAX_ROGUES));
  if (!app.get_option_no_throw("--cable"))
    app.add_option("--cable", o.cable,
                   "the simulated converter's serial number (default TSIM0001): lines of other "
                   "numbers run beside it, and a second program on the same number is told the "
                   "cable is in use")
        ->type_name("SERIAL")->check(CLI::Validator(checkSerial, "", "serial"));
}

SimRig simRig_build(const SimOptions& o) {
  SimRig rig;
  const bool fromState = !o.simState.empty() && access(o.simState.c_str(), F_OK) == 0;
  if (fromState) {
    std::string text, why;
    SimDevices* loaded = new SimDevices(0, o.seed);
    if (!readWhole(o.simState, text)) {
      why = strerror(errno);
    } else if (loaded->sim_loadState(text, why)) {
      rig.devices = loaded;
    }
    if (!rig.devices) {
      delete loaded;
      rig.error = "cannot read the state " + o.simState + ": " + why;
      return rig;
    }
    if (o.probeLoss > 0)
      for (int i = 0; i < rig.devices->sim_count(); i++)
        rig.devices->sim_device(i).sim_functions().faults.probeLossPerMille = o.probeLoss;
  } else {
    rig.devices = new SimDevices(o.devices, o.seed);
    addRogues(*rig.devices, o.rogues, o.seed);
    for (int i = 0; i < rig.devices->sim_count(); i++) {
      SimFunctions& f = rig.devices->sim_device(i).sim_functions();
      simDali_populate(f.dali, o.dali, o.seed * 7919u + (uint32_t)i);
      f.faults.probeLossPerMille = o.probeLoss;
    }
  }
  rig.line = new SimLine;
  nameConverter(rig, o);
  rig.devices->sim_attach(*rig.line);
  rig.line->sim_trace().trace_recordWire(!o.capture.empty());
  rig.line->sim_unplugAfterFrames(o.failAfter);
  return rig;
}

int simRig_finish(const SimRig& rig, const SimOptions& o, const char* program) {
  int status = 0;
  rig.line->sim_settle();
  if (!o.trace.empty() && !rig.line->sim_trace().trace_write(o.trace)) {
    fprintf(stderr, "%s: cannot write %s\n", program, o.trace.c_str());
    status = 1;
  }
  if (!o.state.empty() && !rig.devices->sim_writeState(o.state, rig.line)) {
    fprintf(stderr, "%s: cannot write %s\n", program, o.state.c_str());
    status = 1;
  }
  if (!o.simState.empty() && !rig.devices->sim_writeState(o.simState, rig.line)) {
    fprintf(stderr, "%s: cannot write %s\n", program, o.simState.c_str());
    status = 1;
  }
  if (!o.capture.empty() && !capture_writeSr(o.capture, rig.line->sim_trace().trace_wire())) {
    fprintf(stderr, "%s: cannot write %s\n", program, o.capture.c_str());
    status = 1;
  }
  return status;
}

void simRig_free(SimRig& rig) {
  delete rig.devices;
  delete rig.line;
  rig.devices = nullptr;
  rig.line = nullptr;
  if (rig.choseCable) cables_choose(nullptr);
  rig.choseCable = false;
}
