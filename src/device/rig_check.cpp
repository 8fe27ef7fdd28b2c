#include "device/rig_check.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/exchange.h"

namespace {

struct StatusWords {
  const char* name;  // for people
  const char* key;   // for scripts
  const char* one;   // in the totals, after a count of 1
  const char* many;  // after any other count
};

const StatusWords kStatuses[RIG_CHECK_STATUSES] = {
    {"matches", "matches", "matches", "match"},
    {"differs", "differs", "differs", "differ"},
    {"missing", "missing", "missing", "missing"},
    {"not responding", "not_responding", "not responding", "not responding"},
    {"not read", "not_read", "not read", "not read"},
    {"new", "new", "new device", "new devices"},
};

bool noDevice(uint32_t uid) { return uid == 0 || uid > DISCOVERY_TOP_UID; }

void say(char* text, int size, const char* what) {
  if (text && size > 0) snprintf(text, (size_t)size, "%s", what);
}

// Where a row is: "0A1B2C3D (line 4)", or the UID alone for a plan that
// comes from no file.
void rowName(uint32_t uid, int line, char* text, int size) {
  if (line > 0)
    snprintf(text, (size_t)size, "%08X (line %d)", (unsigned)uid, line);
  else
    snprintf(text, (size_t)size, "%08X", (unsigned)uid);
}

// A plan that can be checked: some rows, none too many, each UID a device's
// and named once. False with why in c->text.
bool checkable(const CommissionPlan* plan, RigCheck* c) {
  if (plan->count <= 0) {
    say(c->text, sizeof c->text, "The record names no device.");
    return false;
  }
  if (plan->count > RIG_MAX) {
    snprintf(c->text, sizeof c->text, "The record names %d devices; a line holds at most %d.", plan->count,
             (int)RIG_MAX);
    return false;
  }
  char where[40], first[40];
  for (int i = 0; i < plan->count; i++) {
    const CommissionTarget& t = plan->targets[i];
    rowName(t.uid, t.line, where, sizeof where);
    if (noDevice(t.uid)) {
      snprintf(c->text, sizeof c->text, "%s is not a device's UID (hexadecimal, 1 to 7FFFFFFF).", where);
      return false;
    }
    for (int k = 0; k < i; k++)
      if (plan->targets[k].uid == t.uid) {
        rowName(t.uid, plan->targets[k].line, first, sizeof first);
        snprintf(c->text, sizeof c->text, "%s names the device of %s again.", where, first);
        return false;
      }
  }
  return true;
}

// The check under way, as the search's callbacks see it.
struct Checking {
  RigCheck* c;
  int settled = 0;  // rows whose mute is settled
};

void recordSettled(int index, int status, void* ctx) {
  Checking* x = (Checking*)ctx;
  RigCheck* c = x->c;
  // The rows come in order while they are muted; a row settled after that
  // took its mute late, in the search.
  if (x->settled < c->count) {
    x->settled++;
    if (c->onProgress) c->onProgress(RIG_CHECK_MUTING, x->settled, c->count, c->ctx);
  }
  if (status == DISCOVERY_RECORD_PRESENT && c->onPresent) c->onPresent(index, c->ctx);
}

void newFound(uint32_t uid, void* ctx) {
  RigCheck* c = ((Checking*)ctx)->c;
  if (c->onNew) c->onNew(uid, c->ctx);
}

void searchProgress(int found, int estimate, void* ctx) {
  RigCheck* c = ((Checking*)ctx)->c;
  if (c->onProgress) c->onProgress(RIG_CHECK_SEARCHING, found, estimate, c->ctx);
}

// The search's end as the check's.
void takeEnd(RigCheck* c) {
  switch (c->run.end) {
    case DISCOVERY_END_NO_CABLE:
      c->end = RIG_CHECK_CABLE_FAILED;
      c->cableResult = EXCHANGE_NO_CABLE;
      break;
    case DISCOVERY_END_SEND_FAILED:
      c->end = RIG_CHECK_CABLE_FAILED;
      c->cableResult = EXCHANGE_SEND_FAILED;
      break;
    case DISCOVERY_END_STOPPED:
      c->end = RIG_CHECK_STOPPED;
      break;
    case DISCOVERY_END_ROGUE:
      c->end = RIG_CHECK_ROGUE;
      c->rogueUid = c->run.rogueUid;
      break;
    default:
      c->end = RIG_CHECK_DONE;
  }
}

// One device to read: a row (row >= 0) or a new device (fresh >= 0).
struct ToRead {
  int row;
  int fresh;
};

// Reads what the search found: the rows there in the record's order, then
// the new devices. Ends at the cable's failure or a stop.
void readFound(RigCheck* c) {
  std::unique_ptr<ToRead[]> list(new ToRead[RIG_MAX * 2]);
  int total = 0;
  for (int i = 0; i < c->count; i++) {
    // A record device that never mutes is there all the same: it answers.
    const bool rogue = c->end == RIG_CHECK_ROGUE && c->rows[i].uid == c->rogueUid;
    if (c->rows[i].status == RIG_CHECK_NOT_READ || rogue) list[total++] = {i, -1};
  }
  for (int i = 0; i < c->newCount; i++) list[total++] = {-1, i};
  for (int k = 0; k < total; k++) {
    if (c->stop && c->stop->load()) {
      c->end = RIG_CHECK_STOPPED;
      return;
    }
    const ToRead& at = list[k];
    const uint32_t uid = at.row >= 0 ? c->rows[at.row].uid : c->fresh[at.fresh].uid;
    Device d;
    const int r = commission_read(uid, &d);
    if (commission_cableFailed(r)) {
      c->end = RIG_CHECK_CABLE_FAILED;
      c->cableResult = r;
      return;
    }
    CommissionValues have = {};
    if (r > 0) commission_fromDevice(&d, &have);
    if (at.row >= 0) {
      RigCheckRow& row = c->rows[at.row];
      row.have = have;
      row.differs = r > 0 ? commission_diff(&have, &row.want) : 0;
      row.status = r <= 0 ? RIG_CHECK_NOT_RESPONDING : row.differs ? RIG_CHECK_DIFFERS : RIG_CHECK_MATCHES;
    } else {
      c->fresh[at.fresh].have = have;
      c->fresh[at.fresh].read = r > 0 ? RIG_READ : RIG_NOT_RESPONDING;
    }
    if (c->onProgress) c->onProgress(RIG_CHECK_READING, k + 1, total, c->ctx);
  }
}

}  // namespace

