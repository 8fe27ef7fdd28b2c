#include "sim/sim_discovery.h"

#include "sim/sim_answer.h"

namespace {

enum : uint8_t { OP_MUTE = 0x00, OP_RELEASE = 0x01, OP_PROBE = 0x02 };
const uint32_t kBroadcast = 0xFFFFFFFFu;

// One draw of 0..999 from the device's own generator (xorshift32), so a
// device's losses depend only on its seed and the probes it heard.
int drawPerMille(uint32_t& state) {
  uint32_t x = state ? state : 1u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  state = x;
  return (int)(x % 1000u);
}

}  // namespace

bool simDiscovery_respond(SimDiscovery& s, const SimFaults& faults, uint32_t uid, uint32_t dest,
                          const uint8_t* p, int length, SimAnswer& answer) {
  if (length < 2 || p[0] != 0x02) return false;
  switch (p[1]) {
    case OP_RELEASE:
      s.muted = false;
      s.muteTries = 0;
      return false;
    case OP_PROBE: {
      if (length < 6 || dest != kBroadcast) return false;
      if (s.muted && !faults.probesWhileMuted) return false;
      if (uid <= simAnswer_le32(p + 2)) return false;
      if (faults.probeLossPerMille > 0 && drawPerMille(s.lossRng) < faults.probeLossPerMille) {
        s.probesMissed++;
        return false;
      }
      s.probesAnswered++;
      answer.count = 0;  // a break alone
      return true;
    }
    case OP_MUTE: {
      if (dest != uid || faults.neverMutes) return false;
      if (++s.muteTries < faults.mutesOnTry) return false;
      s.muted = true;
      const uint8_t ack[2] = {0x02, OP_MUTE};
      simAnswer_frame(answer, uid, ack, 2);
      return true;
    }
    default:
      return false;
  }
}
