// The window's record check worker on the simulated line: the table's list
// starts afresh and names the devices as the check finds them, the worker
// holds its lock bit, the replacements take the pairs in order into the
// record file and the devices, and a stop ends either with what was done.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "../support/held_job.h"
#include "device/bridge.h"
#include "device/check_job.h"
#include "device/discovery_job.h"
#include "device/job.h"
#include "device_line.h"
#include "link/fileio.h"
#include "link/timer.h"

namespace {

// A rig on the line and its record: rows of devices on the line or not,
// each with an address of its own; devices on the line the record does not
// name have address 1.
class CheckWorker : public testing::Test {
 protected:
  DeviceLine bench;
  char dir[32] = "/tmp/tern_checkjob_XXXXXX";
  std::string path;
  CommissionPlan record;

  void SetUp() override { ASSERT_NE(mkdtemp(dir), nullptr); }
  void TearDown() override {
    job_setStarter(nullptr);
    EXPECT_EQ(system((std::string("rm -rf ") + dir).c_str()), 0);
  }
  void rig(const std::vector<uint32_t>& rows, const std::vector<uint32_t>& line) {
    std::vector<Device> records(rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
      records[i].uid = rows[i];
      records[i].addr = (uint16_t)(10 + i);
      records[i].display[1] = 60;
      records[i].limit[0] = 255;
    }
    for (uint32_t u : line) {
      SimSettings& s = bench.add(u).sim_functions().settings;
      s = SimSettings();
      for (const Device& r : records)
        if (r.uid == u) s.addr = r.addr, s.backlight = r.display[1];
    }
    path = std::string(dir) + "/rig.csv";
    ASSERT_EQ(rig_writeRecord(path.c_str(), records.data(), (int)records.size()), 0);
    char why[COMMISSION_TEXT_SIZE];
    ASSERT_EQ(rig_readRecord(path.c_str(), &record, why, sizeof why), RIG_FILE_OK) << why;
  }
  SimSettings& settings(uint32_t uid) {
    for (auto& d : bench.devices)
      if (d->sim_uid() == uid) return d->sim_functions().settings;
    throw std::out_of_range("no such device");
  }
  // Runs the job the runner was handed, keeping its console.
  void runHeld() {
    testing::internal::CaptureStdout();
    heldjob::run();
    testing::internal::GetCapturedStdout();
  }
  void check() {
    job_setStarter(heldjob::hold);
    ASSERT_EQ(checkJob_startCheck(path.c_str(), &record), JOB_STARTED);
    runHeld();
  }
  std::string file() {
    std::string text(COMMISSION_CSV_MAX_BYTES, 0);
    text.resize((size_t)read_file(path.c_str(), (unsigned char*)&text[0], (int)text.size()));
    return text;
  }
};

// The same, under the name the ThreadSanitizer run picks.
class CheckThreads : public CheckWorker {};

std::vector<uint32_t> listed() {
  uint32_t uids[DISCOVERY_JOB_MAX];
  const int n = discoveryJob_found(uids, DISCOVERY_JOB_MAX, nullptr);
  return std::vector<uint32_t>(uids, uids + n);
}

std::string text(void (*words)(const RigCheck*, char*, int)) {
  char t[2 * COMMISSION_TEXT_SIZE];
  words(checkJob_check(), t, sizeof t);
  return t;
}

}  // namespace

TEST_F(CheckWorker, TheListStartsAfreshAndNamesTheDevicesFoundPresentThenNew) {
  rig({0x100, 0x250, 0x200}, {0x200, 0x300, 0x100});
  // What an earlier discovery left: a record and a listed device.
  dev_setAddr(0x999, (const uint8_t*)"\x07\x00");
  discoveryJob_listBegin();
  discoveryJob_publish(0x999);
  discoveryJob_listEnd(true);

  setLock(LOCK_DISCOVERY);
  EXPECT_EQ(checkJob_startCheck(path.c_str(), &record), JOB_BUSY) << "the list is a discovery's while it runs";
  remLock(LOCK_DISCOVERY);
  EXPECT_EQ(listed(), std::vector<uint32_t>({0x999}));

  job_setStarter(heldjob::hold);
  ASSERT_EQ(checkJob_startCheck(path.c_str(), &record), JOB_STARTED);
  EXPECT_NE(lockComponents.load() & LOCK_CHECK, 0u) << "the cable's buttons lock before the worker runs";
  EXPECT_TRUE(listed().empty());
  EXPECT_EQ(dev_count(), 0) << "the table holds what this check reads";
  EXPECT_TRUE(discoveryJob_reading()) << "rows read \"reading…\" meanwhile";
  EXPECT_FALSE(discoveryJob_readsStopped());
  record.count = 0;  // the worker checks its own copy
  runHeld();

  EXPECT_FALSE(checkJob_running());
  EXPECT_EQ(lockComponents.load() & LOCK_CHECK, 0u);
  EXPECT_FALSE(discoveryJob_reading());
  EXPECT_FALSE(discoveryJob_readsStopped());
  EXPECT_EQ(listed(), std::vector<uint32_t>({0x100, 0x200, 0x300})) << "the record's order, then the new one";
  Device d;
  ASSERT_TRUE(dev_copy(0x300, &d));
  EXPECT_EQ(d.answered, 1);
  EXPECT_EQ(d.addr, 1);
  EXPECT_EQ(text(rig_checkTotalsLine), "3 devices in the record: 2 match, 1 missing; 1 new device.");
  EXPECT_EQ(std::string(checkJob_path()), path);
  char progress[CHECK_JOB_PROGRESS_SIZE];
  checkJob_progressText(progress, sizeof progress);
  EXPECT_STREQ(progress, "Checking: reading 3 of 3");
}

