// Everything a virtual device does besides taking curves: its state and the
// handling of each request class, dispatched as the device's firmware does.
#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_dali.h"
#include "sim/sim_discovery.h"
#include "sim/sim_faults.h"
#include "sim/sim_json.h"
#include "sim/sim_line.h"
#include "sim/sim_settings.h"

struct SimFunctions {
  SimFaults faults;
  SimDiscovery discovery;
  SimSettings settings;
  SimDali dali;
  int identified = 0;        // identify requests taken
  uint16_t identifyTime = 0; // the time the last one asked for
  int uidChanges = 0;
  uint32_t formerUid = 0;    // the UID before the last change; 0 = none
};

// Settings that tell devices apart, derived from the UID.
void simFunctions_init(SimFunctions& f, uint32_t uid);
// A valid frame heard by the device whose UID is uid (the frame is addressed
// to it or to every device) and that ended at endUs. A UID change changes
// uid. True with the answer filled when the device answers.
bool simFunctions_respond(SimFunctions& f, uint32_t& uid, const uint8_t* frame, int count,
                          uint64_t endUs, SimAnswer& answer);
// The state as members of j: "muted", "muteTries", "identified",
// "uidChanges", "formerUid", the settings, the DALI gear and "faults"; and
// back for the device uid (missing members keep their values; bad ones
// throw SimJsonError).
void simFunctions_toJson(const SimFunctions& f, SimJson& j);
void simFunctions_fromJson(SimFunctions& f, uint32_t uid, const SimJson& j);
