// The firmware update over the simulated line in virtual time: packets from
// the trace, console lines, pauses, the worker's guard and lock bit, refused
// files, and the image the virtual devices assemble. The test thread plays
// the window's timer: it reads the progress pair and shows posted messages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "device/app_firmware.h"
#include "device/job.h"
#include "device/bridge.h"
#include "link/cable.h"
#include "link/cablelock.h"
#include "link/timer.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "platform/thread.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

std::vector<std::string> shown;  // messages, as the timer showed them
void record(int, const char* text) { shown.push_back(text); }

std::vector<uint8_t> pattern(int n) {
  std::vector<uint8_t> v((size_t)n);
  for (int i = 0; i < n; i++) v[(size_t)i] = (uint8_t)(i * 7 + 3 + (i >> 8));
  return v;
}

// The console of an update of `size` bytes to UID `uid`; for an update run
// by the worker, the report of `path` follows.
std::string console(int size, const char* uid, const std::string& path = "") {
  std::string s = "\nData size: " + std::to_string(size) + "\nOpened device TSIM0001\n";
  for (int i = 0; i < 5; i++) s += std::string("Send reboot ") + uid + "\n";
  const int blocks = (size + 63) / 64;
  for (int b = 0; b < blocks; b++) s += "Send fw " + std::to_string(b) + "/" + std::to_string(size / 64) + "\n";
  s += "Send DONE. " + std::to_string(blocks * 64) + "/" + std::to_string(size) + "\n";
  if (!path.empty())
    s += "INFO: Firmware update done: " + std::to_string(blocks) + " blocks (" +
         std::to_string(blocks * 64) + " bytes) of\n" + path + "\nwent to every device on the line.\n";
  return s;
}

class Firmware : public testing::Test {
 protected:
  SimLine line;
  SimDevices devices{3, 17};
  std::string dir, out;
  bool capturing = false;
  int topSeen = -1;  // the progress total while an update ran

  void SetUp() override {
    char tmpl[] = "/tmp/tern_fw_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    devices.sim_attach(line);
    ftd2xx_setBackend(&line);
    bridge_setShower(record);
    shown.clear();
  }
  void TearDown() override {
    waitForWorker();
    bridge_setShower(nullptr);
    cable_free();
    ftd2xx_setBackend(nullptr);
    job_setStarter(nullptr);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }

  std::string file(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f && !bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    if (f) fclose(f);
    return path;
  }
  // Keeps what the update prints on standard output (not stderr: sanitizers
  // report there) from now until waitForWorker puts it into `out`. Only
  // tests that read `out` keep the console: a check that fails meanwhile
  // would have its reason kept too.
  void keepConsole() {
    if (capturing) return;
    testing::internal::CaptureStdout();
    capturing = true;
  }
  // Starts an update as the window does.
  int start(uint32_t uid, const std::string& path) { return buttonSendAction(uid, path.c_str()); }
  // Runs an update on this thread, keeping its console in `out`.
  int program(const std::string& path, uint32_t uid) {
    keepConsole();
    const int r = makeProgramDevice(path.c_str(), uid);
    waitForWorker();
    return r;
  }
  // The timer: every 100 ms, the progress and a pending message, until the
  // worker has ended. Returns the progress seen; `out` gets the console.
  std::vector<int> waitForWorker() {
    std::vector<int> progress;
    while (app_firmware_workerAlive()) {
      mySleep(98);
      bridge_showPending();
      progress.push_back(pStatusSt.load());
      if (pStatusTop.load() != 100) topSeen = pStatusTop.load();
    }
    while (bridge_showPending()) {
    }
    line.sim_settle();
    if (capturing) out = testing::internal::GetCapturedStdout();
    capturing = false;
    return progress;
  }
  std::vector<SimTraceEntry> sent() {
    line.sim_settle();
    return line.sim_trace().trace_entries('T');
  }
  // Every device took exactly `image` and the 0xFF filler of its last block,
  // after five reboots per update, from packets that all passed its CRC and
  // layout checks.
  void expectDevicesHold(std::vector<uint8_t> image, int updates = 1) {
    image.resize((image.size() + 63) / 64 * 64, 0xFF);
    for (int i = 0; i < devices.sim_count(); i++) {
      const SimFirmware& fw = devices.sim_device(i).sim_firmware();
      EXPECT_TRUE(fw.sim_receiving() && fw.sim_reboots() == 5 * updates) << "device " << i;
      EXPECT_EQ(fw.sim_rejected(), 0) << "device " << i;
      EXPECT_EQ(fw.sim_blocks(), (int)image.size() / 64) << "device " << i;
      EXPECT_TRUE(fw.sim_image() == image) << "device " << i;
    }
  }
  void expectNothingSent() {
    EXPECT_TRUE(sent().empty()) << "not even a break";
    EXPECT_EQ(line.sim_openCount(), 0);
    for (int i = 0; i < devices.sim_count(); i++)
      EXPECT_FALSE(devices.sim_device(i).sim_firmware().sim_receiving()) << "device " << i;
  }
};

