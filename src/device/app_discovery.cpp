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
  QUICK_PROBE_SENDS = 1,    // an unanswered probe of a quick search goes out once
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

// A found UID that no device can have: none, or the top bit set.
bool noDevice(uint32_t u) { return u == 0 || (u & 0x80000000u) != 0; }

// One run in progress.
struct Runner {
  DiscoveryRun* run;
  uint32_t* array;
  int max;
  Packet packet;
  uint32_t failedUid = 0;  // the UID whose mutes failed last, and how often in a row
  int failedInARow = 0;
};

// A search's outcome: the UID it settled on, or the cable's failure.
struct SearchResult {
  bool cableFailed;
  uint32_t uid;
};

// The full search: 36 probes of up to five sends from the whole UID space,
// leaving the range and the result in dAddrLo, dAddr and dAddrHi.
SearchResult searchFull(Runner& r) {
  dAddrLo = 0;
  dAddrHi = 0xFFFFFFFFu;
  pStatusTop.store(DISCOVERY_PROBES - 1, std::memory_order_relaxed);
  for (int k = DISCOVERY_PROBES - 1; k >= 0; k--) {
    dAddr = dAddrLo + (dAddrHi - dAddrLo) / 2;
    const int a = discovery_probe(dAddr, DISCOVERY_PROBE_SENDS, &r.run->probeSends);
    if (a == DISCOVERY_PROBE_CABLE) return {true, 0};
    if (a == DISCOVERY_PROBE_ANSWERED)
      dAddrLo = dAddr + 1;
    else
      dAddrHi = dAddr;
    pStatusSt.store(DISCOVERY_PROBES - 1 - k, std::memory_order_relaxed);
  }
  return {false, dAddr};
}

// Probes needed to narrow (0, hi] down to one UID.
int probesFor(uint32_t hi) {
  int n = 0;
  for (uint32_t span = hi; span > 1; span -= span / 2) n++;
  return n;
}

// The quick search for the highest unmuted UID at or below hi, knowing one
// is above 0: a probe of a is answered exactly when that UID is above a,
// so the UID is the lowest address whose probe nobody answers.
SearchResult searchBelow(Runner& r, uint32_t hi, int sends) {
  uint32_t lo = 0;
  const int total = probesFor(hi);
  pStatusTop.store(total > 0 ? total : 1, std::memory_order_relaxed);
  int done = 0;
  while (hi - lo > 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    const int a = discovery_probe(mid, sends, &r.run->probeSends);
    if (a == DISCOVERY_PROBE_CABLE) return {true, 0};
    if (a == DISCOVERY_PROBE_ANSWERED)
      lo = mid;
    else
      hi = mid;
    pStatusSt.store(++done, std::memory_order_relaxed);
  }
  dAddr = hi;
  return {false, hi};
}

enum MuteOutcome { MUTE_TAKEN, MUTE_FAILED, MUTE_CABLE, MUTE_ROGUE };

// Mutes u and takes it as found when it acknowledges; tells a device that
// fails its mute again and again.
MuteOutcome muteAndTake(Runner& r, uint32_t u) {
  printf("  found=%08X\n", (unsigned)u);
  fillRequest(&r.packet, u, DISC_MUTE);
  const int m = app_discovery_send_mute_packet(&r.packet, u);
  if (m == EXCHANGE_NO_CABLE || m == EXCHANGE_SEND_FAILED) return MUTE_CABLE;
  if (m != EXCHANGE_ANSWERED) {
    puts("          not responding");
    r.failedInARow = u == r.failedUid ? r.failedInARow + 1 : 1;
    r.failedUid = u;
    if (r.failedInARow < DISCOVERY_MUTE_FAILURES) return MUTE_FAILED;
    r.run->rogueUid = u;
    return MUTE_ROGUE;
  }
  r.failedInARow = 0;
  findDevUID(u);
  r.array[r.run->found++] = u;
  if (r.run->onFound) r.run->onFound(u, r.run->ctx);
  return MUTE_TAKEN;
}

