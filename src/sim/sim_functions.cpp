#include "sim/sim_functions.h"

#include "sim/sim_answer.h"

void simFunctions_init(SimFunctions& f, uint32_t uid) {
  f.settings.addr = (uint16_t)(1 + uid % 512);
  f.settings.backlight = (uint8_t)(uid / 512 % 101);
}

bool simFunctions_respond(SimFunctions& f, uint32_t& uid, const uint8_t* d, int n,
                          SimAnswer& answer) {
  if (n <= SIM_FRAME_HEADER) return false;
  const uint32_t dest = simAnswer_le32(d + 4);
  const uint8_t* p = d + SIM_FRAME_HEADER;
  const int length = d[18];
  const uint8_t cls = p[0];
  if (cls != 0x02 && simFaults_silent(f.faults, cls)) return false;
  switch (cls) {
    case 0x01:
      return simSettings_respond(f.settings, f.daliCount, uid, dest, p, length, answer);
    case 0x02:
      return simDiscovery_respond(f.discovery, f.faults, uid, dest, p, length, answer);
    default:
      return false;
  }
}

std::string simFunctions_json(const SimFunctions& f) {
  std::string out = f.discovery.muted ? "\"muted\": true, " : "\"muted\": false, ";
  out += simSettings_json(f.settings);
  out += ", ";
  return out;
}
