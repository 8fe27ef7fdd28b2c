#include "app/busyCursor.h"

#include <gtk/gtk.h>

#include "app/mainWin.h"

namespace {

enum { MAX_DEPTH = 8 };

// The windows that show the watch, innermost last.
GdkWindow* windows[MAX_DEPTH];
int depth = 0;

GdkWindow* topWindowOf(GtkWidget* widget) {
  if (!widget) widget = mainWin_window();
  if (!widget) return nullptr;
  GtkWidget* top = gtk_widget_get_toplevel(widget);
  return top ? top->window : nullptr;
}

}  // namespace

void busyCursor_begin(GtkWidget* widget) {
  GdkWindow* w = topWindowOf(widget);
  if (depth < MAX_DEPTH) windows[depth] = w;
  depth++;
  if (!w) return;
  g_object_ref(w);
  GdkCursor* watch = gdk_cursor_new(GDK_WATCH);
  gdk_window_set_cursor(w, watch);
  gdk_cursor_unref(watch);
  // The GUI thread is about to block: show the cursor now.
  gdk_flush();
}

void busyCursor_end() {
  if (depth == 0) return;
  depth--;
  if (depth >= MAX_DEPTH) return;
  GdkWindow* w = windows[depth];
  windows[depth] = nullptr;
  if (!w) return;
  bool outerHolds = false;
  for (int i = 0; i < depth; i++) outerHolds = outerHolds || windows[i] == w;
  if (!outerHolds) gdk_window_set_cursor(w, nullptr);
  g_object_unref(w);
  gdk_flush();
}
