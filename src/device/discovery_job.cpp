#include "device/discovery_job.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "device/app_discovery.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/devices.h"
#include "platform/thread.h"

std::atomic<int32_t> thrDisc{0};
std::atomic<int32_t> discoveryMsg{0};

namespace {

std::mutex resultGuard;
uint32_t result[DISCOVERY_JOB_MAX];
int resultCount = 0;
std::atomic<uint32_t> resultGeneration{0};
std::atomic<DiscoveryThreadStarter> starter{nullptr};

void publish(const uint32_t* uids, int count) {
  std::lock_guard<std::mutex> g(resultGuard);
  memcpy(result, uids, sizeof(uint32_t) * (size_t)count);
  resultCount = count;
  resultGeneration.fetch_add(1);
}

}  // namespace

bool discoveryJob_running() { return thrDisc.load() == DISCOVERY_JOB_RUNNING; }

int discoveryJob_start() {
  if (discoveryJob_running()) return DISCOVERY_JOB_BUSY;
  dev_removeAll();
  thrDisc.store(DISCOVERY_JOB_RUNNING);
  setLock(LOCK_DISCOVERY);
  DiscoveryThreadStarter start = starter.load();
  int rc = start ? start(makeDiscoveryThr, nullptr) : thread_start(makeDiscoveryThr, nullptr);
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

void makeDiscoveryThr(void*) {
  selected_dev.store(0xFFFFFFFFu);
  uint32_t table[DISCOVERY_JOB_MAX];
  memset(table, 0, sizeof table);
  app_discovery(table, DISCOVERY_JOB_MAX);
  dev_removeAll();
  int count = 0;
  while (count < DISCOVERY_JOB_MAX && table[count] != 0) app_setup_read(table[count++]);
  publish(table, count);
  if (discoveryMsg.exchange(0) != 0) {
    char text[64];
    snprintf(text, sizeof text, "%d devices found.", count);
    messageInfo(text);
  }
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

void discoveryJob_setStarter(DiscoveryThreadStarter s) { starter.store(s); }
