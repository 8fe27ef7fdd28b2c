// Cost of one refresh of the Devices table with 200 devices, which runs on
// the window's timer whenever the devices found or their records change
// (during a discovery, an address in sequence, an apply): the rows
// collected from the found list and the device table, sorted, put into the
// list, and the list drawn on the screen. The 200 devices are found and
// read by a real discovery on the simulated line, in virtual time, first.
// Needs an X display (run under Xvfb); wall time counts. Run by hand:
//   xvfb-run -s "-screen 0 1600x1000x24" build/tests/bench_device_table
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "app/devicePanel.h"
#include "app/deviceTable.h"
#include "app/mainWin.h"
#include "device/devices.h"
#include "device/discovery_job.h"
#include "link/cable.h"
#include "platform/clock.h"
#include "platform/ftd2xx.h"
#include "protocol/packet_parser.h"
#include "sim/sim_device.h"
#include "sim/sim_line.h"

namespace {

enum { DEVICES = 200 };

// The Devices frame alone in a window of the size a technician works at.
bool showTable() {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_container_add(GTK_CONTAINER(window), devicePanel_get());
  gtk_window_resize(GTK_WINDOW(window), 1600, 640);
  gtk_widget_show(window);
  for (int i = 0; i < 2000; i++) {
    while (gtk_events_pending()) gtk_main_iteration();
    if (window->allocation.width == 1600) return true;
    g_usleep(1000);
  }
  return false;
}

// 200 devices found and read, as the discovery worker leaves them.
bool discover(SimLine& line, SimDevices& population) {
  population.sim_attach(line);
  ftd2xx_setBackend(&line);
  dev_removeAll();
  packet_resetReceiver();
  FILE* saved = stdout;
  stdout = fopen("/dev/null", "w");
  makeDiscoveryThr(nullptr);
  fclose(stdout);
  stdout = saved;
  cable_free();
  return dev_count() == DEVICES;
}

// range(0): the column sorted by (DEVICE_SORT_NONE: the order found).
void BM_Refresh(benchmark::State& state) {
  const int column = (int)state.range(0);
  if (column != DEVICE_SORT_NONE) devicePanel_sortBy(column);
  // Across runs too: every step must change what the table shows.
  static int n = 0;
  for (auto _ : state) {
    // One device's record changes, as an answer would change it: the
    // table is rebuilt and drawn. 200 and 511 have no common factor, so a
    // device never gets the address it had the last time.
    const int value = 1 + n % 511;
    const uint8_t addr[2] = {(uint8_t)(value & 0xFF), (uint8_t)(value >> 8)};
    uint32_t uids[DEVICES];
    devicePanel_listed(uids, DEVICES);
    dev_setAddr(uids[n % DEVICES], addr);
    if (devicePanel_refresh() != DEVICES) {
      state.SkipWithError("the table does not show 200 rows");
      return;
    }
    while (gtk_events_pending()) gtk_main_iteration();
    gdk_flush();
    n++;
  }
  state.SetLabel(column == DEVICE_SORT_NONE ? "order found" : std::string("sorted by ") + deviceTable_title(column));
}

}  // namespace

BENCHMARK(BM_Refresh)->Arg(DEVICE_SORT_NONE)->Arg(DEVICE_COL_ADDR)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "bench_device_table: no display; run it under Xvfb\n");
    return 1;
  }
  clock_useVirtual(1000000);
  static SimLine line;
  static SimDevices population(DEVICES, 4242);
  if (!discover(line, population) || !showTable()) {
    fprintf(stderr, "bench_device_table: the 200 devices or the window did not come up\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
