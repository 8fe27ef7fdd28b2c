// The simulated line's options, shared by every program that can run on it
// (tern-curve-sim, tern --sim), and the line they build: the virtual
// converter, its devices, and the files written at exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/sim_device.h"
#include "sim/sim_line.h"

enum {
  SIM_MAX_DEVICES = 200,
  SIM_MAX_DALI = 64,
  SIM_MAX_ROGUES = 10,
};

struct SimOptions {
  int devices = 3;
  int dali = 0;
  uint32_t seed = 1;
  std::string trace;    // every transmission, written at exit
  std::string state;    // the devices' and converter's state, written at exit
  std::string capture;  // a sigrok session of the line, written at exit
  std::string simState; // the devices, read at start when it exists and written back at exit
  long failAfter = -1;  // frames the converter sends before it is pulled; -1: never
  int probeLoss = 0;    // per mille of probes each device misses
  int rogues = 0;       // devices that answer probes but never take a mute
  bool realTime = false; // tern --sim: the line takes real time, as the window's does
  int pull = 0;          // devices taken off the line (chosen by the seed)
  int swap = 0;          // devices replaced by new ones with factory settings and new UIDs
  std::string cable;    // the converter's serial number; empty: TSIM0001, unless one is chosen
};

// Registers the options on app. Values are checked as they are parsed:
// numbers against their range, files named for writing by creating them
// (a file that did not exist is removed again), so that a bad path fails
// at start, not after the whole run. --cable is left out when the program
// has an option of that name already (one that chooses a real cable too).
void simOptions_add(CLI::App& app, SimOptions& o);

// The line built from the options. It and its devices live until the
// process ends: a worker may still be sending when the program's main
// returns.
//
// With a state file (simState) that exists, the devices are those of the
// file, as a line keeps its devices between two runs: --devices, --dali,
// --seed and --rogue then make none, and --probe-loss, when above 0, is
// laid on them; an empty file is a rig not yet made. A file that cannot be
// read as a state, or that another program uses (its lock is held from
// here until simRig_free), leaves `error` set (naming the file and what is
// wrong) and no line built.
//
// The converter is named by --cable, or else by the cable this process chose
// (cables.h); such a line is the chosen cable, and is claimed across
// processes from its first open until it is freed or the process ends (see
// SimLine::sim_claimAcrossProcesses), so that two programs on one serial
// number are told it is in use. Without either it is TSIM0001, unclaimed.
struct SimRig {
  SimLine* line = nullptr;
  SimDevices* devices = nullptr;
  std::string error;
  int lockFd = -1;  // the state file's lock, while the rig lives
  bool choseCable = false;  // the rig made its serial number the process's choice
};
SimRig simRig_build(const SimOptions& o);
// Frees the line and its devices, for a caller that knows nothing uses them
// any more (no worker runs, the port backend no longer points at the line),
// and undoes the choice of cable the rig made.
void simRig_free(SimRig& rig);
// Settles the line and writes the files the options name. Returns what
// could not be written, one line each with the reason ("cannot write F:
// why"); empty when all was written.
std::vector<std::string> simRig_finish(const SimRig& rig, const SimOptions& o);
