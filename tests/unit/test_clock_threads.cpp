// Several threads on one virtual clock: waits that overlap in time overlap
// on the clock too, and every thread wakes in the order of its wake-up time.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "link/timer.h"
#include "platform/clock.h"

TEST(ClockThreads, SideBySideSleepsShareVirtualTimeAndWakeInOrder) {
  std::mutex mu;
  std::vector<std::pair<uint64_t, char>> wakes;  // (virtual time, thread)
  const uint64_t t0 = clock_nowUs();
  auto sleeper = [&](char who, int ms, int times) {
    for (int i = 0; i < times; i++) {
      mySleep(ms - 2);  // mySleep adds 2 ms
      std::lock_guard<std::mutex> lock(mu);
      wakes.emplace_back(clock_nowUs() - t0, who);
    }
  };
  // Both take part from their creation on, as workers started by the
  // program do (thread_start), so neither runs ahead alone.
  void* ra = clock_threadReserve();
  void* rb = clock_threadReserve();
  clock_blockBegin();  // this thread only waits for the two
  std::thread a([&] { clock_threadAdopt(ra); sleeper('a', 10, 10); });
  std::thread b([&] { clock_threadAdopt(rb); sleeper('b', 15, 6); });
  a.join();
  b.join();
  clock_blockEnd();

  const uint64_t total = clock_nowUs() - t0;
  EXPECT_GE(total, 100000u) << "ten sleeps of 10 ms";
  EXPECT_LT(total, 100500u) << "the two threads' sleeps must not add up";
  ASSERT_EQ(wakes.size(), 16u);
  int seenA = 0, seenB = 0;
  for (size_t i = 0; i < wakes.size(); i++) {
    if (i > 0) {
      EXPECT_GE(wakes[i].first, wakes[i - 1].first) << "woken out of order at " << i;
    }
    // Each wake-up is at a multiple of its own period, give or take the
    // microsecond each clock reading costs.
    const uint64_t period = wakes[i].second == 'a' ? 10000 : 15000;
    const int n = wakes[i].second == 'a' ? ++seenA : ++seenB;
    EXPECT_GE(wakes[i].first, period * n);
    EXPECT_LT(wakes[i].first, period * n + 200) << wakes[i].second << " wake " << n;
  }
}
