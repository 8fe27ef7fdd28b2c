// What the progress bar says of a run: Quick discovery and Find new
// devices against the search's estimate (a pulse without one), then the
// reads; Discovery by its probes; commissioning by its devices; the time
// as m:ss; and "Stopping…" once Stop was pressed.
#include <gtest/gtest.h>

#include <string>

#include "app/runProgress.h"

namespace {

RunProgressView view(RunProgressInput in) {
  RunProgressView v;
  runProgress_view(&in, &v);
  return v;
}

RunProgressInput search(DiscoveryMode mode, int found, int estimate, int read, uint64_t seconds) {
  RunProgressInput in = {};
  in.kind = RUN_DISCOVERY;
  in.mode = mode;
  in.found = found;
  in.estimate = estimate;
  in.read = read;
  in.elapsedUs = seconds * 1000000u;
  in.pairFraction = 0.9;  // a search's probes: not the whole run's
  return in;
}

}  // namespace

TEST(RunProgress, TheSearchesBeyondDiscoveryCountTheWholeRun) {
  RunProgressView v = view(search(DISCOVERY_QUICK, 12, 20, 0, 41));
  EXPECT_FALSE(v.pulse);
  EXPECT_DOUBLE_EQ(v.fraction, 0.6);
  EXPECT_STREQ(v.text, "12 of about 20 devices found, 0:41");

  v = view(search(DISCOVERY_NEW, 3, 3, 0, 12));
  EXPECT_TRUE(v.pulse) << "no estimate beyond what was found";
  EXPECT_STREQ(v.text, "3 devices found, 0:12");
  EXPECT_TRUE(view(search(DISCOVERY_QUICK, 0, 0, 0, 0)).pulse);

  v = view(search(DISCOVERY_QUICK, 20, 20, 7, 62));
  EXPECT_FALSE(v.pulse);
  EXPECT_DOUBLE_EQ(v.fraction, 0.35);
  EXPECT_STREQ(v.text, "Reading 7 of 20 devices, 1:02");

  // Discovery keeps its bar: the probes of each search.
  v = view(search(DISCOVERY_FULL, 5, 20, 0, 30));
  EXPECT_FALSE(v.pulse);
  EXPECT_DOUBLE_EQ(v.fraction, 0.9);
  EXPECT_STREQ(v.text, "5 devices found");
}

TEST(RunProgress, CommissioningCountsItsDevicesAndAStopIsSaid) {
  RunProgressInput in = {};
  in.kind = RUN_COMMISSION;
  in.done = 41;
  in.total = 200;
  RunProgressView v = view(in);
  EXPECT_DOUBLE_EQ(v.fraction, 0.205);
  EXPECT_STREQ(v.text, "41 of 200 devices done");
  in.stopping = true;
  v = view(in);
  EXPECT_STREQ(v.text, "Stopping\u2026");
  EXPECT_DOUBLE_EQ(v.fraction, 0.205) << "the bar stays where the run is";

  RunProgressInput idle = {};
  idle.pairFraction = 0.0;
  v = view(idle);
  EXPECT_STREQ(v.text, "");
  EXPECT_FALSE(v.pulse);
}

TEST(RunProgress, TimeSinceTheRunStartedAsMinutesAndSeconds) {
  char text[16];
  const std::pair<uint64_t, const char*> cases[] = {{0, "0:00"}, {59, "0:59"}, {61, "1:01"},
                                                    {3599, "59:59"}, {3600, "1:00:00"}, {7325, "2:02:05"}};
  for (auto c : cases) {
    runProgress_clock(c.first * 1000000u + 999999u, text, sizeof text);
    EXPECT_STREQ(text, c.second) << c.first << " s";
  }
  EXPECT_EQ(runProgress_elapsed(false, 5000), 0u);
  EXPECT_EQ(runProgress_elapsed(true, 7000), 0u) << "the first tick that sees the run starts its time";
  EXPECT_EQ(runProgress_elapsed(true, 9500), 2500u);
  EXPECT_EQ(runProgress_elapsed(false, 9600), 0u);
  EXPECT_EQ(runProgress_elapsed(true, 20000), 0u) << "the next run starts afresh";
}
