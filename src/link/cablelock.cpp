#include "link/cablelock.h"

#include <mutex>

#include "platform/clock.h"

namespace {

std::recursive_mutex cableMutex;
thread_local int depth = 0;  // the calling thread's takes

}  // namespace

void cablelock_take() {
  if (!cableMutex.try_lock()) {
    // Another thread holds the cable: time goes on without us meanwhile.
    clock_blockBegin();
    cableMutex.lock();
    clock_blockEnd();
  }
  depth++;
}

bool cablelock_tryTake() {
  if (!cableMutex.try_lock()) return false;
  depth++;
  return true;
}

void cablelock_give() {
  if (depth == 0) return;  // not ours to give
  depth--;
  cableMutex.unlock();
}

bool cablelock_held() { return depth > 0; }
