#include "app/mainWin.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/buttons.h"
#include "app/checkDialog.h"
#include "app/cableMenu.h"
#include "app/curveActions.h"
#include "app/commissionDialogs.h"
#include "app/devicePanel.h"
#include "app/deviceTable.h"
#include "app/dialog.h"
#include "app/icon.h"
#include "app/menu.h"
#include "app/refresh.h"
#include "app/runControl.h"
#include "app/runProgress.h"
#include "app/statusLine.h"
#include "app/widgets.h"
#include "curve/curve_view.h"
#include "device/app_firmware.h"
#include "device/commission_job.h"
#include "device/discovery_job.h"
#include "link/timer.h"
#include "platform/clock.h"

namespace {

GtkWidget* window = nullptr;
GtkWidget* progressBar = nullptr;
GtkWidget* table = nullptr;
GtkWidget* deviceList = nullptr;
GtkWidget* scrolledDeviceList = nullptr;
unsigned ptimer = 0;
bool compEnabled = true;
MainWinShower shower = nullptr;

// Shows a message in its dialog, or through the test's replacement; a
// report the status line waits for goes there instead.
void showNow(int type, const char* text) {
  if (statusLine_take(type, text)) return;
  if (shower)
    shower(type, text);
  else if (type == BRIDGE_INFO)
    messageInfo_show(text);
  else
    messageError_show(text);
}

void selection_made(GtkWidget* list, gint row, gint column, GdkEventButton*, gpointer) {
  // The table selecting its rows again after a refresh is no choice of the
  // operator's.
  if (devicePanel_restoring()) return;
  // A selection made with the keyboard, or settled when the button is
  // released, names no column: the row's first.
  if (column < 0) column = 0;
  gchar* text = nullptr;
  gtk_clist_get_text(GTK_CLIST(list), row, column, &text);
  if (!text) return;
  printf("You selected row %d. More specifically you clicked in column %d, and the text in this "
         "cell is %s\n\n",
         row, column, text);
  // The device is named by the row text of the first column, whichever
  // column was clicked.
  gchar* rowText = nullptr;
  gtk_clist_get_text(GTK_CLIST(list), row, 0, &rowText);
  int number = 0;
  unsigned uid = 0;
  if (rowText && sscanf(rowText, "(%d) %08X", &number, &uid) == 2) selected_dev.store(uid);
  printf("mainWin: selected = %08X %d\n", (unsigned)selected_dev.load(), number);
  fflush(stdout);
  refresh_all();
}

// What the bar shows of the run that goes on (app/runProgress).
void viewOfRun(RunProgressView* view) {
  RunProgressInput in = {};
  in.kind = RUN_NONE;
  in.pairFraction = mainWin_fraction(pStatusSt.load(std::memory_order_relaxed),
                                     pStatusTop.load(std::memory_order_relaxed));
  DiscoveryJobProgress d;
  if (discoveryJob_progress(&d)) {
    in.kind = RUN_DISCOVERY;
    in.mode = d.mode;
    in.found = d.found;
    in.estimate = d.estimate;
    in.read = d.read;
  } else if (commissionJob_running()) {
    in.kind = RUN_COMMISSION;
    in.done = commissionJob_done();
    in.total = commissionJob_total();
  } else if (lockComponents.load() != 0) {
    in.kind = RUN_OTHER;
  }
  // Only the searches beyond Discovery's tell their time.
  const bool timed = in.kind == RUN_DISCOVERY && in.mode != DISCOVERY_FULL;
  in.elapsedUs = runProgress_elapsed(timed, timed ? clock_nowUs() : 0);
  in.stopping = runControl_stopping();
  runProgress_view(&in, view);
  if (!in.stopping) checkDialog_progressText(view->text, sizeof view->text);  // the record check's phase
}

// An idle bar shows a blank: a bar without text is shorter than one with
// it, and the window would jump at the start and end of every run.
const char kIdleText[] = " ";

void showText(GtkProgressBar* bar, const char* text) {
  const gchar* shown = gtk_progress_bar_get_text(bar);
  const char* wanted = text[0] ? text : kIdleText;
  if (strcmp(shown ? shown : "", wanted) == 0) return;
  gtk_progress_bar_set_text(bar, wanted);
  // Screen readers read the bar's value, not its text: the description says it.
  atk_object_set_description(gtk_widget_get_accessible(GTK_WIDGET(bar)), text);
}

gboolean progressTick(gpointer data) { return progress(data) ? TRUE : FALSE; }

void onDestroy(gpointer) { destroy(); }

// Whether the window may close: a firmware update still streaming would be
// cut short, leaving the devices with half an image, a discovery or a
// commissioning run would stop half way (app/runControl asks, once, and
// holds the run meanwhile), and the curve may have unsaved changes; each
// asks first (a signal closes at once all the same). No report opens over
// these questions: it follows if the window stays.
bool mayClose() {
  ReportsHeld held;
  if (thrTrans.load() == FW_RUNNING &&
      !messageQuestion("A firmware update is running. Closing the window now stops it, and the "
                       "devices are left without a complete firmware.\n\nClose anyway?"))
    return false;
  if (!runControl_askClose()) return false;
  return curveActions_mayClose();
}

gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer) { return mayClose() ? FALSE : TRUE; }

