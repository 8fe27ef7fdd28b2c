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

// Sends release-all three times; false when a send failed.
bool releaseAll(Packet* p) {
  fillRequest(p, PACKET_BROADCAST, DISC_RELEASE_ALL);
  flushRxBuff();
  bool sent = true;
  for (int i = 0; i < DISCOVERY_RELEASE_SENDS; i++) sent = cable_sendPacket(p) >= 0 && sent;
  puts("\ndiscovery:");
  mySleep(RELEASE_PAUSE_MS);
  return sent;
}

// The cable's side of one run: the packet of its requests.
struct CableLine {
  Packet packet;
};

bool cableRelease(void* ctx) { return releaseAll(&((CableLine*)ctx)->packet); }

int cableProbe(void*, uint32_t address, int sends, long* sent) { return discovery_probe(address, sends, sent); }

int cableMute(void* ctx, uint32_t uid) {
  CableLine* line = (CableLine*)ctx;
  printf("  found=%08X\n", (unsigned)uid);
  fillRequest(&line->packet, uid, DISC_MUTE);
  const int m = app_discovery_send_mute_packet(&line->packet, uid);
  if (m == EXCHANGE_NO_CABLE || m == EXCHANGE_SEND_FAILED) return DISCOVERY_MUTE_CABLE;
  if (m == EXCHANGE_ANSWERED) return DISCOVERY_MUTE_TAKEN;
  puts("          not responding");
  return DISCOVERY_MUTE_UNANSWERED;
}

void cableEnter(void*, uint32_t uid) { findDevUID(uid); }

// A run on the cable: opens it, runs the search over it, tells "No device."
// when nothing was left, and releases it.
template <typename Search>
int onCable(DiscoveryRun* run, bool enter, Search search) {
  CableLine line;
  const DiscoveryOps ops = {cableRelease, cableProbe, cableMute, enter ? cableEnter : nullptr, &line};
  if (cable_open() < 0) {
    // A run stopped before its first exchange: it reports nothing found
    // (and a record unchecked) without touching the line.
    const std::atomic<bool> stop{true};
    DiscoveryRun stopped = *run;
    stopped.stop = &stop;
    search(DiscoveryOps{}, &stopped);
    stopped.stop = run->stop;
    *run = stopped;
    run->end = DISCOVERY_END_NO_CABLE;
    return 0;
  }
  const int n = search(ops, run);
  if (run->noneLeft) puts("No device.");
  cable_free();
  return n;
}

}  // namespace

void discovery_search_setup() {
  dAddrLo = 0;
  dAddr = 0x80000000u;
  dAddrHi = 0xFFFFFFFFu;
}

int discovery_probe(uint32_t address, int sends, long* sent) {
  Packet p;
  fillProbe(&p, address);
  flushRxBuff();
  for (int i = 0; i < sends; i++) {
    mySleep(PROBE_PAUSE_MS);
    flushRxBuff();
    if (cable_sendPacket(&p) < 0) return DISCOVERY_PROBE_CABLE;
    if (sent) (*sent)++;
    wait_us(PROBE_SETTLE_100US);
    if (waitForBreak(PROBE_BREAK_MS)) return DISCOVERY_PROBE_ANSWERED;
  }
  return DISCOVERY_PROBE_SILENT;
}

int discoveryCompareAddr(uint32_t address) {
  return discovery_probe(address, DISCOVERY_PROBE_SENDS, nullptr) == DISCOVERY_PROBE_ANSWERED ? 1 : 0;
}

uint32_t discoverySearch() {
  CableLine line;
  DiscoveryRange range;
  discoverySearch_full({cableRelease, cableProbe, cableMute, nullptr, &line}, &range, nullptr);
  dAddrLo = range.lo;
  dAddr = range.mid;
  dAddrHi = range.hi;
  return dAddr;
}

int app_discovery_send_mute_packet(Packet* packet, uint32_t uid) {
  Exchange ex;
  ex.mailbox = &discovery_mute_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
  return exchange_sendAndWait(packet, ex);
}

int discovery_run(DiscoveryRun* run, uint32_t* array, int max) {
  return onCable(run, true, [&](const DiscoveryOps& ops, DiscoveryRun* r) {
    return discoverySearch_run(ops, r, array, max);
  });
}

int discovery_checkRecord(DiscoveryRun* run, const uint32_t* record, int count, int8_t* present,
                          uint32_t* fresh, int max) {
  return onCable(run, false, [&](const DiscoveryOps& ops, DiscoveryRun* r) {
    return discoverySearch_checkRecord(ops, r, record, count, present, fresh, max);
  });
}

int app_discovery(uint32_t* array, int max) {
  DiscoveryRun run;
  return discovery_run(&run, array, max);
}

void discovery_endText(const DiscoveryRun* run, char* text, int size) {
  switch (run->end) {
    case DISCOVERY_END_NO_CABLE:
      snprintf(text, (size_t)size, "%s", cable_notFoundText());
      break;
    case DISCOVERY_END_SEND_FAILED:
      snprintf(text, (size_t)size,
               "Discovery stopped: sending to the cable failed after %d device%s found.\n"
               "Check the cable and run the discovery again.",
               run->found, run->found == 1 ? " was" : "s were");
      break;
    case DISCOVERY_END_STOPPED:
      snprintf(text, (size_t)size, "Discovery stopped after %d device%s found.", run->found,
               run->found == 1 ? " was" : "s were");
      break;
    case DISCOVERY_END_ROGUE:
      snprintf(text, (size_t)size,
               "Device %08X answers discovery but does not take its mute; devices with lower UIDs "
               "cannot be found while it is on the line.",
               (unsigned)run->rogueUid);
      break;
    default:
      if (size > 0) text[0] = 0;
  }
}

void app_discovery_parse(Packet* packet) {
  puts("app_discovery_parse");
  if (packet->magic != PACKET_MAGIC || packet->length < 2) return;
  if (packet->data[1] == DISC_MUTE) discovery_mute_rec.store(packet->src);
}
