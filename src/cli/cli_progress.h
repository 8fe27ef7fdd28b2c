// Progress on the error stream while a long command runs, when that stream
// is a terminal: one line, rewritten in place, cleared at the end. Nothing
// at all when it is not a terminal, so logs and pipes get only results.
#pragma once

#include <cstdio>

struct CliProgress;

// Writes the line to show now into text.
typedef void (*CliProgressLine)(char* text, int size, void* ctx);

// Starts showing `line` every 100 ms (on the active clock) on `err` when
// `enabled`; otherwise does nothing and returns null.
CliProgress* progress_start(FILE* err, bool enabled, CliProgressLine line, void* ctx);
// Shows a line now, from the thread that runs the command (for the steps
// it counts itself); "" clears it, for a result line to take its place.
// Does nothing for null.
void progress_show(CliProgress* p, const char* text);
// Stops and clears the line. Does nothing for null.
void progress_stop(CliProgress* p);
