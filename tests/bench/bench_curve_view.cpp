// Cost of one full repaint of the curve view, which runs after every mouse
// event while editing. Needs an X display (run under Xvfb).
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include "curve/curve.h"
#include "curve/curve_edit.h"
#include "curve/curve_view.h"

namespace {

GtkWidget* window = nullptr;

// Shows the view in a window of the given size and waits until it is laid out.
bool showAt(int w, int h) {
  if (!window) {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), curve_getDrawingArea());
    gtk_widget_show(window);
  }
  gtk_window_resize(GTK_WINDOW(window), w, h);
  for (int i = 0; i < 2000; i++) {
    while (gtk_events_pending()) gtk_main_iteration();
    if (curve_getWidth() == w && curve_getHeight() == h) return true;
    g_usleep(1000);
  }
  return false;
}

void BM_Repaint(benchmark::State& state) {
  const int w = (int)state.range(0), h = (int)state.range(1);
  if (!showAt(w, h)) {
    state.SkipWithError("the view did not reach the requested size");
    return;
  }
  CurveRecord rec;
  curve_presetLinear(&rec);
  curve_setData(&rec);
  xSel = 128;
  for (auto _ : state) {
    curve_paint();
    gdk_flush();
  }
  state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

}  // namespace

BENCHMARK(BM_Repaint)->Args({440, 350})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "bench_curve_view: no display; run it under Xvfb\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
