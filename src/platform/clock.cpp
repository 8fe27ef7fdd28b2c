#include "platform/clock.h"

#include <ctime>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

typedef std::chrono::steady_clock RealClock;

// A thread taking part in virtual time has no real time of its own to
// report; after this long without a word from it, the others stop waiting
// for it (it is blocked somewhere we were not told about).
const auto kSilentLimit = std::chrono::milliseconds(200);
// How often a parked thread looks for silent participants.
const auto kParkSlice = std::chrono::milliseconds(5);

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
  bool idle = false;      // blocked elsewhere, or silent too long
  uint64_t wakeUs = 0;
  RealClock::time_point lastSeen;
};

struct VirtualTime {
  std::mutex mu;
  std::condition_variable cv;
  uint64_t now = 0;
  uint64_t epoch = 1;
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
  p->lastSeen = RealClock::now();
  v.members.push_back(p);
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
  p->lastSeen = RealClock::now();
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

void idleTheSilent(VirtualTime& v) {
  const RealClock::time_point limit = RealClock::now() - kSilentLimit;
  for (Participant* p : v.members)
    if (!p->waiting && !p->idle && p->lastSeen < limit) p->idle = true;
}

// Parks the calling thread for `us` of virtual time.
uint64_t virtualWait(uint64_t us) {
  VirtualTime& v = vt();
  std::unique_lock<std::mutex> lock(v.mu);
  Participant* me = enter(v);
  const uint64_t wake = v.now + us;
  me->waiting = true;
  me->wakeUs = wake;
  while (v.now < wake) {
    // Jump only when nobody runs and nobody is due already (a thread whose
    // wake-up has come but that has not taken the lock yet still runs).
    const uint64_t next = earliestWake(v);
    if (next > v.now && everyoneWaits(v)) {
      v.now = next;
      v.cv.notify_all();
      continue;
    }
    if (v.cv.wait_for(lock, kParkSlice) == std::cv_status::timeout) idleTheSilent(v);
  }
  me->waiting = false;
  me->lastSeen = RealClock::now();
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
  p->lastSeen = RealClock::now();
}

void clock_threadCancel(void* reservation) {
  if (!reservation) return;
  VirtualTime& v = vt();
  std::lock_guard<std::mutex> lock(v.mu);
  Participant* p = (Participant*)reservation;
  if (p->epoch == v.epoch) removeMember(v, p);
  delete p;
}
