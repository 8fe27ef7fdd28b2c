#include "link/crc.h"

uint16_t crc_ccitt_update(uint16_t crc, uint8_t data) {
  uint8_t d = data ^ (uint8_t)(crc & 0xFF);
  d = (uint8_t)(d ^ (d << 4));
  return (uint16_t)((((uint16_t)d << 8) | (crc >> 8)) ^ (uint8_t)(d >> 4) ^ ((uint16_t)d << 3));
}

uint16_t get_CRC(const uint8_t* data, uint32_t length) {
  uint16_t crc = 0;
  const uint32_t n = length & 0xFFFFu;
  for (uint32_t i = 0; i < n; i++) crc = crc_ccitt_update(crc, data[i]);
  return crc;
}
