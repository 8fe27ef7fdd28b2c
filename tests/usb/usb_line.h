// The DMX line behind the model chip: the simulator's bus (src/sim/sim_bus.h)
// with its virtual devices, wire timing and trace, driven byte by byte by the
// chip instead of by the simulated converter, so that both see the same
// line. The caller drives time: it hands over bytes in the order they start
// and settles the line up to its present; the bus does not lock, the chip
// calls it under its own lock.
#pragma once

#include <cstdint>

#include "sim/sim_bus.h"
#include "sim/sim_trace.h"
#include "sim/sim_wire.h"

class UsbLine {
 public:
  void line_addResponder(SimResponder* r) { bus.bus_addResponder(r); }

  // The chip puts `b` on the wire from `startUs` at format `f`.
  void line_byte(uint64_t startUs, uint8_t b, const SimLineFormat& f) {
    bus.bus_byte(startUs, b, f);
  }
  // The chip held the line low over [startUs, endUs) (its break condition).
  void line_low(uint64_t startUs, uint64_t endUs) { bus.bus_low(startUs, endUs); }
  // The byte on the wire was cut short, or its rate or format changed under it.
  void line_spoil() { bus.bus_spoil(); }

  // When the line next has something to do by itself: the current
  // transmission ends after the idle gap, or a byte reaches the chip.
  uint64_t line_nextEventUs() const { return bus.bus_nextEventUs(); }
  // Ends the transmission when the idle gap has passed by `nowUs`,
  // delivering it to the responders.
  void line_settle(uint64_t nowUs) { bus.bus_settle(nowUs); }
  // Takes the next byte that reaches the chip's receiver by `untilUs`.
  bool line_arrival(uint64_t untilUs, SimArrival& out) { return bus.bus_arrival(untilUs, out); }
  // Ends the transmission in progress now (the end of a test).
  void line_flush() { bus.bus_flush(); }

  SimTrace& line_trace() { return bus.bus_trace(); }
  long line_transmissions() const { return bus.bus_counters().transmissions; }
  long line_garbled() const { return bus.bus_counters().framesGarbled; }

 private:
  SimBus bus;
};
