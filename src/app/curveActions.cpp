#include "app/curveActions.h"

#include <gtk/gtk.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "app/dialog.h"
#include "app/mainWin.h"
#include "curve/curve.h"
#include "curve/curve_edit.h"
#include "curve/curve_file.h"
#include "curve/curve_undo.h"
#include "device/app_setup.h"
#include "link/cable.h"
#include "link/fileio.h"

namespace {

// Staging record for every curve action.
CurveRecord curve;
GtkWidget* entryName = nullptr;
GtkWidget* nameLabel = nullptr;
GtkWidget* nameNotice = nullptr;
// Set by the entry's insert handler when the text inserted does not fit.
bool nameCut = false;

// Path buffer for Save: the longest chosen path plus ".crv".
enum { SAVE_PATH_SIZE = DIALOG_PATH_SIZE + 4 };
// One more byte than Read accepts, to tell a too-large file.
enum { READ_BUFFER_SIZE = CURVE_FILE_READ_MAX + 1 };

// The curve and the name as they were last saved or read (all zero and
// no name at start): closing asks before it loses anything else.
UndoState savedState = {{0}, true, {0}};

// The curve with the name as Save would write it.
UndoState currentState() {
  UndoState s;
  undo_takeCurve(s);
  loadGraphCurve();
  s.named = true;
  memcpy(s.name, curve.name, sizeof s.name);
  return s;
}

bool isUnsaved() {
  const UndoState now = currentState();
  return memcmp(now.values, savedState.values, sizeof now.values) != 0 ||
         strncmp(now.name, savedState.name, CURVE_NAME_SIZE) != 0;
}

// Shows a state undo or redo brought back (the view and its readout follow
// the curve by themselves).
void applyState(const UndoState& s) {
  undo_putCurve(s);
  if (s.named) setEntryNameTXT(curve_showName(s.name));
}

// Curve and name from the staging record, as one undo step.
void loadRecord() {
  const CurveRecord loaded = curve;  // currentState refills the staging record
  const UndoState before = currentState();
  curve_setData(&loaded);
  setEntryNameTXT(curve_showName(loaded.name));
  undo_record(before, currentState(), 0);
}

void loadPreset(void (*preset)(CurveRecord*)) {
  preset(&curve);
  loadRecord();
}

// A name is one line: control characters typed or pasted into the entry are
// left out, so the entry shows the name as it will be saved and sent.
void onNameInsert(GtkEditable* editable, gchar* text, gint length, gint* position, gpointer) {
  if (length < 0) length = (gint)strlen(text);
  GString* clean = g_string_sized_new((gsize)length);
  for (const gchar* p = text; p < text + length && *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char_validated(p, text + length - p);
    if (c == (gunichar)-1 || c == (gunichar)-2) break;
    if (!g_unichar_iscntrl(c)) g_string_append_unichar(clean, c);
  }
  // The entry keeps what fits and drops the rest without a word: the
  // notice under it says so.
  const gint room = gtk_entry_get_max_length(GTK_ENTRY(editable)) -
                    (gint)g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(editable)), -1);
  if ((gint)g_utf8_strlen(clean->str, (gssize)clean->len) > room) nameCut = true;
  if ((gint)clean->len != length) {
    g_signal_handlers_block_by_func(editable, (gpointer)onNameInsert, NULL);
    gtk_editable_insert_text(editable, clean->str, (gint)clean->len, position);
    g_signal_handlers_unblock_by_func(editable, (gpointer)onNameInsert, NULL);
    g_signal_stop_emission_by_name(editable, "insert-text");
  }
  g_string_free(clean, TRUE);
}

void showNameCut(bool cut) {
  if (!nameNotice) return;
  if (cut)
    gtk_widget_show(nameNotice);
  else
    gtk_widget_hide(nameNotice);
}

// Every change of the name: the notice shows while the last change cut it.
void onNameChanged(GtkEditable*, gpointer) {
  showNameCut(nameCut);
  nameCut = false;
}

// Whether the name at the start of a curve file is longer than the name
// the record took from it: its first run of non-blank bytes, control bytes
// left out, as curve_parseFile reads it.
bool fileNameCut(const unsigned char* data, int n, const CurveRecord* rec) {
  int i = 0;
  while (i < n && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r'))) i++;
  size_t bytes = 0;
  for (; i < n && data[i] != ' ' && !(data[i] >= '\t' && data[i] <= '\r'); i++)
    bytes += data[i] >= 0x20 && data[i] != 0x7F ? 1 : 0;
  return bytes > strnlen(rec->name, CURVE_NAME_SIZE);
}

void postError(const char* what, const char* path, const char* reason = nullptr) {
  char text[DIALOG_PATH_SIZE + 256];
  snprintf(text, sizeof text, "%s\n%s%s%s", what, path, reason ? "\n" : "", reason ? reason : "");
  messageError(text);
}

}  // namespace

