#include "device/app_setup.h"

#include <cstdio>

#include "device/devices.h"
#include "device/exchange.h"
#include "link/cable.h"
#include "link/timer.h"
#include "protocol/packet_structures.h"

std::atomic<uint32_t> setup_rec{0};

namespace {

enum {
  CURVE_PARTS = 3,
  CURVE_SENDS_PER_PART = 2,
  CURVE_SEND_PAUSE_MS = 40,  // mySleep adds 2: 42 ms
  CURVE_END_PAUSE_MS = 200,
};

// One part of the record on the wire. Part 1 alone carries a 0x00 byte ahead
// of its record bytes, counted in its item length and byte count.
struct CurvePart {
  int offset;  // first record byte
  int size;    // record bytes
  bool leadingZero;
};

const CurvePart kParts[CURVE_PARTS] = {
    {0, 170, true},
    {170, 170, false},
    {340, 184, false},
};
static_assert(170 + 170 + 184 == sizeof(CurveRecord), "the parts cover the record");

// Payload: class, tag, item length (bytes after it), part number, byte count,
// [0x00], record bytes.
void fillPart(Packet* p, int number, const CurvePart& part, const uint8_t* record) {
  const int extra = part.leadingZero ? 1 : 0;
  p->length = 0;
  p->data[p->length++] = PACKET_CLASS_SETUP;
  p->data[p->length++] = SETUP_TAG_CURVE;
  p->data[p->length++] = (uint8_t)(part.size + 2 + extra);
  p->data[p->length++] = (uint8_t)number;
  p->data[p->length++] = (uint8_t)(part.size + extra);
  if (part.leadingZero) p->data[p->length++] = 0x00;
  packet_fillData(p, record + part.offset, part.size);
}

void appendItem(Packet* p, uint8_t tag, uint8_t a, uint8_t b, int n) {
  p->data[p->length++] = tag;
  p->data[p->length++] = (uint8_t)n;
  p->data[p->length++] = a;
  if (n > 1) p->data[p->length++] = b;
}

int exchange(Packet* p, uint32_t uid, bool withCable) {
  Exchange ex;
  ex.mailbox = &setup_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_USLEEP_15;
  return withCable ? exchange_run(p, ex) : exchange_sendAndWait(p, ex);
}

// The setter of an item and the data bytes it reads; null for tags that end
// the walk.
typedef int (*ItemSetter)(uint32_t, const uint8_t*);
ItemSetter setterOf(uint8_t tag, int* width) {
  switch (tag) {
    case SETUP_TAG_DISPLAY: *width = 2; return dev_setDisplay;
    case SETUP_TAG_LIMIT: *width = 2; return dev_setLimit;
    case SETUP_TAG_LOSS: *width = 1; return dev_setLossOfDmx;
    case SETUP_TAG_ADDR: *width = 2; return dev_setAddr;
    case SETUP_TAG_VERSION: *width = 2; return dev_setVer;
    case SETUP_TAG_DALI_COUNT: *width = 1; return dev_setDaliCount;
    default: return nullptr;
  }
}

}  // namespace

int app_setup_read(uint32_t uid) {
  cable_open();
  Packet p;
  packet_fillHeader(&p, uid);
  p.data[p.length++] = PACKET_CLASS_SETUP;
  const int result = exchange(&p, uid, true);
  // A device that stops answering is shown as such, not with the values
  // it reported before; after the cable's failure nobody knows.
  if (result == EXCHANGE_UNANSWERED) dev_setAnswered(uid, false);
  return result;
}

void app_setup_fillWrite(Packet* p, const SetupValues* v) {
  p->length = 0;
  p->data[p->length++] = PACKET_CLASS_SETUP;
  appendItem(p, SETUP_TAG_ADDR, (uint8_t)(v->addr & 0xFF), (uint8_t)((v->addr >> 8) & 0xFF), 2);
  appendItem(p, SETUP_TAG_LOSS, (uint8_t)v->lossOfDmx, 0, 1);
  appendItem(p, SETUP_TAG_DISPLAY, (uint8_t)v->sleep, (uint8_t)v->backlight, 2);
  appendItem(p, SETUP_TAG_LIMIT, (uint8_t)v->limitUp, (uint8_t)v->limitDown, 2);
}

int app_setup_send(uint32_t uid, const SetupValues* values) {
  if (!values) return EXCHANGE_BAD_ARGUMENT;
  cable_open();
  Packet p;
  packet_fillHeader(&p, uid);
  app_setup_fillWrite(&p, values);
  return exchange(&p, uid, true);
}

int app_setup_send_acket(Packet* packet, uint32_t uid) { return exchange(packet, uid, false); }

void app_setup_parse(Packet* packet) {
  if (packet->magic != PACKET_MAGIC || packet->length <= 2) return;
  puts("app_setup_parse");
  if (packet->data[0] != PACKET_CLASS_SETUP) return;
  const uint8_t* d = packet->data;
  const int length = packet->length;
  // Items while their tag and length byte lie within the payload. An item
  // whose data runs past the payload, or holds fewer bytes than its value
  // needs, is not applied; the DALI count is taken only with exactly one.
  bool applied = false;
  for (int i = 1; i + 1 < length;) {
    const uint8_t tag = d[i];
    const int n = d[i + 1];
    int width = 0;
    ItemSetter set = setterOf(tag, &width);
    if (!set) break;
    const bool fits = i + 2 + n <= length;
    const bool enough = tag == SETUP_TAG_DALI_COUNT ? n == 1 : n >= width;
    if (fits && enough) {
      set(packet->src, d + i + 2);
      applied = true;
    }
    i += 2 + n;
  }
  // The record now holds what the device reported (the window tells such
  // a record from one that never got an answer).
  if (applied) dev_setAnswered(packet->src, true);
  setup_rec.store(packet->src);
}

int app_setup_send_curve(uint32_t uid, const CurveRecord* record) {
  if (!record) return APP_SETUP_NO_RECORD;
  if (cable_open() < 0) return APP_SETUP_NO_CABLE;
  const uint8_t* bytes = (const uint8_t*)record;
  Packet p;
  packet_fillHeader(&p, uid);
  bool failed = false;
  int total = 0;
  for (int i = 0; i < CURVE_PARTS; i++) {
    fillPart(&p, i + 1, kParts[i], bytes);
    total += kParts[i].size;
    printf("Curve part %d, size=%d/%d\n", i + 1, kParts[i].size, total);
    for (int s = 0; s < CURVE_SENDS_PER_PART; s++) {
      if (cable_sendPacket(&p) < 0) failed = true;
      mySleep(CURVE_SEND_PAUSE_MS);
    }
  }
  cable_free();
  mySleep(CURVE_END_PAUSE_MS);
  return failed ? APP_SETUP_SEND_FAILED : APP_SETUP_CURVE_SENT;
}
