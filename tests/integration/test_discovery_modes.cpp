// Quick discovery and Find new devices over the simulated line: the same
// devices in the same order as Discovery with far fewer probes, devices
// found before left alone, lossy lines, the runs that must stop early, and
// the check of a rig against its record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/app_discovery.h"
#include "device/commission.h"
#include "device/devices.h"
#include "device_line.h"
#include "platform/clock.h"

namespace {

struct Outcome {
  std::vector<uint32_t> found;
  DiscoveryRun run;
  uint64_t us = 0;
};

// One run on the bench's line, its console kept out of the test's output.
Outcome discover(DiscoveryMode mode, int max = 200) {
  Outcome o;
  o.run.mode = mode;
  uint32_t uids[200] = {0};
  testing::internal::CaptureStdout();
  const uint64_t t0 = clock_nowUs();
  const int n = discovery_run(&o.run, uids, max);
  o.us = clock_nowUs() - t0;
  testing::internal::GetCapturedStdout();
  o.found.assign(uids, uids + n);
  return o;
}

uint32_t probed(const SimTraceEntry& e) {
  const uint8_t* a = &e.bytes[21];
  return (uint32_t)a[0] | (uint32_t)a[1] << 8 | (uint32_t)a[2] << 16 | (uint32_t)a[3] << 24;
}

// Lines of devices, built on a bench.
typedef std::function<void(DeviceLine&, SimDevices*&)> Population;

Population seeded(int count, uint32_t seed) {
  return [=](DeviceLine& bench, SimDevices*& owned) {
    owned = new SimDevices(count, seed);
    owned->sim_attach(bench.line);
  };
}

Population listed(std::vector<uint32_t> uids) {
  return [=](DeviceLine& bench, SimDevices*&) {
    for (uint32_t u : uids) bench.add(u);
  };
}

}  // namespace

// The same devices in the same order as Discovery, and no unanswered probe
// sent twice in a row outside the checks of address 0.
TEST(QuickDiscovery, FindsWhatDiscoveryFindsInTheSameOrderWithSingleSends) {
  const std::map<std::string, Population> lines = {
      {"empty", seeded(0, 1)},
      {"one", seeded(1, 2)},
      {"two", seeded(2, 3)},
      {"ten", seeded(10, 4)},
      {"two hundred", seeded(200, 5)},
      {"clustered", listed({1, 2, 3, 0x7FFFFFFF, 0x7FFFFFFE, 0x40000000, 0x3FFFFFFF, 0x40000001})},
  };
  for (const auto& line : lines) {
    Outcome full, quick;
    std::vector<SimTraceEntry> probes;
    for (DiscoveryMode mode : {DISCOVERY_FULL, DISCOVERY_QUICK}) {
      DeviceLine bench;
      SimDevices* owned = nullptr;
      line.second(bench, owned);
      (mode == DISCOVERY_FULL ? full : quick) = discover(mode);
      if (mode == DISCOVERY_QUICK) probes = bench.sent({0x02, 0x02});
      delete owned;
    }
    EXPECT_EQ(quick.found, full.found) << line.first;
    EXPECT_EQ(quick.run.end, DISCOVERY_END_DONE) << line.first;
    EXPECT_EQ(quick.run.probeSends, (long)probes.size()) << line.first;
    for (size_t i = 1; i < probes.size(); i++) {
      if (probed(probes[i]) == 0) continue;  // the checks go out five times
      EXPECT_NE(probed(probes[i]), probed(probes[i - 1])) << line.first << ": probe " << i << " repeated";
    }
    fprintf(stderr, "[figures] %s: Discovery %.1f s (%ld probe sends), Quick discovery %.1f s (%ld)\n",
            line.first.c_str(), full.us / 1e6, full.run.probeSends, quick.us / 1e6,
            quick.run.probeSends);
  }
}

