// The line setup and the send path as the chip sees them: the vendor
// requests libftdi1 sends for our backend, the rates the chip decodes, the
// latency timer, and the drain on the transmitter-empty bit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/app_discovery.h"
#include "link/ftdi_port.h"
#include "link/timer.h"
#include "../support/raw_port.h"
#include "usb_bench.h"

namespace {

const uint32_t kSeed = 11;

const uint8_t kPollModemStatus = 0x05;

// A vendor request as "request value/index".
std::string request(const FakeUsbCall& c) {
  char s[40];
  snprintf(s, sizeof s, "%02X %04X/%04X", c.request, c.value, c.index);
  return s;
}

// The vendor requests of the test's own thread (the reader makes none).
std::vector<std::string> setupRequests() {
  std::vector<std::string> out;
  for (const FakeUsbCall& c : usbCalls("libusb_control_transfer"))
    if (c.request != kPollModemStatus) out.push_back(request(c));
  return out;
}

// Opens the cable as a command does, without its console line.
void openQuietly() {
  testing::internal::CaptureStdout();
  const int r = cable_open();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(r, 0);
}

// When the program sees the answer to a probe: it sends the probe and asks
// for the receive count every 100 us. Returns the time from the answer's
// break reaching the chip to the status query that reported it, and in
// `usbUs` to the end of the reader's transfer that carried it.
uint64_t probeAnswerDelayUs(UsbBench& bench, FT_HANDLE h, uint64_t& usbUs) {
  uint8_t buf[64];
  DWORD rx = 0, tx = 0, ev = 0, got = 0;
  if (FT_GetStatus(h, &rx, &tx, &ev) == FT_OK && rx)
    FT_Read(h, buf, rx < sizeof buf ? rx : sizeof buf, &got);
  fakeusb_clearCalls();
  const Packet p = probeOfZero();
  const uint8_t* bytes = packet_bytes(&p);
  rawSendBreakAndFrame(h, std::vector<uint8_t>(bytes, bytes + packet_frameSize(&p)));
  const uint64_t limit = clock_nowUs() + 50000;
  uint64_t seen = 0;
  while (!seen && clock_nowUs() < limit) {
    if (FT_GetStatus(h, &rx, &tx, &ev) == FT_OK && rx)
      seen = clock_nowUs();
    else
      clock_sleepUs(100);
  }
  FT_Read(h, buf, rx < sizeof buf ? rx : sizeof buf, &got);
  const std::vector<SimTraceEntry> answers = bench.trace('R');
  EXPECT_FALSE(answers.empty());
  if (answers.empty() || !seen) return UINT64_MAX;
  const uint64_t arrived = answers.back().dataUs;  // the break's byte reaches the receiver
  usbUs = UINT64_MAX;
  for (const FakeUsbCall& c : usbCalls("libusb_bulk_transfer"))
    if (c.endpoint == 0x81 && c.data.size() > 2 && usbUs == UINT64_MAX) usbUs = c.endUs - arrived;
  return seen - arrived;
}

}  // namespace

TEST(UsbLineSetup, ControlTransfersSetTheDmxLineAndTheLatencyTimer) {
  UsbBench bench(1, kSeed);
  openQuietly();
  // libftdi1's open (reset, 9600 baud), the backend's session (latency 1 ms,
  // flow control off, DTR and RTS cleared, both buffers purged), then
  // FT_ResetDevice (the same again after the reset), 250000 baud and 8N2.
  const std::vector<std::string> session = {"09 0001/0001", "02 0000/0001", "01 0300/0001",
                                            "00 0001/0001", "00 0002/0001"};
  std::vector<std::string> expect = {"00 0000/0001", "03 4138/0000"};
  expect.insert(expect.end(), session.begin(), session.end());
  expect.push_back("00 0000/0001");
  expect.insert(expect.end(), session.begin(), session.end());
  expect.push_back("03 000C/0000");  // 3 MHz / 12
  expect.push_back("04 1008/0001");  // 8 data bits, no parity, 2 stop bits, no break
  EXPECT_EQ(setupRequests(), expect);
  Ft232rModel::State st = bench.chip.chip_state();
  EXPECT_TRUE(wire_isDmx(st.format));
  EXPECT_TRUE(st.baudExact);
  EXPECT_EQ(st.divisorEighths, 96u);
  EXPECT_EQ(st.latencyMs, 1);
  EXPECT_EQ(st.flow, 0);
  EXPECT_FALSE(st.dtr || st.rts || st.breakOn);

  // A send: the break at 15625 baud (3 MHz / 192), then back to 250000.
  fakeusb_clearCalls();
  Packet p = probeOfZero();
  ASSERT_EQ(cable_sendPacket(&p), 25);
  EXPECT_EQ(setupRequests(), (std::vector<std::string>{"03 00C0/0000", "03 000C/0000"}));
  const std::vector<SimTraceEntry> sent = bench.trace('T');
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].garbled);
  EXPECT_EQ(sent[0].breakLowUs, 576u) << "start and 8 data bits at 64 us";
  EXPECT_EQ(sent[0].bytes.size(), 25u);
  EXPECT_TRUE(wire_isDmx(bench.chip.chip_state().format));
}

