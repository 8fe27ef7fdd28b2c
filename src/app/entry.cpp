#include "app/entry.h"

#include <cstdio>

#include "app/mainWin.h"
#include "link/ftdi.h"
#include "link/timer.h"

int app_run() {
  // Line-buffered even into a pipe, so every console line shows as it happens.
  setvbuf(stdout, NULL, _IOLBF, 0);
  puts("Tarn configurator");
  wait_us(5);
  printLibVersion();
  printDeviceList();
  createGUI();
  puts("\n\nEXIT\n");
  fflush(stdout);
  return 0;
}
