// The stand-in libusb-1.0 (see fake_libusb.h). It implements the libusb
// functions that libftdi1 1.5 imports and the few our backend calls itself,
// with libusb's documented semantics where libftdi1 depends on them, for
// every device plugged in, each on a port of its own:
//  - the device list holds references; a device stays valid (descriptors,
//    bus and address) while referenced, also after it was unplugged;
//  - opening needs permission on the device node (LIBUSB_ERROR_ACCESS);
//  - claiming fails with BUSY while another process (or another handle) or a
//    kernel driver holds the interface; with auto-detach on, claiming
//    detaches the kernel driver and releasing binds it again (closing
//    without releasing does not); a kernel driver is reported active only
//    when it is not usbfs, that is not while a program holds the interface;
//  - once the device is gone every transfer and claim fails with NO_DEVICE.
// The asynchronous API is present because libftdi1 imports it, but neither
// libftdi1's synchronous calls nor our backend use it: submitting fails,
// and a test that sees such a call in the records knows something changed.
#include "fake_libusb.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

struct libusb_context {
  int unused;
};

struct libusb_device {
  int refs;
  int generation;  // which plug-in it belongs to
  size_t slot;     // which device of the host
  uint8_t bus, address, port;
};

struct libusb_device_handle {
  libusb_device* dev;
  bool claimed;
  bool autoDetach;
  bool detachedDriver;  // this handle's claim detached the kernel driver
};

namespace {

const uint8_t kBus = 1;
const uint8_t kPort = 2;
const uint8_t kFirstAddress = 5;
const uint8_t kInterface = 0;
const uint8_t kConfiguration = 1;

// One device attached to the host, on a port of its own.
struct Slot {
  FakeUsbDevice* device = nullptr;
  uint8_t port = kPort;
  bool plugged = false;
  libusb_device* current = nullptr;  // the host's own reference while plugged
  FakeUsbFaults faults;
  bool driverBound = false;
  libusb_device_handle* claimant = nullptr;
  int configuration = kConfiguration;
};

struct Host {
  std::mutex mu;
  std::vector<Slot> slots;  // in the order attached; an unplugged one keeps its slot
  int generation = 0;
  uint8_t nextAddress = kFirstAddress;
  FakeUsbFaults faults;  // of the devices attached from now on
  int outstanding = 0;
  uint64_t (*now)() = nullptr;
  std::vector<FakeUsbCall> calls;
  std::map<std::thread::id, int> threads;
};

// Never destroyed: libftdi1 may still close handles while the process exits.
Host& host() {
  static Host* h = new Host;
  return *h;
}

uint64_t stamp() {
  uint64_t (*now)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(host().mu);
    now = host().now;
  }
  return now ? now() : 0;  // never under the lock: the clock may wait
}

int threadNumber(Host& h) {
  auto it = h.threads.find(std::this_thread::get_id());
  if (it != h.threads.end()) return it->second;
  const int n = (int)h.threads.size();
  h.threads[std::this_thread::get_id()] = n;
  return n;
}

// Appends a record; with the host lock held.
void recordLocked(Host& h, FakeUsbCall c) {
  c.thread = threadNumber(h);
  h.calls.push_back(std::move(c));
}

FakeUsbCall call(const char* fn, int result, uint64_t startUs, int arg = 0) {
  FakeUsbCall c;
  c.fn = fn;
  c.result = result;
  c.arg = arg;
  c.startUs = startUs;
  c.endUs = startUs;
  return c;
}

void record(FakeUsbCall c) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  recordLocked(h, std::move(c));
}

// A simple call: recorded with its result, no time passes.
int simple(const char* fn, int result, int arg = 0) {
  record(call(fn, result, stamp(), arg));
  return result;
}

void unrefLocked(libusb_device* d) {
  if (d && --d->refs == 0) delete d;
}

// The slot of a device reference. With the lock held.
Slot& slotOf(Host& h, const libusb_device* d) { return h.slots[d->slot]; }

