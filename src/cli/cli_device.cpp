// The commands about the devices one by one: discover, get, set, identify,
// new-uid, dali.
#include <algorithm>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "device/app_dali.h"
#include "device/app_discovery.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/commission.h"
#include "device/exchange.h"

namespace {

// Each device as it takes its mute: the count on a terminal.
struct Found {
  CliProgress* progress;
  int count;
};

void onFound(uint32_t, void* ctx) {
  Found* f = (Found*)ctx;
  f->count++;
  char text[64];
  snprintf(text, sizeof text, "discovery: %d found", f->count);
  progress_show(f->progress, text);
}

// The result of a one-device plan, as set and address report it.
void reportSet(CliContext& c, const CommissionRun& run);

bool uidArgument(CliContext& c, const std::string& text, uint32_t* uid) {
  if (cli_parseUid(text, uid)) return true;
  out_error(c.out, CLI_USAGE, "\"%s\" is not a device's UID (hexadecimal, 1 to 7FFFFFFF)", text.c_str());
  return false;
}

// Why an exchange with uid failed, as the window says it: the cable, or
// the device.
void notResponding(CliContext& c, uint32_t uid, int result) {
  char text[COMMISSION_TEXT_SIZE];
  const char* cable = exchange_cableText(result);
  snprintf(text, sizeof text, "%s", cable ? cable : "");
  commission_oneLine(text);
  if (cable)
    out_error(c.out, CLI_FAILED, "%s", text);
  else
    out_error(c.out, CLI_FAILED, "Device %X not responding.", (unsigned)uid);
}

// The texts given for set, checked alone before the line is touched.
bool setValues(CliContext& c, const CliArgs& a, CommissionValues* want) {
  const std::string* texts[COMMISSION_FIELDS] = {&a.address,   &a.loss,    &a.sleep,
                                                 &a.backlight, &a.limitUp, &a.limitDown};
  *want = CommissionValues{};
  bool ok = true;
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (texts[f]->empty()) continue;
    char why[COMMISSION_TEXT_SIZE];
    if (!commission_parseField(f, texts[f]->c_str(), &want->v[f], why, sizeof why)) {
      out_error(c.out, CLI_USAGE, "%s", why);
      ok = false;
      continue;
    }
    want->has |= 1u << f;
  }
  char why[COMMISSION_TEXT_SIZE];
  if (ok && commission_checkLimits(want, why, sizeof why) != 0) {
    out_error(c.out, CLI_USAGE, "%s", why);
    ok = false;
  }
  if (ok && want->has == 0) {
    out_error(c.out, CLI_USAGE,
              "set: name a setting to change (--address, --loss, --sleep, --backlight, --limit-up, --limit-down)");
    ok = false;
  }
  return ok;
}

void daliJson(CliJson& j, const Device& d) {
  CliJson gear = CliJson::array();
  for (int i = 0; i < d.daliCount && i < DEV_DALI_SIZE; i++) {
    char random[8];
    snprintf(random, sizeof random, "%06X", (unsigned)d.dali[i].randomAddr);
    if (d.dali[i].read)
      gear.push_back({{"position", i}, {"short", d.dali[i].shortAddr}, {"random", random}});
    else
      gear.push_back({{"position", i}, {"short", nullptr}, {"random", nullptr}});
  }
  j["dali"] = gear;
}

void daliLines(CliContext& c, const Device& d) {
  out_line(c.out, "DALI gear: %d", d.daliCount);
  for (int i = 0; i < d.daliCount && i < DEV_DALI_SIZE; i++) {
    if (d.dali[i].read)
      out_line(c.out, "  %2d  short %02X  random %06X", i, d.dali[i].shortAddr, (unsigned)d.dali[i].randomAddr);
    else
      out_line(c.out, "  %2d  not read", i);
  }
}

}  // namespace

