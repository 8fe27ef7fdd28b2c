#include "app/curveActions.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "app/dialog.h"
#include "app/mainWin.h"
#include "curve/curve.h"
#include "curve/curve_file.h"
#include "device/app_setup.h"
#include "link/fileio.h"

namespace {

// Staging record for every curve action.
CurveRecord curve;
GtkWidget* entryName = nullptr;

// Path buffer for Save: the longest chosen path plus ".crv".
enum { SAVE_PATH_SIZE = DIALOG_PATH_SIZE + 4 };
// One more byte than Read accepts, to tell a too-large file.
enum { READ_BUFFER_SIZE = CURVE_FILE_READ_MAX + 1 };

void loadPreset(void (*preset)(CurveRecord*)) {
  preset(&curve);
  curve_setData(&curve);
  setEntryNameTXT(curve.name);
}

void postError(const char* what, const char* path) {
  char text[DIALOG_PATH_SIZE + 128];
  snprintf(text, sizeof text, "%s\n%s", what, path);
  messageError(text);
}

}  // namespace

GtkWidget* getEntryName(const char* text, int maxLength) {
  entryName = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entryName), maxLength);
  gtk_entry_set_text(GTK_ENTRY(entryName), text);
  atk_object_set_name(gtk_widget_get_accessible(entryName), "Curve name");
  gtk_widget_show(entryName);
  return entryName;
}

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
  curve_setName(&curve, getEntryNameTXT(name));
  curve_getData(&curve);
}

void buttonCurve1Action() { loadPreset(curve_presetLinear); }

void buttonCurve2Action() { loadPreset(curve_presetCurve2); }

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
  curve_setData(&curve);
  setEntryNameTXT(curve.name);
}

void buttonSaveAction() {
  if (!openFileDialog(DIALOG_KIND_CURVE, 1)) return;
  loadGraphCurve();
  static char text[CURVE_FILE_TEXT_SIZE];
  char path[SAVE_PATH_SIZE];
  if (curve_formatFile(&curve, text, sizeof text) < 0) return;  // cannot happen: 1292 bytes at most
  if (curve_savePath(getFilename(), path, sizeof path) != 0) {
    postError("The path is too long; the curve was not saved:", getFilename());
    return;
  }
  if (save_file(path, text) != 0) postError("The curve could not be saved to", path);
}

void buttonSendCurveAction() {
  loadGraphCurve();
  int r = app_setup_send_curve(0xFFFFFFFFu, &curve);
  if (r == APP_SETUP_NO_CABLE)
    messageError("Cable not found!");
  else if (r != APP_SETUP_CURVE_SENT)
    messageError("Sending the curve failed: the cable stopped answering.");
}
