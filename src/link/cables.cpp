#include "link/cables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/cablelock.h"
#include "platform/libftdi_status.h"

namespace {

// Under the cable lock.
char chosen[FT_SERIAL_LEN] = "";

}  // namespace

int cables_list(CableEntry* out, int capacity) {
  CableLockScope hold;
  DWORD count = 0;
  if (FT_CreateDeviceInfoList(&count) != FT_OK) return -1;
  int n = 0;
  for (DWORD i = 0; i < count && n < capacity; i++) {
    CableEntry& e = out[n];
    memset(&e, 0, sizeof e);
    DWORD flags = 0, type = 0, id = 0, loc = 0, state = PORT_STATE_FREE;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc, e.serial, e.description, nullptr) != FT_OK ||
        ftd2xx_deviceState(i, &state) != FT_OK)
      continue;
    e.state = (CableState)state;
    e.chosen = chosen[0] ? strcmp(e.serial, chosen) == 0 : i == 0;
    n++;
  }
  return n;
}

const char* cables_stateText(CableState state) {
  switch (state) {
    case CABLE_FREE: return "free";
    case CABLE_HERE: return "in use by this program";
    case CABLE_IN_USE: return "in use by another program";
    case CABLE_NO_PERMISSION: return "no permission";
  }
  return "unknown";
}

const char* cables_stateName(CableState state) {
  switch (state) {
    case CABLE_FREE: return "free";
    case CABLE_HERE: return "here";
    case CABLE_IN_USE: return "in-use";
    case CABLE_NO_PERMISSION: return "no-permission";
  }
  return "unknown";
}

const char* cables_stateHint(CableState state) {
  // The texts libftdi's failures are explained with: a claim refused (-5),
  // an open refused for want of permission (-8).
  switch (state) {
    case CABLE_IN_USE: return libftdi_hint(LIBFTDI_OPEN_DEV, -5);
    case CABLE_NO_PERMISSION: return libftdi_hint(LIBFTDI_OPEN_DEV, -8);
    default: return nullptr;
  }
}

bool cables_checkSerial(const char* text, char* why, size_t cap) {
  const size_t n = strlen(text);
  bool ok = n >= 1 && n <= CABLES_SERIAL_MAX;
  for (size_t i = 0; ok && i < n; i++) ok = text[i] > ' ' && text[i] < 127 && text[i] != '/';
  if (!ok)
    snprintf(why, cap, "\"%s\" is not a cable's serial number (1 to %d characters, no blanks, no '/')",
             text, (int)CABLES_SERIAL_MAX);
  return ok;
}

void cables_choose(const char* serial) {
  CableLockScope hold;
  if (!serial) serial = "";
  if (strcmp(serial, chosen) == 0) return;
  snprintf(chosen, sizeof chosen, "%s", serial);
  ftd2xx_releaseIdle();
}

const char* cables_chosen() {
  CableLockScope hold;
  return chosen;
}

bool cables_chooseAtStart(const char* option, char* why, size_t cap) {
  const char* env = getenv("TERN_CABLE");
  const char* serial = option && *option ? option : env && *env ? env : nullptr;
  if (!serial) return true;
  if (!cables_checkSerial(serial, why, cap)) return false;
  cables_choose(serial);
  return true;
}