class FirmwareThreads : public Firmware {};

}  // namespace

TEST_F(FirmwareThreads, HundredBytesGoOutAsTwoBlocksFiveTimesEach) {
  const std::vector<uint8_t> image = pattern(100);
  const std::string path = file("a.fw", image);
  keepConsole();
  const int started = start(0x12AB, path);
  const uint32_t running = thrTrans.load(), locked = lockComponents.load() & LOCK_FIRMWARE;
  const std::vector<int> progress = waitForWorker();
  ASSERT_EQ(started, FW_STARTED);
  EXPECT_EQ(running, (uint32_t)FW_RUNNING);
  EXPECT_EQ(locked, (uint32_t)LOCK_FIRMWARE);
  EXPECT_EQ(out, console(100, "12ab", path));
  // The operator is told the result; the bar went full and is empty again.
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Firmware update done: 2 blocks (128 bytes) of\n" + path +
                          "\nwent to every device on the line.");
  EXPECT_EQ(thrTrans.load(), 0u);
  EXPECT_EQ(lockComponents.load() & LOCK_FIRMWARE, 0u);
  EXPECT_EQ(topSeen, 1) << "100 bytes: one whole block of 64";
  EXPECT_NE(std::find(progress.begin(), progress.end(), 2), progress.end());
  EXPECT_EQ(progress.back(), 0);
  EXPECT_EQ(pStatusSt.load(), 0);
  EXPECT_EQ(pStatusTop.load(), 100);

  auto tx = sent();
  ASSERT_EQ(tx.size(), 15u);
  std::vector<uint8_t> reboot = {0x91, 0x29, 0xA9, 0xFF, 0xFF, 0xFF};
  reboot.resize(74, 0x00);
  reboot.insert(reboot.end(), {0xEB, 0x47});
  for (int i = 0; i < 5; i++) EXPECT_EQ(tx[i].bytes, reboot) << "packet " << i;
  for (int i = 5; i < 15; i++) {
    const std::vector<uint8_t>& p = tx[i].bytes;
    const uint8_t block = (uint8_t)((i - 5) / 5);
    ASSERT_EQ(p.size(), 76u);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 10),
              std::vector<uint8_t>({0x91, 0x29, 0xA9, 0xFE, 0xFF, 0xFF, 0x00, 0x00, block, 0x00}));
    EXPECT_EQ(p, tx[5 + block * 5].bytes) << "the copies of a block are the same";
  }
  expectDevicesHold(image);  // the data bytes and each copy's CRC
}

TEST_F(FirmwareThreads, PausesGiveTheComputedTime) {
  // Between the starts of two sends lie the pause (mySleep N = N + 2 ms) and
  // the send: a break and a frame, each drained (5 ms, 4.4 ms), and the six
  // USB round trips of its calls (rate, write, status; rate, write, status).
  const uint64_t sendMin = 9400 + 6 * SimLine::kUsbRoundTripUs;
  const uint64_t sendMax = sendMin + 200;
  const uint64_t t0 = clock_nowUs();
  ASSERT_EQ(start(1, file("t.fw", pattern(200))), FW_STARTED);
  uint64_t cleared = 0;
  while (app_firmware_workerAlive()) {
    mySleep(0);
    if (!cleared && thrTrans.load() == 0) cleared = clock_nowUs();
  }
  const uint64_t ended = clock_nowUs();
  auto tx = sent();
  ASSERT_EQ(tx.size(), 25u);
  for (size_t i = 1; i < tx.size(); i++) {
    const uint64_t pause = i < 5 ? 102000 : i == 5 ? 102000 + 1002000 : 7000;
    EXPECT_GE(tx[i].breakUs - tx[i - 1].breakUs, pause + sendMin) << "packet " << i;
    EXPECT_LE(tx[i].breakUs - tx[i - 1].breakUs, pause + sendMax) << "packet " << i;
  }
  // 5 x 102 ms + 1002 ms + 20 x 7 ms and 25 sends; 1002 ms later the lock is
  // cleared, 1002 ms after that the worker ends (seen up to 2 ms late).
  const uint64_t stream = 5 * 102000 + 1002000 + 20 * 7000;
  EXPECT_GE(cleared - t0, stream + 25 * sendMin + 1002000);
  // Before the first packet: reading the file, opening and configuring the
  // converter (a dozen USB round trips).
  EXPECT_LE(cleared - t0, stream + 25 * sendMax + 1002000 + 20 * SimLine::kUsbRoundTripUs);
  EXPECT_GE(ended - cleared, 1000000u);
  EXPECT_LE(ended - cleared, 1004000u);
}

