// The DALI gear behind a virtual device and the device side of the DALI
// commands: randomize gives every gear a new 24-bit address, a search
// assigns short addresses in the order of the random addresses; both keep
// the device busy for a while, which its status tells; entries are read by
// position.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_json.h"
#include "sim/sim_line.h"

struct SimDaliGear {
  uint8_t shortAddr;
  uint32_t randomAddr;  // 24 bits
};

struct SimDali {
  static constexpr uint64_t kRandomizeBusyUs = 3000000;
  static constexpr uint64_t kSearchBusyUs = 2000000;
  static constexpr uint64_t kSearchPerGearUs = 100000;

  std::vector<SimDaliGear> gear;
  std::mt19937 rng{1};
  uint64_t busyUntilUs = 0;  // the status is busy until then
  int randomizes = 0;
  int searches = 0;
  int statusAsked = 0;
};

// count gear with random addresses from the seed, short addresses 0..count-1.
void simDali_populate(SimDali& dali, int count, uint32_t seed);
// Handles a class-3 DALI payload (function 0x30) addressed to the device uid
// at the end of a transmission at endUs. True with the answer filled.
bool simDali_respond(SimDali& dali, uint32_t uid, const uint8_t* payload, int length,
                     uint64_t endUs, SimAnswer& answer);
// The gear as members of j: "dali": [{"short": n, "random": "XXXXXX"}, ...],
// "daliSearches", "daliRandomizes"; and back (missing members keep their
// values; a busy time does not carry over, the clock restarts with a run).
void simDali_toJson(const SimDali& dali, SimJson& j);
void simDali_fromJson(SimDali& dali, const SimJson& j);
