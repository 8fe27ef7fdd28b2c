// Answer frames as a virtual device builds them: its own encoding of the
// frame (magic, destination, source, checksum, length), independent of the
// configurator's protocol code.
#pragma once

#include <cstdint>

#include "sim/sim_line.h"

enum { SIM_FRAME_HEADER = 19, SIM_FRAME_MAX_PAYLOAD = 255 };

// The answer becomes the frame from src to every listener with the payload.
void simAnswer_frame(SimAnswer& answer, uint32_t src, const uint8_t* payload, int length);
// A frame's fields, little-endian.
uint32_t simAnswer_le32(const uint8_t* p);
