// The window's record check: runs rig_check (device/rig_check.h) against a
// record read from a file, and later gives new devices the places of missing
// ones (rig_replace, pair by pair), on the job runner (device/job.h) with
// lock bit LOCK_CHECK, so every button that uses the cable is insensitive
// meanwhile. The check lists the devices it finds in the table's found list
// (device/discovery_job) as it finds them, present ones and new ones, and
// moves the progress pair with its phases; it never touches widgets. The
// window starts a job, watches checkJob_running on its timer and, once the
// job has ended, shows what it left here. job_requestStop(LOCK_CHECK) stops
// a check between two exchanges and a replacement between two pairs.
//
// Starting returns job_start's codes (JOB_STARTED, JOB_BUSY, JOB_FAILED);
// JOB_BUSY also while any other background job holds a lock bit, since the
// check starts the device table and its list afresh.
#pragma once

#include "device/rig_check.h"

enum CheckJobKind {
  CHECK_JOB_NONE,
  CHECK_JOB_CHECK,    // the line checked against the record
  CHECK_JOB_REPLACE,  // new devices given missing ones' rows
};

enum { CHECK_JOB_PROGRESS_SIZE = 64 };

// Starts checking the line against `record` (copied), read from the file at
// `path`: the device table and the found list are emptied first.
int checkJob_startCheck(const char* path, const CommissionPlan* record);
// Starts replacing, pair by pair in the order given, each old device of the
// last check's record by its new one: written, read back, and put into the
// old one's row of the record file.
int checkJob_startReplace(const RigPair* pairs, int count);
bool checkJob_running();
// The kind of the job that runs or ran last.
CheckJobKind checkJob_kind();
// What the progress bar says of the job that runs or ran last:
// "Checking: muting 2 of 5", "Checking: searching, 1 new device found",
// "Checking: reading 3 of 6", "Replacing: 1 of 2 devices done".
void checkJob_progressText(char* text, int size);

// What the last jobs left; read them once checkJob_running is false.
const RigCheck* checkJob_check();
// The record file the last check read, and its plan (the replacements
// rename its rows).
const char* checkJob_path();
const CommissionPlan* checkJob_record();
// The last replacement's results, one per pair it was given, in their
// order; done tells how many were tried before it ended or was stopped.
const RigReplace* checkJob_replaced(int* done, int* count);
const RigPair* checkJob_pairs();
