#include "sim/sim_claim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A lock on the whole file, owned by the open file description (not by the
// process, as a plain fcntl lock is): the claims of two lines in one
// process exclude each other too, and the lock can be asked after.
struct flock wholeFile(short type) {
  struct flock l;
  memset(&l, 0, sizeof l);
  l.l_type = type;
  l.l_whence = SEEK_SET;
  return l;
}

int openLockFile(const std::string& serial) {
  return open(claim_path(serial).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

}  // namespace

std::string claim_path(const std::string& serial) {
  const char* dir = getenv("XDG_RUNTIME_DIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/tern-cable-" + serial + ".lock";
}

int claim_take(const std::string& serial) {
  const int fd = openLockFile(serial);
  if (fd < 0) return CLAIM_FAILED;
  struct flock l = wholeFile(F_WRLCK);
  if (fcntl(fd, F_OFD_SETLK, &l) == 0) return fd;
  const int why = errno;
  close(fd);
  return why == EAGAIN || why == EACCES ? CLAIM_HELD_ELSEWHERE : CLAIM_FAILED;
}

bool claim_heldElsewhere(const std::string& serial) {
  const int fd = openLockFile(serial);
  if (fd < 0) return false;
  struct flock l = wholeFile(F_WRLCK);
  const bool held = fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type != F_UNLCK;
  close(fd);
  return held;
}

void claim_release(int fd) {
  if (fd >= 0) close(fd);
}
