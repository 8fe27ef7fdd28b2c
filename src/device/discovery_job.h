// The discovery worker of the shell: runs a discovery in one of its modes
// on a thread of its own, publishes each device for the window's list as it
// is found, reads the settings of the devices found, reports how it ended,
// and clears its lock bit. The window starts it (after clearing its device
// list, unless it only looks for new devices) and fills the list whenever a
// new result is published.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/app_discovery.h"

enum {
  DISCOVERY_JOB_MAX = 200,        // UIDs one discovery can find
  DISCOVERY_JOB_RUNNING = 0xFF,   // thrDisc while a worker runs
};

// DISCOVERY_JOB_RUNNING while a worker runs, 0 otherwise.
extern std::atomic<int32_t> thrDisc;
// 1 when the running or next Discovery reports "%d devices found." (Quick
// discovery and Find new devices always report).
extern std::atomic<int32_t> discoveryMsg;

// Unless a worker runs: empties the device table and the list (not for
// DISCOVERY_NEW), marks the worker running (thrDisc) and starts it on the
// job runner with lock bit LOCK_DISCOVERY. Returns job_start's codes
// (device/job.h); when the thread cannot be started thrDisc is taken back
// too. job_requestStop(LOCK_DISCOVERY) ends a run between two exchanges,
// keeping the devices found.
int discoveryJob_start(DiscoveryMode mode = DISCOVERY_FULL);
bool discoveryJob_running();
// The worker's body; arg points to the DiscoveryMode (null: DISCOVERY_FULL).
// At its end it reports: a failure (the cable, a device that does not
// mute, the cable failing while the devices found are read) as an error;
// else "%d new devices found." for DISCOVERY_NEW, and "%d devices found."
// for Quick discovery and for Discovery when asked; a stopped run as
// "Stopped: %d devices found.".
void makeDiscoveryThr(void* arg);
// What the last discovery's report said (also when it posted none).
void discoveryJob_lastReport(char* text, int size);
// Devices the running discovery has found so far; -1 when none runs.
int discoveryJob_foundNow();
// True when the last discovery could not read every device it found
// because the cable failed: the devices without a record were not read.
bool discoveryJob_readsStopped();

// How far the running discovery has got, for the window's progress bar:
// its mode, the devices found, the search's estimate of how many it will
// find (0 until it can tell; never below found), and the devices whose
// settings read has ended (0 while it still searches). False (and *out
// untouched) when none runs.
struct DiscoveryJobProgress {
  DiscoveryMode mode;
  int found;
  int estimate;
  int read;
};
bool discoveryJob_progress(DiscoveryJobProgress* out);

// Unless a discovery runs: empties the list of devices found and the
// device table, as before the first discovery (the window switched to
// another line, whose devices are not these). False when one runs.
bool discoveryJob_forget();

// The UIDs listed in the order found (during a discovery, those found so
// far; Find new devices appends to the list before it): copies up to
// capacity of them into out and returns how many there are; generation
// (optional) receives the result's number, which rises with every change
// (0: none yet).
int discoveryJob_found(uint32_t* out, int capacity, uint32_t* generation);
uint32_t discoveryJob_generation();


// For another worker that finds devices, the window's record check: starts
// the list afresh (its rows read "reading…" meanwhile), lists each device as
// the worker finds it (once), and ends the list, saying whether devices
// found were left unread (the cable failed or the worker stopped first).
void discoveryJob_listBegin();
void discoveryJob_publish(uint32_t uid);
void discoveryJob_listEnd(bool readsStopped);
// Whether the devices listed are still being found or read: a discovery
// runs, or another worker's list is not ended.
bool discoveryJob_reading();
