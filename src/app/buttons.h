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

GtkWidget* getButtonCurve1();
GtkWidget* getButtonCurve2();
GtkWidget* getButtonRead();
GtkWidget* getButtonSave();
GtkWidget* getButtonSend();
GtkWidget* getButtonUpdateFw();

void buttonUpdateFWAction();
