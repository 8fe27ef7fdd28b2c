// The "Devices" frame of the main window: the device list on the left and
// the column of device buttons on the right: "Discovery", "Quick
// discovery", "Find new devices", "Setup device", "Identify", "Generate
// UID". It starts discoveries, fills the list as devices are found, and
// keeps every button insensitive while it cannot do its job: all of them
// while a background job holds a lock bit, the last three also while no
// device is selected.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Builds the frame on the first call and returns it later.
GtkWidget* devicePanel_get();
GtkWidget* getButtonDiscovery();
GtkWidget* getButtonQuickDiscovery();
GtkWidget* getButtonFindNew();
GtkWidget* getButtonEdit();
GtkWidget* getButtonIdentify();
GtkWidget* getButtonGenUID();

// "Discovery": a discovery that reports "%d devices found." at its end.
void buttonDiscoveryAction();
// "Quick discovery": the same devices with far fewer probes; reports
// "%d devices found.".
void buttonQuickDiscoveryAction();
// "Find new devices": adds the devices new on the line to the list;
// reports "%d new devices found.".
void buttonFindNewAction();
// The same start of a discovery without asking for a report. Returns 0.
int makeDiscovery();

// Called on every timer tick: whether no background job holds a lock bit,
// and whether a device is selected.
void devicePanel_enable(bool enabled, bool deviceSelected);
// Called on every timer tick before messages are shown: fills the device
// list when a discovery has published a new result.
void devicePanel_tick();
// The rows of the list as "(%d) %08X", numbered from 1. Writes at most
// size bytes with the terminator; returns text.
char* devicePanel_rowText(char* text, int size, int number, unsigned uid);
