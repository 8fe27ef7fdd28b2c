// The commands of `tern`, each over the commissioning core (device/rig,
// device/commission) on the calling thread. The program's entry (cli.cpp)
// parses the command line into CliArgs and runs one of them; each turns the
// text it was given into values, calls the core and turns the results into
// lines or JSON through the context's output. Nothing here keeps state
// between two runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_out.h"
#include "device/app_discovery.h"
#include "device/rig.h"

namespace CLI {
class App;
}

struct CliContext {
  CliOut out;
  FILE* in = stdin;
  bool inTerminal = false;   // questions can be asked
  bool errTerminal = false;  // progress can be shown
  const std::atomic<bool>* stop = nullptr;  // set by SIGINT or SIGTERM: stop between devices
};

struct CliArgs {
  bool quick = false;  // discover, --all, export: find the devices by Quick discovery
  bool fresh = false;  // discover --new
  bool uidsOnly = false;  // discover --uids
  bool all = false;    // get, set, identify, address: every device found
  std::vector<std::string> uids;
  bool dali = false;   // get --dali
  // set: the texts as given; empty = not given
  std::string address, loss, sleep, backlight, limitUp, limitDown;
  // address
  std::string start, step = "1";
  std::string footprint = "1";  // address, apply: channels each device uses
  bool yes = false;    // new-uid, firmware: do not ask
  bool randomize = false, search = false;  // dali
  std::string file;
  bool check = false;  // set, address, apply: what would change, nothing written
  bool fix = false;    // check --fix: the record applied to the devices that differ
  bool adopt = false;  // check --adopt: the one new device takes the one missing device's place
};

// Whether the run was asked to stop (a signal).
bool cli_stopped(const CliContext& c);
// Says "Cable not found!" (status 1) and returns false when the cable is not there.
bool cli_needCable(CliContext& c);
// Asks `question` with " [y/N] " on the error stream and reads the answer
// (no: status 1); without a terminal it refuses with `refusal` (status 2).
bool cli_confirm(CliContext& c, const char* question, const char* refusal);
// The UIDs named on the command line, in order; false (reported, status 2)
// when one is not a device's UID or one is named twice.
bool cli_parseUids(CliContext& c, const std::vector<std::string>& texts, std::vector<uint32_t>& uids);
// The devices a command works on: those named, or with --all every device a
// discovery finds (in UID order), with their records when `records` is
// given (those named are not read here). False (reported) when there are
// none or the discovery failed.
bool cli_devices(CliContext& c, const CliArgs& a, std::vector<uint32_t>& uids, std::vector<Device>* records);
// A discovery in `mode` and the reads of every device found, with progress
// on a terminal; failures are reported. Returns false when not every device
// could be found (the cable, a device that never mutes, a stop); `d` holds
// what was found and read either way.
bool cli_discover(CliContext& c, DiscoveryMode mode, RigDiscovery& d);
// A plan run device by device, with progress on a terminal; every device's
// result line as soon as it is done, the totals, warnings of shared
// addresses, and the document's "devices" and "totals".
void cli_runPlan(CliContext& c, const CommissionPlan& plan, bool checkOnly, int footprint);
// --footprint: 1..512 channels; false (reported) otherwise.
bool cli_footprint(CliContext& c, const CliArgs& a, int* footprint);

void cmd_discover(CliContext& c, const CliArgs& a);
void cmd_get(CliContext& c, const CliArgs& a);
void cmd_set(CliContext& c, const CliArgs& a);
void cmd_identify(CliContext& c, const CliArgs& a);
void cmd_newUid(CliContext& c, const CliArgs& a);
void cmd_dali(CliContext& c, const CliArgs& a);
void cmd_address(CliContext& c, const CliArgs& a);
void cmd_export(CliContext& c, const CliArgs& a);
void cmd_apply(CliContext& c, const CliArgs& a);
void cmd_sendCurve(CliContext& c, const CliArgs& a);
void cmd_firmware(CliContext& c, const CliArgs& a);
void cmd_check(CliContext& c, const CliArgs& a);
void cmd_replace(CliContext& c, const CliArgs& a);

// Several lines (cli_cables.cpp). `tern cables`: every converter attached,
// its serial number, who holds it and which one tern uses; status 1 when
// none is attached.
void cmd_cables(CliContext& c, const CliArgs& a);
// Registers --cable SERIAL (or the environment's TERN_CABLE) on `app`: the
// converter the commands use (cables.h); without it, converter 0.
void cli_addCableOption(CLI::App& app);

