// The link over the simulated line, in virtual time, checked from the trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "link/cable.h"
#include "link/crc.h"
#include "link/ftdi_port.h"
#include "link/timer.h"
#include "platform/clock.h"
#include "protocol/packet_parser.h"
#include "sim/sim_line.h"

namespace {

// Answers every transmission with fixed bytes after a turnaround.
class FixedResponder : public SimResponder {
 public:
  std::vector<uint8_t> answer;
  uint32_t delayUs = 2000;
  int seen = 0;
  std::vector<uint8_t> last;
  bool sim_respond(const uint8_t* data, int count, uint64_t, SimAnswer& a) override {
    seen++;
    last.assign(data, data + count);
    a.delayUs = delayUs;
    a.count = (int)answer.size();
    std::copy(answer.begin(), answer.end(), a.bytes);
    return true;
  }
};

class SilentResponder : public SimResponder {
 public:
  int seen = 0;
  bool sim_respond(const uint8_t*, int, uint64_t, SimAnswer&) override {
    seen++;
    return false;
  }
};

class Link : public testing::Test {
 protected:
  SimLine line;
  void SetUp() override {
    ftd2xx_setBackend(&line);
    packet_resetReceiver();
  }
  void TearDown() override {
    cable_free();
    ftd2xx_setBackend(nullptr);
  }
  void openQuietly() {
    testing::internal::CaptureStdout();
    ASSERT_EQ(cable_open(), 0);
    testing::internal::GetCapturedStdout();
  }
};

Packet setupRead(uint32_t uid) {
  Packet p;
  packet_fillHeader(&p, uid);
  p.data[0] = 0x01;
  p.length = 1;
  return p;
}

}  // namespace

TEST_F(Link, PacketGoesOutAsOneTransmissionAfterABreak) {
  SilentResponder dev;
  line.sim_addResponder(&dev);
  openQuietly();
  Packet p = setupRead(0x01020304);
  EXPECT_EQ(cable_sendPacket(&p), 20);
  line.sim_settle();
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 1u);
  const SimTraceEntry& e = tx[0];
  EXPECT_TRUE(e.withBreak);
  EXPECT_FALSE(e.garbled);
  std::vector<uint8_t> expect = {0x91, 0x29, 0xA9, 0xFD, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x68, 0x06, 0x01, 0x01};
  EXPECT_EQ(e.bytes, expect);
  EXPECT_GE(e.dataUs - e.breakUs, 5000u) << "data follows the break after the 5 ms drain";
  EXPECT_EQ(e.endUs - e.dataUs, 20u * 44u) << "250000 baud, 8N2: 44 us a byte";
  EXPECT_EQ(dev.seen, 1);
}

TEST_F(Link, SendReturnsOnlyOnceTheTransmitQueueIsEmpty) {
  openQuietly();
  Packet p;
  packet_fillHeader(&p, PACKET_BROADCAST);
  memset(p.data, 0x11, 255);
  p.length = 255;
  ASSERT_EQ(cable_sendPacket(&p), 274);
  uint64_t returnedAt = clock_nowUs();
  line.sim_settle();
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 1u);
  EXPECT_GE(returnedAt, tx[0].endUs);
  EXPECT_EQ(tx[0].bytes.size(), 274u);
}

TEST_F(Link, EveryPacketHasItsOwnBreak) {
  openQuietly();
  for (uint32_t uid = 1; uid <= 3; uid++) {
    Packet p = setupRead(uid);
    ASSERT_EQ(cable_sendPacket(&p), 20);
  }
  line.sim_settle();
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 3u);
  for (uint32_t i = 0; i < 3; i++) {
    EXPECT_TRUE(tx[i].withBreak);
    EXPECT_FALSE(tx[i].garbled);
    EXPECT_EQ(tx[i].bytes[4], i + 1);
    EXPECT_GE(tx[i].dataUs - tx[i].breakUs, 5000u);
  }
}

