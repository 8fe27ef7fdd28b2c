// The curve transfer over the simulated line, in virtual time, checked byte
// for byte from the trace.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "curve/curve.h"
#include "device/app_setup.h"
#include "link/cable.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "sim/sim_line.h"

namespace {

class CurveTransfer : public testing::Test {
 protected:
  SimLine line;
  CurveRecord rec;
  std::string console;

  void SetUp() override {
    ftd2xx_setBackend(&line);
    memset(&rec, 0, sizeof rec);
    strcpy(rec.name, "Ramp");
    for (int i = 0; i < CURVE_POINTS; i++) rec.values[i] = (uint16_t)(i * 16 + (i & 7));
    rec.values[255] = 0x0ABC;
  }
  void TearDown() override {
    cable_free();
    ftd2xx_setBackend(nullptr);
  }
  int sendCurve(uint32_t uid) {
    testing::internal::CaptureStdout();
    int r = app_setup_send_curve(uid, &rec);
    console = testing::internal::GetCapturedStdout();
    line.sim_settle();
    return r;
  }
};

uint16_t byteSum(const std::vector<uint8_t>& f) {
  uint32_t sum = 0;
  for (size_t i = 0; i < f.size(); i++)
    if (i != 16 && i != 17) sum += f[i];  // the checksum field counts as 0
  return (uint16_t)sum;
}

}  // namespace

TEST_F(CurveTransfer, SixFramesCarryTheRecordInThreeParts) {
  ASSERT_EQ(sendCurve(0xFFFFFFFFu), APP_SETUP_CURVE_SENT);
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 6u);
  const uint8_t heads[3][6] = {{0x01, 0x07, 0xAD, 0x01, 0xAB, 0x00},
                               {0x01, 0x07, 0xAC, 0x02, 0xAA},
                               {0x01, 0x07, 0xBA, 0x03, 0xB8}};
  const size_t headSize[3] = {6, 5, 5}, dataSize[3] = {170, 170, 184};
  std::vector<uint8_t> carried;
  for (int i = 0; i < 6; i++) {
    const int part = i / 2;
    const std::vector<uint8_t>& f = tx[i].bytes;
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_FALSE(tx[i].garbled);
    ASSERT_EQ(f.size(), 19 + headSize[part] + dataSize[part]);
    EXPECT_EQ(f[18], f.size() - 19) << "length field";
    EXPECT_EQ(0, memcmp(&f[4], "\xFF\xFF\xFF\xFF", 4)) << "destination";
    EXPECT_EQ(f[16] | (f[17] << 8), byteSum(f)) << "checksum";
    EXPECT_EQ(0, memcmp(&f[19], heads[part], headSize[part]));
    if (i % 2 == 1) {
      EXPECT_EQ(f, tx[i - 1].bytes) << "each part is sent twice";
    } else {
      carried.insert(carried.end(), f.begin() + 19 + headSize[part], f.end());
    }
  }
  ASSERT_EQ(carried.size(), sizeof rec);
  EXPECT_EQ(0, memcmp(carried.data(), &rec, sizeof rec)) << "the record in order, name first";
  EXPECT_EQ(tx[4].bytes[206], 0xBC) << "value 255, low byte";
  EXPECT_EQ(tx[4].bytes[207], 0x0A) << "value 255, high byte";
  EXPECT_EQ(console,
            "Opened device TSIM0001\n"
            "Curve part 1, size=170/170\n"
            "Curve part 2, size=170/340\n"
            "Curve part 3, size=184/524\n");
}

TEST_F(CurveTransfer, SendsArePacedBySleeps) {
  const uint64_t t0 = clock_nowUs();
  ASSERT_EQ(sendCurve(0x01020304u), APP_SETUP_CURVE_SENT);
  const uint64_t total = clock_nowUs() - t0;
  auto tx = line.sim_trace().trace_entries('T');
  ASSERT_EQ(tx.size(), 6u);
  EXPECT_EQ(0, memcmp(&tx[0].bytes[4], "\x04\x03\x02\x01", 4));
  for (int i = 1; i < 6; i++) {
    // The next break comes 42 ms after the previous send ended: its break,
    // its frame, and the drain's last poll of a few milliseconds.
    const uint64_t spacing = tx[i].breakUs - tx[i - 1].breakUs;
    const uint64_t sendTime = tx[i - 1].endUs - tx[i - 1].breakUs;
    EXPECT_GE(spacing, 42000u + sendTime) << "frame " << i;
    EXPECT_LT(spacing, 42000u + sendTime + 5000u) << "frame " << i;
  }
  // Besides the sleeps, each send takes its break, its frame, the two drains
  // and its converter calls (a USB round trip of 1 ms each): about 22 ms.
  EXPECT_GE(total, 6 * 42000u + 202000u);
  EXPECT_LT(total, 6 * 42000u + 202000u + 6 * 25000u);
}

TEST_F(CurveTransfer, FailuresAreReported) {
  line.sim_setPlugged(false);
  EXPECT_EQ(sendCurve(0xFFFFFFFFu), APP_SETUP_NO_CABLE);
  EXPECT_TRUE(line.sim_trace().trace_entries('T').empty());
  EXPECT_EQ(console.find("Curve part"), std::string::npos);

  line.sim_setPlugged(true);
  line.sim_setTransmitterStuck(true);
  EXPECT_EQ(sendCurve(0xFFFFFFFFu), APP_SETUP_SEND_FAILED);
  EXPECT_NE(console.find("Curve part 3, size=184/524\n"), std::string::npos) << "all steps run";
  EXPECT_EQ(app_setup_send_curve(0xFFFFFFFFu, nullptr), APP_SETUP_NO_RECORD);
}
