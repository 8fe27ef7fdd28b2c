// The commissioning actions of the Devices menu: "Address in sequence…",
// "Export…" and "Apply…". Each asks what to do in a dialog, hands the work
// to the commissioning worker (device/commission_job) and returns; the
// window stays live, every button that uses the cable is insensitive and the
// progress bar counts the devices meanwhile. Once the worker has ended, the
// timer reports the result of every device (and Apply, after its check,
// shows what it would change and asks before it writes anything).
#pragma once

typedef struct _GtkWidget GtkWidget;
struct WindowState;

// Buttons that are never shown: the menu items follow their sensitivity.
GtkWidget* getButtonAddressSequence();
GtkWidget* getButtonExport();
GtkWidget* getButtonApply();

// The update the window's refresh (app/refresh) calls: Address in sequence
// and Export while no background job holds a lock bit and the table lists
// devices, Apply while no job holds one.
void commissionDialogs_update(const WindowState& state);
// Called on every timer tick: reports a job that has ended (after a refresh
// has shown what the devices hold now).
void commissionDialogs_tick();

void addressSequenceAction();
void exportAction();
void applyAction();
