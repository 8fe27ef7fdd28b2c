// What the device table says of a device beyond its values, free of GTK.
// After a run the cable cut short, the devices it meant to read keep the
// values read before, noted "not read since the cable failed"; a device
// whose settings write went out unconfirmed is noted "write may have
// reached it", and one that took its write but could not be read back
// "written, not read back". A note goes when the device is read again (by
// a later run, Setup device or a discovery that starts afresh). A run the
// operator stopped leaves the devices it did not get to as they were.
// GUI thread only.
#pragma once

#include <cstdint>

#include "device/commission.h"
#include "device/rig.h"

enum DeviceNote {
  DEVICE_NOTE_NONE,
  DEVICE_NOTE_NOT_READ,          // "not read since the cable failed"
  DEVICE_NOTE_WRITE_UNCONFIRMED, // "write may have reached it"
  DEVICE_NOTE_NOT_READ_BACK,     // "written, not read back"
};

// The notes a commissioning run leaves, from its results.
void deviceNotes_afterRun(const CommissionRun* run);
// The notes an export leaves: it read `uids` in order until it ended as
// `read` tells (the cable's failure, a stop, or the last device).
void deviceNotes_afterExport(const uint32_t* uids, int count, const RigExport* read);
// The device was read again: its note goes.
void deviceNotes_read(uint32_t uid);
// Every note goes (a discovery starts afresh).
void deviceNotes_clear();

DeviceNote deviceNotes_of(uint32_t uid);
// The note's words; "" for none.
const char* deviceNotes_text(DeviceNote note);
// Changes with every change of a note (never 0).
uint32_t deviceNotes_generation();
