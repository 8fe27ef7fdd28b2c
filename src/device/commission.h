// Commissioning a rig: what each device should hold (a plan, made from an
// address sequence or read from a CSV file), the diff of a device's settings
// against it, and applying the plan one device at a time, each written only
// where it differs and read back, with a report of every device.
//
// A caller runs it step by step: make a plan (commission_addressPlan,
// commission_csvRead), commission_begin, then commission_step once per
// device (showing its progress between steps), then read the results. The
// steps run the device commands on the calling thread and print nothing;
// the window and `tern` show the report each in its own way.
#pragma once

#include <cstdint>

#include "device/devices.h"

// The settings a plan may set, in the order of the CSV columns.
enum CommissionField {
  COMMISSION_ADDR,
  COMMISSION_LOSS,
  COMMISSION_SLEEP,
  COMMISSION_BACKLIGHT,
  COMMISSION_LIMIT_UP,
  COMMISSION_LIMIT_DOWN,
  COMMISSION_FIELDS
};

enum {
  COMMISSION_MAX = DEV_TABLE_SIZE,  // devices in one plan
  COMMISSION_TEXT_SIZE = 256,       // a result's or a refusal's text
  COMMISSION_VALUE_TEXT_SIZE = 16,  // one value as text
  COMMISSION_LAST_ADDR = 512,
};

// A value for each field; `has` holds bit (1 << field) for each one given.
struct CommissionValues {
  int32_t v[COMMISSION_FIELDS];
  unsigned has;
};

// What one device should hold. Fields not given stay as the device holds them.
struct CommissionTarget {
  uint32_t uid;
  int line;  // the file line it was read from; 0 when it comes from no file
  CommissionValues want;
};

struct CommissionPlan {
  int count;
  CommissionTarget targets[COMMISSION_MAX];
};

// The name of a field as the CSV header and the reports write it:
// "address", "loss", "sleep", "backlight", "limit_up", "limit_down".
const char* commission_fieldName(int field);
// A value as the CSV file and the reports write it: the loss-of-DMX mode by
// its name ("HOLD", "to 0%", "to 100%"; a mode without a name as its
// number), every other field as its decimal number (sleep 0 is off).
void commission_valueText(int field, int32_t value, char* text, int size);

// Reads a value given as text (a CSV cell, a command-line option) for a
// field, checking its form and range alone with the setup dialog's rules:
// address 1..512, backlight 0..100, limits 0..255, each a whole decimal
// number; loss-of-DMX a mode's name in any case or its number; sleep "off"
// or a number of seconds. Whether sleep and loss are entries their combo
// box offers, and the order of the limits, depend on what the device holds
// (commission_check). False with the dialog's message, made one line, in
// `error`.
bool commission_parseField(int field, const char* text, int32_t* value, char* error, int size);

// A UID as `tern` and the CSV file write it: hexadecimal, 1 to 8 digits,
// "0x" in front allowed; 1..7FFFFFFF, the UIDs devices have.
bool commission_parseUid(const char* text, uint32_t* uid);

// Reads the settings of uid into the device table and copies its record:
// 1, or the exchange's failure (EXCHANGE_UNANSWERED when the device did not
// answer, EXCHANGE_NO_CABLE or EXCHANGE_SEND_FAILED when the cable failed).
int commission_read(uint32_t uid, Device* out);
// Whether an exchange's result is the cable's failure rather than the
// device's silence.
bool commission_cableFailed(int result);
// What a device holds, from its record in the device table (every field).
void commission_fromDevice(const Device* d, CommissionValues* out);
// The fields given in `want` whose value differs from `have`'s.
unsigned commission_diff(const CommissionValues* have, const CommissionValues* want);
// Checks what a device would hold, `have` with `want` laid over it, with the
// rules and messages of the setup dialog: the address 1..512, backlight
// 0..100, limits 0..255 with down not above up, sleep and loss-of-DMX an
// entry their combo box offers for what the device holds. Returns 0, or the
// dialog's bits with their messages in `text`, made one line.
int commission_check(const CommissionValues* have, const CommissionValues* want, char* text, int size);

// The one check that needs nothing from the device: with both limits
// given, down not above up. 0, or SETUP_BAD_ORDER with the dialog's message.
int commission_checkLimits(const CommissionValues* want, char* text, int size);

// The plan that gives the devices start, start + step, start + 2 x step...
// in the order given. Refuses (false, the reason in `error`) a start that is
// not a valid address, a negative step, more than COMMISSION_MAX devices,
// a UID that is not a device's or is named twice, and a sequence whose last
// address passes 512: all before anything is written.
bool commission_addressPlan(int start, int step, const uint32_t* uids, int count,
                            CommissionPlan* plan, char* error, int errorSize);

enum CommissionOutcome {
  COMMISSION_UNCHANGED,      // it held every value already: nothing written
  COMMISSION_CHANGED,        // written, and the read-back shows the new values
  COMMISSION_WOULD_CHANGE,   // a check only: it differs, nothing written
  COMMISSION_NOT_FOUND,      // it did not answer the read: not on the line
  COMMISSION_REFUSED,        // the values fail the dialog's checks with what it holds
  COMMISSION_WRITE_FAILED,   // the write or its read-back was not answered
  COMMISSION_MISMATCH,       // the read-back shows other values than written
  COMMISSION_CABLE_LOST,     // the cable failed while this device was done
  COMMISSION_NOT_REACHED,    // the run stopped before this device (the cable failed)
  COMMISSION_OUTCOMES
};

struct CommissionResult {
  uint32_t uid;
  int line;
  CommissionOutcome outcome;
  CommissionValues want;    // the plan's values
  CommissionValues before;  // as read; has = 0 when it could not be read
  CommissionValues after;   // as read back; has = 0 when nothing was read back
  unsigned changes;         // fields that differ(ed) from what it held
  char text[COMMISSION_TEXT_SIZE];  // one line: why, for the outcomes that fail
};

struct CommissionRun {
  const CommissionPlan* plan;
  bool checkOnly;
  int next;        // index of the next target
  bool cableLost;  // the run stopped: the cable failed
  CommissionResult results[COMMISSION_MAX];
};

// Starts a run of the plan (which must outlive the run); with checkOnly
// nothing is written, and the devices that differ are reported as
// COMMISSION_WOULD_CHANGE.
void commission_begin(CommissionRun* run, const CommissionPlan* plan, bool checkOnly);
// Does the next device: reads it, checks the plan's values against what it
// holds, writes only when a field differs and reads it back. False when no
// device is left or the run stopped because the cable failed (then the
// devices not reached stay COMMISSION_NOT_REACHED).
bool commission_step(CommissionRun* run);
// Devices done so far.
int commission_done(const CommissionRun* run);
// Whether every device of the plan was done and holds what the plan says
// (or, for a check, was read).
bool commission_allDone(const CommissionRun* run);

// How a device's result reads: "changed", "unchanged", "would change",
// "not found", "refused", "write failed", "read-back differs",
// "cable lost", "not reached".
const char* commission_outcomeName(CommissionOutcome outcome);
// The fields a result changed (or would change) as
// "address 1 -> 17, sleep 0 -> 30"; "" when none.
void commission_changesText(const CommissionResult* r, char* text, int size);

// Whether the cable is there: it opens (and is released again).
bool commission_cablePresent();
// Makes a multi-line message of the setup dialog one line: every run of
// blanks and line breaks becomes one blank, none at either end.
void commission_oneLine(char* text);
