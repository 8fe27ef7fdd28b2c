#include "link/fileio.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

enum { LINK_HOPS_MAX = 40, TEMP_TRIES = 100 };

std::atomic<unsigned> tempCounter{0};

// Writes all of `text` to the descriptor; false on any failure.
bool writeAll(int fd, const char* text, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, text, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    text += w;
    n -= (size_t)w;
  }
  return true;
}

// The file a save through `path` replaces: the end of its chain of symbolic
// links (a relative link target counts from the link's folder), or the path
// itself when it is no link (a missing file included). A dangling link
// names the file to create. False (errno set) on a loop.
bool followLinks(const char* path, std::string& out) {
  std::string p = path;
  for (int hop = 0; hop < LINK_HOPS_MAX; hop++) {
    char target[PATH_MAX];
    const ssize_t n = readlink(p.c_str(), target, sizeof target);
    if (n < 0) {  // no link (or no file): the path itself; opening reports the rest
      out = p;
      return true;
    }
    if ((size_t)n >= sizeof target) {
      errno = ENAMETOOLONG;
      return false;
    }
    target[n] = 0;
    const size_t slash = p.rfind('/');
    if (target[0] == '/' || slash == std::string::npos)
      p = target;
    else
      p = p.substr(0, slash + 1) + target;
  }
  errno = ELOOP;
  return false;
}

// A fresh name for the temporary file beside `base`, within the folder's
// name length limit: the base name is shortened to leave room for the
// unique suffix.
std::string tempName(const std::string& base, long nameMax) {
  const std::string suffix =
      ".tmp" + std::to_string(getpid()) + "_" + std::to_string(tempCounter.fetch_add(1));
  size_t keep = base.size();
  if (keep + suffix.size() > (size_t)nameMax) keep = (size_t)nameMax - suffix.size();
  return base.substr(0, keep) + suffix;
}

// The new file takes the owner (where the process may give it) and the
// permissions of the file it replaces.
bool keepOwnerAndMode(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, (uid_t)-1, old.st_gid) != 0) {
    // Not ours to give away: the new file is the saver's, as any new file.
  }
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// Writes the text completely into the new file and forces it to disk.
bool fill(int fd, const char* text, bool replaces, const struct stat& old) {
  bool ok = writeAll(fd, text, strlen(text));
  if (ok && replaces) ok = keepOwnerAndMode(fd, old);
  return ok && fsync(fd) == 0;
}

int saveInFolder(int dirFd, const std::string& base, const char* text) {
  struct stat old{};
  const bool replaces = fstatat(dirFd, base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (replaces && !S_ISREG(old.st_mode)) {
    errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;  // only a plain file is replaced
    return -1;
  }
  long nameMax = fpathconf(dirFd, _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
  std::string tmp;
  int fd = -1;
  for (int i = 0; i < TEMP_TRIES && fd < 0; i++) {
    tmp = tempName(base, nameMax);
    // Private until it has the replaced file's mode; a new file gets the
    // usual mode (0666 less the umask).
    fd = openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replaces ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return -1;
  }
  if (fd < 0) return -1;
  bool ok = fill(fd, text, replaces, old);
  ok = (close(fd) == 0) && ok;
  if (ok && renameat(dirFd, tmp.c_str(), dirFd, base.c_str()) == 0) {
    fsync(dirFd);  // the new name on disk too
    return 0;
  }
  const int err = errno;
  unlinkat(dirFd, tmp.c_str(), 0);
  errno = err;
  return -1;
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

// The text goes to a new file beside the file it replaces, which is renamed
// over it only once it is completely written and on disk: a failed save
// never leaves a truncated or half-written file behind, and an existing
// file stays as it was. A symbolic link stays a link: the file it leads to
// is replaced.
int save_file(const char* path, const char* text) {
  if (!path || !text || !*path) {
    errno = EINVAL;
    return -1;
  }
  std::string target;
  if (!followLinks(path, target)) return -1;
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) {
    errno = EISDIR;
    return -1;
  }
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return -1;
  const int result = saveInFolder(dirFd, base, text);
  const int err = errno;
  close(dirFd);
  errno = err;
  return result;
}
