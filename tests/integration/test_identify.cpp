// Identify over the simulated line, and what its handler takes for an
// acknowledgement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/frames.h"
#include "device/app_identify.h"
#include "device/handlers.h"
#include "device_line.h"

TEST(Identify, AcknowledgedAtOnceAfterOneSend) {
  DeviceLine bench;
  SimDevice& d = bench.add(0x00C0FFEE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(app_identify_send(0x00C0FFEE), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("app_identify_parse\n"), std::string::npos);
  auto sent = bench.sent({0x03, 0x20});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes.begin() + 4, sent[0].bytes.begin() + 8),
            std::vector<uint8_t>({0xEE, 0xFF, 0xC0, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes.begin() + 18, sent[0].bytes.end()),
            std::vector<uint8_t>({5, 0x03, 0x20, 2, 0x98, 0x3A}));
  EXPECT_EQ(d.sim_functions().identified, 1);
  EXPECT_EQ(d.sim_functions().identifyTime, 15000);
}

TEST(Identify, UnansweredIsSentFiveTimesSeventeenMillisecondPollsApart) {
  DeviceLine bench;
  bench.add(0x00C0FFEE).sim_functions().faults.silentClasses = 1u << 3;
  testing::internal::CaptureStdout();
  EXPECT_EQ(app_identify_send(0x00C0FFEE), -1);
  testing::internal::GetCapturedStdout();
  auto sent = bench.sent({0x03, 0x20});
  ASSERT_EQ(sent.size(), 5u);
  const uint64_t gap = sent[1].breakUs - sent[0].endUs;
  EXPECT_GE(gap, 15u * 17000u);
  EXPECT_LT(gap, 15u * 17000u + 15u * 1000u + 12000u);
}

TEST(Identify, OnlyFunctionTwentyIsAnAcknowledgement) {
  handlers_register();
  testing::internal::CaptureStdout();
  for (uint8_t fn : {0x21, 0x2F}) {
    identify_rec.store(0);
    auto f = makeFrame(0x77, {0x03, fn, 0x00});
    packet_resetReceiver();
    packet_receive(f.data(), (int)f.size());
    EXPECT_EQ(identify_rec.load(), 0u) << "function " << std::hex << (int)fn;
  }
  auto ack = makeFrame(0x77, {0x03, 0x20, 0x00});
  packet_receive(ack.data(), (int)ack.size());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(identify_rec.load(), 0x77u);
}