int cli_discoverAndRead(CliContext& c, DiscoveryMode mode, uint32_t* uids, Device* records, int capacity) {
  uint32_t found[DEV_TABLE_SIZE] = {};
  if (mode != DISCOVERY_NEW) dev_removeAll();
  Found progress = {progress_start(c.out.err, c.errTerminal, nullptr, nullptr), 0};
  progress_show(progress.progress, "discovery: 0 found");
  DiscoveryRun run;
  run.mode = mode;
  run.onFound = onFound;
  run.ctx = &progress;
  const int n = discovery_run(&run, found, DEV_TABLE_SIZE);
  progress_stop(progress.progress);
  c.out.doc["probe_sends"] = run.probeSends;
  char text[DISCOVERY_TEXT_SIZE];
  discovery_endText(&run, text, sizeof text);
  commission_oneLine(text);
  if (run.end == DISCOVERY_END_NO_CABLE || run.end == DISCOVERY_END_SEND_FAILED) {
    out_error(c.out, CLI_FAILED, "%s", text);
    return -1;  // the cable failed: nothing more can be read
  }
  std::sort(found, found + n);
  int count = 0;
  for (int i = 0; i < n; i++) {
    Device d;
    const int read = commission_read(found[i], &d);
    if (read <= 0) {
      notResponding(c, found[i], read);
      if (commission_cableFailed(read)) return -1;
      continue;
    }
    if (count < capacity) {
      uids[count] = found[i];
      records[count] = d;
      count++;
    }
  }
  if (run.end != DISCOVERY_END_DONE) {
    out_error(c.out, CLI_FAILED, "%s", text);  // a device that never mutes hides those below it
    return -1 - count;
  }
  return count;
}

void cmd_discover(CliContext& c, const CliArgs& a) {
  if (a.quick && a.fresh) {
    out_error(c.out, CLI_USAGE, "discover: --quick or --new, not both");
    return;
  }
  if (!cli_needCable(c)) return;
  static uint32_t uids[DEV_TABLE_SIZE];
  static Device records[DEV_TABLE_SIZE];
  int n = cli_discoverAndRead(c, a.quick ? DISCOVERY_QUICK : a.fresh ? DISCOVERY_NEW : DISCOVERY_FULL, uids,
                              records, DEV_TABLE_SIZE);
  if (n < -1) n = -1 - n;  // stopped by a device that does not mute: those found still count
  if (n < 0) return;
  c.out.doc["devices"] = CliJson::array();
  if (n > 0) out_deviceHeader(c.out);
  for (int i = 0; i < n; i++) {
    out_deviceLine(c.out, records[i]);
    c.out.doc["devices"].push_back(out_deviceJson(records[i]));
  }
  out_line(c.out, "%d devices found.", n);
}

void cmd_get(CliContext& c, const CliArgs& a) {
  uint32_t uid;
  if (!uidArgument(c, a.uid, &uid) || !cli_needCable(c)) return;
  Device d;
  const int read = commission_read(uid, &d);
  if (read <= 0) {
    notResponding(c, uid, read);
    return;
  }
  if (a.dali) {
    // A read that ends unanswered leaves the entries it could not read
    // marked unread.
    const int dali = app_dali_read(uid);
    if (dali < 0) notResponding(c, uid, dali);
    dev_copy(uid, &d);
  }
  CliJson j = out_deviceJson(d);
  if (a.dali) daliJson(j, d);
  c.out.doc["device"] = j;
  out_deviceHeader(c.out);
  out_deviceLine(c.out, d);
  if (a.dali) daliLines(c, d);
}

void cmd_set(CliContext& c, const CliArgs& a) {
  uint32_t uid;
  CommissionValues want;
  if (!uidArgument(c, a.uid, &uid) || !setValues(c, a, &want) || !cli_needCable(c)) return;
  static CommissionPlan plan;
  plan.count = 1;
  plan.targets[0] = CommissionTarget{uid, 0, want};
  static CommissionRun run;
  commission_begin(&run, &plan, false);
  commission_step(&run);
  reportSet(c, run);
}

