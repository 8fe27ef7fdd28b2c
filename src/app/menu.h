// The menu bar at the top of the main window: File, Edit, Curve, Devices
// and Help. Its items run the same actions as the buttons, and an item for a
// button is sensitive exactly when the button is; their accelerators work
// anywhere in the window and are shown beside them.
#pragma once

typedef struct _GtkWidget GtkWidget;
struct WindowState;

// Builds the bar on the first call (its accelerators go to `window`) and
// returns it.
GtkWidget* menu_getBar(GtkWidget* window);
// The update the window's refresh (app/refresh) calls: Undo and Redo are
// sensitive exactly when there is something to undo or redo. (The items of
// buttons follow their buttons by themselves.)
void menu_update(const WindowState& state);
