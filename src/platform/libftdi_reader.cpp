#include "platform/libftdi_reader.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/clock.h"
#include "platform/libftdi_status.h"

namespace {

const int kTransferSize = 4096;        // a multiple of both packet sizes (64, 512)
const unsigned kTransferTimeoutMs = 100;  // the chip answers every latency period (1 ms)
const int kStatusBytes = 2;

}  // namespace

int libftdi_unpack(const uint8_t* in, int len, int packetSize, uint8_t* out, int cap,
                   uint8_t& lineStatus) {
  if (packetSize <= kStatusBytes) return 0;
  int n = 0;
  for (int at = 0; at < len; at += packetSize) {
    const int packetLen = len - at < packetSize ? len - at : packetSize;
    if (packetLen >= kStatusBytes) lineStatus |= in[at + 1];
    const int data = packetLen - kStatusBytes;
    if (data <= 0) continue;
    const int take = data < cap - n ? data : cap - n;
    if (take <= 0) break;
    memcpy(out + n, in + at + kStatusBytes, (size_t)take);
    n += take;
  }
  return n;
}

bool LibftdiReader::reader_start(libusb_device_handle* d, unsigned char ep, int packet,
                                 RxQueue* q) {
  reader_stop();
  dev = d;
  endpoint = ep;
  packetSize = packet > kStatusBytes ? packet : 64;
  queue = q;
  stopping.store(false);
  overruns.store(0);
  // Like every worker (platform/thread.h), the reader takes part in the
  // clock's virtual time from its start, and so does the thread that starts
  // it: behind a model chip its transfers end in virtual time.
  clock_takePart();
  void* reservation = clock_threadReserve();
  try {
    thread = std::thread([this, reservation] {
      clock_threadAdopt(reservation);
      run();
    });
  } catch (const std::system_error&) {
    clock_threadCancel(reservation);
    return false;
  }
  return true;
}

void LibftdiReader::reader_stop() {
  if (!thread.joinable()) return;
  stopping.store(true);
  // The reader's last transfer may still take a latency period of the
  // clock: let it pass while this thread waits for the join.
  clock_blockBegin();
  thread.join();
  clock_blockEnd();
}

void LibftdiReader::run() {
  uint8_t raw[kTransferSize];
  uint8_t data[kTransferSize];
  while (!stopping.load()) {
    int len = 0;
    const int rc = libusb_bulk_transfer(dev, endpoint, raw, sizeof raw, &len, kTransferTimeoutMs);
    if (len > 0) {
      uint8_t line = 0;
      const int n = libftdi_unpack(raw, len, packetSize, data, sizeof data, line);
      if (n > 0) queue->rxq_put(data, (size_t)n);
      if (line & LIBFTDI_LINE_OVERRUN) overruns.fetch_add(1, std::memory_order_relaxed);
    }
    if (rc == 0 || rc == LIBUSB_ERROR_TIMEOUT || rc == LIBUSB_ERROR_INTERRUPTED) continue;
    // The converter is gone or broken: say so once, and let every later
    // status query and read fail instead of waiting for bytes.
    char text[256];
    fprintf(stderr, "%s\n",
            libftdi_errorLine(text, sizeof text, LIBFTDI_BULK_READ, rc, libusb_strerror(rc)));
    queue->rxq_fail((int)libftdi_status(LIBFTDI_BULK_READ, rc));
    return;
  }
}
