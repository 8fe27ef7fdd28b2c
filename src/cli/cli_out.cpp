#include "cli/cli_out.h"

#include "device/commission.h"

namespace {

void vformat(char* text, size_t size, const char* fmt, va_list ap) { vsnprintf(text, size, fmt, ap); }

void raise(CliOut& o, int status) {
  if (status > o.status) o.status = status;
}

void versionText(const Device& d, char* text, size_t size) {
  if (d.ver[0] || d.ver[1])
    snprintf(text, size, "%d.%d", d.ver[0], d.ver[1]);
  else
    snprintf(text, size, "%s", "");
}

CliJson valuesJson(const CommissionValues& v) {
  CliJson j = CliJson::object();
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!(v.has >> f & 1u)) continue;
    if (f == COMMISSION_LOSS) {
      char name[COMMISSION_VALUE_TEXT_SIZE];
      commission_valueText(f, v.v[f], name, sizeof name);
      j[commission_fieldName(f)] = name;
    } else {
      j[commission_fieldName(f)] = v.v[f];
    }
  }
  return j;
}

}  // namespace

void out_begin(CliOut& o, const char* command) {
  o.doc = CliJson::object();
  o.doc["command"] = command;
  o.doc["errors"] = CliJson::array();
}

void out_line(CliOut& o, const char* fmt, ...) {
  if (o.json) return;
  char text[CLI_TEXT_SIZE];
  va_list ap;
  va_start(ap, fmt);
  vformat(text, sizeof text, fmt, ap);
  va_end(ap);
  fprintf(o.out, "%s\n", text);
}

void out_error(CliOut& o, int status, const char* fmt, ...) {
  char text[CLI_TEXT_SIZE];
  va_list ap;
  va_start(ap, fmt);
  vformat(text, sizeof text, fmt, ap);
  va_end(ap);
  fprintf(o.err, "tern: %s\n", text);
  fflush(o.err);
  out_errorShown(o, status, text);
}

void out_errorShown(CliOut& o, int status, const char* text) {
  if (!o.doc.contains("errors")) o.doc["errors"] = CliJson::array();
  o.doc["errors"].push_back(text);  // a path need not be UTF-8: replaced when written
  raise(o, status);
}

int out_finish(CliOut& o) {
  if (o.json) {
    o.doc["ok"] = o.status == CLI_OK;
    o.doc["status"] = o.status;
    fprintf(o.out, "%s\n", o.doc.dump(2, ' ', false, CliJson::error_handler_t::replace).c_str());
  }
  fflush(o.out);
  return o.status;
}

CliJson out_deviceJson(const Device& d) {
  char uid[12], loss[COMMISSION_VALUE_TEXT_SIZE], ver[16];
  snprintf(uid, sizeof uid, "%08X", (unsigned)d.uid);
  commission_valueText(COMMISSION_LOSS, d.lossOfDmx, loss, sizeof loss);
  versionText(d, ver, sizeof ver);
  CliJson j;
  j["uid"] = uid;
  j["address"] = d.addr;
  j["loss"] = loss;
  j["sleep"] = d.display[0];
  j["backlight"] = d.display[1];
  j["limit_up"] = d.limit[0];
  j["limit_down"] = d.limit[1];
  j["version"] = ver;
  j["dali_count"] = d.daliCount;
  return j;
}

void out_deviceHeader(CliOut& o) {
  out_line(o, "%-8s  %7s  %-7s  %5s  %9s  %8s  %10s  %-7s  %4s", "UID", "ADDRESS", "LOSS", "SLEEP",
           "BACKLIGHT", "LIMIT_UP", "LIMIT_DOWN", "VERSION", "DALI");
}

void out_deviceLine(CliOut& o, const Device& d) {
  char loss[COMMISSION_VALUE_TEXT_SIZE], ver[16], sleep[8];
  commission_valueText(COMMISSION_LOSS, d.lossOfDmx, loss, sizeof loss);
  versionText(d, ver, sizeof ver);
  if (d.display[0])
    snprintf(sleep, sizeof sleep, "%d", d.display[0]);
  else
    snprintf(sleep, sizeof sleep, "Off");
  out_line(o, "%08X  %7d  %-7s  %5s  %8d%%  %8d  %10d  %-7s  %4d", (unsigned)d.uid, d.addr, loss, sleep,
           d.display[1], d.limit[0], d.limit[1], ver[0] ? ver : "-", d.daliCount);
}

CliJson out_resultJson(const CommissionResult& r) {
  char uid[12];
  snprintf(uid, sizeof uid, "%08X", (unsigned)r.uid);
  CliJson j;
  j["uid"] = uid;
  if (r.line > 0) j["line"] = r.line;
  j["outcome"] = commission_outcomeName(r.outcome);
  CliJson changes = CliJson::object();
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!(r.changes >> f & 1u)) continue;
    CommissionValues from = r.before, to = r.want;
    from.has = to.has = 1u << f;
    changes[commission_fieldName(f)] = {{"from", valuesJson(from)[commission_fieldName(f)]},
                                        {"to", valuesJson(to)[commission_fieldName(f)]}};
  }
  j["changes"] = changes;
  if (r.before.has) j["before"] = valuesJson(r.before);
  if (r.after.has) j["after"] = valuesJson(r.after);
  if (r.text[0]) j["error"] = r.text;
  return j;
}

