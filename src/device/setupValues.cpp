#include "device/setupValues.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "device/devices.h"

namespace {

// "%d" conversion: leading blanks skipped, anything after the digits
// ignored.
bool number(const char* text, int lo, int hi, int32_t* out) {
  int v = 0;
  if (!text || sscanf(text, "%d", &v) != 1) return false;
  *out = v;
  return v >= lo && v <= hi;
}

// A whole decimal number, blanks around it allowed; one too large for an
// int is out of range, as any value beyond hi is.
bool wholeNumber(const char* text, int lo, int hi, int32_t* out) {
  if (!text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (end == text || !isdigit((unsigned char)end[-1])) return false;
  while (*end == ' ' || *end == '\t') end++;
  if (*end != 0) return false;
  const bool fits = errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
  *out = fits ? (int32_t)v : (v < 0 ? INT32_MIN : INT32_MAX);
  return fits && v >= lo && v <= hi;
}

bool number(const char* text, int lo, int hi, int32_t* out, bool strict) {
  return strict ? wholeNumber(text, lo, hi, out) : number(text, lo, hi, out);
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

int check(const char* addr, const char* back, const char* up, const char* down, SetupValues* v,
          bool strict) {
  int bits = 0;
  if (!number(addr, 1, 512, &v->addr, strict)) bits |= SETUP_BAD_ADDR;
  if (!number(back, 0, 100, &v->backlight, strict)) bits |= SETUP_BAD_BACKLIGHT;
  if (!number(up, 0, 255, &v->limitUp, strict)) bits |= SETUP_BAD_UP;
  if (!number(down, 0, 255, &v->limitDown, strict)) bits |= SETUP_BAD_DOWN;
  if (!(bits & (SETUP_BAD_UP | SETUP_BAD_DOWN)) && v->limitDown > v->limitUp) bits |= SETUP_BAD_ORDER;
  if (bits & SETUP_BAD_ADDR) append(v, "Start address:\n \"%s\"\n\nis not valid.\n\n%s", addr);
  if (bits & SETUP_BAD_BACKLIGHT) append(v, "Backlight:\n \"%s\"\n\nis not valid.\n%s", back);
  if (bits & SETUP_BAD_UP) append(v, "Limit UP:\n \"%s\"\n\nis not valid.\n%s", up);
  if (bits & SETUP_BAD_DOWN) append(v, "Limit DOWN:\n \"%s\"\n\nis not valid.\n%s", down);
  if (bits & SETUP_BAD_ORDER) append(v, "Limit:\n  UP \"%s\" < DOWN \"%s\" ", up, down);
  return bits;
}

// Matches text against the entries a combo box offers for a stored value.
bool comboEntry(const char* text, int stored, int entries, void (*entryText)(int, int, char*, int),
                int (*entryValue)(int, int), int32_t* value) {
  if (!text) return false;
  int32_t asNumber = -1;
  const bool isNumber = wholeNumber(text, 0, 255, &asNumber);
  for (int i = 0; i < entries; i++) {
    char shown[SETUP_COMBO_TEXT_SIZE];
    entryText(i, stored, shown, sizeof shown);
    const int sends = entryValue(i, stored);
    if (strcasecmp(text, shown) == 0 || (isNumber && asNumber == sends)) {
      *value = sends;
      return true;
    }
  }
  return false;
}

}  // namespace

int setupValues_check(const char* addr, const char* back, const char* up, const char* down,
                      SetupValues* v) {
  return check(addr, back, up, down, v, false);
}

int setupValues_checkStrict(const char* addr, const char* back, const char* up, const char* down,
                            SetupValues* v) {
  return check(addr, back, up, down, v, true);
}

bool setupValues_wholeNumber(const char* text, int lo, int hi, int32_t* value) {
  return wholeNumber(text, lo, hi, value);
}

int setupValues_sleepFromText(const char* text, int stored, int32_t* value, SetupValues* v) {
  if (comboEntry(text, stored, setupValues_sleepEntries(stored), setupValues_sleepText,
                 setupValues_sleepValue, value))
    return 0;
  setupValues_sleepMessage(text, v);
  return SETUP_BAD_SLEEP;
}

int setupValues_lossFromText(const char* text, int stored, int32_t* value, SetupValues* v) {
  if (comboEntry(text, stored, setupValues_lossEntries(stored), setupValues_lossText,
                 setupValues_lossValue, value))
    return 0;
  setupValues_lossMessage(text, v);
  return SETUP_BAD_LOSS;
}

void setupValues_sleepMessage(const char* text, SetupValues* v) {
  append(v, "Sleep [second]:\n \"%s\"\n\nis not valid.\n%s", text ? text : "");
}

void setupValues_lossMessage(const char* text, SetupValues* v) {
  append(v, "Loss Of DMX:\n \"%s\"\n\nis not valid.\n%s", text ? text : "");
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
