// The discovery's search against lines of devices held in memory: every
// mode, its stop rules, lost answers, misbehaving devices and the check
// against a record, in microseconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <vector>

#include "device/discovery_search.h"

namespace {

const uint32_t TOP = DISCOVERY_TOP_UID;

struct Responder {
  uint32_t uid;
  bool muted = false;
  bool neverMutes = false;
  int mutesOnTry = 1;  // takes its mute from this mute send on
  int muteSends = 0;
  bool answersWhileMuted = false;
  uint32_t movesUp = 0;  // after each mute sent to it, its UID rises by this much
  int lossPerMille = 0;  // of the probe sends it should answer
  uint32_t rng = 0;
};

// A line in memory: a frame is one send of a request. Every unmuted device
// with a UID above a probe's address answers it (together, as one answer).
struct Line {
  std::vector<Responder> devices;
  long frames = 0;
  long cutAt = -1;   // frames sent before the cable fails
  long stopAt = -1;  // frames sent before the stop request is set
  std::atomic<bool> stop{false};
  long opsAfterStop = 0;
  long framesBeforeLastOp = 0;
  char lastOp = 0;              // 'r'elease, 'p'robe or 'm'ute
  std::vector<uint32_t> mutes;  // the UID of every mute

  Responder& add(uint32_t uid) {
    devices.push_back(Responder{uid});
    devices.back().rng = uid * 2654435761u + 1;
    return devices.back();
  }
  static Line* begin(void* ctx, char op) {
    Line* l = (Line*)ctx;
    if (l->stop) l->opsAfterStop++;
    l->lastOp = op;
    l->framesBeforeLastOp = l->frames;
    return l;
  }
  bool send() {
    if (cutAt >= 0 && frames >= cutAt) return false;
    if (++frames == stopAt) stop = true;
    return true;
  }
  static bool lost(Responder& d) {
    d.rng ^= d.rng << 13, d.rng ^= d.rng >> 17, d.rng ^= d.rng << 5;
    return (int)(d.rng % 1000) < d.lossPerMille;
  }
  static bool release(void* ctx) {
    Line* l = begin(ctx, 'r');
    for (auto& d : l->devices) d.muted = false, d.muteSends = 0;
    for (int i = 0; i < DISCOVERY_RELEASE_SENDS; i++)
      if (!l->send()) return false;
    return true;
  }
  static int probe(void* ctx, uint32_t address, int sends, long* sent) {
    Line* l = begin(ctx, 'p');
    for (int i = 0; i < sends; i++) {
      if (!l->send()) return DISCOVERY_PROBE_CABLE;
      (*sent)++;
      bool answered = false;
      for (auto& d : l->devices)
        if ((!d.muted || d.answersWhileMuted) && d.uid > address && !lost(d)) answered = true;
      if (answered) return DISCOVERY_PROBE_ANSWERED;
    }
    return DISCOVERY_PROBE_SILENT;
  }
  static int mute(void* ctx, uint32_t uid) {
    Line* l = begin(ctx, 'm');
    l->mutes.push_back(uid);
    for (int i = 0; i < 5; i++) {
      if (!l->send()) return DISCOVERY_MUTE_CABLE;
      for (auto& d : l->devices)
        if ((d.uid == uid || uid == 0xFFFFFFFFu) && !d.neverMutes && ++d.muteSends >= d.mutesOnTry) d.muted = true;
      for (auto& d : l->devices)
        if (d.uid == uid && d.muted) return DISCOVERY_MUTE_TAKEN;
    }
    for (auto& d : l->devices)
      if (d.uid == uid) d.uid += d.movesUp;
    return DISCOVERY_MUTE_UNANSWERED;
  }
  DiscoveryOps ops() { return {release, probe, mute, nullptr, this}; }

