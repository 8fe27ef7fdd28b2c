#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/packet_structures.h"

namespace {

std::vector<uint8_t> wire(const Packet& p) {
  const uint8_t* b = packet_bytes(&p);
  return std::vector<uint8_t>(b, b + packet_frameSize(&p));
}

}  // namespace

TEST(PacketFrame, SetupReadWorkedExample) {
  Packet p;
  memset(&p, 0xCC, sizeof p);
  packet_fillHeader(&p, 0x01020304);
  p.data[0] = 0x01;
  p.length = 1;
  packet_fillCrc(&p);
  std::vector<uint8_t> expect = {0x91, 0x29, 0xA9, 0xFD, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x68, 0x06, 0x01, 0x01};
  EXPECT_EQ(wire(p), expect);
  EXPECT_EQ(p.crc, 0x0668);
}

TEST(PacketFrame, EmptyRequestIsHeaderOnlyAndChecksumIgnoresItsOwnField) {
  Packet p;
  packet_fillHeader(&p, PACKET_BROADCAST);
  p.crc = 0xBEEF;
  packet_fillCrc(&p);
  EXPECT_EQ(packet_frameSize(&p), 19);
  // 91+29+A9+FD + 8 x FF
  EXPECT_EQ(p.crc, 0x91 + 0x29 + 0xA9 + 0xFD + 8 * 0xFF);
  uint16_t first = p.crc;
  packet_fillCrc(&p);
  EXPECT_EQ(p.crc, first);
}

TEST(PacketFrame, ChecksumKeepsOnlyLow16Bits) {
  Packet p;
  packet_fillHeader(&p, PACKET_BROADCAST);
  memset(p.data, 0xFF, sizeof p.data);
  p.length = 255;
  packet_fillCrc(&p);
  uint32_t sum = 0x91 + 0x29 + 0xA9 + 0xFD + 8 * 0xFF + 255 + 255 * 0xFF;
  ASSERT_GT(sum, 0xFFFFu);
  EXPECT_EQ(p.crc, sum & 0xFFFF);
}

TEST(PacketFrame, FillDataAppendsAndCountsOnlyLow8Bits) {
  Packet p;
  packet_fillHeader(&p, 7);
  const uint8_t head[] = {0x03, 0x10, 0x04};
  const uint8_t uid[] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(packet_fillData(&p, head, 3), head + 3);
  EXPECT_EQ(packet_fillData(&p, uid, 4), uid + 4);
  EXPECT_EQ(p.length, 7);
  EXPECT_EQ(0, memcmp(p.data, "\x03\x10\x04\x78\x56\x34\x12", 7));
  EXPECT_EQ(packet_fillData(&p, uid, 0), uid);
  EXPECT_EQ(packet_fillData(&p, uid, 256), uid);
  EXPECT_EQ(p.length, 7);
}

TEST(PacketFrame, FillDataNeverWritesPastThePayload) {
  Packet p;
  packet_fillHeader(&p, 7);
  std::vector<uint8_t> src(255, 0xAB);
  packet_fillData(&p, src.data(), 250);
  const uint8_t* rest = packet_fillData(&p, src.data(), 10);
  EXPECT_EQ(p.length, 255);
  EXPECT_EQ(rest, src.data() + 5);
}
