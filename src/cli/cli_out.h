// What a `tern` command says: results on the output for people, or one JSON
// document for scripts (--json); errors always on the error stream, named
// "tern: ..."; and the exit status, 0 when all was done, 1 when a device or
// the cable failed, 2 on bad usage.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "device/commission.h"
#include "device/devices.h"

using CliJson = nlohmann::ordered_json;

enum {
  CLI_OK = 0,
  CLI_FAILED = 1,  // a device or the cable failed
  CLI_USAGE = 2,   // bad usage: nothing was done
  CLI_TEXT_SIZE = 512,
};

struct CliOut {
  FILE* out = stdout;
  FILE* err = stderr;
  bool json = false;
  CliJson doc;      // the command's document (--json)
  int status = CLI_OK;
};

// Starts the document of a command.
void out_begin(CliOut& o, const char* command);
// A result line for people; nothing with --json.
void out_line(CliOut& o, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// An error: "tern: ..." on the error stream, into the document's "errors",
// and the status raised to `status`.
void out_error(CliOut& o, int status, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// An error someone else already printed (the device layer's messages):
// only into the document, and the status raised.
void out_errorShown(CliOut& o, int status, const char* text);
// Ends the command: with --json, writes the document with "ok" and
// "status". Returns the status.
int out_finish(CliOut& o);

// A device's settings as the CSV columns name them, for the document.
CliJson out_deviceJson(const Device& d);
// The same as one line of the device table printed for people, and its
// header.
void out_deviceHeader(CliOut& o);
void out_deviceLine(CliOut& o, const Device& d);
// A device's result of set, address or apply: its outcome, the changes
// (from, to), its settings before and after, and the reason it failed.
CliJson out_resultJson(const CommissionResult& r);
