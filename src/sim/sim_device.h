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

  // The device's state as the state file holds it, and back: UID, muted
  // flag, settings, DALI gear, faults, curve, firmware. Reading leaves the
  // members a file leaves out as they are and throws SimJsonError on a bad
  // one.
  SimJson sim_toJson() const;
  void sim_fromJson(const SimJson& j);

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
  // Takes device i off the line, as a technician pulls one (before the
  // devices are attached to a line).
  void sim_remove(int i);
  // Puts a new device with factory settings and this UID where device i
  // was, as a technician swaps a broken one (before attaching).
  SimDevice& sim_replace(int i, uint32_t uid);
  void sim_attach(SimLine& line);
  int sim_count() const { return (int)devices.size(); }
  SimDevice& sim_device(int i) { return *devices[i]; }
  // The devices' state as JSON: UIDs, curve name and levels, counters,
  // firmware mode and image; with a line, also its converter's counters.
  std::string sim_stateJson(const SimLine* line = nullptr) const;
  bool sim_writeState(const std::string& path, const SimLine* line = nullptr) const;
  // Replaces the devices with those of a state file's text, as
  // sim_stateJson writes it (the converter's counters are not read back).
  // False with the reason in `error` when the text is not such a state;
  // the devices are then left as they were.
  bool sim_loadState(const std::string& text, std::string& error);

 private:
  std::vector<SimDevice*> devices;
};
