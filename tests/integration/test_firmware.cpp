// The firmware update over the simulated line in virtual time: the packets
// byte for byte from the trace, the console lines, the pauses, the worker's
// guard and lock bit, refused files, and the image the devices assemble.
// The test thread plays the window's timer: it reads the progress pair and
// shows the messages the worker posts.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device/app_firmware.h"
#include "device/bridge.h"
#include "link/cable.h"
#include "link/timer.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "platform/thread.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

std::vector<std::pair<int, std::string>> shown;

void record(int type, const char* text) { shown.emplace_back(type, text); }

std::vector<uint8_t> pattern(int n) {
  std::vector<uint8_t> v((size_t)n);
  for (int i = 0; i < n; i++) v[(size_t)i] = (uint8_t)(i * 7 + 3 + (i >> 8));
  return v;
}

// The image rounded up to whole blocks with the erased-flash filler.
std::vector<uint8_t> padded(std::vector<uint8_t> v) {
  v.resize((v.size() + 63) / 64 * 64, 0xFF);
  return v;
}

class Firmware : public testing::Test {
 protected:
  SimLine line;
  SimDevices devices{3, 17};
  std::string dir;
  std::string out, err;

  void SetUp() override {
    char tmpl[] = "/tmp/tern_fw_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    devices.sim_attach(line);
    ftd2xx_setBackend(&line);
    bridge_setShower(record);
    while (bridge_showPending()) {
    }
    shown.clear();
  }
  void TearDown() override {
    waitForWorker();
    while (bridge_showPending()) {
    }
    bridge_setShower(nullptr);
    cable_free();
    ftd2xx_setBackend(nullptr);
    app_firmware_setThreadStarter(nullptr);
    std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }

  std::string file(const char* name, const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    return path;
  }

  // Starts an update as the window does. The test thread takes part in
  // virtual time first, or the worker's pauses would pass without it.
  int start(uint32_t uid, const std::string& path) {
    clock_nowUs();
    return buttonSendAction(uid, path.c_str());
  }

  // The window's timer: every 100 ms it reads the progress pair and shows a
  // pending message, until the worker has ended.
  std::vector<int> waitForWorker() {
    std::vector<int> progress;
    while (app_firmware_workerAlive()) {
      mySleep(98);
      bridge_showPending();
      progress.push_back(pStatusSt.load(std::memory_order_relaxed));
    }
    line.sim_settle();
    return progress;
  }

  void capture() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
  }
  void endCapture() {
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
  }

  std::vector<SimTraceEntry> sent() {
    line.sim_settle();
    return line.sim_trace().trace_entries('T');
  }

  // Every device took exactly `image` (rounded up with the filler) from
  // five reboots and packets that all passed its checks.
  void expectDevicesHold(const std::vector<uint8_t>& image) {
    for (int i = 0; i < devices.sim_count(); i++) {
      const SimFirmware& fw = devices.sim_device(i).sim_firmware();
      SCOPED_TRACE("device " + std::to_string(i));
      EXPECT_TRUE(fw.sim_receiving());
      EXPECT_EQ(fw.sim_reboots(), 5);
      EXPECT_EQ(fw.sim_rejected(), 0) << "a packet with a bad CRC or layout";
      EXPECT_EQ(fw.sim_blocks(), (int)(image.size() + 63) / 64);
      EXPECT_TRUE(fw.sim_image() == padded(image)) << "the assembled image differs";
    }
  }

  void expectNothingSent() {
    EXPECT_TRUE(sent().empty()) << "not even a break";
    EXPECT_EQ(line.sim_openCount(), 0) << "the converter was opened";
    EXPECT_EQ(out.find("Send reboot"), std::string::npos);
  }
};

class FirmwareThreads : public Firmware {};

std::string expectedConsole(int size, const char* uid = "12ab") {
  std::string s = "\nData size: " + std::to_string(size) + "\nOpened device TSIM0001\n";
  for (int i = 0; i < 5; i++) s += std::string("Send reboot ") + uid + "\n";
  int blocks = (size + 63) / 64;
  for (int b = 0; b < blocks; b++) s += "Send fw " + std::to_string(b) + "/" + std::to_string(size / 64) + "\n";
  s += "Send DONE. " + std::to_string(blocks * 64) + "/" + std::to_string(size) + "\n";
  return s;
}

}  // namespace

