// The discovery's search, written over three operations on the line and
// nothing else: release every device, probe an address (answered when any
// unmuted device has a UID above it), and mute one UID (acknowledged or
// not). It holds every discovery mode, their stop rules, the check of a
// line against a record, and the progress it reports. The cable implements
// the operations in app_discovery; tests implement them in memory.
//
// Errors: the operations return the DISCOVERY_PROBE_* and DISCOVERY_MUTE_*
// outcomes; a run ends with one of the DISCOVERY_END_* codes in its
// DiscoveryRun and keeps every device found before it ended.
#pragma once

#include <atomic>
#include <cstdint>

enum {
  DISCOVERY_PROBES = 36,          // probes in every search, answered or not
  DISCOVERY_PROBE_SENDS = 5,
  DISCOVERY_RELEASE_SENDS = 3,
  DISCOVERY_ROUNDS_PER_DEVICE = 4,  // a discovery ends after 4 x max searches
  DISCOVERY_MUTE_FAILURES = 3,    // one UID failing its mute this often since the last device found stops a run
  DISCOVERY_TOP_UID = 0x7FFFFFFF, // the highest UID a device can have
  DISCOVERY_TEXT_SIZE = 256,      // room for any text of discovery_endText
};

// How a discovery searches. Every mode uses only release-all, probe and
// mute, with the same waits before, after and between sends; they differ in
// how many probes and resends they spend.
enum DiscoveryMode {
  // Releases every device, then searches the whole UID space with 36
  // probes of up to five sends each, for every device.
  DISCOVERY_FULL,
  // Releases every device and asks with one probe of address 0 at five
  // sends whether any device is there. Each search then runs from just
  // below the last UID found and stops when the range holds one UID,
  // sending an unanswered probe once. A lost answer makes a search settle
  // too low, on a UID nobody has: when the result rests on an unanswered
  // probe made before the last one, it is probed once more before its
  // mute; a result that is answered there, or that does not take its
  // mute, sends the search back up through its own unanswered probes, only
  // as far as needed (with every resend after a failed mute). Whether any
  // device is left is asked again with the probe of address 0 at five sends
  // when a search heard no answer, or before it when the UIDs found make
  // few devices likely below the last. The same devices in the same order
  // as DISCOVERY_FULL.
  DISCOVERY_QUICK,
  // As DISCOVERY_QUICK without the release: devices found before stay
  // muted and silent, so only devices new on the line (or powered up again)
  // are found.
  DISCOVERY_NEW,
};

// How a run ended.
enum {
  DISCOVERY_END_DONE = 0,          // no device left to find, max found, or 4 x max searches
  DISCOVERY_END_NO_CABLE = -1,     // the cable could not be opened
  DISCOVERY_END_SEND_FAILED = -2,  // a send failed: the cable was pulled
  DISCOVERY_END_ROGUE = -3,        // rogueUid answers probes but never takes its mute
  DISCOVERY_END_STOPPED = -4,      // the stop request was set
};

// Outcomes of one probe.
enum { DISCOVERY_PROBE_CABLE = -1, DISCOVERY_PROBE_SILENT = 0, DISCOVERY_PROBE_ANSWERED = 1 };
// Outcomes of one mute.
enum { DISCOVERY_MUTE_CABLE = -1, DISCOVERY_MUTE_UNANSWERED = 0, DISCOVERY_MUTE_TAKEN = 1 };

// The line as the search sees it.
struct DiscoveryOps {
  // Sends release-all DISCOVERY_RELEASE_SENDS times; false when a send failed.
  bool (*releaseAll)(void* ctx);
  // Probes address with up to `sends` sends, ending at the first answer;
  // adds the sends made to *sent. A DISCOVERY_PROBE_* outcome.
  int (*probe)(void* ctx, uint32_t address, int sends, long* sent);
  // Sends uid its mute and waits for the acknowledgement, with every
  // resend. A DISCOVERY_MUTE_* outcome.
  int (*mute)(void* ctx, uint32_t uid);
  // Optional: told of each device found, before DiscoveryRun::onFound.
  void (*found)(void* ctx, uint32_t uid);
  void* ctx;
};

