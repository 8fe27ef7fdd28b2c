// DALI commands over the simulated line: randomize, search, the status
// phase, the entries read into the device table, and the handler's limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "device/app_dali.h"
#include "device/app_setup.h"
#include "device/exchange.h"
#include "device/handlers.h"
#include "device_line.h"
#include "platform/clock.h"

namespace {

const uint32_t kUid = 0x0D0D0D0D;

class Dali : public testing::Test {
 protected:
  DeviceLine bench;
  std::string console;
  SimDevice* dev = nullptr;

  void SetUp() override {
    dev = &bench.add(kUid);
    simDali_populate(dev->sim_functions().dali, 3, 99);
  }
  template <typename F>
  int run(F f) {
    return runCapturing(f, console);
  }
  void expectTableMatchesGear() {
    const std::vector<SimDaliGear>& gear = dev->sim_functions().dali.gear;
    Device d;
    ASSERT_TRUE(dev_copy(kUid, &d));
    ASSERT_EQ(d.daliCount, gear.size());
    for (size_t i = 0; i < gear.size(); i++) {
      EXPECT_EQ(d.dali[i].shortAddr, gear[i].shortAddr) << i;
      EXPECT_EQ(d.dali[i].randomAddr, gear[i].randomAddr) << i;
    }
  }
};

// Answers every DALI status request with the acknowledgement of a randomize:
// an answer, but no status.
class AnswersWithoutStatus : public SimResponder {
 public:
  int asked = 0;
  bool sim_respond(const uint8_t* d, int n, uint64_t, SimAnswer& a) override {
    if (n < 23 || d[19] != 0x03 || d[20] != 0x30 || d[22] != 3) return false;
    asked++;
    const std::vector<uint8_t> f = makeFrame(kUid, {0x03, 0x30, 1, 1});
    std::copy(f.begin(), f.end(), a.bytes);
    a.count = (int)f.size();
    return true;
  }
};

}  // namespace

TEST_F(Dali, ReadOfAnIdleDeviceAsksTheStatusOnceAndReadsEveryEntry) {
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), 1);
  expectTableMatchesGear();
  EXPECT_EQ(bench.sent({0x03, 0x30, 1, 3}).size(), 1u);
  auto entries = bench.sent({0x03, 0x30, 2, 4});
  ASSERT_EQ(entries.size(), 3u);
  for (int i = 0; i < 3; i++) EXPECT_EQ(entries[i].bytes[23], i) << "position";
  EXPECT_EQ(console.find("app_dali wait for status\n"), 0u);
  EXPECT_NE(console.find("D0D0D0D DALI:3\n"), std::string::npos);
  EXPECT_EQ(occurrences(console, "D0D0D0D DALI dev:"), 3);
}

TEST_F(Dali, RandomizeKeepsTheDeviceBusyAndTheReadWaitsForIt) {
  const std::vector<SimDaliGear> before = dev->sim_functions().dali.gear;
  EXPECT_EQ(run([] { return app_dali_search(kUid, 255); }), 1);
  EXPECT_EQ(bench.sent({0x03, 0x30, 1, 1}).size(), 1u);
  EXPECT_NE(dev->sim_functions().dali.gear[0].randomAddr, before[0].randomAddr);
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), 1);
  // Busy for 3 s: asked at once, 2 s later, and done 2 s after that.
  EXPECT_EQ(bench.sent({0x03, 0x30, 1, 3}).size(), 3u);
  EXPECT_GE(clock_nowUs() - t0, 2u * 2002000u);
  EXPECT_LT(clock_nowUs() - t0, 2u * 2002000u + 400000u);
  expectTableMatchesGear();

  EXPECT_EQ(run([] { return app_dali_search(kUid, 0); }), 1);
  EXPECT_EQ(bench.sent({0x03, 0x30, 1, 2}).size(), 1u) << "flag 0 searches";
  EXPECT_EQ(run([] { return app_dali_waitForDaliDone(kUid); }), 0);
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), 1);
  expectTableMatchesGear();
}

TEST_F(Dali, DeviceWithoutGearIsAskedOnlyForItsStatus) {
  simDali_populate(dev->sim_functions().dali, 0, 1);
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), 0);
  EXPECT_TRUE(bench.sent({0x03, 0x30, 2, 4}).empty());
  EXPECT_EQ(console, "app_dali wait for status\nOpened device TSIM0001\npacketparser:  UID = 0D0D0D0D\n"
                     "app_dali_parse\nD0D0D0D DALI:0\nOpened device TSIM0001\n");
}

TEST_F(Dali, BroadcastIsSentFiveTimesWithoutWaiting) {
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run([] { return app_dali_search(0xFFFFFFFFu, 0); }), 1);
  EXPECT_EQ(bench.sent({0x03, 0x30, 1, 2}).size(), 5u);
  // Five sends (their 9.4 ms of drains and a few USB round trips each) and
  // the open: even one wait of 17 ms after each send would pass this.
  const uint64_t rt = SimLine::kUsbRoundTripUs;
  EXPECT_LT(clock_nowUs() - t0, 5u * (9400u + 8u * rt) + 20u * rt) << "no polls between the sends";
}

