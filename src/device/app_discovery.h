// Discovery: finds the devices on the line without knowing their UIDs. After
// releasing every device from the muted state it repeats a binary search
// over the UID space: every device that is not muted and whose UID is above
// the probed address answers a probe with a break. The search settles on
// the highest such UID; that device is muted (its acknowledgement proves it
// exists), entered in the device table, and the search starts again.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/packet_structures.h"

enum {
  DISCOVERY_PROBES = 36,          // probes in every search, answered or not
  DISCOVERY_PROBE_SENDS = 5,
  DISCOVERY_RELEASE_SENDS = 3,
  DISCOVERY_ROUNDS_PER_DEVICE = 4,  // a discovery ends after 4 x max searches
  DISCOVERY_MUTE_FAILURES = 3,    // one UID failing its mute this often in a row stops a run
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
  // Releases every device, then: before each search one probe of address 0
  // at five sends says whether any unmuted device is left; a search runs
  // from just below the last UID found, stops when the range holds one UID
  // and sends an unanswered probe once; a result that does not take its
  // mute is searched for again from the top with five sends per probe.
  // The same devices in the same order as DISCOVERY_FULL, on a clean line.
  DISCOVERY_QUICK,
  // As DISCOVERY_QUICK without the release: devices found before stay
  // muted and silent, so only devices new on the line (or powered up again)
  // are found. The device table is not cleared.
  DISCOVERY_NEW,
};

// How a run ended.
enum {
  DISCOVERY_END_DONE = 0,          // no device left to find, or max found
  DISCOVERY_END_NO_CABLE = -1,     // the cable could not be opened
  DISCOVERY_END_SEND_FAILED = -2,  // a send failed: the cable was pulled
  DISCOVERY_END_ROGUE = -3,        // rogueUid answers probes but never takes its mute
  DISCOVERY_END_STOPPED = -4,      // asked to stop: the devices found so far are kept
};

struct DiscoveryRun {
  DiscoveryMode mode = DISCOVERY_FULL;
  // Called with each device as it takes its mute (on the discovery's thread).
  void (*onFound)(uint32_t uid, void* ctx) = nullptr;
  void* ctx = nullptr;
  // Set to end the run between two exchanges (optional).
  const std::atomic<bool>* stop = nullptr;
  // Filled by the run.
  int found = 0;
  int end = DISCOVERY_END_DONE;
  uint32_t rogueUid = 0;
  long probeSends = 0;  // probe frames sent, checks included
};

// Runs a discovery in run->mode: stores up to max found UIDs in the order
// found into array, enters each into the device table, and returns how
// many it found. Ends when no device is left, max devices were found,
// 4 x max searches ran, the cable failed, or one UID failed its mute
// DISCOVERY_MUTE_FAILURES times in a row (such a device answers every probe
// below its UID, so no lower UID can be found while it is on the line).
int discovery_run(DiscoveryRun* run, uint32_t* array, int max);
// What the operator is told of how a run ended: "" when it simply
// finished, else the cable's failure or the device that does not mute.
void discovery_endText(const DiscoveryRun* run, char* text, int size);

// Search range and probe address; after a search, dAddr is the UID found.
extern uint32_t dAddrLo;
extern uint32_t dAddr;
extern uint32_t dAddrHi;
// Source UID of the last mute acknowledgement; 0 = none since the reset.
extern std::atomic<uint32_t> discovery_mute_rec;

// A whole discovery in DISCOVERY_FULL: stores up to max found UIDs in order
// into array, enters each into the device table and returns how many it
// found (0 when the cable cannot be opened or max is not positive).
int app_discovery(uint32_t* array, int max);
void discovery_search_setup();
// One probe with its retries: 1 when a break answered it, else 0.
int discoveryCompareAddr(uint32_t address);

// Outcomes of one probe.
enum { DISCOVERY_PROBE_CABLE = -1, DISCOVERY_PROBE_SILENT = 0, DISCOVERY_PROBE_ANSWERED = 1 };
// One probe of address with up to `sends` sends, each after the pause and
// followed by the wait for a break; ends at the first answer. Adds the
// frames sent to *sent. DISCOVERY_PROBE_CABLE when a send failed.
int discovery_probe(uint32_t address, int sends, long* sent);
// One binary search of 36 probes; the UID found (also left in dAddr).
uint32_t discoverySearch();
// Sends the prepared mute packet and waits for uid's acknowledgement:
// 1 when it came, -1 otherwise. The cable stays as it is.
int app_discovery_send_mute_packet(Packet* packet, uint32_t uid);
// Answer handler of class 2.
void app_discovery_parse(Packet* packet);