// Ends the run on a mute's outcome; true when the run goes on.
bool goesOn(Runner& r, MuteOutcome m) {
  if (m == MUTE_CABLE) r.run->end = DISCOVERY_END_SEND_FAILED;
  if (m == MUTE_ROGUE) r.run->end = DISCOVERY_END_ROGUE;
  return m == MUTE_TAKEN || m == MUTE_FAILED;
}

// Every search counts toward the limit of 4 x max, also one whose device
// never acknowledged its mute.
bool withinRounds(const Runner& r, long long rounds) {
  return r.run->found < r.max && rounds < (long long)DISCOVERY_ROUNDS_PER_DEVICE * r.max;
}

bool stopAsked(Runner& r) {
  if (!r.run->stop || !r.run->stop->load()) return false;
  r.run->end = DISCOVERY_END_STOPPED;
  return true;
}

void runFull(Runner& r) {
  long long rounds = 0;
  do {
    if (stopAsked(r)) return;
    const SearchResult s = searchFull(r);
    if (s.cableFailed) {
      r.run->end = DISCOVERY_END_SEND_FAILED;
      return;
    }
    if (noDevice(s.uid)) {
      puts("No device.");
      return;
    }
    if (!goesOn(r, muteAndTake(r, s.uid))) return;
    rounds++;
  } while (withinRounds(r, rounds));
}

void runQuick(Runner& r) {
  uint32_t hi = DISCOVERY_TOP_UID;
  int sends = QUICK_PROBE_SENDS;
  long long rounds = 0;
  while (withinRounds(r, rounds)) {
    if (stopAsked(r)) return;
    // Is any unmuted device left? Asked with every resend, since a wrong
    // "no" would end the run early.
    const int left = discovery_probe(0, DISCOVERY_PROBE_SENDS, &r.run->probeSends);
    if (left == DISCOVERY_PROBE_CABLE) {
      r.run->end = DISCOVERY_END_SEND_FAILED;
      return;
    }
    if (left == DISCOVERY_PROBE_SILENT) {
      puts("No device.");
      return;
    }
    const SearchResult s = searchBelow(r, hi, sends);
    if (s.cableFailed) {
      r.run->end = DISCOVERY_END_SEND_FAILED;
      return;
    }
    const MuteOutcome m = muteAndTake(r, s.uid);
    if (!goesOn(r, m)) return;
    if (m == MUTE_TAKEN && s.uid > 1) {
      // Every device above the one just found is muted now.
      hi = s.uid - 1;
      sends = QUICK_PROBE_SENDS;
    } else {
      // A lost answer misled the search (or a device is left above hi):
      // search again from the top, with every resend.
      hi = DISCOVERY_TOP_UID;
      sends = DISCOVERY_PROBE_SENDS;
    }
    rounds++;
  }
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
  DiscoveryRun run;
  Runner r{&run, nullptr, 0, Packet()};
  return searchFull(r).uid;
}

int app_discovery_send_mute_packet(Packet* packet, uint32_t uid) {
  Exchange ex;
  ex.mailbox = &discovery_mute_rec;
  ex.uid = uid;
  ex.wait = EXCHANGE_WAIT_MYSLEEP_15;
  return exchange_sendAndWait(packet, ex);
}

int discovery_run(DiscoveryRun* run, uint32_t* array, int max) {
  run->found = 0;
  run->end = DISCOVERY_END_DONE;
  run->rogueUid = 0;
  run->probeSends = 0;
  if (cable_open() < 0) {
    run->end = DISCOVERY_END_NO_CABLE;
    return 0;
  }
  Runner r{run, array, max, Packet()};
  // Find new devices leaves the devices found before muted.
  const bool released = run->mode == DISCOVERY_NEW || releaseAll(&r.packet);
  if (!released)
    run->end = DISCOVERY_END_SEND_FAILED;
  else if (max > 0 && array)
    (run->mode == DISCOVERY_FULL ? runFull : runQuick)(r);
  cable_free();
  return run->found;
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
