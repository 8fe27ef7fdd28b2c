// The simulated line and its virtual devices: what tests elsewhere rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "../support/raw_port.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

// Three curve parts of a record as the configurator sends them.
std::vector<std::vector<uint8_t>> curveFrames(const uint8_t record[524], uint32_t dest) {
  std::vector<std::vector<uint8_t>> out;
  const int offset[3] = {0, 170, 340}, count[3] = {170, 170, 184};
  for (int part = 0; part < 3; part++) {
    Packet p;
    packet_fillHeader(&p, dest);
    uint8_t* d = p.data;
    int n = 0;
    d[n++] = 0x01;
    d[n++] = 0x07;
    d[n++] = (uint8_t)(count[part] + (part == 0 ? 3 : 2));
    d[n++] = (uint8_t)(part + 1);
    d[n++] = (uint8_t)(count[part] + (part == 0 ? 1 : 0));
    if (part == 0) d[n++] = 0x00;
    memcpy(d + n, record + offset[part], count[part]);
    p.length = (uint8_t)(n + count[part]);
    packet_fillCrc(&p);
    out.emplace_back(packet_bytes(&p), packet_bytes(&p) + packet_frameSize(&p));
  }
  return out;
}

void makeRecord(uint8_t rec[524], const char* name, int slope) {
  memset(rec, 0, 524);
  strcpy((char*)rec, name);
  for (int i = 0; i < 256; i++) {
    int v = (i * slope) % 4096;
    rec[12 + 2 * i] = (uint8_t)(v & 0xFF);
    rec[13 + 2 * i] = (uint8_t)(v >> 8);
  }
}

// Drives the line through the port API the way the cable does: the DMX line
// format, a break at 15625 baud, the drain, then the bytes at 250000 baud.
class Wire {
 public:
  explicit Wire(SimLine& l) : line(l) {
    ftd2xx_setBackend(&line);
    char serial[] = "TSIM0001";
    EXPECT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), (FT_STATUS)FT_OK);
    FT_SetTimeouts(h, 1, 0);
    FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
  }
  ~Wire() {
    FT_Close(h);
    ftd2xx_setBackend(nullptr);
  }
  void send(const std::vector<uint8_t>& bytes) {
    rawSendBreakAndFrame(h, bytes);
    clock_sleepUs(bytes.size() * 44 + 5000);
  }
  std::vector<uint8_t> readAll() {
    std::vector<uint8_t> got;
    uint8_t buf[64];
    DWORD n = 0;
    do {
      FT_Read(h, buf, sizeof buf, &n);
      got.insert(got.end(), buf, buf + n);
    } while (n > 0);
    return got;
  }
  FT_HANDLE h = nullptr;

 private:
  SimLine& line;
};

// Answers everything with a break and the given bytes.
class Echo : public SimResponder {
 public:
  std::vector<uint8_t> bytes;
  uint32_t delayUs = 2000;
  uint64_t lastEnd = 0;
  bool sim_respond(const uint8_t*, int, uint64_t endUs, SimAnswer& a) override {
    lastEnd = endUs;
    a.delayUs = delayUs;
    a.count = (int)bytes.size();
    std::copy(bytes.begin(), bytes.end(), a.bytes);
    return true;
  }
};

}  // namespace

TEST(SimDevices, TakeACurveOnlyWhenAllThreePartsArriveIntact) {
  SimLine line;
  SimDevices devs(2, 7);
  devs.sim_attach(line);
  Wire wire(line);
  uint8_t rec[524];
  makeRecord(rec, "RAMP", 16);
  auto frames = curveFrames(rec, 0xFFFFFFFF);
  wire.send(frames[0]);
  wire.send(frames[1]);
  line.sim_settle();
  EXPECT_EQ(devs.sim_device(0).sim_curvesTaken(), 0) << "two parts are not a curve";
  wire.send(frames[2]);
  line.sim_settle();
  for (int d = 0; d < 2; d++) {
    SimDevice& dev = devs.sim_device(d);
    EXPECT_EQ(dev.sim_curvesTaken(), 1);
    EXPECT_EQ(dev.sim_curveName(), "RAMP");
    EXPECT_EQ(dev.sim_curve()[1], 16);
    EXPECT_EQ(dev.sim_curve()[255], (255 * 16) % 4096);
  }
}

TEST(SimDevices, CorruptedPartIsRefusedAndCounted) {
  SimLine line;
  SimDevices devs(1, 3);
  devs.sim_attach(line);
  Wire wire(line);
  uint8_t rec[524];
  makeRecord(rec, "X", 3);
  auto frames = curveFrames(rec, 0xFFFFFFFF);
  frames[1][100] ^= 0x10;
  for (auto& f : frames) wire.send(f);
  line.sim_settle();
  EXPECT_EQ(devs.sim_device(0).sim_curvesTaken(), 0);
  EXPECT_EQ(devs.sim_device(0).sim_badFrames(), 1);
}

TEST(SimDevices, AddressedCurveReachesOnlyItsDevice) {
  SimLine line;
  SimDevices devs(3, 11);
  devs.sim_attach(line);
  Wire wire(line);
  uint8_t rec[524];
  makeRecord(rec, "ONE", 5);
  for (auto& f : curveFrames(rec, devs.sim_device(1).sim_uid())) wire.send(f);
  line.sim_settle();
  EXPECT_EQ(devs.sim_device(0).sim_curvesTaken(), 0);
  EXPECT_EQ(devs.sim_device(1).sim_curvesTaken(), 1);
  EXPECT_EQ(devs.sim_device(2).sim_curvesTaken(), 0);
}

