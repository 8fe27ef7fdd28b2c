#include "link/ftdi_port.h"

#include <cstdio>
#include <cstring>

#include "link/cablelock.h"
#include "link/timer.h"
#include "platform/ftd2xx.h"

namespace {

int device = -1;
FT_HANDLE ftHandle[FTDI_MAX_DEVICES];
FT_STATUS ftStatus = FT_OK;
DWORD iNumDevs = 0;
// The last open found the converter listed but could not open it: another
// program (another Tern, the kernel's serial driver) holds it.
bool heldElsewhere = false;
// The last open by serial number found no converter with it.
bool unknownSerial = false;
char cBufLD[FTDI_MAX_DEVICES + 1][FTDI_SERIAL_ROW];
char* pcBufLD[FTDI_MAX_DEVICES + 1];

// The listing step shared by readDevices and openDeviceFTDI.
FT_STATUS listConverters() {
  memset(cBufLD, 0, sizeof cBufLD);
  for (int i = 0; i < FTDI_MAX_DEVICES; i++) pcBufLD[i] = cBufLD[i];
  pcBufLD[FTDI_MAX_DEVICES] = nullptr;
  ftStatus = FT_ListDevices(pcBufLD, &iNumDevs, FT_LIST_ALL | FT_OPEN_BY_SERIAL_NUMBER);
  return ftStatus;
}

// Waits `units` x 100 us between status queries until the transmit queue is
// empty. Returns 0, or -1 when a status query fails or the queue does not
// empty within FTDI_DRAIN_LIMIT_MS.
int drain(int units) {
  DWORD rx = 0xFFFFFFFFu, tx = 0xFFFFFFFFu, ev = 0xFFFFFFFFu;
  int32_t deadline = tim_setTimeout(FTDI_DRAIN_LIMIT_MS);
  do {
    wait_us(units);
    if (FT_GetStatus(ftHandle[device], &rx, &tx, &ev) != FT_OK) return -1;
    if (tx == 0) return 0;
  } while (!tim_isTimeout(deadline));
  return -1;
}

// Opens listed converter `index` (steps 3 to 5 of the open): its handle,
// the console lines, the line settings. Returns the index or -1.
int openListed(int index) {
  device = index;
  ftStatus = FT_OpenEx(cBufLD[device], FT_OPEN_BY_SERIAL_NUMBER, &ftHandle[device]);
  heldElsewhere = ftStatus == FT_DEVICE_NOT_OPENED && cBufLD[device][0] != 0;
  if (ftStatus != FT_OK) {
    printf("Error FT_OpenEx(%d), device %d\n", (int)ftStatus, device);
    printf("Use lsmod to check if ftdi_sio (and usbserial) are present.\n");
    printf("If so, unload them using rmmod, as they conflict with ftd2xx.\n");
    device = -1;
    return -1;
  }
  printf("Opened device %s\n", cBufLD[device]);
  setupFTParam();
  return device;
}

// Step 1 of the open: the listing, and what its failure leaves.
bool listForOpen() {
  heldElsewhere = false;
  unknownSerial = false;
  if (listConverters() == FT_OK) return true;
  fprintf(stderr, "Error: FT_ListDevices(%d)\n", (int)ftStatus);
  iNumDevs = 0;
  device = -1;
  return false;
}

}  // namespace

uint32_t printLibVersion() {
  CableLockScope hold;
  DWORD version = 0;
  ftStatus = FT_GetLibraryVersion(&version);
  if (ftStatus == FT_OK) printf("Library version = 0x%x\n", (unsigned)version);
  return version;
}

void printDeviceList() {
  CableLockScope hold;
  DWORD numDevs = 0;
  if (FT_CreateDeviceInfoList(&numDevs) != FT_OK) return;
  printf("Number of devices is %ld\n", (long)numDevs);
  for (DWORD i = 0; i < numDevs; i++) {
    DWORD flags = 0, type = 0, id = 0, locId = 0;
    char serial[16] = {0};
    char description[64] = {0};
    FT_HANDLE handle = nullptr;
    if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &locId, serial, description, &handle) !=
        FT_OK)
      continue;
    printf("Dev %i:\n", (int)i);
    printf(" Flags=0x%lx\n", (unsigned long)flags);
    printf(" Type=0x%lx\n", (unsigned long)type);
    printf(" ID=0x%lx\n", (unsigned long)id);
    printf(" LocId=0x%lx\n", (unsigned long)locId);
    printf(" SerialNumber=%s\n", serial);
    printf(" Description=%s\n", description);
    printf(" ftHandle=0x%x\n", (unsigned)(uintptr_t)handle);
  }
}

