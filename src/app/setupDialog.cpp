#include "app/setupDialog.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <initializer_list>

#include "app/daliWin.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "device/setupValues.h"
#include "app/widgets.h"

namespace {

GtkWidget* entryAddr = nullptr;
GtkWidget* comboLoss = nullptr;
GtkWidget* comboSleep = nullptr;
GtkWidget* entryBack = nullptr;
GtkWidget* entryLimUp = nullptr;
GtkWidget* entryLimDown = nullptr;
// The values the combos were built for: an entry of their own sends them back.
int storedSleep = 0;
int storedLoss = 0;
// The two parts of the latest panel: the settings, and the DALI panel.
GtkWidget* settingsPart = nullptr;
GtkWidget* daliPart = nullptr;

GtkWidget* newEntry(GtkWidget*& slot, const char* name, const char* text, int maxLength) {
  slot = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(slot), maxLength);
  gtk_entry_set_text(GTK_ENTRY(slot), text ? text : "");
  // Return in a field answers the dialog with its default, OK.
  gtk_entry_set_activates_default(GTK_ENTRY(slot), TRUE);
  atk_object_set_name(gtk_widget_get_accessible(slot), name);
  gtk_widget_show(slot);
  return slot;
}

GtkWidget* label(const char* text, bool leftJustified) {
  GtkWidget* l = gtk_label_new(text);
  if (leftJustified) gtk_misc_set_alignment(GTK_MISC(l), 0.0f, 0.5f);
  gtk_widget_show(l);
  return l;
}

// A frame with a vertical box of a label, a field, a label and a field; the
// first field sits a little further from its label.
GtkWidget* fieldFrame(const char* title, GtkWidget* l1, GtkWidget* f1, GtkWidget* l2, GtkWidget* f2) {
  GtkWidget* frame = gtk_frame_new(title);
  GtkWidget* box = gtk_vbox_new(FALSE, 2);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_container_add(GTK_CONTAINER(frame), box);
  gtk_box_pack_start(GTK_BOX(box), l1, FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), f1, FALSE, TRUE, 4);
  gtk_box_pack_start(GTK_BOX(box), l2, FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), f2, FALSE, TRUE, 2);
  gtk_widget_show(box);
  gtk_widget_show(frame);
  return frame;
}

void number(char* text, int size, int value) { snprintf(text, (size_t)size, "%d", value); }

const char* entryText(GtkWidget* e) { return gtk_entry_get_text(GTK_ENTRY(e)); }

}  // namespace

GtkWidget* getEntryTxtAddr(const char* text, int max) { return newEntry(entryAddr, "Start address", text, max); }
GtkWidget* getEntryTxtBack(const char* text, int max) { return newEntry(entryBack, "Backlight", text, max); }
GtkWidget* getEntryTxtLimUp(const char* text, int max) { return newEntry(entryLimUp, "Limit up", text, max); }
GtkWidget* getEntryTxtLimDown(const char* text, int max) {
  return newEntry(entryLimDown, "Limit down", text, max);
}

namespace {

// The entries a combo offers for a stored value, as setupValues lays them
// out for that value.
struct ComboEntries {
  int (*count)(int stored);
  void (*text)(int i, int stored, char* text, int size);
  int (*position)(int stored);
};

GtkWidget* newCombo(GtkWidget*& slot, const char* name, const ComboEntries& entries, int stored) {
  slot = gtk_combo_box_new_text();
  char text[SETUP_COMBO_TEXT_SIZE];
  for (int i = 0; i < entries.count(stored); i++) {
    entries.text(i, stored, text, sizeof text);
    gtk_combo_box_append_text(GTK_COMBO_BOX(slot), text);
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(slot), entries.position(stored));
  atk_object_set_name(gtk_widget_get_accessible(slot), name);
  gtk_widget_show(slot);
  return slot;
}

}  // namespace

GtkWidget* getEntrySleep(int stored) {
  storedSleep = stored;
  const ComboEntries sleepEntries = {setupValues_sleepEntries, setupValues_sleepText,
                                     setupValues_sleepPosition};
  return newCombo(comboSleep, "Sleep", sleepEntries, stored);
}

GtkWidget* getEntryLoss(int stored) {
  storedLoss = stored;
  const ComboEntries lossEntries = {setupValues_lossEntries, setupValues_lossText,
                                    setupValues_lossPosition};
  return newCombo(comboLoss, "Loss of DMX", lossEntries, stored);
}

int getValueSleep() {
  return setupValues_sleepValue(gtk_combo_box_get_active(GTK_COMBO_BOX(comboSleep)), storedSleep);
}

int getValueLoss() {
  return setupValues_lossValue(gtk_combo_box_get_active(GTK_COMBO_BOX(comboLoss)), storedLoss);
}

GtkWidget* getSetupDMX(const Device* r) {
  char text[8];
  number(text, sizeof text, r->addr);
  return fieldFrame("DMX setup", label("Address [1..512]:", false),
                    getEntryTxtAddr(text, SETUP_ENTRY_MAX), label("Loss Of DMX:", false),
                    getEntryLoss(r->lossOfDmx));
}

