// The shape every awaited request shares: the mailbox cleared first, the
// sends, the poll rounds and their waits, and what ends the wait.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "curve/curve.h"
#include "device/app_dali.h"
#include "device/app_discovery.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/app_setup.h"
#include "device/exchange.h"
#include "device_line.h"
#include "link/cablelock.h"
#include "link/ftdi_port.h"
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

// Each handler takes an answer of its own function from three payload bytes
// on; one byte shorter, or a function beside its own, fills no mailbox.
TEST(AnswerHandlers, RefuseAnswersTooShortOrOfAnotherFunction) {
  struct Row {
    std::vector<uint8_t> payload;
    std::atomic<uint32_t>* mailbox;
    bool taken;
  };
  const Row rows[] = {
      {{0x01, 0x0E}, &setup_rec, false},         {{0x01, 0x0E, 0x00}, &setup_rec, true},
      {{0x03, 0x20}, &identify_rec, false},      {{0x03, 0x20, 0x00}, &identify_rec, true},
      {{0x03, 0x21, 0x00}, &identify_rec, false}, {{0x03, 0x11}, &uidAnswUID, false},
      {{0x03, 0x11, 0x00}, &uidAnswUID, true},   {{0x03, 0x18, 0x00}, &uidAnswUID, true},
      {{0x03, 0x1F, 0x00}, &uidAnswUID, true},   {{0x03, 0x10, 0x00}, &uidAnswUID, false},
      {{0x03, 0x30}, &dali_rec, false},          {{0x03, 0x30, 0x00}, &dali_rec, true},
      {{0x03, 0x31, 0x00}, &dali_rec, false},
  };
  testing::internal::CaptureStdout();
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    rows[i].mailbox->store(0);
    feedAnswer(makeFrame(0x5A5A, rows[i].payload));
    EXPECT_EQ(rows[i].mailbox->load(), rows[i].taken ? 0x5A5Au : 0u) << "row " << i;
  }
  testing::internal::GetCapturedStdout();
}

// Every command gives the cable back when it ends, answered or not: the
// converter is closed and the lock free for the other threads.
TEST(Commands, EveryCommandReleasesTheCable) {
  DeviceLine bench;
  simDali_populate(bench.add(0x0D0D).sim_functions().dali, 2, 1);
  const SetupValues values = {1, 0, 0, 0, 255, 0, ""};
  CurveRecord record = {};
  const std::pair<const char*, std::function<int()>> commands[] = {
      {"settings read", [] { return app_setup_read(0x0D0D); }},
      {"settings write", [&] { return app_setup_send(0x0D0D, &values); }},
      {"identify", [] { return app_identify_send(0x0D0D); }},
      {"DALI search", [] { return app_dali_search(0x0D0D, 0); }},
      {"DALI status", [] { return app_dali_read_status(0x0D0D); }},
      {"DALI wait", [] { return app_dali_waitForDaliDone(0x0D0D); }},
      {"DALI read", [] { return app_dali_read(0x0D0D); }},
      {"curve", [&] { return app_setup_send_curve(PACKET_BROADCAST, &record); }},
      {"UID change", [] { return app_genUid(0x0D0D, 0x0E0E); }},
      {"unanswered identify", [] { return app_identify_send(0x0D0D); }},
  };
  std::string console;
  for (const auto& c : commands) {
    runCapturing(c.second, console);
    EXPECT_FALSE(cablelock_held()) << c.first;
    EXPECT_EQ(getOpenDevice(), -1) << c.first;
  }
}
