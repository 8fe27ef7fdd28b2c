// The simulated DMX line: a virtual FTDI converter behind the port API and
// the wire it drives. Bytes take wire time at the baud rate and line format
// in force; on the bus (sim_bus.h) a 0x00 that holds the line low long
// enough is a break, the outgoing stream is cut into break-delimited
// transmissions and offered to every responder on the line, unless the wire
// garbled them; answers come back as a break and bytes that become readable
// only when the clock reaches their arrival time, into a receive queue of
// finite size. Every call costs what its USB transfer costs.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "platform/port_backend.h"
#include "sim/sim_bus.h"
#include "sim/sim_json.h"
#include "sim/sim_trace.h"

// What the converter counted since it was made.
struct SimConverterCounters {
  int rxCapacity = 0;        // bytes the receive queue holds
  long rxOverflowBytes = 0;  // bytes that arrived while it was full, lost
  long transmissions = 0;    // from the converter, break-delimited
  long breaks = 0;           // breaks sent
  long framesGarbled = 0;    // transmissions the wire garbled
  long answers = 0;          // answers that came back (collisions count once)
};

class SimLine : public PortBackend {
 public:
  // What a call costs in virtual time. A full-speed USB transfer completes
  // in a 1 ms frame at the earliest, so every call that goes to the chip
  // (a control request: reset, baud rate, line format, modem status; a bulk
  // transfer: write, read) costs one round trip of 1 ms, and polling loops
  // advance the clock by that much per poll. Listing reads the string
  // descriptors and opening claims the interface: two round trips each.
  // Setting the timeouts stays in the driver.
  static constexpr uint32_t kUsbRoundTripUs = 1000;
  static constexpr uint32_t kListUs = 2 * kUsbRoundTripUs;
  static constexpr uint32_t kOpenUs = 2 * kUsbRoundTripUs;
  static constexpr uint32_t kDriverCallUs = 10;

  // The receive queue: 4096 bytes, the D2XX driver's default USB transfer
  // size, which is what the driver buffers for a program that does not
  // read. At 250000 baud that is 180 ms of continuous traffic.
  static constexpr int kDefaultRxCapacity = 4096;

  // Wire timing: the bus's.
  static constexpr uint32_t kIdleGapUs = SimBus::kIdleGapUs;
  static constexpr uint32_t kAnswerBreakLowUs = SimBus::kAnswerBreakLowUs;
  static constexpr uint32_t kAnswerMarkUs = SimBus::kAnswerMarkUs;
  static constexpr uint32_t kAnswerBreakUs = SimBus::kAnswerBreakUs;
  static constexpr uint32_t kDmxByteUs = SimBus::kDmxByteUs;

  SimLine();
  ~SimLine() override;

  // The converter as it is listed: serial number TSIM0001 unless given one.
  const char* sim_serial() const { return serial.c_str(); }
  const char* sim_description() const { return "Tern simulated DMX cable"; }
  // Set before the first open.
  void sim_setSerial(const std::string& s);
  // Claims the converter across processes from its first open until the
  // line is destroyed or given back idle (port_releaseIdle), as the libftdi
  // backend keeps a real converter claimed: while one line holds it, a line
  // of the same serial number elsewhere is refused (FT_DEVICE_NOT_OPENED)
  // and lists it in use. See sim_claim.h.
  void sim_claimAcrossProcesses(bool on);

  void sim_addResponder(SimResponder* r);
  void sim_clearResponders();

  // The receive queue's size in bytes (at least 1).
  void sim_setRxCapacity(int bytes);
  SimConverterCounters sim_counters() const;
  // The counters as a JSON object.
  SimJson sim_countersJson() const;
  // The UART settings in force.
  SimLineFormat sim_lineFormat() const;

  // Faults on demand.
  void sim_setPlugged(bool plugged);  // unplugged: listed as absent, every call fails
  void sim_setTransmitterStuck(bool stuck);  // the transmit queue never empties
  void sim_setHeldElsewhere(bool held);  // listed, but another program holds it: opens fail
  // Pulls the converter from the line once it has written `frames` more
  // frames (writes of more than one byte, so breaks do not count): a cable
  // that fails mid-send. Negative: never.
  void sim_unplugAfterFrames(long frames);
  void sim_dropAnswerByte(int index);       // drop byte `index` of the next answer
  void sim_corruptAnswerByte(int index);    // flip byte `index` of the next answer
  void sim_injectByte(uint64_t atUs, uint8_t b);  // a stray byte arrives at `atUs`

  // Offers any finished transmission to the responders now (end of a test,
  // end of a run).
  void sim_settle();
  SimTrace& sim_trace() { return bus.bus_trace(); }
  int sim_openCount() const { return opens; }

  // PortBackend
  DWORD port_libraryVersion() override;
  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count, bool probe) override;
  FT_STATUS port_open(const char* serial, FT_HANDLE* handle) override;
  FT_STATUS port_close(FT_HANDLE h) override;
  FT_STATUS port_reset(FT_HANDLE h) override;
  FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override;
  FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) override;
  FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                        UCHAR parity) override;
  FT_STATUS port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) override;
  FT_STATUS port_status(FT_HANDLE h, DWORD& rx, DWORD& tx, DWORD& event) override;
  FT_STATUS port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) override;
  void port_releaseIdle() override;

 private:
  // Checks the handle and settles the line at the present time. Callers
  // charge the call's cost first, outside the lock.
  FT_STATUS enter(FT_HANDLE h, uint64_t& now);
  void settleAt(uint64_t now);
  void arriveUntil(uint64_t now);
  void spoilIfSending();
  void writeByte(uint64_t start, uint8_t b);
  void clearRx();
  void unplugNow();  // under mu
  FT_HANDLE handle() { return (FT_HANDLE)this; }

  mutable std::mutex mu;
  std::string serial = "TSIM0001";
  bool claims = false;  // claimed across processes (sim_claimAcrossProcesses)
  int claimFd = -1;     // the claim, while held
  SimBus bus;  // the wire and the devices on it
  bool plugged = true;
  bool isOpen = false;
  bool stuck = false;
  bool held = false;
  long framesUntilUnplug = -1;
  int opens = 0;
  SimLineFormat format;  // a chip after power-up or reset: 9600 baud, 8N1
  ULONG readTimeoutMs = 0;
  uint64_t txBusyUntil = 0;
  std::deque<uint64_t> txEnds;   // end times of bytes not yet on the wire
  std::deque<uint8_t> rx;        // arrived: the receive queue
  int rxCapacity = kDefaultRxCapacity;
  long rxOverflowBytes = 0;
};
