// tern-cable-check's procedure through libftdi1 and the backend against the
// model chip: what it prints for a working cable, and for a cable that is
// not there, that the user may not open, or that another program holds.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

#include "link/cablecheck.h"
#include "usb_bench.h"

namespace {

const uint32_t kSeed = 7;

// Runs the check as tern-cable-check's main does (the check, then the
// converter given back); returns its exit status.
int runCheck(std::string& out, std::string& err, const CableCheckOptions& o = CableCheckOptions()) {
  testing::internal::CaptureStderr();
  FILE* f = tmpfile();
  const int status = cablecheck_run(f, o);
  libftdi_releaseAll();
  rewind(f);
  char buf[512];
  out.clear();
  while (fgets(buf, sizeof buf, f)) out += buf;
  fclose(f);
  err = testing::internal::GetCapturedStderr();
  return status;
}

// The step lines: "ok"/"FAIL", the call and the milliseconds it took.
struct Step {
  bool ok;
  std::string call;
  double ms;
};

std::vector<Step> steps(const std::string& out) {
  std::vector<Step> v;
  size_t at = 0;
  while (at < out.size()) {
    const size_t end = out.find('\n', at);
    const std::string l = out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    if (l.compare(0, 5, "ok   ") != 0 && l.compare(0, 5, "FAIL ") != 0) continue;
    std::string c = l.substr(5, 38);
    const size_t ms = l.find(" ms", 43);
    const size_t from = l.rfind(' ', ms - 1);
    v.push_back(Step{l[0] == 'o', c.substr(0, c.find_last_not_of(' ') + 1),
                     atof(l.substr(from + 1, ms - from - 1).c_str())});
  }
  return v;
}

int systemLibusbMapped(dl_phdr_info* info, size_t, void* found) {
  if (info->dlpi_name && strstr(info->dlpi_name, "libusb-1.0") &&
      !strstr(info->dlpi_name, "/fakeusb/"))
    *(bool*)found = true;
  return 0;
}

}  // namespace

TEST(UsbCableCheck, StandInIsTheLibusbThatLibftdiUses) {
  Dl_info info;
  ASSERT_NE(dladdr((void*)&libusb_bulk_transfer, &info), 0);
  EXPECT_NE(std::string(info.dli_fname).find("/fakeusb/libusb-1.0.so.0"), std::string::npos)
      << info.dli_fname;
  bool systemLibrary = false;
  dl_iterate_phdr(systemLibusbMapped, &systemLibrary);
  EXPECT_FALSE(systemLibrary) << "the system's libusb-1.0 was loaded as well";
  EXPECT_TRUE(fakeusb_isStandIn());
}

TEST(UsbCableCheck, EveryStepPassesAndTheDevicesAnswerTheProbe) {
  UsbBench bench(3, kSeed);
  std::string out, err;
  EXPECT_EQ(runCheck(out, err), 0) << out << err;
  EXPECT_EQ(err, "");
  EXPECT_NE(out.find("type 5 FT232R, ID 0x04036001, LocId 0x12, serial \"FT5TERN1\", \"FT232R "
                     "USB UART\"\n"),
            std::string::npos)
      << out;
  const std::vector<Step> s = steps(out);
  ASSERT_EQ(s.size(), 23u) << out;
  for (const Step& step : s) {
    EXPECT_TRUE(step.ok) << step.call;
    // Every call that goes to the chip takes a USB round trip or a few.
    if (step.call.compare(0, 14, "FT_SetBaudRate") == 0 || step.call.compare(0, 8, "FT_Write") == 0 ||
        step.call == "FT_SetDataCharacteristics(8, 2, 0)") {
      EXPECT_GE(step.ms, 1.0) << step.call;
      EXPECT_LT(step.ms, 1.1) << step.call;
    }
  }
  EXPECT_NE(out.find("1 byte received\n     received: 00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Every step succeeded"), std::string::npos);
  EXPECT_NE(out.find("a device on the line answered"), std::string::npos);

  // Release-all and the probe went out clean, and the three answers to the
  // probe came back as one break.
  const std::vector<SimTraceEntry> trace = bench.trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0].dir, 'T');
  EXPECT_EQ(trace[0].bytes.size(), 21u);
  EXPECT_EQ(trace[1].dir, 'T');
  EXPECT_EQ(trace[1].bytes.size(), 25u);
  EXPECT_FALSE(trace[0].garbled || trace[1].garbled);
  EXPECT_EQ(trace[2].dir, 'R');
  EXPECT_TRUE(trace[2].garbled) << "three devices at once";
  EXPECT_TRUE(fakeusb_kernelDriverBound()) << "the converter was given back";
  EXPECT_EQ(fakeusb_outstanding(), 0);
}

