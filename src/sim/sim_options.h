// The simulated line's options, shared by every program that can run on it
// (tern-curve-sim, tern --sim), and the line they build: the virtual
// converter, its devices, and the files written at exit.
#pragma once

#include <cstdint>
#include <string>

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
  long failAfter = -1;  // frames the converter sends before it is pulled; -1: never
  int probeLoss = 0;    // per mille of probes each device misses
  int rogues = 0;       // devices that answer probes but never take a mute
};

// Registers the options on app. Values are checked as they are parsed:
// numbers against their range, files named for writing by creating them
// (a file that did not exist is removed again), so that a bad path fails
// at start, not after the whole run.
void simOptions_add(CLI::App& app, SimOptions& o);

// The line built from the options. It and its devices live until the
// process ends: a worker may still be sending when the program's main
// returns.
struct SimRig {
  SimLine* line = nullptr;
  SimDevices* devices = nullptr;
};
SimRig simRig_build(const SimOptions& o);
// Settles the line and writes the files the options name. Each file that
// cannot be written is named on standard error after `program`. Returns 0,
// or 1 when one could not be written.
int simRig_finish(const SimRig& rig, const SimOptions& o, const char* program);
