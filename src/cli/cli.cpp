#include "cli/cli.h"

#include <fcntl.h>
#include <unistd.h>

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

namespace {

// The messages the device layer posts for the operator while a command
// runs (it echoes them on the error stream itself): kept for the document.
std::vector<std::string> posted;

void collect(int type, const char* text) {
  if (type == BRIDGE_ERROR) posted.push_back(text);
}

struct Command {
  CLI::App* app;
  void (*run)(CliContext&, const CliArgs&);
};

void addUid(CLI::App* sub, CliArgs& a) {
  sub->add_option("UID", a.uid, "the device's UID, hexadecimal (as discover prints it)")->required();
}

// Every command and its options, bound to a.
std::vector<Command> addCommands(CLI::App& app, CliArgs& a) {
  std::vector<Command> commands;
  CLI::App* sub;

  sub = app.add_subcommand("discover", "find the devices on the line and print each with its settings");
  sub->add_flag("--quick", a.quick, "Quick discovery: the same devices with fewer probes");
  sub->add_flag("--new", a.fresh, "Find new devices: only those not found (muted) before");
  commands.push_back({sub, cmd_discover});

  sub = app.add_subcommand("get", "print one device's settings");
  addUid(sub, a);
  sub->add_flag("--dali", a.dali, "also read and print the DALI gear behind it");
  commands.push_back({sub, cmd_get});

  sub = app.add_subcommand("set", "change a device's settings: only those named; checked, written, read back");
  addUid(sub, a);
  sub->add_option("--address", a.address, "DMX start address 1..512")->type_name("N");
  sub->add_option("--loss", a.loss, "on loss of DMX: HOLD, \"to 0%\" or \"to 100%\"")->type_name("MODE");
  sub->add_option("--sleep", a.sleep, "display sleep: off, or 5..100 seconds")->type_name("S");
  sub->add_option("--backlight", a.backlight, "display backlight 0..100 %")->type_name("B");
  sub->add_option("--limit-up", a.limitUp, "upper output limit 0..255")->type_name("N");
  sub->add_option("--limit-down", a.limitDown, "lower output limit 0..255, not above the upper")->type_name("N");
  commands.push_back({sub, cmd_set});

  sub = app.add_subcommand("address", "give devices DMX start addresses in sequence: N, N+S, N+2S...");
  sub->add_option("--start", a.start, "the first device's address")->type_name("N")->required();
  sub->add_option("--step", a.step, "between two devices (default 1)")->type_name("S");
  sub->add_flag("--all", a.all, "every device found, in UID order");
  sub->add_flag("--quick", a.quick, "with --all: find them by Quick discovery");
  sub->add_option("UID", a.uids, "the devices, in this order");
  commands.push_back({sub, cmd_address});

  sub = app.add_subcommand("identify", "tell a device to make itself known");
  addUid(sub, a);
  commands.push_back({sub, cmd_identify});

  sub = app.add_subcommand("new-uid", "give a device a new UID made from the time");
  addUid(sub, a);
  sub->add_flag("--yes", a.yes, "do not ask first");
  commands.push_back({sub, cmd_newUid});

  sub = app.add_subcommand("dali", "read and print the DALI gear behind a device");
  addUid(sub, a);
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
  commands.push_back({sub, cmd_apply});
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
  if (!clock_isVirtual()) clock_useVirtual(0);
  line.rig = simRig_build(o);
  if (!line.rig.error.empty()) {
    out_error(out, CLI_USAGE, "%s", line.rig.error.c_str());
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
  if (simRig_finish(line.rig, o, "tern") != 0 && out.status < CLI_FAILED) out.status = CLI_FAILED;
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

}  // namespace

bool cli_parseUid(const std::string& text, uint32_t* uid) { return commission_parseUid(text.c_str(), uid); }

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
  bool json = false, verbose = false;
  CLI::App app("Commissions the devices of a DMX-512 line from the shell: finds them, addresses them in\n"
               "sequence, sets, exports and applies their settings, sends curves and firmware.",
               "tern");
  app.fallthrough();  // the program's options may come after the command too
  app.require_subcommand(1, 1);
  CLI::Option* simFlag = app.add_flag("--sim", line.sim, "run on the simulated line (in virtual time) instead of the cable");
  app.add_flag("--json", json, "print one JSON document for scripts instead of lines for people");
  app.add_flag("-v,--verbose", verbose, "show the device layer's console lines on the error stream");
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
  } catch (const CLI::ParseError& e) {
    // A word that names no command reads better as what it is.
    const std::vector<std::string> extra = app.remaining();
    if (app.get_subcommands().empty() && !extra.empty() && extra[0][0] != '-')
      fprintf(io.err, "tern: unknown command \"%s\"\n", extra[0].c_str());
    else
      fprintf(io.err, "tern: %s\n", e.what());
    fputs("Run tern --help for the commands, tern COMMAND --help for one.\n", io.err);
    return CLI_USAGE;
  }
  if (io.console) io.console(verbose);

  CliContext c;
  c.out.out = io.out;
  c.out.err = io.err;
  c.out.json = json;
  c.in = io.in;
  c.inTerminal = io.inTerminal;
  c.errTerminal = io.errTerminal;
  const Command* command = nullptr;
  for (const Command& k : commands)
    if (k.app->parsed()) command = &k;
  out_begin(c.out, command->app->get_name().c_str());
  if (!openLine(line, sim, c.out)) return out_finish(c.out);

  // Each run starts as a program does: nothing known, nothing received.
  dev_removeAll();
  packet_resetReceiver();
  bridge_setGuiThread();  // messages are never left waiting for a window
  posted.clear();
  bridge_setShower(collect);
  const uint64_t startUs = clock_nowUs();
  command->run(c, a);
  c.out.doc["seconds"] = (double)(clock_nowUs() - startUs) / 1e6;
  bridge_showPending();
  bridge_setShower(nullptr);
  for (std::string& text : posted) {
    commission_oneLine(&text[0]);
    out_errorShown(c.out, CLI_OK, text.c_str());
  }
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
  CliIo io;
  io.out = out;
  io.inTerminal = isatty(0) == 1;
  io.errTerminal = isatty(2) == 1;
  io.console = consoleTo;
  const int status = cli_run(argc, argv, io);
  if (fclose(out) != 0 && status == CLI_OK) return CLI_FAILED;
  return status;
}