// On a fast host, status queries come quicker than the break leaves the
// wire: the check's own drain must still wait for it.
TEST(UsbCableCheck, PassesOnAFastHostWithoutSpoilingTheBreaks) {
  UsbBench bench(3, kSeed);
  bench.chip.chip_setRoundTripUs(250);
  std::string out, err;
  EXPECT_EQ(runCheck(out, err), 0) << out << err;
  EXPECT_NE(out.find("a device on the line answered"), std::string::npos) << out;
  EXPECT_EQ(bench.line.line_garbled(), 0);
}

TEST(UsbCableCheck, SaysWhichWhenUnpluggedWithoutPermissionOrHeld) {
  struct Case {
    const char* name;
    FakeUsbFaults faults;
    bool plugged;
    const char* says;   // on standard output
    const char* hint;   // on standard error
  };
  FakeUsbFaults noPermission, claimed, stuckDriver;
  noPermission.noPermission = true;
  claimed.claimedElsewhere = true;
  stuckDriver.driverStuck = true;
  const Case cases[] = {
      {"unplugged", FakeUsbFaults(), false, "0 converters\nNo converter found. What to check:\n",
       ""},
      {"no permission", noPermission, true,
       "\"\", \"\", cannot be opened\nConverter 0 could not be opened to read its serial number.\n",
       "libftdi: ftdi_usb_get_strings2: libusb_open() failed (-4); no permission on the USB "
       "device: install the tern package (or copy data/70-tern-ftdi.rules into "
       "/etc/udev/rules.d/) and replug the cable\n"},
      {"held by another program", claimed, true,
       "FAIL FT_OpenEx(\"FT5TERN1\", by serial)       FT_DEVICE_NOT_OPENED (3)",
       "(-5); another program or the kernel's ftdi_sio driver holds the converter: close the "
       "other program, or unload the driver (sudo rmmod ftdi_sio)\n"},
      {"ftdi_sio will not let go", stuckDriver, true,
       "FAIL FT_OpenEx(\"FT5TERN1\", by serial)       FT_DEVICE_NOT_OPENED (3)",
       "(-5); another program or the kernel's ftdi_sio driver holds the converter"},
  };
  for (const Case& c : cases) {
    UsbBench bench(3, kSeed, c.faults);
    if (!c.plugged) bench.chip.chip_unplug();
    std::string out, err;
    EXPECT_EQ(runCheck(out, err), 1) << c.name;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.name << "\n" << out;
    if (*c.hint)
      EXPECT_NE(err.find(c.hint), std::string::npos) << c.name << "\n" << err;
    else
      EXPECT_EQ(err, "") << c.name;
    EXPECT_EQ(out.find("FT_ResetDevice"), std::string::npos) << c.name << ": stopped at once";
    EXPECT_TRUE(bench.trace().empty()) << c.name << ": nothing went on the line";
    EXPECT_EQ(fakeusb_outstanding(), 0) << c.name;
    EXPECT_EQ(fakeusb_kernelDriverBound(), c.plugged && !c.faults.claimedElsewhere)
        << c.name << ": ftdi_sio keeps the converter, unless another program holds it";
  }
}

TEST(UsbCableCheck, ChecksTheConverterNamedByItsSerialNumber) {
  UsbBench bench(3, kSeed);
  UsbChip& second = bench.plugInAnother("FT5TERN2", 2, kSeed);
  CableCheckOptions o;
  o.cable = "FT5TERN2";
  std::string out, err;
  EXPECT_EQ(runCheck(out, err, o), 0) << out << err;
  EXPECT_NE(out.find("FT_OpenEx(\"FT5TERN2\", by serial)"), std::string::npos) << out;
  EXPECT_EQ(second.line.line_transmissions(), 2) << "release-all and the probe";
  EXPECT_TRUE(bench.trace().empty());

  o.cable = "FT5NOPE";
  EXPECT_EQ(runCheck(out, err, o), 1);
  EXPECT_NE(out.find("No converter has the serial number FT5NOPE. Attached: FT5TERN1, FT5TERN2.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("FT_OpenEx"), std::string::npos);
}
