// The busy cursor over a window while the GUI thread waits for a device's
// answers: set before the exchange, shown at once, taken back after it.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Shows the watch over the top-level window of widget (the main window when
// widget is null). Calls nest: the cursor goes back with the last end.
void busyCursor_begin(GtkWidget* widget);
void busyCursor_end();

// Holds the busy cursor for a scope.
class BusyCursor {
 public:
  explicit BusyCursor(GtkWidget* widget = nullptr) { busyCursor_begin(widget); }
  ~BusyCursor() { busyCursor_end(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};
