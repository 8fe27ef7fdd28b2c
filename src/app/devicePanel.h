// The "Devices" frame of the main window: the device table on the left and
// the column of device buttons on the right: "Discovery", "Quick
// discovery", "Find new devices", "Setup device", "Identify", "Generate
// UID". It starts discoveries, shows the devices found with their settings
// as they are found and read, and keeps every button insensitive while it
// cannot do its job: all of them while a background job holds a lock bit,
// the last three also while no device is selected.
//
// The table has a column for the row text "(%d) %08X" (right-aligned in a
// fixed-width font, so the numbers and the UIDs line up) and one for each
// setting, the firmware version and the DALI count (app/deviceTable); a
// click on a column's title sorts by it (again: the other way). The
// selection and the keyboard's row are kept by UID: across a refresh, Find
// new devices and the discovery after a UID change. Double-click or Enter
// on a row opens "Setup device".
#pragma once

#include <cstdint>

#include "app/deviceTable.h"

typedef struct _GtkWidget GtkWidget;
struct WindowState;

enum {
  // The list's columns: the table's, and an empty one after them that takes
  // the width they leave.
  DEVICE_LIST_COLUMNS = DEVICE_COLUMNS + 1,
};

// Builds the frame on the first call and returns it later.
GtkWidget* devicePanel_get();
GtkWidget* getButtonDiscovery();
GtkWidget* getButtonQuickDiscovery();
GtkWidget* getButtonFindNew();
GtkWidget* getButtonEdit();
GtkWidget* getButtonIdentify();
GtkWidget* getButtonGenUID();

// "Discovery": a discovery that reports "%d devices found." at its end.
// Clears the selection.
void buttonDiscoveryAction();
// "Quick discovery": the same devices with far fewer probes; reports
// "%d devices found.". Clears the selection.
void buttonQuickDiscoveryAction();
// "Find new devices": adds the devices new on the line to the table;
// reports "%d new devices found.". Keeps the selection.
void buttonFindNewAction();
// The same start of a discovery without asking for a report; keeps the
// selection for the devices it finds again. Returns 0.
int makeDiscovery();

// The panel's updates, called by the window's refresh (app/refresh): the
// table first, brought up to date when the devices found or their records
// changed (the selection and the keyboard's row stay with their devices);
// then the buttons, from whether no background job holds a lock bit and
// whether a device is selected.
void devicePanel_updateTable();
void devicePanel_update(const WindowState& state);
// Rebuilds the table from the devices found and their records now, whether
// or not they changed. Returns the number of rows.
int devicePanel_refresh();
// The rows of the list as "(%d) %08X", numbered from 1. Writes at most
// size bytes with the terminator; returns text.
char* devicePanel_rowText(char* text, int size, int number, unsigned uid);

// A device of the selection took a new UID: it stays selected under it.
void devicePanel_renameSelected(uint32_t oldUid, uint32_t newUid);
// Whether the panel itself is selecting rows again after a refresh (the
// list's selection handlers then leave selected_dev alone).
bool devicePanel_restoring();
// The selection changed in the table (the list's select/unselect handlers).
void devicePanel_selectionChanged();
// Sorts the table by a column as a click on its title does.
void devicePanel_sortBy(int column);

// The devices the table lists, in its order (all), or only those selected;
// returns how many (at most capacity are copied).
int devicePanel_listed(uint32_t* uids, int capacity);
int devicePanel_selected(uint32_t* uids, int capacity);
// The rows the table shows, in its order.
const DeviceTableModel* devicePanel_model();
