// Reading and writing a device's settings over the simulated line, and the
// answer handler's walk over the items of an answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/frames.h"
#include "device/app_setup.h"
#include "device/devices.h"
#include "device/handlers.h"
#include "device_line.h"
#include "link/ftdi_port.h"
#include "platform/clock.h"

namespace {

class SetupCommands : public testing::Test {
 protected:
  DeviceLine bench;
  std::string console;

  template <typename F>
  int run(F f) {
    return runCapturing(f, console);
  }
};

// Answers every settings request as another device would.
class Impostor : public SimResponder {
 public:
  bool sim_respond(const uint8_t* d, int n, uint64_t, SimAnswer& a) override {
    if (n < 20 || d[19] != 0x01) return false;
    auto f = makeFrame(0x0BADBEEF, {0x01, 0x0E, 2, 0x07, 0x00});
    memcpy(a.bytes, f.data(), f.size());
    a.count = (int)f.size();
    return true;
  }
};


}  // namespace

TEST_F(SetupCommands, ReadStoresWhatTheDeviceReports) {
  SimSettings& s = bench.add(0x00A1B2C3).sim_functions().settings;
  s.addr = 300;
  s.lossOfDmx = 2;
  s.sleep = 30;
  s.backlight = 80;
  s.limitUp = 200;
  s.limitDown = 10;
  simDali_populate(bench.devices[0]->sim_functions().dali, 7, 1);
  EXPECT_EQ(run([] { return app_setup_read(0x00A1B2C3); }), 1);
  Device d;
  ASSERT_TRUE(dev_copy(0x00A1B2C3, &d));
  EXPECT_EQ(d.addr, 300);
  EXPECT_EQ(d.lossOfDmx, 2);
  EXPECT_EQ(d.display[0], 30);
  EXPECT_EQ(d.display[1], 80);
  EXPECT_EQ(d.limit[0], 200);
  EXPECT_EQ(d.limit[1], 10);
  EXPECT_EQ(d.daliCount, 7);
  EXPECT_EQ(d.ver[0], 1);
  EXPECT_EQ(d.ver[1], 4);
  EXPECT_NE(console.find("app_setup_parse\nA1B2C3 DALI:7\n"), std::string::npos) << console;
  auto reads = bench.sent({0x01});
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].bytes.size(), 20u) << "a read is the class byte alone";
  EXPECT_EQ(0, memcmp(&reads[0].bytes[4], "\xC3\xB2\xA1\x00", 4));
}

TEST_F(SetupCommands, WriteSendsTheSixteenPayloadBytesAndTheDeviceTakesThem) {
  SimDevice& dev = bench.add(0x00000042);
  SetupValues v = {512, 1, 30, 80, 255, 0, ""};
  EXPECT_EQ(run([&] { return app_setup_send(0x42, &v); }), 1);
  auto writes = bench.sent({0x01});
  ASSERT_EQ(writes.size(), 1u);
  const std::vector<uint8_t> payload(writes[0].bytes.begin() + 19, writes[0].bytes.end());
  EXPECT_EQ(payload, std::vector<uint8_t>({0x01, 0x0E, 2, 0x00, 0x02, 0x0D, 1, 1, 0x02, 2, 30, 80,
                                           0x05, 2, 255, 0}));
  EXPECT_EQ(writes[0].bytes[18], 16);
  const SimSettings& s = dev.sim_functions().settings;
  EXPECT_EQ(s.addr, 512);
  EXPECT_EQ(s.lossOfDmx, 1);
  EXPECT_EQ(s.sleep, 30);
  EXPECT_EQ(s.backlight, 80);
  EXPECT_EQ(s.limitUp, 255);
  EXPECT_EQ(s.limitDown, 0);
  EXPECT_EQ(dev_getAddr(0x42), 512) << "the answer to a write refreshes the table";
}

