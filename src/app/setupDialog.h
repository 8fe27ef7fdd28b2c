// The device setup dialog "Setup %08X": the device's DMX, display and limit
// settings to edit, with its DALI panel; checks the input and hands the
// values back for sending.
#pragma once

#include "device/app_setup.h"
#include "device/devices.h"

typedef struct _GtkWidget GtkWidget;

enum {
  SETUP_DIALOG_OK = 1,
  SETUP_DIALOG_CANCELLED = 0,
  SETUP_DIALOG_INVALID = -1,  // the reasons are in values->errorText
  SETUP_ENTRY_MAX = 3,        // characters of each text entry
};

// Runs the dialog for the record (a copy the caller took) until OK with
// values that pass every check, or Cancel. OK with a value that fails a
// check shows the checks' messages in an error box and keeps the dialog
// open with everything the operator typed. 1: OK, values filled; 0:
// cancelled or closed, nothing to send. (-1 is never returned now; it stays
// for callers that handle it.)
int input_dialog(const Device* record, SetupValues* values);

GtkWidget* getSetupPanel(const Device* record);
GtkWidget* getSetupPanel1(const Device* record);
GtkWidget* getSetupDMX(const Device* record);
GtkWidget* getSetupDisp(const Device* record);
GtkWidget* getSetupLimit(const Device* record);
GtkWidget* getEntrySleep(int stored);
GtkWidget* getEntryLoss(int stored);
GtkWidget* getEntryTxtAddr(const char* text, int maxLength);
GtkWidget* getEntryTxtBack(const char* text, int maxLength);
GtkWidget* getEntryTxtLimUp(const char* text, int maxLength);
GtkWidget* getEntryTxtLimDown(const char* text, int maxLength);
// The value the sleep combo sends, and the mode the loss combo sends.
int getValueSleep();
int getValueLoss();
