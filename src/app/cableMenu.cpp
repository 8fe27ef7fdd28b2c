#include "app/cableMenu.h"

#include <gtk/gtk.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/cableChoice.h"
#include "app/deviceNotes.h"
#include "app/refresh.h"
#include "device/bridge.h"
#include "device/discovery_job.h"
#include "link/cables.h"

namespace {

enum { LISTED = 32, LABEL_SIZE = FT_SERIAL_LEN + FT_DESCRIPTION_LEN + 48 };

GtkWidget* top = nullptr;
GtkWidget* menu = nullptr;
GtkWidget* status = nullptr;
CableEntry cables[LISTED];
int cableCount = 0;
bool building = false;  // the items are being made: their toggles are no choice

// The serial number of the converter in use: the one chosen, or the first
// listed without a choice; "" when there is none.
const char* inUse() {
  for (int i = 0; i < cableCount; i++)
    if (cables[i].chosen) return cables[i].serial;
  return cables_chosen();
}

bool attached(const char* serial) {
  for (int i = 0; i < cableCount; i++)
    if (strcmp(cables[i].serial, serial) == 0) return true;
  return false;
}

void showStatus() {
  if (!status) return;
  const char* serial = inUse();
  char text[FT_SERIAL_LEN + 32];
  if (!serial[0])
    snprintf(text, sizeof text, "No cable attached");
  else if (!attached(serial))
    snprintf(text, sizeof text, "Cable %s (not attached)", serial);
  else
    snprintf(text, sizeof text, "Cable %s", serial);
  gtk_label_set_text(GTK_LABEL(status), text);
}

gboolean chooseLater(gpointer serial) {
  cableMenu_choose((const char*)serial);
  g_free(serial);
  return FALSE;
}

// The choice is made once the menu is done with the item: choosing makes
// the items anew.
void onToggled(GtkCheckMenuItem* item, gpointer) {
  if (building || !gtk_check_menu_item_get_active(item)) return;
  const char* serial = (const char*)g_object_get_data(G_OBJECT(item), "serial");
  if (serial) g_idle_add(chooseLater, g_strdup(serial));
}

void fillMenu(bool enabled) {
  building = true;
  GList* old = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = old; l; l = l->next) gtk_widget_destroy(GTK_WIDGET(l->data));
  g_list_free(old);
  GSList* group = nullptr;
  for (int i = 0; i < cableCount; i++) {
    const CableEntry& c = cables[i];
    char label[LABEL_SIZE];
    snprintf(label, sizeof label, "%.*s  %.*s (%s)", FT_SERIAL_LEN, c.serial[0] ? c.serial : "(no serial)",
             FT_DESCRIPTION_LEN, c.description,
             cables_stateText(c.state));
    GtkWidget* item = gtk_radio_menu_item_new_with_label(group, label);
    group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
    g_object_set_data_full(G_OBJECT(item), "serial", g_strdup(c.serial), g_free);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), c.chosen);
    // A converter without a serial number cannot be asked for by it.
    gtk_widget_set_sensitive(item, enabled && c.serial[0]);
    g_signal_connect(item, "toggled", G_CALLBACK(onToggled), NULL);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  if (cableCount == 0) {
    GtkWidget* none = gtk_menu_item_new_with_label("No cable attached");
    gtk_widget_set_sensitive(none, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), none);
  }
  gtk_widget_show_all(menu);
  building = false;
}

// Lists the converters anew, unless a job holds the cable: then the menu
// keeps what it listed last, every item insensitive.
void relist() {
  const bool enabled = lockComponents.load() == 0;
  if (enabled) {
    const int n = cables_list(cables, LISTED);
    cableCount = n > 0 ? n : 0;
  }
  fillMenu(enabled);
  showStatus();
}

void onOpen(GtkMenuItem*, gpointer) { relist(); }

}  // namespace

GtkWidget* cableMenu_get() {
  if (top) return top;
  top = gtk_menu_item_new_with_mnemonic("Ca_ble");
  menu = gtk_menu_new();
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
  g_signal_connect(top, "select", G_CALLBACK(onOpen), NULL);
  relist();
  gtk_widget_show(top);
  return top;
}

GtkWidget* cableMenu_status() {
  if (status) return status;
  status = gtk_label_new("");
  gtk_misc_set_alignment(GTK_MISC(status), 1.0f, 0.5f);
  atk_object_set_name(gtk_widget_get_accessible(status), "Cable");
  showStatus();
  gtk_widget_show(status);
  return status;
}

void cableMenu_update(const WindowState& state) {
  if (!menu) return;
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = items; l; l = l->next) {
    const char* serial = (const char*)g_object_get_data(G_OBJECT(l->data), "serial");
    const bool can = state.enabled && serial && serial[0];
    if ((gtk_widget_get_sensitive(GTK_WIDGET(l->data)) != FALSE) != can) gtk_widget_set_sensitive(GTK_WIDGET(l->data), can);
  }
  g_list_free(items);
}

void cableMenu_choose(const char* serial) {
  if (!serial || !serial[0] || lockComponents.load() != 0 || strcmp(serial, inUse()) == 0) {
    if (menu) fillMenu(lockComponents.load() == 0);  // the check back on the one in use
    return;
  }
  cables_choose(serial);
  printf("Cable %s chosen\n", serial);
  fflush(stdout);
  char path[CABLE_CHOICE_PATH_SIZE];
  const int kept = cableChoice_path(path, sizeof path) ? cableChoice_write(path, serial) : ENOENT;
  if (kept != 0) {
    char text[CABLE_CHOICE_PATH_SIZE + 128];
    snprintf(text, sizeof text, "Cable %s is used now, but the choice could not be kept for the next start:\n%s",
             serial, strerror(kept));
    messageError(text);
  }
  // The devices listed are on the other line.
  discoveryJob_forget();
  deviceNotes_clear();
  relist();
  refresh_all();
}
