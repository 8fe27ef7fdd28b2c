// The discovery worker: a whole discovery with the settings read of every
// device found, its report, its lock bit, and the worker on its own thread
// beside a GUI-like reader of the bridge, the found list and the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "device/bridge.h"
#include "device/devices.h"
#include "device/discovery_job.h"
#include "device/exchange.h"
#include "../support/bridge_messages.h"
#include "../support/held_job.h"
#include "device_line.h"
#include "link/timer.h"
#include "platform/clock.h"

namespace {

class DiscoveryWorker : public testing::Test {
 protected:
  void SetUp() override {
    shown.clear();
    takeMessages();
    shown.clear();
  }
  void TearDown() override {
    job_setStarter(nullptr);
    discoveryMsg.store(0);
  }
};

// The same, under the name the ThreadSanitizer run picks.
class DiscoveryThreads : public DiscoveryWorker {};

// Runs a discovery worker on this thread as its own thread would, the job
// runner's end included (its report posted, its lock bit released).
void runWorker(const DiscoveryMode* mode) {
  job_setStarter(heldjob::hold);
  ASSERT_EQ(job_start(LOCK_DISCOVERY, "Discovery", makeDiscoveryThr, (void*)mode), JOB_STARTED);
  thrDisc.store(DISCOVERY_JOB_RUNNING);
  heldjob::run();
  job_setStarter(nullptr);
}

std::vector<uint32_t> foundList(uint32_t* generation = nullptr) {
  uint32_t uids[DISCOVERY_JOB_MAX];
  int n = discoveryJob_found(uids, DISCOVERY_JOB_MAX, generation);
  return std::vector<uint32_t>(uids, uids + std::min(n, (int)DISCOVERY_JOB_MAX));
}


}  // namespace

TEST_F(DiscoveryWorker, TwoHundredDevicesFillTheTableAndAreAllRead) {
  SimDevices population(200, 4242);
  DeviceLine bench;
  population.sim_attach(bench.line);
  const uint32_t before = discoveryJob_generation();
  discoveryMsg.store(1);
  const auto real0 = std::chrono::steady_clock::now();
  const uint64_t t0 = clock_nowUs();
  testing::internal::CaptureStdout();
  runWorker(nullptr);
  testing::internal::GetCapturedStdout();
  const uint64_t total = clock_nowUs() - t0;
  const double realSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - real0).count();
  takeMessages();

  uint32_t generation = 0;
  std::vector<uint32_t> found = foundList(&generation);
  EXPECT_GT(generation, before + 200) << "the list grew device by device";
  ASSERT_EQ(found.size(), 200u);
  EXPECT_TRUE(std::is_sorted(found.rbegin(), found.rend())) << "highest first";
  std::set<uint32_t> expected;
  for (int i = 0; i < population.sim_count(); i++) expected.insert(population.sim_device(i).sim_uid());
  EXPECT_EQ(std::set<uint32_t>(found.begin(), found.end()), expected);
  EXPECT_EQ(dev_count(), 200);
  for (int i = 0; i < population.sim_count(); i++) {
    const SimDevice& d = population.sim_device(i);
    EXPECT_EQ(d.sim_functions().settings.reads, 1) << std::hex << d.sim_uid();
    EXPECT_EQ(dev_getAddr(d.sim_uid()), d.sim_functions().settings.addr) << std::hex << d.sim_uid();
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], std::make_pair((int)BRIDGE_INFO, std::string("200 devices found.")));
  EXPECT_EQ(thrDisc.load(), 0);
  EXPECT_EQ(discoveryMsg.load(), 0) << "the report is due once";
  EXPECT_EQ(lockComponents.load() & LOCK_DISCOVERY, 0u);

  auto reads = bench.sent({0x01});
  ASSERT_EQ(reads.size(), 200u);
  fprintf(stderr,
          "[figures] 200 devices: discovery %.1f s virtual, %zu probe sends; with the settings "
          "reads %.1f s virtual; %.2f s real\n",
          (reads[0].breakUs - t0) / 1e6, bench.sent({0x02, 0x02}).size(), total / 1e6, realSeconds);
}

