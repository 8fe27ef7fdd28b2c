#include "app/entry.h"

#include <cstdio>

#include "app/cableChoice.h"
#include "app/mainWin.h"
#include "link/cable.h"
#include "link/cablelock.h"
#include "link/ftdi_port.h"
#include "link/timer.h"
#include "platform/libftdi_backend.h"

int app_run() {
  // Line-buffered even into a pipe, so every console line shows as it happens.
  setvbuf(stdout, NULL, _IOLBF, 0);
  puts("Tarn configurator");
  wait_us(5);
  printLibVersion();
  printDeviceList();
  // The converter chosen in the window last time, unless one was named.
  if (cableChoice_applyKept()) printf("Cable %s, as chosen last time\n", cables_chosen());
  createGUI();
  // Give the converter back to the system (the kernel's serial driver bound
  // again). A worker still streaming keeps it: the process ends without
  // waiting for workers, and the system frees the converter then.
  if (cablelock_tryTake()) {
    cable_free();
    libftdi_releaseAll();
    cablelock_give();
  }
  puts("\n\nEXIT\n");
  fflush(stdout);
  return 0;
}
