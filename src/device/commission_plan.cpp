// Plans: the address sequence start, start + step, start + 2 x step... and
// one set of values for several devices, each refused whole before anything
// is written; and the warnings of devices that would share addresses.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "device/commission.h"

namespace {

bool refuse(char* error, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
bool refuse(char* error, int size, const char* fmt, ...) {
  if (error && size > 0) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(error, (size_t)size, fmt, ap);
    va_end(ap);
  }
  return false;
}

// The devices of a plan: some, at most COMMISSION_MAX, each a device's UID
// named once.
bool checkDevices(const uint32_t* uids, int count, char* error, int size) {
  if (count <= 0) return refuse(error, size, "no device to work on");
  if (count > COMMISSION_MAX)
    return refuse(error, size, "%d devices: at most %d can be worked on at once", count, COMMISSION_MAX);
  for (int i = 0; i < count; i++) {
    const uint32_t u = uids[i];
    if (u == 0 || u > 0x7FFFFFFFu) return refuse(error, size, "%08X is not a device's UID", (unsigned)u);
    for (int k = 0; k < i; k++)
      if (uids[k] == u) return refuse(error, size, "%08X is named twice", (unsigned)u);
  }
  return true;
}

void fill(CommissionPlan* plan, const uint32_t* uids, int count) {
  for (int i = 0; i < count; i++) {
    plan->targets[i].uid = uids[i];
    plan->targets[i].line = 0;
    plan->targets[i].want = CommissionValues{};
  }
  plan->count = count;
}

// A target's origin in a warning: its UID, and its file line when it has one.
void origin(const CommissionTarget& t, char* text, size_t size) {
  if (t.line > 0)
    snprintf(text, size, "%08X (line %d)", (unsigned)t.uid, t.line);
  else
    snprintf(text, size, "%08X", (unsigned)t.uid);
}

}  // namespace

long long commission_addressAt(int start, int step, int index) {
  return (long long)start + (long long)step * index;
}

bool commission_sequenceFits(int start, int step, int count, long long* last) {
  *last = commission_addressAt(start, step, count > 0 ? count - 1 : 0);
  return *last <= COMMISSION_LAST_ADDR;
}

bool commission_addressPlan(int start, int step, const uint32_t* uids, int count,
                            CommissionPlan* plan, char* error, int errorSize) {
  if (errorSize > 0) error[0] = 0;
  plan->count = 0;
  char why[COMMISSION_TEXT_SIZE];
  if (!commission_checkField(COMMISSION_ADDR, start, why, sizeof why))
    return refuse(error, errorSize, "start: %s", why);
  if (step < 0 || step > COMMISSION_STEP_MAX)
    return refuse(error, errorSize, "step: %d is not in 0..%d", step, COMMISSION_STEP_MAX);
  if (!checkDevices(uids, count, error, errorSize)) return false;
  long long last;
  if (!commission_sequenceFits(start, step, count, &last))
    return refuse(error, errorSize, "%d devices from %d in steps of %d would end at address %lld, past %d", count,
                  start, step, last, COMMISSION_LAST_ADDR);
  fill(plan, uids, count);
  for (int i = 0; i < count; i++) {
    plan->targets[i].want.v[COMMISSION_ADDR] = (int32_t)commission_addressAt(start, step, i);
    plan->targets[i].want.has = 1u << COMMISSION_ADDR;
  }
  return true;
}

bool commission_setPlan(const uint32_t* uids, int count, const CommissionValues* want, CommissionPlan* plan,
                        char* error, int errorSize) {
  if (errorSize > 0) error[0] = 0;
  plan->count = 0;
  if (want->has == 0) return refuse(error, errorSize, "no setting to change");
  char why[COMMISSION_TEXT_SIZE];
  if (commission_checkLimits(want, why, sizeof why) != 0) return refuse(error, errorSize, "%s", why);
  if (!checkDevices(uids, count, error, errorSize)) return false;
  fill(plan, uids, count);
  for (int i = 0; i < count; i++) plan->targets[i].want = *want;
  return true;
}

int commission_overlaps(const CommissionPlan* plan, int footprint, char (*warnings)[COMMISSION_WARNING_SIZE],
                        int capacity) {
  if (footprint < 1) footprint = 1;
  int n = 0;
  // Each device's first address in the plan (0: the plan gives none).
  auto addressOf = [&](int i) -> int {
    const CommissionValues& w = plan->targets[i].want;
    return w.has >> COMMISSION_ADDR & 1u ? w.v[COMMISSION_ADDR] : 0;
  };
  for (int i = 0; i < plan->count; i++) {
    const int a = addressOf(i);
    if (a <= 0) continue;
    for (int k = i + 1; k < plan->count; k++) {
      const int b = addressOf(k);
      if (b <= 0) continue;
      const int lo = a > b ? a : b;
      const int hi = (a < b ? a : b) + footprint - 1;
      if (lo > hi) continue;
      if (n < capacity) {
        char x[40], y[40];
        origin(plan->targets[i], x, sizeof x);
        origin(plan->targets[k], y, sizeof y);
        if (a == b)
          snprintf(warnings[n], COMMISSION_WARNING_SIZE, "%s and %s share address %d", x, y, a);
        else
          snprintf(warnings[n], COMMISSION_WARNING_SIZE, "%s and %s overlap at %d..%d", x, y, lo, hi);
      }
      n++;
    }
  }
  return n;
}
