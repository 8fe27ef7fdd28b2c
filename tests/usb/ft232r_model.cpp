#include "ft232r_model.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace {

const uint64_t kNever = UINT64_MAX;
const uint8_t kModemStatus = 0x01;  // bits 0-3 fixed at 0001; CTS, DSR, RI, DCD inactive
const int kDataPerPacket = Ft232rModel::PACKET - Ft232rModel::STATUS_BYTES;

// Vendor requests.
enum : uint8_t {
  REQ_RESET = 0x00,
  REQ_MODEM_CTRL = 0x01,
  REQ_FLOW_CTRL = 0x02,
  REQ_BAUDRATE = 0x03,
  REQ_DATA = 0x04,
  REQ_POLL_MODEM_STATUS = 0x05,
  REQ_EVENT_CHAR = 0x06,
  REQ_ERROR_CHAR = 0x07,
  REQ_SET_LATENCY = 0x09,
  REQ_GET_LATENCY = 0x0A,
  REQ_SET_BITMODE = 0x0B,
  REQ_READ_PINS = 0x0C,
};
enum : uint16_t { RESET_SIO = 0, PURGE_TX = 1, PURGE_RX = 2 };  // the chip's own view
const uint8_t kVendorOut = 0x40;
const uint8_t kVendorIn = 0xC0;

const uint32_t kBaseClock8 = 24000000;   // 3 MHz in eighths of the divisor
const uint32_t kPowerOnEighths = 2500;   // 9600 baud (312.5)

// Sub-integer codes of the divisor, in eighths.
const uint8_t kFractionEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};

SimLineFormat powerOnFormat() { return SimLineFormat(); }  // 9600 8N1

uint64_t sleepUntil(uint64_t cur, uint64_t target) {
  if (target > cur) clock_sleepUs(target - cur);
  return std::max(cur, target);
}

}  // namespace

Ft232rModel::Ft232rModel(UsbLine& l) : line(l) {
  st.format = powerOnFormat();
  st.divisorEighths = kPowerOnEighths;
}

uint32_t Ft232rModel::chip_decodeBaud(uint16_t value, uint16_t index, uint32_t& eighths) {
  const uint32_t whole = value & 0x3FFFu;
  const uint32_t code = ((uint32_t)value >> 14) | (((uint32_t)index & 1u) << 2);
  eighths = whole * 8u + kFractionEighths[code];
  // Two divisors are special: 0 gives 3 MBd and 1 gives 2 MBd.
  if (eighths == 0) return 3000000;
  if (eighths == 8) {
    eighths = 12;
    return 2000000;
  }
  return (kBaseClock8 + eighths / 2) / eighths;
}

void Ft232rModel::chip_setLatencyMs(int ms) {
  std::lock_guard<std::mutex> lock(mu);
  st.latencyMs = ms;
}

void Ft232rModel::chip_holdNextRead(uint32_t us) {
  std::lock_guard<std::mutex> lock(mu);
  holdReadUs = us;
}

void Ft232rModel::chip_unplugDuringFrame(long frames) {
  std::lock_guard<std::mutex> lock(mu);
  framesUntilUnplug = frames;
}

void Ft232rModel::chip_unplug() {
  const uint64_t t = clock_nowUs();
  {
    std::lock_guard<std::mutex> lock(mu);
    advance(t);
    powerOff(t);
  }
  fakeusb_setDevicePlugged(this, false);
}

void Ft232rModel::chip_plugIn() { fakeusb_setDevicePlugged(this, true); }

Ft232rModel::State Ft232rModel::chip_state() const {
  std::lock_guard<std::mutex> lock(mu);
  return st;
}

void Ft232rModel::chip_settle() {
  const uint64_t t = clock_nowUs();
  std::lock_guard<std::mutex> lock(mu);
  advance(t);
  line.line_flush();
}

// ---------------------------------------------------------------------------
// The chip's time line.

bool Ft232rModel::transmitterAllowed() const {
  if (st.breakOn) return false;
  if (st.flow == 1) return cts;
  if (st.flow == 2) return dsr;
  return true;
}

uint64_t Ft232rModel::nextTxUs() const {
  if (tx.empty() || !transmitterAllowed()) return kNever;
  return std::max(shiftEndUs, txReadyUs);
}

uint64_t Ft232rModel::nextPacketUs() const {
  if (!inActive || inDone) return kNever;
  if ((int)rx.size() >= kDataPerPacket) return nowUs;
  return lastPacketUs + (uint64_t)st.latencyMs * 1000u;
}