TEST(UsbLineSetup, ModelDecodesTheDivisorsLibftdiSends) {
  // 14 bits of divisor, eighths across wValue bits 14-15 and wIndex bit 0,
  // as libftdi1 encodes them for these rates (38400: 78 1/8, code 3; 289157:
  // 10 3/8, code 4 with its top bit in wIndex).
  struct Case {
    uint16_t value, index;
    uint32_t baud, eighths;
  } cases[] = {{0x000C, 0, 250000, 96},    {0x00C0, 0, 15625, 1536}, {0x4138, 0, 9600, 2500},
               {0x0000, 0, 3000000, 0},    {0x0001, 0, 2000000, 12}, {0x001A, 0, 115385, 208},
               {0xC04E, 0, 38400, 625},    {0x000A, 1, 289157, 83}};
  for (const Case& c : cases) {
    uint32_t eighths = 0;
    EXPECT_EQ(Ft232rModel::chip_decodeBaud(c.value, c.index, eighths), c.baud) << c.value;
    EXPECT_EQ(eighths, c.eighths) << c.value;
  }
}

// The latency timer, seen from USB: with nothing received the chip answers
// the reader's transfers with the two status bytes, once a latency period.
TEST(UsbLineSetup, IdleReaderGetsAStatusPacketEveryMillisecond) {
  UsbBench bench(0);
  openQuietly();
  fakeusb_clearCalls();
  clock_sleepUs(20000);
  std::vector<uint64_t> ends;
  for (const FakeUsbCall& c : usbCalls("libusb_bulk_transfer")) {
    ASSERT_EQ(c.endpoint, 0x81);
    ASSERT_NE(c.thread, 0) << "the background reader's";
    EXPECT_EQ(c.data, (std::vector<uint8_t>{0x01, 0x60})) << "modem status, THRE and TEMT";
    ends.push_back(c.endUs);
  }
  ASSERT_GE(ends.size(), 19u);
  for (size_t i = 1; i < ends.size(); i++) {
    EXPECT_GE(ends[i] - ends[i - 1], 1000u) << i;
    EXPECT_LT(ends[i] - ends[i - 1], 1010u) << i;
  }
}

// A probe's answer reaches the program within about a millisecond of
// reaching the chip. At the chip's default of 16 ms a lone break waits in
// the chip for up to the whole latency period.
TEST(UsbLineSetup, ProbeAnswerReachesTheProgramWithinTheLatencyTimer) {
  UsbBench bench(3, kSeed);
  FT_HANDLE h = openConfigured();
  for (int latency : {1, 16}) {
    // 1 ms as the backend set it; then 16 ms, as a chip left at its default.
    if (latency != 1) bench.chip.chip_setLatencyMs(latency);
    uint64_t worstUsb = 0, worst = 0, best = UINT64_MAX;
    for (int i = 0; i < 8; i++) {
      uint64_t usb = 0;
      const uint64_t d = probeAnswerDelayUs(bench, h, usb);
      worstUsb = std::max(worstUsb, usb);
      worst = std::max(worst, d);
      best = std::min(best, d);
      clock_sleepUs(3000 + 1930 * i);  // the next probe at another phase of the timer
    }
    const uint64_t period = (uint64_t)latency * 1000u;
    EXPECT_LE(worstUsb, period) << "latency " << latency;
    EXPECT_LE(worst, period + 2 * bench.chip.chip_roundTripUs()) << "latency " << latency;
    if (latency > 1) {
      EXPECT_GT(worstUsb, period / 2) << "the chip held the break back";
    }
    fprintf(stderr,
            "[figures] probe answer, latency %d ms: chip to reader up to %.3f ms, to the "
            "program's status query %.3f..%.3f ms\n",
            latency, worstUsb / 1000.0, best / 1000.0, worst / 1000.0);
  }
  EXPECT_EQ(FT_Close(h), FT_OK);
}

