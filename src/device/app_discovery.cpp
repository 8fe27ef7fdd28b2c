#include "device/app_discovery.h"

#include <cstdio>

#include "device/bridge.h"
#include "device/devices.h"
#include "device/exchange.h"
#include "link/cable.h"
#include "link/timer.h"

uint32_t dAddrLo = 0;
uint32_t dAddr = 0x80000000u;
uint32_t dAddrHi = 0xFFFFFFFFu;
std::atomic<uint32_t> discovery_mute_rec{0};

namespace {

enum : uint8_t {
  DISC_MUTE = 0x00,
  DISC_RELEASE_ALL = 0x01,
  DISC_PROBE = 0x02,
};

enum {
  PROBE_PAUSE_MS = 45,      // mySleep: 47 ms before each probe send
  PROBE_SETTLE_100US = 44,  // busy wait of 4.4 ms after the send
  PROBE_BREAK_MS = 15,      // how long a break may take to come
  RELEASE_PAUSE_MS = 3,
};

void fillRequest(Packet* p, uint32_t dest, uint8_t op) {
  packet_fillHeader(p, dest);
  p->data[0] = PACKET_CLASS_DISCOVERY;
  p->data[1] = op;
  p->length = 2;
}

void fillProbe(Packet* p, uint32_t address) {
  fillRequest(p, PACKET_BROADCAST, DISC_PROBE);
  for (int i = 0; i < 4; i++) p->data[p->length++] = (uint8_t)(address >> (8 * i));
}

void releaseAll(Packet* p) {
  fillRequest(p, PACKET_BROADCAST, DISC_RELEASE_ALL);
  flushRxBuff();
  for (int i = 0; i < DISCOVERY_RELEASE_SENDS; i++) cable_sendPacket(p);
  puts("\ndiscovery:");
  mySleep(RELEASE_PAUSE_MS);
}

// A found UID that no device can have: none, or the top bit set.
bool noDevice(uint32_t u) { return u == 0 || (u & 0x80000000u) != 0; }

}  // namespace

void discovery_search_setup() {
  dAddrLo = 0;
  dAddr = 0x80000000u;
  dAddrHi = 0xFFFFFFFFu;
}

int discoveryCompareAddr(uint32_t address) {
  Packet p;
  fillProbe(&p, address);
  flushRxBuff();
  for (int i = 0; i < DISCOVERY_PROBE_SENDS; i++) {
    mySleep(PROBE_PAUSE_MS);
    flushRxBuff();
    cable_sendPacket(&p);
    wait_us(PROBE_SETTLE_100US);
    if (waitForBreak(PROBE_BREAK_MS)) return 1;
  }
  return 0;
}

uint32_t discoverySearch() {
  dAddrLo = 0;
  dAddrHi = 0xFFFFFFFFu;
  pStatusTop.store(DISCOVERY_PROBES - 1, std::memory_order_relaxed);
  for (int k = DISCOVERY_PROBES - 1; k >= 0; k--) {
    dAddr = dAddrLo + (dAddrHi - dAddrLo) / 2;
    if (discoveryCompareAddr(dAddr))
      dAddrLo = dAddr + 1;
    else
      dAddrHi = dAddr;
    pStatusSt.store(DISCOVERY_PROBES - 1 - k, std::memory_order_relaxed);
  }
  return dAddr;
}

int app_discovery_send_mute_packet(Packet* packet, uint32_t uid) {
  Exchange ex;
  ex.mailbox = &discovery_mute_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
  return exchange_sendAndWait(packet, ex);
}

int app_discovery(uint32_t* array, int max) {
  if (cable_open() < 0) return 0;
  Packet p;
  releaseAll(&p);
  if (max <= 0 || !array) {
    cable_free();
    return 0;
  }
  int count = 0;
  // Every search counts toward the limit, also one whose device never
  // acknowledged its mute: such a device would otherwise be found again
  // and again for ever.
  long long rounds = 0;
  do {
    const uint32_t u = discoverySearch();
    if (noDevice(u)) {
      puts("No device.");
      break;
    }
    printf("  found=%08X\n", (unsigned)u);
    fillRequest(&p, u, DISC_MUTE);
    if (app_discovery_send_mute_packet(&p, u) == EXCHANGE_ANSWERED) {
      addDevUID(u);
      array[count++] = u;
      if (count >= max) break;
    } else {
      puts("          not responding");
    }
    rounds++;
  } while (count < max && rounds < (long long)DISCOVERY_ROUNDS_PER_DEVICE * max);
  cable_free();
  return count;
}

void app_discovery_parse(Packet* packet) {
  puts("app_discovery_parse");
  if (packet->magic != PACKET_MAGIC || packet->length < 2) return;
  if (packet->data[1] == DISC_MUTE) discovery_mute_rec.store(packet->src);
}
