// Discovery over the simulated line in virtual time: the requests on the
// wire, the binary search, muting, the limits, and devices that misbehave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/app_discovery.h"
#include "device/bridge.h"
#include "device/devices.h"
#include "device_line.h"
#include "link/cablelock.h"
#include "link/ftdi_port.h"
#include "platform/clock.h"

namespace {

class Discovery : public testing::Test {
 protected:
  DeviceLine bench;
  std::string console;
  uint32_t found[200];
  uint64_t elapsedUs = 0;

  int discover(int max) {
    memset(found, 0, sizeof found);
    testing::internal::CaptureStdout();
    const uint64_t t0 = clock_nowUs();
    int n = app_discovery(found, max);
    elapsedUs = clock_nowUs() - t0;
    console = testing::internal::GetCapturedStdout();
    return n;
  }
  static uint32_t address(const SimTraceEntry& probe) {
    const uint8_t* a = &probe.bytes[21];
    return (uint32_t)a[0] | (uint32_t)a[1] << 8 | (uint32_t)a[2] << 16 | (uint32_t)a[3] << 24;
  }
  static uint32_t dest(const SimTraceEntry& e) {
    const uint8_t* a = &e.bytes[4];
    return (uint32_t)a[0] | (uint32_t)a[1] << 8 | (uint32_t)a[2] << 16 | (uint32_t)a[3] << 24;
  }
};

}  // namespace

TEST_F(Discovery, EmptyLineGivesNoDeviceAfter36UnansweredProbes) {
  EXPECT_EQ(discover(200), 0);
  EXPECT_EQ(console, "Opened device TSIM0001\n\ndiscovery:\nNo device.\n");

  auto release = bench.sent({0x02, 0x01});
  ASSERT_EQ(release.size(), 3u) << "release-all is sent three times";
  EXPECT_EQ(release[0].bytes.size(), 21u);
  EXPECT_EQ(dest(release[0]), 0xFFFFFFFFu);

  auto probes = bench.sent({0x02, 0x02});
  ASSERT_EQ(probes.size(), 36u * 5) << "36 probes of 5 sends each";
  for (size_t i = 0; i < probes.size(); i++) {
    const int k = (int)i / 5;
    const uint32_t expected = k < 31 ? 0xFFFFFFFFu >> (k + 1) : 0;
    ASSERT_EQ(address(probes[i]), expected) << "probe " << k << " send " << i % 5;
    ASSERT_EQ(probes[i].bytes.size(), 25u);
    ASSERT_EQ(dest(probes[i]), 0xFFFFFFFFu);
  }
  // From a probe frame's start to the next probe's break: the frame's
  // drain (4.4 ms), the busy wait (4.4 ms), the wait for a break (15 ms) and
  // the sleep before the next send (47 ms), plus the USB round trips of the
  // calls in between (status, flush, the rate change and the break's write).
  for (size_t i = 1; i < probes.size(); i++) {
    const uint64_t gap = probes[i].breakUs - probes[i - 1].dataUs;
    ASSERT_GE(gap, 4400u + 4400u + 15000u + 47000u) << "send " << i;
    ASSERT_LT(gap, 4400u + 4400u + 15000u + 47000u + 8u * SimLine::kUsbRoundTripUs) << "send " << i;
  }
  EXPECT_TRUE(bench.line.sim_trace().trace_entries('R').empty());
  EXPECT_EQ(pStatusTop.load(), 35);
  EXPECT_EQ(pStatusSt.load(), 35);
  fprintf(stderr, "[figures] 0 devices: %.2f s virtual, %zu probe sends\n", elapsedUs / 1e6,
          probes.size());
}

TEST_F(Discovery, OneDeviceIsFoundMutedAndEntered) {
  SimDevice& d = bench.add(0x34A1B2C3);
  EXPECT_EQ(discover(200), 1);
  EXPECT_EQ(found[0], 0x34A1B2C3u);
  EXPECT_EQ(found[1], 0u);
  EXPECT_NE(console.find("\ndiscovery:\n  found=34A1B2C3\n"), std::string::npos) << console;
  EXPECT_EQ(occurrences(console, "found="), 1);
  EXPECT_EQ(occurrences(console, "app_discovery_parse\n"), 1);
  EXPECT_EQ(console.substr(console.size() - 11), "No device.\n");
  EXPECT_TRUE(d.sim_functions().discovery.muted);
  auto mutes = bench.sent({0x02, 0x00});
  ASSERT_EQ(mutes.size(), 1u) << "acknowledged at the first send";
  EXPECT_EQ(dest(mutes[0]), 0x34A1B2C3u);
  EXPECT_EQ(mutes[0].bytes.size(), 21u);
  ASSERT_NE(getDevUID(0x34A1B2C3), nullptr);
  EXPECT_EQ(dev_count(), 1);
  auto probes = bench.sent({0x02, 0x02});
  fprintf(stderr, "[figures] 1 device: %.2f s virtual, %zu probe sends\n", elapsedUs / 1e6,
          probes.size());
}

