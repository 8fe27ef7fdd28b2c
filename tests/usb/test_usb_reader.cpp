// The backend's background reader against the chip's packets: a long answer
// arrives whole while the program sleeps between polls, the status bytes
// that begin every packet never show as data, and a reader held back loses
// bytes in the chip and says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/raw_port.h"
#include "usb_bench.h"

namespace {

// A device that answers every frame with the longest frame there is: 19
// header bytes and 255 payload bytes. Its bytes take every value, the
// chip's status bytes (0x01, 0x60) among them.
class LongAnswer : public SimResponder {
 public:
  enum { SIZE = 274 };
  std::vector<uint8_t> bytes;
  LongAnswer() {
    for (int i = 0; i < SIZE; i++) bytes.push_back((uint8_t)(i * 37 + 11));
  }
  bool sim_respond(const uint8_t*, int count, uint64_t, SimAnswer& a) override {
    if (count < 19) return false;
    a.count = SIZE;
    for (int i = 0; i < SIZE; i++) a.bytes[i] = bytes[(size_t)i];
    return true;
  }
  // What the program should read: the answer's break as 0x00, then the bytes.
  std::vector<uint8_t> expected() const {
    std::vector<uint8_t> v{0x00};
    v.insert(v.end(), bytes.begin(), bytes.end());
    return v;
  }
};

// Sends a frame, then polls as the configurator does between its sleeps:
// every `sleepUs`, the receive count, then a read of what is there.
std::vector<uint8_t> sendAndCollect(FT_HANDLE h, uint64_t sleepUs, uint64_t forUs) {
  const Packet p = probeOfZero();
  const uint8_t* frame = packet_bytes(&p);
  rawSendBreakAndFrame(h, std::vector<uint8_t>(frame, frame + packet_frameSize(&p)));
  std::vector<uint8_t> got;
  const uint64_t end = clock_nowUs() + forUs;
  while (clock_nowUs() < end) {
    clock_sleepUs(sleepUs);
    DWORD rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(FT_GetStatus(h, &rx, &tx, &ev), FT_OK);
    if (rx == 0) continue;
    std::vector<uint8_t> buf(rx);
    DWORD n = 0;
    EXPECT_EQ(FT_Read(h, buf.data(), rx, &n), FT_OK);
    got.insert(got.end(), buf.begin(), buf.begin() + n);
  }
  return got;
}

}  // namespace

TEST(UsbReader, LongAnswerArrivesWholeWhileTheProgramSleeps15MsBetweenPolls) {
  UsbBench bench;
  LongAnswer device;
  bench.line.line_addResponder(&device);
  FT_HANDLE h = openConfigured();
  // 275 bytes take 12 ms on the wire, more than the chip's 256-byte buffer
  // holds: only a reader that keeps asking gets them all.
  const std::vector<uint8_t> got = sendAndCollect(h, 15000, 60000);
  EXPECT_EQ(got, device.expected()) << "every byte once, in order, and no status byte among them";
  EXPECT_EQ(bench.chip.chip_state().rxLostBytes, 0);
  EXPECT_GT(bench.chip.chip_state().statusOnlyPackets, 40) << "the chip kept reporting meanwhile";
  std::string out, err;
  EXPECT_EQ(capturingBoth([&] { return FT_Close(h); }, out, err), FT_OK);
  EXPECT_EQ(err, "") << "nothing was lost";
}

TEST(UsbReader, ReaderHeldBackLosesBytesInTheChipAndCountsTheOverrun) {
  UsbBench bench;
  LongAnswer device;
  bench.line.line_addResponder(&device);
  FT_HANDLE h = openConfigured();
  // The host stops asking for 30 ms, the whole answer long: the chip keeps
  // the first 256 bytes and loses the rest.
  bench.chip.chip_holdNextRead(30000);
  const std::vector<uint8_t> got = sendAndCollect(h, 15000, 60000);
  const std::vector<uint8_t> all = device.expected();
  EXPECT_EQ(got, std::vector<uint8_t>(all.begin(), all.begin() + Ft232rModel::RX_BUFFER));
  EXPECT_EQ(bench.chip.chip_state().rxLostBytes, (long)all.size() - Ft232rModel::RX_BUFFER);
  std::string out, err;
  EXPECT_EQ(capturingBoth([&] { return FT_Close(h); }, out, err), FT_OK);
  EXPECT_EQ(err,
            "libftdi: converter FT5TERN1 lost received bytes: 0 dropped (host queue of 16384 bytes "
            "full), 1 chip buffer overruns\n");
}
