// Console check of the cable: banner, library version and converter inventory.
#include <cstdio>

#include "link/ftdi.h"
#include "link/timer.h"

int main() {
  puts("Tarn configurator");
  wait_us(5);
  printLibVersion();
  printDeviceList();
  return 0;
}