TEST_F(FirmwareThreads, HundredBytesGoOutAsTwoBlocksFiveTimesEach) {
  const std::vector<uint8_t> image = pattern(100);
  const std::string path = file("a.fw", image);
  capture();
  ASSERT_EQ(start(0x12AB, path), FW_STARTED);
  EXPECT_EQ(thrTrans.load(), (uint32_t)FW_RUNNING);
  EXPECT_EQ(lockComponents.load() & LOCK_FIRMWARE, (uint32_t)LOCK_FIRMWARE);
  const std::vector<int> progress = waitForWorker();
  endCapture();

  EXPECT_EQ(out, expectedConsole(100));
  EXPECT_EQ(err, "");
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(thrTrans.load(), 0u);
  EXPECT_EQ(lockComponents.load() & LOCK_FIRMWARE, 0u);
  EXPECT_EQ(pStatusTop.load(), 1);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 2);

  auto tx = sent();
  ASSERT_EQ(tx.size(), 15u);
  std::vector<uint8_t> reboot = {0x91, 0x29, 0xA9, 0xFF, 0xFF, 0xFF};
  reboot.resize(74, 0x00);
  reboot.push_back(0xEB);
  reboot.push_back(0x47);
  for (int i = 0; i < 15; i++) {
    SCOPED_TRACE("packet " + std::to_string(i));
    EXPECT_TRUE(tx[i].withBreak && !tx[i].garbled);
    const std::vector<uint8_t>& p = tx[i].bytes;
    ASSERT_EQ(p.size(), 76u);
    if (i < 5) {
      EXPECT_EQ(p, reboot);
      continue;
    }
    const int block = (i - 5) / 5;
    const uint8_t head[10] = {0x91, 0x29, 0xA9, 0xFE, 0xFF, 0xFF, 0x00, 0x00, (uint8_t)block, 0x00};
    EXPECT_EQ(0, memcmp(p.data(), head, 10));
    EXPECT_TRUE(std::equal(p.begin() + 10, p.begin() + 74, padded(image).begin() + block * 64));
    EXPECT_EQ(p, tx[5 + block * 5].bytes) << "the copies of a block are the same";
  }
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, PausesGiveTheComputedTime) {
  // 200 bytes: 4 blocks. Between the starts of two sends lie the pause
  // (mySleep N = N + 2 ms) and the send itself: its break and frame with the
  // two drains of 5 ms and 4.4 ms, and a few USB round trips.
  const std::string path = file("t.fw", pattern(200));
  const uint64_t t0 = clock_nowUs();
  capture();
  ASSERT_EQ(start(1, path), FW_STARTED);
  uint64_t cleared = 0;
  while (app_firmware_workerAlive()) {
    mySleep(0);
    if (!cleared && thrTrans.load() == 0) cleared = clock_nowUs();
  }
  const uint64_t ended = clock_nowUs();
  endCapture();
  auto tx = sent();
  ASSERT_EQ(tx.size(), 25u);
  const uint64_t sendMin = 9400, sendMax = 10200;
  for (size_t i = 1; i < tx.size(); i++) {
    const uint64_t pause = i < 5 ? 102000 : i == 5 ? 102000 + 1002000 : 7000;
    const uint64_t gap = tx[i].breakUs - tx[i - 1].breakUs;
    EXPECT_GE(gap, pause + sendMin) << "packet " << i;
    EXPECT_LE(gap, pause + sendMax) << "packet " << i;
  }
  // The whole run: 5 x 102 ms + 1002 ms + 20 x (7 ms + send), then 1002 ms
  // until the lock is cleared and 1002 ms more until the worker ends.
  const uint64_t stream = 5 * 102000 + 1002000 + 20 * 7000;
  EXPECT_GE(cleared - t0, stream + 25 * sendMin + 1002000);
  EXPECT_LE(cleared - t0, stream + 25 * sendMax + 1002000 + 2000);
  // The test looks every 2 ms: it sees the clearing up to 2 ms late.
  EXPECT_GE(ended - cleared, 1002000u - 2000u);
  EXPECT_LE(ended - cleared, 1002000u + 2000u);
}

TEST_F(Firmware, ExactBlockMultipleSendsNoExtraBlock) {
  const std::vector<uint8_t> image = pattern(128);
  capture();
  EXPECT_EQ(makeProgramDevice(file("b.fw", image).c_str(), 0x12AB), FW_SENT);
  endCapture();
  EXPECT_EQ(out, expectedConsole(128));
  EXPECT_EQ(sent().size(), 15u);
  expectDevicesHold(image);
}

