// The curve view (a GTK drawing area showing the current curve with axes,
// grid and labels, drawn off screen and repainted after every change), the
// approximation selector and the status label that go with it.
#pragma once

typedef struct _GtkWidget GtkWidget;
typedef struct _cairo cairo_t;

// Creates the view on the first call and returns it. A click gives it the
// keyboard focus; the editing keys of curve_handleKey then act on it.
GtkWidget* curve_getDrawingArea();
// Renders the whole view anew into its off-screen picture and queues a
// redraw. Does nothing before the view has a size.
void curve_paint();
void paintAxis(cairo_t* cr);
void paintCurve(cairo_t* cr);
void paintPointer(cairo_t* cr);
void paintPoint(cairo_t* cr, double x, double y);

// "Aproximation:" with a combo of the widths 0..20, `active` selected.
GtkWidget* getApproxWin(int active);
// The two-line status label, empty at start.
GtkWidget* getClabel();
// Writes the status label anew for the current selection and curve.
void curve_refreshLabel();
// The approximation width chosen in the combo (5 before it exists).
int curve_approxWidth();
