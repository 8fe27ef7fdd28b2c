#include "sim/sim_settings.h"

#include <cstdint>
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

void simSettings_toJson(const SimSettings& s, SimJson& j) {
  j["settings"] = {{"addr", s.addr},           {"lossOfDmx", s.lossOfDmx}, {"sleep", s.sleep},
                   {"backlight", s.backlight}, {"limitUp", s.limitUp},     {"limitDown", s.limitDown},
                   {"version", std::to_string(s.verMajor) + "." + std::to_string(s.verMinor)}};
  j["setupReads"] = s.reads;
  j["setupWrites"] = s.writes;
}

void simSettings_fromJson(SimSettings& s, const SimJson& j) {
  if (const SimJson* v = simJson_object(j, "settings")) {
    simJson_int(*v, "addr", 0, 0xFFFF, s.addr);
    simJson_int(*v, "lossOfDmx", 0, 255, s.lossOfDmx);
    simJson_int(*v, "sleep", 0, 255, s.sleep);
    simJson_int(*v, "backlight", 0, 255, s.backlight);
    simJson_int(*v, "limitUp", 0, 255, s.limitUp);
    simJson_int(*v, "limitDown", 0, 255, s.limitDown);
    if (const std::string* ver = simJson_string(*v, "version")) {
      unsigned major = 0, minor = 0;
      char end = 0;
      if (sscanf(ver->c_str(), "%3u.%3u%c", &major, &minor, &end) != 2 || major > 255 || minor > 255)
        throw SimJsonError("version: \"" + *ver + "\" is not major.minor");
      s.verMajor = (uint8_t)major;
      s.verMinor = (uint8_t)minor;
    }
  }
  simJson_int(j, "setupReads", 0, INT32_MAX, s.reads);
  simJson_int(j, "setupWrites", 0, INT32_MAX, s.writes);
}
