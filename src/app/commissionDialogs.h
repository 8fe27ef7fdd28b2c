// The commissioning actions of the Devices menu: "Address in sequence…",
// "Export…" and "Apply…". Each asks what to do in a dialog, hands the work
// to the commissioning worker (device/commission_job) and returns; the
// window stays live, every button that uses the cable is insensitive and the
// progress bar counts the devices meanwhile. Once the worker has ended, the
// timer reports the result of every device (and Apply, after its check,
// shows what it would change and asks before it writes anything).
#pragma once

typedef struct _GtkWidget GtkWidget;

// Buttons that are never shown: the menu items follow their sensitivity.
GtkWidget* getButtonAddressSequence();
GtkWidget* getButtonExport();
GtkWidget* getButtonApply();

// Called whenever the buttons' sensitivity is brought up to date: whether
// no background job holds a lock bit, and whether the table lists devices.
void commissionDialogs_enable(bool enabled, bool devicesListed);
// Called on every timer tick: reports a job that has ended.
void commissionDialogs_tick();

void addressSequenceAction();
void exportAction();
void applyAction();
