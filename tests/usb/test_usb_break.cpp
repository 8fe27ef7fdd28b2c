// The chip's break condition (the break bit of the line format request) on
// the line: a break held long enough begins a transmission the devices
// read, and a break released before the byte it waited for has left the
// shift register never held the line low at all.
#include <gtest/gtest.h>

#include <vector>

#include "usb_bench.h"

namespace {

const uint8_t kVendorOut = 0x40;
const uint8_t kReqBaudRate = 0x03;
const uint8_t kReqData = 0x04;
const uint16_t kDmxFrame = 0x1008;  // 8 data bits, no parity, 2 stop bits
const uint16_t kSlowFrame = 0x0008; // 8 data bits, no parity, 1 stop bit
const uint16_t kBreakBit = 0x4000;

int control(Ft232rModel& chip, uint8_t request, uint16_t value, uint16_t index = 0) {
  return chip.usb_control(kVendorOut, request, value, index, nullptr, 0, 1000);
}

int bulkOut(Ft232rModel& chip, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> data = bytes;
  int moved = 0;
  const int rc = chip.usb_bulk(0x02, data.data(), (int)data.size(), &moved, 1000);
  return rc == 0 ? moved : rc;
}

}  // namespace

TEST(UsbBreak, HeldBreakBeginsATransmissionTheDevicesAnswer) {
  UsbBench bench(1, 5);
  ASSERT_EQ(control(bench.chip, kReqBaudRate, 0x000C), 0);  // 3 MHz / 12: 250000
  ASSERT_EQ(control(bench.chip, kReqData, kDmxFrame), 0);
  // Each request acts halfway through its 1 ms round trip: 1 ms low (and
  // the microsecond each reading of the virtual clock costs).
  ASSERT_EQ(control(bench.chip, kReqData, kDmxFrame | kBreakBit), 0);
  ASSERT_EQ(control(bench.chip, kReqData, kDmxFrame), 0);
  const Packet p = probeOfZero();
  const uint8_t* bytes = packet_bytes(&p);
  const std::vector<uint8_t> frame(bytes, bytes + packet_frameSize(&p));
  ASSERT_EQ(bulkOut(bench.chip, frame), (int)frame.size());
  clock_sleepUs(5000);  // the frame leaves the wire

  const std::vector<SimTraceEntry> sent = bench.trace('T');
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].withBreak);
  EXPECT_FALSE(sent[0].garbled);
  EXPECT_NEAR(sent[0].breakLowUs, 1000u, 10u);
  EXPECT_EQ(sent[0].bytes, frame);
  EXPECT_EQ(sent[0].breakUs + sent[0].breakLowUs + sent[0].markUs, sent[0].dataUs);
  EXPECT_EQ(bench.trace('R').size(), 1u) << "the device answers the probe";
}

TEST(UsbBreak, BreakReleasedBeforeTheByteEndsHoldsNothingLow) {
  UsbBench bench(1, 5);
  // 300 baud (3 MHz / 10000): one byte keeps the shift register busy for
  // 33 ms, long after the break has been set and released again.
  ASSERT_EQ(control(bench.chip, kReqBaudRate, 10000), 0);
  ASSERT_EQ(control(bench.chip, kReqData, kSlowFrame), 0);
  ASSERT_EQ(bulkOut(bench.chip, {0x55}), 1);
  ASSERT_EQ(control(bench.chip, kReqData, kSlowFrame | kBreakBit), 0);
  ASSERT_EQ(control(bench.chip, kReqData, kSlowFrame), 0);
  // A reset while a break waits for the byte to end does the same.
  ASSERT_EQ(bulkOut(bench.chip, {0x55}), 1);
  ASSERT_EQ(control(bench.chip, kReqData, kSlowFrame | kBreakBit), 0);
  ASSERT_EQ(control(bench.chip, 0x00, 0x0000), 0);  // reset
  clock_sleepUs(100000);

  // Only the first byte went out, spoiled by the break (the reset purged
  // the second before it could start), and no break.
  const std::vector<SimTraceEntry> sent = bench.trace('T');
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].withBreak);
  EXPECT_TRUE(sent[0].garbled);
  EXPECT_EQ(sent[0].bytes, (std::vector<uint8_t>{0x55}));
  EXPECT_TRUE(bench.trace('R').empty());
  EXPECT_EQ(bench.line.line_garbled(), 1);
}
