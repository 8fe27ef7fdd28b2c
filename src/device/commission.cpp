#include "device/commission.h"

#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <initializer_list>

#include "device/app_setup.h"
#include "device/exchange.h"
#include "link/cable.h"

namespace {

const char* const kFieldNames[COMMISSION_FIELDS] = {"address",   "loss",     "sleep",
                                                    "backlight", "limit_up", "limit_down"};
const char* const kFieldRanges[COMMISSION_FIELDS] = {"1..512",          "HOLD, to 0% or to 100%",
                                                     "off or 5..100",   "0..100",
                                                     "0..255",          "0..255"};

enum {
  ADDR_FIRST = 1,
  BACKLIGHT_MAX = 100,
  LIMIT_MAX = 255,
  BYTE_MAX = 255,  // what a device can hold in a one-byte setting
  SLEEP_FIRST = 5,
  SLEEP_LAST = 100,
};

bool has(const CommissionValues* v, int field) { return (v->has >> field & 1u) != 0; }

void copyText(char* text, int size, const char* from) {
  if (text && size > 0) snprintf(text, (size_t)size, "%s", from);
}

// Appends "; " and a fault to text.
void addFault(char* text, int size, int* faults, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
void addFault(char* text, int size, int* faults, const char* fmt, ...) {
  if (size <= 0) return;
  const size_t used = strlen(text);
  if (used + 1 >= (size_t)size) return;
  if (*faults > 0) snprintf(text + used, (size_t)size - used, "; ");
  const size_t at = strlen(text);
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text + at, (size_t)size - at, fmt, ap);
  va_end(ap);
  (*faults)++;
}

// Blanks around a text skipped: [*begin, *end).
void trim(const char* text, const char** begin, const char** end) {
  const char* b = text;
  while (*b == ' ' || *b == '\t') b++;
  const char* e = b + strlen(b);
  while (e > b && (e[-1] == ' ' || e[-1] == '\t')) e--;
  *begin = b;
  *end = e;
}

// A whole decimal number and nothing else (blanks around it allowed);
// false when there is none. A number too large for 32 bits saturates, so
// that it is out of every range.
bool wholeNumber(const char* text, int32_t* value) {
  const char *b, *e;
  trim(text, &b, &e);
  if (b == e) return false;
  const char* p = b;
  if (*p == '-' || *p == '+') p++;
  if (p == e) return false;
  for (const char* q = p; q < e; q++)
    if (!isdigit((unsigned char)*q)) return false;
  errno = 0;
  const long long v = strtoll(b, nullptr, 10);
  *value = v > INT32_MAX || errno == ERANGE ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
  return true;
}

// The text without a suffix the table shows ("80%", "30 s"), when it ends in it.
void withoutSuffix(const char* text, const char* suffix, char* out, int size) {
  const char *b, *e;
  trim(text, &b, &e);
  const size_t n = strlen(suffix);
  if ((size_t)(e - b) > n && strncasecmp(e - n, suffix, n) == 0) e -= n;
  snprintf(out, (size_t)size, "%.*s", (int)(e - b), b);
}

bool notANumber(const char* text, char* error, int size) {
  char q[COMMISSION_VALUE_TEXT_SIZE * 4];
  commission_quote(text, q, sizeof q);
  if (error && size > 0) snprintf(error, (size_t)size, "%s is not a whole number", q);
  return false;
}

bool outOfRange(int32_t value, const char* range, char* error, int size) {
  if (error && size > 0) snprintf(error, (size_t)size, "%d is not in %s", (int)value, range);
  return false;
}

bool inRange(int32_t v, int lo, int hi) { return v >= lo && v <= hi; }

// A number out of a field's range, said with the text given (a number too
// large for 32 bits is shown as it was written, not as where it saturated).
bool rangeFault(int field, const char* text, char* error, int size) {
  const char *b, *e;
  trim(text, &b, &e);
  const bool named = field == COMMISSION_SLEEP || field == COMMISSION_LOSS;
  if (error && size > 0)
    snprintf(error, (size_t)size, "%.*s is not %s%s", (int)(e - b), b, named ? "" : "in ", kFieldRanges[field]);
  return false;
}

// Loss-of-DMX by text: a mode's name in any case, "mode N" as the dialog
// shows a mode without a name, or the number.
bool parseLoss(const char* text, int32_t* value, char* error, int size) {
  const char *b, *e;
  trim(text, &b, &e);
  for (int m = 0; m < DEV_LOSS_MODES; m++) {
    if ((size_t)(e - b) == strlen(lossOfDmx[m]) && strncasecmp(b, lossOfDmx[m], (size_t)(e - b)) == 0) {
      *value = m;
      return true;
    }
  }
  const char* digits = strncasecmp(b, "mode ", 5) == 0 ? b + 5 : b;
  if (!wholeNumber(digits, value)) {
    char q[COMMISSION_VALUE_TEXT_SIZE * 4];
    commission_quote(text, q, sizeof q);
    if (error && size > 0) snprintf(error, (size_t)size, "%s is not %s", q, kFieldRanges[COMMISSION_LOSS]);
    return false;
  }
  return commission_checkField(COMMISSION_LOSS, *value, nullptr, 0) || rangeFault(COMMISSION_LOSS, digits, error, size);
}

bool parseSleep(const char* text, int32_t* value, char* error, int size) {
  char bare[COMMISSION_VALUE_TEXT_SIZE * 4];
  withoutSuffix(text, "s", bare, sizeof bare);
  if (strcasecmp(bare, "off") == 0) {
    *value = 0;
    return true;
  }
  if (!wholeNumber(bare, value)) {
    char q[COMMISSION_VALUE_TEXT_SIZE * 4];
    commission_quote(text, q, sizeof q);
    if (error && size > 0) snprintf(error, (size_t)size, "%s is not off or a number of seconds", q);
    return false;
  }
  return commission_checkField(COMMISSION_SLEEP, *value, nullptr, 0) || rangeFault(COMMISSION_SLEEP, bare, error, size);
}

// What the device would hold: have, with want laid over it.
CommissionValues merged(const CommissionValues* have, const CommissionValues* want) {
  CommissionValues m = *have;
  for (int f = 0; f < COMMISSION_FIELDS; f++)
    if (has(want, f)) m.v[f] = want->v[f];
  m.has = have->has | want->has;
  return m;
}

SetupValues toSetup(const CommissionValues* m) {
  SetupValues s = {};
  s.addr = m->v[COMMISSION_ADDR];
  s.lossOfDmx = m->v[COMMISSION_LOSS];
  s.sleep = m->v[COMMISSION_SLEEP];
  s.backlight = m->v[COMMISSION_BACKLIGHT];
  s.limitUp = m->v[COMMISSION_LIMIT_UP];
  s.limitDown = m->v[COMMISSION_LIMIT_DOWN];
  return s;
}

// After an exchange that failed: the device is silent, or the cable failed.
// The run stops on the second, saying which.
bool stopIfCableFailed(CommissionRun* run, CommissionResult* r, int result) {
  if (!commission_cableFailed(result)) return false;
  r->outcome = COMMISSION_CABLE_LOST;
  copyText(r->text, sizeof r->text, exchange_cableText(result));
  commission_oneLine(r->text);
  run->cableLost = true;
  return true;
}

// The read-back against what was written: the first field that differs.
void describeMismatch(CommissionResult* r, const CommissionValues* want) {
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!has(want, f) || r->after.v[f] == want->v[f]) continue;
    char sent[COMMISSION_VALUE_TEXT_SIZE], got[COMMISSION_VALUE_TEXT_SIZE];
    commission_valueText(f, want->v[f], sent, sizeof sent);
    commission_valueText(f, r->after.v[f], got, sizeof got);
    snprintf(r->text, sizeof r->text, "Device %08X reads back %s %s, not %s.", (unsigned)r->uid,
             kFieldNames[f], got, sent);
    return;
  }
}

