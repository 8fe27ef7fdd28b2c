// The commissioning commands: address in sequence, export the rig to a
// record file, apply a record file; and running a plan for them and set.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "device/commission_csv.h"

namespace {

enum { WARNINGS_SHOWN = 20 };

// A failed device's line is an error too; refused values are the caller's
// or the file's fault, the rest the line's.
void reportResult(CliContext& c, const CommissionResult& r) {
  char line[CLI_TEXT_SIZE];
  commission_resultLine(&r, line, sizeof line);
  out_line(c.out, "%s", line);
  switch (r.outcome) {
    case COMMISSION_UNCHANGED:
    case COMMISSION_CHANGED:
    case COMMISSION_WOULD_CHANGE:
    case COMMISSION_NOT_REACHED:
      return;
    default:
      break;
  }
  char text[CLI_TEXT_SIZE];
  if (r.line > 0)
    snprintf(text, sizeof text, "%08X (line %d): %s", (unsigned)r.uid, r.line, r.text);
  else
    snprintf(text, sizeof text, "%08X: %s", (unsigned)r.uid, r.text);
  CliJson detail = {{"uid", out_uid(r.uid)}};
  if (r.line > 0) detail["line"] = r.line;
  out_errorWith(c.out, r.outcome == COMMISSION_REFUSED ? CLI_USAGE : CLI_FAILED, detail, text);
}

// Devices that would share addresses: said, never refused (some rigs do it
// on purpose).
void warnOverlaps(CliContext& c, const CommissionPlan& plan, int footprint) {
  static_assert(WARNINGS_SHOWN > 0, "");
  char warnings[WARNINGS_SHOWN][COMMISSION_WARNING_SIZE];
  const int n = commission_overlaps(&plan, footprint, warnings, WARNINGS_SHOWN);
  for (int i = 0; i < n && i < WARNINGS_SHOWN; i++) out_warning(c.out, "%s", warnings[i]);
  if (n > WARNINGS_SHOWN) out_warning(c.out, "and %d more pairs of devices share addresses", n - WARNINGS_SHOWN);
}

// The devices of a record file, checked whole before anything is sent.
bool readRecord(CliContext& c, const std::string& path, CommissionPlan* plan) {
  char why[COMMISSION_TEXT_SIZE];
  CommissionCsvError where;
  switch (rig_readRecord(path.c_str(), plan, why, sizeof why, &where)) {
    case RIG_FILE_OK:
      return true;
    case RIG_FILE_UNREADABLE:
      out_error(c.out, CLI_USAGE, "cannot read %s: %s", path.c_str(), why);
      return false;
    case RIG_FILE_EMPTY:
      out_error(c.out, CLI_USAGE, "%s names no device: nothing was written.", path.c_str());
      return false;
    case RIG_FILE_REFUSED: {
      char text[CLI_TEXT_SIZE];
      snprintf(text, sizeof text, "%s: %s", path.c_str(), why);
      CliJson detail = {{"file", path}, {"line", where.line}};
      if (where.column > 0) detail["column"] = where.column;
      if (where.field[0]) detail["field"] = where.field;
      detail["reason"] = where.message;
      out_errorWith(c.out, CLI_USAGE, detail, text);
      out_error(c.out, CLI_USAGE, "%s is refused whole: nothing was written.", path.c_str());
      return false;
    }
  }
  return false;
}

// Whether a file can be written, leaving no trace of the test: a file that
// did not exist is removed again. Reports why not.
bool writable(CliContext& c, const std::string& path) {
  const bool existed = access(path.c_str(), F_OK) == 0;
  FILE* f = fopen(path.c_str(), "a");
  if (!f) {
    out_error(c.out, CLI_USAGE, "cannot write %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  fclose(f);
  if (!existed) remove(path.c_str());
  return true;
}

}  // namespace

bool cli_footprint(CliContext& c, const CliArgs& a, int* footprint) {
  int32_t v;
  char why[COMMISSION_TEXT_SIZE];
  if (!commission_parseNumber(a.footprint.c_str(), 1, COMMISSION_LAST_ADDR, &v, why, sizeof why)) {
    out_error(c.out, CLI_USAGE, "--footprint: %s (channels each device uses)", why);
    return false;
  }
  *footprint = v;
  return true;
}

void cli_runPlan(CliContext& c, const CommissionPlan& plan, bool checkOnly, int footprint) {
  warnOverlaps(c, plan, footprint);
  std::unique_ptr<CommissionRun> run(new CommissionRun);
  commission_begin(run.get(), &plan, checkOnly, c.stop);
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, c.out.doc["command"].get<std::string>().c_str());
  // Each device's line as soon as it is done: a log of the run keeps what
  // was done even when the run is cut short.
  int reported = 0;
  for (bool more = true; more;) {
    progress_count(progress, commission_done(run.get()), plan.count);
    more = commission_step(run.get());
    progress_clear(progress);
    for (; reported < commission_done(run.get()); reported++) reportResult(c, run->results[reported]);
    fflush(c.out.out);
  }
  progress_stop(progress);
  CliJson devices = CliJson::array();
  for (int i = 0; i < plan.count; i++) {
    if (i >= reported) reportResult(c, run->results[i]);  // not reached
    devices.push_back(out_resultJson(run->results[i]));
  }
  c.out.doc["devices"] = devices;
  c.out.doc["totals"] = out_totalsJson(*run);
  c.out.doc["cable_lost"] = run->cableLost;
  c.out.doc["interrupted"] = run->stopped;
  char line[CLI_TEXT_SIZE];
  commission_totalsLine(run.get(), line, sizeof line);
  out_line(c.out, "%s", line);
  commission_stopLine(run.get(), line, sizeof line);
  if (run->cableLost) out_error(c.out, CLI_FAILED, "%s", line);
  if (run->stopped) out_error(c.out, CLI_INTERRUPTED, "interrupted: %s", line);
}

void cmd_address(CliContext& c, const CliArgs& a) {
  int32_t start, step;
  int footprint;
  char why[COMMISSION_TEXT_SIZE];
  if (!commission_parseField(COMMISSION_ADDR, a.start.c_str(), &start, why, sizeof why)) {
    out_errorWith(c.out, CLI_USAGE, {{"field", "start"}}, ("--start: " + std::string(why) + " (1..512)").c_str());
    return;
  }
  if (!commission_parseNumber(a.step.c_str(), 0, COMMISSION_STEP_MAX, &step, why, sizeof why)) {
    out_errorWith(c.out, CLI_USAGE, {{"field", "step"}}, ("--step: " + std::string(why)).c_str());
    return;
  }
  if (!cli_footprint(c, a, &footprint)) return;
  std::vector<uint32_t> uids;
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  // Named devices: the plan is refused before the line is touched.
  if (!a.all) {
    if (!cli_devices(c, a, uids, nullptr)) return;
    if (!commission_addressPlan(start, step, uids.data(), (int)uids.size(), plan.get(), why, sizeof why)) {
      out_error(c.out, CLI_USAGE, "address: %s: nothing was written.", why);
      return;
    }
    if (!cli_needCable(c)) return;
  } else {
    if (a.uids.size() > 0) {
      out_error(c.out, CLI_USAGE, "name the devices (their UIDs), or give --all for every device found");
      return;
    }
    if (!cli_devices(c, a, uids, nullptr)) return;
    if (!commission_addressPlan(start, step, uids.data(), (int)uids.size(), plan.get(), why, sizeof why)) {
      out_error(c.out, CLI_USAGE, "address: %s: nothing was written.", why);
      return;
    }
  }
  c.out.doc["check"] = a.check;
  cli_runPlan(c, *plan, a.check, footprint);
}

void cmd_export(CliContext& c, const CliArgs& a) {
  // A discovery of a whole rig takes minutes: a file that cannot be
  // written is refused before it.
  if (!writable(c, a.file) || !cli_needCable(c)) return;
  std::unique_ptr<RigDiscovery> d(new RigDiscovery);
  if (!cli_discover(c, a.quick ? DISCOVERY_QUICK : DISCOVERY_FULL, *d)) {
    if (!cli_stopped(c))
      out_error(c.out, CLI_FAILED, "export: not every device could be found: %s was not written.", a.file.c_str());
    return;
  }
  std::unique_ptr<RigExport> e(new RigExport);
  // In UID order, the devices that answered.
  std::vector<int> order;
  for (int i = 0; i < d->count; i++)
    if (d->read[i] == RIG_READ) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](int x, int y) { return d->uids[x] < d->uids[y]; });
  for (int i : order) e->records[e->count++] = d->records[i];
  const int err = rig_writeRecord(a.file.c_str(), e->records, e->count);
  if (err != 0) {
    out_error(c.out, CLI_FAILED, "cannot write %s: %s", a.file.c_str(), strerror(err));
    return;
  }
  CliJson devices = CliJson::array();
  for (int i = 0; i < e->count; i++) devices.push_back(out_deviceJson(e->records[i]));
  c.out.doc["file"] = a.file;
  c.out.doc["devices"] = devices;
  out_line(c.out, "%d device%s written to %s.", e->count, e->count == 1 ? "" : "s", a.file.c_str());
}

void cmd_apply(CliContext& c, const CliArgs& a) {
  int footprint;
  if (!cli_footprint(c, a, &footprint)) return;
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  c.out.doc["file"] = a.file;
  c.out.doc["check"] = a.check;
  if (!readRecord(c, a.file, plan.get()) || !cli_needCable(c)) return;
  cli_runPlan(c, *plan, a.check, footprint);
}
