#include "cli/cli_out.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

void raise(CliOut& o, int status) {
  if (status > o.status) o.status = status;
}

std::string vformat(const char* fmt, va_list ap) {
  char text[CLI_TEXT_SIZE];
  vsnprintf(text, sizeof text, fmt, ap);
  return text;
}

std::string versionText(const Device& d) {
  if (!d.ver[0] && !d.ver[1]) return "";
  char text[16];
  snprintf(text, sizeof text, "%d.%d", d.ver[0], d.ver[1]);
  return text;
}

CliJson valueJson(int field, int32_t v) {
  if (field != COMMISSION_LOSS) return v;
  char name[COMMISSION_VALUE_TEXT_SIZE];
  commission_valueText(field, v, name, sizeof name);
  return name;
}

}  // namespace

void out_begin(CliOut& o, const char* command) {
  o.doc = CliJson::object();
  o.doc["command"] = command ? CliJson(command) : CliJson(nullptr);
  o.doc["errors"] = CliJson::array();
  o.doc["warnings"] = CliJson::array();
}

void out_line(CliOut& o, const char* fmt, ...) {
  if (o.json || o.quiet) return;
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat(fmt, ap);
  va_end(ap);
  fprintf(o.out, "%s\n", text.c_str());
}

void out_errorWith(CliOut& o, int status, const CliJson& detail, const char* text) {
  fprintf(o.err, "tern: %s\n", text);
  fflush(o.err);
  CliJson e = {{"message", text}};
  if (detail.is_object())
    for (auto it = detail.begin(); it != detail.end(); ++it) e[it.key()] = it.value();
  if (!o.doc.contains("errors")) o.doc["errors"] = CliJson::array();
  o.doc["errors"].push_back(e);
  raise(o, status);
}

void out_error(CliOut& o, int status, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat(fmt, ap);
  va_end(ap);
  out_errorWith(o, status, CliJson(), text.c_str());
}

void out_warning(CliOut& o, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat(fmt, ap);
  va_end(ap);
  fprintf(o.err, "tern: warning: %s\n", text.c_str());
  fflush(o.err);
  if (!o.doc.contains("warnings")) o.doc["warnings"] = CliJson::array();
  o.doc["warnings"].push_back(text);
}

void out_raise(CliOut& o, int status) { raise(o, status); }

int out_finish(CliOut& o) {
  if (o.json) {
    o.doc["ok"] = o.status == CLI_OK;
    o.doc["status"] = o.status;
    // A path need not be UTF-8: such bytes are replaced when written.
    fprintf(o.out, "%s\n", o.doc.dump(2, ' ', false, CliJson::error_handler_t::replace).c_str());
  }
  errno = 0;
  if (fflush(o.out) != 0 || ferror(o.out)) {
    fprintf(o.err, "tern: cannot write the results: %s\n", strerror(errno ? errno : EIO));
    fflush(o.err);
    raise(o, CLI_FAILED);
  }
  return o.status;
}

CliJson out_valuesJson(const CommissionValues& v) {
  if (!v.has) return nullptr;
  CliJson j = CliJson::object();
  for (int f = 0; f < COMMISSION_FIELDS; f++)
    if (v.has >> f & 1u) j[commission_fieldName(f)] = valueJson(f, v.v[f]);
  return j;
}

std::string out_uid(uint32_t uid) {
  char text[12];
  snprintf(text, sizeof text, "%08X", (unsigned)uid);
  return text;
}

CliJson out_deviceJson(const Device& d) {
  CommissionValues v;
  commission_fromDevice(&d, &v);
  CliJson j;
  j["uid"] = out_uid(d.uid);
  for (int f = 0; f < COMMISSION_FIELDS; f++) j[commission_fieldName(f)] = valueJson(f, v.v[f]);
  j["version"] = versionText(d);
  j["dali_count"] = d.daliCount;
  return j;
}

void out_deviceHeader(CliOut& o) {
  out_line(o, "%-8s  %7s  %-7s  %5s  %9s  %8s  %10s  %-7s  %4s", "UID", "ADDRESS", "LOSS", "SLEEP",
           "BACKLIGHT", "LIMIT_UP", "LIMIT_DOWN", "VERSION", "DALI");
}

void out_deviceLine(CliOut& o, const Device& d) {
  char loss[COMMISSION_VALUE_TEXT_SIZE], sleep[8];
  commission_valueText(COMMISSION_LOSS, d.lossOfDmx, loss, sizeof loss);
  if (d.display[0])
    snprintf(sleep, sizeof sleep, "%d", d.display[0]);
  else
    snprintf(sleep, sizeof sleep, "Off");
  const std::string ver = versionText(d);
  out_line(o, "%08X  %7d  %-7s  %5s  %8d%%  %8d  %10d  %-7s  %4d", (unsigned)d.uid, d.addr, loss, sleep,
           d.display[1], d.limit[0], d.limit[1], ver.empty() ? "-" : ver.c_str(), d.daliCount);
}

CliJson out_resultJson(const CommissionResult& r) {
  CliJson j;
  j["uid"] = out_uid(r.uid);
  if (r.line > 0) j["line"] = r.line;
  j["outcome"] = commission_outcomeKey(r.outcome);
  j["written"] = commission_writtenName(r.written);
  CliJson changes = CliJson::object();
  for (int f = 0; f < COMMISSION_FIELDS; f++)
    if (r.changes >> f & 1u)
      changes[commission_fieldName(f)] = {{"from", valueJson(f, r.before.v[f])}, {"to", valueJson(f, r.want.v[f])}};
  j["changes"] = changes;
  j["before"] = out_valuesJson(r.before);
  j["after"] = out_valuesJson(r.after);
  j["error"] = r.text[0] ? CliJson(r.text) : CliJson(nullptr);
  return j;
}

CliJson out_totalsJson(const CommissionRun& run) {
  CliJson totals = CliJson::object();
  for (int o = 0; o < COMMISSION_OUTCOMES; o++) {
    const int n = commission_count(&run, (CommissionOutcome)o);
    if (n > 0) totals[commission_outcomeKey((CommissionOutcome)o)] = n;
  }
  return totals;
}
