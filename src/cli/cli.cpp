#include "cli/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_commands.h"
#include "device/bridge.h"
#include "device/commission.h"
#include "link/cable.h"
#include "platform/clock.h"
#include "platform/libftdi_backend.h"
#include "platform/port_backend.h"
#include "protocol/packet_parser.h"
#include "sim/sim_options.h"

#ifndef TERN_VERSION
#define TERN_VERSION "1.1"
#endif

namespace {

struct Command {
  CLI::App* app;
  void (*run)(CliContext&, const CliArgs&);
};

void addUids(CLI::App* sub, CliArgs& a, const char* what) { sub->add_option("UID", a.uids, what); }

void addAll(CLI::App* sub, CliArgs& a) {
  sub->add_flag("--all", a.all, "every device found on the line, in UID order");
  sub->add_flag("--quick", a.quick, "with --all: find them by Quick discovery");
}

// Every command and its options, bound to a.
std::vector<Command> addCommands(CLI::App& app, CliArgs& a) {
  std::vector<Command> commands;
  CLI::App* sub;

  sub = app.add_subcommand("discover", "find the devices on the line and print each with its settings");
  sub->add_flag("--quick", a.quick, "Quick discovery: the same devices with fewer probes");
  sub->add_flag("--new", a.fresh, "Find new devices: only those not found (muted) before");
  sub->add_flag("--uids", a.uidsOnly, "print the UIDs only, one a line");
  commands.push_back({sub, cmd_discover});

  sub = app.add_subcommand("get", "print devices' settings");
  addUids(sub, a, "the devices' UIDs, hexadecimal (as discover prints them)");
  addAll(sub, a);
  sub->add_flag("--dali", a.dali, "also read and print the DALI gear behind each");
  commands.push_back({sub, cmd_get});

  sub = app.add_subcommand("set", "change devices' settings: only those named; checked, written, read back");
  addUids(sub, a, "the devices' UIDs");
  addAll(sub, a);
  sub->add_option("--address", a.address, "DMX start address 1..512")->type_name("N");
  sub->add_option("--loss", a.loss, "on loss of DMX: HOLD, \"to 0%\" or \"to 100%\"")->type_name("MODE");
  sub->add_option("--sleep", a.sleep, "display sleep: off, or 5..100 seconds")->type_name("S");
  sub->add_option("--backlight", a.backlight, "display backlight 0..100 %")->type_name("B");
  sub->add_option("--limit-up", a.limitUp, "upper output limit 0..255")->type_name("N");
  sub->add_option("--limit-down", a.limitDown, "lower output limit 0..255, not above the upper")->type_name("N");
  sub->add_flag("--check", a.check, "print what would change without writing anything");
  commands.push_back({sub, cmd_set});

  sub = app.add_subcommand("address", "give devices DMX start addresses in sequence: N, N+S, N+2S...");
  sub->add_option("--start", a.start, "the first device's address, 1..512")->type_name("N")->required();
  sub->add_option("--step", a.step, "between two devices, 0..511 (default 1)")->type_name("S");
  sub->add_option("--footprint", a.footprint, "channels each device uses, for the overlap warnings (default 1)")
      ->type_name("N");
  addAll(sub, a);
  sub->add_flag("--check", a.check, "print what would change without writing anything");
  addUids(sub, a, "the devices, in this order");
  commands.push_back({sub, cmd_address});

  sub = app.add_subcommand("identify", "tell devices to make themselves known");
  addUids(sub, a, "the devices' UIDs");
  addAll(sub, a);
  commands.push_back({sub, cmd_identify});

  sub = app.add_subcommand("new-uid", "give a device a new UID made from the time");
  addUids(sub, a, "the device's UID");
  sub->add_flag("--yes", a.yes, "do not ask first");
  commands.push_back({sub, cmd_newUid});

  sub = app.add_subcommand("dali", "read and print the DALI gear behind a device");
  addUids(sub, a, "the device's UID");
  sub->add_flag("--randomize", a.randomize, "give the gear new random addresses first");
  sub->add_flag("--search", a.search, "search the DALI line first");
  commands.push_back({sub, cmd_dali});

  sub = app.add_subcommand("send-curve", "send a curve file (.crv) to every device on the line");
  sub->add_option("FILE", a.file, "the curve file")->required();
  commands.push_back({sub, cmd_sendCurve});

  sub = app.add_subcommand("firmware", "send a firmware file (.fw) to every device on the line");
  sub->add_option("FILE", a.file, "the firmware file")->required();
  sub->add_flag("--yes", a.yes, "do not ask first");
  commands.push_back({sub, cmd_firmware});

  sub = app.add_subcommand("export", "find every device and write its settings to a CSV file, one row each");
  sub->add_option("FILE", a.file, "the CSV file to write")->required();
  sub->add_flag("--quick", a.quick, "find the devices by Quick discovery");
  commands.push_back({sub, cmd_export});

  sub = app.add_subcommand("apply", "give every device of a CSV file the settings of its row");
  sub->add_option("FILE", a.file, "the CSV file, as export writes it")->required();
  sub->add_flag("--check", a.check, "print the changes without writing anything");
  sub->add_option("--footprint", a.footprint, "channels each device uses, for the overlap warnings (default 1)")
      ->type_name("N");
  commands.push_back({sub, cmd_apply});

  sub = app.add_subcommand("check", "check the line against a record: every device there and as recorded, none new");
  sub->add_option("FILE", a.file, "the record, as export writes it")->required();
  sub->add_flag("--fix", a.fix, "then give the devices that differ the record's values (each read back)");
  sub->add_flag("--adopt", a.adopt,
                "then, when one device is missing and one is new, give the new one the missing one's row");
  commands.push_back({sub, cmd_check});

  sub = app.add_subcommand("replace", "give a new device a missing device's settings and its row in the record");
  sub->add_option("FILE", a.file, "the record, as export writes it")->required();
  sub->add_option("UID", a.uids, "the missing device's UID, then the new device's")->expected(2);
  commands.push_back({sub, cmd_replace});

  sub = app.add_subcommand("cables", "list the USB-to-DMX cables attached, who holds each, and the one used");
  commands.push_back({sub, cmd_cables});
  return commands;
}

// A backend for the command: the simulated line, or the cable.
struct Line {
  bool sim = false;
  SimRig rig;
};

bool openLine(Line& line, const SimOptions& o, CliOut& out) {
  if (!line.sim) return true;
  // Commands on the simulated line take no real time: every wait of the
  // protocol passes at once, and the times reported are those of a line.
  if (!o.realTime && !clock_isVirtual()) clock_useVirtual(0);
  line.rig = simRig_build(o);
  if (!line.rig.error.empty()) {
    out_error(out, CLI_USAGE, "%s", line.rig.error.c_str());
    simRig_free(line.rig);
    return false;
  }
  ftd2xx_setBackend(line.rig.line);
  return true;
}

void closeLine(Line& line, const SimOptions& o, CliOut& out) {
  cable_free();
  if (!line.sim) {
    libftdi_releaseAll();  // the kernel's serial driver gets the converter back
    return;
  }
  if (!line.rig.line) return;
  for (const std::string& why : simRig_finish(line.rig, o)) out_error(out, CLI_FAILED, "%s", why.c_str());
  ftd2xx_setBackend(nullptr);
  simRig_free(line.rig);
}

void consoleTo(bool verbose) {
  fflush(stdout);
  const int fd = verbose ? dup(2) : open("/dev/null", O_WRONLY);
  if (fd < 0) return;
  dup2(fd, 1);
  close(fd);
}

bool wantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--json") == 0) return true;
  return false;
}