GtkWidget* getEntryName(const char* text, int maxLength) {
  entryName = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entryName), maxLength);
  gtk_entry_set_text(GTK_ENTRY(entryName), text);
  g_signal_connect(entryName, "insert-text", G_CALLBACK(onNameInsert), NULL);
  g_signal_connect(entryName, "changed", G_CALLBACK(onNameChanged), NULL);
  atk_object_set_name(gtk_widget_get_accessible(entryName), "Curve name");
  gtk_widget_show(entryName);
  nameLabel = gtk_label_new("Curve name:");
  gtk_misc_set_alignment(GTK_MISC(nameLabel), 0.0f, 1.0f);
  gtk_label_set_mnemonic_widget(GTK_LABEL(nameLabel), entryName);
  gtk_widget_show(nameLabel);
  char notice[64];
  snprintf(notice, sizeof notice, "Cut to %d characters", maxLength);
  nameNotice = gtk_label_new(notice);
  gtk_misc_set_alignment(GTK_MISC(nameNotice), 0.0f, 0.0f);
  atk_object_set_name(gtk_widget_get_accessible(nameNotice), "Curve name notice");
  gtk_widget_set_no_show_all(nameNotice, TRUE);
  return entryName;
}

GtkWidget* curveActions_nameLabel() { return nameLabel; }

GtkWidget* curveActions_nameNotice() { return nameNotice; }

void setEntryNameTXT(const char* text) {
  if (entryName) gtk_entry_set_text(GTK_ENTRY(entryName), text);
}

char* getEntryNameTXT(char* buffer) {
  buffer[0] = 0;
  if (entryName) snprintf(buffer, ENTRY_NAME_BUF_SIZE, "%s", gtk_entry_get_text(GTK_ENTRY(entryName)));
  return buffer;
}

void loadGraphCurve() {
  char name[ENTRY_NAME_BUF_SIZE];
  // The name as a file or a device gave it, unless the operator edited it.
  curve_nameFromEntry(&curve, getEntryNameTXT(name));
  curve_getData(&curve);
}

void buttonCurve1Action() { loadPreset(curve_presetLinear); }

void buttonCurve2Action() { loadPreset(curve_presetCurve2); }

void curveDaliLogAction() { loadPreset(curve_presetDaliLog); }

void curveGammaAction() { loadPreset(curve_presetGamma22); }

void curveUndoAction() {
  if (curve_getEditMode() != CURVE_MODE_IDLE) return;  // not in the middle of a stroke
  UndoState s = currentState();
  if (undo_undo(s)) applyState(s);
}

void curveRedoAction() {
  if (curve_getEditMode() != CURVE_MODE_IDLE) return;
  UndoState s = currentState();
  if (undo_redo(s)) applyState(s);
}

bool curveActions_mayClose() {
  if (!isUnsaved()) return true;
  switch (messageSaveChanges("The curve has changes that are not saved.\nSave them before closing?")) {
    case DIALOG_SAVE_CHANGES:
      return curveActions_save() == 1;  // closes only once it is saved
    case DIALOG_DISCARD_CHANGES:
      return true;
    default:
      return false;
  }
}

void buttonReadAction() {
  if (!openFileDialog(DIALOG_KIND_CURVE, 0)) return;
  static unsigned char data[READ_BUFFER_SIZE];
  const int n = read_file(getFilename(), data, sizeof data);
  if (n < 0) {
    postError("Cannot open the curve file:", getFilename());
    return;
  }
  if (n > CURVE_FILE_READ_MAX) {
    postError("This file is too large to be a curve file:", getFilename());
    return;
  }
  if (!curve_parseFile(data, n, &curve)) return;
  fflush(stdout);
  const bool cut = fileNameCut(data, n, &curve);
  loadRecord();
  savedState = currentState();
  showNameCut(cut);
}

void buttonSaveAction() { curveActions_save(); }

int curveActions_save() {
  if (!openFileDialog(DIALOG_KIND_CURVE, 1)) return 0;
  const UndoState saving = currentState();  // also fills the staging record
  static char text[CURVE_FILE_TEXT_SIZE];
  char path[SAVE_PATH_SIZE];
  if (curve_formatFile(&curve, text, sizeof text) < 0) return 0;  // cannot happen: 1292 bytes at most
  if (curve_savePath(getFilename(), path, sizeof path) != 0) {
    postError("The path is too long; the curve was not saved:", getFilename());
    return 0;
  }
  struct stat st;
  if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
    char question[SAVE_PATH_SIZE + 64];
    snprintf(question, sizeof question, "The file\n%s\nalready exists. Replace it?", path);
    if (!messageQuestion(question)) return 0;
  }
  if (save_file(path, text) != 0) {
    postError("The curve could not be saved to", path, strerror(errno));
    return 0;
  }
  savedState = saving;
  return 1;
}

void buttonSendCurveAction() {
  loadGraphCurve();
  int r = app_setup_send_curve(0xFFFFFFFFu, &curve);
  if (r == APP_SETUP_NO_CABLE)
    messageError(cable_notFoundText());
  else if (r != APP_SETUP_CURVE_SENT)
    messageError("Sending the curve failed: the cable stopped answering.");
}
