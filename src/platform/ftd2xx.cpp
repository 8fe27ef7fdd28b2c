// Forwards the FT_* calls to the active port backend and keeps, like D2XX,
// the device info list made by the last FT_CreateDeviceInfoList.
#include "platform/ftd2xx.h"

#include <atomic>
#include <cstring>

#include "platform/port_backend.h"

namespace {

std::atomic<PortBackend*> activeBackend{nullptr};

PortDeviceInfo infoList[FT_MAX_DEVICES];
int infoCount = 0;

PortBackend* backend() {
  PortBackend* b = activeBackend.load(std::memory_order_acquire);
  return b ? b : libftdi_backend();
}

void copyText(char* dst, const char* src, size_t cap) {
  if (cap == 0) return;
  strncpy(dst, src, cap - 1);
  dst[cap - 1] = 0;
}

}  // namespace

void ftd2xx_setBackend(PortBackend* b) { activeBackend.store(b, std::memory_order_release); }

PortBackend* ftd2xx_backend() { return backend(); }

FT_STATUS FT_GetLibraryVersion(LPDWORD lpdwVersion) {
  if (!lpdwVersion) return FT_INVALID_PARAMETER;
  *lpdwVersion = backend()->port_libraryVersion();
  return FT_OK;
}

FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
  if (!lpdwNumDevs) return FT_INVALID_PARAMETER;
  int count = 0;
  FT_STATUS st = backend()->port_list(infoList, FT_MAX_DEVICES, count, true);
  infoCount = st == FT_OK ? count : 0;
  *lpdwNumDevs = (DWORD)infoCount;
  return st;
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType,
                                 LPDWORD lpdwID, LPDWORD lpdwLocId, LPVOID lpSerialNumber,
                                 LPVOID lpDescription, FT_HANDLE* pftHandle) {
  if (dwIndex >= (DWORD)infoCount) return FT_DEVICE_NOT_FOUND;
  const PortDeviceInfo& d = infoList[dwIndex];
  if (lpdwFlags) *lpdwFlags = d.flags;
  if (lpdwType) *lpdwType = d.type;
  if (lpdwID) *lpdwID = d.id;
  if (lpdwLocId) *lpdwLocId = d.locId;
  if (lpSerialNumber) copyText((char*)lpSerialNumber, d.serial, FT_SERIAL_LEN);
  if (lpDescription) copyText((char*)lpDescription, d.description, FT_DESCRIPTION_LEN);
  if (pftHandle) *pftHandle = nullptr;
  return FT_OK;
}

FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags) {
  if (!(Flags & FT_LIST_ALL) || !(Flags & FT_OPEN_BY_SERIAL_NUMBER) || !pArg1 || !pArg2)
    return FT_INVALID_PARAMETER;
  PortDeviceInfo found[FT_MAX_DEVICES];
  int count = 0;
  FT_STATUS st = backend()->port_list(found, FT_MAX_DEVICES, count, false);
  if (st != FT_OK) return st;
  // The caller's array ends with a null pointer; each row holds 64 bytes.
  char** rows = (char**)pArg1;
  int filled = 0;
  for (; filled < count && rows[filled]; filled++) copyText(rows[filled], found[filled].serial, 64);
  *(DWORD*)pArg2 = (DWORD)count;
  return FT_OK;
}

FT_STATUS FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle) {
  if (!pArg1 || !pHandle || Flags != FT_OPEN_BY_SERIAL_NUMBER) return FT_INVALID_PARAMETER;
  const char* serial = (const char*)pArg1;
  if (!serial[0]) return FT_DEVICE_NOT_FOUND;
  return backend()->port_open(serial, pHandle);
}

FT_STATUS FT_ResetDevice(FT_HANDLE h) {
  return h ? backend()->port_reset(h) : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG ReadTimeout, ULONG WriteTimeout) {
  return h ? backend()->port_setTimeouts(h, ReadTimeout, WriteTimeout) : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG BaudRate) {
  return h ? backend()->port_setBaudRate(h, BaudRate) : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE h, UCHAR WordLength, UCHAR StopBits,
                                    UCHAR Parity) {
  return h ? backend()->port_setDataCharacteristics(h, WordLength, StopBits, Parity)
           : FT_INVALID_HANDLE;
}

FT_STATUS FT_Write(FT_HANDLE h, LPVOID lpBuffer, DWORD n, LPDWORD lpBytesWritten) {
  if (!h) return FT_INVALID_HANDLE;
  if (!lpBuffer || !lpBytesWritten) return FT_INVALID_PARAMETER;
  *lpBytesWritten = 0;
  return backend()->port_write(h, (const uint8_t*)lpBuffer, n, *lpBytesWritten);
}

FT_STATUS FT_GetStatus(FT_HANDLE h, DWORD* rx, DWORD* tx, DWORD* ev) {
  if (!h) return FT_INVALID_HANDLE;
  DWORD r = 0, t = 0, e = 0;
  FT_STATUS st = backend()->port_status(h, r, t, e);
  if (st != FT_OK) return st;
  if (rx) *rx = r;
  if (tx) *tx = t;
  if (ev) *ev = e;
  return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE h, LPVOID lpBuffer, DWORD n, LPDWORD lpBytesReturned) {
  if (!h) return FT_INVALID_HANDLE;
  if (!lpBuffer || !lpBytesReturned) return FT_INVALID_PARAMETER;
  *lpBytesReturned = 0;
  return backend()->port_read(h, (uint8_t*)lpBuffer, n, *lpBytesReturned);
}

FT_STATUS FT_Close(FT_HANDLE h) { return h ? backend()->port_close(h) : FT_INVALID_HANDLE; }

FT_STATUS ftd2xx_deviceState(DWORD index, DWORD* state) {
  if (!state) return FT_INVALID_PARAMETER;
  if (index >= (DWORD)infoCount) return FT_DEVICE_NOT_FOUND;
  *state = infoList[index].state;
  return FT_OK;
}

void ftd2xx_releaseIdle() { backend()->port_releaseIdle(); }
