#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <new>

#include "platform/clock.h"

namespace {

struct Start {
  void (*fn)(void*);
  void* arg;
  void* reservation;
};

void* run(void* p) {
  Start start = *(Start*)p;
  delete (Start*)p;
  clock_threadAdopt(start.reservation);
  start.fn(start.arg);
  return nullptr;
}

}  // namespace

int thread_start(void (*fn)(void*), void* arg) {
  // The starter takes part in virtual time from now on: a worker must never
  // run ahead alone while the thread that started it has not yet waited.
  clock_takePart();
  Start* start = new (std::nothrow) Start{fn, arg, nullptr};
  if (!start) return ENOMEM;
  start->reservation = clock_threadReserve();
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, run, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    clock_threadCancel(start->reservation);
    delete start;
  }
  return rc;
}
