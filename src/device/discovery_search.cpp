#include "device/discovery_search.h"

#include <cmath>
#include <vector>

#include "device/bridge.h"

namespace {

enum {
  HALT = -2,        // an operation's outcome when the run ended: stop request or cable
  SINGLE_SEND = 1,  // an unanswered probe of a quick search goes out once
  // Times one quick search may climb back up after a probe of its result
  // was answered; past that its results are muted unprobed.
  CLIMBS_PER_SEARCH = DISCOVERY_PROBES,
  FEW_BELOW = 4,  // devices expected below the lowest found, see fewBelow
};

// A UID that no device can have: none, or the top bit set.
bool noDevice(uint32_t u) { return u == 0 || (u & 0x80000000u) != 0; }

// One run in progress.
struct Runner {
  const DiscoveryOps& ops;
  DiscoveryRun* run;
  uint32_t* array;  // the UIDs found, run->found of them
  int max;
  // The record being checked, if any.
  const uint32_t* record = nullptr;
  int recordCount = 0;
  int8_t* present = nullptr;
  // Failed mutes of each UID since the last device found.
  std::vector<std::pair<uint32_t, int>> failures;
  uint32_t lowest = DISCOVERY_TOP_UID;
  long long rounds = 0;

  Runner(const DiscoveryOps& o, DiscoveryRun* r, uint32_t* a, int m) : ops(o), run(r), array(a), max(m) {}
};

bool stopRequested(Runner& r) {
  if (!r.run->stop || !r.run->stop->load()) return false;
  r.run->end = DISCOVERY_END_STOPPED;
  return true;
}

// The operations as the search uses them: HALT once the run has ended.
int probe(Runner& r, uint32_t address, int sends) {
  if (stopRequested(r)) return HALT;
  const int a = r.ops.probe(r.ops.ctx, address, sends, &r.run->probeSends);
  if (a != DISCOVERY_PROBE_CABLE) return a;
  r.run->end = DISCOVERY_END_SEND_FAILED;
  return HALT;
}

int mute(Runner& r, uint32_t uid) {
  if (stopRequested(r)) return HALT;
  const int m = r.ops.mute(r.ops.ctx, uid);
  if (m != DISCOVERY_MUTE_CABLE) return m;
  r.run->end = DISCOVERY_END_SEND_FAILED;
  return HALT;
}

bool release(Runner& r) {
  if (stopRequested(r)) return false;
  if (r.ops.releaseAll(r.ops.ctx)) return true;
  r.run->end = DISCOVERY_END_SEND_FAILED;
  return false;
}

void reportProgress(Runner& r) {
  if (r.run->onProgress) r.run->onProgress(r.run->found, r.run->estimate, r.run->ctx);
}

// What a mute of a search's result came to.
enum Take {
  MUTED,   // a device not muted before took it
  AGAIN,   // a device muted before in this run took it again
  FAILED,  // no acknowledgement
  ENDED,   // the run ended (the cable, the stop request, or a rogue device)
};

// Where uid stands in the record being checked: DISCOVERY_RECORD_PRESENT,
// DISCOVERY_RECORD_MISSING, or -1 when the record does not hold it.
int inRecord(const Runner& r, uint32_t uid) {
  int where = -1;
  for (int i = 0; i < r.recordCount; i++)
    if (r.record[i] == uid)
      where = r.present[i] == DISCOVERY_RECORD_PRESENT ? DISCOVERY_RECORD_PRESENT : DISCOVERY_RECORD_MISSING;
  return where;
}

bool listedBefore(const Runner& r, uint32_t uid) {
  for (int i = 0; i < r.run->found; i++)
    if (r.array[i] == uid) return true;
  return false;
}

// Counts a failure of uid; true when it has failed too often.
bool failedTooOften(Runner& r, uint32_t uid) {
  for (auto& f : r.failures)
    if (f.first == uid) return ++f.second >= DISCOVERY_MUTE_FAILURES;
  r.failures.push_back({uid, 1});
  return DISCOVERY_MUTE_FAILURES <= 1;
}

// Writes what a record UID turned out to be and tells the caller.
void settle(Runner& r, int index, int8_t status) {
  r.present[index] = status;
  if (r.run->onRecord) r.run->onRecord(index, status, r.run->ctx);
}

// A device that took its mute for the first time: listed, unless it is in
// the record being checked (it was there, but missed its mute then).
void takeNew(Runner& r, uint32_t uid) {
  r.failures.clear();
  if (inRecord(r, uid) == DISCOVERY_RECORD_MISSING) {
    for (int i = 0; i < r.recordCount; i++)
      if (r.record[i] == uid) settle(r, i, DISCOVERY_RECORD_PRESENT);
    return;
  }
  r.array[r.run->found++] = uid;
  if (uid < r.lowest) r.lowest = uid;
  r.run->estimate = discoverySearch_estimate(r.run->found, r.lowest, r.max);
  if (r.ops.found) r.ops.found(r.ops.ctx, uid);
  if (r.run->onFound) r.run->onFound(uid, r.run->ctx);
  reportProgress(r);
}

// Mutes a search's result. Every result counts toward the limit of
// 4 x max searches, also one that never takes its mute.
Take take(Runner& r, uint32_t uid) {
  r.rounds++;
  const int m = mute(r, uid);
  if (m == HALT) return ENDED;
  const bool before = listedBefore(r, uid) || inRecord(r, uid) == DISCOVERY_RECORD_PRESENT;
  if (m == DISCOVERY_MUTE_TAKEN && !before) {
    takeNew(r, uid);
    return MUTED;
  }
  // A device found before that is found again answers probes while muted:
  // it hides every UID below its own as one that never mutes does.
  if (failedTooOften(r, uid)) {
    r.run->rogueUid = uid;
    r.run->end = DISCOVERY_END_ROGUE;
    return ENDED;
  }
  return m == DISCOVERY_MUTE_TAKEN ? AGAIN : FAILED;
}

bool withinRounds(const Runner& r) {
  return r.run->found < r.max && r.rounds < (long long)DISCOVERY_ROUNDS_PER_DEVICE * r.max;
}

// The full search: 36 probes of up to five sends from the whole UID space.
int searchFull(Runner& r, DiscoveryRange* range) {
  range->lo = 0;
  range->hi = 0xFFFFFFFFu;
  pStatusTop.store(DISCOVERY_PROBES - 1, std::memory_order_relaxed);
  for (int k = DISCOVERY_PROBES - 1; k >= 0; k--) {
    range->mid = range->lo + (range->hi - range->lo) / 2;
    const int a = probe(r, range->mid, DISCOVERY_PROBE_SENDS);
    if (a == HALT) return HALT;
    if (a == DISCOVERY_PROBE_ANSWERED)
      range->lo = range->mid + 1;
    else
      range->hi = range->mid;
    pStatusSt.store(DISCOVERY_PROBES - 1 - k, std::memory_order_relaxed);
  }
  return DISCOVERY_PROBE_ANSWERED;
}

void runFull(Runner& r) {
  do {
    DiscoveryRange range;
    if (searchFull(r, &range) == HALT) return;
    if (noDevice(range.mid)) {
      r.run->noneLeft = true;
      return;
    }
    if (take(r, range.mid) == ENDED) return;
  } while (withinRounds(r));
}

// A quick search for the highest unmuted UID in (lo, hi]: a probe of a is
// answered exactly when some unmuted UID is above a, so that UID is the
// lowest address whose probe nobody answers. An answer is proof; silence
// of a single send is not (the answer may have been lost), so the search
// keeps the upper bounds it came down from to climb back to.
struct QuickSearch {
  uint32_t lo = 0;
  uint32_t hi = DISCOVERY_TOP_UID;
  bool loAnswered = false;    // some unmuted UID is known to be above lo
  bool lastAnswered = false;  // the last probe raised lo
  int sends = SINGLE_SEND;
  std::vector<uint32_t> above;  // earlier values of hi, lowest last
  int climbs = 0;
  int probes = 0;  // for the progress pair
};

// Probes needed to narrow a range of span UIDs down to one.
int probesFor(uint32_t span) {
  int n = 0;
  for (; span > 1; span -= span / 2) n++;
  return n;
}

void searchFrom(QuickSearch& s, uint32_t hi, bool loAnswered, int sends) {
  s.lo = 0;
  s.hi = hi;
  s.loAnswered = loAnswered;
  s.lastAnswered = false;
  s.sends = sends;
  s.above.clear();
  s.climbs = 0;
  s.probes = 0;
  const int total = probesFor(hi);
  pStatusTop.store(total > 0 ? total : 1, std::memory_order_relaxed);
  pStatusSt.store(0, std::memory_order_relaxed);
}

// Narrows the range down to one UID, s.hi; false when the run ended.
bool narrow(Runner& r, QuickSearch& s) {
  while (s.hi - s.lo > 1) {
    const uint32_t mid = s.lo + (s.hi - s.lo) / 2;
    const int a = probe(r, mid, s.sends);
    if (a == HALT) return false;
    s.lastAnswered = a == DISCOVERY_PROBE_ANSWERED;
    if (s.lastAnswered) {
      s.lo = mid;
      s.loAnswered = true;
    } else {
      s.above.push_back(s.hi);
      s.hi = mid;
    }
    const int top = pStatusTop.load(std::memory_order_relaxed);
    pStatusSt.store(++s.probes < top ? s.probes : top, std::memory_order_relaxed);
  }
  return true;
}

// Back up to the bound the search came down from: the unanswered probe of
// the old hi was wrong, or its UID never took its mute.
void climb(QuickSearch& s) {
  s.hi = s.above.back();
  s.above.pop_back();
}

// Is any unmuted device left at all? Asked with every resend, since a
// wrong "no" would end the run early. False when none is or the run ended.
bool anyLeft(Runner& r) {
  const int left = probe(r, 0, DISCOVERY_PROBE_SENDS);
  if (left == DISCOVERY_PROBE_SILENT) r.run->noneLeft = true;
  return left == DISCOVERY_PROBE_ANSWERED;
}

// Whether the UIDs found, spread over the range above `lowest`, make few
// devices likely below it. Then asking whether any is left is worth it: it
// costs one answered send when some are, and spares a search walking down
// on some thirty unanswered probes when none is (likely enough, one time in
// thirty, with four expected).
bool fewBelow(const Runner& r, uint32_t lowest) {
  return (uint64_t)lowest * (uint64_t)r.run->found < FEW_BELOW * ((uint64_t)(DISCOVERY_TOP_UID - lowest) + 1);
}

// Quick discovery's searches, from s, until nothing is left or the run ends.
void runQuick(Runner& r, QuickSearch& s) {
  while (withinRounds(r)) {
    if (!narrow(r, s)) return;
    if (!s.loAnswered || s.hi == s.lo) {
      // Nobody answered this search.
      if (!anyLeft(r)) return;
      if (s.hi == s.lo) {
        // Left above the last device found, which the search took as muted.
        searchFrom(s, DISCOVERY_TOP_UID, true, DISCOVERY_PROBE_SENDS);
        continue;
      }
      s.loAnswered = true;
    } else if (s.lastAnswered && !s.above.empty() && s.sends == SINGLE_SEND &&
               s.climbs < CLIMBS_PER_SEARCH) {
      // The result rests on one unanswered probe, made before the answered
      // ones that followed it; when that probe's answer was lost, every
      // later one is answered and the result is a UID nobody has. One
      // more send of it tells, cheaper than a mute nobody takes.
      const int a = probe(r, s.hi, SINGLE_SEND);
      if (a == HALT) return;
      if (a == DISCOVERY_PROBE_ANSWERED) {
        s.lo = s.hi;
        climb(s);
        s.climbs++;
        continue;  // with lastAnswered still true
      }
    }
    const uint32_t u = s.hi;
    switch (take(r, u)) {
      case ENDED:
        return;
      case MUTED:
        // Every device above the one just muted is muted now.
        searchFrom(s, u - 1, false, SINGLE_SEND);
        if (withinRounds(r) && fewBelow(r, u)) {
          if (!anyLeft(r)) return;
          s.loAnswered = true;
        }
        break;
      case AGAIN:
        // A device muted before answered: search the whole range again,
        // with every resend, not taking its answers for another device.
        searchFrom(s, DISCOVERY_TOP_UID, false, DISCOVERY_PROBE_SENDS);
        break;
      case FAILED:
        // Some unmuted UID is above u - 1 (its probe was answered): u's
        // own, if it is slow to take its mute, or one above u that a lost
        // answer hid. Climb to the bound above, or search everything again
        // when this search had none; with every resend until a device
        // takes its mute, so that lost answers cannot lead to u again and
        // again, as if it were a device that never mutes.
        if (s.above.empty()) {
          searchFrom(s, DISCOVERY_TOP_UID, true, DISCOVERY_PROBE_SENDS);
        } else {
          climb(s);
          s.lastAnswered = false;
          s.sends = DISCOVERY_PROBE_SENDS;
        }
        break;
    }
  }
}

// Is any unmuted device there? If so, Quick discovery's searches find them.
void searchTheRest(Runner& r) {
  if (!anyLeft(r)) return;
  QuickSearch s;
  searchFrom(s, DISCOVERY_TOP_UID, true, SINGLE_SEND);
  runQuick(r, s);
}

void begin(DiscoveryRun* run) {
  run->found = 0;
  run->estimate = 0;
  run->end = DISCOVERY_END_DONE;
  run->noneLeft = false;
  run->rogueUid = 0;
  run->probeSends = 0;
}

int finish(Runner& r) {
  if (r.run->noneLeft) r.run->estimate = r.run->found;
  reportProgress(r);
  return r.run->found;
}

}  // namespace

