// Prints "<hex input> <crc>" for seeded random inputs, for the cross-check
// against an independent CRC-16/KERMIT implementation.
#include <cstdio>
#include <random>
#include <vector>

#include "link/crc.h"

int main() {
  std::mt19937 rng(2024);
  for (int i = 0; i < 3000; i++) {
    std::vector<uint8_t> d(rng() % 200);
    for (uint8_t& b : d) b = (uint8_t)rng();
    printf("%s", d.empty() ? "-" : "");
    for (uint8_t b : d) printf("%02x", b);
    printf(" %04x\n", get_CRC(d.data(), (uint32_t)d.size()));
  }
  return 0;
}
