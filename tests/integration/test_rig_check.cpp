// A rig checked against its record on the simulated line: matches, every
// field that differs, missing, new and swapped devices (adopted or replaced,
// the record keeping the row), a refused record, the cable failing and a
// stop at every frame, a record device that never mutes, and the virtual
// time each costs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "device/app_discovery.h"
#include "device/exchange.h"
#include "device/rig_check.h"
#include "device_line.h"
#include "link/fileio.h"
#include "platform/clock.h"

namespace {

// A rig whose record is written from its devices as built; the test then
// changes, pulls or swaps devices before putting them on the line.
struct Site {
  DeviceLine bench;
  SimDevices devices;
  char dir[32] = "/tmp/tern_check_XXXXXX";
  std::string path;
  std::unique_ptr<CommissionPlan> plan{new CommissionPlan};
  uint64_t us = 0;  // virtual time of the last check

  Site(int count, uint32_t seed) : devices(count, seed) {
    EXPECT_NE(mkdtemp(dir), nullptr);
    path = std::string(dir) + "/rig.csv";
    std::unique_ptr<Device[]> records(new Device[count]());
    for (int i = 0; i < count; i++) {
      const SimSettings& s = settings(i);
      records[i].uid = devices.sim_device(i).sim_uid();
      records[i].addr = s.addr;
      records[i].lossOfDmx = s.lossOfDmx;
      records[i].display[0] = s.sleep;
      records[i].display[1] = s.backlight;
      records[i].limit[0] = s.limitUp;
      records[i].limit[1] = s.limitDown;
    }
    EXPECT_EQ(rig_writeRecord(path.c_str(), records.get(), count), 0);
    char why[COMMISSION_TEXT_SIZE];
    EXPECT_EQ(rig_readRecord(path.c_str(), plan.get(), why, sizeof why), RIG_FILE_OK) << why;
  }
  ~Site() { EXPECT_EQ(system((std::string("rm -rf ") + dir).c_str()), 0); }
  SimSettings& settings(int i) { return devices.sim_device(i).sim_functions().settings; }
  uint32_t uid(int i) { return devices.sim_device(i).sim_uid(); }
  std::unique_ptr<RigCheck> check(RigCheck* setUp = nullptr) {
    std::unique_ptr<RigCheck> c(setUp ? setUp : new RigCheck);
    testing::internal::CaptureStdout();
    const uint64_t t0 = clock_nowUs();
    rig_check(plan.get(), c.get());
    us = clock_nowUs() - t0;
    testing::internal::GetCapturedStdout();
    return c;
  }
  std::string file() {
    std::string text(COMMISSION_CSV_MAX_BYTES, 0);
    text.resize((size_t)read_file(path.c_str(), (unsigned char*)&text[0], (int)text.size()));
    return text;
  }
};

std::string rowLine(const RigCheck& c, int i) {
  char text[COMMISSION_TEXT_SIZE];
  rig_checkRowLine(&c.rows[i], text, sizeof text);
  return text;
}

std::string totals(const RigCheck& c) {
  char text[COMMISSION_TEXT_SIZE];
  rig_checkTotalsLine(&c, text, sizeof text);
  return text;
}

// What a check told as it went.
struct Told {
  int present = 0;
  std::vector<uint32_t> fresh;
};
void toldPresent(int, void* ctx) { ((Told*)ctx)->present++; }
void toldNew(uint32_t uid, void* ctx) { ((Told*)ctx)->fresh.push_back(uid); }

}  // namespace

TEST(RigCheck, RigThatMatchesIsCheckedWithItsReadsWithinTwentySeconds) {
  Site site(200, 41);
  site.devices.sim_attach(site.bench.line);
  const std::unique_ptr<RigCheck> c = site.check();
  EXPECT_EQ(c->end, RIG_CHECK_DONE);
  EXPECT_TRUE(rig_checkMatches(c.get()));
  EXPECT_EQ(rig_checkCount(c.get(), RIG_CHECK_MATCHES), 200);
  EXPECT_EQ(totals(*c), "200 devices in the record: 200 match.");
  char line[40];
  snprintf(line, sizeof line, "%08X (line 2)    matches", (unsigned)site.plan->targets[0].uid);
  EXPECT_EQ(rowLine(*c, 0), line);
  EXPECT_EQ(dev_count(), 200) << "the table holds every device read";
  EXPECT_LE(site.us, 20000000u);
  fprintf(stderr, "[figures] 200 devices matching their record, with the reads: %.1f s\n", site.us / 1e6);
}

