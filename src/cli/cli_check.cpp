// Coming back to an installed rig: check the line against its record, fix
// what differs, and give a new device a missing one's place.
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "device/rig_check.h"

namespace {

const char* const kPhases[] = {"check: muting", "check: searching", "check: reading"};

void onProgress(RigCheckPhase phase, int done, int total, void* ctx) {
  CliProgress* p = (CliProgress*)ctx;
  progress_phase(p, kPhases[phase]);
  if (phase == RIG_CHECK_SEARCHING)
    progress_estimate(p, done, total);
  else
    progress_count(p, done, total);
}

CliJson rowJson(const RigCheckRow& r) {
  CliJson j;
  j["uid"] = out_uid(r.uid);
  if (r.line > 0) j["line"] = r.line;
  j["status"] = rig_checkStatusKey(r.status);
  CliJson differs = CliJson::object();
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!(r.differs >> f & 1u)) continue;
    CommissionValues a = r.want, b = r.have;
    a.has = b.has = 1u << f;
    differs[commission_fieldName(f)] = {{"record", out_valuesJson(a)[commission_fieldName(f)]},
                                        {"device", out_valuesJson(b)[commission_fieldName(f)]}};
  }
  j["differs"] = differs;
  j["record"] = out_valuesJson(r.want);
  j["device"] = out_valuesJson(r.have);
  return j;
}

CliJson newJson(const RigCheckNew& n) {
  CliJson j;
  j["uid"] = out_uid(n.uid);
  j["status"] = rig_checkStatusKey(RIG_CHECK_NEW);
  j["differs"] = CliJson::object();
  j["record"] = nullptr;
  j["device"] = out_valuesJson(n.have);
  return j;
}

// Reports the check row by row, its totals, and how it ended; false when
// it could not finish (reported).
bool report(CliContext& c, const RigCheck& k) {
  CliJson devices = CliJson::array();
  char line[CLI_TEXT_SIZE];
  for (int i = 0; i < k.count; i++) {
    rig_checkRowLine(&k.rows[i], line, sizeof line);
    out_line(c.out, "%s", line);
    devices.push_back(rowJson(k.rows[i]));
  }
  for (int i = 0; i < k.newCount; i++) {
    rig_checkNewLine(&k.fresh[i], line, sizeof line);
    out_line(c.out, "%s", line);
    devices.push_back(newJson(k.fresh[i]));
  }
  c.out.doc["devices"] = devices;
  CliJson totals = CliJson::object();
  for (int s = 0; s < RIG_CHECK_STATUSES; s++) {
    const int n = rig_checkCount(&k, (RigCheckStatus)s);
    if (n > 0) totals[rig_checkStatusKey((RigCheckStatus)s)] = n;
  }
  c.out.doc["totals"] = totals;
  c.out.doc["probe_sends"] = k.run.probeSends;
  rig_checkTotalsLine(&k, line, sizeof line);
  out_line(c.out, "%s", line);
  rig_checkEndText(&k, line, sizeof line);
  commission_oneLine(line);
  switch (k.end) {
    case RIG_CHECK_DONE: return true;
    case RIG_CHECK_STOPPED: out_error(c.out, CLI_INTERRUPTED, "interrupted: %s", line); return false;
    case RIG_CHECK_REFUSED: out_error(c.out, CLI_USAGE, "%s", line); return false;
    default: out_error(c.out, CLI_FAILED, "%s", line); return false;
  }
}

// A replacement's result, in the document and for people.
void reportReplace(CliContext& c, const RigReplace& r, uint32_t oldUid, uint32_t newUid) {
  CliJson j = out_resultJson(r.result);
  j["replaces"] = out_uid(oldUid);
  j["uid"] = out_uid(newUid);
  c.out.doc["replaced"].push_back(j);
  switch (r.status) {
    case RIG_REPLACE_DONE: out_line(c.out, "%s", r.text); return;
    case RIG_REPLACE_OLD_UNKNOWN:
    case RIG_REPLACE_NEW_IN_RECORD: out_error(c.out, CLI_USAGE, "%s", r.text); return;
    default: out_error(c.out, CLI_FAILED, "%s", r.text); return;
  }
}

bool readRecordFor(CliContext& c, const std::string& path, CommissionPlan* plan) {
  char why[COMMISSION_TEXT_SIZE];
  CommissionCsvError where;
  switch (rig_readRecord(path.c_str(), plan, why, sizeof why, &where)) {
    case RIG_FILE_OK: return true;
    case RIG_FILE_UNREADABLE: out_error(c.out, CLI_USAGE, "cannot read %s: %s", path.c_str(), why); return false;
    case RIG_FILE_EMPTY: out_error(c.out, CLI_USAGE, "%s names no device", path.c_str()); return false;
    case RIG_FILE_REFUSED: {
      CliJson detail = {{"file", path}, {"line", where.line}, {"reason", where.message}};
      if (where.column > 0) detail["column"] = where.column;
      if (where.field[0]) detail["field"] = where.field;
      out_errorWith(c.out, CLI_USAGE, detail, (path + ": " + why + "; the record is refused whole").c_str());
      return false;
    }
  }
  return false;
}

