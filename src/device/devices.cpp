#include "device/devices.h"

#include <cstdio>
#include <atomic>
#include <cstring>
#include <mutex>

const char* const lossOfDmx[DEV_LOSS_MODES + 1] = {"HOLD", "to 0%", "to 100%", ""};

namespace {

Device dev[DEV_TABLE_SIZE];
std::mutex devGuard;
// Rises with every change under the guard; starts at 1 so that 0 means
// "never read" to a reader.
std::atomic<uint32_t> generation{1};

void changed() { generation.fetch_add(1, std::memory_order_release); }

typedef std::lock_guard<std::mutex> Guard;

// The index of uid's record, or -1. Caller holds the guard.
int lookUp(uint32_t uid) {
  for (int i = 0; i < DEV_TABLE_SIZE; i++)
    if (dev[i].uid == uid) return i;
  return -1;
}

// Claims the first free record for uid. Caller holds the guard.
int claim(uint32_t uid) {
  for (int i = 0; i < DEV_TABLE_SIZE; i++) {
    if (dev[i].uid == 0) {
      dev[i].uid = uid;
      changed();
      return i;
    }
  }
  return -1;
}

// Look up or claim. Caller holds the guard. UID 0 marks a free record, so
// it never names a device: looking it up would hand out a free record.
Device* record(uint32_t uid) {
  if (uid == 0) return nullptr;
  int i = lookUp(uid);
  if (i < 0) i = claim(uid);
  return i < 0 ? nullptr : &dev[i];
}

}  // namespace

int addDevUID(uint32_t uid) {
  if (uid == 0) return -1;
  Guard g(devGuard);
  return claim(uid);
}

Device* getDevUID(uint32_t uid) {
  if (uid == 0) return nullptr;
  Guard g(devGuard);
  int i = lookUp(uid);
  return i < 0 ? nullptr : &dev[i];
}

int findDevUID(uint32_t uid) {
  Guard g(devGuard);
  Device* d = record(uid);
  return d ? (int)(d - dev) : -1;
}

bool dev_copy(uint32_t uid, Device* out) {
  if (uid == 0 || !out) return false;
  Guard g(devGuard);
  int i = lookUp(uid);
  if (i < 0) return false;
  *out = dev[i];
  return true;
}

int dev_count() {
  Guard g(devGuard);
  int n = 0;
  for (const Device& d : dev) n += d.uid != 0 ? 1 : 0;
  return n;
}

int dev_removeAll() {
  Guard g(devGuard);
  memset(dev, 0, sizeof dev);
  changed();
  return 0;
}

int dev_removeAllSetup() {
  Guard g(devGuard);
  for (Device& d : dev) {
    const uint32_t uid = d.uid;
    memset(&d, 0, sizeof d);
    d.uid = uid;
  }
  changed();
  return 0;
}

uint32_t dev_generation() {
  const uint32_t g = generation.load(std::memory_order_acquire);
  return g ? g : 1;
}

int dev_setAnswered(uint32_t uid, bool answered) {
  Guard g(devGuard);
  Device* d = nullptr;
  if (answered) {
    d = record(uid);
  } else if (uid != 0) {
    const int i = lookUp(uid);
    d = i < 0 ? nullptr : &dev[i];
  }
  if (d && d->answered != (answered ? 1 : 0)) {
    d->answered = answered ? 1 : 0;
    changed();
  }
  return 0;
}

int dev_getAddr(uint32_t uid) {
  Guard g(devGuard);
  Device* d = record(uid);
  return d ? (int)d->addr : -1;
}

int dev_getLossOfDmxStr(uint32_t uid, char* text) {
  Guard g(devGuard);
  Device* d = record(uid);
  if (!d) return -1;
  if (text) snprintf(text, DEV_LOSS_TEXT_SIZE, "%s", lossOfDmx[d->lossOfDmx & 3]);
  return d->lossOfDmx;
}

