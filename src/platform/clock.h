// The only place that reads the time or waits. Two implementations:
//  - real: the monotonic clock, nanosleep, and spinning for busy waits;
//  - virtual: time moves only when someone sleeps, spins, is charged time
//    (the simulated converter charges a USB round trip per call) or reads it
//    (one microsecond per reading), and then it jumps at once. Tests use it so that protocol waits take no real time.
#pragma once

#include <cstdint>

// Microseconds on the active clock; monotonic, starting near 0 for the
// virtual clock.
uint64_t clock_nowUs();
// Yields the processor for `us` microseconds (virtual: jumps ahead).
void clock_sleepUs(uint64_t us);
// Busy-waits `us` microseconds without yielding (virtual: jumps ahead).
void clock_spinUs(uint64_t us);
// Virtual clock only: lets `us` microseconds pass, as a modelled cost of an
// operation (a USB round trip). The real clock ignores it, since there the
// cost is real.
void clock_chargeUs(uint64_t us);

// Switches between the real clock (the default) and the virtual one. The
// virtual clock restarts at `startUs`.
void clock_useVirtual(uint64_t startUs = 0);
void clock_useReal();
bool clock_isVirtual();
