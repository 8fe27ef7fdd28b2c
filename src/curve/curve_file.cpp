#include "curve/curve_file.h"

#include <cstdio>
#include <cstring>

namespace {

const char kExtension[] = ".crv";

bool isWhite(unsigned char b) {
  return b == ' ' || b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r';
}

bool isDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// The first run of non-white-space bytes; a zero byte ends it, as it ends
// the text.
void readName(const unsigned char* data, int n, CurveRecord* rec) {
  int p = 0;
  while (p < n && isWhite(data[p])) p++;
  int end = p;
  while (end < n && data[end] != 0 && !isWhite(data[end])) end++;
  curve_setNameN(rec, (const char*)data + p, (size_t)(end - p));
}

// Position of the first CR or LF, or n.
int firstLineEnd(const unsigned char* data, int n) {
  for (int p = 0; p < n; p++)
    if (data[p] == '\r' || data[p] == '\n') return p;
  return n;
}

// Reads the digit run at *p, saturating at 4095 however long it is.
int readNumber(const unsigned char* data, int n, int* p) {
  int value = 0;
  while (*p < n && isDigit(data[*p])) {
    if (value <= CURVE_MAX) value = value * 10 + (data[*p] - '0');
    (*p)++;
  }
  return value > CURVE_MAX ? CURVE_MAX : value;
}

}  // namespace

int curve_formatFile(const CurveRecord* rec, char* buf, int cap) {
  if (!rec || !buf || cap < 1) return -1;
  // The name is one line: a control byte in it would shift every level.
  char name[CURVE_NAME_SIZE];
  int nameLen = 0;
  for (int i = 0; i < CURVE_NAME_SIZE - 1 && rec->name[i]; i++) {
    const unsigned char b = (unsigned char)rec->name[i];
    if (b >= 0x20 && b != 0x7F) name[nameLen++] = rec->name[i];
  }
  int len = snprintf(buf, (size_t)cap, "%.*s\n", nameLen, name);
  for (int i = 0; i < CURVE_POINTS && len >= 0 && len < cap; i++) {
    int r = snprintf(buf + len, (size_t)(cap - len), "%d\n", (int)rec->values[i]);
    len = r < 0 ? -1 : len + r;
  }
  if (len < 0 || len >= cap) {
    buf[0] = 0;  // never hand out a cut text
    return -1;
  }
  return len;
}

int curve_parseFile(const unsigned char* data, int n, CurveRecord* rec) {
  if (!rec) return 0;
  memset(rec, 0, sizeof *rec);
  if (!data || n < 1) return 0;
  readName(data, n, rec);
  int p = firstLineEnd(data, n);
  int last = 0;
  for (int l = 0; l < CURVE_POINTS; l++) {
    while (p < n && !isDigit(data[p])) p++;
    if (p < n) {
      last = readNumber(data, n, &p);
      printf("%d: %d\n", l, last);
    }
    rec->values[l] = (uint16_t)last;
  }
  return 1;
}

int curve_savePath(const char* chosen, char* out, int cap) {
  if (!chosen || !out || cap < 1) return -1;
  const size_t len = strlen(chosen);
  const bool append = strstr(chosen, kExtension) == nullptr;
  const size_t total = len + (append ? sizeof kExtension - 1 : 0);
  if (total + 1 > (size_t)cap) return -1;
  memcpy(out, chosen, len);
  if (append) memcpy(out + len, kExtension, sizeof kExtension - 1);
  out[total] = 0;
  return 0;
}
