// A time-stamped record of every transmission on the simulated line, in
// both directions.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct SimTraceEntry {
  char dir;           // 'T' from the converter, 'R' to it
  bool withBreak;     // a break preceded the bytes
  bool garbled;       // corrupted on the wire (rate change, collision, fault)
  uint64_t breakUs;   // start of the break (when withBreak)
  uint64_t dataUs;    // start of the first byte
  uint64_t endUs;     // end of the last byte
  std::vector<uint8_t> bytes;
};

class SimTrace {
 public:
  void trace_add(const SimTraceEntry& e);
  std::vector<SimTraceEntry> trace_entries() const;
  // Only the entries of one direction.
  std::vector<SimTraceEntry> trace_entries(char dir) const;
  void trace_clear();
  // One line per entry:
  //   <dir> <break_us|-> <data_us> <end_us> <count> [garbled] : <hex bytes>
  bool trace_write(const std::string& path) const;

 private:
  mutable std::mutex mu;
  std::vector<SimTraceEntry> entries;
};