  std::vector<uint32_t> uidsHighestFirst() const {
    std::vector<uint32_t> u;
    for (const auto& d : devices) u.push_back(d.uid);
    std::sort(u.rbegin(), u.rend());
    return u;
  }
  int mutesOf(uint32_t uid) const { return (int)std::count(mutes.begin(), mutes.end(), uid); }
};

struct Result {
  std::vector<uint32_t> found;
  DiscoveryRun run;
};

Result discover(Line& line, DiscoveryMode mode, int max = 200) {
  Result r;
  r.run.mode = mode;
  r.run.stop = &line.stop;
  std::vector<uint32_t> uids(max > 0 ? max : 1);
  const int n = discoverySearch_run(line.ops(), &r.run, uids.data(), max);
  r.found.assign(uids.begin(), uids.begin() + n);
  return r;
}

void populate(Line& line, int count, uint32_t seed, int lossPerMille = 0) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<uint32_t> uid(1, TOP);
  while ((int)line.devices.size() < count) line.add(uid(gen)).lossPerMille = lossPerMille;
}

const DiscoveryMode kModes[] = {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW};

}  // namespace

// Catches a search that misses the ends of the UID range or neighbours, or
// a quick search that mutes UIDs nobody has on a clean line.
TEST(DiscoverySearch, FindsEveryDeviceHighestFirstOnACleanLine) {
  const std::vector<std::vector<uint32_t>> lines = {
      {}, {1}, {TOP}, {1, 2, 3, TOP, TOP - 1, 0x40000000, 0x3FFFFFFF, 0x40000001}};
  for (size_t k = 0; k <= lines.size(); k++) {
    for (DiscoveryMode mode : kModes) {
      Line line;
      if (k < lines.size())
        for (uint32_t u : lines[k]) line.add(u);
      else
        populate(line, 150, 5);
      const Result r = discover(line, mode);
      EXPECT_EQ(r.found, line.uidsHighestFirst()) << "line " << k << " mode " << mode;
      EXPECT_EQ(r.run.end, DISCOVERY_END_DONE);
      EXPECT_TRUE(r.run.noneLeft);
      EXPECT_EQ(line.mutes, r.found) << "line " << k << " mode " << mode << ": a mute nobody took";
      EXPECT_EQ(r.run.estimate, (int)r.found.size());
    }
  }
}

// Catches a quick search that searches again from the top after a lost
// answer, that climbs past the device it lost, or that lists out of order.
TEST(DiscoverySearch, LostAnswersCostLittleAndNoDeviceNorItsPlace) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    Line clean;
    populate(clean, 200, seed);
    const long cleanSends = discover(clean, DISCOVERY_QUICK).run.probeSends;
    for (int loss : {20, 100}) {
      Line line;
      populate(line, 200, seed, loss);
      const Result r = discover(line, DISCOVERY_QUICK);
      EXPECT_EQ(r.found, line.uidsHighestFirst()) << "seed " << seed << " loss " << loss;
      EXPECT_EQ(r.run.end, DISCOVERY_END_DONE);
      if (loss == 20) {
        EXPECT_LT(r.run.probeSends, cleanSends * 12 / 10) << "seed " << seed;
        EXPECT_LE(line.mutes.size(), r.found.size() + 20) << "seed " << seed << ": mutes nobody took";
      }
    }
  }
}

// Catches a device that is slow to mute being given up (a quick search
// climbing above its UID after the first failed mute).
TEST(DiscoverySearch, DeviceSlowToMuteIsFoundOnItsSecondMute) {
  for (DiscoveryMode mode : kModes) {
    Line line;
    populate(line, 20, 8);
    const uint32_t slow = line.uidsHighestFirst()[7];
    std::find_if(line.devices.begin(), line.devices.end(), [&](const Responder& d) {
      return d.uid == slow;
    })->mutesOnTry = 7;
    const Result r = discover(line, mode);
    EXPECT_EQ(r.found, line.uidsHighestFirst()) << mode;
    EXPECT_EQ(line.mutesOf(slow), 2) << mode;
  }
}

// A device that answers probes but never takes its mute, or answers them
// while muted, hides every UID below its own: each mode names it after its
// third result instead of searching on (or listing it again and again).
TEST(DiscoverySearch, DeviceThatHidesTheOnesBelowStopsTheRunNamingIt) {
  for (bool whileMuted : {false, true}) {
    for (DiscoveryMode mode : kModes) {
      Line line;
      line.add(0x7F000001);
      Responder& rogue = line.add(0x7F000000);
      rogue.neverMutes = !whileMuted;
      rogue.answersWhileMuted = whileMuted;
      populate(line, 10, 9);
      const Result r = discover(line, mode);
      EXPECT_EQ(r.run.end, DISCOVERY_END_ROGUE) << mode;
      EXPECT_EQ(r.run.rogueUid, 0x7F000000u) << mode;
      const std::vector<uint32_t> above =
          whileMuted ? std::vector<uint32_t>{0x7F000001, 0x7F000000} : std::vector<uint32_t>{0x7F000001};
      EXPECT_EQ(r.found, above) << mode << (whileMuted ? " while muted" : " never mutes");
      EXPECT_EQ(line.mutesOf(0x7F000000), whileMuted ? 4 : 3) << mode;
    }
  }
}

