// The rig: what the window and `tern` do with the devices of a line, each
// written once here and called by both faces (the window on a worker of
// the job runner, `tern` on its own thread): discover and read every device
// found, read listed devices for an export and write the record, read a
// record file into a plan, and give a device a new UID. Results are data;
// the faces word them. Nothing here shows a message.
//
// Errors: each operation returns its outcome as data (an end code, a
// status enum) with a text for people where one is due; the exchanges'
// codes are kept only where a face needs to tell the cable's failure from a
// device's silence (rig_cableText).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "device/app_discovery.h"
#include "device/commission.h"
#include "device/commission_csv.h"
#include "device/devices.h"

enum {
  RIG_MAX = DEV_TABLE_SIZE,
  RIG_PATH_SIZE = 4096,
};

// How a device found by a discovery was read.
enum RigRead {
  RIG_READ,            // its settings are in its record
  RIG_NOT_RESPONDING,  // it did not answer the read
  RIG_NOT_READ,        // never asked: the cable failed (or the run stopped) before
};

// A discovery and the reads of the devices it found.
struct RigDiscovery {
  // Set by the caller.
  DiscoveryMode mode = DISCOVERY_FULL;
  void (*onFound)(uint32_t uid, void* ctx) = nullptr;  // each device as it takes its mute
  void (*onRead)(int index, void* ctx) = nullptr;      // each device as its read ends
  void (*onProgress)(int found, int estimate, void* ctx) = nullptr;  // the search's estimate
  void* ctx = nullptr;
  const std::atomic<bool>* stop = nullptr;             // ends the run between two exchanges
  // Filled by rig_discover.
  DiscoveryRun run;
  int count = 0;                 // devices found, in the order found
  uint32_t uids[RIG_MAX] = {};
  RigRead read[RIG_MAX] = {};
  Device records[RIG_MAX] = {};  // valid where read is RIG_READ
  int readFailure = 0;           // the exchange's result when the cable failed during the reads, else 0
  bool stopped = false;          // the run was asked to stop (during the search or the reads)
};

// Runs the discovery in d->mode and then reads the settings of every
// device found, in the order found. Discovery and Quick discovery start
// with an empty device table (the records of the devices read are there
// afterwards); Find new devices keeps it. When the cable fails, nothing more
// is asked: the devices not yet read are RIG_NOT_READ (the table keeps
// what it knew of them). A device that never mutes ends the search (its
// UID in d->run.rogueUid); the devices found before it are still read.
void rig_discover(RigDiscovery* d);
// Whether the discovery's search or its reads ended on the cable's failure.
bool rig_cableFailed(const RigDiscovery* d);
bool rig_failed(const RigDiscovery* d);
// One line for people on how a discovery ended when it did not simply
// finish: the cable's failure (during the search or the reads), a device
// that never mutes, a stop ("Stopped: N devices found."); "" otherwise.
// rig_failed tells the failures from a stop the operator asked for.
void rig_endText(const RigDiscovery* d, char* text, int size);
// The cable's failure as one line for people ("Cable not found!", the failed
// send), or null when `result` is not the cable's.
const char* rig_cableText(int result);

// ---- The record

// Reads each listed device fresh for an export: the records of those that
// answered, in order, into `records`; the UIDs of those that did not into
// `silent`. Stops at the cable's failure (false, the result in *failure)
// and, between two devices, when `stop` is set (false, `stopped`).
struct RigExport {
  int count = 0;                 // records read
  Device records[RIG_MAX];
  int silentCount = 0;           // devices that did not answer: not in the file
  uint32_t silent[RIG_MAX];
  int failure = 0;               // the exchange's result when the cable failed, else 0
  bool stopped = false;          // the stop request ended it
};
bool rig_exportRead(const uint32_t* uids, int count, RigExport* out,
                    void (*onRead)(int done, void* ctx) = nullptr, void* ctx = nullptr,
                    const std::atomic<bool>* stop = nullptr);
// Writes the record of the devices to `path` (replacing it whole, never
// leaving half a file): 0, or the error number of the failed write. When
// `path` holds a record already, its rows keep their order (the order the
// technician keeps the rig in) and devices it does not name follow in the
// order given.
int rig_writeRecord(const char* path, const Device* records, int count);
// Puts newUid into the row of oldUid in the record file at `path`, the
// rest of the file as it was, so that a replaced device takes the old one's
// line. False with the reason in `error` (the file cannot be read or
// written, or names no oldUid).
bool rig_renameInRecord(const char* path, uint32_t oldUid, uint32_t newUid, char* error, int size);

// How reading a record file ended.
enum RigFileStatus {
  RIG_FILE_OK,
  RIG_FILE_UNREADABLE,  // it cannot be read: `error` gives the system's reason
  RIG_FILE_REFUSED,     // refused whole: `error` names the line and the column
  RIG_FILE_EMPTY,       // it names no device
};
// Reads a record file into a plan, refusing it whole (nothing in the plan)
// when it cannot be read, breaks a rule, or names no device; `where`
// (optional) gets the refused cell's line, column, field and reason.
RigFileStatus rig_readRecord(const char* path, CommissionPlan* plan, char* error, int size,
                             CommissionCsvError* where = nullptr);

// ---- New UIDs

enum {
  RIG_UID_TAKEN = -10,  // another device on the line holds the new UID already: nothing sent
};
// Gives the device `uid` the UID `fresh`, unless a device on the line holds
// `fresh` already (new UIDs are made from the time to two seconds: a device
// given one a moment ago may hold it, and two devices must never share
// one). Returns app_genUidOutcome's outcome (APP_GENUID_*), the cable's
// failure, or RIG_UID_TAKEN.
int rig_newUid(uint32_t uid, uint32_t fresh);
// What the operator is told of rig_newUid's outcome: app_genUid_outcomeText,
// or for RIG_UID_TAKEN "UID %08X -> %08X\n not changed: a device on the line
// has %08X already; try again in two seconds." Returns text.
char* rig_newUidText(char* text, int size, uint32_t uid, uint32_t fresh, int outcome);
