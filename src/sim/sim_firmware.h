// The bootloader of a virtual device: the device side of the firmware
// update. A reboot packet puts the device into firmware-receive mode and
// starts a new image; a block is taken only in that mode, with a good CRC
// and within the device's flash. Blocks arrive several times: a repeated
// copy rewrites the same bytes. The packets carry no address: every device
// on the line takes them.
//
// Packet (76 bytes, no frame): 91 29 A9, type (0xFF reboot, 0xFE block),
// FF FF, 00 00, block number (low byte first), 64 data bytes, CRC-16/KERMIT
// of bytes 0..73 (low byte first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_json.h"

class SimFirmware {
 public:
  enum { PACKET_SIZE = 76, BLOCK_SIZE = 64, FLASH_SIZE = 131072 };

  // Whether a transmission is meant for the bootloader: 91 29 A9 followed by
  // 0xFF or 0xFE (a framed packet has 0xFD there).
  static bool sim_isFirmwarePacket(const uint8_t* data, int count);
  void sim_receive(const uint8_t* data, int count);

  bool sim_receiving() const { return receiving; }
  int sim_reboots() const { return reboots; }
  // Distinct blocks taken since the last reboot.
  int sim_blocks() const { return blocks; }
  // Packets refused: bad CRC or length, a block outside receive mode or
  // beyond the flash.
  int sim_rejected() const { return rejected; }
  // Blocks 0 up to the highest one taken; a block never taken reads 0xFF.
  std::vector<uint8_t> sim_image() const;
  // {"mode": "application"|"receiving", "reboots": r, "blocks": n,
  //  "rejected": k, "image": "<hex>"}
  SimJson sim_toJson() const;
  // Back from the same object: every block of the image counts as taken
  // (missing members keep their values; bad ones throw SimJsonError).
  void sim_fromJson(const SimJson& j);

 private:
  void reboot();
  void takeBlock(int number, const uint8_t* data);

  bool receiving = false;
  int reboots = 0;
  int blocks = 0;
  int rejected = 0;
  std::vector<uint8_t> flash;  // grows to the highest block taken
  std::vector<bool> taken;     // per block
};
