// tern-curve: the curve editor on a real cable. Its one option, --cable
// SERIAL (or TERN_CABLE in the environment), names the converter of the
// line to work on; without it, the first converter, as ever.
#include <cstdio>
#include <cstring>

#include "app/entry.h"
#include "link/cables.h"

int main(int argc, char** argv) {
  const char* serial = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--cable") == 0 && i + 1 < argc) {
      serial = argv[++i];
    } else if (strncmp(argv[i], "--cable=", 8) == 0) {
      serial = argv[i] + 8;
    } else {
      fprintf(stderr, "tern-curve: unknown option \"%s\"\nUsage: tern-curve [--cable SERIAL]\n", argv[i]);
      return 2;
    }
  }
  char why[160];
  if (!cables_chooseAtStart(serial, why, sizeof why)) {
    fprintf(stderr, "tern-curve: %s\n", why);
    return 2;
  }
  return app_run();
}
