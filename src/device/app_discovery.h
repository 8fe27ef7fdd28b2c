// Discovery: finds the devices on the line without knowing their UIDs. After
// releasing every device from the muted state it repeats a binary search
// over the UID space: every device that is not muted and whose UID is above
// the probed address answers a probe with a break. The search settles on
// the highest such UID; that device is muted (its acknowledgement proves it
// exists), entered in the device table, and the search starts again.
//
// This module is the cable's side of the search in discovery_search: the
// three operations with the packets, sends and waits of the device
// protocol, and the console lines of each.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/discovery_search.h"
#include "protocol/packet_structures.h"

// Runs discoverySearch_run on the cable: opens it (DISCOVERY_END_NO_CABLE
// when it cannot), enters each device found into the device table, prints
// "No device." when nothing was left, and releases the cable. Returns how
// many it found.
int discovery_run(DiscoveryRun* run, uint32_t* array, int max);
// Runs discoverySearch_checkRecord on the cable, as discovery_run does; the
// device table is left to the caller, who reads the devices.
int discovery_checkRecord(DiscoveryRun* run, const uint32_t* record, int count, int8_t* present,
                          uint32_t* fresh, int max);
// What the operator is told of how a run ended: "" when it simply
// finished, else the cable's failure, the device that does not mute, or
// the stop.
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
