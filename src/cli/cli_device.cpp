// The commands about devices one by one or several at a time: discover,
// get, set, identify, new-uid, dali; and finding the devices a command
// works on.
#include <algorithm>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "device/app_dali.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/exchange.h"

namespace {

struct Found {
  CliProgress* progress;
  int count;
};

void onFound(uint32_t, void* ctx) {
  Found* f = (Found*)ctx;
  progress_count(f->progress, ++f->count, 0);
}

void onEstimate(int found, int estimate, void* ctx) { progress_estimate(((Found*)ctx)->progress, found, estimate); }

// Why an exchange with uid failed: the cable, or the device.
void notResponding(CliContext& c, uint32_t uid, int result, const char* what = "") {
  char text[COMMISSION_TEXT_SIZE];
  commission_failureText(uid, result, what, text, sizeof text);
  out_errorWith(c.out, CLI_FAILED, {{"uid", out_uid(uid)}}, text);
}

// The option of each setting, in the order of the fields.
const char* const kOptions[COMMISSION_FIELDS] = {"--address",   "--loss",     "--sleep",
                                                 "--backlight", "--limit-up", "--limit-down"};

// The values given for set, checked alone before the line is touched.
bool setValues(CliContext& c, const CliArgs& a, CommissionValues* want) {
  const std::string* texts[COMMISSION_FIELDS] = {&a.address,   &a.loss,    &a.sleep,
                                                 &a.backlight, &a.limitUp, &a.limitDown};
  *want = CommissionValues{};
  bool ok = true;
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (texts[f]->empty()) continue;
    char why[COMMISSION_TEXT_SIZE];
    if (!commission_parseField(f, texts[f]->c_str(), &want->v[f], why, sizeof why)) {
      // The range, unless the reason says it already.
      char text[CLI_TEXT_SIZE];
      if (strstr(why, commission_fieldRange(f)))
        snprintf(text, sizeof text, "%s: %s", kOptions[f], why);
      else
        snprintf(text, sizeof text, "%s: %s (%s)", kOptions[f], why, commission_fieldRange(f));
      out_errorWith(c.out, CLI_USAGE, {{"field", commission_fieldName(f)}}, text);
      ok = false;
      continue;
    }
    want->has |= 1u << f;
  }
  char why[COMMISSION_TEXT_SIZE];
  if (ok && commission_checkLimits(want, why, sizeof why) != 0) {
    out_errorWith(c.out, CLI_USAGE, {{"field", "limit_down"}}, why);
    ok = false;
  }
  if (ok && want->has == 0) {
    out_error(c.out, CLI_USAGE,
              "set: name a setting to change (--address, --loss, --sleep, --backlight, --limit-up, --limit-down)");
    ok = false;
  }
  return ok;
}

CliJson daliJson(const Device& d) {
  CliJson gear = CliJson::array();
  for (int i = 0; i < d.daliCount && i < DEV_DALI_SIZE; i++) {
    char random[8];
    snprintf(random, sizeof random, "%06X", (unsigned)d.dali[i].randomAddr);
    if (d.dali[i].read)
      gear.push_back({{"position", i}, {"short", d.dali[i].shortAddr}, {"random", random}});
    else
      gear.push_back({{"position", i}, {"short", nullptr}, {"random", nullptr}});
  }
  return gear;
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

// Tells that the run was stopped and by what, once.
void reportInterrupted(CliContext& c, int done, int total) {
  out_error(c.out, CLI_INTERRUPTED, "interrupted after %d of %d device%s; the rest were not tried.", done, total,
            total == 1 ? "" : "s");
}

}  // namespace

bool cli_stopped(const CliContext& c) { return c.stop && c.stop->load(); }

bool cli_parseUids(CliContext& c, const std::vector<std::string>& texts, std::vector<uint32_t>& uids) {
  uids.clear();
  for (const std::string& text : texts) {
    uint32_t uid;
    char why[COMMISSION_TEXT_SIZE];
    if (!commission_parseUid(text.c_str(), &uid, why, sizeof why)) {
      out_error(c.out, CLI_USAGE, "%s", why);
      return false;
    }
    if (std::find(uids.begin(), uids.end(), uid) != uids.end()) {
      out_error(c.out, CLI_USAGE, "%08X is named twice", (unsigned)uid);
      return false;
    }
    uids.push_back(uid);
  }
  return true;
}

