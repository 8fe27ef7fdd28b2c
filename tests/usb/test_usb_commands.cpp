// The configurator's commands through libftdi1 and the backend against the
// model chip: the same console and the same line as on the simulated port
// backend, the kernel's serial driver detached once for the whole session,
// and a cable pulled during a send.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "curve/curve.h"
#include "device/app_discovery.h"
#include "device/app_firmware.h"
#include "device/app_setup.h"
#include "link/cable.h"
#include "usb_bench.h"

namespace {

const uint32_t kSeed = 11;

// A firmware file of `size` bytes; removed with the object.
struct FirmwareFile {
  std::string path;
  explicit FirmwareFile(int size) {
    char tmpl[] = "/tmp/tern_usb_fw_XXXXXX";
    const int fd = mkstemp(tmpl);
    path = std::string(tmpl) + ".fw";
    FILE* f = fopen(path.c_str(), "wb");
    for (int i = 0; f && i < size; i++) fputc((i * 13 + 5) & 0xFF, f);
    if (f) fclose(f);
    if (fd >= 0) close(fd);
    unlink(tmpl);
  }
  ~FirmwareFile() { unlink(path.c_str()); }
};

// What a session leaves: the console, the line and the devices.
struct Session {
  std::string console;
  std::vector<SimTraceEntry> trace;
  std::string devices;
  int found = 0;
};

// Discovery, a settings read of the first device found, a curve sent to
// every device and a firmware update of the first, as the window runs them.
Session runSession(const std::string& firmware) {
  Session s;
  testing::internal::CaptureStdout();
  uint32_t found[10] = {0};
  s.found = app_discovery(found, 10);
  EXPECT_EQ(app_setup_read(found[0]), 1);
  CurveRecord rec;
  curve_presetLinear(&rec);
  curve_setName(&rec, "usb-model");
  EXPECT_EQ(app_setup_send_curve(0xFFFFFFFFu, &rec), APP_SETUP_CURVE_SENT);
  EXPECT_EQ(makeSendFile(firmware.c_str(), found[0]), FW_SENT);
  s.console = testing::internal::GetCapturedStdout();
  return s;
}

// A transmission as the devices and the configurator see it; the times
// depend on each backend's USB calls and are compared apart.
std::string describe(const SimTraceEntry& e) {
  std::string s(1, e.dir);
  s += e.withBreak ? " break" : " -";
  if (e.garbled) s += " garbled";
  if (e.dir == 'T' && e.withBreak) s += " low=" + std::to_string(e.breakLowUs);
  s += " :";
  char hex[4];
  for (uint8_t b : e.bytes) {
    snprintf(hex, sizeof hex, " %02X", b);
    s += hex;
  }
  return s;
}

int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

// From the end of each transmission to the break of the answer to it.
std::vector<uint64_t> turnarounds(const std::vector<SimTraceEntry>& trace) {
  std::vector<uint64_t> out;
  for (size_t i = 1; i < trace.size(); i++)
    if (trace[i].dir == 'R' && trace[i - 1].dir == 'T')
      out.push_back(trace[i].breakUs - trace[i - 1].endUs);
  return out;
}

}  // namespace

TEST(UsbCommands, DiscoverySettingsCurveAndFirmwareAsOnTheSimulatedLine) {
  FirmwareFile firmware(200);
  Session sim;
  uint64_t simUs = 0;
  {
    SimLine line;
    SimDevices devices(3, kSeed);
    devices.sim_attach(line);
    ftd2xx_setBackend(&line);
    dev_removeAll();
    packet_resetReceiver();
    const uint64_t t0 = clock_nowUs();
    sim = runSession(firmware.path);
    simUs = clock_nowUs() - t0;
    cable_free();
    line.sim_settle();
    sim.trace = line.sim_trace().trace_entries();
    sim.devices = devices.sim_stateJson();
    ftd2xx_setBackend(nullptr);
  }
  Session usb;
  uint64_t usbUs = 0;
  {
    UsbBench bench(3, kSeed);
    bench.chip.chip_setSerial("TSIM0001");  // the console names the converter
    const uint64_t t0 = clock_nowUs();
    usb = runSession(firmware.path);
    usbUs = clock_nowUs() - t0;
    usb.trace = bench.trace();
    usb.devices = bench.devices->sim_stateJson();
  }
  ASSERT_EQ(usb.found, 3);
  EXPECT_EQ(occurrences(usb.console, "  found="), 3) << usb.console;
  EXPECT_EQ(usb.console, sim.console);
  ASSERT_EQ(usb.trace.size(), sim.trace.size());
  for (size_t i = 0; i < sim.trace.size(); i++)
    ASSERT_EQ(describe(usb.trace[i]), describe(sim.trace[i])) << "transmission " << i;
  EXPECT_EQ(turnarounds(usb.trace), turnarounds(sim.trace));
  EXPECT_EQ(usb.devices, sim.devices) << "UIDs, muted flags, curve and firmware image";
  fprintf(stderr,
          "[figures] session: %.3f s virtual through libftdi, %.3f s on the simulated port, %zu "
          "transmissions; mark after the first break %u us and %u us\n",
          usbUs / 1e6, simUs / 1e6, usb.trace.size(), usb.trace[0].markUs, sim.trace[0].markUs);
}

