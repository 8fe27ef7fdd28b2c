#include "device/commission_job.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/bridge.h"
#include "device/commission_csv.h"
#include "device/exchange.h"
#include "link/fileio.h"
#include "platform/thread.h"

namespace {

// The job's input and output. The window reads them only while no job
// runs; the worker writes them only while one does (`running` orders the
// two, set by the starter before the thread exists and cleared by the
// worker with release as its last word on them).
std::atomic<bool> running{false};
std::atomic<int> kind{COMMISSION_JOB_NONE};
std::atomic<int> doneNow{0};
std::atomic<int> total{0};
std::atomic<CommissionThreadStarter> starter{nullptr};

bool checkOnly = false;
CommissionPlan plan;
CommissionRun run;
uint32_t exportUids[COMMISSION_MAX];
int exportCount = 0;
char exportPath[COMMISSION_JOB_PATH_SIZE];
CommissionExport exported;
Device records[COMMISSION_MAX];
char csvText[COMMISSION_CSV_SIZE];

void progress(int done) {
  doneNow.store(done);
  pStatusSt.store(done, std::memory_order_relaxed);
}

// Marks the job running, holds the lock bit and starts the worker; takes
// everything back when the thread cannot be started.
int start(CommissionJobKind k, int count) {
  kind.store(k);
  total.store(count);
  doneNow.store(0);
  setLock(LOCK_COMMISSION);
  pStatusSt.store(0, std::memory_order_relaxed);
  pStatusTop.store(count, std::memory_order_relaxed);
  CommissionThreadStarter s = starter.load();
  const int rc = s ? s(commissionJob_body, nullptr) : thread_start(commissionJob_body, nullptr);
  if (rc == 0) return COMMISSION_JOB_STARTED;
  running.store(false);
  bridge_progressIdle();
  remLock(LOCK_COMMISSION);
  char text[128];
  snprintf(text, sizeof text, "The devices could not be worked on: %s.", strerror(rc));
  messageError(text);
  return COMMISSION_JOB_FAILED;
}

void runPlan() {
  commission_begin(&run, &plan, checkOnly);
  while (commission_step(&run)) progress(commission_done(&run));
  progress(commission_done(&run));
}

void report(bool error, const char* fmt, const char* a, const char* b) {
  exported.reportIsError = error;
  snprintf(exported.report, sizeof exported.report, fmt, a, b);
}

// The devices that did not answer, after the report: "A, B and 3 more".
void appendSilent() {
  if (exported.silentCount == 0) return;
  size_t used = strlen(exported.report);
  const size_t size = sizeof exported.report;
  used += (size_t)snprintf(exported.report + used, size - used, "\n\nNot responding, left out of the file:");
  enum { SHOWN = 40 };
  for (int i = 0; i < exported.silentCount && i < SHOWN && used < size; i++)
    used += (size_t)snprintf(exported.report + used, size - used, "%s %08X", i ? "," : "",
                             (unsigned)exported.silent[i]);
  if (exported.silentCount > SHOWN && used < size)
    snprintf(exported.report + used, size - used, " and %d more", exported.silentCount - SHOWN);
  exported.reportIsError = true;
}

void runExport() {
  memset(&exported, 0, sizeof exported);
  int n = 0;
  for (int i = 0; i < exportCount; i++) {
    const int read = commission_read(exportUids[i], &records[n]);
    progress(i + 1);
    if (read > 0) {
      n++;
    } else if (commission_cableFailed(read)) {
      exported.cableLost = true;
      report(true, "%s\n\nNothing was written to\n%s", exchange_cableText(read), exportPath);
      return;
    } else {
      exported.silent[exported.silentCount++] = exportUids[i];
    }
  }
  if (commission_csvFormat(records, n, csvText, sizeof csvText) < 0) {
    report(true, "The devices do not fit into one file: nothing was written to\n%s%s", exportPath, "");
    return;  // cannot happen: every row is short
  }
  if (save_file(exportPath, csvText) != 0) {
    report(true, "The devices could not be written to\n%s\n%s", exportPath, strerror(errno));
    return;
  }
  exported.saved = true;
  exported.written = n;
  char count[16];
  snprintf(count, sizeof count, "%d", n);
  report(false, "%s devices written to\n%s", count, exportPath);
  appendSilent();
}

}  // namespace

