#include "app/devicePanel.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <initializer_list>

#include "app/buttons.h"
#include "app/deviceActions.h"
#include "app/mainWin.h"
#include "app/widgets.h"
#include "device/bridge.h"
#include "device/discovery_job.h"

namespace {

enum { ROW_TEXT_SIZE = 24 };

GtkWidget* frame = nullptr;
GtkWidget* buttonDiscovery = nullptr;
GtkWidget* buttonQuick = nullptr;
GtkWidget* buttonNew = nullptr;
GtkWidget* buttonEdit = nullptr;
GtkWidget* buttonIdentify = nullptr;
GtkWidget* buttonGenUID = nullptr;
// The discovery result the list shows.
uint32_t shownGeneration = 0;


GtkCList* list() {
  getDeviceList();
  return GTK_CLIST(mainWin_deviceListWidget());
}

// Empties the list and forgets the selection: a discovery starts.
void clearList() {
  if (mainWin_deviceListWidget()) gtk_clist_clear(list());
  selected_dev.store(0xFFFFFFFFu);
}

// Starts a discovery unless one runs, and shows at once what it locks.
// Find new devices adds to the list; the other modes start it afresh.
void startDiscovery(DiscoveryMode mode) {
  if (!discoveryJob_running()) {
    if (mode != DISCOVERY_NEW) clearList();
    discoveryJob_start(mode);
  }
  buttons_refresh();
}

void fillList(const uint32_t* uids, int count) {
  GtkCList* l = list();
  gtk_clist_freeze(l);
  gtk_clist_clear(l);
  for (int i = 0; i < count; i++) {
    char text[ROW_TEXT_SIZE];
    gchar* row[1] = {devicePanel_rowText(text, sizeof text, i + 1, uids[i])};
    gtk_clist_append(l, row);
  }
  gtk_clist_thaw(l);
}

GtkWidget* buttonColumn() {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  GtkWidget* buttons[] = {getButtonDiscovery(), getButtonQuickDiscovery(), getButtonFindNew(),
                          getButtonEdit(), getButtonIdentify(), getButtonGenUID()};
  for (GtkWidget* b : buttons) gtk_box_pack_start(GTK_BOX(box), b, FALSE, TRUE, 2);
  return fixed;
}

}  // namespace

char* devicePanel_rowText(char* text, int size, int number, unsigned uid) {
  snprintf(text, (size_t)size, "(%d) %08X", number, uid);
  return text;
}

GtkWidget* getButtonDiscovery() { return buttons_lockable(buttonDiscovery, "Discovery", buttonDiscoveryAction); }
GtkWidget* getButtonQuickDiscovery() {
  return buttons_lockable(buttonQuick, "Quick discovery", buttonQuickDiscoveryAction);
}
GtkWidget* getButtonFindNew() { return buttons_lockable(buttonNew, "Find new devices", buttonFindNewAction); }
GtkWidget* getButtonEdit() { return buttons_lockable(buttonEdit, "Setup device", buttonEditAction); }
GtkWidget* getButtonIdentify() { return buttons_lockable(buttonIdentify, "Identify", buttonIdentifyAction); }
GtkWidget* getButtonGenUID() { return buttons_lockable(buttonGenUID, "Generate UID", buttonGenUIDAction); }

GtkWidget* devicePanel_get() {
  if (frame) return frame;
  frame = gtk_frame_new("Devices");
  GtkWidget* box = gtk_hbox_new(FALSE, 0);
  gtk_container_set_border_width(GTK_CONTAINER(box), 2);
  gtk_container_add(GTK_CONTAINER(frame), box);
  gtk_box_pack_start(GTK_BOX(box), getDeviceList(), TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(box), buttonColumn(), FALSE, TRUE, 5);
  gtk_widget_show(box);
  gtk_widget_show(frame);
  return frame;
}

void buttonDiscoveryAction() {
  discoveryMsg.store(1);
  selected_dev.store(0xFFFFFFFFu);
  startDiscovery(DISCOVERY_FULL);
}

void buttonQuickDiscoveryAction() {
  selected_dev.store(0xFFFFFFFFu);
  startDiscovery(DISCOVERY_QUICK);
}

void buttonFindNewAction() { startDiscovery(DISCOVERY_NEW); }

int makeDiscovery() {
  startDiscovery(DISCOVERY_FULL);
  return 0;
}

void devicePanel_enable(bool enabled, bool deviceSelected) {
  for (GtkWidget* b : {buttonDiscovery, buttonQuick, buttonNew})
    if (b) gtk_widget_set_sensitive(b, enabled);
  for (GtkWidget* b : {buttonEdit, buttonIdentify, buttonGenUID})
    if (b) gtk_widget_set_sensitive(b, enabled && deviceSelected);
}

void devicePanel_tick() {
  if (!mainWin_deviceListWidget() || discoveryJob_generation() == shownGeneration) return;
  uint32_t uids[DISCOVERY_JOB_MAX];
  int count = discoveryJob_found(uids, DISCOVERY_JOB_MAX, &shownGeneration);
  fillList(uids, count < DISCOVERY_JOB_MAX ? count : DISCOVERY_JOB_MAX);
}
