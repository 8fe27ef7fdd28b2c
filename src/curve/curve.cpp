#include "curve/curve.h"

#include <cmath>
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

// Control characters: C0 and DEL as single bytes, C1 (U+0080..U+009F) as
// their two-byte UTF-8 form.
bool isControl(const unsigned char* c, size_t n) {
  if (n == 1) return c[0] < 0x20 || c[0] == 0x7F;
  return n == 2 && c[0] == 0xC2 && c[1] < 0xA0;
}

// Windows-1252 code point of a byte; U+FFFD for its five unassigned bytes.
uint32_t cp1252(unsigned char b) {
  static const uint16_t high[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  return (b >= 0x80 && b < 0xA0) ? high[b - 0x80] : b;
}

// UTF-8 form of a code point below U+10000; returns its length.
size_t encodeUtf8(uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = (char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (char)(0xC0 | (c >> 6));
    out[1] = (char)(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = (char)(0xE0 | (c >> 12));
  out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
  out[2] = (char)(0x80 | (c & 0x3F));
  return 3;
}

// The name shown in the entry: as the record holds it, and as text.
char shownRaw[CURVE_NAME_SIZE];
char shownText[CURVE_NAME_TEXT_SIZE];

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

void curve_presetDaliLog(CurveRecord* rec) {
  if (!rec) return;
  presetName(rec, "DALI LOG");
  rec->values[0] = 0;
  for (int i = 1; i < CURVE_POINTS; i++)
    rec->values[i] = (uint16_t)std::lround(CURVE_MAX * std::pow(10.0, 3.0 * (i - 255) / 254.0));
}

void curve_presetGamma22(CurveRecord* rec) {
  if (!rec) return;
  presetName(rec, "GAMMA 2.2");
  for (int i = 0; i < CURVE_POINTS; i++)
    rec->values[i] = (uint16_t)std::lround(CURVE_MAX * std::pow(i / 255.0, 2.2));
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
    const bool keep = n == 0 || !isControl(s + in, n);
    if (n == 0) n = 1;  // a byte of an 8-bit code page: kept as it is
    if (keep) {
      if (out + n > room) break;  // a character that does not fit whole is left out
      memcpy(rec->name + out, s + in, n);
      out += n;
    }
    in += n;
  }
}

void curve_nameToText(const char* name, char* text, size_t cap) {
  if (!text || cap == 0) return;
  text[0] = 0;
  if (!name) return;
  const unsigned char* s = (const unsigned char*)name;
  const size_t len = strnlen(name, CURVE_NAME_SIZE - 1);
  size_t out = 0;
  for (size_t in = 0; in < len;) {
    char buf[4];
    size_t n = utf8CharLen(s + in, len - in);
    size_t m = n;
    if (n == 0) {
      m = encodeUtf8(cp1252(s[in]), buf);
      n = 1;
    } else {
      memcpy(buf, s + in, n);
    }
    if (out + m + 1 > cap) break;
    memcpy(text + out, buf, m);
    out += m;
    in += n;
  }
  text[out] = 0;
}

const char* curve_showName(const char* name) {
  memset(shownRaw, 0, sizeof shownRaw);
  if (name) memcpy(shownRaw, name, strnlen(name, CURVE_NAME_SIZE - 1));
  curve_nameToText(shownRaw, shownText, sizeof shownText);
  return shownText;
}

void curve_nameFromEntry(CurveRecord* rec, const char* entryText) {
  if (!rec) return;
  if (entryText && strcmp(entryText, shownText) == 0)
    memcpy(rec->name, shownRaw, sizeof rec->name);
  else
    curve_setName(rec, entryText);
}
