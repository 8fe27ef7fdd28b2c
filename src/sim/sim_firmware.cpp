#include "sim/sim_firmware.h"

#include <cstdio>

namespace {

const uint8_t kTypeReboot = 0xFF;
const uint8_t kTypeBlock = 0xFE;
const int kCrcOffset = 74;

// CRC-16/KERMIT computed bit by bit, as the device's bootloader does
// (reflected polynomial 0x8408, initial value 0, no final XOR).
uint16_t kermit(const uint8_t* data, int count) {
  uint16_t crc = 0;
  for (int i = 0; i < count; i++) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; bit++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
  }
  return crc;
}

// Length, CRC and the constant bytes 4..7 (FF FF 00 00).
bool wellFormed(const uint8_t* d, int n) {
  if (n != SimFirmware::PACKET_SIZE) return false;
  if (d[4] != 0xFF || d[5] != 0xFF || d[6] != 0x00 || d[7] != 0x00) return false;
  return kermit(d, kCrcOffset) == (uint16_t)(d[kCrcOffset] | d[kCrcOffset + 1] << 8);
}

}  // namespace

bool SimFirmware::sim_isFirmwarePacket(const uint8_t* d, int n) {
  return n >= 4 && d[0] == 0x91 && d[1] == 0x29 && d[2] == 0xA9 &&
         (d[3] == kTypeReboot || d[3] == kTypeBlock);
}

void SimFirmware::sim_receive(const uint8_t* d, int n) {
  if (!sim_isFirmwarePacket(d, n) || !wellFormed(d, n)) {
    rejected++;
    return;
  }
  if (d[3] == kTypeReboot) {
    reboot();
    return;
  }
  const int number = d[8] | d[9] << 8;
  if (!receiving || (number + 1) * BLOCK_SIZE > FLASH_SIZE) {
    rejected++;
    return;
  }
  takeBlock(number, d + 10);
}

void SimFirmware::reboot() {
  receiving = true;
  reboots++;
  blocks = 0;
  flash.clear();
  taken.clear();
}

void SimFirmware::takeBlock(int number, const uint8_t* data) {
  const size_t end = (size_t)(number + 1) * BLOCK_SIZE;
  if (flash.size() < end) {
    flash.resize(end, 0xFF);
    taken.resize((size_t)number + 1, false);
  }
  for (int i = 0; i < BLOCK_SIZE; i++) flash[(size_t)number * BLOCK_SIZE + i] = data[i];
  if (!taken[number]) {
    taken[number] = true;
    blocks++;
  }
}

std::vector<uint8_t> SimFirmware::sim_image() const { return flash; }

SimJson SimFirmware::sim_toJson() const {
  static const char hex[] = "0123456789abcdef";
  std::string image;
  image.reserve(flash.size() * 2);
  for (uint8_t b : flash) {
    image += hex[b >> 4];
    image += hex[b & 15];
  }
  return {{"mode", receiving ? "receiving" : "application"},
          {"reboots", reboots},
          {"blocks", blocks},
          {"rejected", rejected},
          {"image", image}};
}

void SimFirmware::sim_fromJson(const SimJson& j) {
  if (const std::string* mode = simJson_string(j, "mode")) {
    if (*mode != "receiving" && *mode != "application")
      throw SimJsonError("mode: \"" + *mode + "\" is neither application nor receiving");
    receiving = *mode == "receiving";
  }
  simJson_int(j, "reboots", 0, INT32_MAX, reboots);
  simJson_int(j, "blocks", 0, FLASH_SIZE / BLOCK_SIZE, blocks);
  simJson_int(j, "rejected", 0, INT32_MAX, rejected);
  if (const std::string* image = simJson_string(j, "image")) {
    const size_t bytes = image->size() / 2;
    if (image->size() % (2 * BLOCK_SIZE) != 0 || bytes > (size_t)FLASH_SIZE)
      throw SimJsonError("image: not whole blocks of hexadecimal bytes within the flash");
    flash.assign(bytes, 0);
    for (size_t i = 0; i < bytes; i++) flash[i] = (uint8_t)simJson_hex(image->substr(2 * i, 2), 2, "image");
    taken.assign(bytes / BLOCK_SIZE, true);
  }
}
