// The window's commissioning worker on the simulated line: it holds its lock
// bit and counts the devices while it runs, runs a plan device by device or
// only checks it, exports the listed devices read fresh, tells which did not
// answer, writes nothing when the cable fails, and leaves no lock behind when
// its thread cannot start. And the device table's side of the window's
// refresh: the change counter and the mark of a device that answered.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/commission_csv.h"
#include "device/commission_job.h"
#include "device/devices.h"
#include "device/exchange.h"
#include "../support/bridge_messages.h"
#include "../support/held_job.h"
#include "device_line.h"
#include "link/timer.h"
#include "platform/clock.h"

namespace {


class CommissionWorker : public testing::Test {
 protected:
  DeviceLine bench;
  std::string dir;
  void SetUp() override {
    shown.clear();
    takeMessages();
    shown.clear();
    char tmpl[] = "/tmp/tern_job_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    job_setStarter(nullptr);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  SimSettings& settings(int i) { return bench.devices[(size_t)i]->sim_functions().settings; }
  std::vector<uint32_t> addDevices(std::vector<uint32_t> uids) {
    for (uint32_t u : uids) bench.add(u).sim_functions().settings.addr = (uint16_t)(u & 0x1FF);
    return uids;
  }
};

// The same, under the name the ThreadSanitizer run picks.
class CommissionThreads : public CommissionWorker {};

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string line(const CommissionResult& r) {
  char text[2 * COMMISSION_TEXT_SIZE];
  commission_resultLine(&r, text, sizeof text);
  return text;
}

}  // namespace

TEST_F(CommissionWorker, AddressInSequenceLocksCountsAndReportsEveryDevice) {
  std::vector<uint32_t> uids = addDevices({0xA1, 0xB2, 0xC3});
  CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  ASSERT_TRUE(commission_addressPlan(100, 10, uids.data(), 3, &plan, why, sizeof why)) << why;
  job_setStarter(heldjob::hold);
  ASSERT_EQ(commissionJob_startRun(&plan, false), JOB_STARTED);
  EXPECT_TRUE(commissionJob_running());
  EXPECT_NE(lockComponents.load() & LOCK_COMMISSION, 0u) << "the cable's buttons lock before the worker runs";
  EXPECT_EQ(pStatusTop.load(), 3);
  EXPECT_EQ(pStatusSt.load(), 0);
  EXPECT_EQ(commissionJob_startRun(&plan, false), JOB_BUSY) << "one job at a time";
  EXPECT_EQ(commissionJob_startExport(uids.data(), 3, (dir + "/x.csv").c_str()), JOB_BUSY);
  plan.count = 0;  // the job runs its own copy

  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(commissionJob_running());
  EXPECT_EQ(lockComponents.load() & LOCK_COMMISSION, 0u);
  EXPECT_EQ(pStatusTop.load(), 100) << "the bar goes back to empty with the job";
  EXPECT_EQ(pStatusSt.load(), 0);
  EXPECT_EQ(commissionJob_done(), 3);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(settings(i).addr, 100 + 10 * i);
    EXPECT_EQ(settings(i).writes, 1);
  }
  const CommissionRun* run = commissionJob_run();
  ASSERT_EQ(run->plan->count, 3);
  EXPECT_EQ(line(run->results[0]), "000000A1             changed       address 161 -> 100");
  EXPECT_EQ(line(run->results[2]), "000000C3             changed       address 195 -> 120");
  char summary[COMMISSION_TEXT_SIZE];
  commission_totalsLine(run, summary, sizeof summary);
  EXPECT_STREQ(summary, "3 devices: 3 changed.");
  takeMessages();
  EXPECT_TRUE(shown.empty()) << "the window reports a run, not the worker";
}

TEST_F(CommissionWorker, ACheckWritesNothingAndSaysWhatWouldChange) {
  addDevices({0x11, 0x22});
  settings(0).backlight = 50;
  bench.devices[1]->sim_functions().faults.silentClasses = 1u << 1;
  const std::string csv = "uid,backlight\n00000011,42\n00000022,42\n";
  CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  ASSERT_TRUE(commission_csvRead(csv.data(), csv.size(), &plan, why, sizeof why)) << why;
  job_setStarter(heldjob::hold);
  ASSERT_EQ(commissionJob_startRun(&plan, true), JOB_STARTED);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(settings(0).writes, 0);
  EXPECT_EQ(settings(0).backlight, 50);
  const CommissionRun* run = commissionJob_run();
  EXPECT_EQ(line(run->results[0]), "00000011 (line 2)    would change  backlight 50 -> 42");
  EXPECT_EQ(line(run->results[1]), "00000022 (line 3)    not found     Device 00000022 not responding.");
  char summary[COMMISSION_TEXT_SIZE];
  commission_totalsLine(run, summary, sizeof summary);
  EXPECT_STREQ(summary, "2 devices: 1 would change, 1 not found.");
  EXPECT_EQ(commission_count(run, COMMISSION_WOULD_CHANGE), 1);
}

