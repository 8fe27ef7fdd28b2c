// Feeds arbitrary bytes, in arbitrary pieces, to the packet receiver. Every
// frame it hands to a handler must be whole: good magic, a length that fits,
// and a checksum that matches.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/packet_parser.h"

namespace {

void check(Packet* f) {
  const uint8_t* b = packet_bytes(f);
  if (b[0] != 0x91 || b[1] != 0x29 || b[2] != 0xA9 || b[3] != 0xFD) abort();
  uint32_t sum = 0;
  for (int i = 0; i < PACKET_HEADER_SIZE + f->length; i++) sum += (i == 16 || i == 17) ? 0 : b[i];
  if ((sum & 0xFFFF) != f->crc) abort();
  // Handlers may rewrite the frame they get; do so to make sure it is harmless.
  f->length = 0xFF;
}

bool installed = false;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!installed) {
    for (int i = 0; i < PACKET_HANDLER_COUNT; i++) packet_setHandler((PacketHandlerId)i, check);
    installed = true;
    // The receiver prints a line per frame; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) abort();
  }
  if (size == 0) return 0;
  // The first byte chooses the piece size, as reads deliver 1..50 bytes.
  size_t piece = data[0] % 50 + 1;
  data++;
  size--;
  while (size > 0) {
    size_t n = size < piece ? size : piece;
    packet_receive(data, (int)n);
    if (packet_received() < 0 || packet_received() > PACKET_WINDOW_SIZE) abort();
    data += n;
    size -= n;
  }
  return 0;
}
