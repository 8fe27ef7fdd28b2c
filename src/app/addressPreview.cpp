#include "app/addressPreview.h"

#include <cstdio>

#include "device/commission.h"

AddressPreviewKind addressPreview_summary(long start, long step, int count, char* text, int size) {
  text[0] = 0;
  if (count <= 0) return ADDRESS_PREVIEW_FINE;
  long long last;
  if (!commission_sequenceFits((int)start, (int)step, count, &last)) {
    snprintf(text, (size_t)size, "Would end at %lld, past %d.", last, (int)COMMISSION_LAST_ADDR);
    return ADDRESS_PREVIEW_PAST_END;
  }
  if (step == 0 && count > 1) {
    snprintf(text, (size_t)size, "Step 0: all %d devices would get address %ld.", count, start);
    return ADDRESS_PREVIEW_SAME_ADDRESS;
  }
  return ADDRESS_PREVIEW_FINE;
}

void addressPreview_row(long start, long step, int i, char* text, int size) {
  const long long at = commission_addressAt((int)start, (int)step, i);
  if (at > COMMISSION_LAST_ADDR)
    snprintf(text, (size_t)size, "%lld (past %d)", at, (int)COMMISSION_LAST_ADDR);
  else
    snprintf(text, (size_t)size, "%lld", at);
}
