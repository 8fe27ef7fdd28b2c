#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "link/crc.h"

namespace {

// Bit-at-a-time CRC-16/KERMIT from its catalogue parameters: width 16,
// polynomial 0x1021 reflected (0x8408), init 0, reflected in and out, no xorout.
uint16_t referenceKermit(const uint8_t* d, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; i++) {
    crc ^= d[i];
    for (int b = 0; b < 8; b++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
  }
  return crc;
}

const uint8_t* text(const char* s) { return (const uint8_t*)s; }

}  // namespace

TEST(Crc, CatalogueCheckValues) {
  EXPECT_EQ(get_CRC(text("123456789"), 9), 0x2189);
  EXPECT_EQ(get_CRC(text("abc"), 3), 0x58E9);
  EXPECT_EQ(get_CRC(text(""), 0), 0x0000);
}

TEST(Crc, OnlyTheLow16BitsOfTheLengthCount) {
  std::vector<uint8_t> big(65537, 0x5A);
  EXPECT_EQ(get_CRC(big.data(), 65536), 0x0000);
  EXPECT_EQ(get_CRC(big.data(), 65537), get_CRC(big.data(), 1));
}

TEST(Crc, AgreesWithBitwiseReferenceOnRandomInputs) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 3000; i++) {
    std::vector<uint8_t> d(rng() % 300);
    for (uint8_t& b : d) b = (uint8_t)rng();
    ASSERT_EQ(get_CRC(d.data(), (uint32_t)d.size()), referenceKermit(d.data(), d.size()))
        << "input " << i << " of " << d.size() << " bytes";
  }
}

TEST(Crc, UpdateStepChainsLikeTheWholeBuffer) {
  const uint8_t* d = text("firmware block");
  uint16_t crc = 0;
  for (size_t i = 0; i < strlen((const char*)d); i++) crc = crc_ccitt_update(crc, d[i]);
  EXPECT_EQ(crc, get_CRC(d, (uint32_t)strlen((const char*)d)));
}
