// What the Address in sequence dialog says about the addresses its fields
// give, before anything is written: free of GTK. The refusal itself is the
// commissioning module's (commission_addressPlan); this only words what the
// operator sees while typing.
#pragma once

enum AddressPreviewKind {
  ADDRESS_PREVIEW_FINE,          // nothing to say
  ADDRESS_PREVIEW_SAME_ADDRESS,  // a step of 0: several devices would share one address
  ADDRESS_PREVIEW_PAST_END,      // the sequence would end past the last DMX address
};

enum { ADDRESS_PREVIEW_TEXT_SIZE = 128 };

// For `count` devices from `start` in steps of `step`: "Would end at 590,
// past 512.", "Step 0: all 5 devices would get address 100.", or "".
AddressPreviewKind addressPreview_summary(long start, long step, int count, char* text, int size);
// The address the i-th device (from 0) would get, as its preview row shows
// it: "27", or "528 (past 512)".
void addressPreview_row(long start, long step, int i, char* text, int size);
