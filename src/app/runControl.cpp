#include "app/runControl.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "app/busyCursor.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/refresh.h"
#include "app/widgets.h"
#include "device/bridge.h"
#include "device/commission_job.h"
#include "device/discovery_job.h"
#include "device/job.h"
#include "platform/clock.h"

namespace {

enum {
  UNSTOPPABLE = LOCK_FIRMWARE | LOCK_DALI,
  WITHDRAWN = 1,  // the question's answer when the run ended first
};
// How long a closing window waits for a stopped run to end (the device
// being written is finished and read back first).
const uint64_t kStopWaitUs = 10u * 1000u * 1000u;

GtkWidget* row = nullptr;
GtkWidget* buttonStop = nullptr;
GtkWidget* question = nullptr;  // the question about closing, while it is open
int reportsHeld = 0;

// Calls fn for each bit of `bits`.
template <typename Fn>
void eachBit(uint32_t bits, Fn fn) {
  for (uint32_t b = 1; b != 0; b <<= 1)
    if (bits & b) fn(b);
}

void pause(uint32_t bits, bool paused) {
  eachBit(bits, [paused](uint32_t b) { job_pause(b, paused); });
}

void requestStop(uint32_t bits) {
  eachBit(bits, [](uint32_t b) { job_requestStop(b); });
  // A run held while the window asks is let go, to stop.
  pause(bits, false);
}

const char* closeQuestion() {
  if (commissionJob_running() && commissionJob_writes())
    return "Devices are being written. Closing the window now stops the run: the devices not yet "
           "written keep their old settings.\n\nClose anyway?";
  if (discoveryJob_running()) return "A discovery is running. Closing the window now stops it.\n\nClose anyway?";
  return "Devices are being read. Closing the window now stops the run.\n\nClose anyway?";
}

// The question goes away once the run it asks about has ended.
int withdrawWhenEnded(void*) {
  if (question && runControl_stoppable() == 0) gtk_dialog_response(GTK_DIALOG(question), WITHDRAWN);
  return 1;
}

int ask(const char* text) {
  ModalDialog dialog(gtk_message_dialog_new(GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                            GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s", text));
  if (!dialog.widget()) return DIALOG_GONE;
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.widget()), GTK_RESPONSE_NO);
  question = dialog.widget();
  dialog.every(MAINWIN_TIMER_MS, withdrawWhenEnded);
  const int answer = dialog.run();
  question = nullptr;
  return answer;
}

// Lets the stopped run end, the window live meanwhile, before it closes.
void waitUntilStopped() {
  BusyCursor busy;
  const uint64_t until = clock_nowUs() + kStopWaitUs;
  while (runControl_stoppable() != 0 && mainWin_window() && clock_nowUs() < until) gtk_main_iteration();
}

}  // namespace

uint32_t runControl_stoppable() { return lockComponents.load() & ~(uint32_t)UNSTOPPABLE; }

bool runControl_stopping() {
  bool asked = false;
  eachBit(runControl_stoppable(), [&asked](uint32_t b) { asked = asked || job_stopRequested(b); });
  return asked;
}

void runControl_stopAction() {
  const uint32_t bits = runControl_stoppable();
  if (bits == 0) return;
  requestStop(bits);
  puts("Stop requested");
  fflush(stdout);
  refresh_all();
}

GtkWidget* getButtonStop() {
  if (buttonStop) return buttonStop;
  widgets_button(buttonStop, "Stop", runControl_stopAction);
  gtk_widget_set_sensitive(buttonStop, FALSE);
  return buttonStop;
}

GtkWidget* runControl_bar(GtkWidget* window, GtkWidget* bar) {
  if (row) return row;
  row = gtk_hbox_new(FALSE, 5);
  gtk_box_pack_start(GTK_BOX(row), bar, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), getButtonStop(), FALSE, FALSE, 0);
  // Escape presses Stop while it is sensitive; otherwise the key goes on to
  // whatever has the keyboard.
  GtkAccelGroup* keys = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window), keys);
  gtk_widget_add_accelerator(buttonStop, "clicked", keys, GDK_Escape, (GdkModifierType)0, (GtkAccelFlags)0);
  g_object_unref(keys);  // the window holds it
  gtk_widget_show(row);
  return row;
}

void runControl_update(const WindowState&) {
  if (buttonStop) gtk_widget_set_sensitive(buttonStop, runControl_stoppable() != 0 && !runControl_stopping());
}

bool runControl_askClose() {
  const uint32_t bits = runControl_stoppable();
  if (bits == 0) return true;
  // Held between two exchanges while the operator thinks about it.
  pause(bits, true);
  const int answer = ask(closeQuestion());
  if (answer != GTK_RESPONSE_YES) {
    pause(bits, false);
    return false;
  }
  requestStop(bits);
  waitUntilStopped();
  return true;
}

ReportsHeld::ReportsHeld() { reportsHeld++; }

ReportsHeld::~ReportsHeld() { reportsHeld--; }

bool runControl_reportsHeld() { return reportsHeld > 0; }