bool ftdi_heldElsewhere() {
  CableLockScope hold;
  return heldElsewhere;
}

int readDevices() {
  CableLockScope hold;
  if (listConverters() != FT_OK) {
    iNumDevs = 0;
    return 0;
  }
  return (int)iNumDevs;
}

int openDevice(int index) {
  CableLockScope hold;
  device = index;
  openDeviceFTDI(index);
  return device;
}

int openDeviceFTDI(int index) {
  CableLockScope hold;
  if (!listForOpen()) return 1;
  if (index < 0) index = 0;
  if (index > FTDI_MAX_DEVICES - 1) index = FTDI_MAX_DEVICES - 1;
  return openListed(index);
}

int openDeviceSerial(const char* serial) {
  CableLockScope hold;
  if (!listForOpen()) return -1;
  for (int i = 0; i < ftdi_listedCount(); i++)
    if (serial[0] && strcmp(cBufLD[i], serial) == 0) return openListed(i);
  printf("Error: no converter with serial number %s\n", serial);
  unknownSerial = true;
  device = -1;
  return -1;
}

bool ftdi_unknownSerial() {
  CableLockScope hold;
  return unknownSerial;
}

int ftdi_listedCount() {
  CableLockScope hold;
  return iNumDevs < (DWORD)FTDI_MAX_DEVICES ? (int)iNumDevs : FTDI_MAX_DEVICES;
}

const char* ftdi_listedSerial(int index) {
  CableLockScope hold;
  return index >= 0 && index < ftdi_listedCount() ? cBufLD[index] : nullptr;
}

int setupFTParam() {
  CableLockScope hold;
  if (device < 0) return device;
  FT_HANDLE h = ftHandle[device];
  FT_ResetDevice(h);
  FT_SetTimeouts(h, 1, 0);
  FT_SetBaudRate(h, FTDI_DMX_BAUD);
  return (int)FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
}

void closeDevice() {
  CableLockScope hold;
  if (device < 0) return;
  FT_ResetDevice(ftHandle[device]);
  FT_Close(ftHandle[device]);
  ftHandle[device] = nullptr;
  device = -1;
}

int getOpenDevice() {
  CableLockScope hold; return device; }

int sendBreak() {
  CableLockScope hold;
  if (device < 0) return -1;
  const FT_HANDLE h = ftHandle[device];
  uint8_t zero = 0;
  DWORD written = 0;
  // A break that did not go out whole must not be followed by a frame: the
  // devices would take the frame's first bytes for the end of the last one.
  bool ok = FT_SetBaudRate(h, FTDI_BREAK_BAUD) == FT_OK;
  ok = ok && FT_Write(h, &zero, 1, &written) == FT_OK && written == 1;
  ok = ok && drain(50) == 0;
  // Back to the DMX rate in any case, so that the next send starts clean.
  ok = FT_SetBaudRate(h, FTDI_DMX_BAUD) == FT_OK && ok;
  return ok ? 0 : -1;
}

int sendData(const uint8_t* data, int count) {
  CableLockScope hold;
  if (device < 0) return -1;
  if (sendBreak() != 0) return -1;
  DWORD written = 0;
  FT_STATUS st = FT_Write(ftHandle[device], (LPVOID)data, count > 0 ? (DWORD)count : 0, &written);
  if (drain(44) != 0) return -1;
  return st == FT_OK ? (int)written : -1;
}

int getResponse(uint8_t* buf, int count) {
  CableLockScope hold;
  if (count > 0) memset(buf, 0, (size_t)count);
  if (device < 0) return -2;
  DWORD rx = 0, tx = 0, ev = 0;
  FT_GetStatus(ftHandle[device], &rx, &tx, &ev);
  if (rx == 0) return -1;
  DWORD got = 0;
  ftStatus = FT_Read(ftHandle[device], buf, count > 0 ? (DWORD)count : 0, &got);
  if (ftStatus != FT_OK) return -1;
  return (int)got;
}