TEST(RigCheck, EachFieldThatDiffersIsNamedRecordToDeviceAndTheFixMakesItMatch) {
  Site site(8, 5);
  site.settings(0).addr = 300;
  site.settings(1).lossOfDmx = 2;
  site.settings(2).sleep = 30;
  site.settings(3).backlight = 7;
  site.settings(4).limitUp = 200;
  site.settings(5).limitDown = 9;
  site.settings(6).sleep = 45;
  site.settings(6).backlight = 100;
  site.devices.sim_device(7).sim_functions().faults.silentClasses = 1u << 1;  // silent to settings
  site.devices.sim_attach(site.bench.line);
  const std::unique_ptr<RigCheck> c = site.check();
  ASSERT_EQ(c->end, RIG_CHECK_DONE);
  const char* fields[] = {"address", "loss", "sleep", "backlight", "limit_up", "limit_down"};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(c->rows[i].status, RIG_CHECK_DIFFERS) << i;
    EXPECT_EQ(c->rows[i].differs, 1u << i) << fields[i];
  }
  char want[128];
  snprintf(want, sizeof want, "%08X (line 8)    differs       sleep 0 -> 45, backlight %d -> 100",
           (unsigned)site.uid(6), (int)site.plan->targets[6].want.v[COMMISSION_BACKLIGHT]);
  EXPECT_EQ(rowLine(*c, 6), want);
  EXPECT_NE(rowLine(*c, 1).find("loss HOLD -> to 100%"), std::string::npos) << rowLine(*c, 1);
  EXPECT_EQ(c->rows[7].status, RIG_CHECK_NOT_RESPONDING) << "it took its mute: it is there";
  EXPECT_EQ(totals(*c), "8 devices in the record: 7 differ, 1 not responding.");
  RigPair pair;
  EXPECT_EQ(rig_replacePairs(c.get(), &pair, 1), 0);

  std::unique_ptr<CommissionPlan> fix(new CommissionPlan);
  ASSERT_EQ(rig_checkFix(c.get(), fix.get()), 7);
  std::unique_ptr<CommissionRun> run(new CommissionRun);
  testing::internal::CaptureStdout();
  commission_begin(run.get(), fix.get(), false);
  while (commission_step(run.get())) {
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(commission_count(run.get(), COMMISSION_CHANGED), 7);
  site.devices.sim_device(7).sim_functions().faults.silentClasses = 0;
  EXPECT_TRUE(rig_checkMatches(site.check().get()));
}