TEST_F(DiscoveryWorker, DeviceThatDoesNotAnswerItsSettingsReadIsListedButNotInTheTable) {
  SimDevices population(10, 7);
  DeviceLine bench;
  population.sim_attach(bench.line);
  const uint32_t silent = population.sim_device(3).sim_uid();
  population.sim_device(3).sim_functions().faults.silentClasses = 1u << 1;
  dev_setAddr(0x1234, (const uint8_t*)"\x01\x00");
  const uint64_t t0 = clock_nowUs();
  testing::internal::CaptureStdout();
  runWorker(nullptr);
  testing::internal::GetCapturedStdout();
  std::vector<uint32_t> found = foundList();
  EXPECT_EQ(found.size(), 10u);
  EXPECT_NE(std::find(found.begin(), found.end(), silent), found.end());
  EXPECT_EQ(dev_count(), 9) << "the table holds the devices that answered their read";
  EXPECT_EQ(getDevUID(silent), nullptr);
  EXPECT_TRUE(shown.empty()) << "no report unless asked for";
  auto reads = bench.sent({0x01});
  ASSERT_EQ(reads.size(), 9u + 5u);
  fprintf(stderr, "[figures] 10 devices: discovery %.1f s virtual, %zu probe sends\n",
          (reads[0].breakUs - t0) / 1e6, bench.sent({0x02, 0x02}).size());
}

// The cable pulled once the devices are found, before their settings are
// read: that is said as a failure, not as "3 devices found.", the devices
// stay listed, and the table is told they were not read (not that they did
// not answer). The next discovery with the cable in place clears the mark.
TEST_F(DiscoveryWorker, CableFailingWhileTheDevicesAreReadIsAFailure) {
  const DiscoveryMode quick = DISCOVERY_QUICK;
  long firstRead = -1;
  {
    DeviceLine calibration;
    SimDevices population(3, 11);
    population.sim_attach(calibration.line);
    testing::internal::CaptureStdout();
    runWorker(&quick);
    testing::internal::GetCapturedStdout();
    calibration.line.sim_settle();
    const std::vector<SimTraceEntry> frames = calibration.line.sim_trace().trace_entries('T');
    for (size_t i = 0; i < frames.size() && firstRead < 0; i++)
      if (frames[i].bytes.size() > 19 && frames[i].bytes[19] == 0x01) firstRead = (long)i;
    takeMessages();
    shown.clear();
  }
  ASSERT_GT(firstRead, 0);

  DeviceLine bench;
  SimDevices population(3, 11);
  population.sim_attach(bench.line);
  bench.line.sim_unplugAfterFrames(firstRead + 1);  // pulled as the first settings read goes out
  testing::internal::CaptureStdout();
  runWorker(&quick);
  testing::internal::GetCapturedStdout();
  takeMessages();
  EXPECT_EQ(foundList().size(), 3u);
  EXPECT_EQ(dev_count(), 0);
  EXPECT_TRUE(discoveryJob_readsStopped());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, BRIDGE_ERROR);
  EXPECT_EQ(shown[0].second, std::string("3 devices found, but reading their settings stopped:\n") +
                                 exchange_cableText(EXCHANGE_SEND_FAILED));

  bench.line.sim_unplugAfterFrames(-1);
  bench.line.sim_setPlugged(true);
  shown.clear();
  testing::internal::CaptureStdout();
  runWorker(&quick);
  testing::internal::GetCapturedStdout();
  takeMessages();
  EXPECT_FALSE(discoveryJob_readsStopped());
  EXPECT_EQ(dev_count(), 3);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second, "3 devices found.");
}

TEST_F(DiscoveryWorker, WorkerThatCannotStartLeavesNoMarkAndSaysSo) {
  job_setStarter(heldjob::fail);
  testing::internal::CaptureStderr();
  EXPECT_EQ(discoveryJob_start(), JOB_FAILED);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(thrDisc.load(), 0);
  EXPECT_EQ(lockComponents.load() & LOCK_DISCOVERY, 0u);
  takeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, BRIDGE_ERROR);
  EXPECT_EQ(shown[0].second.find("Discovery could not be started"), 0u) << shown[0].second;
}

