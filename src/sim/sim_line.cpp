#include "sim/sim_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "sim/sim_claim.h"

namespace {

// FTDI FT232R, as a real converter lists.
const DWORD kDeviceType = 5;
const DWORD kDeviceId = 0x04036001;

}  // namespace

SimLine::SimLine() = default;

SimLine::~SimLine() { claim_release(claimFd); }

void SimLine::sim_setSerial(const std::string& s) {
  std::lock_guard<std::mutex> lock(mu);
  serial = s;
}

void SimLine::sim_claimAcrossProcesses(bool on) {
  std::lock_guard<std::mutex> lock(mu);
  claims = on;
}

void SimLine::port_releaseIdle() {
  std::lock_guard<std::mutex> lock(mu);
  if (isOpen) return;
  claim_release(claimFd);
  claimFd = -1;
}

void SimLine::sim_addResponder(SimResponder* r) {
  std::lock_guard<std::mutex> lock(mu);
  bus.bus_addResponder(r);
}

void SimLine::sim_clearResponders() {
  std::lock_guard<std::mutex> lock(mu);
  bus.bus_clearResponders();
}

void SimLine::sim_setRxCapacity(int bytes) {
  std::lock_guard<std::mutex> lock(mu);
  rxCapacity = std::max(1, bytes);
}

SimConverterCounters SimLine::sim_counters() const {
  std::lock_guard<std::mutex> lock(mu);
  const SimBusCounters& b = bus.bus_counters();
  SimConverterCounters c;
  c.rxCapacity = rxCapacity;
  c.rxOverflowBytes = rxOverflowBytes;
  c.transmissions = b.transmissions;
  c.breaks = b.breaks;
  c.framesGarbled = b.framesGarbled;
  c.answers = b.answers;
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
  bus.bus_dropAnswerByte(index);
}

void SimLine::sim_corruptAnswerByte(int index) {
  std::lock_guard<std::mutex> lock(mu);
  bus.bus_corruptAnswerByte(index);
}

void SimLine::sim_injectByte(uint64_t atUs, uint8_t b) {
  std::lock_guard<std::mutex> lock(mu);
  bus.bus_strayByte(atUs, b);
}

void SimLine::sim_settle() {
  std::lock_guard<std::mutex> lock(mu);
  settleAt(clock_nowUs());
  bus.bus_flush();
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
  bus.bus_settle(now);
  arriveUntil(now);
}

// Moves the bytes that have arrived by `now` into the receive queue, in
// order; those that find it full are lost.
void SimLine::arriveUntil(uint64_t now) {
  SimArrival a;
  while (bus.bus_arrival(now, a)) {
    if ((int)rx.size() < rxCapacity)
      rx.push_back(a.value);
    else
      rxOverflowBytes++;
  }
}

void SimLine::clearRx() {
  bus.bus_dropArrivals();
  rx.clear();
}

// A byte still going out is cut short: what it belongs to is garbled.
void SimLine::spoilIfSending() {
  if (!txEnds.empty()) bus.bus_spoil();
}

DWORD SimLine::port_libraryVersion() { return 0x00010500; }

FT_STATUS SimLine::port_list(PortDeviceInfo* out, int capacity, int& count, bool probe) {
  clock_chargeUs(kListUs);
  std::lock_guard<std::mutex> lock(mu);
  count = 0;
  if (!plugged || capacity < 1) return FT_OK;
  PortDeviceInfo& d = out[0];
  memset(&d, 0, sizeof d);
  d.flags = isOpen ? 1 : 0;
  if (isOpen || claimFd >= 0)
    d.state = PORT_STATE_HERE;
  else if (probe && (held || (claims && claim_heldElsewhere(serial))))
    d.state = PORT_STATE_IN_USE;
  else
    d.state = PORT_STATE_FREE;
  d.type = kDeviceType;
  d.id = kDeviceId;
  d.locId = 0x11;
  strncpy(d.serial, sim_serial(), sizeof d.serial - 1);
  strncpy(d.description, sim_description(), sizeof d.description - 1);
  count = 1;
  return FT_OK;
}

FT_STATUS SimLine::port_open(const char* wanted, FT_HANDLE* h) {
  clock_chargeUs(kOpenUs);
  std::lock_guard<std::mutex> lock(mu);
  if (!plugged || serial != wanted) return FT_DEVICE_NOT_FOUND;
  if (isOpen || held) return FT_DEVICE_NOT_OPENED;  // D2XX refuses a second open
  if (claims && claimFd < 0) {
    const int fd = claim_take(serial);
    if (fd < 0) return FT_DEVICE_NOT_OPENED;  // another line of this serial holds it
    claimFd = fd;
  }
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
  spoilIfSending();
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
  spoilIfSending();
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
  spoilIfSending();
  format.dataBits = bits;
  format.stopBits = stop;
  format.parity = parity;
  return FT_OK;
}

// Puts one byte on the wire from `start`, at the format in force.
void SimLine::writeByte(uint64_t start, uint8_t b) {
  bus.bus_byte(start, b, format);
  const uint64_t end = start + wire_byteUs(format);
  txEnds.push_back(end);
  txBusyUntil = end;
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
  uint64_t lastUs = 0;
  if (need == 0)
    until = minEnd;
  else if (bus.bus_arrivalUs(need, lastUs) && lastUs <= until)
    until = std::max(minEnd, lastUs);
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
