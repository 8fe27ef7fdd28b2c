// tern-cable-check's procedure on the simulated line, in virtual time: the
// calls it makes, the frames that reach the devices, and its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/cablecheck.h"
#include "platform/port_backend.h"
#include "sim/sim_line.h"

namespace {

// Records every transmission and answers the discovery probe with a break.
class ProbeAnswerer : public SimResponder {
 public:
  std::vector<std::vector<uint8_t>> heard;
  bool sim_respond(const uint8_t* data, int count, uint64_t, SimAnswer& a) override {
    heard.emplace_back(data, data + count);
    const bool probe = count > 20 && data[19] == 0x02 && data[20] == 0x02;
    a.count = 0;  // the break alone
    return probe;
  }
};

// The simulated line, with the line settings the check asks for.
class RecordingLine : public SimLine {
 public:
  std::vector<std::string> settings;
  FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override {
    settings.push_back("timeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    return SimLine::port_setTimeouts(h, readMs, writeMs);
  }
  FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) override {
    settings.push_back("baud " + std::to_string(baud));
    return SimLine::port_setBaudRate(h, baud);
  }
  FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                        UCHAR parity) override {
    settings.push_back("line " + std::to_string(bits) + " " + std::to_string(stop) + " " +
                       std::to_string(parity));
    return SimLine::port_setDataCharacteristics(h, bits, stop, parity);
  }
};

class CableCheck : public testing::Test {
 protected:
  RecordingLine line;
  ProbeAnswerer device;
  void SetUp() override {
    line.sim_addResponder(&device);
    ftd2xx_setBackend(&line);
  }
  void TearDown() override { ftd2xx_setBackend(nullptr); }

  // Runs the check; returns its exit status and leaves its output in `out`.
  int run(std::string& out) {
    FILE* f = tmpfile();
    CableCheckOptions o;
    int status = cablecheck_run(f, o);
    line.sim_settle();
    rewind(f);
    char buf[512];
    out.clear();
    while (fgets(buf, sizeof buf, f)) out += buf;
    fclose(f);
    return status;
  }

  // The call column of every step line, in order.
  static std::vector<std::string> calls(const std::string& out) {
    std::vector<std::string> v;
    size_t at = 0;
    while (at < out.size()) {
      size_t end = out.find('\n', at);
      std::string l = out.substr(at, end - at);
      at = end == std::string::npos ? out.size() : end + 1;
      if (l.compare(0, 5, "ok   ") != 0 && l.compare(0, 5, "FAIL ") != 0) continue;
      std::string c = l.substr(5, 38);
      v.push_back(c.substr(0, c.find_last_not_of(' ') + 1));
    }
    return v;
  }
};

}  // namespace

TEST_F(CableCheck, ConfiguresLikeTernSendsTwoFramesAfterBreaksAndHearsTheAnswer) {
  std::string out;
  EXPECT_EQ(run(out), 0) << out;
  const std::vector<std::string> frame = {
      "FT_SetBaudRate(15625)", "FT_Write(1 byte)",  "drain: FT_GetStatus until tx is 0",
      "FT_SetBaudRate(250000)", "FT_Write(%d bytes)", "drain: FT_GetStatus until tx is 0"};
  std::vector<std::string> expect = {"FT_GetLibraryVersion",
                                     "FT_CreateDeviceInfoList",
                                     "FT_GetDeviceInfoDetail(0)",
                                     "FT_OpenEx(\"TSIM0001\", by serial)",
                                     "FT_ResetDevice",
                                     "FT_SetTimeouts(1, 0)",
                                     "FT_SetBaudRate(250000)",
                                     "FT_SetDataCharacteristics(8, 2, 0)"};
  for (int size : {21, 25})
    for (std::string s : frame) {
      if (s == "FT_Write(%d bytes)") s = "FT_Write(" + std::to_string(size) + " bytes)";
      expect.push_back(s);
    }
  for (const char* s : {"FT_GetStatus/FT_Read for 100 ms", "FT_ResetDevice", "FT_Close"})
    expect.push_back(s);
  EXPECT_EQ(calls(out), expect) << out;
  EXPECT_EQ(line.settings,
            (std::vector<std::string>{"timeouts 1 0", "baud 250000", "line 8 2 0", "baud 15625",
                                      "baud 250000", "baud 15625", "baud 250000"}));

  // Release-all, then the probe of address 0, each as its own transmission.
  const std::vector<uint8_t> releaseAll = {0x91, 0x29, 0xA9, 0xFD, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                           0x00, 0x00, 0x5D, 0x0A, 0x02, 0x02, 0x01};
  const std::vector<uint8_t> probe = {0x91, 0x29, 0xA9, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                      0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x62, 0x0A,
                                      0x06, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(device.heard, (std::vector<std::vector<uint8_t>>{releaseAll, probe}));
  EXPECT_NE(out.find("1 byte received\n     received: 00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Every step succeeded"), std::string::npos);
  EXPECT_NE(out.find("a device on the line answered"), std::string::npos);
}

TEST_F(CableCheck, FailedStepsGiveStatusOneAndSayWhat) {
  std::string out;
  line.sim_setPlugged(false);
  EXPECT_EQ(run(out), 1);
  EXPECT_NE(out.find("ok   FT_CreateDeviceInfoList"), std::string::npos) << out;
  EXPECT_NE(out.find("0 converters\nNo converter found."), std::string::npos) << out;
  EXPECT_NE(out.find("70-tern-ftdi.rules"), std::string::npos);
  EXPECT_EQ(out.find("FT_OpenEx"), std::string::npos);

  // A converter that never empties its transmitter: the first drain fails,
  // nothing more is sent, and the converter is still closed.
  line.sim_setPlugged(true);
  line.sim_setTransmitterStuck(true);
  EXPECT_EQ(run(out), 1);
  EXPECT_NE(out.find("FAIL drain: FT_GetStatus until tx is 0"), std::string::npos) << out;
  EXPECT_NE(out.find("transmit count still 1 after 250 ms"), std::string::npos) << out;
  EXPECT_EQ(out.find("FT_Write(21 bytes)"), std::string::npos) << out;
  EXPECT_NE(out.find("ok   FT_Close"), std::string::npos) << out;
  EXPECT_NE(out.find("1 step failed"), std::string::npos) << out;
  EXPECT_TRUE(device.heard.empty() || device.heard[0].size() <= 1);
}

TEST(CableCheckArgs, HelpBadUsageAndListenTime) {
  CableCheckOptions o;
  FILE* sink = tmpfile();
  char help[] = "--help", listen[] = "--listen", five[] = "5", zero[] = "0", bogus[] = "-x";
  char prog[] = "tern-cable-check";
  char* a1[] = {prog, help};
  EXPECT_EQ(cablecheck_parseArgs(2, a1, o, sink, sink), 0);
  char* a2[] = {prog, listen, five};
  EXPECT_EQ(cablecheck_parseArgs(3, a2, o, sink, sink), -1);
  EXPECT_EQ(o.listenMs, 5);
  char* a3[] = {prog, listen, zero};
  EXPECT_EQ(cablecheck_parseArgs(3, a3, o, sink, sink), 2);
  char* a4[] = {prog, listen};
  EXPECT_EQ(cablecheck_parseArgs(2, a4, o, sink, sink), 2);
  char* a5[] = {prog, bogus};
  EXPECT_EQ(cablecheck_parseArgs(2, a5, o, sink, sink), 2);
  fclose(sink);
}
