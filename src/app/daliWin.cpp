#include "app/daliWin.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <atomic>
#include <cstring>
#include <initializer_list>

#include "app/busyCursor.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/widgets.h"
#include "device/app_dali.h"
#include "device/bridge.h"
#include "device/exchange.h"
#include "device/job.h"

namespace {

// The device of the latest panel, by UID: its record is copied under the
// table's guard on every refresh, never held.
uint32_t daliDevice = 0;
GtkWidget* scrolledDaliList = nullptr;
GtkWidget* daliList = nullptr;
GtkWidget* daliButtonRandomize = nullptr;
GtkWidget* daliButtonSearch = nullptr;
GtkWidget* daliButtonRead = nullptr;
GtkWidget* daliDialog = nullptr;
char str[DEV_DALI_SIZE][DALI_ROW_TEXT_SIZE];

gboolean refreshTick(gpointer data) { return updateDaliList(data) ? TRUE : FALSE; }

void clearList() {
  if (daliList) gtk_clist_clear(GTK_CLIST(daliList));
}

// The DALI exchanges run on a thread of their own: a search takes seconds,
// and the dialog must stay drawn and say how it goes meanwhile. One runs at
// a time; the panel's refresh sees it through (`phase`).
enum DaliKind { DALI_JOB_RANDOMIZE, DALI_JOB_SEARCH, DALI_JOB_READ };
enum DaliPhase { DALI_IDLE, DALI_SEARCHING, DALI_READING, DALI_DONE };
std::atomic<int> phase{DALI_IDLE};
std::atomic<int> jobResult{0};
DaliKind jobKind = DALI_JOB_READ;  // GUI thread; the worker gets its own copy
uint32_t jobUid = 0;
bool listCleared = false;  // the list was emptied for the job's read
bool cursorHeld = false;
GtkWidget* statusLabel = nullptr;

struct DaliArg {
  DaliKind kind;
  uint32_t uid;
};

const char* const kRunning[] = {"Randomizing\u2026", "Searching\u2026", "Reading\u2026"};
const char* const kDone[] = {"Randomize done", "Search done", "Read DALI done"};

void daliWorker(void* p) {
  const DaliArg arg = *(DaliArg*)p;
  delete (DaliArg*)p;
  int r = 0;
  if (arg.kind != DALI_JOB_READ) r = app_dali_search(arg.uid, arg.kind == DALI_JOB_RANDOMIZE ? 255 : 0);
  if (!exchange_cableText(r)) {
    phase.store(DALI_READING);
    r = app_dali_read(arg.uid);
  }
  jobResult.store(r);
  phase.store(DALI_DONE);
}

void setStatus(const char* text) {
  if (statusLabel) gtk_label_set_text(GTK_LABEL(statusLabel), text);
}

void setButtons(bool sensitive) {
  for (GtkWidget* b : {daliButtonRandomize, daliButtonSearch, daliButtonRead})
    if (b) gtk_widget_set_sensitive(b, sensitive);
}

void releaseCursor() {
  if (cursorHeld) busyCursor_end();
  cursorHeld = false;
}

// The job's end on the GUI thread: the list shows the fresh entries, the
// buttons come back and the operator is told how it went.
void finishJob() {
  phase.store(DALI_IDLE);
  releaseCursor();
  setButtons(true);
  clearList();
  const int r = jobResult.load();
  const char* cable = exchange_cableText(r);
  char text[96];
  if (cable) {
    snprintf(text, sizeof text, "%s: the cable failed.", kDone[jobKind]);
    messageError(cable);
  } else {
    Device d;
    const int count = dev_copy(jobUid, &d) ? d.daliCount : 0;
    snprintf(text, sizeof text, "%s: %d DALI gear.", kDone[jobKind], count);
  }
  setStatus(text);
}

void startJob(DaliKind kind) {
  if (!daliDevice || phase.load() != DALI_IDLE) return;
  jobKind = kind;
  jobUid = daliDevice;
  listCleared = kind == DALI_JOB_READ;
  if (listCleared) clearList();
  setButtons(false);
  setStatus(kRunning[kind]);
  busyCursor_begin(daliList);
  cursorHeld = true;
  phase.store(kind == DALI_JOB_READ ? DALI_READING : DALI_SEARCHING);
  DaliArg* arg = new DaliArg{kind, daliDevice};
  if (job_start(LOCK_DALI, "The DALI command", daliWorker, arg) == JOB_STARTED) return;
  // Nothing runs (the runner told the operator why): the panel is idle again.
  delete arg;
  phase.store(DALI_IDLE);
  releaseCursor();
  setButtons(true);
  setStatus("");
}

}  // namespace

char* daliWin_rowText(char* text, int size, int i, const DaliEntry* e) {
  // Gear the device counted but whose entry never came is not shown as gear
  // with address 00 - 000000.
  if (!e->read)
    snprintf(text, (size_t)size, "(%3d) not read", i + 1);
  else
    snprintf(text, (size_t)size, "(%3d) %02X - %06X", i + 1, e->shortAddr,
             (unsigned)(e->randomAddr & 0xFFFFFFu));
  return text;
}

GtkWidget* getDaliList(const Device*) {
  scrolledDaliList = widgets_list("Dali address", "DALI list", 400, 135, &daliList);
  return scrolledDaliList;
}