// Writes what the device should hold and reads it back.
void writeAndReadBack(CommissionRun* run, CommissionResult* r, const CommissionValues* want) {
  const CommissionValues target = merged(&r->before, want);
  const SetupValues values = toSetup(&target);
  const int sent = app_setup_send(r->uid, &values);
  // An answered write landed; one that was not answered may have.
  r->written = sent > 0 ? COMMISSION_WRITTEN_YES : COMMISSION_WRITTEN_UNKNOWN;
  Device d;
  const int result = sent > 0 ? commission_read(r->uid, &d) : sent;
  if (result <= 0) {
    if (stopIfCableFailed(run, r, result)) {
      const size_t n = strlen(r->text);
      snprintf(r->text + n, sizeof r->text - n, " The write to %08X %s.", (unsigned)r->uid,
               sent > 0 ? "was taken but not read back" : "may have reached it unconfirmed");
      return;
    }
    r->outcome = COMMISSION_WRITE_FAILED;
    commission_failureText(r->uid, EXCHANGE_UNANSWERED, "", r->text, sizeof r->text);
    return;
  }
  commission_fromDevice(&d, &r->after);
  if (commission_diff(&r->after, want) != 0) {
    r->outcome = COMMISSION_MISMATCH;
    describeMismatch(r, want);
    return;
  }
  r->outcome = COMMISSION_CHANGED;
}

}  // namespace

