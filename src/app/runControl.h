// The operator's hold on a long run in the main window.
//
// Stop: a button beside the progress bar (and Escape anywhere in the main
// window) asks every job it may end to stop between two exchanges: the
// three discoveries, the commissioning runs (Address in sequence, Export,
// Apply and its check) and any other job on the job runner, but for the
// firmware update (stopped half way, the devices would be left without a
// complete firmware) and the DALI panel's work (its dialog holds it). The
// job keeps what it found or did and reports it as stopped; the buttons
// come back when it has ended. Stop is insensitive while nothing it may end
// runs, and once pressed, until the run has ended.
//
// Closing: the window asks once whether to close while such a run goes on,
// and holds the run at its next pause point while it asks. If the run ends
// first, the question goes away and the window stays (its report follows);
// No lets the run go on; Yes stops it and the window closes once it has
// stopped. No report opens over a question about closing.
#pragma once

#include <cstdint>

typedef struct _GtkWidget GtkWidget;
struct WindowState;

// The lock bits (device/bridge.h) whose jobs Stop ends, of those held now.
uint32_t runControl_stoppable();
// Whether Stop was pressed and the run it stopped has not ended yet.
bool runControl_stopping();
// What Stop and Escape do: asks the jobs to stop.
void runControl_stopAction();

// The row under the curve and the devices: the progress bar (`bar`, made
// by the window) and the Stop button beside it. Escape in `window` presses
// Stop. Made on the first call.
GtkWidget* runControl_bar(GtkWidget* window, GtkWidget* bar);
GtkWidget* getButtonStop();
// The update the window's refresh (app/refresh) calls.
void runControl_update(const WindowState& state);

// The question before the window closes while a run goes on: true when the
// window may close (no run, or Yes and the run has stopped), false when it
// stays (No, or the run ended while the question was open).
bool runControl_askClose();

// Holds every report back while it lives (the window asks whether to
// close); what was held is shown once the window stays.
class ReportsHeld {
 public:
  ReportsHeld();
  ~ReportsHeld();
  ReportsHeld(const ReportsHeld&) = delete;
  ReportsHeld& operator=(const ReportsHeld&) = delete;
};
// Whether reports are held now: the window's timer then shows none.
bool runControl_reportsHeld();
