// Our own D2XX-style port API: the subset of FT_* calls, types, flags and
// status codes that the FTDI port module uses. Every call forwards to one
// active backend (libftdi1 for real converters, or the simulated line).
#pragma once

#include <cstdint>

typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint8_t UCHAR;
typedef DWORD* LPDWORD;
typedef void* PVOID;
typedef void* LPVOID;
typedef void* FT_HANDLE;
typedef ULONG FT_STATUS;

enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_BAUD_RATE = 7,
  FT_OTHER_ERROR = 18,
};

// Flags of FT_ListDevices and FT_OpenEx.
enum : DWORD {
  FT_OPEN_BY_SERIAL_NUMBER = 1,
  FT_OPEN_BY_DESCRIPTION = 2,
  FT_LIST_NUMBER_ONLY = 0x80000000u,
  FT_LIST_BY_INDEX = 0x40000000u,
  FT_LIST_ALL = 0x20000000u,
};

// Line characteristics.
enum : UCHAR {
  FT_BITS_8 = 8,
  FT_BITS_7 = 7,
  FT_STOP_BITS_1 = 0,
  FT_STOP_BITS_2 = 2,
  FT_PARITY_NONE = 0,
};

// Sizes of the text fields of a device info record.
enum { FT_SERIAL_LEN = 16, FT_DESCRIPTION_LEN = 64 };

// Most converters FT_ListDevices / FT_CreateDeviceInfoList report.
enum { FT_MAX_DEVICES = 50 };

// Who holds a listed converter (not in D2XX, whose FT_FLAGS_OPENED cannot
// tell another program from a missing permission).
enum : DWORD {
  PORT_STATE_FREE = 0,           // nobody: it can be opened
  PORT_STATE_HERE = 1,           // this process holds it
  PORT_STATE_IN_USE = 2,         // another program holds it (another Tern, a serial terminal)
  PORT_STATE_NO_PERMISSION = 3,  // the user may not open it (the udev rule is missing)
};

FT_STATUS FT_GetLibraryVersion(LPDWORD lpdwVersion);
FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
FT_STATUS FT_GetDeviceInfoDetail(DWORD dwIndex, LPDWORD lpdwFlags, LPDWORD lpdwType,
                                 LPDWORD lpdwID, LPDWORD lpdwLocId, LPVOID lpSerialNumber,
                                 LPVOID lpDescription, FT_HANDLE* pftHandle);
// With FT_LIST_ALL | FT_OPEN_BY_SERIAL_NUMBER: pArg1 is a null-terminated
// array of 64-byte buffers that receive the serial numbers, pArg2 a DWORD
// that receives the number of converters.
FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FT_STATUS FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle);
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                    UCHAR Parity);
FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                   LPDWORD lpBytesWritten);
FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes,
                       DWORD* dwEventDWord);
FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                  LPDWORD lpBytesReturned);
FT_STATUS FT_Close(FT_HANDLE ftHandle);

// Tern's own additions, not in D2XX.
// The PORT_STATE_* of converter `index` in the list made by the last
// FT_CreateDeviceInfoList: FT_DEVICE_NOT_FOUND past its end.
FT_STATUS ftd2xx_deviceState(DWORD index, DWORD* state);
// Gives back to the system the converters this process still holds though
// no handle is open on them (the libftdi1 backend keeps a converter claimed
// across FT_Close): for a program that moves to another converter.
void ftd2xx_releaseIdle();
