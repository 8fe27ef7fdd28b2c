// What a `tern` command says: results on the output for people, or one JSON
// document for scripts (--json) on every path, usage errors included;
// errors always on the error stream as "tern: ...", and in the document as
// objects with a "message" (and "line", "column", "field", "uid" where they
// apply); the exit status.
//
// Statuses: CLI_OK when everything asked was done, CLI_FAILED when a device
// or the cable failed (or the results could not be written), CLI_USAGE on
// bad usage (nothing was done), CLI_INTERRUPTED when a signal stopped the
// run (what was done is reported).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "device/commission.h"
#include "device/devices.h"

using CliJson = nlohmann::ordered_json;

enum {
  CLI_OK = 0,
  CLI_FAILED = 1,
  CLI_USAGE = 2,
  CLI_INTERRUPTED = 130,  // as a shell reports a command ended by SIGINT
  CLI_TEXT_SIZE = 1024,
};

struct CliOut {
  FILE* out = stdout;
  FILE* err = stderr;
  bool json = false;
  bool quiet = false;  // -q: no results for people, only errors and the status
  CliJson doc;         // the command's document (--json)
  int status = CLI_OK;
};

// Starts the document of a command (null: none could be told).
void out_begin(CliOut& o, const char* command);
// A result line for people; nothing with --json or -q.
void out_line(CliOut& o, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// An error: "tern: ..." on the error stream, {"message": ...} into the
// document's "errors" (with the fields of `detail`, an object, when given),
// and the status raised to `status`.
void out_error(CliOut& o, int status, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void out_errorWith(CliOut& o, int status, const CliJson& detail, const char* text);
// A warning: "tern: warning: ..." on the error stream and into "warnings";
// the status stays.
void out_warning(CliOut& o, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Raises the status without a message (one was given already).
void out_raise(CliOut& o, int status);
// Ends the command: with --json, writes the document with "ok" and
// "status". A result that could not be written (a full disk, a closed pipe)
// is said on the error stream and makes the status CLI_FAILED. Returns the
// status.
int out_finish(CliOut& o);

// A UID as tern writes it: 8 hexadecimal digits.
std::string out_uid(uint32_t uid);
// A device's settings, as the CSV columns name them, for the document: the
// one shape of a device in every command.
CliJson out_deviceJson(const Device& d);
// The same as one line of the device table printed for people, and its
// header.
void out_deviceHeader(CliOut& o);
void out_deviceLine(CliOut& o, const Device& d);
// The settings given in `v`, by their CSV names (loss by its name); null
// when none is given.
CliJson out_valuesJson(const CommissionValues& v);
// A device's result of set, address or apply: its UID (and file line), its
// outcome, whether it was written, the changes (from, to), its settings
// before and after, and the reason it failed.
CliJson out_resultJson(const CommissionResult& r);
// The totals of a run by outcome, for the document.
CliJson out_totalsJson(const CommissionRun& run);
