// The background reader of an open converter: a thread that keeps asking the
// chip for what it has received and moves it into the host receive queue, so
// that nothing is lost while the program sleeps between polls (an FT232R
// holds only 256 received bytes; at 250000 baud that is 11 ms of traffic).
//
// It talks to libusb directly on the converter's bulk IN endpoint instead of
// calling ftdi_read_data: ftdi_read_data keeps its read-ahead and error text
// in the ftdi_context, which the other thread's calls (reset, flush, any
// failing call) also write. Like ftdi_read_data it strips the two status
// bytes that begin every USB packet of the chip.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/rx_queue.h"

struct libusb_device_handle;

// Line status bits of the chip's second status byte.
enum : uint8_t {
  LIBFTDI_LINE_OVERRUN = 0x02,  // OE: the chip's receive buffer overflowed
  LIBFTDI_LINE_BREAK = 0x10,    // BI: a break was received
};

// Unpacks one bulk IN transfer: `len` bytes made of packets of `packetSize`
// bytes (the last may be shorter), each beginning with the modem status and
// the line status byte. Copies the data bytes to `out` (at most `cap`) and
// ORs every packet's line status into `lineStatus`. Returns the data bytes.
int libftdi_unpack(const uint8_t* in, int len, int packetSize, uint8_t* out, int cap,
                   uint8_t& lineStatus);

class LibftdiReader {
 public:
  LibftdiReader() = default;
  LibftdiReader(const LibftdiReader&) = delete;
  LibftdiReader& operator=(const LibftdiReader&) = delete;
  ~LibftdiReader() { reader_stop(); }

  // Starts reading `endpoint` of `dev` into `queue`. False when no thread
  // could be started.
  bool reader_start(libusb_device_handle* dev, unsigned char endpoint, int packetSize,
                    RxQueue* queue);
  // Stops the thread and waits for it; the current USB transfer ends within
  // the chip's latency time (1 ms) or the transfer timeout.
  void reader_stop();
  bool reader_running() const { return thread.joinable(); }
  // Transfers whose line status reported a chip overrun since the start.
  uint32_t reader_overruns() const { return overruns.load(std::memory_order_relaxed); }

 private:
  void run();

  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<uint32_t> overruns{0};
  libusb_device_handle* dev = nullptr;
  unsigned char endpoint = 0;
  int packetSize = 64;
  RxQueue* queue = nullptr;
};