// A command line that could not be parsed: said in tern's words, and in
// --json mode as the document every path prints.
int usageError(const CliIo& io, bool json, const std::string& command, const std::string& text) {
  CliOut o;
  o.out = io.out;
  o.err = io.err;
  o.json = json;
  out_begin(o, command.empty() ? nullptr : command.c_str());
  out_error(o, CLI_USAGE, "%s", text.c_str());
  fputs("Run tern --help for the commands, tern COMMAND --help for one.\n", io.err);
  return out_finish(o);
}

// The signal handlers' flag: the first SIGINT or SIGTERM asks the run to
// stop between two devices; the second ends the program at once.
std::atomic<bool> interrupted{false};

void onSignal(int sig) {
  if (interrupted.exchange(true)) {
    signal(sig, SIG_DFL);
    raise(sig);
  }
}

}  // namespace

bool cli_needCable(CliContext& c) {
  if (commission_cablePresent()) return true;
  out_error(c.out, CLI_FAILED, "%s", cable_notFoundText());
  return false;
}

bool cli_confirm(CliContext& c, const char* question, const char* refusal) {
  if (!c.inTerminal) {
    out_error(c.out, CLI_USAGE, "%s", refusal);
    return false;
  }
  fprintf(c.out.err, "%s [y/N] ", question);
  fflush(c.out.err);
  char answer[16] = "";
  clock_blockBegin();  // a person takes the time it takes
  const bool yes = fgets(answer, sizeof answer, c.in) && (answer[0] == 'y' || answer[0] == 'Y');
  clock_blockEnd();
  if (yes) return true;
  out_error(c.out, CLI_FAILED, "not confirmed: nothing was sent");
  return false;
}