TEST_F(Link, AnswerIsReadBackAndDispatched) {
  static uint32_t gotFrom = 0;
  gotFrom = 0;
  packet_setHandler(PACKET_HANDLER_SETUP, [](Packet* f) { gotFrom = f->src; });
  FixedResponder dev;
  dev.answer = makeFrame(0x01020304, {0x01, 0x0D, 0x01, 0x02});
  line.sim_addResponder(&dev);
  openQuietly();
  Packet p = setupRead(0x01020304);
  ASSERT_EQ(cable_sendPacket(&p), 20);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 15 && gotFrom != 0x01020304; i++) {
    cable_response();
    mySleep(15);
  }
  std::string out = testing::internal::GetCapturedStdout();
  packet_setHandler(PACKET_HANDLER_SETUP, nullptr);
  EXPECT_EQ(gotFrom, 0x01020304u);
  EXPECT_NE(out.find("packetparser:  UID = 01020304"), std::string::npos);
}

TEST_F(Link, WaitForBreakOnSilentLineTimesOut) {
  openQuietly();
  uint64_t t0 = clock_nowUs();
  EXPECT_EQ(waitForBreak(15), 0);
  uint64_t dt = clock_nowUs() - t0;
  EXPECT_GE(dt, 14000u);
  EXPECT_LE(dt, 17000u);
}

TEST_F(Link, WaitForBreakSeesASingleZeroByte) {
  FixedResponder dev;  // answers with the break alone
  line.sim_addResponder(&dev);
  openQuietly();
  Packet p = setupRead(7);
  ASSERT_EQ(cable_sendPacket(&p), 20);
  EXPECT_EQ(waitForBreak(15), 1);
  EXPECT_EQ(flushRxBuff(), -1);
}

TEST_F(Link, WaitForBreakWithoutConverterWaitsItsFullTime) {
  uint64_t t0 = clock_nowUs();
  EXPECT_EQ(waitForBreak(15), 0);
  EXPECT_GE(clock_nowUs() - t0, 14000u);
  EXPECT_EQ(flushRxBuff(), -2);
}

TEST_F(Link, GetResponseCodesAndZeroedBuffer) {
  uint8_t buf[8];
  memset(buf, 0xAA, sizeof buf);
  EXPECT_EQ(getResponse(buf, 8), -2);
  for (uint8_t b : buf) EXPECT_EQ(b, 0);
  openQuietly();
  memset(buf, 0xAA, sizeof buf);
  EXPECT_EQ(getResponse(buf, 8), -1);
  for (uint8_t b : buf) EXPECT_EQ(b, 0);
}