// The device is the present one of its slot, and plugged in. With the lock held.
bool presentLocked(Host& h, const libusb_device* d) {
  if (!d || d->slot >= h.slots.size()) return false;
  const Slot& s = slotOf(h, d);
  return s.plugged && s.current && d->generation == s.current->generation;
}

// The kernel's serial driver is bound to a device plugged in, unless it is
// not loaded or a program already holds the interface through usbfs.
bool driverAtPlugIn(const FakeUsbFaults& f) { return f.kernelDriver && !f.claimedElsewhere; }

void plugInLocked(Host& h, size_t index) {
  Slot& s = h.slots[index];
  h.generation++;
  s.current = new libusb_device{1, h.generation, index, kBus, h.nextAddress++, s.port};
  s.plugged = true;
  s.driverBound = driverAtPlugIn(s.faults);
  s.claimant = nullptr;
  s.configuration = kConfiguration;
}

void pullOutLocked(Slot& s) {
  if (!s.plugged) return;
  s.plugged = false;
  s.claimant = nullptr;
  s.driverBound = false;
  unrefLocked(s.current);
  s.current = nullptr;
}

// The slot of `device`, or null.
Slot* slotOfDevice(Host& h, const FakeUsbDevice* device) {
  for (Slot& s : h.slots)
    if (s.device == device) return &s;
  return nullptr;
}

// The first device's slot, for the calls that name none.
Slot* firstSlot(Host& h) { return h.slots.empty() ? nullptr : &h.slots[0]; }

void setPluggedLocked(Host& h, Slot* s, bool plugged) {
  if (!s || plugged == s->plugged || !s->device) return;
  if (plugged)
    plugInLocked(h, (size_t)(s - h.slots.data()));
  else
    pullOutLocked(*s);
}

void setFaultsLocked(Slot& s, const FakeUsbFaults& faults) {
  s.faults = faults;
  if (!s.claimant) s.driverBound = s.plugged && driverAtPlugIn(faults);
}

// The kernel binds its serial driver to the interface, or lets go of it.
void bindDriverLocked(Host& h, Slot& s, bool bound, uint64_t at) {
  s.driverBound = bound;
  recordLocked(h, call(bound ? "kernel: attach ftdi_sio" : "kernel: detach ftdi_sio", 0, at));
}

// Counts an object libusb handed out (+1) or took back (-1).
void countOutstanding(int delta) {
  std::lock_guard<std::mutex> lock(host().mu);
  host().outstanding += delta;
}

// The device behind a reference (the host keeps its descriptors also once
// it is unplugged), or null.
FakeUsbDevice* attachedDevice(const libusb_device* d) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  return d && d->slot < h.slots.size() ? slotOf(h, d).device : nullptr;
}

// Whether a transfer on `handle` reaches the device (set in `device`): not
// once it is gone, and a bulk transfer (`needClaim`) only through the
// handle that claimed the interface: usbfs will not claim it behind a
// kernel driver or another program.
int reach(libusb_device_handle* handle, bool needClaim, FakeUsbDevice*& device) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  if (!presentLocked(h, handle->dev)) return LIBUSB_ERROR_NO_DEVICE;
  Slot& s = slotOf(h, handle->dev);
  device = s.device;
  if (needClaim && s.claimant != handle) return LIBUSB_ERROR_BUSY;
  return LIBUSB_SUCCESS;
}

// libusb's error codes with their names and libusb's own English texts.
struct ErrorText {
  int code;
  const char* name;
  const char* text;
};

