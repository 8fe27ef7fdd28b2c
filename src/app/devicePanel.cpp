#include "app/devicePanel.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/deviceActions.h"
#include "app/deviceNotes.h"
#include "app/deviceTable.h"
#include "app/mainWin.h"
#include "app/refresh.h"
#include "app/statusLine.h"
#include "app/widgets.h"
#include "device/bridge.h"
#include "device/discovery_job.h"
#include "device/job.h"

namespace {

const uint32_t kNone = 0xFFFFFFFFu;
enum { TITLE_SIZE = 32 };

GtkWidget* frame = nullptr;
GtkWidget* buttonDiscovery = nullptr;
GtkWidget* buttonQuick = nullptr;
GtkWidget* buttonNew = nullptr;
GtkWidget* buttonEdit = nullptr;
GtkWidget* buttonIdentify = nullptr;
GtkWidget* buttonGenUID = nullptr;

// What the table shows, row by row in its order, and what it was made from:
// the found list's and the device table's generations, and whether a
// discovery was still reading the devices.
DeviceTableModel shown;
DeviceTableModel fresh;
uint32_t shownFound = 0;
uint32_t shownRecords = 0;
uint32_t shownNotes = 0;
bool shownReading = false;
bool listSet = false;  // the list holds the rows of `shown`

int sortColumn = DEVICE_SORT_NONE;
bool sortDescending = false;

// The selection by UID, as the operator left it: every selected device and
// the one selected last (selected_dev while its row is there).
uint32_t wanted[DEVICE_TABLE_MAX];
int wantedCount = 0;
uint32_t anchor = kNone;
// Set while the panel itself changes the list's selection.
bool restoring = false;
GtkStyle* monoStyle = nullptr;  // made from the list's style when first needed

GtkCList* list() {
  getDeviceList();
  return GTK_CLIST(mainWin_deviceListWidget());
}

bool isWanted(uint32_t uid) {
  for (int i = 0; i < wantedCount; i++)
    if (wanted[i] == uid) return true;
  return false;
}

void forgetSelection() {
  wantedCount = 0;
  anchor = kNone;
  selected_dev.store(kNone);
  if (mainWin_deviceListWidget()) {
    restoring = true;
    gtk_clist_unselect_all(list());
    restoring = false;
  }
}

// Starts a discovery unless one runs, and shows at once what it locks.
// Find new devices adds to the list; the other modes start it afresh.
void startDiscovery(DiscoveryMode mode) {
  if (!discoveryJob_running() && discoveryJob_start(mode) == JOB_STARTED) {
    statusLine_discoveryStarted(mode);
    if (mode != DISCOVERY_NEW) deviceNotes_clear();  // every device is read anew
  }
  refresh_all();
}

// The selection after the rows were rebuilt: the rows of the wanted UIDs
// are selected again, and selected_dev is the one selected last, when it is
// there. Wanted devices that are not listed are given up once no discovery
// can bring them back.
void restoreSelection(bool reading) {
  GtkCList* l = list();
  uint32_t last = kNone;
  int kept = 0;
  for (int i = 0; i < wantedCount; i++) {
    const int row = deviceTable_find(&shown, wanted[i]);
    if (row >= 0) {
      gtk_clist_select_row(l, row, 0);
      last = wanted[i];
    }
    if (row >= 0 || reading) wanted[kept++] = wanted[i];
  }
  wantedCount = kept;
  if (anchor != kNone && deviceTable_find(&shown, anchor) >= 0)
    last = anchor;
  else if (!reading)
    anchor = last;
  if (last != kNone)
    selected_dev.store(last);
  else if (!reading && wantedCount == 0)
    selected_dev.store(kNone);
}

// The row texts' style: the list's own with a fixed-width font, so that the
// UIDs line up under each other.
GtkStyle* rowTextStyle(GtkCList* l) {
  if (!monoStyle) {
    monoStyle = gtk_style_copy(gtk_widget_get_style(GTK_WIDGET(l)));
    pango_font_description_set_family(monoStyle->font_desc, "Monospace");
  }
  return monoStyle;
}

// The device on the keyboard's row of the list, or kNone.
uint32_t focusedDevice() {
  const int row = list()->focus_row;
  return row >= 0 && row < shown.count ? shown.rows[row].uid : kNone;
}

void fillList(uint32_t focused) {
  GtkCList* l = list();
  GtkAdjustment* v = gtk_clist_get_vadjustment(l);
  const gdouble top = v ? v->value : 0.0;
  restoring = true;
  gtk_clist_freeze(l);
  gtk_clist_clear(l);
  for (int i = 0; i < shown.count; i++) {
    gchar* cells[DEVICE_LIST_COLUMNS];
    for (int c = 0; c < DEVICE_COLUMNS; c++) cells[c] = shown.rows[i].cells[c];
    cells[DEVICE_COL_NOTE] = shown.rows[i].note;
    gtk_clist_append(l, cells);
    gtk_clist_set_cell_style(l, i, DEVICE_COL_ROW, rowTextStyle(l));
  }
  restoreSelection(shownReading);
  // The keyboard's row is on the device selected last (else it stays on
  // the device it was on): Up and Down go on from there, not from the first
  // row, also after a discovery listed the devices anew.
  int row = deviceTable_find(&shown, selected_dev.load());
  if (row < 0) row = deviceTable_find(&shown, focused);
  if (row >= 0) l->focus_row = row;
  gtk_clist_thaw(l);
  restoring = false;
  // A refresh keeps the rows the operator scrolled to in view.
  if (v) gtk_adjustment_set_value(v, top < v->upper - v->page_size ? top : MAX(0.0, v->upper - v->page_size));
  listSet = true;
}

void showSortTitles() {
  GtkCList* l = list();
  for (int c = 0; c < DEVICE_COLUMNS; c++) {
    char title[TITLE_SIZE];
    snprintf(title, sizeof title, "%s%s", deviceTable_title(c),
             c != sortColumn ? "" : sortDescending ? " \u25BC" : " \u25B2");
    gtk_clist_set_column_title(l, c, title);
  }
}

void onClickColumn(GtkCList*, gint column, gpointer) { devicePanel_sortBy(column); }

void onSelectionSignal(GtkCList*, gint, gint, GdkEvent*, gpointer) {
  if (!restoring) devicePanel_selectionChanged();
}

gboolean openSetup(gpointer) {
  if (buttonEdit && gtk_widget_is_sensitive(buttonEdit)) gtk_button_clicked(GTK_BUTTON(buttonEdit));
  return FALSE;
}

// Double-click on a row opens "Setup device" for it; its first click has
// selected it. The dialog opens once the list has finished with the click.
gboolean onButtonPress(GtkWidget* w, GdkEventButton* e, gpointer) {
  GtkCList* l = GTK_CLIST(w);
  if (e->type != GDK_2BUTTON_PRESS || e->button != 1 || e->window != l->clist_window) return FALSE;
  gint row = -1, column = -1;
  if (gtk_clist_get_selection_info(l, (gint)e->x, (gint)e->y, &row, &column) && row >= 0 && row < l->rows)
    g_idle_add(openSetup, NULL);
  return FALSE;
}

gboolean onKeyPress(GtkWidget*, GdkEventKey* e, gpointer) {
  if (e->keyval != GDK_Return && e->keyval != GDK_KP_Enter && e->keyval != GDK_ISO_Enter) return FALSE;
  g_idle_add(openSetup, NULL);
  return TRUE;
}

int textWidth(GtkCList* l, const char* text, const PangoFontDescription* font) {
  PangoLayout* layout = gtk_widget_create_pango_layout(GTK_WIDGET(l), text);
  if (font) pango_layout_set_font_description(layout, font);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return w;
}

// The columns as wide as their widest text (the row texts' in their
// fixed-width font); the empty one after them takes what is left, so the
// last column of values ends with its values. Numbers are right-aligned,
// and so are the row texts, their UIDs under each other.
void setColumnWidths(GtkCList* l) {
  const char* const widest[DEVICE_COLUMNS] = {"(200) DDDDDDDD", "not responding", "to 100%", "reading\u2026",
                                              "reading\u2026", "255\u2013255", "reading\u2026", "reading\u2026"};
  for (int c = 0; c < DEVICE_COLUMNS; c++) {
    char title[TITLE_SIZE];
    snprintf(title, sizeof title, "%s \u25BC", deviceTable_title(c));
    const PangoFontDescription* font = c == DEVICE_COL_ROW ? rowTextStyle(l)->font_desc : nullptr;
    const int width = MAX(textWidth(l, title, nullptr), textWidth(l, widest[c], font));
    gtk_clist_set_column_width(l, c, width + 8);
    gtk_clist_set_column_justification(l, c, c == DEVICE_COL_LOSS ? GTK_JUSTIFY_LEFT : GTK_JUSTIFY_RIGHT);
  }
  gtk_clist_set_column_width(l, DEVICE_COLUMNS, 0);
}

// The list's style came (or changed): the row texts' font and the widths
// made from it follow, and the rows are put in again with it.
void onStyleSet(GtkWidget* w, GtkStyle*, gpointer) {
  if (monoStyle) g_object_unref(monoStyle);
  monoStyle = nullptr;
  setColumnWidths(GTK_CLIST(w));
  listSet = false;
}

// No half row at the bottom of the table: it ends after its last whole row
// and the strip under it stays empty.
void onBoxAllocated(GtkWidget*, GtkAllocation*, gpointer) {
  GtkWidget* scrolled = getDeviceList();
  GtkCList* l = list();
  const int pitch = l->row_height + 1;  // a row and the line under it
  const int excess = l->clist_window_height % pitch;
  GtkAllocation a = scrolled->allocation;
  if (excess == 0 || a.height - excess < 2 * pitch) return;
  a.height -= excess;
  gtk_widget_size_allocate(scrolled, &a);
}

void setUpList() {
  GtkCList* l = list();
  gtk_clist_set_selection_mode(l, GTK_SELECTION_EXTENDED);
  gtk_clist_column_titles_active(l);
  gtk_clist_column_title_passive(l, DEVICE_COLUMNS);
  setColumnWidths(l);
  g_signal_connect(l, "style-set", G_CALLBACK(onStyleSet), NULL);
  g_signal_connect(l, "click_column", G_CALLBACK(onClickColumn), NULL);
  g_signal_connect(l, "select_row", G_CALLBACK(onSelectionSignal), NULL);
  g_signal_connect(l, "unselect_row", G_CALLBACK(onSelectionSignal), NULL);
  g_signal_connect(l, "button_press_event", G_CALLBACK(onButtonPress), NULL);
  g_signal_connect(l, "key_press_event", G_CALLBACK(onKeyPress), NULL);
}

GtkWidget* buttonColumn() {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  GtkWidget* buttons[] = {getButtonDiscovery(), getButtonQuickDiscovery(), getButtonFindNew(),
                          getButtonEdit(), getButtonIdentify(), getButtonGenUID()};
  for (GtkWidget* b : buttons) gtk_box_pack_start(GTK_BOX(box), b, FALSE, TRUE, 2);
  return fixed;
}

// A button of the panel: made on the first call in the state the panel's
// update gives it, so that no click reaches it before the first refresh.
GtkWidget* button(GtkWidget*& slot, const char* label, void (*action)()) {
  if (slot) return slot;
  widgets_button(slot, label, action);
  devicePanel_update(refresh_state());
  return slot;
}

}  // namespace

