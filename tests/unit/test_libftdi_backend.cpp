// The real backend, on a machine with no converter attached.
#include <gtest/gtest.h>

#include <string>

#include "link/ftdi_port.h"
#include "platform/port_backend.h"

TEST(LibftdiBackend, ReportsLibftdiVersion) {
  ftd2xx_setBackend(nullptr);
  testing::internal::CaptureStdout();
  uint32_t v = printLibVersion();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(v >> 16, 1u) << "libftdi1 major version";
  char expect[64];
  snprintf(expect, sizeof expect, "Library version = 0x%x\n", v);
  EXPECT_EQ(out, expect);
}

TEST(LibftdiBackend, NoConverterListedAndOpenFails) {
  ftd2xx_setBackend(nullptr);
  if (readDevices() != 0) GTEST_SKIP() << "a converter is attached";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  printDeviceList();
  int r = openDevice(0);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, -1);
  EXPECT_EQ(getOpenDevice(), -1);
  if (err.find("Error: FT_ListDevices(") == std::string::npos) {
    // The listing worked and found nothing: the open fails on the empty row.
    EXPECT_EQ(out,
              "Number of devices is 0\n"
              "Error FT_OpenEx(2), device 0\n"
              "Use lsmod to check if ftdi_sio (and usbserial) are present.\n"
              "If so, unload them using rmmod, as they conflict with ftd2xx.\n");
  }
  uint8_t buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(getResponse(buf, 4), -2);
  EXPECT_EQ(sendData(buf, 4), -1);
}
