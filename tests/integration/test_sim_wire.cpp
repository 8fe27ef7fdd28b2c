// The simulated converter as the wire sees it: the line format, what counts
// as a break, the finite receive queue, and the capture of the line that
// sigrok-cli decodes. Frames go out through the real link code where the
// product drives the line, and through the port API where a test must do
// what the product never does (a wrong format or break rate).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "../support/raw_port.h"
#include "link/cable.h"
#include "link/timer.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "protocol/packet_parser.h"
#include "sim/sim_capture.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

// Answers every transmission with fixed bytes after 2 ms.
class Answering : public SimResponder {
 public:
  std::vector<uint8_t> answer;
  int seen = 0;
  bool sim_respond(const uint8_t*, int, uint64_t, SimAnswer& a) override {
    seen++;
    a.count = (int)answer.size();
    std::copy(answer.begin(), answer.end(), a.bytes);
    return true;
  }
};

Packet probe(uint32_t uid) {
  Packet p;
  packet_fillHeader(&p, uid);
  p.data[0] = 0x01;
  p.data[1] = 0x00;
  p.length = 2;
  return p;
}

class SimWire : public testing::Test {
 protected:
  SimLine line;
  Answering dev;
  void SetUp() override {
    line.sim_addResponder(&dev);
    ftd2xx_setBackend(&line);
    packet_resetReceiver();
  }
  void TearDown() override {
    cable_free();
    ftd2xx_setBackend(nullptr);
  }
  // One frame through the link, as every command sends it.
  void sendThroughLink(uint32_t uid) {
    testing::internal::CaptureStdout();
    Packet p = probe(uid);
    EXPECT_EQ(cable_sendPacket(&p), 21);
    testing::internal::GetCapturedStdout();
  }
  // Straight through the port API: the break as the link sends it, then the
  // frame in `bits`/`stop`/`parity`, where the link would never change them.
  void sendInFormat(const std::vector<uint8_t>& frame, UCHAR bits, UCHAR stop, UCHAR parity,
                    ULONG breakBaud = 15625) {
    FT_HANDLE h = nullptr;
    char serial[] = "TSIM0001";
    ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), (FT_STATUS)FT_OK);
    ASSERT_EQ(FT_ResetDevice(h), (FT_STATUS)FT_OK);
    ASSERT_EQ(FT_SetDataCharacteristics(h, bits, stop, parity), (FT_STATUS)FT_OK);
    uint8_t zero = 0;
    DWORD w = 0;
    FT_SetBaudRate(h, breakBaud);
    FT_Write(h, &zero, 1, &w);
    clock_sleepUs(5000);
    FT_SetBaudRate(h, 250000);
    FT_Write(h, (void*)frame.data(), (DWORD)frame.size(), &w);
    clock_sleepUs(frame.size() * 50 + 5000);
    FT_Close(h);
  }
  SimTraceEntry onlyTransmission() {
    line.sim_settle();
    auto tx = line.sim_trace().trace_entries('T');
    EXPECT_EQ(tx.size(), 1u);
    line.sim_trace().trace_clear();
    return tx.empty() ? SimTraceEntry{} : tx[0];
  }
};

}  // namespace

TEST_F(SimWire, OnlyTheDmxLineFormatReachesTheDevices) {
  sendThroughLink(0x01020304);
  SimTraceEntry e = onlyTransmission();
  EXPECT_FALSE(e.garbled);
  EXPECT_EQ(e.endUs - e.dataUs, 21u * 44u) << "8N2 at 250000 baud: 44 us a byte";
  EXPECT_EQ(dev.seen, 1);
  cable_free();

  // A frame written in any other format: the devices' UARTs read rubbish.
  struct {
    UCHAR bits, stop, parity;
    uint32_t byteUs;
  } const wrong[] = {
      {8, FT_STOP_BITS_1, 0, 40}, {8, FT_STOP_BITS_2, 2, 48}, {7, FT_STOP_BITS_2, 0, 40}};
  const std::vector<uint8_t> frame = makeFrame(1, {0x01, 0x00});
  for (const auto& f : wrong) {
    SCOPED_TRACE(testing::Message()
                 << int(f.bits) << " bits, stop " << int(f.stop) << ", parity " << int(f.parity));
    sendInFormat(frame, f.bits, f.stop, f.parity);
    SimTraceEntry g = onlyTransmission();
    EXPECT_TRUE(g.withBreak);
    EXPECT_TRUE(g.garbled);
    EXPECT_EQ(g.bytes, frame);
    EXPECT_EQ(g.endUs - g.dataUs, frame.size() * f.byteUs);
  }
  EXPECT_EQ(dev.seen, 1) << "devices never see a garbled frame";
  EXPECT_EQ(line.sim_counters().framesGarbled, 3);

  // A chip fresh from reset speaks 8N1 at 9600 baud, as a real one does.
  FT_HANDLE h = nullptr;
  char serial[] = "TSIM0001";
  ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), (FT_STATUS)FT_OK);
  FT_SetBaudRate(h, 250000);
  FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
  FT_ResetDevice(h);
  const SimLineFormat after = line.sim_lineFormat();
  EXPECT_EQ(after.baud, 9600u);
  EXPECT_EQ(after.dataBits, 8);
  EXPECT_EQ(after.stopBits, FT_STOP_BITS_1);
  EXPECT_EQ(after.parity, FT_PARITY_NONE);
  FT_Close(h);
}

