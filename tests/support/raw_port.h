// Drives a converter straight through the port API, as the cable layer
// does but without its checks: a break (0x00 at 15625 baud), 5 ms for it to
// leave the line, then the bytes at the DMX rate.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/ftd2xx.h"

inline void rawSendBreakAndFrame(FT_HANDLE h, const std::vector<uint8_t>& bytes) {
  uint8_t zero = 0;
  DWORD written = 0;
  FT_SetBaudRate(h, 15625);
  FT_Write(h, &zero, 1, &written);
  clock_sleepUs(5000);
  FT_SetBaudRate(h, 250000);
  FT_Write(h, (void*)bytes.data(), (DWORD)bytes.size(), &written);
}
