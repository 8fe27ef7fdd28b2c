// The status line's report of Quick discovery and Find new devices, and the
// messages it must leave to their boxes.
#include <gtest/gtest.h>

#include "app/statusLine.h"
#include "device/bridge.h"

TEST(StatusLine, TakesOnlyTheReportOfTheDiscoveryItWaitsFor) {
  statusLine_discoveryStarted(DISCOVERY_QUICK);
  EXPECT_FALSE(statusLine_take(BRIDGE_ERROR, "3 devices found.")) << "an error stays a box, whatever it says";
  EXPECT_FALSE(statusLine_take(BRIDGE_INFO, "3 new devices found.")) << "another mode's report";
  EXPECT_FALSE(statusLine_take(BRIDGE_INFO, "3 devices found. Or so")) << "another text";
  ASSERT_TRUE(statusLine_take(BRIDGE_INFO, "3 devices found."));
  EXPECT_STREQ(statusLine_text(), "Quick discovery: 3 devices found.");

  statusLine_discoveryStarted(DISCOVERY_NEW);
  EXPECT_STREQ(statusLine_text(), "") << "a discovery that starts clears the line";
  ASSERT_TRUE(statusLine_take(BRIDGE_INFO, "0 new devices found."));
  EXPECT_STREQ(statusLine_text(), "Find new devices: 0 new devices found.");

  statusLine_discoveryStarted(DISCOVERY_FULL);
  EXPECT_FALSE(statusLine_take(BRIDGE_INFO, "3 devices found.")) << "Discovery's report stays a box";
}

TEST(StatusLine, TakesTheReportOfAStoppedRunOfTheDiscoveryItWaitsFor) {
  statusLine_discoveryStarted(DISCOVERY_QUICK);
  EXPECT_FALSE(statusLine_take(BRIDGE_INFO, "Stopped: 2 devices found. And more")) << "another text";
  ASSERT_TRUE(statusLine_take(BRIDGE_INFO, "Stopped: 2 devices found."));
  EXPECT_STREQ(statusLine_text(), "Quick discovery: Stopped: 2 devices found.");
  statusLine_discoveryStarted(DISCOVERY_NEW);
  ASSERT_TRUE(statusLine_take(BRIDGE_INFO, "Stopped: 1 device found."));
  EXPECT_STREQ(statusLine_text(), "Find new devices: Stopped: 1 device found.");
  statusLine_discoveryStarted(DISCOVERY_FULL);
  EXPECT_FALSE(statusLine_take(BRIDGE_INFO, "Stopped: 4 devices found.")) << "Discovery's report stays a box";
}
