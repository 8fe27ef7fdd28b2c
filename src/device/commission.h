// Commissioning a rig, the rules both faces share: the settings as values,
// one parser per field (text to value, for command-line options, CSV cells
// and dialog entries alike) and the rules on values; what each device
// should hold (a plan, from an address sequence, a set of values or a CSV
// file), the diff of a device's settings against it, and running the plan
// one device at a time, each written only where it differs and read back;
// and the results as data, with the one function that writes a result line
// and the one that writes the totals.
//
// A caller runs a plan step by step: make a plan (commission_addressPlan,
// commission_setPlan, commission_csvRead), commission_begin, then
// commission_step once per device (showing its progress between steps),
// then read the results. The steps run the device commands on the calling
// thread and print nothing; the window and `tern` show the results each in
// its own form.
//
// Errors: functions that check something return bool (or a count of
// faults) with the reason, one line of text, in the caller's buffer; the
// exchanges' EXCHANGE_* codes (device/exchange.h) are turned into outcomes
// here and never reach a face. Nothing here shows a message to anyone.
#pragma once

#include <atomic>
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
  COMMISSION_STEP_MAX = COMMISSION_LAST_ADDR - 1,  // address steps 0..511
  COMMISSION_ALL_FIELDS = (1 << COMMISSION_FIELDS) - 1,
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

// ---- Fields: text at the edge, rules on values

// The name of a field as the CSV header and the reports write it:
// "address", "loss", "sleep", "backlight", "limit_up", "limit_down".
const char* commission_fieldName(int field);
// The values a field takes, for messages and help: "1..512", "0..100",
// "off or 5..100 seconds", "HOLD, to 0% or to 100%", "0..255".
const char* commission_fieldRange(int field);
// A value as the CSV file and the reports write it: the loss-of-DMX mode by
// its name ("HOLD", "to 0%", "to 100%"; a mode without a name as its
// number), every other field as its decimal number (sleep 0 is off).
void commission_valueText(int field, int32_t value, char* text, int size);

// The one parser of each field: a whole decimal number (blanks around it
// allowed); backlight also as the table shows it ("80%"); loss-of-DMX a
// mode's name in any case, "mode N" or its number; sleep "off" in any case
// or a number of seconds. The value's own range is checked here for the
// fields whose range does not depend on the device (address, backlight,
// limits); sleep and loss only for what a device can hold (0..255), since
// the device's own value is allowed too (commission_check). False with the
// reason in `error`, without the field's name: "\"12abc\" is not a whole
// number", "101 is not in 0..100".
bool commission_parseField(int field, const char* text, int32_t* value, char* error, int size);
// A field's value checked on its own, as commission_parseField checks it
// after the form: false with "101 is not in 0..100".
bool commission_checkField(int field, int32_t value, char* error, int size);
// A whole decimal number within lo..hi, with the same messages.
bool commission_parseNumber(const char* text, int lo, int hi, int32_t* value, char* error, int size);

// A UID as `tern` and the CSV file write it: hexadecimal, 1 to 8 digits,
// "0x" in front allowed, blanks around it allowed; 1..7FFFFFFF, the UIDs
// devices have. False with the reason in `error` (optional), which says so
// when the text looks like a spreadsheet turned the UID into a number.
bool commission_parseUid(const char* text, uint32_t* uid, char* error = nullptr, int size = 0);

// Echoed input made safe to show: control characters and bytes that are not
// printable as "\xNN", quotes around it, cut at `size`.
void commission_quote(const char* text, char* out, int size);

// What a device holds, from its record in the device table (every field).
void commission_fromDevice(const Device* d, CommissionValues* out);
// The fields given in `want` whose value differs from `have`'s.
unsigned commission_diff(const CommissionValues* have, const CommissionValues* want);
// Checks what a device would hold, `have` with `want` laid over it: the
// address 1..512, backlight 0..100, limits 0..255 with down not above up,
// sleep off or 5..100 and loss-of-DMX a named mode, or in both the value
// the device holds already. Only what `want` gives is checked (the limits
// together, for their order). Returns the number of faults, 0 when it
// passes, with every fault named ("backlight: 101 is not in 0..100;
// limit_down: 20 is above limit_up 10") in `text`.
int commission_check(const CommissionValues* have, const CommissionValues* want, char* text, int size);
// The one check that needs nothing from the device: with both limits
// given, down not above up. 0, or 1 with the reason.
int commission_checkLimits(const CommissionValues* want, char* text, int size);

// ---- Plans

// The address the device at `index` of a sequence gets (in 64 bits: a
// large step times many devices must not wrap round).
long long commission_addressAt(int start, int step, int index);
// Whether `count` devices from `start` in steps of `step` end at or before
// address 512; *last gets where they end.
bool commission_sequenceFits(int start, int step, int count, long long* last);
// The plan that gives the devices start, start + step, start + 2 x step...
// in the order given. Refuses (false, the reason in `error`) a start that is
// not an address (1..512), a step outside 0..511, no device or more than
// COMMISSION_MAX, a UID that is not a device's or is named twice, and a
// sequence whose last address passes 512: all before anything is written.
bool commission_addressPlan(int start, int step, const uint32_t* uids, int count,
                            CommissionPlan* plan, char* error, int errorSize);
// The plan that gives each of the devices the same values. Refuses no
// device, more than COMMISSION_MAX, a UID named twice, no value given and
// limits in the wrong order.
bool commission_setPlan(const uint32_t* uids, int count, const CommissionValues* want,
                        CommissionPlan* plan, char* error, int errorSize);

