// The column of controls at the right of the main window.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Builds the panel: the curve-name entry, "Curve linear", "Curve 2",
// "Read curve", "Save curve", "Send curve", "Update FW", the approximation
// selector and the curve label, top to bottom.
GtkWidget* getButtonsPanel();
// Called on every timer tick with whether no background job runs and
// whether a device is selected. While a job runs, the buttons that use the
// cable ("Send curve", "Update FW") are insensitive.
void buttonsEnable(bool enabled, bool deviceSelected);
// Brings every button's sensitivity up to date with the lock word and the
// selection now, as the next tick would. The panels are built in their state
// this way, and every action that sets a lock bit or changes the selection
// calls it: a click in the 100 ms before the tick must not reach a button
// that can no longer do its job.
void buttons_refresh();
// widgets_button for a button that buttonsEnable governs: made on the first
// call in the state the lock word and the selection give it.
GtkWidget* buttons_lockable(GtkWidget*& slot, const char* label, void (*action)());

GtkWidget* getButtonCurve1();
GtkWidget* getButtonCurve2();
GtkWidget* getButtonRead();
GtkWidget* getButtonSave();
GtkWidget* getButtonSend();
GtkWidget* getButtonUpdateFw();

void buttonUpdateFWAction();
