// Curve files (".crv"): plain text, the name on the first line, then the
// output levels of inputs 0..255, one decimal number a line.
#pragma once

#include "curve/curve.h"

enum {
  CURVE_FILE_TEXT_SIZE = 5000,  // buffer for the text Save writes (1292 bytes at most)
  CURVE_FILE_READ_MAX = 5012,   // the largest file Read accepts
  CURVE_PATH_SIZE = 256,        // buffer for the path Save writes to
};

// Writes the file text for the record into buf: the name (up to its zero,
// at most 11 bytes, control bytes left out) and "\n", then each of the 256
// values as "%d\n".
// Returns the text's length, or -1 when it does not fit in cap bytes with
// its terminating zero (buf is then left empty).
int curve_formatFile(const CurveRecord* rec, char* buf, int cap);

// Reads a curve from the n bytes of a file, leniently:
//  - the record is cleared first;
//  - the name is the first run of non-white-space bytes (leading white space
//    skipped), taken by curve_setNameN: control characters dropped, bytes
//    kept as they are, at most 11 bytes, cut between whole characters;
//  - the numbers are read from the first CR or LF on, so anything after the
//    name on the first line is ignored; only the digits 0..9 form numbers,
//    every other byte separates them; a number above 4095, of any length,
//    reads as 4095; numbers beyond the 256th are ignored;
//  - when the numbers run out, the remaining levels repeat the last number
//    read (0 if none).
// Prints "%d: %d\n" (level, value) for each number read.
// Returns 1 when the record was loaded, 0 when there is nothing to read
// (n < 1): the caller then leaves the current curve as it is.
int curve_parseFile(const unsigned char* data, int n, CurveRecord* rec);

// The path Save writes to: the chosen path, with ".crv" appended when it
// does not contain ".crv" anywhere ("test" -> "test.crv", "a.crv.old" stays).
// Returns 0, or -1 when the result would not fit in cap bytes with its
// terminating zero: a path is never cut.
int curve_savePath(const char* chosen, char* out, int cap);