namespace {

std::vector<std::string> kernelEvents() {
  std::vector<std::string> out;
  for (const FakeUsbCall& c : fakeusb_calls())
    if (c.fn.compare(0, 7, "kernel:") == 0) out.push_back(c.fn);
  return out;
}

}  // namespace

TEST(UsbCommands, SerialDriverDetachedOnceForTheSessionAndBoundAgainWhenDone) {
  UsbBench bench(3, kSeed);
  EXPECT_TRUE(fakeusb_kernelDriverBound());
  testing::internal::CaptureStdout();
  uint32_t found[10] = {0};
  EXPECT_EQ(app_discovery(found, 10), 3);
  EXPECT_FALSE(fakeusb_kernelDriverBound()) << "the converter stays claimed between commands";
  EXPECT_EQ(app_setup_read(found[0]), 1);
  EXPECT_EQ(app_setup_read(found[1]), 1);
  EXPECT_EQ(app_setup_read(found[2]), 1);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(occurrences(console, "Opened device FT5TERN1\n"), 4) << "every command opens the cable";
  EXPECT_FALSE(fakeusb_kernelDriverBound());
  EXPECT_EQ(kernelEvents(), std::vector<std::string>{"kernel: detach ftdi_sio"});
  EXPECT_EQ(usbCalls("libusb_claim_interface").size(), 1u);

  libftdi_releaseAll();  // the window closes
  EXPECT_TRUE(fakeusb_kernelDriverBound());
  EXPECT_EQ(kernelEvents(),
            (std::vector<std::string>{"kernel: detach ftdi_sio", "kernel: attach ftdi_sio"}));
  const std::vector<FakeUsbCall> calls = fakeusb_calls();
  ASSERT_FALSE(calls.empty());
  uint64_t lastTransfer = 0;
  for (const FakeUsbCall& c : calls)
    if (c.fn == "libusb_control_transfer" || c.fn == "libusb_bulk_transfer") lastTransfer = c.endUs;
  for (const FakeUsbCall& c : calls)
    if (c.fn == "kernel: attach ftdi_sio") {
      EXPECT_GE(c.startUs, lastTransfer);
    }
  EXPECT_EQ(fakeusb_outstanding(), 0) << "every libusb object handed out was given back";
}

TEST(UsbCommands, CablePulledDuringASendFailsItAndTheNextCommandFindsNoCable) {
  UsbBench bench(3, kSeed);
  CurveRecord rec;
  curve_presetLinear(&rec);
  std::string out, err;
  bench.chip.chip_unplugDuringFrame(3);  // the curve's second part
  EXPECT_EQ(capturingBoth([&] { return app_setup_send_curve(0xFFFFFFFFu, &rec); }, out, err),
            APP_SETUP_SEND_FAILED)  // "Sending the curve failed: the cable stopped answering."
      << out << err;
  EXPECT_NE(err.find("No such device"), std::string::npos) << err;
  EXPECT_FALSE(fakeusb_plugged());

  EXPECT_EQ(capturingBoth([&] { return app_setup_send_curve(0xFFFFFFFFu, &rec); }, out, err),
            APP_SETUP_NO_CABLE)  // "Cable not found!"
      << out << err;
  EXPECT_NE(out.find("Error FT_OpenEx(2), device 0\n"), std::string::npos) << out;
  EXPECT_EQ(fakeusb_outstanding(), 0) << "the pulled converter was given up";

  // Plugged in again, it is claimed afresh and the curve goes out.
  bench.chip.chip_plugIn();
  EXPECT_EQ(capturingBoth([&] { return app_setup_send_curve(0xFFFFFFFFu, &rec); }, out, err),
            APP_SETUP_CURVE_SENT)
      << out << err;
  EXPECT_EQ(bench.devices->sim_device(0).sim_curvesTaken(), 1);
  EXPECT_EQ(usbCalls("libusb_claim_interface").size(), 2u);
}

// Through the real backend: a converter another program has claimed is
// listed but cannot be opened, and the operator is told it is in use, not
// that there is no cable.
TEST(UsbCommands, ConverterClaimedElsewhereIsSaidToBeInUse) {
  FakeUsbFaults claimed;
  claimed.claimedElsewhere = true;
  UsbBench bench(3, kSeed, claimed);
  CurveRecord rec;
  curve_presetLinear(&rec);
  std::string out, err;
  EXPECT_EQ(capturingBoth([&] { return app_setup_send_curve(0xFFFFFFFFu, &rec); }, out, err),
            APP_SETUP_NO_CABLE)
      << out << err;
  EXPECT_EQ(std::string(cable_notFoundText()).rfind("The cable is in use by another program", 0), 0u)
      << cable_notFoundText();
  EXPECT_TRUE(bench.trace().empty());
}
