#include "sim/sim_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace {

// FTDI FT232R, as a real converter lists.
const DWORD kDeviceType = 5;
const DWORD kDeviceId = 0x04036001;

}  // namespace

SimLine::SimLine() = default;

void SimLine::sim_addResponder(SimResponder* r) {
  std::lock_guard<std::mutex> lock(mu);
  responders.push_back(r);
}

void SimLine::sim_clearResponders() {
  std::lock_guard<std::mutex> lock(mu);
  responders.clear();
}

void SimLine::sim_setRxCapacity(int bytes) {
  std::lock_guard<std::mutex> lock(mu);
  rxCapacity = std::max(1, bytes);
}

SimConverterCounters SimLine::sim_counters() const {
  std::lock_guard<std::mutex> lock(mu);
  SimConverterCounters c = counters;
  c.rxCapacity = rxCapacity;
  return c;
}

SimJson SimLine::sim_countersJson() const {
  const SimConverterCounters c = sim_counters();
  return {{"rxCapacity", c.rxCapacity}, {"rxOverflowBytes", c.rxOverflowBytes},
          {"transmissions", c.transmissions}, {"breaks", c.breaks},
          {"framesGarbled", c.framesGarbled}, {"answers", c.answers}};
}

SimLineFormat SimLine::sim_lineFormat() const {
  std::lock_guard<std::mutex> lock(mu);
  return format;
}

void SimLine::sim_setPlugged(bool p) {
  std::lock_guard<std::mutex> lock(mu);
  plugged = p;
  if (!p) {
    isOpen = false;
    clearRx();
  }
}

void SimLine::sim_unplugAfterFrames(long frames) {
  std::lock_guard<std::mutex> lock(mu);
  framesUntilUnplug = frames;
  if (frames == 0) unplugNow();
}

void SimLine::unplugNow() {
  plugged = false;
  isOpen = false;
  clearRx();
}

void SimLine::sim_setHeldElsewhere(bool h) {
  std::lock_guard<std::mutex> lock(mu);
  held = h;
}

void SimLine::sim_setTransmitterStuck(bool s) {
  std::lock_guard<std::mutex> lock(mu);
  stuck = s;
}

void SimLine::sim_dropAnswerByte(int index) {
  std::lock_guard<std::mutex> lock(mu);
  dropIndex = index;
}

void SimLine::sim_corruptAnswerByte(int index) {
  std::lock_guard<std::mutex> lock(mu);
  corruptIndex = index;
}

void SimLine::sim_injectByte(uint64_t atUs, uint8_t b) {
  std::lock_guard<std::mutex> lock(mu);
  queueRx(atUs, b);
  trace.trace_add(SimTraceEntry{'R', false, true, 0, atUs, atUs + kDmxByteUs, {b}});
  SimWireEvent w;
  w.startUs = atUs;
  w.value = b;
  w.format = wire_dmxFormat();
  trace.trace_addWire(w);
}

void SimLine::sim_settle() {
  std::lock_guard<std::mutex> lock(mu);
  settleAt(clock_nowUs());
  if (cur.active) finishTransmission();
}

FT_STATUS SimLine::enter(FT_HANDLE h, uint64_t& now) {
  if (!plugged) return FT_IO_ERROR;
  if (h != handle() || !isOpen) return FT_INVALID_HANDLE;
  now = clock_nowUs();
  settleAt(now);
  return FT_OK;
}

void SimLine::settleAt(uint64_t now) {
  while (!txEnds.empty() && txEnds.front() <= now) txEnds.pop_front();
  if (cur.active && !cur.bytes.empty() && now >= cur.endUs + kIdleGapUs) finishTransmission();
  arriveUntil(now);
}

// Moves the bytes that have arrived by `now` into the receive queue, in
// order; those that find it full are lost.
void SimLine::arriveUntil(uint64_t now) {
  while (!incoming.empty() && incoming.front().atUs <= now) {
    if ((int)rx.size() < rxCapacity)
      rx.push_back(incoming.front().value);
    else
      counters.rxOverflowBytes++;
    incoming.pop_front();
  }
}

void SimLine::queueRx(uint64_t atUs, uint8_t b) {
  auto pos = std::upper_bound(incoming.begin(), incoming.end(), atUs,
                              [](uint64_t t, const RxByte& r) { return t < r.atUs; });
  incoming.insert(pos, RxByte{atUs, b});
}

void SimLine::clearRx() {
  incoming.clear();
  rx.clear();
}

void SimLine::finishTransmission() {
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

void SimLine::deliver(const Transmission& t) {
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
      int n = std::max(merged.count, a.count);
      for (int i = 0; i < n; i++) {
        uint8_t x = i < merged.count ? merged.bytes[i] : 0xFF;
        uint8_t y = i < a.count ? a.bytes[i] : 0xFF;
        merged.bytes[i] = x & y;
      }
      merged.count = n;
    }
    answers++;
  }
  if (answers > 0) queueAnswer(t.endUs + merged.delayUs, merged.bytes, merged.count, answers > 1);
}

