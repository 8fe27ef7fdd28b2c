#include "sim/sim_wire.h"

namespace {

const uint64_t kNsPerSecond = 1000000000ull;

bool hasParityBit(const SimLineFormat& f) { return f.parity != 0; }

// Stop bits in half bits.
uint32_t stopHalves(const SimLineFormat& f) {
  return f.stopBits == 2 ? 4 : f.stopBits == 1 ? 3 : 2;
}

// The parity bit sent after `value`'s data bits.
bool parityBit(const SimLineFormat& f, uint8_t value) {
  int ones = 0;
  for (int i = 0; i < f.dataBits; i++) ones += (value >> i) & 1;
  switch (f.parity) {
    case 1:
      return (ones & 1) == 0;  // odd
    case 2:
      return (ones & 1) != 0;  // even
    case 3:
      return true;  // mark
    default:
      return false;  // space
  }
}

// Whether bit `i` of a frame carrying `value` is 0 (pulls the line low): bit
// 0 is the start bit, 1.. the data bits LSB first, then the parity bit.
bool bitIsLow(const SimLineFormat& f, uint8_t value, uint32_t i) {
  if (i == 0) return true;
  if (i <= f.dataBits) return ((value >> (i - 1)) & 1) == 0;
  return !parityBit(f, value);
}

uint32_t zeroLowBits(const SimLineFormat& f) {
  return 1u + f.dataBits + (hasParityBit(f) && !parityBit(f, 0) ? 1u : 0u);
}

uint64_t bitNs(const SimLineFormat& f, uint32_t bits) {
  return f.baud ? (uint64_t)bits * kNsPerSecond / f.baud : 0;
}

}  // namespace

SimLineFormat wire_dmxFormat() {
  SimLineFormat f;
  f.baud = 250000;
  f.dataBits = 8;
  f.stopBits = 2;
  f.parity = 0;
  return f;
}

bool wire_isDmx(const SimLineFormat& f) {
  return f.baud == 250000 && f.dataBits == 8 && f.stopBits == 2 && f.parity == 0;
}

bool wire_validCharacteristics(uint8_t dataBits, uint8_t stopBits, uint8_t parity) {
  return (dataBits == 7 || dataBits == 8) && stopBits <= 2 && parity <= 4;
}

uint32_t wire_byteUs(const SimLineFormat& f) {
  if (f.baud == 0) return 1000;
  const uint64_t halves = 2u * (1u + f.dataBits + (hasParityBit(f) ? 1u : 0u)) + stopHalves(f);
  const uint64_t den = 2ull * f.baud;
  return (uint32_t)((halves * 1000000ull + den - 1) / den);
}

uint32_t wire_zeroLowUs(const SimLineFormat& f) {
  return (uint32_t)((bitNs(f, zeroLowBits(f)) + 500) / 1000);
}

bool wire_zeroIsBreak(const SimLineFormat& f) {
  return f.baud != 0 &&
         (uint64_t)zeroLowBits(f) * 1000000ull >= (uint64_t)WIRE_MIN_BREAK_US * f.baud;
}

uint64_t wire_endUs(const SimWireEvent& e) {
  return e.startUs + (e.lowUs ? e.lowUs : wire_byteUs(e.format));
}

void wire_lowStretchesNs(const SimWireEvent& e, std::vector<std::pair<uint64_t, uint64_t>>& out) {
  const uint64_t t0 = e.startUs * 1000u;
  if (e.lowUs) {
    out.emplace_back(t0, t0 + (uint64_t)e.lowUs * 1000u);
    return;
  }
  // The stop bits are high; runs of low bits before them become stretches.
  const SimLineFormat& f = e.format;
  const uint32_t bits = 1u + f.dataBits + (hasParityBit(f) ? 1u : 0u);
  uint32_t k = 0;
  while (k < bits) {
    if (!bitIsLow(f, e.value, k)) {
      k++;
      continue;
    }
    uint32_t j = k;
    while (j < bits && bitIsLow(f, e.value, j)) j++;
    out.emplace_back(t0 + bitNs(f, k), t0 + bitNs(f, j));
    k = j;
  }
}