gboolean onTerminate(gpointer) {
  if (window) gtk_widget_destroy(window);
  return FALSE;
}

void createProgressBar() {
  if (progressBar) return;
  progressBar = gtk_progress_bar_new();
  table = gtk_table_new(1, 1, TRUE);
  gtk_table_attach_defaults(GTK_TABLE(table), progressBar, 0, 200, 0, 20);
  // The bar keeps its value in an adjustment made by the first fraction set;
  // its accessible reads the value from there only if it exists before the
  // accessible is made.
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progressBar), 0.0);
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progressBar), kIdleText);
  atk_object_set_name(gtk_widget_get_accessible(progressBar), "Progress");
  gtk_widget_show(progressBar);
  gtk_widget_show(table);
}

}  // namespace

char* getTitle(char* buffer) {
  strcpy(buffer, "Tern Curve creator 1.1.");
  return buffer;
}

void updateWindowTitle() {
  if (!window) return;
  char title[MAINWIN_TITLE_SIZE];
  gtk_window_set_title(GTK_WINDOW(window), getTitle(title));
}

GtkWidget* mainWin_window() { return window; }

void mainWin_close() {
  // The window may go while the questions run (a terminating signal).
  if (window && mayClose() && window) gtk_widget_destroy(window);
}

GtkWidget* getDevPanel() {
  GtkWidget* frame = gtk_frame_new(NULL);
  gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_NONE);
  GtkWidget* box = gtk_hbox_new(FALSE, 0);
  gtk_container_set_border_width(GTK_CONTAINER(box), 0);
  gtk_container_add(GTK_CONTAINER(frame), box);
  gtk_box_pack_start(GTK_BOX(box), curve_getDrawingArea(), TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(box), getButtonsPanel(), FALSE, TRUE, 5);
  gtk_widget_show(box);
  gtk_widget_show(frame);
  return frame;
}

GtkWidget* getProgressBar() {
  createProgressBar();
  return table;
}

GtkWidget* getDeviceList() {
  if (scrolledDeviceList) return scrolledDeviceList;
  const char* titles[DEVICE_LIST_COLUMNS];
  for (int c = 0; c < DEVICE_LIST_COLUMNS; c++) titles[c] = deviceTable_title(c);
  scrolledDeviceList = widgets_table(titles, DEVICE_LIST_COLUMNS, "Device list", 440, 135, &deviceList);
  g_signal_connect(deviceList, "select_row", G_CALLBACK(selection_made), NULL);
  return scrolledDeviceList;
}

