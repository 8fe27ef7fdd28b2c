// The main window, its 100 ms timer, and the bridge from worker threads:
// workers never touch widgets; they post into a one-slot message box, move
// the progress pair and clear their lock bit, and the timer shows it all on
// the GUI thread.
#pragma once

#include <cstdint>

#include "device/bridge.h"

typedef struct _GtkWidget GtkWidget;

enum {
  MAINWIN_TITLE_SIZE = 24,
  MAINWIN_MESSAGE_SIZE = BRIDGE_MESSAGE_SIZE,
  MAINWIN_TIMER_MS = 100,
};

// Builds the window, starts the timer, runs the main loop until it closes.
void createGUI();
char* getTitle(char* buffer);
void updateWindowTitle();
GtkWidget* mainWin_window();
// Closes the window as its close button does: after the question about
// unsaved changes.
void mainWin_close();
GtkWidget* getDevPanel();
GtkWidget* getProgressBar();
GtkWidget* getDeviceList();
// The list inside the scroller getDeviceList returns (null before it).
GtkWidget* mainWin_deviceListWidget();
int progress(void* data);
void destroy();
// The progress bar's update, called by the window's refresh (app/refresh):
// its fraction from the progress pair, and its text from the job that runs.
void mainWin_updateProgress();

// The progress bar's fraction for a done/total pair.
double mainWin_fraction(int32_t done, int32_t total);
// Whether the last refresh found no background job running.
bool mainWin_componentsEnabled();
// Records the calling thread as the GUI thread (createGUI does it).
void mainWin_markGuiThread();
// Replaces the message boxes the timer opens (type 1 information, -1 error);
// null restores them. For tests that run the timer without a display.
typedef void (*MainWinShower)(int type, const char* text);
void mainWin_setMessageShower(MainWinShower shower);
