#include "sim/sim_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <set>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/cables.h"
#include "sim/sim_capture.h"
#include "sim/sim_dali.h"

namespace {

// The folder a file is in ("." for a bare name).
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A file the program will write at exit: it must be writable now, and so
// must its folder, since a file is replaced whole through a new one beside it.
std::string checkWritable(const std::string& path) {
  const bool existed = access(path.c_str(), F_OK) == 0;
  FILE* f = fopen(path.c_str(), "a");
  if (!f) return "cannot write " + path + ": " + strerror(errno);
  fclose(f);
  if (!existed) remove(path.c_str());
  const std::string folder = folderOf(path);
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return "cannot write " + path + ": its folder " + folder + ": " + strerror(errno);
  return std::string();
}

// The lock that keeps two programs off one state file: a file of its own
// under the runtime folder, named after the state file's full path, so the
// state file itself can be replaced whole while the lock stays. -1 with the
// reason in `error` when another program holds it.
int lockState(const std::string& path, std::string& error) {
  char* folder = realpath(folderOf(path).c_str(), nullptr);
  if (!folder) {
    error = "cannot use the state " + path + ": " + strerror(errno);
    return -1;
  }
  const size_t slash = path.rfind('/');
  const std::string full = std::string(folder) + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
  free(folder);
  uint64_t hash = 1469598103934665603ull;  // FNV-1a of the full path
  for (unsigned char c : full) hash = (hash ^ c) * 1099511628211ull;
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  char name[64];
  snprintf(name, sizeof name, "/tern-state-%016llx.lock", (unsigned long long)hash);
  const std::string lockPath = std::string(runtime && *runtime ? runtime : "/tmp") + name;
  const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot lock the state " + path + ": " + lockPath + ": " + strerror(errno);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    error = path + " is in use by another tern or tern-curve-sim; try again when it has finished";
    return -1;
  }
  return fd;
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

// A technician on site: `pull` devices taken off the line, then `swap` of
// the others replaced by new ones with factory settings and new UIDs; which
// ones, and the new UIDs, come from the seed.
void pullAndSwap(SimDevices& devices, int pull, int swap, uint32_t seed) {
  std::mt19937 rng(seed ^ 0x5EED5A4Bu);
  for (int n = 0; n < pull && devices.sim_count() > 0; n++)
    devices.sim_remove((int)(rng() % (uint32_t)devices.sim_count()));
  std::set<uint32_t> used;
  for (int i = 0; i < devices.sim_count(); i++) used.insert(devices.sim_device(i).sim_uid());
  std::vector<int> order(devices.sim_count());
  for (int i = 0; i < (int)order.size(); i++) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int n = 0; n < swap && n < (int)order.size(); n++) {
    uint32_t u;
    do u = 1 + rng() % 0x7FFFFFFFu;
    while (!used.insert(u).second);
    devices.sim_replace(order[(size_t)n], u);
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
  app.add_option("--pull", o.pull, "take N devices off the line, as a technician pulls them (chosen by --seed)")
      ->type_name("N")->check(CLI::Range(0, (int)SIM_MAX_DEVICES));
  app.add_option("--swap", o.swap,
                 "replace N devices by new ones with factory settings and new UIDs (chosen by --seed)")
      ->type_name("N")->check(CLI::Range(0, (int)SIM_MAX_DEVICES));
  app.add_flag("--real-time", o.realTime,
               "let the simulated line take the time a real line takes (tern runs it in virtual time)");
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
  if (!o.simState.empty()) {
    rig.lockFd = lockState(o.simState, rig.error);
    if (rig.lockFd < 0) return rig;
  }
  // An empty state file is a rig not yet made.
  struct stat st;
  const bool fromState = !o.simState.empty() && stat(o.simState.c_str(), &st) == 0 && st.st_size > 0;
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
      rig.error = o.simState + " is not a rig's state that tern can read (" + why +
                  "); name another file, or remove this one to start a new rig";
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
  pullAndSwap(*rig.devices, o.pull, o.swap, o.seed);
  rig.line = new SimLine;
  nameConverter(rig, o);
  rig.devices->sim_attach(*rig.line);
  rig.line->sim_trace().trace_recordWire(!o.capture.empty());
  rig.line->sim_unplugAfterFrames(o.failAfter);
  return rig;
}

std::vector<std::string> simRig_finish(const SimRig& rig, const SimOptions& o) {
  std::vector<std::string> failed;
  rig.line->sim_settle();
  auto check = [&failed](bool written, const std::string& path) {
    if (!written) failed.push_back("cannot write " + path + ": " + strerror(errno ? errno : EIO));
  };
  errno = 0;
  if (!o.trace.empty()) check(rig.line->sim_trace().trace_write(o.trace), o.trace);
  errno = 0;
  if (!o.state.empty()) check(rig.devices->sim_writeState(o.state, rig.line), o.state);
  errno = 0;
  if (!o.simState.empty()) check(rig.devices->sim_writeState(o.simState, rig.line), o.simState);
  errno = 0;
  if (!o.capture.empty()) check(capture_writeSr(o.capture, rig.line->sim_trace().trace_wire()), o.capture);
  return failed;
}

void simRig_free(SimRig& rig) {
  if (rig.lockFd >= 0) close(rig.lockFd);
  rig.lockFd = -1;
  delete rig.devices;
  delete rig.line;
  rig.devices = nullptr;
  rig.line = nullptr;
  if (rig.choseCable) cables_choose(nullptr);
  rig.choseCable = false;
}
