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
};

// Search range and probe address; after a search, dAddr is the UID found.
extern uint32_t dAddrLo;
extern uint32_t dAddr;
extern uint32_t dAddrHi;
// Source UID of the last mute acknowledgement; 0 = none since the reset.
extern std::atomic<uint32_t> discovery_mute_rec;

// A whole discovery: stores up to max found UIDs in order into array,
// enters each into the device table and returns how many it found (0 when
// the cable cannot be opened or max is not positive). Ends when a search
// finds nothing, max devices were found, or 4 x max searches ran.
int app_discovery(uint32_t* array, int max);
void discovery_search_setup();
// One probe with its retries: 1 when a break answered it, else 0.
int discoveryCompareAddr(uint32_t address);
// One binary search of 36 probes; the UID found (also left in dAddr).
uint32_t discoverySearch();
// Sends the prepared mute packet and waits for uid's acknowledgement:
// 1 when it came, -1 otherwise. The cable stays as it is.
int app_discovery_send_mute_packet(Packet* packet, uint32_t uid);
// Answer handler of class 2.
void app_discovery_parse(Packet* packet);
