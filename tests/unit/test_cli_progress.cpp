// tern's progress line: the phase, what is done, the time so far, and the
// time left at the pace so far, only once there is a pace to go by.
#include <gtest/gtest.h>

#include "cli/cli_progress.h"

TEST(CliProgress, SaysThePhaseTheCountTheTimeAndTheTimeLeft) {
  char text[128];
  progress_text(text, sizeof text, "address", "device", 0, 200, 3000000);
  EXPECT_STREQ(text, "address: 0 of 200 devices, 0:03") << "no pace yet: no time left";
  progress_text(text, sizeof text, "address", "device", 41, 200, 35000000);
  EXPECT_STREQ(text, "address: 41 of 200 devices, 0:35, about 2:15 left");
  progress_text(text, sizeof text, "firmware", "block", 1, 1, 4000000);
  EXPECT_STREQ(text, "firmware: 1 of 1 block, 0:04");
  progress_estimateText(text, sizeof text, "discovery", 43, 200, 3725000000ull);
  EXPECT_STREQ(text, "discovery: 43 found of about 200, 1:02:05, about 3:46:40 left");
  progress_estimateText(text, sizeof text, "discovery", 3, 3, 20000000);
  EXPECT_STREQ(text, "discovery: 3 found, 0:20") << "an estimate reached is no estimate";
}
