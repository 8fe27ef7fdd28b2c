// The main window, its 100 ms timer, and the bridge from worker threads:
// workers never touch widgets; they post into a one-slot message box, move
// the progress pair and clear their lock bit, and the timer shows it all on
// the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>

typedef struct _GtkWidget GtkWidget;

enum {
  MAINWIN_TITLE_SIZE = 24,
  MAINWIN_MESSAGE_SIZE = 512,
  MAINWIN_TIMER_MS = 100,
  LOCK_FIRMWARE = 1,
  LOCK_DISCOVERY = 2,
};

extern std::atomic<int32_t> pStatusTop;
extern std::atomic<int32_t> pStatusSt;
extern std::atomic<uint32_t> lockComponents;
extern std::atomic<uint32_t> selected_dev;

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
int progress(void* data);
void setLock(uint32_t bits);
void remLock(uint32_t bits);
// Post a message for the operator from any thread; echoed on the console.
void messageInfo(const char* text);
void messageError(const char* text);
void destroy();

// The progress bar's fraction for a done/total pair.
double mainWin_fraction(int32_t done, int32_t total);
// Whether the last tick found no background job running.
bool mainWin_componentsEnabled();
// Records the calling thread as the GUI thread (createGUI does it).
void mainWin_markGuiThread();
// Replaces the message boxes the timer opens (type 1 information, -1 error);
// null restores them. For tests that run the timer without a display.
typedef void (*MainWinShower)(int type, const char* text);
void mainWin_setMessageShower(MainWinShower shower);
