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
};

// Source UID of the last UID-change acknowledgement; cleared before each
// exchange.
extern std::atomic<uint32_t> uidAnswUID;

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
// Answer handler of class 3, functions 0x10..0x1F.
void app_genUid_parse(Packet* packet);