// The line is not the record: said once, with what is left to settle.
void notTheRecord(CliContext& c, const std::string& path, const RigCheck& k, bool afterFix) {
  std::string what;
  for (int s = RIG_CHECK_DIFFERS; s < RIG_CHECK_STATUSES; s++) {
    if (afterFix && s == RIG_CHECK_DIFFERS) continue;
    const int n = rig_checkCount(&k, (RigCheckStatus)s);
    if (n == 0) continue;
    what += (what.empty() ? "" : ", ") + std::to_string(n) + " " + rig_checkStatusName((RigCheckStatus)s);
  }
  if (what.empty()) return;
  out_error(c.out, CLI_FAILED, "the line is not the record %s: %s", path.c_str(), what.c_str());
}

}  // namespace

void cmd_check(CliContext& c, const CliArgs& a) {
  if (a.fix && a.adopt) {
    out_error(c.out, CLI_USAGE, "check: --fix or --adopt, not both");
    return;
  }
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  c.out.doc["file"] = a.file;
  if (!readRecordFor(c, a.file, plan.get()) || !cli_needCable(c)) return;
  std::unique_ptr<RigCheck> k(new RigCheck);
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, "check");
  k->onProgress = onProgress;
  k->ctx = progress;
  k->stop = c.stop;
  rig_check(plan.get(), k.get());
  progress_stop(progress);
  const bool finished = report(c, *k);
  c.out.doc["matches"] = rig_checkMatches(k.get());
  if (!finished) return;
  const int missing = rig_checkCount(k.get(), RIG_CHECK_MISSING);
  const int fresh = rig_checkCount(k.get(), RIG_CHECK_NEW);
  if (a.adopt) {
    RigPair pair;
    char why[COMMISSION_TEXT_SIZE];
    if (!rig_adoptPair(k.get(), &pair, why, sizeof why)) {
      out_error(c.out, CLI_FAILED, "check --adopt: %s", why);
      return;
    }
    c.out.doc["replaced"] = CliJson::array();
    std::unique_ptr<RigReplace> r(new RigReplace);
    rig_replace(a.file.c_str(), plan.get(), pair.oldUid, pair.newUid, r.get());
    reportReplace(c, *r, pair.oldUid, pair.newUid);
    // Adopting settles the missing and the new device; what differs stays.
    if (rig_checkCount(k.get(), RIG_CHECK_DIFFERS) > 0 || rig_checkCount(k.get(), RIG_CHECK_NOT_RESPONDING) > 0)
      out_error(c.out, CLI_FAILED, "the line is not the record %s: devices differ or do not answer; "
                "check --fix gives them the record's values", a.file.c_str());
    return;
  }
  if (a.fix) {
    std::unique_ptr<CommissionPlan> fix(new CommissionPlan);
    if (rig_checkFix(k.get(), fix.get()) > 0) {
      CliOut keep = c.out;
      cli_runPlan(c, *fix, false, 1);
      // The fix's results under a key of their own; the check's devices stay.
      keep.doc["fixed"] = c.out.doc["devices"];
      keep.doc["fix_totals"] = c.out.doc["totals"];
      keep.status = c.out.status;
      keep.doc["errors"] = c.out.doc["errors"];
      keep.doc["warnings"] = c.out.doc["warnings"];
      c.out.doc = keep.doc;
      c.out.status = keep.status;
    }
    if (missing > 0 || fresh > 0 || rig_checkCount(k.get(), RIG_CHECK_NOT_RESPONDING) > 0)
      notTheRecord(c, a.file, *k, true);
    return;
  }
  if (!rig_checkMatches(k.get())) notTheRecord(c, a.file, *k, false);
}

void cmd_replace(CliContext& c, const CliArgs& a) {
  std::vector<uint32_t> uids;
  if (a.uids.size() != 2) {
    out_error(c.out, CLI_USAGE, "replace: name the record, the missing device's UID and the new device's UID");
    return;
  }
  if (!cli_parseUids(c, a.uids, uids)) return;
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  c.out.doc["file"] = a.file;
  if (!readRecordFor(c, a.file, plan.get()) || !cli_needCable(c)) return;
  c.out.doc["replaced"] = CliJson::array();
  std::unique_ptr<RigReplace> r(new RigReplace);
  rig_replace(a.file.c_str(), plan.get(), uids[0], uids[1], r.get());
  reportReplace(c, *r, uids[0], uids[1]);
}
