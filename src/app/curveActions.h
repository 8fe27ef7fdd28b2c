// The curve's name entry and the actions of the curve buttons and menu: the
// presets, Read, Save and Send, undo and redo, and the question before
// closing with unsaved changes.
#pragma once

typedef struct _GtkWidget GtkWidget;

enum {
  ENTRY_NAME_MAX = 11,        // characters the name entry accepts
  ENTRY_NAME_BUF_SIZE = 48,   // 11 characters of UTF-8 and a terminator
};

GtkWidget* getEntryName(const char* text, int maxLength);
// The entry's label ("Curve name:"), and the line under the entry that says
// when a longer name was cut to the 11 characters a curve's name holds
// (hidden otherwise). Made with the entry.
GtkWidget* curveActions_nameLabel();
GtkWidget* curveActions_nameNotice();
void setEntryNameTXT(const char* text);
char* getEntryNameTXT(char* buffer);
// Refreshes the staging record from the name entry and the current curve.
void loadGraphCurve();

void buttonCurve1Action();
void buttonCurve2Action();
void buttonReadAction();
void buttonSaveAction();
void buttonSendCurveAction();
// Presets beyond the panel's two (menu only): "DALI LOG" and "GAMMA 2.2".
void curveDaliLogAction();
void curveGammaAction();
// Undo and redo of the curve's changes (curve_undo); nothing mid-stroke.
void curveUndoAction();
void curveRedoAction();
// Save curve: asks for the file (and before replacing one); 1 once saved.
int curveActions_save();
// Whether the window may close: true at once without unsaved changes,
// else after the operator chose to save (and it was saved) or to discard.
bool curveActions_mayClose();
