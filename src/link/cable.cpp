#include "link/cable.h"

#include <cstdio>
#include <cstring>

#include "link/cablelock.h"
#include "link/cables.h"
#include "link/crc.h"
#include "link/ftdi_port.h"
#include "link/timer.h"
#include "protocol/packet_parser.h"

namespace {

int cableDev = -1;
char resp_buff[CABLE_RESP_BUFF_SIZE];
int respLen = 0;  // write position in resp_buff

// Whether the calling thread's command holds the cable: from its open (or
// the lazy open of its first send) to its release.
thread_local bool inCommand = false;

// The chosen converter by its serial number; without a choice, converter 0.
void lazyOpen() {
  if (cableDev >= 0) return;
  cableDev = getOpenDevice();
  if (cableDev >= 0) return;
  const char* serial = cables_chosen();
  cableDev = serial[0] ? openDeviceSerial(serial) : openDevice(0);
}

// "S1, S2", the serial numbers of the converters the last open listed.
void attachedText(char* out, size_t cap) {
  size_t used = 0;
  int unreadable = 0;
  out[0] = 0;
  for (int i = 0; i < ftdi_listedCount(); i++) {
    const char* s = ftdi_listedSerial(i);
    if (!s[0]) {
      unreadable++;
      continue;
    }
    const int n = snprintf(out + used, cap - used, "%s%s", used ? ", " : "", s);
    if (n < 0 || (size_t)n >= cap - used) return;
    used += (size_t)n;
  }
  if (unreadable)
    snprintf(out + used, cap - used, "%s%d whose serial number cannot be read (no permission?)",
             used ? ", and " : "", unreadable);
}

// Opens on demand; once the converter is open, the calling command keeps
// the cable until cable_free. The caller holds the lock for the call.
void openForCommand() {
  lazyOpen();
  if (cableDev >= 0 && !inCommand) {
    cablelock_take();
    inCommand = true;
  }
}

// Appends received text while the buffer holds fewer than 255 bytes.
void appendResp(const uint8_t* data, int n) {
  for (int i = 0; i < n && respLen < CABLE_RESP_LIMIT; i++) resp_buff[respLen++] = (char)data[i];
}

// One read of up to 150 bytes into the response buffer; 1 if the pattern is there.
int readAndMatch(const char* pattern) {
  uint8_t buf[CABLE_TEXT_CHUNK];
  int n = getResponse(buf, sizeof buf);
  if (n > 0) appendResp(buf, n);
  return strstr(resp_buff, pattern) ? 1 : 0;
}

}  // namespace

int cable_open() {
  CableLockScope hold;
  openForCommand();
  return cableDev;
}

const char* cable_notFoundText() {
  CableLockScope hold;
  const char* serial = cables_chosen();
  thread_local char text[512];
  if (ftdi_heldElsewhere()) {
    if (!serial[0])
      return "The cable is in use by another program (another Tern window or tern command, or the "
             "kernel's serial driver).\nClose that program and try again; tern-cable-check tells more.";
    snprintf(text, sizeof text,
             "The cable %s is in use by another program (another Tern window or tern command, or "
             "the kernel's serial driver).\nClose that program and try again; tern-cable-check "
             "--cable %s tells more.",
             serial, serial);
    return text;
  }
  if (!serial[0] || !ftdi_unknownSerial()) return "Cable not found!";
  char attached[400];
  attachedText(attached, sizeof attached);
  if (attached[0])
    snprintf(text, sizeof text, "Cable %s not found! Attached: %s.", serial, attached);
  else
    snprintf(text, sizeof text, "Cable %s not found! No cable is attached.", serial);
  return text;
}

int cable_free() {
  CableLockScope hold;
  closeDevice();
  cableDev = getOpenDevice();
  if (inCommand) {
    inCommand = false;
    cablelock_give();
  }
  return cableDev;
}

int cable_sendPacket(Packet* p) {
  CableLockScope hold;
  openForCommand();
  packet_fillCrc(p);
  return sendData(packet_bytes(p), packet_frameSize(p));
}

int cable_sendDmxPacket(uint8_t* packet) {
  CableLockScope hold;
  openForCommand();
  uint16_t crc = get_CRC(packet, CABLE_DMX_CRC_OFFSET);
  packet[CABLE_DMX_CRC_OFFSET] = (uint8_t)(crc & 0xFF);
  packet[CABLE_DMX_CRC_OFFSET + 1] = (uint8_t)(crc >> 8);
  return sendData(packet, CABLE_DMX_PACKET_SIZE);
}

int cable_response() {
  CableLockScope hold;
  uint8_t buf[CABLE_READ_CHUNK];
  int n = getResponse(buf, sizeof buf);
  return packet_receive(buf, n);
}

int waitForBreak(int ms) {
  CableLockScope hold;
  int32_t deadline = tim_setTimeout(ms);
  uint8_t b;
  while (!tim_isTimeout(deadline)) {
    if (getResponse(&b, 1) > 0) return 1;
  }
  return 0;
}

int flushRxBuff() {
  CableLockScope hold;
  // A line that never falls silent (a device babbling, noise) must not keep
  // us here: give up after a fixed time, reporting the last read.
  int32_t deadline = tim_setTimeout(CABLE_FLUSH_LIMIT_MS);
  uint8_t b;
  int r;
  do {
    r = getResponse(&b, 1);
  } while (r > 0 && !tim_isTimeout(deadline));
  return r;
}

int clearRespBuff() {
  CableLockScope hold;
  memset(resp_buff, 0, sizeof resp_buff);
  respLen = 0;
  return 0;
}

int waitForResponse_clr(const char* pattern, int tries, int clear) {
  CableLockScope hold;
  if (clear) clearRespBuff();
  for (int i = 0; i < tries; i++) {
    if (readAndMatch(pattern)) return 1;
    mySleep(1);
  }
  return 0;
}

int checkResponse(const char* pattern) {
  CableLockScope hold;
  return readAndMatch(pattern);
}

int devSend(const uint8_t* data, int len) { return sendData(data, len); }

int devRead(uint8_t* buf, int len) { return getResponse(buf, len); }

const char* cable_respBuff() { return resp_buff; }