// A device swapped for a new one: one missing, one new, within 30 s; adopted,
// the new device holds the old one's settings and the old one's line of the
// record names it, so the next check matches.
TEST(RigCheck, SwappedDeviceIsAdoptedIntoTheOldRow) {
  Site site(200, 43);
  const uint32_t oldUid = site.uid(120);
  const std::string before = site.file();
  site.devices.sim_replace(120, 0x00ABCDEF);
  site.devices.sim_attach(site.bench.line);
  Told told;
  RigCheck* setUp = new RigCheck;
  setUp->onPresent = toldPresent;
  setUp->onNew = toldNew;
  setUp->ctx = &told;
  const std::unique_ptr<RigCheck> c = site.check(setUp);
  EXPECT_LE(site.us, 30000000u);
  fprintf(stderr, "[figures] 200 devices, one swapped, with the reads: %.1f s\n", site.us / 1e6);
  EXPECT_EQ(totals(*c), "200 devices in the record: 199 match, 1 missing; 1 new device.");
  EXPECT_EQ(told.present, 199);
  EXPECT_EQ(told.fresh, std::vector<uint32_t>({0x00ABCDEF}));
  char text[COMMISSION_TEXT_SIZE];
  rig_checkNewLine(&c->fresh[0], text, sizeof text);
  EXPECT_STREQ(text, "00ABCDEF             new");

  RigPair pair;
  ASSERT_TRUE(rig_adoptPair(c.get(), &pair, text, sizeof text)) << text;
  EXPECT_EQ(pair.oldUid, oldUid);
  EXPECT_EQ(pair.newUid, 0x00ABCDEFu);
  RigReplace r;
  testing::internal::CaptureStdout();
  EXPECT_EQ(rig_replace(site.path.c_str(), site.plan.get(), pair.oldUid, pair.newUid, &r), RIG_REPLACE_DONE) << r.text;
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(site.settings(120).addr, site.plan->targets[120].want.v[COMMISSION_ADDR]);
  char oldText[9], newText[9];
  snprintf(oldText, sizeof oldText, "%08X", (unsigned)oldUid);
  snprintf(newText, sizeof newText, "%08X", 0x00ABCDEFu);
  std::string expected = before;
  expected.replace(expected.find(oldText), 8, newText);
  EXPECT_TRUE(site.file() == expected) << "the new UID in the old row, the rest as it was";
  EXPECT_TRUE(rig_checkMatches(site.check().get()));
}

// Ten devices pulled cost no more than ten unanswered mutes; they are not
// read, and with nothing new there is nothing to adopt. Replacing refuses an
// unknown old UID, a new UID of the record or of no device, and a new device
// that is silent.
TEST(RigCheck, MissingDevicesCostTheirResendsAndReplaceRefusesWhatItCannotDo) {
  // The same fifty devices on the line, against a record of them alone and
  // against one naming ten more.
  Site fifty(60, 47), site(60, 47);
  for (Site* s : {&fifty, &site}) {
    for (int i = 0; i < 10; i++) s->devices.sim_remove(i * 5);
    s->devices.sim_attach(s->bench.line);
  }
  for (int i = 0; i < 10; i++) {
    CommissionTarget* t = fifty.plan->targets;
    std::copy(t + i * 5 + 1, t + fifty.plan->count, t + i * 5);
    fifty.plan->count--;
  }
  ASSERT_TRUE(rig_checkMatches(fifty.check().get()));
  const uint64_t matching = fifty.us;

  const std::unique_ptr<RigCheck> c = site.check();
  EXPECT_EQ(totals(*c), "60 devices in the record: 50 match, 10 missing.");
  // One unanswered mute, with every resend, on the same line.
  Packet mute;
  packet_fillHeader(&mute, 0x7FFFFFF0);
  mute.data[0] = PACKET_CLASS_DISCOVERY;
  mute.data[1] = 0;  // mute
  mute.length = 2;
  testing::internal::CaptureStdout();
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(app_discovery_send_mute_packet(&mute, 0x7FFFFFF0), EXCHANGE_UNANSWERED);
  const uint64_t resends = clock_nowUs() - t0;
  testing::internal::GetCapturedStdout();
  EXPECT_GT(site.us, matching);
  EXPECT_LE((site.us - matching) / 10, resends) << "each missing device costs its resends, no more";
  fprintf(stderr, "[figures] 60 devices, 10 missing: %.1f s, %.2f s per missing device (its resends %.2f s)\n",
          site.us / 1e6, (site.us - matching) / 10 / 1e6, resends / 1e6);

  char text[COMMISSION_TEXT_SIZE];
  RigPair pair;
  EXPECT_FALSE(rig_adoptPair(c.get(), &pair, text, sizeof text));
  EXPECT_STREQ(text, "10 devices are missing and none is new: nothing to replace.");
  const std::string before = site.file();
  RigReplace r;
  const size_t frames = site.bench.sent({}).size();
  testing::internal::CaptureStdout();
  EXPECT_EQ(rig_replace(site.path.c_str(), site.plan.get(), 0x1234, site.uid(0), &r), RIG_REPLACE_OLD_UNKNOWN);
  EXPECT_EQ(rig_replace(site.path.c_str(), site.plan.get(), site.plan->targets[0].uid, site.uid(1), &r),
            RIG_REPLACE_NEW_IN_RECORD);
  EXPECT_EQ(rig_replace(site.path.c_str(), site.plan.get(), site.plan->targets[0].uid, 0xFFFFFFFF, &r),
            RIG_REPLACE_BAD_UID) << "the broadcast would set every device";
  EXPECT_EQ(rig_replace(site.path.c_str(), site.plan.get(), site.plan->targets[0].uid, 0x1234, &r),
            RIG_REPLACE_NEW_SILENT);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(frames, site.bench.sent({}).size() - EXCHANGE_SENDS) << "refusals send nothing; the silent one its read";
  EXPECT_TRUE(site.file() == before) << "the record is left as it was";
}