const ErrorText kErrorTexts[] = {
    {LIBUSB_SUCCESS, "LIBUSB_SUCCESS", "Success"},
    {LIBUSB_ERROR_IO, "LIBUSB_ERROR_IO", "Input/Output Error"},
    {LIBUSB_ERROR_INVALID_PARAM, "LIBUSB_ERROR_INVALID_PARAM", "Invalid parameter"},
    {LIBUSB_ERROR_ACCESS, "LIBUSB_ERROR_ACCESS", "Access denied (insufficient permissions)"},
    {LIBUSB_ERROR_NO_DEVICE, "LIBUSB_ERROR_NO_DEVICE",
     "No such device (it may have been disconnected)"},
    {LIBUSB_ERROR_NOT_FOUND, "LIBUSB_ERROR_NOT_FOUND", "Entity not found"},
    {LIBUSB_ERROR_BUSY, "LIBUSB_ERROR_BUSY", "Resource busy"},
    {LIBUSB_ERROR_TIMEOUT, "LIBUSB_ERROR_TIMEOUT", "Operation timed out"},
    {LIBUSB_ERROR_OVERFLOW, "LIBUSB_ERROR_OVERFLOW", "Overflow"},
    {LIBUSB_ERROR_PIPE, "LIBUSB_ERROR_PIPE", "Pipe error"},
    {LIBUSB_ERROR_INTERRUPTED, "LIBUSB_ERROR_INTERRUPTED",
     "System call interrupted (perhaps due to signal)"},
    {LIBUSB_ERROR_NO_MEM, "LIBUSB_ERROR_NO_MEM", "Insufficient memory"},
    {LIBUSB_ERROR_NOT_SUPPORTED, "LIBUSB_ERROR_NOT_SUPPORTED",
     "Operation not supported or unimplemented on this platform"},
};
const ErrorText kOtherError = {LIBUSB_ERROR_OTHER, "LIBUSB_ERROR_OTHER", "Other error"};

const ErrorText& errorText(int code) {
  for (const ErrorText& e : kErrorTexts)
    if (e.code == code) return e;
  return kOtherError;
}

}  // namespace

// ---------------------------------------------------------------------------
// The tests' side.

void fakeusb_attach(FakeUsbDevice* device) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  for (Slot& s : h.slots) pullOutLocked(s);
  h.slots.clear();
  if (!device) return;
  h.slots.push_back(Slot{device, kPort, false, nullptr, h.faults, false, nullptr, kConfiguration});
  plugInLocked(h, 0);
}

void fakeusb_add(FakeUsbDevice* device) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const uint8_t port = (uint8_t)(kPort + h.slots.size());
  h.slots.push_back(Slot{device, port, false, nullptr, h.faults, false, nullptr, kConfiguration});
  plugInLocked(h, h.slots.size() - 1);
}

void fakeusb_setPlugged(bool plugged) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  setPluggedLocked(h, firstSlot(h), plugged);
}

void fakeusb_setDevicePlugged(const FakeUsbDevice* device, bool plugged) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  setPluggedLocked(h, slotOfDevice(h, device), plugged);
}

bool fakeusb_plugged() {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const Slot* s = firstSlot(h);
  return s && s->plugged;
}

bool fakeusb_devicePlugged(const FakeUsbDevice* device) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const Slot* s = slotOfDevice(h, device);
  return s && s->plugged;
}

void fakeusb_setFaults(const FakeUsbFaults& faults) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  h.faults = faults;
  for (Slot& s : h.slots) setFaultsLocked(s, faults);
}

void fakeusb_setDeviceFaults(const FakeUsbDevice* device, const FakeUsbFaults& faults) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  if (Slot* s = slotOfDevice(h, device)) setFaultsLocked(*s, faults);
}

bool fakeusb_kernelDriverBound() {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const Slot* s = firstSlot(h);
  return s && s->driverBound;
}

bool fakeusb_deviceDriverBound(const FakeUsbDevice* device) {
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const Slot* s = slotOfDevice(h, device);
  return s && s->driverBound;
}

void fakeusb_setTimeSource(uint64_t (*nowUs)()) {
  std::lock_guard<std::mutex> lock(host().mu);
  host().now = nowUs;
}

std::vector<FakeUsbCall> fakeusb_calls() {
  std::lock_guard<std::mutex> lock(host().mu);
  return host().calls;
}

void fakeusb_clearCalls() {
  std::lock_guard<std::mutex> lock(host().mu);
  host().calls.clear();
  host().threads.clear();
  threadNumber(host());  // the caller's thread is 0
}

int fakeusb_outstanding() {
  std::lock_guard<std::mutex> lock(host().mu);
  return host().outstanding;
}

bool fakeusb_isStandIn() { return true; }

