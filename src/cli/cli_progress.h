// Progress on the error stream while a long command runs, when that stream
// is a terminal: one line, rewritten in place, cleared at the end. Nothing
// at all when it is not a terminal, so logs and pipes get only results.
// The line names the phase, what is done and the time it took so far, and
// an estimate of the time left where one can be made:
//   "address: 41 of 200 devices, 0:35, about 2:16 left"
//   "discovery: 43 found, 12:05"
#pragma once

#include <cstdint>
#include <cstdio>

struct CliProgress;

// Starts showing the phase's progress on `err` when `enabled` (otherwise
// does nothing and returns null); redrawn every second on the active
// clock, and whenever the count changes.
CliProgress* progress_start(FILE* err, bool enabled, const char* phase);
// What is done now: `done` of `total` ("of N devices"; total 0: a count
// only, "N found").
void progress_count(CliProgress* p, int done, int total);
// Names the phase from now on ("check: reading"). Does nothing for null.
void progress_phase(CliProgress* p, const char* phase);
// A count of devices found against an estimate of how many there are
// ("discovery: 43 found of about 200, 12:05, about 40:00 left"); an
// estimate not above found shows the count alone.
void progress_estimate(CliProgress* p, int found, int estimate);
// Makes the line follow a count that another thread moves: `count` is read
// at every redraw, and `unit` names what is counted ("block").
void progress_follow(CliProgress* p, void (*count)(int* done, int* total), const char* unit);
// Clears the line for a result line to take its place (it comes back with
// the next count). Does nothing for null.
void progress_clear(CliProgress* p);
// Stops and clears the line. Does nothing for null.
void progress_stop(CliProgress* p);
// The text of a line with an estimate: found, of about how many, the time
// so far and, once something is found, the time left at that pace.
void progress_estimateText(char* text, int size, const char* phase, int found, int estimate, uint64_t elapsedUs);
// The text of a progress line: phase, counts of `unit`s, time so far.
void progress_text(char* text, int size, const char* phase, const char* unit, int done, int total,
                   uint64_t elapsedUs);