TEST_F(CheckWorker, ReplacementsTakeThePairsInOrderAndAStopEndsThemBetweenTwo) {
  rig({0x100, 0x150, 0x200, 0x250}, {0x100, 0x200, 0x320, 0x310});
  check();
  RigPair pairs[4];
  ASSERT_EQ(rig_replacePairs(checkJob_check(), pairs, 4), 2);
  const std::string before = file();

  // Asked to stop before the first pair: nothing is written.
  job_setStarter(heldjob::hold);
  ASSERT_EQ(checkJob_startReplace(pairs, 2), JOB_STARTED);
  job_requestStop(LOCK_CHECK);
  runHeld();
  int done = -1, count = 0;
  checkJob_replaced(&done, &count);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(file(), before);
  EXPECT_EQ(settings(0x320).writes, 0);

  ASSERT_EQ(checkJob_startReplace(pairs, 2), JOB_STARTED);
  runHeld();
  const RigReplace* r = checkJob_replaced(&done, &count);
  ASSERT_EQ(done, 2);
  EXPECT_EQ(r[0].status, RIG_REPLACE_DONE) << r[0].text;
  EXPECT_EQ(r[1].status, RIG_REPLACE_DONE) << r[1].text;
  // The first new device found takes the first missing row.
  EXPECT_EQ(settings(0x320).addr, 11);
  EXPECT_EQ(settings(0x310).addr, 13);
  std::string expected = before;
  expected.replace(expected.find("00000150"), 8, "00000320");
  expected.replace(expected.find("00000250"), 8, "00000310");
  EXPECT_EQ(file(), expected);
  EXPECT_EQ(checkJob_record()->targets[1].uid, 0x320u);
  EXPECT_EQ(lockComponents.load() & LOCK_CHECK, 0u);
}

TEST_F(CheckThreads, AStopWhileReadingKeepsWhatWasReadAndMarksTheRestUnread) {
  rig({0x100, 0x200, 0x300}, {0x100, 0x200, 0x300, 0x400});
  testing::internal::CaptureStdout();
  ASSERT_EQ(checkJob_startCheck(path.c_str(), &record), JOB_STARTED);
  // The window's timer, every millisecond of virtual time: the Stop button
  // is pressed once the first device has been read.
  int ticks = 0;
  Device d;
  while (checkJob_running() && ticks++ < 100000) {
    mySleep(1);
    if (dev_copy(0x100, &d) && d.answered) job_requestStop(LOCK_CHECK);
  }
  testing::internal::GetCapturedStdout();
  ASSERT_FALSE(checkJob_running());
  EXPECT_EQ(checkJob_check()->end, RIG_CHECK_STOPPED);
  EXPECT_EQ(text(rig_checkEndText).rfind("Stopped: ", 0), 0u) << text(rig_checkEndText);
  const int unread = rig_checkCount(checkJob_check(), RIG_CHECK_NOT_READ);
  EXPECT_GT(unread, 0);
  EXPECT_LT(unread, 3) << "the stop came after the first read";
  EXPECT_EQ(listed().size(), 4u);
  EXPECT_TRUE(discoveryJob_readsStopped()) << "the unread rows say \"not read\", not \"not responding\"";
  EXPECT_FALSE(discoveryJob_reading());
  EXPECT_EQ(lockComponents.load() & LOCK_CHECK, 0u);
}
