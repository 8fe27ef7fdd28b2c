// Cost of one full repaint of the curve view, which runs after every mouse
// event while editing: the curve drawn anew and the picture brought to the
// screen. Needs an X display (run under Xvfb); wall time counts, since most
// of the work is the X server's. Check the picture with curve_view_pixels.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_damage.h"
#include "curve/curve_edit.h"
#include "curve/curve_view.h"
#include "view_window.h"

namespace {

// range(2) 1: every pixel of the picture is redone, as after a resize or a
// change of the theme's background; 0: what editing redoes.
void BM_Repaint(benchmark::State& state) {
  const int w = (int)state.range(0), h = (int)state.range(1);
  const bool everything = state.range(2) != 0;
  if (!viewWindow_showAt(w, h)) {
    state.SkipWithError("the view did not reach the requested size");
    return;
  }
  // Every repaint draws another curve and moves the selection, as editing
  // does: nothing of the last picture but the axes can be reused.
  CurveRecord presets[2];
  curve_presetLinear(&presets[0]);
  curve_presetCurve2(&presets[1]);
  int n = 0;
  for (auto _ : state) {
    for (int i = 0; i < CURVE_POINTS; i++) cData[i] = presets[n & 1].values[i];
    xSel = n % CURVE_POINTS;
    if (everything) damage_all();
    curve_paint();
    // The picture is on the screen once the queued expose has run.
    while (gtk_events_pending()) gtk_main_iteration();
    gdk_flush();
    n++;
  }
  state.SetLabel(std::to_string(w) + "x" + std::to_string(h) + (everything ? " every pixel" : ""));
}

}  // namespace

BENCHMARK(BM_Repaint)
    ->Args({440, 350, 0})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);

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