TEST(QuickDiscovery, StillFindsEveryDeviceWhenDevicesMissProbes) {
  DeviceLine bench;
  SimDevices population(200, 77);
  for (int i = 0; i < population.sim_count(); i++)
    population.sim_device(i).sim_functions().faults.probeLossPerMille = 20;
  population.sim_attach(bench.line);
  const Outcome quick = discover(DISCOVERY_QUICK);
  EXPECT_EQ(quick.run.end, DISCOVERY_END_DONE);
  EXPECT_EQ(quick.found.size(), 200u);
  int missed = 0;
  for (int i = 0; i < population.sim_count(); i++) {
    EXPECT_TRUE(population.sim_device(i).sim_functions().discovery.muted) << i;
    missed += population.sim_device(i).sim_functions().discovery.probesMissed;
  }
  EXPECT_GT(missed, 0) << "the devices did miss probes";
  fprintf(stderr, "[figures] 200 devices, 2 %% probe loss: Quick discovery %.1f s, %ld probe sends\n",
          quick.us / 1e6, quick.run.probeSends);
}

// Devices found before stay muted: only the new ones are searched, muted
// and entered, the table keeps what it held, and nothing is released.
TEST(FindNewDevices, FindsOnlyTheNewAndTouchesNothingElse) {
  DeviceLine bench;
  SimDevices population(10, 9);
  population.sim_attach(bench.line);
  ASSERT_EQ(discover(DISCOVERY_QUICK).found.size(), 10u);
  dev_setAddr(population.sim_device(0).sim_uid(), (const uint8_t*)"\x2A\x00");
  const size_t framesBefore = bench.line.sim_trace().trace_entries('T').size();

  const Outcome nothing = discover(DISCOVERY_NEW);
  EXPECT_TRUE(nothing.found.empty());
  EXPECT_EQ(nothing.run.probeSends, 5) << "one probe of address 0 at five sends";
  EXPECT_LT(nothing.us, 1000000u);

  SimDevice& fresh = bench.add(0x7FFFFFF0);  // above every other device
  SimDevice& low = bench.add(0x00000100);
  const Outcome some = discover(DISCOVERY_NEW);
  EXPECT_EQ(some.found, std::vector<uint32_t>({0x7FFFFFF0, 0x00000100}));
  EXPECT_TRUE(fresh.sim_functions().discovery.muted && low.sim_functions().discovery.muted);
  EXPECT_LT(some.us, 8000000u) << "under 4 s per new device";
  EXPECT_EQ(dev_count(), 12);
  EXPECT_EQ(dev_getAddr(population.sim_device(0).sim_uid()), 42) << "the table was not cleared";
  // Since the first discovery: no release-all, and mutes only to the new.
  std::vector<SimTraceEntry> frames = bench.line.sim_trace().trace_entries('T');
  for (size_t i = framesBefore; i < frames.size(); i++) {
    const std::vector<uint8_t>& b = frames[i].bytes;
    ASSERT_GE(b.size(), 21u);
    EXPECT_NE(b[20], 0x01) << "a release-all was sent";
    if (b[20] == 0x00) {
      const uint32_t dest = (uint32_t)b[4] | (uint32_t)b[5] << 8 | (uint32_t)b[6] << 16 | (uint32_t)b[7] << 24;
      EXPECT_TRUE(dest == 0x7FFFFFF0u || dest == 0x100u) << std::hex << dest;
    }
  }
}