bool cli_discover(CliContext& c, DiscoveryMode mode, RigDiscovery& d) {
  Found progress = {progress_start(c.out.err, c.errTerminal, "discovery"), 0};
  progress_count(progress.progress, 0, 0);
  d.mode = mode;
  d.onFound = onFound;
  d.onProgress = onEstimate;
  d.ctx = &progress;
  d.stop = c.stop;
  rig_discover(&d);
  progress_stop(progress.progress);
  c.out.doc["probe_sends"] = d.run.probeSends;
  for (int i = 0; i < d.count; i++)
    if (d.read[i] == RIG_NOT_RESPONDING) notResponding(c, d.uids[i], EXCHANGE_UNANSWERED);
  if (d.stopped) {
    out_error(c.out, CLI_INTERRUPTED, "interrupted: %d device%s found before the stop.", d.count,
              d.count == 1 ? "" : "s");
    return false;
  }
  char text[COMMISSION_TEXT_SIZE];
  rig_endText(&d, text, sizeof text);
  commission_oneLine(text);
  if (text[0]) {
    out_error(c.out, CLI_FAILED, "%s", text);
    return false;
  }
  return true;
}

bool cli_devices(CliContext& c, const CliArgs& a, std::vector<uint32_t>& uids, std::vector<Device>* records) {
  if (a.all == !a.uids.empty()) {
    out_error(c.out, CLI_USAGE, "name the devices (their UIDs), or give --all for every device found");
    return false;
  }
  if (!a.all) return cli_parseUids(c, a.uids, uids);
  if (!cli_needCable(c)) return false;
  std::unique_ptr<RigDiscovery> d(new RigDiscovery);
  if (!cli_discover(c, a.quick ? DISCOVERY_QUICK : DISCOVERY_FULL, *d)) {
    if (!cli_stopped(c)) out_error(c.out, CLI_FAILED, "not every device could be found: nothing was done.");
    return false;
  }
  // In UID order: the same rig gives the same order, whatever the search.
  std::vector<int> order;
  for (int i = 0; i < d->count; i++)
    if (d->read[i] == RIG_READ) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](int x, int y) { return d->uids[x] < d->uids[y]; });
  uids.clear();
  if (records) records->clear();
  for (int i : order) {
    uids.push_back(d->uids[i]);
    if (records) records->push_back(d->records[i]);
  }
  if (uids.empty()) {
    out_error(c.out, CLI_FAILED, "no device found on the line");
    return false;
  }
  return true;
}

void cmd_discover(CliContext& c, const CliArgs& a) {
  if (a.quick && a.fresh) {
    out_error(c.out, CLI_USAGE, "discover: --quick or --new, not both");
    return;
  }
  if (!cli_needCable(c)) return;
  std::unique_ptr<RigDiscovery> d(new RigDiscovery);
  cli_discover(c, a.quick ? DISCOVERY_QUICK : a.fresh ? DISCOVERY_NEW : DISCOVERY_FULL, *d);
  // Those found are listed whatever stopped the run: in UID order.
  std::vector<const Device*> shown;
  for (int i = 0; i < d->count; i++)
    if (d->read[i] == RIG_READ) shown.push_back(&d->records[i]);
  std::sort(shown.begin(), shown.end(), [](const Device* x, const Device* y) { return x->uid < y->uid; });
  c.out.doc["devices"] = CliJson::array();
  if (!shown.empty() && !a.uidsOnly) out_deviceHeader(c.out);
  for (const Device* dev : shown) {
    if (a.uidsOnly)
      out_line(c.out, "%08X", (unsigned)dev->uid);
    else
      out_deviceLine(c.out, *dev);
    c.out.doc["devices"].push_back(out_deviceJson(*dev));
  }
  if (!a.uidsOnly) out_line(c.out, "%d device%s found.", (int)shown.size(), shown.size() == 1 ? "" : "s");
}

void cmd_get(CliContext& c, const CliArgs& a) {
  std::vector<uint32_t> uids;
  std::vector<Device> found;
  if (!cli_devices(c, a, uids, a.all ? &found : nullptr)) return;
  if (!a.all && !cli_needCable(c)) return;
  c.out.doc["devices"] = CliJson::array();
  out_deviceHeader(c.out);
  for (size_t i = 0; i < uids.size(); i++) {
    if (cli_stopped(c)) return reportInterrupted(c, (int)i, (int)uids.size());
    Device d;
    const int read = a.all ? 1 : commission_read(uids[i], &d);
    if (a.all) d = found[i];
    if (read <= 0) {
      notResponding(c, uids[i], read);
      if (rig_cableText(read)) return;
      continue;
    }
    if (a.dali) {
      // A read that ends unanswered leaves the entries it could not read
      // marked unread.
      const int dali = app_dali_read(uids[i]);
      if (dali < 0) notResponding(c, uids[i], dali, "DALI: ");
      dev_copy(uids[i], &d);
    }
    CliJson j = out_deviceJson(d);
    if (a.dali) j["dali"] = daliJson(d);
    c.out.doc["devices"].push_back(j);
    out_deviceLine(c.out, d);
    if (a.dali) daliLines(c, d);
  }
}

