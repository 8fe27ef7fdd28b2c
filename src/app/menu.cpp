#include "app/menu.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include "app/buttons.h"
#include "app/checkDialog.h"
#include "app/cableMenu.h"
#include "app/commissionDialogs.h"
#include "app/curveActions.h"
#include "app/devicePanel.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/refresh.h"
#include "curve/curve_undo.h"

namespace {

GtkWidget* bar = nullptr;
GtkWidget* itemUndo = nullptr;
GtkWidget* itemRedo = nullptr;

// The keyboard shortcuts dialog: a key column and a description column; a
// row without keys is a heading.
struct Shortcut {
  const char* keys;
  const char* what;
};
const Shortcut kShortcuts[] = {
    {"Ctrl+O", "Read curve"},
    {"Ctrl+S", "Save curve"},
    {"Ctrl+Return", "Send curve"},
    {"Ctrl+Q", "Quit"},
    {"Ctrl+Z", "Undo"},
    {"Ctrl+Shift+Z, Ctrl+Y", "Redo"},
    {"Ctrl+1 to Ctrl+4", "Curve linear, Curve 2, DALI logarithmic, Gamma 2.2"},
    {"F5", "Discovery"},
    {"Ctrl+F5", "Quick discovery"},
    {"F6", "Find new devices"},
    {"Ctrl+E", "Setup device"},
    {"Ctrl+I", "Identify"},
    {"Ctrl+Shift+A", "Address in sequence"},
    {"Ctrl+Shift+E", "Export"},
    {"Ctrl+Shift+P", "Apply"},
    {"F1", "Keyboard shortcuts"},
    {"Escape", "Stop the discovery or commissioning run"},
    {"Alt+F, E, C, D, B, H", "open File, Edit, Curve, Devices, Cable, Help; then an item's underlined letter"},
    {nullptr, "In the curve view (click it first):"},
    {"Left, Right", "select the level before, after"},
    {"Home, End", "select level 0, 255"},
    {"Up, Down", "output up, down by 1 (with Shift by 16)"},
    {"Page Up, Page Down", "output up, down by 256"},
    {"Wheel", "output up, down by 5"},
    {"Left button", "draw freehand"},
    {"Right button", "draw a straight line"},
    {nullptr, "In the device table:"},
    {"Double-click, Return", "set up the device of the row"},
    {"Ctrl+click, Shift+click", "select several devices"},
    {"Click on a column's title", "sort by it; again: the other way"},
};

struct Accel {
  guint key;
  GdkModifierType mods;
};

void onActivate(GtkMenuItem*, gpointer action) { ((void (*)())action)(); }

// Every item's label has its mnemonic: the letter after '_'.
GtkWidget* addItem(GtkWidget* menu, GtkAccelGroup* accel, const char* label, void (*action)(),
                   Accel key = {0, (GdkModifierType)0}) {
  GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
  g_signal_connect(item, "activate", G_CALLBACK(onActivate), (gpointer)action);
  if (key.key) gtk_widget_add_accelerator(item, "activate", accel, key.key, key.mods, GTK_ACCEL_VISIBLE);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  return item;
}

// The item clicks its button, as the operator would: one action, one place.
void onActivateButton(GtkMenuItem*, gpointer button) {
  if (gtk_widget_is_sensitive(GTK_WIDGET(button))) gtk_button_clicked(GTK_BUTTON(button));
}

// An item that does what `button` does and is sensitive exactly when the
// button is (an insensitive item's accelerator does nothing either).
GtkWidget* addButtonItem(GtkWidget* menu, GtkAccelGroup* accel, const char* label, GtkWidget* button,
                         Accel key = {0, (GdkModifierType)0}) {
  GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
  g_signal_connect(item, "activate", G_CALLBACK(onActivateButton), button);
  g_object_bind_property(button, "sensitive", item, "sensitive", G_BINDING_SYNC_CREATE);
  if (key.key) gtk_widget_add_accelerator(item, "activate", accel, key.key, key.mods, GTK_ACCEL_VISIBLE);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  return item;
}

GtkWidget* addMenu(const char* title) {
  GtkWidget* menu = gtk_menu_new();
  GtkWidget* top = gtk_menu_item_new_with_mnemonic(title);
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
  gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
  return menu;
}

void addSeparator(GtkWidget* menu) {
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
}

void quitAction() { mainWin_close(); }

GtkWidget* shortcutLabel(const char* text, float xalign) {
  GtkWidget* l = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(l), xalign, 0.5f);
  return l;
}

// The shortcuts in two aligned columns: the keys, then what they do.
GtkWidget* shortcutsTable() {
  const guint rows = sizeof kShortcuts / sizeof kShortcuts[0];
  GtkWidget* table = gtk_table_new(rows, 2, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 18);
  gtk_table_set_row_spacings(GTK_TABLE(table), 2);
  gtk_container_set_border_width(GTK_CONTAINER(table), 10);
  for (guint r = 0; r < rows; r++) {
    const Shortcut& s = kShortcuts[r];
    if (!s.keys) {  // a heading across both columns, set off from the rows above
      gtk_table_attach(GTK_TABLE(table), shortcutLabel(s.what, 0.0f), 0, 2, r, r + 1, GTK_FILL,
                       GTK_FILL, 0, 8);
      continue;
    }
    gtk_table_attach(GTK_TABLE(table), shortcutLabel(s.keys, 0.0f), 0, 1, r, r + 1, GTK_FILL, GTK_FILL, 0, 0);
    gtk_table_attach(GTK_TABLE(table), shortcutLabel(s.what, 0.0f), 1, 2, r, r + 1, GTK_FILL, GTK_FILL, 0, 0);
  }
  gtk_widget_show_all(table);
  return table;
}

