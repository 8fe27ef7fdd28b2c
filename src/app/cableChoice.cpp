#include "app/cableChoice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/fileio.h"

namespace {

const char kKey[] = "cable=";
enum { SETTINGS_MAX_BYTES = 64 * 1024 };

std::string readWhole(const char* path) {
  std::string text;
  unsigned char* data = new unsigned char[SETTINGS_MAX_BYTES];
  const int n = read_file(path, data, SETTINGS_MAX_BYTES);
  if (n > 0) text.assign((const char*)data, (size_t)n);
  delete[] data;
  return text;
}

// Makes the folders of `path` that are missing: 0 or an error number.
int makeFolders(const char* path) {
  std::string p = path;
  for (size_t at = 1; (at = p.find('/', at)) != std::string::npos; at++) {
    const std::string folder = p.substr(0, at);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

bool cableChoice_path(char* path, size_t size) {
  const char* config = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  int n;
  if (config && config[0] == '/')
    n = snprintf(path, size, "%s/tern/tern-curve.conf", config);
  else if (home && home[0])
    n = snprintf(path, size, "%s/.config/tern/tern-curve.conf", home);
  else
    return false;
  return n > 0 && (size_t)n < size;
}

bool cableChoice_read(const char* path, char* serial, size_t size) {
  const std::string text = readWhole(path);
  bool found = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (line.compare(0, sizeof kKey - 1, kKey) != 0) continue;
    const std::string value = line.substr(sizeof kKey - 1);
    char why[160];
    // The last line that names a converter wins; one that cannot be a
    // serial number names none and is passed over.
    if (!cables_checkSerial(value.c_str(), why, sizeof why) || value.size() >= size) continue;
    snprintf(serial, size, "%s", value.c_str());
    found = true;
  }
  return found;
}

int cableChoice_write(const char* path, const char* serial) {
  const std::string old = readWhole(path);
  std::string text;
  for (size_t at = 0; at < old.size();) {
    size_t end = old.find('\n', at);
    if (end == std::string::npos) end = old.size();
    const std::string line = old.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, sizeof kKey - 1, kKey) != 0) text += line + "\n";
  }
  text += std::string(kKey) + serial + "\n";
  const int folders = makeFolders(path);
  if (folders != 0) return folders;
  return save_file(path, text.c_str()) == 0 ? 0 : (errno ? errno : EIO);
}

const char* cableChoice_atStart(const char* kept, const CableEntry* cables, int count) {
  if (!kept || !kept[0]) return nullptr;
  for (int i = 0; i < count; i++)
    if (strcmp(cables[i].serial, kept) == 0) return kept;
  return nullptr;
}

bool cableChoice_applyKept() {
  if (cables_chosen()[0]) return false;  // named on the command line or in TERN_CABLE
  char path[CABLE_CHOICE_PATH_SIZE], kept[FT_SERIAL_LEN];
  if (!cableChoice_path(path, sizeof path) || !cableChoice_read(path, kept, sizeof kept)) return false;
  enum { LISTED = 32 };
  CableEntry cables[LISTED];
  const int count = cables_list(cables, LISTED);
  const char* serial = cableChoice_atStart(kept, cables, count);
  if (!serial) return false;
  cables_choose(serial);
  return true;
}
