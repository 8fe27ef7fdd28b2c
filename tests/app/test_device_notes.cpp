// What the device table says of devices a run left behind: after the
// cable failed half way, the devices it did not get to read keep their
// values with a note, the device whose write went out unconfirmed says so,
// a device read again loses its note, and a run the operator stopped
// leaves the devices it did not reach as they were.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/deviceNotes.h"
#include "app/deviceTable.h"

namespace {

class DeviceNotes : public testing::Test {
 protected:
  void TearDown() override { deviceNotes_clear(); }
};

// A run of the devices 1..count, each with the outcome and written state given.
struct Results {
  CommissionPlan plan = {};
  CommissionRun run = {};
  Results(std::initializer_list<std::pair<CommissionOutcome, CommissionWritten>> results, bool cableLost) {
    int i = 0;
    for (auto r : results) {
      plan.targets[i].uid = (uint32_t)i + 1;
      run.results[i].uid = (uint32_t)i + 1;
      run.results[i].outcome = r.first;
      run.results[i].written = r.second;
      i++;
    }
    plan.count = i;
    run.plan = &plan;
    run.cableLost = cableLost;
    run.stopped = !cableLost;
  }
};

std::string note(uint32_t uid) { return deviceNotes_text(deviceNotes_of(uid)); }

Device answered(uint32_t uid, int addr) {
  Device d = {};
  d.uid = uid;
  d.addr = (uint16_t)addr;
  d.answered = 1;
  return d;
}

}  // namespace

TEST_F(DeviceNotes, ACableFailureNotesWhatItLeftUnconfirmedAndTheTableKeepsTheValues) {
  Results earlier({{COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}}, true);
  deviceNotes_afterRun(&earlier.run);
  ASSERT_EQ(note(1), "not read since the cable failed");

  Results run({{COMMISSION_CHANGED, COMMISSION_WRITTEN_YES},
           {COMMISSION_CABLE_LOST, COMMISSION_WRITTEN_UNKNOWN},
           {COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO},
           {COMMISSION_CABLE_LOST, COMMISSION_WRITTEN_YES}},
          true);
  deviceNotes_afterRun(&run.run);
  EXPECT_EQ(note(1), "") << "read and written since: its note goes";
  EXPECT_EQ(note(2), "write may have reached it");
  EXPECT_EQ(note(3), "not read since the cable failed");
  EXPECT_EQ(note(4), "written, not read back");

  // The rows keep the values read before, with the note beside them; never
  // "not responding" for a device that was not asked.
  DeviceRow row;
  Device d = answered(3, 17);
  deviceTable_fillRow(&row, 3, 3, &d, DEVICE_READS_DONE);
  EXPECT_STREQ(row.cells[DEVICE_COL_ADDR], "17");
  EXPECT_STREQ(row.note, "not read since the cable failed");
  // While a discovery reads it anew, the row waits for its values instead.
  deviceTable_fillRow(&row, 3, 3, nullptr, DEVICE_READS_RUNNING);
  EXPECT_STREQ(row.note, "");

  // A note is part of what the table shows: a change of it alone is a change.
  std::unique_ptr<DeviceTableModel> a(new DeviceTableModel()), b(new DeviceTableModel());
  a->count = b->count = 1;
  deviceTable_fillRow(&a->rows[0], 3, 3, &d, DEVICE_READS_DONE);
  deviceNotes_read(3);
  deviceTable_fillRow(&b->rows[0], 3, 3, &d, DEVICE_READS_DONE);
  EXPECT_STREQ(b->rows[0].note, "");
  EXPECT_FALSE(deviceTable_same(a.get(), b.get()));
}

TEST_F(DeviceNotes, AStoppedRunLeavesTheDevicesItDidNotReachAsTheyWere) {
  Results failed({{COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}, {COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}},
             true);
  deviceNotes_afterRun(&failed.run);
  const uint32_t g = deviceNotes_generation();
  Results stopped({{COMMISSION_UNCHANGED, COMMISSION_WRITTEN_NO}, {COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO},
               {COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}},
              false);
  deviceNotes_afterRun(&stopped.run);
  EXPECT_EQ(note(1), "") << "read by the stopped run";
  EXPECT_EQ(note(2), "not read since the cable failed") << "not reached: still not read";
  EXPECT_EQ(note(3), "") << "not reached, and nothing had failed";
  EXPECT_NE(deviceNotes_generation(), g);
  const uint32_t after = deviceNotes_generation();
  deviceNotes_read(3);
  EXPECT_EQ(deviceNotes_generation(), after) << "nothing changed";
}

TEST_F(DeviceNotes, AnExportCutShortNotesTheDevicesFromTheOneItFailedAt) {
  const uint32_t uids[] = {1, 2, 3, 4};
  Results failed({{COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}, {COMMISSION_NOT_REACHED, COMMISSION_WRITTEN_NO}},
             true);
  deviceNotes_afterRun(&failed.run);
  std::unique_ptr<RigExport> e(new RigExport());
  e->count = 1;        // device 1 answered,
  e->silentCount = 1;  // device 2 did not: both were asked
  e->failure = -3;     // the cable failed at device 3
  deviceNotes_afterExport(uids, 4, e.get());
  EXPECT_EQ(note(1), "");
  EXPECT_EQ(note(2), "");
  EXPECT_EQ(note(3), "not read since the cable failed");
  EXPECT_EQ(note(4), "not read since the cable failed");

  deviceNotes_clear();
  e->failure = 0;
  e->stopped = true;
  deviceNotes_afterExport(uids, 4, e.get());
  EXPECT_EQ(note(3), "") << "a stop is no failure";
}