char* devicePanel_rowText(char* text, int size, int number, unsigned uid) {
  snprintf(text, (size_t)size, "(%d) %08X", number, uid);
  return text;
}

GtkWidget* getButtonDiscovery() { return button(buttonDiscovery, "Discovery", buttonDiscoveryAction); }
GtkWidget* getButtonQuickDiscovery() {
  return button(buttonQuick, "Quick discovery", buttonQuickDiscoveryAction);
}
GtkWidget* getButtonFindNew() { return button(buttonNew, "Find new devices", buttonFindNewAction); }
GtkWidget* getButtonEdit() { return button(buttonEdit, "Setup device", buttonEditAction); }
GtkWidget* getButtonIdentify() { return button(buttonIdentify, "Identify", buttonIdentifyAction); }
GtkWidget* getButtonGenUID() { return button(buttonGenUID, "Generate UID", buttonGenUIDAction); }

GtkWidget* devicePanel_get() {
  if (frame) return frame;
  frame = gtk_frame_new("Devices");
  GtkWidget* box = gtk_hbox_new(FALSE, 0);
  gtk_container_set_border_width(GTK_CONTAINER(box), 2);
  gtk_container_add(GTK_CONTAINER(frame), box);
  gtk_box_pack_start(GTK_BOX(box), getDeviceList(), TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(box), buttonColumn(), FALSE, TRUE, 5);
  g_signal_connect_after(box, "size-allocate", G_CALLBACK(onBoxAllocated), NULL);
  setUpList();
  gtk_widget_show(box);
  gtk_widget_show(frame);
  return frame;
}

