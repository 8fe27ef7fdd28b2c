// What discovery must not take: an answer that is not a mute
// acknowledgement, a search result that names no device, a break that came
// after its probe's window, and a line without a cable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/frames.h"
#include "device/app_discovery.h"
#include "device_line.h"

namespace {

// Answers every probe with a break, `delayUs` after the probe ended.
class BreakAfter : public SimResponder {
 public:
  explicit BreakAfter(uint32_t delay) : delayUs(delay) {}
  bool sim_respond(const uint8_t* d, int n, uint64_t, SimAnswer& a) override {
    if (n < 21 || d[19] != 0x02 || d[20] != 0x02) return false;
    a.delayUs = delayUs;
    a.count = 0;
    return true;
  }

 private:
  uint32_t delayUs;
};

}  // namespace

TEST(DiscoveryRefusals, OnlyAMuteAnswerOfTwoBytesAcknowledges) {
  const std::pair<std::vector<uint8_t>, bool> answers[] = {
      {{0x02}, false}, {{0x02, 0x02}, false}, {{0x02, 0x01, 0x00}, false}, {{0x02, 0x00}, true}};
  testing::internal::CaptureStdout();
  for (const auto& a : answers) {
    discovery_mute_rec.store(0);
    feedAnswer(makeFrame(0x1234, a.first));
    EXPECT_EQ(discovery_mute_rec.load(), a.second ? 0x1234u : 0u) << a.first.size() << " bytes";
  }
  testing::internal::GetCapturedStdout();
}

// A device whose UID has the top bit set answers every probe: the search
// ends on its UID, which names no device. Nothing is muted or entered.
TEST(DiscoveryRefusals, ResultWithTheTopBitSetIsNoDevice) {
  DeviceLine bench;
  SimDevice& rogue = bench.add(0x80000001);
  uint32_t found[2] = {0, 0};
  std::string console;
  EXPECT_EQ(runCapturing([&] { return app_discovery(found, 2); }, console), 0);
  EXPECT_EQ(console.find("found="), std::string::npos) << console;
  EXPECT_NE(console.find("No device.\n"), std::string::npos) << console;
  EXPECT_TRUE(bench.sent({0x02, 0x00}).empty()) << "no mute";
  EXPECT_FALSE(rogue.sim_functions().discovery.muted);
  EXPECT_EQ(dev_count(), 0);
}

TEST(DiscoveryRefusals, WithoutACableNothingIsSentNorPrinted) {
  DeviceLine bench;
  bench.add(0x00112233);
  bench.line.sim_setPlugged(false);
  uint32_t found[4] = {0, 0, 0, 0};
  std::string console;
  EXPECT_EQ(runCapturing([&] { return app_discovery(found, 4); }, console), 0);
  EXPECT_EQ(console.find("discovery:"), std::string::npos) << console;
  EXPECT_EQ(console.find("No device."), std::string::npos) << console;
  EXPECT_TRUE(bench.sent({0x02}).empty());
}

// A break within 4.4 + 15 ms of a probe answers it; one that comes later
// is flushed before the next send and answers nothing.
TEST(DiscoveryRefusals, BreakAfterItsWindowIsNotTakenForTheNextSend) {
  for (uint32_t delay : {8000u, 30000u}) {
    DeviceLine bench;
    BreakAfter responder(delay);
    bench.line.sim_addResponder(&responder);
    std::string console;
    const bool inWindow = delay < 4400 + 15000;
    EXPECT_EQ(runCapturing([] { return discoveryCompareAddr(0x1234); }, console), inWindow ? 1 : 0)
        << delay << " us";
    EXPECT_EQ(bench.sent({0x02, 0x02}).size(), inWindow ? 1u : 5u) << delay << " us";
  }
}