TEST(SimDevices, UidsAreDistinctDeviceUidsAndStateIsJson) {
  SimDevices devs(200, 99);
  std::vector<uint32_t> uids;
  for (int i = 0; i < devs.sim_count(); i++) {
    uint32_t u = devs.sim_device(i).sim_uid();
    EXPECT_GE(u, 1u);
    EXPECT_LE(u, 0x7FFFFFFFu);
    for (uint32_t v : uids) ASSERT_NE(u, v);
    uids.push_back(u);
  }
  SimDevices two(2, 99);
  EXPECT_EQ(two.sim_device(0).sim_uid(), uids[0]) << "the seed decides the UIDs";
  std::string json = two.sim_stateJson();
  char uid[16];
  snprintf(uid, sizeof uid, "\"%08X\"", uids[1]);
  EXPECT_NE(json.find(uid), std::string::npos);
  EXPECT_EQ(json.front(), '{');
}

TEST(SimLineWire, AnswerComesAsBreakThenBytesAfterTheTurnaround) {
  SimLine line;
  Echo echo;
  echo.bytes = {0x41, 0x42, 0x43};
  line.sim_addResponder(&echo);
  Wire wire(line);
  wire.send(makeFrame(1, {0x01}, 5));
  std::vector<uint8_t> got = wire.readAll();
  EXPECT_EQ(got, std::vector<uint8_t>({0x00, 0x41, 0x42, 0x43}));
  auto rx = line.sim_trace().trace_entries('R');
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_TRUE(rx[0].withBreak);
  EXPECT_EQ(rx[0].breakUs, echo.lastEnd + 2000);
  EXPECT_EQ(rx[0].endUs - rx[0].dataUs, 3u * 44u);
}

TEST(SimLineWire, BytesAreNotReadableBeforeTheyArrive) {
  SimLine line;
  Echo echo;
  echo.bytes = {0x55};
  echo.delayUs = 10000;
  line.sim_addResponder(&echo);
  Wire wire(line);
  wire.send(makeFrame(1, {0x01}, 5));  // returns about 5 ms after the frame ended
  DWORD rx = 9, tx = 9, ev = 0;
  ASSERT_EQ(FT_GetStatus(wire.h, &rx, &tx, &ev), (FT_STATUS)FT_OK);
  EXPECT_EQ(rx, 0u);
  EXPECT_EQ(tx, 0u);
  clock_sleepUs(6000);
  ASSERT_EQ(FT_GetStatus(wire.h, &rx, &tx, &ev), (FT_STATUS)FT_OK);
  EXPECT_EQ(rx, 2u);
}

TEST(SimLineWire, SeveralAnswersCollideIntoOneBreak) {
  SimLine line;
  Echo a, b;
  line.sim_addResponder(&a);
  line.sim_addResponder(&b);
  Wire wire(line);
  wire.send(makeFrame(1, {0x02, 0x02, 0, 0, 0, 0}));
  EXPECT_EQ(wire.readAll(), std::vector<uint8_t>({0x00}));
  a.bytes = {0xF0};
  b.bytes = {0x3C};
  wire.send(makeFrame(1, {0x02, 0x02, 0, 0, 0, 0}));
  EXPECT_EQ(wire.readAll(), std::vector<uint8_t>({0x00, 0x30}));
  auto rx = line.sim_trace().trace_entries('R');
  ASSERT_EQ(rx.size(), 2u);
  EXPECT_TRUE(rx[1].garbled);
}

TEST(SimLineWire, FaultsDropCorruptAndInjectBytes) {
  SimLine line;
  Echo echo;
  echo.bytes = {1, 2, 3, 4};
  line.sim_addResponder(&echo);
  Wire wire(line);
  line.sim_dropAnswerByte(1);
  wire.send(makeFrame(1, {0x01}));
  EXPECT_EQ(wire.readAll(), std::vector<uint8_t>({0, 1, 3, 4}));
  line.sim_corruptAnswerByte(0);
  wire.send(makeFrame(1, {0x01}));
  EXPECT_EQ(wire.readAll(), std::vector<uint8_t>({0, 1 ^ 0x5A, 2, 3, 4}));
  line.sim_injectByte(clock_nowUs() + 100, 0x91);
  clock_sleepUs(200);
  EXPECT_EQ(wire.readAll(), std::vector<uint8_t>({0x91}));
}

TEST(SimLineWire, CallsCostAUsbRoundTripSoPollingAdvances) {
  // A full-speed USB transfer completes in a 1 ms frame at the earliest:
  // ten status polls take 10 ms, and a read with nothing to fetch waits its
  // 1 ms timeout.
  SimLine line;
  Wire wire(line);
  uint64_t t0 = clock_nowUs();
  DWORD rx, tx, ev;
  for (int i = 0; i < 10; i++) FT_GetStatus(wire.h, &rx, &tx, &ev);
  uint64_t dt = clock_nowUs() - t0;
  EXPECT_GE(dt, 10000u);
  EXPECT_LT(dt, 10100u);
  uint8_t b;
  DWORD n = 9;
  t0 = clock_nowUs();
  EXPECT_EQ(FT_Read(wire.h, &b, 1, &n), (FT_STATUS)FT_OK);
  dt = clock_nowUs() - t0;
  EXPECT_EQ(n, 0u);
  EXPECT_GE(dt, 1000u);
  EXPECT_LT(dt, 1010u);
}