TEST_F(Link, NoConverterMeansNoBreakAndChecksumStillFilled) {
  line.sim_setPlugged(false);
  testing::internal::CaptureStdout();
  Packet p = setupRead(0x01020304);
  p.crc = 0;
  EXPECT_EQ(cable_sendPacket(&p), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(p.crc, 0x0668);
  EXPECT_NE(out.find("Error FT_OpenEx(2), device 0\n"), std::string::npos);
  uint8_t b = 0;
  EXPECT_EQ(sendData(&b, 1), -1);
  line.sim_settle();
  EXPECT_TRUE(line.sim_trace().trace_entries('T').empty());
}

TEST_F(Link, UnpluggedDuringSendFailsInsteadOfHanging) {
  openQuietly();
  line.sim_setPlugged(false);
  Packet p = setupRead(1);
  uint64_t t0 = clock_nowUs();
  EXPECT_EQ(cable_sendPacket(&p), -1);
  EXPECT_LT(clock_nowUs() - t0, 1000000u);
}

TEST_F(Link, StuckTransmitterFailsWithinTheDrainLimit) {
  openQuietly();
  line.sim_setTransmitterStuck(true);
  Packet p = setupRead(1);
  uint64_t t0 = clock_nowUs();
  EXPECT_EQ(cable_sendPacket(&p), -1);
  uint64_t dt = clock_nowUs() - t0;
  EXPECT_GE(dt, (uint64_t)FTDI_DRAIN_LIMIT_MS * 1000);
  EXPECT_LT(dt, (uint64_t)FTDI_DRAIN_LIMIT_MS * 1000 + 20000);
}

TEST_F(Link, OpenListsAndConfiguresOnceThenReusesTheConverter) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(cable_open(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Opened device TSIM0001\n");
  EXPECT_EQ(cable_open(), 0);
  EXPECT_EQ(line.sim_openCount(), 1);
  EXPECT_EQ(cable_free(), -1);
  EXPECT_EQ(getOpenDevice(), -1);
  closeDevice();  // a second close does nothing
  EXPECT_EQ(getOpenDevice(), -1);
}

TEST_F(Link, FirmwarePacketCarriesCrcOfFirst74BytesLowByteFirst) {
  openQuietly();
  uint8_t fw[CABLE_DMX_PACKET_SIZE];
  for (int i = 0; i < CABLE_DMX_PACKET_SIZE; i++) fw[i] = (uint8_t)(i * 7 + 3);
  uint16_t crc = get_CRC(fw, 74);
  ASSERT_EQ(cable_sendDmxPacket(fw), 76);
  line.sim_settle();
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 1u);
  ASSERT_EQ(tx[0].bytes.size(), 76u);
  EXPECT_EQ(tx[0].bytes[74], crc & 0xFF);
  EXPECT_EQ(tx[0].bytes[75], crc >> 8);
  EXPECT_EQ(tx[0].bytes[73], (uint8_t)(73 * 7 + 3));
}

TEST_F(Link, BaudSwitchWithBytesInFlightGarblesTheFrame) {
  // Straight through the port API, skipping the drain that sendData does:
  // the same frame, once left to finish and once cut by a rate change while
  // its bytes are still going out.
  SilentResponder dev;
  line.sim_addResponder(&dev);
  FT_HANDLE h = nullptr;
  char serial[] = "TSIM0001";
  ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), (FT_STATUS)FT_OK);
  FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
  Packet p;
  packet_fillHeader(&p, 3);
  memset(p.data, 0x01, 60);
  p.length = 60;  // 79 bytes: 3.5 ms on the wire, longer than a USB round trip
  packet_fillCrc(&p);
  uint8_t zero = 0;
  DWORD written = 0;
  for (bool cut : {false, true}) {
    FT_SetBaudRate(h, 15625);
    FT_Write(h, &zero, 1, &written);
    clock_sleepUs(2000);  // the break has left the line
    FT_SetBaudRate(h, 250000);
    FT_Write(h, (void*)packet_bytes(&p), packet_frameSize(&p), &written);
    if (cut) FT_SetBaudRate(h, 15625);
    clock_sleepUs(10000);
  }
  line.sim_settle();
  FT_Close(h);
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 2u);
  EXPECT_FALSE(tx[0].garbled);
  EXPECT_TRUE(tx[1].garbled);
  EXPECT_EQ(dev.seen, 1) << "devices never see a garbled frame";
}

TEST_F(Link, ResponseBufferKeepsFirst255Bytes) {
  std::string text(300, 'a');
  text.replace(100, 5, "HELLO");
  text.replace(280, 5, "WORLD");
  FixedResponder dev;
  dev.answer.assign(text.begin(), text.end());
  line.sim_addResponder(&dev);
  openQuietly();
  clearRespBuff();
  Packet p = setupRead(1);
  ASSERT_EQ(cable_sendPacket(&p), 20);
  ASSERT_EQ(waitForBreak(15), 1) << "the answer's break comes first, as a 0x00";
  EXPECT_EQ(waitForResponse_clr("HELLO", 20, 1), 1);
  for (int i = 0; i < 10; i++) checkResponse("nothing");
  EXPECT_EQ(strlen(cable_respBuff()), 255u);
  EXPECT_EQ(checkResponse("WORLD"), 0);
}

