// The program's run: banner, library version and converter inventory, then
// the window until it is closed.
#pragma once

// Returns the exit status, 0.
int app_run();
