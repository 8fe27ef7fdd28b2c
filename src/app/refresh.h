// The window's one refresh. It reads the state the window shows (the lock
// bits, the selected device and the table's selection, the found list's and
// the device table's generations, the curve's undo history, which jobs run)
// and brings every panel, button, menu item and label up to date, each
// through the panel's own update. Actions change the state and call
// refresh_all; the 100 ms timer calls it too. Panels never refresh each
// other.
#pragma once

// What the panels' updates are given.
struct WindowState {
  bool enabled;         // no background job holds a lock bit: the cable is free
  bool deviceSelected;  // selected_dev names a device
  int devicesListed;    // rows of the device table
  bool canUndo;         // the curve's undo history has a step back
  bool canRedo;         // ... and one forward
};

// The state as it is now.
WindowState refresh_state();
// Brings the device table up to date with the devices found and their
// records first (which may bring the selection back), then every other
// panel with the state that leaves.
void refresh_all();
// The state the last refresh_all showed.
WindowState refresh_shown();
