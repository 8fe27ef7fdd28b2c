// The curve's name entry and the actions of the curve buttons: the two
// presets, Read, Save and Send.
#pragma once

typedef struct _GtkWidget GtkWidget;

enum {
  ENTRY_NAME_MAX = 11,        // characters the name entry accepts
  ENTRY_NAME_BUF_SIZE = 48,   // 11 characters of UTF-8 and a terminator
};

GtkWidget* getEntryName(const char* text, int maxLength);
void setEntryNameTXT(const char* text);
char* getEntryNameTXT(char* buffer);
// Refreshes the staging record from the name entry and the current curve.
void loadGraphCurve();

void buttonCurve1Action();
void buttonCurve2Action();
void buttonReadAction();
void buttonSaveAction();
void buttonSendCurveAction();
