// tern-cable-check through libftdi1 and the backend against the model chip.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "link/cablecheck.h"
#include "usb_bench.h"

namespace {

// Runs the check as tern-cable-check's main does; returns its exit status.
int runCheck(std::string& out, std::string& err) {
  testing::internal::CaptureStderr();
  FILE* f = tmpfile();
  CableCheckOptions o;
  int status = cablecheck_run(f, o);
  libftdi_releaseAll();
  rewind(f);
  char buf[512];
  out.clear();
  while (fgets(buf, sizeof buf, f)) out += buf;
  fclose(f);
  err = testing::internal::GetCapturedStderr();
  return status;
}

}  // namespace

TEST(UsbCableCheck, Smoke) {
  UsbBench bench(3, 7);
  std::string out, err;
  int status = runCheck(out, err);
  fprintf(stderr, "%s\n--- stderr\n%s\nstatus %d\n", out.c_str(), err.c_str(), status);
}

TEST(UsbCableCheck, SmokeFaults) {
  for (int k = 0; k < 4; k++) {
    FakeUsbFaults f;
    if (k == 1) f.noPermission = true;
    if (k == 2) f.claimedElsewhere = true;
    if (k == 3) f.driverStuck = true;
    UsbBench bench(3, 7, f);
    if (k == 0) fakeusb_setPlugged(false);
    std::string out, err;
    int status = runCheck(out, err);
    fprintf(stderr, "==== case %d\n%s\n--- stderr\n%s\nstatus %d\n", k, out.c_str(), err.c_str(), status);
  }
}