void SimLine::queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided) {
  SimTraceEntry e{'R', true, collided, atUs, atUs + kAnswerBreakUs, 0, {}};
  e.breakLowUs = kAnswerBreakLowUs;
  e.markUs = kAnswerMarkUs;
  SimWireEvent w;
  w.format = wire_dmxFormat();
  w.startUs = atUs;
  w.lowUs = kAnswerBreakLowUs;
  trace.trace_addWire(w);
  w.lowUs = 0;
  // The break reaches the converter as one 0x00 byte; each byte arrives
  // when its stop bits end.
  queueRx(atUs + kAnswerBreakUs, 0x00);
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
    queueRx(t + kDmxByteUs, b);
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

DWORD SimLine::port_libraryVersion() { return 0x00010500; }

FT_STATUS SimLine::port_list(PortDeviceInfo* out, int capacity, int& count) {
  clock_chargeUs(kListUs);
  std::lock_guard<std::mutex> lock(mu);
  count = 0;
  if (!plugged || capacity < 1) return FT_OK;
  PortDeviceInfo& d = out[0];
  memset(&d, 0, sizeof d);
  d.flags = isOpen ? 1 : 0;
  d.type = kDeviceType;
  d.id = kDeviceId;
  d.locId = 0x11;
  strncpy(d.serial, sim_serial(), sizeof d.serial - 1);
  strncpy(d.description, sim_description(), sizeof d.description - 1);
  count = 1;
  return FT_OK;
}

FT_STATUS SimLine::port_open(const char* serial, FT_HANDLE* h) {
  clock_chargeUs(kOpenUs);
  std::lock_guard<std::mutex> lock(mu);
  if (!plugged || strcmp(serial, sim_serial()) != 0) return FT_DEVICE_NOT_FOUND;
  if (isOpen || held) return FT_DEVICE_NOT_OPENED;  // D2XX refuses a second open
  isOpen = true;
  opens++;
  clearRx();
  *h = handle();
  return FT_OK;
}

FT_STATUS SimLine::port_close(FT_HANDLE h) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  isOpen = false;
  clearRx();
  return FT_OK;
}

FT_STATUS SimLine::port_reset(FT_HANDLE h) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  // The chip purges both queues; a byte still on its way out is cut short.
  if (!txEnds.empty() && cur.active) cur.garbled = true;
  txEnds.clear();
  txBusyUntil = now;
  clearRx();
  format = SimLineFormat();  // 9600 baud, 8N1, as after power-up
  return FT_OK;
}

FT_STATUS SimLine::port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG) {
  clock_chargeUs(kDriverCallUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st == FT_OK) readTimeoutMs = readMs;
  return st;
}

FT_STATUS SimLine::port_setBaudRate(FT_HANDLE h, ULONG rate) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  if (rate == 0) return FT_INVALID_BAUD_RATE;
  // Switching while bytes are still going out spoils them, as on a real chip.
  if (!txEnds.empty() && cur.active) cur.garbled = true;
  format.baud = rate;
  return FT_OK;
}

FT_STATUS SimLine::port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                               UCHAR parity) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  if (!wire_validCharacteristics(bits, stop, parity)) return FT_INVALID_PARAMETER;
  // Like a rate change, a format change spoils the bytes still going out.
  if (!txEnds.empty() && cur.active) cur.garbled = true;
  format.dataBits = bits;
  format.stopBits = stop;
  format.parity = parity;
  return FT_OK;
}

// Puts one byte on the wire from `start`. A 0x00 long enough to be a break
// begins a new transmission; any other byte belongs to the current one, which
// the devices cannot read unless every byte went out in the DMX format.
void SimLine::writeByte(uint64_t start, uint8_t b) {
  const uint64_t end = start + wire_byteUs(format);
  if (b == 0 && wire_zeroIsBreak(format)) {
    if (cur.active) finishTransmission();
    cur.active = true;
    cur.withBreak = true;
    cur.breakUs = start;
    cur.breakLowUs = wire_zeroLowUs(format);
  } else {
    cur.active = true;
    if (!wire_isDmx(format)) cur.garbled = true;
    if (cur.bytes.empty()) cur.dataUs = start;
    cur.bytes.push_back(b);
  }
  cur.endUs = end;
  txEnds.push_back(end);
  txBusyUntil = end;
  SimWireEvent w;
  w.startUs = start;
  w.value = b;
  w.format = format;
  trace.trace_addWire(w);
}

FT_STATUS SimLine::port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  for (DWORD i = 0; i < n; i++) writeByte(std::max(now, txBusyUntil), data[i]);
  written = n;
  // Pulled right after its last allowed frame: what follows fails.
  if (n > 1 && framesUntilUnplug > 0 && --framesUntilUnplug == 0) unplugNow();
  return FT_OK;
}

FT_STATUS SimLine::port_status(FT_HANDLE h, DWORD& rxCount, DWORD& txCount, DWORD& event) {
  clock_chargeUs(kUsbRoundTripUs);
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  rxCount = (DWORD)rx.size();
  txCount = (DWORD)txEnds.size();
  if (stuck && txCount == 0) txCount = 1;
  event = 0;
  return FT_OK;
}

FT_STATUS SimLine::port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) {
  got = 0;
  std::unique_lock<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  // Wait, as the driver does, until n bytes are in or the read timeout ends;
  // a read takes one round trip at least.
  const uint64_t minEnd = now + kUsbRoundTripUs;
  uint64_t until = std::max(minEnd, now + (uint64_t)readTimeoutMs * 1000u);
  const size_t need = n > rx.size() ? n - rx.size() : 0;
  if (need == 0)
    until = minEnd;
  else if (incoming.size() >= need && incoming[need - 1].atUs <= until)
    until = std::max(minEnd, incoming[need - 1].atUs);
  // The clock is not waited on under the line's lock: the time belongs to
  // the caller, not to the line.
  lock.unlock();
  clock_sleepUs(until - now);
  lock.lock();
  if (!isOpen) return FT_IO_ERROR;
  settleAt(until);
  while (got < n && !rx.empty()) {
    buf[got++] = rx.front();
    rx.pop_front();
  }
  return FT_OK;
}
