// A simulated line with virtual devices built one by one, for the tests of
// the device commands: the port backend set, the device table and the
// packet receiver empty, and the line's transmissions picked by request.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/devices.h"
#include "device/handlers.h"
#include "link/cable.h"
#include "platform/ftd2xx.h"
#include "protocol/packet_parser.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

class DeviceLine {
 public:
  SimLine line;
  std::vector<std::unique_ptr<SimDevice>> devices;

  DeviceLine() {
    ftd2xx_setBackend(&line);
    dev_removeAll();
    packet_resetReceiver();
  }
  ~DeviceLine() {
    cable_free();
    ftd2xx_setBackend(nullptr);
  }
  SimDevice& add(uint32_t uid) {
    devices.emplace_back(new SimDevice(uid));
    line.sim_addResponder(devices.back().get());
    return *devices.back();
  }
  // The converter's transmissions whose payload starts with these bytes.
  std::vector<SimTraceEntry> sent(std::vector<uint8_t> payloadStart) {
    line.sim_settle();
    std::vector<SimTraceEntry> out;
    for (const SimTraceEntry& e : line.sim_trace().trace_entries('T')) {
      if (e.bytes.size() < 19 + payloadStart.size()) continue;
      bool match = true;
      for (size_t i = 0; i < payloadStart.size(); i++) match = match && e.bytes[19 + i] == payloadStart[i];
      if (match) out.push_back(e);
    }
    return out;
  }
};

// Number of times `needle` occurs in `text`.
inline int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

// Hands one answer frame to the command modules' answer handlers through an
// empty packet receiver.
inline void feedAnswer(const std::vector<uint8_t>& frame) {
  handlers_register();
  packet_resetReceiver();
  packet_receive(frame.data(), (int)frame.size());
}

// Runs f, keeping what it printed on standard output in `console`; returns
// f's result.
template <typename F>
int runCapturing(F f, std::string& console) {
  testing::internal::CaptureStdout();
  const int r = f();
  console = testing::internal::GetCapturedStdout();
  return r;
}
