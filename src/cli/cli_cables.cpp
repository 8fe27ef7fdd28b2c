// `tern cables`: every converter attached, who holds each, and the one tern
// uses; and the --cable option that chooses it.
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_commands.h"
#include "link/cables.h"

namespace {

std::string checkSerial(const std::string& text) {
  char why[160];
  if (text.empty() || cables_checkSerial(text.c_str(), why, sizeof why)) return std::string();
  return why;
}

}  // namespace

void cli_addCableOption(CLI::App& app) {
  app.add_option_function<std::string>(
         "--cable", [](const std::string& serial) { cables_choose(serial.c_str()); },
         "the cable's serial number, for a machine with several (tern cables lists them; "
         "default: the environment's TERN_CABLE, else the first converter)")
      ->type_name("SERIAL")
      ->envname("TERN_CABLE")
      ->check(CLI::Validator(checkSerial, "", "serial"))
      ->default_str("")
      ->force_callback();  // without --cable, no choice left from an earlier run
}

void cmd_cables(CliContext& c, const CliArgs&) {
  std::vector<CableEntry> cables(FT_MAX_DEVICES);
  const int n = cables_list(cables.data(), FT_MAX_DEVICES);
  c.out.doc["cables"] = CliJson::array();
  if (n < 0) {
    out_error(c.out, CLI_FAILED, "the converters could not be listed: see the libftdi line above");
    return;
  }
  if (n == 0) {
    out_error(c.out, CLI_FAILED, "Cable not found!");
    return;
  }
  bool seen[CABLE_NO_PERMISSION + 1] = {};
  out_line(c.out, "  %-16s %-26s %s", "SERIAL", "STATE", "DESCRIPTION");
  for (int i = 0; i < n; i++) {
    const CableEntry& e = cables[i];
    seen[e.state] = true;
    out_line(c.out, "%c %-16s %-26s %s", e.chosen ? '*' : ' ', e.serial[0] ? e.serial : "-",
             cables_stateText(e.state), e.description);
    c.out.doc["cables"].push_back({{"serial", e.serial},
                                   {"description", e.description},
                                   {"state", cables_stateName(e.state)},
                                   {"chosen", e.chosen}});
  }
  for (int s = 0; s <= CABLE_NO_PERMISSION; s++)
    if (seen[s] && cables_stateHint((CableState)s))
      out_line(c.out, "%s: %s", cables_stateText((CableState)s), cables_stateHint((CableState)s));
  out_line(c.out, "%d cable%s found; * is the one tern uses.", n, n == 1 ? "" : "s");
}
