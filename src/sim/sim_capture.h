// What the simulated line carried, as a logic capture that sigrok-cli and
// PulseView open: a sigrok session file (.sr, format version 2) with one
// channel named "0", sampled at 1 MHz, high when the line is idle. The
// capture runs from 1 ms before the first thing on the line to 1 ms after
// the last; the samples go into chunks of 4 Mi samples, deflated, so a long
// quiet session stays small.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_wire.h"

enum : uint32_t { CAPTURE_SAMPLE_RATE_HZ = 1000000, CAPTURE_MARGIN_US = 1000 };

struct SimCaptureInfo {
  uint64_t firstUs = 0;  // the time of sample 0
  uint64_t samples = 0;
};

// Writes the capture of `wire` to `path`. Returns false when the file
// cannot be written (or would exceed what a zip archive without its 64-bit
// extensions holds).
bool capture_writeSr(const std::string& path, const std::vector<SimWireEvent>& wire,
                     SimCaptureInfo* info = nullptr);