GtkWidget* getSetupDisp(const Device* r) {
  char text[8];
  number(text, sizeof text, r->display[1]);
  return fieldFrame("Display setup", label("Sleep [second]:", false), getEntrySleep(r->display[0]),
                    label("Backlight [0%..100%]:", false), getEntryTxtBack(text, SETUP_ENTRY_MAX));
}

GtkWidget* getSetupLimit(const Device* r) {
  char up[8], down[8];
  number(up, sizeof up, r->limit[0]);
  number(down, sizeof down, r->limit[1]);
  return fieldFrame("Limit setup", label("Up:", true), getEntryTxtLimUp(up, SETUP_ENTRY_MAX),
                    label("Down:", true), getEntryTxtLimDown(down, SETUP_ENTRY_MAX));
}

GtkWidget* getSetupPanel1(const Device* r) {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedRow(2, &box);
  gtk_box_pack_start(GTK_BOX(box), getSetupDMX(r), FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), getSetupDisp(r), FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), getSetupLimit(r), FALSE, TRUE, 2);
  return fixed;
}

GtkWidget* getSetupPanel(const Device* r) {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  settingsPart = getSetupPanel1(r);
  daliPart = getDaliPanel(r, 1);
  gtk_box_pack_start(GTK_BOX(box), settingsPart, FALSE, TRUE, 2);
  gtk_box_pack_start(GTK_BOX(box), daliPart, FALSE, TRUE, 2);
  return fixed;
}

namespace {

// Tab goes from the settings to OK and Cancel, and only then into the DALI
// panel, whose buttons talk to the device: a technician who set the values
// reaches OK without passing them. The parts lie at different depths, so
// the order is kept here rather than in a focus chain.
gboolean onFocus(GtkWidget* box, GtkDirectionType direction, gpointer actionArea) {
  if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD) return FALSE;
  GtkWidget* parts[] = {settingsPart, (GtkWidget*)actionArea, daliPart};
  const int n = 3, step = direction == GTK_DIR_TAB_FORWARD ? 1 : -1;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(gtk_widget_get_toplevel(box)));
  int at = step > 0 ? 0 : n - 1;
  for (int i = 0; i < n; i++)
    if (focus && parts[i] && (focus == parts[i] || gtk_widget_is_ancestor(focus, parts[i]))) at = i;
  // On within the part that has the focus, then into the parts after it;
  // past the last the window goes round to the first.
  for (int i = at; i >= 0 && i < n; i += step)
    if (parts[i] && gtk_widget_child_focus(parts[i], direction)) return TRUE;
  g_signal_stop_emission_by_name(box, "focus");
  return FALSE;
}

}  // namespace

int input_dialog(const Device* record, SetupValues* values) {
  if (!record || !values) return SETUP_DIALOG_CANCELLED;
  char title[32];
  snprintf(title, sizeof title, "Setup %08X", (unsigned)record->uid);
  ModalDialog dialog(gtk_dialog_new_with_buttons(title, GTK_WINDOW(mainWin_window()),
                                                 GTK_DIALOG_DESTROY_WITH_PARENT, GTK_STOCK_OK, GTK_RESPONSE_OK,
                                                 GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, NULL));
  if (!dialog.widget()) return SETUP_DIALOG_CANCELLED;
  GtkDialog* d = GTK_DIALOG(dialog.widget());
  gtk_container_add(GTK_CONTAINER(d->vbox), getSetupPanel(record));
  gtk_dialog_set_default_response(d, GTK_RESPONSE_OK);
  // OK first after the settings, then Cancel.
  GList* buttons = gtk_container_get_children(GTK_CONTAINER(d->action_area));
  GList* chain = NULL;
  for (int response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_OK})
    for (GList* b = buttons; b; b = b->next)
      if (gtk_dialog_get_response_for_widget(d, GTK_WIDGET(b->data)) == response) chain = g_list_prepend(chain, b->data);
  gtk_container_set_focus_chain(GTK_CONTAINER(d->action_area), chain);
  g_list_free(chain);
  g_list_free(buttons);
  g_signal_connect(d->vbox, "focus", G_CALLBACK(onFocus), d->action_area);
  // The DALI list refreshes while the dialog exists, and its panel is
  // forgotten as the dialog goes, however it goes.
  dialog.every(DALI_REFRESH_MS, updateDaliList);
  dialog.onGone(daliWin_forget);
  for (;;) {
    if (dialog.run() != GTK_RESPONSE_OK) return SETUP_DIALOG_CANCELLED;
    values->errorText[0] = 0;
    values->sleep = getValueSleep();
    values->lossOfDmx = getValueLoss();
    const int bad = setupValues_check(entryText(entryAddr), entryText(entryBack), entryText(entryLimUp),
                                      entryText(entryLimDown), values);
    if (!bad) return SETUP_DIALOG_OK;
    // One bad field must not throw away the others: the messages are shown
    // now, over the dialog, which then goes on holding what was typed.
    messageError_wait(values->errorText);
    if (!dialog.widget()) return SETUP_DIALOG_CANCELLED;
  }
}