// On a fast host a status query takes a quarter of a millisecond, less
// than the break's 704 us on the wire: a drain that stopped at the buffer
// empty bit (THRE, set as soon as the 0x00 starts) would switch the rate
// under the break and spoil the frame after it.
TEST(UsbLineSetup, DrainWaitsForTheTransmitterToEmptyNotItsBuffer) {
  UsbBench bench(3, kSeed);
  bench.chip.chip_setRoundTripUs(250);
  FT_HANDLE h = openConfigured();
  // Queries the status until the transmit count is 0, as every drain does.
  auto drain = [&](int& queries) {
    DWORD rx = 0, tx = 1, ev = 0;
    for (queries = 1; queries < 100; queries++) {
      EXPECT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
      if (tx == 0) return clock_nowUs();
      clock_sleepUs(200);
    }
    return (uint64_t)0;
  };
  int breakQueries = 0, frameQueries = 0;
  const uint8_t zero = 0;
  DWORD written = 0;
  ASSERT_EQ(FT_SetBaudRate(h, 15625), FT_OK);
  ASSERT_EQ(FT_Write(h, (void*)&zero, 1, &written), FT_OK);
  const uint64_t breakDrained = drain(breakQueries);
  ASSERT_EQ(FT_SetBaudRate(h, 250000), FT_OK);
  const Packet p = probeOfZero();
  ASSERT_EQ(FT_Write(h, (void*)packet_bytes(&p), (DWORD)packet_frameSize(&p), &written), FT_OK);
  const uint64_t frameDrained = drain(frameQueries);
  clock_sleepUs(10000);

  const std::vector<SimTraceEntry> trace = bench.trace();
  ASSERT_GE(trace.size(), 1u);
  const SimTraceEntry& sent = trace[0];
  EXPECT_EQ(sent.dir, 'T');
  EXPECT_FALSE(sent.garbled) << "the rate changed under the break";
  EXPECT_GT(breakQueries, 1) << "the drain saw the break still on the wire";
  EXPECT_GE(breakDrained, sent.breakUs + 704) << "tx was 0 before the break had left";
  EXPECT_GE(frameDrained, sent.endUs);
  ASSERT_EQ(trace.size(), 2u) << "every device answered the probe";
  EXPECT_EQ(trace[1].dir, 'R');
  EXPECT_EQ(FT_Close(h), FT_OK);
}

// One probe of a discovery as the chip sees it: the calls of the program's
// thread, and the reader's transfers that carried something.
TEST(UsbLineSetup, OneDiscoveryProbeOnUsb) {
  UsbBench bench(3, kSeed);
  openQuietly();
  fakeusb_clearCalls();
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(discoveryCompareAddr(0), 1);
  std::vector<std::string> program;
  std::vector<std::string> reader;
  for (const FakeUsbCall& c : fakeusb_calls()) {
    std::string line = c.fn.substr(c.fn.find('_') + 1);
    if (c.fn == "libusb_control_transfer") line += " " + request(c);
    if (c.fn == "libusb_bulk_transfer") {
      char ep[24];
      snprintf(ep, sizeof ep, " %02X %d:", c.endpoint, c.endpoint == 0x81 ? (int)c.data.size() : c.arg);
      line += ep;
      for (size_t i = 0; i < c.data.size() && i < 8; i++) {
        char hex[4];
        snprintf(hex, sizeof hex, " %02X", c.data[i]);
        line += hex;
      }
      if (c.data.size() > 8) line += " ...";
    }
    char at[64];
    snprintf(at, sizeof at, "%8.3f ms (%.3f) ", (c.startUs - t0) / 1000.0, (c.endUs - c.startUs) / 1000.0);
    if (c.thread == 0) {
      program.push_back(line);
      fprintf(stderr, "[figures] probe: program %s%s\n", at, line.c_str());
    } else if (c.data.size() > 2) {
      reader.push_back(line);
      fprintf(stderr, "[figures] probe: reader  %s%s\n", at, line.c_str());
    }
  }
  fprintf(stderr, "[figures] probe: %zu calls in all (the reader's included), %.3f ms\n",
          fakeusb_calls().size(), (clock_nowUs() - t0) / 1000.0);
  // The receive queue flushed (a status query), 47 ms of sleep, flushed
  // again, the break at 15625 baud drained, the frame at 250000 drained,
  // 4.4 ms, then status queries until the answer's break is there.
  ASSERT_GE(program.size(), 9u);
  const std::vector<std::string> send = {
      "control_transfer 05 0000/0001",  "control_transfer 05 0000/0001",
      "control_transfer 03 00C0/0000",
      "bulk_transfer 02 1: 00",         "control_transfer 05 0000/0001",
      "control_transfer 03 000C/0000",  "bulk_transfer 02 25: 91 29 A9 FD FF FF FF FF ...",
      "control_transfer 05 0000/0001",  "control_transfer 05 0000/0001"};
  EXPECT_EQ(std::vector<std::string>(program.begin(), program.begin() + 9), send);
  for (size_t i = 9; i < program.size(); i++) EXPECT_EQ(program[i], "control_transfer 05 0000/0001");
  // The three answers' common break, as the chip reports a break.
  EXPECT_EQ(reader, std::vector<std::string>{"bulk_transfer 81 3: 01 78 00"});
}
