#include "platform/clock.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

typedef std::chrono::steady_clock RealClock;

// How long virtual time may stand still while a thread taking part neither
// waits nor says it is blocked, before the clock reports the fault.
const auto kStallLimit = std::chrono::seconds(60);
// How often a parked thread looks whether time stands still.
const auto kParkSlice = std::chrono::milliseconds(50);

std::atomic<bool> virtualMode{false};

uint64_t realNowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

// One thread taking part in virtual time.
struct Participant {
  uint64_t epoch = 0;     // the virtual clock's start it belongs to
  bool waiting = false;   // parked until `wakeUs`
  bool idle = false;      // blocked elsewhere (clock_blockBegin)
  uint64_t wakeUs = 0;
};

struct VirtualTime {
  std::mutex mu;
  std::condition_variable cv;
  uint64_t now = 0;
  uint64_t epoch = 1;
  uint64_t activity = 0;  // rises with every change of a participant's state
  std::vector<Participant*> members;
};

// Never destroyed: threads may still use the clock while the process exits.
VirtualTime& vt() {
  static VirtualTime* v = new VirtualTime;
  return *v;
}

void removeMember(VirtualTime& v, Participant* p) {
  auto it = std::find(v.members.begin(), v.members.end(), p);
  if (it != v.members.end()) v.members.erase(it);
  v.activity++;
  v.cv.notify_all();
}

// The calling thread's membership; it leaves when the thread ends.
struct Membership {
  Participant* p = nullptr;
  ~Membership() {
    if (!p) return;
    VirtualTime& v = vt();
    std::lock_guard<std::mutex> lock(v.mu);
    if (p->epoch == v.epoch) removeMember(v, p);
    delete p;
    p = nullptr;
  }
};
thread_local Membership self;

Participant* newMember(VirtualTime& v) {
  Participant* p = new Participant;
  p->epoch = v.epoch;
  v.members.push_back(p);
  v.activity++;
  return p;
}

// The calling thread as a running participant (joining on first use).
Participant* enter(VirtualTime& v) {
  Participant*& p = self.p;
  if (p && p->epoch != v.epoch) {
    delete p;  // left over from before the clock was restarted
    p = nullptr;
  }
  if (!p) p = newMember(v);
  p->idle = false;
  v.activity++;
  return p;
}

bool everyoneWaits(const VirtualTime& v) {
  for (const Participant* p : v.members)
    if (!p->waiting && !p->idle) return false;
  return true;
}

uint64_t earliestWake(const VirtualTime& v) {
  uint64_t t = UINT64_MAX;
  for (const Participant* p : v.members)
    if (p->waiting) t = std::min(t, p->wakeUs);
  return t;
}

// Time has stood still for kStallLimit: some thread taking part runs
// without ever waiting, or blocks without saying so.
[[noreturn]] void reportStall(const VirtualTime& v) {
  int running = 0;
  for (const Participant* p : v.members)
    if (!p->waiting && !p->idle) running++;
  fprintf(stderr,
          "virtual clock: time has stood still at %llu us for %lld s of real time: %d thread(s) "
          "taking part neither wait nor say they are blocked (a wait outside the clock without "
          "clock_blockBegin/clock_blockEnd?)\n",
          (unsigned long long)v.now,
          (long long)std::chrono::duration_cast<std::chrono::seconds>(kStallLimit).count(), running);
  abort();
}

// Parks the calling thread for `us` of virtual time.
uint64_t virtualWait(uint64_t us) {
  VirtualTime& v = vt();
  std::unique_lock<std::mutex> lock(v.mu);
  Participant* me = enter(v);
  const uint64_t wake = v.now + us;
  me->waiting = true;
  me->wakeUs = wake;
  uint64_t seenActivity = v.activity;
  RealClock::time_point still = RealClock::now();
  while (v.now < wake) {
    // Jump only when nobody runs and nobody is due already (a thread whose
    // wake-up has come but that has not taken the lock yet still runs).
    const uint64_t next = earliestWake(v);
    if (next > v.now && everyoneWaits(v)) {
      v.now = next;
      v.activity++;
      v.cv.notify_all();
      continue;
    }
    v.cv.wait_for(lock, kParkSlice);
    if (v.activity != seenActivity) {
      seenActivity = v.activity;
      still = RealClock::now();
    } else if (RealClock::now() - still > kStallLimit) {
      reportStall(v);
    }
  }
  me->waiting = false;
  v.activity++;
  return v.now;
}

}  // namespace

// On the virtual clock a reading costs one microsecond, so a loop that only
// polls the clock (a deadline with nothing else to do) still reaches its end.
uint64_t clock_nowUs() {
  if (virtualMode.load(std::memory_order_acquire)) return virtualWait(1);
  return realNowUs();
}

void clock_sleepUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) {
    virtualWait(us);
    return;
  }
  timespec req{(time_t)(us / 1000000u), (long)(us % 1000000u) * 1000L};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

void clock_spinUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) {
    virtualWait(us);
    return;
  }
  // A spin of milliseconds would hold a processor for nothing: sleep the
  // bulk and spin only the tail, which also absorbs the sleep's late wake-up.
  const uint64_t kSpinTailUs = 300;
  const uint64_t start = realNowUs();
  if (us > kSpinTailUs) {
    const uint64_t bulk = us - kSpinTailUs;
    timespec req{(time_t)(bulk / 1000000u), (long)(bulk % 1000000u) * 1000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
  while (realNowUs() - start < us) {
  }
}

void clock_chargeUs(uint64_t us) {
  if (virtualMode.load(std::memory_order_acquire)) virtualWait(us);
}

void clock_blockBegin() {
  if (!virtualMode.load(std::memory_order_acquire)) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  enter(v)->idle = true;
  v.cv.notify_all();
}

void clock_takePart() {
  if (!virtualMode.load(std::memory_order_acquire)) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  enter(v);
}

void clock_blockEnd() {
  if (!virtualMode.load(std::memory_order_acquire)) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  enter(v);
}

void clock_useVirtual(uint64_t startUs) {
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  v.now = startUs;
  v.epoch++;
  v.members.clear();  // each thread drops its stale record on its next use
  virtualMode.store(true, std::memory_order_release);
  v.cv.notify_all();
}

void clock_useReal() { virtualMode.store(false, std::memory_order_release); }

bool clock_isVirtual() { return virtualMode.load(std::memory_order_acquire); }

void* clock_threadReserve() {
  if (!virtualMode.load(std::memory_order_acquire)) return nullptr;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  return newMember(v);
}

void clock_threadAdopt(void* reservation) {
  if (!reservation) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  Participant* p = (Participant*)reservation;
  if (self.p && self.p != p) {
    if (self.p->epoch == v.epoch) removeMember(v, self.p);
    delete self.p;
  }
  self.p = p;
  v.activity++;
}

void clock_threadCancel(void* reservation) {
  if (!reservation) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  Participant* p = (Participant*)reservation;
  if (p->epoch == v.epoch) removeMember(v, p);
  delete p;
}
