#include "sim/sim_settings.h"

#include <cstdio>

#include "sim/sim_answer.h"

namespace {

enum : uint8_t {
  TAG_DISPLAY = 0x02,
  TAG_DALI_COUNT = 0x04,
  TAG_LIMIT = 0x05,
  TAG_CURVE = 0x07,
  TAG_LOSS = 0x0D,
  TAG_ADDR = 0x0E,
  TAG_VERSION = 0xA0,
};

// Applies the items it knows, in order; an unknown tag or an item that runs
// past the payload ends the walk.
void apply(SimSettings& s, const uint8_t* p, int length) {
  for (int i = 1; i + 1 < length;) {
    const uint8_t tag = p[i];
    const int n = p[i + 1];
    const uint8_t* v = p + i + 2;
    if (i + 2 + n > length) return;
    if (tag == TAG_ADDR && n == 2) {
      s.addr = (uint16_t)(v[0] | v[1] << 8);
    } else if (tag == TAG_LOSS && n == 1) {
      s.lossOfDmx = v[0];
    } else if (tag == TAG_DISPLAY && n == 2) {
      s.sleep = v[0];
      s.backlight = v[1];
    } else if (tag == TAG_LIMIT && n == 2) {
      s.limitUp = v[0];
      s.limitDown = v[1];
    } else {
      return;
    }
    i += 2 + n;
  }
}

void answerItems(const SimSettings& s, uint8_t daliCount, uint32_t uid, SimAnswer& a) {
  const uint8_t items[] = {0x01,
                           TAG_ADDR, 2, (uint8_t)(s.addr & 0xFF), (uint8_t)(s.addr >> 8),
                           TAG_LOSS, 1, s.lossOfDmx,
                           TAG_DISPLAY, 2, s.sleep, s.backlight,
                           TAG_LIMIT, 2, s.limitUp, s.limitDown,
                           TAG_DALI_COUNT, 1, daliCount,
                           TAG_VERSION, 2, s.verMajor, s.verMinor};
  simAnswer_frame(a, uid, items, (int)sizeof items);
}

}  // namespace

bool simSettings_respond(SimSettings& s, uint8_t daliCount, uint32_t uid, uint32_t dest,
                         const uint8_t* p, int length, SimAnswer& answer) {
  if (length < 1 || p[0] != 0x01) return false;
  if (length >= 2 && p[1] == TAG_CURVE) return false;  // a curve part
  if (length == 1) {
    if (dest != uid) return false;
    s.reads++;
  } else {
    apply(s, p, length);
    s.writes++;
    if (dest != uid) return false;
  }
  answerItems(s, daliCount, uid, answer);
  return true;
}

std::string simSettings_json(const SimSettings& s) {
  char buf[256];
  snprintf(buf, sizeof buf,
           "\"settings\": {\"addr\": %u, \"lossOfDmx\": %u, \"sleep\": %u, \"backlight\": %u, "
           "\"limitUp\": %u, \"limitDown\": %u, \"version\": \"%u.%u\"}, "
           "\"setupReads\": %d, \"setupWrites\": %d",
           s.addr, s.lossOfDmx, s.sleep, s.backlight, s.limitUp, s.limitDown, s.verMajor,
           s.verMinor, s.reads, s.writes);
  return buf;
}
