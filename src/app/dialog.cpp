#include "app/dialog.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/mainWin.h"

namespace {

char file[DIALOG_PATH_SIZE] = "";
char lastFile[DIALOG_PATH_SIZE] = ".";

static_assert((int)DIALOG_GONE == (int)GTK_RESPONSE_NONE, "a dialog gone under its run answers nothing");

// Runs a message box of the given kind; returns the response.
int runMessage(GtkMessageType type, GtkButtonsType buttons, const char* text) {
  ModalDialog dialog(gtk_message_dialog_new(GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                            type, buttons, "%s", text));
  return dialog.run();
}

GtkFileFilter* makeFilter(const char* name, const char* pattern) {
  GtkFileFilter* f = gtk_file_filter_new();
  gtk_file_filter_set_name(f, name);
  gtk_file_filter_add_pattern(f, pattern);
  return f;
}

void dropFilter(GtkFileFilter* f) {
  // A filter not added is floating: sink and drop it.
  g_object_ref_sink(f);
  g_object_unref(f);
}

void addFilters(GtkWidget* dialog, int kind) {
  GtkFileFilter* any = makeFilter("Any files", "*");
  GtkFileFilter* firmware = makeFilter("Firmware files", "*.fw");
  GtkFileFilter* curve = makeFilter("Curve files", "*.crv");
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (kind == DIALOG_KIND_FIRMWARE || kind == DIALOG_KIND_CURVE) {
    gtk_file_chooser_add_filter(chooser, kind == DIALOG_KIND_FIRMWARE ? firmware : curve);
    gtk_file_chooser_add_filter(chooser, kind == DIALOG_KIND_FIRMWARE ? curve : firmware);
    gtk_file_chooser_add_filter(chooser, any);
  } else if (kind == DIALOG_KIND_CSV) {
    gtk_file_chooser_add_filter(chooser, makeFilter("CSV files", "*.csv"));
    gtk_file_chooser_add_filter(chooser, any);
    dropFilter(firmware);
    dropFilter(curve);
  } else {
    for (GtkFileFilter* f : {any, firmware, curve}) dropFilter(f);
  }
}

// Takes the accepted file and its folder; false when a path does not fit.
bool takeChoice(GtkWidget* dialog) {
  gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
  if (!chosen) return false;
  printf("FileChooser = %s\n", chosen);
  bool fits = strlen(chosen) < sizeof file;
  if (fits) {
    strcpy(file, chosen);
    // The folder of the chosen file: the folder the dialog shows is not it
    // when the operator typed a path into another folder.
    gchar* folder = g_path_get_dirname(chosen);
    if (folder && strlen(folder) < sizeof lastFile) strcpy(lastFile, folder);
    printf("FileChooser path = %s\n", lastFile);
    g_free(folder);
  }
  g_free(chosen);
  fflush(stdout);
  // Through the message slot, so that the box is echoed on the console too.
  if (!fits) messageError("The chosen path is too long; choose a file with a shorter path.");
  return fits;
}

}  // namespace

ModalDialog::ModalDialog(GtkWidget* dialog) : dialog_(dialog) {
  g_signal_connect(dialog_, "destroy", G_CALLBACK(destroyed), this);
  if (!mainWin_window())
    gtk_widget_destroy(dialog_);
  else
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog_), TRUE);
}

ModalDialog::~ModalDialog() {
  if (dialog_) gtk_widget_destroy(dialog_);
}

int ModalDialog::run() {
  if (!dialog_) return DIALOG_GONE;
  const int response = gtk_dialog_run(GTK_DIALOG(dialog_));
  return dialog_ ? response : DIALOG_GONE;
}

void ModalDialog::every(unsigned ms, int (*tick)(void*)) {
  if (!dialog_ || timer_) return;
  tick_ = tick;
  timer_ = g_timeout_add(ms, (GSourceFunc)ticked, this);
}

void ModalDialog::onGone(void (*gone)()) { gone_ = gone; }

int ModalDialog::ticked(void* self) {
  ModalDialog* d = (ModalDialog*)self;
  if (d->tick_(nullptr)) return TRUE;
  d->timer_ = 0;
  return FALSE;
}

// Runs first as the dialog goes, before its children are destroyed.
void ModalDialog::destroyed(GtkWidget*, void* self) {
  ModalDialog* d = (ModalDialog*)self;
  d->dialog_ = nullptr;
  if (d->timer_) g_source_remove(d->timer_);
  d->timer_ = 0;
  if (d->gone_) d->gone_();
  d->gone_ = nullptr;
}

void messageInfo_show(const char* text) { runMessage(GTK_MESSAGE_INFO, GTK_BUTTONS_OK, text); }

void messageError_show(const char* text) { runMessage(GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, text); }

void messageError_wait(const char* text) {
  fprintf(stderr, "ERROR: %s\n", text);
  fflush(stderr);
  messageError_show(text);
}

int messageQuestion(const char* text) {
  return runMessage(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, text) == GTK_RESPONSE_YES ? 1 : 0;
}

int messageSaveChanges(const char* text) {
  GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(mainWin_window()), GTK_DIALOG_DESTROY_WITH_PARENT,
                                          GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "%s", text);
  gtk_dialog_add_buttons(GTK_DIALOG(box), "Close without saving", GTK_RESPONSE_REJECT, GTK_STOCK_CANCEL,
                         GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, NULL);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_ACCEPT);
  const int response = ModalDialog(box).run();
  if (response == GTK_RESPONSE_ACCEPT) return DIALOG_SAVE_CHANGES;
  if (response == GTK_RESPONSE_REJECT) return DIALOG_DISCARD_CHANGES;
  return DIALOG_CANCEL_CLOSE;
}

int openFileDialog(int kind, int save) { return openFileDialogTitled(kind, save, save ? "Save File" : "Open File"); }

int openFileDialogTitled(int kind, int save, const char* title) {
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      title, GTK_WINDOW(mainWin_window()),
      save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
      GTK_RESPONSE_CANCEL, save ? GTK_STOCK_SAVE : GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, NULL);
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), lastFile);
  addFilters(chooser, kind);
  ModalDialog dialog(chooser);
  if (dialog.run() == GTK_RESPONSE_ACCEPT) return takeChoice(dialog.widget()) ? 1 : 0;
  puts("FileChooser Canceled");
  fflush(stdout);
  return 0;
}

const char* getFilename() { return file; }

const char* dialog_lastFolder() { return lastFile; }
