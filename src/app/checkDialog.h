// "Check against record…" of the Devices menu: a technician back at an
// installed rig checks the line against the record file made when it was
// commissioned. The action reads the file (a malformed one is refused whole,
// naming its line and column, as Apply refuses it), hands the check to the
// record check's worker (device/check_job) and returns; the table lists the
// devices as the check finds them and every button that uses the cable is
// insensitive meanwhile. Once the check has ended the timer shows one
// report: a line per row of the record and per new device, the totals and
// how it ended, with "Fix" to give the rows that differ their record's
// values (the commissioning worker writes and reads back, as Apply does,
// and reports). When as many devices are missing as are new, it then asks
// whether each new device takes a missing one's settings and row, and
// reports the replacements.
#pragma once

typedef struct _GtkWidget GtkWidget;
struct WindowState;

// A button that is never shown: the menu item follows its sensitivity.
GtkWidget* getButtonCheckRecord();

// The update the window's refresh (app/refresh) calls: the check while no
// background job holds a lock bit and none of its reports is pending.
void checkDialog_update(const WindowState& state);
// Called on every timer tick: reports a check, a fix or a replacement that
// has ended (after a refresh has shown what the devices hold now).
void checkDialog_tick();
// The progress bar's text while the check's worker runs; leaves `text` as
// it is otherwise.
void checkDialog_progressText(char* text, int size);

void checkRecordAction();
