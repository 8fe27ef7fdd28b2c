#include "device/discovery_job.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/commission.h"
#include "device/devices.h"
#include "device/exchange.h"
#include "platform/thread.h"

std::atomic<int32_t> thrDisc{0};
std::atomic<int32_t> discoveryMsg{0};

namespace {

const DiscoveryMode kModes[] = {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW};

// The list the window shows: the devices found, in order, as they are found.
std::mutex resultGuard;
uint32_t result[DISCOVERY_JOB_MAX];
int resultCount = 0;
std::atomic<uint32_t> resultGeneration{0};
std::atomic<int32_t> foundNow{-1};
std::atomic<bool> readsStopped{false};
std::atomic<DiscoveryThreadStarter> starter{nullptr};

void publishAll(const uint32_t* uids, int count) {
  std::lock_guard<std::mutex> g(resultGuard);
  if (count > 0) memcpy(result, uids, sizeof(uint32_t) * (size_t)count);
  resultCount = count;
  resultGeneration.fetch_add(1);
}

// Appends uid to the list unless it is there already (a device found
// before and powered up again); true when it was new.
bool publishOne(uint32_t uid) {
  std::lock_guard<std::mutex> g(resultGuard);
  for (int i = 0; i < resultCount; i++)
    if (result[i] == uid) return false;
  if (resultCount >= DISCOVERY_JOB_MAX) return false;
  result[resultCount++] = uid;
  resultGeneration.fetch_add(1);
  return true;
}

// The devices a run found that the list did not hold before.
struct Fresh {
  uint32_t uids[DISCOVERY_JOB_MAX];
  int count = 0;
};

void onFound(uint32_t uid, void* ctx) {
  Fresh* fresh = (Fresh*)ctx;
  if (publishOne(uid) && fresh->count < DISCOVERY_JOB_MAX) fresh->uids[fresh->count++] = uid;
  foundNow.fetch_add(1);
}

// Reads the settings of the devices; stops at the first read the cable
// fails, since every read after it would fail the same way. Returns that
// read's result, or 0.
int readAll(const uint32_t* uids, int count) {
  for (int i = 0; i < count && uids[i] != 0; i++) {
    const int r = app_setup_read(uids[i]);
    if (commission_cableFailed(r)) return r;
  }
  return 0;
}

// readFailure: the result of the read the cable failed, or 0.
void report(const DiscoveryRun& run, int fresh, int readFailure) {
  if (run.end != DISCOVERY_END_DONE) {
    char text[DISCOVERY_TEXT_SIZE];
    discovery_endText(&run, text, sizeof text);
    discoveryMsg.store(0);
    messageError(text);
    return;
  }
  // Discovery reports only when asked to; the other modes always do.
  const bool asked = discoveryMsg.exchange(0) != 0;
  const int found = run.mode == DISCOVERY_NEW ? fresh : run.found;
  const char* what = run.mode == DISCOVERY_NEW ? "new devices" : "devices";
  char text[DISCOVERY_TEXT_SIZE];
  if (readFailure != 0) {
    snprintf(text, sizeof text, "%d %s found, but reading their settings stopped:\n%s", found, what,
             exchange_cableText(readFailure));
    messageError(text);
    return;
  }
  if (!asked && run.mode == DISCOVERY_FULL) return;
  snprintf(text, sizeof text, "%d %s found.", found, what);
  messageInfo(text);
}

}  // namespace

bool discoveryJob_running() { return thrDisc.load() == DISCOVERY_JOB_RUNNING; }

int discoveryJob_start(DiscoveryMode mode) {
  if (discoveryJob_running()) return DISCOVERY_JOB_BUSY;
  if (mode != DISCOVERY_NEW) {
    dev_removeAll();
    publishAll(nullptr, 0);
  }
  thrDisc.store(DISCOVERY_JOB_RUNNING);
  setLock(LOCK_DISCOVERY);
  DiscoveryThreadStarter start = starter.load();
  void* arg = (void*)&kModes[mode];
  int rc = start ? start(makeDiscoveryThr, arg) : thread_start(makeDiscoveryThr, arg);
  if (rc == 0) return DISCOVERY_JOB_STARTED;
  // Nothing runs: leave no mark of a worker behind, or discovery could
  // never be started again and the buttons would stay locked.
  thrDisc.store(0);
  remLock(LOCK_DISCOVERY);
  char text[128];
  snprintf(text, sizeof text, "Discovery could not be started: %s.", strerror(rc));
  messageError(text);
  return DISCOVERY_JOB_FAILED;
}

void makeDiscoveryThr(void* arg) {
  DiscoveryRun run;
  run.mode = arg ? *(const DiscoveryMode*)arg : DISCOVERY_FULL;
  Fresh fresh;
  run.onFound = onFound;
  run.ctx = &fresh;
  if (run.mode != DISCOVERY_NEW) {
    selected_dev.store(0xFFFFFFFFu);
    publishAll(nullptr, 0);
  }
  foundNow.store(0);
  readsStopped.store(false);
  uint32_t table[DISCOVERY_JOB_MAX];
  memset(table, 0, sizeof table);
  discovery_run(&run, table, DISCOVERY_JOB_MAX);
  // After the cable failed, the devices found are listed unread.
  const bool cableGone = run.end == DISCOVERY_END_NO_CABLE || run.end == DISCOVERY_END_SEND_FAILED;
  int readFailure = 0;
  if (run.mode == DISCOVERY_NEW) {
    // The devices found before keep their records; the new ones are read.
    if (!cableGone) readFailure = readAll(fresh.uids, fresh.count);
  } else {
    // The table ends up holding the devices found that answered their read.
    dev_removeAll();
    if (!cableGone) readFailure = readAll(table, run.found);
  }
  readsStopped.store(cableGone || readFailure != 0);
  if (run.mode != DISCOVERY_NEW) publishAll(table, run.found);
  report(run, fresh.count, readFailure);
  foundNow.store(-1);
  bridge_progressIdle();
  thrDisc.store(0);
  remLock(LOCK_DISCOVERY);
}

int discoveryJob_found(uint32_t* out, int capacity, uint32_t* generation) {
  std::lock_guard<std::mutex> g(resultGuard);
  if (generation) *generation = resultGeneration.load();
  const int n = resultCount < capacity ? resultCount : capacity;
  if (out && n > 0) memcpy(out, result, sizeof(uint32_t) * (size_t)n);
  return resultCount;
}

uint32_t discoveryJob_generation() { return resultGeneration.load(); }

int discoveryJob_foundNow() { return foundNow.load(); }

bool discoveryJob_readsStopped() { return readsStopped.load(); }

void discoveryJob_setStarter(DiscoveryThreadStarter s) { starter.store(s); }
