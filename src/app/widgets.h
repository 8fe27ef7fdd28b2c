// Small builders the window's panels share: buttons bound to an action,
// a column of widgets in a fixed container, the one-column lists, and the
// reports' lines.
#pragma once

#include <string>

typedef struct _GtkWidget GtkWidget;

// A shown button with a text label whose "clicked" runs `action`, stored in
// `slot`. widgets_button makes it on the first call and returns the stored
// one afterwards; widgets_newButton makes a new one on every call.
GtkWidget* widgets_button(GtkWidget*& slot, const char* label, void (*action)());
GtkWidget* widgets_newButton(GtkWidget*& slot, const char* label, void (*action)());

// A fixed container holding a vertical (column) or horizontal (row) box,
// not homogeneous, with the given spacing and no border, both shown.
// Returns the container; `box` gets the box.
GtkWidget* widgets_fixedColumn(int spacing, GtkWidget** box);
GtkWidget* widgets_fixedRow(int spacing, GtkWidget** box);

// A one-column list titled `title` (no shadow, its column as wide as the
// list, 25-pixel rows, `accessibleName` for assistive tools) in a scrolled
// window of the given size, scrolling vertically always and horizontally
// when needed; both shown. Returns the scrolled window; `list` gets the list.
GtkWidget* widgets_list(const char* title, const char* accessibleName, int width, int height,
                        GtkWidget** list);
// The same with `columns` columns titled `titles`; the last one takes what
// the others leave of the list's width.
GtkWidget* widgets_table(const char* const* titles, int columns, const char* accessibleName, int width,
                         int height, GtkWidget** list);

// A report's lines, one per device, read-only in a fixed-width font so that
// their columns line up, in a scroller; `name` for assistive tools. A line
// longer than the view wraps, its rest under the explanation's start.
GtkWidget* widgets_resultsView(const std::string& text, const char* name);
