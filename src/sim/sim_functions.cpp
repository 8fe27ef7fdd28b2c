#include "sim/sim_functions.h"

#include <cstdio>

#include "sim/sim_answer.h"

namespace {


bool identify(SimFunctions& f, uint32_t uid, const uint8_t* p, int length, SimAnswer& a) {
  if (p[1] != 0x20 || length < 5 || p[2] < 2) return false;
  f.identified++;
  f.identifyTime = (uint16_t)(p[3] | p[4] << 8);
  const uint8_t ack[] = {0x03, 0x20, 0x00};
  simAnswer_frame(a, uid, ack, sizeof ack);
  return true;
}

// Takes the new UID and acknowledges under it (or, with the fault, under
// the old one); refuses a UID no device may have (0, or the top bit set).
bool changeUid(SimFunctions& f, uint32_t& uid, const uint8_t* p, int length, SimAnswer& a) {
  if (p[1] != 0x10 || length < 7 || p[2] != 4) return false;
  const uint32_t fresh = simAnswer_le32(p + 3);
  if (fresh == 0 || (fresh & 0x80000000u) != 0) {
    // No device can have that UID: say no, keeping the UID it has.
    const uint8_t no[] = {0x03, 0x10, 0x00};
    simAnswer_frame(a, uid, no, sizeof no);
    return true;
  }
  const uint32_t old = uid;
  f.formerUid = old;
  f.uidChanges++;
  uid = fresh;
  const uint8_t ack[] = {0x03, 0x11, 0x00};
  simAnswer_frame(a, f.faults.acknowledgesUnderOldUid ? old : fresh, ack, sizeof ack);
  return true;
}

bool functions(SimFunctions& f, uint32_t& uid, uint32_t dest, const uint8_t* p, int length,
               uint64_t endUs, SimAnswer& a) {
  if (dest != uid || length < 2) return false;  // addressed requests only
  switch (p[1] & 0xF0) {
    case 0x10:
      return changeUid(f, uid, p, length, a);
    case 0x20:
      return identify(f, uid, p, length, a);
    case 0x30:
      return simDali_respond(f.dali, uid, p, length, endUs, a);
    default:
      return false;
  }
}

}  // namespace

void simFunctions_init(SimFunctions& f, uint32_t uid) {
  f.settings.addr = (uint16_t)(1 + uid % 512);
  f.settings.backlight = (uint8_t)(uid / 512 % 101);
  f.discovery.lossRng = uid * 2654435761u | 1u;
}

bool simFunctions_respond(SimFunctions& f, uint32_t& uid, const uint8_t* d, int n, uint64_t endUs,
                          SimAnswer& answer) {
  if (n <= SIM_FRAME_HEADER) return false;
  const uint32_t dest = simAnswer_le32(d + 4);
  const uint8_t* p = d + SIM_FRAME_HEADER;
  const int length = d[18];
  const uint8_t cls = p[0];
  if (cls != 0x02 && simFaults_silent(f.faults, cls)) return false;
  switch (cls) {
    case 0x01:
      return simSettings_respond(f.settings, (uint8_t)f.dali.gear.size(), uid, dest, p, length,
                                 answer);
    case 0x02:
      return simDiscovery_respond(f.discovery, f.faults, uid, dest, p, length, answer);
    case 0x03:
      return functions(f, uid, dest, p, length, endUs, answer);
    default:
      return false;
  }
}

std::string simFunctions_json(const SimFunctions& f) {
  char buf[128];
  snprintf(buf, sizeof buf, "\"muted\": %s, \"identified\": %d, \"uidChanges\": %d, \"formerUid\": \"%08X\", ",
           f.discovery.muted ? "true" : "false", f.identified, f.uidChanges, (unsigned)f.formerUid);
  std::string out = buf;
  out += simSettings_json(f.settings);
  out += ", ";
  out += simDali_json(f.dali);
  out += ", ";
  return out;
}