int commissionJob_startRun(const CommissionPlan* p, bool check) {
  if (!p || running.exchange(true)) return COMMISSION_JOB_BUSY;
  plan = *p;
  checkOnly = check;
  return start(COMMISSION_JOB_RUN, plan.count);
}

int commissionJob_startExport(const uint32_t* uids, int count, const char* path) {
  if (!uids || !path || running.exchange(true)) return COMMISSION_JOB_BUSY;
  exportCount = count < COMMISSION_MAX ? (count > 0 ? count : 0) : COMMISSION_MAX;
  if (exportCount > 0) memcpy(exportUids, uids, sizeof(uint32_t) * (size_t)exportCount);
  snprintf(exportPath, sizeof exportPath, "%s", path);
  return start(COMMISSION_JOB_EXPORT, exportCount);
}

bool commissionJob_running() { return running.load(); }

CommissionJobKind commissionJob_kind() { return (CommissionJobKind)kind.load(); }

int commissionJob_done() { return doneNow.load(); }

int commissionJob_total() { return total.load(); }

void commissionJob_body(void*) {
  if (kind.load() == COMMISSION_JOB_EXPORT)
    runExport();
  else
    runPlan();
  bridge_progressIdle();
  running.store(false, std::memory_order_release);
  remLock(LOCK_COMMISSION);
}

const CommissionRun* commissionJob_run() { return &run; }

const CommissionExport* commissionJob_export() { return &exported; }

void commissionJob_resultLine(const CommissionResult* r, char* text, int size) {
  if (size <= 0) return;
  char from[40];
  if (r->line > 0)
    snprintf(from, sizeof from, "%08X (line %d)", (unsigned)r->uid, r->line);
  else
    snprintf(from, sizeof from, "%08X", (unsigned)r->uid);
  char detail[COMMISSION_TEXT_SIZE];
  switch (r->outcome) {
    case COMMISSION_UNCHANGED:
    case COMMISSION_NOT_REACHED:
      detail[0] = 0;
      break;
    case COMMISSION_CHANGED:
    case COMMISSION_WOULD_CHANGE:
      commission_changesText(r, detail, sizeof detail);
      break;
    default:
      snprintf(detail, sizeof detail, "%s", r->text);
      break;
  }
  snprintf(text, (size_t)size, "%-20s %-13s %s", from, commission_outcomeName(r->outcome), detail);
  // No blanks at the end of a line that says no more than its outcome.
  for (int n = (int)strlen(text); n > 0 && text[n - 1] == ' '; n--) text[n - 1] = 0;
}

int commissionJob_count(const CommissionRun* r, CommissionOutcome outcome) {
  int n = 0;
  for (int i = 0; r->plan && i < r->plan->count; i++) n += r->results[i].outcome == outcome ? 1 : 0;
  return n;
}

void commissionJob_summary(const CommissionRun* r, char* text, int size) {
  if (size <= 0) return;
  const int count = r->plan ? r->plan->count : 0;
  int used = snprintf(text, (size_t)size, "%d devices", count);
  int named = 0;
  for (int o = 0; o < COMMISSION_OUTCOMES && used < size; o++) {
    const int n = commissionJob_count(r, (CommissionOutcome)o);
    if (n == 0) continue;
    used += snprintf(text + used, (size_t)(size - used), "%s %d %s", named++ ? "," : ":", n,
                     commission_outcomeName((CommissionOutcome)o));
  }
  if (used < size) snprintf(text + used, (size_t)(size - used), ".");
}

void commissionJob_setStarter(CommissionThreadStarter s) { starter.store(s); }
