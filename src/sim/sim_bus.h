// The DMX bus between one converter and the virtual devices on it. The
// converter puts bytes on it with the times and format they go out at; the
// bus cuts them into break-delimited transmissions, records each in the
// trace with its break and mark, offers every complete one the wire did not
// garble to every responder, merges answers that overlap on the line, and
// holds each answer's break and bytes until they reach the converter's
// receiver. The simulated converter (SimLine) and the model USB chip of the
// USB tests both drive it, so that both see the same line.
//
// The bus keeps no lock of its own: its owner calls it under the lock that
// guards the converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/sim_trace.h"
#include "sim/sim_wire.h"

// What a responder sends back to one transmission.
struct SimAnswer {
  enum { MAX_BYTES = 300 };
  uint32_t delayUs = 2000;  // turnaround after the end of the transmission
  uint8_t bytes[MAX_BYTES];
  int count = 0;  // bytes after the break; 0 answers with the break alone
};

// A device on the line. It sees every complete transmission that was not
// garbled on the wire, as the bytes that followed its break.
class SimResponder {
 public:
  virtual ~SimResponder() = default;
  // Returns true and fills `answer` to answer this transmission.
  virtual bool sim_respond(const uint8_t* data, int count, uint64_t endUs, SimAnswer& answer) = 0;
};

// What the bus counted since it was made.
struct SimBusCounters {
  long transmissions = 0;  // from the converter, break-delimited
  long breaks = 0;         // breaks the converter sent
  long framesGarbled = 0;  // transmissions the wire garbled
  long answers = 0;        // answers that came back (collisions count once)
};

// One byte on its way to the converter's receiver.
struct SimArrival {
  uint64_t atUs = 0;  // when its stop bits end
  uint8_t value = 0;
  bool isBreak = false;  // a device's break, read as 0x00
};

class SimBus {
 public:
  // Wire timing.
  static constexpr uint32_t kIdleGapUs = 1000;        // silence that ends a transmission
  static constexpr uint32_t kAnswerBreakLowUs = 176;  // a device's break: twice the minimum
  static constexpr uint32_t kAnswerMarkUs = 24;       // and its mark after break
  static constexpr uint32_t kAnswerBreakUs = kAnswerBreakLowUs + kAnswerMarkUs;
  static constexpr uint32_t kDmxByteUs = 44;  // 11 bits at 250000 baud

  void bus_addResponder(SimResponder* r) { responders.push_back(r); }
  void bus_clearResponders() { responders.clear(); }

  // The converter puts `b` on the wire from `startUs` at format `f`. A 0x00
  // that holds the line low long enough is a break and begins a new
  // transmission; any other byte belongs to the current one, which the
  // devices cannot read unless every byte went out in the DMX format.
  void bus_byte(uint64_t startUs, uint8_t b, const SimLineFormat& f);
  // The converter held the line low over [startUs, endUs) (its break
  // condition): a break when long enough, else a glitch that garbles what
  // is on the line; an empty stretch is nothing.
  void bus_low(uint64_t startUs, uint64_t endUs);
  // The byte on the wire was cut short, or its rate or format changed
  // under it: the transmission in progress is garbled.
  void bus_spoil();

  // When the bus next has something to do by itself: the transmission ends
  // after the idle gap, or a byte reaches the converter.
  uint64_t bus_nextEventUs() const;
  // Ends the transmission once the idle gap has passed by `nowUs`,
  // delivering it to the responders.
  void bus_settle(uint64_t nowUs);
  // Ends the transmission in progress now (the end of a test or a run).
  void bus_flush();

  // Takes the next byte that reaches the converter by `untilUs`.
  bool bus_arrival(uint64_t untilUs, SimArrival& out);
  // When the n-th byte (from 1) still on its way arrives; false when fewer
  // are coming.
  bool bus_arrivalUs(size_t n, uint64_t& atUs) const;
  // Forgets the bytes still on their way (the converter stopped listening).
  void bus_dropArrivals() { incoming.clear(); }

  // Faults on demand.
  void bus_dropAnswerByte(int index) { dropIndex = index; }     // of the next answer
  void bus_corruptAnswerByte(int index) { corruptIndex = index; }  // flipped
  void bus_strayByte(uint64_t atUs, uint8_t b);  // arrives at `atUs` from nowhere

  SimTrace& bus_trace() { return trace; }
  const SimBusCounters& bus_counters() const { return counters; }

 private:
  struct Transmission {
    bool active = false;     // bytes or a break have started it
    bool withBreak = false;  // a break began it
    bool garbled = false;    // the line format, a rate change or a reset spoiled it
    uint64_t breakUs = 0;    // when the break began
    uint32_t breakLowUs = 0; // how long it held the line low
    uint64_t dataUs = 0;     // when the first data byte began
    uint64_t endUs = 0;      // when the last byte ended
    std::vector<uint8_t> bytes;
  };

  void startBreak(uint64_t startUs, uint32_t lowUs, uint64_t endUs);
  void finish();
  void deliver(const Transmission& t);
  void queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided);
  void queueArrival(const SimArrival& a);

  std::vector<SimResponder*> responders;
  SimTrace trace;
  SimBusCounters counters;
  Transmission cur;
  std::deque<SimArrival> incoming;  // on their way, by arrival time
  int dropIndex = -1;
  int corruptIndex = -1;
};
