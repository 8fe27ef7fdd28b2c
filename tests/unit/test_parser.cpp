#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "protocol/packet_parser.h"

namespace {

struct Call {
  PacketHandlerId id;
  uint32_t src;
  std::vector<uint8_t> payload;
};
std::vector<Call> calls;

template <PacketHandlerId Id>
void record(Packet* f) {
  calls.push_back(Call{Id, f->src, std::vector<uint8_t>(f->data, f->data + f->length)});
}

class Receiver : public testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    packet_resetReceiver();
    packet_setHandler(PACKET_HANDLER_SETUP, record<PACKET_HANDLER_SETUP>);
    packet_setHandler(PACKET_HANDLER_DISCOVERY, record<PACKET_HANDLER_DISCOVERY>);
    packet_setHandler(PACKET_HANDLER_GENUID, record<PACKET_HANDLER_GENUID>);
    packet_setHandler(PACKET_HANDLER_IDENTIFY, record<PACKET_HANDLER_IDENTIFY>);
    packet_setHandler(PACKET_HANDLER_DALI, record<PACKET_HANDLER_DALI>);
  }
  void TearDown() override {
    for (int i = 0; i < PACKET_HANDLER_COUNT; i++) packet_setHandler((PacketHandlerId)i, nullptr);
  }
  static void feed(const std::vector<uint8_t>& bytes) {
    packet_receive(bytes.data(), (int)bytes.size());
  }
};

const std::vector<uint8_t> kSetupAnswer = makeFrame(0x00A1B2C3, {0x01, 0x0D, 0x01, 0x02});

}  // namespace

TEST_F(Receiver, FrameSplitAtEveryPointIsDispatchedOnce) {
  for (size_t cut = 0; cut <= kSetupAnswer.size(); cut++) {
    calls.clear();
    packet_resetReceiver();
    std::vector<uint8_t> a(kSetupAnswer.begin(), kSetupAnswer.begin() + cut);
    std::vector<uint8_t> b(kSetupAnswer.begin() + cut, kSetupAnswer.end());
    feed(a);
    feed(b);
    ASSERT_EQ(calls.size(), 1u) << "cut at " << cut;
    EXPECT_EQ(calls[0].id, PACKET_HANDLER_SETUP);
    EXPECT_EQ(calls[0].src, 0x00A1B2C3u);
  }
}

TEST_F(Receiver, FrameByteByByteIsDispatchedOnce) {
  for (uint8_t b : kSetupAnswer) appendByte(b);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].payload, std::vector<uint8_t>({0x01, 0x0D, 0x01, 0x02}));
}

TEST_F(Receiver, NoiseBeforeAFrameDoesNotHideIt) {
  std::vector<uint8_t> noisy = {0x00, 0x00, 0x91, 0x00, 0x91, 0x29, 0x55, 0x00};
  noisy.insert(noisy.end(), kSetupAnswer.begin(), kSetupAnswer.end());
  feed(noisy);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].src, 0x00A1B2C3u);
}

TEST_F(Receiver, FirmwareSignatureInFourthByteIsNeverDispatched) {
  for (uint8_t fourth : {0xFE, 0xFF}) {
    std::vector<uint8_t> f = kSetupAnswer;
    f[3] = fourth;
    feed(f);
    feed(std::vector<uint8_t>(40, 0x00));
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(Receiver, WrongChecksumPrintsUidLineAndDrops) {
  std::vector<uint8_t> f = kSetupAnswer;
  f[16] ^= 0x01;
  testing::internal::CaptureStdout();
  feed(f);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "packetparser:  UID = 00A1B2C3\n");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Receiver, TwoFramesBackToBackAreBothDispatched) {
  std::vector<uint8_t> two = makeFrame(0x11, {0x02, 0x00});
  std::vector<uint8_t> second = makeFrame(0x22, {0x03, 0x20, 0x01});
  two.insert(two.end(), second.begin(), second.end());
  feed(two);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].id, PACKET_HANDLER_DISCOVERY);
  EXPECT_EQ(calls[0].src, 0x11u);
  EXPECT_EQ(calls[1].id, PACKET_HANDLER_IDENTIFY);
  EXPECT_EQ(calls[1].src, 0x22u);
}