void Ft232rModel::advance(uint64_t t) {
  for (;;) {
    const uint64_t tLine = line.line_nextEventUs();
    const uint64_t tTx = nextTxUs();
    const uint64_t tPacket = nextPacketUs();
    const uint64_t e = std::max(nowUs, std::min(tLine, std::min(tTx, tPacket)));
    if (e > t) break;
    nowUs = e;
    if (tLine <= e) {
      line.line_settle(e);
      SimArrival b;
      while (line.line_arrival(e, b)) receive(b);
    } else if (tTx <= e) {
      startByte(e);
    } else {
      sendPacket(e);
    }
  }
  nowUs = std::max(nowUs, t);
}

void Ft232rModel::startByte(uint64_t t) {
  const uint8_t b = tx.front();
  tx.pop_front();
  line.line_byte(t, b, st.format);
  shiftEndUs = t + wire_byteUs(st.format);
  st.bytesOut++;
  acceptOut(t);
}

// Takes the waiting bytes of a write in 64-byte packets while the buffer
// has room for the next one.
void Ft232rModel::acceptOut(uint64_t t) {
  while (!outWaiting.empty()) {
    const size_t packet = std::min<size_t>(PACKET, outWaiting.size());
    if (tx.size() + packet > TX_BUFFER) return;
    for (size_t i = 0; i < packet; i++) {
      tx.push_back(outWaiting.front());
      outWaiting.pop_front();
    }
    txReadyUs = std::max(txReadyUs, t);
    if (outWaiting.empty()) outDoneUs = t;
  }
}

// A byte the receiver took: into the buffer, or lost when it is full. The
// receiver reads the line at the rate and frame in force.
void Ft232rModel::receive(const SimArrival& b) {
  RxEntry e{b.value, (uint8_t)(b.isBreak ? (LS_BI | LS_FE) : 0)};
  if (!wire_isDmx(st.format)) e = RxEntry{(uint8_t)~b.value, LS_FE};
  if ((int)rx.size() >= RX_BUFFER) {
    st.rxLostBytes++;
    pendingErrors |= LS_OE;
    return;
  }
  rx.push_back(e);
}

uint8_t Ft232rModel::lineStatus(uint64_t t) const {
  uint8_t s = 0;
  if (thre()) s |= LS_THRE;
  if (temt(t)) s |= LS_TEMT;
  return s;
}

void Ft232rModel::sendPacket(uint64_t t) {
  const int room = inCap - (int)inBuf.size() - STATUS_BYTES;
  const int n = std::min(std::min((int)rx.size(), kDataPerPacket), std::max(room, 0));
  uint8_t status = (uint8_t)(lineStatus(t) | pendingErrors);
  for (int i = 0; i < n; i++) status |= rx[(size_t)i].flags;
  pendingErrors = 0;
  inBuf.push_back(kModemStatus);
  inBuf.push_back(status);
  for (int i = 0; i < n; i++) {
    inBuf.push_back(rx.front().value);
    rx.pop_front();
  }
  lastPacketUs = t;
  st.packets++;
  if (n == 0) st.statusOnlyPackets++;
  // A short packet ends the transfer, and so does a full buffer.
  if (n < kDataPerPacket || inCap - (int)inBuf.size() < PACKET) inDone = true;
}

void Ft232rModel::spoilIfSending(uint64_t t) {
  if (shiftEndUs > t) line.line_spoil();
}

void Ft232rModel::resetUart(uint64_t t) {
  spoilIfSending(t);
  shiftEndUs = std::min(shiftEndUs, t);
  tx.clear();
  rx.clear();
  pendingErrors = 0;
  if (st.breakOn) line.line_low(breakSinceUs, t);
  st.breakOn = false;
  st.format = powerOnFormat();
  st.divisorEighths = kPowerOnEighths;
  st.baudExact = true;
  st.resets++;
}

// Without power the chip forgets everything; it comes back as after power-up.
void Ft232rModel::powerOff(uint64_t t) {
  resetUart(t);
  outWaiting.clear();
  st.flow = 0;
  st.dtr = st.rts = false;
  st.latencyMs = DEFAULT_LATENCY_MS;
  st.resets--;  // not a reset request
}

// ---------------------------------------------------------------------------
// USB.