// ---------------------------------------------------------------------------
// libusb-1.0.

int libusb_init(libusb_context** ctx) {
  if (ctx) {
    *ctx = new libusb_context{0};
    countOutstanding(+1);
  }
  return simple("libusb_init", LIBUSB_SUCCESS);
}

void libusb_exit(libusb_context* ctx) {
  if (ctx) {
    delete ctx;
    countOutstanding(-1);
  }
  simple("libusb_exit", 0);
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int n = 0;
  for (const Slot& s : h.slots) n += s.plugged ? 1 : 0;
  libusb_device** out = (libusb_device**)calloc((size_t)n + 1, sizeof *out);
  if (!out) return LIBUSB_ERROR_NO_MEM;
  int i = 0;
  for (Slot& s : h.slots)
    if (s.plugged) {
      out[i++] = s.current;
      s.current->refs++;
      h.outstanding++;
    }
  *list = out;
  recordLocked(h, call("libusb_get_device_list", n, t));
  return n;
}

void libusb_free_device_list(libusb_device** list, int unrefDevices) {
  if (!list) return;
  Host& h = host();
  {
    std::lock_guard<std::mutex> lock(h.mu);
    if (unrefDevices)
      for (libusb_device** d = list; *d; d++) {
        unrefLocked(*d);
        h.outstanding--;
      }
  }
  free(list);
  simple("libusb_free_device_list", 0, unrefDevices);
}

libusb_device* libusb_ref_device(libusb_device* dev) {
  {
    std::lock_guard<std::mutex> lock(host().mu);
    dev->refs++;
    host().outstanding++;
  }
  simple("libusb_ref_device", 0);
  return dev;
}

void libusb_unref_device(libusb_device* dev) {
  {
    Host& h = host();
    std::lock_guard<std::mutex> lock(h.mu);
    unrefLocked(dev);
    h.outstanding--;
  }
  simple("libusb_unref_device", 0);
}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
  FakeUsbDevice* device = attachedDevice(dev);
  if (!dev || !desc || !device) return simple("libusb_get_device_descriptor", LIBUSB_ERROR_INVALID_PARAM);
  *desc = device->usb_deviceDescriptor();  // cached by the host: also once unplugged
  return simple("libusb_get_device_descriptor", LIBUSB_SUCCESS);
}

int libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                 libusb_config_descriptor** config) {
  FakeUsbDevice* device = attachedDevice(dev);
  if (!dev || !config || !device || index != 0)
    return simple("libusb_get_config_descriptor", LIBUSB_ERROR_NOT_FOUND, index);
  // One configuration, one interface, a bulk IN and a bulk OUT endpoint, as
  // an FT232R reports them.
  libusb_endpoint_descriptor* ep = (libusb_endpoint_descriptor*)calloc(2, sizeof *ep);
  libusb_interface_descriptor* alt = (libusb_interface_descriptor*)calloc(1, sizeof *alt);
  libusb_interface* iface = (libusb_interface*)calloc(1, sizeof *iface);
  libusb_config_descriptor* c = (libusb_config_descriptor*)calloc(1, sizeof *c);
  if (!ep || !alt || !iface || !c) {
    free(ep);
    free(alt);
    free(iface);
    free(c);
    return simple("libusb_get_config_descriptor", LIBUSB_ERROR_NO_MEM, index);
  }
  const uint16_t packet = (uint16_t)device->usb_maxPacketSize();
  ep[0] = libusb_endpoint_descriptor{LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, 0x81,
                                     LIBUSB_TRANSFER_TYPE_BULK, packet, 0, 0, 0, nullptr, 0};
  ep[1] = libusb_endpoint_descriptor{LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, 0x02,
                                     LIBUSB_TRANSFER_TYPE_BULK, packet, 0, 0, 0, nullptr, 0};
  alt->bLength = LIBUSB_DT_INTERFACE_SIZE;
  alt->bDescriptorType = LIBUSB_DT_INTERFACE;
  alt->bInterfaceNumber = kInterface;
  alt->bNumEndpoints = 2;
  alt->bInterfaceClass = LIBUSB_CLASS_VENDOR_SPEC;
  alt->bInterfaceSubClass = 0xFF;
  alt->bInterfaceProtocol = 0xFF;
  alt->iInterface = 2;
  alt->endpoint = ep;
  iface->altsetting = alt;
  iface->num_altsetting = 1;
  c->bLength = LIBUSB_DT_CONFIG_SIZE;
  c->bDescriptorType = LIBUSB_DT_CONFIG;
  c->wTotalLength = LIBUSB_DT_CONFIG_SIZE + LIBUSB_DT_INTERFACE_SIZE + 2 * LIBUSB_DT_ENDPOINT_SIZE;
  c->bNumInterfaces = 1;
  c->bConfigurationValue = kConfiguration;
  c->bmAttributes = 0xA0;
  c->MaxPower = 45;
  c->interface = iface;
  *config = c;
  countOutstanding(+1);
  return simple("libusb_get_config_descriptor", LIBUSB_SUCCESS, index);
}

