// A rig checked against its record, and a device replaced: what a
// technician does on coming back to an installed rig, written once for the
// window and `tern`.
//
// The check releases every device, mutes each UID of the record (its
// acknowledgement proves the device is there; one that does not answer
// costs its resends and is missing), asks with one probe of address 0
// whether any device is left and, if so, finds the rest with Quick
// discovery's search (devices the record does not name: new). Then it reads
// the settings of every device found and compares them with the record. It
// uses only the discovery messages and the settings read: nothing is
// written.
//
// Replacing a device gives a new device a missing one's settings (written
// only where they differ, and read back) and then puts the new UID into the
// old one's row of the record file.
//
// Errors: results are data. A check ends with a RigCheckEnd and keeps every
// row it settled before; a replace returns a RigReplaceStatus. Each comes
// with one line of text for people where one is due (rig_checkEndText,
// RigReplace::text); the exchanges' codes never reach a face. Nothing here
// prints or shows a message.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/commission.h"
#include "device/rig.h"

// What one row of the record turned out to be.
enum RigCheckStatus {
  RIG_CHECK_MATCHES,         // there, and holds every value of its row
  RIG_CHECK_DIFFERS,         // there, and holds other values (RigCheckRow::differs)
  RIG_CHECK_MISSING,         // did not take its mute: not on the line
  RIG_CHECK_NOT_RESPONDING,  // took its mute but did not answer the settings read
  RIG_CHECK_NOT_READ,        // never asked: the cable failed, or the check stopped, before
  RIG_CHECK_NEW,             // not a row: a device the record does not name
  RIG_CHECK_STATUSES
};

// How a check ended.
enum RigCheckEnd {
  RIG_CHECK_DONE,          // every row checked, the rest of the line searched
  RIG_CHECK_CABLE_FAILED,  // the cable failed: what was done before is kept
  RIG_CHECK_STOPPED,       // asked to stop: what was done before is kept
  RIG_CHECK_ROGUE,         // rogueUid answers probes but never takes its mute:
                           // new devices with lower UIDs cannot be found
  RIG_CHECK_REFUSED,       // the plan names a UID twice or one no device has: nothing sent
};

// The parts of a check, for its progress.
enum RigCheckPhase {
  RIG_CHECK_MUTING,     // done: rows whose mute is settled, of total rows
  RIG_CHECK_SEARCHING,  // done: new devices found, of an estimate of how many there are
  RIG_CHECK_READING,    // done: devices read, of total to read
};

struct RigCheckRow {
  uint32_t uid;
  int line;                // the record file's line, 0 when it comes from no file
  RigCheckStatus status;
  CommissionValues want;   // the record's values
  CommissionValues have;   // as read; has = 0 when it was not read
  unsigned differs;        // bit (1 << field) for each field whose value differs
};

struct RigCheckNew {
  uint32_t uid;
  RigRead read;            // how its settings read went
  CommissionValues have;   // as read; has = 0 when it was not read
};

struct RigCheck {
  // Set by the caller (each callback optional, called on the checking thread).
  void (*onPresent)(int row, void* ctx) = nullptr;       // a row's device took its mute
  void (*onNew)(uint32_t uid, void* ctx) = nullptr;      // a device the record does not name took its mute
  void (*onProgress)(RigCheckPhase phase, int done, int total, void* ctx) = nullptr;
  void* ctx = nullptr;
  const std::atomic<bool>* stop = nullptr;  // ends the check between two exchanges
  // Filled by rig_check.
  RigCheckEnd end = RIG_CHECK_DONE;
  int cableResult = 0;     // RIG_CHECK_CABLE_FAILED: the exchange's failure (rig_cableText)
  uint32_t rogueUid = 0;   // RIG_CHECK_ROGUE: the device that never mutes
  DiscoveryRun run;        // the search: its probe sends and end
  int count = 0;           // rows, in the record's order
  RigCheckRow rows[RIG_MAX] = {};
  int newCount = 0;        // new devices, in the order found
  RigCheckNew fresh[RIG_MAX] = {};
  char text[COMMISSION_TEXT_SIZE] = {};  // RIG_CHECK_REFUSED: why
};