int discoverySearch_run(const DiscoveryOps& ops, DiscoveryRun* run, uint32_t* array, int max) {
  begin(run);
  Runner r(ops, run, array, max);
  // Find new devices leaves the devices found before muted.
  if (run->mode != DISCOVERY_NEW && !release(r)) return finish(r);
  if (max <= 0 || !array) return finish(r);
  if (run->mode == DISCOVERY_FULL)
    runFull(r);
  else
    searchTheRest(r);
  return finish(r);
}

int discoverySearch_full(const DiscoveryOps& ops, DiscoveryRange* range, long* sent) {
  DiscoveryRun run;
  Runner r(ops, &run, nullptr, 0);
  const int a = searchFull(r, range);
  if (sent) *sent += run.probeSends;
  return a == HALT ? DISCOVERY_PROBE_CABLE : a;
}

int discoverySearch_checkRecord(const DiscoveryOps& ops, DiscoveryRun* run, const uint32_t* record,
                                int count, int8_t* present, uint32_t* fresh, int max) {
  begin(run);
  Runner r(ops, run, fresh, max);
  r.record = record;
  r.recordCount = count > 0 ? count : 0;
  r.present = present;
  for (int i = 0; i < r.recordCount; i++) present[i] = DISCOVERY_RECORD_UNCHECKED;
  if (!release(r)) return finish(r);
  for (int i = 0; i < r.recordCount; i++) {
    // A UID no device can have is not sent: the broadcast UID would mute
    // every device on the line.
    if (noDevice(record[i])) {
      settle(r, i, DISCOVERY_RECORD_MISSING);
      continue;
    }
    const int m = mute(r, record[i]);
    if (m == HALT) return finish(r);
    settle(r, i, m == DISCOVERY_MUTE_TAKEN ? DISCOVERY_RECORD_PRESENT : DISCOVERY_RECORD_MISSING);
  }
  if (max > 0 && fresh) searchTheRest(r);
  return finish(r);
}

int discoverySearch_estimate(int found, uint32_t lowest, int max) {
  if (found <= 0) return 0;
  if (lowest > DISCOVERY_TOP_UID) lowest = DISCOVERY_TOP_UID;
  // The found highest of n UIDs spread evenly leave, on average, a share of
  // found / (n + 1) of the range above the lowest of them.
  const double span = (double)(DISCOVERY_TOP_UID - lowest) + 1.0;
  const double n = std::floor(found * (double)DISCOVERY_TOP_UID / span - 1.0 + 0.5);
  if (n < found) return found;
  if (n > max) return max > found ? max : found;
  return (int)n;
}