TEST_F(Firmware, LargestImageIsTakenWhole) {
  const std::vector<uint8_t> image = pattern(FW_IMAGE_SIZE);
  capture();
  EXPECT_EQ(makeProgramDevice(file("max.fw", image).c_str(), 1), FW_SENT);
  endCapture();
  EXPECT_NE(out.find("Send fw 2047/2048\nSend DONE. 131072/131072\n"), std::string::npos);
  EXPECT_TRUE(shown.empty());
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, SecondUpdateWhileRunningStartsNothing) {
  const std::vector<uint8_t> image = pattern(100);
  const std::string first = file("one.fw", image);
  const std::string second = file("two.fw", pattern(640));
  capture();
  ASSERT_EQ(start(1, first), FW_STARTED);
  mySleep(700);  // amid the reboot packets
  EXPECT_EQ(buttonSendAction(1, second.c_str()), FW_IGNORED);
  EXPECT_EQ(buttonSendAction(1, ""), FW_IGNORED);
  waitForWorker();
  endCapture();
  EXPECT_EQ(sent().size(), 15u);
  EXPECT_EQ(out, expectedConsole(100, "1")) << "only the first file";
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, OtherExtensionsAreRefusedAndSendNothing) {
  const std::vector<uint8_t> image = pattern(100);
  const char* names[] = {"caps.FW", "pkg.pkg", "fw", "noext"};
  const char* messages[] = {"Unsupported file extension.", "Package file not implemented.",
                            "Unsupported file extension.", "Unsupported file extension."};
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(names[i]);
    shown.clear();
    capture();
    ASSERT_EQ(start(1, file(names[i], image)), FW_STARTED);
    waitForWorker();
    endCapture();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::make_pair(-1, std::string(messages[i])));
    EXPECT_EQ(thrTrans.load(), 0u);
    EXPECT_EQ(lockComponents.load() & LOCK_FIRMWARE, 0u);
    expectNothingSent();
  }
}

TEST_F(FirmwareThreads, UnusableFilesAreRefusedBeforeAnythingIsSent) {
  mkdir((dir + "/folder.fw").c_str(), 0700);
  struct Case {
    std::string path;
    const char* message;
  } cases[] = {
      {dir + "/missing.fw", "Cannot open the firmware file:"},
      {file("empty.fw", {}), "The firmware file is empty or cannot be read:"},
      {dir + "/folder.fw", "The firmware file is empty or cannot be read:"},
      {file("big.fw", pattern(FW_IMAGE_SIZE + 1)), "The firmware file is larger than 131072 bytes:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    shown.clear();
    capture();
    ASSERT_EQ(start(1, c.path), FW_STARTED);
    waitForWorker();
    endCapture();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, -1);
    EXPECT_EQ(shown[0].second.rfind(std::string(c.message) + "\n" + c.path + "\n", 0), 0u)
        << shown[0].second;
    EXPECT_EQ(out.find("Data size"), std::string::npos);
    expectNothingSent();
    for (int i = 0; i < devices.sim_count(); i++)
      EXPECT_FALSE(devices.sim_device(i).sim_firmware().sim_receiving()) << "a device waits for an image";
  }
}

namespace {

void (*heldFn)(void*) = nullptr;
void* heldArg = nullptr;

// Takes the worker without starting it yet.
int holdStart(void (*fn)(void*), void* arg) {
  heldFn = fn;
  heldArg = arg;
  return 0;
}

int failStart(void (*)(void*), void*) { return EAGAIN; }

}  // namespace

TEST_F(FirmwareThreads, WorkerKeepsItsOwnCopyOfThePath) {
  const std::vector<uint8_t> image = pattern(100);
  const std::string path = file("own.fw", image);
  char text[256];
  snprintf(text, sizeof text, "%s", path.c_str());
  app_firmware_setThreadStarter(holdStart);
  capture();
  ASSERT_EQ(buttonSendAction(1, text), FW_STARTED);
  snprintf(text, sizeof text, "%s/other.pkg", dir.c_str());  // the caller reuses its text
  clock_nowUs();
  ASSERT_EQ(thread_start(heldFn, heldArg), 0);
  waitForWorker();
  endCapture();
  EXPECT_TRUE(shown.empty()) << shown[0].second;
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, FailedStartLeavesNothingRunning) {
  const std::string path = file("s.fw", pattern(100));
  app_firmware_setThreadStarter(failStart);
  capture();
  EXPECT_EQ(buttonSendAction(1, path.c_str()), FW_START_FAILED);
  bridge_showPending();
  endCapture();
  EXPECT_EQ(thrTrans.load(), 0u);
  EXPECT_EQ(lockComponents.load() & LOCK_FIRMWARE, 0u);
  EXPECT_FALSE(app_firmware_workerAlive());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second.rfind("Cannot start the firmware update (", 0), 0u) << shown[0].second;
  expectNothingSent();
  app_firmware_setThreadStarter(nullptr);
  EXPECT_EQ(start(1, path), FW_STARTED) << "the next try runs";
  capture();
  waitForWorker();
  endCapture();
  EXPECT_EQ(sent().size(), 15u);
}