// A run that cannot go on says why, keeping what it found.
TEST(DiscoveryEnds, CableMissingOrPulledAndDeviceThatNeverMutes) {
  char text[DISCOVERY_TEXT_SIZE];
  for (DiscoveryMode mode : {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW}) {
    {
      DeviceLine bench;
      bench.add(0x1234);
      bench.line.sim_setPlugged(false);
      const Outcome o = discover(mode);
      EXPECT_EQ(o.run.end, DISCOVERY_END_NO_CABLE) << mode;
      discovery_endText(&o.run, text, sizeof text);
      EXPECT_STREQ(text, "Cable not found!");
    }
    {
      // The cable is pulled amid the probes that follow the first mute,
      // found from a run with the cable in place.
      long cut = -1;
      {
        DeviceLine calibration;
        SimDevices population(5, 21);
        population.sim_attach(calibration.line);
        discover(mode == DISCOVERY_NEW ? DISCOVERY_QUICK : mode);
        const std::vector<SimTraceEntry> frames = calibration.line.sim_trace().trace_entries('T');
        bool muted = false;
        for (size_t i = 0; i < frames.size() && cut < 0; i++) {
          muted = muted || frames[i].bytes[20] == 0x00;
          if (muted && frames[i].bytes[20] == 0x02) cut = (long)i;
        }
      }
      ASSERT_GT(cut, 0);
      DeviceLine bench;
      SimDevices population(5, 21);
      population.sim_attach(bench.line);
      bench.line.sim_unplugAfterFrames(cut + 1);  // that probe goes out, the next send fails
      const Outcome o = discover(mode == DISCOVERY_NEW ? DISCOVERY_QUICK : mode);
      EXPECT_EQ(o.run.end, DISCOVERY_END_SEND_FAILED) << mode;
      EXPECT_GT(o.found.size(), 0u) << mode << ": found before the cable was pulled";
      EXPECT_LT(o.found.size(), 5u) << mode;
      EXPECT_EQ(o.run.found, (int)o.found.size());
      discovery_endText(&o.run, text, sizeof text);
      EXPECT_EQ(std::string(text).rfind("Discovery stopped: sending to the cable failed after ", 0), 0u)
          << text;
    }
    {
      DeviceLine bench;
      SimDevices population(10, 31);
      population.sim_attach(bench.line);
      bench.add(0x7F000000).sim_functions().faults.neverMutes = true;
      const Outcome o = discover(mode);
      EXPECT_EQ(o.run.end, DISCOVERY_END_ROGUE) << mode;
      EXPECT_EQ(o.run.rogueUid, 0x7F000000u) << mode;
      EXPECT_TRUE(o.found.empty()) << mode << ": nothing below it can be found";
      EXPECT_LT(o.us, 120000000u) << mode << ": within two minutes";
    }
  }
}

// A rig that matches its record costs one mute per device and one probe of
// address 0 (no search), on the wire as discovery sends them; with the
// settings read after it, the check takes under 20 s.
TEST(CheckAgainstRecord, RigThatMatchesCostsAMutePerDeviceAndOneProbe) {
  DeviceLine bench;
  SimDevices population(200, 41);
  population.sim_attach(bench.line);
  std::vector<uint32_t> record;
  for (int i = 0; i < population.sim_count(); i++) record.push_back(population.sim_device(i).sim_uid());
  std::vector<int8_t> present(record.size(), DISCOVERY_RECORD_UNCHECKED);
  uint32_t fresh[200];
  DiscoveryRun run;
  testing::internal::CaptureStdout();
  const uint64_t t0 = clock_nowUs();
  const int n = discovery_checkRecord(&run, record.data(), (int)record.size(), present.data(), fresh, 200);
  const uint64_t checkUs = clock_nowUs() - t0;
  int read = 0;
  for (uint32_t u : record) {
    Device d;
    read += commission_read(u, &d) == 1;
  }
  const uint64_t totalUs = clock_nowUs() - t0;
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(n, 0);
  EXPECT_EQ(run.end, DISCOVERY_END_DONE);
  EXPECT_EQ(present, std::vector<int8_t>(record.size(), DISCOVERY_RECORD_PRESENT));
  EXPECT_EQ(read, 200);
  EXPECT_EQ(bench.sent({0x02, 0x01}).size(), 3u);
  const std::vector<SimTraceEntry> mutes = bench.sent({0x02, 0x00});
  ASSERT_EQ(mutes.size(), record.size());
  for (size_t i = 0; i < mutes.size(); i++) {
    const uint8_t* d = &mutes[i].bytes[4];
    EXPECT_EQ((uint32_t)d[0] | (uint32_t)d[1] << 8 | (uint32_t)d[2] << 16 | (uint32_t)d[3] << 24, record[i]);
    EXPECT_EQ(mutes[i].bytes.size(), 21u);
  }
  const std::vector<SimTraceEntry> probes = bench.sent({0x02, 0x02});
  EXPECT_EQ(probes.size(), (size_t)DISCOVERY_PROBE_SENDS);
  for (const SimTraceEntry& p : probes) EXPECT_EQ(probed(p), 0u);
  EXPECT_EQ(run.probeSends, (long)probes.size());
  EXPECT_LT(checkUs, 10000000u);
  EXPECT_LT(totalUs, 20000000u);
  fprintf(stderr, "[figures] 200 devices matching their record: check %.1f s, with the reads %.1f s\n",
          checkUs / 1e6, totalUs / 1e6);
}
