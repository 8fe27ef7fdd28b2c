// Starting the program's worker threads. A worker is detached (nobody
// joins it; it ends by itself) and takes part in the clock's virtual time
// from the moment it is started, and so does the thread that starts it, so
// that worker timings measured on the virtual clock are the ones a real line
// would show, whatever the scheduler does.
#pragma once

// Runs fn(arg) on a new detached thread. Returns 0, or the error number
// when the thread could not be started (nothing runs then).
int thread_start(void (*fn)(void*), void* arg);
