// Every test runs on the virtual clock: protocol waits take no real time.
#include <gtest/gtest.h>

#include "platform/clock.h"

int main(int argc, char** argv) {
  clock_useVirtual(1000000);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
