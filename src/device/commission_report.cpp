// The words of a run's results: the one place that writes a device's
// result line and the totals, which the window's report and `tern` print
// alike.
#include <cstdio>
#include <cstring>

#include "device/commission.h"

namespace {

struct OutcomeWords {
  const char* name;  // for people
  const char* key;   // for scripts
};

const OutcomeWords kOutcomes[COMMISSION_OUTCOMES] = {
    {"unchanged", "unchanged"},      {"changed", "changed"},
    {"would change", "would_change"}, {"not found", "not_found"},
    {"refused", "refused"},          {"write failed", "write_failed"},
    {"read-back differs", "read_back_differs"}, {"cable lost", "cable_lost"},
    {"not reached", "not_reached"},
};

}  // namespace

const char* commission_outcomeName(CommissionOutcome o) {
  return o >= 0 && o < COMMISSION_OUTCOMES ? kOutcomes[o].name : "";
}

const char* commission_outcomeKey(CommissionOutcome o) {
  return o >= 0 && o < COMMISSION_OUTCOMES ? kOutcomes[o].key : "";
}

const char* commission_writtenName(CommissionWritten w) {
  switch (w) {
    case COMMISSION_WRITTEN_YES: return "yes";
    case COMMISSION_WRITTEN_UNKNOWN: return "unknown";
    case COMMISSION_WRITTEN_NO: break;
  }
  return "no";
}

void commission_diffText(unsigned fields, const CommissionValues* from, const CommissionValues* to, char* text,
                         int size) {
  if (size <= 0) return;
  text[0] = 0;
  int used = 0;
  for (int f = 0; f < COMMISSION_FIELDS; f++) {
    if (!(fields >> f & 1u)) continue;
    char a[COMMISSION_VALUE_TEXT_SIZE], b[COMMISSION_VALUE_TEXT_SIZE];
    commission_valueText(f, from->v[f], a, sizeof a);
    commission_valueText(f, to->v[f], b, sizeof b);
    const int n = snprintf(text + used, (size_t)(size - used), "%s%s %s -> %s", used ? ", " : "",
                           commission_fieldName(f), a, b);
    if (n < 0 || n >= size - used) return;
    used += n;
  }
}

void commission_changesText(const CommissionResult* r, char* text, int size) {
  commission_diffText(r->changes, &r->before, &r->want, text, size);
}

void commission_resultLine(const CommissionResult* r, char* text, int size) {
  if (size <= 0) return;
  char from[40];
  if (r->line > 0)
    snprintf(from, sizeof from, "%08X (line %d)", (unsigned)r->uid, r->line);
  else
    snprintf(from, sizeof from, "%08X", (unsigned)r->uid);
  char detail[COMMISSION_TEXT_SIZE];
  switch (r->outcome) {
    case COMMISSION_UNCHANGED:
    case COMMISSION_NOT_REACHED:
      detail[0] = 0;
      break;
    case COMMISSION_CHANGED:
    case COMMISSION_WOULD_CHANGE:
      commission_changesText(r, detail, sizeof detail);
      break;
    default:
      snprintf(detail, sizeof detail, "%s", r->text);
      break;
  }
  snprintf(text, (size_t)size, "%-20s %-13s %s", from, commission_outcomeName(r->outcome), detail);
  // No blanks at the end of a line that says no more than its outcome.
  for (int n = (int)strlen(text); n > 0 && text[n - 1] == ' '; n--) text[n - 1] = 0;
}

void commission_totalsLine(const CommissionRun* run, char* text, int size) {
  if (size <= 0) return;
  const int count = run->plan ? run->plan->count : 0;
  int used = snprintf(text, (size_t)size, "%d device%s", count, count == 1 ? "" : "s");
  int named = 0;
  for (int o = 0; o < COMMISSION_OUTCOMES && used < size; o++) {
    const int n = commission_count(run, (CommissionOutcome)o);
    if (n == 0) continue;
    used += snprintf(text + used, (size_t)(size - used), "%s %d %s", named++ ? "," : ":", n,
                     commission_outcomeName((CommissionOutcome)o));
  }
  if (used < size) snprintf(text + used, (size_t)(size - used), ".");
}

void commission_stopLine(const CommissionRun* run, char* text, int size) {
  if (size <= 0) return;
  text[0] = 0;
  if (!run->cableLost && !run->stopped) return;
  const int count = run->plan ? run->plan->count : 0;
  const int done = count - commission_count(run, COMMISSION_NOT_REACHED) - commission_count(run, COMMISSION_CABLE_LOST);
  snprintf(text, (size_t)size, "%s after %d of %d device%s; the rest were not tried.",
           run->cableLost ? "The cable failed" : "Stopped", done, count, count == 1 ? "" : "s");
}