void libusb_free_config_descriptor(libusb_config_descriptor* c) {
  if (c) {
    free((void*)c->interface->altsetting->endpoint);
    free((void*)c->interface->altsetting);
    free((void*)c->interface);
    free(c);
    countOutstanding(-1);
  }
  simple("libusb_free_config_descriptor", 0);
}

uint8_t libusb_get_bus_number(libusb_device* dev) {
  simple("libusb_get_bus_number", dev->bus);
  return dev->bus;
}

uint8_t libusb_get_device_address(libusb_device* dev) {
  simple("libusb_get_device_address", dev->address);
  return dev->address;
}

uint8_t libusb_get_port_number(libusb_device* dev) {
  simple("libusb_get_port_number", dev->port);
  return dev->port;
}

libusb_device* libusb_get_device(libusb_device_handle* handle) {
  simple("libusb_get_device", 0);
  return handle->dev;
}

int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int rc = LIBUSB_SUCCESS;
  if (!presentLocked(h, dev))
    rc = LIBUSB_ERROR_NO_DEVICE;
  else if (slotOf(h, dev).faults.noPermission)
    rc = LIBUSB_ERROR_ACCESS;
  if (rc == LIBUSB_SUCCESS) {
    dev->refs++;
    *handle = new libusb_device_handle{dev, false, false, false};
    h.outstanding++;
  }
  recordLocked(h, call("libusb_open", rc, t));
  return rc;
}

void libusb_close(libusb_device_handle* handle) {
  if (!handle) return;
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  // The kernel drops the claim with the file; it does not bind its driver
  // again (only libusb_release_interface does, with auto-detach).
  if (handle->dev->slot < h.slots.size() && slotOf(h, handle->dev).claimant == handle)
    slotOf(h, handle->dev).claimant = nullptr;
  unrefLocked(handle->dev);
  delete handle;
  h.outstanding--;
  recordLocked(h, call("libusb_close", 0, t));
}

int libusb_get_configuration(libusb_device_handle* handle, int* config) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int rc = presentLocked(h, handle->dev) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
  if (rc == LIBUSB_SUCCESS) *config = slotOf(h, handle->dev).configuration;
  recordLocked(h, call("libusb_get_configuration", rc, t));
  return rc;
}

int libusb_set_configuration(libusb_device_handle* handle, int configuration) {
  const uint64_t t = stamp();
  Host& h = host();
  FakeUsbDevice* device = nullptr;
  int rc = LIBUSB_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(h.mu);
    if (!presentLocked(h, handle->dev)) {
      rc = LIBUSB_ERROR_NO_DEVICE;
    } else {
      const Slot& s = slotOf(h, handle->dev);
      if (s.driverBound || s.faults.claimedElsewhere || (s.claimant && s.claimant != handle))
        rc = LIBUSB_ERROR_BUSY;
      device = s.device;
    }
  }
  if (rc == LIBUSB_SUCCESS) rc = device->usb_setConfiguration(configuration);
  const uint64_t end = stamp();
  std::lock_guard<std::mutex> lock(h.mu);
  if (rc == LIBUSB_SUCCESS && presentLocked(h, handle->dev))
    slotOf(h, handle->dev).configuration = configuration;
  FakeUsbCall c = call("libusb_set_configuration", rc, t, configuration);
  c.endUs = end;
  recordLocked(h, c);
  return rc;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
  handle->autoDetach = enable != 0;
  return simple("libusb_set_auto_detach_kernel_driver", LIBUSB_SUCCESS, enable);
}

