#include "sim/sim_answer.h"

namespace {

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

}  // namespace

uint32_t simAnswer_le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void simAnswer_frame(SimAnswer& a, uint32_t src, const uint8_t* payload, int length) {
  if (length < 0) length = 0;
  if (length > SIM_FRAME_MAX_PAYLOAD) length = SIM_FRAME_MAX_PAYLOAD;
  uint8_t* f = a.bytes;
  put32(f, 0xFDA92991u);
  put32(f + 4, 0xFFFFFFFFu);
  put32(f + 8, src);
  for (int i = 12; i < 18; i++) f[i] = 0;
  f[18] = (uint8_t)length;
  for (int i = 0; i < length; i++) f[SIM_FRAME_HEADER + i] = payload[i];
  const int n = SIM_FRAME_HEADER + length;
  uint32_t sum = 0;
  for (int i = 0; i < n; i++) sum += f[i];  // the checksum field is still 0
  f[16] = (uint8_t)(sum & 0xFF);
  f[17] = (uint8_t)((sum >> 8) & 0xFF);
  a.count = n;
}
