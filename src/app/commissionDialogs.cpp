#include "app/commissionDialogs.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "app/addressPreview.h"
#include "app/busyCursor.h"
#include "app/deviceNotes.h"
#include "app/devicePanel.h"
#include "app/deviceTable.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/refresh.h"
#include "app/widgets.h"
#include "device/bridge.h"
#include "device/commission_job.h"
#include "device/job.h"
#include "device/rig.h"

namespace {

enum Pending { PENDING_NONE, PENDING_ADDRESS, PENDING_CHECK, PENDING_APPLY, PENDING_EXPORT };

GtkWidget* buttonAddress = nullptr;
GtkWidget* buttonExport = nullptr;
GtkWidget* buttonApply = nullptr;

// The job the timer waits for, and what Apply goes on with after its check.
Pending pending = PENDING_NONE;
CommissionPlan applyPlan;
char applyPath[DIALOG_PATH_SIZE];
// The devices an export reads, in its order.
uint32_t exportUids[COMMISSION_MAX];
int exportCount = 0;

// A button the menu follows but the window never shows: owned here, made
// in the state the update gives it.
GtkWidget* hiddenButton(GtkWidget*& slot, const char* label, void (*action)()) {
  if (slot) return slot;
  widgets_button(slot, label, action);
  g_object_ref_sink(slot);
  commissionDialogs_update(refresh_state());
  return slot;
}

// Hands a job to the worker and waits for it on the timer, under the busy
// cursor; false when it did not start.
bool started(int result, Pending then) {
  if (result != JOB_STARTED) return false;
  pending = then;
  busyCursor_begin(nullptr);
  refresh_all();
  return true;
}

GtkWidget* label(const char* text, const char* name = nullptr) {
  GtkWidget* l = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(l), 0.0f, 0.5f);
  gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
  if (name) atk_object_set_name(gtk_widget_get_accessible(l), name);
  gtk_widget_show(l);
  return l;
}

std::string resultLines(const CommissionRun* run) {
  std::string text;
  for (int i = 0; run->plan && i < run->plan->count; i++) {
    char line[2 * COMMISSION_TEXT_SIZE];
    commission_resultLine(&run->results[i], line, sizeof line);
    text += line;
    text += "\n";
  }
  return text;
}

GtkWidget* newDialog(const char* title) {
  GtkWidget* d = gtk_dialog_new_with_buttons(title, GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                             NULL, NULL);
  gtk_container_set_border_width(GTK_CONTAINER(GTK_DIALOG(d)->vbox), 6);
  gtk_box_set_spacing(GTK_BOX(GTK_DIALOG(d)->vbox), 6);
  return d;
}

void pack(GtkWidget* dialog, GtkWidget* w, bool expand = false) {
  gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), w, expand, TRUE, 0);
}

// The result of every device of a run, and the totals.
void showReport(const char* title, const CommissionRun* run) {
  ModalDialog dialog(newDialog(title));
  if (!dialog.widget()) return;
  gtk_dialog_add_button(GTK_DIALOG(dialog.widget()), GTK_STOCK_CLOSE, GTK_RESPONSE_CLOSE);
  char summary[COMMISSION_TEXT_SIZE];
  commission_totalsLine(run, summary, sizeof summary);
  std::string head = summary;
  char stop[COMMISSION_TEXT_SIZE];
  commission_stopLine(run, stop, sizeof stop);
  if (stop[0]) head += std::string("\n") + stop;
  pack(dialog.widget(), label(head.c_str(), "Summary"));
  pack(dialog.widget(), widgets_resultsView(resultLines(run), "Results"), true);
  dialog.run();
}