const char* commission_fieldName(int field) {
  return field >= 0 && field < COMMISSION_FIELDS ? kFieldNames[field] : "";
}

const char* commission_fieldRange(int field) {
  return field >= 0 && field < COMMISSION_FIELDS ? kFieldRanges[field] : "";
}

void commission_valueText(int field, int32_t value, char* text, int size) {
  if (field == COMMISSION_LOSS && value >= 0 && value < DEV_LOSS_MODES)
    copyText(text, size, lossOfDmx[value]);
  else if (size > 0)
    snprintf(text, (size_t)size, "%d", (int)value);
}

void commission_oneLine(char* text) {
  char* out = text;
  bool blank = false;
  for (const char* in = text; *in; in++) {
    if (isspace((unsigned char)*in)) {
      blank = out != text;
      continue;
    }
    if (blank) *out++ = ' ';
    blank = false;
    *out++ = *in;
  }
  *out = 0;
}

void commission_quote(const char* text, char* out, int size) {
  if (size < 3) {
    if (size > 0) out[0] = 0;
    return;
  }
  int used = 0;
  out[used++] = '"';
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
    char piece[8];
    if (*p < 0x20 || *p == 0x7F)
      snprintf(piece, sizeof piece, "\\x%02X", *p);
    else
      snprintf(piece, sizeof piece, "%c", *p);
    const int n = (int)strlen(piece);
    if (used + n + 2 > size) {
      // Cut: say so rather than let the text look whole.
      if (used + 4 <= size - 1) used += snprintf(out + used, (size_t)(size - used), "...");
      break;
    }
    memcpy(out + used, piece, (size_t)n);
    used += n;
  }
  out[used++] = '"';
  out[used] = 0;
}

bool commission_checkField(int field, int32_t value, char* error, int size) {
  switch (field) {
    case COMMISSION_ADDR:
      return inRange(value, ADDR_FIRST, COMMISSION_LAST_ADDR) || outOfRange(value, kFieldRanges[field], error, size);
    case COMMISSION_BACKLIGHT:
      return inRange(value, 0, BACKLIGHT_MAX) || outOfRange(value, kFieldRanges[field], error, size);
    case COMMISSION_LIMIT_UP:
    case COMMISSION_LIMIT_DOWN:
      return inRange(value, 0, LIMIT_MAX) || outOfRange(value, kFieldRanges[field], error, size);
    case COMMISSION_SLEEP:
    case COMMISSION_LOSS:
      // What a device can hold; which of these it may be given depends on
      // what it holds (commission_check).
      return inRange(value, 0, BYTE_MAX) || outOfRange(value, kFieldRanges[field], error, size);
    default:
      copyText(error, size, "no such setting");
      return false;
  }
}

bool commission_parseNumber(const char* text, int lo, int hi, int32_t* value, char* error, int size) {
  if (error && size > 0) error[0] = 0;
  if (!text || !wholeNumber(text, value)) return notANumber(text ? text : "", error, size);
  if (inRange(*value, lo, hi)) return true;
  const char *b, *e;
  trim(text, &b, &e);
  if (error && size > 0) snprintf(error, (size_t)size, "%.*s is not in %d..%d", (int)(e - b), b, lo, hi);
  return false;
}

bool commission_parseField(int field, const char* text, int32_t* value, char* error, int size) {
  if (error && size > 0) error[0] = 0;
  if (field < 0 || field >= COMMISSION_FIELDS || !text) {
    copyText(error, size, "no such setting");
    return false;
  }
  if (field == COMMISSION_LOSS) return parseLoss(text, value, error, size);
  if (field == COMMISSION_SLEEP) return parseSleep(text, value, error, size);
  char bare[COMMISSION_VALUE_TEXT_SIZE * 4];
  withoutSuffix(text, field == COMMISSION_BACKLIGHT ? "%" : "", bare, sizeof bare);
  if (strlen(text) >= sizeof bare - 1 || !wholeNumber(bare, value)) return notANumber(text, error, size);
  return commission_checkField(field, *value, nullptr, 0) || rangeFault(field, bare, error, size);
}