TEST_F(Discovery, SeveralDevicesAreFoundHighestFirst) {
  const uint32_t uids[] = {0x00000001, 0x12345678, 0x7FFFFFFF, 0x12345679};
  for (uint32_t u : uids) bench.add(u);
  EXPECT_EQ(discover(200), 4);
  EXPECT_EQ(std::vector<uint32_t>(found, found + 5),
            std::vector<uint32_t>({0x7FFFFFFF, 0x12345679, 0x12345678, 0x00000001, 0}));
  EXPECT_EQ(dev_count(), 4);
  for (auto& d : bench.devices) EXPECT_TRUE(d->sim_functions().discovery.muted);
}

TEST_F(Discovery, MaxOneReturnsTheHigherAndReleasesTheCable) {
  SimDevice& low = bench.add(0x00ABCDEF);
  bench.add(0x01ABCDEF);
  EXPECT_EQ(discover(1), 1);
  EXPECT_EQ(found[0], 0x01ABCDEFu);
  EXPECT_EQ(found[1], 0u);
  EXPECT_FALSE(low.sim_functions().discovery.muted);
  EXPECT_EQ(console.find("No device."), std::string::npos);
  EXPECT_EQ(getOpenDevice(), -1) << "the converter is closed";
  EXPECT_FALSE(cablelock_held()) << "the cable is released";
  EXPECT_EQ(bench.sent({0x02, 0x02}).size() % 1, 0u);

  EXPECT_EQ(discover(0), 0) << "max 0 only releases the devices";
  EXPECT_EQ(bench.sent({0x02, 0x01}).size(), 6u);
  EXPECT_FALSE(cablelock_held());
}

// Such a device answers every probe below its UID, so nothing below it can
// be found: after three failed mutes in a row the discovery stops and names
// it, instead of searching 4 x max times.
TEST_F(Discovery, DeviceThatNeverMutesStopsTheDiscoveryAfterThreeFailedMutes) {
  bench.add(0x00002000).sim_functions().faults.neverMutes = true;
  bench.add(0x00001000);
  memset(found, 0, sizeof found);
  DiscoveryRun run;
  testing::internal::CaptureStdout();
  EXPECT_EQ(discovery_run(&run, found, 200), 0);
  console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(run.end, DISCOVERY_END_ROGUE);
  EXPECT_EQ(run.rogueUid, 0x00002000u);
  char text[DISCOVERY_TEXT_SIZE];
  discovery_endText(&run, text, sizeof text);
  EXPECT_STREQ(text, "Device 00002000 answers discovery but does not take its mute; devices with "
                     "lower UIDs cannot be found while it is on the line.");
  EXPECT_EQ(occurrences(console, "  found=00002000\n          not responding\n"), 3);
  EXPECT_EQ(dev_count(), 0);
  auto mutes = bench.sent({0x02, 0x00});
  ASSERT_EQ(mutes.size(), 3u * 5) << "each mute sent five times";
  // 15 rounds of mySleep(15), 17 ms each, and a poll between the sends.
  const uint64_t gap = mutes[1].breakUs - mutes[0].endUs;
  EXPECT_GE(gap, 15u * 17000u);
  EXPECT_LT(gap, 15u * 17000u + 15u * 1000u + 12000u);
  EXPECT_FALSE(cablelock_held());
}

TEST_F(Discovery, DeviceThatMutesLateIsFoundInOneRound) {
  bench.add(0x00777777).sim_functions().faults.mutesOnTry = 5;
  EXPECT_EQ(discover(200), 1);
  EXPECT_EQ(found[0], 0x00777777u);
  EXPECT_EQ(bench.sent({0x02, 0x00}).size(), 5u);
  EXPECT_EQ(console.find("not responding"), std::string::npos);
}

TEST_F(Discovery, StrayByteDuringAProbeCostsARoundNotTheResult) {
  // Where the second probe's first send lies on the clock, from a run
  // without the stray byte: the run is the same up to there. The converter
  // is open before the byte is placed (opening empties its queue).
  uint64_t strayAfterStartUs = 0;
  {
    DeviceLine calibration;
    calibration.add(0x34A1B2C3);
    testing::internal::CaptureStdout();
    cable_open();
    const uint64_t t0 = clock_nowUs();
    uint32_t uids[4] = {0};
    app_discovery(uids, 4);
    testing::internal::GetCapturedStdout();
    auto probes = calibration.sent({0x02, 0x02});
    ASSERT_GE(probes.size(), 6u);
    ASSERT_EQ(address(probes[5]), 0x3FFFFFFFu) << "the second probe, which the device leaves unanswered";
    strayAfterStartUs = probes[5].endUs + 12000 - t0;
  }
  ftd2xx_setBackend(&bench.line);
  bench.add(0x34A1B2C3);
  testing::internal::CaptureStdout();
  cable_open();
  testing::internal::GetCapturedStdout();
  bench.line.sim_injectByte(clock_nowUs() + strayAfterStartUs, 0x5A);
  EXPECT_EQ(discover(4), 1);
  EXPECT_EQ(found[0], 0x34A1B2C3u);
  // The stray byte answered the probe of 3FFFFFFF: the search settled above
  // every device, on an address that nobody acknowledges.
  EXPECT_NE(console.find("  found=40000000\n          not responding\n  found=34A1B2C3\n"),
            std::string::npos)
      << console;
}