TEST_F(SimWire, BreakAt15625BaudIs576usLowThenTheMark) {
  dev.answer = {0x41};
  sendThroughLink(7);
  mySleep(10);
  line.sim_settle();
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 1u);
  EXPECT_TRUE(tx[0].withBreak);
  EXPECT_EQ(tx[0].breakLowUs, 576u) << "start bit and eight zero bits of 64 us";
  EXPECT_GE(tx[0].markUs, 128u) << "at least the two stop bits high before the first byte";
  // The device's own break in its answer is long enough for DMX-512 too.
  auto rx = line.sim_trace().trace_entries('R');
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_GE(rx[0].breakLowUs, 88u);
  EXPECT_EQ(line.sim_counters().breaks, 1);
}

TEST_F(SimWire, ZeroTooShortForABreakIsJustAByte) {
  const std::vector<uint8_t> frame = makeFrame(1, {0x01, 0x00});
  // 9 bits low last 88 us at 102272 baud: the fastest rate at which a 0x00
  // is still a break.
  sendInFormat(frame, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE, 102272);
  SimTraceEntry e = onlyTransmission();
  EXPECT_TRUE(e.withBreak);
  EXPECT_EQ(e.breakLowUs, 88u);
  EXPECT_EQ(dev.seen, 1);

  // A little faster, and the 0x00 is a byte like any other: no break starts
  // the frame (the 0x00 and the frame after the drain's pause are two
  // transmissions without one), so no device takes it.
  for (ULONG baud : {102273u, 115200u}) {
    SCOPED_TRACE(baud);
    sendInFormat(frame, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE, baud);
    line.sim_settle();
    std::vector<uint8_t> carried;
    for (const SimTraceEntry& t : line.sim_trace().trace_entries('T')) {
      EXPECT_FALSE(t.withBreak);
      carried.insert(carried.end(), t.bytes.begin(), t.bytes.end());
    }
    line.sim_trace().trace_clear();
    ASSERT_EQ(carried.size(), frame.size() + 1);
    EXPECT_EQ(carried[0], 0x00);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), carried.begin() + 1));
  }
  EXPECT_EQ(dev.seen, 1);
  EXPECT_EQ(line.sim_counters().breaks, 1);
}

TEST_F(SimWire, FullReceiveQueueLosesAndCountsWhatArrives) {
  for (int i = 0; i < 100; i++) dev.answer.push_back((uint8_t)(i + 1));
  line.sim_setRxCapacity(64);
  FT_HANDLE h = nullptr;
  char serial[] = "TSIM0001";
  ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), (FT_STATUS)FT_OK);
  FT_SetTimeouts(h, 1, 0);
  FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
  const std::vector<uint8_t> frame = makeFrame(1, {0x01});
  auto send = [&] { rawSendBreakAndFrame(h, frame); };

  // Read in time, 16 bytes a round trip while about 23 arrive: the queue
  // never holds more than about 30, and nothing is lost.
  send();
  std::vector<uint8_t> got;
  uint8_t buf[16];
  for (int idle = 0; idle < 20;) {
    DWORD n = 0;
    ASSERT_EQ(FT_Read(h, buf, sizeof buf, &n), (FT_STATUS)FT_OK);
    got.insert(got.end(), buf, buf + n);
    idle = n ? 0 : idle + 1;
  }
  EXPECT_EQ(got.size(), 101u);
  EXPECT_EQ(line.sim_counters().rxOverflowBytes, 0);

  // Read late: the queue keeps the break and the first 63 bytes.
  send();
  clock_sleepUs(30000);
  DWORD n = 0;
  uint8_t all[128];
  ASSERT_EQ(FT_Read(h, all, sizeof all, &n), (FT_STATUS)FT_OK);
  ASSERT_EQ(n, 64u);
  EXPECT_EQ(all[0], 0x00);
  EXPECT_EQ(all[63], 63);
  EXPECT_EQ(line.sim_counters().rxOverflowBytes, 37);
  FT_Close(h);
  SimDevices none(0, 1);
  const SimJson state = SimJson::parse(none.sim_stateJson(&line));
  EXPECT_EQ(state["converter"]["rxCapacity"], 64) << state.dump();
  EXPECT_EQ(state["converter"]["rxOverflowBytes"], 37) << state.dump();
}