// Checks the line against the record `plan` (as rig_readRecord reads it),
// on the calling thread. A plan with no row, more than RIG_MAX, a UID named
// twice or one no device can have is refused before anything is sent. The
// devices found are read in the record's order, then the new ones in the
// order found. A record device that never takes its mute ends the search
// (RIG_CHECK_ROGUE) but is read, since it is there. When the cable fails,
// nothing more is asked: rows settled before keep their status, the rest
// are RIG_CHECK_NOT_READ (never blamed on the device); a stop does the same.
// The device table is emptied once the search is over (not when it ended
// on the cable) and then holds the record of every device read, as a
// discovery leaves it.
void rig_check(const CommissionPlan* plan, RigCheck* c);

// Rows with the given status (RIG_CHECK_NEW: the new devices).
int rig_checkCount(const RigCheck* c, RigCheckStatus status);
// Whether the line is the record: the check ran to its end, every row
// matches and no device is new.
bool rig_checkMatches(const RigCheck* c);

// ---- Words: the one place that writes them, for both faces

// "matches", "differs", "missing", "not responding", "not read", "new".
const char* rig_checkStatusName(RigCheckStatus status);
// The same for scripts: "matches", "differs", "missing", "not_responding",
// "not_read", "new".
const char* rig_checkStatusKey(RigCheckStatus status);
// The fields a row differs in, record -> device: "sleep 0 -> 30,
// backlight 80 -> 50"; "" when none.
void rig_checkDiffText(const RigCheckRow* row, char* text, int size);
// One row as the report prints it, in commission_resultLine's columns:
// "0A1B2C3D (line 4)    matches",
// "0A1B2C3D (line 5)    differs       sleep 0 -> 30, backlight 80 -> 50".
void rig_checkRowLine(const RigCheckRow* row, char* text, int size);
// One new device: "4F00AA12             new", with "not responding" or
// "not read" after it when its settings were not read.
void rig_checkNewLine(const RigCheckNew* fresh, char* text, int size);
// The totals: "20 devices in the record: 18 match, 1 differs, 1 missing;
// 1 new device." (counts of 0 left out).
void rig_checkTotalsLine(const RigCheck* c, char* text, int size);
// How the check ended when it did not simply finish: the cable's failure,
// the stop, the device that never mutes, the refusal; "" otherwise.
void rig_checkEndText(const RigCheck* c, char* text, int size);

// ---- Fixing what differs

// The plan that gives each row that differs its record values: run it with
// commission_begin and commission_step (each device is read again,
// written where it differs and read back). Returns its count.
int rig_checkFix(const RigCheck* c, CommissionPlan* fix);

// ---- Replacing a device

// A missing row and the new device that takes its place.
struct RigPair {
  uint32_t oldUid;
  int line;
  uint32_t newUid;
};

// The pairs a finished check offers when as many devices are missing as
// are new (at least one): the missing rows in the record's order, each with
// a new device in the order found. Returns how many (0 when the counts
// differ, none is missing, or the check did not finish).
int rig_replacePairs(const RigCheck* c, RigPair* pairs, int capacity);
// The one pair taken without naming it: exactly one device missing and one
// new. False otherwise, with why in `text`: "2 devices are missing and 1 is
// new: name the pairs with tern replace".
bool rig_adoptPair(const RigCheck* c, RigPair* pair, char* text, int size);

enum RigReplaceStatus {
  RIG_REPLACE_DONE,            // the new device holds the old row's values; the record names it there
  RIG_REPLACE_OLD_UNKNOWN,     // the record has no row for the old UID: nothing sent
  RIG_REPLACE_BAD_UID,         // the new UID is one no device can have (0, the broadcast): nothing sent
  RIG_REPLACE_NEW_IN_RECORD,   // the record names the new UID already: nothing sent
  RIG_REPLACE_NEW_SILENT,      // the new device did not answer: nothing written
  RIG_REPLACE_FAILED,          // the values were refused, not written, or not read back; record unchanged
  RIG_REPLACE_CABLE_FAILED,    // the cable failed; record unchanged
  RIG_REPLACE_RECORD_FAILED,   // the device holds the values, but the record file could not be written
};

struct RigReplace {
  RigReplaceStatus status;
  CommissionResult result;  // the new device's run: before, after, written
  char text[COMMISSION_TEXT_SIZE * 2];  // one line for people: what was done, or why not
};

// Gives newUid the values of oldUid's row of `record` (read from the file
// at `path`), written where they differ and read back, then puts newUid
// into oldUid's row of the file (the rest of the file as it was) and of the
// plan. Refuses an old UID the record does not name, a new UID no device
// can have and one the record names already, before anything is sent.
// Returns out->status.
RigReplaceStatus rig_replace(const char* path, CommissionPlan* record, uint32_t oldUid, uint32_t newUid,
                             RigReplace* out);
