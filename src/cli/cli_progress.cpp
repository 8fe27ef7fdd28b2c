#include "cli/cli_progress.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/clock.h"

struct CliProgress {
  FILE* err;
  std::string phase;
  std::string unit = "device";
  std::atomic<void (*)(int*, int*)> follow{nullptr};
  uint64_t startUs;
  std::atomic<int> done{0};
  std::atomic<int> total{0};
  std::atomic<bool> estimated{false};  // total is an estimate of what will be found
  std::atomic<bool> stop{false};
  std::mutex mu;       // one writer of the line at a time
  int shown = 0;       // characters of the line on the terminal
  bool cleared = true; // the line is off the terminal until the next count
  std::thread thread;
};

namespace {

const uint64_t kPeriodUs = 1000000;

void clockText(char* text, size_t size, uint64_t us) {
  const unsigned long s = (unsigned long)(us / 1000000);
  if (s >= 3600)
    snprintf(text, size, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
  else
    snprintf(text, size, "%lu:%02lu", s / 60, s % 60);
}

// Carriage return, the new text, and blanks over what is left of the old;
// an empty text leaves the cursor at the start of the line, for a result
// line to take its place.
void draw(CliProgress* p, const char* text) {
  const int n = (int)strlen(text);
  fprintf(p->err, "\r%s%*s%s", text, p->shown > n ? p->shown - n : 0, "", n == 0 ? "\r" : "");
  fflush(p->err);
  p->shown = n;
}

void redraw(CliProgress* p, bool force) {
  std::lock_guard<std::mutex> g(p->mu);
  if (p->cleared && !force) return;
  char text[256];
  auto count = p->follow.load();
  if (count) {
    int done = 0, total = 0;
    count(&done, &total);
    p->done.store(done);
    p->total.store(total);
  }
  if (p->estimated.load())
    progress_estimateText(text, sizeof text, p->phase.c_str(), p->done.load(), p->total.load(),
                          clock_nowUs() - p->startUs);
  else
    progress_text(text, sizeof text, p->phase.c_str(), p->unit.c_str(), p->done.load(), p->total.load(),
                  clock_nowUs() - p->startUs);
  draw(p, text);
  p->cleared = false;
}

void run(CliProgress* p, void* reservation) {
  clock_threadAdopt(reservation);  // takes part in virtual time, as its starter does
  while (!p->stop.load()) {
    redraw(p, false);
    clock_sleepUs(kPeriodUs);
  }
}

}  // namespace

void progress_text(char* text, int size, const char* phase, const char* unit, int done, int total,
                   uint64_t elapsedUs) {
  char elapsed[32];
  clockText(elapsed, sizeof elapsed, elapsedUs);
  if (total <= 0) {
    snprintf(text, (size_t)size, "%s: %d found, %s", phase, done, elapsed);
    return;
  }
  int used = snprintf(text, (size_t)size, "%s: %d of %d %s%s, %s", phase, done, total, unit, total == 1 ? "" : "s",
                      elapsed);
  // The time left, at the pace so far; only once there is a pace to go by.
  if (done > 0 && done < total && used > 0 && used < size) {
    char left[32];
    clockText(left, sizeof left, elapsedUs / (uint64_t)done * (uint64_t)(total - done));
    snprintf(text + used, (size_t)(size - used), ", about %s left", left);
  }
}

void progress_estimateText(char* text, int size, const char* phase, int found, int estimate, uint64_t elapsedUs) {
  char elapsed[32];
  clockText(elapsed, sizeof elapsed, elapsedUs);
  if (estimate <= found) {
    snprintf(text, (size_t)size, "%s: %d found, %s", phase, found, elapsed);
    return;
  }
  char left[32];
  clockText(left, sizeof left, found > 0 ? elapsedUs / (uint64_t)found * (uint64_t)(estimate - found) : 0);
  snprintf(text, (size_t)size, found > 0 ? "%s: %d found of about %d, %s, about %s left" : "%s: %d found of about %d, %s",
           phase, found, estimate, elapsed, left);
}

CliProgress* progress_start(FILE* err, bool enabled, const char* phase) {
  if (!enabled) return nullptr;
  CliProgress* p = new CliProgress;
  p->err = err;
  p->phase = phase;
  p->startUs = clock_nowUs();
  void* reservation = clock_threadReserve();
  try {
    p->thread = std::thread(run, p, reservation);
  } catch (const std::system_error&) {
    clock_threadCancel(reservation);  // drawn at each count only; the command runs all the same
  }
  return p;
}

void progress_phase(CliProgress* p, const char* phase) {
  if (!p) return;
  std::lock_guard<std::mutex> g(p->mu);
  p->phase = phase;
}

void progress_estimate(CliProgress* p, int found, int estimate) {
  if (!p) return;
  p->estimated.store(true);
  p->done.store(found);
  p->total.store(estimate);
  redraw(p, true);
}

void progress_count(CliProgress* p, int done, int total) {
  if (!p) return;
  p->estimated.store(false);
  p->done.store(done);
  p->total.store(total);
  redraw(p, true);
}

void progress_follow(CliProgress* p, void (*count)(int*, int*), const char* unit) {
  if (!p) return;
  {
    std::lock_guard<std::mutex> g(p->mu);
    p->unit = unit;
    p->cleared = false;
  }
  p->follow.store(count);
}

void progress_clear(CliProgress* p) {
  if (!p) return;
  std::lock_guard<std::mutex> g(p->mu);
  draw(p, "");
  p->cleared = true;
}

void progress_stop(CliProgress* p) {
  if (!p) return;
  p->stop.store(true);
  if (p->thread.joinable()) {
    clock_blockBegin();  // the thread's last sleep must be able to end
    p->thread.join();
    clock_blockEnd();
  }
  progress_clear(p);
  delete p;
}