void buttonDiscoveryAction() {
  discoveryMsg.store(1);
  forgetSelection();
  startDiscovery(DISCOVERY_FULL);
}

void buttonQuickDiscoveryAction() {
  forgetSelection();
  startDiscovery(DISCOVERY_QUICK);
}

void buttonFindNewAction() { startDiscovery(DISCOVERY_NEW); }

int makeDiscovery() {
  startDiscovery(DISCOVERY_FULL);
  return 0;
}

void devicePanel_update(const WindowState& state) {
  for (GtkWidget* b : {buttonDiscovery, buttonQuick, buttonNew})
    if (b) gtk_widget_set_sensitive(b, state.enabled);
  for (GtkWidget* b : {buttonEdit, buttonIdentify, buttonGenUID})
    if (b) gtk_widget_set_sensitive(b, state.enabled && state.deviceSelected);
}

void devicePanel_updateTable() {
  if (!mainWin_deviceListWidget()) return;
  const bool reading = discoveryJob_running();
  if (listSet && discoveryJob_generation() == shownFound && dev_generation() == shownRecords &&
      deviceNotes_generation() == shownNotes && reading == shownReading)
    return;
  devicePanel_refresh();
}

int devicePanel_refresh() {
  if (!mainWin_deviceListWidget()) return 0;
  // The generations first: a change while the rows are collected shows at
  // the next tick.
  shownFound = discoveryJob_generation();
  shownRecords = dev_generation();
  shownNotes = deviceNotes_generation();
  shownReading = discoveryJob_running();
  deviceTable_collect(&fresh);
  deviceTable_sort(&fresh, sortColumn, sortDescending);
  if (listSet && deviceTable_same(&fresh, &shown)) {
    restoring = true;
    restoreSelection(shownReading);
    restoring = false;
  } else {
    const uint32_t focused = focusedDevice();
    shown = fresh;
    fillList(focused);
  }
  return shown.count;
}

