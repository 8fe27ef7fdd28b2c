// The virtual devices on the simulated line: the device side of every
// exchange the configurator makes, kept in one place. Each device decodes the
// frames it hears on its own (independently of the configurator's protocol
// code), so a fault on either side shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_firmware.h"
#include "sim/sim_functions.h"
#include "sim/sim_line.h"

class SimDevice : public SimResponder {
 public:
  enum { CURVE_POINTS = 256, CURVE_PART_COUNT = 3 };

  explicit SimDevice(uint32_t uid);

  uint32_t sim_uid() const { return uid; }
  // The curve the device runs with: its name and 256 levels; taken only when
  // all three parts arrived with good checksums.
  const std::string& sim_curveName() const { return curveName; }
  const uint16_t* sim_curve() const { return curve; }
  int sim_curvesTaken() const { return curvesTaken; }
  // Frames heard with a bad checksum.
  int sim_badFrames() const { return badFrames; }
  // The bootloader: firmware mode and the image received.
  const SimFirmware& sim_firmware() const { return firmware; }
  // Discovery, settings and the other requests: state and faults.
  SimFunctions& sim_functions() { return functions; }
  const SimFunctions& sim_functions() const { return functions; }

  bool sim_respond(const uint8_t* data, int count, uint64_t endUs, SimAnswer& answer) override;

 private:
  void onCurvePart(const uint8_t* payload, int length);
  void takeCurve();

  uint32_t uid;
  std::string curveName;
  uint16_t curve[CURVE_POINTS];
  int curvesTaken = 0;
  int badFrames = 0;
  SimFirmware firmware;
  // The curve record as it arrives in parts: 12-byte name and 512 value bytes.
  uint8_t record[524];
  unsigned partsSeen = 0;
  SimFunctions functions;
};

// The devices on the line: created from a seed, each with its own UID.
class SimDevices {
 public:
  SimDevices(int count, uint32_t seed);
  ~SimDevices();
  // Adds a device with this UID (not attached to any line yet).
  SimDevice& sim_add(uint32_t uid);
  void sim_attach(SimLine& line);
  int sim_count() const { return (int)devices.size(); }
  SimDevice& sim_device(int i) { return *devices[i]; }
  // The devices' state as JSON: UIDs, curve name and levels, counters,
  // firmware mode and image; with a line, also its converter's counters.
  std::string sim_stateJson(const SimLine* line = nullptr) const;
  bool sim_writeState(const std::string& path, const SimLine* line = nullptr) const;

 private:
  std::vector<SimDevice*> devices;
};