libusb_device_descriptor Ft232rModel::usb_deviceDescriptor() const {
  libusb_device_descriptor d;
  memset(&d, 0, sizeof d);
  d.bLength = LIBUSB_DT_DEVICE_SIZE;
  d.bDescriptorType = LIBUSB_DT_DEVICE;
  d.bcdUSB = 0x0200;
  d.bMaxPacketSize0 = 8;
  d.idVendor = 0x0403;
  d.idProduct = 0x6001;
  d.bcdDevice = 0x0600;  // FT232R
  d.iManufacturer = 1;
  d.iProduct = 2;
  d.iSerialNumber = 3;
  d.bNumConfigurations = 1;
  return d;
}

int Ft232rModel::usb_string(uint8_t index, unsigned char* out, int cap) {
  // The host asks for the language list, then the string: two requests.
  clock_sleepUs(2u * roundTripUs);
  const char* text = index == 1 ? "FTDI" : index == 2 ? "FT232R USB UART" : index == 3 ? serial.c_str() : nullptr;
  if (!text) return LIBUSB_ERROR_PIPE;
  const int n = std::min((int)strlen(text), cap - 1);
  memcpy(out, text, (size_t)n);
  out[n] = 0;
  return n;
}

int Ft232rModel::usb_setConfiguration(int configuration) {
  clock_sleepUs(roundTripUs);
  return configuration == 1 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int Ft232rModel::usb_control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                             unsigned char* data, uint16_t length, unsigned) {
  const uint32_t half = roundTripUs / 2;
  const uint64_t t0 = clock_nowUs();
  clock_sleepUs(half);
  int rc;
  {
    std::lock_guard<std::mutex> lock(mu);
    advance(t0 + half);
    if (requestType == kVendorOut)
      rc = vendorOut(request, value, index);
    else if (requestType == kVendorIn)
      rc = vendorIn(request, data, length);
    else
      rc = LIBUSB_ERROR_PIPE;
  }
  clock_sleepUs(roundTripUs - half);
  return rc;
}

int Ft232rModel::vendorOut(uint8_t request, uint16_t value, uint16_t index) {
  const uint64_t t = nowUs;
  switch (request) {
    case REQ_RESET:
      if (value == RESET_SIO) {
        resetUart(t);
      } else if (value == PURGE_TX) {
        tx.clear();  // the byte on the wire finishes
        st.txPurges++;
      } else if (value == PURGE_RX) {
        rx.clear();
        pendingErrors = 0;
        st.rxPurges++;
      } else {
        return LIBUSB_ERROR_PIPE;
      }
      return 0;
    case REQ_MODEM_CTRL:
      if (value & 0x0100) st.dtr = (value & 0x01) != 0;
      if (value & 0x0200) st.rts = (value & 0x02) != 0;
      return 0;
    case REQ_FLOW_CTRL:
      st.flow = index >> 8;
      return 0;
    case REQ_BAUDRATE: {
      spoilIfSending(t);
      uint32_t eighths = 0;
      st.format.baud = chip_decodeBaud(value, index, eighths);
      st.divisorEighths = eighths;
      st.baudExact = eighths == 0 || eighths == 12 || kBaseClock8 % eighths == 0;
      return 0;
    }
    case REQ_DATA: {
      const uint8_t bits = value & 0xFF;
      const uint8_t parity = (value >> 8) & 0x07;
      const uint8_t stop = (value >> 11) & 0x03;
      const bool brk = ((value >> 14) & 1) != 0;
      if ((bits != 7 && bits != 8) || parity > 4 || stop > 2) return LIBUSB_ERROR_PIPE;
      spoilIfSending(t);
      st.format.dataBits = bits;
      st.format.parity = parity;
      st.format.stopBits = stop;
      if (brk && !st.breakOn) breakSinceUs = std::max(t, shiftEndUs);
      if (!brk && st.breakOn) line.line_low(breakSinceUs, t);
      st.breakOn = brk;
      return 0;
    }
    case REQ_EVENT_CHAR:
    case REQ_ERROR_CHAR:
    case REQ_SET_BITMODE:
      return 0;
    case REQ_SET_LATENCY:
      if ((value & 0xFF) == 0) return LIBUSB_ERROR_PIPE;
      st.latencyMs = value & 0xFF;
      return 0;
    default:
      return LIBUSB_ERROR_PIPE;
  }
}

