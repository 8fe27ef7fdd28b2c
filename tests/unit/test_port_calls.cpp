// The exact converter calls the link makes, with their arguments and their
// spacing in time, recorded by a port backend that stands in for the driver:
// open and configure, break, frame, drain, read, close. A single changed
// wire parameter (rate, line format, timeouts, the break, a drain left out
// or cut short) shows here as a changed call.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/cable.h"
#include "link/ftdi_port.h"
#include "platform/clock.h"
#include "platform/port_backend.h"
#include "protocol/packet_structures.h"

namespace {

struct Call {
  std::string text;  // the call and its arguments
  uint64_t atUs;
};

class RecordingPort : public PortBackend {
 public:
  std::vector<Call> calls;
  int txBusyPolls = 1;   // status queries that still see bytes going out after a write
  bool txStuck = false;  // the transmitter never empties
  FT_STATUS failBaud = FT_OK;  // status of every rate change
  FT_STATUS failWrite = FT_OK;  // status of every write
  FT_STATUS failStatus = FT_OK;  // status of every status query
  int statusFailsAfter = -1;     // or only of those after this many
  DWORD rxWaiting = 0;

  DWORD port_libraryVersion() override { return 0x10500; }
  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count, bool) override {
    add("list");
    memset(out, 0, sizeof *out);
    strcpy(out[0].serial, "REC00001");
    count = capacity > 0 ? 1 : 0;
    return FT_OK;
  }
  FT_STATUS port_open(const char* serial, FT_HANDLE* h) override {
    add(std::string("open ") + serial);
    *h = this;
    return FT_OK;
  }
  FT_STATUS port_close(FT_HANDLE) override { return add("close"), FT_OK; }
  FT_STATUS port_reset(FT_HANDLE) override { return add("reset"), FT_OK; }
  FT_STATUS port_setTimeouts(FT_HANDLE, ULONG r, ULONG w) override {
    add("timeouts " + std::to_string(r) + " " + std::to_string(w));
    return FT_OK;
  }
  FT_STATUS port_setBaudRate(FT_HANDLE, ULONG baud) override {
    add("baud " + std::to_string(baud));
    return failBaud;
  }
  FT_STATUS port_setDataCharacteristics(FT_HANDLE, UCHAR bits, UCHAR stop, UCHAR parity) override {
    add("format " + std::to_string(bits) + " " + std::to_string(stop) + " " + std::to_string(parity));
    return FT_OK;
  }
  FT_STATUS port_write(FT_HANDLE, const uint8_t* data, DWORD n, DWORD& written) override {
    std::string t = "write";
    char hex[4];
    for (DWORD i = 0; i < n; i++) snprintf(hex, sizeof hex, " %02X", data[i]), t += hex;
    add(t);
    busy = txBusyPolls;
    written = failWrite == FT_OK ? n : 0;
    return failWrite;
  }
  FT_STATUS port_status(FT_HANDLE, DWORD& rx, DWORD& tx, DWORD& event) override {
    add("status");
    if (statusFailsAfter >= 0 && statuses++ >= statusFailsAfter) return FT_IO_ERROR;
    rx = rxWaiting;
    tx = (txStuck || busy-- > 0) ? 1 : 0;
    event = 0;
    return failStatus;
  }
  FT_STATUS port_read(FT_HANDLE, uint8_t* buf, DWORD n, DWORD& got) override {
    add("read " + std::to_string(n));
    got = rxWaiting < n ? rxWaiting : n;
    memset(buf, 0x5A, got);
    rxWaiting -= got;
    return FT_OK;
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> t;
    for (const Call& c : calls) t.push_back(c.text);
    return t;
  }
  // Time from call i to call j.
  uint64_t gap(size_t i, size_t j) const { return calls[j].atUs - calls[i].atUs; }

 private:
  int busy = 0;
  int statuses = 0;
  void add(const std::string& t) { calls.push_back(Call{t, clock_nowUs()}); }
};