bool commission_parseUid(const char* text, uint32_t* uid, char* error, int size) {
  if (error && size > 0) error[0] = 0;
  const char *b, *e;
  trim(text, &b, &e);
  const char* digits = b;
  if (e - b >= 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) digits += 2;
  const size_t n = (size_t)(e - digits);
  bool hex = n > 0 && n <= 8;
  for (const char* p = digits; hex && p < e; p++) hex = isxdigit((unsigned char)*p) != 0;
  uint32_t v = 0;
  for (const char* p = digits; hex && p < e; p++) {
    const char c = (char)tolower((unsigned char)*p);
    v = v << 4 | (uint32_t)(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  if (hex && v != 0 && v <= 0x7FFFFFFFu) {
    *uid = v;
    return true;
  }
  if (!error || size <= 0) return false;
  char q[COMMISSION_VALUE_TEXT_SIZE * 4];
  commission_quote(text, q, sizeof q);
  // "0", "1.2345E+071", "4.5e+07": what a spreadsheet makes of a UID like
  // 0000E000 or 12345E67 that it took for a number ("1,2345E+071" where
  // the decimal separator is a comma).
  const bool number = (strchr(text, '.') || strchr(text, '+') || (hex && v == 0)) &&
                      strspn(b, "0123456789.,eE+- ") == (size_t)(e - b);
  if (number)
    snprintf(error, (size_t)size,
             "%s is not a UID: a spreadsheet seems to have read the UID as a number and changed it; "
             "export the record again, or type the UID back in as text",
             q);
  else
    snprintf(error, (size_t)size, "%s is not a device's UID (hexadecimal, 1 to 7FFFFFFF)", q);
  return false;
}

int commission_read(uint32_t uid, Device* out) {
  const int result = app_setup_read(uid);
  if (result <= 0) return result < 0 ? result : EXCHANGE_UNANSWERED;
  return dev_copy(uid, out) ? result : EXCHANGE_UNANSWERED;
}

bool commission_cableFailed(int result) { return exchange_cableText(result) != nullptr; }

void commission_failureText(uint32_t uid, int result, const char* prefix, char* text, int size) {
  if (size <= 0) return;
  const char* cable = exchange_cableText(result);
  if (cable) {
    snprintf(text, (size_t)size, "%s", cable);
    commission_oneLine(text);
  } else {
    snprintf(text, (size_t)size, "%sDevice %08X not responding.", prefix ? prefix : "", (unsigned)uid);
  }
}

bool commission_cablePresent() {
  const bool present = cable_open() >= 0;
  cable_free();
  return present;
}

void commission_fromDevice(const Device* d, CommissionValues* out) {
  out->v[COMMISSION_ADDR] = d->addr;
  out->v[COMMISSION_LOSS] = d->lossOfDmx;
  out->v[COMMISSION_SLEEP] = d->display[0];
  out->v[COMMISSION_BACKLIGHT] = d->display[1];
  out->v[COMMISSION_LIMIT_UP] = d->limit[0];
  out->v[COMMISSION_LIMIT_DOWN] = d->limit[1];
  out->has = COMMISSION_ALL_FIELDS;
}

unsigned commission_diff(const CommissionValues* have, const CommissionValues* want) {
  unsigned bits = 0;
  for (int f = 0; f < COMMISSION_FIELDS; f++)
    if (has(want, f) && (!has(have, f) || have->v[f] != want->v[f])) bits |= 1u << f;
  return bits;
}

int commission_check(const CommissionValues* have, const CommissionValues* want, char* text, int size) {
  if (text && size > 0) text[0] = 0;
  const CommissionValues m = merged(have, want);
  int faults = 0;
  char why[COMMISSION_TEXT_SIZE];
  for (int f : {COMMISSION_ADDR, COMMISSION_BACKLIGHT})
    if (has(want, f) && !commission_checkField(f, m.v[f], why, sizeof why))
      addFault(text, size, &faults, "%s: %s", kFieldNames[f], why);
  // The limits go together, for their order.
  const bool limits = has(want, COMMISSION_LIMIT_UP) || has(want, COMMISSION_LIMIT_DOWN);
  bool limitsValid = true;
  for (int f : {COMMISSION_LIMIT_UP, COMMISSION_LIMIT_DOWN}) {
    if (!limits || !has(&m, f)) continue;
    if (!commission_checkField(f, m.v[f], why, sizeof why)) {
      addFault(text, size, &faults, "%s: %s", kFieldNames[f], why);
      limitsValid = false;
    }
  }
  if (limits && limitsValid && has(&m, COMMISSION_LIMIT_UP) && has(&m, COMMISSION_LIMIT_DOWN) &&
      m.v[COMMISSION_LIMIT_DOWN] > m.v[COMMISSION_LIMIT_UP])
    addFault(text, size, &faults, "limit_down: %d is above limit_up %d", (int)m.v[COMMISSION_LIMIT_DOWN],
             (int)m.v[COMMISSION_LIMIT_UP]);
  // Sleep and loss: what the setup dialog offers, or what the device holds
  // already (keeping it is always allowed).
  if (has(want, COMMISSION_SLEEP)) {
    const int32_t s = m.v[COMMISSION_SLEEP];
    const bool held = has(have, COMMISSION_SLEEP) && have->v[COMMISSION_SLEEP] == s;
    if (!(s == 0 || inRange(s, SLEEP_FIRST, SLEEP_LAST) || held))
      addFault(text, size, &faults, "sleep: %d is not %s", (int)s, kFieldRanges[COMMISSION_SLEEP]);
  }
  if (has(want, COMMISSION_LOSS)) {
    const int32_t l = m.v[COMMISSION_LOSS];
    const bool held = has(have, COMMISSION_LOSS) && have->v[COMMISSION_LOSS] == l;
    if (!(inRange(l, 0, DEV_LOSS_MODES - 1) || held))
      addFault(text, size, &faults, "loss: %d is not %s", (int)l, kFieldRanges[COMMISSION_LOSS]);
  }
  return faults;
}

int commission_checkLimits(const CommissionValues* want, char* text, int size) {
  const unsigned both = 1u << COMMISSION_LIMIT_UP | 1u << COMMISSION_LIMIT_DOWN;
  if (text && size > 0) text[0] = 0;
  if ((want->has & both) != both) return 0;
  CommissionValues none = {}, limits = *want;
  limits.has = both;
  return commission_check(&none, &limits, text, size);
}

void commission_begin(CommissionRun* run, const CommissionPlan* plan, bool checkOnly,
                      const std::atomic<bool>* stop) {
  memset((void*)run, 0, sizeof *run);
  run->plan = plan;
  run->checkOnly = checkOnly;
  run->stop = stop;
  for (int i = 0; i < plan->count && i < COMMISSION_MAX; i++) {
    run->results[i].uid = plan->targets[i].uid;
    run->results[i].line = plan->targets[i].line;
    run->results[i].want = plan->targets[i].want;
    run->results[i].outcome = COMMISSION_NOT_REACHED;
  }
}

bool commission_step(CommissionRun* run) {
  if (run->cableLost || run->stopped || run->next >= run->plan->count || run->next >= COMMISSION_MAX)
    return false;
  if (run->stop && run->stop->load()) {
    run->stopped = true;
    return false;
  }
  const CommissionTarget& t = run->plan->targets[run->next];
  CommissionResult* r = &run->results[run->next];
  run->next++;
  Device d;
  const int read = commission_read(t.uid, &d);
  if (read <= 0) {
    if (stopIfCableFailed(run, r, read)) return false;
    r->outcome = COMMISSION_NOT_FOUND;
    commission_failureText(t.uid, read, "", r->text, sizeof r->text);
    return true;
  }
  commission_fromDevice(&d, &r->before);
  r->changes = commission_diff(&r->before, &t.want);
  if (r->changes == 0) {
    r->outcome = COMMISSION_UNCHANGED;
    return true;
  }
  if (commission_check(&r->before, &t.want, r->text, sizeof r->text) != 0) {
    r->outcome = COMMISSION_REFUSED;
    return true;
  }
  if (run->checkOnly) {
    r->outcome = COMMISSION_WOULD_CHANGE;
    return true;
  }
  writeAndReadBack(run, r, &t.want);
  return !run->cableLost;
}

int commission_done(const CommissionRun* run) { return run->next; }

bool commission_allDone(const CommissionRun* run) {
  if (run->cableLost || run->stopped || run->next < run->plan->count) return false;
  for (int i = 0; i < run->plan->count; i++) {
    const CommissionOutcome o = run->results[i].outcome;
    if (o != COMMISSION_UNCHANGED && o != COMMISSION_CHANGED && o != COMMISSION_WOULD_CHANGE) return false;
  }
  return true;
}

int commission_count(const CommissionRun* run, CommissionOutcome outcome) {
  int n = 0;
  for (int i = 0; run->plan && i < run->plan->count; i++) n += run->results[i].outcome == outcome ? 1 : 0;
  return n;
}