// After Apply's check: what would change, device by device; Apply writes it.
void askToApply() {
  const CommissionRun* run = commissionJob_run();
  // A check cut short has not seen every device: nothing is offered.
  if (run->cableLost || run->stopped) {
    showReport("Apply: check report", run);
    return;
  }
  const int changes = commission_count(run, COMMISSION_WOULD_CHANGE);
  ModalDialog dialog(newDialog("Apply: check"));
  if (!dialog.widget()) return;
  GtkDialog* d = GTK_DIALOG(dialog.widget());
  gtk_dialog_add_button(d, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(d, GTK_STOCK_APPLY, GTK_RESPONSE_APPLY);
  gtk_dialog_set_response_sensitive(d, GTK_RESPONSE_APPLY, changes > 0);
  // Return applies, except when every device of the file would be written:
  // then it cancels. The default has the keyboard, not the results.
  const int devices = run->plan ? run->plan->count : 0;
  const int answer = changes > 0 && changes < devices ? GTK_RESPONSE_APPLY : GTK_RESPONSE_CANCEL;
  gtk_dialog_set_default_response(d, answer);
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(d, answer));
  char summary[COMMISSION_TEXT_SIZE];
  commission_totalsLine(run, summary, sizeof summary);
  std::string head = std::string(applyPath) + "\n" + summary + "\n\n";
  if (changes > 0) {
    char question[96];
    snprintf(question, sizeof question, "Write the changes to the %d device%s that would change?", changes,
             changes == 1 ? "" : "s");
    head += question;
  } else {
    head += "Nothing to write: no device would change.";
  }
  pack(dialog.widget(), label(head.c_str(), "Summary"));
  pack(dialog.widget(), widgets_resultsView(resultLines(run), "Results"), true);
  if (dialog.run() != GTK_RESPONSE_APPLY || changes == 0) return;
  started(commissionJob_startRun(&applyPlan, false), PENDING_APPLY);
}

void reportExport() {
  const CommissionExport* e = commissionJob_export();
  if (e->reportIsError)
    messageError(e->report);
  else
    messageInfo(e->report);
}

// ---- Address in sequence

struct AddressDialog {
  GtkWidget* dialog;
  GtkWidget* start;
  GtkWidget* step;
  GtkWidget* selectedOnly;
  GtkWidget* preview;
  GtkWidget* check;
  uint32_t all[COMMISSION_MAX];
  int allCount;
  uint32_t selected[COMMISSION_MAX];
  int selectedCount;
  CommissionPlan plan;
  bool valid;
};

// The devices the dialog's choice names: all listed, or the selected ones.
int chosen(AddressDialog* a, const uint32_t** uids) {
  const bool selected = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(a->selectedOnly)) != FALSE;
  *uids = selected ? a->selected : a->all;
  return selected ? a->selectedCount : a->allCount;
}

// The fields' values; false with the reason in `why`.
bool fieldsOf(AddressDialog* a, int32_t* start, int32_t* step, char* why, int size) {
  char bad[160];
  if (!commission_parseField(COMMISSION_ADDR, gtk_entry_get_text(GTK_ENTRY(a->start)), start, bad, sizeof bad)) {
    snprintf(why, (size_t)size, "Start address: %s.", bad);
    return false;
  }
  if (!commission_parseNumber(gtk_entry_get_text(GTK_ENTRY(a->step)), 0, COMMISSION_STEP_MAX, step, bad,
                              sizeof bad)) {
    snprintf(why, (size_t)size, "Step: %s.", bad);
    return false;
  }
  return true;
}

// The preview: where each device would go, also past 512; nothing while a
// field holds no valid number.
void showPreview(AddressDialog* a, bool parsed, int32_t start, int32_t step) {
  const uint32_t* uids;
  const int count = chosen(a, &uids);
  GtkCList* l = GTK_CLIST(a->preview);
  gtk_clist_freeze(l);
  gtk_clist_clear(l);
  const DeviceTableModel* m = devicePanel_model();
  for (int i = 0; parsed && i < count; i++) {
    const int row = deviceTable_find(m, uids[i]);
    char address[32];
    addressPreview_row(start, step, i, address, sizeof address);
    gchar* cells[2] = {row >= 0 ? (gchar*)m->rows[row].cells[DEVICE_COL_ROW] : (gchar*)"", address};
    gtk_clist_append(l, cells);
  }
  gtk_clist_thaw(l);
}

// The plan the dialog's fields give; false with the reason in `why`. Before
// anything is tried, `why` words a sequence past 512 as the preview it is,
// and warns of a step of 0 that gives several devices one address.
bool planOf(AddressDialog* a, char* why, int size) {
  int32_t start = 0, step = 0;
  const bool parsed = fieldsOf(a, &start, &step, why, size);
  showPreview(a, parsed, start, step);
  if (!parsed) return false;
  const uint32_t* uids;
  const int count = chosen(a, &uids);
  char preview[ADDRESS_PREVIEW_TEXT_SIZE];
  const AddressPreviewKind kind = addressPreview_summary(start, step, count, preview, sizeof preview);
  const bool planned = commission_addressPlan(start, step, uids, count, &a->plan, why, size);
  if (kind == ADDRESS_PREVIEW_PAST_END || (planned && kind != ADDRESS_PREVIEW_FINE))
    snprintf(why, (size_t)size, "%s", preview);
  return planned;
}