void rig_check(const CommissionPlan* plan, RigCheck* c) {
  c->end = RIG_CHECK_DONE;
  c->cableResult = 0;
  c->rogueUid = 0;
  c->run = DiscoveryRun();
  c->count = 0;
  c->newCount = 0;
  c->text[0] = 0;
  if (!checkable(plan, c)) {
    c->end = RIG_CHECK_REFUSED;
    return;
  }
  c->count = plan->count;
  std::unique_ptr<uint32_t[]> uids(new uint32_t[RIG_MAX]);
  for (int i = 0; i < c->count; i++) {
    const CommissionTarget& t = plan->targets[i];
    c->rows[i] = RigCheckRow{t.uid, t.line, RIG_CHECK_NOT_READ, t.want, CommissionValues{}, 0};
    uids[i] = t.uid;
  }
  Checking x;
  x.c = c;
  c->run.onRecord = recordSettled;
  c->run.onFound = newFound;
  c->run.onProgress = searchProgress;
  c->run.ctx = &x;
  c->run.stop = c->stop;
  int8_t present[RIG_MAX];
  uint32_t fresh[RIG_MAX];
  c->newCount = discovery_checkRecord(&c->run, uids.get(), c->count, present, fresh, RIG_MAX);
  c->run.onRecord = nullptr;
  c->run.onFound = nullptr;
  c->run.onProgress = nullptr;
  c->run.ctx = nullptr;
  for (int i = 0; i < c->count; i++)
    if (present[i] == DISCOVERY_RECORD_MISSING) c->rows[i].status = RIG_CHECK_MISSING;
  for (int i = 0; i < c->newCount; i++) c->fresh[i] = RigCheckNew{fresh[i], RIG_NOT_READ, CommissionValues{}};
  takeEnd(c);
  if (c->end == RIG_CHECK_CABLE_FAILED) return;
  // The table ends holding the devices read, as a discovery leaves it.
  dev_removeAll();
  if (c->end == RIG_CHECK_STOPPED) return;
  readFound(c);
}

int rig_checkCount(const RigCheck* c, RigCheckStatus status) {
  if (status == RIG_CHECK_NEW) return c->newCount;
  int n = 0;
  for (int i = 0; i < c->count; i++) n += c->rows[i].status == status ? 1 : 0;
  return n;
}

bool rig_checkMatches(const RigCheck* c) {
  return c->end == RIG_CHECK_DONE && c->newCount == 0 && rig_checkCount(c, RIG_CHECK_MATCHES) == c->count;
}

const char* rig_checkStatusName(RigCheckStatus s) {
  return s >= 0 && s < RIG_CHECK_STATUSES ? kStatuses[s].name : "";
}

