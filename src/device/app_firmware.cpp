#include "device/app_firmware.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "device/bridge.h"
#include "link/cable.h"
#include "link/fileio.h"
#include "link/timer.h"
#include "device/job.h"

std::atomic<uint32_t> thrTrans{0};

struct FirmwareArg {
  std::string path;  // the worker's own copy: the caller's text may change
  uint32_t uid;
  uint32_t reserved;
};

namespace {

enum : uint8_t {
  FW_TYPE_REBOOT = 0xFF,
  FW_TYPE_BLOCK = 0xFE,
  FW_ERASED = 0xFF,  // what erased flash holds: the filler after the image
};

enum {
  FW_OFFSET_TYPE = 3,
  FW_OFFSET_BLOCK = 8,
  FW_OFFSET_DATA = 10,
  // Pauses; mySleep adds 2 ms to each.
  FW_REBOOT_PAUSE_MS = 100,
  FW_BOOT_PAUSE_MS = 1000,
  FW_BLOCK_PAUSE_MS = 5,
  FW_END_PAUSE_MS = 1000,
};

static_assert(FW_OFFSET_DATA + FW_BLOCK_SIZE + 2 == FW_PACKET_SIZE, "the packet's layout");
static_assert((int)FW_PACKET_SIZE == (int)CABLE_DMX_PACKET_SIZE, "the cable sends firmware packets whole");

std::atomic<int> blocksSent{0};

// The last update's report for the operator; the window's worker hands it
// to the job runner, `tern` words its own.
std::mutex reportGuard;
bool reportError = false;
char reportText[BRIDGE_MESSAGE_SIZE] = "";

void setReport(bool error, const char* text) {
  std::lock_guard<std::mutex> g(reportGuard);
  reportError = error;
  snprintf(reportText, sizeof reportText, "%s", text);
}

void postError(const char* what, const std::string& detail, const char* advice) {
  char text[BRIDGE_MESSAGE_SIZE];
  snprintf(text, sizeof text, "%s\n%s\n%s", what, detail.c_str(), advice);
  setReport(true, text);
}

bool endsWith(const std::string& s, const char* suffix) {
  const size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Magic (the first three bytes of the frame magic on the wire), type,
// 0xFF 0xFF, 0x00 0x00, block number (low byte first), 64 data bytes; the
// CRC at 74..75 is left to cable_sendDmxPacket.
void fillPacket(uint8_t* p, uint8_t type, int number, const uint8_t* data) {
  memset(p, 0, FW_PACKET_SIZE);
  p[0] = 0x91;
  p[1] = 0x29;
  p[2] = 0xA9;
  p[FW_OFFSET_TYPE] = type;
  p[4] = 0xFF;
  p[5] = 0xFF;
  p[FW_OFFSET_BLOCK] = (uint8_t)(number & 0xFF);
  p[FW_OFFSET_BLOCK + 1] = (uint8_t)((number >> 8) & 0xFF);
  if (data) memcpy(p + FW_OFFSET_DATA, data, FW_BLOCK_SIZE);
}

// Reads the image into `image` (sized FW_IMAGE_SIZE + 1, filled with the
// filler). Returns its size, or -1 after telling the operator why the file
// is refused.
int readImage(const char* path, std::vector<uint8_t>& image) {
  const int size = read_file(path, image.data(), (int)image.size());
  const char* keep = "Nothing was sent to the devices. Choose a firmware file and run Update FW again.";
  if (size < 0) {
    postError("Cannot open the firmware file:", path, keep);
    return -1;
  }
  if (size == 0) {
    postError("The firmware file is empty or cannot be read:", path, keep);
    return -1;
  }
  if (size > FW_IMAGE_SIZE) {
    char what[96];
    snprintf(what, sizeof what, "The firmware file is larger than %d bytes:", FW_IMAGE_SIZE);
    postError(what, path, keep);
    return -1;
  }
  return size;
}

// Sends one packet FW_COPIES times, each copy followed by `pauseMs`.
// Returns the copies that could not be sent.
int sendCopies(uint8_t* packet, int pauseMs, const char* line, uint32_t uid) {
  int failed = 0;
  for (int i = 0; i < FW_COPIES; i++) {
    if (line) printf(line, (unsigned)uid);
    if (cable_sendDmxPacket(packet) < 0) failed++;
    mySleep(pauseMs);
  }
  return failed;
}

void reportFailedSends(int failed, int total) {
  char text[BRIDGE_MESSAGE_SIZE];
  snprintf(text, sizeof text,
           "The firmware update failed: %d of %d packets could not be sent.\n"
           "Check the cable and run Update FW again.",
           failed, total);
  setReport(true, text);
}

// The extension decides: ".fw" is sent, ".pkg" and anything else refused.
int programByExtension(const std::string& path, uint32_t uid) {
  if (endsWith(path, ".fw")) return makeSendFile(path.c_str(), uid);
  setReport(true, endsWith(path, ".pkg") ? "Package file not implemented." : "Unsupported file extension.");
  return FW_NOT_FIRMWARE;
}

void reportDone(const std::string& path) {
  const int blocks = blocksSent.load();
  char text[BRIDGE_MESSAGE_SIZE];
  snprintf(text, sizeof text,
           "Firmware update done: %d block%s (%d bytes) of\n%s\nwent to every device on the line.",
           blocks, blocks == 1 ? "" : "s", blocks * FW_BLOCK_SIZE, path.c_str());
  setReport(false, text);
}

void workerMain(void* arg) { read_send_file_struct((FirmwareArg*)arg); }

}  // namespace

int makeSendFile(const char* path, uint32_t uid) {
  // The whole image is read before anything is sent; the bytes of the last
  // block beyond it are the filler, so a file always gives the same packets.
  std::vector<uint8_t> image(FW_IMAGE_SIZE + 1, FW_ERASED);
  const int size = readImage(path, image);
  if (size < 0) return FW_REFUSED;
  printf("\nData size: %d\n", size);
  pStatusSt.store(0, std::memory_order_relaxed);
  pStatusTop.store(size / FW_BLOCK_SIZE, std::memory_order_relaxed);

  cable_open();  // a failed open is retried by every send
  uint8_t packet[FW_PACKET_SIZE];
  fillPacket(packet, FW_TYPE_REBOOT, 0, nullptr);
  int failed = sendCopies(packet, FW_REBOOT_PAUSE_MS, "Send reboot %x\n", uid);
  int packets = FW_COPIES;
  mySleep(FW_BOOT_PAUSE_MS);

  int block = 0;
  for (int offset = 0; offset < size; offset += FW_BLOCK_SIZE) {
    fillPacket(packet, FW_TYPE_BLOCK, block, image.data() + offset);
    printf("Send fw %d/%d\n", block, size / FW_BLOCK_SIZE);
    failed += sendCopies(packet, FW_BLOCK_PAUSE_MS, nullptr, uid);
    packets += FW_COPIES;
    block++;
    pStatusSt.store(block, std::memory_order_relaxed);
  }
  blocksSent.store(failed > 0 ? 0 : block);
  // The console says DONE only when every packet went out.
  if (failed > 0)
    printf("Send FAILED. %d of %d packets not sent\n", failed, packets);
  else
    printf("Send DONE. %d/%d\n", block * FW_BLOCK_SIZE, size);
  fflush(stdout);
  cable_free();
  if (failed > 0) {
    reportFailedSends(failed, packets);
    return FW_SEND_FAILED;
  }
  return FW_SENT;
}

int makeProgramDevice(const char* path, uint32_t uid) {
  setReport(false, "");
  return programByExtension(path ? path : "", uid);
}

void read_send_file_struct(FirmwareArg* arg) {
  flushRxBuff();
  setReport(false, "");
  if (programByExtension(arg->path, arg->uid) == FW_SENT) reportDone(arg->path);
  delete arg;
  bool error = false;
  char text[BRIDGE_MESSAGE_SIZE];
  app_firmware_report(&error, text, sizeof text);
  // Told over the full bar; a second later the job runner empties the bar
  // and clears the lock bit, and the thread ends a second after that.
  if (text[0]) job_tell(error, text);
  mySleep(FW_END_PAUSE_MS);
  thrTrans.store(0);
}

int buttonSendAction(uint32_t uid, const char* path) {
  if (!path || !path[0]) return FW_IGNORED;
  uint32_t idle = 0;
  if (!thrTrans.compare_exchange_strong(idle, FW_RUNNING)) return FW_IGNORED;
  FirmwareArg* arg = new (std::nothrow) FirmwareArg{path, uid, 0};
  const int rc = arg ? job_start(LOCK_FIRMWARE, "The firmware update", workerMain, arg, FW_END_PAUSE_MS) : JOB_FAILED;
  if (rc == JOB_STARTED) return FW_STARTED;
  // Nothing runs (the runner told the operator): the update must not stay
  // marked as running.
  delete arg;
  thrTrans.store(0);
  return rc == JOB_BUSY ? FW_IGNORED : FW_START_FAILED;
}

bool app_firmware_workerAlive() { return job_alive(LOCK_FIRMWARE); }

int app_firmware_blocksSent() { return blocksSent.load(); }

void app_firmware_report(bool* error, char* text, int size) {
  std::lock_guard<std::mutex> g(reportGuard);
  if (error) *error = reportError;
  if (size > 0) snprintf(text, (size_t)size, "%s", reportText);
}