GtkWidget* mainWin_deviceListWidget() { return deviceList; }

double mainWin_fraction(int32_t done, int32_t total) {
  return done < total ? (double)done / (double)total : 1.0;
}

void mainWin_updateProgress() {
  if (!progressBar) return;
  GtkProgressBar* bar = GTK_PROGRESS_BAR(progressBar);
  RunProgressView view;
  viewOfRun(&view);
  if (view.pulse)
    gtk_progress_bar_pulse(bar);
  else
    gtk_progress_bar_set_fraction(bar, view.fraction);
  showText(bar, view.text);
}

int progress(void*) {
  // Everything up to date first (the bar, the table, the buttons): a message
  // shown below keeps this tick open until the operator closes it, and the
  // window behind it must not show stale ones.
  refresh_all();
  compEnabled = refresh_shown().enabled;
  // While the window asks whether to close, reports wait.
  if (runControl_reportsHeld()) return 1;
  // A commissioning job that has ended is reported (and Apply goes on).
  commissionDialogs_tick();
  checkDialog_tick();  // a record check, its fix or its replacements ended
  bridge_showPending();
  return 1;
}

bool mainWin_componentsEnabled() { return compEnabled; }

void mainWin_markGuiThread() {
  bridge_setGuiThread();
  bridge_setShower(showNow);
}

void mainWin_setMessageShower(MainWinShower s) { shower = s; }

void destroy() {
  if (ptimer) g_source_remove(ptimer);
  ptimer = 0;
  window = nullptr;
  gtk_main_quit();
  puts("\nDestroy mainWin");
  fflush(stdout);
}

void createGUI() {
  mainWin_markGuiThread();
  gtk_init(NULL, NULL);
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_container_set_border_width(GTK_CONTAINER(window), 5);
  g_signal_connect_swapped(window, "destroy", G_CALLBACK(onDestroy), NULL);
  g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), NULL);
  gtk_window_set_title(GTK_WINDOW(window), "");
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  GdkPixbuf* icon = icon_load();
  if (icon) {
    gtk_window_set_icon(GTK_WINDOW(window), icon);
    g_object_unref(icon);
  }
  GtkWidget* vbox = gtk_vbox_new(FALSE, 5);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 2);
  gtk_container_add(GTK_CONTAINER(window), vbox);
  gtk_widget_show(vbox);
  gtk_box_pack_start(GTK_BOX(vbox), menu_getBar(window), FALSE, FALSE, 0);
  // The curve above the devices, with a handle between them: the curve
  // keeps its size and the devices' table takes what the window has to
  // spare, unless the operator drags the handle.
  GtkWidget* paned = gtk_vpaned_new();
  gtk_paned_pack1(GTK_PANED(paned), getDevPanel(), FALSE, FALSE);
  gtk_paned_pack2(GTK_PANED(paned), devicePanel_get(), TRUE, FALSE);
  atk_object_set_name(gtk_widget_get_accessible(paned), "Curve and devices");
  gtk_widget_show(paned);
  gtk_box_pack_start(GTK_BOX(vbox), paned, TRUE, TRUE, 0);
  // The progress bar across the whole width under everything else, but for
  // the status line at the bottom.
  gtk_box_pack_end(GTK_BOX(vbox), statusLine_get(), FALSE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(statusLine_get()), cableMenu_status(), FALSE, FALSE, 6);
  gtk_box_pack_end(GTK_BOX(vbox), runControl_bar(window, getProgressBar()), FALSE, TRUE, 0);
  ptimer = g_timeout_add(MAINWIN_TIMER_MS, progressTick, progressBar);
  // A terminating signal closes the window as the close button would.
  g_unix_signal_add(SIGTERM, onTerminate, NULL);
  g_unix_signal_add(SIGINT, onTerminate, NULL);
  gtk_widget_show(window);
  updateWindowTitle();
  gtk_main();
}
