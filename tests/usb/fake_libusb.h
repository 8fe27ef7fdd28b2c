// The stand-in libusb-1.0 for the USB-level tests: a shared library with the
// soname of the system's libusb (libusb-1.0.so.0), linked into the test
// programs ahead of it, so that Debian's libftdi1 and our backend talk to it
// unchanged. It plays the host's side: contexts, the device list and its
// descriptors, handles, configuration, claiming the interface, the kernel's
// serial driver, and the transfers, which it hands to the device they are
// for (FakeUsbDevice): one, or several each on a port of its own. It records
// every call, and has the host-side faults on demand, for all devices or
// one: a device unplugged, no permission, the interface claimed by another
// process, a kernel driver that will not let go. A second handle on a device
// (another libftdi context) is refused the interface its first claimed, as
// another process would be.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <string>
#include <vector>

// The device behind the stand-in. Transfers may take (virtual) time: the
// stand-in calls them without holding any lock of its own.
class FakeUsbDevice {
 public:
  virtual ~FakeUsbDevice() = default;
  virtual libusb_device_descriptor usb_deviceDescriptor() const = 0;
  // wMaxPacketSize of the bulk endpoints.
  virtual int usb_maxPacketSize() const = 0;
  // String descriptor `index` in ASCII, NUL-terminated in `cap` bytes: its
  // length, or a LIBUSB_ERROR_* code.
  virtual int usb_string(uint8_t index, unsigned char* out, int cap) = 0;
  // A standard SET_CONFIGURATION request.
  virtual int usb_setConfiguration(int configuration) = 0;
  // A vendor control transfer: bytes moved, or a LIBUSB_ERROR_* code.
  virtual int usb_control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                          unsigned char* data, uint16_t length, unsigned timeoutMs) = 0;
  // A bulk transfer on `endpoint` (bit 7 set: IN). Returns 0 or a
  // LIBUSB_ERROR_* code; `transferred` says how much moved either way.
  virtual int usb_bulk(unsigned char endpoint, unsigned char* data, int length, int* transferred,
                       unsigned timeoutMs) = 0;
};

// What the host's side can refuse.
struct FakeUsbFaults {
  bool noPermission = false;      // opening the device: LIBUSB_ERROR_ACCESS
  bool claimedElsewhere = false;  // another process holds the interface (no kernel driver then): BUSY
  bool kernelDriver = true;       // ftdi_sio is bound when the device is plugged in
  bool driverStuck = false;       // and cannot be detached: claiming fails with BUSY
};

// One recorded call, or one thing the host did by itself (the kernel
// driver detached or bound again: fn "kernel: detach ftdi_sio" / "kernel:
// attach ftdi_sio").
struct FakeUsbCall {
  int thread = 0;  // 0: the thread that cleared the records; 1.. the others, as they came
  std::string fn;
  int result = 0;
  uint8_t requestType = 0, request = 0;  // control transfers
  uint16_t value = 0, index = 0, length = 0;
  unsigned char endpoint = 0;  // bulk transfers
  int arg = 0;                 // interface, configuration, string index, flag
  std::vector<uint8_t> data;   // bytes sent (OUT) or returned (IN)
  uint64_t startUs = 0, endUs = 0;
};

// Plugs `device` in (it stays owned by the caller) as the only device; null
// leaves the bus empty. Plugging in enumerates afresh: a new device address,
// the kernel driver bound as the faults say.
void fakeusb_attach(FakeUsbDevice* device);
// Plugs another device in beside those attached, on the next port.
void fakeusb_add(FakeUsbDevice* device);
// Pulls a device out (its handles fail with NO_DEVICE from then on) or plugs
// it in again. Without a device: the first attached.
void fakeusb_setPlugged(bool plugged);
void fakeusb_setDevicePlugged(const FakeUsbDevice* device, bool plugged);
bool fakeusb_plugged();
bool fakeusb_devicePlugged(const FakeUsbDevice* device);
// Faults of every device attached, and of those attached later; or of one.
void fakeusb_setFaults(const FakeUsbFaults& faults);
void fakeusb_setDeviceFaults(const FakeUsbDevice* device, const FakeUsbFaults& faults);
bool fakeusb_kernelDriverBound();  // of the first device
bool fakeusb_deviceDriverBound(const FakeUsbDevice* device);
// Time stamps for the records (null: none).
void fakeusb_setTimeSource(uint64_t (*nowUs)());
std::vector<FakeUsbCall> fakeusb_calls();
void fakeusb_clearCalls();
// Contexts, device references, handles, configuration descriptors and
// transfers handed out and not yet given back.
int fakeusb_outstanding();
// The stand-in answers for libusb (a check that it was loaded instead of the
// system's library).
bool fakeusb_isStandIn();
