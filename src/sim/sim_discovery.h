// The device side of discovery: release-all, probes answered with a break
// while the device is not muted and its UID is above the probed address,
// and the addressed mute with its acknowledgement.
#pragma once

#include <cstdint>

#include "sim/sim_faults.h"
#include "sim/sim_line.h"

struct SimDiscovery {
  bool muted = false;
  int muteTries = 0;       // mutes heard since the last release
  int probesAnswered = 0;
  int probesMissed = 0;    // probes lost to the device's probe-loss fault
  uint32_t lossRng = 1;    // drawn from when a probe may be lost; never 0
};

// Handles a class-2 payload heard by the device uid (dest: the frame's
// destination). True with the answer filled when the device answers.
bool simDiscovery_respond(SimDiscovery& s, const SimFaults& faults, uint32_t uid, uint32_t dest,
                          const uint8_t* payload, int length, SimAnswer& answer);
