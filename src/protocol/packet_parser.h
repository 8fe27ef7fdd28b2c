// Turns the byte stream read from the cable into whole Packet frames:
// synchronises on the magic, waits for the announced length, checks the
// checksum and hands each valid answer to the handler of its kind.
#pragma once

#include <cstdint>

#include "protocol/packet_structures.h"

enum { PACKET_WINDOW_SIZE = 276 };

// The answer handlers, filled in by the command modules. A handler runs
// inside appendByte with the window holding the complete frame; it must take
// what it needs before returning.
typedef void (*PacketHandler)(Packet* frame);
enum PacketHandlerId {
  PACKET_HANDLER_SETUP,      // class 0x01
  PACKET_HANDLER_DISCOVERY,  // class 0x02
  PACKET_HANDLER_GENUID,     // class 0x03, function nibble 0x10
  PACKET_HANDLER_IDENTIFY,   // class 0x03, function nibble 0x20
  PACKET_HANDLER_DALI,       // class 0x03, function nibble 0x30
  PACKET_HANDLER_COUNT
};
void packet_setHandler(PacketHandlerId id, PacketHandler handler);

// Feeds `count` bytes in order; returns count when it is 0 or less.
int packet_receive(const uint8_t* data, int count);
int appendByte(uint8_t b);
// Drops the oldest byte of the window; returns the new count (0 when empty).
int shiftData();
// Bytes held in the window.
int packet_received();
// Empties the window.
void packet_resetReceiver();