// Pairs only where the counts allow, in the record's order.
TEST(RigCheck, PairsFollowTheRecordsOrderAndAdoptNeedsOneOfEach) {
  Site site(6, 53);
  const uint32_t first = site.uid(1), second = site.uid(4);
  site.devices.sim_replace(4, 0x7000000E);
  site.devices.sim_replace(1, 0x0000000E);
  site.devices.sim_attach(site.bench.line);
  const std::unique_ptr<RigCheck> c = site.check();
  RigPair pairs[2];
  ASSERT_EQ(rig_replacePairs(c.get(), pairs, 2), 2);
  EXPECT_EQ(pairs[0].oldUid, first);
  EXPECT_EQ(pairs[0].line, 3);
  EXPECT_EQ(pairs[1].oldUid, second);
  EXPECT_NE(pairs[0].newUid, pairs[1].newUid);
  for (const RigPair& p : pairs) EXPECT_TRUE(p.newUid == 0x7000000E || p.newUid == 0x0000000E) << p.newUid;
  char text[COMMISSION_TEXT_SIZE];
  EXPECT_FALSE(rig_adoptPair(c.get(), pairs, text, sizeof text));
  EXPECT_STREQ(text, "2 devices are missing and 2 are new: name the pairs with tern replace");
  c->newCount = 1;
  EXPECT_EQ(rig_replacePairs(c.get(), pairs, 2), 0);
  EXPECT_FALSE(rig_adoptPair(c.get(), pairs, text, sizeof text));
  EXPECT_STREQ(text, "2 devices are missing and 1 is new: name the pairs with tern replace");
}

TEST(RigCheck, RecordNamingADeviceTwiceIsRefusedWithNothingSent) {
  Site site(3, 59);
  site.devices.sim_attach(site.bench.line);
  std::string text = site.file();
  text += text.substr(text.find('\n') + 1, 9) + "1,,,,,,,\n";  // the first device again
  save_file(site.path.c_str(), text.c_str());
  char why[COMMISSION_TEXT_SIZE];
  std::unique_ptr<CommissionPlan> twice(new CommissionPlan);
  EXPECT_EQ(rig_readRecord(site.path.c_str(), twice.get(), why, sizeof why), RIG_FILE_REFUSED);
  site.plan->targets[2].uid = site.plan->targets[0].uid;
  const std::unique_ptr<RigCheck> c = site.check();
  EXPECT_EQ(c->end, RIG_CHECK_REFUSED);
  rig_checkEndText(c.get(), why, sizeof why);
  char want[96];
  snprintf(want, sizeof want, "%08X (line 4) names the device of %08X (line 2) again.",
           (unsigned)site.plan->targets[0].uid, (unsigned)site.plan->targets[0].uid);
  EXPECT_STREQ(why, want);
  EXPECT_TRUE(site.bench.sent({}).empty());
}

