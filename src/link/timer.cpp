#include "link/timer.h"

#include <cstdio>

#include <atomic>

#include "platform/clock.h"

namespace {

// A clock state: readings count from its first use. Function-local statics
// are initialised exactly once even when two threads arrive together.
struct ClockState {
  uint64_t offset;
  ClockState() : offset(clock_nowUs()) {}
  uint64_t elapsedUs() const { return clock_nowUs() - offset; }
};

ClockState& sharedState() {
  static ClockState state;
  return state;
}

ClockState& usState() {
  static ClockState state;
  return state;
}

// The 32-bit millisecond reading, wrapping modulo 2^32 without overflow.
int32_t nowMs() {
  TimPair tp;
  clock_gettime(0, &tp);
  uint32_t ms = (uint32_t)tp.tv_sec * 1000u + (uint32_t)tp.tv_usec / 1000u;
  return (int32_t)ms;
}

std::atomic<int> debug{0};

// The busy wait counts in microseconds: one tick per microsecond.
const uint64_t kTicksPerSecond = 1000000u;

}  // namespace

void mySleep(int ms) {
  long long total = (long long)ms + 2;
  if (total > 0) clock_sleepUs((uint64_t)total * 1000u);
}

uint64_t getFILETIMEoffset() {
  // Days from 1601-01-01 to 1970-01-01, in 100 ns units.
  return 134774ull * 86400ull * 10000000ull;
}

int clock_gettime(int, TimPair* tp) {
  uint64_t u = sharedState().elapsedUs();
  if (tp) {
    tp->tv_sec = (int32_t)(uint32_t)(u / 1000000u);
    tp->tv_usec = (int32_t)(u % 1000000u);
  }
  return 0;
}

uint64_t clock_gettime_us() { return usState().elapsedUs(); }

int32_t tim_setTimeout(int ms) { return (int32_t)((uint32_t)nowMs() + (uint32_t)ms); }

int tim_isTimeout(int32_t deadline) {
  int32_t diff = (int32_t)((uint32_t)deadline - (uint32_t)nowMs());
  return diff < 0 ? 1 : 0;
}

void wait_us(int n) {
  if (n <= 0) return;
  const uint64_t f = kTicksPerSecond;
  const uint64_t start = clock_nowUs();
  const uint64_t ticks = (uint64_t)n * f / 10000u;
  const bool dbg = debug.load() != 0;
  if (dbg) {
    printf("\n\n time: cnt   = %llu\n\n", (unsigned long long)f);
    printf(" time: start = %llu\n", (unsigned long long)start);
    printf(" time: end   = %llu\n", (unsigned long long)ticks);
    printf(" time: end1  = %llu\n", (unsigned long long)(start + ticks));
  }
  clock_spinUs(ticks);
  if (dbg) {
    printf(" time: now   = %llu\n", (unsigned long long)clock_nowUs());
    debug.store(0);
  }
}

void tim_setDebug(int on) { debug.store(on); }
