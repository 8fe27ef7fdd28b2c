// Reads arbitrary bytes as a commissioning file. Whatever the bytes, the
// file is either refused whole (no device in the plan, the fault named by
// its line) or read into a plan that holds only what a device may be
// given: distinct device UIDs, in the order of their lines, and values
// within the setup dialog's ranges, down never above up.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/commission_csv.h"

namespace {

bool within(const CommissionTarget& t, int field, int lo, int hi) {
  return !(t.want.has >> field & 1u) || (t.want.v[field] >= lo && t.want.v[field] <= hi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CommissionPlan plan;
  char error[COMMISSION_TEXT_SIZE];
  if (!commission_csvRead((const char*)data, size, &plan, error, sizeof error)) {
    if (plan.count != 0 || strncmp(error, "line ", 5) != 0) abort();
    return 0;
  }
  if (plan.count < 0 || plan.count > COMMISSION_MAX) abort();
  for (int i = 0; i < plan.count; i++) {
    const CommissionTarget& t = plan.targets[i];
    if (t.uid == 0 || t.uid > 0x7FFFFFFFu || t.line < 2) abort();
    if (i > 0 && t.line <= plan.targets[i - 1].line) abort();
    for (int k = 0; k < i; k++)
      if (plan.targets[k].uid == t.uid) abort();
    if (t.want.has >> COMMISSION_FIELDS) abort();
    if (!within(t, COMMISSION_ADDR, 1, 512) || !within(t, COMMISSION_BACKLIGHT, 0, 100) ||
        !within(t, COMMISSION_LIMIT_UP, 0, 255) || !within(t, COMMISSION_LIMIT_DOWN, 0, 255) ||
        !within(t, COMMISSION_SLEEP, 0, 255) || !within(t, COMMISSION_LOSS, 0, 255))
      abort();
    const unsigned both = 1u << COMMISSION_LIMIT_UP | 1u << COMMISSION_LIMIT_DOWN;
    if ((t.want.has & both) == both && t.want.v[COMMISSION_LIMIT_DOWN] > t.want.v[COMMISSION_LIMIT_UP]) abort();
  }
  return 0;
}