bool devicePanel_restoring() { return restoring; }

void devicePanel_renameSelected(uint32_t oldUid, uint32_t newUid) {
  for (int i = 0; i < wantedCount; i++)
    if (wanted[i] == oldUid) wanted[i] = newUid;
  if (anchor == oldUid) anchor = newUid;
}

void devicePanel_selectionChanged() {
  GtkCList* l = list();
  wantedCount = 0;
  bool anchorKept = false;
  const uint32_t current = selected_dev.load();
  for (GList* s = l->selection; s && wantedCount < DEVICE_TABLE_MAX; s = s->next) {
    const int row = GPOINTER_TO_INT(s->data);
    if (row < 0 || row >= shown.count) continue;
    wanted[wantedCount++] = shown.rows[row].uid;
    anchorKept = anchorKept || shown.rows[row].uid == current;
  }
  // selected_dev is the row selected last (selection_made set it); when
  // that row was unselected, another selected row takes its place.
  anchor = anchorKept ? current : wantedCount > 0 ? wanted[wantedCount - 1] : kNone;
  selected_dev.store(anchor);
  refresh_all();
}

void devicePanel_sortBy(int column) {
  if (column < 0 || column >= DEVICE_COLUMNS) return;
  sortDescending = column == sortColumn ? !sortDescending : false;
  sortColumn = column;
  showSortTitles();
  devicePanel_refresh();
}

int devicePanel_listed(uint32_t* uids, int capacity) {
  for (int i = 0; i < shown.count && i < capacity; i++) uids[i] = shown.rows[i].uid;
  return shown.count;
}

int devicePanel_selected(uint32_t* uids, int capacity) {
  int n = 0;
  for (int i = 0; i < shown.count; i++) {
    if (!isWanted(shown.rows[i].uid)) continue;
    if (n < capacity) uids[n] = shown.rows[i].uid;
    n++;
  }
  return n;
}

const DeviceTableModel* devicePanel_model() { return &shown; }
