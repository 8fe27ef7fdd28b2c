#include "app/runProgress.h"

#include <cstdio>

namespace {

double ratio(long done, long total) {
  if (total <= 0) return 0.0;
  return done >= total ? 1.0 : done <= 0 ? 0.0 : (double)done / (double)total;
}

// Quick discovery and Find new devices: the devices found against the
// estimate while the search runs, then the reads of the devices found.
void searchView(const RunProgressInput* in, RunProgressView* out) {
  char clock[16];
  runProgress_clock(in->elapsedUs, clock, sizeof clock);
  const int size = (int)sizeof out->text;
  if (in->read > 0) {
    out->fraction = ratio(in->read, in->found);
    snprintf(out->text, (size_t)size, "Reading %d of %d devices, %s", in->read, in->found, clock);
  } else if (in->estimate > in->found) {
    out->fraction = ratio(in->found, in->estimate);
    snprintf(out->text, (size_t)size, "%d of about %d devices found, %s", in->found, in->estimate, clock);
  } else {
    out->pulse = true;
    snprintf(out->text, (size_t)size, "%d devices found, %s", in->found, clock);
  }
}

}  // namespace

void runProgress_clock(uint64_t us, char* text, int size) {
  const unsigned long s = (unsigned long)(us / 1000000u);
  if (s >= 3600)
    snprintf(text, (size_t)size, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
  else
    snprintf(text, (size_t)size, "%lu:%02lu", s / 60, s % 60);
}

void runProgress_view(const RunProgressInput* in, RunProgressView* out) {
  out->pulse = false;
  out->fraction = 0.0;
  out->text[0] = 0;
  const int size = (int)sizeof out->text;
  switch (in->kind) {
    case RUN_NONE: out->fraction = in->pairFraction; return;
    case RUN_DISCOVERY:
      if (in->mode == DISCOVERY_FULL) {
        // Discovery's bar is its searches' probes, 35 a search.
        out->fraction = in->pairFraction;
        snprintf(out->text, (size_t)size, "%d devices found", in->found);
      } else {
        searchView(in, out);
      }
      break;
    case RUN_COMMISSION:
      out->fraction = ratio(in->done, in->total);
      snprintf(out->text, (size_t)size, "%d of %d devices done", in->done, in->total);
      break;
    case RUN_OTHER: out->fraction = in->pairFraction; break;
  }
  if (in->stopping) snprintf(out->text, (size_t)size, "Stopping\u2026");
}

uint64_t runProgress_elapsed(bool running, uint64_t nowUs) {
  static bool seen = false;
  static uint64_t startUs = 0;
  if (!running) {
    seen = false;
    return 0;
  }
  if (!seen) startUs = nowUs;
  seen = true;
  return nowUs - startUs;
}
