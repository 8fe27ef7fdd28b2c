// DALI commands: tell a device to randomize or search its DALI line, ask for
// its DALI status until it is done, and read its list of DALI devices entry
// by entry into the device table.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/packet_structures.h"

enum {
  APP_DALI_RANDOMIZE = 1,  // DALI commands, payload byte 3
  APP_DALI_SEARCH = 2,
  APP_DALI_STATUS = 3,
  APP_DALI_ENTRY = 4,
  APP_DALI_STATUS_ROUNDS = 20,
  APP_DALI_BUSY_PAUSE_MS = 2000,  // mySleep between status rounds: 2002 ms
};

// The last DALI status a device reported: -1 none since the request, 0
// done, other values busy.
extern std::atomic<int32_t> dali_status;
// Source UID of the last DALI answer; 0 = none since the request.
extern std::atomic<uint32_t> dali_rec;

// Every request below ends at once when the cable fails, with
// EXCHANGE_NO_CABLE or EXCHANGE_SEND_FAILED (exchange.h), instead of going
// through its sends and rounds.
//
// Randomize (flag not 0) or search (flag 0). 1 when answered (always for
// the broadcast UID), -1 otherwise.
int app_dali_search(uint32_t uid, int randomize);
// Asks for the status: 1 when answered (always for the broadcast UID), -1
// otherwise; the status is then in dali_status.
int app_dali_read_status(uint32_t uid);
// Asks for the status until it is 0, up to 20 times, 2 s apart while busy:
// 0 when done, else the last status (or the cable's failure).
int app_dali_waitForDaliDone(uint32_t uid);
// Waits for the status to be 0 (at most 20 rounds), then reads every entry
// of the device's DALI list: 0 when the device has none (or no record),
// else 1 or -1 for the last entry read; the cable's failure ends it early.
int app_dali_read(uint32_t uid);
// The send-and-wait of every DALI request, without opening or releasing the
// cable: 1 or -1. The broadcast UID is sent to five times without waiting.
int app_dali_send_packet(Packet* packet, uint32_t uid);
// Answer handler of class 3, functions 0x30..0x3F.
void app_dali_parse(Packet* packet);
