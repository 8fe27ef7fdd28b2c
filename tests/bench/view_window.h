// The curve view alone in a top-level window, for the repaint benchmark and
// the pixel comparison.
#pragma once

#include <gtk/gtk.h>

#include "curve/curve_view.h"

// Shows the view in a window of the given size and waits until it is laid
// out; false when it never reaches that size.
inline bool viewWindow_showAt(int w, int h) {
  static GtkWidget* window = nullptr;
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
