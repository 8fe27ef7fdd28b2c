// Whole-file reads into a caller's buffer and text-file writes.
#pragma once

#include <cstdio>

// Reads the file at `path` byte for byte, unchanged, into `buf`, stopping at
// end of file, at a read error, or when `capacity` bytes are stored. Returns
// the number of bytes stored, or -1 when the file cannot be opened. No
// terminating zero is added.
int read_file(const char* path, unsigned char* buf, int capacity);
// The same on a file the caller opened; leaves it open.
int read_fileData(FILE* f, unsigned char* buf, int capacity);
// Writes `text` (without its terminating zero) to `path`, replacing the file
// only once the new content is completely written. Returns 0, or -1 when the
// file cannot be created or written; the target is then left untouched.
int save_file(const char* path, const char* text);
