// What the progress bar says about the run that goes on, free of GTK: the
// bar's fraction (or a pulse, when nothing tells how far the run has got)
// and its text, from what the jobs report.
//   Discovery           the search's probes (the progress pair), "N devices found"
//   Quick discovery,    devices found against the search's estimate,
//   Find new devices    "12 of about 20 devices found, 0:41"; without an
//                       estimate a pulse, "3 devices found, 0:12"; then the
//                       reads, "Reading 7 of 20 devices, 1:02"
//   commissioning       "41 of 200 devices done"
//   another job, none   the progress pair, no text
// and "Stopping…" once the operator has asked the run to stop.
#pragma once

#include <cstdint>

#include "device/discovery_search.h"

enum RunKind {
  RUN_NONE,        // nothing runs: the progress pair (idle: empty), no text
  RUN_DISCOVERY,   // a discovery in `mode`
  RUN_COMMISSION,  // a commissioning run: `done` of `total` devices
  RUN_OTHER,       // a job that only moves the progress pair
};

enum { RUN_PROGRESS_TEXT_SIZE = 64 };

struct RunProgressInput {
  RunKind kind;
  DiscoveryMode mode;
  int found;     // devices the discovery found so far
  int estimate;  // how many it expects to find; not above found: no estimate
  int read;      // devices whose settings read has ended (0 while it searches)
  int done, total;                  // a commissioning run's devices
  double pairFraction;              // the progress pair's fraction (mainWin_fraction)
  uint64_t elapsedUs;               // since the run started
  bool stopping;                    // the operator asked it to stop
};

struct RunProgressView {
  bool pulse;       // the bar moves to and fro: how far the run is is unknown
  double fraction;  // 0..1, when not pulsing
  char text[RUN_PROGRESS_TEXT_SIZE];
};

void runProgress_view(const RunProgressInput* in, RunProgressView* out);
// "m:ss" of a time, "h:mm:ss" from an hour on.
void runProgress_clock(uint64_t us, char* text, int size);

// The time since a run started, from the times the window's ticks see:
// `running` is whether a run goes on at `nowUs`; the first tick that sees
// one starts its time, the first that sees none ends it. Returns 0 when
// none runs.
uint64_t runProgress_elapsed(bool running, uint64_t nowUs);