const char* rig_checkStatusKey(RigCheckStatus s) {
  return s >= 0 && s < RIG_CHECK_STATUSES ? kStatuses[s].key : "";
}

void rig_checkDiffText(const RigCheckRow* row, char* text, int size) {
  commission_diffText(row->differs, &row->want, &row->have, text, size);
}

namespace {

// The columns of commission_resultLine: who, what, detail; no blanks at
// the end of a line without detail.
void line(const char* who, const char* what, const char* detail, char* text, int size) {
  snprintf(text, (size_t)size, "%-20s %-13s %s", who, what, detail);
  for (int n = (int)strlen(text); n > 0 && text[n - 1] == ' '; n--) text[n - 1] = 0;
}

}  // namespace

void rig_checkRowLine(const RigCheckRow* row, char* text, int size) {
  if (size <= 0) return;
  char who[40], detail[COMMISSION_TEXT_SIZE];
  rowName(row->uid, row->line, who, sizeof who);
  rig_checkDiffText(row, detail, sizeof detail);
  line(who, rig_checkStatusName(row->status), detail, text, size);
}

void rig_checkNewLine(const RigCheckNew* fresh, char* text, int size) {
  if (size <= 0) return;
  char who[40];
  rowName(fresh->uid, 0, who, sizeof who);
  const char* detail = fresh->read == RIG_NOT_RESPONDING ? rig_checkStatusName(RIG_CHECK_NOT_RESPONDING)
                       : fresh->read == RIG_NOT_READ     ? rig_checkStatusName(RIG_CHECK_NOT_READ)
                                                         : "";
  line(who, rig_checkStatusName(RIG_CHECK_NEW), detail, text, size);
}

void rig_checkTotalsLine(const RigCheck* c, char* text, int size) {
  if (size <= 0) return;
  int used = snprintf(text, (size_t)size, "%d device%s in the record", c->count, c->count == 1 ? "" : "s");
  int named = 0;
  for (int s = RIG_CHECK_MATCHES; s < RIG_CHECK_NEW && used < size; s++) {
    const int n = rig_checkCount(c, (RigCheckStatus)s);
    if (n == 0) continue;
    used += snprintf(text + used, (size_t)(size - used), "%s %d %s", named++ ? "," : ":", n,
                     n == 1 ? kStatuses[s].one : kStatuses[s].many);
  }
  if (c->newCount > 0 && used < size)
    used += snprintf(text + used, (size_t)(size - used), "; %d %s", c->newCount,
                     c->newCount == 1 ? kStatuses[RIG_CHECK_NEW].one : kStatuses[RIG_CHECK_NEW].many);
  if (used < size) snprintf(text + used, (size_t)(size - used), ".");
}

void rig_checkEndText(const RigCheck* c, char* text, int size) {
  if (size <= 0) return;
  text[0] = 0;
  const int checked = c->count - rig_checkCount(c, RIG_CHECK_NOT_READ);
  switch (c->end) {
    case RIG_CHECK_DONE:
      break;
    case RIG_CHECK_CABLE_FAILED: {
      const char* why = rig_cableText(c->cableResult);
      snprintf(text, (size_t)size, "%s\nThe check stopped: %d of %d devices of the record checked, the rest not read.",
               why ? why : "The cable failed.", checked, c->count);
      break;
    }
    case RIG_CHECK_STOPPED:
      snprintf(text, (size_t)size, "Stopped: %d of %d devices of the record checked, the rest not read.", checked,
               c->count);
      break;
    case RIG_CHECK_ROGUE:
      discovery_endText(&c->run, text, size);
      break;
    case RIG_CHECK_REFUSED:
      snprintf(text, (size_t)size, "%s", c->text);
      break;
  }
}

int rig_checkFix(const RigCheck* c, CommissionPlan* fix) {
  fix->count = 0;
  for (int i = 0; i < c->count; i++) {
    const RigCheckRow& row = c->rows[i];
    if (row.status == RIG_CHECK_DIFFERS) fix->targets[fix->count++] = CommissionTarget{row.uid, row.line, row.want};
  }
  return fix->count;
}

int rig_replacePairs(const RigCheck* c, RigPair* pairs, int capacity) {
  const int missing = rig_checkCount(c, RIG_CHECK_MISSING);
  if (c->end != RIG_CHECK_DONE || missing == 0 || missing != c->newCount) return 0;
  int n = 0;
  for (int i = 0; i < c->count && n < capacity; i++)
    if (c->rows[i].status == RIG_CHECK_MISSING) {
      pairs[n] = RigPair{c->rows[i].uid, c->rows[i].line, c->fresh[n].uid};
      n++;
    }
  return n;
}

