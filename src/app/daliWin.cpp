#include "app/daliWin.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "app/busyCursor.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/widgets.h"
#include "device/app_dali.h"
#include "device/bridge.h"
#include "device/exchange.h"

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

// Tells the operator when the cable failed; true when it did, so that the
// handler stops there and says it once.
bool cableFailed(int result) {
  const char* text = exchange_cableText(result);
  if (text) messageError(text);
  return text != nullptr;
}

// Runs a DALI exchange with the busy cursor over the panel's window.
void withBusyCursor(void (*exchange)(uint32_t)) {
  if (!daliDevice) return;
  BusyCursor busy(daliList);
  exchange(daliDevice);
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
  gtk_box_pack_start(GTK_BOX(box), getButtonsDaliPanel(), FALSE, TRUE, 2);
  return outer;
}

int updateDaliList(void*) {
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

void daliButtonRandomizeAction() {
  withBusyCursor([](uint32_t uid) {
    if (cableFailed(app_dali_search(uid, 255))) return;
    clearList();
    cableFailed(app_dali_read(uid));
  });
}

void daliButtonSearchAction() {
  withBusyCursor([](uint32_t uid) {
    if (cableFailed(app_dali_search(uid, 0))) return;
    clearList();
    cableFailed(app_dali_read(uid));
  });
}

void daliButtonReadAction() {
  withBusyCursor([](uint32_t uid) {
    clearList();
    cableFailed(app_dali_read(uid));
  });
}

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
  daliList = nullptr;
  scrolledDaliList = nullptr;
  daliButtonRandomize = daliButtonSearch = daliButtonRead = nullptr;
  daliDevice = 0;
}