TEST_F(Firmware, FailedSendsAreReportedAfterTheRun) {
  line.sim_setPlugged(false);
  capture();
  EXPECT_EQ(makeProgramDevice(file("c.fw", pattern(100)).c_str(), 0x12AB), FW_SEND_FAILED);
  endCapture();
  EXPECT_NE(out.find("Send reboot 12ab\n"), std::string::npos) << "the run goes through its steps";
  EXPECT_NE(out.find("Send DONE. 128/100\n"), std::string::npos);
  bridge_showPending();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second,
            "The firmware update failed: 15 of 15 packets could not be sent.\n"
            "Check the cable and run Update FW again.");
}

// The bootloader of the virtual devices, fed packets directly.
namespace {

std::vector<uint8_t> fwPacket(uint8_t type, int block, uint8_t fill) {
  std::vector<uint8_t> p = {0x91, 0x29, 0xA9, type, 0xFF, 0xFF, 0x00, 0x00, (uint8_t)block,
                            (uint8_t)(block >> 8)};
  p.resize(74, type == 0xFF ? 0 : fill);
  uint16_t crc = 0;  // CRC-16/KERMIT, table-free
  for (int i = 0; i < 74; i++) {
    crc ^= p[i];
    for (int b = 0; b < 8; b++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
  }
  p.push_back((uint8_t)crc);
  p.push_back((uint8_t)(crc >> 8));
  return p;
}

void feed(SimFirmware& fw, const std::vector<uint8_t>& p) { fw.sim_receive(p.data(), (int)p.size()); }

}  // namespace

TEST(SimBootloader, TakesGoodBlocksOnlyAfterAReboot) {
  SimFirmware fw;
  feed(fw, fwPacket(0xFE, 0, 0x11));
  EXPECT_EQ(fw.sim_rejected(), 1) << "a block outside receive mode";
  EXPECT_FALSE(fw.sim_receiving());
  feed(fw, fwPacket(0xFF, 0, 0));
  EXPECT_TRUE(fw.sim_receiving());

  std::vector<uint8_t> bad = fwPacket(0xFE, 1, 0x22);
  bad[40] ^= 0x01;
  feed(fw, bad);
  std::vector<uint8_t> shortPacket = fwPacket(0xFE, 1, 0x22);
  shortPacket.pop_back();
  feed(fw, shortPacket);
  EXPECT_EQ(fw.sim_rejected(), 3);
  EXPECT_EQ(fw.sim_blocks(), 0);

  for (int copy = 0; copy < 5; copy++) feed(fw, fwPacket(0xFE, 1, 0x22));
  feed(fw, fwPacket(0xFE, 2047, 0x33));
  feed(fw, fwPacket(0xFE, 2048, 0x44));  // beyond the flash
  EXPECT_EQ(fw.sim_rejected(), 4);
  EXPECT_EQ(fw.sim_blocks(), 2) << "copies of a block count once";
  std::vector<uint8_t> image = fw.sim_image();
  ASSERT_EQ(image.size(), 131072u);
  EXPECT_EQ(image[0], 0xFF) << "block 0 never came";
  EXPECT_EQ(image[64], 0x22);
  EXPECT_EQ(image[131071], 0x33);

  feed(fw, fwPacket(0xFF, 0, 0));  // a new update starts afresh
  EXPECT_EQ(fw.sim_blocks(), 0);
  EXPECT_TRUE(fw.sim_image().empty());
  feed(fw, fwPacket(0xFE, 0, 0xA5));
  std::string hex;
  for (int i = 0; i < 64; i++) hex += "a5";
  EXPECT_EQ(fw.sim_json(), "{\"mode\": \"receiving\", \"reboots\": 2, \"blocks\": 1, "
                           "\"rejected\": 4, \"image\": \"" + hex + "\"}");
}
