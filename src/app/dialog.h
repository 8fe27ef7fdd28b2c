// Modal dialogs of the shell: information, error, yes/no question, and the
// file chooser that remembers the folder last used. GUI thread only.
#pragma once

enum {
  DIALOG_PATH_SIZE = 4096,  // longest path a file dialog hands on, with its terminator
  DIALOG_KIND_FIRMWARE = 0,
  DIALOG_KIND_CURVE = 1,
};

void messageInfo_show(const char* text);
void messageError_show(const char* text);
// 1 for Yes, 0 for No or a box closed any other way.
int messageQuestion(const char* text);
// Asks what to do with unsaved changes before closing: "Save", "Close
// without saving" or "Cancel" (also when the box is closed otherwise).
enum { DIALOG_SAVE_CHANGES = 1, DIALOG_DISCARD_CHANGES = 0, DIALOG_CANCEL_CLOSE = -1 };
int messageSaveChanges(const char* text);
// kind 0: firmware files first, 1: curve files first, other: no filter.
// save non-zero: a save dialog. 1 when a file was accepted (getFilename),
// 0 otherwise. A path too long to hold is refused with an error box.
int openFileDialog(int kind, int save);
// The path of the last accepted file.
const char* getFilename();
// The folder the next file dialog opens in.
const char* dialog_lastFolder();