TEST(DaliAnswer, StatusAndEntryAnswersTakeOnlyWhatTheirCountCovers) {
  dev_removeAll();
  testing::internal::CaptureStdout();
  feedAnswer(makeFrame(0x51, {0x03, 0x30, 2, 3, 0, 5}));
  EXPECT_EQ(dali_status.load(), 0);
  EXPECT_EQ(dali_rec.load(), 0x51u);
  feedAnswer(makeFrame(0x51, {0x03, 0x30, 1, 3, 7, 9}));
  EXPECT_EQ(dali_status.load(), 7);
  dali_rec.store(0);
  feedAnswer(makeFrame(0x51, {0x03, 0x30, 5, 4, 0, 0x05, 0x56, 0x34, 0x12}));
  EXPECT_EQ(dali_rec.load(), 0x51u) << "an entry with n = 5 still counts as the answer";
  feedAnswer(makeFrame(0x51, {0x03, 0x31, 2, 3, 4, 4}));
  EXPECT_EQ(dali_status.load(), 7) << "function 0x31 is not a DALI answer";
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("51 DALI:5\n"), std::string::npos);
  EXPECT_EQ(out.find("DALI:9"), std::string::npos) << "n = 1 carries no count";
  Device d;
  ASSERT_TRUE(dev_copy(0x51, &d));
  EXPECT_EQ(d.daliCount, 5);
  EXPECT_EQ(d.dali[0].randomAddr, 0u);
}

// A cable that fails ends a DALI read at once with the reason, instead of
// 20 status rounds of 5 sends each (half a minute of a frozen window); the
// gear the device counted but that was never read is marked unread.
TEST_F(Dali, CableThatFailsEndsTheReadAtOnceAndLeavesGearUnread) {
  ASSERT_EQ(run([] { return app_setup_read(kUid); }), 1);  // its answer counts the gear
  bench.line.sim_unplugAfterFrames(1);  // the status request goes out, then the cable is pulled
  uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), EXCHANGE_SEND_FAILED);
  EXPECT_LT(clock_nowUs() - t0, 200000u);
  EXPECT_EQ(bench.sent({0x03, 0x30, 2, 4}).size(), 0u) << "no entry got through";
  Device d;
  ASSERT_TRUE(dev_copy(kUid, &d));
  EXPECT_EQ(d.daliCount, 3) << "the settings answer counted the gear";
  for (int i = 0; i < 3; i++) EXPECT_EQ(d.dali[i].read, 0) << i;

  cable_free();
  bench.line.sim_setPlugged(false);
  t0 = clock_nowUs();
  EXPECT_EQ(run([] { return app_dali_read(kUid); }), EXCHANGE_NO_CABLE);
  EXPECT_EQ(run([] { return app_dali_search(kUid, 255); }), EXCHANGE_NO_CABLE);
  EXPECT_EQ(run([] { return app_dali_waitForDaliDone(kUid); }), EXCHANGE_NO_CABLE);
  EXPECT_EQ(run([] { return app_dali_search(PACKET_BROADCAST, 0); }), EXCHANGE_NO_CABLE)
      << "a broadcast that never went out is not answered";
  EXPECT_LT(clock_nowUs() - t0, 200000u);
  EXPECT_STREQ(exchange_cableText(EXCHANGE_NO_CABLE), "Cable not found!");
}

// Nothing past the count n or past the payload is taken from an answer.
TEST(DaliAnswer, NothingIsTakenPastTheCountOrThePayload) {
  dev_removeAll();
  const uint8_t five[] = {5};
  testing::internal::CaptureStdout();
  dev_setDaliCount(0x52, five);
  dali_status.store(7);
  feedAnswer(makeFrame(0x52, {0x03, 0x30, 0, 3, 0}));  // n = 0: no status
  feedAnswer(makeFrame(0x52, {0x03, 0x30, 1, 3}));     // the status would lie past the payload
  EXPECT_EQ(dali_status.load(), 7);
  feedAnswer(makeFrame(0x52, {0x03, 0x30, 2, 3, 4}));  // and here the count
  EXPECT_EQ(dali_status.load(), 4);
  feedAnswer(makeFrame(0x52, {0x03, 0x30, 6, 4, 1, 9, 8, 7}));  // and here the entry's last byte
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(occurrences(out, "52 DALI"), 1) << out;
  Device d;
  ASSERT_TRUE(dev_copy(0x52, &d));
  EXPECT_EQ(d.daliCount, 5);
  EXPECT_EQ(d.dali[1].read, 0);
}

// A status round without an answer, or answered without a status, is never
// "done", whatever an earlier exchange left. Rounds without an answer follow
// at once; answered ones that are not done after a 2 s pause.
TEST_F(Dali, NoStatusIsNeverDone) {
  dev->sim_functions().faults.silentClasses = 1u << 3;
  // 20 rounds of 5 unanswered sends; less than half a pause a round besides.
  const uint64_t unanswered = 20 * 5 * 15 * 17000u, slack = 20 * 1000000u;
  for (int read = 0; read < 2; read++) {
    dali_status.store(0);  // as an earlier exchange left it
    const uint64_t t0 = clock_nowUs();
    EXPECT_EQ(run([&] { return read ? app_dali_read(kUid) : app_dali_waitForDaliDone(kUid); }),
              read ? 0 : -1);
    EXPECT_GE(clock_nowUs() - t0, unanswered);
    EXPECT_LT(clock_nowUs() - t0, unanswered + slack) << (read ? "read" : "wait");
  }
  bench.line.sim_clearResponders();
  AnswersWithoutStatus other;
  bench.line.sim_addResponder(&other);
  dali_status.store(0);
  EXPECT_EQ(run([] { return app_dali_waitForDaliDone(kUid); }), -1);
  EXPECT_EQ(other.asked, 20);
}
