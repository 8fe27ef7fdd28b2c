// The DALI gear behind one device: a list of its DALI entries beside the
// buttons "Randomize", "Search" and "Read DALI", refreshed from the device
// table every 100 ms while it is shown. Framed as "DALI setup" inside the
// setup dialog, or unframed in a window of its own (dali_dialog).
#pragma once

#include "device/devices.h"

typedef struct _GtkWidget GtkWidget;

enum {
  DALI_ROW_TEXT_SIZE = 24,  // "(%3d) %02X - %06X" and the terminator
  DALI_REFRESH_MS = 100,
};

// Builds a panel for the device (framed: in a frame titled "DALI setup") and
// makes it the panel the refresh and the buttons work on.
GtkWidget* getDaliPanel(const Device* device, int framed);
GtkWidget* getDaliList(const Device* device);
GtkWidget* getButtonsDaliPanel();
GtkWidget* getButtonDaliRandomize();
GtkWidget* getButtonDaliSearch();
GtkWidget* getButtonDaliRead();
// Timer callback: brings the rows of the latest list up to date with the
// device's record, read under the table's guard; rows whose text did not
// change are not touched. Returns 1 (the timer goes on).
int updateDaliList(void* data);
// Runs the window "DALI %08X" for the device until it is closed.
void dali_dialog(const Device* device);

// The dialog that held the latest panel is gone: forget its widgets.
void daliWin_forget();

void daliButtonRandomizeAction();
void daliButtonSearchAction();
void daliButtonReadAction();

// The row of entry i (0-based): "(%3d) %02X - %06X".
char* daliWin_rowText(char* text, int size, int i, const DaliEntry* entry);