void shortcutsAction() {
  ModalDialog dialog(gtk_dialog_new_with_buttons("Keyboard shortcuts", GTK_WINDOW(mainWin_window()),
                                                 GTK_DIALOG_DESTROY_WITH_PARENT, GTK_STOCK_CLOSE,
                                                 GTK_RESPONSE_CLOSE, NULL));
  if (!dialog.widget()) return;
  gtk_container_add(GTK_CONTAINER(GTK_DIALOG(dialog.widget())->vbox), shortcutsTable());
  dialog.run();
}

void aboutAction() {
  gtk_show_about_dialog(GTK_WINDOW(mainWin_window()), "program-name", "Tern Curve creator", "version",
                        "1.1", "comments",
                        "Shapes the dimming curves of DMX-512 lighting interface devices, keeps them in "
                        ".crv files and sends them to the devices on the line.",
                        NULL);
}

const GdkModifierType NONE = (GdkModifierType)0;
const GdkModifierType CTRL = GDK_CONTROL_MASK;
const GdkModifierType CTRL_SHIFT = (GdkModifierType)(GDK_CONTROL_MASK | GDK_SHIFT_MASK);

}  // namespace

GtkWidget* menu_getBar(GtkWidget* window) {
  if (bar) return bar;
  GtkAccelGroup* accel = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window), accel);
  bar = gtk_menu_bar_new();

  GtkWidget* file = addMenu("_File");
  addItem(file, accel, "_Read curve\u2026", buttonReadAction, {GDK_o, CTRL});
  addItem(file, accel, "_Save curve\u2026", buttonSaveAction, {GDK_s, CTRL});
  addSeparator(file);
  addItem(file, accel, "_Quit", quitAction, {GDK_q, CTRL});

  GtkWidget* edit = addMenu("_Edit");
  itemUndo = addItem(edit, accel, "_Undo", curveUndoAction, {GDK_z, CTRL});
  itemRedo = addItem(edit, accel, "_Redo", curveRedoAction, {GDK_z, CTRL_SHIFT});
  gtk_widget_add_accelerator(itemRedo, "activate", accel, GDK_y, CTRL, (GtkAccelFlags)0);

  GtkWidget* curve = addMenu("_Curve");
  addItem(curve, accel, "Curve _linear", buttonCurve1Action, {GDK_1, CTRL});
  addItem(curve, accel, "Curve _2", buttonCurve2Action, {GDK_2, CTRL});
  addItem(curve, accel, "_DALI logarithmic", curveDaliLogAction, {GDK_3, CTRL});
  addItem(curve, accel, "_Gamma 2.2", curveGammaAction, {GDK_4, CTRL});
  addSeparator(curve);
  addButtonItem(curve, accel, "_Send curve", getButtonSend(), {GDK_Return, CTRL});

  GtkWidget* devices = addMenu("_Devices");
  addButtonItem(devices, accel, "_Discovery", getButtonDiscovery(), {GDK_F5, NONE});
  addButtonItem(devices, accel, "_Quick discovery", getButtonQuickDiscovery(), {GDK_F5, CTRL});
  addButtonItem(devices, accel, "Find _new devices", getButtonFindNew(), {GDK_F6, NONE});
  addButtonItem(devices, accel, "_Setup device\u2026", getButtonEdit(), {GDK_e, CTRL});
  addButtonItem(devices, accel, "_Identify", getButtonIdentify(), {GDK_i, CTRL});
  addButtonItem(devices, accel, "_Generate UID\u2026", getButtonGenUID());
  addSeparator(devices);
  addButtonItem(devices, accel, "_Address in sequence\u2026", getButtonAddressSequence(), {GDK_a, CTRL_SHIFT});
  addButtonItem(devices, accel, "_Export\u2026", getButtonExport(), {GDK_e, CTRL_SHIFT});
  addButtonItem(devices, accel, "A_pply\u2026", getButtonApply(), {GDK_p, CTRL_SHIFT});
  addButtonItem(devices, accel, "_Check against record\u2026", getButtonCheckRecord());
  addSeparator(devices);
  addButtonItem(devices, accel, "_Update FW\u2026", getButtonUpdateFw());

  gtk_menu_shell_append(GTK_MENU_SHELL(bar), cableMenu_get());

  GtkWidget* help = addMenu("_Help");
  addItem(help, accel, "_Keyboard shortcuts", shortcutsAction, {GDK_F1, NONE});
  addItem(help, accel, "_About", aboutAction);

  g_object_unref(accel);  // the window holds it
  // Every change of the undo history is a change of what the window shows.
  undo_setChangeHook(refresh_all);
  menu_update(refresh_state());
  gtk_widget_show_all(bar);
  return bar;
}

void menu_update(const WindowState& state) {
  if (itemUndo) gtk_widget_set_sensitive(itemUndo, state.canUndo);
  if (itemRedo) gtk_widget_set_sensitive(itemRedo, state.canRedo);
}