int libusb_kernel_driver_active(libusb_device_handle* handle, int iface) {
  Host& h = host();
  int rc;
  {
    std::lock_guard<std::mutex> lock(h.mu);
    rc = !presentLocked(h, handle->dev) ? LIBUSB_ERROR_NO_DEVICE
         : iface != kInterface        ? LIBUSB_ERROR_NOT_FOUND
                                      : (slotOf(h, handle->dev).driverBound ? 1 : 0);
  }
  return simple("libusb_kernel_driver_active", rc, iface);
}

int libusb_detach_kernel_driver(libusb_device_handle* handle, int iface) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int rc = LIBUSB_SUCCESS;
  if (!presentLocked(h, handle->dev))
    rc = LIBUSB_ERROR_NO_DEVICE;
  else if (iface != kInterface || !slotOf(h, handle->dev).driverBound)
    rc = LIBUSB_ERROR_NOT_FOUND;
  else if (slotOf(h, handle->dev).faults.driverStuck)
    rc = LIBUSB_ERROR_BUSY;
  recordLocked(h, call("libusb_detach_kernel_driver", rc, t, iface));
  if (rc == LIBUSB_SUCCESS) bindDriverLocked(h, slotOf(h, handle->dev), false, t);
  return rc;
}

int libusb_attach_kernel_driver(libusb_device_handle* handle, int iface) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int rc = LIBUSB_SUCCESS;
  if (!presentLocked(h, handle->dev))
    rc = LIBUSB_ERROR_NO_DEVICE;
  else if (iface != kInterface || !slotOf(h, handle->dev).faults.kernelDriver)
    rc = LIBUSB_ERROR_NOT_FOUND;
  else if (slotOf(h, handle->dev).driverBound || slotOf(h, handle->dev).claimant)
    rc = LIBUSB_ERROR_BUSY;
  recordLocked(h, call("libusb_attach_kernel_driver", rc, t, iface));
  if (rc == LIBUSB_SUCCESS) bindDriverLocked(h, slotOf(h, handle->dev), true, t);
  return rc;
}

int libusb_claim_interface(libusb_device_handle* handle, int iface) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  const bool present = presentLocked(h, handle->dev);
  Slot* s = present ? &slotOf(h, handle->dev) : nullptr;
  int rc = LIBUSB_SUCCESS;
  if (!present)
    rc = LIBUSB_ERROR_NO_DEVICE;
  else if (iface != kInterface)
    rc = LIBUSB_ERROR_NOT_FOUND;
  else if (s->claimant == handle)
    rc = LIBUSB_SUCCESS;
  else if (s->claimant || s->faults.claimedElsewhere)
    rc = LIBUSB_ERROR_BUSY;
  else if (s->driverBound && (!handle->autoDetach || s->faults.driverStuck))
    rc = LIBUSB_ERROR_BUSY;
  recordLocked(h, call("libusb_claim_interface", rc, t, iface));
  if (rc == LIBUSB_SUCCESS && s->claimant != handle) {
    if (s->driverBound) {
      bindDriverLocked(h, *s, false, t);
      handle->detachedDriver = true;
    }
    s->claimant = handle;
    handle->claimed = true;
  }
  return rc;
}