// The worker on its own thread while this thread does what the window's
// timer does every 100 ms: shows messages, reads the found list and copies
// records of the device table.
TEST_F(DiscoveryThreads, WorkerBesideTheTimer) {
  SimDevices population(3, 11);
  DeviceLine bench;
  population.sim_attach(bench.line);
  dev_setAddr(0x99, (const uint8_t*)"\x01\x00");
  discoveryMsg.store(1);
  testing::internal::CaptureStdout();
  ASSERT_EQ(discoveryJob_start(), JOB_STARTED);
  EXPECT_EQ(dev_count(), 0) << "the table is emptied before the worker starts";
  EXPECT_EQ(discoveryJob_start(), JOB_BUSY) << "one worker at a time";
  discoveryMsg.store(1);
  EXPECT_NE(lockComponents.load() & LOCK_DISCOVERY, 0u);
  // A reader of the devices' records, as the setup dialog and the DALI
  // panel's timer read them, while the worker enters and fills them, and of
  // the found list, as the window's timer reads it. It takes part in
  // virtual time, reading every 5 ms, so it reads while the worker reads
  // the devices' settings, whatever the scheduler does.
  std::atomic<bool> stop{false};
  std::atomic<int> copiesWhileRunning{0};
  void* readerTime = clock_threadReserve();
  std::thread reader([&] {
    clock_threadAdopt(readerTime);
    while (!stop.load()) {
      const bool running = discoveryJob_running();
      for (int i = 0; i < population.sim_count(); i++) {
        Device d;
        if (dev_copy(population.sim_device(i).sim_uid(), &d) && running) copiesWhileRunning++;
      }
      foundList();
      mySleep(3);
    }
  });
  int ticks = 0;
  while (discoveryJob_running() && ticks < 10000) {
    mySleep(98);
    ticks++;
    takeMessages();
    foundList();
  }
  stop.store(true);
  clock_blockBegin();
  reader.join();
  clock_blockEnd();
  takeMessages();
  testing::internal::GetCapturedStdout();
  EXPECT_GT(copiesWhileRunning.load(), 0);
  EXPECT_FALSE(discoveryJob_running());
  EXPECT_EQ(lockComponents.load() & LOCK_DISCOVERY, 0u);
  EXPECT_EQ(foundList().size(), 3u);
  EXPECT_EQ(dev_count(), 3);
  ASSERT_EQ(shown.size(), 1u) << "one report for two requests";
  EXPECT_EQ(shown[0].second, "3 devices found.");
  // Some 40 s of discovery went by in 100 ms ticks.
  EXPECT_GT(ticks, 300);
}

// What the window's bar reads while a Quick discovery runs on its own
// thread, sampled every 20 ms of virtual time: the devices found against
// an estimate beyond them while it searches, then the reads of the devices
// found, one by one; nothing once it has ended. The list cannot be
// forgotten while the run fills it.
TEST_F(DiscoveryThreads, ProgressOfAQuickDiscoveryForTheBar) {
  SimDevices population(12, 21);
  DeviceLine bench;
  population.sim_attach(bench.line);
  DiscoveryJobProgress p;
  ASSERT_FALSE(discoveryJob_progress(&p)) << "none runs";
  testing::internal::CaptureStdout();
  ASSERT_EQ(discoveryJob_start(DISCOVERY_QUICK), JOB_STARTED);
  bool estimated = false, countsOnlyRise = true, forgotten = false;
  int lastFound = 0, lastRead = 0, readsSeen = 0, samples = 0;
  while (discoveryJob_running() && samples < 100000) {
    mySleep(20);
    samples++;
    if (!discoveryJob_progress(&p)) continue;
    EXPECT_EQ(p.mode, DISCOVERY_QUICK);
    EXPECT_GE(p.estimate, p.found);
    estimated = estimated || p.estimate > p.found;
    countsOnlyRise = countsOnlyRise && p.found >= lastFound && p.read >= lastRead;
    if (p.read > 0) {
      EXPECT_EQ(p.found, 12) << "the reads come after the search";
      if (p.read != lastRead) readsSeen++;
    }
    lastFound = p.found;
    lastRead = p.read;
    forgotten = forgotten || discoveryJob_forget();
  }
  testing::internal::GetCapturedStdout();
  takeMessages();
  EXPECT_TRUE(estimated) << "the estimate never ran ahead of the devices found";
  EXPECT_TRUE(countsOnlyRise);
  EXPECT_GE(readsSeen, 3) << "the reads were not counted one by one";
  EXPECT_FALSE(forgotten);
  EXPECT_FALSE(discoveryJob_progress(&p));
  EXPECT_EQ(foundList().size(), 12u);

  EXPECT_TRUE(discoveryJob_forget());
  EXPECT_TRUE(foundList().empty());
  EXPECT_EQ(dev_count(), 0);
}