bool rig_adoptPair(const RigCheck* c, RigPair* pair, char* text, int size) {
  if (text && size > 0) text[0] = 0;
  const int missing = rig_checkCount(c, RIG_CHECK_MISSING);
  const int fresh = c->newCount;
  if (c->end != RIG_CHECK_DONE) {
    say(text, size, "The check did not finish: nothing to replace.");
    return false;
  }
  if (missing == 1 && fresh == 1) return rig_replacePairs(c, pair, 1) == 1;
  if (!text || size <= 0) return false;
  if (missing == 0 && fresh == 0)
    snprintf(text, (size_t)size, "No device is missing and none is new: nothing to replace.");
  else if (missing == 0)
    snprintf(text, (size_t)size, "No device is missing and %d %s new: nothing to replace.", fresh,
             fresh == 1 ? "is" : "are");
  else if (fresh == 0)
    snprintf(text, (size_t)size, "%d device%s missing and none is new: nothing to replace.", missing,
             missing == 1 ? " is" : "s are");
  else
    snprintf(text, (size_t)size, "%d device%s missing and %d %s new: name the pairs with tern replace", missing,
             missing == 1 ? " is" : "s are", fresh, fresh == 1 ? "is" : "are");
  return false;
}

RigReplaceStatus rig_replace(const char* path, CommissionPlan* record, uint32_t oldUid, uint32_t newUid,
                             RigReplace* out) {
  memset((void*)out, 0, sizeof *out);
  int row = -1, named = -1;
  for (int i = 0; i < record->count; i++) {
    if (record->targets[i].uid == oldUid) row = i;
    if (record->targets[i].uid == newUid) named = i;
  }
  char where[40];
  if (row < 0) {
    snprintf(out->text, sizeof out->text, "The record has no row for %08X: nothing was written.", (unsigned)oldUid);
    return out->status = RIG_REPLACE_OLD_UNKNOWN;
  }
  if (noDevice(newUid)) {
    snprintf(out->text, sizeof out->text, "%08X is not a device's UID: nothing was written.", (unsigned)newUid);
    return out->status = RIG_REPLACE_BAD_UID;
  }
  if (named >= 0) {
    rowName(newUid, record->targets[named].line, where, sizeof where);
    snprintf(out->text, sizeof out->text, "%s is in the record already: nothing was written.", where);
    return out->status = RIG_REPLACE_NEW_IN_RECORD;
  }
  rowName(oldUid, record->targets[row].line, where, sizeof where);
  // The old row's values for the new device, written and read back as
  // apply writes them.
  std::unique_ptr<CommissionPlan> one(new CommissionPlan);
  one->count = 1;
  one->targets[0] = record->targets[row];
  one->targets[0].uid = newUid;
  std::unique_ptr<CommissionRun> run(new CommissionRun);
  commission_begin(run.get(), one.get(), false);
  commission_step(run.get());
  out->result = run->results[0];
  const CommissionResult& r = out->result;
  switch (r.outcome) {
    case COMMISSION_CHANGED:
    case COMMISSION_UNCHANGED:
      break;
    case COMMISSION_NOT_FOUND:
      snprintf(out->text, sizeof out->text, "Device %08X not responding: nothing was written.", (unsigned)newUid);
      return out->status = RIG_REPLACE_NEW_SILENT;
    case COMMISSION_CABLE_LOST:
      snprintf(out->text, sizeof out->text, "%s The record was not changed.", r.text);
      return out->status = RIG_REPLACE_CABLE_FAILED;
    default:
      snprintf(out->text, sizeof out->text, "%08X was not given the settings of %s (%s: %s); the record was not changed.",
               (unsigned)newUid, where, commission_outcomeName(r.outcome), r.text);
      return out->status = RIG_REPLACE_FAILED;
  }
  char why[COMMISSION_TEXT_SIZE];
  if (!rig_renameInRecord(path, oldUid, newUid, why, sizeof why)) {
    snprintf(out->text, sizeof out->text, "%08X holds the settings of %s, but the record was not changed: %s",
             (unsigned)newUid, where, why);
    return out->status = RIG_REPLACE_RECORD_FAILED;
  }
  record->targets[row].uid = newUid;
  char changes[COMMISSION_TEXT_SIZE];
  commission_changesText(&r, changes, sizeof changes);
  snprintf(out->text, sizeof out->text, "%08X takes the place of %s: %s.", (unsigned)newUid, where,
           changes[0] ? changes : "it held its settings already");
  return out->status = RIG_REPLACE_DONE;
}