struct DiscoveryRun {
  DiscoveryMode mode = DISCOVERY_FULL;
  // Called with each device as it takes its mute (on the discovery's thread).
  void (*onFound)(uint32_t uid, void* ctx) = nullptr;
  // Called after each device found and when the run ends: the devices
  // found so far and an estimate of how many the run will find (at least
  // found, at most max; equal to found once nothing is left).
  void (*onProgress)(int found, int estimate, void* ctx) = nullptr;
  // A check against a record: called as each record UID's DISCOVERY_RECORD_*
  // is settled (after its mute, or when it takes its mute in the search).
  void (*onRecord)(int index, int status, void* ctx) = nullptr;
  void* ctx = nullptr;
  // Optional: when it becomes true the run ends before its next exchange
  // with DISCOVERY_END_STOPPED.
  const std::atomic<bool>* stop = nullptr;
  // Filled by the run.
  int found = 0;
  int estimate = 0;
  int end = DISCOVERY_END_DONE;
  bool noneLeft = false;  // it ended because no unmuted device was left
  uint32_t rogueUid = 0;
  long probeSends = 0;    // probe frames sent, checks included
};

// Runs a discovery in run->mode over ops: releases every device (not for
// DISCOVERY_NEW), then stores up to max UIDs into array in the order found
// (highest first), calling run->onFound for each. Returns how many it found
// (none, after the release, when max is not positive or array is null).
// Ends when no device is left, max devices were found, 4 x max searches
// ran, an operation failed on the cable, the stop request was set, or one
// UID failed its mute DISCOVERY_MUTE_FAILURES times since the last device
// found (such a device answers every probe below its UID, so no lower UID
// can be found while it is on the line). A search that settles again on a
// UID found before (a device that answers probes while muted) counts as
// such a failure, and the UID is not listed twice.
int discoverySearch_run(const DiscoveryOps& ops, DiscoveryRun* run, uint32_t* array, int max);

// The range and the probe of a full search: after it, mid is the UID found.
struct DiscoveryRange {
  uint32_t lo = 0;
  uint32_t mid = 0x80000000u;
  uint32_t hi = 0xFFFFFFFFu;
};
// One full search: 36 probes of five sends from the whole UID space,
// writing the progress pair (pStatusTop 35, pStatusSt the probes done).
// DISCOVERY_PROBE_ANSWERED when it ran to its end (range->mid is the
// result: 0 or the top bit set when no device answered), else
// DISCOVERY_PROBE_CABLE.
int discoverySearch_full(const DiscoveryOps& ops, DiscoveryRange* range, long* sent);

// What each UID of a record turned out to be.
enum {
  DISCOVERY_RECORD_UNCHECKED = -1,  // the run ended before its mute
  DISCOVERY_RECORD_MISSING = 0,     // no acknowledgement (or a UID no device can have)
  DISCOVERY_RECORD_PRESENT = 1,
};
// Checks the line against a record of count UIDs: releases every device,
// mutes each UID of the record (its acknowledgement proves the device is
// there), then asks with one probe of address 0 at five sends whether any
// device is left; if so, searches for the rest as DISCOVERY_QUICK does,
// without a new release. Writes each record UID's DISCOVERY_RECORD_* into
// present[] and up to max new UIDs into fresh[] in the order found; returns
// how many new it found. A record UID that takes its mute only in the
// search is present, not new. The run's stop rules, callbacks (onFound for
// new UIDs), end code and probe count are those of discoverySearch_run;
// run->mode is not used.
int discoverySearch_checkRecord(const DiscoveryOps& ops, DiscoveryRun* run, const uint32_t* record,
                                int count, int8_t* present, uint32_t* fresh, int max);

// An estimate of how many devices a line holds, from the `found` highest
// UIDs of it, the lowest being `lowest`: UIDs spread evenly over
// 1..DISCOVERY_TOP_UID, so the share of that range above `lowest` is the
// share of devices found. At least found, at most max; 0 before any.
int discoverySearch_estimate(int found, uint32_t lowest, int max);
