// A model FT232R behind the stand-in libusb, written from the chip's
// documented behaviour (FTDI's application notes on baud divisors, on
// latency and packets, and the vendor requests as libftdi1 and the Linux
// driver name them):
//  - vendor requests: reset and the two purges; the baud divisor, decoded to
//    the rate it gives (3 MHz / (n + eighths)); data bits, parity, stop bits
//    and break; flow control; DTR and RTS; the latency timer; the modem and
//    line status (THRE: the transmit buffer is empty, TEMT: and the last
//    byte has left the shift register);
//  - bulk OUT: 64-byte packets into a 128-byte transmit buffer, bytes onto
//    the line one after the other at the rate and format in force when each
//    starts; a rate or format change, a reset or a break while a byte is on
//    the wire spoils it; RTS/CTS flow control holds the transmitter while
//    CTS is inactive (the converters leave it so);
//  - bulk IN: the received bytes wait in a 256-byte buffer; while the host
//    asks, the chip sends a 64-byte packet (two status bytes, 62 data bytes)
//    as soon as it has 62 bytes, and when the latency timer (restarted by
//    every packet sent) runs out, a short packet with what it has, the two
//    status bytes alone when it has nothing. A short packet ends the host's
//    transfer. Bytes that find the buffer full are lost and the next packet
//    carries the overrun bit; a received break is a 0x00 with the break
//    and framing error bits.
//  - its line is a UsbLine: the simulator's virtual devices, wire and trace.
// Every transfer costs a USB round trip of virtual time (1 ms by default,
// as the simulated converter charges); the chip acts on a request halfway
// through it. The model needs the virtual clock.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "fake_libusb.h"
#include "sim/sim_line.h"
#include "sim/sim_wire.h"
#include "usb_line.h"

class Ft232rModel : public FakeUsbDevice {
 public:
  // The chip's sizes, status bits and requests are written here from its
  // documentation, not taken from our backend (src/platform/libftdi_*): the
  // model checks that backend and libftdi1, and a value both took from one
  // place could not be caught being wrong.
  enum {
    RX_BUFFER = 256,
    TX_BUFFER = 128,
    PACKET = 64,
    STATUS_BYTES = 2,
    DEFAULT_LATENCY_MS = 16,
  };
  // Line status bits (the second status byte).
  enum : uint8_t {
    LS_DR = 0x01,
    LS_OE = 0x02,
    LS_PE = 0x04,
    LS_FE = 0x08,
    LS_BI = 0x10,
    LS_THRE = 0x20,
    LS_TEMT = 0x40,
  };
  // What the chip holds.
  struct State {
    SimLineFormat format;         // rate (rounded to whole baud) and frame
    uint32_t divisorEighths = 0;  // the divisor in force, in eighths
    bool baudExact = true;        // 3 MHz / divisor is a whole number
    bool breakOn = false;
    int flow = 0;                 // 0 off, 1 RTS/CTS, 2 DTR/DSR, 4 XON/XOFF
    bool dtr = false, rts = false;
    int latencyMs = DEFAULT_LATENCY_MS;
    long resets = 0, rxPurges = 0, txPurges = 0;
    long rxLostBytes = 0;  // bytes that found the receive buffer full
    long packets = 0, statusOnlyPackets = 0;
    long bytesOut = 0;     // bytes put on the line
  };

  explicit Ft232rModel(UsbLine& line);

  void chip_setSerial(const std::string& s) { serial = s; }
  void chip_setRoundTripUs(uint32_t us) { roundTripUs = us; }
  uint32_t chip_roundTripUs() const { return roundTripUs; }
  // Sets the latency timer as a request would (another program, or a chip
  // that kept its default).
  void chip_setLatencyMs(int ms);
  // The next bulk IN transfer starts this long after it is asked for, as
  // when the host does not poll the chip (the reader held back).
  void chip_holdNextRead(uint32_t us);
  // Pulled out of the USB port during the write of the `frames`-th frame
  // from now (writes of more than one byte): that write fails. 0: never.
  void chip_unplugDuringFrame(long frames);
  // Pulls the chip out of the USB port (what is on the wire is cut short),
  // or plugs it in again, as after power-up: 9600 8N1, latency 16 ms, flow
  // control off, empty buffers.
  void chip_unplug();
  void chip_plugIn();
  State chip_state() const;
  // Lets the line settle up to the clock's present (the end of a test).
  void chip_settle();

  // The rate a SET_BAUDRATE request sets (FT232R/BM encoding: 14 bits of
  // divisor, 3 bits of eighths across wValue bits 14-15 and wIndex bit 0).
  // `eighths` receives the divisor in eighths.
  static uint32_t chip_decodeBaud(uint16_t value, uint16_t index, uint32_t& eighths);

  // FakeUsbDevice
  libusb_device_descriptor usb_deviceDescriptor() const override;
  int usb_maxPacketSize() const override { return PACKET; }
  int usb_string(uint8_t index, unsigned char* out, int cap) override;
  int usb_setConfiguration(int configuration) override;
  int usb_control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                  unsigned char* data, uint16_t length, unsigned timeoutMs) override;
  int usb_bulk(unsigned char endpoint, unsigned char* data, int length, int* transferred,
               unsigned timeoutMs) override;

 private:
  struct RxEntry {
    uint8_t value;
    uint8_t flags;  // LS_BI, LS_FE
  };

  int bulkOut(const unsigned char* data, int length, int* transferred, unsigned timeoutMs);
  int bulkIn(unsigned char* data, int length, int* transferred, unsigned timeoutMs);
  int vendorOut(uint8_t request, uint16_t value, uint16_t index);
  int vendorIn(uint8_t request, unsigned char* data, uint16_t length);

  // Runs the chip and the line up to `t`, event by event. With `mu` held.
  void advance(uint64_t t);
  uint64_t nextTxUs() const;
  uint64_t nextPacketUs() const;
  void startByte(uint64_t t);
  void acceptOut(uint64_t t);
  void receive(const SimArrival& b);
  void sendPacket(uint64_t t);
  bool transmitterAllowed() const;
  bool thre() const { return tx.empty() && outWaiting.empty(); }
  bool temt(uint64_t t) const { return thre() && shiftEndUs <= t; }
  uint8_t lineStatus(uint64_t t) const;
  void spoilIfSending(uint64_t t);
  void resetUart(uint64_t t);
  void powerOff(uint64_t t);

  UsbLine& line;
  std::string serial = "FT5TERN1";
  uint32_t roundTripUs = SimLine::kUsbRoundTripUs;  // the simulated converter's cost

  mutable std::mutex mu;
  uint64_t nowUs = 0;  // the chip has run up to here
  State st;
  bool cts = false, dsr = false;
  uint64_t breakSinceUs = 0;
  // Transmitter: bytes in the buffer, and those of a write still waiting
  // for room; the byte on the wire ends at shiftEndUs.
  std::deque<uint8_t> tx;
  std::deque<uint8_t> outWaiting;
  uint64_t txReadyUs = 0;  // bytes in the buffer cannot start before this
  uint64_t shiftEndUs = 0;
  uint64_t outDoneUs = 0;  // when the last packet of the current write was taken
  // Receiver and the host's IN transfer.
  std::deque<RxEntry> rx;
  uint8_t pendingErrors = 0;  // reported in the next packet
  bool inActive = false;
  bool inDone = false;
  int inCap = 0;
  std::vector<uint8_t> inBuf;
  uint64_t lastPacketUs = 0;
  uint32_t holdReadUs = 0;
  long framesUntilUnplug = 0;
};
