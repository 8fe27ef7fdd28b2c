// Waiting and time readings for the link: a sleep that yields (mySleep),
// millisecond deadlines for bounded polls (tim_setTimeout/tim_isTimeout),
// a busy wait in 100 us units (wait_us) and monotonic readings.
#pragma once

#include <cstdint>

// Seconds and microseconds (not nanoseconds) elapsed, as clock_gettime fills them.
struct TimPair {
  int32_t tv_sec;
  int32_t tv_usec;
};

// Sleeps ms + 2 milliseconds, yielding the processor.
void mySleep(int ms);
// 1970-01-01 in 100 ns units since 1601-01-01.
uint64_t getFILETIMEoffset();
// Fills `tp` with the time elapsed since the first use of the shared clock
// state; the clock identifier is ignored. Returns 0.
int clock_gettime(int clockId, TimPair* tp);
// Microseconds elapsed since the first use of its own clock state.
uint64_t clock_gettime_us();
// A deadline `ms` milliseconds from now on the 32-bit millisecond reading.
int32_t tim_setTimeout(int ms);
// 1 once the millisecond reading has passed the deadline, else 0. Compares by
// signed difference, so deadlines keep working across the 32-bit wrap.
int tim_isTimeout(int32_t deadline);
// Busy-waits n units of 100 us; n <= 0 returns at once.
void wait_us(int n);
// While nonzero, the next wait_us prints its counter values and clears it.
void tim_setDebug(int on);