GtkWidget* getButtonDaliRandomize() {
  return widgets_newButton(daliButtonRandomize, "Randomize", daliButtonRandomizeAction);
}
GtkWidget* getButtonDaliSearch() { return widgets_newButton(daliButtonSearch, "Search", daliButtonSearchAction); }
GtkWidget* getButtonDaliRead() { return widgets_newButton(daliButtonRead, "Read DALI", daliButtonReadAction); }

GtkWidget* getButtonsDaliPanel() {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  gtk_box_pack_start(GTK_BOX(box), getButtonDaliRandomize(), FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), getButtonDaliSearch(), FALSE, FALSE, 2);
  gtk_box_pack_start(GTK_BOX(box), getButtonDaliRead(), FALSE, FALSE, 2);
  return fixed;
}

GtkWidget* getDaliPanel(const Device* device, int framed) {
  daliDevice = device ? device->uid : 0;
  GtkWidget* outer = framed ? gtk_frame_new("DALI setup") : gtk_fixed_new();
  GtkWidget* box = gtk_hbox_new(FALSE, 2);
  gtk_container_set_border_width(GTK_CONTAINER(box), 0);
  if (framed)
    gtk_container_add(GTK_CONTAINER(outer), box);
  else
    gtk_fixed_put(GTK_FIXED(outer), box, 0, 0);
  gtk_widget_show(box);
  gtk_widget_show(outer);
  gtk_box_pack_start(GTK_BOX(box), getDaliList(device), TRUE, TRUE, 2);
  // The buttons, with a line under them that says what a search is doing.
  GtkWidget* side = gtk_vbox_new(FALSE, 2);
  gtk_box_pack_start(GTK_BOX(side), getButtonsDaliPanel(), FALSE, TRUE, 0);
  statusLabel = gtk_label_new("");
  gtk_label_set_line_wrap(GTK_LABEL(statusLabel), TRUE);
  gtk_widget_set_size_request(statusLabel, 110, -1);
  gtk_misc_set_alignment(GTK_MISC(statusLabel), 0.0f, 0.0f);
  atk_object_set_name(gtk_widget_get_accessible(statusLabel), "DALI status");
  gtk_box_pack_start(GTK_BOX(side), statusLabel, FALSE, TRUE, 2);
  gtk_widget_show_all(side);
  gtk_box_pack_start(GTK_BOX(box), side, FALSE, TRUE, 2);
  // A search still running from an earlier panel keeps the buttons.
  if (phase.load() != DALI_IDLE) {
    setButtons(false);
    setStatus(kRunning[jobKind]);
  }
  return outer;
}

int updateDaliList(void*) {
  const int now = phase.load();
  if (now == DALI_DONE && !job_running(LOCK_DALI) && daliList) {
    finishJob();
  } else if (now == DALI_READING && !listCleared) {
    // The search has ended and the entries are read anew: the list shows
    // them as they come.
    clearList();
    listCleared = true;
  }
  Device d;
  if (!daliList || !dev_copy(daliDevice, &d)) return 1;
  GtkCList* list = GTK_CLIST(daliList);
  const int n = (int)d.daliCount < (int)DEV_DALI_SIZE ? (int)d.daliCount : (int)DEV_DALI_SIZE;
  for (int i = 0; i < n; i++) {
    daliWin_rowText(str[i], sizeof str[i], i, &d.dali[i]);
    if (i < list->rows) {
      gchar* old = nullptr;
      gtk_clist_get_text(list, i, 0, &old);
      if (!old || strcmp(old, str[i]) != 0) gtk_clist_set_text(list, i, 0, str[i]);
    } else {
      gchar* row[1] = {str[i]};
      gtk_clist_append(list, row);
    }
  }
  return 1;
}

void daliButtonRandomizeAction() { startJob(DALI_JOB_RANDOMIZE); }

void daliButtonSearchAction() { startJob(DALI_JOB_SEARCH); }

void daliButtonReadAction() { startJob(DALI_JOB_READ); }

void dali_dialog(const Device* device) {
  if (!device) return;
  char title[32];
  snprintf(title, sizeof title, "DALI %08X", (unsigned)device->uid);
  ModalDialog dialog(gtk_dialog_new_with_buttons(title, GTK_WINDOW(mainWin_window()),
                                                 GTK_DIALOG_DESTROY_WITH_PARENT, GTK_STOCK_CANCEL,
                                                 GTK_RESPONSE_CANCEL, NULL));
  daliDialog = dialog.widget();
  if (!daliDialog) return;
  gtk_container_add(GTK_CONTAINER(GTK_DIALOG(daliDialog)->vbox), getDaliPanel(device, 0));
  // The refresh and the panel end with the dialog, however it goes.
  dialog.every(DALI_REFRESH_MS, refreshTick);
  dialog.onGone([] {
    daliDialog = nullptr;
    daliWin_forget();
  });
  dialog.run();
}

void daliWin_forget() {
  releaseCursor();
  statusLabel = nullptr;
  daliList = nullptr;
  scrolledDaliList = nullptr;
  daliButtonRandomize = daliButtonSearch = daliButtonRead = nullptr;
  daliDevice = 0;
}
