// The shape every awaited request shares: the mailbox cleared first, the
// sends, the poll rounds and their waits, and what ends the wait.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/app_discovery.h"
#include "device/exchange.h"
#include "device_line.h"
#include "platform/clock.h"

namespace {

std::vector<int> roundsLeft;
void recordRound(int left) { roundsLeft.push_back(left); }

class Exchanges : public testing::Test {
 protected:
  DeviceLine bench;
  Packet mute;
  Exchange ex;

  void SetUp() override {
    roundsLeft.clear();
    ex.mailbox = &discovery_mute_rec;
    ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
    ex.afterRound = recordRound;
  }
  void muteFor(uint32_t uid) {
    packet_fillHeader(&mute, uid);
    mute.data[0] = 0x02;
    mute.data[1] = 0x00;
    mute.length = 2;
    ex.uid = uid;
  }
  int run() {
    testing::internal::CaptureStdout();
    int r = exchange_run(&mute, ex);
    testing::internal::GetCapturedStdout();
    return r;
  }
};

}  // namespace

TEST_F(Exchanges, UnansweredRequestIsSentFiveTimesFifteenWaitsApart) {
  muteFor(0x1234);
  // A stale acknowledgement from an earlier exchange must not count.
  discovery_mute_rec.store(0x1234);
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run(), EXCHANGE_UNANSWERED);
  const uint64_t total = clock_nowUs() - t0;
  auto sends = bench.sent({0x02, 0x00});
  ASSERT_EQ(sends.size(), 5u);
  for (int i = 1; i < 5; i++) {
    const uint64_t gap = sends[i].breakUs - sends[i - 1].endUs;
    EXPECT_GE(gap, 15u * 17000u) << "send " << i;
    EXPECT_LT(gap, 15u * 17000u + 15u * 1000u + 12000u) << "send " << i;
  }
  EXPECT_GE(total, 5u * 15u * 17000u);
  EXPECT_EQ(roundsLeft, std::vector<int>({4, 3, 2, 1, 0}));
  EXPECT_EQ(discovery_mute_rec.load(), 0u);
}

TEST_F(Exchanges, AnswerEndsTheWaitAtTheFirstPollAfterIt) {
  bench.add(0x1234).sim_functions().faults.mutesOnTry = 3;
  muteFor(0x1234);
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run(), EXCHANGE_ANSWERED);
  const uint64_t total = clock_nowUs() - t0;
  EXPECT_EQ(bench.sent({0x02, 0x00}).size(), 3u);
  EXPECT_EQ(roundsLeft, std::vector<int>({4, 3}));
  // Two unanswered rounds, then one wait and the poll that finds the answer;
  // besides, three sends (their 9.4 ms of drains and six USB round trips
  // each) and a status query and read for each of the 31 polls.
  const uint64_t rt = SimLine::kUsbRoundTripUs;
  EXPECT_GE(total, 2u * 15u * 17000u + 17000u);
  EXPECT_LT(total, 2u * 15u * 17000u + 2u * 17000u + 3u * (9400u + 6u * rt) + 31u * 2u * rt);
}

TEST_F(Exchanges, SecondUidEndsTheWaitToo) {
  bench.add(0x5678);
  muteFor(0x5678);
  ex.uid = 0x1234;
  ex.altUid = 0x5678;
  EXPECT_EQ(run(), EXCHANGE_ANSWERED);
  EXPECT_EQ(bench.sent({0x02, 0x00}).size(), 1u);
}
