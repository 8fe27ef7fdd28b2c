// The framed Packet: 19-byte header and up to 255 payload bytes. The record
// is the wire image (little-endian fields, no padding), sent byte for byte.
#pragma once

#include <cstdint>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "Packet is laid out as its little-endian wire image"
#endif

enum : uint32_t {
  PACKET_MAGIC = 0xFDA92991u,
  PACKET_BROADCAST = 0xFFFFFFFFu,  // every device; also our own source UID
};

enum {
  PACKET_HEADER_SIZE = 19,
  PACKET_MAX_PAYLOAD = 255,
  PACKET_MAX_FRAME = PACKET_HEADER_SIZE + PACKET_MAX_PAYLOAD,
};

// Payload byte 0: the message family.
enum : uint8_t {
  PACKET_CLASS_SETUP = 0x01,
  PACKET_CLASS_DISCOVERY = 0x02,
  PACKET_CLASS_FUNCTION = 0x03,
};

// Class 3: the high nibble of payload byte 1 selects the module.
enum : uint8_t {
  PACKET_FN_GENUID = 0x10,
  PACKET_FN_IDENTIFY = 0x20,
  PACKET_FN_DALI = 0x30,
};

#pragma pack(push, 1)
struct Packet {
  uint32_t magic;
  uint32_t dest;
  uint32_t src;
  uint16_t reserved12;
  uint16_t reserved14;
  uint16_t crc;
  uint8_t length;
  uint8_t data[PACKET_MAX_PAYLOAD];
};
#pragma pack(pop)
static_assert(sizeof(Packet) == PACKET_MAX_FRAME, "Packet must be its wire image");

// Magic, destination, source 0xFFFFFFFF, reserved fields, checksum and
// length 0. The payload is left as it is.
void packet_fillHeader(Packet* p, uint32_t dest);
// Appends the low 8 bits of `n` bytes from `src` at the current length.
// Returns `src` advanced past the bytes taken. The caller keeps
// length + n within 255; bytes beyond the payload are not written.
const uint8_t* packet_fillData(Packet* p, const uint8_t* src, int n);
// Computes the 16-bit byte sum over header (checksum counted as 0) and
// payload, and stores it in the checksum field.
void packet_fillCrc(Packet* p);
// Bytes on the wire: 19 + length.
int packet_frameSize(const Packet* p);
// The wire image as bytes.
inline const uint8_t* packet_bytes(const Packet* p) { return (const uint8_t*)p; }
