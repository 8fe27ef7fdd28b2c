// `tern`: the command line for commissioning a rig over the device layer,
// on the cable (libftdi1) or, with --sim, on the simulated line in virtual
// time.
#pragma once

#include <atomic>
#include <cstdio>

struct CliIo {
  FILE* out = stdout;          // results
  FILE* err = stderr;          // errors, questions, progress
  FILE* in = stdin;            // answers to questions
  bool inTerminal = false;     // questions may be asked
  bool errTerminal = false;    // progress may be shown
  // Called once the command line is parsed, with whether the device
  // layer's console lines (--verbose) are wanted; null: they stay where
  // they go.
  void (*console)(bool verbose) = nullptr;
  // Set (by SIGINT or SIGTERM) to stop the run between two devices: what
  // was done is reported and the status is 130. Optional.
  const std::atomic<bool>* stop = nullptr;
};

// Runs one command line (argv[0] is the program). Returns the exit status:
// 0 when everything asked was done, 1 when a device or the cable failed, 2
// on bad usage, 130 when it was stopped.
int cli_run(int argc, char** argv, const CliIo& io);

// The program: results on the standard output, and the device layer's
// console lines (which go to the standard output) out of their way.
int cli_main(int argc, char** argv);