TEST_F(Firmware, WholeBlocksUpToTheLargestImage) {
  int updates = 0;
  for (int size : {128, (int)FW_IMAGE_SIZE}) {
    const std::vector<uint8_t> image = pattern(size);
    EXPECT_EQ(program(file("b.fw", image), 0x12AB), FW_SENT);
    EXPECT_FALSE(cablelock_held()) << "the cable is released";
    EXPECT_EQ(out, console(size, "12ab"));
    expectDevicesHold(image, ++updates);
  }
  EXPECT_TRUE(shown.empty());
}

TEST_F(FirmwareThreads, SecondUpdateWhileRunningStartsNothing) {
  const std::vector<uint8_t> image = pattern(100);
  const std::string one = file("one.fw", image), two = file("two.fw", pattern(640));
  keepConsole();
  const int first = start(1, one);
  mySleep(700);  // amid the reboot packets
  const int second = buttonSendAction(1, two.c_str());
  const int empty = buttonSendAction(1, "");
  waitForWorker();
  ASSERT_EQ(first, FW_STARTED);
  EXPECT_EQ(second, FW_IGNORED);
  EXPECT_EQ(empty, FW_IGNORED);
  EXPECT_EQ(out, console(100, "1", one));
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, OtherExtensionsAndUnusableFilesSendNothing) {
  EXPECT_EQ(start(1, ""), FW_IGNORED) << "an empty path starts nothing";
  EXPECT_FALSE(app_firmware_workerAlive());
  mkdir((dir + "/folder.fw").c_str(), 0700);
  const std::vector<uint8_t> image = pattern(100);
  const std::pair<std::string, std::string> cases[] = {
      {file("caps.FW", image), "Unsupported file extension."},
      {file("fw", image), "Unsupported file extension."},
      {file("nopkg", image), "Unsupported file extension."},
      {file("p.pkg", image), "Package file not implemented."},
      {dir + "/missing.fw", "Cannot open the firmware file:\n" + dir + "/missing.fw\nNothing was sent"},
      {file("empty.fw", {}), "The firmware file is empty or cannot be read:\n" + dir + "/empty.fw\n"},
      {dir + "/folder.fw", "The firmware file is empty or cannot be read:\n" + dir + "/folder.fw\n"},
      {file("big.fw", pattern(FW_IMAGE_SIZE + 1)),
       "The firmware file is larger than 131072 bytes:\n" + dir + "/big.fw\n"},
  };
  for (const auto& c : cases) {
    shown.clear();
    keepConsole();
    const int started = start(1, c.first);
    waitForWorker();
    ASSERT_EQ(started, FW_STARTED);
    ASSERT_EQ(shown.size(), 1u) << c.first;
    EXPECT_EQ(shown[0].rfind(c.second, 0), 0u) << shown[0];
    EXPECT_EQ(out, "");
    EXPECT_EQ(thrTrans.load() | (lockComponents.load() & LOCK_FIRMWARE), 0u);
    expectNothingSent();
  }
}

namespace {

void (*heldFn)(void*) = nullptr;
void* heldArg = nullptr;
int holdStart(void (*fn)(void*), void* arg) {  // takes the worker, starts nothing yet
  heldFn = fn;
  heldArg = arg;
  return 0;
}
int failStart(void (*)(void*), void*) { return EAGAIN; }

}  // namespace

