// The commissioning commands: address in sequence, export the rig to a CSV
// file, apply a CSV file.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "device/commission.h"
#include "device/commission_csv.h"
#include "link/fileio.h"

namespace {

// Where a result came from, for people: the file's line when there is one.
void origin(const CommissionResult& r, char* text, size_t size) {
  if (r.line > 0)
    snprintf(text, size, "%08X (line %d)", (unsigned)r.uid, r.line);
  else
    snprintf(text, size, "%08X", (unsigned)r.uid);
}

void reportResult(CliContext& c, const CommissionResult& r) {
  char from[40], changes[CLI_TEXT_SIZE];
  origin(r, from, sizeof from);
  commission_changesText(&r, changes, sizeof changes);
  switch (r.outcome) {
    case COMMISSION_UNCHANGED:
    case COMMISSION_NOT_REACHED:
      out_line(c.out, "%-20s %s", from, commission_outcomeName(r.outcome));
      break;
    case COMMISSION_CHANGED:
    case COMMISSION_WOULD_CHANGE:
      out_line(c.out, "%-20s %-13s %s", from, commission_outcomeName(r.outcome), changes);
      break;
    default:
      out_line(c.out, "%-20s %-13s %s", from, commission_outcomeName(r.outcome), r.text);
      // Refused values are the file's or the caller's fault; the rest the line's.
      out_error(c.out, r.outcome == COMMISSION_REFUSED ? CLI_USAGE : CLI_FAILED, "%s: %s", from, r.text);
      break;
  }
}

struct Counts {
  int n[COMMISSION_OUTCOMES] = {};
};

// Runs the plan one device at a time, with progress on a terminal, and
// reports every device and the totals.
void runPlan(CliContext& c, const CommissionPlan& plan, bool checkOnly) {
  std::unique_ptr<CommissionRun> run(new CommissionRun);
  commission_begin(run.get(), &plan, checkOnly);
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, nullptr, nullptr);
  // Each device's line as soon as it is done: a log of the run keeps what
  // was done even when the run is cut short.
  int reported = 0;
  for (bool more = true; more;) {
    const int i = commission_done(run.get());
    if (progress && i < plan.count) {
      char text[64];
      snprintf(text, sizeof text, "[%d/%d] %08X", i + 1, plan.count, (unsigned)plan.targets[i].uid);
      progress_show(progress, text);
    }
    more = commission_step(run.get());
    progress_show(progress, "");
    for (; reported < commission_done(run.get()); reported++) reportResult(c, run->results[reported]);
    fflush(c.out.out);
  }
  progress_stop(progress);
  Counts counts;
  CliJson devices = CliJson::array();
  for (int i = 0; i < plan.count; i++) {
    const CommissionResult& r = run->results[i];
    counts.n[r.outcome]++;
    if (i >= reported) reportResult(c, r);  // not reached
    devices.push_back(out_resultJson(r));
  }
  c.out.doc["devices"] = devices;
  c.out.doc["cable_lost"] = run->cableLost;
  CliJson totals = CliJson::object();
  char summary[CLI_TEXT_SIZE];
  size_t used = (size_t)snprintf(summary, sizeof summary, "%d devices", plan.count);
  for (int o = 0; o < COMMISSION_OUTCOMES; o++) {
    if (counts.n[o] == 0) continue;
    const char* name = commission_outcomeName((CommissionOutcome)o);
    totals[name] = counts.n[o];
    if (used < sizeof summary)
      used += (size_t)snprintf(summary + used, sizeof summary - used, "%s %d %s", totals.size() == 1 ? ":" : ",",
                               counts.n[o], name);
  }
  c.out.doc["totals"] = totals;
  out_line(c.out, "%s.", summary);
  if (run->cableLost) {
    const int done = plan.count - counts.n[COMMISSION_NOT_REACHED] - counts.n[COMMISSION_CABLE_LOST];
    out_error(c.out, CLI_FAILED, "The cable failed after %d of %d devices; the rest were not tried.", done,
              plan.count);
  }
}

// Whether the file can be written, leaving no trace of the test: a file
// that did not exist is removed again.
bool writable(const std::string& path) {
  const bool existed = access(path.c_str(), F_OK) == 0;
  FILE* f = fopen(path.c_str(), "a");
  if (!f) return false;
  fclose(f);
  if (!existed) remove(path.c_str());
  return true;
}

