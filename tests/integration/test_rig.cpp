// The commissioning core on the simulated line, at its seams: the cable
// failing on every kind of send (release, probe, mute, settings read;
// read, write, read-back) in each discovery mode and during a run, every
// write followed by its read-back, and every loss-of-DMX mode, named or
// not, through the record and back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>

#include "device/commission.h"
#include "device/commission_csv.h"
#include "device/rig.h"
#include "device_line.h"

namespace {

// A rig of three devices on the line, with the bench's frames counted.
struct Rig {
  DeviceLine bench;
  Rig() {
    for (uint32_t u : {0x10u, 0x2000u, 0x300000u}) bench.add(u).sim_functions().settings.addr = (uint16_t)(u & 0xFF) + 1;
  }
  SimSettings& settings(int i) { return bench.devices[(size_t)i]->sim_functions().settings; }
};

std::unique_ptr<RigDiscovery> discover(DiscoveryMode mode) {
  std::unique_ptr<RigDiscovery> d(new RigDiscovery);
  d->mode = mode;
  testing::internal::CaptureStdout();
  rig_discover(d.get());
  testing::internal::GetCapturedStdout();
  return d;
}

}  // namespace

TEST(RigSeams, TheCableFailingAtAnySendOfADiscoveryEndsItAsTheCablesFailure) {
  for (DiscoveryMode mode : {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW}) {
    long frames = 0;
    {
      Rig whole;
      frames = whole.bench.sent({}).size();  // none yet
      std::unique_ptr<RigDiscovery> d = discover(mode);
      ASSERT_EQ(d->count, 3) << mode;
      frames = (long)whole.bench.sent({}).size() - frames;
    }
    ASSERT_GT(frames, 20) << "releases, probes, mutes and reads";
    // Pulled after every number of frames the whole run sends: releases,
    // probes, mutes and reads each take their turn at failing.
    for (long k = 0; k < frames; k += (k < 12 ? 1 : 5)) {
      Rig rig;
      rig.bench.line.sim_unplugAfterFrames(k);
      std::unique_ptr<RigDiscovery> d = discover(mode);
      SCOPED_TRACE("mode " + std::to_string(mode) + ", pulled after " + std::to_string(k) + " frames");
      EXPECT_TRUE(rig_cableFailed(d.get()));
      char text[COMMISSION_TEXT_SIZE];
      rig_endText(d.get(), text, sizeof text);
      std::string said = text;
      for (char& ch : said) ch = (char)tolower((unsigned char)ch);
      EXPECT_NE(said.find("cable"), std::string::npos) << text;
      // What was found is kept; nothing found after the failure is read.
      for (int i = 0; i < d->count; i++) EXPECT_NE(d->read[i], RIG_NOT_RESPONDING) << "blamed on the device";
    }
  }
}

TEST(RigSeams, ARunStopsAtTheCablesFailureOnEachKindOfSendAndWritesAreReadBack) {
  const uint32_t uids[] = {0x10, 0x2000, 0x300000};
  CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  ASSERT_TRUE(commission_addressPlan(100, 10, uids, 3, &plan, why, sizeof why)) << why;
  // Each device takes three frames: read, write, read-back. The converter
  // is pulled right after frame k goes out, so frame k's answer never
  // comes: k = 0 fails the first read before it is sent.
  const long never = 10;
  for (long k = 0; k <= never; k++) {
    Rig rig;
    if (k < never) rig.bench.line.sim_unplugAfterFrames(k);
    CommissionRun run;
    testing::internal::CaptureStdout();
    commission_begin(&run, &plan, false);
    while (commission_step(&run)) {
    }
    testing::internal::GetCapturedStdout();
    SCOPED_TRACE("pulled after " + std::to_string(k) + " frames");
    const long failing = k == never ? 3 : k == 0 ? 0 : (k - 1) / 3;  // the device whose exchange failed
    const long kind = k == 0 ? 0 : (k - 1) % 3;                        // 0 read, 1 write, 2 read-back
    EXPECT_EQ(run.cableLost, k < never);
    for (int i = 0; i < 3; i++) {
      const CommissionResult& r = run.results[i];
      if (i < failing) {
        EXPECT_EQ(r.outcome, COMMISSION_CHANGED);
        EXPECT_EQ(r.written, COMMISSION_WRITTEN_YES);
        EXPECT_EQ(rig.settings(i).writes, 1);
        EXPECT_EQ(rig.settings(i).reads, 2) << "every write is read back";
      } else if (i == failing) {
        EXPECT_EQ(r.outcome, COMMISSION_CABLE_LOST);
        // At its read: nothing written; at its write: it may have landed;
        // at the read-back: it was taken.
        EXPECT_EQ(r.written, kind == 0 ? COMMISSION_WRITTEN_NO
                             : kind == 1 ? COMMISSION_WRITTEN_UNKNOWN : COMMISSION_WRITTEN_YES);
      } else {
        EXPECT_EQ(r.outcome, COMMISSION_NOT_REACHED);
        EXPECT_EQ(rig.settings(i).reads, 0) << "nothing is tried once the cable is gone";
      }
    }
  }
}