void onAddressChanged(GtkWidget*, gpointer data) {
  AddressDialog* a = (AddressDialog*)data;
  char why[COMMISSION_TEXT_SIZE] = "";
  a->valid = planOf(a, why, sizeof why);
  gtk_label_set_text(GTK_LABEL(a->check), why);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(a->dialog), GTK_RESPONSE_OK, a->valid);
  // Return answers OK, except when every device listed would be written:
  // then Cancel is the default.
  const uint32_t* uids;
  const bool every = chosen(a, &uids) >= a->allCount;
  gtk_dialog_set_default_response(GTK_DIALOG(a->dialog), every ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_OK);
}

GtkWidget* entry(const char* text, const char* name, AddressDialog* a) {
  GtkWidget* e = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(e), 3);
  gtk_entry_set_width_chars(GTK_ENTRY(e), 5);
  gtk_entry_set_text(GTK_ENTRY(e), text);
  gtk_entry_set_activates_default(GTK_ENTRY(e), TRUE);
  atk_object_set_name(gtk_widget_get_accessible(e), name);
  g_signal_connect(e, "changed", G_CALLBACK(onAddressChanged), a);
  return e;
}

GtkWidget* addressFields(AddressDialog* a) {
  GtkWidget* table = gtk_table_new(2, 2, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 8);
  gtk_table_set_row_spacings(GTK_TABLE(table), 4);
  a->start = entry("1", "Start address", a);
  a->step = entry("1", "Step", a);
  gtk_table_attach(GTK_TABLE(table), label("Start address [1..512]:"), 0, 1, 0, 1, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), a->start, 1, 2, 0, 1, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), label("Step:"), 0, 1, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(table), a->step, 1, 2, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
  gtk_widget_show_all(table);
  return table;
}

GtkWidget* whichDevices(AddressDialog* a) {
  char text[96];
  GtkWidget* box = gtk_vbox_new(FALSE, 2);
  snprintf(text, sizeof text, "All %d devices, in the table's order", a->allCount);
  GtkWidget* all = gtk_radio_button_new_with_label(NULL, text);
  snprintf(text, sizeof text, "The %d selected devices, in the table's order", a->selectedCount);
  a->selectedOnly = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(all), text);
  atk_object_set_name(gtk_widget_get_accessible(all), "All devices");
  atk_object_set_name(gtk_widget_get_accessible(a->selectedOnly), "Selected devices");
  gtk_widget_set_sensitive(a->selectedOnly, a->selectedCount > 0);
  // A selection of several devices is what the operator means to address.
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(a->selectedOnly), a->selectedCount > 1);
  g_signal_connect(a->selectedOnly, "toggled", G_CALLBACK(onAddressChanged), a);
  gtk_box_pack_start(GTK_BOX(box), all, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), a->selectedOnly, FALSE, FALSE, 0);
  gtk_widget_show_all(box);
  return box;
}

GtkWidget* previewList(AddressDialog* a) {
  const char* titles[] = {"Device", "New address"};
  GtkWidget* scrolled = widgets_table(titles, 2, "Address preview", 300, 200, &a->preview);
  gtk_clist_set_column_width(GTK_CLIST(a->preview), 0, 140);
  return scrolled;
}

}  // namespace

GtkWidget* getButtonAddressSequence() {
  return hiddenButton(buttonAddress, "Address in sequence", addressSequenceAction);
}
GtkWidget* getButtonExport() { return hiddenButton(buttonExport, "Export", exportAction); }
GtkWidget* getButtonApply() { return hiddenButton(buttonApply, "Apply", applyAction); }

void commissionDialogs_update(const WindowState& state) {
  const bool listed = state.devicesListed > 0;
  if (buttonAddress) gtk_widget_set_sensitive(buttonAddress, state.enabled && listed);
  if (buttonExport) gtk_widget_set_sensitive(buttonExport, state.enabled && listed);
  if (buttonApply) gtk_widget_set_sensitive(buttonApply, state.enabled);
}