// Reads the whole file for apply: false (reported) when it cannot be read.
bool readFile(CliContext& c, const std::string& path, std::string& text) {
  std::unique_ptr<unsigned char[]> buf(new unsigned char[COMMISSION_CSV_MAX_BYTES + 1]);
  errno = 0;
  const int n = read_file(path.c_str(), buf.get(), COMMISSION_CSV_MAX_BYTES + 1);
  if (n < 0) {
    out_error(c.out, CLI_USAGE, "cannot read %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  text.assign((const char*)buf.get(), (size_t)n);
  return true;
}

}  // namespace

void cmd_address(CliContext& c, const CliArgs& a) {
  if (a.all == !a.uids.empty()) {
    out_error(c.out, CLI_USAGE, "address: name the devices, or give --all for every device found");
    return;
  }
  char why[COMMISSION_TEXT_SIZE];
  int32_t start;
  if (!commission_parseField(COMMISSION_ADDR, a.start.c_str(), &start, why, sizeof why)) {
    out_error(c.out, CLI_USAGE, "%s", why);
    return;
  }
  static uint32_t uids[COMMISSION_MAX + 1];
  int count = 0;
  for (const std::string& text : a.uids) {
    if (count > COMMISSION_MAX) break;
    if (!cli_parseUid(text, &uids[count])) {
      out_error(c.out, CLI_USAGE, "\"%s\" is not a device's UID (hexadecimal, 1 to 7FFFFFFF)", text.c_str());
      return;
    }
    count++;
  }
  static CommissionPlan plan;
  // Named devices: the plan is refused before the line is touched.
  if (!a.all && !commission_addressPlan(start, a.step, uids, count, &plan, why, sizeof why)) {
    out_error(c.out, CLI_USAGE, "address: %s", why);
    return;
  }
  if (!cli_needCable(c)) return;
  if (a.all) {
    static Device records[COMMISSION_MAX];
    count = cli_discoverAndRead(c, a.quick ? DISCOVERY_QUICK : DISCOVERY_FULL, uids, records, COMMISSION_MAX);
    if (count < 0) {
      out_error(c.out, CLI_FAILED, "address: not every device could be found: nothing was written.");
      return;
    }
    if (!commission_addressPlan(start, a.step, uids, count, &plan, why, sizeof why)) {
      out_error(c.out, CLI_USAGE, "address: %s", why);
      return;
    }
  }
  runPlan(c, plan, false);
}

void cmd_export(CliContext& c, const CliArgs& a) {
  // A discovery of a whole rig takes minutes: a file that cannot be
  // written is refused before it.
  if (!writable(a.file)) {
    out_error(c.out, CLI_USAGE, "cannot write %s: %s", a.file.c_str(), strerror(errno));
    return;
  }
  if (!cli_needCable(c)) return;
  static uint32_t uids[COMMISSION_MAX];
  static Device records[COMMISSION_MAX];
  const int n = cli_discoverAndRead(c, a.quick ? DISCOVERY_QUICK : DISCOVERY_FULL, uids, records, COMMISSION_MAX);
  if (n < 0) {
    out_error(c.out, CLI_FAILED, "export: not every device could be found: %s was not written.", a.file.c_str());
    return;
  }
  static char text[COMMISSION_CSV_SIZE];
  if (commission_csvFormat(records, n, text, sizeof text) < 0) {
    out_error(c.out, CLI_FAILED, "export: the file's text does not fit");  // cannot happen: rows are short
    return;
  }
  if (save_file(a.file.c_str(), text) != 0) {
    out_error(c.out, CLI_FAILED, "cannot write %s: %s", a.file.c_str(), strerror(errno));
    return;
  }
  CliJson devices = CliJson::array();
  for (int i = 0; i < n; i++) devices.push_back(out_deviceJson(records[i]));
  c.out.doc["file"] = a.file;
  c.out.doc["devices"] = devices;
  out_line(c.out, "%d devices written to %s.", n, a.file.c_str());
}

void cmd_apply(CliContext& c, const CliArgs& a) {
  std::string text;
  if (!readFile(c, a.file, text)) return;
  static CommissionPlan plan;
  char why[COMMISSION_TEXT_SIZE];
  if (!commission_csvRead(text.data(), text.size(), &plan, why, sizeof why)) {
    out_error(c.out, CLI_USAGE, "%s: %s", a.file.c_str(), why);
    out_error(c.out, CLI_USAGE, "%s is refused whole: nothing was written.", a.file.c_str());
    return;
  }
  c.out.doc["file"] = a.file;
  c.out.doc["check"] = a.check;
  if (!cli_needCable(c)) return;
  runPlan(c, plan, a.check);
}