TEST_F(Link, WaitForResponseWithNoTriesDoesNotRead) {
  FixedResponder dev;
  dev.answer = {'O', 'K'};
  line.sim_addResponder(&dev);
  openQuietly();
  Packet p = setupRead(1);
  ASSERT_EQ(cable_sendPacket(&p), 20);
  ASSERT_EQ(waitForBreak(15), 1);
  mySleep(10);
  EXPECT_EQ(waitForResponse_clr("OK", 0, 1), 0);
  EXPECT_EQ(waitForResponse_clr("OK", 3, 0), 1) << "the bytes were still waiting";
}

TEST_F(Link, InventoryListsTheSimulatedConverter) {
  testing::internal::CaptureStdout();
  printDeviceList();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Number of devices is 1\n"
            "Dev 0:\n"
            " Flags=0x0\n"
            " Type=0x5\n"
            " ID=0x4036001\n"
            " LocId=0x11\n"
            " SerialNumber=TSIM0001\n"
            " Description=Tern simulated DMX cable\n"
            " ftHandle=0x0\n");
  line.sim_setPlugged(false);
  testing::internal::CaptureStdout();
  printDeviceList();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Number of devices is 0\n");
  EXPECT_EQ(readDevices(), 0);
}

TEST_F(Link, LongestAnswerIsTakenWhole) {
  // 19 header bytes and 255 payload bytes: the largest frame a device sends,
  // polled the way commands poll (50 bytes a read, 17 ms apart).
  static std::vector<uint8_t> got;
  got.clear();
  packet_setHandler(PACKET_HANDLER_SETUP, [](Packet* f) { got.assign(f->data, f->data + f->length); });
  std::vector<uint8_t> payload(255);
  for (int i = 0; i < 255; i++) payload[i] = (uint8_t)(i * 13 + 1);
  payload[0] = 0x01;
  Packet answer;
  packet_fillHeader(&answer, PACKET_BROADCAST);
  answer.src = 0x01020304;
  memcpy(answer.data, payload.data(), 255);
  answer.length = 255;
  packet_fillCrc(&answer);
  FixedResponder dev;
  dev.answer.assign(packet_bytes(&answer), packet_bytes(&answer) + PACKET_MAX_FRAME);
  line.sim_addResponder(&dev);
  openQuietly();
  Packet p = setupRead(0x01020304);
  ASSERT_EQ(cable_sendPacket(&p), 20);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 15 && got.empty(); i++) {
    mySleep(15);
    cable_response();
  }
  testing::internal::GetCapturedStdout();
  packet_setHandler(PACKET_HANDLER_SETUP, nullptr);
  EXPECT_EQ(got, payload);
}

TEST_F(Link, FlushEndsOnALineThatNeverFallsSilent) {
  openQuietly();
  // A byte every 100 us for two seconds: more than the flush could ever
  // read one byte at a time.
  const uint64_t t0 = clock_nowUs();
  for (uint64_t t = 0; t < 2000000; t += 100) line.sim_injectByte(t0 + t, 0x55);
  EXPECT_EQ(flushRxBuff(), 1) << "stopped while bytes were still arriving";
  const uint64_t took = clock_nowUs() - t0;
  EXPECT_GE(took, (uint64_t)CABLE_FLUSH_LIMIT_MS * 1000);
  EXPECT_LT(took, (uint64_t)CABLE_FLUSH_LIMIT_MS * 1000 + 10000);
}

// A converter that another program holds is not a missing cable: the
// operator is told who has it, and a free or missing one reads as before.
TEST_F(Link, ConverterHeldElsewhereIsToldApartFromAMissingOne) {
  line.sim_setHeldElsewhere(true);
  testing::internal::CaptureStdout();
  const int held = cable_open();
  testing::internal::GetCapturedStdout();
  EXPECT_LT(held, 0);
  EXPECT_EQ(std::string(cable_notFoundText()).rfind("The cable is in use by another program", 0), 0u)
      << cable_notFoundText();
  line.sim_setHeldElsewhere(false);
  line.sim_setPlugged(false);
  testing::internal::CaptureStdout();
  const int missing = cable_open();
  testing::internal::GetCapturedStdout();
  EXPECT_LT(missing, 0);
  EXPECT_STREQ(cable_notFoundText(), "Cable not found!");
}