TEST_F(CommissionWorker, ExportReadsTheListedDevicesFreshInTheirOrderAndNamesTheSilent) {
  std::vector<uint32_t> uids = addDevices({0x31, 0x42, 0x53});
  bench.devices[1]->sim_functions().faults.silentClasses = 1u << 1;
  // What the table holds from before is not what goes into the file.
  dev_setAddr(0x53, (const uint8_t*)"\x07\x00");
  const std::string path = dir + "/rig.csv";
  const uint32_t order[] = {0x53, 0x42, 0x31};
  job_setStarter(heldjob::hold);
  ASSERT_EQ(commissionJob_startExport(order, 3, path.c_str()), JOB_STARTED);
  EXPECT_EQ(pStatusTop.load(), 3);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(lockComponents.load() & LOCK_COMMISSION, 0u);
  EXPECT_EQ(settings(0).reads, 1);
  EXPECT_EQ(settings(2).reads, 1);

  Device records[2];
  ASSERT_TRUE(dev_copy(0x53, &records[0]));
  ASSERT_TRUE(dev_copy(0x31, &records[1]));
  EXPECT_EQ(records[0].addr, 0x53) << "read fresh";
  char expected[COMMISSION_CSV_SIZE];
  ASSERT_GT(commission_csvFormat(records, 2, expected, sizeof expected), 0);
  EXPECT_EQ(slurp(path), expected) << "the format of tern export, in the order listed";
  const CommissionExport* e = commissionJob_export();
  EXPECT_TRUE(e->saved);
  EXPECT_EQ(e->read.count, 2);
  EXPECT_EQ(std::string(e->report),
            "2 devices written to\n" + path + "\n\nNot responding, left out of the file: 00000042");
  EXPECT_TRUE(e->reportIsError) << "a file without a listed device is not a plain success";
}

TEST_F(CommissionWorker, ExportWritesNothingWhenTheCableFailsOrTheFileCannotBeWritten) {
  std::vector<uint32_t> uids = addDevices({0x61, 0x72});
  const std::string path = dir + "/rig.csv";
  job_setStarter(heldjob::hold);
  bench.line.sim_setPlugged(false);
  ASSERT_EQ(commissionJob_startExport(uids.data(), 2, path.c_str()), JOB_STARTED);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  const CommissionExport* e = commissionJob_export();
  EXPECT_TRUE(e->cableLost);
  EXPECT_FALSE(e->saved);
  EXPECT_TRUE(e->reportIsError);
  EXPECT_NE(std::string(e->report).find("Nothing was written to\n" + path), std::string::npos) << e->report;
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "no file after a failed cable";
  EXPECT_EQ(lockComponents.load() & LOCK_COMMISSION, 0u);

  bench.line.sim_setPlugged(true);
  const std::string nowhere = dir + "/no/such/folder/rig.csv";
  ASSERT_EQ(commissionJob_startExport(uids.data(), 2, nowhere.c_str()), JOB_STARTED);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(e->saved);
  EXPECT_EQ(std::string(e->report).rfind("The devices could not be written to\n" + nowhere, 0), 0u) << e->report;
}

// A stopped export would replace a whole record with half of one: it
// writes nothing, leaves the record there as it was, and says so as the
// stop it is, not as a failure.
TEST_F(CommissionWorker, AStoppedExportWritesNothingAndSaysHowFarItGot) {
  std::vector<uint32_t> uids = addDevices({0x61, 0x72, 0x83});
  const std::string path = dir + "/rig.csv";
  std::ofstream(path) << "uid,address\n00000061,5\n00000072,6\n00000083,7\n";
  const std::string before = slurp(path);
  job_setStarter(heldjob::hold);
  ASSERT_EQ(commissionJob_startExport(uids.data(), 3, path.c_str()), JOB_STARTED);
  EXPECT_FALSE(commissionJob_writes()) << "an export only reads the devices";
  job_requestStop(LOCK_COMMISSION);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  const CommissionExport* e = commissionJob_export();
  EXPECT_FALSE(e->saved);
  EXPECT_FALSE(e->cableLost);
  EXPECT_TRUE(e->read.stopped);
  EXPECT_FALSE(e->reportIsError);
  EXPECT_EQ(std::string(e->report), "Stopped after 0 of 3 devices.\n\nNothing was written to\n" + path);
  EXPECT_EQ(slurp(path), before);
  for (int i = 0; i < 3; i++) EXPECT_EQ(settings(i).reads, 0) << "nothing asked after the stop";
  EXPECT_EQ(lockComponents.load() & LOCK_COMMISSION, 0u);

  // The next export is not stopped by the last one's request.
  ASSERT_EQ(commissionJob_startExport(uids.data(), 3, path.c_str()), JOB_STARTED);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(e->saved) << e->report;
  EXPECT_FALSE(e->read.stopped);
}

