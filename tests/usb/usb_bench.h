// The bench of the USB-level tests: a model FT232R plugged into the
// stand-in libusb, its line with the simulator's virtual devices, and the
// port API on the libftdi1 backend; more chips, each with a line of its own,
// on demand. At the end no cable is chosen any more, the backend gives the
// converters back (as the programs do at exit) and the chips are unplugged.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/devices.h"
#include "fake_libusb.h"
#include "ft232r_model.h"
#include "link/cable.h"
#include "link/cables.h"
#include "platform/clock.h"
#include "platform/libftdi_backend.h"
#include "platform/port_backend.h"
#include "protocol/packet_parser.h"
#include "protocol/packet_structures.h"
#include "sim/sim_device.h"
#include "usb_line.h"

// A chip with its own line and `count` virtual devices made from `seed`.
struct UsbChip {
  UsbLine line;
  Ft232rModel chip{line};
  std::unique_ptr<SimDevices> devices;
  UsbChip(const std::string& serial, int count, uint32_t seed) {
    chip.chip_setSerial(serial);
    devices.reset(new SimDevices(count, seed));
    for (int i = 0; i < count; i++) line.line_addResponder(&devices->sim_device(i));
  }
};

class UsbBench {
 public:
  UsbLine line;
  Ft232rModel chip{line};
  std::unique_ptr<SimDevices> devices;
  std::vector<std::unique_ptr<UsbChip>> others;

  // `count` virtual devices made from `seed`, as tern-curve-sim makes them.
  explicit UsbBench(int count = 0, uint32_t seed = 1, const FakeUsbFaults& faults = FakeUsbFaults()) {
    if (count > 0) {
      devices.reset(new SimDevices(count, seed));
      for (int i = 0; i < count; i++) line.line_addResponder(&devices->sim_device(i));
    }
    clock_takePart();
    fakeusb_setTimeSource(clock_nowUs);
    fakeusb_setFaults(faults);
    fakeusb_attach(&chip);
    fakeusb_clearCalls();
    ftd2xx_setBackend(nullptr);  // the libftdi1 backend
    dev_removeAll();
    packet_resetReceiver();
  }
  ~UsbBench() {
    cable_free();
    cables_choose(nullptr);
    libftdi_releaseAll();
    fakeusb_attach(nullptr);
    fakeusb_setFaults(FakeUsbFaults());
  }
  // Plugs in another chip beside those on the bench.
  UsbChip& plugInAnother(const std::string& serial, int count, uint32_t seed) {
    others.emplace_back(new UsbChip(serial, count, seed));
    fakeusb_add(&others.back()->chip);
    return *others.back();
  }
  UsbBench(const UsbBench&) = delete;
  UsbBench& operator=(const UsbBench&) = delete;

  // The transmissions on the line so far.
  std::vector<SimTraceEntry> trace(char dir = 0) {
    chip.chip_settle();
    return dir ? line.line_trace().trace_entries(dir) : line.line_trace().trace_entries();
  }
};

// The recorded calls to `fn`, or all of them.
inline std::vector<FakeUsbCall> usbCalls(const char* fn = nullptr) {
  std::vector<FakeUsbCall> out;
  for (const FakeUsbCall& c : fakeusb_calls())
    if (!fn || c.fn == fn) out.push_back(c);
  return out;
}

// The recorded vendor control transfers of one request.
inline std::vector<FakeUsbCall> controlCalls(uint8_t request) {
  std::vector<FakeUsbCall> out;
  for (const FakeUsbCall& c : usbCalls("libusb_control_transfer"))
    if (c.request == request) out.push_back(c);
  return out;
}

// The converter opened and set up straight through the port API, as
// tern-cable-check does.
inline FT_HANDLE openConfigured(const char* serial = "FT5TERN1") {
  FT_HANDLE h = nullptr;
  EXPECT_EQ(FT_OpenEx((void*)serial, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  EXPECT_EQ(FT_ResetDevice(h), FT_OK);
  EXPECT_EQ(FT_SetTimeouts(h, 1, 0), FT_OK);
  EXPECT_EQ(FT_SetBaudRate(h, 250000), FT_OK);
  EXPECT_EQ(FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE), FT_OK);
  return h;
}

// The probe of address 0, which every device answers with a break.
inline Packet probeOfZero() {
  Packet p;
  memset(&p, 0, sizeof p);
  packet_fillHeader(&p, PACKET_BROADCAST);
  const uint8_t payload[] = {PACKET_CLASS_DISCOVERY, 0x02, 0, 0, 0, 0};
  packet_fillData(&p, payload, sizeof payload);
  packet_fillCrc(&p);
  return p;
}

// Runs f with standard output and standard error captured.
template <typename F>
auto capturingBoth(F f, std::string& out, std::string& err) -> decltype(f()) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  auto r = f();
  out = testing::internal::GetCapturedStdout();
  err = testing::internal::GetCapturedStderr();
  return r;
}
