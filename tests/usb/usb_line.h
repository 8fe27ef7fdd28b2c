// The DMX line behind the model chip: the same virtual devices, wire timing
// and trace as tern-curve-sim's simulated line (src/sim), driven byte by
// byte by the chip instead of by the simulated converter. Bytes the chip
// puts on the wire are cut into break-delimited transmissions exactly as
// the simulator cuts them, offered to every responder unless the wire
// garbled them, and the answers come back as a break and bytes with the
// times at which they reach the chip's receiver. The caller drives time:
// it hands over bytes in the order they start and settles the line up to
// its present.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/sim_line.h"
#include "sim/sim_trace.h"
#include "sim/sim_wire.h"

// One byte reaching the chip's receiver.
struct UsbRxByte {
  uint64_t atUs = 0;   // when its stop bits end
  uint8_t value = 0;
  bool isBreak = false;  // a device's break, read as 0x00
};

class UsbLine {
 public:
  void line_addResponder(SimResponder* r) { responders.push_back(r); }

  // The chip puts `b` on the wire from `startUs` at format `f`.
  void line_byte(uint64_t startUs, uint8_t b, const SimLineFormat& f);
  // The chip held the line low over [startUs, endUs) (its break condition).
  void line_low(uint64_t startUs, uint64_t endUs);
  // The byte on the wire was cut short, or its rate or format changed under it.
  void line_spoil();

  // When the line next has something to do by itself: the current
  // transmission ends after the idle gap, or a byte reaches the chip.
  uint64_t line_nextEventUs() const;
  // Ends the transmission when the idle gap has passed by `nowUs`,
  // delivering it to the responders.
  void line_settle(uint64_t nowUs);
  // Takes the next byte that reaches the chip by `untilUs`.
  bool line_arrival(uint64_t untilUs, UsbRxByte& out);
  // Ends the transmission in progress now (the end of a test).
  void line_flush();

  SimTrace& line_trace() { return trace; }
  long line_transmissions() const { return transmissions; }
  long line_garbled() const { return garbled; }

 private:
  struct Transmission {
    bool active = false;
    bool withBreak = false;
    bool garbled = false;
    uint64_t breakUs = 0;
    uint32_t breakLowUs = 0;
    uint64_t dataUs = 0;
    uint64_t endUs = 0;
    std::vector<uint8_t> bytes;
  };

  void startBreak(uint64_t startUs, uint32_t lowUs, uint64_t endUs);
  void finish();
  void deliver(const Transmission& t);
  void queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided);

  std::vector<SimResponder*> responders;
  SimTrace trace;
  Transmission cur;
  std::deque<UsbRxByte> incoming;  // by arrival time
  long transmissions = 0;
  long garbled = 0;
};
