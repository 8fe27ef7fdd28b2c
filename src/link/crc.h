// CRC-16/KERMIT: polynomial 0x1021 processed least significant bit first,
// initial value 0, no final XOR. Protects the 76-byte firmware packets.
#pragma once

#include <cstdint>

uint16_t crc_ccitt_update(uint16_t crc, uint8_t data);
// CRC of the first `length` bytes; only the low 16 bits of the length count.
uint16_t get_CRC(const uint8_t* data, uint32_t length);
