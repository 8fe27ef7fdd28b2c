#include "app/checkDialog.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/busyCursor.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/refresh.h"
#include "app/widgets.h"
#include "device/bridge.h"
#include "device/check_job.h"
#include "device/commission_job.h"
#include "device/job.h"

namespace {

enum Pending { PENDING_NONE, PENDING_CHECK, PENDING_FIX, PENDING_REPLACE };
enum { RESPONSE_FIX = 1 };

GtkWidget* buttonCheck = nullptr;
Pending pending = PENDING_NONE;
// The pairs the check offered, asked about once its report (and its fix's)
// has been read.
bool askPairs = false;

// Hands a job to a worker and waits for it on the timer, under the busy
// cursor; false when it did not start.
bool started(int result, Pending then) {
  if (result != JOB_STARTED) return false;
  pending = then;
  busyCursor_begin(nullptr);
  refresh_all();
  return true;
}

GtkWidget* summaryLabel(const std::string& text) {
  GtkWidget* l = gtk_label_new(text.c_str());
  gtk_misc_set_alignment(GTK_MISC(l), 0.0f, 0.5f);
  gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
  atk_object_set_name(gtk_widget_get_accessible(l), "Summary");
  gtk_widget_show(l);
  return l;
}

// A report: its summary over its lines, Close, and `extra` (a response's
// button) before it when given. Returns the response.
int showReport(const char* title, const std::string& summary, const std::string& lines,
               const char* extra = nullptr, bool extraSensitive = false) {
  ModalDialog dialog(gtk_dialog_new_with_buttons(title, GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                                 NULL, NULL));
  GtkWidget* d = dialog.widget();
  if (!d) return DIALOG_GONE;
  gtk_container_set_border_width(GTK_CONTAINER(GTK_DIALOG(d)->vbox), 6);
  gtk_box_set_spacing(GTK_BOX(GTK_DIALOG(d)->vbox), 6);
  if (extra) {
    gtk_dialog_add_button(GTK_DIALOG(d), extra, RESPONSE_FIX);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(d), RESPONSE_FIX, extraSensitive);
  }
  gtk_dialog_add_button(GTK_DIALOG(d), GTK_STOCK_CLOSE, GTK_RESPONSE_CLOSE);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_CLOSE);
  gtk_box_pack_start(GTK_BOX(GTK_DIALOG(d)->vbox), summaryLabel(summary), FALSE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(GTK_DIALOG(d)->vbox), widgets_resultsView(lines, "Results"), TRUE, TRUE, 0);
  return dialog.run();
}

std::string checkLines(const RigCheck* c) {
  std::string text;
  char line[2 * COMMISSION_TEXT_SIZE];
  for (int i = 0; i < c->count; i++) {
    rig_checkRowLine(&c->rows[i], line, sizeof line);
    text += std::string(line) + "\n";
  }
  for (int i = 0; i < c->newCount; i++) {
    rig_checkNewLine(&c->fresh[i], line, sizeof line);
    text += std::string(line) + "\n";
  }
  return text;
}

// After the check (and its fix): whether each new device takes a missing
// one's place, the pairs in the record's order.
void askToReplace() {
  askPairs = false;
  static RigPair pairs[RIG_MAX];
  const int count = rig_replacePairs(checkJob_check(), pairs, RIG_MAX);
  if (count == 0) return;
  std::string question;
  for (int i = 0; i < count; i++) {
    char line[96];
    snprintf(line, sizeof line, "Give %08X the settings of %08X (line %d)?", (unsigned)pairs[i].newUid,
             (unsigned)pairs[i].oldUid, pairs[i].line);
    question += std::string(line) + "\n";
  }
  question += std::string("\nThe record file then names the new device") + (count == 1 ? "" : "s") +
              " in the missing one's row.";
  if (!messageQuestion(question.c_str())) return;
  started(checkJob_startReplace(pairs, count), PENDING_REPLACE);
}