void commissionDialogs_tick() {
  if (pending == PENDING_NONE || commissionJob_running()) return;
  const Pending done = pending;
  pending = PENDING_NONE;
  busyCursor_end();
  // What the table cannot tell from the values (the cable failed half way).
  if (done == PENDING_EXPORT)
    deviceNotes_afterExport(exportUids, exportCount, &commissionJob_export()->read);
  else
    deviceNotes_afterRun(commissionJob_run());
  // The table shows what the devices hold now before the report opens.
  refresh_all();
  switch (done) {
    case PENDING_ADDRESS: showReport("Address in sequence: report", commissionJob_run()); break;
    case PENDING_CHECK: askToApply(); break;
    case PENDING_APPLY: showReport("Apply: report", commissionJob_run()); break;
    case PENDING_EXPORT: reportExport(); break;
    case PENDING_NONE: break;
  }
}

void addressSequenceAction() {
  if (commissionJob_running() || pending != PENDING_NONE) return;
  std::unique_ptr<AddressDialog> a(new AddressDialog());
  a->allCount = devicePanel_listed(a->all, COMMISSION_MAX);
  a->selectedCount = devicePanel_selected(a->selected, COMMISSION_MAX);
  if (a->allCount > COMMISSION_MAX) a->allCount = COMMISSION_MAX;
  if (a->selectedCount > COMMISSION_MAX) a->selectedCount = COMMISSION_MAX;
  if (a->allCount == 0) return;
  ModalDialog dialog(newDialog("Address in sequence"));
  if (!dialog.widget()) return;
  a->dialog = dialog.widget();
  gtk_dialog_add_button(GTK_DIALOG(a->dialog), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(a->dialog), GTK_STOCK_OK, GTK_RESPONSE_OK);
  pack(a->dialog, addressFields(a.get()));
  pack(a->dialog, whichDevices(a.get()));
  pack(a->dialog, previewList(a.get()), true);
  a->check = label("", "Plan check");
  pack(a->dialog, a->check);
  onAddressChanged(nullptr, a.get());
  for (;;) {
    if (dialog.run() != GTK_RESPONSE_OK) return;
    // Return in a field answers the default even while it is insensitive.
    if (a->valid) break;
  }
  started(commissionJob_startRun(&a->plan, false), PENDING_ADDRESS);
}

void exportAction() {
  if (commissionJob_running() || pending != PENDING_NONE) return;
  uint32_t* uids = exportUids;
  int count = devicePanel_listed(uids, COMMISSION_MAX);
  if (count > COMMISSION_MAX) count = COMMISSION_MAX;
  exportCount = count;
  if (count == 0) return;
  if (!openFileDialogTitled(DIALOG_KIND_CSV, 1, "Export devices to CSV")) return;
  std::string path = getFilename();
  // A name without an extension gets the commissioning file's.
  const char* base = strrchr(path.c_str(), '/');
  if (!strchr(base ? base : path.c_str(), '.')) path += ".csv";
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    std::string question = "The file\n" + path + "\nalready exists. Replace it?";
    if (!messageQuestion(question.c_str())) return;
  }
  if (path.size() >= RIG_PATH_SIZE) {
    messageError("The chosen path is too long; choose a file with a shorter path.");
    return;
  }
  started(commissionJob_startExport(uids, count, path.c_str()), PENDING_EXPORT);
}

void applyAction() {
  if (commissionJob_running() || pending != PENDING_NONE) return;
  if (!openFileDialogTitled(DIALOG_KIND_CSV, 0, "Apply a CSV file")) return;
  snprintf(applyPath, sizeof applyPath, "%s", getFilename());
  char why[COMMISSION_TEXT_SIZE];
  std::string error;
  switch (rig_readRecord(applyPath, &applyPlan, why, sizeof why)) {
    case RIG_FILE_OK: break;
    case RIG_FILE_UNREADABLE: error = std::string("Cannot open the file\n") + applyPath + "\n" + why; break;
    case RIG_FILE_REFUSED:
      error = std::string(applyPath) + "\n" + why + "\n\nThe file is refused whole: nothing was written.";
      break;
    case RIG_FILE_EMPTY: error = std::string(applyPath) + "\nnames no device: nothing was written."; break;
  }
  if (!error.empty()) {
    messageError(error.c_str());
    return;
  }
  // First only the check: what would change is shown before anything is written.
  started(commissionJob_startRun(&applyPlan, true), PENDING_CHECK);
}
