#include "sim/sim_trace.h"

#include <cstdio>

void SimTrace::trace_add(const SimTraceEntry& e) {
  std::lock_guard<std::mutex> lock(mu);
  entries.push_back(e);
}

std::vector<SimTraceEntry> SimTrace::trace_entries() const {
  std::lock_guard<std::mutex> lock(mu);
  return entries;
}

std::vector<SimTraceEntry> SimTrace::trace_entries(char dir) const {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<SimTraceEntry> out;
  for (const SimTraceEntry& e : entries)
    if (e.dir == dir) out.push_back(e);
  return out;
}

void SimTrace::trace_clear() {
  std::lock_guard<std::mutex> lock(mu);
  entries.clear();
  wire.clear();
}

void SimTrace::trace_recordWire(bool on) {
  std::lock_guard<std::mutex> lock(mu);
  recordingWire = on;
}

bool SimTrace::trace_isRecordingWire() const {
  std::lock_guard<std::mutex> lock(mu);
  return recordingWire;
}

void SimTrace::trace_addWire(const SimWireEvent& e) {
  std::lock_guard<std::mutex> lock(mu);
  if (recordingWire) wire.push_back(e);
}

std::vector<SimWireEvent> SimTrace::trace_wire() const {
  std::lock_guard<std::mutex> lock(mu);
  return wire;
}

bool SimTrace::trace_write(const std::string& path) const {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  std::lock_guard<std::mutex> lock(mu);
  fprintf(f,
          "# dir break_us data_us end_us count [garbled] [low=break_low_us mab=mark_us] : "
          "bytes\n");
  for (const SimTraceEntry& e : entries) {
    if (e.withBreak)
      fprintf(f, "%c %llu ", e.dir, (unsigned long long)e.breakUs);
    else
      fprintf(f, "%c - ", e.dir);
    fprintf(f, "%llu %llu %zu%s", (unsigned long long)e.dataUs, (unsigned long long)e.endUs,
            e.bytes.size(), e.garbled ? " garbled" : "");
    if (e.withBreak) fprintf(f, " low=%u mab=%u", (unsigned)e.breakLowUs, (unsigned)e.markUs);
    fprintf(f, " :");
    for (uint8_t b : e.bytes) fprintf(f, " %02X", b);
    fprintf(f, "\n");
  }
  return fclose(f) == 0;
}