void reportCheck() {
  const RigCheck* c = checkJob_check();
  char line[2 * COMMISSION_TEXT_SIZE];
  rig_checkTotalsLine(c, line, sizeof line);
  std::string summary = std::string(checkJob_path()) + "\n" + line;
  rig_checkEndText(c, line, sizeof line);
  if (line[0]) summary += std::string("\n") + line;
  std::unique_ptr<CommissionPlan> fix(new CommissionPlan);
  const int differ = rig_checkFix(c, fix.get());
  askPairs = true;
  if (showReport("Check against record: report", summary, checkLines(c), "Fix", differ > 0) != RESPONSE_FIX ||
      differ == 0) {
    askToReplace();
    return;
  }
  if (!started(commissionJob_startRun(fix.get(), false), PENDING_FIX)) askToReplace();
}

void reportFix() {
  const CommissionRun* run = commissionJob_run();
  char line[2 * COMMISSION_TEXT_SIZE];
  commission_totalsLine(run, line, sizeof line);
  std::string summary = line;
  commission_stopLine(run, line, sizeof line);
  if (line[0]) summary += std::string("\n") + line;
  std::string lines;
  for (int i = 0; run->plan && i < run->plan->count; i++) {
    commission_resultLine(&run->results[i], line, sizeof line);
    lines += std::string(line) + "\n";
  }
  showReport("Fix: report", summary, lines);
  if (askPairs) askToReplace();
}

void reportReplace() {
  int done = 0, count = 0;
  const RigReplace* r = checkJob_replaced(&done, &count);
  const RigPair* pairs = checkJob_pairs();
  std::string lines;
  int replaced = 0;
  for (int i = 0; i < count; i++) {
    if (i < done) {
      lines += std::string(r[i].text) + "\n";
      replaced += r[i].status == RIG_REPLACE_DONE ? 1 : 0;
    } else {
      char line[96];
      snprintf(line, sizeof line, "%08X was not given the settings of %08X: the replacements ended before.",
               (unsigned)pairs[i].newUid, (unsigned)pairs[i].oldUid);
      lines += std::string(line) + "\n";
    }
  }
  char summary[128];
  snprintf(summary, sizeof summary, "%d of %d device%s replaced.", replaced, count, count == 1 ? "" : "s");
  showReport("Replace: report", std::string(checkJob_path()) + "\n" + summary, lines);
}

}  // namespace

GtkWidget* getButtonCheckRecord() {
  if (buttonCheck) return buttonCheck;
  widgets_button(buttonCheck, "Check against record", checkRecordAction);
  g_object_ref_sink(buttonCheck);
  checkDialog_update(refresh_state());
  return buttonCheck;
}

void checkDialog_update(const WindowState& state) {
  if (buttonCheck) gtk_widget_set_sensitive(buttonCheck, state.enabled && pending == PENDING_NONE);
}

void checkDialog_progressText(char* text, int size) {
  if (checkJob_running()) checkJob_progressText(text, size);
}

void checkDialog_tick() {
  if (pending == PENDING_NONE || checkJob_running() || commissionJob_running()) return;
  const Pending done = pending;
  pending = PENDING_NONE;
  busyCursor_end();
  // The table shows what the devices hold now before the report opens.
  refresh_all();
  switch (done) {
    case PENDING_CHECK: reportCheck(); break;
    case PENDING_FIX: reportFix(); break;
    case PENDING_REPLACE: reportReplace(); break;
    case PENDING_NONE: break;
  }
  refresh_all();
}

void checkRecordAction() {
  if (pending != PENDING_NONE || lockComponents.load() != 0) return;
  if (!openFileDialogTitled(DIALOG_KIND_CSV, 0, "Check against a record")) return;
  const std::string path = getFilename();
  std::unique_ptr<CommissionPlan> record(new CommissionPlan);
  char why[COMMISSION_TEXT_SIZE];
  std::string error;
  switch (rig_readRecord(path.c_str(), record.get(), why, sizeof why)) {
    case RIG_FILE_OK: break;
    case RIG_FILE_UNREADABLE: error = "Cannot open the file\n" + path + "\n" + why; break;
    case RIG_FILE_REFUSED: error = path + "\n" + why + "\n\nThe file is refused whole: nothing was checked."; break;
    case RIG_FILE_EMPTY: error = path + "\nnames no device: nothing was checked."; break;
  }
  if (!error.empty()) {
    messageError(error.c_str());
    return;
  }
  started(checkJob_startCheck(path.c_str(), record.get()), PENDING_CHECK);
}
