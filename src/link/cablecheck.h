// tern-cable-check: the cable, step by step, for anyone with a real cable.
// Lists the converters, opens the first (or the one whose serial number
// --cable or TERN_CABLE names) and configures it as Tern does
// (reset, timeouts 1/0, 250000 baud, 8N2), sends the two frames a discovery
// starts with (release-all, then the probe of address 0, which every device
// on the line answers with a break), each after its break, reads for a while
// and closes. Every step prints the call, its status and how long it took.
// Everything goes through the FT_* port API, so the procedure runs on
// whichever backend is active.
#pragma once

#include <cstdio>
#include <string>

struct CableCheckOptions {
  int listenMs = 100;  // how long to read after the frames
  std::string cable;   // the converter's serial number; empty: the first listed
};

enum { CABLECHECK_LISTEN_MAX_MS = 10000 };

// Parses the command line into `o`, taking the cable from TERN_CABLE when
// --cable does not name one. Returns -1 to go on, else the exit status: 0
// after --help (usage on `out`), 2 on bad usage (message on `err`).
int cablecheck_parseArgs(int argc, char** argv, CableCheckOptions& o, FILE* out, FILE* err);
void cablecheck_usage(FILE* to);

// Runs the check, printing every step to `out`. Returns 0 when every step
// succeeded, 1 when a step failed or no converter was found.
int cablecheck_run(FILE* out, const CableCheckOptions& o);
