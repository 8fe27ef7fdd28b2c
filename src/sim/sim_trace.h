// A time-stamped record of every transmission on the simulated line, in
// both directions, and (while recording for a capture) of every byte and
// break the line carried.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_wire.h"

struct SimTraceEntry {
  char dir;           // 'T' from the converter, 'R' to it
  bool withBreak;     // a break preceded the bytes
  bool garbled;       // corrupted on the wire (line format, rate change, collision, fault)
  uint64_t breakUs;   // start of the break (when withBreak)
  uint64_t dataUs;    // start of the first byte
  uint64_t endUs;     // end of the last byte
  std::vector<uint8_t> bytes;
  uint32_t breakLowUs = 0;  // how long the break held the line low
  uint32_t markUs = 0;      // then high until the first byte (the mark after break)
};

class SimTrace {
 public:
  void trace_add(const SimTraceEntry& e);
  std::vector<SimTraceEntry> trace_entries() const;
  // Only the entries of one direction.
  std::vector<SimTraceEntry> trace_entries(char dir) const;
  void trace_clear();
  // One line per entry:
  //   <dir> <break_us|-> <data_us> <end_us> <count> [garbled] [low=<us> mab=<us>] : <hex bytes>
  bool trace_write(const std::string& path) const;

  // The line itself, byte by byte, kept only while recording (a capture
  // needs it; a long session without one should not pay for it).
  void trace_recordWire(bool on);
  bool trace_isRecordingWire() const;
  void trace_addWire(const SimWireEvent& e);
  std::vector<SimWireEvent> trace_wire() const;

 private:
  mutable std::mutex mu;
  std::vector<SimTraceEntry> entries;
  bool recordingWire = false;
  std::vector<SimWireEvent> wire;
};
