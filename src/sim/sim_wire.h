// What a byte is on the simulated wire: the converter's line format, the time
// a byte takes at it, when a 0x00 holds the line low long enough to be a
// break, and the low stretches of a byte (start bit, zero data bits, a zero
// parity bit) for drawing the line.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// The converter's UART settings, with the values D2XX takes.
struct SimLineFormat {
  uint32_t baud = 9600;
  uint8_t dataBits = 8;  // 7 or 8
  uint8_t stopBits = 0;  // 0: one stop bit, 1: one and a half, 2: two
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// DMX-512 (the minimum break is 88 us) and its line format: 250000 baud,
// 8 data bits, no parity, 2 stop bits.
enum { WIRE_MIN_BREAK_US = 88 };
SimLineFormat wire_dmxFormat();
bool wire_isDmx(const SimLineFormat& f);
// True when D2XX accepts these characteristics.
bool wire_validCharacteristics(uint8_t dataBits, uint8_t stopBits, uint8_t parity);

// A byte's time on the wire (start, data, parity and stop bits), rounded up
// to whole microseconds.
uint32_t wire_byteUs(const SimLineFormat& f);
// How long a 0x00 holds the line low: start bit, data bits, and the parity
// bit when it is 0.
uint32_t wire_zeroLowUs(const SimLineFormat& f);
// A 0x00 at this format is a break: low for at least WIRE_MIN_BREAK_US.
bool wire_zeroIsBreak(const SimLineFormat& f);

// One thing the line carried: a byte at a format, or (lowUs > 0) the line
// held low for lowUs, as a device's break.
struct SimWireEvent {
  uint64_t startUs = 0;
  uint32_t lowUs = 0;
  uint8_t value = 0;
  SimLineFormat format;
};

// When the event has left the line idle again (after its stop bits).
uint64_t wire_endUs(const SimWireEvent& e);
// Appends the stretches [from, to) in nanoseconds during which the event
// holds the line low.
void wire_lowStretchesNs(const SimWireEvent& e, std::vector<std::pair<uint64_t, uint64_t>>& out);
