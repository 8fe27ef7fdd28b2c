// The interface behind the D2XX-style port API. One backend is active at a
// time; ftd2xx.cpp forwards every FT_* call to it. Status results use the
// FT_* codes of ftd2xx.h (FT_OK = 0).
#pragma once

#include "platform/ftd2xx.h"

struct PortDeviceInfo {
  DWORD flags;
  DWORD type;
  DWORD id;
  DWORD locId;
  char serial[FT_SERIAL_LEN];
  char description[FT_DESCRIPTION_LEN];
  DWORD state;  // PORT_STATE_* (ftd2xx.h): who holds the converter
};

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  virtual DWORD port_libraryVersion() = 0;
  // Fills at most `capacity` records; sets `count` to the number filled.
  // Each record's state says whether this process holds the converter and
  // whether the user may open it; with `probe` the backend also finds out
  // whether another program holds it (FT_CreateDeviceInfoList does, the
  // listing before an open does not need to), else such a converter is
  // listed as free.
  virtual FT_STATUS port_list(PortDeviceInfo* out, int capacity, int& count, bool probe) = 0;
  // Opens the converter with this serial number.
  virtual FT_STATUS port_open(const char* serial, FT_HANDLE* handle) = 0;
  virtual FT_STATUS port_close(FT_HANDLE h) = 0;
  virtual FT_STATUS port_reset(FT_HANDLE h) = 0;
  virtual FT_STATUS port_setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) = 0;
  virtual FT_STATUS port_setBaudRate(FT_HANDLE h, ULONG baud) = 0;
  virtual FT_STATUS port_setDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop,
                                                UCHAR parity) = 0;
  virtual FT_STATUS port_write(FT_HANDLE h, const uint8_t* data, DWORD n, DWORD& written) = 0;
  virtual FT_STATUS port_status(FT_HANDLE h, DWORD& rx, DWORD& tx, DWORD& event) = 0;
  virtual FT_STATUS port_read(FT_HANDLE h, uint8_t* buf, DWORD n, DWORD& got) = 0;
  // Gives back to the system every converter the backend still holds
  // without an open handle (see ftd2xx_releaseIdle). Nothing by default.
  virtual void port_releaseIdle() {}
};

// Makes `backend` the active one (not owned). Null restores the default,
// the libftdi1 backend for real converters.
void ftd2xx_setBackend(PortBackend* backend);
PortBackend* ftd2xx_backend();

// The libftdi1 backend, created on first use.
PortBackend* libftdi_backend();
