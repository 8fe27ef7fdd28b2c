// One runner for every background job of the program: the discoveries, the
// commissioning runs, the firmware update and the DALI panel's work. A job
// holds one lock bit of the bridge (device/bridge.h) from before its thread
// exists until after its body has returned, so every button that uses the
// cable is insensitive meanwhile; it may be asked to stop, and its body
// looks at the request between two exchanges; it may leave one message for
// the operator, which the runner posts as the body returns. On every path
// (done, stopped, failed, a thread that never started) the lock bit is
// released and the progress pair is left idle.
//
// Return values of job_start, as the header documents them for callers:
//   JOB_STARTED  the body runs (or will run) on its own thread;
//   JOB_BUSY     a job with that lock bit runs already: nothing started;
//   JOB_FAILED   the thread could not be started: the operator has been told
//                "<what> could not be started: <reason>." once, and the lock
//                bit is free again. Nothing runs on the caller's thread instead.
#pragma once

#include <atomic>
#include <cstdint>

enum {
  JOB_STARTED = 1,
  JOB_BUSY = 0,
  JOB_FAILED = -1,
  JOB_MESSAGE_SIZE = 512,
};

// Starts body(arg) on a worker thread holding lock bit `lock` (one of the
// LOCK_* bits). `what` names the work for the message when no thread can be
// started ("Discovery", "The firmware update"). arg stays the caller's: the
// body frees what it owns, and on JOB_BUSY and JOB_FAILED the caller does.
// A thread may linger `lingerMs` after its lock bit is released before it
// ends (the firmware worker's last pause).
int job_start(uint32_t lock, const char* what, void (*body)(void*), void* arg, int lingerMs = 0);
// Whether a job holding `lock` runs (its bit is held).
bool job_running(uint32_t lock);
// Whether a thread of a job with `lock` is still alive, lingering included.
bool job_alive(uint32_t lock);

// Asks the job holding `lock` to stop at its next chance; ignored when none
// runs. The request is cleared when the next job with that bit starts.
void job_requestStop(uint32_t lock);
// For the body: whether it was asked to stop, and the flag itself for code
// that only takes a flag (the discovery's search).
bool job_stopRequested(uint32_t lock);
const std::atomic<bool>* job_stopFlag(uint32_t lock);

// Holds the job holding `lock` at its next checkpoint until it is let go
// again (paused false) or asked to stop; the window pauses a run while it
// asks whether to close. Ignored when none runs; a new job starts unpaused.
void job_pause(uint32_t lock, bool paused);
bool job_paused(uint32_t lock);
// For the body, between two exchanges: waits while the job is paused and
// not asked to stop.
void job_checkpoint(uint32_t lock);

// For the body: the message the runner posts as the body returns (the last
// one set wins; error true posts it as an error).
void job_setMessage(uint32_t lock, bool error, const char* text);
// For the body: a message posted now, while the job goes on (the firmware
// update tells its result over the full bar before its last pause).
void job_tell(bool error, const char* text);

// Replaces how the worker thread is started (tests make it fail, or keep
// the start to run it themselves); null restores thread_start. A starter
// returns 0 or an error number, as thread_start does.
typedef int (*JobThreadStarter)(void (*fn)(void*), void* arg);
void job_setStarter(JobThreadStarter starter);