// A stop between two devices of an export's reads: the devices read
// before it are kept, none after it is asked.
TEST(RigSeams, AnExportsReadsStopBetweenTwoDevices) {
  Rig rig;
  const uint32_t uids[] = {0x10, 0x2000, 0x300000};
  std::atomic<bool> stop{false};
  RigExport e;
  testing::internal::CaptureStdout();
  const bool whole = rig_exportRead(uids, 3, &e, [](int done, void* flag) {
    if (done == 2) ((std::atomic<bool>*)flag)->store(true);
  }, &stop, &stop);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(whole);
  EXPECT_TRUE(e.stopped);
  EXPECT_EQ(e.failure, 0) << "a stop is not the cable's failure";
  ASSERT_EQ(e.count, 2);
  EXPECT_EQ(e.records[1].uid, 0x2000u);
  EXPECT_EQ(rig.settings(2).reads, 0);
}

TEST(RigSeams, EveryLossOfDmxModeSurvivesTheRecordAndApply) {
  DeviceLine bench;
  const int modes[] = {0, 1, 2, 3, 7, 255};
  uint32_t uids[6];
  for (int i = 0; i < 6; i++) {
    uids[i] = 0x100u + (uint32_t)i;
    bench.add(uids[i]).sim_functions().settings.lossOfDmx = (uint8_t)modes[i];
  }
  RigExport e;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(rig_exportRead(uids, 6, &e));
  char dir[] = "/tmp/tern_rig_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/rig.csv";
  ASSERT_EQ(rig_writeRecord(path.c_str(), e.records, e.count), 0);
  CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  ASSERT_EQ(rig_readRecord(path.c_str(), &plan, why, sizeof why), RIG_FILE_OK) << why;
  CommissionRun run;
  commission_begin(&run, &plan, false);
  while (commission_step(&run)) {
  }
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(plan.targets[i].want.v[COMMISSION_LOSS], modes[i]);
    EXPECT_EQ(run.results[i].outcome, COMMISSION_UNCHANGED) << "mode " << modes[i];
  }
  // A device given a mode without a name that it does not hold is refused;
  // one holding such a mode is given a named one.
  for (int i = 0; i < 6; i++) plan.targets[i].want.v[COMMISSION_LOSS] = i == 1 ? 3 : 1;
  commission_begin(&run, &plan, false);
  while (commission_step(&run)) {
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(run.results[1].outcome, COMMISSION_REFUSED);
  EXPECT_STREQ(run.results[1].text, "loss: 3 is not HOLD, to 0% or to 100%");
  for (int i : {0, 2, 3, 4, 5}) EXPECT_EQ(run.results[i].outcome, COMMISSION_CHANGED) << i;
  EXPECT_EQ(bench.devices[5]->sim_functions().settings.lossOfDmx, 1);
  EXPECT_EQ(system((std::string("rm -rf ") + dir).c_str()), 0);
}