class PortCalls : public testing::Test {
 protected:
  RecordingPort port;
  void SetUp() override { ftd2xx_setBackend(&port); }
  void TearDown() override {
    cable_free();
    ftd2xx_setBackend(nullptr);
  }
  void open() {
    testing::internal::CaptureStdout();
    ASSERT_EQ(cable_open(), 0);
    testing::internal::GetCapturedStdout();
    port.calls.clear();
  }
  static Packet setupRead() {
    Packet p;
    packet_fillHeader(&p, 0x01020304);
    p.data[0] = 0x01;
    p.length = 1;
    return p;
  }
};

const char kFrame[] = "write 91 29 A9 FD 04 03 02 01 FF FF FF FF 00 00 00 00 68 06 01 01";

}  // namespace

TEST_F(PortCalls, OpenConfiguresTheDmxLineAndCloseResetsFirst) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(cable_open(), 0);
  testing::internal::GetCapturedStdout();
  cable_free();
  const std::vector<std::string> expect = {
      "list", "open REC00001", "reset", "timeouts 1 0", "baud 250000", "format 8 2 0",
      "reset", "close"};
  EXPECT_EQ(port.texts(), expect);
}

TEST_F(PortCalls, FrameFollowsADrainedBreakAndIsDrainedItself) {
  open();
  port.txBusyPolls = 2;
  Packet p = setupRead();
  ASSERT_EQ(cable_sendPacket(&p), 20);
  const std::vector<std::string> expect = {
      "baud 15625", "write 00", "status", "status", "status", "baud 250000",
      kFrame,       "status",   "status", "status"};
  ASSERT_EQ(port.texts(), expect);
  // The drains wait 5 ms before each status query after the break and 4.4 ms
  // after the frame: the frame never starts while the break is on the wire.
  for (size_t i = 2; i <= 4; i++) {
    EXPECT_GE(port.gap(i - 1, i), 5000u) << i;
    EXPECT_LT(port.gap(i - 1, i), 5100u) << i;
  }
  for (size_t i = 7; i <= 9; i++) {
    EXPECT_GE(port.gap(i - 1, i), 4400u) << i;
    EXPECT_LT(port.gap(i - 1, i), 4500u) << i;
  }
}

TEST_F(PortCalls, ReadAsksForTheWholeCountOnlyWhenBytesWait) {
  open();
  uint8_t buf[CABLE_READ_CHUNK];
  EXPECT_EQ(getResponse(buf, sizeof buf), -1);
  port.rxWaiting = 7;
  EXPECT_EQ(getResponse(buf, sizeof buf), 7);
  const std::vector<std::string> expect = {"status", "status", "read 50"};
  EXPECT_EQ(port.texts(), expect);
}

TEST_F(PortCalls, EveryFailureOfTheSendIsReportedAndNoFrameFollowsABadBreak) {
  struct Case {
    const char* what;
    void (*arrange)(RecordingPort&);
    bool frameWritten;
  };
  const Case cases[] = {
      {"break rate refused", [](RecordingPort& p) { p.failBaud = FT_IO_ERROR; }, false},
      {"break write failed", [](RecordingPort& p) { p.failWrite = FT_IO_ERROR; }, false},
      {"status query failed", [](RecordingPort& p) { p.failStatus = FT_IO_ERROR; }, false},
      {"transmitter never empties", [](RecordingPort& p) { p.txStuck = true; }, false},
      {"frame's drain failed", [](RecordingPort& p) { p.statusFailsAfter = 2; }, true},
  };
  for (const Case& c : cases) {
    open();
    c.arrange(port);
    Packet p = setupRead();
    EXPECT_EQ(cable_sendPacket(&p), -1) << c.what;
    bool frame = false;
    for (const std::string& t : port.texts()) frame = frame || t == kFrame;
    EXPECT_EQ(frame, c.frameWritten) << c.what;
    if (!c.frameWritten) {
      EXPECT_EQ(port.texts().back(), "baud 250000") << "left at the break rate: " << c.what;
    }
    port = RecordingPort();
    cable_free();
  }
}