// Catches a run that never ends when its results never take their mute
// but differ each time (so no UID fails three times).
TEST(DiscoverySearch, ResultsThatNeverMuteEndTheRunAfterFourSearchesPerDevice) {
  for (DiscoveryMode mode : kModes) {
    Line line;
    Responder& ghost = line.add(0x10000000);
    ghost.neverMutes = true;
    ghost.movesUp = 0x100000;
    const Result r = discover(line, mode, 2);
    EXPECT_EQ(r.run.end, DISCOVERY_END_DONE) << mode;
    EXPECT_TRUE(r.found.empty());
    EXPECT_EQ(line.mutes.size(), 8u) << mode;
  }
}

// Catches probes or mutes after the last device wanted.
TEST(DiscoverySearch, MaxEndsTheRunAtItsLastMute) {
  for (DiscoveryMode mode : kModes) {
    Line line;
    line.add(0x00ABCDEF);
    line.add(0x01ABCDEF);
    const Result r = discover(line, mode, 1);
    EXPECT_EQ(r.found, std::vector<uint32_t>{0x01ABCDEF});
    EXPECT_EQ(line.lastOp, 'm') << mode;
    EXPECT_FALSE(line.devices[0].muted);
    const long frames = line.frames;
    line.lastOp = 0;
    discover(line, mode, 0);
    EXPECT_EQ(line.frames - frames, mode == DISCOVERY_NEW ? 0 : 3) << "max 0 only releases";
    EXPECT_EQ(line.lastOp, mode == DISCOVERY_NEW ? 0 : 'r');
  }
}

// Wherever the cable fails or the stop request comes, the run ends there
// with that reason and keeps, in order, every device found before.
TEST(DiscoverySearch, CableFailureOrStopAnywhereKeepsWhatWasFound) {
  for (DiscoveryMode mode : kModes) {
    Line whole;
    populate(whole, 3, 11);
    const std::vector<uint32_t> all = discover(whole, mode).found;
    for (bool stop : {false, true}) {
      for (long at = 0; at <= whole.frames; at++) {
        Line line;
        populate(line, 3, 11);
        (stop ? line.stopAt : line.cutAt) = at;
        line.stop = stop && at == 0;
        const Result r = discover(line, mode);
        // A stop set during the last exchange leaves nothing to stop.
        const bool ends = stop ? at <= whole.framesBeforeLastOp : at < whole.frames;
        const int wanted = stop ? DISCOVERY_END_STOPPED : DISCOVERY_END_SEND_FAILED;
        ASSERT_EQ(r.run.end, ends ? wanted : DISCOVERY_END_DONE)
            << mode << " at " << at;
        ASSERT_TRUE(std::equal(r.found.begin(), r.found.end(), all.begin())) << mode << " at " << at;
        ASSERT_EQ(line.opsAfterStop, 0) << mode << " at " << at;
      }
    }
  }
}

// Catches an estimate turned upside down or outside found..max.
TEST(DiscoverySearch, EstimateFollowsTheSpreadOfTheUidsFound) {
  EXPECT_EQ(discoverySearch_estimate(0, TOP, 200), 0);
  EXPECT_EQ(discoverySearch_estimate(10, TOP - TOP / 10, 200), 99) << "a tenth of the range holds ten";
  EXPECT_EQ(discoverySearch_estimate(50, TOP / 2, 200), 99);
  EXPECT_EQ(discoverySearch_estimate(3, 1, 200), 3) << "never below found";
  EXPECT_EQ(discoverySearch_estimate(1, TOP, 200), 200) << "never above max";
  Line line;
  populate(line, 100, 12);
  std::vector<int> estimates;
  DiscoveryRun run;
  run.mode = DISCOVERY_QUICK;
  run.ctx = &estimates;
  run.onProgress = [](int found, int estimate, void* ctx) {
    if (found == 50) ((std::vector<int>*)ctx)->push_back(estimate);
  };
  uint32_t uids[200];
  discoverySearch_run(line.ops(), &run, uids, 200);
  ASSERT_FALSE(estimates.empty());
  EXPECT_NEAR(estimates[0], 100, 30) << "half way through";
}

