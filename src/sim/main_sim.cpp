// tern-curve-sim: the curve editor on a simulated line with virtual devices.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "app/entry.h"
#include "platform/port_backend.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
  SimOptions o;
  CLI::App app("Tern's curve editor on a simulated DMX-512 line with virtual devices.",
               "tern-curve-sim");
  simOptions_add(app, o);
  app.get_option("--cable")->envname("TERN_CABLE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    fprintf(stderr, "tern-curve-sim: %s\nRun tern-curve-sim --help for the options.\n", e.what());
    return 2;
  }
  SimRig rig = simRig_build(o);
  if (!rig.error.empty()) {
    fprintf(stderr, "tern-curve-sim: %s\n", rig.error.c_str());
    return 2;
  }
  ftd2xx_setBackend(rig.line);
  int status = app_run();
  const std::vector<std::string> failed = simRig_finish(rig, o);
  for (const std::string& why : failed) fprintf(stderr, "tern-curve-sim: %s\n", why.c_str());
  return status != 0 ? status : failed.empty() ? 0 : 1;
}
