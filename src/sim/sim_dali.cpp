#include "sim/sim_dali.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "sim/sim_answer.h"

namespace {

enum : uint8_t { CMD_RANDOMIZE = 1, CMD_SEARCH = 2, CMD_STATUS = 3, CMD_ENTRY = 4 };

void randomize(SimDali& d) {
  for (SimDaliGear& g : d.gear) g.randomAddr = d.rng() & 0xFFFFFFu;
}

// Short addresses in the order of the random addresses, as a DALI search
// finds the gear from the lowest random address up.
void search(SimDali& d) {
  std::stable_sort(d.gear.begin(), d.gear.end(),
                   [](const SimDaliGear& a, const SimDaliGear& b) { return a.randomAddr < b.randomAddr; });
  for (size_t i = 0; i < d.gear.size(); i++) d.gear[i].shortAddr = (uint8_t)i;
}

void answer(SimAnswer& a, uint32_t uid, std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> p(bytes);
  simAnswer_frame(a, uid, p.data(), (int)p.size());
}

}  // namespace

void simDali_populate(SimDali& d, int count, uint32_t seed) {
  d.rng.seed(seed);
  d.gear.assign((size_t)std::max(0, std::min(count, 255)), SimDaliGear{0, 0});
  randomize(d);
  for (size_t i = 0; i < d.gear.size(); i++) d.gear[i].shortAddr = (uint8_t)i;
}

bool simDali_respond(SimDali& d, uint32_t uid, const uint8_t* p, int length, uint64_t endUs,
                     SimAnswer& a) {
  if (length < 4 || p[1] != 0x30) return false;
  const uint8_t count = (uint8_t)d.gear.size();
  switch (p[3]) {
    case CMD_RANDOMIZE:
      d.randomizes++;
      randomize(d);
      d.busyUntilUs = endUs + SimDali::kRandomizeBusyUs;
      answer(a, uid, {0x03, 0x30, 1, CMD_RANDOMIZE});
      return true;
    case CMD_SEARCH:
      d.searches++;
      search(d);
      d.busyUntilUs = endUs + SimDali::kSearchBusyUs + SimDali::kSearchPerGearUs * count;
      answer(a, uid, {0x03, 0x30, 1, CMD_SEARCH});
      return true;
    case CMD_STATUS:
      d.statusAsked++;
      answer(a, uid, {0x03, 0x30, 2, CMD_STATUS, (uint8_t)(endUs < d.busyUntilUs ? 1 : 0), count});
      return true;
    case CMD_ENTRY: {
      if (length < 5 || p[4] >= count) return false;
      const SimDaliGear& g = d.gear[p[4]];
      answer(a, uid, {0x03, 0x30, 6, CMD_ENTRY, p[4], g.shortAddr, (uint8_t)(g.randomAddr & 0xFF),
                      (uint8_t)(g.randomAddr >> 8 & 0xFF), (uint8_t)(g.randomAddr >> 16 & 0xFF)});
      return true;
    }
    default:
      return false;
  }
}

void simDali_toJson(const SimDali& d, SimJson& j) {
  SimJson gear = SimJson::array();
  for (const SimDaliGear& g : d.gear) {
    char random[8];
    snprintf(random, sizeof random, "%06X", (unsigned)(g.randomAddr & 0xFFFFFFu));
    gear.push_back({{"short", g.shortAddr}, {"random", random}});
  }
  j["dali"] = gear;
  j["daliSearches"] = d.searches;
  j["daliRandomizes"] = d.randomizes;
}

void simDali_fromJson(SimDali& d, const SimJson& j) {
  if (const SimJson* gear = simJson_array(j, "dali")) {
    if (gear->size() > 255) throw SimJsonError("dali: more than 255 gear");
    d.gear.clear();
    for (const SimJson& g : *gear) {
      if (!g.is_object()) throw SimJsonError("dali: an entry is not an object");
      SimDaliGear one{0, 0};
      simJson_int(g, "short", 0, 255, one.shortAddr);
      if (const std::string* r = simJson_string(g, "random")) one.randomAddr = simJson_hex(*r, 6, "random");
      d.gear.push_back(one);
    }
  }
  simJson_int(j, "daliSearches", 0, INT32_MAX, d.searches);
  simJson_int(j, "daliRandomizes", 0, INT32_MAX, d.randomizes);
  d.busyUntilUs = 0;
}
