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
// only once the new content is completely written and synced. A symbolic
// link stays as it is and the file at the end of its chain is written (a
// dangling link's target is created); a replaced file keeps its permissions
// and, where the process may set it, its owner. Returns 0, or -1 with errno
// set when the file cannot be created or written; the old file is then left
// untouched and no temporary file remains.
int save_file(const char* path, const char* text);