int cli_run(int argc, char** argv, const CliIo& io) {
  CliArgs a;
  SimOptions sim;
  Line line;
  bool json = false, verbose = false, quiet = false;
  CLI::App app("Commissions the devices of a DMX-512 line from the shell: finds them, addresses them in\n"
               "sequence, sets, exports and applies their settings, sends curves and firmware.",
               "tern");
  app.fallthrough();  // the program's options may come after the command too
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", "tern " TERN_VERSION, "print the version and exit");
  CLI::Option* simFlag = app.add_flag("--sim", line.sim, "run on the simulated line (in virtual time) instead of the cable");
  app.add_flag("--json", json, "print one JSON document for scripts instead of lines for people");
  app.add_flag("-v,--verbose", verbose, "show the device layer's console lines on the error stream");
  app.add_flag("-q,--quiet", quiet, "print no results, only errors; the exit status tells how it went");
  cli_addCableOption(app);
  const size_t before = app.get_options().size();
  simOptions_add(app, sim);
  std::vector<CLI::Option*> options = app.get_options();
  for (size_t i = before; i < options.size(); i++) options[i]->needs(simFlag)->group("Simulated line (with --sim)");
  const std::vector<Command> commands = addCommands(app, a);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    fputs(app.help().c_str(), io.out);
    fflush(io.out);
    return CLI_OK;
  } catch (const CLI::CallForVersion&) {
    fprintf(io.out, "tern %s\n", TERN_VERSION);
    fflush(io.out);
    return CLI_OK;
  } catch (const CLI::ParseError& e) {
    // A word that names no command reads better as what it is.
    const std::vector<std::string> extra = app.remaining();
    std::string command;
    for (const Command& k : commands)
      if (k.app->parsed()) command = k.app->get_name();
    if (command.empty() && !extra.empty() && extra[0][0] != '-')
      return usageError(io, wantsJson(argc, argv), command, "unknown command \"" + extra[0] + "\"");
    return usageError(io, wantsJson(argc, argv), command, e.what());
  }
  const Command* command = nullptr;
  for (const Command& k : commands)
    if (k.app->parsed()) command = &k;
  if (!command) return usageError(io, json, "", "name a command");
  if (io.console) io.console(verbose);

  CliContext c;
  c.out.out = io.out;
  c.out.err = io.err;
  c.out.json = json;
  c.out.quiet = quiet;
  c.in = io.in;
  c.inTerminal = io.inTerminal;
  c.errTerminal = io.errTerminal && !quiet;
  c.stop = io.stop;
  out_begin(c.out, command->app->get_name().c_str());
  if (!openLine(line, sim, c.out)) return out_finish(c.out);

  // Each run starts as a program does: nothing known, nothing received.
  dev_removeAll();
  packet_resetReceiver();
  bridge_setGuiThread();  // messages are never left waiting for a window
  const uint64_t startUs = clock_nowUs();
  command->run(c, a);
  c.out.doc["seconds"] = (double)(clock_nowUs() - startUs) / 1e6;
  closeLine(line, sim, c.out);
  return out_finish(c.out);
}

int cli_main(int argc, char** argv) {
  fflush(stdout);
  const int fd = dup(1);
  FILE* out = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!out) {
    fprintf(stderr, "tern: cannot write to the standard output\n");
    return CLI_FAILED;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed pipe is a failed write, said as such
  CliIo io;
  io.out = out;
  io.inTerminal = isatty(0) == 1;
  io.errTerminal = isatty(2) == 1;
  io.console = consoleTo;
  io.stop = &interrupted;
  int status = cli_run(argc, argv, io);
  if (fclose(out) != 0 && status == CLI_OK) status = CLI_FAILED;
  return status;
}
