// The only place that reads the time or waits. Two implementations:
//  - real: the monotonic clock, nanosleep, and spinning for busy waits;
//  - virtual: time moves only when someone sleeps, spins, is charged time
//    (the simulated converter charges a USB round trip per call) or reads it
//    (one microsecond per reading), and then it jumps at once. Tests use it
//    so that protocol waits take no real time.
//
// Several threads share the virtual clock as they would share real time:
// a thread that waits is parked until every other thread taking part is
// waiting too, and then the clock jumps to the earliest wake-up among them.
// Two threads that each sleep 10 x 10 ms side by side therefore see 100 ms
// pass, not 200 ms.
//
// Which threads take part is decided by the code, never by timing: a thread
// takes part from its first use of the clock, from clock_takePart, or, for a
// worker started with thread_start, from its start; the thread that starts a
// worker takes part from then on too, so that a worker never runs ahead of
// its creator. A thread leaves when it ends. A thread that blocks on
// something other than the clock (a lock, a join) says so with
// clock_blockBegin/clock_blockEnd. A thread taking part that neither waits
// nor says it is blocked holds virtual time still; when that lasts a minute
// of real time the clock names the fault on standard error and aborts the
// process, so a forgotten block fails loudly instead of hanging.
#pragma once

#include <cstdint>

// Microseconds on the active clock; monotonic, starting near 0 for the
// virtual clock.
uint64_t clock_nowUs();
// Yields the processor for `us` microseconds (virtual: jumps ahead).
void clock_sleepUs(uint64_t us);
// Waits `us` microseconds precisely: on the real clock it sleeps all but the
// last fraction of a millisecond and spins that, so long waits cost no
// processor and still end on time (virtual: jumps ahead).
void clock_spinUs(uint64_t us);
// Virtual clock only: lets `us` microseconds pass for the calling thread, as
// the modelled cost of an operation (a USB round trip). The real clock
// ignores it, since there the cost is real.
void clock_chargeUs(uint64_t us);

// The calling thread takes part in virtual time from now on (nothing on the
// real clock).
void clock_takePart();

// The calling thread is about to block on something that is not the clock
// (a lock another thread holds, a join): virtual time may pass without it.
void clock_blockBegin();
// The calling thread runs again and takes part in virtual time.
void clock_blockEnd();

// Switches between the real clock (the default) and the virtual one. The
// virtual clock restarts at `startUs` with no thread taking part yet.
void clock_useVirtual(uint64_t startUs = 0);
void clock_useReal();
bool clock_isVirtual();

// A handle for a thread that is about to be started: it takes part in
// virtual time from this call on, so that the thread's first steps are not
// overtaken by its creator. Pass it to clock_threadAdopt at the start of
// the new thread, or to clock_threadCancel when the thread could not be
// started. Null on the real clock.
void* clock_threadReserve();
void clock_threadAdopt(void* reservation);
void clock_threadCancel(void* reservation);
