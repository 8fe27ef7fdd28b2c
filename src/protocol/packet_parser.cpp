#include "protocol/packet_parser.h"

#include <cstdio>
#include <cstring>

namespace {

union Window {
  uint8_t bytes[PACKET_WINDOW_SIZE];
  Packet frame;
};

Window _packet;
int received = 0;
PacketHandler handlers[PACKET_HANDLER_COUNT];

void call(PacketHandlerId id) {
  if (handlers[id]) handlers[id](&_packet.frame);
}

bool magicStart() {
  return _packet.bytes[0] == 0x91 && _packet.bytes[1] == 0x29 && _packet.bytes[2] == 0xA9;
}

void dispatch() {
  const uint8_t cls = _packet.bytes[PACKET_HEADER_SIZE];
  switch (cls) {
    case PACKET_CLASS_SETUP:
      call(PACKET_HANDLER_SETUP);
      break;
    case PACKET_CLASS_DISCOVERY:
      call(PACKET_HANDLER_DISCOVERY);
      break;
    case PACKET_CLASS_FUNCTION:
      if (_packet.frame.length <= 1) break;
      switch (_packet.bytes[PACKET_HEADER_SIZE + 1] & 0xF0) {
        case PACKET_FN_IDENTIFY:
          call(PACKET_HANDLER_IDENTIFY);
          break;
        case PACKET_FN_DALI:
          call(PACKET_HANDLER_DALI);
          break;
        case PACKET_FN_GENUID:
          call(PACKET_HANDLER_GENUID);
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

// A complete frame with a good magic: report it, check it, dispatch it.
// True when its checksum was good.
bool processFrame() {
  printf("packetparser:  UID = %08X\n", (unsigned)_packet.frame.src);
  const uint16_t got = _packet.frame.crc;
  packet_fillCrc(&_packet.frame);
  if (got != _packet.frame.crc) return false;
  dispatch();
  return true;
}

// Drops the first n bytes of the window.
void dropFront(int n) {
  if (n > received) n = received;
  memmove(_packet.bytes, _packet.bytes + n, (size_t)(PACKET_WINDOW_SIZE - n));
  memset(_packet.bytes + PACKET_WINDOW_SIZE - n, 0, (size_t)n);
  received -= n;
}

}  // namespace

void packet_setHandler(PacketHandlerId id, PacketHandler handler) {
  if (id >= 0 && id < PACKET_HANDLER_COUNT) handlers[id] = handler;
}

int shiftData() {
  if (received == 0) return 0;
  memmove(_packet.bytes, _packet.bytes + 1, PACKET_WINDOW_SIZE - 1);
  _packet.bytes[PACKET_WINDOW_SIZE - 1] = 0;
  return --received;
}

int appendByte(uint8_t b) {
  if (received > PACKET_WINDOW_SIZE - 1) shiftData();
  _packet.bytes[received++] = b;
  if (received <= 3) return received;
  while (!magicStart()) {
    if (shiftData() <= 3) return received;
  }
  if (received <= PACKET_HEADER_SIZE - 1) return received;
  if (_packet.bytes[3] != 0xFD) return shiftData();
  const int size = PACKET_HEADER_SIZE + _packet.frame.length;
  if (received != size) return received;
  // A frame that passed its checksum is consumed whole: bytes of its payload
  // that look like a magic must not become the start of a false frame that
  // swallows the answers after it. A frame that failed may have been a false
  // start itself, so only its first byte goes.
  if (processFrame()) {
    dropFront(size);
    return received;
  }
  return shiftData();
}

int packet_receive(const uint8_t* data, int count) {
  if (count <= 0) return count;
  int r = 0;
  for (int i = 0; i < count; i++) r = appendByte(data[i]);
  return r;
}

int packet_received() { return received; }

void packet_resetReceiver() {
  memset(_packet.bytes, 0, sizeof _packet.bytes);
  received = 0;
}