TEST_F(CommissionThreads, WorkerOnItsThreadBesideTheTimer) {
  std::vector<uint32_t> uids = addDevices({0x91, 0x92, 0x93, 0x94});
  CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  ASSERT_TRUE(commission_addressPlan(200, 2, uids.data(), 4, &plan, why, sizeof why));
  testing::internal::CaptureStdout();
  ASSERT_EQ(commissionJob_startRun(&plan, false), JOB_STARTED);
  // The window's timer: the bar's pair and the records, read while the
  // worker writes them, every 100 ms of virtual time.
  int last = 0, ticks = 0;
  bool ordered = true;
  while (commissionJob_running() && ticks < 10000) {
    mySleep(98);
    const int done = pStatusSt.load();
    ordered = ordered && (done >= last || done == 0);
    last = done;
    Device d;
    for (uint32_t u : uids) dev_copy(u, &d);
    ticks++;
  }
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(commissionJob_running());
  EXPECT_TRUE(ordered) << "the count went backwards";
  EXPECT_EQ(lockComponents.load() & LOCK_COMMISSION, 0u);
  EXPECT_EQ(commission_count(commissionJob_run(), COMMISSION_CHANGED), 4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(settings(i).addr, 200 + 2 * i);
}

TEST(DeviceRecords, EveryChangeMovesTheCounterAndAnUnansweredReadMarksTheRecord) {
  DeviceLine bench;
  SimDevice& dev = bench.add(0x00C0FFEE);
  dev.sim_functions().settings.addr = 300;
  uint32_t g = dev_generation();
  testing::internal::CaptureStdout();
  ASSERT_EQ(app_setup_read(0x00C0FFEE), 1);
  Device d;
  ASSERT_TRUE(dev_copy(0x00C0FFEE, &d));
  EXPECT_EQ(d.answered, 1);
  EXPECT_EQ(d.addr, 300);
  EXPECT_NE(dev_generation(), g) << "the answer changed the table";

  // Reading the table changes nothing.
  g = dev_generation();
  dev_copy(0x00C0FFEE, &d);
  getDevUID(0x00C0FFEE);
  dev_count();
  EXPECT_EQ(dev_generation(), g);

  // The device stops answering: the record says so and keeps what it held.
  dev.sim_functions().faults.silentClasses = 1u << 1;
  EXPECT_LT(app_setup_read(0x00C0FFEE), 0);
  ASSERT_TRUE(dev_copy(0x00C0FFEE, &d));
  EXPECT_EQ(d.answered, 0);
  EXPECT_EQ(d.addr, 300);
  EXPECT_NE(dev_generation(), g);

  // A read the cable failed says nothing of the device: it keeps its mark.
  dev.sim_functions().faults.silentClasses = 0;
  ASSERT_EQ(app_setup_read(0x00C0FFEE), 1);
  bench.line.sim_setPlugged(false);
  EXPECT_LT(app_setup_read(0x00C0FFEE), EXCHANGE_UNANSWERED);
  bench.line.sim_setPlugged(true);
  ASSERT_TRUE(dev_copy(0x00C0FFEE, &d));
  EXPECT_EQ(d.answered, 1) << "not blamed for the cable";
  EXPECT_EQ(d.addr, 300);

  // An unanswered read of a device without a record makes none; a DALI
  // count alone is no settings answer.
  const int count = dev_count();
  EXPECT_LT(app_setup_read(0x0BADBAD0), 0);
  EXPECT_EQ(dev_count(), count);
  dev_setDaliCount(0x0DA11, (const uint8_t*)"\x03");
  ASSERT_TRUE(dev_copy(0x0DA11, &d));
  EXPECT_EQ(d.answered, 0);
  testing::internal::GetCapturedStdout();

  // Every setter and clear moves the counter.
  const uint8_t two[2] = {1, 2};
  int (*const setters[])(uint32_t, const uint8_t*) = {dev_setAddr, dev_setLossOfDmx, dev_setDisplay,
                                                      dev_setLimit, dev_setVer};
  for (auto set : setters) {
    g = dev_generation();
    set(0x0DA11, two);
    EXPECT_NE(dev_generation(), g);
  }
  g = dev_generation();
  dev_removeAllSetup();
  EXPECT_NE(dev_generation(), g);
  g = dev_generation();
  dev_removeAll();
  EXPECT_NE(dev_generation(), g);
}