namespace {

struct Check {
  std::vector<int8_t> present;
  std::vector<uint32_t> fresh;
  DiscoveryRun run;
};

Check check(Line& line, const std::vector<uint32_t>& record) {
  Check c;
  c.present.assign(record.size(), 99);
  c.run.stop = &line.stop;
  uint32_t fresh[200];
  const int n = discoverySearch_checkRecord(line.ops(), &c.run, record.data(), (int)record.size(),
                                            c.present.data(), fresh, 200);
  c.fresh.assign(fresh, fresh + n);
  return c;
}

const int8_t P = DISCOVERY_RECORD_PRESENT, M = DISCOVERY_RECORD_MISSING, U = DISCOVERY_RECORD_UNCHECKED;

}  // namespace

// A record of 200 that matches costs its mutes and one probe; a changed
// line says which devices are gone and which are new, highest first.
TEST(DiscoveryCheck, MatchesPresentMissingAndNewDevices) {
  Line rig;
  populate(rig, 200, 13);
  const Check same = check(rig, rig.uidsHighestFirst());
  EXPECT_EQ(same.present, std::vector<int8_t>(200, P));
  EXPECT_TRUE(same.fresh.empty());
  EXPECT_EQ(same.run.probeSends, DISCOVERY_PROBE_SENDS);
  EXPECT_EQ(rig.mutes.size(), 200u);
  EXPECT_EQ(same.run.end, DISCOVERY_END_DONE);

  // Swapped: 0x2000 replaced by 0x3000; 0x5000 added; a device slow to
  // mute misses its mute in the record but is no new device; UIDs no
  // device can have are missing without a mute (the broadcast would mute
  // every device).
  Line line;
  for (uint32_t u : {0x1000u, 0x3000u, 0x4000u, 0x5000u}) line.add(u);
  line.devices[2].mutesOnTry = 7;
  const Check c = check(line, {0x1000, 0x2000, 0x4000, 0xFFFFFFFF, 0});
  EXPECT_EQ(c.present, std::vector<int8_t>({P, M, P, M, M}));
  EXPECT_EQ(c.fresh, std::vector<uint32_t>({0x5000, 0x3000}));
  EXPECT_EQ(line.mutesOf(0xFFFFFFFF) + line.mutesOf(0), 0);
  EXPECT_EQ(c.run.end, DISCOVERY_END_DONE);
}

// A record device that answers probes but never mutes is missing, and the
// search for new ones names it instead of hanging; the cable failing or a
// stop leaves the rest of the record unchecked.
TEST(DiscoveryCheck, RogueCableAndStopEndTheCheck) {
  Line rogue;
  rogue.add(0x1000);
  rogue.add(0x2000).neverMutes = true;
  const Check r = check(rogue, {0x1000, 0x2000});
  EXPECT_EQ(r.present, std::vector<int8_t>({P, M}));
  EXPECT_EQ(r.run.end, DISCOVERY_END_ROGUE);
  EXPECT_EQ(r.run.rogueUid, 0x2000u);

  for (bool stop : {false, true}) {
    for (long at : {4L, 3 + 5 * 3 + 2L}) {  // in the second mute; in the search
      Line line;
      for (uint32_t u : {0x1000u, 0x2000u, 0x7000u}) line.add(u);
      (stop ? line.stopAt : line.cutAt) = at;
      const Check c = check(line, {0x1000, 0x2000});
      EXPECT_EQ(c.run.end, stop ? DISCOVERY_END_STOPPED : DISCOVERY_END_SEND_FAILED);
      EXPECT_EQ(c.present, at == 4 ? std::vector<int8_t>({P, U}) : std::vector<int8_t>({P, P})) << at;
      EXPECT_TRUE(c.fresh.empty());
    }
  }
}
