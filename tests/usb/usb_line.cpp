#include "usb_line.h"

#include <algorithm>

namespace {

const uint64_t kNever = UINT64_MAX;

}  // namespace

void UsbLine::startBreak(uint64_t startUs, uint32_t lowUs, uint64_t endUs) {
  if (cur.active) finish();
  cur.active = true;
  cur.withBreak = true;
  cur.breakUs = startUs;
  cur.breakLowUs = lowUs;
  cur.endUs = endUs;
}

// As the simulated line: a 0x00 that holds the line low long enough is a
// break and begins a transmission; any other byte belongs to the current
// one, which the devices cannot read unless every byte went out as DMX.
void UsbLine::line_byte(uint64_t startUs, uint8_t b, const SimLineFormat& f) {
  const uint64_t endUs = startUs + wire_byteUs(f);
  SimWireEvent w;
  w.startUs = startUs;
  w.value = b;
  w.format = f;
  trace.trace_addWire(w);
  if (b == 0 && wire_zeroIsBreak(f)) {
    startBreak(startUs, wire_zeroLowUs(f), endUs);
    return;
  }
  cur.active = true;
  if (!wire_isDmx(f)) cur.garbled = true;
  if (cur.bytes.empty()) cur.dataUs = startUs;
  cur.bytes.push_back(b);
  cur.endUs = endUs;
}

void UsbLine::line_low(uint64_t startUs, uint64_t endUs) {
  SimWireEvent w;
  w.startUs = startUs;
  w.lowUs = (uint32_t)(endUs - startUs);
  w.format = wire_dmxFormat();
  trace.trace_addWire(w);
  if (endUs - startUs >= WIRE_MIN_BREAK_US)
    startBreak(startUs, (uint32_t)(endUs - startUs), endUs);
  else
    line_spoil();  // too short for a break: a glitch in whatever is on the line
}

void UsbLine::line_spoil() {
  if (cur.active) cur.garbled = true;
}

uint64_t UsbLine::line_nextEventUs() const {
  uint64_t t = kNever;
  if (cur.active && !cur.bytes.empty()) t = cur.endUs + SimLine::kIdleGapUs;
  if (!incoming.empty()) t = std::min(t, incoming.front().atUs);
  return t;
}

void UsbLine::line_settle(uint64_t nowUs) {
  if (cur.active && !cur.bytes.empty() && nowUs >= cur.endUs + SimLine::kIdleGapUs) finish();
}

bool UsbLine::line_arrival(uint64_t untilUs, UsbRxByte& out) {
  if (incoming.empty() || incoming.front().atUs > untilUs) return false;
  out = incoming.front();
  incoming.pop_front();
  return true;
}

void UsbLine::line_flush() {
  if (cur.active) finish();
}

void UsbLine::finish() {
  Transmission t = cur;
  cur = Transmission();
  SimTraceEntry e{'T', t.withBreak, t.garbled, t.breakUs, t.dataUs, t.endUs, t.bytes};
  if (t.withBreak) {
    e.breakLowUs = t.breakLowUs;
    const uint64_t next = t.bytes.empty() ? t.endUs : t.dataUs;
    e.markUs = (uint32_t)(next - (t.breakUs + t.breakLowUs));
  }
  trace.trace_add(e);
  transmissions++;
  if (t.garbled) garbled++;
  if (t.withBreak && !t.garbled && !t.bytes.empty()) deliver(t);
}

// Every responder hears the transmission; answers that overlap on the line
// give one break, and the bytes keep only the bits all drivers pulled low.
void UsbLine::deliver(const Transmission& t) {
  SimAnswer merged;
  int answers = 0;
  for (SimResponder* r : responders) {
    SimAnswer a;
    if (!r->sim_respond(t.bytes.data(), (int)t.bytes.size(), t.endUs, a)) continue;
    if (answers == 0) {
      merged = a;
    } else {
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

// The answer's break reaches the receiver as one 0x00 byte; each byte
// arrives when its stop bits end. The timing is the simulated line's.
void UsbLine::queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided) {
  SimTraceEntry e{'R', true, collided, atUs, atUs + SimLine::kAnswerBreakUs, 0, {}};
  e.breakLowUs = SimLine::kAnswerBreakLowUs;
  e.markUs = SimLine::kAnswerMarkUs;
  SimWireEvent w;
  w.format = wire_dmxFormat();
  w.startUs = atUs;
  w.lowUs = SimLine::kAnswerBreakLowUs;
  trace.trace_addWire(w);
  w.lowUs = 0;
  std::vector<UsbRxByte> arriving;
  arriving.push_back(UsbRxByte{atUs + SimLine::kAnswerBreakUs, 0x00, true});
  uint64_t t = atUs + SimLine::kAnswerBreakUs;
  for (int i = 0; i < count; i++, t += SimLine::kDmxByteUs) {
    arriving.push_back(UsbRxByte{t + SimLine::kDmxByteUs, bytes[i], false});
    e.bytes.push_back(bytes[i]);
    w.startUs = t;
    w.value = bytes[i];
    trace.trace_addWire(w);
  }
  e.endUs = t;
  trace.trace_add(e);
  for (const UsbRxByte& b : arriving) {
    auto pos = std::upper_bound(incoming.begin(), incoming.end(), b.atUs,
                                [](uint64_t at, const UsbRxByte& r) { return at < r.atUs; });
    incoming.insert(pos, b);
  }
}
