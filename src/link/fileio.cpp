#include "link/fileio.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

std::atomic<unsigned> tempCounter{0};

// Writes all of `text` to the descriptor; false on any failure.
bool writeAll(int fd, const char* text, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, text, n);
    if (w < 0) return false;
    text += w;
    n -= (size_t)w;
  }
  return true;
}

}  // namespace

int read_fileData(FILE* f, unsigned char* buf, int capacity) {
  int n = 0;
  while (n < capacity) {
    int c = fgetc(f);
    if (c == EOF) break;  // end of file or a read error: both end the read
    buf[n++] = (unsigned char)c;
  }
  return n;
}

int read_file(const char* path, unsigned char* buf, int capacity) {
  FILE* f = fopen(path, "rb");
  if (!f) return -1;
  int n = read_fileData(f, buf, capacity);
  fclose(f);
  return n;
}

// The text goes to a new file beside the target, which is renamed over the
// target only once it is completely written: a failed save never leaves a
// truncated or half-written file behind, and an existing file stays as it was.
int save_file(const char* path, const char* text) {
  std::string tmp = std::string(path) + ".tmp" + std::to_string(getpid()) + "_" +
                    std::to_string(tempCounter.fetch_add(1));
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  bool ok = writeAll(fd, text, strlen(text));
  ok = (fsync(fd) == 0) && ok;
  ok = (close(fd) == 0) && ok;
  if (ok && rename(tmp.c_str(), path) == 0) return 0;
  unlink(tmp.c_str());
  return -1;
}
