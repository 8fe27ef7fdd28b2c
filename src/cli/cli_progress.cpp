#include "cli/cli_progress.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/clock.h"

struct CliProgress {
  FILE* err;
  CliProgressLine line;
  void* ctx;
  std::atomic<bool> stop{false};
  std::mutex mu;  // one writer of the line at a time
  int shown = 0;  // characters of the line on the terminal
  std::thread thread;
};

namespace {

const uint64_t kPeriodUs = 100000;

void draw(CliProgress* p, const char* text) {
  std::lock_guard<std::mutex> g(p->mu);
  const int n = (int)strlen(text);
  // Carriage return, the new text, and blanks over what is left of the old;
  // an empty text leaves the cursor at the start of the line, for a result
  // line to take its place.
  fprintf(p->err, "\r%s%*s%s", text, p->shown > n ? p->shown - n : 0, "", n == 0 ? "\r" : "");
  fflush(p->err);
  p->shown = n;
}

void run(CliProgress* p, void* reservation) {
  clock_threadAdopt(reservation);  // takes part in virtual time, as its starter does
  char text[256];
  while (!p->stop.load()) {
    if (p->line) {
      p->line(text, sizeof text, p->ctx);
      draw(p, text);
    }
    clock_sleepUs(kPeriodUs);
  }
}

}  // namespace

CliProgress* progress_start(FILE* err, bool enabled, CliProgressLine line, void* ctx) {
  if (!enabled) return nullptr;
  CliProgress* p = new CliProgress;
  p->err = err;
  p->line = line;
  p->ctx = ctx;
  if (!line) return p;  // shown only by progress_show
  void* reservation = clock_threadReserve();
  try {
    p->thread = std::thread(run, p, reservation);
  } catch (const std::system_error&) {
    clock_threadCancel(reservation);  // no progress, the command runs all the same
  }
  return p;
}

void progress_show(CliProgress* p, const char* text) {
  if (p) draw(p, text);
}

void progress_stop(CliProgress* p) {
  if (!p) return;
  p->stop.store(true);
  if (p->thread.joinable()) {
    clock_blockBegin();  // the thread's last sleep must be able to end
    p->thread.join();
    clock_blockEnd();
  }
  draw(p, "");
  delete p;
}
