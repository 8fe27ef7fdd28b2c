// The window's commissioning worker: runs a plan of the commissioning
// module (address in sequence, a CSV file applied or only checked), or
// reads listed devices fresh and writes them to a record file, on the job
// runner (device/job.h) with lock bit LOCK_COMMISSION, so every button that
// uses the cable is insensitive meanwhile, and counts the devices done in
// the progress pair; it never touches widgets. The window starts a job,
// watches commissionJob_running on its timer and, once the job has ended,
// shows what it left here. job_requestStop(LOCK_COMMISSION) stops a run
// between two devices.
//
// Starting returns job_start's codes (JOB_STARTED, JOB_BUSY, JOB_FAILED).
#pragma once

#include <cstdint>

#include "device/commission.h"
#include "device/rig.h"

enum CommissionJobKind {
  COMMISSION_JOB_NONE,
  COMMISSION_JOB_RUN,     // a plan, written or only checked
  COMMISSION_JOB_EXPORT,  // devices read fresh and written to a file
};

enum { COMMISSION_JOB_REPORT_SIZE = RIG_PATH_SIZE + 1024 };

// What an export left: the devices read and not answering, whether the file
// was written, and the operator's report of it.
struct CommissionExport {
  RigExport read;
  bool saved;          // the file was written
  bool cableLost;      // the cable failed: nothing was written
  // (read.stopped: the run was stopped, and nothing was written either)
  char report[COMMISSION_JOB_REPORT_SIZE];  // what the operator is told
  bool reportIsError;  // the report tells of a failure
};

// Starts running the plan (copied) on the worker: with checkOnly nothing is
// written.
int commissionJob_startRun(const CommissionPlan* plan, bool checkOnly);
// Starts reading the count devices (in that order) and writing those that
// answer to `path` as the record file `tern export` writes.
int commissionJob_startExport(const uint32_t* uids, int count, const char* path);
bool commissionJob_running();
// Whether the running (or last) job writes to the devices: a plan run that
// is not only a check.
bool commissionJob_writes();
// The kind of the job that runs or ran last.
CommissionJobKind commissionJob_kind();
// Devices done so far by the running job, and how many it has.
int commissionJob_done();
int commissionJob_total();

// What the last job left; read them once commissionJob_running is false.
const CommissionRun* commissionJob_run();
const CommissionExport* commissionJob_export();
