#include "device/commission_job.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "device/job.h"

namespace {

// The job's input and output. The window reads them only while no job
// runs; the worker writes them only while one does (the lock bit orders
// the two: set before the thread exists, released after the body's last
// word on them).
std::atomic<int> kind{COMMISSION_JOB_NONE};
std::atomic<int> doneNow{0};
std::atomic<int> total{0};
std::atomic<bool> writes{false};

bool checkOnly = false;
CommissionPlan plan;
CommissionRun run;
uint32_t exportUids[COMMISSION_MAX];
int exportCount = 0;
char exportPath[RIG_PATH_SIZE];
CommissionExport exported;

void progress(int done) {
  doneNow.store(done);
  pStatusSt.store(done, std::memory_order_relaxed);
}

void progressOf(int done, void*) {
  progress(done);
  job_checkpoint(LOCK_COMMISSION);  // held here while the window asks whether to close
}

void runPlan() {
  commission_begin(&run, &plan, checkOnly, job_stopFlag(LOCK_COMMISSION));
  while (commission_step(&run)) {
    progress(commission_done(&run));
    job_checkpoint(LOCK_COMMISSION);  // held here while the window asks whether to close
  }
  progress(commission_done(&run));
}

void report(bool error, const char* fmt, const char* a, const char* b) {
  exported.reportIsError = error;
  snprintf(exported.report, sizeof exported.report, fmt, a, b);
}

// The devices that did not answer, after the report: "A, B and 3 more".
void appendSilent() {
  const RigExport& r = exported.read;
  if (r.silentCount == 0) return;
  size_t used = strlen(exported.report);
  const size_t size = sizeof exported.report;
  used += (size_t)snprintf(exported.report + used, size - used, "\n\nNot responding, left out of the file:");
  enum { SHOWN = 40 };
  for (int i = 0; i < r.silentCount && i < SHOWN && used < size; i++)
    used += (size_t)snprintf(exported.report + used, size - used, "%s %08X", i ? "," : "", (unsigned)r.silent[i]);
  if (r.silentCount > SHOWN && used < size)
    snprintf(exported.report + used, size - used, " and %d more", r.silentCount - SHOWN);
  exported.reportIsError = true;
}

void runExport() {
  memset((void*)&exported, 0, sizeof exported);
  if (!rig_exportRead(exportUids, exportCount, &exported.read, progressOf, nullptr, job_stopFlag(LOCK_COMMISSION))) {
    if (exported.read.stopped) {
      // A stop the operator asked for is no error; half a record would
      // replace a whole one, so nothing is written.
      char done[64];
      snprintf(done, sizeof done, "%d of %d device%s", exported.read.count + exported.read.silentCount, exportCount,
               exportCount == 1 ? "" : "s");
      report(false, "Stopped after %s.\n\nNothing was written to\n%s", done, exportPath);
      return;
    }
    exported.cableLost = true;
    report(true, "%s\n\nNothing was written to\n%s", rig_cableText(exported.read.failure), exportPath);
    return;
  }
  const int err = rig_writeRecord(exportPath, exported.read.records, exported.read.count);
  if (err != 0) {
    report(true, "The devices could not be written to\n%s\n%s", exportPath, strerror(err));
    return;
  }
  exported.saved = true;
  char count[32];
  snprintf(count, sizeof count, "%d device%s", exported.read.count, exported.read.count == 1 ? "" : "s");
  report(false, "%s written to\n%s", count, exportPath);
  appendSilent();
}

void body(void*) {
  if (kind.load() == COMMISSION_JOB_EXPORT)
    runExport();
  else
    runPlan();
}

int start(CommissionJobKind k, int count) {
  kind.store(k);
  total.store(count);
  doneNow.store(0);
  pStatusSt.store(0, std::memory_order_relaxed);
  pStatusTop.store(count, std::memory_order_relaxed);
  return job_start(LOCK_COMMISSION, "The commissioning run", body, nullptr);
}

}  // namespace

int commissionJob_startRun(const CommissionPlan* p, bool check) {
  if (!p || job_running(LOCK_COMMISSION)) return JOB_BUSY;
  plan = *p;
  checkOnly = check;
  writes.store(!check);
  return start(COMMISSION_JOB_RUN, plan.count);
}

int commissionJob_startExport(const uint32_t* uids, int count, const char* path) {
  if (!uids || !path || job_running(LOCK_COMMISSION)) return JOB_BUSY;
  exportCount = count < COMMISSION_MAX ? (count > 0 ? count : 0) : COMMISSION_MAX;
  if (exportCount > 0) memcpy(exportUids, uids, sizeof(uint32_t) * (size_t)exportCount);
  snprintf(exportPath, sizeof exportPath, "%s", path);
  writes.store(false);
  return start(COMMISSION_JOB_EXPORT, exportCount);
}

bool commissionJob_running() { return job_running(LOCK_COMMISSION); }

bool commissionJob_writes() { return writes.load(); }

CommissionJobKind commissionJob_kind() { return (CommissionJobKind)kind.load(); }

int commissionJob_done() { return doneNow.load(); }

int commissionJob_total() { return total.load(); }

const CommissionRun* commissionJob_run() { return &run; }

const CommissionExport* commissionJob_export() { return &exported; }
