// Modal dialogs of the shell: information, error, yes/no question, and the
// file chooser that remembers the folder last used. GUI thread only.
#pragma once

typedef struct _GtkWidget GtkWidget;

enum {
  DIALOG_PATH_SIZE = 4096,  // longest path a file dialog hands on, with its terminator
  DIALOG_KIND_FIRMWARE = 0,
  DIALOG_KIND_CURVE = 1,
  DIALOG_KIND_CSV = 2,
  DIALOG_GONE = -1,  // what ModalDialog::run returns for a dialog destroyed under it
};

// One modal run of a dialog of the main window, safe when the dialog is
// destroyed under it: the window takes its dialogs with it when it goes (a
// terminating signal, the close button), and nothing may touch them after.
// It makes the dialog go with the window; a dialog asked for once the window
// is gone is destroyed at once and never runs (nobody could answer it). The
// dialog still there at the end of the scope is destroyed then.
class ModalDialog {
 public:
  explicit ModalDialog(GtkWidget* dialog);
  ~ModalDialog();
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;
  // Runs the dialog until a response and returns it, or DIALOG_GONE when the
  // dialog was destroyed instead.
  int run();
  // The dialog, or null once it is gone.
  GtkWidget* widget() const { return dialog_; }
  // Calls tick(nullptr) every `ms` milliseconds for as long as the dialog
  // exists; the timer ends with the dialog, before its children go.
  void every(unsigned ms, int (*tick)(void*));
  // Calls gone() once, as the dialog is destroyed, however it goes.
  void onGone(void (*gone)());

 private:
  static void destroyed(GtkWidget* dialog, void* self);
  static int ticked(void* self);
  GtkWidget* dialog_;
  unsigned timer_ = 0;
  int (*tick_)(void*) = nullptr;
  void (*gone_)() = nullptr;
};

void messageInfo_show(const char* text);
void messageError_show(const char* text);
// An error for the operator that must be read before the action goes on:
// echoed on standard error as messageError does ("ERROR: %s"), shown at
// once, returns when the box is closed. GUI thread only.
void messageError_wait(const char* text);
// 1 for Yes, 0 for No or a box closed any other way.
int messageQuestion(const char* text);
// Asks what to do with unsaved changes before closing: "Save", "Close
// without saving" or "Cancel" (also when the box is closed otherwise).
enum { DIALOG_SAVE_CHANGES = 1, DIALOG_DISCARD_CHANGES = 0, DIALOG_CANCEL_CLOSE = -1 };
int messageSaveChanges(const char* text);
// kind 0: firmware files first, 1: curve files first, 2: CSV files first,
// other: no filter. save non-zero: a save dialog, titled "Save File", else
// "Open File". 1 when a file was accepted (getFilename), 0 otherwise. A path
// too long to hold is refused with an error box.
int openFileDialog(int kind, int save);
// The same with a title of its own ("Choose firmware").
int openFileDialogTitled(int kind, int save, const char* title);
// The path of the last accepted file.
const char* getFilename();
// The folder the next file dialog opens in.
const char* dialog_lastFolder();