TEST_F(SetupCommands, SilentDeviceIsAskedFiveTimesFifteenPollsApart) {
  bench.add(0x00000042).sim_functions().faults.silentClasses = 1u << 1;
  const uint64_t t0 = clock_nowUs();
  EXPECT_EQ(run([] { return app_setup_read(0x42); }), -1);
  const uint64_t total = clock_nowUs() - t0;
  auto reads = bench.sent({0x01});
  ASSERT_EQ(reads.size(), 5u);
  for (int i = 1; i < 5; i++) {
    // 15 rounds of a 15 ms sleep and a poll between sends.
    const uint64_t gap = reads[i].breakUs - reads[i - 1].endUs;
    EXPECT_GE(gap, 15u * 15000u) << "send " << i;
    EXPECT_LT(gap, 15u * 15000u + 15u * 1000u + 12000u) << "send " << i;
  }
  EXPECT_GE(total, 5u * 15u * 15000u);
  EXPECT_EQ(getDevUID(0x42), nullptr) << "nothing stored";
  EXPECT_EQ(getOpenDevice(), -1) << "the cable is released";
}

TEST_F(SetupCommands, AnswerFromAnotherDeviceIsStoredButDoesNotEndTheWait) {
  Impostor impostor;
  bench.line.sim_addResponder(&impostor);
  EXPECT_EQ(run([] { return app_setup_read(0x42); }), -1);
  EXPECT_EQ(bench.sent({0x01}).size(), 5u);
  EXPECT_EQ(dev_getAddr(0x0BADBEEF), 7);
}

TEST(SetupAnswer, WorkedAnswerStoresAddressModeAndVersion) {
  dev_removeAll();
  testing::internal::CaptureStdout();
  feedAnswer(makeFrame(0x00C0FFEE, {0x01, 0x0E, 2, 0x2C, 0x01, 0x0D, 1, 2, 0xA0, 2, 1, 4}));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("app_setup_parse\n"), std::string::npos);
  EXPECT_EQ(setup_rec.load(), 0x00C0FFEEu);
  EXPECT_EQ(dev_getAddr(0x00C0FFEE), 300);
  char mode[DEV_LOSS_TEXT_SIZE];
  EXPECT_EQ(dev_getLossOfDmxStr(0x00C0FFEE, mode), 2);
  EXPECT_STREQ(mode, "to 100%");
  char ver[DEV_VER_TEXT_SIZE] = "";
  dev_getVerStr(0x00C0FFEE, ver);
  EXPECT_STREQ(ver, "ver.1.4;");
}

TEST(SetupAnswer, WalkSkipsShortItemsAndStopsAtUnknownOrOverlongOnes) {
  dev_removeAll();
  testing::internal::CaptureStdout();
  // A DALI count of length 2 is skipped and the walk goes on; an address of
  // length 1 would take the next tag as its high byte: skipped too.
  feedAnswer(makeFrame(0x11, {0x01, 0x04, 2, 9, 9, 0x0E, 1, 0x05, 0x0D, 1, 1, 0x07, 1, 0, 0x05, 2, 9, 9}));
  // The limits run past the payload: not applied.
  feedAnswer(makeFrame(0x22, {0x01, 0x0D, 1, 2, 0x05, 3, 7, 7}));
  // Too short to hold an item: not an answer at all.
  setup_rec.store(0);
  feedAnswer(makeFrame(0x33, {0x01, 0x0D}));
  testing::internal::GetCapturedStdout();
  Device d;
  ASSERT_TRUE(dev_copy(0x11, &d));
  EXPECT_EQ(d.daliCount, 0);
  EXPECT_EQ(d.addr, 0);
  EXPECT_EQ(d.lossOfDmx, 1) << "the item after the skipped ones";
  EXPECT_EQ(d.limit[0], 0) << "the walk ended at the curve tag";
  ASSERT_TRUE(dev_copy(0x22, &d));
  EXPECT_EQ(d.lossOfDmx, 2);
  EXPECT_EQ(d.limit[0], 0);
  EXPECT_EQ(setup_rec.load(), 0u);
  EXPECT_EQ(getDevUID(0x33), nullptr);
}
