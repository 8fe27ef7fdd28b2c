#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/timer.h"
#include "platform/clock.h"

TEST(Timer, SleepAddsTwoMilliseconds) {
  for (int ms : {0, 1, 15, 40}) {
    uint64_t t0 = clock_nowUs();
    mySleep(ms);
    uint64_t dt = clock_nowUs() - t0;
    EXPECT_GE(dt, (uint64_t)(ms + 2) * 1000) << ms;
    EXPECT_LT(dt, (uint64_t)(ms + 2) * 1000 + 10) << ms;
  }
}

TEST(Timer, BusyWaitCountsHundredMicrosecondUnits) {
  const int units[] = {50, 44, 5, 0, -3};
  const uint64_t expectUs[] = {5000, 4400, 500, 0, 0};
  for (int i = 0; i < 5; i++) {
    uint64_t t0 = clock_nowUs();
    wait_us(units[i]);
    uint64_t dt = clock_nowUs() - t0;
    EXPECT_GE(dt, expectUs[i]);
    EXPECT_LT(dt, expectUs[i] + 10);
  }
}

TEST(Timer, ZeroDeadlinePassesOnlyAfterTheMillisecondAdvances) {
  // Align to the start of a millisecond of the reading.
  TimPair tp;
  clock_gettime(0, &tp);
  clock_sleepUs(1000 - (uint64_t)tp.tv_usec % 1000);
  int32_t d = tim_setTimeout(0);
  EXPECT_EQ(tim_isTimeout(d), 0);
  clock_sleepUs(500);
  EXPECT_EQ(tim_isTimeout(d), 0);
  clock_sleepUs(1000);
  EXPECT_EQ(tim_isTimeout(d), 1);
}

TEST(Timer, DeadlineOfFifteenMilliseconds) {
  int32_t d = tim_setTimeout(15);
  uint64_t t0 = clock_nowUs();
  while (!tim_isTimeout(d)) clock_sleepUs(100);
  uint64_t dt = clock_nowUs() - t0;
  EXPECT_GE(dt, 15000u);
  EXPECT_LE(dt, 17000u);
}

TEST(Timer, DeadlinesWorkAcrossThe32BitWrap) {
  // Move the millisecond reading to just below 2^31, then to just below 2^32.
  for (uint64_t target : {(uint64_t)INT32_MAX - 5, (uint64_t)UINT32_MAX - 5}) {
    TimPair tp;
    clock_gettime(0, &tp);
    uint64_t nowMs = (uint64_t)(uint32_t)tp.tv_sec * 1000 + (uint32_t)tp.tv_usec / 1000;
    uint64_t cycle = 1ull << 32;
    uint64_t ahead = (target + cycle - nowMs % cycle) % cycle;
    clock_chargeUs(ahead * 1000);
    int32_t d = tim_setTimeout(20);  // lies beyond the wrap
    EXPECT_EQ(tim_isTimeout(d), 0);
    clock_sleepUs(10000);
    EXPECT_EQ(tim_isTimeout(d), 0) << "10 ms after, still waiting";
    clock_sleepUs(12000);
    EXPECT_EQ(tim_isTimeout(d), 1);
  }
}

TEST(Timer, ReadingsSplitSecondsAndMicroseconds) {
  TimPair a, b;
  clock_gettime(0, &a);
  clock_sleepUs(2500000);
  clock_gettime(0, &b);
  EXPECT_GE(b.tv_usec, 0);
  EXPECT_LT(b.tv_usec, 1000000);
  int64_t da = (int64_t)a.tv_sec * 1000000 + a.tv_usec;
  int64_t db = (int64_t)b.tv_sec * 1000000 + b.tv_usec;
  EXPECT_GE(db - da, 2500000);
  EXPECT_LT(db - da, 2500010);
  uint64_t u0 = clock_gettime_us();
  clock_sleepUs(1234);
  EXPECT_GE(clock_gettime_us() - u0, 1234u);
}

TEST(Timer, FileTimeOffsetIs1970In100NsUnits) { EXPECT_EQ(getFILETIMEoffset(), 116444736000000000ull); }

TEST(Timer, DebugWaitPrintsOnceThenClears) {
  tim_setDebug(1);
  testing::internal::CaptureStdout();
  wait_us(5);
  wait_us(5);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("time: cnt"), out.rfind("time: cnt"));
  EXPECT_NE(out.find(" time: now   = "), std::string::npos);
}
