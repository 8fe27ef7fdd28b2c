// The door between the command modules and the converter: lazy open, sealed
// sends, answers fed to the packet receiver, break detection, receive-queue
// flushing, and a text response buffer with substring matching.
#pragma once

#include <cstdint>

#include "protocol/packet_structures.h"

enum {
  CABLE_RESP_BUFF_SIZE = 1256,
  CABLE_RESP_LIMIT = 255,  // only this many bytes of text are ever kept
  CABLE_READ_CHUNK = 50,
  CABLE_TEXT_CHUNK = 150,
  CABLE_DMX_PACKET_SIZE = 76,
  CABLE_DMX_CRC_OFFSET = 74,
  CABLE_FLUSH_LIMIT_MS = 100,  // flushRxBuff gives up on a line that never falls silent
};

// The open converter's index, opening the chosen converter (cables.h) by its
// serial number, or converter 0 without a choice, when none is open; negative
// when none could be opened. From a successful open (here or the lazy open
// of a send) the calling thread holds the cable until its cable_free; other
// threads wait meanwhile (see cablelock.h).
int cable_open();
// What the operator is told when the cable could not be opened:
// "Cable not found!", or, when the converter is there but another program
// holds it, that it is in use and what to do; with a chosen serial number
// that no converter has, the serial numbers of those attached.
const char* cable_notFoundText();
// Closes the converter and ends the calling thread's hold; returns -1.
int cable_free();
// Fills the checksum and sends the frame. Bytes written, or -1.
int cable_sendPacket(Packet* p);
// Stores the CRC of bytes 0..73 at 74 (low) and 75 (high) and sends all 76
// bytes. Bytes written, or -1.
int cable_sendDmxPacket(uint8_t* packet);
// Reads up to 50 bytes and feeds them to the packet receiver.
int cable_response();
// 1 if any byte arrives within `ms` milliseconds, else 0.
int waitForBreak(int ms);
// Discards everything waiting; returns the last read result (0 or negative,
// or 1 when bytes were still arriving after CABLE_FLUSH_LIMIT_MS).
int flushRxBuff();
int clearRespBuff();
// 1 once `pattern` appears in the response buffer within `tries` reads.
int waitForResponse_clr(const char* pattern, int tries, int clear);
// 1 if `pattern` is in the response buffer after one more read.
int checkResponse(const char* pattern);
int devSend(const uint8_t* data, int len);
int devRead(uint8_t* buf, int len);
// The response buffer's text.
const char* cable_respBuff();
