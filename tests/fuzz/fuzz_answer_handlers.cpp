// Feeds well-framed answers with arbitrary payloads and source UIDs to the
// command modules' answer handlers, through the packet receiver: the setup
// item walk, the DALI status and entry answers, the mute, identify and UID
// acknowledgements. They store what they find in the device table, which
// must stay within its bounds whatever a device sends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/devices.h"
#include "device/handlers.h"
#include "protocol/packet_parser.h"

namespace {

bool installed = false;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!installed) {
    handlers_register();
    installed = true;
    // The handlers print a line per answer; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) abort();
  }
  // Input: four bytes of source UID, then answers of up to 255 payload bytes,
  // each preceded by its length.
  if (size < 4) return 0;
  uint32_t src;
  memcpy(&src, data, 4);
  data += 4;
  size -= 4;
  while (size > 0) {
    const size_t n = data[0] < size - 1 ? data[0] : size - 1;
    Packet p;
    packet_fillHeader(&p, PACKET_BROADCAST);
    p.src = src++;
    memcpy(p.data, data + 1, n);
    p.length = (uint8_t)n;
    packet_fillCrc(&p);
    packet_receive(packet_bytes(&p), packet_frameSize(&p));
    data += n + 1;
    size -= n + 1;
  }
  // Now and then start from an empty table, as a discovery does.
  if (src % 7 == 0) dev_removeAll();
  return 0;
}
