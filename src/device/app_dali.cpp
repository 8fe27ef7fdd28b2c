#include "device/app_dali.h"

#include <cstdio>

#include "device/devices.h"
#include "device/exchange.h"
#include "link/cable.h"
#include "link/timer.h"

std::atomic<int32_t> dali_status{-1};
std::atomic<uint32_t> dali_rec{0};

namespace {

void fillRequest(Packet* p, uint32_t uid, uint8_t command, int position) {
  packet_fillHeader(p, uid);
  p->data[p->length++] = PACKET_CLASS_FUNCTION;
  p->data[p->length++] = PACKET_FN_DALI;
  p->data[p->length++] = position < 0 ? 1 : 2;  // bytes after this one
  p->data[p->length++] = command;
  if (position >= 0) p->data[p->length++] = (uint8_t)position;
}

// One request as a whole command: open, send and wait, release.
int request(uint32_t uid, uint8_t command) {
  cable_open();
  Packet p;
  fillRequest(&p, uid, command, -1);
  const int r = app_dali_send_packet(&p, uid);
  cable_free();
  return r;
}

// The device's DALI count under the table's guard; -1 without a record.
int daliCount(uint32_t uid) {
  Device d;
  return dev_copy(uid, &d) ? d.daliCount : -1;
}

}  // namespace

int app_dali_send_packet(Packet* packet, uint32_t uid) {
  dali_status.store(-1);
  Exchange ex;
  ex.mailbox = &dali_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
  if (uid == PACKET_BROADCAST) {
    // Every device would answer at once: send without waiting, and count
    // the request as answered.
    ex.polls = 0;
    const int r = exchange_sendAndWait(packet, ex);
    return r <= EXCHANGE_SEND_FAILED ? r : EXCHANGE_ANSWERED;
  }
  return exchange_sendAndWait(packet, ex);
}

int app_dali_search(uint32_t uid, int randomize) {
  return request(uid, randomize ? APP_DALI_RANDOMIZE : APP_DALI_SEARCH);
}

int app_dali_read_status(uint32_t uid) { return request(uid, APP_DALI_STATUS); }

int app_dali_waitForDaliDone(uint32_t uid) {
  puts("app_dali wait for status");
  for (int i = 0; i < APP_DALI_STATUS_ROUNDS; i++) {
    const int r = app_dali_read_status(uid);
    if (r <= EXCHANGE_SEND_FAILED) return r;  // the cable failed: no status can come
    if (r != EXCHANGE_ANSWERED) continue;
    if (dali_status.load() == 0) return 0;
    mySleep(APP_DALI_BUSY_PAUSE_MS);
  }
  return dali_status.load();
}

int app_dali_read(uint32_t uid) {
  puts("app_dali wait for status");
  for (int i = 0; i < APP_DALI_STATUS_ROUNDS; i++) {
    const int r = app_dali_read_status(uid);
    if (r <= EXCHANGE_SEND_FAILED) return r;  // the cable failed: nothing can be read
    if (r != EXCHANGE_ANSWERED) continue;
    if (dali_status.load() == 0) break;
    mySleep(APP_DALI_BUSY_PAUSE_MS);
  }
  cable_open();
  int result = 0;
  // The count is read again before each entry: a status answer may change it.
  for (int i = 0; i < daliCount(uid); i++) {
    Packet p;
    fillRequest(&p, uid, APP_DALI_ENTRY, i);
    result = app_dali_send_packet(&p, uid);
    if (result <= EXCHANGE_SEND_FAILED) break;
  }
  cable_free();
  return result;
}

void app_dali_parse(Packet* packet) {
  if (packet->magic != PACKET_MAGIC || packet->length <= 2) return;
  puts("app_dali_parse");
  const uint8_t* d = packet->data;
  if (d[0] != PACKET_CLASS_FUNCTION || d[1] != PACKET_FN_DALI) return;
  dali_rec.store(packet->src);
  if (packet->length < 4) return;
  const int n = d[2];
  switch (d[3]) {
    case APP_DALI_STATUS:
      if (n >= 1 && packet->length >= 5) dali_status.store(d[4]);
      if (n >= 2 && packet->length >= 6) dev_setDaliCount(packet->src, d + 5);
      break;
    case APP_DALI_ENTRY:
      if (n >= 6 && packet->length >= 9) dev_setDaliDev(packet->src, d + 4);
      break;
    default:
      break;
  }
}
