// Firmware update of the devices on the line: the image of a ".fw" file is
// streamed on a worker thread as 76-byte packets without a frame: five
// reboot packets, a pause, then every 64-byte block five times with its CRC.
// Nothing is acknowledged. The worker holds the cable for the whole stream,
// counts the blocks in the progress pair and holds lock bit LOCK_FIRMWARE
// while it runs (device/bridge.h); it never touches widgets.
#pragma once

#include <atomic>
#include <cstdint>

enum {
  FW_IMAGE_SIZE = 131072,  // the largest image a device takes
  FW_BLOCK_SIZE = 64,
  FW_COPIES = 5,           // each reboot packet and each block goes out this often
  FW_PACKET_SIZE = 76,
  FW_RUNNING = 0xFF,       // thrTrans while an update runs
};

// Results of makeSendFile and makeProgramDevice.
enum {
  FW_SENT = 0,
  FW_REFUSED = -1,      // the file was refused (unreadable, empty, too large): nothing sent
  FW_SEND_FAILED = -2,  // the stream ran, but sends failed (no cable): reported to the operator
  FW_NOT_FIRMWARE = -3, // not a ".fw" file: reported, nothing sent
};

// Results of buttonSendAction.
enum {
  FW_STARTED = 1,
  FW_IGNORED = 0,       // empty path, or an update is running
  FW_START_FAILED = -1, // the worker could not be started: reported, nothing changed
};

// FW_RUNNING while an update runs, else 0.
extern std::atomic<uint32_t> thrTrans;

// The worker's argument. The worker owns it, with its own copy of the path.
struct FirmwareArg;

// Starts the update of `path` on a worker of the job runner (device/job.h),
// which posts the report as the worker ends; the UID shows only in the
// console lines. Ignored when the path is empty or an update is running.
int buttonSendAction(uint32_t uid, const char* path);
// The worker's body: chooses by the file's extension (".fw" is sent, ".pkg"
// and anything else are refused with a message), then clears thrTrans and
// the lock bit 1 s after the stream, and ends 1 s later. Frees `arg`.
void read_send_file_struct(FirmwareArg* arg);
// Reads the whole file, then sends the reboot packets and the image. A file
// that cannot be read, is empty or is larger than FW_IMAGE_SIZE is refused
// before anything is sent; the reason, or the result, goes to
// app_firmware_report.
int makeSendFile(const char* path, uint32_t uid);
// The worker's choice by extension on the calling thread, without the lock
// and the pauses.
int makeProgramDevice(const char* path, uint32_t uid);

// Whether a worker thread is still alive (including its last pause after
// thrTrans was cleared).
bool app_firmware_workerAlive();
// Blocks that every device received in the last update that sent them all
// (0 when it failed or none ran).
int app_firmware_blocksSent();

// The report of the last update or refusal for the operator (the window
// shows it as the worker ends): error true for a refusal or a failure; ""
// when none was made yet.
void app_firmware_report(bool* error, char* text, int size);