// The cable pulled after every number of frames (release, mutes, the probe
// of address 0, the search, the reads), and a stop at every row and read:
// what was done is kept, nothing is blamed on a device.
TEST(RigCheck, CableFailureOrStopAnywhereKeepsWhatWasDone) {
  long frames;
  {
    Site whole(5, 61);
    whole.devices.sim_remove(2);
    whole.devices.sim_add(0x100);
    whole.devices.sim_attach(whole.bench.line);
    ASSERT_EQ(whole.check()->end, RIG_CHECK_DONE);
    frames = (long)whole.bench.sent({}).size();
  }
  // Pulled after frame k goes out, its answer never comes: k = frames
  // fails the last read. Past that, the stop at progress call k - frames - 1.
  int stops = 0;
  for (long k = 0; k <= frames + 12; k++) {
    const bool stop = k > frames;
    Site site(5, 61);
    const uint32_t missing = site.uid(2);
    site.devices.sim_remove(2);
    site.devices.sim_add(0x100);
    site.devices.sim_attach(site.bench.line);
    std::atomic<bool> stopFlag{false};
    std::pair<std::atomic<bool>*, long> at{&stopFlag, k - frames - 1};
    RigCheck* setUp = new RigCheck;
    if (stop) {
      setUp->stop = &stopFlag;
      setUp->ctx = &at;
      setUp->onProgress = [](RigCheckPhase, int, int, void* ctx) {
        auto* a = (std::pair<std::atomic<bool>*, long>*)ctx;
        if (a->second-- == 0) a->first->store(true);
      };
    } else {
      site.bench.line.sim_unplugAfterFrames(k);
    }
    findDevUID(0x5555);  // a device the table knew before
    const std::unique_ptr<RigCheck> c = site.check(setUp);
    SCOPED_TRACE((stop ? "stopped at call " + std::to_string(k - frames - 1) : "pulled after " + std::to_string(k)));
    if (stop && c->end == RIG_CHECK_DONE) continue;  // past the last call
    stops += stop;
    EXPECT_EQ(c->end, stop ? RIG_CHECK_STOPPED : RIG_CHECK_CABLE_FAILED);
    char text[COMMISSION_TEXT_SIZE * 2];
    rig_checkEndText(c.get(), text, sizeof text);
    EXPECT_NE(std::string(text).find(stop ? "Stopped" : "able"), std::string::npos) << text;
    for (int i = 0; i < 5; i++) {
      const RigCheckStatus s = c->rows[i].status;
      if (c->rows[i].uid == missing)
        EXPECT_TRUE(s == RIG_CHECK_MISSING || s == RIG_CHECK_NOT_READ) << s;
      else
        EXPECT_TRUE(s == RIG_CHECK_MATCHES || s == RIG_CHECK_NOT_READ) << s;
    }
    for (int i = 0; i < c->newCount; i++) EXPECT_NE(c->fresh[i].read, RIG_NOT_RESPONDING);
    if (c->run.end == DISCOVERY_END_SEND_FAILED) {
      EXPECT_NE(getDevUID(0x5555), nullptr) << "the table keeps what it knew";
    }
    if (k == frames) {
      EXPECT_EQ(rig_checkCount(c.get(), RIG_CHECK_MATCHES), 4) << "reads before kept";
      EXPECT_EQ(c->fresh[0].read, RIG_NOT_READ);
    }
  }
  EXPECT_GE(stops, 10) << "a stop at each row's mute and each read";
}

// A record device that answers probes but never takes its mute ends the
// search naming it, and is read all the same: it is there.
TEST(RigCheck, RecordDeviceThatNeverMutesIsNamedAndRead) {
  Site site(4, 67);
  int rogue = 0;
  for (int i = 1; i < 4; i++)
    if (site.uid(i) > site.uid(rogue)) rogue = i;
  site.devices.sim_device(rogue).sim_functions().faults.neverMutes = true;
  site.devices.sim_attach(site.bench.line);
  const std::unique_ptr<RigCheck> c = site.check();
  EXPECT_EQ(c->end, RIG_CHECK_ROGUE);
  EXPECT_EQ(c->rogueUid, site.uid(rogue));
  EXPECT_EQ(rig_checkCount(c.get(), RIG_CHECK_MATCHES), 4);
  EXPECT_FALSE(rig_checkMatches(c.get()));
  char text[COMMISSION_TEXT_SIZE];
  rig_checkEndText(c.get(), text, sizeof text);
  char uid[9];
  snprintf(uid, sizeof uid, "%08X", (unsigned)site.uid(rogue));
  EXPECT_NE(std::string(text).find(uid), std::string::npos) << text;
}
