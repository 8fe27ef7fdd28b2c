// tern-cable-check: checks a real USB-to-DMX cable step by step (see
// link/cablecheck.h) and gives the converter back to the system at the end.
#include <cstdio>

#include "link/cablecheck.h"
#include "platform/libftdi_backend.h"

int main(int argc, char** argv) {
  CableCheckOptions o;
  int early = cablecheck_parseArgs(argc, argv, o, stdout, stderr);
  if (early >= 0) return early;
  int status = cablecheck_run(stdout, o);
  libftdi_releaseAll();
  return status;
}
