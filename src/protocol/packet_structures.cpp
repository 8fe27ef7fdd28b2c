#include "protocol/packet_structures.h"

void packet_fillHeader(Packet* p, uint32_t dest) {
  p->magic = PACKET_MAGIC;
  p->dest = dest;
  p->src = PACKET_BROADCAST;
  p->reserved12 = 0;  // never read by anyone; zero keeps the frame deterministic
  p->reserved14 = 0;
  p->crc = 0;
  p->length = 0;
}

const uint8_t* packet_fillData(Packet* p, const uint8_t* src, int n) {
  int count = n & 0xFF;
  for (int i = 0; i < count && p->length < PACKET_MAX_PAYLOAD; i++) p->data[p->length++] = *src++;
  return src;
}

void packet_fillCrc(Packet* p) {
  p->crc = 0;
  const uint8_t* b = packet_bytes(p);
  uint32_t sum = 0;
  const int n = packet_frameSize(p);
  for (int i = 0; i < n; i++) sum += b[i];
  p->crc = (uint16_t)(sum & 0xFFFFu);
}

int packet_frameSize(const Packet* p) { return PACKET_HEADER_SIZE + p->length; }
