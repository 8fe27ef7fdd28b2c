// Builds answer frames as devices send them, for feeding the receiver.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/packet_structures.h"

inline std::vector<uint8_t> makeFrame(uint32_t src, const std::vector<uint8_t>& payload,
                                      uint32_t dest = PACKET_BROADCAST) {
  Packet p;
  packet_fillHeader(&p, dest);
  p.src = src;
  for (uint8_t b : payload) p.data[p.length++] = b;
  packet_fillCrc(&p);
  const uint8_t* b = packet_bytes(&p);
  return std::vector<uint8_t>(b, b + packet_frameSize(&p));
}
