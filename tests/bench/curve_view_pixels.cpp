// Renders the curve view at several sizes and in several editing states and
// writes each picture as a PNG (dump), or compares each picture with the PNGs
// of an earlier dump pixel for pixel (compare). Dump with one build of the
// view, compare with another: a faster repaint must not change the picture.
// Needs an X display at least 1920 x 1080 (Xvfb -screen 0 2048x1280x24).
//
// check: no files; each picture the view made by redoing only what changed
// must equal the one it makes redoing every pixel (sizes up to 1111 x 777).
//
// usage: curve_view_pixels dump DIR | compare DIR | check
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_damage.h"
#include "curve/curve_edit.h"
#include "curve/curve_view.h"
#include "view_window.h"

namespace {

struct Size {
  int w, h;
};
const Size kSizes[] = {{440, 350}, {441, 351}, {800, 600}, {1111, 777}, {1920, 1080}, {440, 350}};


// Runs the queued redraws until the window shows the picture.
void settle() {
  for (int i = 0; i < 3; i++) {
    while (gtk_events_pending()) gtk_main_iteration();
    gdk_window_process_all_updates();
    gdk_flush();
  }
}

bool showAt(int w, int h) {
  if (!viewWindow_showAt(w, h)) return false;
  settle();
  return true;
}

void send(int kind, int level, int value, int button = 0, bool up = false) {
  const double x = get_pointX(level), y = get_pointY(value);
  CurveEvent ev{kind, x, y, button, up};
  curve_handleEvent(ev, 5, nullptr, 0);
}

// The editing states drawn, each from the one before.
void scene(int n) {
  CurveRecord rec;
  switch (n) {
    case 0:  // start-up: all zero, no markers
      curve_resetEditing();
      memset(cData, 0, sizeof cData);
      break;
    case 1:  // the linear preset with the pointer over level 128
      curve_presetLinear(&rec);
      curve_setData(&rec);
      send(CURVE_EV_MOTION, 128, 1000);
      break;
    case 2:  // a straight line being dragged from level 40: anchor and selection
      curve_presetCurve2(&rec);
      curve_setData(&rec);
      send(CURVE_EV_MOTION, 40, 900);
      send(CURVE_EV_PRESS, 40, 900, 3);
      send(CURVE_EV_MOTION, 200, 3500);
      break;
    case 3:  // freehand strokes at the edges, a wheel nudge, selection at 0
      send(CURVE_EV_RELEASE, 200, 3500);
      send(CURVE_EV_MOTION, 250, 0);
      send(CURVE_EV_PRESS, 250, 0, 1);
      send(CURVE_EV_MOTION, 255, 4095);
      send(CURVE_EV_RELEASE, 255, 4095);
      for (int i = 0; i < 256; i += 3) cData[i] = (i * 977) % 4096;
      send(CURVE_EV_MOTION, 0, 2000);
      send(CURVE_EV_SCROLL, 0, 2000, 0, true);
      break;
    case 4:  // insensitive, with a background of its own (see main)
      gtk_widget_set_sensitive(curve_getDrawingArea(), FALSE);
      break;
    case 5:
      gtk_widget_set_sensitive(curve_getDrawingArea(), TRUE);
      send(CURVE_EV_MOTION, 60, 2000);
      break;
  }
  curve_paint();
  settle();
}
const int kScenes = 6;

GdkPixbuf* grab() {
  GtkWidget* da = curve_getDrawingArea();
  return gdk_pixbuf_get_from_drawable(NULL, da->window, NULL, 0, 0, 0, 0, curve_getWidth(),
                                      curve_getHeight());
}

// Differing pixels between two pictures of the same size; -1 if the sizes differ.
long differences(GdkPixbuf* a, GdkPixbuf* b, int* maxDelta) {
  const int w = gdk_pixbuf_get_width(a), h = gdk_pixbuf_get_height(a);
  if (w != gdk_pixbuf_get_width(b) || h != gdk_pixbuf_get_height(b)) return -1;
  const int na = gdk_pixbuf_get_n_channels(a), nb = gdk_pixbuf_get_n_channels(b);
  long diff = 0;
  *maxDelta = 0;
  for (int y = 0; y < h; y++) {
    const guchar* ra = gdk_pixbuf_get_pixels(a) + y * gdk_pixbuf_get_rowstride(a);
    const guchar* rb = gdk_pixbuf_get_pixels(b) + y * gdk_pixbuf_get_rowstride(b);
    for (int x = 0; x < w; x++) {
      bool same = true;
      for (int c = 0; c < 3; c++) {
        const int d = std::abs(ra[x * na + c] - rb[x * nb + c]);
        if (d) same = false;
        if (d > *maxDelta) *maxDelta = d;
      }
      if (!same) diff++;
    }
  }
  return diff;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 2 && !strcmp(argv[1], "check");
  if (!check && (argc != 3 || (strcmp(argv[1], "dump") && strcmp(argv[1], "compare")))) {
    fprintf(stderr, "usage: curve_view_pixels dump DIR | compare DIR | check\n");
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "curve_view_pixels: no display; run it under Xvfb\n");
    return 2;
  }
  // A theme whose insensitive background differs: a state change alone then
  // changes the background of the whole picture.
  gtk_rc_parse_string("style \"tern-insensitive\" { bg[INSENSITIVE] = \"#90c0ff\" }\n"
                      "widget \"*\" style \"tern-insensitive\"\n");
  const bool dump = !check && !strcmp(argv[1], "dump");
  const std::string dir = check ? "" : argv[2];
  int failures = 0, pictures = 0;
  for (size_t s = 0; s < sizeof kSizes / sizeof kSizes[0]; s++) {
    if (check && kSizes[s].w > 1200) continue;
    if (!showAt(kSizes[s].w, kSizes[s].h)) {
      fprintf(stderr, "the view did not reach %dx%d\n", kSizes[s].w, kSizes[s].h);
      return 2;
    }
    for (int n = 0; n < kScenes; n++) {
      scene(n);
      char name[64];
      snprintf(name, sizeof name, "/view-%dx%d-%d.png", kSizes[s].w, kSizes[s].h, n);
      const std::string path = dir + name;
      GdkPixbuf* now = grab();
      pictures++;
      if (check) {
        damage_all();
        curve_paint();
        settle();
        GdkPixbuf* full = grab();
        int maxDelta = 0;
        const long diff = (full && now) ? differences(full, now, &maxDelta) : -1;
        if (diff != 0) {
          printf("%-28s %ld pixels differ from the picture redone whole, by up to %d\n", name + 1, diff,
                 maxDelta);
          failures++;
        }
        if (full) g_object_unref(full);
      } else if (dump) {
        if (!now || !gdk_pixbuf_save(now, path.c_str(), "png", NULL, NULL)) {
          fprintf(stderr, "cannot write %s\n", path.c_str());
          return 2;
        }
      } else {
        GdkPixbuf* before = gdk_pixbuf_new_from_file(path.c_str(), NULL);
        int maxDelta = 0;
        const long diff = (before && now) ? differences(before, now, &maxDelta) : -1;
        printf("%-28s %s", name + 1, diff == 0 ? "identical\n" : "");
        if (diff < 0) printf("missing or of another size\n");
        if (diff > 0) printf("%ld pixels differ, by up to %d\n", diff, maxDelta);
        if (diff != 0) failures++;
        if (before) g_object_unref(before);
      }
      if (now) g_object_unref(now);
    }
  }
  if (!dump) printf("%d of %d pictures differ\n", failures, pictures);
  if (check) fflush(stdout);
  return failures ? 1 : 0;
}
