#include "app/menu.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include "app/curveActions.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "curve/curve_undo.h"

namespace {

GtkWidget* bar = nullptr;
GtkWidget* itemUndo = nullptr;
GtkWidget* itemRedo = nullptr;

const char kShortcuts[] =
    "Ctrl+O\tRead curve\n"
    "Ctrl+S\tSave curve\n"
    "Ctrl+Q\tQuit\n"
    "Ctrl+Z\tUndo\n"
    "Ctrl+Shift+Z, Ctrl+Y\tRedo\n"
    "Ctrl+1 to Ctrl+4\tCurve linear, Curve 2, DALI logarithmic, Gamma 2.2\n"
    "\n"
    "In the curve view (click it first):\n"
    "Left, Right\tselect the level before, after\n"
    "Home, End\tselect level 0, 255\n"
    "Up, Down\toutput up, down by 1 (with Shift by 16)\n"
    "Page Up, Page Down\toutput up, down by 256\n"
    "Wheel\toutput up, down by 5\n"
    "Left button\tdraw freehand\n"
    "Right button\tdraw a straight line";

struct Accel {
  guint key;
  GdkModifierType mods;
};

void onActivate(GtkMenuItem*, gpointer action) { ((void (*)())action)(); }

GtkWidget* addItem(GtkWidget* menu, GtkAccelGroup* accel, const char* label, void (*action)(),
                   Accel key = {0, (GdkModifierType)0}) {
  GtkWidget* item = gtk_menu_item_new_with_label(label);
  g_signal_connect(item, "activate", G_CALLBACK(onActivate), (gpointer)action);
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

void quitAction() { mainWin_close(); }

void shortcutsAction() {
  GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                             GTK_MESSAGE_INFO, GTK_BUTTONS_CLOSE, "Keyboard shortcuts");
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", kShortcuts);
  gtk_window_set_title(GTK_WINDOW(dialog), "Keyboard shortcuts");
  ModalDialog(dialog).run();
}

void aboutAction() {
  gtk_show_about_dialog(GTK_WINDOW(mainWin_window()), "program-name", "Tern Curve creator", "version",
                        "1.1", "comments",
                        "Shapes the dimming curves of DMX-512 lighting interface devices, keeps them in "
                        ".crv files and sends them to the devices on the line.",
                        NULL);
}

const GdkModifierType CTRL = GDK_CONTROL_MASK;
const GdkModifierType CTRL_SHIFT = (GdkModifierType)(GDK_CONTROL_MASK | GDK_SHIFT_MASK);

}  // namespace

GtkWidget* menu_getBar(GtkWidget* window) {
  if (bar) return bar;
  GtkAccelGroup* accel = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window), accel);
  bar = gtk_menu_bar_new();

  GtkWidget* file = addMenu("_File");
  addItem(file, accel, "Read curve\u2026", buttonReadAction, {GDK_o, CTRL});
  addItem(file, accel, "Save curve\u2026", buttonSaveAction, {GDK_s, CTRL});
  gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
  addItem(file, accel, "Quit", quitAction, {GDK_q, CTRL});

  GtkWidget* edit = addMenu("_Edit");
  itemUndo = addItem(edit, accel, "Undo", curveUndoAction, {GDK_z, CTRL});
  itemRedo = addItem(edit, accel, "Redo", curveRedoAction, {GDK_z, CTRL_SHIFT});
  gtk_widget_add_accelerator(itemRedo, "activate", accel, GDK_y, CTRL, (GtkAccelFlags)0);

  GtkWidget* curve = addMenu("_Curve");
  addItem(curve, accel, "Curve linear", buttonCurve1Action, {GDK_1, CTRL});
  addItem(curve, accel, "Curve 2", buttonCurve2Action, {GDK_2, CTRL});
  addItem(curve, accel, "DALI logarithmic", curveDaliLogAction, {GDK_3, CTRL});
  addItem(curve, accel, "Gamma 2.2", curveGammaAction, {GDK_4, CTRL});

  GtkWidget* help = addMenu("_Help");
  addItem(help, accel, "Keyboard shortcuts", shortcutsAction, {GDK_F1, (GdkModifierType)0});
  addItem(help, accel, "About", aboutAction);

  g_object_unref(accel);  // the window holds it
  undo_setChangeHook(menu_update);
  menu_update();
  gtk_widget_show_all(bar);
  return bar;
}

void menu_update() {
  if (itemUndo) gtk_widget_set_sensitive(itemUndo, undo_canUndo());
  if (itemRedo) gtk_widget_set_sensitive(itemRedo, undo_canRedo());
}
