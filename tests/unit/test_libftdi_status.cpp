// What the libftdi1 backend makes of libftdi's answers, without USB: status
// codes per call, the error line, the D2XX chip type, the line format.
#include <gtest/gtest.h>

#include <ftdi.h>

#include <cstring>
#include <string>

#include "platform/libftdi_status.h"

TEST(LibftdiStatus, SameCodeMeansWhatThisCallMeans) {
  for (int call = 0; call < LIBFTDI_CALL_COUNT; call++) {
    EXPECT_EQ(libftdi_status((LibftdiCall)call, 0), FT_OK) << libftdi_callName((LibftdiCall)call);
    EXPECT_EQ(libftdi_status((LibftdiCall)call, 20), FT_OK) << "a byte count is success";
  }
  // -1: a rate the chip cannot make, but a failed bulk transfer for a write.
  EXPECT_EQ(libftdi_status(LIBFTDI_BAUD_RATE, -1), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(libftdi_status(LIBFTDI_WRITE, -1), FT_IO_ERROR);
  EXPECT_EQ(libftdi_status(LIBFTDI_LATENCY, -1), FT_INVALID_PARAMETER);
  // -5: the converter is held by someone else, but a failed USB listing.
  EXPECT_EQ(libftdi_status(LIBFTDI_OPEN_DEV, -5), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(libftdi_status(LIBFTDI_FIND_ALL, -5), FT_IO_ERROR);
  // -4: no permission to open it while listing or opening.
  EXPECT_EQ(libftdi_status(LIBFTDI_GET_STRINGS, -4), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(libftdi_status(LIBFTDI_OPEN_DEV, -8), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(libftdi_status(LIBFTDI_OPEN_DEV, -6), FT_IO_ERROR);
  // No device behind the context.
  EXPECT_EQ(libftdi_status(LIBFTDI_WRITE, -666), FT_INVALID_HANDLE);
  EXPECT_EQ(libftdi_status(LIBFTDI_BAUD_RATE, -3), FT_INVALID_HANDLE);
  EXPECT_EQ(libftdi_status(LIBFTDI_MODEM_STATUS, -2), FT_INVALID_HANDLE);
  EXPECT_EQ(libftdi_status(LIBFTDI_MODEM_STATUS, -1), FT_IO_ERROR);
  EXPECT_EQ(libftdi_status(LIBFTDI_NEW, -1), FT_INSUFFICIENT_RESOURCES);
}

TEST(LibftdiStatus, ErrorLineNamesTheFailedCallAndWhatToDo) {
  char line[400];
  EXPECT_STREQ(libftdi_errorLine(line, sizeof line, LIBFTDI_OPEN_DEV, -5,
                                 "unable to claim usb device. Make sure the default FTDI "
                                 "driver is not in use"),
               "libftdi: ftdi_usb_open_dev: unable to claim usb device. Make sure the default "
               "FTDI driver is not in use (-5); another program or the kernel's ftdi_sio driver "
               "holds the converter: close the other program, or unload the driver (sudo rmmod "
               "ftdi_sio)");
  EXPECT_STREQ(libftdi_errorLine(line, sizeof line, LIBFTDI_GET_STRINGS, -4, "libusb_open() failed"),
               "libftdi: ftdi_usb_get_strings2: libusb_open() failed (-4); no permission on the "
               "USB device: install the tern package (or copy data/70-tern-ftdi.rules into "
               "/etc/udev/rules.d/) and replug the cable");
  EXPECT_STREQ(libftdi_errorLine(line, sizeof line, LIBFTDI_BULK_READ, -4, "No such device"),
               "libusb: libusb_bulk_transfer: No such device (-4); the converter was unplugged");
  EXPECT_STREQ(libftdi_errorLine(line, sizeof line, LIBFTDI_BAUD_RATE, -2, nullptr),
               "libftdi: ftdi_set_baudrate: failed (-2)");
  char small[12];
  memset(small, 'x', sizeof small);
  libftdi_errorLine(small, sizeof small, LIBFTDI_WRITE, -1, "usb bulk write failed");
  EXPECT_EQ(std::string(small), "libftdi: ft");
}

TEST(LibftdiStatus, ChipTypeAsD2xxNumbersIt) {
  struct Case {
    uint16_t bcd;
    bool serial;
    DWORD type;
  } cases[] = {
      {0x0400, true, 0},  {0x0200, true, 1},  {0x0200, false, 0}, {0x0500, true, 4},
      {0x0600, true, 5},  {0x0700, true, 6},  {0x0800, true, 7},  {0x0900, true, 8},
      {0x1000, true, 9},  {0x0300, true, 3},  {0x1700, true, 3},  {0x0000, true, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(libftdi_chipType(c.bcd, c.serial), c.type) << std::hex << c.bcd << " " << c.serial;
}

TEST(LibftdiStatus, LineCharacteristicsReachLibftdiAsAsked) {
  int b = -1, s = -1, p = -1;
  ASSERT_TRUE(libftdi_lineProperty(FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE, b, s, p));
  EXPECT_EQ(b, BITS_8);
  EXPECT_EQ(s, STOP_BIT_2);
  EXPECT_EQ(p, NONE);
  ASSERT_TRUE(libftdi_lineProperty(FT_BITS_7, FT_STOP_BITS_1, 2, b, s, p));
  EXPECT_EQ(b, BITS_7);
  EXPECT_EQ(s, STOP_BIT_1);
  EXPECT_EQ(p, EVEN);
  ASSERT_TRUE(libftdi_lineProperty(FT_BITS_8, 1, 1, b, s, p));
  EXPECT_EQ(s, STOP_BIT_15);
  EXPECT_EQ(p, ODD);
  // Values D2XX does not define are refused, not mapped to something else.
  EXPECT_FALSE(libftdi_lineProperty(9, FT_STOP_BITS_2, FT_PARITY_NONE, b, s, p));
  EXPECT_FALSE(libftdi_lineProperty(FT_BITS_8, 3, FT_PARITY_NONE, b, s, p));
  EXPECT_FALSE(libftdi_lineProperty(FT_BITS_8, FT_STOP_BITS_2, 5, b, s, p));
}
