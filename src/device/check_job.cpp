#include "device/check_job.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "device/bridge.h"
#include "device/devices.h"
#include "device/discovery_job.h"
#include "device/job.h"

namespace {

// The job's input and output. The window reads them only while no job
// runs; the worker writes them only while one does (the lock bit orders
// the two: set before the thread exists, released after the body's last
// word on them). The progress is read while the job runs: atomics.
std::atomic<int> kind{CHECK_JOB_NONE};
std::atomic<int> phase{RIG_CHECK_MUTING};
std::atomic<int> doneNow{0};
std::atomic<int> totalNow{0};

char path[RIG_PATH_SIZE];
CommissionPlan record;
RigCheck check;
RigPair pairs[RIG_MAX];
RigReplace replaced[RIG_MAX];
int pairCount = 0;
int pairsDone = 0;

void progress(int p, int done, int total) {
  phase.store(p);
  doneNow.store(done);
  totalNow.store(total);
  pStatusTop.store(total > 0 ? total : 1, std::memory_order_relaxed);
  pStatusSt.store(done, std::memory_order_relaxed);
}

void onProgress(RigCheckPhase p, int done, int total, void*) { progress(p, done, total); }

// A record device that took its mute, and a device the record does not
// name: listed at once, read later.
void onPresent(int row, void*) {
  discoveryJob_publish(check.rows[row].uid);
  job_checkpoint(LOCK_CHECK);  // held here while the window asks whether to close
}

void onNew(uint32_t uid, void*) {
  discoveryJob_publish(uid);
  job_checkpoint(LOCK_CHECK);
}

// Whether a device the list shows was never asked for its settings (the
// cable failed, or the check stopped, first).
bool leftUnread() {
  static uint32_t listed[DISCOVERY_JOB_MAX];
  const int n = discoveryJob_found(listed, DISCOVERY_JOB_MAX, nullptr);
  for (int k = 0; k < n && k < DISCOVERY_JOB_MAX; k++) {
    for (int i = 0; i < check.count; i++)
      if (check.rows[i].uid == listed[k] && check.rows[i].status == RIG_CHECK_NOT_READ) return true;
    for (int i = 0; i < check.newCount; i++)
      if (check.fresh[i].uid == listed[k] && check.fresh[i].read == RIG_NOT_READ) return true;
  }
  return false;
}

void runCheck() {
  check.onPresent = onPresent;
  check.onNew = onNew;
  check.onProgress = onProgress;
  check.ctx = nullptr;
  check.stop = job_stopFlag(LOCK_CHECK);
  rig_check(&record, &check);
  // A record device that never takes its mute is read all the same: listed too.
  for (int i = 0; i < check.count; i++)
    if (check.rows[i].status != RIG_CHECK_MISSING && check.rows[i].status != RIG_CHECK_NOT_READ)
      discoveryJob_publish(check.rows[i].uid);
  discoveryJob_listEnd(leftUnread());
}

void runReplace() {
  for (pairsDone = 0; pairsDone < pairCount; pairsDone++) {
    job_checkpoint(LOCK_CHECK);
    if (job_stopRequested(LOCK_CHECK)) break;
    progress(-1, pairsDone, pairCount);
    const RigPair& p = pairs[pairsDone];
    rig_replace(path, &record, p.oldUid, p.newUid, &replaced[pairsDone]);
    // The cable is gone: the pairs after it would fail the same way.
    if (replaced[pairsDone].status == RIG_REPLACE_CABLE_FAILED) {
      pairsDone++;
      break;
    }
  }
  progress(-1, pairsDone, pairCount);
}

void body(void*) {
  if (kind.load() == CHECK_JOB_REPLACE)
    runReplace();
  else
    runCheck();
}

int start(CheckJobKind k) {
  kind.store(k);
  return job_start(LOCK_CHECK, k == CHECK_JOB_CHECK ? "The check" : "The replacement", body, nullptr);
}

bool busy() { return lockComponents.load() != 0; }

}  // namespace

int checkJob_startCheck(const char* p, const CommissionPlan* r) {
  if (!p || !r || busy()) return JOB_BUSY;
  snprintf(path, sizeof path, "%s", p);
  record = *r;
  pairCount = pairsDone = 0;
  progress(RIG_CHECK_MUTING, 0, record.count);
  // The table shows what this check finds, as a discovery starts afresh.
  dev_removeAll();
  discoveryJob_listBegin();
  const int rc = start(CHECK_JOB_CHECK);
  if (rc != JOB_STARTED) discoveryJob_listEnd(false);
  return rc;
}

int checkJob_startReplace(const RigPair* p, int count) {
  if (!p || count <= 0 || busy()) return JOB_BUSY;
  pairCount = count < RIG_MAX ? count : RIG_MAX;
  pairsDone = 0;
  memcpy(pairs, p, sizeof(RigPair) * (size_t)pairCount);
  memset((void*)replaced, 0, sizeof replaced);
  progress(-1, 0, pairCount);
  return start(CHECK_JOB_REPLACE);
}

bool checkJob_running() { return job_running(LOCK_CHECK); }

CheckJobKind checkJob_kind() { return (CheckJobKind)kind.load(); }

void checkJob_progressText(char* text, int size) {
  if (!text || size <= 0) return;
  const int done = doneNow.load(), total = totalNow.load();
  if (kind.load() == CHECK_JOB_REPLACE) {
    snprintf(text, (size_t)size, "Replacing: %d of %d device%s done", done, total, total == 1 ? "" : "s");
    return;
  }
  switch (phase.load()) {
    case RIG_CHECK_SEARCHING:
      snprintf(text, (size_t)size, "Checking: searching, %d new device%s found", done, done == 1 ? "" : "s");
      break;
    case RIG_CHECK_READING: snprintf(text, (size_t)size, "Checking: reading %d of %d", done, total); break;
    default: snprintf(text, (size_t)size, "Checking: muting %d of %d", done, total); break;
  }
}

const RigCheck* checkJob_check() { return &check; }

const char* checkJob_path() { return path; }

const CommissionPlan* checkJob_record() { return &record; }

const RigReplace* checkJob_replaced(int* done, int* count) {
  if (done) *done = pairsDone;
  if (count) *count = pairCount;
  return replaced;
}

const RigPair* checkJob_pairs() { return pairs; }
