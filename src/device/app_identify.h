// Identify: asks one device to make itself known (for 15000, its own unit)
// and waits for its acknowledgement.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/packet_structures.h"

// Source UID of the last identify acknowledgement; 0 = none since the request.
extern std::atomic<uint32_t> identify_rec;

// 1 when uid acknowledged, -1 otherwise.
int app_identify_send(uint32_t uid);
// Sends the prepared request and waits, without opening or releasing the
// cable: 1 or -1.
int app_identify_send_packet(Packet* packet, uint32_t uid);
// Answer handler of class 3, functions 0x20..0x2F.
void app_identify_parse(Packet* packet);
