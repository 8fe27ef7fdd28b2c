// The window's commissioning worker: runs a plan of the commissioning
// module (address in sequence, a CSV file applied or only checked), or
// reads listed devices fresh and writes them to a commissioning file, on a
// thread of its own. While it runs it holds lock bit LOCK_COMMISSION, so
// every button that uses the cable is insensitive, and counts the devices
// done in the progress pair; it never touches widgets. The window starts a
// job, watches commissionJob_running on its timer and, once the job has
// ended, shows what it left here.
#pragma once

#include <cstdint>

#include "device/commission.h"

enum {
  COMMISSION_JOB_STARTED = 1,
  COMMISSION_JOB_BUSY = 0,     // a job runs already: nothing started
  COMMISSION_JOB_FAILED = -1,  // the thread could not be started: reported, nothing changed
  COMMISSION_JOB_PATH_SIZE = 4096,
  COMMISSION_JOB_REPORT_SIZE = COMMISSION_JOB_PATH_SIZE + 1024,
};

enum CommissionJobKind {
  COMMISSION_JOB_NONE,
  COMMISSION_JOB_RUN,     // a plan, written or only checked
  COMMISSION_JOB_EXPORT,  // devices read fresh and written to a file
};

// What an export left: how many devices went into the file, which did not
// answer, and the operator's report of it.
struct CommissionExport {
  int written;      // devices in the file (0 when nothing was written)
  bool saved;       // the file was written
  int silentCount;  // devices that did not answer their read: not in the file
  uint32_t silent[COMMISSION_MAX];
  bool cableLost;   // the cable failed: nothing was written
  char report[COMMISSION_JOB_REPORT_SIZE];  // what the operator is told
  bool reportIsError;  // the report tells of a failure
};

// Starts running the plan (copied) on the worker: with checkOnly nothing is
// written. Unless a job runs: then nothing starts (COMMISSION_JOB_BUSY).
int commissionJob_startRun(const CommissionPlan* plan, bool checkOnly);
// Starts reading the count devices (in that order) and writing those that
// answer to `path` as the commissioning file `tern export` writes.
int commissionJob_startExport(const uint32_t* uids, int count, const char* path);
bool commissionJob_running();
// The kind of the job that runs or ran last.
CommissionJobKind commissionJob_kind();
// Devices done so far by the running job, and how many it has.
int commissionJob_done();
int commissionJob_total();

// The worker's body, which the thread runs (tests call it directly). Ends
// with the progress pair idle and the lock bit cleared.
void commissionJob_body(void* unused);

// What the last job left; read them once commissionJob_running is false.
const CommissionRun* commissionJob_run();
const CommissionExport* commissionJob_export();

// The report of one device's result as the window lists it:
// "%08X (line %d)" or "%08X", then the outcome, then what changed (or would)
// or why it failed.
void commissionJob_resultLine(const CommissionResult* r, char* text, int size);
// The totals of a run: "5 devices: 4 changed, 1 not found."
void commissionJob_summary(const CommissionRun* run, char* text, int size);
// Devices of a run with the given outcome.
int commissionJob_count(const CommissionRun* run, CommissionOutcome outcome);

// Replaces how the worker thread is started (tests make it fail or run it
// in place); null restores thread_start.
typedef int (*CommissionThreadStarter)(void (*fn)(void*), void* arg);
void commissionJob_setStarter(CommissionThreadStarter starter);
