// New UIDs for devices: made from the local date and time, packed like a
// file date-time into 32 bits, and handed to a device under its old UID.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "protocol/packet_structures.h"

enum {
  // The description of a new UID: "NEW UID=%08X\n Y=%d\n M=%d\n D=%d\n
  // h=%d\n m=%d\n s=%d\n", at most 54 characters and the terminator.
  APP_GENUID_TEXT_SIZE = 55,
  APP_GENUID_ACKNOWLEDGED = 1,
  APP_GENUID_NOT_ACKNOWLEDGED = 0,
  // What app_genUidOutcome tells apart besides an acknowledgement (and the
  // cable's failures, EXCHANGE_NO_CABLE and EXCHANGE_SEND_FAILED).
  APP_GENUID_REFUSED = -4,      // the device answered no: it keeps its UID
  APP_GENUID_UNCONFIRMED = -1,  // no answer came: the device may have taken it
};

// Source UID of the last UID-change acknowledgement; cleared before each
// exchange.
extern std::atomic<uint32_t> uidAnswUID;
// Source UID of the last answer that refused a UID change (function 0x10).
extern std::atomic<uint32_t> uidRefusedUID;

// A new UID from the local time now; with text (at least
// APP_GENUID_TEXT_SIZE bytes), its description.
uint32_t app_genNewUID(char* text);
// The UID of a given local time, with its description when text is given.
// Bits 31..25 years since 2000, 24..21 month 0..11, 20..16 day, 15..11
// hour, 10..5 minute, 4..0 seconds halved.
uint32_t app_genUIDFromTime(const struct tm* t, char* text);
// Gives the device oldUid the UID newUid (0: one made now). 1 when the
// device acknowledged under either UID, 0 when not.
int app_genUid(uint32_t oldUid, uint32_t newUid);
// The same exchange, telling how it ended: APP_GENUID_ACKNOWLEDGED,
// APP_GENUID_REFUSED, APP_GENUID_UNCONFIRMED, or the cable's failure.
int app_genUidOutcome(uint32_t oldUid, uint32_t newUid);
// What the operator is told of an outcome of app_genUidOutcome:
// "UID %08X -> %08X\n changed." or "... not changed.", the cable's failure,
// or, when no answer came, that the change is not confirmed and the next
// discovery shows the UID the device has. Returns text.
char* app_genUid_outcomeText(char* text, int size, uint32_t oldUid, uint32_t newUid, int outcome);
// Answer handler of class 3, functions 0x10..0x1F: 0x11..0x1F acknowledge,
// 0x10 refuses.
void app_genUid_parse(Packet* packet);
