// Reads arbitrary bytes as a curve file. Whatever the bytes, the record must
// come out sane: a terminated name of at most 11 bytes and 256 levels within
// 0..4095; and a record written back out must read in again unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "curve/curve_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = false;
  if (!quiet) {
    // The reader prints a line per level; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) abort();
    quiet = true;
  }
  if (size > CURVE_FILE_READ_MAX) size = CURVE_FILE_READ_MAX;
  CurveRecord rec;
  if (!curve_parseFile(data, (int)size, &rec)) {
    if (size != 0) abort();
    return 0;
  }
  if (strnlen(rec.name, CURVE_NAME_SIZE) > CURVE_NAME_SIZE - 1) abort();
  for (int i = 0; i < CURVE_POINTS; i++)
    if (rec.values[i] > CURVE_MAX) abort();
  static char text[CURVE_FILE_TEXT_SIZE];
  int len = curve_formatFile(&rec, text, sizeof text);
  if (len < 0) abort();
  CurveRecord again;
  if (!curve_parseFile((const unsigned char*)text, len, &again)) abort();
  if (memcmp(again.values, rec.values, sizeof rec.values) != 0) abort();
  return 0;
}
