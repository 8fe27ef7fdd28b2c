#include "sim/sim_device.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <set>

namespace {

const int kHeader = 19;
const uint32_t kBroadcast = 0xFFFFFFFFu;

uint32_t le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// A frame as the device firmware checks it: magic, announced length present,
// 16-bit byte sum with the checksum field counted as zero.
bool frameValid(const uint8_t* d, int n) {
  if (n < kHeader || le32(d) != 0xFDA92991u) return false;
  if (n < kHeader + d[18]) return false;
  uint32_t sum = 0;
  for (int i = 0; i < kHeader + d[18]; i++) sum += (i == 16 || i == 17) ? 0 : d[i];
  return (sum & 0xFFFF) == (uint32_t)(d[16] | d[17] << 8);
}

// Where each curve part's record bytes go: offset in the record, count, and
// the bytes of the part's own header in front of them.
struct CurvePartLayout {
  int offset;
  int count;
  int headerBytes;
};
const CurvePartLayout kParts[3] = {{0, 170, 6}, {170, 170, 5}, {340, 184, 5}};

}  // namespace

SimDevice::SimDevice(uint32_t u) : uid(u) {
  simFunctions_init(functions, u);
  memset(curve, 0, sizeof curve);
  memset(record, 0, sizeof record);
}

bool SimDevice::sim_respond(const uint8_t* d, int n, uint64_t endUs, SimAnswer& answer) {
  if (SimFirmware::sim_isFirmwarePacket(d, n)) {
    firmware.sim_receive(d, n);  // unacknowledged
    return false;
  }
  if (n < kHeader || le32(d) != 0xFDA92991u) return false;  // not a Packet (firmware, noise)
  const uint32_t dest = le32(d + 4);
  if (dest != uid && dest != kBroadcast) return false;
  if (!frameValid(d, n)) {
    badFrames++;
    return false;
  }
  const uint8_t* payload = d + kHeader;
  const int length = d[18];
  if (length >= 2 && payload[0] == 0x01 && payload[1] == 0x07) onCurvePart(payload, length);
  return simFunctions_respond(functions, uid, d, n, endUs, answer);
}

void SimDevice::onCurvePart(const uint8_t* p, int length) {
  if (length < 5) return;
  const int part = p[3];
  if (part < 1 || part > CURVE_PART_COUNT) return;
  const CurvePartLayout& L = kParts[part - 1];
  if (length != L.headerBytes + L.count) return;
  memcpy(record + L.offset, p + L.headerBytes, (size_t)L.count);
  partsSeen |= 1u << (part - 1);
  // The last part ends a transfer: the curve is taken when the two before it
  // came in this same transfer; its repeat, or a part 3 alone, takes nothing.
  if (part == CURVE_PART_COUNT) {
    if (partsSeen == 7u) takeCurve();
    partsSeen = 0;
  }
}

void SimDevice::takeCurve() {
  char name[13];
  memcpy(name, record, 12);
  name[12] = 0;
  curveName = name;
  for (int i = 0; i < CURVE_POINTS; i++)
    curve[i] = (uint16_t)(record[12 + 2 * i] | record[13 + 2 * i] << 8);
  curvesTaken++;
  partsSeen = 0;
}

SimDevices::SimDevices(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::set<uint32_t> used;
  while ((int)devices.size() < count) {
    uint32_t u = 1 + rng() % 0x7FFFFFFFu;
    if (!used.insert(u).second) continue;
    devices.push_back(new SimDevice(u));
  }
}

SimDevices::~SimDevices() {
  for (SimDevice* d : devices) delete d;
}

SimDevice& SimDevices::sim_add(uint32_t uid) {
  devices.push_back(new SimDevice(uid));
  return *devices.back();
}

void SimDevices::sim_attach(SimLine& line) {
  for (SimDevice* d : devices) line.sim_addResponder(d);
}

std::string SimDevices::sim_stateJson(const SimLine* line) const {
  std::string out = "{\"devices\": [";
  char buf[64];
  for (size_t i = 0; i < devices.size(); i++) {
    const SimDevice& d = *devices[i];
    snprintf(buf, sizeof buf, "%s\n  {\"uid\": \"%08X\", ", i ? "," : "", d.sim_uid());
    out += buf;
    out += simFunctions_json(d.sim_functions());
    out += "\"curveName\": \"";
    for (char c : d.sim_curveName()) {
      if (c == '"' || c == '\\') out += '\\';
      if ((unsigned char)c < 0x20) continue;
      out += c;
    }
    snprintf(buf, sizeof buf, "\", \"curvesTaken\": %d, \"badFrames\": %d, \"curve\": [",
             d.sim_curvesTaken(), d.sim_badFrames());
    out += buf;
    for (int k = 0; k < SimDevice::CURVE_POINTS; k++) {
      snprintf(buf, sizeof buf, "%s%u", k ? ", " : "", d.sim_curve()[k]);
      out += buf;
    }
    out += "], \"firmware\": " + d.sim_firmware().sim_json() + "}";
  }
  out += "\n]";
  if (line) out += ",\n\"converter\": " + line->sim_countersJson();
  out += "}\n";
  return out;
}

bool SimDevices::sim_writeState(const std::string& path, const SimLine* line) const {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  std::string s = sim_stateJson(line);
  bool ok = fwrite(s.data(), 1, s.size(), f) == s.size();
  return (fclose(f) == 0) && ok;
}
