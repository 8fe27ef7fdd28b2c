#include "app/setupValues.h"

#include <cstdio>
#include <cstring>

#include "device/devices.h"

namespace {

// "%d" conversion: leading blanks skipped, anything after the digits ignored.
bool number(const char* text, int lo, int hi, int32_t* out) {
  int v = 0;
  if (!text || sscanf(text, "%d", &v) != 1) return false;
  *out = v;
  return v >= lo && v <= hi;
}

void append(SetupValues* v, const char* fmt, const char* a, const char* b = "") {
  const size_t used = strlen(v->errorText);
  if (used + 1 >= sizeof v->errorText) return;
  snprintf(v->errorText + used, sizeof v->errorText - used, fmt, a, b);
}

bool hasExtraSleep(int stored) {
  return stored != 0 && (stored < SETUP_SLEEP_FIRST || stored > SETUP_SLEEP_LAST);
}

bool hasExtraLoss(int stored) { return stored >= SETUP_LOSS_ENTRIES; }

}  // namespace

int setupValues_check(const char* addr, const char* back, const char* up, const char* down,
                      SetupValues* v) {
  int bits = 0;
  if (!number(addr, 1, 512, &v->addr)) bits |= SETUP_BAD_ADDR;
  if (!number(back, 0, 100, &v->backlight)) bits |= SETUP_BAD_BACKLIGHT;
  if (!number(up, 0, 255, &v->limitUp)) bits |= SETUP_BAD_UP;
  if (!number(down, 0, 255, &v->limitDown)) bits |= SETUP_BAD_DOWN;
  if (!(bits & (SETUP_BAD_UP | SETUP_BAD_DOWN)) && v->limitDown > v->limitUp) bits |= SETUP_BAD_ORDER;
  if (bits & SETUP_BAD_ADDR) append(v, "Start address:\n \"%s\"\n\nis not valid.\n\n%s", addr);
  if (bits & SETUP_BAD_BACKLIGHT) append(v, "Backlight:\n \"%s\"\n\nis not valid.\n%s", back);
  if (bits & SETUP_BAD_UP) append(v, "Limit UP:\n \"%s\"\n\nis not valid.\n%s", up);
  if (bits & SETUP_BAD_DOWN) append(v, "Limit DOWN:\n \"%s\"\n\nis not valid.\n%s", down);
  if (bits & SETUP_BAD_ORDER) append(v, "Limit:\n  UP \"%s\" < DOWN \"%s\" ", up, down);
  return bits;
}

int setupValues_sleepEntries(int stored) { return SETUP_SLEEP_ENTRIES + (hasExtraSleep(stored) ? 1 : 0); }

void setupValues_sleepText(int i, int stored, char* text, int size) {
  if (i == 0)
    snprintf(text, (size_t)size, "Off");
  else
    snprintf(text, (size_t)size, "%d", setupValues_sleepValue(i, stored));
}

int setupValues_sleepPosition(int stored) {
  if (stored == 0) return 0;
  if (hasExtraSleep(stored)) return SETUP_SLEEP_ENTRIES;
  return stored - SETUP_SLEEP_FIRST + 1;
}

int setupValues_sleepValue(int i, int stored) {
  if (i <= 0) return 0;
  if (i >= SETUP_SLEEP_ENTRIES) return stored;
  return i - 1 + SETUP_SLEEP_FIRST;
}

int setupValues_lossEntries(int stored) { return SETUP_LOSS_ENTRIES + (hasExtraLoss(stored) ? 1 : 0); }

void setupValues_lossText(int i, int stored, char* text, int size) {
  if (i >= 0 && i < SETUP_LOSS_ENTRIES)
    snprintf(text, (size_t)size, "%s", lossOfDmx[i]);
  else
    snprintf(text, (size_t)size, "mode %d", stored);
}

int setupValues_lossPosition(int stored) { return hasExtraLoss(stored) ? SETUP_LOSS_ENTRIES : (stored < 0 ? 0 : stored); }

int setupValues_lossValue(int i, int stored) { return i >= 0 && i < SETUP_LOSS_ENTRIES ? i : stored; }
