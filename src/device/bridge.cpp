#include "device/bridge.h"

#include <pthread.h>

#include <cstdio>

#include "link/timer.h"

namespace {
const int32_t kIdleTop = 100;  // nothing of 100 done: an empty bar
}

std::atomic<int32_t> pStatusTop{kIdleTop};
std::atomic<int32_t> pStatusSt{0};

void bridge_progressIdle() {
  pStatusSt.store(0, std::memory_order_relaxed);
  pStatusTop.store(kIdleTop, std::memory_order_relaxed);
}

std::atomic<uint32_t> lockComponents{0};
std::atomic<uint32_t> selected_dev{0xFFFFFFFFu};

namespace {

// The slot: empty, a pending information or error, or claimed by a poster
// that is still copying its text.
enum { SLOT_EMPTY = 0, SLOT_WRITING = 2 };
// How long a waiting poster sleeps between looks at the slot.
enum { POST_RETRY_MS = 10 };

char message[BRIDGE_MESSAGE_SIZE];
std::atomic<int> msgType{SLOT_EMPTY};
pthread_t guiThread;
std::atomic<bool> guiThreadKnown{false};
std::atomic<BridgeShower> shower{nullptr};

void showNow(int type, const char* text) {
  BridgeShower s = shower.load();
  if (s) s(type, text);
}

void post(int type, const char* text) {
  for (;;) {
    int expected = SLOT_EMPTY;
    if (msgType.compare_exchange_strong(expected, SLOT_WRITING, std::memory_order_acquire)) break;
    if (bridge_onGuiThread()) {
      showNow(type, text);
      return;
    }
    mySleep(POST_RETRY_MS);
  }
  snprintf(message, sizeof message, "%s", text);
  msgType.store(type, std::memory_order_release);
}

}  // namespace

void setLock(uint32_t bits) { lockComponents.fetch_or(bits); }

void remLock(uint32_t bits) { lockComponents.fetch_and(~bits); }

void messageInfo(const char* text) {
  post(BRIDGE_INFO, text);
  printf("INFO: %s\n", text);
  fflush(stdout);
}

void messageError(const char* text) {
  post(BRIDGE_ERROR, text);
  fprintf(stderr, "ERROR: %s\n", text);
  fflush(stderr);
}

void bridge_setGuiThread() {
  guiThread = pthread_self();
  guiThreadKnown.store(true, std::memory_order_release);
}

bool bridge_onGuiThread() {
  return guiThreadKnown.load(std::memory_order_acquire) && pthread_equal(pthread_self(), guiThread);
}

void bridge_setShower(BridgeShower s) { shower.store(s); }

bool bridge_showPending() {
  int type = msgType.load(std::memory_order_acquire);
  if (type != BRIDGE_INFO && type != BRIDGE_ERROR) return false;
  showNow(type, message);
  msgType.store(SLOT_EMPTY, std::memory_order_release);
  return true;
}
