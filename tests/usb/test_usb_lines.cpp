// Several lines, each with its own cable, through libftdi1 and the backend
// against model chips: the chosen converter alone carries the commands and
// is the only one held, the listing tells free, ours, held by another
// program and no permission apart without taking a converter from its
// kernel driver, an unknown serial number is refused naming those attached,
// and a chip pulled out leaves a run on another undisturbed.
#include <gtest/gtest.h>

#include <ftdi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/app_discovery.h"
#include "device/app_setup.h"
#include "usb_bench.h"

namespace {

// The UIDs found by a discovery on the chosen cable, in UID order.
std::vector<uint32_t> discover() {
  uint32_t found[20] = {0};
  testing::internal::CaptureStdout();
  const int n = app_discovery(found, 20);
  testing::internal::GetCapturedStdout();
  std::vector<uint32_t> v(found, found + std::max(n, 0));
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<uint32_t> uidsOf(SimDevices& d) {
  std::vector<uint32_t> v;
  for (int i = 0; i < d.sim_count(); i++) v.push_back(d.sim_device(i).sim_uid());
  std::sort(v.begin(), v.end());
  return v;
}

// "serial state" of every converter listed, "*" after the chosen one.
std::vector<std::string> listing() {
  CableEntry e[8];
  testing::internal::CaptureStderr();
  const int n = cables_list(e, 8);
  testing::internal::GetCapturedStderr();
  std::vector<std::string> v;
  for (int i = 0; i < n; i++)
    v.push_back(std::string(e[i].serial) + " " + cables_stateName(e[i].state) + (e[i].chosen ? " *" : ""));
  return v;
}

// Another program's libftdi context holding a converter, as another Tern does.
struct OtherProgram {
  ftdi_context* ctx = ftdi_new();
  int open(const char* serial) {
    ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    return ftdi_usb_open_desc(ctx, 0x0403, 0x6001, nullptr, serial);
  }
  ~OtherProgram() {
    ftdi_usb_close(ctx);
    ftdi_free(ctx);
  }
};

// Pulls a chip out when its line has carried `at` transmissions.
class PullOut : public SimResponder {
 public:
  PullOut(Ft232rModel& chip, int at) : chip(chip), at(at) {}
  bool sim_respond(const uint8_t*, int, uint64_t, SimAnswer&) override {
    if (++seen == at) chip.chip_unplug();
    return false;
  }

 private:
  Ft232rModel& chip;
  int at;
  int seen = 0;
};

}  // namespace

TEST(UsbLines, TheChosenCableAloneCarriesTheCommandsAndIsTheOnlyOneHeld) {
  UsbBench bench(3, 11);
  UsbChip& second = bench.plugInAnother("FT5TERN2", 2, 12);

  cables_choose("FT5TERN2");
  EXPECT_EQ(discover(), uidsOf(*second.devices));
  EXPECT_TRUE(bench.trace().empty()) << "nothing reached the first line";
  EXPECT_FALSE(fakeusb_deviceDriverBound(&second.chip));
  EXPECT_TRUE(fakeusb_deviceDriverBound(&bench.chip)) << "the other converter was left to ftdi_sio";

  // Another line chosen: the converter of the first is given back.
  const long carried = second.line.line_transmissions();
  cables_choose("FT5TERN1");
  EXPECT_TRUE(fakeusb_deviceDriverBound(&second.chip));
  EXPECT_EQ(discover(), uidsOf(*bench.devices));
  EXPECT_EQ(second.line.line_transmissions(), carried);
}

TEST(UsbLines, ListingTellsWhoHoldsEachConverterWithoutTakingAny) {
  UsbBench bench(0);
  UsbChip& second = bench.plugInAnother("FT5TERN2", 0, 1);
  UsbChip& third = bench.plugInAnother("FT5TERN3", 0, 1);
  OtherProgram other;
  ASSERT_EQ(other.open("FT5TERN2"), 0) << ftdi_get_error_string(other.ctx);
  FakeUsbFaults noPermission;
  noPermission.noPermission = true;
  fakeusb_setDeviceFaults(&third.chip, noPermission);

  fakeusb_clearCalls();
  EXPECT_EQ(listing(), (std::vector<std::string>{"FT5TERN1 free *", "FT5TERN2 in-use", " no-permission"}));
  EXPECT_TRUE(fakeusb_deviceDriverBound(&bench.chip)) << "listing left ftdi_sio in place";
  EXPECT_TRUE(usbCalls("kernel: detach ftdi_sio").empty());

  // Ours once a command has opened it; the other program cannot have it.
  std::string out, err;  // libftdi names the converter it may not open
  EXPECT_GE(capturingBoth([] { return cable_open(); }, out, err), 0);
  cable_free();
  EXPECT_EQ(listing(), (std::vector<std::string>{"FT5TERN1 here *", "FT5TERN2 in-use", " no-permission"}));
  OtherProgram late;
  EXPECT_EQ(late.open("FT5TERN1"), -5);

  // The converter another program holds is said to be in use, by name.
  cables_choose("FT5TERN2");
  EXPECT_LT(capturingBoth([] { return cable_open(); }, out, err), 0);
  EXPECT_EQ(std::string(cable_notFoundText()).rfind("The cable FT5TERN2 is in use by another program", 0), 0u)
      << cable_notFoundText();
  EXPECT_TRUE(second.line.line_trace().trace_entries().empty());
}

TEST(UsbLines, UnknownSerialIsRefusedNamingThoseAttached) {
  UsbBench bench(3, 11);
  bench.plugInAnother("FT5TERN2", 2, 12);
  cables_choose("FT5NOPE");
  std::string out, err;
  EXPECT_LT(capturingBoth([] { return cable_open(); }, out, err), 0);
  EXPECT_EQ(out, "Error: no converter with serial number FT5NOPE\n");
  EXPECT_STREQ(cable_notFoundText(), "Cable FT5NOPE not found! Attached: FT5TERN1, FT5TERN2.");
  EXPECT_TRUE(usbCalls("libusb_claim_interface").empty()) << "no converter was taken instead";
}

TEST(UsbLines, AChipPulledOutLeavesARunOnAnotherUndisturbed) {
  UsbBench bench(2, 11);
  UsbChip& second = bench.plugInAnother("FT5TERN2", 3, 12);
  bench.plugInAnother("FT5TERN3", 2, 13);
  PullOut pull(bench.chip, 20);  // the first chip, during the discovery
  second.line.line_addResponder(&pull);
  cables_choose("FT5TERN2");

  const std::vector<uint32_t> found = discover();
  EXPECT_FALSE(fakeusb_devicePlugged(&bench.chip));
  EXPECT_EQ(found, uidsOf(*second.devices));
  testing::internal::CaptureStdout();
  for (uint32_t uid : found) EXPECT_EQ(app_setup_read(uid), 1) << std::hex << uid;
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(usbCalls("libusb_claim_interface").size(), 1u) << "claimed once for the whole run";
  EXPECT_EQ(second.line.line_garbled(), 0);
  EXPECT_EQ(listing(), (std::vector<std::string>{"FT5TERN2 here *", "FT5TERN3 free"}));
}
