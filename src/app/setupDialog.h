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

// Runs the dialog for the record (a copy the caller took). 1: OK and every
// check passed, values filled; -1: OK but a check failed, the messages in
// values->errorText; 0: cancelled or closed, values untouched.
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
