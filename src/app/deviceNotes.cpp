#include "app/deviceNotes.h"

namespace {

struct Noted {
  uint32_t uid;
  DeviceNote note;
};

Noted notes[DEV_TABLE_SIZE];
int noteCount = 0;
uint32_t generation = 1;

void changed() {
  if (++generation == 0) generation = 1;
}

void set(uint32_t uid, DeviceNote note) {
  for (int i = 0; i < noteCount; i++) {
    if (notes[i].uid != uid) continue;
    if (notes[i].note == note) return;
    changed();
    if (note != DEVICE_NOTE_NONE) {
      notes[i].note = note;
    } else {
      notes[i] = notes[--noteCount];
    }
    return;
  }
  if (note == DEVICE_NOTE_NONE || noteCount >= DEV_TABLE_SIZE) return;
  notes[noteCount++] = {uid, note};
  changed();
}

// A result's note: what the run could not confirm of the device. A device
// the run read and wrote as it meant to needs none.
DeviceNote noteOf(const CommissionResult& r, bool cableLost) {
  if (r.written == COMMISSION_WRITTEN_UNKNOWN) return DEVICE_NOTE_WRITE_UNCONFIRMED;
  if (r.outcome == COMMISSION_CABLE_LOST)
    return r.written == COMMISSION_WRITTEN_YES ? DEVICE_NOTE_NOT_READ_BACK : DEVICE_NOTE_NOT_READ;
  if (r.outcome == COMMISSION_NOT_REACHED && cableLost) return DEVICE_NOTE_NOT_READ;
  return DEVICE_NOTE_NONE;
}

}  // namespace

void deviceNotes_afterRun(const CommissionRun* run) {
  if (!run || !run->plan) return;
  for (int i = 0; i < run->plan->count; i++) {
    const CommissionResult& r = run->results[i];
    // Not reached because the operator stopped: as it was.
    if (r.outcome == COMMISSION_NOT_REACHED && !run->cableLost) continue;
    set(r.uid, noteOf(r, run->cableLost));
  }
}

void deviceNotes_afterExport(const uint32_t* uids, int count, const RigExport* read) {
  if (!uids || !read) return;
  const int tried = read->count + read->silentCount;
  for (int i = 0; i < count; i++) {
    if (i < tried)
      set(uids[i], DEVICE_NOTE_NONE);
    else if (read->failure != 0)
      set(uids[i], DEVICE_NOTE_NOT_READ);
  }
}

void deviceNotes_read(uint32_t uid) { set(uid, DEVICE_NOTE_NONE); }

void deviceNotes_clear() {
  if (noteCount == 0) return;
  noteCount = 0;
  changed();
}

DeviceNote deviceNotes_of(uint32_t uid) {
  for (int i = 0; i < noteCount; i++)
    if (notes[i].uid == uid) return notes[i].note;
  return DEVICE_NOTE_NONE;
}

const char* deviceNotes_text(DeviceNote note) {
  switch (note) {
    case DEVICE_NOTE_NOT_READ: return "not read since the cable failed";
    case DEVICE_NOTE_WRITE_UNCONFIRMED: return "write may have reached it";
    case DEVICE_NOTE_NOT_READ_BACK: return "written, not read back";
    case DEVICE_NOTE_NONE: break;
  }
  return "";
}

uint32_t deviceNotes_generation() { return generation; }
