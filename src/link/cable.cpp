#include "link/cable.h"

#include <cstring>

#include "link/crc.h"
#include "link/ftdi.h"
#include "link/timer.h"
#include "protocol/packet_parser.h"

namespace {

int cableDev = -1;
char resp_buff[CABLE_RESP_BUFF_SIZE];
int respLen = 0;  // write position in resp_buff

void lazyOpen() {
  if (cableDev >= 0) return;
  cableDev = getOpenDevice();
  if (cableDev < 0) cableDev = openDevice(0);
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
  lazyOpen();
  return cableDev;
}

int cable_free() {
  closeDevice();
  cableDev = getOpenDevice();
  return cableDev;
}

int cable_sendPacket(Packet* p) {
  lazyOpen();
  packet_fillCrc(p);
  return sendData(packet_bytes(p), packet_frameSize(p));
}

int cable_sendDmxPacket(uint8_t* packet) {
  lazyOpen();
  uint16_t crc = get_CRC(packet, CABLE_DMX_CRC_OFFSET);
  packet[CABLE_DMX_CRC_OFFSET] = (uint8_t)(crc & 0xFF);
  packet[CABLE_DMX_CRC_OFFSET + 1] = (uint8_t)(crc >> 8);
  return sendData(packet, CABLE_DMX_PACKET_SIZE);
}

int cable_response() {
  uint8_t buf[CABLE_READ_CHUNK];
  int n = getResponse(buf, sizeof buf);
  return packet_receive(buf, n);
}

int waitForBreak(int ms) {
  int32_t deadline = tim_setTimeout(ms);
  uint8_t b;
  while (!tim_isTimeout(deadline)) {
    if (getResponse(&b, 1) > 0) return 1;
  }
  return 0;
}

int flushRxBuff() {
  uint8_t b;
  int r;
  do {
    r = getResponse(&b, 1);
  } while (r > 0);
  return r;
}

int clearRespBuff() {
  memset(resp_buff, 0, sizeof resp_buff);
  respLen = 0;
  return 0;
}

int waitForResponse_clr(const char* pattern, int tries, int clear) {
  if (clear) clearRespBuff();
  for (int i = 0; i < tries; i++) {
    if (readAndMatch(pattern)) return 1;
    mySleep(1);
  }
  return 0;
}

int checkResponse(const char* pattern) { return readAndMatch(pattern); }

int devSend(const uint8_t* data, int len) { return sendData(data, len); }

int devRead(uint8_t* buf, int len) { return getResponse(buf, len); }

const char* cable_respBuff() { return resp_buff; }
