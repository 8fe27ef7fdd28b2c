// How long each discovery mode takes on the simulated converter, in virtual
// time (the protocol's every wait and USB round trip, no real time): prints
// the table of the modes against the number of devices, and the cases of a
// lossy line, of a device that never takes its mute, and of the check of a
// line against its record with the settings reads. Run by hand:
//   build/tests/bench_discovery
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "device/app_discovery.h"
#include "device/devices.h"
#include "device/rig_check.h"
#include "link/cable.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "protocol/packet_parser.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

struct Figure {
  double seconds;
  long probeSends;
  int found;
  int end;
};

// Runs one discovery of `mode` on a fresh line of `devices` devices that
// `build` may change; with discoverFirst a Quick discovery runs before it
// on the same line, and `addNew` adds devices in between.
Figure measure(DiscoveryMode mode, const std::function<void(SimLine&, SimDevices&)>& build,
               int devices, uint32_t seed, bool discoverFirst = false,
               const std::function<void(SimLine&)>& addNew = nullptr) {
  SimLine line;
  SimDevices population(devices, seed);
  population.sim_attach(line);
  if (build) build(line, population);
  ftd2xx_setBackend(&line);
  dev_removeAll();
  packet_resetReceiver();
  uint32_t uids[200];
  // The console of the protocol is not part of the figures.
  FILE* saved = stdout;
  stdout = fopen("/dev/null", "w");
  if (discoverFirst) {
    DiscoveryRun first;
    first.mode = DISCOVERY_QUICK;
    discovery_run(&first, uids, 200);
  }
  if (addNew) addNew(line);
  DiscoveryRun run;
  run.mode = mode;
  const uint64_t t0 = clock_nowUs();
  discovery_run(&run, uids, 200);
  const uint64_t us = clock_nowUs() - t0;
  fclose(stdout);
  stdout = saved;
  cable_free();
  ftd2xx_setBackend(nullptr);
  return {us / 1e6, run.probeSends, run.found, run.end};
}

// Checks a line of `devices` devices against the record of their UIDs and
// settings, the reads included; `swapped` devices of the line have another
// UID than their record's, and `missing` devices of the record are not on
// the line.
Figure checkRecord(int devices, uint32_t seed, int swapped, int missing) {
  SimLine line;
  SimDevices population(devices, seed);
  std::unique_ptr<CommissionPlan> plan(new CommissionPlan);
  plan->count = population.sim_count();
  for (int i = 0; i < plan->count; i++) {
    const SimSettings& s = population.sim_device(i).sim_functions().settings;
    CommissionTarget& t = plan->targets[i];
    t.uid = population.sim_device(i).sim_uid();
    t.line = i + 2;
    t.want.has = COMMISSION_ALL_FIELDS;
    const int32_t values[COMMISSION_FIELDS] = {s.addr, s.lossOfDmx, s.sleep, s.backlight, s.limitUp, s.limitDown};
    for (int f = 0; f < COMMISSION_FIELDS; f++) t.want.v[f] = values[f];
  }
  for (int k = 0; k < swapped; k++) population.sim_replace(k * 7, 0x00100000u + (uint32_t)k);
  for (int k = 0; k < missing; k++) population.sim_remove(population.sim_count() - 1 - k * 3);
  population.sim_attach(line);
  ftd2xx_setBackend(&line);
  dev_removeAll();
  packet_resetReceiver();
  FILE* saved = stdout;
  stdout = fopen("/dev/null", "w");
  std::unique_ptr<RigCheck> c(new RigCheck);
  const uint64_t t0 = clock_nowUs();
  rig_check(plan.get(), c.get());
  const uint64_t us = clock_nowUs() - t0;
  fclose(stdout);
  stdout = saved;
  cable_free();
  ftd2xx_setBackend(nullptr);
  return {us / 1e6, c->run.probeSends, c->newCount, c->end};
}

void cell(const Figure& f) { printf(" %8.1f s %6ld |", f.seconds, f.probeSends); }

}  // namespace

int main() {
  clock_useVirtual(1000000);
  printf("Virtual time and probe sends of one discovery on the simulated converter\n\n");
  printf("| devices | Discovery           | Quick discovery     | Find new, none new  |\n");
  printf("|---------|---------------------|---------------------|---------------------|\n");
  for (int n : {0, 10, 200}) {
    printf("| %7d |", n);
    cell(measure(DISCOVERY_FULL, nullptr, n, 7));
    cell(measure(DISCOVERY_QUICK, nullptr, n, 7));
    cell(measure(DISCOVERY_NEW, nullptr, n, 7, true));
    printf("\n");
  }
  SimDevice* fresh[3] = {};
  for (int k = 1; k <= 3; k++) {
    const Figure f = measure(
        DISCOVERY_NEW, nullptr, 10, 7, true, [&](SimLine& line) {
          for (int i = 0; i < k; i++) {
            fresh[i] = new SimDevice(0x100u + (uint32_t)i * 0x01000000u);
            line.sim_addResponder(fresh[i]);
          }
        });
    printf("Find new devices, 10 found before, %d new: %.1f s, %ld probe sends, %d found\n", k,
           f.seconds, f.probeSends, f.found);
    for (int i = 0; i < k; i++) delete fresh[i];
  }
  printf("\nQuick discovery of 200 devices that each miss a probe they should answer now and then\n\n");
  printf("| probe loss | Quick discovery     | found |\n");
  printf("|------------|---------------------|-------|\n");
  for (int perMille : {0, 10, 20, 50}) {
    const Figure f = measure(DISCOVERY_QUICK, [=](SimLine&, SimDevices& p) {
      for (int i = 0; i < p.sim_count(); i++) p.sim_device(i).sim_functions().faults.probeLossPerMille = perMille;
    }, 200, 7);
    printf("| %8.1f %% |", perMille / 10.0);
    cell(f);
    printf(" %5d |\n", f.found);
  }
  printf("\n");
  printf("| check against the record, reads included | time      | probe sends | new |\n");
  printf("|-------------------------------------------|-----------|-------------|-----|\n");
  const struct {
    const char* what;
    int swapped, missing;
  } checks[] = {{"200 devices that match", 0, 0},
                {"200 devices, one swapped", 1, 0},
                {"200 devices, ten missing", 0, 10},
                {"200 devices, ten swapped", 10, 0}};
  for (const auto& k : checks) {
    const Figure f = checkRecord(200, 7, k.swapped, k.missing);
    printf("| %-41s | %7.1f s | %11ld | %3d |\n", k.what, f.seconds, f.probeSends, f.found);
  }
  printf("\n");
  for (DiscoveryMode mode : {DISCOVERY_FULL, DISCOVERY_QUICK, DISCOVERY_NEW}) {
    SimDevice rogue(0x7F000000);
    rogue.sim_functions().faults.neverMutes = true;
    const Figure f = measure(mode, [&](SimLine& line, SimDevices&) { line.sim_addResponder(&rogue); }, 10, 7);
    printf("%s, 10 devices and one that never mutes above them: %.1f s, ended %s\n",
           mode == DISCOVERY_FULL ? "Discovery" : mode == DISCOVERY_QUICK ? "Quick discovery" : "Find new devices",
           f.seconds, f.end == DISCOVERY_END_ROGUE ? "naming it" : "without naming it");
  }
  return 0;
}
