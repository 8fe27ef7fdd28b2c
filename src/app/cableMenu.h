// The "Cable" menu of the main window and the cable in use in the status
// area. The menu lists the converters attached (serial number, description,
// who holds each), the one in use checked, and switches to another only
// while no background job runs (its items are insensitive meanwhile). A
// switch is kept for the next start (app/cableChoice) and empties the
// device table: the devices listed are on the other line. The list is made
// anew each time the menu opens, unless a job runs (listing would wait for
// the job's hold on the cable).
#pragma once

typedef struct _GtkWidget GtkWidget;
struct WindowState;

// The menu bar's item "Cable" with its menu; made on the first call.
GtkWidget* cableMenu_get();
// The status area's label: "Cable TSIM0001", "No cable attached", or
// "Cable FT1234 (not attached)" when the chosen one is not there.
GtkWidget* cableMenu_status();
// The update the window's refresh (app/refresh) calls.
void cableMenu_update(const WindowState& state);
// What choosing a converter in the menu does: nothing while a job runs or
// when it is the one in use.
void cableMenu_choose(const char* serial);