void cmd_identify(CliContext& c, const CliArgs& a) {
  uint32_t uid;
  if (!uidArgument(c, a.uid, &uid) || !cli_needCable(c)) return;
  const int r = app_identify_send(uid);
  c.out.doc["uid"] = a.uid;
  c.out.doc["identified"] = r > 0;
  if (r > 0) {
    out_line(c.out, "%08X identified.", (unsigned)uid);
    return;
  }
  if (commission_cableFailed(r))
    notResponding(c, uid, r);
  else
    out_error(c.out, CLI_FAILED, "IDENTIFY: Device %X not responding.", (unsigned)uid);
}

void cmd_newUid(CliContext& c, const CliArgs& a) {
  uint32_t uid;
  if (!uidArgument(c, a.uid, &uid) || !cli_needCable(c)) return;
  char description[APP_GENUID_TEXT_SIZE];
  const uint32_t fresh = app_genNewUID(description);
  char text[CLI_TEXT_SIZE];
  snprintf(text, sizeof text, "Change UID %08X to:\n%s", (unsigned)uid, description);
  if (!a.yes && !cli_confirm(c, text, "new-uid: give --yes to change the UID without being asked"))
    return;
  char uidText[12], freshText[12];
  snprintf(uidText, sizeof uidText, "%08X", (unsigned)uid);
  snprintf(freshText, sizeof freshText, "%08X", (unsigned)fresh);
  c.out.doc["uid"] = uidText;
  c.out.doc["new_uid"] = freshText;
  // New UIDs are made from the time to two seconds: a device given one a
  // moment ago may hold it already, and two devices must never share one.
  Device taken;
  if (commission_read(fresh, &taken) > 0) {
    c.out.doc["changed"] = false;
    out_error(c.out, CLI_FAILED,
              "UID %08X -> %08X not changed: a device on the line has %08X already; try again in two seconds.",
              (unsigned)uid, (unsigned)fresh, (unsigned)fresh);
    return;
  }
  const int outcome = app_genUidOutcome(uid, fresh);
  app_genUid_outcomeText(text, sizeof text, uid, fresh, outcome);
  commission_oneLine(text);
  c.out.doc["changed"] = outcome == APP_GENUID_ACKNOWLEDGED;
  if (outcome != APP_GENUID_ACKNOWLEDGED) {
    out_error(c.out, CLI_FAILED, "%s", text);
    return;
  }
  out_line(c.out, "%s", text);
}

void cmd_dali(CliContext& c, const CliArgs& a) {
  uint32_t uid;
  if (!uidArgument(c, a.uid, &uid)) return;
  if (a.randomize && a.search) {
    out_error(c.out, CLI_USAGE, "dali: --randomize or --search, not both");
    return;
  }
  if (!cli_needCable(c)) return;
  Device d;
  int r = commission_read(uid, &d);
  if (r > 0 && (a.randomize || a.search)) r = app_dali_search(uid, a.randomize ? 255 : 0);
  if (r <= 0) {
    notResponding(c, uid, r);
    return;
  }
  r = app_dali_read(uid);
  if (r < 0) notResponding(c, uid, r);
  dev_copy(uid, &d);
  CliJson j;
  char uidText[12];
  snprintf(uidText, sizeof uidText, "%08X", (unsigned)uid);
  j["uid"] = uidText;
  j["dali_count"] = d.daliCount;
  daliJson(j, d);
  c.out.doc["device"] = j;
  out_line(c.out, "%08X", (unsigned)uid);
  daliLines(c, d);
}

namespace {

void reportSet(CliContext& c, const CommissionRun& run) {
  const CommissionResult& r = run.results[0];
  char changes[CLI_TEXT_SIZE];
  commission_changesText(&r, changes, sizeof changes);
  c.out.doc["device"] = out_resultJson(r);
  switch (r.outcome) {
    case COMMISSION_UNCHANGED:
      out_line(c.out, "%08X unchanged: it holds these values already.", (unsigned)r.uid);
      break;
    case COMMISSION_CHANGED:
      out_line(c.out, "%08X changed: %s; read back.", (unsigned)r.uid, changes);
      break;
    case COMMISSION_REFUSED:
      out_error(c.out, CLI_USAGE, "%s", r.text);
      break;
    default:
      out_error(c.out, CLI_FAILED, "%s", r.text);
      break;
  }
}

}  // namespace
