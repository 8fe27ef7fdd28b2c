#include "sim/sim_bus.h"

#include <algorithm>

namespace {

const uint64_t kNever = UINT64_MAX;

}  // namespace

void SimBus::bus_byte(uint64_t startUs, uint8_t b, const SimLineFormat& f) {
  const uint64_t endUs = startUs + wire_byteUs(f);
  if (b == 0 && wire_zeroIsBreak(f)) {
    startBreak(startUs, wire_zeroLowUs(f), endUs);
  } else {
    cur.active = true;
    if (!wire_isDmx(f)) cur.garbled = true;
    if (cur.bytes.empty()) cur.dataUs = startUs;
    cur.bytes.push_back(b);
    cur.endUs = endUs;
  }
  SimWireEvent w;
  w.startUs = startUs;
  w.value = b;
  w.format = f;
  trace.trace_addWire(w);
}

void SimBus::bus_low(uint64_t startUs, uint64_t endUs) {
  // A break released before it could begin (the chip holds it back until
  // the byte in its shift register has left) never pulled the line low.
  if (endUs <= startUs) return;
  const uint32_t lowUs = (uint32_t)(endUs - startUs);
  if (endUs - startUs >= WIRE_MIN_BREAK_US)
    startBreak(startUs, lowUs, endUs);
  else
    bus_spoil();
  SimWireEvent w;
  w.startUs = startUs;
  w.lowUs = lowUs;
  w.format = wire_dmxFormat();
  trace.trace_addWire(w);
}

void SimBus::bus_spoil() {
  if (cur.active) cur.garbled = true;
}

void SimBus::startBreak(uint64_t startUs, uint32_t lowUs, uint64_t endUs) {
  if (cur.active) finish();
  cur.active = true;
  cur.withBreak = true;
  cur.breakUs = startUs;
  cur.breakLowUs = lowUs;
  cur.endUs = endUs;
}

uint64_t SimBus::bus_nextEventUs() const {
  uint64_t t = kNever;
  if (cur.active && !cur.bytes.empty()) t = cur.endUs + kIdleGapUs;
  if (!incoming.empty()) t = std::min(t, incoming.front().atUs);
  return t;
}

void SimBus::bus_settle(uint64_t nowUs) {
  if (cur.active && !cur.bytes.empty() && nowUs >= cur.endUs + kIdleGapUs) finish();
}

void SimBus::bus_flush() {
  if (cur.active) finish();
}

bool SimBus::bus_arrival(uint64_t untilUs, SimArrival& out) {
  if (incoming.empty() || incoming.front().atUs > untilUs) return false;
  out = incoming.front();
  incoming.pop_front();
  return true;
}

bool SimBus::bus_arrivalUs(size_t n, uint64_t& atUs) const {
  if (n == 0 || incoming.size() < n) return false;
  atUs = incoming[n - 1].atUs;
  return true;
}

void SimBus::bus_strayByte(uint64_t atUs, uint8_t b) {
  queueArrival(SimArrival{atUs, b, false});
  trace.trace_add(SimTraceEntry{'R', false, true, 0, atUs, atUs + kDmxByteUs, {b}});
  SimWireEvent w;
  w.startUs = atUs;
  w.value = b;
  w.format = wire_dmxFormat();
  trace.trace_addWire(w);
}

// Bytes that arrive at the same time keep the order they were queued in.
void SimBus::queueArrival(const SimArrival& a) {
  auto pos = std::upper_bound(incoming.begin(), incoming.end(), a.atUs,
                              [](uint64_t t, const SimArrival& r) { return t < r.atUs; });
  incoming.insert(pos, a);
}

void SimBus::finish() {
  Transmission t = cur;
  cur = Transmission();
  SimTraceEntry e{'T', t.withBreak, t.garbled, t.breakUs, t.dataUs, t.endUs, t.bytes};
  if (t.withBreak) {
    e.breakLowUs = t.breakLowUs;
    const uint64_t next = t.bytes.empty() ? t.endUs : t.dataUs;
    e.markUs = (uint32_t)(next - (t.breakUs + t.breakLowUs));
  }
  trace.trace_add(e);
  counters.transmissions++;
  if (t.withBreak) counters.breaks++;
  if (t.garbled) counters.framesGarbled++;
  if (t.withBreak && !t.garbled && !t.bytes.empty()) deliver(t);
}

void SimBus::deliver(const Transmission& t) {
  SimAnswer merged;
  int answers = 0;
  for (SimResponder* r : responders) {
    SimAnswer a;
    if (!r->sim_respond(t.bytes.data(), (int)t.bytes.size(), t.endUs, a)) continue;
    if (answers == 0) {
      merged = a;
    } else {
      // Answers that overlap on the line: one break, and the drivers fighting
      // over the bytes leave only the bits that all of them pulled low.
      merged.delayUs = std::min(merged.delayUs, a.delayUs);
      const int n = std::max(merged.count, a.count);
      for (int i = 0; i < n; i++) {
        const uint8_t x = i < merged.count ? merged.bytes[i] : 0xFF;
        const uint8_t y = i < a.count ? a.bytes[i] : 0xFF;
        merged.bytes[i] = x & y;
      }
      merged.count = n;
    }
    answers++;
  }
  if (answers > 0) queueAnswer(t.endUs + merged.delayUs, merged.bytes, merged.count, answers > 1);
}

// The answer's break reaches the converter as one 0x00 byte; each byte
// arrives when its stop bits end.
void SimBus::queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided) {
  SimTraceEntry e{'R', true, collided, atUs, atUs + kAnswerBreakUs, 0, {}};
  e.breakLowUs = kAnswerBreakLowUs;
  e.markUs = kAnswerMarkUs;
  SimWireEvent w;
  w.format = wire_dmxFormat();
  w.startUs = atUs;
  w.lowUs = kAnswerBreakLowUs;
  trace.trace_addWire(w);
  w.lowUs = 0;
  queueArrival(SimArrival{atUs + kAnswerBreakUs, 0x00, true});
  uint64_t t = atUs + kAnswerBreakUs;
  for (int i = 0; i < count; i++, t += kDmxByteUs) {
    if (i == dropIndex) {
      e.garbled = true;
      continue;
    }
    uint8_t b = bytes[i];
    if (i == corruptIndex) {
      b ^= 0x5A;
      e.garbled = true;
    }
    queueArrival(SimArrival{t + kDmxByteUs, b, false});
    e.bytes.push_back(b);
    w.startUs = t;
    w.value = b;
    trace.trace_addWire(w);
  }
  dropIndex = corruptIndex = -1;
  e.endUs = t;
  trace.trace_add(e);
  counters.answers++;
}