int Ft232rModel::vendorIn(uint8_t request, unsigned char* data, uint16_t length) {
  switch (request) {
    case REQ_POLL_MODEM_STATUS: {
      if (length < 2) return LIBUSB_ERROR_OVERFLOW;
      data[0] = kModemStatus;
      data[1] = (uint8_t)(lineStatus(nowUs) | (rx.empty() ? 0 : LS_DR));
      return 2;
    }
    case REQ_GET_LATENCY:
      if (length < 1) return LIBUSB_ERROR_OVERFLOW;
      data[0] = (uint8_t)st.latencyMs;
      return 1;
    case REQ_READ_PINS:
      if (length < 1) return LIBUSB_ERROR_OVERFLOW;
      data[0] = 0xFF;
      return 1;
    default:
      return LIBUSB_ERROR_PIPE;
  }
}

int Ft232rModel::usb_bulk(unsigned char endpoint, unsigned char* data, int length,
                          int* transferred, unsigned timeoutMs) {
  *transferred = 0;
  if (endpoint == 0x02) return bulkOut(data, length, transferred, timeoutMs);
  if (endpoint == 0x81) return bulkIn(data, length, transferred, timeoutMs);
  return LIBUSB_ERROR_NOT_FOUND;
}

int Ft232rModel::bulkOut(const unsigned char* data, int length, int* transferred,
                         unsigned timeoutMs) {
  const uint32_t half = roundTripUs / 2;
  uint64_t cur = clock_nowUs();
  const uint64_t deadline = timeoutMs ? cur + (uint64_t)timeoutMs * 1000u : kNever;
  cur = sleepUntil(cur, cur + half);
  bool pulled = false;
  {
    std::lock_guard<std::mutex> lock(mu);
    advance(cur);
    if (length > 1 && framesUntilUnplug > 0 && --framesUntilUnplug == 0) pulled = true;
    if (pulled) {
      powerOff(cur);
    } else {
      outWaiting.assign(data, data + length);
      outDoneUs = cur;
      acceptOut(cur);
    }
  }
  if (pulled) {
    fakeusb_setDevicePlugged(this, false);
    return LIBUSB_ERROR_NO_DEVICE;
  }
  // The host's transfer ends once the chip has taken the last packet, or
  // at its timeout with what the chip took by then.
  for (;;) {
    uint64_t next;
    {
      std::lock_guard<std::mutex> lock(mu);
      advance(cur);
      if (outWaiting.empty()) break;
      if (cur >= deadline) {
        *transferred = length - (int)outWaiting.size();
        outWaiting.clear();
        return LIBUSB_ERROR_TIMEOUT;
      }
      next = std::min(nextTxUs(), deadline);
    }
    if (!fakeusb_devicePlugged(this)) return LIBUSB_ERROR_NO_DEVICE;
    cur = sleepUntil(cur, next);
  }
  sleepUntil(cur, std::max(cur, outDoneUs) + (roundTripUs - half));
  *transferred = length;
  return 0;
}

int Ft232rModel::bulkIn(unsigned char* data, int length, int* transferred, unsigned timeoutMs) {
  uint64_t cur = clock_nowUs();
  uint32_t hold;
  {
    std::lock_guard<std::mutex> lock(mu);
    hold = holdReadUs;
    holdReadUs = 0;
  }
  cur = sleepUntil(cur, cur + hold);
  const uint64_t deadline = timeoutMs ? cur + (uint64_t)timeoutMs * 1000u : kNever;
  {
    std::lock_guard<std::mutex> lock(mu);
    advance(cur);
    if (inActive) return LIBUSB_ERROR_BUSY;
    inActive = true;
    inDone = false;
    inCap = length;
    inBuf.clear();
  }
  int rc = 0;
  for (;;) {
    uint64_t wake;
    {
      std::lock_guard<std::mutex> lock(mu);
      advance(cur);
      const bool gone = !fakeusb_devicePlugged(this);
      if (inDone || gone || cur >= deadline) {
        const int n = std::min((int)inBuf.size(), length);
        memcpy(data, inBuf.data(), (size_t)n);
        *transferred = n;
        inActive = false;
        rc = gone ? LIBUSB_ERROR_NO_DEVICE : inDone ? 0 : LIBUSB_ERROR_TIMEOUT;
        break;
      }
      // Only the latency timer ends a transfer early: full packets restart
      // it, so what becomes known meanwhile can only make the end later.
      wake = std::min(nextPacketUs(), deadline);
    }
    cur = sleepUntil(cur, wake);
  }
  return rc;
}
