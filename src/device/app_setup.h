// Device setup commands: reading and writing one device's settings as a
// list of tagged items in a class-1 payload (the answer handler stores what
// a device reports in the device table), and sending a dimming curve to the
// devices.
#pragma once

#include <atomic>
#include <cstdint>

#include "curve/curve.h"
#include "protocol/packet_structures.h"

enum {
  SETUP_ERROR_TEXT_SIZE = 512,
  SETUP_WRITE_LENGTH = 16,  // payload bytes of a settings write
};

// Item tags of the setup payload.
enum : uint8_t {
  SETUP_TAG_DISPLAY = 0x02,
  SETUP_TAG_DALI_COUNT = 0x04,
  SETUP_TAG_LIMIT = 0x05,
  SETUP_TAG_CURVE = 0x07,
  SETUP_TAG_LOSS = 0x0D,
  SETUP_TAG_ADDR = 0x0E,
  SETUP_TAG_VERSION = 0xA0,
};

// The settings to write, as the setup dialog fills them.
struct SetupValues {
  int32_t addr;       // DMX start address 1..512
  int32_t lossOfDmx;  // index into lossOfDmx
  int32_t sleep;      // display sleep, seconds; 0 = off
  int32_t backlight;  // 0..100 %
  int32_t limitUp;    // 0..255
  int32_t limitDown;  // 0..255
  char errorText[SETUP_ERROR_TEXT_SIZE];  // the dialog's validation messages; not sent
};

// Source UID of the last class-1 answer handled; 0 = none since the last request.
extern std::atomic<uint32_t> setup_rec;

// Reads uid's settings into the device table: EXCHANGE_ANSWERED (1) when it
// answered, else the exchange's failure (device/exchange.h): -1 silent, or
// the cable's. Only a silent device's record is marked as not answering.
int app_setup_read(uint32_t uid);
// Writes the values to uid: 1 when it answered, else the exchange's failure;
// EXCHANGE_BAD_ARGUMENT without values.
int app_setup_send(uint32_t uid, const SetupValues* values);
// Sends a prepared packet and waits for uid's answer, without opening or
// releasing the cable: 1 or -1.
int app_setup_send_acket(Packet* packet, uint32_t uid);
// Fills the 16-byte write payload for the values.
void app_setup_fillWrite(Packet* packet, const SetupValues* values);
// Answer handler of class 1.
void app_setup_parse(Packet* packet);

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
