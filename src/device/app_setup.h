// Device setup commands. For now: sending a dimming curve to the devices.
#pragma once

#include <cstdint>

#include "curve/curve.h"

// Results of app_setup_send_curve.
enum {
  APP_SETUP_CURVE_SENT = 0,
  APP_SETUP_NO_CABLE = -1,    // the cable could not be opened: nothing was sent
  APP_SETUP_SEND_FAILED = -2, // a send failed after the cable opened
  APP_SETUP_NO_RECORD = -3,   // no record given: nothing was sent
};

// Sends the 524-byte record to `uid` (0xFFFFFFFF: every device) in three
// class-1 packets with a curve-part item (tag 0x07), each sent twice and
// followed by a 42 ms sleep; the record is cut 170 + 170 + 184 bytes, and
// part 1 carries a 0x00 byte ahead of its record bytes. Prints
// "Curve part %d, size=%d/%d\n" per part, closes the cable and sleeps 202 ms.
// Nothing is read back, so success says nothing about whether a device took
// the curve.
//
// Returns APP_SETUP_CURVE_SENT, APP_SETUP_NO_CABLE, or APP_SETUP_SEND_FAILED
// when any of the six sends failed; the transfer still goes through all its
// steps then, so the line sees the same sequence either way.
int app_setup_send_curve(uint32_t uid, const CurveRecord* record);
