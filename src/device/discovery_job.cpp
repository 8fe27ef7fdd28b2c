#include "device/discovery_job.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "device/bridge.h"
#include "device/devices.h"
#include "device/job.h"
#include "device/rig.h"

std::atomic<int32_t> thrDisc{0};
std::atomic<int32_t> discoveryMsg{0};

namespace {

const DiscoveryMode kModes[] = {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW};

// The list the window shows: the devices found, in order, as they are found.
std::mutex resultGuard;
uint32_t result[DISCOVERY_JOB_MAX];
int resultCount = 0;
char lastReport[JOB_MESSAGE_SIZE];
std::atomic<uint32_t> resultGeneration{0};
std::atomic<int32_t> foundNow{-1};
std::atomic<bool> readsStopped{false};
std::atomic<bool> othersReading{false};  // another worker's list is not ended
std::atomic<int> runningMode{DISCOVERY_FULL};
std::atomic<int32_t> estimateNow{0};
std::atomic<int32_t> readNow{0};

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

// Counts the devices a run found that the list did not hold before.
void onFound(uint32_t uid, void* ctx) {
  if (publishOne(uid)) (*(int*)ctx)++;
  foundNow.fetch_add(1);
  job_checkpoint(LOCK_DISCOVERY);  // held here while the window asks whether to close
}

void onEstimate(int, int estimate, void*) { estimateNow.store(estimate); }

void onRead(int index, void*) { readNow.store(index + 1); }

void setReport(bool post, bool error, const char* text) {
  {
    std::lock_guard<std::mutex> g(resultGuard);
    snprintf(lastReport, sizeof lastReport, "%s", text);
  }
  if (post) job_setMessage(LOCK_DISCOVERY, error, text);
}

void report(const RigDiscovery& d, int fresh) {
  char text[JOB_MESSAGE_SIZE];
  rig_endText(&d, text, sizeof text);
  const bool asked = discoveryMsg.exchange(0) != 0;
  if (text[0]) {
    // A stop the operator asked for is no error.
    setReport(true, rig_failed(&d), text);
    return;
  }
  const int found = d.mode == DISCOVERY_NEW ? fresh : d.count;
  // The window's own words, "%d devices found." whatever the count.
  snprintf(text, sizeof text, "%d %s found.", found, d.mode == DISCOVERY_NEW ? "new devices" : "devices");
  // Discovery reports only when asked to; the other modes always do.
  setReport(asked || d.mode != DISCOVERY_FULL, false, text);
}

}  // namespace

bool discoveryJob_running() { return thrDisc.load() == DISCOVERY_JOB_RUNNING; }

int discoveryJob_start(DiscoveryMode mode) {
  if (discoveryJob_running()) return JOB_BUSY;
  if (mode != DISCOVERY_NEW) {
    dev_removeAll();
    publishAll(nullptr, 0);
  }
  thrDisc.store(DISCOVERY_JOB_RUNNING);
  const int rc = job_start(LOCK_DISCOVERY, "Discovery", makeDiscoveryThr, (void*)&kModes[mode]);
  // Nothing runs: leave no mark of a worker behind, or discovery could
  // never be started again.
  if (rc != JOB_STARTED) thrDisc.store(0);
  return rc;
}

void makeDiscoveryThr(void* arg) {
  std::unique_ptr<RigDiscovery> d(new RigDiscovery);
  d->mode = arg ? *(const DiscoveryMode*)arg : DISCOVERY_FULL;
  int fresh = 0;
  d->onFound = onFound;
  d->onProgress = onEstimate;
  d->onRead = onRead;
  d->ctx = &fresh;
  d->stop = job_stopFlag(LOCK_DISCOVERY);
  if (d->mode != DISCOVERY_NEW) {
    selected_dev.store(0xFFFFFFFFu);
    publishAll(nullptr, 0);
  }
  runningMode.store(d->mode);
  estimateNow.store(0);
  readNow.store(0);
  foundNow.store(0);
  readsStopped.store(false);
  rig_discover(d.get());
  // Devices never asked for their settings (the cable failed, or the run
  // stopped) are listed as not read rather than as silent.
  bool unread = false;
  for (int i = 0; i < d->count; i++) unread = unread || d->read[i] == RIG_NOT_READ;
  readsStopped.store(unread);
  if (d->mode != DISCOVERY_NEW) publishAll(d->uids, d->count);
  report(*d, fresh);
  foundNow.store(-1);
  thrDisc.store(0);
}

void discoveryJob_lastReport(char* text, int size) {
  std::lock_guard<std::mutex> g(resultGuard);
  if (size > 0) snprintf(text, (size_t)size, "%s", lastReport);
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

void discoveryJob_listBegin() {
  readsStopped.store(false);
  othersReading.store(true);
  publishAll(nullptr, 0);
}

void discoveryJob_publish(uint32_t uid) { publishOne(uid); }

void discoveryJob_listEnd(bool stopped) {
  readsStopped.store(stopped);
  othersReading.store(false);
  // The rows still "reading…" are shown anew, even when no device was added.
  resultGeneration.fetch_add(1);
}

bool discoveryJob_reading() { return discoveryJob_running() || othersReading.load(); }
bool discoveryJob_progress(DiscoveryJobProgress* out) {
  const int found = foundNow.load();
  if (found < 0 || !out) return false;
  out->mode = (DiscoveryMode)runningMode.load();
  out->found = found;
  const int estimate = estimateNow.load();
  out->estimate = estimate > found ? estimate : found;  // the count may run ahead of the estimate
  out->read = readNow.load();
  return true;
}

bool discoveryJob_forget() {
  if (discoveryJob_running()) return false;
  dev_removeAll();
  publishAll(nullptr, 0);
  readsStopped.store(false);
  return true;
}
