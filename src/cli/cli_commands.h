// The commands of `tern`, each over the device layer on the calling
// thread. The program's entry (cli.cpp) parses the command line into
// CliArgs and runs one of them; each reports through the context's output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_out.h"
#include "device/app_discovery.h"

namespace CLI {
class App;
}

struct CliContext {
  CliOut out;
  FILE* in = stdin;
  bool inTerminal = false;   // questions can be asked
  bool errTerminal = false;  // progress can be shown
};

struct CliArgs {
  bool quick = false;  // discover, address --all, export: --quick
  bool fresh = false;  // discover --new
  std::string uid;
  bool dali = false;   // get --dali
  // set: the texts as given; empty = not given
  std::string address, loss, sleep, backlight, limitUp, limitDown;
  // address
  std::string start;
  int step = 1;
  bool all = false;
  std::vector<std::string> uids;
  bool yes = false;    // new-uid, firmware: do not ask
  bool randomize = false, search = false;  // dali
  std::string file;
  bool check = false;  // apply --check
};

// A UID as given on the command line: hexadecimal, "0x" allowed, 1..7FFFFFFF.
bool cli_parseUid(const std::string& text, uint32_t* uid);
// Says "Cable not found!" (status 1) and returns false when the cable is not there.
bool cli_needCable(CliContext& c);
// Asks `question` with " [y/N] " on the error stream and reads the answer
// (no: status 1); without a terminal it refuses with `refusal` (status 2).
bool cli_confirm(CliContext& c, const char* question, const char* refusal);

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

// Several lines (cli_cables.cpp). `tern cables`: every converter attached,
// its serial number, who holds it and which one tern uses; status 1 when
// none is attached.
void cmd_cables(CliContext& c, const CliArgs& a);
// Registers --cable SERIAL (or the environment's TERN_CABLE) on `app`: the
// converter the commands use (cables.h); without it, converter 0.
void cli_addCableOption(CLI::App& app);

// Shared by the commands that find devices: a discovery in `mode`, then
// the settings of each device found; the UIDs of those that answered, in
// UID order, and their records. Failures are reported. Returns how many;
// -1 when the cable failed; -1 - n when a device that never mutes stopped
// the discovery after n (those below it could not be found).
int cli_discoverAndRead(CliContext& c, DiscoveryMode mode, uint32_t* uids, Device* records, int capacity);
