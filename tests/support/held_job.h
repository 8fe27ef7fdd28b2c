// Starters for the job runner (device/job.h) that tests put in place of
// starting a thread: one keeps the job so that the test runs it itself,
// on its own thread, when it chooses; one fails as pthread_create can.
#pragma once

#include <cerrno>

#include "device/job.h"

namespace heldjob {

inline void (*fn)(void*) = nullptr;
inline void* arg = nullptr;

inline int hold(void (*f)(void*), void* a) {
  fn = f;
  arg = a;
  return 0;
}

inline int fail(void (*)(void*), void*) { return EAGAIN; }

// Runs the job last held, as its thread would: body, then the runner's end.
inline void run() {
  void (*f)(void*) = fn;
  fn = nullptr;
  if (f) f(arg);
}

}  // namespace heldjob
