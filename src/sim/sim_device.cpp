#include "sim/sim_device.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "link/fileio.h"

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

const size_t CURVE_NAME_BYTES = 12;  // the record's name field

bool isUtf8(const std::string& s) {
  try {
    (void)SimJson(s).dump();
    return true;
  } catch (const SimJson::type_error&) {
    return false;
  }
}

std::string hexBytes(const std::string& s) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::string fromHex(const std::string& text, size_t maxBytes, const char* key) {
  if (text.size() % 2 != 0 || text.size() / 2 > maxBytes)
    throw SimJsonError(std::string(key) + ": not up to " + std::to_string(maxBytes) + " hexadecimal bytes");
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) out += (char)simJson_hex(text.substr(i, 2), 2, key);
  return out;
}

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

SimJson SimDevice::sim_toJson() const {
  char text[12];
  snprintf(text, sizeof text, "%08X", (unsigned)uid);
  SimJson j;
  j["uid"] = text;
  simFunctions_toJson(functions, j);
  // A name is bytes: one that is not UTF-8 (a code-page name) is kept
  // whole beside its readable form.
  if (isUtf8(curveName)) {
    j["curveName"] = curveName;
  } else {
    j["curveName"] = SimJson::parse(SimJson(curveName).dump(-1, ' ', false, SimJson::error_handler_t::replace));
    j["curveNameBytes"] = hexBytes(curveName);
  }
  j["curvesTaken"] = curvesTaken;
  j["badFrames"] = badFrames;
  j["curve"] = SimJson::array();
  for (int k = 0; k < CURVE_POINTS; k++) j["curve"].push_back(curve[k]);
  j["firmware"] = firmware.sim_toJson();
  return j;
}

void SimDevice::sim_fromJson(const SimJson& j) {
  simFunctions_fromJson(functions, uid, j);
  functions.discovery.lossRng = uid * 2654435761u | 1u;
  if (const std::string* bytes = simJson_string(j, "curveNameBytes")) {
    curveName = fromHex(*bytes, CURVE_NAME_BYTES, "curveNameBytes");
  } else if (const std::string* name = simJson_string(j, "curveName")) {
    if (name->size() > CURVE_NAME_BYTES) throw SimJsonError("curveName: longer than 12 bytes");
    curveName = *name;
  }
  simJson_int(j, "curvesTaken", 0, INT32_MAX, curvesTaken);
  simJson_int(j, "badFrames", 0, INT32_MAX, badFrames);
  if (const SimJson* levels = simJson_array(j, "curve")) {
    if (levels->size() != CURVE_POINTS) throw SimJsonError("curve: not 256 levels");
    for (int k = 0; k < CURVE_POINTS; k++) {
      const SimJson& v = (*levels)[k];
      if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 0xFFFF)
        throw SimJsonError("curve: level " + std::to_string(k) + " is not 0..65535");
      curve[k] = (uint16_t)v.get<long long>();
    }
  }
  if (const SimJson* fw = simJson_object(j, "firmware")) {
    try {
      firmware.sim_fromJson(*fw);
    } catch (const SimJsonError& e) {
      throw SimJsonError(std::string("firmware.") + e.what());
    }
  }
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

void SimDevices::sim_remove(int i) {
  delete devices[(size_t)i];
  devices.erase(devices.begin() + i);
}

SimDevice& SimDevices::sim_replace(int i, uint32_t uid) {
  delete devices[(size_t)i];
  devices[(size_t)i] = new SimDevice(uid);
  return *devices[(size_t)i];
}

void SimDevices::sim_attach(SimLine& line) {
  for (SimDevice* d : devices) line.sim_addResponder(d);
}

std::string SimDevices::sim_stateJson(const SimLine* line) const {
  SimJson doc;
  doc["devices"] = SimJson::array();
  for (const SimDevice* d : devices) doc["devices"].push_back(d->sim_toJson());
  if (line) doc["converter"] = line->sim_countersJson();
  return doc.dump(2) + "\n";
}

bool SimDevices::sim_loadState(const std::string& text, std::string& error) {
  std::vector<SimDevice*> loaded;
  try {
    const SimJson doc = SimJson::parse(text);
    if (!doc.is_object()) throw SimJsonError("not a JSON object");
    const SimJson* list = simJson_array(doc, "devices");
    if (!list) throw SimJsonError("devices: missing");
    std::set<uint32_t> used;
    for (size_t i = 0; i < list->size(); i++) {
      const SimJson& one = (*list)[i];
      const std::string where = "devices[" + std::to_string(i) + "]";
      try {
        if (!one.is_object()) throw SimJsonError("not an object");
        const std::string* uidText = simJson_string(one, "uid");
        if (!uidText) throw SimJsonError("uid: missing");
        const uint32_t uid = simJson_hex(*uidText, 8, "uid");
        if (uid == 0 || uid == 0xFFFFFFFFu) throw SimJsonError("uid: " + *uidText + " names no device");
        if (!used.insert(uid).second) throw SimJsonError("uid: " + *uidText + " is there twice");
        loaded.push_back(new SimDevice(uid));
        loaded.back()->sim_fromJson(one);
      } catch (const SimJsonError& e) {
        throw SimJsonError(where + "." + e.what());
      }
    }
  } catch (const SimJson::parse_error& e) {
    for (SimDevice* d : loaded) delete d;
    error = "it is not JSON: something unexpected at byte " + std::to_string(e.byte);
    return false;
  } catch (const std::exception& e) {  // SimJsonError, or nlohmann's type errors
    for (SimDevice* d : loaded) delete d;
    error = e.what();
    return false;
  }
  for (SimDevice* d : devices) delete d;
  devices = loaded;
  return true;
}

// Written whole or not at all: a run that ends in the middle of the write
// leaves the state of the run before, not half a file.
bool SimDevices::sim_writeState(const std::string& path, const SimLine* line) const {
  return save_file(path.c_str(), sim_stateJson(line).c_str()) == 0;
}