TEST_F(Receiver, DispatchFollowsClassAndFunctionNibble) {
  feed(makeFrame(1, {0x03, 0x14, 0x00}));
  feed(makeFrame(2, {0x03, 0x20, 0x00}));
  feed(makeFrame(3, {0x03, 0x3F, 0x00}));
  feed(makeFrame(4, {0x03, 0x40, 0x00}));  // unknown module
  feed(makeFrame(5, {0x04, 0x00}));        // unknown class
  feed(makeFrame(6, {0x03}));              // class 3 needs a function byte
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].id, PACKET_HANDLER_GENUID);
  EXPECT_EQ(calls[1].id, PACKET_HANDLER_IDENTIFY);
  EXPECT_EQ(calls[2].id, PACKET_HANDLER_DALI);
}

TEST_F(Receiver, EmptyFrameIsCompleteAtNineteenBytes) {
  testing::internal::CaptureStdout();
  feed(makeFrame(0x0BADCAFE, {}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "packetparser:  UID = 0BADCAFE\n");
  // Class byte reads as whatever followed; nothing valid there.
  EXPECT_TRUE(calls.empty() || calls[0].payload.empty());
}

TEST_F(Receiver, WindowNeverOverflowsOnEndlessCandidate) {
  // A header announcing 255 bytes that holds, in its payload, a header
  // announcing none. When the first fails its checksum the second becomes
  // the candidate, already longer than it announced: it never completes,
  // and the window fills.
  std::vector<uint8_t> f = makeFrame(9, {0x01});
  f[18] = 255;
  const std::vector<uint8_t> inner = makeFrame(8, {});
  f.insert(f.end(), inner.begin(), inner.end());
  f.resize(274 + 40, 0x42);
  int most = 0;
  testing::internal::CaptureStdout();
  for (uint8_t b : f) {
    appendByte(b);
    most = std::max(most, packet_received());
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(most, PACKET_WINDOW_SIZE) << "full, and never more";
  EXPECT_TRUE(calls.empty());
  feed(kSetupAnswer);
  EXPECT_EQ(calls.size(), 1u);
}

// A frame wrong in one byte of its magic (its checksum made right again),
// or in its checksum, is not dispatched, and the answer after it still is.
TEST_F(Receiver, FrameWrongInOneHeaderByteIsRefusedAndTheNextIsTaken) {
  const std::vector<uint8_t> good = makeFrame(0x11, {0x02, 0x00});
  for (int at : {0, 1, 2, 3, 16}) {
    std::vector<uint8_t> f = good;
    f[at] = at == 3 ? 0xFE : (uint8_t)(f[at] ^ 0x01);
    if (at != 16) {
      uint16_t sum = 0;
      for (size_t i = 0; i < f.size(); i++) sum = (uint16_t)(sum + (i == 16 || i == 17 ? 0 : f[i]));
      f[16] = (uint8_t)sum;
      f[17] = (uint8_t)(sum >> 8);
    }
    f.insert(f.end(), kSetupAnswer.begin(), kSetupAnswer.end());
    calls.clear();
    packet_resetReceiver();
    testing::internal::CaptureStdout();
    feed(f);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(calls.size(), 1u) << "byte " << at;
    EXPECT_EQ(calls[0].src, 0x00A1B2C3u) << "byte " << at;
  }
}

TEST_F(Receiver, ShiftDataOnEmptyWindowReturnsZero) {
  EXPECT_EQ(shiftData(), 0);
  appendByte(0x91);
  EXPECT_EQ(shiftData(), 0);
  EXPECT_EQ(packet_received(), 0);
  EXPECT_EQ(packet_receive(nullptr, 0), 0);
  EXPECT_EQ(packet_receive(nullptr, -3), -3);
}

TEST_F(Receiver, MagicInsideAPayloadDoesNotSwallowTheNextFrame) {
  // The first answer carries, in its payload, bytes that read as the start
  // of a frame announcing 255 payload bytes.
  std::vector<uint8_t> two =
      makeFrame(0x11, {0x03, 0x30, 0x06, 0x04, 0x91, 0x29, 0xA9, 0xFD, 0x01, 0x02, 0x03, 0x04,
                       0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xFF});
  std::vector<uint8_t> second = makeFrame(0x22, {0x03, 0x20, 0x01});
  two.insert(two.end(), second.begin(), second.end());
  testing::internal::CaptureStdout();
  feed(two);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].src, 0x11u);
  EXPECT_EQ(calls[1].id, PACKET_HANDLER_IDENTIFY);
  EXPECT_EQ(calls[1].src, 0x22u);
}
