#include "app/statusLine.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "device/bridge.h"

namespace {

const int kNothing = -1;  // no report expected

GtkWidget* bar = nullptr;
int expected = kNothing;
char shown[STATUS_LINE_TEXT_SIZE] = "";

// The line's words for a message, or false when it is not the report
// `expect`ed (or the same run's report that it was stopped).
bool wording(int expect, int type, const char* text, char* line, int size) {
  if (type != BRIDGE_INFO || (expect != DISCOVERY_QUICK && expect != DISCOVERY_NEW)) return false;
  const bool fresh = expect == DISCOVERY_NEW;
  // A run the operator stopped says so, and what it found.
  const char* stopped = "Stopped: ";
  const bool stop = strncmp(text, stopped, strlen(stopped)) == 0;
  int count = 0;
  if (sscanf(stop ? text + strlen(stopped) : text, "%d", &count) != 1) return false;
  // Only the report itself, word for word.
  char report[48];
  if (stop)
    snprintf(report, sizeof report, "%s%d device%s found.", stopped, count, count == 1 ? "" : "s");
  else
    snprintf(report, sizeof report, "%d %sdevices found.", count, fresh ? "new " : "");
  if (strcmp(report, text) != 0) return false;
  snprintf(line, (size_t)size, "%s: %s", fresh ? "Find new devices" : "Quick discovery", report);
  return true;
}

void show(const char* text) {
  snprintf(shown, sizeof shown, "%s", text);
  if (!bar) return;
  gtk_statusbar_pop(GTK_STATUSBAR(bar), 1);
  gtk_statusbar_push(GTK_STATUSBAR(bar), 1, shown);
}

}  // namespace

GtkWidget* statusLine_get() {
  if (bar) return bar;
  bar = gtk_statusbar_new();
  gtk_statusbar_set_has_resize_grip(GTK_STATUSBAR(bar), FALSE);
  atk_object_set_name(gtk_widget_get_accessible(bar), "Status");
  show(shown);
  gtk_widget_show(bar);
  return bar;
}

void statusLine_discoveryStarted(DiscoveryMode mode) {
  expected = mode == DISCOVERY_QUICK || mode == DISCOVERY_NEW ? (int)mode : kNothing;
  show("");
}

bool statusLine_take(int type, const char* text) {
  char line[STATUS_LINE_TEXT_SIZE];
  if (!wording(expected, type, text, line, sizeof line)) return false;
  expected = kNothing;
  show(line);
  return true;
}

const char* statusLine_text() { return shown; }