int libusb_release_interface(libusb_device_handle* handle, int iface) {
  const uint64_t t = stamp();
  Host& h = host();
  std::lock_guard<std::mutex> lock(h.mu);
  int rc = LIBUSB_SUCCESS;
  if (!handle->claimed || iface != kInterface)
    rc = LIBUSB_ERROR_NOT_FOUND;
  else if (!presentLocked(h, handle->dev))
    rc = LIBUSB_ERROR_NO_DEVICE;
  handle->claimed = false;
  Slot* s = presentLocked(h, handle->dev) ? &slotOf(h, handle->dev) : nullptr;
  if (s && s->claimant == handle) s->claimant = nullptr;
  recordLocked(h, call("libusb_release_interface", rc, t, iface));
  if (rc == LIBUSB_SUCCESS && handle->autoDetach && handle->detachedDriver &&
      s->faults.kernelDriver)
    bindDriverLocked(h, *s, true, t);
  handle->detachedDriver = false;
  return rc;
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int timeout) {
  const uint64_t t = stamp();
  FakeUsbDevice* device = nullptr;
  int rc = reach(handle, false, device);
  FakeUsbCall c = call("libusb_control_transfer", 0, t);
  c.requestType = requestType;
  c.request = request;
  c.value = value;
  c.index = index;
  c.length = length;
  const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
  if (!in && data && length) c.data.assign(data, data + length);
  if (rc == LIBUSB_SUCCESS)
    rc = device->usb_control(requestType, request, value, index, data, length, timeout);
  if (in && rc > 0) c.data.assign(data, data + rc);
  c.result = rc;
  c.endUs = stamp();
  record(std::move(c));
  return rc;
}

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* actual, unsigned int timeout) {
  const uint64_t t = stamp();
  FakeUsbDevice* device = nullptr;
  int rc = reach(handle, true, device);
  int moved = 0;
  if (rc == LIBUSB_SUCCESS) rc = device->usb_bulk(endpoint, data, length, &moved, timeout);
  if (actual) *actual = moved;
  FakeUsbCall c = call("libusb_bulk_transfer", rc, t, length);
  c.endpoint = endpoint;
  if (moved > 0) c.data.assign(data, data + moved);
  c.endUs = stamp();
  record(std::move(c));
  return rc;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                       unsigned char* data, int length) {
  const uint64_t t = stamp();
  FakeUsbDevice* device = nullptr;
  int rc = reach(handle, false, device);
  if (rc == LIBUSB_SUCCESS && (index == 0 || !data || length <= 0)) rc = LIBUSB_ERROR_INVALID_PARAM;
  if (rc == LIBUSB_SUCCESS) rc = device->usb_string(index, data, length);
  FakeUsbCall c = call("libusb_get_string_descriptor_ascii", rc, t, index);
  if (rc > 0) c.data.assign(data, data + rc);
  c.endUs = stamp();
  record(std::move(c));
  return rc;
}

libusb_transfer* libusb_alloc_transfer(int isoPackets) {
  const size_t size = sizeof(libusb_transfer) +
                      (size_t)(isoPackets > 0 ? isoPackets : 0) * sizeof(libusb_iso_packet_descriptor);
  libusb_transfer* t = (libusb_transfer*)calloc(1, size);
  if (t) countOutstanding(+1);
  simple("libusb_alloc_transfer", t ? 0 : LIBUSB_ERROR_NO_MEM, isoPackets);
  return t;
}

void libusb_free_transfer(libusb_transfer* t) {
  if (t) {
    if (t->flags & LIBUSB_TRANSFER_FREE_BUFFER) free(t->buffer);
    free(t);
    countOutstanding(-1);
  }
  simple("libusb_free_transfer", 0);
}

int libusb_submit_transfer(libusb_transfer*) {
  return simple("libusb_submit_transfer", LIBUSB_ERROR_NOT_SUPPORTED);
}

int libusb_cancel_transfer(libusb_transfer*) {
  return simple("libusb_cancel_transfer", LIBUSB_ERROR_NOT_FOUND);
}

int libusb_handle_events_timeout_completed(libusb_context*, struct timeval*, int*) {
  return simple("libusb_handle_events_timeout_completed", LIBUSB_SUCCESS);
}

int libusb_handle_events_timeout(libusb_context*, struct timeval*) {
  return simple("libusb_handle_events_timeout", LIBUSB_SUCCESS);
}

const char* libusb_error_name(int code) { return errorText(code).name; }

const char* libusb_strerror(int code) { return errorText(code).text; }
