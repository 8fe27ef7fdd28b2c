// The menu bar at the top of the main window: File, Edit, Curve, Devices
// and Help. Its items run the same actions as the buttons, and an item for a
// button is sensitive exactly when the button is; their accelerators work
// anywhere in the window and are shown beside them.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Builds the bar on the first call (its accelerators go to `window`) and
// returns it.
GtkWidget* menu_getBar(GtkWidget* window);
// Makes Undo and Redo sensitive exactly when there is something to undo or
// redo (run after every change of the undo history).
void menu_update();