namespace {

// One annotation of sigrok-cli's UART decoder: a byte (its data bits) or a
// break, in samples.
struct Decoded {
  uint64_t from, to;
  bool isBreak;
  int value;
};

// Runs sigrok-cli's UART decoder over a capture; false when it cannot run.
bool decodeCapture(const std::string& path, std::vector<Decoded>& out, std::string& problem) {
  const std::string cmd = "sigrok-cli -i '" + path +
                          "' -P uart:rx=0:baudrate=250000:stop_bits=1.5 "
                          "--protocol-decoder-samplenum -A uart=rx-data:rx-break 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return problem = "cannot run sigrok-cli", false;
  char line[256];
  while (fgets(line, sizeof line, p)) {
    unsigned long long a = 0, b = 0;
    char text[64] = {0};
    if (sscanf(line, "%llu-%llu uart-1: %63[^\n]", &a, &b, text) != 3) {
      problem += line;
      continue;
    }
    const bool brk = strcmp(text, "Break condition") == 0;
    out.push_back(Decoded{a, b, brk, brk ? -1 : (int)strtol(text, nullptr, 16)});
  }
  const int status = pclose(p);
  if (status != 0) problem += "sigrok-cli exit status " + std::to_string(status);
  return status == 0;
}

}  // namespace

// The capture carries every byte and break of the trace where the trace has
// it: decoded by an independent UART decoder, the bytes of every frame
// start 44 us apart (8N2; 8N1 would be 40 us, which the decoder takes
// without complaint), the breaks hold the line low as long as the trace
// says.
TEST_F(SimWire, CaptureDecodesToTheTrace) {
  ASSERT_EQ(system("command -v sigrok-cli >/dev/null 2>&1"), 0)
      << "sigrok-cli is missing: tools/deps.sh installs it";
  line.sim_trace().trace_recordWire(true);
  dev.answer = makeFrame(0x01020304, {0x01, 0x0D, 0x00, 0xFF});
  for (uint32_t uid : {0x01020304u, 0x00FF0080u, 0xFFFFFFFFu}) {
    sendThroughLink(uid);
    EXPECT_EQ(waitForBreak(15), 1);
    mySleep(20);
    flushRxBuff();
  }
  line.sim_settle();
  const std::string path = testing::TempDir() + "tern_line_" + std::to_string(getpid()) + ".sr";
  SimCaptureInfo info;
  ASSERT_TRUE(capture_writeSr(path, line.sim_trace().trace_wire(), &info));
  std::vector<Decoded> all;
  std::string problem;
  SCOPED_TRACE("capture " + path + " (kept when the test fails)");
  ASSERT_TRUE(decodeCapture(path, all, problem)) << problem;
  EXPECT_EQ(problem, "") << "lines sigrok-cli printed besides annotations";

  // A break is also decoded as a 0x00 with a frame error: that byte is the
  // break's, not one of the line's bytes.
  std::sort(all.begin(), all.end(),
            [](const Decoded& a, const Decoded& b) { return a.from < b.from; });
  std::vector<Decoded> breaks, bytes;
  for (const Decoded& d : all) {
    if (d.isBreak)
      breaks.push_back(d);
    else if (breaks.empty() || d.from >= breaks.back().to)
      bytes.push_back(d);
  }

  std::vector<SimTraceEntry> trace = line.sim_trace().trace_entries();
  std::sort(trace.begin(), trace.end(),
            [](const SimTraceEntry& a, const SimTraceEntry& b) { return a.dataUs < b.dataUs; });
  ASSERT_EQ(trace.size(), 6u) << "three frames and three answers";
  const uint64_t bitSamples = CAPTURE_SAMPLE_RATE_HZ / 250000;
  size_t nb = 0, nd = 0;
  for (const SimTraceEntry& e : trace) {
    SCOPED_TRACE(testing::Message() << e.dir << " at " << e.dataUs);
    ASSERT_TRUE(e.withBreak);
    ASSERT_LT(nb, breaks.size()) << "a break of the trace is missing";
    EXPECT_EQ(breaks[nb].from, e.breakUs - info.firstUs);
    EXPECT_EQ(breaks[nb].to - breaks[nb].from, e.breakLowUs);
    nb++;
    for (size_t i = 0; i < e.bytes.size(); i++, nd++) {
      ASSERT_LT(nd, bytes.size()) << "byte " << i << " of the trace is missing";
      EXPECT_EQ(bytes[nd].value, e.bytes[i]) << "byte " << i;
      // The decoder's byte begins after the start bit.
      EXPECT_EQ(bytes[nd].from - bitSamples, e.dataUs - info.firstUs + 44 * i) << "byte " << i;
    }
  }
  EXPECT_EQ(nb, breaks.size()) << "breaks on the line that the trace does not have";
  EXPECT_EQ(nd, bytes.size()) << "bytes on the line that the trace does not have";
  EXPECT_EQ(breaks[0].to - breaks[0].from, 576u);
  if (!HasFailure()) remove(path.c_str());
}