int dev_getVerStr(uint32_t uid, char* text) {
  Guard g(devGuard);
  Device* d = record(uid);
  if (!d) return -1;
  if (!text || d->ver[0] < 1 || d->ver[0] > 3) return 0;
  return dev_verText(d, text, DEV_VER_TEXT_SIZE);
}

int dev_verText(const Device* d, char* text, int size) {
  if (!text || size <= 0) return 0;
  text[0] = 0;
  if (!d || d->ver[0] < 1 || d->ver[0] > 3) return 0;
  const int n = snprintf(text, (size_t)size, "ver.%d.%d;", d->ver[0], d->ver[1]);
  return n < size ? n : size - 1;
}

int getVerStr(char* text, int size, const uint8_t* bytes) {
  if (!text || size <= 0) return 0;
  text[0] = 0;
  int len = 0;
  // Appends while it fits; snprintf cuts and terminates what does not.
  auto append = [&](const char* fmt, int v) {
    if (len >= size - 1) return;
    int n = snprintf(text + len, (size_t)(size - len), fmt, v);
    if (n > 0) len += n < size - len ? n : size - 1 - len;
  };
  const int c = bytes ? bytes[0] : 0;
  for (int i = 1; i <= c; i++) append(i == 3 && bytes[i] > 64 ? "%c." : "%d.", bytes[i]);
  if (len < size - 1) {
    int n = snprintf(text + len, (size_t)(size - len), "; ");
    if (n > 0) len += n < size - len ? n : size - 1 - len;
  }
  return len;
}

int dev_setAddr(uint32_t uid, const uint8_t* b) {
  Guard g(devGuard);
  if (Device* d = record(uid)) {
    d->addr = (uint16_t)(b[0] | b[1] << 8);
    changed();
  }
  return 0;
}

int dev_setLossOfDmx(uint32_t uid, const uint8_t* b) {
  Guard g(devGuard);
  if (Device* d = record(uid)) {
    d->lossOfDmx = b[0];
    changed();
  }
  return 0;
}

int dev_setDisplay(uint32_t uid, const uint8_t* b) {
  Guard g(devGuard);
  if (Device* d = record(uid)) {
    d->display[0] = b[0];
    d->display[1] = b[1];
    changed();
  }
  return 0;
}

int dev_setLimit(uint32_t uid, const uint8_t* b) {
  Guard g(devGuard);
  if (Device* d = record(uid)) {
    d->limit[0] = b[0];
    d->limit[1] = b[1];
    changed();
  }
  return 0;
}

int dev_setDaliCount(uint32_t uid, const uint8_t* b) {
  {
    Guard g(devGuard);
    Device* d = record(uid);
    if (!d) return 0;
    d->daliCount = b[0];
    changed();
  }
  printf("%X DALI:%d\n", (unsigned)uid, b[0]);
  return 0;
}

int dev_setDaliDev(uint32_t uid, const uint8_t* b) {
  const int n = b[0];
  if (n >= DEV_DALI_SIZE) return 0;
  DaliEntry stored;
  {
    Guard g(devGuard);
    Device* d = record(uid);
    if (!d) return 0;
    d->dali[n].shortAddr = b[1];
    d->dali[n].randomAddr = (uint32_t)b[2] | (uint32_t)b[3] << 8 | (uint32_t)b[4] << 16;
    d->dali[n].read = 1;
    stored = d->dali[n];
    changed();
  }
  printf("%X DALI dev:%02X - %06X - %02X %02X %02X\n", (unsigned)uid, stored.shortAddr,
         (unsigned)stored.randomAddr, b[2], b[3], b[4]);
  return 0;
}

int dev_setVer(uint32_t uid, const uint8_t* b) {
  Guard g(devGuard);
  if (Device* d = record(uid)) {
    d->ver[0] = b[0];
    d->ver[1] = b[1];
    changed();
  }
  return 0;
}
