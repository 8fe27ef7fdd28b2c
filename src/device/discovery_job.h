// The discovery worker of the shell: runs a whole discovery on a thread of
// its own, reads the settings of every device found, publishes the list of
// found UIDs for the window, reports the count when asked to, and clears
// its lock bit. The window starts it (after clearing its device list) and
// fills the list when a new result is published.
#pragma once

#include <atomic>
#include <cstdint>

enum {
  DISCOVERY_JOB_MAX = 200,        // UIDs one discovery can find
  DISCOVERY_JOB_RUNNING = 0xFF,   // thrDisc while a worker runs
  DISCOVERY_JOB_STARTED = 1,
  DISCOVERY_JOB_BUSY = 0,         // a worker runs already: nothing started
  DISCOVERY_JOB_FAILED = -1,      // the thread could not be started
};

// DISCOVERY_JOB_RUNNING while a worker runs, 0 otherwise.
extern std::atomic<int32_t> thrDisc;
// 1 when the running or next discovery reports "%d devices found.".
extern std::atomic<int32_t> discoveryMsg;

// Unless a worker runs: empties the device table, marks the worker running
// (thrDisc, lock bit LOCK_DISCOVERY) and starts it. When the thread cannot
// be started both marks are taken back and the operator is told.
int discoveryJob_start();
bool discoveryJob_running();
// The worker's body; arg is not used.
void makeDiscoveryThr(void* arg);

// The UIDs of the last finished discovery in the order found: copies up to
// capacity of them into out and returns how many there are; generation
// (optional) receives the result's number, which rises by one with every
// finished discovery (0: none yet).
int discoveryJob_found(uint32_t* out, int capacity, uint32_t* generation);
uint32_t discoveryJob_generation();

// Replaces how the worker thread is started (tests make it fail); null
// restores thread_start.
typedef int (*DiscoveryThreadStarter)(void (*fn)(void*), void* arg);
void discoveryJob_setStarter(DiscoveryThreadStarter starter);
