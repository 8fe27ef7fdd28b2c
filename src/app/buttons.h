// The column of controls at the right of the main window.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Builds the panel: the curve-name entry, "Curve linear", "Curve 2",
// "Read curve", "Save curve", "Send curve", "Update FW", the approximation
// selector and the curve label, top to bottom.
GtkWidget* getButtonsPanel();
// The panel's update, called by the window's refresh (app/refresh) on
// every timer tick and after every action that changes the state: whether
// no background job runs and whether a device is selected. While a job
// runs, the buttons that use the cable ("Send curve", "Update FW") are
// insensitive. They are made in that state too.
void buttonsEnable(bool enabled, bool deviceSelected);

GtkWidget* getButtonCurve1();
GtkWidget* getButtonCurve2();
GtkWidget* getButtonRead();
GtkWidget* getButtonSave();
GtkWidget* getButtonSend();
GtkWidget* getButtonUpdateFw();

void buttonUpdateFWAction();
