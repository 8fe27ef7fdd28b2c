#include "platform/clock.h"

#include <ctime>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> virtualMode{false};
std::atomic<uint64_t> virtualNow{0};

uint64_t realNowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

void advanceVirtual(uint64_t us) { virtualNow.fetch_add(us, std::memory_order_acq_rel); }

}  // namespace

// On the virtual clock a reading costs one microsecond, so a loop that only
// polls the clock (a deadline with nothing else to do) still reaches its end.
uint64_t clock_nowUs() {
  if (virtualMode.load(std::memory_order_acquire))
    return virtualNow.fetch_add(1, std::memory_order_acq_rel) + 1;
  return realNowUs();
}

void clock_sleepUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) {
    advanceVirtual(us);
    return;
  }
  timespec req{(time_t)(us / 1000000u), (long)(us % 1000000u) * 1000L};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

void clock_spinUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) {
    advanceVirtual(us);
    return;
  }
  const uint64_t start = realNowUs();
  while (realNowUs() - start < us) {
  }
}

void clock_chargeUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) advanceVirtual(us);
}

void clock_useVirtual(uint64_t startUs) {
  virtualNow.store(startUs, std::memory_order_release);
  virtualMode.store(true, std::memory_order_release);
}

void clock_useReal() { virtualMode.store(false, std::memory_order_release); }

bool clock_isVirtual() { return virtualMode.load(std::memory_order_acquire); }
