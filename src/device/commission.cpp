#include "device/commission.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "device/app_setup.h"
#include "device/exchange.h"
#include "device/setupValues.h"
#include "link/cable.h"

namespace {

const char* const kFieldNames[COMMISSION_FIELDS] = {"address",   "loss",     "sleep",
                                                    "backlight", "limit_up", "limit_down"};

// Filler texts that pass every check of the setup dialog, so that one text
// can be checked alone: down 0 is never above up 255.
const char* const kPassing[COMMISSION_FIELDS] = {"1", "0", "0", "0", "255", "0"};

bool has(const CommissionValues* v, int field) { return (v->has >> field & 1u) != 0; }

void copyText(char* text, int size, const char* from) {
  if (size > 0) snprintf(text, (size_t)size, "%s", from);
}

// "Off", "on" and the like are names; a number is a number.
bool isBlank(const char* text) {
  for (; *text; text++)
    if (*text != ' ' && *text != '\t') return false;
  return true;
}

// Loss-of-DMX by text: a mode's name in any case, "mode N" as the dialog
// shows a mode without a name, or the number. The combo box decides later
// which of them a device may be given.
bool parseLoss(const char* text, int32_t* value) {
  for (int m = 0; m < DEV_LOSS_MODES; m++) {
    if (strcasecmp(text, lossOfDmx[m]) == 0) {
      *value = m;
      return true;
    }
  }
  const char* digits = strncasecmp(text, "mode ", 5) == 0 ? text + 5 : text;
  return setupValues_wholeNumber(digits, 0, 255, value);
}

bool parseSleep(const char* text, int32_t* value) {
  if (strcasecmp(text, "off") == 0) {
    *value = 0;
    return true;
  }
  return setupValues_wholeNumber(text, 0, 255, value);
}

// The dialog's words for a sleep or loss-of-DMX text that names no entry.
void badComboText(int field, const char* text, char* error, int size) {
  SetupValues v = {};
  if (field == COMMISSION_SLEEP)
    setupValues_sleepMessage(text, &v);
  else
    setupValues_lossMessage(text, &v);
  copyText(error, size, v.errorText);
  if (size > 0) commission_oneLine(error);
}

void valuesFromSetup(const SetupValues* s, CommissionValues* out) {
  out->v[COMMISSION_ADDR] = s->addr;
  out->v[COMMISSION_LOSS] = s->lossOfDmx;
  out->v[COMMISSION_SLEEP] = s->sleep;
  out->v[COMMISSION_BACKLIGHT] = s->backlight;
  out->v[COMMISSION_LIMIT_UP] = s->limitUp;
  out->v[COMMISSION_LIMIT_DOWN] = s->limitDown;
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

void setText(CommissionResult* r, const char* fmt, uint32_t uid) {
  snprintf(r->text, sizeof r->text, fmt, (unsigned)uid);
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
    snprintf(r->text, sizeof r->text, "Device %X reads back %s %s, not %s.", (unsigned)r->uid,
             kFieldNames[f], got, sent);
    return;
  }
}

// Writes what the device should hold and reads it back.
void writeAndReadBack(CommissionRun* run, CommissionResult* r, const CommissionValues* want) {
  const CommissionValues target = merged(&r->before, want);
  const SetupValues values = toSetup(&target);
  Device d;
  int result = app_setup_send(r->uid, &values);
  if (result > 0) result = commission_read(r->uid, &d);
  if (result <= 0) {
    if (stopIfCableFailed(run, r, result)) {
      // The write went out before the cable failed: it may have landed.
      const size_t n = strlen(r->text);
      snprintf(r->text + n, sizeof r->text - n, " The write to Device %X may have reached it unconfirmed.",
               (unsigned)r->uid);
      return;
    }
    r->outcome = COMMISSION_WRITE_FAILED;
    setText(r, "Device %X not responding.", r->uid);
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

bool commission_parseField(int field, const char* text, int32_t* value, char* error, int size) {
  if (error && size > 0) error[0] = 0;
  if (field < 0 || field >= COMMISSION_FIELDS || !text) return false;
  if (field == COMMISSION_LOSS || field == COMMISSION_SLEEP) {
    const bool ok = !isBlank(text) &&
                    (field == COMMISSION_LOSS ? parseLoss(text, value) : parseSleep(text, value));
    if (!ok) badComboText(field, text, error, size);
    return ok;
  }
  const char* texts[COMMISSION_FIELDS];
  for (int f = 0; f < COMMISSION_FIELDS; f++) texts[f] = kPassing[f];
  texts[field] = text;
  SetupValues v = {};
  const int bits = setupValues_checkStrict(texts[COMMISSION_ADDR], texts[COMMISSION_BACKLIGHT],
                                           texts[COMMISSION_LIMIT_UP], texts[COMMISSION_LIMIT_DOWN], &v);
  if (bits != 0) {
    copyText(error, size, v.errorText);
    commission_oneLine(error);
    return false;
  }
  CommissionValues parsed;
  valuesFromSetup(&v, &parsed);
  *value = parsed.v[field];
  return true;
}

bool commission_parseUid(const char* text, uint32_t* uid) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  const size_t n = strlen(text);
  if (n == 0 || n > 8) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < n; i++) {
    if (!isxdigit((unsigned char)text[i])) return false;
    const char c = (char)tolower((unsigned char)text[i]);
    v = v << 4 | (uint32_t)(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  if (v == 0 || v > 0x7FFFFFFFu) return false;
  *uid = v;
  return true;
}

int commission_read(uint32_t uid, Device* out) {
  const int result = app_setup_read(uid);
  if (result <= 0) return result < 0 ? result : EXCHANGE_UNANSWERED;
  return dev_copy(uid, out) ? result : EXCHANGE_UNANSWERED;
}

bool commission_cableFailed(int result) { return exchange_cableText(result) != nullptr; }

void commission_fromDevice(const Device* d, CommissionValues* out) {
  out->v[COMMISSION_ADDR] = d->addr;
  out->v[COMMISSION_LOSS] = d->lossOfDmx;
  out->v[COMMISSION_SLEEP] = d->display[0];
  out->v[COMMISSION_BACKLIGHT] = d->display[1];
  out->v[COMMISSION_LIMIT_UP] = d->limit[0];
  out->v[COMMISSION_LIMIT_DOWN] = d->limit[1];
  out->has = (1u << COMMISSION_FIELDS) - 1;
}

unsigned commission_diff(const CommissionValues* have, const CommissionValues* want) {
  unsigned bits = 0;
  for (int f = 0; f < COMMISSION_FIELDS; f++)
    if (has(want, f) && (!has(have, f) || have->v[f] != want->v[f])) bits |= 1u << f;
  return bits;
}

int commission_check(const CommissionValues* have, const CommissionValues* want, char* text, int size) {
  const CommissionValues m = merged(have, want);
  // Only what is given is checked (a value the device holds and keeps is
  // not the caller's to answer for); the limits go together, for their order.
  const bool limits = has(want, COMMISSION_LIMIT_UP) || has(want, COMMISSION_LIMIT_DOWN);
  char t[COMMISSION_FIELDS][COMMISSION_VALUE_TEXT_SIZE];
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    const bool checked = has(want, f) || (limits && (f == COMMISSION_LIMIT_UP || f == COMMISSION_LIMIT_DOWN));
    if (checked)
      snprintf(t[f], sizeof t[f], "%d", (int)m.v[f]);
    else
      snprintf(t[f], sizeof t[f], "%s", kPassing[f]);
  }
  SetupValues v = {};
  int bits = setupValues_checkStrict(t[COMMISSION_ADDR], t[COMMISSION_BACKLIGHT], t[COMMISSION_LIMIT_UP],
                                     t[COMMISSION_LIMIT_DOWN], &v);
  int32_t ignored;
  // Sleep and loss: an entry their combo box offers for what the device
  // holds (which includes keeping a value the device holds).
  if (has(want, COMMISSION_SLEEP))
    bits |= setupValues_sleepFromText(t[COMMISSION_SLEEP], have->v[COMMISSION_SLEEP], &ignored, &v);
  if (has(want, COMMISSION_LOSS)) {
    char name[COMMISSION_VALUE_TEXT_SIZE];
    commission_valueText(COMMISSION_LOSS, m.v[COMMISSION_LOSS], name, sizeof name);
    bits |= setupValues_lossFromText(name, have->v[COMMISSION_LOSS], &ignored, &v);
  }
  copyText(text, size, v.errorText);
  if (size > 0) commission_oneLine(text);
  return bits;
}

int commission_checkLimits(const CommissionValues* want, char* text, int size) {
  const unsigned both = 1u << COMMISSION_LIMIT_UP | 1u << COMMISSION_LIMIT_DOWN;
  if (size > 0) text[0] = 0;
  if ((want->has & both) != both) return 0;
  CommissionValues none = {}, limits = *want;
  limits.has = both;
  return commission_check(&none, &limits, text, size);
}

void commission_begin(CommissionRun* run, const CommissionPlan* plan, bool checkOnly) {
  memset(run, 0, sizeof *run);
  run->plan = plan;
  run->checkOnly = checkOnly;
  for (int i = 0; i < plan->count && i < COMMISSION_MAX; i++) {
    run->results[i].uid = plan->targets[i].uid;
    run->results[i].line = plan->targets[i].line;
    run->results[i].want = plan->targets[i].want;
    run->results[i].outcome = COMMISSION_NOT_REACHED;
  }
}

bool commission_step(CommissionRun* run) {
  if (run->cableLost || run->next >= run->plan->count || run->next >= COMMISSION_MAX) return false;
  const CommissionTarget& t = run->plan->targets[run->next];
  CommissionResult* r = &run->results[run->next];
  run->next++;
  Device d;
  const int read = commission_read(t.uid, &d);
  if (read <= 0) {
    if (stopIfCableFailed(run, r, read)) return false;
    r->outcome = COMMISSION_NOT_FOUND;
    setText(r, "Device %X not responding.", t.uid);
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
  if (run->cableLost || run->next < run->plan->count) return false;
  for (int i = 0; i < run->plan->count; i++) {
    const CommissionOutcome o = run->results[i].outcome;
    if (o != COMMISSION_UNCHANGED && o != COMMISSION_CHANGED && o != COMMISSION_WOULD_CHANGE) return false;
  }
  return true;
}

const char* commission_outcomeName(CommissionOutcome o) {
  switch (o) {
    case COMMISSION_NOT_REACHED: return "not reached";
    case COMMISSION_UNCHANGED: return "unchanged";
    case COMMISSION_CHANGED: return "changed";
    case COMMISSION_WOULD_CHANGE: return "would change";
    case COMMISSION_NOT_FOUND: return "not found";
    case COMMISSION_REFUSED: return "refused";
    case COMMISSION_WRITE_FAILED: return "write failed";
    case COMMISSION_MISMATCH: return "read-back differs";
    case COMMISSION_CABLE_LOST: return "cable lost";
    case COMMISSION_OUTCOMES: break;
  }
  return "";
}

void commission_changesText(const CommissionResult* r, char* text, int size) {
  if (size <= 0) return;
  text[0] = 0;
  int used = 0;
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!(r->changes >> f & 1u)) continue;
    char from[COMMISSION_VALUE_TEXT_SIZE], to[COMMISSION_VALUE_TEXT_SIZE];
    commission_valueText(f, r->before.v[f], from, sizeof from);
    commission_valueText(f, r->want.v[f], to, sizeof to);
    const int n = snprintf(text + used, (size_t)(size - used), "%s%s %s -> %s", used ? ", " : "",
                           kFieldNames[f], from, to);
    if (n < 0 || n >= size - used) return;
    used += n;
  }
}

bool commission_cablePresent() {
  const bool present = cable_open() >= 0;
  cable_free();
  return present;
}
