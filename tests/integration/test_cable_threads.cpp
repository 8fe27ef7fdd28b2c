// Two threads sharing the cable over the simulated line: a firmware-style
// stream on one and curve transfers on the other. The cable lock must keep
// their transmissions apart: no frame garbled, no send failed, no open
// refused because the other thread had the converter.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "curve/curve.h"
#include "device/app_setup.h"
#include "link/cable.h"
#include "link/timer.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "platform/port_backend.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

const int kStreamRuns = 250;      // opens of the firmware-style stream
const int kBlocksPerRun = 20;     // packets per open
const int kCurveSends = 834;      // curve transfers, six packets each

void streamLoop(std::atomic<int>& sent, std::atomic<int>& failed) {
  uint8_t packet[CABLE_DMX_PACKET_SIZE];
  for (int run = 0; run < kStreamRuns; run++) {
    cable_open();
    for (int block = 0; block < kBlocksPerRun; block++) {
      memset(packet, 0, sizeof packet);
      packet[0] = 0x91;
      packet[1] = 0x29;
      packet[2] = 0xA9;
      packet[3] = 0xFE;
      packet[8] = (uint8_t)block;
      if (cable_sendDmxPacket(packet) < 0) failed++;
      sent++;
      mySleep(5);
    }
    cable_free();
  }
}

void curveLoop(std::atomic<int>& sent, std::atomic<int>& failed) {
  CurveRecord rec;
  curve_presetLinear(&rec);
  for (int i = 0; i < kCurveSends; i++) {
    if (app_setup_send_curve(0xFFFFFFFFu, &rec) != APP_SETUP_CURVE_SENT) failed++;
    sent += 6;
  }
}

}  // namespace

TEST(CableThreads, StreamAndCurveSendsNeverShareTheLine) {
  SimLine line;
  SimDevices devices(2, 99);
  devices.sim_attach(line);
  ftd2xx_setBackend(&line);
  std::atomic<int> sent{0}, streamFailed{0}, curveFailed{0};

  testing::internal::CaptureStdout();
  clock_blockBegin();
  void* rs = clock_threadReserve();
  void* rc = clock_threadReserve();
  std::thread stream([&] {
    clock_threadAdopt(rs);
    streamLoop(sent, streamFailed);
  });
  std::thread curves([&] {
    clock_threadAdopt(rc);
    curveLoop(sent, curveFailed);
  });
  stream.join();
  curves.join();
  clock_blockEnd();
  const std::string out = testing::internal::GetCapturedStdout();
  line.sim_settle();
  ftd2xx_setBackend(nullptr);

  EXPECT_GE(sent.load(), 10000);
  EXPECT_EQ(streamFailed.load(), 0);
  EXPECT_EQ(curveFailed.load(), 0);
  EXPECT_EQ(out.find("Error FT_OpenEx"), std::string::npos) << "an open met the other thread's";
  auto tx = line.sim_trace().trace_entries('T');
  EXPECT_EQ((int)tx.size(), sent.load()) << "every send is one transmission";
  int garbled = 0;
  for (const SimTraceEntry& e : tx) garbled += (e.garbled || !e.withBreak) ? 1 : 0;
  EXPECT_EQ(garbled, 0);
  for (int d = 0; d < devices.sim_count(); d++) {
    EXPECT_EQ(devices.sim_device(d).sim_curvesTaken(), kCurveSends);
    EXPECT_EQ(devices.sim_device(d).sim_badFrames(), 0);
  }
}
