#include "curve/curve.h"

#include <cstring>

int32_t cData[CURVE_POINTS];

namespace {

void (*repaintHook)() = nullptr;

int clampLevel(int value) {
  if (value < 0) return 0;
  if (value > CURVE_MAX) return CURVE_MAX;
  return value;
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 character at s (avail bytes readable), or 0
// when the bytes there do not form one (stray continuation, overlong form,
// surrogate, beyond U+10FFFF, or cut short).
size_t utf8CharLen(const unsigned char* s, size_t avail) {
  const unsigned char b = s[0];
  if (b < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (avail < len) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < len; i++)
    if (!isContinuation(s[i])) return 0;
  return len;
}

void presetName(CurveRecord* rec, const char* name) {
  memset(rec->name, 0, sizeof rec->name);
  strncpy(rec->name, name, sizeof rec->name - 1);
}

}  // namespace

void setCData(int index, int value) {
  if (index < 0 || index >= CURVE_POINTS) return;
  cData[index] = clampLevel(value);
}

int curve_getData(CurveRecord* rec) {
  if (!rec) return 0;
  for (int i = 0; i < CURVE_POINTS; i++) rec->values[i] = (uint16_t)cData[i];
  return CURVE_POINTS;
}

void curve_setData(const CurveRecord* rec) {
  if (!rec) return;
  for (int i = 0; i < CURVE_POINTS; i++) setCData(i, rec->values[i]);
  if (repaintHook) repaintHook();
}

void curve_setRepaintHook(void (*hook)()) { repaintHook = hook; }

void curve_presetLinear(CurveRecord* rec) {
  if (!rec) return;
  presetName(rec, "LINEAR");
  for (int i = 0; i < CURVE_POINTS; i++) rec->values[i] = (uint16_t)(i * CURVE_MAX / 255);
}

void curve_presetCurve2(CurveRecord* rec) {
  if (!rec) return;
  presetName(rec, "Curve2");
  for (int i = 0; i < CURVE_POINTS; i++)
    rec->values[i] = (uint16_t)((255 - i) * CURVE_MAX / 255);
}

void curve_setName(CurveRecord* rec, const char* text) {
  curve_setNameN(rec, text, text ? strlen(text) : 0);
}

void curve_setNameN(CurveRecord* rec, const char* text, size_t len) {
  if (!rec) return;
  memset(rec->name, 0, sizeof rec->name);
  if (!text) return;
  const unsigned char* s = (const unsigned char*)text;
  const size_t room = sizeof rec->name - 1;
  size_t in = 0, out = 0;
  while (in < len && s[in] != 0) {
    size_t n = utf8CharLen(s + in, len - in);
    if (n == 0) {
      // Not UTF-8: one byte becomes '?'.
      if (out + 1 > room) break;
      rec->name[out++] = '?';
      in++;
      continue;
    }
    if (out + n > room) break;  // a character that does not fit whole is left out
    memcpy(rec->name + out, s + in, n);
    out += n;
    in += n;
  }
}