TEST_F(FirmwareThreads, WorkerKeepsItsOwnCopyOfThePath) {
  const std::vector<uint8_t> image = pattern(100);
  char text[256];
  snprintf(text, sizeof text, "%s", file("own.fw", image).c_str());
  job_setStarter(holdStart);
  ASSERT_EQ(buttonSendAction(1, text), FW_STARTED);
  snprintf(text, sizeof text, "%s/other.pkg", dir.c_str());  // the caller reuses its text
  ASSERT_EQ(thread_start(heldFn, heldArg), 0);
  waitForWorker();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("Firmware update done: 2 blocks", 0), 0u) << shown[0];
  expectDevicesHold(image);
}

TEST_F(FirmwareThreads, FailedStartLeavesNothingRunning) {
  const std::string path = file("s.fw", pattern(100));
  job_setStarter(failStart);
  EXPECT_EQ(start(1, path), FW_START_FAILED);
  EXPECT_EQ(thrTrans.load() | (lockComponents.load() & LOCK_FIRMWARE), 0u);
  EXPECT_FALSE(app_firmware_workerAlive());
  waitForWorker();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("The firmware update could not be started: ", 0), 0u) << shown[0];
  expectNothingSent();
  job_setStarter(nullptr);
  shown.clear();
  EXPECT_EQ(start(1, path), FW_STARTED) << "the next try runs";
  waitForWorker();
  EXPECT_EQ(sent().size(), 15u);
}

TEST_F(Firmware, FailedSendsAreReportedAfterTheRun) {
  line.sim_setPlugged(false);
  EXPECT_EQ(program(file("c.fw", pattern(100)), 0x12AB), FW_SEND_FAILED);
  EXPECT_NE(out.find("Send reboot 12ab\n"), std::string::npos) << "the run goes through its steps";
  EXPECT_EQ(out.find("Send DONE."), std::string::npos) << "a failed update is not done";
  EXPECT_NE(out.find("Send FAILED. 15 of 15 packets not sent\n"), std::string::npos);
  bool error = false;
  char report[512];
  app_firmware_report(&error, report, sizeof report);
  EXPECT_TRUE(error);
  EXPECT_STREQ(report, "The firmware update failed: 15 of 15 packets could not be sent.\n"
                       "Check the cable and run Update FW again.");
  EXPECT_TRUE(shown.empty()) << "the window's worker posts it, not the update itself";
}

// The virtual devices' bootloader, fed packets directly.
TEST(SimBootloader, TakesGoodBlocksOnlyAfterAReboot) {
  auto packet = [](uint8_t type, int block, uint8_t fill) {
    std::vector<uint8_t> p = {0x91, 0x29, 0xA9, type, 0xFF, 0xFF, 0, 0, (uint8_t)block, (uint8_t)(block >> 8)};
    p.resize(74, fill);
    uint16_t crc = 0;  // CRC-16/KERMIT
    for (uint8_t b : p) {
      crc ^= b;
      for (int k = 0; k < 8; k++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
    p.insert(p.end(), {(uint8_t)crc, (uint8_t)(crc >> 8)});
    return p;
  };
  SimFirmware fw;
  auto feed = [&](std::vector<uint8_t> p) { fw.sim_receive(p.data(), (int)p.size()); };
  feed(packet(0xFE, 0, 0x11));  // outside receive mode
  EXPECT_FALSE(fw.sim_receiving());
  feed(packet(0xFF, 0, 0));
  std::vector<uint8_t> bad = packet(0xFE, 1, 0x22);
  bad[40] ^= 0x01;
  feed(bad);
  bad = packet(0xFE, 1, 0x22);
  bad.pop_back();
  feed(bad);
  for (int copy = 0; copy < 5; copy++) feed(packet(0xFE, 1, 0x22));
  feed(packet(0xFE, 2047, 0x33));
  feed(packet(0xFE, 2048, 0x44));  // beyond the flash
  EXPECT_TRUE(fw.sim_receiving());
  EXPECT_EQ(fw.sim_rejected(), 4);
  EXPECT_EQ(fw.sim_blocks(), 2) << "copies of a block count once";
  const std::vector<uint8_t> image = fw.sim_image();
  ASSERT_EQ(image.size(), 131072u);
  EXPECT_EQ(image[0], 0xFF) << "block 0 never came";
  EXPECT_EQ(image[64], 0x22);
  EXPECT_EQ(image[131071], 0x33);
  feed(packet(0xFF, 0, 0));  // a new update starts afresh
  EXPECT_EQ(fw.sim_blocks(), 0);
  EXPECT_TRUE(fw.sim_image().empty());
}
