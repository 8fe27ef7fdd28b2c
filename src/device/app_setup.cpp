#include "device/app_setup.h"

#include <cstdio>

#include "link/cable.h"
#include "link/timer.h"
#include "protocol/packet_structures.h"

namespace {

enum : uint8_t { SETUP_TAG_CURVE_PART = 0x07 };

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
  p->data[p->length++] = SETUP_TAG_CURVE_PART;
  p->data[p->length++] = (uint8_t)(part.size + 2 + extra);
  p->data[p->length++] = (uint8_t)number;
  p->data[p->length++] = (uint8_t)(part.size + extra);
  if (part.leadingZero) p->data[p->length++] = 0x00;
  packet_fillData(p, record + part.offset, part.size);
}

}  // namespace

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
