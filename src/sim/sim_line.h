// The simulated DMX line: a virtual FTDI converter behind the port API and
// the wire it drives. Bytes take wire time at the baud rate in force; a 0x00
// written at a low rate is a break; the outgoing stream is cut into
// break-delimited transmissions and offered to every responder on the line;
// answers come back as a break and bytes that become readable only when the
// clock reaches their arrival time. Every call costs a USB round trip.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/port_backend.h"
#include "sim/sim_trace.h"

// What a responder sends back to one transmission.
struct SimAnswer {
  enum { MAX_BYTES = 300 };
  uint32_t delayUs = 2000;  // turnaround after the end of the transmission
  uint8_t bytes[MAX_BYTES];
  int count = 0;  // bytes after the break; 0 answers with the break alone
};

// A device on the line. It sees every complete transmission that was not
// garbled on the wire, as the bytes that followed its break.
class SimResponder {
 public:
  virtual ~SimResponder() = default;
  // Returns true and fills `answer` to answer this transmission.
  virtual bool sim_respond(const uint8_t* data, int count, uint64_t endUs, SimAnswer& answer) = 0;
};

class SimLine : public PortBackend {
 public:
  // Wire timing.
  static constexpr uint32_t kUsbRoundTripUs = 100;
  static constexpr uint32_t kIdleGapUs = 1000;     // silence that ends a transmission
  static constexpr uint32_t kAnswerBreakUs = 200;  // received break plus mark after break
  static constexpr uint32_t kDmxByteUs = 44;       // 11 bits at 250000 baud

  SimLine();

  // The converter as it is listed.
  const char* sim_serial() const { return "TSIM0001"; }
  const char* sim_description() const { return "Tern simulated DMX cable"; }

  void sim_addResponder(SimResponder* r);
  void sim_clearResponders();

  // Faults on demand.
  void sim_setPlugged(bool plugged);  // unplugged: listed as absent, every call fails
  void sim_setTransmitterStuck(bool stuck);  // the transmit queue never empties
  void sim_dropAnswerByte(int index);       // drop byte `index` of the next answer
  void sim_corruptAnswerByte(int index);    // flip byte `index` of the next answer
  void sim_injectByte(uint64_t atUs, uint8_t b);  // a stray byte arrives at `atUs`

  // Offers any finished transmission to the responders now (end of a test,
  // end of a run).
  void sim_settle();
  SimTrace& sim_trace() { return trace; }
  int sim_openCount() const { return opens; }

  // PortBackend
  DWORD port_libraryVersion() override;
  FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count) override;
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

 private:
  struct RxByte {
    uint64_t atUs;
    uint8_t value;
  };
  struct Transmission {
    bool active = false;     // bytes or a break have started it
    bool withBreak = false;  // a break began it
    bool garbled = false;    // a rate change or wrong rate spoiled it on the wire
    uint64_t breakUs = 0;    // when the break began
    uint64_t dataUs = 0;     // when the first data byte began
    uint64_t endUs = 0;      // when the last byte ended
    std::vector<uint8_t> bytes;
  };

  FT_STATUS enter(FT_HANDLE h, uint64_t& now);  // checks, charges, settles
  void settleAt(uint64_t now);
  void finishTransmission();
  void deliver(const Transmission& t);
  void queueAnswer(uint64_t atUs, const uint8_t* bytes, int count, bool collided);
  void pruneTx(uint64_t now);
  uint32_t byteTimeUs() const;
  bool isBreakRate() const;
  FT_HANDLE handle() { return (FT_HANDLE)this; }

  std::mutex mu;
  std::vector<SimResponder*> responders;
  SimTrace trace;
  bool plugged = true;
  bool isOpen = false;
  bool stuck = false;
  int opens = 0;
  ULONG baud = 9600;
  ULONG readTimeoutMs = 0;
  uint64_t txBusyUntil = 0;
  std::deque<uint64_t> txEnds;  // end times of bytes not yet on the wire
  std::deque<RxByte> rx;
  Transmission cur;
  int dropIndex = -1;
  int corruptIndex = -1;
};
