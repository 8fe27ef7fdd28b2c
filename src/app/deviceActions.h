// The actions on the selected device: setup, identify, a new UID. Each runs
// on the GUI thread and blocks it for its exchanges, under the busy cursor;
// without a selected device each does nothing.
#pragma once

// "Setup device": reads the device's settings and DALI list, runs the setup
// dialog and writes what it returns.
void buttonEditAction();
// "Identify".
void buttonIdentifyAction();
// "Generate UID": asks, hands the device a new time-based UID, reports, and
// starts a discovery so that the list shows the device under its new UID.
void buttonGenUIDAction();