// Devices of a plan that would share a DMX start address or whose
// footprints (channels per device, 1 or more) would overlap; a device the
// plan gives no address is left out. Writes up to `capacity` warnings, one
// line each, "00000010 (line 3) and 00000020 (line 4) share address 17" or
// "... overlap at 18..20"; returns how many there are.
enum { COMMISSION_WARNING_SIZE = 128 };
int commission_overlaps(const CommissionPlan* plan, int footprint,
                        char (*warnings)[COMMISSION_WARNING_SIZE], int capacity);

// ---- On the line

// Reads the settings of uid into the device table and copies its record:
// 1, or the exchange's failure (EXCHANGE_UNANSWERED when the device did not
// answer, EXCHANGE_NO_CABLE or EXCHANGE_SEND_FAILED when the cable failed).
int commission_read(uint32_t uid, Device* out);
// Whether an exchange's result is the cable's failure rather than the
// device's silence.
bool commission_cableFailed(int result);
// Whether the cable is there: it opens (and is released again).
bool commission_cablePresent();
// Why an exchange with uid failed, one line: the cable's failure, or
// "Device %08X not responding." after `prefix` ("IDENTIFY: ", or "").
void commission_failureText(uint32_t uid, int result, const char* prefix, char* text, int size);

// ---- Running a plan

enum CommissionOutcome {
  COMMISSION_UNCHANGED,      // it held every value already: nothing written
  COMMISSION_CHANGED,        // written, and the read-back shows the new values
  COMMISSION_WOULD_CHANGE,   // a check only: it differs, nothing written
  COMMISSION_NOT_FOUND,      // it did not answer the read: not on the line
  COMMISSION_REFUSED,        // the values break the rules with what it holds
  COMMISSION_WRITE_FAILED,   // the write or its read-back was not answered
  COMMISSION_MISMATCH,       // the read-back shows other values than written
  COMMISSION_CABLE_LOST,     // the cable failed while this device was done
  COMMISSION_NOT_REACHED,    // the run stopped before this device
  COMMISSION_OUTCOMES
};

// Whether a device's settings were written: a write that went out but was
// not confirmed (the cable failed, the device fell silent) may have landed.
enum CommissionWritten { COMMISSION_WRITTEN_NO, COMMISSION_WRITTEN_YES, COMMISSION_WRITTEN_UNKNOWN };

struct CommissionResult {
  uint32_t uid;
  int line;
  CommissionOutcome outcome;
  CommissionWritten written;
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
  bool stopped;    // the run stopped: it was asked to
  const std::atomic<bool>* stop;  // asked to stop between two devices (optional)
  CommissionResult results[COMMISSION_MAX];
};

// Starts a run of the plan (which must outlive the run); with checkOnly
// nothing is written, and the devices that differ are reported as
// COMMISSION_WOULD_CHANGE. `stop` (optional) ends the run before the next
// device once it is set: the device being written is finished and read back.
void commission_begin(CommissionRun* run, const CommissionPlan* plan, bool checkOnly,
                      const std::atomic<bool>* stop = nullptr);
// Does the next device: reads it, checks the plan's values against what it
// holds, writes only when a field differs and reads it back. False when no
// device is left or the run stopped (the cable failed, or it was asked to);
// the devices not done stay COMMISSION_NOT_REACHED.
bool commission_step(CommissionRun* run);
// Devices done so far.
int commission_done(const CommissionRun* run);
// Whether every device of the plan was done and holds what the plan says
// (or, for a check, was read).
bool commission_allDone(const CommissionRun* run);
// Devices of a run with the given outcome.
int commission_count(const CommissionRun* run, CommissionOutcome outcome);

// ---- Results as text: the one place that words them

// How a device's result reads: "changed", "unchanged", "would change",
// "not found", "refused", "write failed", "read-back differs",
// "cable lost", "not reached".
const char* commission_outcomeName(CommissionOutcome outcome);
// The same for scripts, in snake_case: "would_change", "not_found"...
const char* commission_outcomeKey(CommissionOutcome outcome);
// "yes", "no", "unknown".
const char* commission_writtenName(CommissionWritten written);
// The fields in `fields` (bit 1 << field) as "address 1 -> 17, sleep 0 ->
// 30", each from its value in `from` to its value in `to`; "" when none.
void commission_diffText(unsigned fields, const CommissionValues* from, const CommissionValues* to, char* text,
                         int size);
// The fields a result changed (or would change), in those words.
void commission_changesText(const CommissionResult* r, char* text, int size);
// One device's result as the window's report and `tern` print it:
// "%08X (line %d)" or "%08X", then the outcome, then what changed (or
// would) or why it failed.
void commission_resultLine(const CommissionResult* r, char* text, int size);
// The totals of a run: "5 devices: 4 changed, 1 not found." ("1 device").
void commission_totalsLine(const CommissionRun* run, char* text, int size);
// What a stopped run adds to its totals, one line; "" when it ran to the
// end: "The cable failed after 9 of 20 devices; the rest were not tried."
// or "Stopped after 9 of 20 devices; the rest were not tried."
void commission_stopLine(const CommissionRun* run, char* text, int size);

// Makes a multi-line message one line: every run of blanks and line breaks
// becomes one blank, none at either end.
void commission_oneLine(char* text);
