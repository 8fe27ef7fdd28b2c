// What the Address in sequence dialog says of the addresses its fields
// give, before anything is written.
#include <gtest/gtest.h>

#include "app/addressPreview.h"

TEST(AddressPreview, WordsTheSequenceBeforeAnythingIsWritten) {
  char text[ADDRESS_PREVIEW_TEXT_SIZE];
  EXPECT_EQ(addressPreview_summary(484, 7, 5, text, sizeof text), ADDRESS_PREVIEW_FINE) << "ends at 512";
  EXPECT_STREQ(text, "");
  EXPECT_EQ(addressPreview_summary(485, 7, 5, text, sizeof text), ADDRESS_PREVIEW_PAST_END);
  EXPECT_STREQ(text, "Would end at 513, past 512.");
  // A large step times many devices does not wrap round below 512.
  EXPECT_EQ(addressPreview_summary(1, 511, 200, text, sizeof text), ADDRESS_PREVIEW_PAST_END);
  EXPECT_STREQ(text, "Would end at 101690, past 512.");

  EXPECT_EQ(addressPreview_summary(100, 0, 5, text, sizeof text), ADDRESS_PREVIEW_SAME_ADDRESS);
  EXPECT_STREQ(text, "Step 0: all 5 devices would get address 100.");
  EXPECT_EQ(addressPreview_summary(100, 0, 1, text, sizeof text), ADDRESS_PREVIEW_FINE) << "one device alone";

  addressPreview_row(500, 7, 1, text, sizeof text);
  EXPECT_STREQ(text, "507");
  addressPreview_row(500, 7, 4, text, sizeof text);
  EXPECT_STREQ(text, "528 (past 512)");
}
