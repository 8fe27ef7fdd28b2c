// The address plan: start, start + step, start + 2 x step... for the devices
// in the order given, refused whole before anything is written.
#include <cstdio>

#include "device/commission.h"

namespace {

bool refuse(char* error, int size, const char* text) {
  if (size > 0) snprintf(error, (size_t)size, "%s", text);
  return false;
}

}  // namespace

bool commission_addressPlan(int start, int step, const uint32_t* uids, int count,
                            CommissionPlan* plan, char* error, int errorSize) {
  char text[COMMISSION_TEXT_SIZE];
  if (errorSize > 0) error[0] = 0;
  plan->count = 0;
  snprintf(text, sizeof text, "%d", start);
  int32_t first;
  if (!commission_parseField(COMMISSION_ADDR, text, &first, error, errorSize)) return false;
  if (step < 0) {
    snprintf(text, sizeof text, "The step %d is negative: addresses go up from the start.", step);
    return refuse(error, errorSize, text);
  }
  if (count > COMMISSION_MAX) {
    snprintf(text, sizeof text, "%d devices: at most %d can be addressed at once.", count, COMMISSION_MAX);
    return refuse(error, errorSize, text);
  }
  // In 64 bits: a large step times many devices must not wrap round.
  const long long last = (long long)start + (long long)step * (count > 0 ? count - 1 : 0);
  if (last > COMMISSION_LAST_ADDR) {
    snprintf(text, sizeof text,
             "%d devices from %d in steps of %d would end at address %lld, past %d: nothing was written.",
             count, start, step, last, COMMISSION_LAST_ADDR);
    return refuse(error, errorSize, text);
  }
  for (int i = 0; i < count; i++) {
    const uint32_t u = uids[i];
    if (u == 0 || u > 0x7FFFFFFFu) {
      snprintf(text, sizeof text, "%X is not a device's UID.", (unsigned)u);
      return refuse(error, errorSize, text);
    }
    for (int k = 0; k < i; k++) {
      if (uids[k] == u) {
        snprintf(text, sizeof text, "%08X is named twice.", (unsigned)u);
        return refuse(error, errorSize, text);
      }
    }
  }
  for (int i = 0; i < count; i++) {
    CommissionTarget& t = plan->targets[i];
    t.uid = uids[i];
    t.line = 0;
    t.want = CommissionValues{};
    t.want.v[COMMISSION_ADDR] = start + step * i;
    t.want.has = 1u << COMMISSION_ADDR;
  }
  plan->count = count;
  return true;
}
