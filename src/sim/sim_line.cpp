#include "sim/sim_line.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace {

// A 0x00 byte holds the line low for 9 bit times; at rates up to this one
// that is at least the 88 us a receiver takes as a break.
const ULONG kMaxBreakBaud = 100000;

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

void SimLine::sim_setPlugged(bool p) {
  std::lock_guard<std::mutex> lock(mu);
  plugged = p;
  if (!p) {
    isOpen = false;
    rx.clear();
  }
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
  auto pos = std::upper_bound(rx.begin(), rx.end(), atUs,
                              [](uint64_t t, const RxByte& r) { return t < r.atUs; });
  rx.insert(pos, RxByte{atUs, b});
  trace.trace_add(SimTraceEntry{'R', false, true, 0, atUs, atUs + kDmxByteUs, {b}});
}

void SimLine::sim_settle() {
  std::lock_guard<std::mutex> lock(mu);
  settleAt(clock_nowUs());
  if (cur.active) finishTransmission();
}

uint32_t SimLine::byteTimeUs() const {
  // Start bit, 8 data bits, 2 stop bits.
  return baud ? (uint32_t)((11ull * 1000000ull + baud - 1) / baud) : 1000;
}

bool SimLine::isBreakRate() const { return baud <= kMaxBreakBaud; }

FT_STATUS SimLine::enter(FT_HANDLE h, uint64_t& now) {
  if (!plugged) return FT_IO_ERROR;
  if (h != handle() || !isOpen) return FT_INVALID_HANDLE;
  clock_chargeUs(kUsbRoundTripUs);
  now = clock_nowUs();
  settleAt(now);
  return FT_OK;
}

void SimLine::pruneTx(uint64_t now) {
  while (!txEnds.empty() && txEnds.front() <= now) txEnds.pop_front();
}

void SimLine::settleAt(uint64_t now) {
  pruneTx(now);
  if (cur.active && !cur.bytes.empty() && now >= cur.endUs + kIdleGapUs) finishTransmission();
}

void SimLine::finishTransmission() {
  Transmission t = cur;
  cur = Transmission();
  trace.trace_add(
      SimTraceEntry{'T', t.withBreak, t.garbled, t.breakUs, t.dataUs, t.endUs, t.bytes});
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
  // The break reaches the converter as one 0x00 byte.
  rx.push_back(RxByte{atUs + kAnswerBreakUs, 0x00});
  uint64_t t = atUs + kAnswerBreakUs;
  for (int i = 0; i < count; i++) {
    t += kDmxByteUs;
    if (i == dropIndex) {
      e.garbled = true;
      continue;
    }
    uint8_t b = bytes[i];
    if (i == corruptIndex) {
      b ^= 0x5A;
      e.garbled = true;
    }
    rx.push_back(RxByte{t, b});
    e.bytes.push_back(b);
  }
  dropIndex = corruptIndex = -1;
  e.endUs = t;
  std::stable_sort(rx.begin(), rx.end(),
                   [](const RxByte& a, const RxByte& b) { return a.atUs < b.atUs; });
  trace.trace_add(e);
}

DWORD SimLine::port_libraryVersion() { return 0x00010500; }

FT_STATUS SimLine::port_list(PortDeviceInfo* out, int capacity, int& count) {
  std::lock_guard<std::mutex> lock(mu);
  clock_chargeUs(kUsbRoundTripUs);
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
  std::lock_guard<std::mutex> lock(mu);
  clock_chargeUs(kUsbRoundTripUs);
  if (!plugged || strcmp(serial, sim_serial()) != 0) return FT_DEVICE_NOT_FOUND;
  if (isOpen) return FT_DEVICE_NOT_OPENED;  // D2XX refuses a second open
  isOpen = true;
  opens++;
  rx.clear();
  *h = handle();
  return FT_OK;
}

FT_STATUS SimLine::port_close(FT_HANDLE h) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  isOpen = false;
  rx.clear();
  return FT_OK;
}

FT_STATUS SimLine::port_reset(FT_HANDLE h) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  // The chip purges both queues; a byte still on its way out is cut short.
  if (!txEnds.empty() && cur.active) cur.garbled = true;
  txEnds.clear();
  txBusyUntil = now;
  rx.clear();
  baud = 9600;
  return FT_OK;
}

FT_STATUS SimLine::port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st == FT_OK) readTimeoutMs = readMs;
  return st;
}

FT_STATUS SimLine::port_setBaudRate(FT_HANDLE h, ULONG rate) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  if (rate == 0) return FT_INVALID_BAUD_RATE;
  // Switching while bytes are still going out spoils them, as on a real chip.
  if (!txEnds.empty() && cur.active) cur.garbled = true;
  baud = rate;
  return FT_OK;
}

FT_STATUS SimLine::port_setDataCharacteristics(FT_HANDLE h, UCHAR, UCHAR, UCHAR) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  return enter(h, now);
}

FT_STATUS SimLine::port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  const uint32_t bt = byteTimeUs();
  for (DWORD i = 0; i < n; i++) {
    const uint64_t start = std::max(now, txBusyUntil);
    const uint64_t end = start + bt;
    if (isBreakRate() && data[i] == 0) {
      if (cur.active) finishTransmission();
      cur.active = true;
      cur.withBreak = true;
      cur.breakUs = start;
      cur.endUs = end;
    } else {
      if (!cur.active) cur.active = true;  // bytes with no break before them
      if (baud != 250000) cur.garbled = true;
      if (cur.bytes.empty()) cur.dataUs = start;
      cur.bytes.push_back(data[i]);
      cur.endUs = end;
    }
    txEnds.push_back(end);
    txBusyUntil = end;
  }
  written = n;
  return FT_OK;
}

FT_STATUS SimLine::port_status(FT_HANDLE h, DWORD& rxCount, DWORD& txCount, DWORD& event) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  DWORD ready = 0;
  for (const RxByte& r : rx) {
    if (r.atUs > now) break;
    ready++;
  }
  rxCount = ready;
  txCount = (DWORD)txEnds.size();
  if (stuck && txCount == 0) txCount = 1;
  event = 0;
  return FT_OK;
}

FT_STATUS SimLine::port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) {
  std::lock_guard<std::mutex> lock(mu);
  uint64_t now;
  FT_STATUS st = enter(h, now);
  if (st != FT_OK) return st;
  // Wait, as the driver does, until n bytes are in or the read timeout ends.
  uint64_t until = now + (uint64_t)readTimeoutMs * 1000u;
  if (n > 0 && rx.size() >= n && rx[n - 1].atUs <= until) until = std::max(now, rx[n - 1].atUs);
  if (until > now) {
    clock_sleepUs(until - now);
    settleAt(until);
  }
  got = 0;
  while (got < n && !rx.empty() && rx.front().atUs <= until) {
    buf[got++] = rx.front().value;
    rx.pop_front();
  }
  return FT_OK;
}