void cmd_set(CliContext& c, const CliArgs& a) {
  CommissionValues want;
  // The values first: refused before the line is touched.
  if (!setValues(c, a, &want)) return;
  std::vector<uint32_t> uids;
  if (!cli_devices(c, a, uids, nullptr)) return;
  if (!a.all && !cli_needCable(c)) return;
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  char why[COMMISSION_TEXT_SIZE];
  if (!commission_setPlan(uids.data(), (int)uids.size(), &want, plan.get(), why, sizeof why)) {
    out_error(c.out, CLI_USAGE, "set: %s", why);
    return;
  }
  c.out.doc["check"] = a.check;
  cli_runPlan(c, *plan, a.check, 1);
}

void cmd_identify(CliContext& c, const CliArgs& a) {
  std::vector<uint32_t> uids;
  if (!cli_devices(c, a, uids, nullptr)) return;
  if (!a.all && !cli_needCable(c)) return;
  c.out.doc["devices"] = CliJson::array();
  for (size_t i = 0; i < uids.size(); i++) {
    if (cli_stopped(c)) return reportInterrupted(c, (int)i, (int)uids.size());
    const int r = app_identify_send(uids[i]);
    c.out.doc["devices"].push_back({{"uid", out_uid(uids[i])}, {"identified", r > 0}});
    if (r > 0) {
      out_line(c.out, "%08X identified.", (unsigned)uids[i]);
      continue;
    }
    notResponding(c, uids[i], r, "IDENTIFY: ");
    if (rig_cableText(r)) return;
  }
}

void cmd_newUid(CliContext& c, const CliArgs& a) {
  std::vector<uint32_t> uids;
  if (a.uids.size() != 1) {
    out_error(c.out, CLI_USAGE, "new-uid: name one device (its UID)");
    return;
  }
  if (!cli_parseUids(c, a.uids, uids) || !cli_needCable(c)) return;
  const uint32_t uid = uids[0];
  char description[APP_GENUID_TEXT_SIZE];
  const uint32_t fresh = app_genNewUID(description);
  char text[CLI_TEXT_SIZE];
  snprintf(text, sizeof text, "Change UID %08X to:\n%s", (unsigned)uid, description);
  if (!a.yes && !cli_confirm(c, text, "new-uid: give --yes to change the UID without being asked")) return;
  const int outcome = rig_newUid(uid, fresh);
  rig_newUidText(text, sizeof text, uid, fresh, outcome);
  commission_oneLine(text);
  const bool changed = outcome == APP_GENUID_ACKNOWLEDGED;
  c.out.doc["devices"] = CliJson::array({{{"uid", out_uid(uid)}, {"new_uid", out_uid(fresh)}, {"changed", changed}}});
  if (!changed) {
    out_errorWith(c.out, CLI_FAILED, {{"uid", out_uid(uid)}}, text);
    return;
  }
  out_line(c.out, "%s", text);
}

void cmd_dali(CliContext& c, const CliArgs& a) {
  std::vector<uint32_t> uids;
  if (a.uids.size() != 1) {
    out_error(c.out, CLI_USAGE, "dali: name one device (its UID)");
    return;
  }
  if (!cli_parseUids(c, a.uids, uids)) return;
  if (a.randomize && a.search) {
    out_error(c.out, CLI_USAGE, "dali: --randomize or --search, not both");
    return;
  }
  if (!cli_needCable(c)) return;
  const uint32_t uid = uids[0];
  Device d;
  int r = commission_read(uid, &d);
  if (r > 0 && (a.randomize || a.search)) r = app_dali_search(uid, a.randomize ? 255 : 0);
  if (r <= 0) {
    notResponding(c, uid, r);
    return;
  }
  r = app_dali_read(uid);
  if (r < 0) notResponding(c, uid, r, "DALI: ");
  dev_copy(uid, &d);
  CliJson j = out_deviceJson(d);
  j["dali"] = daliJson(d);
  c.out.doc["devices"] = CliJson::array({j});
  out_line(c.out, "%08X", (unsigned)uid);
  daliLines(c, d);
}
