// The bridge from background jobs to the window, free of GTK so that the
// device commands' workers can use it: the progress pair, the lock word with
// one bit per running background job, the selected device, and the one-slot
// message box. Workers write here and never touch widgets; the window's
// 100 ms timer reads it all on the GUI thread (app/mainWin).
#pragma once

#include <atomic>
#include <cstdint>

enum {
  BRIDGE_MESSAGE_SIZE = 512,  // the slot's text, terminator included
  LOCK_FIRMWARE = 1,          // lock bit of the firmware update
  LOCK_DISCOVERY = 2,         // lock bit of the discovery
  LOCK_COMMISSION = 4,        // lock bit of the commissioning runs (address in sequence, export, apply)
  LOCK_DALI = 8,              // lock bit of the DALI panel's randomize, search and read
  LOCK_CHECK = 16,            // lock bit of the window's record check and its replacements
  BRIDGE_INFO = 1,            // message kinds
  BRIDGE_ERROR = -1,
};

// Progress total and progress done so far.
extern std::atomic<int32_t> pStatusTop;
extern std::atomic<int32_t> pStatusSt;
// One bit per running background job.
extern std::atomic<uint32_t> lockComponents;
// UID of the device selected in the device list; 0xFFFFFFFF means none.
extern std::atomic<uint32_t> selected_dev;

// The progress pair as at start (nothing of 100 done): an empty bar. Every
// background job ends with it, so the bar does not stay full.
void bridge_progressIdle();

void setLock(uint32_t bits);
void remLock(uint32_t bits);

// Post a message for the operator from any thread; echoed on the console as
// "INFO: %s" on standard output or "ERROR: %s" on standard error. A worker
// waits while the slot is taken; the GUI thread never waits (the timer that
// frees the slot runs on it): when the slot is taken it shows its message at
// once through the shower.
void messageInfo(const char* text);
void messageError(const char* text);

// For the window: the thread that runs the timer, and how to show a message
// at once (type BRIDGE_INFO or BRIDGE_ERROR).
typedef void (*BridgeShower)(int type, const char* text);
void bridge_setGuiThread();
bool bridge_onGuiThread();
void bridge_setShower(BridgeShower shower);
// The timer's side of the slot: shows the pending message, if any, through
// the shower and then frees the slot. Returns whether one was shown.
bool bridge_showPending();
