#include "device/job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "device/bridge.h"
#include "link/timer.h"
#include "platform/thread.h"

namespace {

enum { LOCK_BITS = 32 };

// What a running job leaves for its end, one record per lock bit.
struct Slot {
  std::atomic<bool> stop{false};
  std::atomic<bool> pause{false};
  std::atomic<int> alive{0};  // threads started and not yet ended
  std::mutex guard;  // the message, set by the body and read by its end
  bool hasMessage = false;
  bool error = false;
  char message[JOB_MESSAGE_SIZE] = "";
};

Slot slots[LOCK_BITS];
std::atomic<JobThreadStarter> starter{nullptr};

int bitOf(uint32_t lock) {
  for (int b = 0; b < LOCK_BITS; b++)
    if (lock == 1u << b) return b;
  return -1;
}

Slot* slotOf(uint32_t lock) {
  const int b = bitOf(lock);
  return b < 0 ? nullptr : &slots[b];
}

struct Launch {
  uint32_t lock;
  void (*body)(void*);
  void* arg;
  int lingerMs;
};

// The end every job has, whatever its body did: its message posted, the
// bar idle, and its lock bit released last, so that whoever sees the bit
// free sees everything the job left.
void finish(uint32_t lock) {
  Slot* s = slotOf(lock);
  bool post = false, error = false;
  char text[JOB_MESSAGE_SIZE];
  {
    std::lock_guard<std::mutex> g(s->guard);
    post = s->hasMessage;
    error = s->error;
    snprintf(text, sizeof text, "%s", s->message);
    s->hasMessage = false;
  }
  if (post) (error ? messageError : messageInfo)(text);
  bridge_progressIdle();
  remLock(lock);
}

void run(void* p) {
  const Launch l = *(Launch*)p;
  delete (Launch*)p;
  l.body(l.arg);
  finish(l.lock);
  if (l.lingerMs > 0) mySleep(l.lingerMs);
  slotOf(l.lock)->alive.fetch_sub(1);
}

}  // namespace

int job_start(uint32_t lock, const char* what, void (*body)(void*), void* arg, int lingerMs) {
  Slot* s = slotOf(lock);
  if (!s || !body) return JOB_BUSY;
  if (lockComponents.fetch_or(lock) & lock) return JOB_BUSY;
  s->stop.store(false);
  s->pause.store(false);
  {
    std::lock_guard<std::mutex> g(s->guard);
    s->hasMessage = false;
  }
  Launch* l = new (std::nothrow) Launch{lock, body, arg, lingerMs};
  s->alive.fetch_add(1);
  JobThreadStarter start = starter.load();
  const int rc = !l ? ENOMEM : start ? start(run, l) : thread_start(run, l);
  if (rc == 0) return JOB_STARTED;
  delete l;
  s->alive.fetch_sub(1);
  bridge_progressIdle();
  remLock(lock);
  char text[JOB_MESSAGE_SIZE];
  snprintf(text, sizeof text, "%s could not be started: %s.", what ? what : "The job", strerror(rc));
  messageError(text);
  return JOB_FAILED;
}

bool job_running(uint32_t lock) { return (lockComponents.load() & lock) != 0; }

bool job_alive(uint32_t lock) {
  Slot* s = slotOf(lock);
  return s && s->alive.load() > 0;
}

void job_requestStop(uint32_t lock) {
  Slot* s = slotOf(lock);
  if (s && job_running(lock)) s->stop.store(true);
}

void job_pause(uint32_t lock, bool paused) {
  Slot* s = slotOf(lock);
  if (s && (job_running(lock) || !paused)) s->pause.store(paused);
}

bool job_paused(uint32_t lock) {
  Slot* s = slotOf(lock);
  return s && s->pause.load();
}

void job_checkpoint(uint32_t lock) {
  Slot* s = slotOf(lock);
  enum { PAUSE_LOOK_MS = 20 };
  while (s && s->pause.load() && !s->stop.load()) mySleep(PAUSE_LOOK_MS);
}

bool job_stopRequested(uint32_t lock) {
  Slot* s = slotOf(lock);
  return s && s->stop.load();
}

const std::atomic<bool>* job_stopFlag(uint32_t lock) {
  Slot* s = slotOf(lock);
  return s ? &s->stop : nullptr;
}

void job_setMessage(uint32_t lock, bool error, const char* text) {
  Slot* s = slotOf(lock);
  if (!s) return;
  std::lock_guard<std::mutex> g(s->guard);
  s->hasMessage = text != nullptr;
  s->error = error;
  snprintf(s->message, sizeof s->message, "%s", text ? text : "");
}

void job_tell(bool error, const char* text) { (error ? messageError : messageInfo)(text); }

void job_setStarter(JobThreadStarter s) { starter.store(s); }
