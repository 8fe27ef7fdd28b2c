#include "device/app_identify.h"

#include <cstdio>

#include "device/exchange.h"

std::atomic<uint32_t> identify_rec{0};

namespace {

const uint16_t kIdentifyTime = 15000;

Exchange identifyExchange(uint32_t uid) {
  Exchange ex;
  ex.mailbox = &identify_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
  return ex;
}

}  // namespace

int app_identify_send(uint32_t uid) {
  Packet p;
  packet_fillHeader(&p, uid);
  const uint8_t payload[] = {PACKET_CLASS_FUNCTION, PACKET_FN_IDENTIFY, 2,
                             (uint8_t)(kIdentifyTime & 0xFF), (uint8_t)(kIdentifyTime >> 8)};
  packet_fillData(&p, payload, sizeof payload);
  return exchange_run(&p, identifyExchange(uid));
}

int app_identify_send_packet(Packet* packet, uint32_t uid) {
  return exchange_sendAndWait(packet, identifyExchange(uid));
}

void app_identify_parse(Packet* packet) {
  if (packet->magic != PACKET_MAGIC || packet->length <= 2) return;
  puts("app_identify_parse");
  if (packet->data[0] == PACKET_CLASS_FUNCTION && packet->data[1] == PACKET_FN_IDENTIFY)
    identify_rec.store(packet->src);
}
