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

namespace {

void discoveryLine(char* text, int size, void*) {
  snprintf(text, (size_t)size, "discovery: %d found, probe %d of %d", dev_count(),
           (int)pStatusSt.load() + 1, (int)pStatusTop.load() + 1);
}

// The result of a one-device plan, as set and address report it.
void reportSet(CliContext& c, const CommissionRun& run);

bool uidArgument(CliContext& c, const std::string& text, uint32_t* uid) {
  if (cli_parseUid(text, uid)) return true;
  out_error(c.out, CLI_USAGE, "\"%s\" is not a device's UID (hexadecimal, 1 to 7FFFFFFF)", text.c_str());
  return false;
}

void notResponding(CliContext& c, uint32_t uid) {
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
  const unsigned limits = 1u << COMMISSION_LIMIT_UP | 1u << COMMISSION_LIMIT_DOWN;
  if (ok && (want->has & limits) == limits) {
    CommissionValues none = {};
    char why[COMMISSION_TEXT_SIZE];
    if (commission_check(&none, want, why, sizeof why) != 0) {
      out_error(c.out, CLI_USAGE, "%s", why);
      ok = false;
    }
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
    gear.push_back({{"position", i}, {"short", d.dali[i].shortAddr}, {"random", random}});
  }
  j["dali"] = gear;
}

void daliLines(CliContext& c, const Device& d) {
  out_line(c.out, "DALI gear: %d", d.daliCount);
  for (int i = 0; i < d.daliCount && i < DEV_DALI_SIZE; i++)
    out_line(c.out, "  %2d  short %02X  random %06X", i, d.dali[i].shortAddr, (unsigned)d.dali[i].randomAddr);
}

}  // namespace

int cli_discoverAndRead(CliContext& c, uint32_t* uids, Device* records, int capacity) {
  uint32_t found[DEV_TABLE_SIZE] = {};
  dev_removeAll();
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, discoveryLine, nullptr);
  const int n = app_discovery(found, DEV_TABLE_SIZE);
  progress_stop(progress);
  dev_removeAll();
  std::sort(found, found + n);
  int count = 0;
  for (int i = 0; i < n; i++) {
    Device d;
    if (!commission_read(found[i], &d)) {
      notResponding(c, found[i]);
      continue;
    }
    if (count < capacity) {
      uids[count] = found[i];
      records[count] = d;
      count++;
    }
  }
  return count;
}

void cmd_discover(CliContext& c, const CliArgs&) {
  if (!cli_needCable(c)) return;
  static uint32_t uids[DEV_TABLE_SIZE];
  static Device records[DEV_TABLE_SIZE];
  const int n = cli_discoverAndRead(c, uids, records, DEV_TABLE_SIZE);
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
  if (!commission_read(uid, &d)) {
    notResponding(c, uid);
    return;
  }
  if (a.dali) {
    // A read that ends unanswered leaves the entries it could not read out.
    if (app_dali_read(uid) < 0) notResponding(c, uid);
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
  const bool ok = app_identify_send(uid) > 0;
  c.out.doc["uid"] = a.uid;
  c.out.doc["identified"] = ok;
  if (!ok) {
    out_error(c.out, CLI_FAILED, "IDENTIFY: Device %X not responding.", (unsigned)uid);
    return;
  }
  out_line(c.out, "%08X identified.", (unsigned)uid);
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
  // New UIDs are made from the time to two seconds: a device given one a
  // moment ago may hold it already, and two devices must never share one.
  Device taken;
  if (commission_read(fresh, &taken)) {
    out_error(c.out, CLI_FAILED, "UID %08X -> %08X not changed: a device on the line has %08X already; try again in two seconds.",
              (unsigned)uid, (unsigned)fresh, (unsigned)fresh);
    return;
  }
  const bool changed = app_genUid(uid, fresh) != 0;
  char uidText[12], freshText[12];
  snprintf(uidText, sizeof uidText, "%08X", (unsigned)uid);
  snprintf(freshText, sizeof freshText, "%08X", (unsigned)fresh);
  c.out.doc["uid"] = uidText;
  c.out.doc["new_uid"] = freshText;
  c.out.doc["changed"] = changed;
  if (!changed) {
    out_error(c.out, CLI_FAILED, "UID %08X -> %08X not changed.", (unsigned)uid, (unsigned)fresh);
    return;
  }
  out_line(c.out, "UID %08X -> %08X changed.", (unsigned)uid, (unsigned)fresh);
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
  if (!commission_read(uid, &d)) {
    notResponding(c, uid);
    return;
  }
  if ((a.randomize || a.search) && app_dali_search(uid, a.randomize ? 255 : 0) < 0) {
    notResponding(c, uid);
    return;
  }
  if (app_dali_read(uid) < 0) notResponding(c, uid);
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
  CliJson j;
  char uidText[12];
  snprintf(uidText, sizeof uidText, "%08X", (unsigned)r.uid);
  j["uid"] = uidText;
  j["outcome"] = commission_outcomeName(r.outcome);
  j["changes"] = changes;
  c.out.doc["device"] = j;
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
