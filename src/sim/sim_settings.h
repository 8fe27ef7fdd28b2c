// The device side of the settings commands: a read (class 1 with no items)
// is answered with the item list of every setting, a write (class 1 with
// items) is applied and answered the same way. Only requests addressed to
// the device are answered; a broadcast write is applied silently.
#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_json.h"
#include "sim/sim_line.h"

struct SimSettings {
  uint16_t addr = 1;
  uint8_t lossOfDmx = 0;
  uint8_t sleep = 0;
  uint8_t backlight = 50;
  uint8_t limitUp = 255;
  uint8_t limitDown = 0;
  uint8_t verMajor = 1;
  uint8_t verMinor = 4;
  int reads = 0;
  int writes = 0;
};

// Handles a class-1 payload (curve parts excepted) heard by the device uid;
// daliCount is reported in the answer. True with the answer filled when the
// device answers.
bool simSettings_respond(SimSettings& s, uint8_t daliCount, uint32_t uid, uint32_t dest,
                         const uint8_t* payload, int length, SimAnswer& answer);
// The settings as members of j: "settings": {addr, lossOfDmx, sleep,
// backlight, limitUp, limitDown, version "major.minor"}, "setupReads",
// "setupWrites"; and back from the same members (those missing keep their
// values; a value out of range throws SimJsonError).
void simSettings_toJson(const SimSettings& s, SimJson& j);
void simSettings_fromJson(SimSettings& s, const SimJson& j);
